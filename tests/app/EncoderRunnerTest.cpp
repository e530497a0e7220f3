#include "app/EncoderRunner.h"

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>

using namespace std::chrono_literals;

namespace {

// The program's folder as the window keeps it: with a separator at its end.
QString Folder(const TestDir& Dir) {
    return Dir.path("") + u'/';
}

// Expected figures are written with '.'; the program shows the user's separator.
QString Localised(QString Text) {
    return Text.replace(u'.', QLocale::system().decimalPoint());
}

TEST(EncoderRunnerTest, CommandLineForEveryTargetWithAndWithoutAudio) {
    TEncoderJob job{"/opt/my tools/", "/tmp/clip 1.wav", "/tmp/clip 1.avi", "/home/u/My Videos/clip.avi"};
    const QString encoder = R"("/opt/my tools/ffmpeg" -y)";
    const QString audio = R"( -i "/tmp/clip 1.wav")";
    const QString video = R"( -i "/tmp/clip 1.avi")";
    const QString output = R"( "/home/u/My Videos/clip.avi")";
    const struct {
        int Audio;
        int Video;
        QString Line;
    } cases[] = {
        {0, 0, encoder + audio + video + " -target ntsc-vcd" + output},
        {0, 1, encoder + audio + video + " -target ntsc-dvd" + output},
        {0, 2, encoder + audio + video + " -target pal-vcd" + output},
        {0, 3, encoder + audio + video + " -target pal-dvd" + output},
        {0, 4,
         encoder + audio + video +
             " -c:v libx264 -preset ultrafast -crf 16 -pix_fmt yuv420p -c:a aac -b:a 192k -ar 48000 -movflags "
             "+faststart -f mp4" +
             output},
        {0, 5,
         encoder + audio + video +
             " -c:v libvpx-vp9 -crf 32 -b:v 0 -deadline realtime -cpu-used 8 -row-mt 1 -pix_fmt yuv420p -c:a "
             "libopus -b:a 128k -ar 48000 -f webm" +
             output},
        {1, 6,
         encoder + video +
             " -vf split[frames][copy];[copy]palettegen[palette];[frames][palette]paletteuse -f gif" +
             output},
        {0, 7, encoder + audio + video + output},
        {1, 0, encoder + video + " -target ntsc-vcd" + output},
        {1, 1, encoder + video + " -target ntsc-dvd" + output},
        {1, 2, encoder + video + " -target pal-vcd" + output},
        {1, 3, encoder + video + " -target pal-dvd" + output},
        {1, -1, encoder + video + output},
    };
    for (const auto& c : cases) {
        job.AudioOption = c.Audio;
        job.VideoOption = c.Video;
        EXPECT_EQ(EncoderCommandLine(job), c.Line);
        // The argument vector is what the line means, names kept whole.
        EXPECT_EQ(EncoderArguments(job), SplitCommandLine(c.Line)) << c.Line.toStdString();
    }
}

TEST(EncoderRunnerTest, CommandLineOfTheUsualExample) {
    const TEncoderJob job{
        "/usr/lib/vantrel/", "/tmp/clip.wav", "/tmp/clip.avi", "/home/u/Video/clip.avi", 0, 3};
    EXPECT_EQ(EncoderCommandLine(job), R"("/usr/lib/vantrel/ffmpeg" -y -i "/tmp/clip.wav" -i "/tmp/clip.avi")"
                                       R"( -target pal-dvd "/home/u/Video/clip.avi")");
    EXPECT_EQ(EncoderArguments(job),
              QStringList({"/usr/lib/vantrel/ffmpeg", "-y", "-i", "/tmp/clip.wav", "-i", "/tmp/clip.avi",
                           "-target", "pal-dvd", "/home/u/Video/clip.avi"}));
    EXPECT_EQ(StartCaption("/home/u/My Video/clip.avi"),
              R"(Start to convert "/home/u/My Video/clip.avi" ...)");
}

TEST(EncoderRunnerTest, FormatSizeUsesDecimalUnits) {
    const struct {
        qint64 Bytes;
        QString Text;
    } cases[] = {
        {0, "0 Bytes"},
        {999, "999 Bytes"},
        {1000, "1.00 KB"},
        {900 * 1024, "921.60 KB"},
        {999994, "999.99 KB"},
        {1000000, "1.00 MB"},
        {1234 * 1024, "1.26 MB"},
        {2147483647, "2147.48 MB"},
        {2097152LL * 1024, "2147.48 MB"}, // no longer overflows
        {3000000LL * 1024, "3072.00 MB"}, // no thousands separator either
        {123456789012345LL, "123456789.01 MB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatSize(c.Bytes), Localised(c.Text)) << c.Bytes;
}

TEST(EncoderRunnerTest, PosFromCountsFromOne) {
    const struct {
        QString Sub, Text;
        int Start, Pos;
    } cases[] = {
        {"b", "abcb", 1, 2}, {"b", "abcb", 2, 2}, {"b", "abcb", 3, 4}, {"b", "abcb", 5, 0},
        {"x", "abcb", 1, 0}, {"a", "abcb", 0, 0}, {"", "abcb", 1, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PosFrom(c.Sub, c.Text, c.Start), c.Pos) << c.Sub.toStdString() << " " << c.Start;
}

TEST(EncoderRunnerTest, ProgressCaptionShowsTheSizeBetweenSizeAndTime) {
    const QString movie = "/home/u/My Movies/intro.swf";
    const QString prefix = R"(Converting "/home/u/My Movies/intro.swf" ... )";
    const struct {
        QString Text;
        std::optional<QString> Size;
    } cases[] = {
        {"size=     512kB time=00:00:03.20", "524.29 KB"},
        {"frame=   81 fps= 27 q=4.0 size=    1234kB time=00:00:03.24 bitrate=3120.2kbits/s speed=1.08x    \r",
         "1.26 MB"},
        {"frame= 9000 fps= 30 q=-1.0 Lsize= 3000000kB time=00:05:00.00 bitrate=81920.0kbits/s speed=1x\n",
         "3072.00 MB"},
        {"size=     512KiB time=00:00:03.20", "524.29 KB"},
        {"size=\t 512kB\r\n time=00:00:03.20", "524.29 KB"},
        {"size=       0kB time=00:00:00.00", "0kb"},
        {"size=N/A time=00:00:00.04 bitrate=N/A", "n/a"},
        {"size=  2MB time=00:00:01.00", "2mb"},
        {"size=  12xkB time=00:00:01.00", "12xkb"},
        {"time=00:00:01.00 size=  512kB time=00:00:02.00", "524.29 KB"},
        {"time=00:00:01.00 size=  512kB", std::nullopt},
        {"frame=   10 fps=0.0 q=0.0 bitrate=N/A", std::nullopt},
        {"time=00:00:01.00", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const std::optional<QString> caption = ProgressCaption(c.Text, movie);
        if (!c.Size)
            EXPECT_FALSE(caption.has_value()) << c.Text.toStdString();
        else
            EXPECT_EQ(caption.value_or("(none)"), prefix + Localised(*c.Size)) << c.Text.toStdString();
    }
}

TEST(EncoderRunnerTest, FileHasSignatureComparesBytesAtAnOffset) {
    TestDir dir;
    const QString file = dir.path("data");
    WriteWholeFile(file, "0123456789");
    EXPECT_TRUE(FileHasSignature(file, 0, "0123"));
    EXPECT_TRUE(FileHasSignature(file, 6, "6789"));
    EXPECT_FALSE(FileHasSignature(file, 5, "6789"));
    EXPECT_FALSE(FileHasSignature(file, 8, "89AB")) << "file too short";
    EXPECT_FALSE(FileHasSignature(file, 20, "0"));
    EXPECT_FALSE(FileHasSignature(file, -1, "0"));
    EXPECT_FALSE(FileHasSignature(dir.path("missing"), 0, "0"));
}

TEST(EncoderRunnerTest, EncoderFilesPresentWantsAnExecutableElfNamedFfmpeg) {
    const QString system = "/usr/bin/ffmpeg";
    if (!QFile::exists(system))
        GTEST_SKIP() << "no " << system.toStdString();
    TestDir linked;
    ASSERT_TRUE(QFile::link(system, linked.path("ffmpeg")));
    EXPECT_TRUE(EncoderFilesPresent(Folder(linked)));

    TestDir empty;
    EXPECT_FALSE(EncoderFilesPresent(Folder(empty)));

    TestDir script;
    WriteWholeFile(script.path("ffmpeg"), "#!/bin/sh\nexec /usr/bin/ffmpeg \"$@\"\n");
    QFile::setPermissions(script.path("ffmpeg"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_FALSE(EncoderFilesPresent(Folder(script))) << "not an ELF program";

    TestDir notExecutable;
    ASSERT_TRUE(QFile::copy(system, notExecutable.path("ffmpeg")));
    QFile::setPermissions(notExecutable.path("ffmpeg"), QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_FALSE(EncoderFilesPresent(Folder(notExecutable)));

    TestDir dangling;
    ASSERT_TRUE(QFile::link(dangling.path("gone"), dangling.path("ffmpeg")));
    EXPECT_FALSE(EncoderFilesPresent(Folder(dangling)));
}

class ReadEncoderOutputTest : public ::testing::Test {
protected:
    HANDLE Read = 0;
    HANDLE Write = 0;

    void SetUp() override { ASSERT_TRUE(CreatePipe(&Read, &Write, nullptr, 0)); }
    void TearDown() override {
        CloseHandle(Read);
        CloseHandle(Write);
    }

    void Put(const QByteArray& Bytes) {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(Write, Bytes.constData(), Bytes.size(), &written, nullptr));
    }

    // Our write end stays open throughout, so any read that waits would wait for ever.
    std::optional<QString> ReadPromptly() {
        const HANDLE pipe = Read;
        return Promptly([pipe] { return ReadEncoderOutput(pipe, 1024); });
    }
};

TEST_F(ReadEncoderOutputTest, NothingWaitingOrNoPipeGivesEmptyText) {
    EXPECT_EQ(ReadPromptly(), QString());
    EXPECT_EQ(ReadEncoderOutput(0, 1024), QString());
}

TEST_F(ReadEncoderOutputTest, OnlyTheLastChunkIsKept) {
    Put(QByteArray(1024, 'a') + QByteArray(1024, 'b') + "size=  512kB time=00:00:03.20");
    EXPECT_EQ(ReadPromptly(), "size=  512kB time=00:00:03.20");
    EXPECT_EQ(GetFileSize(Read, nullptr), 0u);
}

TEST_F(ReadEncoderOutputTest, ExactMultipleOfTheBufferDoesNotBlock) {
    Put(QByteArray(1024, 'a') + QByteArray(1024, 'b'));
    EXPECT_EQ(ReadPromptly(), QString(1024, u'b'));
    Put(QByteArray(1024, 'c'));
    EXPECT_EQ(ReadPromptly(), QString(1024, u'c'));
}

TEST(EncoderProcessTest, RunsWithOnePipeForOutputAndErrorsAndResetForgetsIt) {
    TEncoderProcess encoder;
    ASSERT_TRUE(encoder.Start(QString(), {"/bin/sh", "-c", "echo out; echo err >&2; exit 3"}));
    EXPECT_TRUE(encoder.Started());
    QString output;
    std::optional<DWORD> exitCode;
    ASSERT_TRUE(PumpUntil([&] {
        output += ReadEncoderOutput(encoder.OutputRead(), 1024);
        exitCode = encoder.ExitCode();
        return exitCode && GetFileSize(encoder.OutputRead(), nullptr) == 0;
    }));
    output += ReadEncoderOutput(encoder.OutputRead(), 1024);
    EXPECT_EQ(output, "out\nerr\n");
    EXPECT_EQ(exitCode, 3u);

    encoder.Reset();
    EXPECT_FALSE(encoder.Started());
    EXPECT_EQ(encoder.OutputRead(), 0u);
    EXPECT_EQ(encoder.ExitCode(), std::nullopt);

    // A run still going is ended by Terminate, not by Reset.
    ASSERT_TRUE(encoder.Start(QString(), {"/bin/sleep", "30"}));
    EXPECT_EQ(encoder.ExitCode(), std::nullopt);
    encoder.Terminate();
    EXPECT_EQ(encoder.ExitCode(), 0u);

    EXPECT_FALSE(encoder.Start(QString(), {"/nonexistent/ffmpeg"}));
    EXPECT_FALSE(encoder.Started());
    EXPECT_EQ(encoder.OutputRead(), 0u) << "nothing kept of a run that never started";
}

} // namespace
