// vantrel-convert as a user runs it: picture and sound in step for every target, frames sampled at the
// output rate, the same output twice, the disc targets as ffmpeg's own presets make them, no display
// or sound server needed, clear failures that leave nothing behind, cancelling, and batches.
#include "AbcWriter.h"
#include "SwfWriter.h"
#include "TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

constexpr int Twips = 20;
constexpr int StageWidth = 160, StageHeight = 120;

struct ProgramRun {
    int exitCode = -1;
    QString errors;
};

ProgramRun Convert(const QStringList& arguments,
                   const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VANTREL_CONVERT), arguments);
    ProgramRun run;
    if (!process.waitForFinished(240000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "vantrel-convert did not finish: " << arguments.join(' ').toStdString();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QByteArray FullStageBox(std::uint16_t id, const Rgba& color) {
    return DefineShape(
        ShapeDefinition()
            .Id(id)
            .Bounds({0, StageWidth * Twips, 0, StageHeight * Twips})
            .Fills({Solid(color)})
            .Records(ShapeRecords().Fill1(1).Box(0, 0, StageWidth * Twips, StageHeight * Twips)));
}

// A 1 kHz beep of `seconds`, 44.1 kHz mono.
QByteArray Beep(std::uint16_t id, double seconds) {
    const int count = int(44100 * seconds);
    QByteArray samples;
    for (int i = 0; i < count; ++i) {
        const auto value = std::int16_t(std::lround(16000 * std::sin(2 * M_PI * 1000 * i / 44100.0)));
        samples.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
    }
    SoundFormat format;
    format.codec = 3;
    format.rateCode = 3;
    format.is16Bit = true;
    return DefineSound(id, format, std::uint32_t(count), samples);
}

// Black at 12 fps; on each flash frame the stage turns white and a 100 ms beep starts.
QByteArray FlashMovie(const std::vector<int>& flashes, int frameCount) {
    MovieBuilder movie;
    movie.Stage({0, StageWidth * Twips, 0, StageHeight * Twips}).FrameRate(12);
    movie.Add(SetBackgroundColorTag({0, 0, 0, 255}));
    movie.Add(FullStageBox(1, {255, 255, 255, 255}));
    movie.Add(Beep(2, 0.1));
    for (int frame = 0; frame < frameCount; ++frame) {
        if (std::find(flashes.begin(), flashes.end(), frame) != flashes.end()) {
            movie.Add(PlaceObjectTag(Place(1, 1)));
            StartSound start;
            start.soundId = 2;
            movie.Add(StartSoundTag(start));
        } else if (std::find(flashes.begin(), flashes.end(), frame - 1) != flashes.end()) {
            movie.Add(RemoveObject2Tag(1));
        }
        movie.Add(ShowFrame());
    }
    return movie.Build();
}

// Each frame shows its own number as a grey level (frame * 8); a script stops the movie on stopFrame,
// an ActionScript 3 frame script of the document class when as3 is set.
QByteArray CountingMovie(int frameCount, int stopFrame = -1, bool as3 = false) {
    MovieBuilder movie;
    movie.Stage({0, StageWidth * Twips, 0, StageHeight * Twips}).FrameRate(12);
    if (as3 && stopFrame >= 0) {
        AbcBuilder abc;
        AbcCode stop = abc.Script().FindPropStrict(abc.Name("stop")).CallPropVoid(abc.Name("stop"), 0);
        abc.TimelineClass(QStringLiteral("Main"), {{stopFrame, stop}});
        movie.Add(DoAbcTag(abc.Data())).Add(SymbolClassTag({{0, "Main"}}));
    }
    for (int frame = 0; frame < frameCount; ++frame) {
        const auto level = std::uint8_t(frame * 8);
        movie.Add(FullStageBox(std::uint16_t(frame + 1), {level, level, level, 255}));
        movie.Add(PlaceObjectTag(Place(std::uint16_t(frame + 1), 1)));
        if (frame == stopFrame && !as3)
            movie.Add(DoAction(ActionCode().Stop()));
        movie.Add(ShowFrame());
    }
    return movie.Build();
}

QString WriteMovie(const TestDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.path(name);
    WriteWholeFile(path, bytes);
    return path;
}

QByteArray Decode(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-nostdin"} + arguments);
    process.waitForFinished(120000);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

double ProbeTime(const QString& file, const QStringList& what) {
    QProcess process;
    process.start(QStringLiteral("ffprobe"),
                  QStringList{"-v", "error"} + what + QStringList{"-of", "csv=p=0", file});
    process.waitForFinished(60000);
    bool ok = false;
    const double time = QString::fromLatin1(process.readAllStandardOutput())
                            .trimmed()
                            .split('\n')
                            .value(0)
                            .split(',')
                            .value(0)
                            .toDouble(&ok);
    EXPECT_TRUE(ok) << file.toStdString();
    return time;
}

// When picture and sound start, decoded together so that both count from the file's start: the
// picture at `rate` frames a second, the sound at 48 kHz mono (padded from the file's start).
struct Decoded {
    std::vector<double> flashes; // seconds at which the picture turns bright
    std::vector<double> beeps;   // seconds at which sound starts after at least 50 ms of silence
    double pictureStart = 0;     // when the first frame shows
};

Decoded DecodeFlashesAndBeeps(const QString& file, double rate, bool withPicture) {
    TestDir work;
    QStringList arguments{"-i", file};
    if (withPicture)
        arguments << "-filter_complex"
                  << "[0:v]scale=8:8,format=gray[v]"
                  << "-map"
                  << "[v]"
                  << "-fps_mode"
                  << "cfr"
                  << "-r" << QString::number(rate, 'f', 6) << "-f"
                  << "rawvideo" << work.path("picture.raw");
    arguments << "-map"
              << "0:a:0"
              << "-af"
              << "aresample=48000:async=1:first_pts=0"
              << "-ac"
              << "1"
              << "-f"
              << "s16le" << work.path("sound.raw");
    Decode(arguments);
    Decoded decoded;
    if (withPicture) {
        decoded.pictureStart = ProbeTime(file, {"-select_streams", "v:0", "-read_intervals", "%+#1",
                                                "-show_entries", "frame=best_effort_timestamp_time"}) -
                               ProbeTime(file, {"-show_entries", "format=start_time"});
        const QByteArray frames = ReadWholeFile(work.path("picture.raw"));
        bool wasBright = false;
        for (qsizetype frame = 0; frame * 64 < frames.size(); ++frame) {
            int sum = 0;
            for (int i = 0; i < 64; ++i)
                sum += std::uint8_t(frames[frame * 64 + i]);
            const bool bright = sum / 64 > 128;
            if (bright && !wasBright)
                decoded.flashes.push_back(double(frame) / rate);
            wasBright = bright;
        }
    }
    const QByteArray pcm = ReadWholeFile(work.path("sound.raw"));
    const auto* samples = reinterpret_cast<const std::int16_t*>(pcm.constData());
    qsizetype quiet = 48000;
    for (qsizetype i = 0; i < pcm.size() / 2; ++i) {
        if (std::abs(samples[i]) > 3000) {
            if (quiet >= 2400)
                decoded.beeps.push_back(double(i) / 48000);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return decoded;
}

struct TargetCase {
    const char* target;
    const char* extension;
    double rate;
};

} // namespace

TEST(ConvertSync, EveryBeepStartsWithItsFlash) {
    TestDir dir;
    const std::vector<int> flashes{3, 14, 27, 40};
    const QString movie = WriteMovie(dir, "flash.swf", FlashMovie(flashes, 48));
    const TargetCase cases[] = {{"mp4", "mp4", 12},     {"webm", "webm", 12},
                                {"pal-dvd", "mpg", 25}, {"ntsc-dvd", "mpg", 30000.0 / 1001},
                                {"pal-vcd", "mpg", 25}, {"ntsc-vcd", "mpg", 30000.0 / 1001}};
    for (const TargetCase& c : cases) {
        SCOPED_TRACE(c.target);
        const QString output = dir.path(QStringLiteral("flash-%1.%2").arg(c.target, c.extension));
        const ProgramRun run = Convert({movie, "-o", output, "--target", c.target});
        ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
        const Decoded decoded = DecodeFlashesAndBeeps(output, c.rate, true);
        ASSERT_EQ(decoded.flashes.size(), flashes.size());
        ASSERT_EQ(decoded.beeps.size(), flashes.size());
        for (std::size_t i = 0; i < flashes.size(); ++i) {
            // A flash on movie frame n shows from the first output frame at or after n / 12 s; its beep
            // starts at n / 12 s. Both count from the first picture.
            const double flashShown = std::ceil(flashes[i] / 12.0 * c.rate - 1e-9) / c.rate;
            EXPECT_NEAR(decoded.flashes[i] - decoded.pictureStart, flashShown, 0.5 / c.rate);
            EXPECT_NEAR(decoded.beeps[i] - decoded.pictureStart, flashes[i] / 12.0, 0.5 / c.rate);
        }
    }
    // The sound alone starts each beep on its movie frame's time, to the sample.
    const QString wav = dir.path("flash.wav");
    ASSERT_EQ(Convert({movie, "-o", wav}).exitCode, 0);
    const std::vector<double> heard = DecodeFlashesAndBeeps(wav, 12, false).beeps;
    ASSERT_EQ(heard.size(), flashes.size());
    // The sine's first two samples stay under the threshold that finds its start.
    for (std::size_t i = 0; i < flashes.size(); ++i)
        EXPECT_NEAR(heard[i], flashes[i] / 12.0, 4.0 / 48000);
}

TEST(ConvertSampling, OutputFrameKShowsTheMovieAtKOverRate) {
    TestDir dir;
    const QString movie = WriteMovie(dir, "count.swf", CountingMovie(30));
    for (const double rate : {25.0, 30000.0 / 1001, 24.0, 12.0, 5.0}) {
        SCOPED_TRACE(rate);
        const QString folder = dir.path(QStringLiteral("rate-%1").arg(rate));
        ASSERT_TRUE(QDir().mkpath(folder));
        const ProgramRun run = Convert({movie, "-o", folder + "/f%d.png", "--fps",
                                        QString::number(rate, 'f', 3), "--frames", "40", "--no-audio"});
        ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
        for (int k = 0; k < 40; ++k) {
            const QImage image(QStringLiteral("%1/f%2.png").arg(folder).arg(k));
            ASSERT_FALSE(image.isNull()) << k;
            const int movieFrame = int(std::floor(k * 12 / rate + 1e-9)) % 30;
            EXPECT_EQ(qRed(image.pixel(80, 60)), movieFrame * 8) << "output frame " << k;
        }
        EXPECT_FALSE(QFileInfo::exists(QStringLiteral("%1/f40.png").arg(folder)));
    }
}

// One pass ends where a script stopped the main timeline, whichever script version stopped it.
TEST(ConvertLength, AScriptStopEndsThePassInBothScriptVersions) {
    TestDir dir;
    std::vector<int> lengths;
    for (const bool as3 : {false, true}) {
        SCOPED_TRACE(as3 ? "ActionScript 3" : "ActionScript 1");
        const QString movie = WriteMovie(dir, as3 ? "as3.swf" : "as1.swf", CountingMovie(10, 6, as3));
        const QString folder = dir.path(as3 ? "as3" : "as1");
        ASSERT_TRUE(QDir().mkpath(folder));
        const ProgramRun run = Convert({movie, "-o", folder + "/f%d.png", "--no-audio"});
        ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
        int count = 0;
        while (QFileInfo::exists(QStringLiteral("%1/f%2.png").arg(folder).arg(count)))
            ++count;
        ASSERT_GT(count, 0);
        EXPECT_LT(count, 10);
        EXPECT_EQ(qRed(QImage(QStringLiteral("%1/f%2.png").arg(folder).arg(count - 1)).pixel(80, 60)), 6 * 8);
        lengths.push_back(count);

        QProcess snapshot;
        snapshot.start(QStringLiteral(VANTREL_SNAPSHOT), {movie, "--play", "30", "-o", dir.path("shot.png")});
        ASSERT_TRUE(snapshot.waitForFinished(60000));
        ASSERT_EQ(snapshot.exitCode(), 0) << snapshot.readAllStandardError().toStdString();
        EXPECT_EQ(qRed(QImage(dir.path("shot.png")).pixel(80, 60)), 6 * 8);
    }
    EXPECT_EQ(lengths[0], lengths[1]);
}

TEST(ConvertDeterminism, TwoRunsGiveTheSameFramesAndSamples) {
    TestDir dir;
    const QString movie = WriteMovie(dir, "flash.swf", FlashMovie({2, 9}, 20));
    ASSERT_EQ(Convert({movie, "-o", dir.path("a.mp4")}).exitCode, 0);
    ASSERT_EQ(Convert({movie, "-o", dir.path("b.mp4")}).exitCode, 0);
    const QByteArray a = Decode({"-i", dir.path("a.mp4"), "-f", "framemd5", "-"});
    const QByteArray b = Decode({"-i", dir.path("b.mp4"), "-f", "framemd5", "-"});
    EXPECT_GT(a.count('\n'), 20);
    EXPECT_EQ(a, b);
}

namespace {

QString Probe(const QString& file) {
    QProcess process;
    process.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries",
                                              "stream=codec_type,codec_name,width,height,r_frame_rate,sample_"
                                              "rate,channels,bit_rate:format=format_name",
                                              "-of", "compact", file});
    process.waitForFinished(60000);
    return QString::fromLatin1(process.readAllStandardOutput());
}

bool Accepts(const QString& program, const QStringList& arguments, const QString& workFolder,
             const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workFolder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000))
        return false;
    const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok)
        ADD_FAILURE() << program.toStdString() << ": " << process.readAll().toStdString();
    return ok;
}

} // namespace

TEST(ConvertDiscTargets, MatchFfmpegsPresetsAndTheAuthoringTools) {
    TestDir dir;
    const QString movie = WriteMovie(dir, "flash.swf", FlashMovie({2, 9}, 24));
    for (const char* target : {"ntsc-vcd", "ntsc-dvd", "pal-vcd", "pal-dvd"}) {
        SCOPED_TRACE(target);
        const QString ours = dir.path(QStringLiteral("%1.mpg").arg(target));
        ASSERT_EQ(Convert({movie, "-o", ours, "--target", target}).exitCode, 0);
        const QString theirs = dir.path(QStringLiteral("%1-ffmpeg.mpg").arg(target));
        Decode({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=12", "-f", "lavfi", "-i",
                "aevalsrc=sin(2000*PI*t)|sin(2000*PI*t):s=44100", "-t", "2", "-target", target, "-y",
                theirs});
        EXPECT_EQ(Probe(ours).toStdString(), Probe(theirs).toStdString());
        const bool dvd = QByteArray(target).endsWith("dvd");
        if (dvd) {
            const QString author = dir.path(QStringLiteral("%1-dvd").arg(target));
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("VIDEO_FORMAT", QByteArray(target).startsWith("pal") ? "PAL" : "NTSC");
            EXPECT_TRUE(Accepts("dvdauthor", {"-o", author, "-t", ours}, dir.path(""), environment));
            EXPECT_TRUE(QFileInfo::exists(author + "/VIDEO_TS"));
        } else {
            EXPECT_TRUE(Accepts("vcdimager",
                                {"-t", "vcd2", "-c", dir.path(QStringLiteral("%1.cue").arg(target)), "-b",
                                 dir.path(QStringLiteral("%1.bin").arg(target)), ours},
                                dir.path("")));
        }
    }
}

TEST(ConvertHeadless, RunsWithoutDisplaySoundServerOrRuntimeFolder) {
    TestDir dir;
    const QString movie = WriteMovie(dir, "flash.swf", FlashMovie({1}, 6));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "PULSE_SERVER", "PULSE_RUNTIME_PATH", "QT_QPA_PLATFORM"})
        environment.remove(name);
    environment.insert("XDG_RUNTIME_DIR", "");
    const ProgramRun run = Convert({movie, "-o", dir.path("out.mp4")}, environment);
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.isEmpty()) << run.errors.toStdString();
    EXPECT_GT(QFileInfo(dir.path("out.mp4")).size(), 0);
}

TEST(ConvertFailures, BadInputGetsAMessageAndLeavesNoOutput) {
    TestDir dir;
    const QString movie = WriteMovie(dir, "good.swf", FlashMovie({1}, 6));
    const QString notMovie = WriteMovie(dir, "text.swf", "hello, this is no movie");
    const QByteArray whole = FlashMovie({1}, 6);
    const QString truncated = WriteMovie(dir, "cut.swf", whole.left(whole.size() / 3));
    MovieBuilder huge;
    huge.Stage({0, 10000 * Twips, 0, 100 * Twips}).Add(ShowFrame());
    const QString wide = WriteMovie(dir, "wide.swf", huge.Build());
    const QString out = dir.path("out");
    ASSERT_TRUE(QDir().mkpath(out));
    struct Case {
        const char* what;
        QStringList arguments;
        const char* message;
    };
    const std::vector<Case> cases{
        {"not a movie", {notMovie, "-o", out + "/a.mp4"}, "text.swf: not a Flash movie"},
        {"truncated", {truncated, "-o", out + "/a.mp4"}, "cut.swf"},
        {"stage too large", {wide, "-o", out + "/a.mp4"}, "larger than the encoder takes"},
        {"missing folder", {movie, "-o", out + "/none/a.mp4"}, "does not exist"},
        {"folder is a file", {movie, "-o", movie + "/a.mp4"}, "does not exist"},
        {"unknown target", {movie, "-o", out + "/a.mp4", "--target", "vhs"}, "unknown target \"vhs\""},
        {"mpg without target", {movie, "-o", out + "/a.mpg"}, "ntsc-vcd, ntsc-dvd, pal-vcd, pal-dvd"},
        {"size 0", {movie, "-o", out + "/a.mp4", "--size", "0x100"}, "size"},
        {"odd size", {movie, "-o", out + "/a.mp4", "--size", "101x100"}, "even size"},
        {"absurd size", {movie, "-o", out + "/a.mp4", "--size", "100000x100"}, "size"},
        {"fps 0", {movie, "-o", out + "/a.mp4", "--fps", "0"}, "frame rate"},
        {"fps too high", {movie, "-o", out + "/a.mp4", "--fps", "121"}, "frame rate"},
        {"click outside", {movie, "-o", out + "/a.mp4", "--click", "500,10@1"}, "outside the stage"},
        {"png without pattern", {movie, "-o", out + "/a.png", "--target", "png"}, "%d"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProgramRun run = Convert(c.arguments);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_TRUE(run.errors.contains(QLatin1String(c.message))) << run.errors.toStdString();
        EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }
}

TEST(ConvertFailures, AFullDiskFailsAndLeavesNoOutput) {
    TestDir dir;
    const QString movie = WriteMovie(dir, "good.swf", FlashMovie({1, 5}, 24));
    const QString out = dir.path("out");
    ASSERT_TRUE(QDir().mkpath(out));
    QProcess process;
    process.start("prlimit", {"--fsize=20000", QStringLiteral(VANTREL_CONVERT), movie, "-o", out + "/a.mpg",
                              "--target", "pal-dvd"});
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_NE(process.exitCode(), 0);
    EXPECT_TRUE(QString::fromLocal8Bit(process.readAllStandardError()).contains("a.mpg"));
    EXPECT_TRUE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

namespace {

// Processes whose command line mentions `text`.
int ProcessesMentioning(const QString& text) {
    int found = 0;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile file("/proc/" + pid + "/cmdline");
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text.toLocal8Bit()))
            ++found;
    }
    return found;
}

} // namespace

TEST(ConvertCancel, SigtermRemovesThePartialOutputAndEndsTheEncoder) {
    TestDir dir;
    const QString movie = WriteMovie(dir, "good.swf", FlashMovie({1, 5}, 24));
    const QString out = dir.path("cancel");
    ASSERT_TRUE(QDir().mkpath(out));
    QProcess process;
    process.start(QStringLiteral(VANTREL_CONVERT), {movie, "-o", out + "/long.mp4", "--duration", "3000"});
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(PumpUntil([&] { return ProcessesMentioning(out + "/.long.mp4.part") > 0; }, 30000));
    QThread::msleep(300);
    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 128 + SIGTERM);
    EXPECT_EQ(ProcessesMentioning(out), 0);
    EXPECT_TRUE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

TEST(ConvertBatch, GoesOnPastABrokenMovieAndResumes) {
    TestDir dir;
    const QString one = WriteMovie(dir, "one.swf", FlashMovie({1}, 6));
    const QString broken = WriteMovie(dir, "broken.swf", "FWS broken");
    const QString two = WriteMovie(dir, "two.swf", FlashMovie({2}, 6));
    const QString out = dir.path("videos");
    ASSERT_TRUE(QDir().mkpath(out));
    const QString report = dir.path("report.jsonl");
    const QStringList arguments{one,   broken, two, "-o",       out,   "--target",
                                "mp4", "-j",   "2", "--report", report};
    const ProgramRun first = Convert(arguments);
    EXPECT_NE(first.exitCode, 0);
    EXPECT_TRUE(first.errors.contains("broken.swf"));
    EXPECT_TRUE(QFileInfo::exists(out + "/one.mp4"));
    EXPECT_TRUE(QFileInfo::exists(out + "/two.mp4"));
    EXPECT_FALSE(QFileInfo::exists(out + "/broken.mp4"));
    QStringList statuses;
    for (const QByteArray& line : ReadWholeFile(report).trimmed().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        statuses << QFileInfo(object["input"].toString()).fileName() + "=" + object["status"].toString();
        if (object["status"] == "ok")
            EXPECT_GT(object["frames"].toDouble(), 0);
        else
            EXPECT_FALSE(object["error"].toString().isEmpty());
    }
    EXPECT_EQ(statuses, QStringList({"one.swf=ok", "broken.swf=failed", "two.swf=ok"}));

    const QDateTime written = QFileInfo(out + "/one.mp4").lastModified();
    Convert(arguments);
    EXPECT_EQ(QFileInfo(out + "/one.mp4").lastModified(), written);
    EXPECT_TRUE(ReadWholeFile(report).contains("\"status\":\"skipped\""));
}

TEST(SnapshotPlay, PlaysFramesAsAViewerSeesThemWhereFrameSeeks) {
    TestDir dir;
    const QString movie = WriteMovie(dir, "count.swf", CountingMovie(10, 6));
    struct Case {
        QStringList arguments;
        int shownFrame;
    };
    const Case cases[] = {
        {{"--play", "1"}, 0},  // the first frame shown counts as one
        {{"--play", "4"}, 3},  // three ticks later
        {{"--play", "30"}, 6}, // the script stopped the movie on frame 6
        {{"--frame", "8"}, 8}, // seeking runs no scripts on the way
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const QString image = dir.path("shot.png");
        QFile::remove(image);
        QProcess process;
        process.start(QStringLiteral(VANTREL_SNAPSHOT), QStringList{movie, "-o", image} + c.arguments);
        ASSERT_TRUE(process.waitForFinished(60000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        EXPECT_EQ(qRed(QImage(image).pixel(80, 60)), c.shownFrame * 8);
    }
}

TEST(SnapshotTrace, PrintsTraceLinesAsFlashPlayerDoes) {
    TestDir dir;
    MovieBuilder movie;
    movie.Stage({0, StageWidth * Twips, 0, StageHeight * Twips}).FrameRate(12);
    const QByteArray undefinedValue(1, 3);
    movie.Add(DoAction(ActionCode()
                           .PushString("first frame")
                           .Op(action::Trace)
                           .PushDouble(1.5)
                           .Op(action::Trace)
                           .PushInt(-7)
                           .Op(action::Trace)
                           .Op(action::Push, undefinedValue)
                           .Op(action::Trace)
                           .PushBool(true)
                           .Op(action::Trace)));
    movie.Add(ShowFrame()).Add(ShowFrame());
    movie.Add(DoAction(ActionCode().PushString("third frame").Op(action::Trace).Stop())).Add(ShowFrame());
    const QString file = WriteMovie(dir, "trace.swf", movie.Build());
    QProcess process;
    process.start(QStringLiteral(VANTREL_SNAPSHOT),
                  {file, "--play", "5", "--trace", "-o", dir.path("shot.png")});
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardOutput()),
              "first frame\n1.5\n-7\nundefined\ntrue\nthird frame\n");
}

// Played frames mix the sound as they go: a sound a script started a quarter second ago says so.
TEST(SnapshotTrace, SoundsPlayOnThePlayedFramesClock) {
    TestDir dir;
    MovieBuilder movie;
    movie.Stage({0, StageWidth * Twips, 0, StageHeight * Twips}).FrameRate(12);
    movie.Add(Beep(1, 1.0)).Add(Tag(tag::ExportAssets, Bits().U16(1).U16(1).String("beep").Data()));
    const auto onSound = [](ActionCode& code, const char* method, int args) -> ActionCode& {
        return code.PushInt(args)
            .PushString("s")
            .Op(action::GetVariable)
            .PushString(method)
            .Op(action::CallMethod);
    };
    ActionCode start;
    start.PushString("s").PushInt(0).PushString("Sound").Op(action::NewObject).Op(action::SetVariable);
    onSound(start.PushString("beep"), "attachSound", 1).Pop();
    onSound(start, "start", 0).Pop();
    movie.Add(DoAction(start)).Add(ShowFrame()).Add(ShowFrame()).Add(ShowFrame());
    movie.Add(DoAction(ActionCode()
                           .PushString("s")
                           .Op(action::GetVariable)
                           .PushString("position")
                           .Op(action::GetMember)
                           .Op(action::Trace)
                           .Stop()));
    movie.Add(ShowFrame());
    const QString file = WriteMovie(dir, "sound.swf", movie.Build());
    QProcess process;
    process.start(QStringLiteral(VANTREL_SNAPSHOT),
                  {file, "--play", "4", "--trace", "-o", dir.path("shot.png")});
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardOutput()), "250\n");
}

TEST(ImageDiff, StrictMeasureCountsPixelsOffByMoreThan24Levels) {
    // A 10 x 10 reference against images with some pixels changed: a frame matches when at most 2 of
    // its 100 pixels are off; transparent pixels are seen over white.
    TestDir dir;
    QImage reference(10, 10, QImage::Format_ARGB32);
    reference.fill(QColor(100, 100, 100));
    reference.save(dir.path("reference.png"));
    struct Case {
        const char* name;
        int changed; // pixels changed, from the first
        QColor changedTo;
        const char* off;
        const char* verdict;
    };
    const Case cases[] = {
        {"within 24 levels", 100, QColor(124, 76, 100), "0.0000", "match"},
        {"two off", 2, QColor(100, 125, 100), "0.0200", "match"},
        {"three off", 3, QColor(100, 100, 75), "0.0300", "differs"},
        {"transparent, seen white", 3, QColor(100, 100, 100, 0), "0.0300", "differs"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QImage image = reference;
        for (int i = 0; i < c.changed; ++i)
            image.setPixelColor(i % 10, i / 10, c.changedTo);
        image.save(dir.path("image.png"));
        QProcess process;
        process.start(QStringLiteral(VANTREL_IMAGEDIFF), {dir.path("reference.png"), dir.path("image.png")});
        ASSERT_TRUE(process.waitForFinished(60000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        const QString output = QString::fromUtf8(process.readAllStandardOutput());
        EXPECT_TRUE(output.contains(QStringLiteral("off: %1\n").arg(c.off))) << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("strict: %1\n").arg(c.verdict))) << output.toStdString();
    }
}
