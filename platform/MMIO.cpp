#include "platform/MMIO.h"

#include <cstring>
#include <limits>

namespace win {

struct MMIOHandle {
    MMIOINFO Info;
};

namespace {
constexpr std::int64_t MaxPosition = std::numeric_limits<LONG>::max();

LRESULT Send(HMMIO Handle, UINT Message, LPARAM Param1, LPARAM Param2) {
    return Handle->Info.pIOProc(&Handle->Info, Message, Param1, Param2);
}

bool ReadDWord(HMMIO Handle, DWORD& Value) {
    std::uint8_t bytes[4];
    if (mmioRead(Handle, bytes, 4) != 4)
        return false;
    Value = DWORD(bytes[0]) | DWORD(bytes[1]) << 8 | DWORD(bytes[2]) << 16 | DWORD(bytes[3]) << 24;
    return true;
}

bool WriteDWord(HMMIO Handle, DWORD Value) {
    const std::uint8_t bytes[4] = {std::uint8_t(Value), std::uint8_t(Value >> 8), std::uint8_t(Value >> 16),
                                   std::uint8_t(Value >> 24)};
    return mmioWrite(Handle, bytes, 4) == 4;
}

bool HasFormType(FOURCC Id) {
    return Id == FOURCC_RIFF || Id == FOURCC_LIST;
}
} // namespace

HMMIO mmioOpen(MMIOINFO* Info, DWORD Flags) {
    if (!Info || !Info->pIOProc)
        return nullptr;
    auto* handle = new MMIOHandle{*Info};
    handle->Info.dwFlags = Flags;
    handle->Info.wErrorRet = 0;
    if (Send(handle, MMIOM_OPEN, 0, 0) != 0) {
        Info->wErrorRet = MMIOERR_CANNOTOPEN;
        delete handle;
        return nullptr;
    }
    return handle;
}

MMRESULT mmioClose(HMMIO Handle, UINT Flags) {
    if (!Handle)
        return MMSYSERR_INVALHANDLE;
    Send(Handle, MMIOM_CLOSE, LPARAM(Flags), 0);
    delete Handle;
    return MMSYSERR_NOERROR;
}

LONG mmioRead(HMMIO Handle, void* Buffer, LONG Count) {
    if (!Handle || Count < 0)
        return -1;
    return LONG(Send(Handle, MMIOM_READ, LPARAM(Buffer), LPARAM(Count)));
}

LONG mmioWrite(HMMIO Handle, const void* Buffer, LONG Count) {
    if (!Handle || Count < 0)
        return -1;
    // The chunk layer addresses the store with 32-bit signed offsets: refuse to go past them.
    if (std::int64_t{Handle->Info.lDiskOffset} + Count > MaxPosition)
        return -1;
    return LONG(Send(Handle, MMIOM_WRITE, LPARAM(Buffer), LPARAM(Count)));
}

LONG mmioSeek(HMMIO Handle, LONG Offset, int Origin) {
    if (!Handle)
        return -1;
    return LONG(Send(Handle, MMIOM_SEEK, LPARAM(Offset), LPARAM(Origin)));
}

MMRESULT mmioDescend(HMMIO Handle, MMCKINFO* Chunk, const MMCKINFO* Parent, UINT Flags) {
    if (!Handle || !Chunk)
        return MMSYSERR_INVALPARAM;
    const std::int64_t limit = Parent ? std::int64_t{Parent->dwDataOffset} + Parent->cksize
                                      : std::numeric_limits<std::int64_t>::max();
    const FOURCC wantedId = (Flags & MMIO_FINDRIFF)    ? FOURCC_RIFF
                            : (Flags & MMIO_FINDLIST)  ? FOURCC_LIST
                            : (Flags & MMIO_FINDCHUNK) ? Chunk->ckid
                                                       : 0;
    const bool byFormType = Flags & (MMIO_FINDRIFF | MMIO_FINDLIST);

    std::int64_t position = mmioSeek(Handle, 0, SEEK_CUR_ORIGIN);
    if (position < 0)
        return MMIOERR_CANNOTSEEK;
    for (;;) {
        if (position + 8 > limit)
            return MMIOERR_CHUNKNOTFOUND;
        DWORD id = 0, size = 0, formType = 0;
        if (!ReadDWord(Handle, id) || !ReadDWord(Handle, size))
            return MMIOERR_CHUNKNOTFOUND;
        const std::int64_t dataOffset = position + 8;
        if (HasFormType(id) && !ReadDWord(Handle, formType))
            return MMIOERR_CHUNKNOTFOUND;

        const bool matches = wantedId == 0 || (id == wantedId && (!byFormType || formType == Chunk->fccType));
        if (matches) {
            Chunk->ckid = id;
            Chunk->cksize = size;
            Chunk->fccType = HasFormType(id) ? formType : 0;
            Chunk->dwDataOffset = DWORD(dataOffset);
            Chunk->dwFlags = 0;
            return MMSYSERR_NOERROR;
        }
        const std::int64_t next = dataOffset + size + (size & 1);
        if (next > MaxPosition || mmioSeek(Handle, LONG(next), SEEK_SET_ORIGIN) != next)
            return MMIOERR_CHUNKNOTFOUND;
        position = next;
    }
}

MMRESULT mmioCreateChunk(HMMIO Handle, MMCKINFO* Chunk, UINT Flags) {
    if (!Handle || !Chunk)
        return MMSYSERR_INVALPARAM;
    const LONG position = mmioSeek(Handle, 0, SEEK_CUR_ORIGIN);
    if (position < 0)
        return MMIOERR_CANNOTSEEK;
    if (Flags & MMIO_CREATERIFF)
        Chunk->ckid = FOURCC_RIFF;
    else if (Flags & MMIO_CREATELIST)
        Chunk->ckid = FOURCC_LIST;
    if (!WriteDWord(Handle, Chunk->ckid) || !WriteDWord(Handle, Chunk->cksize))
        return MMIOERR_CANNOTWRITE;
    if (HasFormType(Chunk->ckid) && !WriteDWord(Handle, Chunk->fccType))
        return MMIOERR_CANNOTWRITE;
    Chunk->dwDataOffset = DWORD(position) + 8;
    Chunk->dwFlags = MMIO_DIRTY;
    return MMSYSERR_NOERROR;
}

MMRESULT mmioAscend(HMMIO Handle, MMCKINFO* Chunk, UINT /*Flags*/) {
    if (!Handle || !Chunk)
        return MMSYSERR_INVALPARAM;
    if (Chunk->dwFlags & MMIO_DIRTY) {
        const LONG position = mmioSeek(Handle, 0, SEEK_CUR_ORIGIN);
        if (position < 0 || DWORD(position) < Chunk->dwDataOffset)
            return MMIOERR_CANNOTSEEK;
        const DWORD size = DWORD(position) - Chunk->dwDataOffset;
        // A pad byte that cannot be written (a full disk) still leaves the size written: the data
        // before it is whole, and a reader finds it.
        bool padWritten = true;
        if (size & 1) {
            const std::uint8_t pad = 0;
            padWritten = mmioWrite(Handle, &pad, 1) == 1;
        }
        if (mmioSeek(Handle, LONG(Chunk->dwDataOffset - 4), SEEK_SET_ORIGIN) < 0 || !WriteDWord(Handle, size))
            return MMIOERR_CANNOTWRITE;
        Chunk->cksize = size;
        Chunk->dwFlags &= ~MMIO_DIRTY;
        if (!padWritten) {
            const std::int64_t dataEnd = std::int64_t{Chunk->dwDataOffset} + size;
            mmioSeek(Handle, LONG(dataEnd), SEEK_SET_ORIGIN);
            return MMIOERR_CANNOTWRITE;
        }
    }
    const std::int64_t end = std::int64_t{Chunk->dwDataOffset} + Chunk->cksize + (Chunk->cksize & 1);
    if (end > MaxPosition || mmioSeek(Handle, LONG(end), SEEK_SET_ORIGIN) != end)
        return MMIOERR_CANNOTSEEK;
    return MMSYSERR_NOERROR;
}

FOURCC mmioStringToFOURCC(const char* Text, UINT /*Flags*/) {
    char code[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; i < 4 && Text && Text[i]; ++i)
        code[i] = Text[i];
    return mmioFOURCC(code[0], code[1], code[2], code[3]);
}

} // namespace win
