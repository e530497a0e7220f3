#include "audio/WaveStorage.h"

#include "audio/WaveACM.h"
#include "platform/MulDiv.h"
#include "platform/Streams.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

using namespace win; // the platform layer's Windows-style names

namespace {
// Gives back acquired audio without writing it, on every path.
class TAcquiredData {
public:
    explicit TAcquiredData(TWaveStreamAdapter& Adapter) : FAdapter(Adapter) {}
    ~TAcquiredData() { Release(); }
    TAcquiredData(const TAcquiredData&) = delete;
    TAcquiredData& operator=(const TAcquiredData&) = delete;

    bool Acquire(bool ForceCopy) { return FAdapter.AcquireData(FData, ForceCopy); }
    void Release() {
        if (FData)
            FAdapter.ReleaseData(std::exchange(FData, nullptr), false);
    }
    std::uint8_t* Bytes() const { return static_cast<std::uint8_t*>(FData); }

private:
    TWaveStreamAdapter& FAdapter;
    void* FData = nullptr;
};

using THeapBlock = std::unique_ptr<std::uint8_t, TFreeDeleter>;

THeapBlock AllocateBlock(std::size_t Size) {
    THeapBlock block(static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(Size, 1))));
    if (!block)
        throw std::bad_alloc();
    return block;
}

// Grows a private copy of audio to Size bytes.
void GrowBlock(void*& Data, std::size_t Size) {
    void* grown = std::realloc(Data, std::max<std::size_t>(Size, 1));
    if (!grown)
        throw std::bad_alloc();
    Data = grown;
}

TWaveFormatPtr CopyFormat(const WAVEFORMATEX& Format) {
    const std::size_t size = WaveFormatSize(Format);
    TWaveFormatPtr copy(static_cast<WAVEFORMATEX*>(std::malloc(size)));
    if (!copy)
        throw std::bad_alloc();
    std::memcpy(copy.get(), &Format, size);
    return copy;
}

std::int32_t ToCount(DWORD Bytes) {
    return std::int32_t(std::min<DWORD>(Bytes, std::numeric_limits<std::int32_t>::max()));
}
} // namespace

TWaveStreamAdapter::TWaveStreamAdapter(TStream* Stream, std::uint8_t OwnsStream)
    : FStream(Stream), FOwnsStream(OwnsStream) {}

TWaveStreamAdapter::~TWaveStreamAdapter() {
    // An adapter destroyed in the middle of a recording still leaves a finished WAVE.
    try {
        if (FState == wssReading)
            EndRead();
        else if (FState == wssWriting)
            EndWrite();
    } catch (const std::exception&) {
        CloseIOHandle();
    }
    FWaveFormat.reset();
    if (FOwnsStream == 1)
        delete FStream;
}

void TWaveStreamAdapter::Assign(const TPersistent* Source) {
    if (const auto* source = dynamic_cast<const TWaveStreamAdapter*>(Source)) {
        source->FStream->SetPosition(0);
        LoadFromStream(*source->FStream);
        return;
    }
    TPersistent::Assign(Source);
}

// --- Header details ---

bool TWaveStreamAdapter::Valid() {
    return UpdateDetails();
}

DWORD TWaveStreamAdapter::DataSize() {
    return UpdateDetails() ? FDataSize : 0;
}

DWORD TWaveStreamAdapter::DataOffset() {
    return UpdateDetails() ? FDataOffset : 0;
}

const WAVEFORMATEX* TWaveStreamAdapter::WaveFormat() {
    return UpdateDetails() ? FWaveFormat.get() : nullptr;
}

DWORD TWaveStreamAdapter::Length() {
    return UpdateDetails() && FWaveFormat ? BytesToMS(*FWaveFormat, FDataSize) : 0;
}

bool TWaveStreamAdapter::UpdateDetails() {
    if (FStale && FState != wssWriting) {
        FStale = false;
        FWaveFormat.reset();
        FValid = false;
        FValid = ReadWaveHeader(*FStream, FWaveFormat, FDataSize, FDataOffset);
        DoChange();
    }
    return FValid;
}

// --- Audio bytes ---

bool TWaveStreamAdapter::AcquireData(void*& Data, bool ForceCopy) {
    Data = nullptr;
    if (!UpdateDetails() || FDataSize == 0)
        return false;
    const std::int64_t dataEnd = std::int64_t{FDataOffset} + FDataSize;
    auto* memoryStream = dynamic_cast<TCustomMemoryStream*>(FStream);
    if (!ForceCopy && memoryStream && memoryStream->GetSize() >= dataEnd) {
        Data = static_cast<std::uint8_t*>(memoryStream->Memory()) + FDataOffset;
        return true;
    }
    // A data size larger than the stream is a lying header: fail before allocating for it.
    if (FDataSize > DWORD(std::numeric_limits<std::int32_t>::max()) || FStream->GetSize() < dataEnd)
        return false;
    THeapBlock copy = AllocateBlock(FDataSize);
    FStream->SetPosition(FDataOffset);
    if (FStream->Read(copy.get(), std::int32_t(FDataSize)) != std::int32_t(FDataSize))
        return false;
    Data = copy.release();
    return true;
}

bool TWaveStreamAdapter::ReleaseData(void* Data, bool WriteBack) {
    if (!Data)
        return false;
    if (auto* memoryStream = dynamic_cast<TCustomMemoryStream*>(FStream);
        memoryStream && Data == static_cast<std::uint8_t*>(memoryStream->Memory()) + FDataOffset)
        return true; // handed out in place: changes are already there
    THeapBlock copy(static_cast<std::uint8_t*>(Data));
    if (!WriteBack)
        return true;
    FStream->SetPosition(FDataOffset);
    return FStream->Write(copy.get(), ToCount(FDataSize)) == std::int32_t(FDataSize);
}

DWORD TWaveStreamAdapter::MSToBytes(DWORD ms) {
    return FWaveFormat ? MSToAlignedBytes(*FWaveFormat, ms) : 0;
}

void TWaveStreamAdapter::DoChanging() {
    if (FStale)
        return;
    FValid = false;
    FStale = true;
    if (OnChanging)
        OnChanging(this);
}

void TWaveStreamAdapter::DoChange() {
    if (OnChange)
        OnChange(this);
}

// --- Formats ---

bool TWaveStreamAdapter::SameFormatAs(TWaveStreamAdapter& Other) {
    return HasFormat(Other.WaveFormat());
}

bool TWaveStreamAdapter::HasFormat(const WAVEFORMATEX* Format) {
    return Valid() && Format && Format->cbSize == FWaveFormat->cbSize &&
           std::memcmp(Format, FWaveFormat.get(), WaveFormatSize(*Format)) == 0;
}

// --- Whole stream ---

bool TWaveStreamAdapter::LoadFromStream(TStream& Source) {
    DoChanging();
    CloseIOHandle();
    FState = wssIdle;
    const std::int64_t size = Source.GetSize();
    FStream->SetPosition(0);
    if (size > 0)
        FStream->CopyFrom(Source, size);
    FStream->SetSize(size);
    return UpdateDetails();
}

void TWaveStreamAdapter::SaveToStream(TStream& Target) {
    FStream->SetPosition(0);
    if (const std::int64_t size = FStream->GetSize(); size > 0)
        Target.CopyFrom(*FStream, size);
}

void TWaveStreamAdapter::LoadFromFile(const QString& FileName) {
    TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

void TWaveStreamAdapter::SaveToFile(const QString& FileName) {
    TFileStream file(FileName, fmCreate);
    SaveToStream(file);
}

void TWaveStreamAdapter::Clear() {
    DoChanging();
    CloseIOHandle();
    FStream->SetSize(0);
    FState = wssIdle;
    DoChange();
}

void TWaveStreamAdapter::Invalidate() {
    FStale = true;
}

void TWaveStreamAdapter::TrimToData() {
    if (FState == wssWriting)
        return;
    // Trimming never grows the stream, even when the header claims more data than it holds.
    const std::int64_t dataEnd = std::int64_t{DataOffset()} + DataSize();
    FStream->SetSize(std::min(FStream->GetSize(), dataEnd));
}

// --- Writing ---

bool TWaveStreamAdapter::BeginWrite(const WAVEFORMATEX& Format) {
    if (FState != wssIdle)
        return false;
    FIOHandle = CreateWaveOverStream(*FStream, Format, FRiffChunk, FDataChunk);
    if (!FIOHandle)
        return false;
    FState = wssWriting;
    FDataOffset = DWORD(mmioSeek(FIOHandle, 0, SEEK_CUR_ORIGIN));
    DoChanging();
    return true;
}

bool TWaveStreamAdapter::EndWrite() {
    if (FState != wssWriting)
        return false;
    // Both sizes are written even when the data chunk's pad byte could not be (a full disk).
    const bool dataClosed = mmioAscend(FIOHandle, &FDataChunk, 0) == MMSYSERR_NOERROR;
    const bool riffClosed = mmioAscend(FIOHandle, &FRiffChunk, 0) == MMSYSERR_NOERROR;
    mmioClose(std::exchange(FIOHandle, nullptr), 0);
    FState = wssIdle;
    // The pad byte of an odd data size counts in the RIFF size but is cut off the stream. A header
    // that could not be read back leaves the stream as it is.
    const bool readBack = UpdateDetails();
    if (readBack)
        FStream->SetSize(std::int64_t{FDataOffset} + FDataSize);
    return dataClosed && riffClosed && readBack;
}

std::int32_t TWaveStreamAdapter::Write(const void* Buffer, std::int32_t Count) {
    if (FState != wssWriting)
        return -1;
    return mmioWrite(FIOHandle, Buffer, Count);
}

// --- Reading ---

bool TWaveStreamAdapter::BeginRead() {
    if (!Valid() || FState != wssIdle)
        return false;
    FIOHandle = OpenStreamIO(*FStream);
    if (!FIOHandle)
        return false;
    mmioSeek(FIOHandle, LONG(FDataOffset), SEEK_SET_ORIGIN);
    FState = wssReading;
    return true;
}

bool TWaveStreamAdapter::EndRead() {
    if (FState != wssReading)
        return false;
    CloseIOHandle();
    FState = wssIdle;
    return true;
}

std::int32_t TWaveStreamAdapter::Read(void* Buffer, std::int32_t Count) {
    if (FState != wssReading)
        return -1;
    return mmioRead(FIOHandle, Buffer, Count);
}

void TWaveStreamAdapter::CloseIOHandle() {
    if (FIOHandle)
        mmioClose(std::exchange(FIOHandle, nullptr), 0);
}

// --- Whole-content edits ---

TWaveStreamAdapter::TByteRange TWaveStreamAdapter::RangeToBytes(DWORD Start, DWORD Len, DWORD DataSize) {
    // 64-bit sum: a long length must not wrap past the start.
    const DWORD start = std::min(MSToBytes(Start), DataSize);
    const auto end = DWORD(std::min<std::uint64_t>(std::uint64_t{start} + MSToBytes(Len), DataSize));
    return {start, end};
}

TWaveFormatPtr TWaveStreamAdapter::CopyOfFormat() {
    return CopyFormat(*FWaveFormat);
}

bool TWaveStreamAdapter::RewriteWith(const WAVEFORMATEX& Format, const void* Data, DWORD Count) {
    if (!BeginWrite(Format))
        return false;
    const bool written = Write(Data, ToCount(Count)) > 0;
    EndWrite();
    return written;
}

bool TWaveStreamAdapter::Reverse() {
    void* data = nullptr;
    if (!AcquireData(data, false))
        return false;
    const bool reversed = ReverseWaveAudio(data, FDataSize, *FWaveFormat);
    return ReleaseData(data, reversed) && reversed;
}

bool TWaveStreamAdapter::ChangeVolume(std::int32_t Percent) {
    void* data = nullptr;
    if (!AcquireData(data, false))
        return false;
    const bool changed = ChangeWaveAudioVolume(data, FDataSize, *FWaveFormat, Percent);
    return ReleaseData(data, changed) && changed;
}

bool TWaveStreamAdapter::ConvertTo(const WAVEFORMATEX& Format) {
    if (HasFormat(&Format))
        return true;
    TAcquiredData source(*this);
    if (!source.Acquire(false))
        return false;
    const TWaveFormatPtr sourceFormat = CopyOfFormat();
    const DWORD sourceSize = FDataSize;

    void* converted = nullptr;
    DWORD convertedSize = 0;
    if (!ConvertWaveFormat(*sourceFormat, source.Bytes(), sourceSize, Format, converted, convertedSize)) {
        std::free(std::exchange(converted, nullptr));
        // No direct conversion: go through PCM of the same channels and rate.
        WAVEFORMATEX pcm{};
        pcm.wFormatTag = WAVE_FORMAT_PCM;
        pcm.nChannels = sourceFormat->nChannels;
        pcm.nSamplesPerSec = sourceFormat->nSamplesPerSec;
        if (acmFormatSuggest(nullptr, sourceFormat.get(), &pcm, sizeof(pcm),
                             ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                                 ACM_FORMATSUGGESTF_NSAMPLESPERSEC) == MMSYSERR_NOERROR) {
            void* pcmData = nullptr;
            DWORD pcmSize = 0;
            if (ConvertWaveFormat(*sourceFormat, source.Bytes(), sourceSize, pcm, pcmData, pcmSize)) {
                const THeapBlock pcmBlock(static_cast<std::uint8_t*>(pcmData));
                if (!ConvertWaveFormat(pcm, pcmBlock.get(), pcmSize, Format, converted, convertedSize))
                    std::free(std::exchange(converted, nullptr));
            } else {
                std::free(pcmData);
            }
        }
    }
    source.Release();

    if (!converted)
        return false;
    const THeapBlock convertedBlock(static_cast<std::uint8_t*>(converted));
    if (!BeginWrite(Format))
        return false;
    const bool written = Write(convertedBlock.get(), ToCount(convertedSize)) == std::int32_t(convertedSize);
    EndWrite();
    return written;
}

bool TWaveStreamAdapter::CopyFrom(TWaveStreamAdapter& Source, DWORD Start, DWORD Len) {
    if (!Source.Valid() || Len == 0 || Start >= Source.Length())
        return false;
    const TByteRange range = Source.RangeToBytes(Start, Len, Source.DataSize());
    TAcquiredData source(Source);
    if (!source.Acquire(false))
        return false;
    return RewriteWith(*Source.WaveFormat(), source.Bytes() + range.Start, range.End - range.Start);
}

bool TWaveStreamAdapter::Crop(DWORD Start, DWORD Len) {
    if (!Valid() || Len == 0 || Start >= Length())
        return false;
    const TByteRange range = RangeToBytes(Start, Len, FDataSize);
    TAcquiredData own(*this);
    if (!own.Acquire(true))
        return false;
    const TWaveFormatPtr format = CopyOfFormat();
    return RewriteWith(*format, own.Bytes() + range.Start, range.End - range.Start);
}

bool TWaveStreamAdapter::Delete(DWORD Start, DWORD Len) {
    if (!Valid() || Len == 0 || Start >= Length())
        return false;
    const TByteRange range = RangeToBytes(Start, Len, FDataSize);
    TAcquiredData own(*this);
    if (!own.Acquire(true))
        return false;
    const DWORD size = FDataSize;
    std::memmove(own.Bytes() + range.Start, own.Bytes() + range.End, size - range.End);
    const TWaveFormatPtr format = CopyOfFormat();
    return RewriteWith(*format, own.Bytes(), size - (range.End - range.Start));
}

bool TWaveStreamAdapter::Insert(DWORD Position, TWaveStreamAdapter& Source) {
    if (!SameFormatAs(Source))
        return false;
    const DWORD ownSize = FDataSize;
    const DWORD at = std::min(MSToBytes(Position), ownSize);
    void* own = nullptr;
    if (!AcquireData(own, true))
        return false;
    THeapBlock ownBlock(static_cast<std::uint8_t*>(own));
    TAcquiredData source(Source);
    if (!source.Acquire(false))
        return false;
    const DWORD sourceSize = Source.DataSize();
    const std::uint64_t total = std::uint64_t{ownSize} + sourceSize;
    if (total > DWORD(std::numeric_limits<std::int32_t>::max()))
        return false;
    own = ownBlock.release();
    GrowBlock(own, std::size_t(total));
    ownBlock.reset(static_cast<std::uint8_t*>(own));
    std::memmove(ownBlock.get() + at + sourceSize, ownBlock.get() + at, ownSize - at);
    std::memcpy(ownBlock.get() + at, source.Bytes(), sourceSize);
    source.Release();
    const TWaveFormatPtr format = CopyOfFormat();
    return RewriteWith(*format, ownBlock.get(), DWORD(total));
}

bool TWaveStreamAdapter::InsertSilence(DWORD Position, DWORD Len) {
    if (!Valid() || Len == 0)
        return false;
    const DWORD ownSize = FDataSize;
    const DWORD at = std::min(MSToBytes(Position), ownSize);
    const DWORD silence = MSToBytes(Len);
    const std::uint64_t total = std::uint64_t{ownSize} + silence;
    if (total > DWORD(std::numeric_limits<std::int32_t>::max()))
        return false;
    void* own = nullptr;
    if (!AcquireData(own, true))
        return false;
    THeapBlock ownBlock(static_cast<std::uint8_t*>(own));
    own = ownBlock.release();
    GrowBlock(own, std::size_t(total));
    ownBlock.reset(static_cast<std::uint8_t*>(own));
    std::memmove(ownBlock.get() + at + silence, ownBlock.get() + at, ownSize - at);
    if (!SilenceWaveAudio(ownBlock.get() + at, silence, *FWaveFormat))
        return false;
    const TWaveFormatPtr format = CopyOfFormat();
    return RewriteWith(*format, ownBlock.get(), DWORD(total));
}

bool TWaveStreamAdapter::DeleteHead(DWORD Len) {
    return Delete(0, Len);
}

bool TWaveStreamAdapter::DeleteTail(DWORD Len) {
    const DWORD length = Length();
    Len = std::min(Len, length);
    return Delete(length - Len, Len);
}

bool TWaveStreamAdapter::Concatenate(const TWaveStreamAdapterList& Sources, DWORD Gap) {
    if (Sources.empty() || !Sources.front()->WaveFormat())
        return false;
    const TWaveFormatPtr format = CopyFormat(*Sources.front()->WaveFormat());
    // The gap is written from one bounded block of silence, so its length (from a header that may
    // lie about the byte rate) never sizes an allocation; a gap that cannot be sized at all fails.
    DWORD gapSize = 0;
    THeapBlock silence;
    DWORD silenceSize = 0;
    if (Gap != 0 && Sources.size() >= 2) {
        if (MulDiv(std::int32_t(format->nAvgBytesPerSec), std::int32_t(Gap), 1000) < 0)
            return false;
        gapSize = MSToAlignedBytes(*format, Gap);
        silenceSize = std::min<DWORD>(gapSize, 64 * 1024);
        silence = AllocateBlock(silenceSize);
        // A format the silence routine does not know gets a gap of zero bytes.
        if (!SilenceWaveAudio(silence.get(), silenceSize, *format))
            std::memset(silence.get(), 0, silenceSize);
    }
    const auto writeGap = [&] {
        for (DWORD left = gapSize; left > 0;) {
            const DWORD count = std::min(left, silenceSize);
            if (Write(silence.get(), std::int32_t(count)) != std::int32_t(count))
                return;
            left -= count;
        }
    };
    BeginWrite(*format);
    bool first = true;
    for (TWaveStreamAdapter* source : Sources) {
        if (!std::exchange(first, false))
            writeGap();
        TAcquiredData data(*source);
        if (!data.Acquire(false)) {
            EndWrite();
            return false;
        }
        Write(data.Bytes(), ToCount(source->DataSize()));
    }
    EndWrite();
    return true;
}

bool TWaveStreamAdapter::Mix(const TWaveStreamAdapterList& Sources) {
    if (Sources.empty() || !Sources.front()->WaveFormat())
        return false;
    const TWaveFormatPtr format = CopyFormat(*Sources.front()->WaveFormat());
    std::vector<std::unique_ptr<TAcquiredData>> inputs;
    std::vector<TRawWave> rawWaves;
    DWORD largest = 0;
    for (TWaveStreamAdapter* source : Sources) {
        if (!source->HasFormat(format.get()))
            return false;
        auto& input = inputs.emplace_back(std::make_unique<TAcquiredData>(*source));
        // An input that cannot be acquired mixes in as an empty one and does not size the result,
        // so a header that claims more audio than its stream holds never sizes an allocation.
        const DWORD size = input->Acquire(false) ? source->DataSize() : 0;
        largest = std::max(largest, size);
        rawWaves.push_back({input->Bytes(), size});
    }
    THeapBlock mixed = AllocateBlock(largest);
    if (!MixWaveAudio(rawWaves.data(), int(rawWaves.size()), *format, mixed.get(), largest))
        return false;
    // The sources are let go before writing: this stream may be one of them, and writing replaces
    // the data they hold on to.
    rawWaves.clear();
    inputs.clear();
    BeginWrite(*format);
    Write(mixed.get(), ToCount(largest));
    EndWrite();
    return true;
}

bool TWaveStreamAdapter::SameContentAs(TWaveStreamAdapter& Other) {
    if (!SameFormatAs(Other) || FDataSize != Other.DataSize())
        return false;
    const DWORD size = FDataSize;
    if (size == 0)
        return true;
    TAcquiredData own(*this);
    TAcquiredData other(Other);
    if (!own.Acquire(false) || !other.Acquire(false))
        return false;
    return std::memcmp(own.Bytes(), other.Bytes(), size) == 0;
}
