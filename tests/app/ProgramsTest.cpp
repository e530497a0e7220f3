// The programs as a user or a file manager runs them: --help and --version, and thumbnails.
#include "SwfWriter.h"
#include "TestFiles.h"

#include "app/Thumbnail.h"

#include <QImage>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace flash::writer;

namespace {

struct TRun {
    int ExitCode = -1;
    QString Output;
    QString Errors;
};

TRun RunProcess(const QString& Program, const QStringList& Arguments) {
    QProcess process;
    process.start(Program, Arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << Program.toStdString() << " did not finish";
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// A 400x200 stage at 10 fps: frames before FirstDrawn show nothing, then a red box in its top left.
QByteArray MovieDrawnFrom(int FirstDrawn, int Frames = 20) {
    MovieBuilder movie;
    movie.Stage({0, 8000, 0, 4000}).FrameRate(10).FrameCount(std::uint16_t(Frames));
    movie.Add(SetBackgroundColorTag({255, 255, 255, 255}));
    movie.Add(DefineShape(ShapeDefinition()
                              .Id(1)
                              .Fills({Solid({220, 20, 20, 255})})
                              .Records(ShapeRecords().Fill1(1).Box(0, 0, 4000, 2000))));
    for (int frame = 0; frame < Frames; ++frame) {
        if (frame == FirstDrawn)
            movie.Add(PlaceObjectTag(Place(1, 1)));
        movie.Add(ShowFrame());
    }
    return movie.Build();
}

bool RedAtTopLeft(const QImage& Image) {
    const QColor colour = Image.pixelColor(Image.width() / 8, Image.height() / 8);
    return colour.red() > 200 && colour.green() < 60;
}

} // namespace

TEST(ProgramsTest, HelpAndVersionPrintAndExitWithoutAMovie) {
    for (const QString& program : {QStringLiteral(VANTREL_WINDOW), QStringLiteral(VANTREL_CONVERT),
                                   QStringLiteral(VANTREL_SNAPSHOT)}) {
        SCOPED_TRACE(program.toStdString());
        const TRun help = RunProcess(program, {"--help"});
        EXPECT_EQ(help.ExitCode, 0) << help.Errors.toStdString();
        EXPECT_TRUE(help.Output.contains("--version")) << help.Output.toStdString();
        const TRun version = RunProcess(program, {"--version"});
        EXPECT_EQ(version.ExitCode, 0);
        EXPECT_TRUE(version.Output.contains(QStringLiteral(VANTREL_VERSION))) << version.Output.toStdString();
    }
    const TRun wrong = RunProcess(QStringLiteral(VANTREL_WINDOW), {"--no-such-option"});
    EXPECT_EQ(wrong.ExitCode, 2);
    EXPECT_TRUE(wrong.Errors.contains("no-such-option")) << wrong.Errors.toStdString();
}

TEST(ProgramsTest, ThumbnailsFitTheSquareWithTheAspectKept) {
    struct Case {
        QSize Stage;
        int Side;
        QSize Expected;
    };
    for (const Case& c :
         {Case{{400, 200}, 128, {128, 64}}, Case{{200, 400}, 256, {128, 256}},
          Case{{550, 400}, 100, {100, 73}}, Case{{5000, 1}, 64, {64, 1}}, Case{{0, 400}, 128, {}}}) {
        EXPECT_EQ(thumbnail::FittedSize(c.Stage, c.Side), c.Expected)
            << c.Stage.width() << "x" << c.Stage.height();
    }
}

TEST(ProgramsTest, TheThumbnailShowsTheFirstFrameThatDrawsSomething) {
    TestDir dir;
    struct Case {
        int FirstDrawn;
        bool Red; // drawn within the first second (10 frames), or seen at the frame a second in
    };
    for (const Case& c : {Case{0, true}, Case{4, true}, Case{9, true}, Case{15, false}}) {
        SCOPED_TRACE(c.FirstDrawn);
        const QString movie = dir.path(QStringLiteral("m%1.swf").arg(c.FirstDrawn));
        const QString png = dir.path(QStringLiteral("m%1.png").arg(c.FirstDrawn));
        WriteWholeFile(movie, MovieDrawnFrom(c.FirstDrawn));
        const TRun run =
            RunProcess(QStringLiteral(VANTREL_SNAPSHOT), {movie, "--thumbnail", "128", "-o", png});
        ASSERT_EQ(run.ExitCode, 0) << run.Errors.toStdString();
        const QImage image(png);
        EXPECT_EQ(image.size(), QSize(128, 64));
        EXPECT_EQ(RedAtTopLeft(image), c.Red);
    }
}

TEST(ProgramsTest, ADamagedOrWrongThumbnailRequestFailsCleanlyWithoutOutput) {
    TestDir dir;
    WriteWholeFile(dir.path("good.swf"), MovieDrawnFrom(0));
    WriteWholeFile(dir.path("damaged.swf"),
                   QByteArray("CWS\x0a\x40\x00\x00\x00", 8) + QByteArray(64, '\x5a'));
    WriteWholeFile(dir.path("empty.swf"), QByteArray());
    struct Case {
        QString Movie;
        QString Side;
    };
    for (const Case& c : {Case{"damaged.swf", "128"}, Case{"empty.swf", "128"}, Case{"missing.swf", "128"},
                          Case{"good.swf", "0"}, Case{"good.swf", "huge"}}) {
        SCOPED_TRACE((c.Movie + " " + c.Side).toStdString());
        const TRun run = RunProcess(QStringLiteral(VANTREL_SNAPSHOT),
                                    {dir.path(c.Movie), "--thumbnail", c.Side, "-o", dir.path("out.png")});
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_FALSE(run.Errors.isEmpty());
        EXPECT_FALSE(QFile::exists(dir.path("out.png")));
    }
}

TEST(ProgramsTest, AThumbnailOfAMovieThatNeverArrivesIsGivenUp) {
    // Reading a pipe nobody writes blocks for ever: only the time limit ends the program.
    TestDir dir;
    ASSERT_EQ(mkfifo(QFile::encodeName(dir.path("stuck.swf")).constData(), 0600), 0);
    const TRun run = RunProcess(QStringLiteral(VANTREL_SNAPSHOT),
                                {dir.path("stuck.swf"), "--thumbnail", "128", "-o", dir.path("out.png")});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(run.Errors.contains("gave up")) << run.Errors.toStdString();
    EXPECT_FALSE(QFile::exists(dir.path("out.png")));
}
