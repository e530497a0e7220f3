#pragma once
// PCM formats, duration and size conversions, in-place operations on blocks of PCM samples, a
// one-shot format conversion, a wait that keeps events flowing, and the RIFF chunk routines that
// the wave storage builds on.

#include "platform/MMIO.h"
#include "platform/MMSystem.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace win; // the platform layer's Windows-style names

namespace win {
class TStream;
class TWaitable;
}

// The twenty fixed PCM formats a recorder can be asked for; nonePCM means none is chosen.
enum TPCMFormat : std::uint8_t {
    nonePCM,
    Mono8Bit8000Hz,
    Stereo8bit8000Hz,
    Mono16bit8000Hz,
    Stereo16bit8000Hz,
    Mono8bit11025Hz,
    Stereo8bit11025Hz,
    Mono16bit11025Hz,
    Stereo16bit11025Hz,
    Mono8bit22050Hz,
    Stereo8bit22050Hz,
    Mono16bit22050Hz,
    Stereo16bit22050Hz,
    Mono8bit44100Hz,
    Stereo8bit44100Hz,
    Mono16bit44100Hz,
    Stereo16bit44100Hz,
    Mono8bit48000Hz,
    Stereo8bit48000Hz,
    Mono16bit48000Hz,
    Stereo16bit48000Hz,
};

enum TChannels { cMono, cStereo };
enum TSampleRate { r8000Hz, r11025Hz, r22050Hz, r44100Hz, r48000Hz };
enum TBitsPerSample { b8bit, b16bit };

// One input of MixWaveAudio.
struct TRawWave {
    const void* pData;
    DWORD dwSize;
};

// Memory blocks handed between the audio functions are plain heap blocks (malloc/realloc/free), so a
// block can be shrunk in place; this owner frees one.
struct TFreeDeleter {
    void operator()(void* block) const { std::free(block); }
};
using TWaveFormatPtr = std::unique_ptr<WAVEFORMATEX, TFreeDeleter>;

// Formats

void BuildPCMWaveFormat(WAVEFORMATEX& WaveFormat, TChannels Channels, TSampleRate SampleRate,
                        TBitsPerSample BitsPerSample);
// Leaves the record untouched for nonePCM and values above the last format.
void PCMFormatToWaveFormat(WAVEFORMATEX& WaveFormat, TPCMFormat PCMFormat);

// Durations and sizes (ms are milliseconds; -1 from the multiply-divide passes through)

DWORD MSToBufferBytes(const WAVEFORMATEX& WaveFormat, DWORD Duration);  // rounded up to whole frames
DWORD MSToAlignedBytes(const WAVEFORMATEX& WaveFormat, DWORD Duration); // rounded down to whole frames
DWORD BytesToMS(const WAVEFORMATEX& WaveFormat, DWORD Bytes);

// Sample blocks: 8-bit samples are unsigned bytes, 16-bit samples signed little-endian words.
// The block operations change nothing and return false unless the format is 8- or 16-bit PCM.

int GetPeakLevel(const void* Data, DWORD DataSize, const WAVEFORMATEX& WaveFormat); // 0..100, -1 unsupported
bool ReverseWaveAudio(void* Data, DWORD DataSize, const WAVEFORMATEX& WaveFormat);
bool SilenceWaveAudio(void* Data, DWORD DataSize, const WAVEFORMATEX& WaveFormat);
bool ChangeWaveAudioVolume(void* Data, DWORD DataSize, const WAVEFORMATEX& WaveFormat, std::int32_t Percent);
bool MixWaveAudio(const TRawWave* RawWaves, int Count, const WAVEFORMATEX& WaveFormat, void* Data,
                  DWORD DataSize);

// Converts a block between formats through the compression manager. On success DstData is a new
// heap block of DstSize bytes (free it with std::free); DstData is expected empty on entry.
bool ConvertWaveFormat(const WAVEFORMATEX& SrcFormat, const void* SrcData, DWORD SrcSize,
                       const WAVEFORMATEX& DstFormat, void*& DstData, DWORD& DstSize);

// Waits for the object while the calling thread's events keep being delivered (keyboard and mouse
// input meanwhile is dropped). Returns WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_FAILED, or 1 when a quit
// request arrived (it is consumed). Timeout in ms, INFINITE for none.
DWORD WaitWithMessagePump(TWaitable* Handle, DWORD Timeout);

// RIFF chunk routines over a stream

HMMIO OpenStreamIO(TStream& Stream);
bool CreateWaveHeaders(HMMIO Handle, const WAVEFORMATEX& WaveFormat, MMCKINFO& RiffChunk, MMCKINFO& DataChunk);
HMMIO CreateWaveOverStream(TStream& Stream, const WAVEFORMATEX& WaveFormat, MMCKINFO& RiffChunk,
                           MMCKINFO& DataChunk);
bool ReadWaveInfo(HMMIO Handle, TWaveFormatPtr& WaveFormat, DWORD& DataSize, DWORD& DataOffset);
bool ReadWaveHeader(TStream& Stream, TWaveFormatPtr& WaveFormat, DWORD& DataSize, DWORD& DataOffset);
