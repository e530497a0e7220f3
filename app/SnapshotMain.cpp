// vantrel-snapshot: renders one frame of a movie to a PNG, or prints what the movie's header says.
//   vantrel-snapshot MOVIE.swf --frame N [--width W --height H] -o OUT.png
//   vantrel-snapshot MOVIE.swf --play N [--trace] [--width W --height H] -o OUT.png
// --frame seeks to frame N (zero-based) without running scripts on the way; --play plays N frames
// from the start as a viewer sees them (the first frame shown is the first), scripts included.
//   vantrel-snapshot MOVIE.swf --info
//   vantrel-snapshot MOVIE.swf --thumbnail SIZE -o OUT.png
// --thumbnail makes a file manager's thumbnail (see app/Thumbnail.h) and gives up, with status 1 and
// no output, when it takes longer than a second: a huge or damaged movie never holds a file manager.
#include "app/Thumbnail.h"
#include "flash/player/Playback.h"
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"
#include "flash/swf/SwfReader.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {
// A day of a 60 fps movie: beyond that --play is a typing error, not a wish.
constexpr long long MaxPlayedFrames = 60LL * 60 * 60 * 24;
constexpr int MaxThumbnailSide = 4096;

// Ends the program after a second, wherever the work is; the output is only ever written whole.
void GiveUpAfterASecond() {
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::fputs("vantrel-snapshot: gave up: the movie takes too long to read or draw\n", stderr);
        std::_Exit(1);
    }).detach();
}

int Fail(const QString& Message) {
    std::fprintf(stderr, "vantrel-snapshot: %s\n", qUtf8Printable(Message));
    return 1;
}

const char* CompressionName(flash::Movie::Compression Compression) {
    switch (Compression) {
    case flash::Movie::Compression::Zlib:
        return "zlib";
    case flash::Movie::Compression::Lzma:
        return "lzma";
    default:
        return "none";
    }
}
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Renders a frame of a Flash movie to a PNG image.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("movie", "The .swf file.");
    const QCommandLineOption frameOption("frame", "Zero-based frame to render.", "N", "0");
    const QCommandLineOption playOption("play", "Play N frames from the start and render the last.", "N");
    const QCommandLineOption traceOption("trace", "Print the movie's trace() lines, and on standard error a "
                                                  "line for each getURL, fscommand and load by "
                                                  "URL it asks for (\"getURL: URL WINDOW\", \"fscommand: "
                                                  "COMMAND ARGS\"), none of which is carried out.");
    const QCommandLineOption widthOption("width", "Image width (default: the stage's).", "W");
    const QCommandLineOption heightOption("height", "Image height (default: the stage's).", "H");
    const QCommandLineOption outputOption("o", "The PNG file to write.", "OUT.png");
    const QCommandLineOption infoOption("info", "Print the movie's header.");
    const QCommandLineOption thumbnailOption(
        "thumbnail", "Write a thumbnail fitting SIZE x SIZE, or give up after a second.", "SIZE");
    parser.addOptions({frameOption, playOption, traceOption, widthOption, heightOption, outputOption,
                       infoOption, thumbnailOption});
    if (!parser.parse(application.arguments()))
        return Fail(parser.errorText());
    if (parser.isSet("help")) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet("version")) {
        std::printf("vantrel-snapshot %s\n", VANTREL_VERSION);
        return 0;
    }
    if (parser.positionalArguments().size() != 1)
        return Fail("give one movie file");
    const bool thumbnail = parser.isSet(thumbnailOption);
    bool ok = true;
    const int thumbnailSide = thumbnail ? parser.value(thumbnailOption).toInt(&ok) : 0;
    if (thumbnail) {
        if (!ok || thumbnailSide < 1 || thumbnailSide > MaxThumbnailSide)
            return Fail(QStringLiteral("--thumbnail takes 1 to %1 pixels").arg(MaxThumbnailSide));
        if (!parser.isSet(outputOption))
            return Fail("give the output file with -o OUT.png");
        GiveUpAfterASecond();
    }

    const flash::ReadResult read = flash::ReadMovieFile(parser.positionalArguments().front());
    if (!read.movie)
        return Fail(QStringLiteral("%1: %2").arg(parser.positionalArguments().front(), read.error));
    const flash::Movie& movie = *read.movie;
    const int stageWidth = int(std::lround(movie.frameSize.Width() / flash::TwipsPerPixel));
    const int stageHeight = int(std::lround(movie.frameSize.Height() / flash::TwipsPerPixel));

    if (parser.isSet(infoOption)) {
        std::printf("version: %d\ncompression: %s\nwidth: %d\nheight: %d\nframe rate: %g\nframes: %d\n",
                    movie.version, CompressionName(movie.compression), stageWidth, stageHeight,
                    movie.frameRate, movie.timeline.FrameCount());
        return 0;
    }
    if (thumbnail) {
        const QImage image = thumbnail::Render(read.movie, thumbnailSide);
        if (image.isNull())
            return Fail("the movie's stage has no area");
        QSaveFile file(parser.value(outputOption));
        if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit())
            return Fail(QStringLiteral("cannot write %1").arg(parser.value(outputOption)));
        return 0;
    }
    if (!parser.isSet(outputOption))
        return Fail("give the output file with -o OUT.png");

    const int frame = parser.value(frameOption).toInt(&ok);
    if (!ok || frame < 0)
        return Fail("the frame must be a number from 0 on");
    const bool play = parser.isSet(playOption);
    const long long played = play ? parser.value(playOption).toLongLong(&ok) : 0;
    if (play && (!ok || played < 1 || played > MaxPlayedFrames))
        return Fail(QStringLiteral("--play takes 1 to %1 frames").arg(MaxPlayedFrames));
    if (play && parser.isSet(frameOption))
        return Fail("give --frame or --play, not both");
    const int width = parser.isSet(widthOption) ? parser.value(widthOption).toInt(&ok) : stageWidth;
    const bool widthOk = ok;
    const int height = parser.isSet(heightOption) ? parser.value(heightOption).toInt(&ok) : stageHeight;
    if (!widthOk || !ok || width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return Fail("the image size must be 1 to 16384 pixels each way");

    flash::Player::TraceHandler trace, notes;
    if (parser.isSet(traceOption)) {
        trace = [](const QString& line) { std::printf("%s\n", qUtf8Printable(line)); };
        // Apart from the trace() lines, which stay as Flash Player prints them.
        notes = [](const QString& line) { std::fprintf(stderr, "%s\n", qUtf8Printable(line)); };
    }
    // Played frames run on a conversion's clock with the sound mixed (and dropped), so a script
    // asking where a sound has got to hears what a viewer would.
    std::unique_ptr<flash::Playback> playback;
    std::unique_ptr<flash::Player> seeker;
    if (play) {
        playback = std::make_unique<flash::Playback>(read.movie, trace, notes);
        std::vector<std::int16_t> sound;
        for (long long tick = 1; tick < played; ++tick) {
            playback->AdvanceTo(double(tick) / playback->FrameRate(), sound);
            sound.clear();
        }
    } else {
        seeker = std::make_unique<flash::Player>(read.movie, nullptr, trace, notes);
    }
    flash::Player& player = play ? playback->GetPlayer() : *seeker;
    if (!play) {
        player.Stop();
        if (frame >= player.TotalFrames())
            return Fail(QStringLiteral("the movie has %1 frames").arg(player.TotalFrames()));
        player.GotoFrame(frame);
    }

    // What the reader and the player skipped, once each.
    for (const QString& warning : read.warnings + player.Warnings())
        std::fprintf(stderr, "vantrel-snapshot: warning: %s\n", qUtf8Printable(warning));

    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&image);
        flash::Renderer renderer;
        renderer.RenderStage(painter, player.GetMovie(), player.Stage(), image.size(),
                             player.BackgroundColor());
    }
    if (!image.save(parser.value(outputOption), "PNG"))
        return Fail(QStringLiteral("cannot write %1").arg(parser.value(outputOption)));
    return 0;
}
