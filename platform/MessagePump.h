#pragma once
// A wait that keeps the calling thread's Qt events flowing, as the audio units' waits for their
// recording and callback threads need: the user interface keeps painting and timers keep running,
// while keyboard and mouse input is dropped so that the user cannot start anything meanwhile.

#include "platform/MMSystem.h"
#include "platform/Waitable.h"

#include <functional>

namespace win {

// Result of MsgWaitForSingleObjectPumping when a quit request ended the wait.
constexpr DWORD WAIT_QUIT = 1;

// Waits up to Timeout ms (INFINITE for ever) for Handle while delivering the calling thread's
// events. Returns WAIT_OBJECT_0 when the object is signalled (at once, dispatching nothing, when it
// already is), WAIT_TIMEOUT, WAIT_FAILED for a null handle, or WAIT_QUIT when a quit request for the
// application arrived meanwhile; that request is consumed, so the application goes on running.
// Keyboard and mouse input reaching the thread's objects during the wait is dropped. Input
// filtering and quit requests concern the application's main thread, where the application object
// and the widgets live. On a thread without a Qt event dispatcher, or without an application, it
// is a plain WaitForSingleObject. Handlers run during the wait may wait themselves.
DWORD MsgWaitForSingleObjectPumping(TWaitable* Handle, DWORD Timeout);

// Asks the application to quit: posts a QEvent::Quit to the application object. A pumping wait
// that sees it ends with WAIT_QUIT; otherwise the application handles it as usual.
void PostQuitMessage();

// Runs Step on the application's main thread and returns when it has run: at once when called
// there (or when there is no application), else handed over while the calling thread waits, so
// the main thread must be running its event loop or a pumping wait meanwhile.
void Synchronize(const std::function<void()>& Step);

} // namespace win
