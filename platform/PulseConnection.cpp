#include "platform/PulseConnection.h"

#include <utility>

TPulseConnection::TPulseConnection(const char* Name, std::function<void()> Lost)
    : FName(Name), FLost(std::move(Lost)) {}

TPulseConnection::~TPulseConnection() {
    if (FLoop == nullptr)
        return;
    Lock();
    Disarm();
    if (FContext != nullptr) {
        pa_context_set_state_callback(FContext, nullptr, nullptr);
        pa_context_set_subscribe_callback(FContext, nullptr, nullptr);
        pa_context_disconnect(FContext);
    }
    Unlock();
    if (FStarted)
        pa_threaded_mainloop_stop(FLoop);
    if (FContext != nullptr)
        pa_context_unref(FContext);
    pa_threaded_mainloop_free(FLoop);
}

bool TPulseConnection::Connect(std::chrono::milliseconds Timeout, QString* Error) {
    auto fail = [Error](const QString& Reason) {
        if (Error != nullptr)
            *Error = Reason;
        return false;
    };
    FLoop = pa_threaded_mainloop_new();
    if (FLoop == nullptr)
        return fail(QStringLiteral("Cannot create a PulseAudio event loop"));
    FContext = pa_context_new(pa_threaded_mainloop_get_api(FLoop), FName);
    if (FContext == nullptr)
        return fail(QStringLiteral("Cannot create a PulseAudio connection"));
    pa_context_set_state_callback(FContext, &TPulseConnection::StateChanged, this);
    if (pa_threaded_mainloop_start(FLoop) < 0)
        return fail(QStringLiteral("Cannot create a PulseAudio connection"));
    FStarted = true;
    TLock lock(*this);
    const auto timeout = pa_usec_t(std::chrono::microseconds(Timeout).count());
    FDeadline =
        pa_context_rttime_new(FContext, pa_rtclock_now() + timeout, &TPulseConnection::TimedOut, this);
    const bool connected = pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
                           Wait([this] { return pa_context_get_state(FContext) == PA_CONTEXT_READY; });
    return connected || fail(LastError());
}

bool TPulseConnection::Wait(const std::function<bool()>& Done) {
    for (;;) {
        if (Done())
            return true;
        if (!Good() || FTimedOut)
            return false;
        WaitForSignal();
    }
}

bool TPulseConnection::Run(pa_operation* Operation) {
    if (Operation == nullptr)
        return false;
    pa_operation_set_state_callback(
        Operation,
        [](pa_operation*, void* Connection) { static_cast<TPulseConnection*>(Connection)->Signal(); }, this);
    const bool ended =
        Wait([Operation] { return pa_operation_get_state(Operation) != PA_OPERATION_RUNNING; });
    pa_operation_set_state_callback(Operation, nullptr, nullptr);
    if (!ended)
        pa_operation_cancel(Operation);
    const bool done = pa_operation_get_state(Operation) == PA_OPERATION_DONE;
    pa_operation_unref(Operation);
    return done;
}

bool TPulseConnection::WaitForStream(pa_stream* Stream) {
    return Wait([Stream] {
               const pa_stream_state_t state = pa_stream_get_state(Stream);
               return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
           }) &&
           pa_stream_get_state(Stream) == PA_STREAM_READY;
}

void TPulseConnection::Release(pa_stream* Stream) {
    pa_stream_set_state_callback(Stream, nullptr, nullptr);
    pa_stream_set_read_callback(Stream, nullptr, nullptr);
    pa_stream_set_write_callback(Stream, nullptr, nullptr);
    pa_stream_disconnect(Stream);
    pa_stream_unref(Stream);
}

void TPulseConnection::WaitForSignal() {
    pa_threaded_mainloop_wait(FLoop);
}

void TPulseConnection::Signal() {
    pa_threaded_mainloop_signal(FLoop, 0);
}

void TPulseConnection::Disarm() {
    if (FDeadline != nullptr)
        pa_threaded_mainloop_get_api(FLoop)->time_free(FDeadline);
    FDeadline = nullptr;
}

bool TPulseConnection::Good() const {
    return PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext));
}

QString TPulseConnection::LastError() const {
    if (FTimedOut && Good())
        return QString::fromUtf8(pa_strerror(PA_ERR_TIMEOUT));
    return QString::fromUtf8(pa_strerror(pa_context_errno(FContext)));
}

void TPulseConnection::Lock() {
    pa_threaded_mainloop_lock(FLoop);
}

void TPulseConnection::Unlock() {
    pa_threaded_mainloop_unlock(FLoop);
}

void TPulseConnection::StateChanged(pa_context* Context, void* Connection) {
    auto* self = static_cast<TPulseConnection*>(Connection);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(Context)) && self->FLost) {
        // Called once: a context that has failed or ended stays so.
        std::exchange(self->FLost, nullptr)();
    }
    self->Signal();
}

void TPulseConnection::TimedOut(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* Connection) {
    auto* self = static_cast<TPulseConnection*>(Connection);
    self->FTimedOut = true;
    self->Signal();
}
