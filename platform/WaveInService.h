#pragma once
// The wave-in service: recording devices with queued buffers and notifications, under the names of
// the multimedia API. Behind it sits a backend chosen at run time: PulseAudio for the real sound
// server, or a fake device for tests (FakeWaveIn.h). A device whose capture breaks (the sound server
// went away) hands back the buffer it was filling and from then on refuses waveInAddBuffer and
// waveInStart with MMSYSERR_NODRIVER and the backend's reason; reset and close still work.

#include "platform/MMSystem.h"
#include "platform/Messages.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace win {

struct WaveInDevice;
using HWAVEIN = WaveInDevice*;

constexpr UINT WAVE_MAPPER = 0xFFFFFFFF;
// A device id for the program's own sound: the monitor of the sink where it plays (PlaybackSink.h),
// found when the device is opened. Unlike selecting it as the default source, it leaves the sound
// settings of every other program as they are.
constexpr UINT WAVE_PLAYBACK_MONITOR = 0xFFFFFFFE;

constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr DWORD CALLBACK_THREAD = 0x00020000;
constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;

// Notifications: wParam is the device handle, lParam the header for MM_WIM_DATA.
constexpr UINT MM_WOM_OPEN = 0x3BB;
constexpr UINT MM_WOM_CLOSE = 0x3BC;
constexpr UINT MM_WOM_DONE = 0x3BD;
constexpr UINT MM_WIM_OPEN = 0x3BE;
constexpr UINT MM_WIM_CLOSE = 0x3BF;
constexpr UINT MM_WIM_DATA = 0x3C0;

constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
constexpr MMRESULT WAVERR_SYNC = 35;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;

struct WAVEHDR {
    char* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    std::uintptr_t dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    std::uintptr_t reserved;
};

constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_INQUEUE = 0x10;

struct WAVEINCAPSW {
    WORD wMid;
    WORD wPid;
    DWORD vDriverVersion;
    char16_t szPname[32];
    DWORD dwFormats; // WAVE_FORMAT_1M08 ... bits
    WORD wChannels;
    WORD wReserved1;
};

// Standard-format bits of dwFormats.
constexpr DWORD WAVE_FORMAT_1M08 = 0x00000001;
constexpr DWORD WAVE_FORMAT_1S08 = 0x00000002;
constexpr DWORD WAVE_FORMAT_1M16 = 0x00000004;
constexpr DWORD WAVE_FORMAT_1S16 = 0x00000008;
constexpr DWORD WAVE_FORMAT_2M08 = 0x00000010;
constexpr DWORD WAVE_FORMAT_2S08 = 0x00000020;
constexpr DWORD WAVE_FORMAT_2M16 = 0x00000040;
constexpr DWORD WAVE_FORMAT_2S16 = 0x00000080;
constexpr DWORD WAVE_FORMAT_4M08 = 0x00000100;
constexpr DWORD WAVE_FORMAT_4S08 = 0x00000200;
constexpr DWORD WAVE_FORMAT_4M16 = 0x00000400;
constexpr DWORD WAVE_FORMAT_4S16 = 0x00000800;

constexpr UINT TIME_MS = 0x0001;
constexpr UINT TIME_SAMPLES = 0x0002;
constexpr UINT TIME_BYTES = 0x0004;
constexpr UINT TIME_SMPTE = 0x0008;

struct MMTIME {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
        DWORD ticks;
        struct {
            BYTE hour;
            BYTE min;
            BYTE sec;
            BYTE frame;
            BYTE fps;
            BYTE dummy;
            BYTE pad[2];
        } smpte;
    } u;
};

UINT waveInGetNumDevs();
MMRESULT waveInGetDevCapsW(UINT DeviceID, WAVEINCAPSW* Caps, UINT CapsSize);
// Text of a result code: the standard texts, and for failures of the sound server the reason it gave.
MMRESULT waveInGetErrorTextW(MMRESULT Error, char16_t* Text, UINT TextCapacity);
// Opens DeviceID (WAVE_MAPPER: the default source) for Format. CALLBACK_WINDOW: Callback is an HWND;
// CALLBACK_THREAD: a thread id (GetCurrentThreadId) whose queue exists. WAVE_FORMAT_QUERY only checks.
MMRESULT waveInOpen(HWAVEIN* Handle, UINT DeviceID, const WAVEFORMATEX* Format, std::uintptr_t Callback,
                    std::uintptr_t Instance, DWORD Flags);
MMRESULT waveInClose(HWAVEIN Handle);
MMRESULT waveInPrepareHeader(HWAVEIN Handle, WAVEHDR* Header, UINT HeaderSize);
MMRESULT waveInUnprepareHeader(HWAVEIN Handle, WAVEHDR* Header, UINT HeaderSize);
MMRESULT waveInAddBuffer(HWAVEIN Handle, WAVEHDR* Header, UINT HeaderSize);
MMRESULT waveInStart(HWAVEIN Handle);
MMRESULT waveInStop(HWAVEIN Handle);
MMRESULT waveInReset(HWAVEIN Handle);
MMRESULT waveInGetPosition(HWAVEIN Handle, MMTIME* Time, UINT TimeSize);
// Bytes of sound captured since open while no buffer was queued. The device puts silence of that
// length into the next buffers instead, so a recording keeps the length of the time it covers.
MMRESULT waveInGetGapBytes(HWAVEIN Handle, std::uint64_t* Bytes);
// The full name of the device WAVE_PLAYBACK_MONITOR opens now; empty when there is none.
QString WaveInPlaybackMonitorName();

// --- Backends ---

// WAVERR_BADFORMAT unless Format is one the service records: PCM, 1 or 2 channels, 8 or 16 bits, a
// rate of 1000 to 192000 Hz, and block align and byte rate that agree with these.
MMRESULT CheckWaveInFormat(const WAVEFORMATEX& Format);

// One open capture stream of a backend. Read is called on the service's capture thread.
class TWaveInCapture {
public:
    virtual ~TWaveInCapture() = default;
    // Blocks until some captured bytes are there (a few ms of audio) and returns how many were
    // copied (whole frames), 0 when it is stopped by Interrupt, or -1 when the stream failed.
    virtual int Read(void* Buffer, int Count) = 0;
    // Makes a blocked Read return 0 soon; called from another thread.
    virtual void Interrupt() = 0;
    // Drops audio captured while recording was stopped, so a start begins with fresh sound.
    virtual void Flush() = 0;
    // Why Read failed, in the backend's words; empty when it has none.
    virtual QString FailureReason() { return {}; }
};

struct TWaveInDeviceInfo {
    QString Name;
    bool IsDefault = false;         // the device WAVE_MAPPER opens; the first one when none is marked
    bool IsPlaybackMonitor = false; // the device WAVE_PLAYBACK_MONITOR opens; none when none is marked
};

// What a backend supplies. Result codes are MMSYSERR_/WAVERR_ values; a backend may attach a
// readable reason to its last failure (ErrorText).
class TWaveInBackend {
public:
    virtual ~TWaveInBackend() = default;
    virtual std::vector<TWaveInDeviceInfo> Devices() = 0;
    virtual MMRESULT Query(UINT DeviceID, const WAVEFORMATEX& Format) = 0;
    virtual MMRESULT Open(UINT DeviceID, const WAVEFORMATEX& Format,
                          std::unique_ptr<TWaveInCapture>& Capture) = 0;
    // Scripted failures of the fake backend; the real one accepts these.
    virtual MMRESULT StartResult() { return MMSYSERR_NOERROR; }
    virtual MMRESULT ResetResult() { return MMSYSERR_NOERROR; }
    virtual MMRESULT CloseResult() { return MMSYSERR_NOERROR; }
    // A reason for the last failure, or empty.
    virtual QString ErrorText() { return {}; }
};

// The backend in use. By default the PulseAudio backend; tests install a fake. Devices open at the
// time of a change keep their backend.
std::shared_ptr<TWaveInBackend> WaveInBackend();
void SetWaveInBackend(std::shared_ptr<TWaveInBackend> Backend);

} // namespace win
