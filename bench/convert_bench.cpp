// Frame-exact conversion against the encoder alone. A 60 s busy movie (BusyMovie.h, with stream sound)
// is converted to pal-dvd and to mp4 at its stage size; ffmpeg then encodes the same number of frames
// of a synthetic source to the same target. First of all, ten minutes of the movie (its 60 s played ten
// times) to pal-dvd report this process's peak memory: frames and sound are streamed, never held whole.
#include "BusyMovie.h"
#include "convert/Conversion.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>

namespace {

double Seconds(const std::chrono::steady_clock::time_point& start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double TimeConversion(const QString& movie, const QString& output, convert::Target target, double duration) {
    convert::ConversionOptions options;
    options.input = movie;
    options.output = output;
    options.target = target;
    options.length = convert::ConversionOptions::Length::Duration;
    options.duration = duration;
    const auto start = std::chrono::steady_clock::now();
    const convert::ConversionResult result = convert::Convert(options);
    const double seconds = Seconds(start);
    if (!result.ok) {
        std::fprintf(stderr, "convert_bench: %s\n", qUtf8Printable(result.error));
        return -1;
    }
    return seconds;
}

double TimeFfmpeg(const QString& size, const QString& rate, const QStringList& output, double duration) {
    QProcess ffmpeg;
    const auto start = std::chrono::steady_clock::now();
    ffmpeg.start("ffmpeg",
                 QStringList{"-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                             QStringLiteral("testsrc2=size=%1:rate=%2").arg(size, rate), "-f", "lavfi", "-i",
                             "sine=frequency=440:sample_rate=44100", "-t", QString::number(duration)} +
                     output);
    ffmpeg.waitForFinished(-1);
    return ffmpeg.exitCode() == 0 ? Seconds(start) : -1;
}

void Report(const char* what, double ours, double ffmpeg, double duration) {
    std::printf(
        "%-28s vantrel-convert %6.2f s (%5.1fx real time)   ffmpeg alone %6.2f s (%5.1fx)   ratio %.2f\n",
        what, ours, duration / ours, ffmpeg, duration / ffmpeg, ours / ffmpeg);
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
    QTemporaryDir dir;
    constexpr double Duration = 60;
    const QString movie = dir.filePath("busy.swf");
    WriteMovie(movie, BusyMovie(false, int(Duration) * FrameRate, true));

    constexpr double Long = 600;
    const double longDvd = TimeConversion(movie, dir.filePath("long.mpg"), convert::Target::PalDvd, Long);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("10 minutes of the busy movie, pal-dvd: %.1f s (%.1fx real time), peak memory of this "
                "process %.0f MB\n",
                longDvd, Long / longDvd, usage.ru_maxrss / 1024.0);

    const double dvd = TimeConversion(movie, dir.filePath("busy.mpg"), convert::Target::PalDvd, Duration);
    const double dvdAlone = TimeFfmpeg(
        "720x576", "25", {"-target", "pal-dvd", "-aspect", "4:3", dir.filePath("ref.mpg")}, Duration);
    Report("60 s busy movie, pal-dvd", dvd, dvdAlone, Duration);

    const double mp4 = TimeConversion(movie, dir.filePath("busy.mp4"), convert::Target::Mp4, Duration);
    const double mp4Alone = TimeFfmpeg(
        "550x400", "30", convert::OutputArguments(convert::Target::Mp4, dir.filePath("ref.mp4")), Duration);
    Report("60 s busy movie, mp4 550x400", mp4, mp4Alone, Duration);

    return dvd > 0 && mp4 > 0 && longDvd > 0 ? 0 : 1;
}
