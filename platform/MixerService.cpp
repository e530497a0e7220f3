#include "platform/MixerService.h"

#include "platform/PulseMixer.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace win {

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
        GBackend = std::make_shared<TPulseMixerBackend>();
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

} // namespace win
