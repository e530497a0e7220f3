#pragma once
// The AVI file service under the names of the video-file API: one file with one video stream, a
// compressed stream made over the raw one, samples written at frame positions. Behind it sit
// libavformat's AVI muxer, libavcodec's encoder for the stream's four-character code (MSVC:
// Microsoft Video 1) and libswscale for the frames' pixel format.
//
// A file is complete (headers and index written) once the file and every stream made from it have
// been released, in any order; streams keep the file alive. Handles that are not (or no longer)
// alive give AVIERR_BADHANDLE. All calls for one file must come from one thread at a time.

#include "platform/DIB.h"
#include "platform/MMSystem.h"

#include <QString>

namespace win {

using HRESULT = std::int32_t;

struct TAVIFile;
struct TAVIStream;
using PAVIFILE = TAVIFile*;
using PAVISTREAM = TAVIStream*;

constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT AVIERR_UNSUPPORTED = static_cast<HRESULT>(0x80044065);
constexpr HRESULT AVIERR_BADFORMAT = static_cast<HRESULT>(0x80044066);
constexpr HRESULT AVIERR_MEMORY = static_cast<HRESULT>(0x80044067);
constexpr HRESULT AVIERR_INTERNAL = static_cast<HRESULT>(0x80044068);
constexpr HRESULT AVIERR_BADPARAM = static_cast<HRESULT>(0x8004406A);
constexpr HRESULT AVIERR_BADHANDLE = static_cast<HRESULT>(0x8004406C);
constexpr HRESULT AVIERR_FILEWRITE = static_cast<HRESULT>(0x8004406E);
constexpr HRESULT AVIERR_FILEOPEN = static_cast<HRESULT>(0x8004406F);
constexpr HRESULT AVIERR_NOCOMPRESSOR = static_cast<HRESULT>(0x80044071);

constexpr UINT OF_WRITE = 0x0001;
constexpr UINT OF_CREATE = 0x1000;

constexpr DWORD AVICOMPRESSF_INTERLEAVE = 0x01;
constexpr DWORD AVICOMPRESSF_DATARATE = 0x02;
constexpr DWORD AVICOMPRESSF_KEYFRAMES = 0x04;
constexpr DWORD AVICOMPRESSF_VALID = 0x08;

constexpr DWORD AVIIF_KEYFRAME = 0x10;

constexpr FOURCC MakeFourCC(char A, char B, char C, char D) {
    return static_cast<FOURCC>(static_cast<BYTE>(A)) | (static_cast<FOURCC>(static_cast<BYTE>(B)) << 8) |
           (static_cast<FOURCC>(static_cast<BYTE>(C)) << 16) |
           (static_cast<FOURCC>(static_cast<BYTE>(D)) << 24);
}
constexpr FOURCC streamtypeVIDEO = MakeFourCC('v', 'i', 'd', 's');

#pragma pack(push, 1)
struct TRect32 {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

// Stream header, ANSI form (140 bytes).
struct AVISTREAMINFOA {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwCaps;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    TRect32 rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];
};
#pragma pack(pop)
static_assert(sizeof(AVISTREAMINFOA) == 140);

// Compression options (44 bytes on the 32-bit platform the record comes from; here pointers are
// wider, which nothing relies on).
struct AVICOMPRESSOPTIONS {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwKeyFrameEvery;
    DWORD dwQuality;
    DWORD dwBytesPerSecond;
    DWORD dwFlags;
    void* lpFormat;
    DWORD cbFormat;
    void* lpParms;
    DWORD cbParms;
    DWORD dwInterleaveEvery;
};

// Version of the video services: major in the high word, minor in the low byte of it (1.10 is
// 0x010A0000 and up). This layer reports 0x010A0000: 1.10, the level whose calls it offers.
DWORD VideoForWindowsVersion();

void AVIFileInit();
void AVIFileExit();

// Creates (or empties) the file FileName (8-bit, the system's code page) for writing; Mode must
// include OF_WRITE | OF_CREATE and Handler must be null (else AVIERR_UNSUPPORTED). A file that
// cannot be created gives AVIERR_FILEOPEN and no file.
HRESULT AVIFileOpenA(PAVIFILE* File, const char* FileName, UINT Mode, void* Handler);
// Adds the file's one stream, described by Info, and hands back a reference. Only video streams
// ('vids', dwRate and dwScale above 0: dwScale / dwRate seconds a frame) are supported. The frame
// size stored is the format's (AVIStreamSetFormat); rcFrame is only checked to be sane, and the
// muxer works out its own buffer size.
HRESULT AVIFileCreateStreamA(PAVIFILE File, PAVISTREAM* Stream, AVISTREAMINFOA* Info);
// Makes a stream that compresses what is written to it with the compressor Options->fccHandler
// and stores the result in Source. MSVC and CRAM (any case) name Microsoft Video 1; another code
// gives AVIERR_NOCOMPRESSOR. With AVICOMPRESSF_KEYFRAMES every dwKeyFrameEvery-th frame written is a
// key frame, otherwise every frame is. dwQuality has no effect: the encoder's quality is fixed.
// ClassId must be null.
HRESULT AVIMakeCompressedStream(PAVISTREAM* Compressed, PAVISTREAM Source, AVICOMPRESSOPTIONS* Options,
                                void* ClassId);
// Sets the format of the samples that will be written, once, at position 0, on the compressed
// stream: a BITMAPINFOHEADER with its colour table, BI_RGB at 1, 4, 8, 16 (5-5-5), 24 or 32 bits,
// rows bottom-up, at most 8192 pixels a side. The encoder works on 4x4 blocks: a width or height
// that is no multiple of 4 is stored rounded up, the frame's last column and row repeated into the
// extra pixels. Writes the file's headers; AVIERR_BADFORMAT for a format it cannot take.
HRESULT AVIStreamSetFormat(PAVISTREAM Stream, LONG Position, void* Format, LONG FormatSize);
// Writes Samples samples (one frame each for video; only 1 is supported) starting at frame
// position Start, which must be above the last one written (AVIERR_BADPARAM). Positions skipped
// since the last write stay empty frames (at most 2^20 in a row), so the file keeps real time. A
// failed write to the file gives AVIERR_FILEWRITE, now and for every later write. Flags are ignored.
HRESULT AVIStreamWrite(PAVISTREAM Stream, LONG Start, LONG Samples, void* Buffer, LONG BufferSize,
                       DWORD Flags, LONG* SamplesWritten, LONG* BytesWritten);
// Why the stream's file could not be written, in the system's words ("No space left on device");
// empty while its writes succeed.
QString AVIStreamWriteFailure(PAVISTREAM Stream);
// Frees the memory blocks (platform/GlobalMemory.h) that the options records' lpFormat and lpParms
// point to and clears those fields; the records themselves stay the caller's. Always 0.
LONG AVISaveOptionsFree(int Streams, AVICOMPRESSOPTIONS** Options);
// Drop one reference; the count left is returned, references held by streams included. The last
// reference finishes the file: the encoder is flushed and the index written. A file whose stream
// never got a format is left empty.
ULONG AVIFileRelease(PAVIFILE File);
ULONG AVIStreamRelease(PAVISTREAM Stream);

} // namespace win
