#pragma once
// Runs the encoder program (ffmpeg) as a child process from an argument vector, never through a
// shell. Raw picture frames reach it through one pipe (its descriptor 3) and raw sound through
// another (its descriptor 4), each written by a thread of its own, so that rendering here and
// encoding there overlap and neither input can starve the other. Its error output is read as it
// comes; the last lines are kept for messages.
//
// Fails by returning false: the program cannot be started, it exits before taking all input, or it
// exits with a status other than 0. At most MaxQueuedFrames frames wait for the encoder; a sender
// blocks beyond that. The child runs in a process group of its own, so that Kill ends it and
// whatever it started, and a terminal's Ctrl-C reaches it only through us.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace convert {

class EncoderProcess {
public:
    // Frames rendered ahead of the encoder: enough to cover its look-ahead on the sound input.
    static constexpr std::size_t MaxQueuedFrames = 8;
    // Lines of the encoder's error output kept for messages.
    static constexpr int KeptErrorLines = 20;

    // A sender waiting for the encoder gives up once *cancel is true.
    explicit EncoderProcess(const std::atomic<bool>* cancel = nullptr) : cancel(cancel) {}
    ~EncoderProcess(); // kills the encoder if it still runs
    EncoderProcess(const EncoderProcess&) = delete;
    EncoderProcess& operator=(const EncoderProcess&) = delete;

    // Starts program with arguments; withVideo/withSound open the pipes for descriptors 3 and 4.
    bool Start(const QString& program, const QStringList& arguments, bool withVideo, bool withSound,
               QString& error);
    // Queues one frame (its bytes, as the encoder's arguments describe them); they are shared, not
    // copied. False once the encoder is gone.
    bool SendFrame(QByteArray frame);
    // A frame the encoder has been given in full, for its buffer to be used again; null when none.
    QByteArray TakeWrittenFrame();
    // Queues sound bytes; never blocks. False once the encoder is gone.
    bool SendSound(std::vector<std::int16_t> samples);
    // Ends both inputs and waits for the encoder to finish; true when it exited with status 0.
    bool Finish();
    // Ends the encoder at once (and what it started), dropping what is queued.
    void Kill();
    // The last line the encoder printed that reads like an error, or its last line.
    QString LastError() const;
    QStringList ErrorOutput() const;

private:
    struct Pipe {
        int fd = -1;
        std::thread writer;
        std::deque<QByteArray> queue;
        bool closing = false;
        bool broken = false;
        std::deque<QByteArray> written; // kept for TakeWrittenFrame (picture frames only)
    };
    bool Send(Pipe& pipe, QByteArray bytes, std::size_t maxQueued);
    void WriteLoop(Pipe& pipe);
    void ReadErrors(int fd);
    void ClosePipe(Pipe& pipe);
    bool Wait();

    const std::atomic<bool>* cancel;
    pid_t child = -1;
    int exitStatus = -1;
    Pipe video, sound;
    std::thread errorReader;
    mutable std::mutex lock;
    std::condition_variable changed;
    QStringList errorLines;
};

} // namespace convert
