#pragma once
// Audio compression manager: format conversion streams under the multimedia API's names, flags and
// results. Only PCM to PCM conversion exists here: 1 or 2 channels, 8-bit unsigned or 16-bit signed
// little-endian samples, 1000..384000 Hz. Any other format is refused with ACMERR_NOTPOSSIBLE, as a
// system without that codec refuses it. There are no drivers and no filters (a driver handle must be
// null, a filter is refused), and conversions always run synchronously (ACM_STREAMOPENF_ASYNC is
// refused). Only the first 16 bytes of a PCM format record are read; its cbSize is ignored.

#include "platform/MMSystem.h"

#include <cstdint>

namespace win {

struct ACMSTREAMHEADER {
    DWORD cbStruct; // at least sizeof(ACMSTREAMHEADER)
    DWORD fdwStatus;
    std::uintptr_t dwUser;
    BYTE* pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    std::uintptr_t dwSrcUser;
    BYTE* pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    std::uintptr_t dwDstUser;
    DWORD dwReservedDriver[10]; // holds the buffers recorded when the header was prepared
};

struct ACMStream;
using HACMSTREAM = ACMStream*;
using HACMDRIVER = void*;

constexpr DWORD ACM_STREAMOPENF_QUERY = 0x1;
constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x2;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x4;

constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x0;
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x1;

constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x4;
constexpr DWORD ACM_STREAMCONVERTF_START = 0x10;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x20;

constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x10000;
constexpr DWORD ACM_FORMATSUGGESTF_NCHANNELS = 0x20000;
constexpr DWORD ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x40000;
constexpr DWORD ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x80000;

constexpr MMRESULT ACMERR_BASE = 512;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = ACMERR_BASE + 0;
constexpr MMRESULT ACMERR_BUSY = ACMERR_BASE + 1;
constexpr MMRESULT ACMERR_UNPREPARED = ACMERR_BASE + 2;
constexpr MMRESULT ACMERR_CANCELED = ACMERR_BASE + 3;

constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

// Opens a conversion stream; with ACM_STREAMOPENF_QUERY only tells whether it could (phas may then be
// null). *phas is null after any failure. dwCallback and dwInstance are unused. A stream is used by
// one thread at a time.
MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, const void* pwfltr, std::uintptr_t dwCallback,
                       std::uintptr_t dwInstance, DWORD fdwOpen);

// ACM_STREAMSIZEF_SOURCE: destination bytes to allocate for cbInput source bytes. A whole sequence
// of that input (ACM_STREAMCONVERTF_START | _END) fits, and so does each buffer of that size fed to a
// running stream, which the resampler's delay makes a little longer than the rate ratio alone.
// ACM_STREAMSIZEF_DESTINATION: the most source bytes whose destination size is at most cbInput.
// Partial frames are dropped; ACMERR_NOTPOSSIBLE when not even one whole frame results.
MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize);

// The buffers and lengths at preparation are recorded in the header: conversions may use shorter
// lengths of the same buffers, and unpreparing needs the recorded ones back.
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwPrepare);

// Converts whole frames (ACM_STREAMCONVERTF_BLOCKALIGN changes nothing). A sequence runs from a
// ACM_STREAMCONVERTF_START (or the stream's opening) to a conversion with ACM_STREAMCONVERTF_END,
// keeping the resampler's state between calls, and yields one destination frame per destination
// instant inside its source: N source frames give ceil(N * dst rate / src rate). Without an end the
// source is taken until the destination is full, so cbSrcLengthUsed may be less than cbSrcLength.
// With an end, the source is taken whole only when the rest of the sequence fits in the destination;
// otherwise part is taken and the caller converts the rest, again with the end flag. Stereo to mono
// averages the two channels (halves up), mono to stereo copies the channel to both sides, 16-bit to
// 8-bit rounds to nearest (halves up).
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwConvert);

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwUnprepare);

// Closed and never opened handles are MMSYSERR_INVALHANDLE.
MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose);

// Suggests a PCM destination for a PCM source: fields whose ACM_FORMATSUGGESTF_* flag is set come
// from *pwfxDst, the others from the source. Writes 16 bytes, or 18 (cbSize 0) when cbwfxDst >= 18;
// leaves *pwfxDst untouched on failure.
MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst, DWORD cbwfxDst,
                          DWORD fdwSuggest);

} // namespace win
