// A long screen-recording conversion in the real window, on a private X server and sound server:
// a busy movie with stream sound plays for SOAK_SECONDS (default 600) while the program records it,
// then converts to PAL-DVD. Reports the frames the screen camera dropped, the sound's length against
// the video's (from ffprobe on the result), and the program's resident memory, open files and
// threads before recording and after the conversion.
#include "BusyMovie.h"
#include "Driver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {
struct ProcessFigures {
    long residentKiB = 0;
    int files = 0;
    int threads = 0;
};

ProcessFigures Measure(qint64 pid) {
    ProcessFigures figures;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                figures.residentKiB = line.mid(6).trimmed().split(' ').value(0).toLong();
            else if (line.startsWith("Threads:"))
                figures.threads = line.mid(8).trimmed().toInt();
        }
    figures.files = int(
        QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::System).size());
    return figures;
}

// The length of one stream of a file (v:0 or a:0) in seconds, or -1: its packets over its rate for
// video (MPEG program streams carry no video duration), its duration for sound.
double StreamSeconds(const QString& file, const QString& stream) {
    const bool video = stream.startsWith(QLatin1Char('v'));
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {"-v", "error", "-select_streams", stream, "-count_packets", "-show_entries",
                 video ? "stream=nb_read_packets,r_frame_rate" : "stream=duration", "-of", "csv=p=0", file});
    if (!probe.waitForFinished(120000) || probe.exitCode() != 0)
        return -1;
    const QStringList fields =
        QString::fromUtf8(probe.readAllStandardOutput()).trimmed().split(QLatin1Char(','));
    bool ok = false;
    if (!video) {
        const double seconds = fields.value(0).toDouble(&ok);
        return ok ? seconds : -1;
    }
    // r_frame_rate comes first, as "25/1".
    const QStringList rate = fields.value(0).split(QLatin1Char('/'));
    const double packets = fields.value(1).toDouble(&ok);
    const double fps = rate.value(0).toDouble() / std::max(1.0, rate.value(1).toDouble());
    return ok && fps > 0 ? packets / fps : -1;
}

void Print(const char* when, const ProcessFigures& figures) {
    std::printf("%-22s resident %6.1f MB, %3d open files, %3d threads\n", when, figures.residentKiB / 1024.0,
                figures.files, figures.threads);
}
} // namespace

int main(int argc, char** argv) {
    const int seconds =
        qEnvironmentVariableIsSet("SOAK_SECONDS") ? qEnvironmentVariableIntValue("SOAK_SECONDS") : 600;
    QTemporaryDir work;
    TPrivateServers servers(work.path());
    if (!servers.Start()) {
        std::fprintf(stderr, "soak: the private X or sound server did not start\n");
        return 1;
    }
    int result = 1;
    {
        QCoreApplication application(argc, argv);
        const QString movie = work.filePath("busy.swf");
        const QString output = work.filePath("busy-pal-dvd.mpg");
        QFile file(movie);
        if (file.open(QIODevice::WriteOnly))
            file.write(BusyMovie(false, FrameRate * 60, true));
        file.close();

        TProgramRun program;
        QString failure;
        if (!program.Start(QStringLiteral(VANTREL_PROGRAM), work.path()) || !program.OpenMovie(movie) ||
            !program.ChooseFormat(true, 3)) {
            std::fprintf(stderr, "soak: the program did not open the movie\n%s\n",
                         qPrintable(program.Output()));
        } else {
            const ProcessFigures before = Measure(program.ProcessId());
            std::printf("soak: %d s of a busy movie with sound, recorded from the screen, to PAL-DVD\n",
                        seconds);
            if (!program.Convert(output, seconds * 1000, &failure)) {
                std::fprintf(stderr, "soak: %s\n", qPrintable(failure));
            } else {
                const ProcessFigures after = Measure(program.ProcessId());
                const QRegularExpression recorded(QStringLiteral("Recorded [^\n]*"));
                const auto match = recorded.match(program.Output());
                std::printf("%s\n",
                            match.hasMatch() ? qPrintable(match.captured(0)) : "(no recording summary)");
                const double video = StreamSeconds(output, "v:0"), audio = StreamSeconds(output, "a:0");
                std::printf("result: video %.3f s, sound %.3f s, difference %.3f s\n", video, audio,
                            audio - video);
                Print("before recording:", before);
                Print("after the conversion:", after);
                result = 0;
            }
        }
        program.Kill();
    }
    return result;
}
