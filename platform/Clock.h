#pragma once
// Millisecond clocks: a steady count since an arbitrary start, 32 bits, wrapping after 49.7 days.
// Differences taken in 32-bit unsigned arithmetic stay right across the wrap.

#include "platform/MMSystem.h"

namespace win {

DWORD timeGetTime();
DWORD GetTickCount();

} // namespace win
