#include "audio/WaveUtils.h"

#include "audio/WaveACM.h"
#include "platform/MessagePump.h"
#include "platform/MulDiv.h"
#include "platform/Streams.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

using namespace win; // the platform layer's Windows-style names

// --- Formats ---

void BuildPCMWaveFormat(WAVEFORMATEX& WaveFormat, TChannels Channels, TSampleRate SampleRate,
                        TBitsPerSample BitsPerSample) {
    static constexpr DWORD Rates[] = {8000, 11025, 22050, 44100, 48000};
    WaveFormat.wFormatTag = WAVE_FORMAT_PCM;
    WaveFormat.nChannels = Channels == cStereo ? 2 : 1;
    WaveFormat.nSamplesPerSec = Rates[SampleRate];
    WaveFormat.wBitsPerSample = BitsPerSample == b16bit ? 16 : 8;
    WaveFormat.nBlockAlign = WORD(MulDiv(WaveFormat.nChannels, WaveFormat.wBitsPerSample, 8));
    WaveFormat.nAvgBytesPerSec = WaveFormat.nBlockAlign * WaveFormat.nSamplesPerSec;
    WaveFormat.cbSize = 0;
}

void PCMFormatToWaveFormat(WAVEFORMATEX& WaveFormat, TPCMFormat PCMFormat) {
    if (PCMFormat == nonePCM || PCMFormat > Stereo16bit48000Hz)
        return;
    const int k = PCMFormat - 1;
    BuildPCMWaveFormat(WaveFormat, k % 2 == 0 ? cMono : cStereo, TSampleRate(k / 4),
                       (k / 2) % 2 == 0 ? b8bit : b16bit);
}

// --- Durations and sizes ---

namespace {
// What a multiply-divide that overflowed gives, as a byte count.
constexpr DWORD OverflowedBytes = DWORD(-1);
} // namespace

DWORD MSToBufferBytes(const WAVEFORMATEX& WaveFormat, DWORD Duration) {
    DWORD bytes = DWORD(MulDiv(std::int32_t(Duration), std::int32_t(WaveFormat.nAvgBytesPerSec), 1000));
    if (bytes == OverflowedBytes)
        return bytes; // the multiply-divide's -1 passes through
    if (WaveFormat.nBlockAlign > 1 && bytes % WaveFormat.nBlockAlign != 0)
        bytes += WaveFormat.nBlockAlign - bytes % WaveFormat.nBlockAlign;
    return bytes;
}

DWORD MSToAlignedBytes(const WAVEFORMATEX& WaveFormat, DWORD Duration) {
    DWORD bytes = DWORD(MulDiv(std::int32_t(WaveFormat.nAvgBytesPerSec), std::int32_t(Duration), 1000));
    if (bytes == OverflowedBytes)
        return bytes; // the multiply-divide's -1 passes through
    if (WaveFormat.nBlockAlign > 1)
        bytes -= bytes % WaveFormat.nBlockAlign;
    return bytes;
}

DWORD BytesToMS(const WAVEFORMATEX& WaveFormat, DWORD Bytes) {
    if (WaveFormat.nAvgBytesPerSec == 0)
        return 0;
    return DWORD(MulDiv(1000, std::int32_t(Bytes), std::int32_t(WaveFormat.nAvgBytesPerSec)));
}

// --- Sample blocks ---

namespace {
bool IsSupportedPCM(const WAVEFORMATEX& WaveFormat) {
    return WaveFormat.wFormatTag == WAVE_FORMAT_PCM &&
           (WaveFormat.wBitsPerSample == 8 || WaveFormat.wBitsPerSample == 16);
}

// 16-bit samples may sit at any byte offset of a stream's memory, so they are moved with memcpy.
std::int16_t LoadSample16(const void* Data, DWORD Index) {
    std::int16_t sample;
    std::memcpy(&sample, static_cast<const std::uint8_t*>(Data) + std::size_t(Index) * 2, 2);
    return sample;
}

void StoreSample16(void* Data, DWORD Index, std::int16_t Sample) {
    std::memcpy(static_cast<std::uint8_t*>(Data) + std::size_t(Index) * 2, &Sample, 2);
}

template <typename T> T Clamp(std::int64_t Value, std::int64_t Low, std::int64_t High) {
    return T(std::clamp(Value, Low, High));
}
} // namespace

int GetPeakLevel(const void* Data, DWORD DataSize, const WAVEFORMATEX& WaveFormat) {
    if (WaveFormat.wFormatTag != WAVE_FORMAT_PCM)
        return -1;
    if (WaveFormat.wBitsPerSample == 8) {
        const auto* bytes = static_cast<const std::uint8_t*>(Data);
        std::uint8_t peak = 0;
        for (DWORD i = 0; i < DataSize; ++i)
            peak = std::max(peak, bytes[i]);
        return peak >= 128 ? (peak - 128) * 100 / 127 : 0;
    }
    if (WaveFormat.wBitsPerSample == 16) {
        std::int16_t peak = 0;
        for (DWORD i = 0, count = DataSize / 2; i < count; ++i)
            peak = std::max(peak, LoadSample16(Data, i));
        return peak * 100 / 32767;
    }
    return -1;
}

bool ReverseWaveAudio(void* Data, DWORD DataSize, const WAVEFORMATEX& WaveFormat) {
    if (!IsSupportedPCM(WaveFormat))
        return false;
    if (WaveFormat.wBitsPerSample == 8) {
        auto* bytes = static_cast<std::uint8_t*>(Data);
        std::reverse(bytes, bytes + DataSize);
        return true;
    }
    // A trailing odd byte is not a sample and stays where it is.
    for (DWORD head = 0, tail = DataSize / 2; head + 1 < tail; ++head, --tail) {
        const std::int16_t first = LoadSample16(Data, head);
        StoreSample16(Data, head, LoadSample16(Data, tail - 1));
        StoreSample16(Data, tail - 1, first);
    }
    return true;
}

bool SilenceWaveAudio(void* Data, DWORD DataSize, const WAVEFORMATEX& WaveFormat) {
    if (!IsSupportedPCM(WaveFormat))
        return false;
    std::memset(Data, WaveFormat.wBitsPerSample == 8 ? 0x7F : 0, DataSize);
    return true;
}

bool ChangeWaveAudioVolume(void* Data, DWORD DataSize, const WAVEFORMATEX& WaveFormat, std::int32_t Percent) {
    if (!IsSupportedPCM(WaveFormat))
        return false;
    // 64-bit arithmetic: a sample times a large percentage does not fit in 32 bits.
    const auto scaled = [Percent](std::int64_t sample) { return sample + sample * Percent / 100; };
    if (WaveFormat.wBitsPerSample == 8) {
        auto* bytes = static_cast<std::uint8_t*>(Data);
        for (DWORD i = 0; i < DataSize; ++i)
            bytes[i] = Clamp<std::uint8_t>(scaled(bytes[i]), 0, 255);
        return true;
    }
    for (DWORD i = 0, count = DataSize / 2; i < count; ++i)
        StoreSample16(Data, i, Clamp<std::int16_t>(scaled(LoadSample16(Data, i)), -32767, 32767));
    return true;
}

bool MixWaveAudio(const TRawWave* RawWaves, int Count, const WAVEFORMATEX& WaveFormat, void* Data,
                  DWORD DataSize) {
    if (!IsSupportedPCM(WaveFormat) || Count <= 0)
        return false;
    const DWORD sampleSize = WaveFormat.wBitsPerSample / 8;
    // Current position and end of every input, in bytes.
    std::vector<const std::uint8_t*> position(static_cast<std::size_t>(Count));
    std::vector<const std::uint8_t*> end(static_cast<std::size_t>(Count));
    for (int i = 0; i < Count; ++i) {
        position[i] = static_cast<const std::uint8_t*>(RawWaves[i].pData);
        end[i] = position[i] ? position[i] + RawWaves[i].dwSize : position[i];
    }
    auto* output = static_cast<std::uint8_t*>(Data);
    for (DWORD offset = 0; offset + sampleSize <= DataSize; offset += sampleSize) {
        std::int64_t sum = 0;
        for (int i = 0; i < Count; ++i) {
            if (end[i] - position[i] < std::ptrdiff_t(sampleSize))
                continue;
            sum += sampleSize == 1 ? *position[i] : LoadSample16(position[i], 0);
            position[i] += sampleSize;
        }
        // The divisor stays the input count, so the tail of a short input fades toward zero.
        if (sampleSize == 1)
            output[offset] = std::uint8_t(sum / Count);
        else
            StoreSample16(output + offset, 0, std::int16_t(sum / Count));
    }
    return true;
}

// --- Format conversion ---

namespace {
// Closes an open conversion stream on every path, exceptions included.
struct AcmStreamCloser {
    HACMSTREAM Stream;
    ~AcmStreamCloser() { acmStreamClose(Stream, 0); }
};
} // namespace

bool ConvertWaveFormat(const WAVEFORMATEX& SrcFormat, const void* SrcData, DWORD SrcSize,
                       const WAVEFORMATEX& DstFormat, void*& DstData, DWORD& DstSize) {
    HACMSTREAM stream = nullptr;
    if (acmStreamOpen(&stream, nullptr, &SrcFormat, &DstFormat, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) !=
        MMSYSERR_NOERROR)
        return false;
    AcmStreamCloser closer{stream};

    if (acmStreamSize(stream, SrcSize, &DstSize, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR)
        return false;

    DstData = nullptr;
    DstData = std::malloc(std::max<DWORD>(DstSize, 1));
    if (!DstData)
        throw std::bad_alloc();

    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof(header);
    header.pbSrc = static_cast<BYTE*>(const_cast<void*>(SrcData));
    header.cbSrcLength = SrcSize;
    header.pbDst = static_cast<BYTE*>(DstData);
    header.cbDstLength = DstSize;

    bool converted = false;
    if (acmStreamPrepareHeader(stream, &header, 0) == MMSYSERR_NOERROR) {
        struct Unprepare {
            HACMSTREAM Stream;
            ACMSTREAMHEADER* Header;
            ~Unprepare() { acmStreamUnprepareHeader(Stream, Header, 0); }
        } unprepare{stream, &header};
        converted = acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END) ==
                    MMSYSERR_NOERROR;
    }

    DstSize = std::min(header.cbDstLengthUsed, header.cbDstLength);
    if (DstSize == 0) {
        std::free(DstData);
        DstData = nullptr;
    } else if (void* shrunk = std::realloc(DstData, DstSize)) {
        DstData = shrunk;
    }
    return converted;
}

// --- Waiting ---

DWORD WaitWithMessagePump(TWaitable* Handle, DWORD Timeout) {
    return MsgWaitForSingleObjectPumping(Handle, Timeout);
}

// --- RIFF chunk routines ---

namespace {
const FOURCC FourCCWave = mmioStringToFOURCC("WAVE", 0);
const FOURCC FourCCFmt = mmioStringToFOURCC("fmt", 0);
const FOURCC FourCCData = mmioStringToFOURCC("data", 0);

// The I/O procedure behind every chunk handle of a stream. It keeps its own position and puts the
// stream there before each transfer, so others may move the stream between calls.
LRESULT StreamIOProc(MMIOINFO* Info, UINT Message, LPARAM Param1, LPARAM Param2) {
    if (!Info)
        return -1;
    auto* stream = reinterpret_cast<TStream*>(Info->adwInfo[0]);
    if (!stream)
        return -1;
    const auto takePosition = [&]() -> LRESULT {
        const std::int64_t position = stream->GetPosition();
        if (position > std::numeric_limits<LONG>::max())
            return -1;
        Info->lDiskOffset = LONG(position);
        return position;
    };
    try {
        switch (Message) {
        case MMIOM_OPEN:
            stream->SetPosition(0);
            Info->lDiskOffset = 0;
            return 0;
        case MMIOM_READ: {
            stream->SetPosition(Info->lDiskOffset);
            const std::int32_t count = stream->Read(reinterpret_cast<void*>(Param1), std::int32_t(Param2));
            return takePosition() < 0 ? -1 : count;
        }
        case MMIOM_WRITE:
        case MMIOM_WRITEFLUSH: {
            stream->SetPosition(Info->lDiskOffset);
            const std::int32_t count =
                stream->Write(reinterpret_cast<const void*>(Param1), std::int32_t(Param2));
            return takePosition() < 0 ? -1 : count;
        }
        case MMIOM_SEEK:
            if (Param2 == SEEK_CUR_ORIGIN)
                stream->SetPosition(Info->lDiskOffset);
            stream->Seek(Param1, TSeekOrigin(Param2));
            return takePosition();
        default:
            return 0;
        }
    } catch (const std::exception&) {
        return -1;
    }
}

struct MMIOCloser {
    HMMIO Handle;
    UINT Flags;
    ~MMIOCloser() {
        if (Handle)
            mmioClose(Handle, Flags);
    }
};
} // namespace

HMMIO OpenStreamIO(TStream& Stream) {
    MMIOINFO info{};
    info.pIOProc = StreamIOProc;
    info.adwInfo[0] = reinterpret_cast<std::uintptr_t>(&Stream);
    return mmioOpen(&info, MMIO_WRITE);
}

bool CreateWaveHeaders(HMMIO Handle, const WAVEFORMATEX& WaveFormat, MMCKINFO& RiffChunk,
                       MMCKINFO& DataChunk) {
    if (mmioSeek(Handle, 0, SEEK_SET_ORIGIN) != 0)
        return false;
    RiffChunk = MMCKINFO{};
    RiffChunk.fccType = FourCCWave;
    if (mmioCreateChunk(Handle, &RiffChunk, MMIO_CREATERIFF) != MMSYSERR_NOERROR)
        return false;
    MMCKINFO formatChunk{};
    formatChunk.ckid = FourCCFmt;
    if (mmioCreateChunk(Handle, &formatChunk, 0) != MMSYSERR_NOERROR)
        return false;
    const auto formatSize = LONG(WaveFormatSize(WaveFormat));
    if (mmioWrite(Handle, &WaveFormat, formatSize) != formatSize)
        return false;
    if (mmioAscend(Handle, &formatChunk, 0) != MMSYSERR_NOERROR)
        return false;
    DataChunk = MMCKINFO{};
    DataChunk.ckid = FourCCData;
    return mmioCreateChunk(Handle, &DataChunk, 0) == MMSYSERR_NOERROR;
}

HMMIO CreateWaveOverStream(TStream& Stream, const WAVEFORMATEX& WaveFormat, MMCKINFO& RiffChunk,
                           MMCKINFO& DataChunk) {
    MMIOCloser handle{OpenStreamIO(Stream), MMIO_FHOPEN};
    if (!handle.Handle)
        return nullptr;
    Stream.SetSize(0);
    if (!CreateWaveHeaders(handle.Handle, WaveFormat, RiffChunk, DataChunk))
        return nullptr;
    return std::exchange(handle.Handle, nullptr);
}

namespace {
// A format chunk is read whole into memory: refuse one that claims more bytes than the stream has
// left, so a lying size never turns into a huge allocation.
bool ChunkFitsInStream(HMMIO Handle, const MMCKINFO& Chunk) {
    const LONG end = mmioSeek(Handle, 0, SEEK_END_ORIGIN);
    const bool fits = end >= 0 ? std::int64_t{Chunk.dwDataOffset} + Chunk.cksize <= end
                               : Chunk.cksize <= sizeof(WAVEFORMATEX) + 0xFFFF;
    return mmioSeek(Handle, LONG(Chunk.dwDataOffset), SEEK_SET_ORIGIN) == LONG(Chunk.dwDataOffset) && fits;
}

bool FindWaveChunks(HMMIO Handle, TWaveFormatPtr& WaveFormat, DWORD& DataSize, DWORD& DataOffset) {
    if (mmioSeek(Handle, 0, SEEK_SET_ORIGIN) != 0)
        return false;
    MMCKINFO riffChunk{};
    riffChunk.fccType = FourCCWave;
    if (mmioDescend(Handle, &riffChunk, nullptr, MMIO_FINDRIFF) != MMSYSERR_NOERROR)
        return false;

    MMCKINFO formatChunk{};
    formatChunk.ckid = FourCCFmt;
    if (mmioDescend(Handle, &formatChunk, &riffChunk, MMIO_FINDCHUNK) != MMSYSERR_NOERROR ||
        formatChunk.cksize < 14 || !ChunkFitsInStream(Handle, formatChunk))
        return false;
    // Short format chunks (16-byte PCM, 14-byte old style) read as a zero-extended 18-byte record.
    const std::size_t recordSize = std::max<std::size_t>(formatChunk.cksize, sizeof(WAVEFORMATEX));
    WaveFormat.reset(static_cast<WAVEFORMATEX*>(std::calloc(1, recordSize)));
    if (!WaveFormat)
        throw std::bad_alloc();
    if (mmioRead(Handle, WaveFormat.get(), LONG(formatChunk.cksize)) != LONG(formatChunk.cksize))
        return false;
    // Whoever uses the record reads 18 + cbSize bytes of it; a chunk shorter than its cbSize claims
    // is zero-extended so those reads stay inside the record.
    if (const std::size_t claimed = WaveFormatSize(*WaveFormat); claimed > recordSize) {
        auto* grown = static_cast<WAVEFORMATEX*>(std::realloc(WaveFormat.get(), claimed));
        if (!grown)
            throw std::bad_alloc();
        WaveFormat.release();
        WaveFormat.reset(grown);
        std::memset(reinterpret_cast<std::uint8_t*>(grown) + recordSize, 0, claimed - recordSize);
    }
    if (mmioAscend(Handle, &formatChunk, 0) != MMSYSERR_NOERROR)
        return false;

    MMCKINFO dataChunk{};
    dataChunk.ckid = FourCCData;
    if (mmioDescend(Handle, &dataChunk, &riffChunk, MMIO_FINDCHUNK) != MMSYSERR_NOERROR)
        return false;
    DataSize = dataChunk.cksize;
    DataOffset = dataChunk.dwDataOffset;
    return true;
}
} // namespace

bool ReadWaveInfo(HMMIO Handle, TWaveFormatPtr& WaveFormat, DWORD& DataSize, DWORD& DataOffset) {
    const LONG savedPosition = mmioSeek(Handle, 0, SEEK_CUR_ORIGIN);
    WaveFormat.reset();
    const bool found = FindWaveChunks(Handle, WaveFormat, DataSize, DataOffset);
    if (!found)
        WaveFormat.reset();
    mmioSeek(Handle, savedPosition, SEEK_SET_ORIGIN);
    return found;
}

bool ReadWaveHeader(TStream& Stream, TWaveFormatPtr& WaveFormat, DWORD& DataSize, DWORD& DataOffset) {
    if (Stream.GetSize() == 0)
        return false;
    MMIOCloser handle{OpenStreamIO(Stream), MMIO_FHOPEN};
    if (!handle.Handle)
        return false;
    return ReadWaveInfo(handle.Handle, WaveFormat, DataSize, DataOffset);
}
