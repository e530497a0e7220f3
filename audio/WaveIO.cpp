#include "audio/WaveIO.h"

#include "platform/Dialogs.h"
#include "platform/MulDiv.h"
#include "platform/Waitable.h"

#include <algorithm>
#include <cstdlib>

using namespace win; // the platform layer's Windows-style names

TWaveAudioIO::TWaveAudioIO(TComponent* AOwner) : TComponent(AOwner) {}

TWaveAudioIO::~TWaveAudioIO() {
    // Normally Shutdown has closed everything; this only makes sure nothing outlives the object.
    FDestroying = true;
    if (FCallback != 0 && FCallbackType == CALLBACK_WINDOW)
        DeallocateHWnd(FCallback.exchange(0));
    FCallback = 0;
    for (auto it = FBuffers.rbegin(); it != FBuffers.rend(); ++it) {
        if ((*it)->dwUser == reinterpret_cast<std::uintptr_t>(this))
            std::free((*it)->lpData);
        std::free(*it);
    }
    FBuffers.clear();
    FThread.reset();
    FEndingThread.reset();
}

void TWaveAudioIO::Shutdown() {
    FDestroying = true;
    try {
        SetActive(false);
    } catch (const std::exception&) {
        // The device is going away; a failed close has been reported through CheckResult already.
    }
    WaitWhileClosing();
}

// --- Settings ---

void TWaveAudioIO::SetAsync(bool Value) {
    if (!GetActive())
        FAsync = Value;
}

void TWaveAudioIO::SetBufferLength(WORD Value) {
    FBufferLength = std::max<WORD>(Value, 10);
}

void TWaveAudioIO::SetBufferCount(WORD Value) {
    FBufferCount = Value;
}

void TWaveAudioIO::SetWaveFormatRecord(const WAVEFORMATEX& Format) {
    // Only the PCM part is kept.
    FWaveFormat = WAVEFORMATEX{};
    std::memcpy(&FWaveFormat, &Format, 16);
}

QString TWaveAudioIO::LastErrorText() {
    return GetErrorText(FLastError);
}

bool TWaveAudioIO::GetActive() {
    return FCallback != 0;
}

void TWaveAudioIO::SetActive(bool Value) {
    if (Value == GetActive())
        return;
    if (Value)
        InternalOpen();
    else
        InternalClose();
}

void TWaveAudioIO::SetPaused(bool Value) {
    if (Value == GetPaused())
        return;
    if (Value)
        InternalPause();
    else
        InternalResume();
}

bool TWaveAudioIO::IsPCMFormatSupported(TPCMFormat PCMFormat) {
    if (PCMFormat == nonePCM || PCMFormat > Stereo16bit48000Hz)
        return false;
    WAVEFORMATEX format{};
    PCMFormatToWaveFormat(format, PCMFormat);
    return IsFormatSupported(&format);
}

// --- Errors ---

bool TWaveAudioIO::CheckResult(MMRESULT Result) {
    FLastError = Result;
    if (Result == MMSYSERR_NOERROR)
        return true;
    DoError();
    return false;
}

void TWaveAudioIO::DoError() {
    if (OnError) {
        OnError(this);
        return;
    }
    throw EWaveAudioSysError(LastErrorText());
}

// --- Notifications ---

void TWaveAudioIO::CreateCallback() {
    if (FAsync) {
        FCallbackType = CALLBACK_THREAD;
        // An earlier callback thread has ended or is ending; when it is this very thread, it ends
        // once this notification is over.
        if (FThread && FThread->IsCurrent()) {
            FEndingThread.reset();
            FEndingThread = std::move(FThread);
        }
        FThread.reset();
        FThread = std::make_unique<TWaveThread>(this);
        // The thread's queue must exist before the platform can post the open notification to it.
        WaitWithMessagePump(FThread->Ready(), INFINITE);
        FCallback = FThread->ThreadID();
    } else {
        FCallbackType = CALLBACK_WINDOW;
        FCallback = AllocateHWnd([this](UINT Message, WPARAM wParam, LPARAM lParam) {
            return CallbackWndProc(Message, wParam, lParam);
        });
    }
}

TWaveThread::TWaveThread(TWaveAudioIO* AOwner)
    : FOwner(AOwner), FReady(std::make_unique<TEvent>(true, false)),
      FThread(std::make_unique<TWaitableThread>([this] { Execute(); })) {}

TWaveThread::~TWaveThread() = default;

bool TWaveThread::IsCurrent() const {
    return FThread->ThreadId() == std::this_thread::get_id();
}

void TWaveThread::Execute() {
    FThreadID = GetCurrentThreadId();
    MSG message;
    PeekMessageW(&message, 0, 0, 0, PM_NOREMOVE); // creates this thread's queue
    FRunning = true;
    FReady->SetEvent();
    while (GetMessageW(&message, 0, 0, 0))
        FOwner->HandleNotification(message.message, message.lParam);
    FReady->ResetEvent();
    FRunning = false;
}

void TWaveAudioIO::ReleaseCallback() {
    const std::uintptr_t callback = FCallback;
    if (callback == 0)
        return;
    if (FCallbackType == CALLBACK_THREAD) {
        // Usually runs on the callback thread itself, which leaves its loop after this notification.
        while (FThread && FThread->Running() && !PostThreadMessageW(DWORD(callback), WM_QUIT, 0, 0))
            Sleep(0);
    } else {
        DeallocateHWnd(callback);
    }
    FCallback = 0;
}

bool TWaveAudioIO::HandleNotification(UINT Message, LPARAM Param) {
    if (Message < MM_WOM_OPEN || Message > MM_WIM_DATA)
        return false;
    QString failure;
    {
        std::lock_guard<std::recursive_mutex> lock(FLock);
        try {
            auto* header = reinterpret_cast<WAVEHDR*>(Param);
            switch (Message) {
            case MM_WOM_OPEN:
                DoWaveOutOpen();
                break;
            case MM_WOM_CLOSE:
                DoWaveOutClose();
                break;
            case MM_WOM_DONE:
                DoWaveOutDone(header);
                break;
            case MM_WIM_OPEN:
                DoWaveInOpen();
                break;
            case MM_WIM_CLOSE:
                DoWaveInClose();
                break;
            default:
                DoWaveInData(header);
                break;
            }
        } catch (const Exception& error) {
            failure = error.Message();
        } catch (const std::exception& error) {
            failure = QString::fromLocal8Bit(error.what());
        }
    }
    // Shown after the lock is released, so the device can take the next notification meanwhile.
    if (!failure.isNull())
        MessageBoxW(nullptr, failure, QStringLiteral("Application Error"),
                    MB_OK | MB_ICONERROR | MB_TASKMODAL);
    return true;
}

LRESULT TWaveAudioIO::CallbackWndProc(UINT Message, WPARAM wParam, LPARAM lParam) {
    if (HandleNotification(Message, lParam))
        return 0;
    return DefWindowProcW(FCallback, Message, wParam, lParam);
}

void TWaveAudioIO::DoWaveInOpen() {
    DeviceOpened();
}
void TWaveAudioIO::DoWaveInClose() {
    DeviceClosed();
}
void TWaveAudioIO::DoWaveInData(WAVEHDR*) {}
void TWaveAudioIO::DoWaveOutOpen() {
    DeviceOpened();
}
void TWaveAudioIO::DoWaveOutClose() {
    DeviceClosed();
}
void TWaveAudioIO::DoWaveOutDone(WAVEHDR*) {}

void TWaveAudioIO::DeviceOpened() {
    FOpening = false;
    QueueBuffers();
    DoActivate();
}

void TWaveAudioIO::DeviceClosed() {
    DoLevel(nullptr, 0);
    FClosing = false;
    ReleaseCallback();
    FreeAllBuffers();
    DoDeactivate();
}

// --- Events ---

void TWaveAudioIO::DoActivate() {
    if (OnActivate)
        OnActivate(this);
}

void TWaveAudioIO::DoDeactivate() {
    if (OnDeactivate && !FDestroying)
        OnDeactivate(this);
}

void TWaveAudioIO::DoPause() {
    if (OnPause)
        OnPause(this);
}

void TWaveAudioIO::DoResume() {
    if (OnResume)
        OnResume(this);
}

void TWaveAudioIO::DoLevel(const void* Buffer, DWORD ABufferSize) {
    if (OnLevel && !FDestroying && FWaveFormat.wFormatTag == WAVE_FORMAT_PCM)
        OnLevel(this, GetPeakLevel(Buffer, ABufferSize, FWaveFormat));
}

void TWaveAudioIO::DoData(const void* Buffer, DWORD ABufferSize) {
    if (OnData && !FDestroying)
        OnData(this, Buffer, ABufferSize);
}

// --- Buffers ---

bool TWaveAudioIO::ReallocateBuffer(WAVEHDR*& pWaveHeader, DWORD ABufferSize, void* Buffer) {
    const auto self = reinterpret_cast<std::uintptr_t>(this);
    if (ABufferSize == 0) {
        if (pWaveHeader) {
            std::erase(FBuffers, pWaveHeader);
            if (pWaveHeader->dwUser == self)
                std::free(pWaveHeader->lpData);
            std::free(pWaveHeader);
            pWaveHeader = nullptr;
        }
        return true;
    }
    if (!pWaveHeader) {
        pWaveHeader = static_cast<WAVEHDR*>(std::calloc(1, sizeof(WAVEHDR)));
        if (!pWaveHeader) {
            CheckResult(MMSYSERR_NOMEM);
            return false;
        }
        FBuffers.push_back(pWaveHeader);
    }
    if (pWaveHeader->dwUser != self) {
        // Someone else's block: never ours to resize or free.
        pWaveHeader->lpData = nullptr;
        pWaveHeader->dwBufferLength = 0;
    }
    char* data = pWaveHeader->lpData;
    if (!Buffer) {
        if (pWaveHeader->dwBufferLength != ABufferSize) {
            data = static_cast<char*>(std::realloc(pWaveHeader->lpData, ABufferSize));
            if (!data) {
                ReallocateBuffer(pWaveHeader, 0);
                CheckResult(MMSYSERR_NOMEM);
                return false;
            }
        }
    } else {
        if (pWaveHeader->dwUser == self)
            std::free(pWaveHeader->lpData);
        data = static_cast<char*>(Buffer);
    }
    *pWaveHeader = WAVEHDR{};
    pWaveHeader->dwUser = Buffer ? 0 : self;
    pWaveHeader->lpData = data;
    pWaveHeader->dwBufferLength = ABufferSize;
    return true;
}

void TWaveAudioIO::FreeAllBuffers() {
    while (!FBuffers.empty()) {
        WAVEHDR* header = FBuffers.back();
        ReallocateBuffer(header, 0);
    }
}

// --- Waiting for transitions ---

template <typename Condition> void TWaveAudioIO::PumpCallbackWindow(Condition KeepWaiting) {
    const HWND window = HWND(FCallback.load());
    while (FCallback != 0 && KeepWaiting()) {
        MSG message;
        if (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
            if (message.message == WM_QUIT)
                break;
        } else {
            Sleep(0);
        }
    }
}

void TWaveAudioIO::WaitWhileOpening() {
    if (FCallback == 0)
        return;
    if (FCallbackType == CALLBACK_THREAD) {
        while (FOpening && FThread && FThread->Running())
            WaitWithMessagePump(FThread->Ready(), INFINITE);
    } else {
        PumpCallbackWindow([this] { return FOpening.load(); });
    }
}

void TWaveAudioIO::WaitWhileClosing() {
    if (FCallback == 0)
        return;
    // Waits only while a close is under way: a device whose close was refused stays open, and
    // waiting for its close notification would never end.
    if (FCallbackType == CALLBACK_THREAD) {
        while (FClosing && FThread)
            WaitWithMessagePump(FThread->Handle(), INFINITE);
    } else {
        PumpCallbackWindow([this] { return FClosing.load(); });
    }
}

DWORD TWaveAudioIO::MMTimeToMS(const MMTIME& Time, const WAVEFORMATEX& WaveFormat) {
    switch (Time.wType) {
    case TIME_MS:
        return Time.u.ms;
    case TIME_SAMPLES:
        return WaveFormat.nSamplesPerSec == 0 ? 0
                                              : DWORD(MulDiv(1000, std::int32_t(Time.u.sample),
                                                             std::int32_t(WaveFormat.nSamplesPerSec)));
    case TIME_BYTES:
        return WaveFormat.nAvgBytesPerSec == 0
                   ? 0
                   : DWORD(MulDiv(1000, std::int32_t(Time.u.cb), std::int32_t(WaveFormat.nAvgBytesPerSec)));
    case TIME_SMPTE:
        return (DWORD(Time.u.smpte.hour) * 3600 + DWORD(Time.u.smpte.min) * 60 + Time.u.smpte.sec) * 1000;
    default:
        return 0;
    }
}
