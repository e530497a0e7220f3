#pragma once
// One connection to the PulseAudio server with its own event thread (a threaded main loop), for
// everything that talks to the server: capture, the mixer and the movie's sound output. It connects
// within a deadline, and that deadline goes on bounding the waits that follow until Disarm, so an
// absent or stuck server never holds the caller for long; a server is never started on demand.
// The loop's lock (Lock/Unlock, or TLock) guards the context and everything made on it; the
// context's and streams' callbacks run on the loop's thread with the lock held. Connect and the
// destructor take the lock themselves; the other calls expect it held.

#include <QString>
#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>

// A server that does not answer within this time counts as absent.
constexpr std::chrono::milliseconds PulseServerTimeout{1500};

class TPulseConnection {
public:
    // Name: the client's name the server shows. Lost runs on the loop's thread, locked, once the
    // connection has failed or ended, whether while connecting or later.
    explicit TPulseConnection(const char* Name = "Vantrel", std::function<void()> Lost = {});
    // Disconnects and stops the thread: no callback of the context runs after it has returned.
    // Streams made on the connection must be released before.
    ~TPulseConnection();
    TPulseConnection(const TPulseConnection&) = delete;
    TPulseConnection& operator=(const TPulseConnection&) = delete;

    // Starts the thread and connects, once. False when the server could not be reached before the
    // deadline Timeout from now, with its reason in Error when given.
    bool Connect(std::chrono::milliseconds Timeout, QString* Error = nullptr);

    // Waits until Done; false when the connection failed or the deadline passed first. Whatever
    // Done looks at must signal the loop when it changes (Signal).
    bool Wait(const std::function<bool()>& Done);
    // Waits until Operation has ended and releases it; false when it did not complete, the
    // connection failed or the deadline passed first (the operation is then cancelled, so its
    // callback no longer runs). Null (a request the context refused) is false.
    bool Run(pa_operation* Operation);
    // Waits until Stream (connected, with a state callback that signals) is ready; false when it
    // failed, the connection failed or the deadline passed first.
    bool WaitForStream(pa_stream* Stream);
    // Drops Stream's callbacks, disconnects and releases it.
    void Release(pa_stream* Stream);
    // Sleeps until the loop is signalled, with no deadline.
    void WaitForSignal();
    // Wakes the waiters.
    void Signal();
    // Ends the deadline: later waits wait as long as it takes.
    void Disarm();

    bool Good() const;
    // The reason of the last failure: the server's, or the deadline's.
    QString LastError() const;

    void Lock();
    void Unlock();
    pa_context* Context() const { return FContext; }

    // Holds the loop's lock for a scope.
    class TLock {
    public:
        explicit TLock(TPulseConnection& Connection) : FConnection(Connection) { FConnection.Lock(); }
        ~TLock() { FConnection.Unlock(); }
        TLock(const TLock&) = delete;
        TLock& operator=(const TLock&) = delete;

    private:
        TPulseConnection& FConnection;
    };

private:
    static void StateChanged(pa_context* Context, void* Connection);
    static void TimedOut(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* Connection);

    const char* FName;
    std::function<void()> FLost;
    pa_threaded_mainloop* FLoop = nullptr;
    pa_context* FContext = nullptr;
    pa_time_event* FDeadline = nullptr;
    bool FStarted = false;
    bool FTimedOut = false;
};
