#include "platform/WaveInService.h"

#include "platform/PulseWaveIn.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace win {

// An open recording device. Everything below Lock is guarded by it; the capture thread reads from
// Capture without it.
struct WaveInDevice {
    std::shared_ptr<TWaveInBackend> Backend;
    std::unique_ptr<TWaveInCapture> Capture;
    WAVEFORMATEX Format{};
    DWORD CallbackType = CALLBACK_NULL;
    std::uintptr_t Callback = 0;
    std::thread CaptureThread;

    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<WAVEHDR*> Queue;
    bool Started = false;
    unsigned Starts = 0; // counts waveInStart calls, so the capture thread sees every restart
    bool Failed = false; // the capture broke: nothing more is delivered
    QString FailureReason;
    bool Closing = false;
    std::uint64_t Position = 0; // bytes stored into headers since open
    // Sound captured while no header was queued: silence of its length goes into the next headers.
    std::uint64_t PendingSilence = 0;
    std::uint64_t Gaps = 0; // bytes of such sound since open
};

namespace {

constexpr DWORD CALLBACK_TYPE_MASK = 0x00070000;
// How long an open waits for a callback thread to create its queue.
constexpr DWORD ThreadQueueWaitMs = 1000;

struct TDeviceRegistry {
    std::mutex Lock;
    std::map<HWAVEIN, std::shared_ptr<WaveInDevice>> Devices;
};

TDeviceRegistry& Registry() {
    static auto* registry = new TDeviceRegistry;
    return *registry;
}

std::shared_ptr<WaveInDevice> FindDevice(HWAVEIN Handle) {
    TDeviceRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.Lock);
    const auto it = registry.Devices.find(Handle);
    return it == registry.Devices.end() ? nullptr : it->second;
}

struct TBackendSlot {
    std::mutex Lock;
    std::shared_ptr<TWaveInBackend> Backend;
};

TBackendSlot& BackendSlot() {
    static auto* slot = new TBackendSlot;
    return *slot;
}

// The reason the backend gave for the latest failure of each result code.
struct TFailureReasons {
    std::mutex Lock;
    std::map<MMRESULT, QString> Reasons;
};

TFailureReasons& FailureReasons() {
    static auto* reasons = new TFailureReasons;
    return *reasons;
}

// Returns Result; a failure replaces the reason kept for its code (none when Reason is empty).
MMRESULT Fail(MMRESULT Result, const QString& Reason = {}) {
    if (Result == MMSYSERR_NOERROR)
        return Result;
    TFailureReasons& reasons = FailureReasons();
    std::lock_guard<std::mutex> lock(reasons.Lock);
    if (Reason.isEmpty())
        reasons.Reasons.erase(Result);
    else
        reasons.Reasons[Result] = Reason;
    return Result;
}

MMRESULT BackendFail(MMRESULT Result, TWaveInBackend& Backend) {
    return Result == MMSYSERR_NOERROR ? Result : Fail(Result, Backend.ErrorText());
}

const char* StandardErrorText(MMRESULT Error) {
    switch (Error) {
    case MMSYSERR_NOERROR:
        return "The specified command was carried out.";
    case MMSYSERR_ERROR:
        return "Undefined external error.";
    case MMSYSERR_BADDEVICEID:
        return "The specified device identifier is out of range.";
    case MMSYSERR_NOTENABLED:
        return "The driver was not enabled.";
    case MMSYSERR_ALLOCATED:
        return "The specified device is already in use.";
    case MMSYSERR_INVALHANDLE:
        return "The specified device handle is invalid.";
    case MMSYSERR_NODRIVER:
        return "There is no driver installed on your system.";
    case MMSYSERR_NOMEM:
        return "There is not enough memory available for this task.";
    case MMSYSERR_NOTSUPPORTED:
        return "This function is not supported.";
    case MMSYSERR_BADERRNUM:
        return "An error number was specified that is not defined in the system.";
    case MMSYSERR_INVALFLAG:
        return "An invalid flag was passed to a system function.";
    case MMSYSERR_INVALPARAM:
        return "An invalid parameter was passed to a system function.";
    case WAVERR_BADFORMAT:
        return "Unsupported wave format.";
    case WAVERR_STILLPLAYING:
        return "Cannot perform this operation while media data is still playing.";
    case WAVERR_UNPREPARED:
        return "The wave header was not prepared.";
    case WAVERR_SYNC:
        return "Cannot open the device without using the WAVE_ALLOWSYNC flag.";
    default:
        return nullptr;
    }
}

// Posts a notification to the device's callback. Never blocks, so it may be called with the device
// lock held, which keeps notifications of one device in the order of events.
void Notify(const WaveInDevice& Device, UINT Message, LPARAM lParam) {
    const auto handle = reinterpret_cast<WPARAM>(&Device);
    if (Device.CallbackType == CALLBACK_WINDOW)
        PostMessageW(static_cast<HWND>(Device.Callback), Message, handle, lParam);
    else if (Device.CallbackType == CALLBACK_THREAD)
        PostThreadMessageW(static_cast<DWORD>(Device.Callback), Message, handle, lParam);
}

// Hands a header back to the application. Device lock held.
void ReturnHeader(WaveInDevice& Device, WAVEHDR* Header) {
    Header->dwFlags = (Header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Notify(Device, MM_WIM_DATA, reinterpret_cast<LPARAM>(Header));
}

// Stores Count bytes into the queued headers in order, returning each one that fills up: the
// bytes of Data, or silence when Data is null. Returns how many found no header. Device lock held.
std::size_t Store(WaveInDevice& Device, const char* Data, std::size_t Count) {
    const int silence = Device.Format.wBitsPerSample == 8 ? 0x80 : 0;
    while (Count > 0 && !Device.Queue.empty()) {
        WAVEHDR* header = Device.Queue.front();
        const std::size_t take =
            std::min<std::size_t>(Count, header->dwBufferLength - header->dwBytesRecorded);
        if (Data != nullptr) {
            std::memcpy(header->lpData + header->dwBytesRecorded, Data, take);
            Data += take;
        } else {
            std::memset(header->lpData + header->dwBytesRecorded, silence, take);
        }
        header->dwBytesRecorded += static_cast<DWORD>(take);
        Device.Position += take;
        Count -= take;
        if (header->dwBytesRecorded == header->dwBufferLength) {
            Device.Queue.pop_front();
            ReturnHeader(Device, header);
        }
    }
    return Count;
}

// Puts the silence owed for earlier gaps into the queued headers. Device lock held.
void StorePendingSilence(WaveInDevice& Device) {
    if (Device.PendingSilence > 0)
        Device.PendingSilence = Store(Device, nullptr, Device.PendingSilence);
}

// Stores captured bytes after any silence still owed. Sound for which no header is queued becomes
// silence owed to the next headers, so the recording keeps the length of the time it covers.
// Device lock held.
void StoreCaptured(WaveInDevice& Device, const char* Data, std::size_t Count) {
    StorePendingSilence(Device);
    const std::size_t missed = Device.PendingSilence > 0 ? Count : Store(Device, Data, Count);
    Device.PendingSilence += missed;
    Device.Gaps += missed;
}

// The capture broke: the header being filled goes back at once, so the application hears of the
// loss from its next call rather than waiting for sound that never comes. Device lock held.
void CaptureFailed(WaveInDevice& Device) {
    Device.Failed = true;
    Device.FailureReason = Device.Capture->FailureReason();
    if (!Device.Queue.empty()) {
        WAVEHDR* header = Device.Queue.front();
        Device.Queue.pop_front();
        ReturnHeader(Device, header);
    }
}

void CaptureLoop(WaveInDevice& Device) {
    // About 50 ms of sound per read: short enough for timely buffers, long enough to be cheap.
    const std::size_t frame = Device.Format.nBlockAlign;
    std::vector<char> buffer(
        std::max<std::size_t>(frame, Device.Format.nAvgBytesPerSec / 20 / frame * frame));
    unsigned startsSeen = 0;
    for (;;) {
        bool restarted;
        {
            std::unique_lock<std::mutex> lock(Device.Lock);
            Device.Changed.wait(lock,
                                [&Device] { return Device.Closing || (Device.Started && !Device.Failed); });
            if (Device.Closing)
                return;
            restarted = Device.Starts != startsSeen;
            startsSeen = Device.Starts;
        }
        if (restarted)
            Device.Capture->Flush();
        const int count = Device.Capture->Read(buffer.data(), static_cast<int>(buffer.size()));
        std::lock_guard<std::mutex> lock(Device.Lock);
        if (count < 0) {
            CaptureFailed(Device);
            continue;
        }
        // Sound read across a stop belongs to no recording.
        if (count > 0 && Device.Started && !Device.Closing && Device.Starts == startsSeen)
            StoreCaptured(Device, buffer.data(), static_cast<std::size_t>(count));
    }
}

MMRESULT CheckHeader(const WAVEHDR* Header, UINT HeaderSize) {
    return Header == nullptr || HeaderSize < sizeof(WAVEHDR) ? MMSYSERR_INVALPARAM : MMSYSERR_NOERROR;
}

// The index DeviceID stands for; Devices.size() when there is no such device.
std::size_t DeviceIndex(const std::vector<TWaveInDeviceInfo>& Devices, UINT DeviceID) {
    if (DeviceID == WAVE_MAPPER) {
        const auto it =
            std::find_if(Devices.begin(), Devices.end(), [](const auto& d) { return d.IsDefault; });
        return it == Devices.end() ? 0 : static_cast<std::size_t>(it - Devices.begin());
    }
    if (DeviceID == WAVE_PLAYBACK_MONITOR)
        return static_cast<std::size_t>(
            std::find_if(Devices.begin(), Devices.end(), [](const auto& d) { return d.IsPlaybackMonitor; }) -
            Devices.begin());
    return DeviceID;
}

} // namespace

MMRESULT CheckWaveInFormat(const WAVEFORMATEX& Format) {
    const bool sensible = Format.wFormatTag == WAVE_FORMAT_PCM &&
                          (Format.nChannels == 1 || Format.nChannels == 2) &&
                          (Format.wBitsPerSample == 8 || Format.wBitsPerSample == 16) &&
                          Format.nSamplesPerSec >= 1000 && Format.nSamplesPerSec <= 192000;
    if (!sensible)
        return WAVERR_BADFORMAT;
    const DWORD blockAlign = Format.nChannels * Format.wBitsPerSample / 8;
    if (Format.nBlockAlign != blockAlign || Format.nAvgBytesPerSec != Format.nSamplesPerSec * blockAlign)
        return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}

std::shared_ptr<TWaveInBackend> WaveInBackend() {
    TBackendSlot& slot = BackendSlot();
    std::lock_guard<std::mutex> lock(slot.Lock);
    if (!slot.Backend)
        slot.Backend = std::make_shared<TPulseWaveInBackend>();
    return slot.Backend;
}

void SetWaveInBackend(std::shared_ptr<TWaveInBackend> Backend) {
    TBackendSlot& slot = BackendSlot();
    std::lock_guard<std::mutex> lock(slot.Lock);
    slot.Backend = std::move(Backend);
}

UINT waveInGetNumDevs() {
    return static_cast<UINT>(WaveInBackend()->Devices().size());
}

MMRESULT waveInGetDevCapsW(UINT DeviceID, WAVEINCAPSW* Caps, UINT CapsSize) {
    if (Caps == nullptr)
        return Fail(MMSYSERR_INVALPARAM);
    const std::vector<TWaveInDeviceInfo> devices = WaveInBackend()->Devices();
    const std::size_t index = DeviceIndex(devices, DeviceID);
    if (index >= devices.size())
        return Fail(MMSYSERR_BADDEVICEID);

    WAVEINCAPSW caps{};
    caps.wMid = 1; // the maker and product ids of a generic device
    caps.vDriverVersion = 0x0100;
    QString name = devices[index].Name.left(31);
    if (name.size() == 31 && name.back().isHighSurrogate())
        name.chop(1);
    std::memcpy(caps.szPname, name.utf16(), name.size() * sizeof(char16_t));
    caps.dwFormats = WAVE_FORMAT_1M08 | WAVE_FORMAT_1S08 | WAVE_FORMAT_1M16 | WAVE_FORMAT_1S16 |
                     WAVE_FORMAT_2M08 | WAVE_FORMAT_2S08 | WAVE_FORMAT_2M16 | WAVE_FORMAT_2S16 |
                     WAVE_FORMAT_4M08 | WAVE_FORMAT_4S08 | WAVE_FORMAT_4M16 | WAVE_FORMAT_4S16;
    caps.wChannels = 2;
    std::memcpy(Caps, &caps, std::min<std::size_t>(CapsSize, sizeof(caps)));
    return MMSYSERR_NOERROR;
}

QString WaveInPlaybackMonitorName() {
    const std::vector<TWaveInDeviceInfo> devices = WaveInBackend()->Devices();
    const std::size_t index = DeviceIndex(devices, WAVE_PLAYBACK_MONITOR);
    return index < devices.size() ? devices[index].Name : QString();
}

MMRESULT waveInGetErrorTextW(MMRESULT Error, char16_t* Text, UINT TextCapacity) {
    if (Text == nullptr || TextCapacity == 0)
        return MMSYSERR_INVALPARAM;
    const char* standard = StandardErrorText(Error);
    if (standard == nullptr) {
        Text[0] = 0;
        return MMSYSERR_BADERRNUM;
    }
    QString text = QString::fromLatin1(standard);
    {
        TFailureReasons& reasons = FailureReasons();
        std::lock_guard<std::mutex> lock(reasons.Lock);
        const auto it = reasons.Reasons.find(Error);
        if (it != reasons.Reasons.end())
            text += QStringLiteral(" (%1)").arg(it->second);
    }
    const qsizetype length = std::min<qsizetype>(text.size(), TextCapacity - 1);
    std::memcpy(Text, text.utf16(), length * sizeof(char16_t));
    Text[length] = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInOpen(HWAVEIN* Handle, UINT DeviceID, const WAVEFORMATEX* Format, std::uintptr_t Callback,
                    std::uintptr_t /*Instance*/, DWORD Flags) {
    const bool query = (Flags & WAVE_FORMAT_QUERY) != 0;
    if (Format == nullptr || (!query && Handle == nullptr))
        return Fail(MMSYSERR_INVALPARAM);
    const DWORD callbackType = Flags & CALLBACK_TYPE_MASK;
    if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_WINDOW && callbackType != CALLBACK_THREAD)
        return Fail(MMSYSERR_INVALFLAG);
    if (!query && callbackType == CALLBACK_WINDOW && !IsWindow(static_cast<HWND>(Callback)))
        return Fail(MMSYSERR_INVALPARAM);
    if (const MMRESULT result = CheckWaveInFormat(*Format))
        return Fail(result);

    const std::shared_ptr<TWaveInBackend> backend = WaveInBackend();
    if (query)
        return BackendFail(backend->Query(DeviceID, *Format), *backend);

    auto device = std::make_shared<WaveInDevice>();
    if (const MMRESULT result = backend->Open(DeviceID, *Format, device->Capture))
        return BackendFail(result, *backend);
    device->Backend = backend;
    device->Format = *Format;
    device->CallbackType = callbackType;
    device->Callback = Callback;
    device->CaptureThread = std::thread(CaptureLoop, std::ref(*device));
    {
        TDeviceRegistry& registry = Registry();
        std::lock_guard<std::mutex> lock(registry.Lock);
        registry.Devices.emplace(device.get(), device);
    }
    *Handle = device.get();

    // A thread given as the callback may not have made its queue yet when it has only just started.
    const auto handle = reinterpret_cast<WPARAM>(device.get());
    if (callbackType == CALLBACK_THREAD) {
        for (DWORD waited = 0; !PostThreadMessageW(static_cast<DWORD>(Callback), MM_WIM_OPEN, handle, 0) &&
                               waited < ThreadQueueWaitMs;
             ++waited)
            Sleep(1);
    } else {
        Notify(*device, MM_WIM_OPEN, 0);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN Handle) {
    const std::shared_ptr<WaveInDevice> device = FindDevice(Handle);
    if (!device)
        return Fail(MMSYSERR_INVALHANDLE);
    {
        std::lock_guard<std::mutex> lock(device->Lock);
        if (device->Closing)
            return Fail(MMSYSERR_INVALHANDLE);
        if (!device->Queue.empty())
            return Fail(WAVERR_STILLPLAYING);
        if (const MMRESULT result = device->Backend->CloseResult())
            return BackendFail(result, *device->Backend);
        device->Closing = true;
        device->Started = false;
    }
    {
        TDeviceRegistry& registry = Registry();
        std::lock_guard<std::mutex> lock(registry.Lock);
        registry.Devices.erase(Handle);
    }
    device->Changed.notify_all();
    device->Capture->Interrupt();
    device->CaptureThread.join();
    device->Capture.reset();
    Notify(*device, MM_WIM_CLOSE, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN Handle, WAVEHDR* Header, UINT HeaderSize) {
    const std::shared_ptr<WaveInDevice> device = FindDevice(Handle);
    if (!device)
        return Fail(MMSYSERR_INVALHANDLE);
    if (const MMRESULT result = CheckHeader(Header, HeaderSize))
        return Fail(result);
    if (Header->lpData == nullptr)
        return Fail(MMSYSERR_INVALPARAM);
    std::lock_guard<std::mutex> lock(device->Lock);
    Header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN Handle, WAVEHDR* Header, UINT HeaderSize) {
    const std::shared_ptr<WaveInDevice> device = FindDevice(Handle);
    if (!device)
        return Fail(MMSYSERR_INVALHANDLE);
    if (const MMRESULT result = CheckHeader(Header, HeaderSize))
        return Fail(result);
    std::lock_guard<std::mutex> lock(device->Lock);
    if (Header->dwFlags & WHDR_INQUEUE)
        return Fail(WAVERR_STILLPLAYING);
    Header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN Handle, WAVEHDR* Header, UINT HeaderSize) {
    const std::shared_ptr<WaveInDevice> device = FindDevice(Handle);
    if (!device)
        return Fail(MMSYSERR_INVALHANDLE);
    if (const MMRESULT result = CheckHeader(Header, HeaderSize))
        return Fail(result);
    std::lock_guard<std::mutex> lock(device->Lock);
    if (device->Closing)
        return Fail(MMSYSERR_INVALHANDLE);
    if (!(Header->dwFlags & WHDR_PREPARED))
        return Fail(WAVERR_UNPREPARED);
    if (Header->dwFlags & WHDR_INQUEUE)
        return Fail(WAVERR_STILLPLAYING);
    if (Header->dwBufferLength == 0)
        return Fail(MMSYSERR_INVALPARAM);
    if (device->Failed)
        return Fail(MMSYSERR_NODRIVER, device->FailureReason);
    Header->dwFlags = (Header->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
    Header->dwBytesRecorded = 0;
    device->Queue.push_back(Header);
    StorePendingSilence(*device);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN Handle) {
    const std::shared_ptr<WaveInDevice> device = FindDevice(Handle);
    if (!device)
        return Fail(MMSYSERR_INVALHANDLE);
    {
        std::lock_guard<std::mutex> lock(device->Lock);
        if (device->Closing)
            return Fail(MMSYSERR_INVALHANDLE);
        if (device->Failed)
            return Fail(MMSYSERR_NODRIVER, device->FailureReason);
        if (device->Started)
            return MMSYSERR_NOERROR;
        if (const MMRESULT result = device->Backend->StartResult())
            return BackendFail(result, *device->Backend);
        device->Started = true;
        ++device->Starts;
    }
    device->Changed.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStop(HWAVEIN Handle) {
    const std::shared_ptr<WaveInDevice> device = FindDevice(Handle);
    if (!device)
        return Fail(MMSYSERR_INVALHANDLE);
    {
        std::lock_guard<std::mutex> lock(device->Lock);
        if (device->Closing)
            return Fail(MMSYSERR_INVALHANDLE);
        device->Started = false;
        if (!device->Queue.empty() && device->Queue.front()->dwBytesRecorded > 0) {
            WAVEHDR* header = device->Queue.front();
            device->Queue.pop_front();
            ReturnHeader(*device, header);
        }
    }
    device->Capture->Interrupt();
    return MMSYSERR_NOERROR;
}

MMRESULT waveInReset(HWAVEIN Handle) {
    const std::shared_ptr<WaveInDevice> device = FindDevice(Handle);
    if (!device)
        return Fail(MMSYSERR_INVALHANDLE);
    {
        std::lock_guard<std::mutex> lock(device->Lock);
        if (device->Closing)
            return Fail(MMSYSERR_INVALHANDLE);
        if (const MMRESULT result = device->Backend->ResetResult())
            return BackendFail(result, *device->Backend);
        device->Started = false;
        while (!device->Queue.empty()) {
            WAVEHDR* header = device->Queue.front();
            device->Queue.pop_front();
            ReturnHeader(*device, header);
        }
    }
    device->Capture->Interrupt();
    return MMSYSERR_NOERROR;
}

MMRESULT waveInGetGapBytes(HWAVEIN Handle, std::uint64_t* Bytes) {
    const std::shared_ptr<WaveInDevice> device = FindDevice(Handle);
    if (!device)
        return Fail(MMSYSERR_INVALHANDLE);
    if (Bytes == nullptr)
        return Fail(MMSYSERR_INVALPARAM);
    std::lock_guard<std::mutex> lock(device->Lock);
    *Bytes = device->Gaps;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInGetPosition(HWAVEIN Handle, MMTIME* Time, UINT TimeSize) {
    const std::shared_ptr<WaveInDevice> device = FindDevice(Handle);
    if (!device)
        return Fail(MMSYSERR_INVALHANDLE);
    if (Time == nullptr || TimeSize < sizeof(MMTIME))
        return Fail(MMSYSERR_INVALPARAM);
    std::uint64_t bytes;
    {
        std::lock_guard<std::mutex> lock(device->Lock);
        bytes = device->Position;
    }
    // Counts wrap at 32 bits, as the record's fields do.
    switch (Time->wType) {
    case TIME_MS:
        Time->u.ms = static_cast<DWORD>(bytes * 1000 / device->Format.nAvgBytesPerSec);
        break;
    case TIME_SAMPLES:
        Time->u.sample = static_cast<DWORD>(bytes / device->Format.nBlockAlign);
        break;
    default:
        Time->wType = TIME_BYTES;
        Time->u.cb = static_cast<DWORD>(bytes);
        break;
    }
    return MMSYSERR_NOERROR;
}

} // namespace win
