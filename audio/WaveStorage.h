#pragma once
// WAVE files over any byte stream: starting, appending and finishing a recording, reading the header
// and the audio back, and whole-content edits.

#include "audio/WaveUtils.h"
#include "platform/Classes.h"

#include <functional>
#include <vector>

using namespace win; // the platform layer's Windows-style names

namespace win {
class TStream;
}

enum TWaveStreamState { wssIdle, wssReading, wssWriting };

class TWaveStreamAdapter;
using TWaveStreamNotifyEvent = std::function<void(TWaveStreamAdapter* Sender)>;
using TWaveStreamAdapterList = std::vector<TWaveStreamAdapter*>;

class TWaveStreamAdapter : public TPersistent {
public:
    // OwnsStream 1: the adapter destroys the stream with itself.
    TWaveStreamAdapter(TStream* Stream, std::uint8_t OwnsStream);
    ~TWaveStreamAdapter() override;
    TWaveStreamAdapter(const TWaveStreamAdapter&) = delete;
    TWaveStreamAdapter& operator=(const TWaveStreamAdapter&) = delete;

    QString ClassName() const override { return QStringLiteral("TWaveStreamAdapter"); }
    void Assign(const TPersistent* Source) override;

    // Header details, re-read first when stale (but not while writing).
    bool Valid();
    DWORD DataSize();
    DWORD DataOffset();
    const WAVEFORMATEX* WaveFormat();
    DWORD Length(); // ms

    TStream* Stream() const { return FStream; }
    TWaveStreamState State() const { return FState; }

    TWaveStreamNotifyEvent OnChanging;
    TWaveStreamNotifyEvent OnChange;

    virtual bool UpdateDetails();
    // Hands out the audio bytes: in place for a memory stream unless ForceCopy, else a private heap
    // copy. Give them back with ReleaseData.
    virtual bool AcquireData(void*& Data, bool ForceCopy);
    virtual bool ReleaseData(void* Data, bool WriteBack);
    virtual DWORD MSToBytes(DWORD ms);

protected:
    virtual void DoChanging();
    virtual void DoChange();

public:
    virtual bool SameContentAs(TWaveStreamAdapter& Other);
    virtual bool SameFormatAs(TWaveStreamAdapter& Other);
    virtual bool HasFormat(const WAVEFORMATEX* Format);
    virtual bool LoadFromStream(TStream& Source);
    virtual void SaveToStream(TStream& Target);
    virtual void LoadFromFile(const QString& FileName);
    virtual void SaveToFile(const QString& FileName);
    virtual void Clear();
    virtual void Invalidate();
    virtual void TrimToData();

    // Whole-content edits; positions and lengths in ms.
    virtual bool Reverse();
    virtual bool ChangeVolume(std::int32_t Percent);
    virtual bool ConvertTo(const WAVEFORMATEX& Format);
    virtual bool CopyFrom(TWaveStreamAdapter& Source, DWORD Start, DWORD Len);
    virtual bool Crop(DWORD Start, DWORD Len);
    virtual bool Delete(DWORD Start, DWORD Len);
    virtual bool Insert(DWORD Position, TWaveStreamAdapter& Source);
    virtual bool InsertSilence(DWORD Position, DWORD Len);
    virtual bool DeleteHead(DWORD Len);
    virtual bool DeleteTail(DWORD Len);
    virtual bool Concatenate(const TWaveStreamAdapterList& Sources, DWORD Gap);
    virtual bool Mix(const TWaveStreamAdapterList& Sources);

    // Writing: BeginWrite empties the stream and starts a WAVE; EndWrite fixes the sizes.
    virtual bool BeginWrite(const WAVEFORMATEX& Format);
    virtual bool EndWrite();
    virtual std::int32_t Write(const void* Buffer, std::int32_t Count); // -1 unless writing

    // Reading from the first audio byte on.
    virtual bool BeginRead();
    virtual bool EndRead();
    virtual std::int32_t Read(void* Buffer, std::int32_t Count); // -1 unless reading

private:
    // Byte range [Start, End) of the audio for a range in ms, kept inside the data.
    struct TByteRange {
        DWORD Start;
        DWORD End;
    };
    TByteRange RangeToBytes(DWORD Start, DWORD Len, DWORD DataSize);
    // The current format as an owned copy, for rewriting the stream that holds it.
    TWaveFormatPtr CopyOfFormat();
    // Rewrites the stream as a WAVE of Format holding Count bytes; true when BeginWrite succeeded and
    // the write took more than 0 bytes.
    bool RewriteWith(const WAVEFORMATEX& Format, const void* Data, DWORD Count);
    void CloseIOHandle();

    TStream* FStream;
    std::uint8_t FOwnsStream;
    bool FStale = true;
    bool FValid = false;
    DWORD FDataSize = 0;
    DWORD FDataOffset = 0;
    TWaveFormatPtr FWaveFormat;
    TWaveStreamState FState = wssIdle;
    MMCKINFO FRiffChunk{};
    MMCKINFO FDataChunk{};
    HMMIO FIOHandle = nullptr;
};

// A component that hands out the streams of stock wave items by index; a recorder can record into
// one of them.
class TCustomWaveStorage : public TComponent {
public:
    using TComponent::TComponent;
    QString ClassName() const override { return QStringLiteral("TCustomWaveStorage"); }

    // The stream holding item Index; the storage keeps ownership.
    virtual TStream* GetWaveStream(int Index) = 0;
    // Tells the storage that the content of item Index was changed by someone else.
    virtual void WaveStreamChanged(int Index) = 0;
};
