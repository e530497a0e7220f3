#pragma once
// Movable memory blocks: a block is allocated by handle, locked to get its address, found again
// from that address, unlocked and freed. The frame grabber hands frames around this way.

#include "platform/MMSystem.h"

#include <cstddef>

namespace win {

using HGLOBAL = void*;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A new block of Bytes bytes (zero-filled with GMEM_ZEROINIT), or null when there is no memory.
HGLOBAL GlobalAlloc(UINT Flags, std::size_t Bytes);
// The block's address, counting one more lock; null for a null or unknown handle.
void* GlobalLock(HGLOBAL Block);
// Counts one lock less; true while the block is still locked.
bool GlobalUnlock(HGLOBAL Block);
// The handle of the block that starts at Address; null when no block does.
HGLOBAL GlobalHandle(const void* Address);
// Frees the block; null on success, the handle back when it is unknown.
HGLOBAL GlobalFree(HGLOBAL Block);
// The block's size in bytes; 0 for an unknown handle.
std::size_t GlobalSize(HGLOBAL Block);

} // namespace win
