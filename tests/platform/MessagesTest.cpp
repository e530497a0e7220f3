#include "platform/Messages.h"
#include "platform/Waitable.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

using namespace win; // the platform layer's Windows-style names

namespace {

// Runs the calling thread's Qt events until Done or five seconds have passed.
bool PumpUntil(const std::function<bool()>& Done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void PumpBriefly() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents();
}

struct TDelivery {
    UINT Message;
    WPARAM wParam;
    std::thread::id Thread;
};

// A hidden window that records what it is given.
class TRecordingWindow {
public:
    std::vector<TDelivery> Deliveries;

    TRecordingWindow()
        : Wnd(AllocateHWnd([this](UINT Message, WPARAM wParam, LPARAM) {
              Deliveries.push_back({Message, wParam, std::this_thread::get_id()});
              return LRESULT(0);
          })) {}
    ~TRecordingWindow() { DeallocateHWnd(Wnd); }

    const HWND Wnd;
};

TEST(MessagesTest, WindowMessagesArriveInPostingOrderOnTheOwningThread) {
    TRecordingWindow window;
    constexpr int count = 200;
    std::thread poster([&] {
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(PostMessageW(window.Wnd, WM_USER + 1, i, 0));
    });
    poster.join();
    ASSERT_TRUE(PumpUntil([&] { return window.Deliveries.size() == count; }));
    PumpBriefly();
    ASSERT_EQ(window.Deliveries.size(), std::size_t(count));
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(window.Deliveries[i].wParam, WPARAM(i));
        EXPECT_EQ(window.Deliveries[i].Thread, std::this_thread::get_id());
    }
}

TEST(MessagesTest, PeekMessagePumpsAWindowWithoutAnEventLoopAndLateWakeEventsDeliverNothingTwice) {
    // A plain thread: nothing runs its Qt events unless it asks.
    std::thread worker([] {
        TRecordingWindow window;
        for (WPARAM i = 1; i <= 3; ++i)
            ASSERT_TRUE(PostMessageW(window.Wnd, WM_USER, i, 0));

        MSG msg{};
        ASSERT_TRUE(PeekMessageW(&msg, window.Wnd, 0, 0, PM_NOREMOVE));
        EXPECT_EQ(msg.wParam, WPARAM(1));
        for (WPARAM i = 1; i <= 2; ++i) {
            ASSERT_TRUE(PeekMessageW(&msg, window.Wnd, 0, 0, PM_REMOVE));
            EXPECT_EQ(msg.hwnd, window.Wnd);
            EXPECT_EQ(msg.wParam, i);
            DispatchMessageW(&msg);
        }
        // Three wake events are pending for one message: it is delivered once.
        QCoreApplication::sendPostedEvents();
        ASSERT_EQ(window.Deliveries.size(), 3u);
        EXPECT_EQ(window.Deliveries[2].wParam, WPARAM(3));
        EXPECT_FALSE(PeekMessageW(&msg, window.Wnd, 0, 0, PM_REMOVE));

        ASSERT_TRUE(PostMessageW(window.Wnd, WM_USER, 4, 0));
        QCoreApplication::sendPostedEvents();
        ASSERT_EQ(window.Deliveries.size(), 4u);
        EXPECT_EQ(window.Deliveries[3].wParam, WPARAM(4));
    });
    worker.join();
}

TEST(MessagesTest, OnlyTheOwningThreadCanPeekAWindow) {
    TRecordingWindow window;
    ASSERT_TRUE(PostMessageW(window.Wnd, WM_USER, 7, 0));
    std::thread other([&] {
        MSG msg{};
        EXPECT_FALSE(PeekMessageW(&msg, window.Wnd, 0, 0, PM_REMOVE));
    });
    other.join();
    ASSERT_TRUE(PumpUntil([&] { return window.Deliveries.size() == 1; }));
}

TEST(MessagesTest, DestroyedWindowsDropTheirQueueAndRefusePosts) {
    int delivered = 0;
    const HWND wnd = AllocateHWnd([&](UINT, WPARAM, LPARAM) {
        ++delivered;
        return LRESULT(0);
    });
    ASSERT_TRUE(IsWindow(wnd));
    ASSERT_TRUE(PostMessageW(wnd, WM_USER, 0, 0));
    DeallocateHWnd(wnd);
    PumpBriefly();
    EXPECT_EQ(delivered, 0);
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_FALSE(PostMessageW(wnd, WM_USER, 0, 0));
    EXPECT_FALSE(PostMessageW(0, WM_USER, 0, 0));
}

TEST(MessagesTest, AWindowMayDestroyItselfWhileHandlingAMessage) {
    int delivered = 0;
    HWND wnd = 0;
    wnd = AllocateHWnd([&](UINT, WPARAM, LPARAM) {
        ++delivered;
        DeallocateHWnd(wnd);
        return LRESULT(0);
    });
    ASSERT_TRUE(PostMessageW(wnd, WM_USER, 0, 0));
    ASSERT_TRUE(PostMessageW(wnd, WM_USER, 0, 0));
    ASSERT_TRUE(PumpUntil([&] { return delivered > 0; }));
    PumpBriefly();
    EXPECT_EQ(delivered, 1);
    EXPECT_FALSE(IsWindow(wnd));
}

TEST(MessagesTest, ThreadQueuesExistFromTheFirstPeekUntilTheThreadEnds) {
    TEvent idKnown(true, false), queueMade(true, false), mayPeek(true, false);
    DWORD workerId = 0;
    std::vector<MSG> received;
    std::thread worker([&] {
        workerId = GetCurrentThreadId();
        EXPECT_EQ(GetCurrentThreadId(), workerId);
        idKnown.SetEvent();
        mayPeek.WaitForSignal(INFINITE);
        MSG msg{};
        EXPECT_FALSE(PeekMessageW(&msg, 0, 0, 0, PM_REMOVE)); // makes the queue
        queueMade.SetEvent();
        while (GetMessageW(&msg, 0, 0, 0))
            received.push_back(msg);
        received.push_back(msg);
    });
    idKnown.WaitForSignal(INFINITE);
    EXPECT_NE(workerId, GetCurrentThreadId());
    EXPECT_FALSE(PostThreadMessageW(workerId, WM_USER, 0, 0));
    mayPeek.SetEvent();
    queueMade.WaitForSignal(INFINITE);
    EXPECT_TRUE(PostThreadMessageW(workerId, WM_USER, 1, 10));
    EXPECT_TRUE(PostThreadMessageW(workerId, WM_USER + 1, 2, 20));
    EXPECT_TRUE(PostThreadMessageW(workerId, WM_QUIT, 0, 0));
    worker.join();

    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].message, WM_USER);
    EXPECT_EQ(received[0].lParam, 10);
    EXPECT_EQ(received[1].message, WM_USER + 1);
    EXPECT_EQ(received[1].hwnd, HWND(0));
    EXPECT_EQ(received[2].message, WM_QUIT);
    EXPECT_FALSE(PostThreadMessageW(workerId, WM_USER, 0, 0));
}

TEST(MessagesTest, PeekOnTheThreadQueueReturnsWaitingMessages) {
    MSG msg{};
    PeekMessageW(&msg, 0, 0, 0, PM_REMOVE);
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER, 5, 0));
    ASSERT_TRUE(PeekMessageW(&msg, 0, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageW(&msg, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, WPARAM(5));
    EXPECT_FALSE(PeekMessageW(&msg, 0, 0, 0, PM_REMOVE));
}

} // namespace
