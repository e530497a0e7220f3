#include "platform/GlobalMemory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace win {

namespace {
// A block never moves here, so its handle is its address; the table knows which addresses are
// blocks, their sizes and their lock counts.
struct TBlock {
    std::size_t Size = 0;
    int Locks = 0;
};

std::mutex TableLock;
std::unordered_map<const void*, TBlock>& Blocks() {
    static std::unordered_map<const void*, TBlock> blocks;
    return blocks;
}
} // namespace

HGLOBAL GlobalAlloc(UINT Flags, std::size_t Bytes) {
    void* memory =
        (Flags & GMEM_ZEROINIT) ? std::calloc(Bytes ? Bytes : 1, 1) : std::malloc(Bytes ? Bytes : 1);
    if (!memory)
        return nullptr;
    std::lock_guard<std::mutex> lock(TableLock);
    Blocks()[memory] = TBlock{Bytes, 0};
    return memory;
}

void* GlobalLock(HGLOBAL Block) {
    std::lock_guard<std::mutex> lock(TableLock);
    const auto found = Blocks().find(Block);
    if (found == Blocks().end())
        return nullptr;
    ++found->second.Locks;
    return Block;
}

bool GlobalUnlock(HGLOBAL Block) {
    std::lock_guard<std::mutex> lock(TableLock);
    const auto found = Blocks().find(Block);
    if (found == Blocks().end() || found->second.Locks == 0)
        return false;
    return --found->second.Locks > 0;
}

HGLOBAL GlobalHandle(const void* Address) {
    std::lock_guard<std::mutex> lock(TableLock);
    return Blocks().count(Address) ? const_cast<void*>(Address) : nullptr;
}

HGLOBAL GlobalFree(HGLOBAL Block) {
    {
        std::lock_guard<std::mutex> lock(TableLock);
        if (!Blocks().erase(Block))
            return Block;
    }
    std::free(Block);
    return nullptr;
}

std::size_t GlobalSize(HGLOBAL Block) {
    std::lock_guard<std::mutex> lock(TableLock);
    const auto found = Blocks().find(Block);
    return found == Blocks().end() ? 0 : found->second.Size;
}

} // namespace win
