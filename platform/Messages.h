#pragma once
// Message targets for notifications: hidden windows that belong to the thread that made them (their
// messages are delivered one at a time, in posting order, by that thread's Qt event loop or by
// PeekMessage), and per-thread message queues for threads that run their own message loop.

#include "platform/MMIO.h"
#include "platform/MMSystem.h"

#include <cstdint>
#include <functional>

namespace win {

using HWND = std::uintptr_t; // 0 is no window
using WPARAM = std::uintptr_t;
using BOOL = int;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_USER = 0x0400;
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

// The procedure of a hidden window: message, first and second parameter → result.
using TWndMethod = std::function<LRESULT(UINT Message, WPARAM wParam, LPARAM lParam)>;

// A hidden window of the calling thread (which must have a Qt event dispatcher, or pump with
// PeekMessage itself). Messages posted to it run Method on that thread.
HWND AllocateHWnd(TWndMethod Method);
// Destroys the window; messages still queued for it are dropped. Call on the owning thread.
void DeallocateHWnd(HWND Wnd);
bool IsWindow(HWND Wnd);

// Queues a message for a window from any thread; false when the window does not exist.
BOOL PostMessageW(HWND Wnd, UINT Message, WPARAM wParam, LPARAM lParam);
// Takes (PM_REMOVE) or looks at (PM_NOREMOVE) the next message: of window Wnd of the calling
// thread, or, with Wnd 0, of the calling thread's queue (which this call creates). The message range
// filter is not supported: pass 0, 0.
BOOL PeekMessageW(MSG* Msg, HWND Wnd, UINT FilterMin, UINT FilterMax, UINT RemoveMsg);
// Runs the procedure of the message's window; 0 for thread messages.
LRESULT DispatchMessageW(const MSG* Msg);
BOOL TranslateMessage(const MSG* Msg);
LRESULT DefWindowProcW(HWND Wnd, UINT Message, WPARAM wParam, LPARAM lParam);

// A small number naming the calling thread, stable for its life.
DWORD GetCurrentThreadId();
// Queues a message for a thread that created its queue (PeekMessageW with Wnd 0); false otherwise.
BOOL PostThreadMessageW(DWORD ThreadId, UINT Message, WPARAM wParam, LPARAM lParam);
// Blocks for the next message of the calling thread's queue; false when it is WM_QUIT.
BOOL GetMessageW(MSG* Msg, HWND Wnd, UINT FilterMin, UINT FilterMax);
// Gives up the rest of the time slice.
void Sleep(DWORD Milliseconds);

} // namespace win
