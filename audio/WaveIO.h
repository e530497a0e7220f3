#pragma once
// The base of the wave devices: settings, the notification path (a hidden window of the opening
// thread, or a callback thread of the device's own), the device lock, the buffer headers with their
// data blocks, open and close completion, events and error reporting.

#include "audio/WaveUtils.h"
#include "platform/Classes.h"
#include "platform/Messages.h"
#include "platform/SysUtils.h"
#include "platform/WaveInService.h"

#include <atomic>
#include <bitset>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

using namespace win; // the platform layer's Windows-style names

namespace win {
class TEvent;
class TWaitableThread;
}
class TWaveThread;

class EWaveAudioError : public Exception {
    using Exception::Exception;
};
// A platform call failed and no OnError handler is assigned; the message is the platform's text.
class EWaveAudioSysError : public EWaveAudioError {
    using EWaveAudioError::EWaveAudioError;
};
// An operation is not allowed in the device's current state.
class EWaveAudioInvalidOperation : public EWaveAudioError {
    using EWaveAudioError::EWaveAudioError;
};

// A set of TPCMFormat values: bit n for value n.
using TPCMFormats = std::bitset<Stereo16bit48000Hz + 1>;

class TWaveAudioIO;

// The callback thread of a device in thread mode: it creates its message queue, signals its ready
// event, and hands every message to the device until WM_QUIT. Its state is its own, so a thread
// that is ending never disturbs the one that replaces it. Handle is signalled once it has ended.
class TWaveThread {
public:
    explicit TWaveThread(TWaveAudioIO* AOwner);
    ~TWaveThread(); // joins; never destroy it on its own thread
    TWaveThread(const TWaveThread&) = delete;
    TWaveThread& operator=(const TWaveThread&) = delete;

    DWORD ThreadID() const { return FThreadID; }
    TWaitableThread* Handle() const { return FThread.get(); }
    TEvent* Ready() const { return FReady.get(); }
    bool Running() const { return FRunning; }
    bool IsCurrent() const;

private:
    void Execute();

    TWaveAudioIO* FOwner;
    std::atomic<DWORD> FThreadID = 0;
    std::atomic<bool> FRunning = false;
    std::unique_ptr<TEvent> FReady;
    std::unique_ptr<TWaitableThread> FThread;
};

using TWaveAudioEvent = std::function<void(TWaveAudioIO* Sender)>;
using TWaveAudioLevelEvent = std::function<void(TWaveAudioIO* Sender, int Level)>;
// Supplies a format record; FreeIt tells whether the device releases it (std::free) after opening.
using TWaveAudioGetFormatEvent =
    std::function<void(TWaveAudioIO* Sender, WAVEFORMATEX*& pWaveFormat, bool& FreeIt)>;
using TWaveAudioDataEvent = std::function<void(TWaveAudioIO* Sender, const void* Buffer, DWORD BufferSize)>;

class TWaveAudioIO : public TComponent {
public:
    explicit TWaveAudioIO(TComponent* AOwner = nullptr);
    ~TWaveAudioIO() override;
    QString ClassName() const override { return QStringLiteral("TWaveAudioIO"); }

    bool GetAsync() const { return FAsync; }
    void SetAsync(bool Value);
    WORD GetBufferLength() const { return FBufferLength; }
    void SetBufferLength(WORD Value);
    WORD GetBufferCount() const { return FBufferCount; }
    void SetBufferCount(WORD Value);
    DWORD GetDeviceID() const { return FDeviceID; }
    void SetDeviceID(DWORD Value) { FDeviceID = Value; }
    MMRESULT GetLastError() const { return FLastError; }
    const WAVEFORMATEX& GetWaveFormatRecord() const { return FWaveFormat; }
    // The text of the last error; devices may say more than the platform's text of its code.
    virtual QString LastErrorText();

    TWaveAudioEvent OnActivate;
    TWaveAudioEvent OnDeactivate;
    TWaveAudioEvent OnPause;
    TWaveAudioEvent OnResume;
    TWaveAudioEvent OnError;
    TWaveAudioLevelEvent OnLevel;
    TWaveAudioDataEvent OnData;

    // Notification handlers.
    virtual void DoWaveInOpen();
    virtual void DoWaveInClose();
    virtual void DoWaveInData(WAVEHDR* pWaveHeader);
    virtual void DoWaveOutOpen();
    virtual void DoWaveOutClose();
    virtual void DoWaveOutDone(WAVEHDR* pWaveHeader);

    virtual UINT GetNumDevs() = 0;
    virtual bool GetActive();
    virtual void SetActive(bool Value);
    virtual bool GetPaused() = 0;
    virtual void SetPaused(bool Value);
    virtual QString GetDeviceName() = 0;
    virtual TPCMFormats GetDeviceFormats() = 0;
    virtual DWORD GetPosition() = 0;
    virtual QString GetErrorText(MMRESULT ErrorCode) = 0;

protected:
    virtual void GetWaveFormat(WAVEFORMATEX*& pWaveFormat, bool& FreeIt) = 0;
    virtual MMRESULT ValidateDeviceID(DWORD ADeviceID) = 0;
    virtual bool InternalOpen() = 0;
    virtual bool InternalClose() = 0;
    virtual bool InternalPause() = 0;
    virtual bool InternalResume() = 0;
    virtual bool HandleAllocated() = 0;
    virtual void QueueBuffers() = 0;
    virtual void FreeAllBuffers();
    virtual void DeviceOpened();
    virtual void DeviceClosed();
    virtual void DoActivate();
    virtual void DoDeactivate();
    virtual void DoPause();
    virtual void DoResume();
    virtual void DoError();
    virtual void DoLevel(const void* Buffer, DWORD BufferSize);
    virtual void DoData(const void* Buffer, DWORD BufferSize);

public:
    virtual bool IsFormatSupported(const WAVEFORMATEX* pWaveFormat) = 0;
    virtual bool IsPCMFormatSupported(TPCMFormat PCMFormat);

    // Handles one notification under the device lock; false for codes that are not the device's.
    bool HandleNotification(UINT Message, LPARAM Param);
    static DWORD MMTimeToMS(const MMTIME& Time, const WAVEFORMATEX& WaveFormat);

protected:
    // Most-derived destructors call this while their overrides still exist: it closes the device and
    // waits for the close notification. Events stay silent from here on.
    void Shutdown();
    bool Destroying() const { return FDestroying; }

    void Lock() { FLock.lock(); }
    void Unlock() { FLock.unlock(); }
    [[nodiscard]] std::unique_lock<std::recursive_mutex> Locked() { return std::unique_lock(FLock); }
    WORD AllocatedBufferCount() const { return WORD(FBuffers.size()); }
    DWORD BufferSize() const { return MSToBufferBytes(FWaveFormat, FBufferLength); }
    // Stores the code; a failure reports it through DoError. True for success.
    bool CheckResult(MMRESULT Result);
    // Puts back a code that later calls replaced, without reporting it.
    void SetLastError(MMRESULT Value) { FLastError = Value; }
    void CreateCallback();
    void ReleaseCallback();
    // The single place where headers and device-owned blocks are made and freed; see the .cpp.
    bool ReallocateBuffer(WAVEHDR*& pWaveHeader, DWORD ABufferSize, void* Buffer = nullptr);
    void WaitWhileOpening();
    void WaitWhileClosing();

    std::uintptr_t Callback() const { return FCallback; }
    DWORD CallbackType() const { return FCallbackType; }
    bool Opening() const { return FOpening; }
    void SetOpening(bool Value) { FOpening = Value; }
    bool Closing() const { return FClosing; }
    void SetClosing(bool Value) { FClosing = Value; }
    void SetWaveFormatRecord(const WAVEFORMATEX& Format);
    const std::vector<WAVEHDR*>& Buffers() const { return FBuffers; }
    // Forgets every header without freeing it: for headers a device that refused to give them back
    // may still write into.
    void AbandonBuffers() { FBuffers.clear(); }

private:
    LRESULT CallbackWndProc(UINT Message, WPARAM wParam, LPARAM lParam);
    // Pumps the callback window one message at a time while Condition holds.
    template <typename Condition> void PumpCallbackWindow(Condition KeepWaiting);
    friend class TWaveThread;

    bool FAsync = false;
    DWORD FDeviceID = WAVE_MAPPER;
    MMRESULT FLastError = MMSYSERR_NOERROR;
    WORD FBufferLength = 1000;
    WORD FBufferCount = 2;
    std::atomic<bool> FOpening = false;
    std::atomic<bool> FClosing = false;
    std::atomic<std::uintptr_t> FCallback = 0; // window handle or thread id; non-zero while active
    DWORD FCallbackType = 0;
    std::vector<WAVEHDR*> FBuffers;
    std::unique_ptr<TWaveThread> FThread; // the callback thread; kept until the next one or the end
    // A callback thread replaced from its own notification (a restart from OnDeactivate): it cannot
    // join itself, so it is joined by the next replacement or the end.
    std::unique_ptr<TWaveThread> FEndingThread;
    std::recursive_mutex FLock;
    WAVEFORMATEX FWaveFormat{};
    std::atomic<bool> FDestroying = false;
};
