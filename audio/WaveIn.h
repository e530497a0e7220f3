#pragma once
// The wave input device: records from wave-in device DeviceID in PCMFormat (or the format OnFormat
// supplies), keeps BufferCount buffers of BufferLength ms queued, and hands every filled block, in
// order, to OnLevel, OnData and ProcessData. Sound the device captured while no buffer was queued
// (the notifications were late) comes as silence of its length, counted by GetGapTime.

#include "audio/WaveIO.h"

class TWaveAudioIn : public TWaveAudioIO {
public:
    explicit TWaveAudioIn(TComponent* AOwner = nullptr);
    ~TWaveAudioIn() override;
    QString ClassName() const override { return QStringLiteral("TWaveAudioIn"); }

    HWAVEIN GetHandle() const { return FHandle; }
    TPCMFormat GetPCMFormat() const { return FPCMFormat; }
    void SetPCMFormat(TPCMFormat Value);
    TWaveAudioGetFormatEvent OnFormat;

    void DoWaveInOpen() override;
    void DoWaveInClose() override;
    void DoWaveInData(WAVEHDR* pWaveHeader) override;
    UINT GetNumDevs() override;
    bool GetPaused() override;
    QString GetDeviceName() override;
    TPCMFormats GetDeviceFormats() override;
    DWORD GetPosition() override;
    // Milliseconds of silence that stand for sound captured while no buffer was queued, since the
    // device was last opened; kept after the close.
    DWORD GetGapTime() const;
    QString GetErrorText(MMRESULT ErrorCode) override;
    bool IsFormatSupported(const WAVEFORMATEX* pWaveFormat) override;

    // Capability bits of a device translated into formats: the 8000 Hz ones always, never 48000 Hz.
    static TPCMFormats FormatsOfCapabilities(DWORD Formats);

protected:
    void GetWaveFormat(WAVEFORMATEX*& pWaveFormat, bool& FreeIt) override;
    MMRESULT ValidateDeviceID(DWORD ADeviceID) override;
    bool InternalOpen() override;
    bool InternalClose() override;
    bool InternalPause() override;
    bool InternalResume() override;
    bool HandleAllocated() override;
    void QueueBuffers() override;

    virtual bool AddBuffer(WAVEHDR* pWaveHeader);
    // Queues a block of the caller's; with FreeIt the device takes it over and frees it (std::free).
    virtual bool AddUserBuffer(void* Buffer, DWORD ABufferSize, bool FreeIt);
    // Receives each recorded block. A receiver that keeps the block sets FreeIt to false and from then
    // on owns it (free it with std::free).
    virtual void ProcessData(void* Buffer, DWORD ABufferSize, bool& FreeIt);

    // After a close the platform refused, gives the device back without waiting for notifications.
    void ForceRelease();

private:
    HWAVEIN FHandle = nullptr;
    bool FPaused = false;
    TPCMFormat FPCMFormat = Mono16bit8000Hz;
    std::uint64_t FGapBytes = 0;
};
