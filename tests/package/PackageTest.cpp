// The .deb package that `make package` makes: its files and dependencies, the programs unpacked into
// a throwaway root and run from there, and the package and its desktop files through their validators.
#include "SwfWriter.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace flash::writer;

namespace {

struct TRun {
    int ExitCode = -1;
    QString Output;
};

// Standard output and error together: the validators report on either.
TRun RunProcess(const QString& Program, const QStringList& Arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(Program, Arguments);
    if (!process.waitForFinished(240000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << Program.toStdString() << " did not finish";
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput())};
}

class PackageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const QStringList debs = QDir(QStringLiteral(VANTREL_PACKAGE_DIR)).entryList({"*.deb"}, QDir::Files);
        ASSERT_EQ(debs.size(), 1) << "the package_build test makes one package in " VANTREL_PACKAGE_DIR;
        Deb = QStringLiteral(VANTREL_PACKAGE_DIR "/") + debs.front();
        Root = std::make_unique<TestDir>();
        const TRun unpacked = RunProcess("dpkg", {"-x", Deb, Root->path("root")});
        ASSERT_EQ(unpacked.ExitCode, 0) << unpacked.Output.toStdString();
    }
    static void TearDownTestSuite() { Root.reset(); }

    static QString Installed(const QString& Path) { return Root->path("root") + Path; }

    static inline QString Deb;
    static inline std::unique_ptr<TestDir> Root;
};

} // namespace

TEST_F(PackageTest, InstallsTheProgramsAndDesktopFilesAndNeedsTheEncoder) {
    const TRun contents = RunProcess("dpkg-deb", {"--contents", Deb});
    ASSERT_EQ(contents.ExitCode, 0);
    for (const char* path :
         {"./usr/bin/vantrel -> ../lib/vantrel/vantrel", "./usr/bin/vantrel-convert",
          "./usr/bin/vantrel-snapshot", "./usr/lib/vantrel/vantrel",
          "./usr/lib/vantrel/ffmpeg -> ../../bin/ffmpeg", "./usr/share/applications/vantrel.desktop",
          "./usr/share/icons/hicolor/scalable/apps/vantrel.svg",
          "./usr/share/icons/hicolor/48x48/apps/vantrel.png",
          "./usr/share/icons/hicolor/256x256/apps/vantrel.png",
          "./usr/share/metainfo/io.github.vantrel.Vantrel.metainfo.xml",
          "./usr/share/thumbnailers/vantrel.thumbnailer", "./usr/share/man/man1/vantrel.1.gz",
          "./usr/share/man/man1/vantrel-convert.1.gz", "./usr/share/man/man1/vantrel-snapshot.1.gz",
          "./usr/share/doc/vantrel/copyright"})
        EXPECT_TRUE(contents.Output.contains(QLatin1String(path))) << path;
    EXPECT_FALSE(contents.Output.contains("_tests")) << "no test programs";

    const TRun depends = RunProcess("dpkg-deb", {"--field", Deb, "Depends"});
    ASSERT_EQ(depends.ExitCode, 0);
    const QStringList needed = depends.Output.trimmed().split(QRegularExpression(",\\s*"));
    for (const char* name : {"ffmpeg", "fonts-liberation", "qt6-qpa-plugins"})
        EXPECT_TRUE(needed.contains(name)) << depends.Output.toStdString();
    // The libraries the programs link come from the system's packages.
    EXPECT_TRUE(depends.Output.contains("libqt6widgets6")) << depends.Output.toStdString();
    EXPECT_TRUE(depends.Output.contains("libavcodec")) << depends.Output.toStdString();
}

TEST_F(PackageTest, TheUnpackedProgramsRunFromTheirInstalledPlaces) {
    const QString movie = Root->path("movie.swf");
    WriteWholeFile(movie, MovieBuilder()
                              .Stage({0, 6400, 0, 4800})
                              .FrameRate(15)
                              .FrameCount(3)
                              .Add(ShowFrame() + ShowFrame() + ShowFrame())
                              .Build());
    const TRun info = RunProcess(Installed("/usr/bin/vantrel-snapshot"), {movie, "--info"});
    ASSERT_EQ(info.ExitCode, 0) << info.Output.toStdString();
    EXPECT_TRUE(info.Output.contains("width: 320\nheight: 240\nframe rate: 15\nframes: 3"))
        << info.Output.toStdString();

    for (const char* program : {"/usr/bin/vantrel", "/usr/bin/vantrel-convert"}) {
        const TRun version = RunProcess(Installed(program), {"--version"});
        EXPECT_EQ(version.ExitCode, 0) << program;
        EXPECT_TRUE(version.Output.contains(VANTREL_VERSION))
            << program << ": " << version.Output.toStdString();
    }
    // The window runs the encoder in its own folder, the real one behind /usr/bin/vantrel: once
    // installed, its link there reaches the system's ffmpeg.
    EXPECT_EQ(QFileInfo(Installed("/usr/bin/vantrel")).canonicalFilePath(),
              QFileInfo(Installed("/usr/lib/vantrel/vantrel")).canonicalFilePath());
    const QString encoderLink = QFile::symLinkTarget(Installed("/usr/lib/vantrel/ffmpeg"));
    EXPECT_EQ(QDir::cleanPath(encoderLink), Installed("/usr/bin/ffmpeg"));
    EXPECT_TRUE(QFileInfo("/usr/bin/ffmpeg").isExecutable()) << "the package's Depends brings it";
}

TEST_F(PackageTest, ThePackageAndItsDesktopFilesPassTheirValidators) {
    const TRun lintian = RunProcess("lintian", {"--fail-on", "error", "--allow-root", Deb});
    EXPECT_EQ(lintian.ExitCode, 0) << lintian.Output.toStdString();

    const TRun desktop =
        RunProcess("desktop-file-validate", {Installed("/usr/share/applications/vantrel.desktop")});
    EXPECT_EQ(desktop.ExitCode, 0) << desktop.Output.toStdString();
    EXPECT_TRUE(desktop.Output.trimmed().isEmpty()) << desktop.Output.toStdString();

    const TRun metainfo =
        RunProcess("appstreamcli", {"validate", "--no-net", "--explain",
                                    Installed("/usr/share/metainfo/io.github.vantrel.Vantrel.metainfo.xml")});
    EXPECT_EQ(metainfo.ExitCode, 0) << metainfo.Output.toStdString();

    // The manual pages format without complaint.
    for (const char* page : {"vantrel", "vantrel-convert", "vantrel-snapshot"}) {
        const TRun man =
            RunProcess("sh", {"-c", QStringLiteral("gzip -dc \"$0\" | groff -man -Tutf8 -ww -z"),
                              Installed(QStringLiteral("/usr/share/man/man1/%1.1.gz").arg(page))});
        EXPECT_EQ(man.ExitCode, 0) << page;
        EXPECT_TRUE(man.Output.trimmed().isEmpty()) << page << ": " << man.Output.toStdString();
    }
}

TEST_F(PackageTest, TheThumbnailerEntryMakesAThumbnailWithoutADisplay) {
    const QString entry =
        QString::fromUtf8(ReadWholeFile(Installed("/usr/share/thumbnailers/vantrel.thumbnailer")));
    EXPECT_TRUE(entry.contains("MimeType=application/x-shockwave-flash;application/vnd.adobe.flash.movie;"));
    const QRegularExpressionMatch exec =
        QRegularExpression("^Exec=(.*)$", QRegularExpression::MultilineOption).match(entry);
    ASSERT_TRUE(exec.hasMatch()) << entry.toStdString();

    // A 640x200 stage with a red box: run as a file manager would, the installed program, the
    // fields filled in, no display and no Qt settings in the environment.
    const QString movie = Root->path("wide.swf");
    MovieBuilder builder;
    builder.Stage({0, 12800, 0, 4000}).FrameRate(12).FrameCount(1);
    builder.Add(DefineShape(ShapeDefinition()
                                .Id(1)
                                .Fills({Solid({220, 20, 20, 255})})
                                .Records(ShapeRecords().Fill1(1).Box(0, 0, 12800, 4000))));
    builder.Add(PlaceObjectTag(Place(1, 1)) + ShowFrame());
    WriteWholeFile(movie, builder.Build());
    QStringList arguments = QProcess::splitCommand(exec.captured(1));
    ASSERT_FALSE(arguments.isEmpty());
    const QString program = Installed("/usr/bin/" + arguments.takeFirst());
    arguments.replaceInStrings("%i", movie)
        .replaceInStrings("%s", "128")
        .replaceInStrings("%o", Root->path("thumb.png"));

    QProcess process;
    QProcessEnvironment environment;
    environment.insert("PATH", "/usr/bin:/bin");
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const QImage thumbnail(Root->path("thumb.png"));
    EXPECT_EQ(thumbnail.size(), QSize(128, 40));
    EXPECT_EQ(thumbnail.pixelColor(64, 20).red(), 220);
}
