// The real program in a real window on a private X server and sound server: a movie with moving
// coloured boxes and a tone is converted twice, driven by xdotool, and the results are read back
// with ffprobe and ffmpeg.
#include "DemoMovie.h"
#include "Driver.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QThread>
#include <gtest/gtest.h>

namespace {

struct TStreams {
    QJsonObject Video;
    QJsonObject Audio;
    int AudioStreams = 0;
};

TStreams Probe(const QString& FileName) {
    const QByteArray json =
        RunProgram(QStringLiteral("ffprobe"), {"-v", "error", "-show_streams", "-of", "json", FileName});
    TStreams streams;
    for (const QJsonValue& value : QJsonDocument::fromJson(json).object().value("streams").toArray()) {
        const QJsonObject stream = value.toObject();
        if (stream.value("codec_type").toString() == "video")
            streams.Video = stream;
        if (stream.value("codec_type").toString() == "audio") {
            streams.Audio = stream;
            ++streams.AudioStreams;
        }
    }
    return streams;
}

// Mean level of the audio in dB below full scale.
double MeanVolume(const QString& FileName) {
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-v", "info", "-i", FileName, "-map", "0:a", "-af", "volumedetect", "-f", "null", "-"});
    ffmpeg.waitForFinished(60000);
    const QString log = QString::fromUtf8(ffmpeg.readAllStandardError());
    const QRegularExpressionMatch match = QRegularExpression("mean_volume: (-?[0-9.]+) dB").match(log);
    return match.hasMatch() ? match.captured(1).toDouble() : -1000;
}

// Share of a frame's pixels close to Color.
double ShareOf(const QImage& Frame, const QColor& Color) {
    int close = 0;
    for (int y = 0; y < Frame.height(); y += 2)
        for (int x = 0; x < Frame.width(); x += 2) {
            const QColor pixel = Frame.pixelColor(x, y);
            close += std::abs(pixel.red() - Color.red()) < 60 &&
                     std::abs(pixel.green() - Color.green()) < 60 &&
                     std::abs(pixel.blue() - Color.blue()) < 60;
        }
    return double(close) / ((Frame.width() / 2) * (Frame.height() / 2));
}

QImage FrameAt(const QString& FileName, const QString& Time, const QString& Png) {
    RunProgram(QStringLiteral("ffmpeg"),
               {"-v", "error", "-y", "-ss", Time, "-i", FileName, "-frames:v", "1", Png});
    return QImage(Png);
}

} // namespace

TEST(ConvertE2E, ConvertsAMovieThroughTheRealWindow) {
    TestDir dir;
    const QString movie = dir.path("moving boxes.swf");
    WriteWholeFile(movie, MakeDemoMovie());
    // The program's own temporary folder, to see that it leaves nothing there.
    const QString temporary = dir.path("tmp");
    QDir().mkpath(temporary);

    TProgramRun program;
    ASSERT_TRUE(program.Start(QStringLiteral(VANTREL_PROGRAM), temporary));
    ASSERT_TRUE(program.OpenMovie(movie)) << program.Output().toStdString();
    // A picture of the window with the movie playing, for people to look at.
    QGuiApplication::primaryScreen()->grabWindow(0, 0, 0, 700, 640).save(QStringLiteral(VANTREL_SCREENSHOT));

    // A right-click on the player opens no menu.
    const QStringList before = program.VisibleWindows();
    program.Click(300, 200, 3);
    EXPECT_EQ(program.VisibleWindows(), before);

    // PAL-DVD with sound.
    ASSERT_TRUE(program.ChooseFormat(true, 3));
    const QString palDvd = dir.path("pal dvd.avi");
    QString failure;
    ASSERT_TRUE(program.Convert(palDvd, 5000, &failure)) << failure.toStdString();
    const TStreams pal = Probe(palDvd);
    EXPECT_EQ(pal.Video.value("codec_name").toString(), "mpeg2video");
    EXPECT_EQ(pal.Video.value("width").toInt(), 720);
    EXPECT_EQ(pal.Video.value("height").toInt(), 576);
    EXPECT_EQ(pal.Video.value("r_frame_rate").toString(), "25/1");
    EXPECT_EQ(pal.AudioStreams, 1);
    EXPECT_GT(MeanVolume(palDvd), -35.0) << "the tone was recorded";
    const QImage frame = FrameAt(palDvd, "2.5", dir.path("frame.png"));
    ASSERT_FALSE(frame.isNull());
    EXPECT_GT(ShareOf(frame, QColor(230, 20, 20)), 0.01) << "the red box";
    EXPECT_GT(ShareOf(frame, QColor(20, 200, 40)), 0.01) << "the green box";
    EXPECT_GT(ShareOf(frame, QColor(30, 40, 220)), 0.01) << "the blue box";
    EXPECT_GT(ShareOf(frame, QColor(255, 255, 255)), 0.2) << "the white stage";
    // Recordings and their private folders; Qt keeps a runtime folder of its own there.
    const QStringList leftovers = QDir(temporary).entryList(
        {"*.avi", "*.wav", "vantrel-*"}, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    EXPECT_TRUE(leftovers.isEmpty()) << leftovers.join(", ").toStdString();

    // NTSC-VCD without sound, in the same window.
    ASSERT_TRUE(program.ChooseFormat(false, 0));
    const QString ntscVcd = dir.path("ntsc vcd.avi");
    ASSERT_TRUE(program.Convert(ntscVcd, 3000, &failure)) << failure.toStdString();
    const TStreams ntsc = Probe(ntscVcd);
    EXPECT_EQ(ntsc.Video.value("codec_name").toString(), "mpeg1video");
    EXPECT_EQ(ntsc.Video.value("width").toInt(), 352);
    EXPECT_EQ(ntsc.Video.value("height").toInt(), 240);
    EXPECT_EQ(ntsc.AudioStreams, 0);
    EXPECT_TRUE(QDir(temporary).entryList({"*.avi", "*.wav"}, QDir::Files).isEmpty());

    // Frame-exact, to PAL-DVD with sound and to MP4: every frame of the movie, without recording.
    ASSERT_TRUE(program.ChooseFormat(true, 3, true));
    const QString exactDvd = dir.path("exact dvd.mpg");
    ASSERT_TRUE(program.ConvertFrameExact(exactDvd, &failure)) << failure.toStdString();
    const TStreams exact = Probe(exactDvd);
    EXPECT_EQ(exact.Video.value("codec_name").toString(), "mpeg2video");
    EXPECT_EQ(exact.Video.value("width").toInt(), 720);
    EXPECT_EQ(exact.Video.value("height").toInt(), 576);
    EXPECT_EQ(exact.AudioStreams, 1);
    EXPECT_GT(MeanVolume(exactDvd), -35.0) << "the tone was mixed in";
    const QImage exactFrame = FrameAt(exactDvd, "1.5", dir.path("exact.png"));
    ASSERT_FALSE(exactFrame.isNull());
    EXPECT_GT(ShareOf(exactFrame, QColor(230, 20, 20)), 0.01) << "the red box";
    EXPECT_GT(ShareOf(exactFrame, QColor(255, 255, 255)), 0.2) << "the white stage";
    ASSERT_TRUE(program.ChooseFormat(true, 4, true));
    const QString exactMp4 = dir.path("exact.mp4");
    ASSERT_TRUE(program.ConvertFrameExact(exactMp4, &failure)) << failure.toStdString();
    const TStreams mp4 = Probe(exactMp4);
    EXPECT_EQ(mp4.Video.value("codec_name").toString(), "h264");
    EXPECT_EQ(mp4.Video.value("width").toInt(), 550);
    EXPECT_EQ(mp4.Video.value("height").toInt(), 400);
    EXPECT_EQ(mp4.AudioStreams, 1);
    // Back to the screen recording for what follows.
    ASSERT_TRUE(program.ChooseFormat(true, 3, false));

    // Closing the window while the encoder runs ends the encoder and removes the temporary files.
    ASSERT_TRUE(program.ChooseFormat(true, 3));
    ASSERT_TRUE(program.StartAndStop(dir.path("closed.avi"), 10000));
    QList<qint64> encoders;
    for (int i = 0; i < 1000 && encoders.isEmpty(); ++i) {
        encoders = program.Children(QStringLiteral("ffmpeg"));
        QThread::msleep(5);
    }
    ASSERT_FALSE(encoders.isEmpty()) << "the encoder ran";
    program.CloseMainWindow();
    ASSERT_TRUE(program.WaitForEnd(20000));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/%1").arg(encoders.first())))
        << "the encoder was ended";
    EXPECT_FALSE(program.Output().contains(QStringLiteral("Convert to \"%1\"").arg(dir.path("closed.avi"))))
        << "closed before the encoder finished";
    EXPECT_TRUE(QDir(temporary).entryList({"*.avi", "*.wav"}, QDir::Files).isEmpty());
}

TEST(ConvertE2E, OpensTheMovieNamedOnItsCommandLine) {
    TestDir dir;
    const QString temporary = dir.path("tmp");
    QDir().mkpath(temporary);
    WriteWholeFile(dir.path("broken.swf"), "FWS\x0a not a movie");
    {
        TProgramRun program;
        ASSERT_TRUE(program.Start(QStringLiteral(VANTREL_PROGRAM), temporary, {dir.path("broken.swf")}));
        EXPECT_TRUE(program.WaitForMessage("Information", "Can't open this \".swf\" file.", 20000))
            << program.Output().toStdString();
    }
    // A movie that opened converts without "Open SWF".
    const QString movie = dir.path("moving boxes.swf");
    WriteWholeFile(movie, MakeDemoMovie());
    TProgramRun program;
    ASSERT_TRUE(program.Start(QStringLiteral(VANTREL_PROGRAM), temporary, {movie}));
    ASSERT_TRUE(program.ChooseFormat(false, 4, true));
    QString failure;
    ASSERT_TRUE(program.ConvertFrameExact(dir.path("exact.mp4"), &failure)) << failure.toStdString();
    EXPECT_EQ(Probe(dir.path("exact.mp4")).Video.value("codec_name").toString(), "h264");
}
