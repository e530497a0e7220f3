// vantrel-convert: converts Flash movies into videos frame by frame, without a screen or a sound card.
//   vantrel-convert MOVIE.swf -o OUTPUT [--target T] [--size WxH] [--fps F]
//                  [--duration SECONDS | --frames N | --loops K] [--no-audio]
//                  [--click X,Y@SECONDS]... [--key KEY@SECONDS[-UNTIL]]... [--trace] [--quiet]
//   vantrel-convert MOVIE.swf... -o FOLDER --target T [-j JOBS] [--report FILE.jsonl]
// The exit status is 0 only when every output is complete.
#include "convert/Conversion.h"
#include "flash/player/Keys.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<bool> cancelled{false};
std::atomic<int> cancelSignal{0};

void OnSignal(int signal) {
    cancelSignal = signal;
    cancelled = true;
}

// Qt's own warnings (a missing runtime folder on a server, say) are not the user's business here.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg || qEnvironmentVariableIsSet("VANTREL_DEBUG"))
        std::fprintf(stderr, "%s\n", qUtf8Printable(message));
}

int Fail(const QString& message) {
    std::fprintf(stderr, "vantrel-convert: %s\n", qUtf8Printable(message));
    return 2;
}

std::optional<QSize> ParseSize(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,9})[xX](\\d{1,9})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return QSize(match.captured(1).toInt(), match.captured(2).toInt());
}

// "X,Y@SECONDS" or "KEY@SECONDS".
std::optional<convert::ScheduledInput> ParseClick(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^(-?[0-9.]+),(-?[0-9.]+)@([0-9.]+)$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool xOk = false, yOk = false, tOk = false;
    convert::ScheduledInput input;
    input.kind = convert::ScheduledInput::Kind::Click;
    input.x = match.captured(1).toDouble(&xOk);
    input.y = match.captured(2).toDouble(&yOk);
    input.seconds = match.captured(3).toDouble(&tOk);
    if (!xOk || !yOk || !tOk)
        return std::nullopt;
    return input;
}

// "KEY@SECONDS" or "KEY@SECONDS-UNTIL": a character or a key's name, pressed at SECONDS and released
// at UNTIL, or after one frame of the movie.
std::optional<convert::ScheduledInput> ParseKey(const QString& text) {
    const qsizetype at = text.lastIndexOf(QLatin1Char('@'));
    if (at <= 0)
        return std::nullopt;
    const flash::KeyStroke key = flash::KeyByName(text.left(at));
    const QStringList times = text.mid(at + 1).split(QLatin1Char('-'));
    bool ok = false, untilOk = true;
    convert::ScheduledInput input;
    input.kind = convert::ScheduledInput::Kind::Key;
    input.keyCode = key.code;
    input.ascii = key.ascii;
    input.seconds = times[0].toDouble(&ok);
    if (times.size() == 2)
        input.until = times[1].toDouble(&untilOk);
    if (!ok || !untilOk || times.size() > 2 || input.keyCode == 0)
        return std::nullopt;
    return input;
}

// A progress bar on the terminal: frames, percent, speed and time left.
class ProgressBar {
public:
    explicit ProgressBar(bool shown) : shown(shown) {}
    void Show(const convert::ConversionProgress& progress) {
        if (!shown)
            return;
        const double share = progress.expectedFrames > 0
                                 ? std::min(1.0, double(progress.frame) / double(progress.expectedFrames))
                                 : 0;
        constexpr int Width = 30;
        const int filled = int(share * Width);
        const QString bar = QString(filled, QLatin1Char('#')) + QString(Width - filled, QLatin1Char('.'));
        QString left;
        if (progress.secondsLeft >= 0) {
            const long long seconds = std::llround(progress.secondsLeft);
            left =
                QStringLiteral(", %1:%2 left").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
        }
        std::fprintf(stderr, "\r[%s] %lld/%lld frames %3d%% %.1fx real time%s   ", qUtf8Printable(bar),
                     progress.frame, progress.expectedFrames, int(share * 100), progress.speed,
                     qUtf8Printable(left));
        std::fflush(stderr);
    }
    void End() {
        if (shown)
            std::fputs("\n", stderr);
    }

private:
    bool shown;
};

struct Job {
    QString input, output;
    QString status; // ok, skipped, failed
    convert::ConversionResult result;
};

QString Seconds(double seconds) {
    return QString::number(seconds, 'f', 2);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietMessages);
    QGuiApplication application(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("vantrel-convert"));
    QGuiApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Converts Flash movies into videos frame by frame, faster than real time, without a screen "
            "or a sound card.\nTargets: %1.")
            .arg(convert::TargetNames()));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("movies"), QStringLiteral("The .swf files."),
                                 QStringLiteral("MOVIE.swf..."));
    const QCommandLineOption outputOption(
        "o", "The output file, a %d pattern for png, or a folder for several movies.", "OUTPUT");
    const QCommandLineOption targetOption("target", "The target (default: from the output's extension).",
                                          "T");
    const QCommandLineOption sizeOption("size", "The picture size (mp4, webm, gif, png).", "WxH");
    const QCommandLineOption fpsOption("fps", "Output frames per second (mp4, webm, gif, png).", "F");
    const QCommandLineOption durationOption("duration", "Convert this many seconds.", "SECONDS");
    const QCommandLineOption framesOption("frames", "Convert this many output frames.", "N");
    const QCommandLineOption loopsOption("loops", "Convert this many passes of the main timeline.", "K");
    const QCommandLineOption noAudioOption("no-audio", "Leave the sound out.");
    const QCommandLineOption clickOption("click", "Click the stage point X,Y (pixels) at SECONDS.",
                                         "X,Y@SECONDS");
    const QCommandLineOption keyOption("key",
                                       "Press KEY (a character or a name such as Enter, Left, Space, F1) at "
                                       "SECONDS, held until UNTIL or for "
                                       "one frame of the movie.",
                                       "KEY@SECONDS[-UNTIL]");
    const QCommandLineOption traceOption("trace", "Print the movie's trace() lines, and on standard error a "
                                                  "line for each getURL, fscommand and load by "
                                                  "URL it asks for (\"getURL: URL WINDOW\", \"fscommand: "
                                                  "COMMAND ARGS\"), none of which is carried out.");
    const QCommandLineOption quietOption("quiet", "Print no progress.");
    const QCommandLineOption jobsOption("j", "Convert up to JOBS movies at once.", "JOBS", "1");
    const QCommandLineOption reportOption("report", "Write one JSON line per movie to FILE.", "FILE.jsonl");
    parser.addOptions({outputOption, targetOption, sizeOption, fpsOption, durationOption, framesOption,
                       loopsOption, noAudioOption, clickOption, keyOption, traceOption, quietOption,
                       jobsOption, reportOption});
    parser.process(application);

    const QStringList movies = parser.positionalArguments();
    if (movies.isEmpty())
        return Fail(QStringLiteral("give a movie file (see --help)"));
    if (!parser.isSet(outputOption))
        return Fail(QStringLiteral("give the output with -o"));
    const QString output = parser.value(outputOption);

    convert::ConversionOptions options;
    if (parser.isSet(targetOption)) {
        const std::optional<convert::Target> target = convert::TargetByName(parser.value(targetOption));
        if (!target)
            return Fail(QStringLiteral("unknown target \"%1\"; the targets are %2")
                            .arg(parser.value(targetOption), convert::TargetNames()));
        options.target = *target;
    }
    if (parser.isSet(sizeOption)) {
        options.size = ParseSize(parser.value(sizeOption));
        if (!options.size || options.size->isEmpty() || options.size->width() > convert::MaxOutputSide ||
            options.size->height() > convert::MaxOutputSide)
            return Fail(QStringLiteral("the size \"%1\" must be WIDTHxHEIGHT, each 1 to %2 pixels")
                            .arg(parser.value(sizeOption))
                            .arg(convert::MaxOutputSide));
    }
    if (parser.isSet(fpsOption)) {
        bool ok = false;
        const double fps = parser.value(fpsOption).toDouble(&ok);
        if (!ok || !(fps > 0) || fps > convert::MaxFrameRate)
            return Fail(QStringLiteral("the frame rate \"%1\" must be above 0 and at most %2")
                            .arg(parser.value(fpsOption))
                            .arg(convert::MaxFrameRate));
        options.frameRate = convert::FrameRate::FromDouble(fps);
    }
    const int lengths =
        int(parser.isSet(durationOption)) + int(parser.isSet(framesOption)) + int(parser.isSet(loopsOption));
    if (lengths > 1)
        return Fail(QStringLiteral("give one of --duration, --frames and --loops"));
    bool ok = true;
    if (parser.isSet(durationOption)) {
        options.length = convert::ConversionOptions::Length::Duration;
        options.duration = parser.value(durationOption).toDouble(&ok);
        if (!ok || !(options.duration > 0) || options.duration > 24 * 3600)
            return Fail(QStringLiteral("the duration must be a number of seconds above 0"));
    } else if (parser.isSet(framesOption)) {
        options.length = convert::ConversionOptions::Length::Frames;
        options.frames = parser.value(framesOption).toLongLong(&ok);
        if (!ok || options.frames <= 0 || options.frames > 10'000'000)
            return Fail(QStringLiteral("the frame count must be a number above 0"));
    } else if (parser.isSet(loopsOption)) {
        options.length = convert::ConversionOptions::Length::Loops;
        options.loops = parser.value(loopsOption).toInt(&ok);
        if (!ok || options.loops <= 0 || options.loops > 100000)
            return Fail(QStringLiteral("the number of passes must be a number above 0"));
    }
    options.sound = !parser.isSet(noAudioOption);
    for (const QString& text : parser.values(clickOption)) {
        const std::optional<convert::ScheduledInput> click = ParseClick(text);
        if (!click)
            return Fail(QStringLiteral("the click \"%1\" must be X,Y@SECONDS").arg(text));
        options.inputs.push_back(*click);
    }
    for (const QString& text : parser.values(keyOption)) {
        const std::optional<convert::ScheduledInput> key = ParseKey(text);
        if (!key)
            return Fail(
                QStringLiteral(
                    "the key \"%1\" must be KEY@SECONDS or KEY@SECONDS-UNTIL, with a character or a key name")
                    .arg(text));
        options.inputs.push_back(*key);
    }
    if (parser.isSet(traceOption)) {
        options.trace = [](const QString& line) {
            std::fprintf(stdout, "%s\n", qUtf8Printable(line));
            std::fflush(stdout);
        };
        // Apart from the trace() lines, which stay as Flash Player prints them.
        options.notes = [](const QString& line) { std::fprintf(stderr, "%s\n", qUtf8Printable(line)); };
    }
    const int jobs = parser.value(jobsOption).toInt(&ok);
    if (!ok || jobs < 1 || jobs > 64)
        return Fail(QStringLiteral("-j takes 1 to 64 jobs"));

    const bool batch = movies.size() > 1 || QFileInfo(output).isDir();
    std::vector<Job> work;
    if (batch) {
        if (!parser.isSet(targetOption))
            return Fail(QStringLiteral(
                            "give the target with --target when converting into a folder; the targets are %1")
                            .arg(convert::TargetNames()));
        if (!QFileInfo(output).isDir())
            return Fail(QStringLiteral("%1: the output folder does not exist").arg(output));
        const convert::TargetInfo& info = convert::Info(options.target);
        for (const QString& movie : movies) {
            QString name = QFileInfo(movie).completeBaseName();
            name += options.target == convert::Target::Png ? QStringLiteral("-%05d.png")
                                                           : QLatin1String(info.extension);
            work.push_back({movie, QDir(output).filePath(name), {}, {}});
        }
    } else {
        if (!parser.isSet(targetOption)) {
            const std::optional<convert::Target> target = convert::TargetForFile(output);
            if (!target)
                return Fail(QStringLiteral("%1: cannot tell the target from the name; give --target (%2)")
                                .arg(output, convert::TargetNames()));
            options.target = *target;
        }
        work.push_back({movies.front(), output, {}, {}});
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const bool terminal = ::isatty(STDERR_FILENO) && !parser.isSet(quietOption);
    const bool quiet = parser.isSet(quietOption);
    std::mutex printing;
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t index = next++; index < work.size() && !cancelled; index = next++) {
            Job& job = work[index];
            convert::ConversionOptions jobOptions = options;
            jobOptions.input = job.input;
            jobOptions.output = job.output;
            if (batch && options.target != convert::Target::Png && QFileInfo(job.output).isFile() &&
                QFileInfo(job.output).size() > 0) {
                job.status = QStringLiteral("skipped");
            } else {
                ProgressBar bar(terminal && !batch);
                job.result = convert::Convert(
                    jobOptions, [&bar](const convert::ConversionProgress& progress) { bar.Show(progress); },
                    &cancelled);
                bar.End();
                job.status = job.result.ok ? QStringLiteral("ok") : QStringLiteral("failed");
            }
            std::lock_guard guard(printing);
            if (job.status == QLatin1String("failed"))
                std::fprintf(stderr, "vantrel-convert: %s\n", qUtf8Printable(job.result.error));
            for (const QString& note : job.result.notes)
                std::fprintf(stderr, "vantrel-convert: note: %s\n", qUtf8Printable(note));
            if (batch)
                std::fprintf(stdout, "%s: %s -> %s%s\n", qUtf8Printable(job.status),
                             qUtf8Printable(job.input), qUtf8Printable(job.output),
                             job.status == QLatin1String("ok")
                                 ? qUtf8Printable(QStringLiteral(" (%1 frames, %2 s)")
                                                      .arg(job.result.frames)
                                                      .arg(Seconds(job.result.seconds)))
                                 : "");
            else if (!quiet && job.result.ok && terminal)
                std::fprintf(stderr, "%s: %lld frames, %s s\n", qUtf8Printable(job.output), job.result.frames,
                             qUtf8Printable(Seconds(job.result.seconds)));
            std::fflush(stdout);
        }
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < std::min<int>(jobs, int(work.size())); ++i)
        threads.emplace_back(worker);
    worker();
    for (std::thread& thread : threads)
        thread.join();

    if (parser.isSet(reportOption)) {
        QSaveFile report(parser.value(reportOption));
        if (report.open(QIODevice::WriteOnly)) {
            for (const Job& job : work) {
                QJsonObject line{{"input", job.input},
                                 {"output", job.output},
                                 {"status", job.status.isEmpty() ? QStringLiteral("cancelled") : job.status},
                                 {"frames", double(job.result.frames)},
                                 {"seconds", job.result.seconds},
                                 {"error", job.result.error}};
                report.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
            }
        }
        if (!report.commit())
            return Fail(QStringLiteral("%1: cannot write the report: %2")
                            .arg(parser.value(reportOption), report.errorString()));
    }
    if (cancelled)
        return 128 + cancelSignal.load();
    for (const Job& job : work)
        if (job.status == QLatin1String("failed") || job.status.isEmpty())
            return 1;
    return 0;
}
