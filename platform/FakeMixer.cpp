#include "platform/FakeMixer.h"

#include <utility>

namespace win {

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

} // namespace win
