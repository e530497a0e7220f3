#include "platform/Processes.h"

#include "TestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <unistd.h>

using namespace win; // the platform layer's Windows-style names

using namespace std::chrono_literals;

namespace {

struct TPipe {
    HANDLE Read = 0;
    HANDLE Write = 0;
    TPipe() { EXPECT_TRUE(CreatePipe(&Read, &Write, nullptr, 0)); }
    ~TPipe() {
        CloseHandle(Read);
        CloseHandle(Write);
    }
};

QByteArray ReadWaiting(HANDLE Pipe) {
    QByteArray bytes;
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(Pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

bool Write(HANDLE Pipe, const QByteArray& Bytes) {
    DWORD written = 0;
    return WriteFile(Pipe, Bytes.constData(), Bytes.size(), &written, nullptr) &&
           written == DWORD(Bytes.size());
}

// Starts Arguments with both its output and its errors going into Output.
PROCESS_INFORMATION Start(const QStringList& Arguments, HANDLE Input, HANDLE Output,
                          const QString& Directory = QString(), void* Environment = nullptr) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.hStdInput = Input;
    startup.hStdOutput = Output;
    startup.hStdError = Output;
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(CreateProcessW(QString(), Arguments.join(u' '), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                               Environment, Directory, &startup, &info, &Arguments))
        << Arguments.join(u' ').toStdString();
    return info;
}

DWORD WaitForExit(HANDLE Process) {
    DWORD code = STILL_ACTIVE;
    EXPECT_TRUE(PumpUntil([&] { return GetExitCodeProcess(Process, &code) && code != STILL_ACTIVE; }));
    return code;
}

// Runs a short child to its end; its output (and errors) and exit code.
std::pair<QByteArray, DWORD> RunChild(const QStringList& Arguments, const QString& Directory = QString(),
                                      void* Environment = nullptr) {
    TPipe output;
    const PROCESS_INFORMATION info = Start(Arguments, 0, output.Write, Directory, Environment);
    const DWORD code = WaitForExit(info.hProcess);
    CloseHandle(info.hProcess);
    return {ReadWaiting(output.Read), code};
}

// No process of that id, not even a zombie.
bool Reaped(qint64 Pid) {
    return PumpUntil([Pid] { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(Pid)); });
}

TEST(ProcessesTest, SplitsCommandLineByDoubleQuotes) {
    const struct {
        QString Line;
        QStringList Pieces;
    } cases[] = {
        {R"("/opt/my tools/ffmpeg" -y -i "/tmp/a b.wav")",
         {"/opt/my tools/ffmpeg", "-y", "-i", "/tmp/a b.wav"}},
        {R"(a "" b)", {"a", "", "b"}},
        {R"("")", {""}},
        {R"(x"y z"w next)", {"xy zw", "next"}},
        {"  lead \t trail  ", {"lead", "trail"}},
        {R"(a "open to the end)", {"a", "open to the end"}},
        {R"(one"" two)", {"one", "two"}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitCommandLine(c.Line), c.Pieces) << c.Line.toStdString();
}

TEST(ProcessesTest, ChildOutputAndErrorsArriveInOnePipeWhileItRuns) {
    TPipe output;
    TPipe input;
    // The child waits for a line from us, so it is certainly still running when we look.
    const PROCESS_INFORMATION info =
        Start({"/bin/sh", "-c", "printf out; printf err >&2; read line; exit 3"}, input.Read, output.Write);
    ASSERT_NE(info.hProcess, 0u);
    EXPECT_GT(info.dwProcessId, 0u);
    EXPECT_EQ(info.hThread, 0u);

    ASSERT_TRUE(PumpUntil([&] { return GetFileSize(output.Read, nullptr) == 6; }));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(ReadWaiting(output.Read), "outerr");
    EXPECT_EQ(GetFileSize(output.Read, nullptr), 0u);

    ASSERT_TRUE(Write(input.Write, "go\n"));
    EXPECT_EQ(WaitForExit(info.hProcess), 3u);
    EXPECT_FALSE(TerminateProcess(info.hProcess, 0)) << "it had ended already";
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_FALSE(GetExitCodeProcess(info.hProcess, &code));
}

TEST(ProcessesTest, ExitCodeOfAChildEndedByASignalIs128PlusTheSignal) {
    EXPECT_EQ(RunChild({"/bin/sh", "-c", "exit 0"}).second, 0u);
    EXPECT_EQ(RunChild({"/bin/sh", "-c", "kill -TERM $$"}).second, 128u + SIGTERM);
}

TEST(ProcessesTest, ArgumentsReachTheChildUnchanged) {
    const QStringList names = {R"(/tmp/my "odd" movie.avi)", "", "  two  blanks ", "a\\b'c$HOME*"};
    const auto [output, code] = RunChild(QStringList{"/bin/sh", "-c", R"(printf '%s|' "$@")", "sh"} + names);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(QString::fromUtf8(output), names.join(u'|') + u'|');
}

TEST(ProcessesTest, CommandLineIsSplitWhenNoArgumentsAreGiven) {
    TPipe output;
    STARTUPINFOW startup{};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.Write;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(QString(), R"(/bin/echo "a  b" c""d "")", nullptr, nullptr, TRUE, 0, nullptr,
                               QString(), &startup, &info));
    EXPECT_EQ(WaitForExit(info.hProcess), 0u);
    EXPECT_EQ(ReadWaiting(output.Read), "a  b cd \n");
    CloseHandle(info.hProcess);
}

TEST(ProcessesTest, ChildRunsInTheGivenFolderWithTheGivenEnvironment) {
    TestDir dir;
    char probe[] = "VANTREL_PROBE=here";
    char* environment[] = {probe, nullptr};
    const auto [output, code] = RunChild({"/bin/sh", "-c", R"x(printf '%s %s' "$(pwd)" "$VANTREL_PROBE")x"},
                                         dir.path(""), environment);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(QString::fromUtf8(output), QFileInfo(dir.path("")).canonicalFilePath() + " here");
}

TEST(ProcessesTest, DescriptorsOpenedWithoutCloseOnExecDoNotReachTheChild) {
    const int stray = open("/dev/null", O_RDONLY); // as a library might leave one
    ASSERT_GE(stray, 3);
    const auto [output, code] = RunChild(
        {"/bin/sh", "-c", QStringLiteral("[ -e /proc/$$/fd/%1 ] && echo leaked || echo closed").arg(stray)});
    close(stray);
    EXPECT_EQ(output, "closed\n");
}

TEST(ProcessesTest, PipeReportsWaitingBytesAndNeverBlocks) {
    TPipe pipe;
    EXPECT_EQ(GetFileSize(pipe.Read, nullptr), 0u);
    // The write end is still open in our process, so a plain read would wait for ever.
    const HANDLE read = pipe.Read;
    const auto empty = Promptly([read] {
        char buffer[16];
        DWORD got = 99;
        const BOOL ok = ReadFile(read, buffer, sizeof buffer, &got, nullptr);
        return std::pair{ok, got};
    });
    ASSERT_TRUE(empty.has_value()) << "ReadFile blocked on an empty pipe";
    EXPECT_EQ(*empty, std::pair(TRUE, DWORD(0)));

    ASSERT_TRUE(Write(pipe.Write, QByteArray(3000, 'x')));
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(pipe.Read, &high), 3000u);
    EXPECT_EQ(high, 0u);
    char buffer[1024];
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(pipe.Read, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 1024u);
    EXPECT_EQ(GetFileSize(pipe.Read, nullptr), 1976u);
    EXPECT_FALSE(ReadFile(pipe.Write, buffer, sizeof buffer, &got, nullptr)) << "not a read end";
}

TEST(ProcessesTest, HandlesThatAreNoPipeEnds) {
    HANDLE read = 0;
    HANDLE write = 0;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    ASSERT_TRUE(CloseHandle(read));
    ASSERT_TRUE(CloseHandle(write));
    for (const HANDLE handle : {HANDLE(0), read, write}) {
        EXPECT_EQ(GetFileSize(handle, nullptr), INVALID_FILE_SIZE);
        DWORD count = 0;
        char byte = 0;
        EXPECT_FALSE(ReadFile(handle, &byte, 1, &count, nullptr));
        EXPECT_FALSE(WriteFile(handle, &byte, 1, &count, nullptr));
        EXPECT_FALSE(CloseHandle(handle));
        EXPECT_FALSE(GetExitCodeProcess(handle, &count));
        EXPECT_FALSE(TerminateProcess(handle, 0));
    }
}

TEST(ProcessesTest, WritingToAPipeWithoutReaderFailsWithoutEndingUs) {
    HANDLE read = 0;
    HANDLE write = 0;
    ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    CloseHandle(read);
    EXPECT_FALSE(Write(write, "lost"));
    CloseHandle(write);
}

TEST(ProcessesTest, TerminateEndsASleepingChildAndSetsItsExitCode) {
    TPipe output;
    const PROCESS_INFORMATION info = Start({"sleep", "30"}, 0, output.Write); // found in PATH
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_TRUE(TerminateProcess(info.hProcess, 7));
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(Reaped(info.dwProcessId));
    EXPECT_FALSE(TerminateProcess(info.hProcess, 0));
    CloseHandle(info.hProcess);
}

TEST(ProcessesTest, ClosingTheHandleOfARunningChildLeavesItRunningAndNoZombie) {
    TPipe input;
    TPipe output;
    const PROCESS_INFORMATION info = Start({"/bin/sh", "-c", "read line"}, input.Read, output.Write);
    ASSERT_TRUE(CloseHandle(info.hProcess));
    EXPECT_EQ(kill(pid_t(info.dwProcessId), 0), 0) << "still running";
    ASSERT_TRUE(Write(input.Write, "end\n"));
    EXPECT_TRUE(Reaped(info.dwProcessId));
}

TEST(ProcessesTest, UnrunnableProgramsStartNothing) {
    TestDir dir;
    WriteWholeFile(dir.path("script.sh"), "#!/bin/sh\nexit 0\n"); // not executable
    WriteWholeFile(dir.path("garbage"), "no program at all\n");
    QFile::setPermissions(dir.path("garbage"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QStringList programs = {"/nonexistent/program", "vantrel-no-such-program", dir.path("script.sh"),
                                  dir.path("garbage"), dir.path("")};
    for (const QString& program : programs) {
        PROCESS_INFORMATION info{11, 12, 13, 14};
        const QStringList arguments{program};
        EXPECT_FALSE(CreateProcessW(QString(), program, nullptr, nullptr, TRUE, 0, nullptr, QString(),
                                    nullptr, &info, &arguments))
            << program.toStdString();
        EXPECT_EQ(info.hProcess, 11u) << "left untouched";
    }
    const QStringList none;
    EXPECT_FALSE(CreateProcessW(QString(), QString(), nullptr, nullptr, TRUE, 0, nullptr, QString(), nullptr,
                                nullptr, &none));
    EXPECT_FALSE(
        CreateProcessW(QString(), "  ", nullptr, nullptr, TRUE, 0, nullptr, QString(), nullptr, nullptr));
}

TEST(ProcessesTest, WinExecOfAMissingProgramFails) {
    EXPECT_LE(WinExec(R"("/nonexistent/sound settings")", SW_SHOWNORMAL), 31u);
    EXPECT_LE(WinExec("vantrel-no-such-program --flag", SW_SHOWNORMAL), 31u);
    EXPECT_LE(WinExec("", SW_SHOWNORMAL), 31u);
}

TEST(ProcessesTest, WinExecStartsADetachedChildThatLeavesNoZombie) {
    TestDir dir;
    // The child reports its id, its session and where its output goes, then ends at once.
    const QString report = dir.path("report");
    const QString script =
        QStringLiteral(
            "echo $$ $(cut -d' ' -f6 /proc/$$/stat) $(readlink /proc/$$/fd/1) > %1.tmp; mv %1.tmp %1")
            .arg(report);
    EXPECT_GT(WinExec(QStringLiteral(R"(/bin/sh -c "%1")").arg(script), SW_SHOWNORMAL), 31u);
    ASSERT_TRUE(PumpUntil([&] { return QFileInfo::exists(report); }));
    const QStringList fields = QString::fromUtf8(ReadWholeFile(report)).simplified().split(u' ');
    ASSERT_EQ(fields.size(), 3);
    EXPECT_EQ(fields[1], fields[0]) << "leads a session of its own";
    EXPECT_EQ(fields[2], "/dev/null");
    EXPECT_TRUE(Reaped(fields[0].toLongLong()));
}

} // namespace
