#include "platform/Clock.h"

#include <chrono>

namespace win {

DWORD timeGetTime() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

DWORD GetTickCount() {
    return timeGetTime();
}

} // namespace win
