#include "platform/MessagePump.h"

#include <QAbstractEventDispatcher>
#include <QBasicTimer>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <chrono>
#include <climits>

namespace win {

namespace {

bool IsUserInput(QEvent::Type Type) {
    switch (Type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::NativeGesture:
        return true;
    default:
        return false;
    }
}

// Exists for one pumping wait in the waiting thread. On the main thread it filters the
// application's events: user input is dropped and a quit request is taken over by the wait. Its
// timer bounds the blocking step of the event dispatcher by the time left.
class TPumpGuard : public QObject {
public:
    explicit TPumpGuard(bool FilterApplication) : FFiltering(FilterApplication) {
        if (FFiltering)
            QCoreApplication::instance()->installEventFilter(this);
    }
    ~TPumpGuard() override {
        if (FFiltering)
            QCoreApplication::instance()->removeEventFilter(this);
    }

    bool QuitRequested() const { return FQuitRequested; }
    void ArmTimer(DWORD Milliseconds) {
        FTimer.start(static_cast<int>(std::min<DWORD>(Milliseconds, INT_MAX)), Qt::PreciseTimer, this);
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() == QEvent::Quit && Watched == QCoreApplication::instance()) {
            FQuitRequested = true;
            return true;
        }
        return IsUserInput(Event->type());
    }
    void timerEvent(QTimerEvent* Event) override {
        // Being delivered is all the timer is for: it makes the dispatcher return.
        if (Event->timerId() == FTimer.timerId())
            FTimer.stop();
    }

private:
    const bool FFiltering;
    bool FQuitRequested = false;
    QBasicTimer FTimer;
};

class TWakeRegistration {
public:
    TWakeRegistration(TWaitable* Handle, QAbstractEventDispatcher* Dispatcher)
        : FHandle(Handle), FId(Handle->AddWakeCallback([Dispatcher] { Dispatcher->wakeUp(); })) {}
    ~TWakeRegistration() { FHandle->RemoveWakeCallback(FId); }
    TWakeRegistration(const TWakeRegistration&) = delete;
    TWakeRegistration& operator=(const TWakeRegistration&) = delete;

private:
    TWaitable* FHandle;
    TWaitable::TWakeId FId;
};

} // namespace

DWORD MsgWaitForSingleObjectPumping(TWaitable* Handle, DWORD Timeout) {
    if (Handle == nullptr)
        return WAIT_FAILED;
    QCoreApplication* application = QCoreApplication::instance();
    QAbstractEventDispatcher* dispatcher = application ? QAbstractEventDispatcher::instance() : nullptr;
    if (dispatcher == nullptr)
        return WaitForSingleObject(Handle, Timeout);

    const auto start = std::chrono::steady_clock::now();
    // Registered before the first look at the state, so a signal arriving at any later moment
    // wakes the dispatcher.
    TWakeRegistration wake(Handle, dispatcher);
    if (Handle->TryConsumeSignal())
        return WAIT_OBJECT_0;

    TPumpGuard guard(QThread::currentThread() == application->thread());
    for (;;) {
        DWORD remaining = INFINITE;
        if (Timeout != INFINITE) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count();
            remaining = elapsed >= Timeout ? 0 : Timeout - static_cast<DWORD>(elapsed);
        }
        if (Handle->TryConsumeSignal())
            return WAIT_OBJECT_0;
        if (remaining == 0)
            return WAIT_TIMEOUT;
        if (remaining != INFINITE)
            guard.ArmTimer(remaining);
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        // The quit request has been consumed, so it is reported even if the object got signalled
        // as well.
        if (guard.QuitRequested())
            return WAIT_QUIT;
    }
}

void PostQuitMessage() {
    if (QCoreApplication* application = QCoreApplication::instance())
        QCoreApplication::postEvent(application, new QEvent(QEvent::Quit));
}

void Synchronize(const std::function<void()>& Step) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() == application->thread()) {
        Step();
        return;
    }
    QMetaObject::invokeMethod(application, Step, Qt::BlockingQueuedConnection);
}

} // namespace win
