#include "audio/WaveIn.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {
constexpr UINT HeaderSize = sizeof(WAVEHDR);

// Releases a format record when told to, also when an exception passes.
struct TFormatRelease {
    WAVEFORMATEX*& Format;
    bool& FreeIt;
    ~TFormatRelease() {
        if (FreeIt)
            std::free(std::exchange(Format, nullptr));
    }
};

QString WideText(const char16_t* Text, int Capacity) {
    int length = 0;
    while (length < Capacity && Text[length])
        ++length;
    return QString::fromUtf16(Text, length);
}
} // namespace

TWaveAudioIn::TWaveAudioIn(TComponent* AOwner) : TWaveAudioIO(AOwner) {}

TWaveAudioIn::~TWaveAudioIn() {
    Shutdown();
    ForceRelease();
}

void TWaveAudioIn::ForceRelease() {
    if (!FHandle)
        return;
    const auto lock = Locked();
    if (waveInReset(FHandle) == MMSYSERR_NOERROR) {
        for (WAVEHDR* header : Buffers())
            waveInUnprepareHeader(FHandle, header, HeaderSize);
    } else {
        AbandonBuffers(); // the device may still fill them
    }
    waveInClose(FHandle);
    FHandle = nullptr;
    ReleaseCallback();
}

// --- Properties ---

void TWaveAudioIn::SetPCMFormat(TPCMFormat Value) {
    if (Value == FPCMFormat)
        return;
    if (HandleAllocated())
        throw EWaveAudioInvalidOperation(
            QStringLiteral("Audio format cannot be changed while device is open"));
    FPCMFormat = Value;
}

UINT TWaveAudioIn::GetNumDevs() {
    return waveInGetNumDevs();
}

bool TWaveAudioIn::GetPaused() {
    return FPaused;
}

bool TWaveAudioIn::HandleAllocated() {
    return FHandle != nullptr;
}

QString TWaveAudioIn::GetDeviceName() {
    WAVEINCAPSW caps{};
    if (waveInGetDevCapsW(GetDeviceID(), &caps, sizeof(caps)) != MMSYSERR_NOERROR)
        return {};
    return WideText(caps.szPname, 32);
}

TPCMFormats TWaveAudioIn::FormatsOfCapabilities(DWORD Formats) {
    static constexpr std::pair<DWORD, TPCMFormat> Bits[] = {
        {WAVE_FORMAT_1M08, Mono8bit11025Hz},  {WAVE_FORMAT_1S08, Stereo8bit11025Hz},
        {WAVE_FORMAT_1M16, Mono16bit11025Hz}, {WAVE_FORMAT_1S16, Stereo16bit11025Hz},
        {WAVE_FORMAT_2M08, Mono8bit22050Hz},  {WAVE_FORMAT_2S08, Stereo8bit22050Hz},
        {WAVE_FORMAT_2M16, Mono16bit22050Hz}, {WAVE_FORMAT_2S16, Stereo16bit22050Hz},
        {WAVE_FORMAT_4M08, Mono8bit44100Hz},  {WAVE_FORMAT_4S08, Stereo8bit44100Hz},
        {WAVE_FORMAT_4M16, Mono16bit44100Hz}, {WAVE_FORMAT_4S16, Stereo16bit44100Hz},
    };
    TPCMFormats formats;
    for (TPCMFormat always : {Mono8Bit8000Hz, Stereo8bit8000Hz, Mono16bit8000Hz, Stereo16bit8000Hz})
        formats.set(always);
    for (const auto& [bit, format] : Bits)
        if (Formats & bit)
            formats.set(format);
    return formats;
}

TPCMFormats TWaveAudioIn::GetDeviceFormats() {
    WAVEINCAPSW caps{};
    if (waveInGetDevCapsW(GetDeviceID(), &caps, sizeof(caps)) != MMSYSERR_NOERROR)
        return {};
    return FormatsOfCapabilities(caps.dwFormats);
}

DWORD TWaveAudioIn::GetPosition() {
    MMTIME time{};
    time.wType = TIME_MS;
    if (waveInGetPosition(FHandle, &time, sizeof(time)) != MMSYSERR_NOERROR)
        return 0;
    return MMTimeToMS(time, GetWaveFormatRecord());
}

DWORD TWaveAudioIn::GetGapTime() const {
    const DWORD rate = GetWaveFormatRecord().nAvgBytesPerSec;
    return rate == 0 ? 0 : DWORD(FGapBytes * 1000 / rate);
}

QString TWaveAudioIn::GetErrorText(MMRESULT ErrorCode) {
    char16_t text[256] = {};
    if (waveInGetErrorTextW(ErrorCode, text, 256) != MMSYSERR_NOERROR)
        return {};
    return WideText(text, 256);
}

MMRESULT TWaveAudioIn::ValidateDeviceID(DWORD ADeviceID) {
    WAVEINCAPSW caps{};
    return waveInGetDevCapsW(ADeviceID, &caps, sizeof(caps));
}

bool TWaveAudioIn::IsFormatSupported(const WAVEFORMATEX* pWaveFormat) {
    return waveInOpen(nullptr, GetDeviceID(), pWaveFormat, 0, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

void TWaveAudioIn::GetWaveFormat(WAVEFORMATEX*& pWaveFormat, bool& FreeIt) {
    if (FPCMFormat != nonePCM) {
        FreeIt = true;
        pWaveFormat = static_cast<WAVEFORMATEX*>(std::calloc(1, sizeof(WAVEFORMATEX)));
        if (!pWaveFormat)
            throw std::bad_alloc();
        PCMFormatToWaveFormat(*pWaveFormat, FPCMFormat);
    } else if (OnFormat) {
        OnFormat(this, pWaveFormat, FreeIt);
    }
}

// --- Opening and closing ---

bool TWaveAudioIn::InternalOpen() {
    if (Opening())
        return false;
    if (Closing())
        WaitWhileClosing();
    if (GetActive())
        throw EWaveAudioInvalidOperation(QStringLiteral("Device is aleardy open"));

    Lock();
    SetOpening(true);
    struct TOpenEnd {
        TWaveAudioIn& Device;
        ~TOpenEnd() {
            Device.SetOpening(false);
            Device.Unlock();
        }
    } openEnd{*this};

    WAVEFORMATEX* format = nullptr;
    bool freeIt = true;
    TFormatRelease release{format, freeIt};
    GetWaveFormat(format, freeIt);
    // Without a format the query is refused, which reports the failure like any refused format.
    if (!CheckResult(waveInOpen(nullptr, GetDeviceID(), format, 0, 0, WAVE_FORMAT_QUERY)))
        return false;
    SetWaveFormatRecord(*format);
    FGapBytes = 0;
    CreateCallback();
    try {
        if (CheckResult(waveInOpen(&FHandle, GetDeviceID(), format, Callback(), 0, CallbackType())))
            return true;
    } catch (const std::exception&) {
        // A refused open is reported by the false result.
    }
    FHandle = nullptr;
    ReleaseCallback();
    return false;
}

bool TWaveAudioIn::InternalClose() {
    if (Closing())
        return false;
    if (Opening())
        WaitWhileOpening();
    if (!GetActive())
        throw EWaveAudioInvalidOperation(QStringLiteral("Device is aleardy close"));

    const auto lock = Locked();
    SetClosing(true);
    try {
        const MMRESULT reset = waveInReset(FHandle);
        if (reset != MMSYSERR_NOERROR)
            SetClosing(false);
        if (!CheckResult(reset))
            return false;
        if (AllocatedBufferCount() > 0)
            return true; // the last returned buffer closes the device
        const MMRESULT close = waveInClose(FHandle);
        if (close != MMSYSERR_NOERROR)
            SetClosing(false);
        return CheckResult(close);
    } catch (const std::exception&) {
        SetClosing(false);
        return false;
    }
}

// --- Pausing ---

bool TWaveAudioIn::InternalPause() {
    if (FPaused)
        return false;
    const auto lock = Locked();
    if (HandleAllocated() && !CheckResult(waveInStop(FHandle)))
        return false;
    FPaused = true;
    DoPause();
    return true;
}

bool TWaveAudioIn::InternalResume() {
    if (!FPaused)
        return false;
    const auto lock = Locked();
    if (HandleAllocated() && !CheckResult(waveInStart(FHandle)))
        return false;
    FPaused = false;
    DoResume();
    return true;
}

// --- Buffers ---

void TWaveAudioIn::QueueBuffers() {
    for (WORD count = AllocatedBufferCount(); count < GetBufferCount(); ++count) {
        if (!HandleAllocated() || Closing())
            return;
        WAVEHDR* header = nullptr;
        try {
            if (!ReallocateBuffer(header, BufferSize()))
                return;
            if (!AddBuffer(header)) {
                ReallocateBuffer(header, 0);
                return;
            }
        } catch (const std::exception&) {
            ReallocateBuffer(header, 0);
            return;
        }
    }
}

bool TWaveAudioIn::AddBuffer(WAVEHDR* pWaveHeader) {
    const bool wasPrepared = pWaveHeader->dwFlags & WHDR_PREPARED;
    if (!wasPrepared && !CheckResult(waveInPrepareHeader(FHandle, pWaveHeader, HeaderSize)))
        return false;
    try {
        if (CheckResult(waveInAddBuffer(FHandle, pWaveHeader, HeaderSize)))
            return true;
    } catch (...) {
        if (!wasPrepared)
            waveInUnprepareHeader(FHandle, pWaveHeader, HeaderSize);
        throw;
    }
    if (!wasPrepared)
        waveInUnprepareHeader(FHandle, pWaveHeader, HeaderSize);
    return false;
}

bool TWaveAudioIn::AddUserBuffer(void* Buffer, DWORD ABufferSize, bool FreeIt) {
    WAVEHDR* header = nullptr;
    try {
        if (!ReallocateBuffer(header, ABufferSize, Buffer))
            return false;
        if (FreeIt)
            header->dwUser = reinterpret_cast<std::uintptr_t>(static_cast<TWaveAudioIO*>(this));
        if (AddBuffer(header))
            return true;
    } catch (const std::exception&) {
    }
    ReallocateBuffer(header, 0); // frees the block only when it was handed over
    return false;
}

void TWaveAudioIn::ProcessData(void*, DWORD, bool&) {}

// --- Notifications ---

void TWaveAudioIn::DoWaveInOpen() {
    TWaveAudioIO::DoWaveInOpen();
    // A close requested before this notification arrived leaves nothing to start.
    if (!FPaused && !Closing()) {
        FPaused = true;
        FPaused = !CheckResult(waveInStart(FHandle));
    }
}

void TWaveAudioIn::DoWaveInData(WAVEHDR* pWaveHeader) {
    const auto closeWhenDrained = [this] {
        if (Closing() && AllocatedBufferCount() == 0) {
            const MMRESULT close = waveInClose(FHandle);
            if (close != MMSYSERR_NOERROR)
                SetClosing(false); // the device stays open, and nobody waits for it forever
            CheckResult(close);
        }
    };
    // Read while the device is open: the last buffer comes back before the close.
    waveInGetGapBytes(FHandle, &FGapBytes);
    try {
        if (pWaveHeader) {
            if (CheckResult(waveInUnprepareHeader(FHandle, pWaveHeader, HeaderSize)) &&
                pWaveHeader->dwBytesRecorded > 0) {
                bool freeIt = true;
                DoLevel(pWaveHeader->lpData, pWaveHeader->dwBytesRecorded);
                DoData(pWaveHeader->lpData, pWaveHeader->dwBytesRecorded);
                ProcessData(pWaveHeader->lpData, pWaveHeader->dwBytesRecorded, freeIt);
                if (!freeIt)
                    pWaveHeader->dwUser = 0; // the receiver owns the block now
            }
            bool requeued = false;
            if (!Closing() && AllocatedBufferCount() <= GetBufferCount())
                requeued = ReallocateBuffer(pWaveHeader, BufferSize()) && AddBuffer(pWaveHeader);
            if (!requeued)
                ReallocateBuffer(pWaveHeader, 0);
        }
    } catch (...) {
        if (pWaveHeader && (pWaveHeader->dwFlags & WHDR_PREPARED))
            waveInUnprepareHeader(FHandle, pWaveHeader, HeaderSize);
        ReallocateBuffer(pWaveHeader, 0);
        closeWhenDrained();
        throw;
    }
    closeWhenDrained();
}

void TWaveAudioIn::DoWaveInClose() {
    FHandle = nullptr;
    TWaveAudioIO::DoWaveInClose();
}
