#include "platform/Waitable.h"

#include <chrono>

namespace win {

bool TWaitable::ConsumeLocked() {
    if (!FSignalled)
        return false;
    if (FAutoReset)
        FSignalled = false;
    return true;
}

bool TWaitable::TryConsumeSignal() {
    std::lock_guard<std::mutex> lock(FLock);
    return ConsumeLocked();
}

bool TWaitable::WaitForSignal(DWORD Timeout) {
    std::unique_lock<std::mutex> lock(FLock);
    if (Timeout == INFINITE) {
        FChanged.wait(lock, [this] { return FSignalled; });
        return ConsumeLocked();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Timeout);
    if (!FChanged.wait_until(lock, deadline, [this] { return FSignalled; }))
        return false;
    return ConsumeLocked();
}

TWaitable::TWakeId TWaitable::AddWakeCallback(TWakeCallback Callback) {
    std::lock_guard<std::mutex> lock(FLock);
    const TWakeId id = FNextWakeId++;
    FWakeCallbacks.emplace_back(id, std::move(Callback));
    return id;
}

void TWaitable::RemoveWakeCallback(TWakeId Id) {
    std::lock_guard<std::mutex> lock(FLock);
    std::erase_if(FWakeCallbacks, [Id](const auto& entry) { return entry.first == Id; });
}

void TWaitable::Signal() {
    std::lock_guard<std::mutex> lock(FLock);
    if (FSignalled)
        return;
    FSignalled = true;
    FChanged.notify_all();
    for (const auto& entry : FWakeCallbacks)
        entry.second();
}

void TWaitable::Unsignal() {
    std::lock_guard<std::mutex> lock(FLock);
    FSignalled = false;
}

bool TWaitable::IsSignalled() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FSignalled;
}

TWaitableThread::TWaitableThread(std::function<void()> Function) : TWaitable(false, false) {
    // Held while starting so that the new thread sees its own id through ThreadId().
    std::lock_guard<std::mutex> lock(FStateLock);
    FThread = std::thread(&TWaitableThread::Run, this, std::move(Function));
    FThreadId = FThread.get_id();
}

TWaitableThread::~TWaitableThread() {
    Join();
}

void TWaitableThread::Run(std::function<void()> Function) {
    try {
        Function();
    } catch (...) {
        std::lock_guard<std::mutex> lock(FStateLock);
        FException = std::current_exception();
    }
    Signal();
}

void TWaitableThread::Join() {
    std::lock_guard<std::mutex> lock(FJoinLock);
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
        FThread.join();
}

std::thread::id TWaitableThread::ThreadId() const {
    std::lock_guard<std::mutex> lock(FStateLock);
    return FThreadId;
}

std::exception_ptr TWaitableThread::Exception() const {
    std::lock_guard<std::mutex> lock(FStateLock);
    return FException;
}

DWORD WaitForSingleObject(TWaitable* Handle, DWORD Timeout) {
    if (Handle == nullptr)
        return WAIT_FAILED;
    return Handle->WaitForSignal(Timeout) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

} // namespace win
