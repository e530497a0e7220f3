#include "convert/EncoderProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace convert {

namespace {

// Pipes large enough for a whole DVD frame, so the encoder reads a frame in one go.
constexpr int PipeSize = 1 << 20;
// How often a sender waiting for the encoder looks whether the conversion was cancelled.
constexpr std::chrono::milliseconds CancelPoll(100);
// How long a killed encoder gets to end before it is killed hard.
constexpr int KillGraceMilliseconds = 2000;

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

} // namespace

EncoderProcess::~EncoderProcess() {
    if (child > 0)
        Kill();
}

bool EncoderProcess::Start(const QString& program, const QStringList& arguments, bool withVideo,
                           bool withSound, QString& error) {
    int videoPipe[2] = {-1, -1}, soundPipe[2] = {-1, -1}, errorPipe[2] = {-1, -1};
    auto closeAll = [&] {
        for (int fd : {videoPipe[0], videoPipe[1], soundPipe[0], soundPipe[1], errorPipe[0], errorPipe[1]})
            if (fd >= 0)
                ::close(fd);
    };
    if ((withVideo && ::pipe2(videoPipe, O_CLOEXEC) != 0) ||
        (withSound && ::pipe2(soundPipe, O_CLOEXEC) != 0) || ::pipe2(errorPipe, O_CLOEXEC) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        closeAll();
        return false;
    }
    if (withVideo)
        ::fcntl(videoPipe[1], F_SETPIPE_SZ, PipeSize);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errorPipe[1], 2);
    if (withVideo)
        posix_spawn_file_actions_adddup2(&actions, videoPipe[0], 3);
    if (withSound)
        posix_spawn_file_actions_adddup2(&actions, soundPipe[0], 4);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    const QByteArray path = program.toLocal8Bit();
    std::vector<QByteArray> storage{path};
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawnp(&child, path.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        child = -1;
        error = QStringLiteral("cannot start %1: %2")
                    .arg(program, QString::fromLocal8Bit(std::strerror(spawned)));
        closeAll();
        return false;
    }
    for (int* fds : {videoPipe, soundPipe, errorPipe})
        if (fds[0] >= 0 && fds != errorPipe)
            ::close(fds[0]);
    ::close(errorPipe[1]);
    video.fd = videoPipe[1];
    sound.fd = soundPipe[1];
    if (video.fd >= 0)
        video.writer = std::thread([this] { WriteLoop(video); });
    if (sound.fd >= 0)
        sound.writer = std::thread([this] { WriteLoop(sound); });
    errorReader = std::thread([this, fd = errorPipe[0]] { ReadErrors(fd); });
    return true;
}

bool EncoderProcess::SendFrame(QByteArray frame) {
    return Send(video, std::move(frame), MaxQueuedFrames);
}

QByteArray EncoderProcess::TakeWrittenFrame() {
    std::lock_guard guard(lock);
    if (video.written.empty())
        return {};
    QByteArray frame = std::move(video.written.front());
    video.written.pop_front();
    return frame;
}

bool EncoderProcess::SendSound(std::vector<std::int16_t> samples) {
    if (samples.empty())
        return true;
    QByteArray bytes(reinterpret_cast<const char*>(samples.data()),
                     qsizetype(samples.size() * sizeof(std::int16_t)));
    return Send(sound, std::move(bytes), 0);
}

bool EncoderProcess::Send(Pipe& pipe, QByteArray bytes, std::size_t maxQueued) {
    std::unique_lock guard(lock);
    if (pipe.fd < 0 || pipe.closing)
        return false;
    // Woken now and then to see whether the conversion was cancelled (a signal cannot wake it).
    while (!changed.wait_for(guard, CancelPoll,
                             [&] { return pipe.broken || maxQueued == 0 || pipe.queue.size() < maxQueued; }))
        if (cancel && cancel->load())
            return false;
    if (pipe.broken)
        return false;
    pipe.queue.push_back(std::move(bytes));
    changed.notify_all();
    return true;
}

void EncoderProcess::WriteLoop(Pipe& pipe) {
    // A write to an encoder that has gone fails with EPIPE here instead of ending the program.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    for (;;) {
        QByteArray bytes;
        {
            std::unique_lock guard(lock);
            changed.wait(guard, [&] { return !pipe.queue.empty() || pipe.closing; });
            if (pipe.queue.empty())
                break;
            bytes = std::move(pipe.queue.front());
            pipe.queue.pop_front();
            changed.notify_all();
        }
        if (!WriteAll(pipe.fd, bytes.constData(), std::size_t(bytes.size()))) {
            std::lock_guard guard(lock);
            pipe.broken = true;
            pipe.queue.clear();
            changed.notify_all();
            break;
        }
        if (&pipe == &video) {
            std::lock_guard guard(lock);
            // A frame sent several times comes back once.
            if (pipe.written.size() < MaxQueuedFrames &&
                (pipe.written.empty() || !pipe.written.back().isSharedWith(bytes)))
                pipe.written.push_back(std::move(bytes));
        }
    }
    ::close(pipe.fd);
}

void EncoderProcess::ReadErrors(int fd) {
    QByteArray pending;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        pending.append(buffer, got);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0 || (end = pending.indexOf('\r')) >= 0) {
            const QString line = QString::fromLocal8Bit(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            if (line.isEmpty())
                continue;
            std::lock_guard guard(lock);
            errorLines << line;
            while (errorLines.size() > KeptErrorLines)
                errorLines.removeFirst();
        }
    }
    if (!pending.trimmed().isEmpty()) {
        std::lock_guard guard(lock);
        errorLines << QString::fromLocal8Bit(pending).trimmed();
    }
    ::close(fd);
}

void EncoderProcess::ClosePipe(Pipe& pipe) {
    {
        std::lock_guard guard(lock);
        pipe.closing = true;
        changed.notify_all();
    }
    if (pipe.writer.joinable())
        pipe.writer.join();
}

bool EncoderProcess::Wait() {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    child = -1;
    if (errorReader.joinable())
        errorReader.join();
    exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (WIFSIGNALED(status)) {
        std::lock_guard guard(lock);
        errorLines << QStringLiteral("the encoder was ended by a signal: %1")
                          .arg(QString::fromLocal8Bit(strsignal(WTERMSIG(status))));
    }
    return exitStatus == 0;
}

bool EncoderProcess::Finish() {
    if (child <= 0)
        return false;
    ClosePipe(video);
    ClosePipe(sound);
    const bool broken = video.broken || sound.broken;
    return Wait() && !broken;
}

void EncoderProcess::Kill() {
    if (child <= 0)
        return;
    ::kill(-child, SIGTERM);
    {
        // Writers blocked on a full pipe end when the encoder's side closes.
        std::lock_guard guard(lock);
        video.queue.clear();
        sound.queue.clear();
    }
    int status = 0;
    for (int waited = 0; waited < KillGraceMilliseconds; waited += 10) {
        if (::waitpid(child, &status, WNOHANG) == child) {
            ::kill(-child, SIGKILL); // whatever it started
            child = -1;
            break;
        }
        ::usleep(10000);
    }
    if (child > 0) {
        ::kill(-child, SIGKILL);
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        child = -1;
    }
    ClosePipe(video);
    ClosePipe(sound);
    if (errorReader.joinable())
        errorReader.join();
}

QString EncoderProcess::LastError() const {
    std::lock_guard guard(lock);
    for (auto line = errorLines.crbegin(); line != errorLines.crend(); ++line)
        if (line->startsWith(QLatin1String("the encoder was ended")) ||
            line->contains(QLatin1String("rror")) || line->contains(QLatin1String("No space")) ||
            line->contains(QLatin1String("Invalid")) || line->contains(QLatin1String("denied")))
            return *line;
    return errorLines.isEmpty() ? QString() : errorLines.last();
}

QStringList EncoderProcess::ErrorOutput() const {
    std::lock_guard guard(lock);
    return errorLines;
}

} // namespace convert
