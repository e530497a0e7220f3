#include "platform/Processes.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <variant>
#include <vector>

namespace win {

namespace {

struct TPipeEnd {
    int Fd;
    bool ReadEnd;
};

struct TChild {
    pid_t Pid;
    bool Ended;
    DWORD ExitCode;
};

using TObject = std::variant<TPipeEnd, TChild>;

std::mutex TableLock;
std::map<HANDLE, TObject> Table;
HANDLE NextHandle = 1;

HANDLE AddObject(const TObject& Object) {
    const HANDLE handle = NextHandle++;
    Table.emplace(handle, Object);
    return handle;
}

template <typename T> T* FindObject(HANDLE Handle) {
    const auto it = Table.find(Handle);
    return it == Table.end() ? nullptr : std::get_if<T>(&it->second);
}

DWORD StatusToExitCode(int Status) {
    if (WIFSIGNALED(Status))
        return 128 + WTERMSIG(Status);
    return WEXITSTATUS(Status);
}

void Ended(TChild& Child, DWORD ExitCode) {
    Child.Ended = true;
    Child.ExitCode = ExitCode;
}

// Collects the child's status if it has ended; never waits.
void Poll(TChild& Child) {
    if (Child.Ended)
        return;
    int status = 0;
    const pid_t result = waitpid(Child.Pid, &status, WNOHANG);
    if (result == Child.Pid)
        Ended(Child, StatusToExitCode(status));
    else if (result < 0 && errno == ECHILD)
        Ended(Child, 0); // reaped elsewhere: its status is lost
}

void WaitFor(pid_t Pid) {
    while (waitpid(Pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// A child nobody will wait for any more must still be reaped, or it stays a zombie until we exit.
void ReapInBackground(pid_t Pid) {
    try {
        std::thread([Pid] { WaitFor(Pid); }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the zombie remains until we exit.
    }
}

constexpr int InheritFd = -1;
constexpr int NullDeviceFd = -2;

struct TSpawnRequest {
    QString Program;
    QStringList Arguments;
    QString Directory;
    char* const* Environment = environ;
    std::array<int, 3> StandardFds{InheritFd, InheritFd, InheritFd};
    bool NewSession = false;
};

void AddStandardFd(posix_spawn_file_actions_t& Actions, int Source, int Target) {
    if (Source == NullDeviceFd)
        posix_spawn_file_actions_addopen(&Actions, Target, "/dev/null", Target == 0 ? O_RDONLY : O_WRONLY, 0);
    else if (Source != InheritFd)
        posix_spawn_file_actions_adddup2(&Actions, Source, Target);
}

void PrepareAttributes(posix_spawnattr_t& Attributes, bool NewSession) {
    // Signal dispositions and the mask of the calling thread (Qt, PulseAudio) must not reach the child.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&Attributes, &none);
    posix_spawnattr_setsigdefault(&Attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (NewSession)
        flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&Attributes, flags);
}

// 0 or the error number; glibc reports a failed exec as the result of posix_spawn.
int Spawn(const TSpawnRequest& Request, pid_t* Pid) {
    if (Request.Program.isEmpty() || Request.Arguments.isEmpty())
        return ENOENT;
    std::vector<QByteArray> storage;
    for (const QString& argument : Request.Arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray program = QFile::encodeName(Request.Program);
    const QByteArray directory = QFile::encodeName(Request.Directory);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int target = 0; target < 3; ++target)
        AddStandardFd(actions, Request.StandardFds[target], target);
    // Descriptors opened elsewhere without close-on-exec stay with us.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!directory.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, directory.constData());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    PrepareAttributes(attributes, Request.NewSession);

    // posix_spawnp runs a name with a '/' directly and looks any other name up in PATH.
    const int error =
        posix_spawnp(Pid, program.constData(), &actions, &attributes, argv.data(), Request.Environment);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

// Caller holds TableLock.
int StandardFd(HANDLE Handle) {
    const TPipeEnd* end = FindObject<TPipeEnd>(Handle);
    return end ? end->Fd : NullDeviceFd;
}

// A copy of a pipe end's descriptor, or -1: reads and writes work on it without the table lock, so
// that a full pipe never holds up everybody else's calls and a concurrent close cannot pull the
// descriptor away.
int DuplicatePipeEnd(HANDLE Handle, bool ReadEnd) {
    std::lock_guard<std::mutex> lock(TableLock);
    const TPipeEnd* end = FindObject<TPipeEnd>(Handle);
    if (!end || end->ReadEnd != ReadEnd)
        return -1;
    return fcntl(end->Fd, F_DUPFD_CLOEXEC, 3);
}

// Reads no more than is waiting, which keeps read() from blocking; 0 when nothing is there.
ssize_t ReadWaiting(int Fd, void* Buffer, DWORD Count) {
    int waiting = 0;
    if (ioctl(Fd, FIONREAD, &waiting) != 0)
        return -1;
    const size_t wanted = std::min<size_t>(Count, static_cast<size_t>(waiting));
    if (wanted == 0)
        return 0;
    ssize_t n;
    do {
        n = read(Fd, Buffer, wanted);
    } while (n < 0 && errno == EINTR);
    return n;
}

// Writes everything, without SIGPIPE ending the process when the reader is gone.
bool WriteAll(int Fd, const char* Data, DWORD Count, DWORD* Written) {
    sigset_t pipeSignal;
    sigset_t previous;
    sigset_t pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    DWORD done = 0;
    bool broken = false;
    while (done < Count) {
        const ssize_t n = write(Fd, Data + done, Count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            broken = errno == EPIPE;
            break;
        }
        done += static_cast<DWORD>(n);
    }
    if (broken && !wasPending) {
        const timespec zero{};
        sigtimedwait(&pipeSignal, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    *Written = done;
    return done == Count;
}

UINT WinExecError(int Error) {
    switch (Error) {
    case ENOMEM:
    case EAGAIN:
        return 0;
    case ENOTDIR:
        return 3;
    case ENOEXEC:
        return 11;
    default:
        return 2;
    }
}

} // namespace

QStringList SplitCommandLine(const QString& CommandLine) {
    QStringList pieces;
    QString piece;
    bool inPiece = false;
    bool quoted = false;
    for (const QChar c : CommandLine) {
        if (c == u'"') {
            quoted = !quoted;
            inPiece = true;
        } else if (!quoted && (c == u' ' || c == u'\t')) {
            if (inPiece)
                pieces.append(piece);
            piece.clear();
            inPiece = false;
        } else {
            piece += c;
            inPiece = true;
        }
    }
    if (inPiece)
        pieces.append(piece);
    return pieces;
}

BOOL CreatePipe(HANDLE* Read, HANDLE* Write, SECURITY_ATTRIBUTES*, DWORD) {
    if (!Read || !Write)
        return FALSE;
    // Close-on-exec: a child gets a pipe end only as one of its standard handles. Both ends stay
    // blocking, since either may become a child's standard handle; reads are bounded by FIONREAD.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return FALSE;
    std::lock_guard<std::mutex> lock(TableLock);
    *Read = AddObject(TPipeEnd{fds[0], true});
    *Write = AddObject(TPipeEnd{fds[1], false});
    return TRUE;
}

BOOL CreateProcessW(const QString& ApplicationName, const QString& CommandLine, SECURITY_ATTRIBUTES*,
                    SECURITY_ATTRIBUTES*, BOOL, DWORD, void* Environment, const QString& CurrentDirectory,
                    STARTUPINFOW* Startup, PROCESS_INFORMATION* Information, const QStringList* Arguments) {
    TSpawnRequest request;
    request.Arguments = Arguments ? *Arguments : SplitCommandLine(CommandLine);
    if (request.Arguments.isEmpty())
        return FALSE;
    request.Program = ApplicationName.isEmpty() ? request.Arguments.first() : ApplicationName;
    request.Directory = CurrentDirectory;
    if (Environment)
        request.Environment = static_cast<char* const*>(Environment);

    // Held across the spawn so that the pipe ends handed over cannot be closed meanwhile.
    std::lock_guard<std::mutex> lock(TableLock);
    if (Startup && (Startup->dwFlags & STARTF_USESTDHANDLES))
        request.StandardFds = {StandardFd(Startup->hStdInput), StandardFd(Startup->hStdOutput),
                               StandardFd(Startup->hStdError)};
    pid_t pid = 0;
    if (Spawn(request, &pid) != 0)
        return FALSE;
    const HANDLE process = AddObject(TChild{pid, false, STILL_ACTIVE});
    if (Information)
        *Information = {process, 0, static_cast<DWORD>(pid), static_cast<DWORD>(pid)};
    return TRUE;
}

BOOL GetExitCodeProcess(HANDLE Process, DWORD* ExitCode) {
    std::lock_guard<std::mutex> lock(TableLock);
    TChild* child = FindObject<TChild>(Process);
    if (!child)
        return FALSE;
    Poll(*child);
    if (ExitCode)
        *ExitCode = child->Ended ? child->ExitCode : STILL_ACTIVE;
    return TRUE;
}

BOOL TerminateProcess(HANDLE Process, UINT ExitCode) {
    std::lock_guard<std::mutex> lock(TableLock);
    TChild* child = FindObject<TChild>(Process);
    if (!child)
        return FALSE;
    Poll(*child);
    if (child->Ended)
        return FALSE;
    // Not reaped yet, so the id cannot belong to another process.
    kill(child->Pid, SIGKILL);
    WaitFor(child->Pid);
    Ended(*child, ExitCode);
    return TRUE;
}

DWORD GetFileSize(HANDLE File, DWORD* SizeHigh) {
    std::lock_guard<std::mutex> lock(TableLock);
    const TPipeEnd* end = FindObject<TPipeEnd>(File);
    int waiting = 0;
    if (!end || ioctl(end->Fd, FIONREAD, &waiting) != 0)
        return INVALID_FILE_SIZE;
    if (SizeHigh)
        *SizeHigh = 0;
    return static_cast<DWORD>(waiting);
}

BOOL ReadFile(HANDLE File, void* Buffer, DWORD Count, DWORD* Read, void*) {
    if (!Read)
        return FALSE;
    *Read = 0;
    const int fd = DuplicatePipeEnd(File, true);
    if (fd < 0)
        return FALSE;
    const ssize_t n = ReadWaiting(fd, Buffer, Count);
    close(fd);
    if (n < 0)
        return FALSE;
    *Read = static_cast<DWORD>(n);
    return TRUE;
}

BOOL WriteFile(HANDLE File, const void* Buffer, DWORD Count, DWORD* Written, void*) {
    const int fd = DuplicatePipeEnd(File, false);
    if (fd < 0)
        return FALSE;
    DWORD done = 0;
    const bool ok = WriteAll(fd, static_cast<const char*>(Buffer), Count, &done);
    close(fd);
    if (Written)
        *Written = done;
    return ok ? TRUE : FALSE;
}

BOOL CloseHandle(HANDLE Object) {
    std::lock_guard<std::mutex> lock(TableLock);
    const auto it = Table.find(Object);
    if (it == Table.end())
        return FALSE;
    if (const TPipeEnd* end = std::get_if<TPipeEnd>(&it->second)) {
        close(end->Fd);
    } else {
        TChild& child = std::get<TChild>(it->second);
        Poll(child);
        if (!child.Ended)
            ReapInBackground(child.Pid);
    }
    Table.erase(it);
    return TRUE;
}

UINT WinExec(const QString& CommandLine, UINT) {
    TSpawnRequest request;
    request.Arguments = SplitCommandLine(CommandLine);
    if (request.Arguments.isEmpty())
        return 2;
    request.Program = request.Arguments.first();
    request.StandardFds = {NullDeviceFd, NullDeviceFd, NullDeviceFd};
    // Its own session: it outlives us and our terminal's signals.
    request.NewSession = true;
    pid_t pid = 0;
    const int error = Spawn(request, &pid);
    if (error != 0)
        return WinExecError(error);
    ReapInBackground(pid);
    return 33;
}

} // namespace win
