#pragma once
// Unbuffered RIFF chunk I/O. All transfers go through a custom I/O procedure, so the same chunk
// functions work over any byte store the procedure reaches.

#include "platform/MMSystem.h"

#include <cstdint>

namespace win {

using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

struct MMIOINFO;
using LPMMIOPROC = LRESULT (*)(MMIOINFO* Info, UINT Message, LPARAM Param1, LPARAM Param2);

struct MMIOINFO {
    DWORD dwFlags;
    LPMMIOPROC pIOProc;
    UINT wErrorRet;
    LONG lDiskOffset;          // the I/O procedure's own position
    std::uintptr_t adwInfo[3]; // free for the I/O procedure
};

// Chunk descriptor.
struct MMCKINFO {
    FOURCC ckid;
    DWORD cksize;
    FOURCC fccType;     // form type of RIFF and LIST chunks
    DWORD dwDataOffset; // stream offset of the data portion (the form type for RIFF and LIST)
    DWORD dwFlags;
};

struct MMIOHandle;
using HMMIO = MMIOHandle*;

// I/O procedure messages: Param1 and Param2 are buffer and count (read, write), or offset and
// origin (seek). The procedure returns a byte count or position, 0 for open and close, -1 on errors.
constexpr UINT MMIOM_READ = 0;
constexpr UINT MMIOM_WRITE = 1;
constexpr UINT MMIOM_SEEK = 2;
constexpr UINT MMIOM_OPEN = 3;
constexpr UINT MMIOM_CLOSE = 4;
constexpr UINT MMIOM_WRITEFLUSH = 5;

constexpr DWORD MMIO_READ = 0x0000;
constexpr DWORD MMIO_WRITE = 0x0001;
constexpr DWORD MMIO_READWRITE = 0x0002;
constexpr UINT MMIO_FHOPEN = 0x0010;
constexpr UINT MMIO_FINDCHUNK = 0x0010;
constexpr UINT MMIO_FINDRIFF = 0x0020;
constexpr UINT MMIO_FINDLIST = 0x0040;
constexpr UINT MMIO_CREATERIFF = 0x0020;
constexpr UINT MMIO_CREATELIST = 0x0040;
constexpr DWORD MMIO_DIRTY = 0x10000000;

constexpr int SEEK_SET_ORIGIN = 0;
constexpr int SEEK_CUR_ORIGIN = 1;
constexpr int SEEK_END_ORIGIN = 2;

constexpr MMRESULT MMIOERR_CANNOTOPEN = 259;
constexpr MMRESULT MMIOERR_CANNOTREAD = 261;
constexpr MMRESULT MMIOERR_CANNOTWRITE = 262;
constexpr MMRESULT MMIOERR_CANNOTSEEK = 263;
constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = 265;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return FOURCC(std::uint8_t(a)) | FOURCC(std::uint8_t(b)) << 8 | FOURCC(std::uint8_t(c)) << 16 |
           FOURCC(std::uint8_t(d)) << 24;
}
constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');

// Opens a handle over Info's I/O procedure (which gets MMIOM_OPEN); nullptr when it refuses,
// with the reason in Info->wErrorRet.
HMMIO mmioOpen(MMIOINFO* Info, DWORD Flags);
MMRESULT mmioClose(HMMIO Handle, UINT Flags);
LONG mmioRead(HMMIO Handle, void* Buffer, LONG Count);
LONG mmioWrite(HMMIO Handle, const void* Buffer, LONG Count);
LONG mmioSeek(HMMIO Handle, LONG Offset, int Origin);
// Finds the next chunk (by id, or a RIFF/LIST chunk by form type) from the current position,
// skipping others by their even-rounded size and staying inside Parent; leaves the position at its data.
MMRESULT mmioDescend(HMMIO Handle, MMCKINFO* Chunk, const MMCKINFO* Parent, UINT Flags);
// Writes a chunk header at the current position; the size is fixed by mmioAscend.
MMRESULT mmioCreateChunk(HMMIO Handle, MMCKINFO* Chunk, UINT Flags);
// Leaves a chunk: a created one gets its pad byte and size written; the position ends after it.
MMRESULT mmioAscend(HMMIO Handle, MMCKINFO* Chunk, UINT Flags);
// Four-character code of a text, blank-padded, case unchanged.
FOURCC mmioStringToFOURCC(const char* Text, UINT Flags);

} // namespace win
