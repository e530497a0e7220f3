#include "convert/Conversion.h"

#include "convert/EncoderProcess.h"
#include "convert/FramePipeline.h"
#include "flash/player/Playback.h"
#include "flash/render/Renderer.h"
#include "flash/swf/SwfReader.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QThreadPool>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace convert {

namespace {

// Rounding slack for times computed in floating point.
constexpr double TimeSlack = 1e-9;

struct Plan {
    QSize size;
    FrameRate rate;
    double pixelAspect = 1;
    bool sound = true;
    bool video = true;
    FrameFormat format = FrameFormat::Bgra; // of the frames sent to the encoder
};

QSize StageSize(const flash::Movie& movie) {
    return QSize(int(std::lround(movie.frameSize.Width() / flash::TwipsPerPixel)),
                 int(std::lround(movie.frameSize.Height() / flash::TwipsPerPixel)));
}

QString SizeText(QSize size) {
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

// What the options and the movie make of the output, or why they cannot be converted.
QString MakePlan(const ConversionOptions& options, const flash::Movie& movie, Plan& plan) {
    const TargetInfo& info = Info(options.target);
    const QString name = options.input;
    plan.video = info.hasVideo;
    // The codecs of the other targets take yuv420p; gif and png keep every colour painted.
    plan.format = options.target == Target::Gif || options.target == Target::Png ? FrameFormat::Bgra
                                                                                 : FrameFormat::Yuv420p;
    plan.sound = options.sound && info.soundRate > 0;
    if (!info.hasVideo && !options.sound)
        return QStringLiteral("the %1 target is the sound alone; it cannot be made with --no-audio")
            .arg(info.name);

    if (!info.fixedSize.isEmpty()) {
        if (options.size && *options.size != info.fixedSize)
            return QStringLiteral("the %1 target has a fixed size of %2")
                .arg(info.name, SizeText(info.fixedSize));
        plan.size = info.fixedSize;
        plan.pixelAspect = info.displayAspect * info.fixedSize.height() / info.fixedSize.width();
    } else if (options.size) {
        plan.size = *options.size;
        if (plan.size.width() <= 0 || plan.size.height() <= 0)
            return QStringLiteral("the size %1 is empty").arg(SizeText(plan.size));
        if (plan.size.width() > MaxOutputSide || plan.size.height() > MaxOutputSide)
            return QStringLiteral("the size %1 is larger than the encoder takes (%2 pixels a side)")
                .arg(SizeText(plan.size))
                .arg(MaxOutputSide);
        if (info.evenSize && (plan.size.width() % 2 || plan.size.height() % 2))
            return QStringLiteral("the %1 target needs an even size, not %2")
                .arg(info.name, SizeText(plan.size));
    } else {
        const QSize stage = StageSize(movie);
        if (stage.width() > MaxOutputSide || stage.height() > MaxOutputSide)
            return QStringLiteral(
                       "%1: the stage (%2) is larger than the encoder takes (%3 pixels a side); give "
                       "a smaller --size")
                .arg(name, SizeText(stage))
                .arg(MaxOutputSide);
        plan.size = stage.expandedTo(QSize(1, 1));
        if (info.evenSize)
            plan.size = QSize((plan.size.width() + 1) & ~1, (plan.size.height() + 1) & ~1);
    }
    if (!plan.video)
        plan.size = QSize();

    if (info.rateNumerator > 0) {
        if (options.frameRate &&
            std::abs(options.frameRate->Value() - double(info.rateNumerator) / info.rateDenominator) > 0.01)
            return QStringLiteral("the %1 target has a fixed frame rate of %2")
                .arg(info.name)
                .arg(double(info.rateNumerator) / info.rateDenominator, 0, 'g', 4);
        plan.rate = {info.rateNumerator, info.rateDenominator};
    } else if (options.frameRate) {
        plan.rate = *options.frameRate;
    } else {
        const double movieRate = movie.frameRate > 0 ? movie.frameRate : flash::Playback::DefaultFrameRate;
        plan.rate = FrameRate::FromDouble(std::clamp(movieRate, 1.0, MaxFrameRate));
    }
    if (!plan.video && !options.frameRate)
        plan.rate = {100, 1}; // sound alone: the rate only sets how often the clock moves
    if (!(plan.rate.Value() > 0) || plan.rate.Value() > MaxFrameRate)
        return QStringLiteral("the frame rate must be above 0 and at most %1").arg(MaxFrameRate);

    const QSize stage = StageSize(movie);
    for (const ScheduledInput& input : options.inputs) {
        if (input.seconds < 0 || !std::isfinite(input.seconds))
            return QStringLiteral("an input time must be 0 seconds or later");
        if (input.until && !(*input.until >= input.seconds && std::isfinite(*input.until)))
            return QStringLiteral("a key must be released after it is pressed");
        if (input.kind == ScheduledInput::Kind::Click &&
            (input.x < 0 || input.y < 0 || input.x >= stage.width() || input.y >= stage.height()))
            return QStringLiteral("the click at %1,%2 is outside the stage (%3)")
                .arg(input.x)
                .arg(input.y)
                .arg(SizeText(stage));
    }
    return {};
}

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The output's temporary name in its own folder: a file, or for frame patterns a folder that the
// frames are written into. Removed unless committed.
class TemporaryOutput {
public:
    explicit TemporaryOutput(const QString& output, bool pattern) : finalPath(output), pattern(pattern) {}
    ~TemporaryOutput() { Discard(); }

    // Reserves the name; an error message naming the folder when it cannot be written.
    QString Create() {
        const QFileInfo info(finalPath);
        const QString folder = info.absolutePath();
        if (!QFileInfo(folder).isDir())
            return QStringLiteral("%1: the folder %2 does not exist").arg(finalPath, folder);
        // No % in the temporary part: the encoder reads the frame pattern from the whole path.
        const QString base = QString(info.fileName()).replace(QLatin1Char('%'), QLatin1Char('_'));
        QByteArray name =
            QFile::encodeName(folder + QStringLiteral("/.") + base + QStringLiteral(".part-XXXXXX"));
        if (pattern) {
            if (!::mkdtemp(name.data()))
                return QStringLiteral("%1: cannot write to %2: %3")
                    .arg(finalPath, folder, SystemError(errno));
            path = QFile::decodeName(name);
            return {};
        }
        // The extension stays last so that a look at the folder shows what is being made.
        const QByteArray suffix = QFile::encodeName(QStringLiteral(".") + info.suffix());
        name += suffix;
        const int fd = ::mkstemps(name.data(), int(suffix.size()));
        if (fd < 0)
            return QStringLiteral("%1: cannot write to %2: %3").arg(finalPath, folder, SystemError(errno));
        // The finished file gets the permissions any new file would, not the private ones of a
        // temporary name.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
        ::close(fd);
        path = QFile::decodeName(name);
        return {};
    }
    // Where the encoder writes: the file, or the pattern inside the folder.
    QString EncoderPath() const {
        return pattern ? path + QLatin1Char('/') + QFileInfo(finalPath).fileName() : path;
    }
    QString Commit() {
        if (!pattern) {
            if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(finalPath).constData()) !=
                0)
                return QStringLiteral("%1: cannot rename the finished output: %2")
                    .arg(finalPath, SystemError(errno));
            path.clear();
            return {};
        }
        const QString folder = QFileInfo(finalPath).absolutePath();
        for (const QString& file : QDir(path).entryList(QDir::Files, QDir::Name)) {
            const QByteArray from = QFile::encodeName(path + QLatin1Char('/') + file);
            const QByteArray to = QFile::encodeName(folder + QLatin1Char('/') + file);
            if (std::rename(from.constData(), to.constData()) != 0)
                return QStringLiteral("%1: cannot move the finished frames: %2")
                    .arg(finalPath, SystemError(errno));
        }
        Discard();
        return {};
    }
    void Discard() {
        if (path.isEmpty())
            return;
        if (pattern)
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
        path.clear();
    }

private:
    QString finalPath;
    bool pattern;
    QString path;
};

// Encoder arguments for the raw inputs this conversion sends.
QStringList InputArguments(const Plan& plan) {
    QStringList args{"-hide_banner", "-nostdin", "-nostats", "-loglevel", "error", "-y"};
    // Raw inputs say what they are: probing would read seconds of one input before the other, which
    // the lockstep of picture and sound here cannot give.
    const QStringList raw{"-probesize", "32", "-analyzeduration", "0", "-thread_queue_size", "64"};
    if (plan.video)
        args << raw << "-f"
             << "rawvideo"
             << "-pix_fmt" << FormatName(plan.format) << "-s" << SizeText(plan.size) << "-framerate"
             << QStringLiteral("%1/%2").arg(plan.rate.numerator).arg(plan.rate.denominator) << "-i"
             << "pipe:3";
    if (plan.sound)
        args << raw << "-f"
             << "s16le"
             << "-ar" << QString::number(flash::MixRate) << "-ac"
             << "2"
             << "-i"
             << "pipe:4";
    return args;
}

QString EncoderFailure(const EncoderProcess& encoder, const QString& output) {
    QString line = encoder.LastError();
    if (line.isEmpty())
        line = QStringLiteral("the encoder failed");
    return QStringLiteral("%1: %2").arg(output, line);
}

// One run of the movie through the encoder.
class Run {
public:
    Run(const ConversionOptions& options, std::shared_ptr<const flash::Movie> movie, const Plan& plan,
        const std::function<void(const ConversionProgress&)>& progress, const std::atomic<bool>* cancel)
        : options(options), movie(movie), plan(plan), progress(progress), cancel(cancel),
          playback(movie, options.trace, options.notes) {
        inputs = options.inputs;
        // A key held to a time is released by an input of its own.
        for (const ScheduledInput& input : options.inputs)
            if (input.kind == ScheduledInput::Kind::Key && input.until) {
                ScheduledInput release = input;
                release.kind = ScheduledInput::Kind::KeyUp;
                release.seconds = *input.until;
                inputs.push_back(release);
            }
        std::stable_sort(inputs.begin(), inputs.end(), [](const ScheduledInput& a, const ScheduledInput& b) {
            return a.seconds < b.seconds;
        });
    }

    ConversionResult Execute(EncoderProcess& encoder);

private:
    double FrameTime(long long frame) const {
        return double(frame) * plan.rate.denominator / plan.rate.numerator;
    }
    long long ExpectedFrames() const;
    // Plays on to `seconds`: ticks (until the movie's end is known) and inputs due by then.
    void PlayTo(double seconds);
    void Deliver(const ScheduledInput& input);
    void NoteTick();
    // What the stage shows now, recorded for the pipeline's painters.
    std::shared_ptr<const flash::StageRecording> Record(int painters);
    bool Cancelled() const { return cancel && cancel->load(); }

    const ConversionOptions& options;
    std::shared_ptr<const flash::Movie> movie;
    Plan plan;
    const std::function<void(const ConversionProgress&)>& progress;
    const std::atomic<bool>* cancel;
    flash::Playback playback;
    flash::Renderer renderer;
    std::vector<ScheduledInput> inputs;
    std::size_t nextInput = 0;
    std::vector<ScheduledInput> releaseAfterTick; // keys held for one frame
    std::vector<std::int16_t> sound;
    int passes = 0;
    std::optional<double> endTime; // when the movie's own length is reached
};

long long Run::ExpectedFrames() const {
    const double rate = plan.rate.Value();
    switch (options.length) {
    case ConversionOptions::Length::Duration:
        return std::max<long long>(1, std::llround(std::ceil(options.duration * rate - TimeSlack)));
    case ConversionOptions::Length::Frames:
        return options.frames;
    case ConversionOptions::Length::OnePass:
    case ConversionOptions::Length::Loops:
        break;
    }
    const int loops = options.length == ConversionOptions::Length::Loops ? options.loops : 1;
    const double seconds =
        double(std::max(1, playback.GetPlayer().TotalFrames())) * loops / playback.FrameRate();
    return std::max<long long>(1, std::llround(std::ceil(seconds * rate - TimeSlack)));
}

void Run::NoteTick() {
    if (endTime || options.length == ConversionOptions::Length::Duration ||
        options.length == ConversionOptions::Length::Frames)
        return;
    const flash::Player& player = playback.GetPlayer();
    const int wanted = options.length == ConversionOptions::Length::Loops ? options.loops : 1;
    const bool inputsLeft = nextInput < inputs.size();
    const double tickEnd = double(playback.Ticks() + 1) / playback.FrameRate();
    if (player.CurrentFrame() == player.TotalFrames() - 1 && ++passes >= wanted)
        endTime = tickEnd;
    else if (!player.Playing() && !inputsLeft)
        endTime = tickEnd;
}

void Run::Deliver(const ScheduledInput& input) {
    flash::Player& player = playback.GetPlayer();
    if (input.kind == ScheduledInput::Kind::Key) {
        player.KeyDown(input.keyCode, input.ascii);
        if (!input.until)
            releaseAfterTick.push_back(input);
        return;
    }
    if (input.kind == ScheduledInput::Kind::KeyUp) {
        player.KeyUp(input.keyCode, input.ascii);
        return;
    }
    // Stage pixels to twips, from the stage's corner.
    const double x = movie->frameSize.xMin + input.x * flash::TwipsPerPixel,
                 y = movie->frameSize.yMin + input.y * flash::TwipsPerPixel;
    player.MouseMove(x, y);
    player.MouseDown(x, y);
    player.MouseUp(x, y);
}

void Run::PlayTo(double seconds) {
    for (;;) {
        const double nextTick = double(playback.Ticks() + 1) / playback.FrameRate();
        const bool tickDue = !endTime && nextTick <= seconds + TimeSlack;
        if (nextInput < inputs.size() && inputs[nextInput].seconds <= seconds + TimeSlack &&
            (!tickDue || inputs[nextInput].seconds < nextTick)) {
            const ScheduledInput& input = inputs[nextInput++];
            if (!endTime)
                playback.AdvanceTo(input.seconds, sound);
            Deliver(input);
            continue;
        }
        if (!tickDue)
            break;
        playback.AdvanceTo(nextTick, sound);
        NoteTick();
        for (const ScheduledInput& key : std::exchange(releaseAfterTick, {}))
            playback.GetPlayer().KeyUp(key.keyCode, key.ascii);
    }
    // Sound runs on to the time asked, also past the movie's end (its tail).
    const long long soundFrame = std::llround(std::floor(seconds * flash::MixRate + TimeSlack));
    if (soundFrame > playback.SoundFrames())
        playback.MixOn(soundFrame - playback.SoundFrames(), sound);
}

std::shared_ptr<const flash::StageRecording> Run::Record(int painters) {
    const flash::Player& player = playback.GetPlayer();
    return renderer.Record(player.GetMovie(), player.Stage(), plan.size, player.BackgroundColor(),
                           plan.pixelAspect, painters);
}

// Frames painted at once: one for each thread of the pool, and at least two, so that painting also
// overlaps with the recording of the next frame on a single core.
int PainterCount() {
    return std::max(2, QThreadPool::globalInstance()->maxThreadCount());
}

ConversionResult Run::Execute(EncoderProcess& encoder) {
    ConversionResult result;
    const auto started = std::chrono::steady_clock::now();
    const bool fixedLength = options.length == ConversionOptions::Length::Duration ||
                             options.length == ConversionOptions::Length::Frames;
    const long long fixedFrames = fixedLength ? ExpectedFrames() : 0;
    long long expected = ExpectedFrames();
    FramePipeline frames(encoder, plan.size, plan.format, PainterCount());
    bool pictured = false; // a frame was recorded
    // The ticks played and inputs delivered when the last frame was recorded: an output frame after
    // neither shows the same stage, so it repeats that frame.
    long long recordedTicks = 0;
    std::size_t recordedInputs = 0;
    long long written = 0;
    for (;; ++written) {
        if (Cancelled()) {
            result.error = QStringLiteral("%1: cancelled").arg(options.output);
            return result;
        }
        const double time = FrameTime(written);
        if (fixedLength) {
            if (written >= fixedFrames)
                break;
        } else if (endTime && time >= *endTime - TimeSlack) {
            // The sound's tail: the picture holds while a sound still plays.
            if (!playback.Sounding() || time >= *endTime + MaxSoundTailSeconds)
                break;
        } else if (!endTime && time >= MaxDefaultSeconds) {
            result.notes << QStringLiteral(
                                "%1 did not end by itself; it was cut after %2 seconds (--duration sets "
                                "the length)")
                                .arg(options.input)
                                .arg(MaxDefaultSeconds);
            break;
        }
        PlayTo(time);
        if (plan.video) {
            // After the movie's end the picture holds.
            const bool moved = playback.Ticks() != recordedTicks || nextInput != recordedInputs;
            const bool fresh = !pictured || ((!endTime || time < *endTime) && moved);
            recordedTicks = playback.Ticks();
            recordedInputs = nextInput;
            if (!(fresh ? frames.Submit(Record(frames.Painters())) : frames.Repeat())) {
                if (frames.OutOfMemory())
                    result.error = QStringLiteral("%1: not enough memory for a %2 frame")
                                       .arg(options.output, SizeText(plan.size));
                return result;
            }
            pictured = true;
        }
        if (plan.sound && !encoder.SendSound(std::move(sound)))
            return result;
        sound.clear();
        if (progress) {
            if (!fixedLength && endTime)
                expected = std::max(expected, written + 1);
            ConversionProgress report;
            report.frame = written + 1;
            report.expectedFrames = std::max(expected, written + 1);
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            report.speed = elapsed > 0 ? FrameTime(written + 1) / elapsed : 0;
            report.secondsLeft =
                report.frame > 0 ? elapsed / report.frame * (report.expectedFrames - report.frame) : -1;
            progress(report);
        }
    }
    // The sound ends with the last frame.
    PlayTo(FrameTime(written));
    if (plan.sound && !encoder.SendSound(std::move(sound)))
        return result;
    if (plan.video && !frames.Flush())
        return result;
    if (!fixedLength && options.length == ConversionOptions::Length::OnePass && plan.video && pictured) {
        // Still moving at the end: a stopped or one-frame main timeline whose clips play on. Nothing
        // paints any more, so this thread paints as the recording's own.
        playback.AdvanceTo(double(playback.Ticks() + 1) / playback.FrameRate(), sound);
        if (!frames.SameAsLast(*Record(frames.Painters())))
            result.notes << QStringLiteral(
                                "%1 is still moving at its end; --duration SECONDS converts more of it")
                                .arg(options.input);
    }
    result.ok = true;
    result.frames = written;
    result.seconds = FrameTime(written);
    return result;
}

ConversionResult RunPass(const ConversionOptions& options, const std::shared_ptr<const flash::Movie>& movie,
                         const Plan& plan, const QStringList& outputArguments,
                         const std::function<void(const ConversionProgress&)>& progress,
                         const std::atomic<bool>* cancel, const QString& outputName) {
    EncoderProcess encoder(cancel);
    QString error;
    if (!encoder.Start(options.encoder, InputArguments(plan) + outputArguments, plan.video, plan.sound,
                       error)) {
        ConversionResult result;
        result.error = QStringLiteral("%1: %2").arg(outputName, error);
        return result;
    }
    Run run(options, movie, plan, progress, cancel);
    ConversionResult result = run.Execute(encoder);
    if (!result.ok) {
        encoder.Kill();
        if (result.error.isEmpty())
            result.error = cancel && cancel->load() ? QStringLiteral("%1: cancelled").arg(outputName)
                                                    : EncoderFailure(encoder, outputName);
        return result;
    }
    if (!encoder.Finish()) {
        result.ok = false;
        result.error = EncoderFailure(encoder, outputName);
    }
    return result;
}

// The movie, or a message naming the file. A truncated movie is refused: the video would miss what
// was cut off and nobody would know. Tags skipped as damaged are only warned about, as Flash Player
// plays such movies too.
flash::ReadResult ReadForConversion(const QString& fileName) {
    flash::ReadResult read = flash::ReadMovieFile(fileName);
    if (!read.movie) {
        read.error = QStringLiteral("%1: %2").arg(fileName, read.error);
        return read;
    }
    for (const QString& warning : read.warnings)
        if (warning.contains(QLatin1String("truncated"))) {
            read.movie.reset();
            read.error = QStringLiteral("%1: %2").arg(fileName, warning);
            return read;
        }
    return read;
}

} // namespace

FrameRate FrameRate::FromDouble(double fps) {
    for (const int base : {24, 30, 60})
        if (std::abs(fps - base * 1000.0 / 1001) < 0.006)
            return {base * 1000, 1001};
    if (std::abs(fps - std::round(fps)) < 1e-6)
        return {int(std::lround(fps)), 1};
    return {int(std::lround(fps * 1000)), 1000};
}

QString CheckOptions(const ConversionOptions& options) {
    const flash::ReadResult read = ReadForConversion(options.input);
    if (!read.movie)
        return read.error;
    Plan plan;
    return MakePlan(options, *read.movie, plan);
}

ConversionResult Convert(const ConversionOptions& options,
                         const std::function<void(const ConversionProgress&)>& progress,
                         const std::atomic<bool>* cancel) {
    ConversionResult result;
    const flash::ReadResult read = ReadForConversion(options.input);
    if (!read.movie) {
        result.error = read.error;
        return result;
    }
    Plan plan;
    if (const QString problem = MakePlan(options, *read.movie, plan); !problem.isEmpty()) {
        result.error = problem.startsWith(options.input)
                           ? problem
                           : QStringLiteral("%1: %2").arg(options.input, problem);
        return result;
    }
    const bool pattern = options.target == Target::Png;
    if (pattern && !IsFramePattern(options.output)) {
        result.error = QStringLiteral("%1: png output needs a name with %d (or %05d) for the frame number")
                           .arg(options.output);
        return result;
    }
    TemporaryOutput output(options.output, pattern);
    if (const QString problem = output.Create(); !problem.isEmpty()) {
        result.error = problem;
        return result;
    }
    QStringList outputArguments = OutputArguments(options.target, output.EncoderPath());
    if (options.target == Target::Gif) {
        // A palette made for the movie: a first pass collects its colours, the second uses them.
        QTemporaryDir work;
        if (!work.isValid()) {
            result.error =
                QStringLiteral("%1: cannot make a work folder: %2").arg(options.output, work.errorString());
            return result;
        }
        const QString palette = work.filePath(QStringLiteral("palette.png"));
        Plan firstPass = plan;
        firstPass.sound = false;
        result = RunPass(options, read.movie, firstPass,
                         {"-vf", "palettegen=stats_mode=full", "-f", "image2", "-update", "1", palette}, {},
                         cancel, options.output);
        if (!result.ok)
            return result;
        outputArguments =
            QStringList{"-i", palette, "-filter_complex", "[0:v][1:v]paletteuse=dither=sierra2_4a"} +
            outputArguments;
        plan.sound = false;
    }
    result = RunPass(options, read.movie, plan, outputArguments, progress, cancel, options.output);
    if (!result.ok)
        return result;
    for (const QString& warning : read.warnings)
        result.notes << QStringLiteral("%1: %2").arg(options.input, warning);
    if (const QString problem = output.Commit(); !problem.isEmpty()) {
        result.ok = false;
        result.error = problem;
    }
    return result;
}

} // namespace convert
