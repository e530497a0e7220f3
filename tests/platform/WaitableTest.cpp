#include "platform/Waitable.h"
#include "platform/MessagePump.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace win; // the platform layer's Windows-style names

using namespace std::chrono_literals;

namespace {

const QEvent::Type CustomEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point Start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Start).count();
}

// Sets the event from another thread after a delay; joins on destruction.
class TDelayedSetter {
public:
    TDelayedSetter(TEvent& Event, std::chrono::milliseconds Delay)
        : FThread([&Event, Delay] {
              std::this_thread::sleep_for(Delay);
              Event.SetEvent();
          }) {}
    ~TDelayedSetter() { FThread.join(); }

private:
    std::thread FThread;
};

// Counts the events it receives by type; a custom event may run a handler.
class TCountingWidget : public QWidget {
public:
    std::map<QEvent::Type, int> Counts;
    std::function<void()> OnCustom;

    TCountingWidget() { setMouseTracking(true); } // else moves without buttons are not delivered

    int Count(QEvent::Type Type) const {
        const auto it = Counts.find(Type);
        return it == Counts.end() ? 0 : it->second;
    }

protected:
    bool event(QEvent* Event) override {
        ++Counts[Event->type()];
        if (Event->type() == CustomEventType) {
            if (OnCustom)
                OnCustom();
            return true;
        }
        return QWidget::event(Event);
    }
};

// Counts quit requests that get past any pumping wait to the application itself.
class TQuitCounter : public QObject {
public:
    int Quits = 0;
    TQuitCounter() { qApp->installEventFilter(this); }
    ~TQuitCounter() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Watched == qApp && Event->type() == QEvent::Quit) {
            ++Quits;
            return true; // keeps the test program's application alive
        }
        return false;
    }
};

void PostCustom(QObject* Receiver) {
    QCoreApplication::postEvent(Receiver, new QEvent(CustomEventType));
}

// Lets everything already queued be delivered, so that each test starts and ends clean.
void Drain() {
    QCoreApplication::processEvents();
}

std::vector<std::unique_ptr<QEvent>> MakeInputEvents() {
    const QPointF at(5, 5);
    std::vector<std::unique_ptr<QEvent>> events;
    events.push_back(std::make_unique<QKeyEvent>(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a"));
    events.push_back(std::make_unique<QKeyEvent>(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, "a"));
    events.push_back(std::make_unique<QKeyEvent>(QEvent::ShortcutOverride, Qt::Key_A, Qt::ControlModifier));
    for (QEvent::Type type :
         {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick})
        events.push_back(
            std::make_unique<QMouseEvent>(type, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    events.push_back(
        std::make_unique<QMouseEvent>(QEvent::MouseMove, at, at, Qt::NoButton, Qt::NoButton, Qt::NoModifier));
    events.push_back(std::make_unique<QWheelEvent>(at, at, QPoint(), QPoint(0, 120), Qt::NoButton,
                                                   Qt::NoModifier, Qt::NoScrollPhase, false));
    return events;
}

void PostInputEvents(QObject* Receiver) {
    for (auto& event : MakeInputEvents())
        QCoreApplication::postEvent(Receiver, event.release());
}

} // namespace

// --- Waitable objects and the plain wait ---

TEST(Waitable, EventResetModes) {
    TEvent autoReset(false, true);
    EXPECT_TRUE(autoReset.IsSet());
    EXPECT_EQ(WaitForSingleObject(&autoReset, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(autoReset.IsSet()) << "a successful wait consumes an auto-reset event";
    EXPECT_EQ(WaitForSingleObject(&autoReset, 0), WAIT_TIMEOUT);
    autoReset.SetEvent();
    autoReset.SetEvent(); // signals do not add up
    EXPECT_TRUE(autoReset.TryConsumeSignal());
    EXPECT_FALSE(autoReset.TryConsumeSignal());

    TEvent manualReset(true, false);
    EXPECT_EQ(WaitForSingleObject(&manualReset, 0), WAIT_TIMEOUT);
    manualReset.SetEvent();
    EXPECT_EQ(WaitForSingleObject(&manualReset, 0), WAIT_OBJECT_0);
    EXPECT_EQ(MsgWaitForSingleObjectPumping(&manualReset, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(manualReset.IsSet()) << "waits leave a manual-reset event signalled";
    manualReset.ResetEvent();
    EXPECT_EQ(WaitForSingleObject(&manualReset, 0), WAIT_TIMEOUT);
}

TEST(Waitable, NullHandleFails) {
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(nullptr, INFINITE), WAIT_FAILED);
    EXPECT_EQ(MsgWaitForSingleObjectPumping(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(MsgWaitForSingleObjectPumping(nullptr, INFINITE), WAIT_FAILED);
}

TEST(Waitable, PlainWaitTimesOutOrWakesOnSignal) {
    TEvent event(true, false);
    const auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(&event, 50), WAIT_TIMEOUT);
    EXPECT_GE(MillisecondsSince(start), 50);

    TDelayedSetter setter(event, 30ms);
    EXPECT_EQ(WaitForSingleObject(&event, INFINITE), WAIT_OBJECT_0);
}

TEST(Waitable, AutoResetSignalReleasesExactlyOneWaiter) {
    // Once with two plain waiters, once with the main thread's pumping wait against a plain one.
    for (bool pumping : {false, true}) {
        TEvent event(false, false);
        std::atomic<int> released{0};
        std::thread other([&] {
            if (WaitForSingleObject(&event, 300) == WAIT_OBJECT_0)
                ++released;
        });
        TDelayedSetter setter(event, 20ms);
        const DWORD result =
            pumping ? MsgWaitForSingleObjectPumping(&event, 300) : WaitForSingleObject(&event, 300);
        if (result == WAIT_OBJECT_0)
            ++released;
        else
            EXPECT_EQ(result, WAIT_TIMEOUT);
        other.join();
        EXPECT_EQ(released, 1) << (pumping ? "pumping" : "plain");
        EXPECT_FALSE(event.IsSet());
    }
}

TEST(Waitable, ThreadIsSignalledWhenItsFunctionEnds) {
    std::thread::id seenInside;
    TEvent go(true, false);
    TWaitableThread* self = nullptr;
    TWaitableThread thread([&] {
        WaitForSingleObject(&go, INFINITE);
        seenInside = self->ThreadId();
        EXPECT_EQ(seenInside, std::this_thread::get_id());
    });
    self = &thread;
    EXPECT_EQ(WaitForSingleObject(&thread, 0), WAIT_TIMEOUT);
    go.SetEvent();
    EXPECT_EQ(MsgWaitForSingleObjectPumping(&thread, 5000), WAIT_OBJECT_0);
    // An ended thread stays signalled.
    EXPECT_EQ(WaitForSingleObject(&thread, 0), WAIT_OBJECT_0);
    EXPECT_EQ(MsgWaitForSingleObjectPumping(&thread, 0), WAIT_OBJECT_0);
    EXPECT_EQ(seenInside, thread.ThreadId());
    EXPECT_FALSE(thread.Exception());
    thread.Join();
    thread.Join();
}

TEST(Waitable, ThreadKeepsWhatItsFunctionThrew) {
    TWaitableThread thread([] { throw std::runtime_error("recording failed"); });
    EXPECT_EQ(WaitForSingleObject(&thread, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(thread.Exception());
    try {
        std::rethrow_exception(thread.Exception());
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "recording failed");
    }
}

// --- The pumping wait ---

TEST(PumpingWait, AlreadySignalledReturnsWithoutDispatching) {
    Drain();
    TCountingWidget widget;
    TEvent event(false, true);
    PostCustom(&widget);
    EXPECT_EQ(MsgWaitForSingleObjectPumping(&event, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(widget.Count(CustomEventType), 0);
    EXPECT_FALSE(event.IsSet());
    Drain();
    EXPECT_EQ(widget.Count(CustomEventType), 1);
}

TEST(PumpingWait, TimesOut) {
    Drain();
    TCountingWidget widget;
    TEvent event(true, false);
    PostCustom(&widget);
    EXPECT_EQ(MsgWaitForSingleObjectPumping(&event, 0), WAIT_TIMEOUT);
    EXPECT_EQ(widget.Count(CustomEventType), 0) << "a zero timeout does not dispatch";

    const auto start = Clock::now();
    EXPECT_EQ(MsgWaitForSingleObjectPumping(&event, 50), WAIT_TIMEOUT);
    const auto elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 50);
    EXPECT_LT(elapsed, 2000);
    EXPECT_EQ(widget.Count(CustomEventType), 1);
}

TEST(PumpingWait, DeliversThreadEventsUntilSignalledFromAnotherThread) {
    Drain();
    TCountingWidget widget;
    TEvent event(false, false);
    bool timerFired = false;
    QTimer::singleShot(10, &widget, [&] { timerFired = true; });
    PostCustom(&widget);

    const auto start = Clock::now();
    TDelayedSetter setter(event, 30ms);
    EXPECT_EQ(MsgWaitForSingleObjectPumping(&event, 10000), WAIT_OBJECT_0);
    EXPECT_LT(MillisecondsSince(start), 2000) << "the signal has to wake the waiting thread";
    EXPECT_EQ(widget.Count(CustomEventType), 1);
    EXPECT_TRUE(timerFired);
    EXPECT_FALSE(event.IsSet());
}

TEST(PumpingWait, DropsUserInputButNotOtherEvents) {
    Drain();
    TCountingWidget widget;
    const auto inputEvents = MakeInputEvents();

    // Outside a wait the same events reach the widget, so the check below is not vacuous.
    PostInputEvents(&widget);
    Drain();
    for (const auto& input : inputEvents)
        ASSERT_GE(widget.Count(input->type()), 1) << "type " << input->type(); // key presses add overrides
    widget.Counts.clear();

    TEvent event(true, false);
    PostInputEvents(&widget);
    PostCustom(&widget);
    QTimer::singleShot(20, &widget, [&] { PostInputEvents(&widget); });
    EXPECT_EQ(MsgWaitForSingleObjectPumping(&event, 60), WAIT_TIMEOUT);
    Drain();
    for (const auto& input : inputEvents)
        EXPECT_EQ(widget.Count(input->type()), 0) << "type " << input->type();
    EXPECT_EQ(widget.Count(CustomEventType), 1);

    // The filter is gone once the wait has returned.
    PostInputEvents(&widget);
    Drain();
    EXPECT_EQ(widget.Count(QEvent::KeyPress), 1);
}

TEST(PumpingWait, QuitRequestEndsTheWaitAndIsConsumed) {
    struct Case {
        const char* name;
        std::function<void()> requestQuit;
    };
    const Case cases[] = {
        {"posted", [] { PostQuitMessage(); }},
        {"sent",
         [] {
             QEvent quit(QEvent::Quit);
             QCoreApplication::sendEvent(qApp, &quit);
         }},
    };
    for (const Case& c : cases) {
        Drain();
        TQuitCounter counter;
        TEvent event(true, false);
        QTimer::singleShot(10, qApp, c.requestQuit);
        const auto start = Clock::now();
        EXPECT_EQ(MsgWaitForSingleObjectPumping(&event, 5000), WAIT_QUIT) << c.name;
        EXPECT_LT(MillisecondsSince(start), 2000) << c.name;
        Drain();
        EXPECT_EQ(counter.Quits, 0) << c.name;
    }
}

TEST(PumpingWait, TakesQuitOfRunningApplication) {
    // QCoreApplication::quit() only acts inside exec(); the application keeps running afterwards.
    Drain();
    TEvent event(true, false);
    DWORD result = WAIT_FAILED;
    bool ranAfterWait = false;
    QTimer::singleShot(0, qApp, [&] {
        QTimer::singleShot(10, qApp, [] { QCoreApplication::quit(); });
        result = MsgWaitForSingleObjectPumping(&event, 5000);
        QTimer::singleShot(0, qApp, [&] {
            ranAfterWait = true;
            QCoreApplication::exit(7);
        });
    });
    EXPECT_EQ(QCoreApplication::exec(), 7);
    EXPECT_EQ(result, WAIT_QUIT);
    EXPECT_TRUE(ranAfterWait);
}

TEST(PumpingWait, HandlersMayWaitThemselves) {
    Drain();
    TCountingWidget widget;
    TEvent outer(true, false);
    TEvent inner(true, false);
    DWORD innerTimeout = WAIT_FAILED, innerQuit = WAIT_FAILED;
    widget.OnCustom = [&] {
        innerTimeout = MsgWaitForSingleObjectPumping(&inner, 20);
        PostQuitMessage();
        innerQuit = MsgWaitForSingleObjectPumping(&inner, 5000);
    };
    TQuitCounter counter;
    PostCustom(&widget);
    TDelayedSetter setter(outer, 100ms);
    EXPECT_EQ(MsgWaitForSingleObjectPumping(&outer, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(innerTimeout, WAIT_TIMEOUT);
    EXPECT_EQ(innerQuit, WAIT_QUIT) << "the innermost wait takes the quit request";
    Drain();
    EXPECT_EQ(counter.Quits, 0);
}

TEST(PumpingWait, ThreadWithoutDispatcherFallsBackToPlainWait) {
    TEvent event(true, false);
    DWORD timeout = WAIT_FAILED, signalled = WAIT_FAILED;
    long long timeoutElapsed = 0;
    std::thread plain([&] {
        const auto start = Clock::now();
        timeout = MsgWaitForSingleObjectPumping(&event, 50);
        timeoutElapsed = MillisecondsSince(start);
        signalled = MsgWaitForSingleObjectPumping(&event, 10000);
    });
    std::this_thread::sleep_for(100ms);
    event.SetEvent();
    plain.join();
    EXPECT_EQ(timeout, WAIT_TIMEOUT);
    EXPECT_GE(timeoutElapsed, 50);
    EXPECT_EQ(signalled, WAIT_OBJECT_0);
}

TEST(PumpingWait, WorkerThreadDeliversItsOwnEvents) {
    TEvent event(true, false);
    DWORD result = WAIT_FAILED;
    int timerCalls = 0;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        QObject receiver;
        QTimer::singleShot(0, &receiver, [&] { ++timerCalls; });
        result = MsgWaitForSingleObjectPumping(&event, 10000);
    }));
    worker->start();
    std::this_thread::sleep_for(50ms);
    event.SetEvent();
    ASSERT_TRUE(worker->wait(5000));
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_EQ(timerCalls, 1);
}
