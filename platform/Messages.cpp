#include "platform/Messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace win {

namespace {

QEvent::Type WakeEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void DeliverNext(HWND Wnd);

// The Qt side of a hidden window: each wake event it receives delivers one queued message.
class TWindowObject : public QObject {
public:
    explicit TWindowObject(HWND Handle) : FHandle(Handle) {}

protected:
    bool event(QEvent* Event) override {
        if (Event->type() != WakeEventType())
            return QObject::event(Event);
        DeliverNext(FHandle);
        return true;
    }

private:
    const HWND FHandle;
};

struct TWindow {
    TWndMethod Method;
    std::thread::id Owner;
    TWindowObject* Object = nullptr; // deleted by DeallocateHWnd
    int Delivering = 0;              // owner thread only

    std::mutex Lock; // guards Queue and Destroyed; held while posting the wake event
    std::deque<MSG> Queue;
    bool Destroyed = false;
};

// Windows are reached only through their handles, so a post to a destroyed window finds nothing.
// Handles are never reused. The registries live until the process ends, after every thread.
struct TWindowRegistry {
    std::mutex Lock;
    std::map<HWND, std::shared_ptr<TWindow>> Windows;
    HWND NextHandle = 1;
};

TWindowRegistry& Windows() {
    static auto* registry = new TWindowRegistry;
    return *registry;
}

std::shared_ptr<TWindow> FindWindow(HWND Wnd) {
    TWindowRegistry& registry = Windows();
    std::lock_guard<std::mutex> lock(registry.Lock);
    const auto it = registry.Windows.find(Wnd);
    return it == registry.Windows.end() ? nullptr : it->second;
}

LRESULT CallMethod(TWindow& Window, const MSG& Msg) {
    struct TDepth {
        int& Count;
        explicit TDepth(int& C) : Count(C) { ++Count; }
        ~TDepth() { --Count; }
    } depth(Window.Delivering);
    return Window.Method(Msg.message, Msg.wParam, Msg.lParam);
}

void DeliverNext(HWND Wnd) {
    // Held for the call, so the window survives a DeallocateHWnd made by its own procedure.
    const std::shared_ptr<TWindow> window = FindWindow(Wnd);
    if (!window)
        return;
    MSG msg;
    {
        std::lock_guard<std::mutex> lock(window->Lock);
        // PeekMessage may have taken the message this event was posted for.
        if (window->Destroyed || window->Queue.empty())
            return;
        msg = window->Queue.front();
        window->Queue.pop_front();
    }
    CallMethod(*window, msg);
}

struct TThreadQueue {
    std::mutex Lock;
    std::condition_variable Arrived;
    std::deque<MSG> Queue;
};

struct TThreadRegistry {
    std::mutex Lock;
    std::map<DWORD, std::shared_ptr<TThreadQueue>> Queues;
};

TThreadRegistry& Threads() {
    static auto* registry = new TThreadRegistry;
    return *registry;
}

std::atomic<DWORD> NextThreadId{1};

// The calling thread's id and queue; the queue is unregistered when the thread ends.
struct TThreadState {
    const DWORD Id = NextThreadId++;
    std::shared_ptr<TThreadQueue> Queue;

    ~TThreadState() {
        if (!Queue)
            return;
        TThreadRegistry& registry = Threads();
        std::lock_guard<std::mutex> lock(registry.Lock);
        registry.Queues.erase(Id);
    }
};

thread_local TThreadState ThisThread;

TThreadQueue& OwnQueue() {
    if (!ThisThread.Queue) {
        auto queue = std::make_shared<TThreadQueue>();
        TThreadRegistry& registry = Threads();
        std::lock_guard<std::mutex> lock(registry.Lock);
        registry.Queues[ThisThread.Id] = queue;
        ThisThread.Queue = std::move(queue);
    }
    return *ThisThread.Queue;
}

// Takes or copies the front of Queue into Msg; false when it is empty. Lock must be held.
bool TakeFront(std::deque<MSG>& Queue, MSG* Msg, UINT RemoveMsg) {
    if (Queue.empty())
        return false;
    *Msg = Queue.front();
    if (RemoveMsg & PM_REMOVE)
        Queue.pop_front();
    return true;
}

} // namespace

HWND AllocateHWnd(TWndMethod Method) {
    auto window = std::make_shared<TWindow>();
    window->Method = std::move(Method);
    window->Owner = std::this_thread::get_id();
    TWindowRegistry& registry = Windows();
    std::lock_guard<std::mutex> lock(registry.Lock);
    const HWND handle = registry.NextHandle++;
    window->Object = new TWindowObject(handle);
    registry.Windows.emplace(handle, std::move(window));
    return handle;
}

void DeallocateHWnd(HWND Wnd) {
    std::shared_ptr<TWindow> window;
    {
        TWindowRegistry& registry = Windows();
        std::lock_guard<std::mutex> lock(registry.Lock);
        const auto it = registry.Windows.find(Wnd);
        if (it == registry.Windows.end())
            return;
        window = std::move(it->second);
        registry.Windows.erase(it);
    }
    {
        // After this no post reaches the object, so deleting it cannot race with postEvent.
        std::lock_guard<std::mutex> lock(window->Lock);
        window->Destroyed = true;
        window->Queue.clear();
    }
    // Inside its own event handler (or on a foreign thread) the object must not be deleted at once.
    if (window->Owner == std::this_thread::get_id() && window->Delivering == 0)
        delete window->Object;
    else
        window->Object->deleteLater();
    window->Object = nullptr;
}

bool IsWindow(HWND Wnd) {
    return FindWindow(Wnd) != nullptr;
}

BOOL PostMessageW(HWND Wnd, UINT Message, WPARAM wParam, LPARAM lParam) {
    const std::shared_ptr<TWindow> window = FindWindow(Wnd);
    if (!window)
        return false;
    std::lock_guard<std::mutex> lock(window->Lock);
    if (window->Destroyed)
        return false;
    window->Queue.push_back(MSG{Wnd, Message, wParam, lParam});
    QCoreApplication::postEvent(window->Object, new QEvent(WakeEventType()));
    return true;
}

BOOL PeekMessageW(MSG* Msg, HWND Wnd, UINT /*FilterMin*/, UINT /*FilterMax*/, UINT RemoveMsg) {
    if (Msg == nullptr)
        return false;
    if (Wnd == 0) {
        TThreadQueue& queue = OwnQueue();
        std::lock_guard<std::mutex> lock(queue.Lock);
        return TakeFront(queue.Queue, Msg, RemoveMsg);
    }
    const std::shared_ptr<TWindow> window = FindWindow(Wnd);
    if (!window || window->Owner != std::this_thread::get_id())
        return false;
    std::lock_guard<std::mutex> lock(window->Lock);
    return !window->Destroyed && TakeFront(window->Queue, Msg, RemoveMsg);
}

LRESULT DispatchMessageW(const MSG* Msg) {
    if (Msg == nullptr || Msg->hwnd == 0)
        return 0;
    const std::shared_ptr<TWindow> window = FindWindow(Msg->hwnd);
    if (!window || window->Owner != std::this_thread::get_id())
        return 0;
    return CallMethod(*window, *Msg);
}

BOOL TranslateMessage(const MSG* /*Msg*/) {
    return false; // there are no key messages to translate
}

LRESULT DefWindowProcW(HWND /*Wnd*/, UINT /*Message*/, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    return 0;
}

DWORD GetCurrentThreadId() {
    return ThisThread.Id;
}

BOOL PostThreadMessageW(DWORD ThreadId, UINT Message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<TThreadQueue> queue;
    {
        TThreadRegistry& registry = Threads();
        std::lock_guard<std::mutex> lock(registry.Lock);
        const auto it = registry.Queues.find(ThreadId);
        if (it == registry.Queues.end())
            return false;
        queue = it->second;
    }
    {
        std::lock_guard<std::mutex> lock(queue->Lock);
        queue->Queue.push_back(MSG{0, Message, wParam, lParam});
    }
    queue->Arrived.notify_one();
    return true;
}

BOOL GetMessageW(MSG* Msg, HWND Wnd, UINT /*FilterMin*/, UINT /*FilterMax*/) {
    // Only the thread queue can be waited for; windows are served by the Qt event loop.
    if (Msg == nullptr || Wnd != 0)
        return -1;
    TThreadQueue& queue = OwnQueue();
    std::unique_lock<std::mutex> lock(queue.Lock);
    queue.Arrived.wait(lock, [&queue] { return !queue.Queue.empty(); });
    *Msg = queue.Queue.front();
    queue.Queue.pop_front();
    return Msg->message != WM_QUIT;
}

void Sleep(DWORD Milliseconds) {
    if (Milliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

} // namespace win
