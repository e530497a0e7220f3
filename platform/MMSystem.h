#pragma once
// Basic multimedia types and result codes shared by the audio platform layers.
// The names follow the multimedia API that the audio units were written against.

#include <cstdint>

namespace win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using MMRESULT = std::uint32_t;
using FOURCC = std::uint32_t;

constexpr DWORD INFINITE = 0xFFFFFFFF;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;

constexpr WORD WAVE_FORMAT_PCM = 1;

// The extended wave format record: 18 bytes, little-endian, no padding, followed by cbSize extra bytes.
#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// Size of a format record including its extra bytes.
inline constexpr std::uint32_t WaveFormatSize(const WAVEFORMATEX& format) {
    return sizeof(WAVEFORMATEX) + format.cbSize;
}

} // namespace win
