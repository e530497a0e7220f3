// Frame-exact conversion against the encoder alone. A 60 s busy movie (BusyMovie.h, with stream sound)
// is converted to pal-dvd and to mp4 at its stage size; ffmpeg then encodes the same number of frames
// of a synthetic source to the same target. First of all, ten minutes of the movie (its 60 s played ten
// times) to pal-dvd report this process's peak memory: frames and sound are streamed, never held whole.
//
// A second figure times ffmpeg encoding the conversion's own frames, decoded beforehand: the limit the
// encoder itself sets on this movie.
//
// Wall time depends on what else the machine runs, so each figure also gives the CPU time (user and
// system) of this process and of the encoder it started. --short leaves out the ten-minute run;
// --dir DIR keeps the movie and the outputs in DIR.
#include "BusyMovie.h"
#include "convert/Conversion.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

struct Cost {
    double wall = -1;    // seconds; -1 when the run failed
    double own = 0;      // CPU seconds of this process
    double children = 0; // CPU seconds of the processes it waited for
};

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Times `work` (which returns false on failure) in wall and CPU seconds.
template <typename Work> Cost Measure(Work work) {
    const double own = CpuSeconds(RUSAGE_SELF), children = CpuSeconds(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = work();
    Cost cost;
    cost.wall = ok ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() : -1;
    cost.own = CpuSeconds(RUSAGE_SELF) - own;
    cost.children = CpuSeconds(RUSAGE_CHILDREN) - children;
    return cost;
}

Cost TimeConversion(const QString& movie, const QString& output, convert::Target target, double duration) {
    convert::ConversionOptions options;
    options.input = movie;
    options.output = output;
    options.target = target;
    options.length = convert::ConversionOptions::Length::Duration;
    options.duration = duration;
    return Measure([&] {
        const convert::ConversionResult result = convert::Convert(options);
        if (!result.ok)
            std::fprintf(stderr, "convert_bench: %s\n", qUtf8Printable(result.error));
        return result.ok;
    });
}

Cost TimeFfmpeg(const QString& size, const QString& rate, const QStringList& output, double duration) {
    return Measure([&] {
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", QStringList{"-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                                           QStringLiteral("testsrc2=size=%1:rate=%2").arg(size, rate), "-f",
                                           "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-t",
                                           QString::number(duration)} +
                                   output);
        return ffmpeg.waitForFinished(-1) && ffmpeg.exitCode() == 0;
    });
}

// Decodes `output` (a conversion's result) to raw frames and samples, untimed, then times ffmpeg encoding
// exactly those to the same target: the encoder's own cost on this movie's pictures, which a synthetic
// source (mostly still, so cheaper to encode) understates.
Cost TimeFfmpegOnFrames(const QString& output, const QString& size, const QString& rate, int soundRate,
                        const QStringList& target) {
    const QString frames = output + ".yuv", samples = output + ".pcm";
    QProcess decode;
    decode.start("ffmpeg",
                 {"-v", "error", "-nostdin", "-y", "-i", output, "-f", "rawvideo", "-pix_fmt", "yuv420p",
                  frames, "-vn", "-f", "s16le", "-ac", "2", "-ar", QString::number(soundRate), samples});
    if (!decode.waitForFinished(-1) || decode.exitCode() != 0)
        return Cost{};
    const Cost cost = Measure([&] {
        QProcess ffmpeg;
        ffmpeg.start(
            "ffmpeg",
            QStringList{"-v",       "error",   "-nostdin", "-y",    "-f",  "rawvideo",
                        "-pix_fmt", "yuv420p", "-s",       size,    "-r",  rate,
                        "-i",       frames,    "-f",       "s16le", "-ar", QString::number(soundRate),
                        "-ac",      "2",       "-i",       samples} +
                target);
        return ffmpeg.waitForFinished(-1) && ffmpeg.exitCode() == 0;
    });
    QFile::remove(frames);
    QFile::remove(samples);
    return cost;
}

void ReportOnFrames(const Cost& ours, const Cost& ffmpeg, double duration) {
    std::printf("%-28s %47s ffmpeg on these frames %6.2f s (%5.1fx, CPU %.2f s)   ratio %.2f\n", "", "",
                ffmpeg.wall, duration / ffmpeg.wall, ffmpeg.children, ours.wall / ffmpeg.wall);
}

void Report(const char* what, const Cost& ours, const Cost& ffmpeg, double duration) {
    std::printf(
        "%-28s vantrel-convert %6.2f s (%5.1fx real time, CPU %.2f s + encoder %.2f s)   ffmpeg alone "
        "%6.2f s (%5.1fx, CPU %.2f s)   ratio %.2f\n",
        what, ours.wall, duration / ours.wall, ours.own, ours.children, ffmpeg.wall, duration / ffmpeg.wall,
        ffmpeg.children, ours.wall / ffmpeg.wall);
}

void WriteMovie(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        std::fprintf(stderr, "convert_bench: cannot write %s\n", qUtf8Printable(path));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    bool shortRun = false;
    QString keep;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--short") == 0)
            shortRun = true;
        else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc)
            keep = QString::fromLocal8Bit(argv[++i]);
        else {
            std::fprintf(stderr, "usage: convert_bench [--short] [--dir DIR]\n");
            return 2;
        }
    }
    QTemporaryDir temporary;
    const QDir dir(keep.isEmpty() ? temporary.path() : keep);
    constexpr double Duration = 60;
    const QString movie = dir.filePath("busy.swf");
    WriteMovie(movie, BusyMovie(false, int(Duration) * FrameRate, true));

    bool ok = true;
    if (!shortRun) {
        constexpr double Long = 600;
        const Cost longDvd = TimeConversion(movie, dir.filePath("long.mpg"), convert::Target::PalDvd, Long);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("10 minutes of the busy movie, pal-dvd: %.1f s (%.1fx real time, CPU %.1f s + encoder "
                    "%.1f s), peak memory of this process %.0f MB\n",
                    longDvd.wall, Long / longDvd.wall, longDvd.own, longDvd.children,
                    usage.ru_maxrss / 1024.0);
        ok = longDvd.wall > 0;
    }

    const Cost dvd = TimeConversion(movie, dir.filePath("busy.mpg"), convert::Target::PalDvd, Duration);
    const Cost dvdAlone = TimeFfmpeg(
        "720x576", "25", {"-target", "pal-dvd", "-aspect", "4:3", dir.filePath("ref.mpg")}, Duration);
    Report("60 s busy movie, pal-dvd", dvd, dvdAlone, Duration);
    ReportOnFrames(
        dvd,
        TimeFfmpegOnFrames(dir.filePath("busy.mpg"), "720x576", "25", 48000,
                           {"-target", "pal-dvd", "-aspect", "4:3", dir.filePath("ref-frames.mpg")}),
        Duration);

    const Cost mp4 = TimeConversion(movie, dir.filePath("busy.mp4"), convert::Target::Mp4, Duration);
    const Cost mp4Alone = TimeFfmpeg(
        "550x400", "30", convert::OutputArguments(convert::Target::Mp4, dir.filePath("ref.mp4")), Duration);
    Report("60 s busy movie, mp4 550x400", mp4, mp4Alone, Duration);
    ReportOnFrames(
        mp4,
        TimeFfmpegOnFrames(dir.filePath("busy.mp4"), "550x400", "30", 48000,
                           convert::OutputArguments(convert::Target::Mp4, dir.filePath("ref-frames.mp4"))),
        Duration);

    return ok && dvd.wall > 0 && mp4.wall > 0 ? 0 : 1;
}
