#pragma once
// The mixer service: the recording side of the sound server under the names of the multimedia mixer
// API. Device 0 is the sound server; its one destination is the recording destination, whose source
// lines are the server's sources and whose list control picks the server's default source. Behind it
// sits a backend chosen at run time: PulseAudio (PulseMixer.h), or a scripted fake for tests
// (FakeMixer.h).

#include "platform/MMSystem.h"
#include "platform/Messages.h"
#include "platform/WaveInService.h" // CALLBACK_WINDOW, shared with the wave-in service

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace win {

struct HMIXER__;
using HMIXER = HMIXER__*;
// Only open mixer handles (MIXER_OBJECTF_HMIXER) are accepted where the API takes a mixer object.
using HMIXEROBJ = HMIXER;

constexpr UINT MAXPNAMELEN = 32;
constexpr UINT MIXER_SHORT_NAME_CHARS = 16;
constexpr UINT MIXER_LONG_NAME_CHARS = 64;

constexpr MMRESULT MIXERR_INVALLINE = 1024;
constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
constexpr MMRESULT MIXERR_INVALVALUE = 1026;

// Notifications to the window given at open: wParam is the mixer handle, lParam the line or control id.
constexpr UINT MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr UINT MM_MIXM_CONTROL_CHANGE = 0x3D1;

constexpr DWORD MIXER_OBJECTF_HANDLE = 0x80000000;
constexpr DWORD MIXER_OBJECTF_MIXER = 0x00000000;
constexpr DWORD MIXER_OBJECTF_HMIXER = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_MIXER;
constexpr DWORD MIXER_OBJECTF_TYPEMASK = 0xF0000000;

constexpr DWORD MIXER_GETLINEINFOF_DESTINATION = 0;
constexpr DWORD MIXER_GETLINEINFOF_SOURCE = 1;
constexpr DWORD MIXER_GETLINEINFOF_LINEID = 2;
constexpr DWORD MIXER_GETLINEINFOF_COMPONENTTYPE = 3;
constexpr DWORD MIXER_GETLINEINFOF_TARGETTYPE = 4;
constexpr DWORD MIXER_GETLINEINFOF_QUERYMASK = 0xF;

constexpr DWORD MIXER_GETLINECONTROLSF_ALL = 0;
constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYID = 1;
constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYTYPE = 2;
constexpr DWORD MIXER_GETLINECONTROLSF_QUERYMASK = 0xF;

constexpr DWORD MIXER_GETCONTROLDETAILSF_VALUE = 0;
constexpr DWORD MIXER_GETCONTROLDETAILSF_LISTTEXT = 1;
constexpr DWORD MIXER_GETCONTROLDETAILSF_QUERYMASK = 0xF;

constexpr DWORD MIXER_SETCONTROLDETAILSF_VALUE = 0;
constexpr DWORD MIXER_SETCONTROLDETAILSF_CUSTOM = 1;
constexpr DWORD MIXER_SETCONTROLDETAILSF_QUERYMASK = 0xF;

constexpr DWORD MIXERLINE_LINEF_ACTIVE = 0x00000001;
constexpr DWORD MIXERLINE_LINEF_DISCONNECTED = 0x00008000;
constexpr DWORD MIXERLINE_LINEF_SOURCE = 0x80000000;

constexpr DWORD MIXERLINE_TARGETTYPE_UNDEFINED = 0;
constexpr DWORD MIXERLINE_TARGETTYPE_WAVEOUT = 1;
constexpr DWORD MIXERLINE_TARGETTYPE_WAVEIN = 2;

constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_FIRST = 0x0000;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_UNDEFINED = 0x0000;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_DIGITAL = 0x0001;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_LINE = 0x0002;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_MONITOR = 0x0003;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 0x0004;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_HEADPHONES = 0x0005;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_TELEPHONE = 0x0006;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 0x0007;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_VOICEIN = 0x0008;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_LAST = 0x0008;

constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_FIRST = 0x1000;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED = 0x1000;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_DIGITAL = 0x1001;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER = 0x1004;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x1005;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE = 0x1006;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER = 0x1007;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY = 0x1009;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x100A;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_LAST = 0x100A;

constexpr DWORD MIXERCONTROL_CONTROLF_UNIFORM = 0x00000001;
constexpr DWORD MIXERCONTROL_CONTROLF_MULTIPLE = 0x00000002;
constexpr DWORD MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;

constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MIXER = 0x71010001;

struct MIXERCAPSW {
    WORD wMid;
    WORD wPid;
    DWORD vDriverVersion;
    char16_t szPname[MAXPNAMELEN];
    DWORD fdwSupport;
    DWORD cDestinations;
};

struct MIXERLINEW {
    DWORD cbStruct;
    DWORD dwDestination;
    DWORD dwSource;
    DWORD dwLineID;
    DWORD fdwLine;
    std::uintptr_t dwUser;
    DWORD dwComponentType;
    DWORD cChannels;
    DWORD cConnections;
    DWORD cControls;
    char16_t szShortName[MIXER_SHORT_NAME_CHARS];
    char16_t szName[MIXER_LONG_NAME_CHARS];
    struct {
        DWORD dwType;
        DWORD dwDeviceID;
        WORD wMid;
        WORD wPid;
        DWORD vDriverVersion;
        char16_t szPname[MAXPNAMELEN];
    } Target;
};

struct MIXERCONTROLW {
    DWORD cbStruct;
    DWORD dwControlID;
    DWORD dwControlType;
    DWORD fdwControl;
    DWORD cMultipleItems;
    char16_t szShortName[MIXER_SHORT_NAME_CHARS];
    char16_t szName[MIXER_LONG_NAME_CHARS];
    struct {
        union {
            LONG lMinimum;
            DWORD dwMinimum;
        };
        union {
            LONG lMaximum;
            DWORD dwMaximum;
        };
        DWORD dwReserved[4];
    } Bounds;
    struct {
        union {
            DWORD cSteps;
            DWORD cbCustomData;
        };
        DWORD dwReserved[5];
    } Metrics;
};

struct MIXERLINECONTROLSW {
    DWORD cbStruct;
    DWORD dwLineID;
    union {
        DWORD dwControlID;
        DWORD dwControlType;
    };
    DWORD cControls;
    DWORD cbmxctrl;
    MIXERCONTROLW* pamxctrl;
};

struct MIXERCONTROLDETAILS {
    DWORD cbStruct;
    DWORD dwControlID;
    DWORD cChannels;
    union {
        HWND hwndOwner;
        DWORD cMultipleItems;
    };
    DWORD cbDetails;
    void* paDetails; // cChannels × max(1, cMultipleItems) records of cbDetails bytes
};

struct MIXERCONTROLDETAILS_LISTTEXTW {
    DWORD dwParam1; // the item's line id
    DWORD dwParam2; // the item's component type
    char16_t szName[MIXER_LONG_NAME_CHARS];
};

struct MIXERCONTROLDETAILS_BOOLEAN {
    LONG fValue;
};

struct MIXERCONTROLDETAILS_SIGNED {
    LONG lValue;
};

struct MIXERCONTROLDETAILS_UNSIGNED {
    DWORD dwValue;
};

UINT mixerGetNumDevs();
MMRESULT mixerGetDevCapsW(UINT DeviceID, MIXERCAPSW* Caps, UINT CapsSize);
// Flags: CALLBACK_NULL, or CALLBACK_WINDOW with Callback a window of the calling thread, which then
// receives the MM_MIXM_ notifications.
MMRESULT mixerOpen(HMIXER* Handle, UINT DeviceID, std::uintptr_t Callback, std::uintptr_t Instance,
                   DWORD Flags);
MMRESULT mixerClose(HMIXER Handle);
MMRESULT mixerGetLineInfoW(HMIXEROBJ Object, MIXERLINEW* Line, DWORD Flags);
MMRESULT mixerGetLineControlsW(HMIXEROBJ Object, MIXERLINECONTROLSW* Controls, DWORD Flags);
MMRESULT mixerGetControlDetailsW(HMIXEROBJ Object, MIXERCONTROLDETAILS* Details, DWORD Flags);
MMRESULT mixerSetControlDetails(HMIXEROBJ Object, MIXERCONTROLDETAILS* Details, DWORD Flags);

// --- Backends ---

// The state of one device as a backend sees it; the service answers every call from such a state.
// Names are full length here, the service cuts them to the record sizes.
struct TMixerItemModel {
    QString Name;
    DWORD Param1 = 0;
    DWORD Param2 = 0;
    QString Key; // the backend's name for what the item stands for
};

struct TMixerControlModel {
    DWORD Id = 0;
    DWORD Type = 0;
    DWORD Flags = MIXERCONTROL_CONTROLF_UNIFORM;
    QString Name;
    QString ShortName;
    LONG Minimum = 0;
    LONG Maximum = 1;
    DWORD Steps = 0;
    std::vector<TMixerItemModel> Items; // list controls (MIXERCONTROL_CONTROLF_MULTIPLE)
    std::vector<LONG> Values;           // one per item for list controls, else one for all channels
};

struct TMixerLineModel {
    DWORD Id = 0;
    DWORD ComponentType = 0;
    DWORD Flags = MIXERLINE_LINEF_ACTIVE;
    DWORD Channels = 2;
    QString Name;
    QString ShortName;
    QString Key;
    std::vector<TMixerControlModel> Controls;
};

struct TMixerDestinationModel {
    TMixerLineModel Line;
    std::vector<TMixerLineModel> Sources;
};

struct TMixerModel {
    QString Name;
    WORD Mid = 0;
    WORD Pid = 0;
    DWORD DriverVersion = 0;
    std::vector<TMixerDestinationModel> Destinations;
};

// Ends a watch when destroyed; no change call runs after its destructor has returned.
class TMixerWatch {
public:
    virtual ~TMixerWatch() = default;
};

class TMixerBackend {
public:
    virtual ~TMixerBackend() = default;
    virtual UINT DeviceCount() = 0;
    // The device's current state; MMSYSERR_BADDEVICEID when there is no such device (any more).
    virtual MMRESULT ReadModel(UINT DeviceID, TMixerModel& Model) = 0;
    // Applies checked values (one per item of a list control, else one) to a control of Line.
    virtual MMRESULT SetControl(UINT DeviceID, const TMixerLineModel& Line, const TMixerControlModel& Control,
                                const std::vector<LONG>& Values) = 0;
    // Calls Changed, from any thread, whenever the device's state may have changed; null when the
    // backend cannot watch the device.
    virtual std::unique_ptr<TMixerWatch> Watch(UINT DeviceID, std::function<void()> Changed) = 0;
};

// The backend in use: by default PulseAudio (connecting per call, so the PULSE_SERVER of the moment
// counts); tests install a fake. Null brings the default back. Open handles keep their backend.
std::shared_ptr<TMixerBackend> MixerBackend();
void SetMixerBackend(std::shared_ptr<TMixerBackend> Backend);

} // namespace win
