#include "flash/player/ClipPainting.h"

#include <atomic>

namespace flash {

namespace {
std::atomic<ClipPainter> registered = nullptr;
} // namespace

void SetClipPainter(ClipPainter painter) {
    registered = painter;
}

ClipPainter GetClipPainter() {
    return registered;
}

} // namespace flash
