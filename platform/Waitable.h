#pragma once
// Objects a thread can wait for: events and threads, with the wait results of the multimedia API
// the audio units were written against.

#include "platform/MMSystem.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace win {

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Something that is either signalled or not. An auto-reset object is consumed by the wait that
// sees it signalled, so only one waiter is released per signal; a manual-reset object stays
// signalled until it is reset. Destroy it only when nobody waits for it any more.
class TWaitable {
public:
    using TWakeCallback = std::function<void()>;
    using TWakeId = std::uint64_t;

    TWaitable(const TWaitable&) = delete;
    TWaitable& operator=(const TWaitable&) = delete;
    virtual ~TWaitable() = default;

    // True when signalled; an auto-reset object is reset by a true result.
    bool TryConsumeSignal();
    // Blocks until signalled (consuming it as TryConsumeSignal does) or Timeout ms have passed;
    // INFINITE waits for ever. True when signalled.
    bool WaitForSignal(DWORD Timeout);

    // Callback invoked each time the object goes from unsignalled to signalled, for waiters that
    // block somewhere else (an event dispatcher) and must be woken. It runs on the signalling
    // thread with the object's lock held, so it must be short and must not touch this object;
    // holding the lock makes RemoveWakeCallback a guarantee that it no longer runs afterwards.
    TWakeId AddWakeCallback(TWakeCallback Callback);
    void RemoveWakeCallback(TWakeId Id);

protected:
    TWaitable(bool AutoReset, bool InitialState) : FAutoReset(AutoReset), FSignalled(InitialState) {}

    void Signal();
    void Unsignal();
    bool IsSignalled() const;

private:
    bool ConsumeLocked();

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    const bool FAutoReset;
    bool FSignalled;
    TWakeId FNextWakeId = 1;
    std::vector<std::pair<TWakeId, TWakeCallback>> FWakeCallbacks;
};

// An event object: ManualReset keeps it signalled after a wait, otherwise each SetEvent releases
// one wait.
class TEvent : public TWaitable {
public:
    TEvent(bool ManualReset, bool InitialState) : TWaitable(!ManualReset, InitialState) {}

    void SetEvent() { Signal(); }
    void ResetEvent() { Unsignal(); }
    // Looks at the state without consuming it.
    bool IsSet() const { return IsSignalled(); }
};

// A thread running a function; signalled (for good) once the function has returned or thrown.
// The destructor joins it, so it must not be destroyed by its own thread.
class TWaitableThread : public TWaitable {
public:
    explicit TWaitableThread(std::function<void()> Function);
    ~TWaitableThread() override;

    // Waits for the thread's end and releases it; calling it again, or from the thread itself,
    // does nothing.
    void Join();
    std::thread::id ThreadId() const;
    // What the function threw, once the thread has ended; null when it returned normally.
    std::exception_ptr Exception() const;

private:
    void Run(std::function<void()> Function);

    mutable std::mutex FStateLock;
    std::mutex FJoinLock;
    std::exception_ptr FException;
    std::thread::id FThreadId;
    std::thread FThread;
};

// Blocks the calling thread until Handle is signalled (WAIT_OBJECT_0) or Timeout ms have passed
// (WAIT_TIMEOUT); WAIT_FAILED for a null handle. Events of the thread are not delivered meanwhile.
DWORD WaitForSingleObject(TWaitable* Handle, DWORD Timeout);

} // namespace win
