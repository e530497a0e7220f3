#pragma once
// Child processes with redirected pipes, under the names of the process API the encoder runner was
// written against. A process is started without a shell from an argument vector; handles are small
// numbers in a table of this module (pipe ends, processes), 0 being none.

#include "platform/MMSystem.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace win {

using BOOL = int;
using HANDLE = std::uintptr_t;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x20;
constexpr DWORD STARTF_USESHOWWINDOW = 0x001;
constexpr DWORD STARTF_USESTDHANDLES = 0x100;
constexpr WORD SW_HIDE = 0;
constexpr WORD SW_SHOWNORMAL = 1;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    void* lpSecurityDescriptor;
    BOOL bInheritHandle;
};

struct STARTUPINFOW {
    DWORD cb;
    DWORD dwFlags;
    WORD wShowWindow;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};

// A pipe: what is written to Write can be read from Read. Both ends are closed on exec unless
// handed to a child as its standard handles. Size is a hint and may be 0.
BOOL CreatePipe(HANDLE* Read, HANDLE* Write, SECURITY_ATTRIBUTES* Attributes, DWORD Size);

// A command line split as the platform's command lines are: a double-quoted stretch is one piece
// without its quotes ("" is an empty piece), text right next to quotes joins the piece, blanks and
// tabs outside quotes separate pieces.
QStringList SplitCommandLine(const QString& CommandLine);

// Starts a process. Its program and arguments are Arguments when that is given (the command line
// is then only what a log shows), else CommandLine split by SplitCommandLine. The first piece
// names the program (a path, or a name looked up in PATH) unless ApplicationName is given. With
// STARTF_USESTDHANDLES in Startup the child's standard input, output and error are the given pipe
// ends (a handle that is none gives /dev/null); otherwise it inherits ours. No other descriptor
// reaches the child. Environment is null (ours) or a null-terminated array of "NAME=value" strings;
// an empty CurrentDirectory keeps ours. The child stays in our process group, so that signals from
// a terminal reach it too. Information gets the process handle and id; there is no thread handle
// (0), the thread id is the process id. FALSE (and nothing started, Information untouched) when
// the program cannot be run.
BOOL CreateProcessW(const QString& ApplicationName, const QString& CommandLine,
                    SECURITY_ATTRIBUTES* ProcessAttributes, SECURITY_ATTRIBUTES* ThreadAttributes,
                    BOOL InheritHandles, DWORD CreationFlags, void* Environment,
                    const QString& CurrentDirectory, STARTUPINFOW* Startup, PROCESS_INFORMATION* Information,
                    const QStringList* Arguments = nullptr);

// STILL_ACTIVE while the process runs, else its exit status (128 + signal number when a signal
// ended it). FALSE for a handle that is no process.
BOOL GetExitCodeProcess(HANDLE Process, DWORD* ExitCode);
// Ends the process (SIGKILL) and waits for it; its exit code becomes ExitCode. FALSE when it had
// ended already or the handle is no process.
BOOL TerminateProcess(HANDLE Process, UINT ExitCode);

// For the read end of a pipe: the bytes waiting in it, never blocking. INVALID_FILE_SIZE for a
// handle that is not a pipe end.
DWORD GetFileSize(HANDLE File, DWORD* SizeHigh);
// Reads up to Count of the bytes waiting in a pipe's read end; it never waits: nothing there (also
// at the end of the pipe) gives 0 bytes and TRUE.
BOOL ReadFile(HANDLE File, void* Buffer, DWORD Count, DWORD* Read, void* Overlapped);
// Writes all Count bytes to a pipe's write end, waiting while the pipe is full. FALSE when the
// pipe has no reader left (without the signal that would end our process).
BOOL WriteFile(HANDLE File, const void* Buffer, DWORD Count, DWORD* Written, void* Overlapped);
// Closing a process handle leaves the process running; it is reaped in the background when it ends.
BOOL CloseHandle(HANDLE Object);

// Starts CommandLine (split as above) detached: in a session of its own, standard handles on
// /dev/null, reaped in the background when it ends. Nothing waits for it and no handle is kept.
// 33 when it started, else 2 (not found or not runnable), 3 (a folder on the way missing), 11 (not
// a program file) or 0 (out of resources).
UINT WinExec(const QString& CommandLine, UINT ShowCommand);

} // namespace win
