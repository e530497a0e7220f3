#include "platform/MixerService.h"

#include <QStringList>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <optional>
#include <thread>
#include <utility>

namespace {

constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
constexpr DWORD MIXERCONTROL_CT_UNITS_MASK = 0x00FF0000;
constexpr DWORD MIXERCONTROL_CT_UNITS_BOOLEAN = 0x00010000;
constexpr DWORD MIXERCONTROL_CT_UNITS_UNSIGNED = 0x00030000;

// Cuts Text to the record's capacity, keeping room for the terminating NUL and never splitting a
// surrogate pair.
void CopyName(char16_t* Target, std::size_t Capacity, const QString& Text) {
    std::size_t count = std::min<std::size_t>(std::size_t(Text.size()), Capacity - 1);
    if (count > 0 && count < std::size_t(Text.size()) && QChar::isHighSurrogate(Text.at(count - 1).unicode()))
        --count;
    std::fill(Target, Target + Capacity, u'\0');
    std::copy_n(reinterpret_cast<const char16_t*>(Text.utf16()), count, Target);
}

// --- Reading a model ---

struct TLineRef {
    DWORD Destination = 0;
    DWORD Source = 0;
    bool IsSource = false;
    const TMixerLineModel* Line = nullptr;
    DWORD Connections = 0;
};

struct TControlRef {
    TLineRef Line;
    const TMixerControlModel* Control = nullptr;
};

// Calls Visit for every line, destinations before their sources, until it returns true.
template <typename Visitor> std::optional<TLineRef> FindLine(const TMixerModel& Model, Visitor Visit) {
    for (std::size_t d = 0; d < Model.Destinations.size(); ++d) {
        const TMixerDestinationModel& destination = Model.Destinations[d];
        TLineRef ref{DWORD(d), 0, false, &destination.Line, DWORD(destination.Sources.size())};
        if (Visit(ref))
            return ref;
        for (std::size_t s = 0; s < destination.Sources.size(); ++s) {
            TLineRef source{DWORD(d), DWORD(s), true, &destination.Sources[s], 0};
            if (Visit(source))
                return source;
        }
    }
    return std::nullopt;
}

std::optional<TLineRef> LineById(const TMixerModel& Model, DWORD Id) {
    return FindLine(Model, [Id](const TLineRef& ref) { return ref.Line->Id == Id; });
}

std::optional<TControlRef> ControlById(const TMixerModel& Model, DWORD Id) {
    std::optional<TControlRef> found;
    FindLine(Model, [&](const TLineRef& ref) {
        for (const TMixerControlModel& control : ref.Line->Controls)
            if (control.Id == Id) {
                found = TControlRef{ref, &control};
                return true;
            }
        return false;
    });
    return found;
}

void FillLine(const TMixerModel& Model, const TLineRef& Ref, MIXERLINEW& Line) {
    const DWORD size = Line.cbStruct;
    Line = MIXERLINEW{};
    Line.cbStruct = size;
    Line.dwDestination = Ref.Destination;
    Line.dwSource = Ref.Source;
    Line.dwLineID = Ref.Line->Id;
    Line.fdwLine = Ref.Line->Flags | (Ref.IsSource ? MIXERLINE_LINEF_SOURCE : 0);
    Line.dwComponentType = Ref.Line->ComponentType;
    Line.cChannels = Ref.Line->Channels;
    Line.cConnections = Ref.Connections;
    Line.cControls = DWORD(Ref.Line->Controls.size());
    CopyName(Line.szShortName, MIXER_SHORT_NAME_CHARS, Ref.Line->ShortName);
    CopyName(Line.szName, MIXER_LONG_NAME_CHARS, Ref.Line->Name);
    Line.Target.dwType = MIXERLINE_TARGETTYPE_UNDEFINED;
    Line.Target.wMid = Model.Mid;
    Line.Target.wPid = Model.Pid;
    Line.Target.vDriverVersion = Model.DriverVersion;
    CopyName(Line.Target.szPname, MAXPNAMELEN, Model.Name);
}

void FillControl(const TMixerControlModel& Model, MIXERCONTROLW& Control) {
    Control = MIXERCONTROLW{};
    Control.cbStruct = sizeof(MIXERCONTROLW);
    Control.dwControlID = Model.Id;
    Control.dwControlType = Model.Type;
    Control.fdwControl = Model.Flags;
    Control.cMultipleItems = (Model.Flags & MIXERCONTROL_CONTROLF_MULTIPLE) ? DWORD(Model.Items.size()) : 0;
    CopyName(Control.szShortName, MIXER_SHORT_NAME_CHARS, Model.ShortName);
    CopyName(Control.szName, MIXER_LONG_NAME_CHARS, Model.Name);
    Control.Bounds.lMinimum = Model.Minimum;
    Control.Bounds.lMaximum = Model.Maximum;
    Control.Metrics.cSteps = Model.Steps;
}

// --- Change notices ---

bool SameLine(const TMixerLineModel& A, const TMixerLineModel& B) {
    return A.Id == B.Id && A.ComponentType == B.ComponentType && A.Flags == B.Flags &&
           A.Channels == B.Channels && A.Name == B.Name && A.ShortName == B.ShortName &&
           A.Controls.size() == B.Controls.size();
}

bool SameControl(const TMixerControlModel& A, const TMixerControlModel& B) {
    if (A.Type != B.Type || A.Flags != B.Flags || A.Name != B.Name || A.ShortName != B.ShortName ||
        A.Minimum != B.Minimum || A.Maximum != B.Maximum || A.Steps != B.Steps || A.Values != B.Values ||
        A.Items.size() != B.Items.size())
        return false;
    for (std::size_t i = 0; i < A.Items.size(); ++i)
        if (A.Items[i].Name != B.Items[i].Name || A.Items[i].Param1 != B.Items[i].Param1 ||
            A.Items[i].Param2 != B.Items[i].Param2)
            return false;
    return true;
}

std::vector<DWORD> SourceIds(const TMixerDestinationModel& Destination) {
    std::vector<DWORD> ids;
    for (const TMixerLineModel& source : Destination.Sources)
        ids.push_back(source.Id);
    return ids;
}

// The notices that tell a window everything that differs between two states of a device: a line
// whose record changed (a destination also when its sources came, went or moved), and a control
// whose record or values changed. Each notice once, in line order.
std::vector<std::pair<UINT, DWORD>> MixerChanges(const TMixerModel& Before, const TMixerModel& After) {
    std::vector<std::pair<UINT, DWORD>> notices;
    auto add = [&](UINT Message, DWORD Id) {
        const std::pair<UINT, DWORD> notice{Message, Id};
        if (std::find(notices.begin(), notices.end(), notice) == notices.end())
            notices.push_back(notice);
    };
    std::map<DWORD, const TMixerLineModel*> oldLines;
    FindLine(Before, [&](const TLineRef& ref) {
        oldLines.emplace(ref.Line->Id, ref.Line);
        return false;
    });
    for (std::size_t d = 0; d < After.Destinations.size(); ++d) {
        const TMixerDestinationModel& now = After.Destinations[d];
        const TMixerDestinationModel* old =
            d < Before.Destinations.size() ? &Before.Destinations[d] : nullptr;
        if (!old || !SameLine(old->Line, now.Line) || SourceIds(*old) != SourceIds(now))
            add(MM_MIXM_LINE_CHANGE, now.Line.Id);
        for (const TMixerLineModel& source : now.Sources) {
            auto found = oldLines.find(source.Id);
            if (found == oldLines.end() || !SameLine(*found->second, source))
                add(MM_MIXM_LINE_CHANGE, source.Id);
        }
    }
    FindLine(After, [&](const TLineRef& ref) {
        auto found = oldLines.find(ref.Line->Id);
        for (const TMixerControlModel& control : ref.Line->Controls) {
            const TMixerControlModel* old = nullptr;
            if (found != oldLines.end())
                for (const TMixerControlModel& candidate : found->second->Controls)
                    if (candidate.Id == control.Id)
                        old = &candidate;
            if (!old || !SameControl(*old, control))
                add(MM_MIXM_CONTROL_CHANGE, control.Id);
        }
        return false;
    });
    return notices;
}

// --- Open devices ---

std::mutex GBackendLock;
std::shared_ptr<TMixerBackend> GBackend;
std::shared_ptr<TMixerBackend> NewPulseMixerBackend();

// One open mixer. With a callback window, a worker compares the device's state after each change
// report with the last one and posts the differences, so the backend only has to say "changed".
struct TMixerDevice {
    std::shared_ptr<TMixerBackend> Backend;
    UINT DeviceID = 0;
    HMIXER Handle = nullptr;
    HWND Window = 0;
    std::unique_ptr<TMixerWatch> Watch;
    std::mutex Lock;
    std::condition_variable Wake;
    bool Pending = false;
    bool Stopping = false;
    TMixerModel Last;
    std::thread Worker;

    ~TMixerDevice() { Stop(); }

    void Changed() {
        {
            std::lock_guard lock(Lock);
            Pending = true;
        }
        Wake.notify_one();
    }

    void Run() {
        for (;;) {
            {
                std::unique_lock lock(Lock);
                Wake.wait(lock, [this] { return Pending || Stopping; });
                if (Stopping)
                    return;
                Pending = false;
            }
            TMixerModel now;
            if (Backend->ReadModel(DeviceID, now) != MMSYSERR_NOERROR)
                continue;
            for (const auto& [message, id] : MixerChanges(Last, now))
                PostMessageW(Window, message, WPARAM(Handle), LPARAM(id));
            Last = std::move(now);
        }
    }

    void Stop() {
        Watch.reset();
        {
            std::lock_guard lock(Lock);
            Stopping = true;
        }
        Wake.notify_all();
        if (Worker.joinable())
            Worker.join();
    }
};

std::mutex GHandlesLock;
std::map<HMIXER, std::shared_ptr<TMixerDevice>> GHandles;
// Handle values are never reused, so notices still queued for a closed handle never match a new one.
std::uintptr_t GLastHandle = 0;

std::shared_ptr<TMixerDevice> FindDevice(HMIXEROBJ Object) {
    std::lock_guard lock(GHandlesLock);
    auto found = GHandles.find(Object);
    return found == GHandles.end() ? nullptr : found->second;
}

// Checks the object and query bits of Flags and reads the device's current state.
MMRESULT ReadOpenModel(HMIXEROBJ Object, DWORD Flags, DWORD LastQuery, std::shared_ptr<TMixerDevice>& Device,
                       TMixerModel& Model) {
    if ((Flags & ~(MIXER_OBJECTF_TYPEMASK | 0xFu)) != 0 || (Flags & 0xFu) > LastQuery)
        return MMSYSERR_INVALFLAG;
    if ((Flags & MIXER_OBJECTF_TYPEMASK) != MIXER_OBJECTF_HMIXER)
        return MMSYSERR_NOTSUPPORTED;
    Device = FindDevice(Object);
    if (!Device)
        return MMSYSERR_INVALHANDLE;
    return Device->Backend->ReadModel(Device->DeviceID, Model) == MMSYSERR_NOERROR ? MMSYSERR_NOERROR
                                                                                   : MMSYSERR_NODRIVER;
}

// Checks a details record against its control; Items is the number of records per channel.
MMRESULT CheckDetails(const MIXERCONTROLDETAILS& Details, const TControlRef& Ref, DWORD RecordSize,
                      DWORD& Items) {
    const bool multiple = Ref.Control->Flags & MIXERCONTROL_CONTROLF_MULTIPLE;
    Items = multiple ? DWORD(Ref.Control->Items.size()) : 1;
    if (Details.cChannels == 0 || Details.cChannels > std::max<DWORD>(1, Ref.Line.Line->Channels))
        return MMSYSERR_INVALPARAM;
    if (Details.cMultipleItems != (multiple ? Items : 0))
        return MMSYSERR_INVALPARAM;
    if (Details.cbDetails < RecordSize || !Details.paDetails)
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

char* DetailsRecord(const MIXERCONTROLDETAILS& Details, DWORD Items, DWORD Channel, DWORD Item) {
    return static_cast<char*>(Details.paDetails) + std::size_t(Channel * Items + Item) * Details.cbDetails;
}

} // namespace

std::shared_ptr<TMixerBackend> MixerBackend() {
    std::lock_guard lock(GBackendLock);
    if (!GBackend)
        GBackend = NewPulseMixerBackend();
    return GBackend;
}

void SetMixerBackend(std::shared_ptr<TMixerBackend> Backend) {
    std::lock_guard lock(GBackendLock);
    GBackend = std::move(Backend);
}

UINT mixerGetNumDevs() {
    return MixerBackend()->DeviceCount();
}

MMRESULT mixerGetDevCapsW(UINT DeviceID, MIXERCAPSW* Caps, UINT CapsSize) {
    if (!Caps)
        return MMSYSERR_INVALPARAM;
    TMixerModel model;
    if (MixerBackend()->ReadModel(DeviceID, model) != MMSYSERR_NOERROR)
        return MMSYSERR_BADDEVICEID;
    MIXERCAPSW caps{};
    caps.wMid = model.Mid;
    caps.wPid = model.Pid;
    caps.vDriverVersion = model.DriverVersion;
    CopyName(caps.szPname, MAXPNAMELEN, model.Name);
    caps.cDestinations = DWORD(model.Destinations.size());
    std::memcpy(Caps, &caps, std::min<std::size_t>(CapsSize, sizeof(caps)));
    return MMSYSERR_NOERROR;
}

MMRESULT mixerOpen(HMIXER* Handle, UINT DeviceID, std::uintptr_t Callback, std::uintptr_t, DWORD Flags) {
    if (!Handle)
        return MMSYSERR_INVALPARAM;
    *Handle = nullptr;
    const DWORD callbackType = Flags & CALLBACK_TYPEMASK;
    if ((Flags & ~(CALLBACK_TYPEMASK | MIXER_OBJECTF_TYPEMASK)) != 0 ||
        (callbackType != CALLBACK_NULL && callbackType != CALLBACK_WINDOW))
        return MMSYSERR_INVALFLAG;
    if ((Flags & MIXER_OBJECTF_TYPEMASK) != MIXER_OBJECTF_MIXER)
        return MMSYSERR_NOTSUPPORTED;
    if (callbackType == CALLBACK_WINDOW && !IsWindow(HWND(Callback)))
        return MMSYSERR_INVALPARAM;

    auto device = std::make_shared<TMixerDevice>();
    device->Backend = MixerBackend();
    device->DeviceID = DeviceID;
    // The watch starts before the first reading, so no change between the two goes unnoticed.
    if (callbackType == CALLBACK_WINDOW) {
        device->Window = HWND(Callback);
        TMixerDevice* raw = device.get();
        device->Watch = device->Backend->Watch(DeviceID, [raw] { raw->Changed(); });
    }
    const MMRESULT result = device->Backend->ReadModel(DeviceID, device->Last);
    if (result != MMSYSERR_NOERROR)
        return result;
    {
        std::lock_guard lock(GHandlesLock);
        device->Handle = reinterpret_cast<HMIXER>(++GLastHandle);
        GHandles.emplace(device->Handle, device);
    }
    if (device->Watch)
        device->Worker = std::thread([raw = device.get()] { raw->Run(); });
    *Handle = device->Handle;
    return MMSYSERR_NOERROR;
}

MMRESULT mixerClose(HMIXER Handle) {
    std::shared_ptr<TMixerDevice> device;
    {
        std::lock_guard lock(GHandlesLock);
        auto found = GHandles.find(Handle);
        if (found == GHandles.end())
            return MMSYSERR_INVALHANDLE;
        device = std::move(found->second);
        GHandles.erase(found);
    }
    device->Stop();
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetLineInfoW(HMIXEROBJ Object, MIXERLINEW* Line, DWORD Flags) {
    std::shared_ptr<TMixerDevice> device;
    TMixerModel model;
    if (MMRESULT result = ReadOpenModel(Object, Flags, MIXER_GETLINEINFOF_TARGETTYPE, device, model))
        return result;
    if (!Line || Line->cbStruct < sizeof(MIXERLINEW))
        return MMSYSERR_INVALPARAM;
    std::optional<TLineRef> ref;
    switch (Flags & MIXER_GETLINEINFOF_QUERYMASK) {
    case MIXER_GETLINEINFOF_DESTINATION:
    case MIXER_GETLINEINFOF_SOURCE: {
        const bool source = (Flags & MIXER_GETLINEINFOF_QUERYMASK) == MIXER_GETLINEINFOF_SOURCE;
        const DWORD destination = Line->dwDestination;
        const DWORD index = Line->dwSource;
        ref = FindLine(model, [&](const TLineRef& r) {
            return r.Destination == destination && r.IsSource == source && (!source || r.Source == index);
        });
        break;
    }
    case MIXER_GETLINEINFOF_LINEID:
        ref = LineById(model, Line->dwLineID);
        break;
    case MIXER_GETLINEINFOF_COMPONENTTYPE: {
        const DWORD type = Line->dwComponentType;
        ref = FindLine(model, [type](const TLineRef& r) { return r.Line->ComponentType == type; });
        break;
    }
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
    if (!ref)
        return MIXERR_INVALLINE;
    FillLine(model, *ref, *Line);
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetLineControlsW(HMIXEROBJ Object, MIXERLINECONTROLSW* Controls, DWORD Flags) {
    std::shared_ptr<TMixerDevice> device;
    TMixerModel model;
    if (MMRESULT result = ReadOpenModel(Object, Flags, MIXER_GETLINECONTROLSF_ONEBYTYPE, device, model))
        return result;
    if (!Controls || Controls->cbStruct < sizeof(MIXERLINECONTROLSW) || Controls->cControls == 0 ||
        Controls->cbmxctrl < sizeof(MIXERCONTROLW) || !Controls->pamxctrl)
        return MMSYSERR_INVALPARAM;
    auto record = [Controls](DWORD Index) {
        return reinterpret_cast<MIXERCONTROLW*>(reinterpret_cast<char*>(Controls->pamxctrl) +
                                                std::size_t(Index) * Controls->cbmxctrl);
    };
    const DWORD query = Flags & MIXER_GETLINECONTROLSF_QUERYMASK;
    if (query == MIXER_GETLINECONTROLSF_ONEBYID) {
        std::optional<TControlRef> ref = ControlById(model, Controls->dwControlID);
        if (!ref)
            return MIXERR_INVALCONTROL;
        Controls->dwLineID = ref->Line.Line->Id;
        FillControl(*ref->Control, *record(0));
        return MMSYSERR_NOERROR;
    }
    std::optional<TLineRef> line = LineById(model, Controls->dwLineID);
    if (!line)
        return MIXERR_INVALLINE;
    if (query == MIXER_GETLINECONTROLSF_ALL) {
        if (Controls->cControls != line->Line->Controls.size())
            return MMSYSERR_INVALPARAM;
        for (std::size_t i = 0; i < line->Line->Controls.size(); ++i)
            FillControl(line->Line->Controls[i], *record(DWORD(i)));
        return MMSYSERR_NOERROR;
    }
    for (const TMixerControlModel& control : line->Line->Controls)
        if (control.Type == Controls->dwControlType) {
            FillControl(control, *record(0));
            return MMSYSERR_NOERROR;
        }
    return MIXERR_INVALCONTROL;
}

MMRESULT mixerGetControlDetailsW(HMIXEROBJ Object, MIXERCONTROLDETAILS* Details, DWORD Flags) {
    std::shared_ptr<TMixerDevice> device;
    TMixerModel model;
    if (MMRESULT result = ReadOpenModel(Object, Flags, MIXER_GETCONTROLDETAILSF_LISTTEXT, device, model))
        return result;
    if (!Details || Details->cbStruct < sizeof(MIXERCONTROLDETAILS))
        return MMSYSERR_INVALPARAM;
    std::optional<TControlRef> ref = ControlById(model, Details->dwControlID);
    if (!ref)
        return MIXERR_INVALCONTROL;
    const TMixerControlModel& control = *ref->Control;
    const bool listText = (Flags & MIXER_GETCONTROLDETAILSF_QUERYMASK) == MIXER_GETCONTROLDETAILSF_LISTTEXT;
    if (listText && !(control.Flags & MIXERCONTROL_CONTROLF_MULTIPLE))
        return MMSYSERR_INVALPARAM;
    DWORD items = 0;
    const DWORD recordSize = listText ? sizeof(MIXERCONTROLDETAILS_LISTTEXTW) : sizeof(LONG);
    if (MMRESULT result = CheckDetails(*Details, *ref, recordSize, items))
        return result;
    for (DWORD channel = 0; channel < Details->cChannels; ++channel)
        for (DWORD item = 0; item < items; ++item) {
            char* target = DetailsRecord(*Details, items, channel, item);
            if (listText) {
                MIXERCONTROLDETAILS_LISTTEXTW text{};
                text.dwParam1 = control.Items[item].Param1;
                text.dwParam2 = control.Items[item].Param2;
                CopyName(text.szName, MIXER_LONG_NAME_CHARS, control.Items[item].Name);
                std::memcpy(target, &text, sizeof(text));
            } else {
                const LONG value = item < control.Values.size() ? control.Values[item] : 0;
                std::memcpy(target, &value, sizeof(value));
            }
        }
    return MMSYSERR_NOERROR;
}

MMRESULT mixerSetControlDetails(HMIXEROBJ Object, MIXERCONTROLDETAILS* Details, DWORD Flags) {
    std::shared_ptr<TMixerDevice> device;
    TMixerModel model;
    if (MMRESULT result = ReadOpenModel(Object, Flags, MIXER_SETCONTROLDETAILSF_CUSTOM, device, model))
        return result;
    if ((Flags & MIXER_SETCONTROLDETAILSF_QUERYMASK) != MIXER_SETCONTROLDETAILSF_VALUE)
        return MMSYSERR_NOTSUPPORTED;
    if (!Details || Details->cbStruct < sizeof(MIXERCONTROLDETAILS))
        return MMSYSERR_INVALPARAM;
    std::optional<TControlRef> ref = ControlById(model, Details->dwControlID);
    if (!ref)
        return MIXERR_INVALCONTROL;
    const TMixerControlModel& control = *ref->Control;
    DWORD items = 0;
    if (MMRESULT result = CheckDetails(*Details, *ref, sizeof(LONG), items))
        return result;
    // Every control here is uniform: the first channel's values count.
    std::vector<LONG> values(items);
    for (DWORD item = 0; item < items; ++item)
        std::memcpy(&values[item], DetailsRecord(*Details, items, 0, item), sizeof(LONG));
    const DWORD units = control.Type & MIXERCONTROL_CT_UNITS_MASK;
    if ((control.Flags & MIXERCONTROL_CONTROLF_MULTIPLE) || units == MIXERCONTROL_CT_UNITS_BOOLEAN) {
        for (LONG& value : values)
            value = value != 0;
        if (control.Type == MIXERCONTROL_CONTROLTYPE_MUX && std::count(values.begin(), values.end(), 1) != 1)
            return MIXERR_INVALVALUE;
    } else if (units == MIXERCONTROL_CT_UNITS_UNSIGNED) {
        if (DWORD(values[0]) < DWORD(control.Minimum) || DWORD(values[0]) > DWORD(control.Maximum))
            return MIXERR_INVALVALUE;
    } else if (values[0] < control.Minimum || values[0] > control.Maximum) {
        return MIXERR_INVALVALUE;
    }
    return device->Backend->SetControl(device->DeviceID, *ref->Line.Line, control, values);
}

// --- The scripted backend ---

class TFakeMixerBackend::TFakeWatch : public TMixerWatch {
public:
    TFakeWatch(TFakeMixerBackend& Owner, UINT DeviceID, std::function<void()> Changed)
        : FOwner(Owner), FDeviceID(DeviceID), FChanged(std::move(Changed)) {
        std::lock_guard lock(FOwner.FWatchLock);
        FOwner.FWatches.push_back(this);
    }
    ~TFakeWatch() override {
        std::lock_guard lock(FOwner.FWatchLock);
        std::erase(FOwner.FWatches, this);
    }

    TFakeMixerBackend& FOwner;
    UINT FDeviceID;
    std::function<void()> FChanged;
};

TFakeMixerBackend::TFakeMixerBackend(std::vector<TMixerModel> Devices) : FDevices(std::move(Devices)) {}

TMixerDestinationModel TFakeMixerBackend::RecordingDestination(const std::vector<TFakeMixerLine>& Lines,
                                                               int Selected, bool Mux, bool Mix,
                                                               DWORD Number) {
    TMixerDestinationModel destination;
    destination.Line.Id = 0xFFFF0000 + Number;
    destination.Line.ComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    destination.Line.Name = destination.Line.ShortName = QStringLiteral("Recording");
    TMixerControlModel list;
    list.Flags = MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE;
    list.Maximum = LONG(Lines.size()) - 1;
    list.Steps = DWORD(Lines.size());
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        TMixerLineModel source;
        source.Id = (Number << 16) + 0x1000 + DWORD(i);
        source.ComponentType = Lines[i].ComponentType;
        source.Name = source.ShortName = Lines[i].Name;
        destination.Sources.push_back(source);
        list.Items.push_back({source.Name, source.Id, source.ComponentType, source.Name});
        list.Values.push_back(int(i) == Selected ? 1 : 0);
    }
    if (Mux) {
        TMixerControlModel mux = list;
        mux.Id = (Number << 16) + 1;
        mux.Type = MIXERCONTROL_CONTROLTYPE_MUX;
        mux.Name = QStringLiteral("Recording Source");
        mux.ShortName = QStringLiteral("Source");
        destination.Line.Controls.push_back(mux);
    }
    if (Mix) {
        TMixerControlModel mix = list;
        mix.Id = (Number << 16) + 2;
        mix.Type = MIXERCONTROL_CONTROLTYPE_MIXER;
        mix.Name = QStringLiteral("Recording Mixer");
        mix.ShortName = QStringLiteral("Mixer");
        destination.Line.Controls.push_back(mix);
    }
    return destination;
}

TMixerModel TFakeMixerBackend::Device(const QString& Name, std::vector<TMixerDestinationModel> Destinations) {
    TMixerModel model;
    model.Name = Name;
    model.DriverVersion = 0x0100;
    model.Destinations = std::move(Destinations);
    return model;
}

void TFakeMixerBackend::Change(UINT DeviceID, const std::function<void(TMixerModel&)>& Edit) {
    {
        std::lock_guard lock(FLock);
        Edit(FDevices.at(DeviceID));
    }
    Notify(DeviceID);
}

TMixerModel TFakeMixerBackend::Model(UINT DeviceID) const {
    std::lock_guard lock(FLock);
    return FDevices.at(DeviceID);
}

std::vector<TFakeMixerSet> TFakeMixerBackend::Sets() const {
    std::lock_guard lock(FLock);
    return FSets;
}

void TFakeMixerBackend::SetSetResult(MMRESULT Result) {
    std::lock_guard lock(FLock);
    FSetResult = Result;
}

UINT TFakeMixerBackend::DeviceCount() {
    std::lock_guard lock(FLock);
    return UINT(FDevices.size());
}

MMRESULT TFakeMixerBackend::ReadModel(UINT DeviceID, TMixerModel& Model) {
    std::lock_guard lock(FLock);
    if (DeviceID >= FDevices.size())
        return MMSYSERR_BADDEVICEID;
    Model = FDevices[DeviceID];
    return MMSYSERR_NOERROR;
}

MMRESULT TFakeMixerBackend::SetControl(UINT DeviceID, const TMixerLineModel& Line,
                                       const TMixerControlModel& Control, const std::vector<LONG>& Values) {
    {
        std::lock_guard lock(FLock);
        FSets.push_back({DeviceID, Control.Id, Values});
        if (FSetResult != MMSYSERR_NOERROR)
            return FSetResult;
        if (DeviceID >= FDevices.size())
            return MMSYSERR_NODRIVER;
        for (TMixerDestinationModel& destination : FDevices[DeviceID].Destinations) {
            std::vector<TMixerLineModel*> lines{&destination.Line};
            for (TMixerLineModel& source : destination.Sources)
                lines.push_back(&source);
            for (TMixerLineModel* line : lines)
                if (line->Id == Line.Id)
                    for (TMixerControlModel& control : line->Controls)
                        if (control.Id == Control.Id)
                            control.Values = Values;
        }
    }
    Notify(DeviceID);
    return MMSYSERR_NOERROR;
}

std::unique_ptr<TMixerWatch> TFakeMixerBackend::Watch(UINT DeviceID, std::function<void()> Changed) {
    return std::make_unique<TFakeWatch>(*this, DeviceID, std::move(Changed));
}

void TFakeMixerBackend::Notify(UINT DeviceID) {
    std::lock_guard lock(FWatchLock);
    for (TFakeWatch* watch : FWatches)
        if (watch->FDeviceID == DeviceID)
            watch->FChanged();
}

// --- PulseAudio ---

namespace {

constexpr auto PulseCallTimeout = std::chrono::seconds(3);
constexpr DWORD PulseDestinationId = 0xFFFF0000;
constexpr DWORD PulseSelectId = 1;
constexpr LONG PulseVolumeMaximum = 0xFFFF;

// One short connection for one call: its own main loop, run only until the answers are in or the
// time is up, so an absent or stuck server never holds the caller for long.
class TPulseCall {
public:
    TPulseCall() : FDeadline(std::chrono::steady_clock::now() + PulseCallTimeout) {
        FLoop = pa_mainloop_new();
        if (FLoop)
            FContext = pa_context_new(pa_mainloop_get_api(FLoop), "Vantrel");
    }
    ~TPulseCall() {
        if (FContext) {
            pa_context_disconnect(FContext);
            pa_context_unref(FContext);
        }
        if (FLoop)
            pa_mainloop_free(FLoop);
    }
    TPulseCall(const TPulseCall&) = delete;
    TPulseCall& operator=(const TPulseCall&) = delete;

    pa_context* Context() const { return FContext; }

    bool Connect() {
        if (!FContext || pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(FContext);
            if (state == PA_CONTEXT_READY)
                return true;
            if (!PA_CONTEXT_IS_GOOD(state) || !Step())
                return false;
        }
    }

    // Runs the loop until Operation is done; false when it failed or took too long.
    bool Run(pa_operation* Operation) {
        if (!Operation)
            return false;
        bool ok = true;
        while (pa_operation_get_state(Operation) == PA_OPERATION_RUNNING)
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext)) || !Step()) {
                pa_operation_cancel(Operation);
                ok = false;
                break;
            }
        ok = ok && pa_operation_get_state(Operation) == PA_OPERATION_DONE;
        pa_operation_unref(Operation);
        return ok;
    }

private:
    bool Step() {
        using namespace std::chrono;
        const auto left = duration_cast<microseconds>(FDeadline - steady_clock::now()).count();
        if (left <= 0)
            return false;
        return pa_mainloop_prepare(FLoop, int(left)) >= 0 && pa_mainloop_poll(FLoop) >= 0 &&
               pa_mainloop_dispatch(FLoop) >= 0;
    }

    std::chrono::steady_clock::time_point FDeadline;
    pa_mainloop* FLoop = nullptr;
    pa_context* FContext = nullptr;
};

struct TPulseSource {
    QString Name;
    QString Description;
    DWORD ComponentType = MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
    DWORD Channels = 2;
    pa_volume_t Volume = PA_VOLUME_NORM;
    bool Mute = false;
};

struct TPulseState {
    QString ServerVersion;
    QString DefaultSource;
    std::vector<TPulseSource> Sources;
    bool ListFailed = false;
};

// A port or property text that names a microphone: a word starting with "mic".
bool NamesMicrophone(const char* Text) {
    if (!Text)
        return false;
    const QString text = QString::fromUtf8(Text).toLower();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i)
        if (i == text.size() || !text.at(i).isLetter()) {
            if (text.mid(start, i - start).startsWith(QLatin1String("mic")))
                return true;
            start = i + 1;
        }
    return false;
}

DWORD SourceComponentType(const pa_source_info& Info) {
    if (Info.monitor_of_sink != PA_INVALID_INDEX)
        return MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
    const char* formFactor = pa_proplist_gets(Info.proplist, PA_PROP_DEVICE_FORM_FACTOR);
    for (const char* microphone : {"microphone", "headset", "webcam"})
        if (formFactor && std::strcmp(formFactor, microphone) == 0)
            return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    if (Info.active_port &&
        (NamesMicrophone(Info.active_port->name) || NamesMicrophone(Info.active_port->description)))
        return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    return MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
}

bool ReadPulseState(TPulseState& State) {
    TPulseCall call;
    if (!call.Connect())
        return false;
    auto serverInfo = [](pa_context*, const pa_server_info* Info, void* User) {
        auto* state = static_cast<TPulseState*>(User);
        if (!Info)
            return;
        state->ServerVersion = QString::fromUtf8(Info->server_version);
        state->DefaultSource = QString::fromUtf8(Info->default_source_name);
    };
    auto sourceInfo = [](pa_context*, const pa_source_info* Info, int End, void* User) {
        auto* state = static_cast<TPulseState*>(User);
        if (End < 0)
            state->ListFailed = true;
        if (End != 0 || !Info)
            return;
        TPulseSource source;
        source.Name = QString::fromUtf8(Info->name);
        source.Description = QString::fromUtf8(Info->description ? Info->description : Info->name);
        source.ComponentType = SourceComponentType(*Info);
        source.Channels = Info->sample_spec.channels;
        source.Volume = pa_cvolume_avg(&Info->volume);
        source.Mute = Info->mute;
        state->Sources.push_back(source);
    };
    return call.Run(pa_context_get_server_info(call.Context(), serverInfo, &State)) &&
           call.Run(pa_context_get_source_info_list(call.Context(), sourceInfo, &State)) && !State.ListFailed;
}

// Runs one server command that answers with success or failure.
MMRESULT
RunPulseCommand(const std::function<pa_operation*(pa_context*, pa_context_success_cb_t, void*)>& Start) {
    TPulseCall call;
    if (!call.Connect())
        return MMSYSERR_NODRIVER;
    int success = 0;
    auto done = [](pa_context*, int Success, void* User) { *static_cast<int*>(User) = Success; };
    if (!call.Run(Start(call.Context(), done, &success)))
        return MMSYSERR_NODRIVER;
    return success ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

// Watches sources and the server (the default source) over a connection of its own.
class TPulseWatch : public TMixerWatch {
public:
    explicit TPulseWatch(std::function<void()> Changed) : FChanged(std::move(Changed)) {}

    bool Start() {
        FLoop = pa_threaded_mainloop_new();
        if (!FLoop)
            return false;
        FContext = pa_context_new(pa_threaded_mainloop_get_api(FLoop), "Vantrel mixer watch");
        if (!FContext)
            return false;
        pa_context_set_state_callback(FContext, StateChanged, this);
        pa_context_set_subscribe_callback(FContext, Event, this);
        if (pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(FLoop) < 0)
            return false;
        FStarted = true;
        std::unique_lock lock(FLock);
        FReady.wait_for(lock, PulseCallTimeout, [this] { return FSubscribed || FFailed; });
        return FSubscribed;
    }

    ~TPulseWatch() override {
        if (FContext && FStarted) {
            pa_threaded_mainloop_lock(FLoop);
            pa_context_set_state_callback(FContext, nullptr, nullptr);
            pa_context_set_subscribe_callback(FContext, nullptr, nullptr);
            pa_context_disconnect(FContext);
            pa_threaded_mainloop_unlock(FLoop);
            pa_threaded_mainloop_stop(FLoop);
        } else if (FContext) {
            pa_context_disconnect(FContext);
        }
        if (FContext)
            pa_context_unref(FContext);
        if (FLoop)
            pa_threaded_mainloop_free(FLoop);
    }

private:
    static void StateChanged(pa_context* Context, void* User) {
        auto* self = static_cast<TPulseWatch*>(User);
        const pa_context_state_t state = pa_context_get_state(Context);
        if (state == PA_CONTEXT_READY) {
            const auto mask =
                pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER);
            if (pa_operation* operation = pa_context_subscribe(Context, mask, Subscribed, self))
                pa_operation_unref(operation);
            else
                self->Finish(false);
        } else if (!PA_CONTEXT_IS_GOOD(state)) {
            const bool wasSubscribed = self->Finish(false);
            // The server went away: the lines are gone too.
            if (wasSubscribed)
                self->FChanged();
        }
    }

    static void Subscribed(pa_context*, int Success, void* User) {
        static_cast<TPulseWatch*>(User)->Finish(Success);
    }

    static void Event(pa_context*, pa_subscription_event_type_t, uint32_t, void* User) {
        static_cast<TPulseWatch*>(User)->FChanged();
    }

    // Records the outcome of connecting; returns whether the watch was subscribed before.
    bool Finish(bool Ok) {
        bool was = false;
        {
            std::lock_guard lock(FLock);
            was = FSubscribed;
            FSubscribed = Ok;
            FFailed = !Ok;
        }
        FReady.notify_all();
        return was;
    }

    std::function<void()> FChanged;
    pa_threaded_mainloop* FLoop = nullptr;
    pa_context* FContext = nullptr;
    bool FStarted = false;
    std::mutex FLock;
    std::condition_variable FReady;
    bool FSubscribed = false;
    bool FFailed = false;
};

class TPulseMixerBackend : public TMixerBackend {
public:
    UINT DeviceCount() override {
        TPulseCall call;
        return call.Connect() ? 1 : 0;
    }

    MMRESULT ReadModel(UINT DeviceID, TMixerModel& Model) override {
        TPulseState state;
        if (DeviceID != 0 || !ReadPulseState(state))
            return MMSYSERR_BADDEVICEID;
        Model = TMixerModel{};
        Model.Name = QStringLiteral("PulseAudio sound server");
        const QStringList version = state.ServerVersion.split(QLatin1Char('.'));
        Model.DriverVersion = (version.value(0).toUInt() & 0xFF) << 8 | (version.value(1).toUInt() & 0xFF);

        TMixerDestinationModel recording;
        recording.Line.Id = PulseDestinationId;
        recording.Line.ComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
        recording.Line.Name = recording.Line.ShortName = QStringLiteral("Recording");
        TMixerControlModel select;
        select.Id = PulseSelectId;
        select.Type = MIXERCONTROL_CONTROLTYPE_MUX;
        select.Flags = MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE;
        select.Name = QStringLiteral("Recording Source");
        select.ShortName = QStringLiteral("Source");
        select.Maximum = LONG(state.Sources.size()) - 1;
        select.Steps = DWORD(state.Sources.size());

        for (const TPulseSource& pulse : state.Sources) {
            TMixerLineModel source;
            source.Id = Id(FLineIds, QStringLiteral("line:") + pulse.Name);
            source.ComponentType = pulse.ComponentType;
            source.Channels = pulse.Channels;
            source.Name = source.ShortName = pulse.Description;
            source.Key = pulse.Name;

            TMixerControlModel volume;
            volume.Id = Id(FControlIds, QStringLiteral("volume:") + pulse.Name);
            volume.Type = MIXERCONTROL_CONTROLTYPE_VOLUME;
            volume.Name = volume.ShortName = QStringLiteral("Volume");
            volume.Maximum = PulseVolumeMaximum;
            volume.Steps = PulseVolumeMaximum + 1;
            const double level = double(std::min<pa_volume_t>(pulse.Volume, PA_VOLUME_NORM)) / PA_VOLUME_NORM;
            volume.Values = {LONG(level * PulseVolumeMaximum + 0.5)};
            source.Controls.push_back(volume);

            TMixerControlModel mute;
            mute.Id = Id(FControlIds, QStringLiteral("mute:") + pulse.Name);
            mute.Type = MIXERCONTROL_CONTROLTYPE_MUTE;
            mute.Name = mute.ShortName = QStringLiteral("Mute");
            mute.Values = {pulse.Mute ? 1 : 0};
            source.Controls.push_back(mute);

            select.Items.push_back({source.Name, source.Id, source.ComponentType, pulse.Name});
            select.Values.push_back(pulse.Name == state.DefaultSource ? 1 : 0);
            recording.Sources.push_back(std::move(source));
        }
        recording.Line.Controls.push_back(std::move(select));
        Model.Destinations.push_back(std::move(recording));
        return MMSYSERR_NOERROR;
    }

    MMRESULT SetControl(UINT DeviceID, const TMixerLineModel& Line, const TMixerControlModel& Control,
                        const std::vector<LONG>& Values) override {
        if (DeviceID != 0)
            return MMSYSERR_BADDEVICEID;
        switch (Control.Type) {
        case MIXERCONTROL_CONTROLTYPE_MUX: {
            const auto selected = std::find(Values.begin(), Values.end(), 1);
            if (selected == Values.end() || std::size_t(selected - Values.begin()) >= Control.Items.size())
                return MIXERR_INVALVALUE;
            const QByteArray name = Control.Items[std::size_t(selected - Values.begin())].Key.toUtf8();
            return RunPulseCommand([&](pa_context* Context, pa_context_success_cb_t Done, void* User) {
                return pa_context_set_default_source(Context, name.constData(), Done, User);
            });
        }
        case MIXERCONTROL_CONTROLTYPE_VOLUME: {
            pa_cvolume volume;
            const auto level = pa_volume_t(double(Values.at(0)) * PA_VOLUME_NORM / PulseVolumeMaximum + 0.5);
            pa_cvolume_set(&volume, std::clamp<unsigned>(Line.Channels, 1, PA_CHANNELS_MAX), level);
            const QByteArray name = Line.Key.toUtf8();
            return RunPulseCommand([&](pa_context* Context, pa_context_success_cb_t Done, void* User) {
                return pa_context_set_source_volume_by_name(Context, name.constData(), &volume, Done, User);
            });
        }
        case MIXERCONTROL_CONTROLTYPE_MUTE: {
            const QByteArray name = Line.Key.toUtf8();
            const int mute = Values.at(0) != 0;
            return RunPulseCommand([&](pa_context* Context, pa_context_success_cb_t Done, void* User) {
                return pa_context_set_source_mute_by_name(Context, name.constData(), mute, Done, User);
            });
        }
        default:
            return MMSYSERR_NOTSUPPORTED;
        }
    }

    std::unique_ptr<TMixerWatch> Watch(UINT DeviceID, std::function<void()> Changed) override {
        if (DeviceID != 0)
            return nullptr;
        auto watch = std::make_unique<TPulseWatch>(std::move(Changed));
        if (!watch->Start())
            return nullptr;
        return watch;
    }

private:
    // Ids by the server's names, kept for the backend's life, so they stay the same while a mixer is
    // open however the server's sources come and go.
    DWORD Id(std::map<QString, DWORD>& Ids, const QString& Key) {
        std::lock_guard lock(FLock);
        auto [it, added] = Ids.emplace(Key, 0);
        if (added)
            it->second = &Ids == &FLineIds ? FNextLineId++ : FNextControlId++;
        return it->second;
    }

    std::mutex FLock;
    std::map<QString, DWORD> FLineIds;
    std::map<QString, DWORD> FControlIds;
    DWORD FNextLineId = 0x1000;
    DWORD FNextControlId = 0x10;
};

std::shared_ptr<TMixerBackend> NewPulseMixerBackend() {
    return std::make_shared<TPulseMixerBackend>();
}

} // namespace
