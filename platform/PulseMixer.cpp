#include "platform/PulseMixer.h"

#include "platform/PulseConnection.h"

#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

namespace win {

namespace {

// How long one call, connecting included, may take before the server counts as absent.
constexpr auto PulseCallTimeout = std::chrono::seconds(3);
constexpr DWORD PulseDestinationId = 0xFFFF0000;
constexpr DWORD PulseSelectId = 1;
constexpr LONG PulseVolumeMaximum = 0xFFFF;

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
    TPulseConnection connection;
    if (!connection.Connect(PulseCallTimeout))
        return false;
    TPulseConnection::TLock lock(connection);
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
    return connection.Run(pa_context_get_server_info(connection.Context(), serverInfo, &State)) &&
           connection.Run(pa_context_get_source_info_list(connection.Context(), sourceInfo, &State)) &&
           !State.ListFailed;
}

// Stores the outcome of a command in the int User points at.
void StoreSuccess(pa_context*, int Success, void* User) {
    *static_cast<int*>(User) = Success;
}

// Runs one server command that answers with success or failure.
MMRESULT
RunPulseCommand(const std::function<pa_operation*(pa_context*, pa_context_success_cb_t, void*)>& Start) {
    TPulseConnection connection;
    if (!connection.Connect(PulseCallTimeout))
        return MMSYSERR_NODRIVER;
    TPulseConnection::TLock lock(connection);
    int success = 0;
    if (!connection.Run(Start(connection.Context(), StoreSuccess, &success)))
        return MMSYSERR_NODRIVER;
    return success ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

// Watches sources and the server (the default source) over a connection of its own.
class TPulseWatch : public TMixerWatch {
public:
    explicit TPulseWatch(std::function<void()> Changed) : FChanged(std::move(Changed)) {}

    bool Start() {
        if (!FConnection.Connect(PulseCallTimeout))
            return false;
        TPulseConnection::TLock lock(FConnection);
        pa_context_set_subscribe_callback(FConnection.Context(), Event, this);
        const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER);
        int success = 0;
        FSubscribed =
            FConnection.Run(pa_context_subscribe(FConnection.Context(), mask, StoreSuccess, &success)) &&
            success;
        FConnection.Disarm();
        return FSubscribed;
    }

private:
    static void Event(pa_context*, pa_subscription_event_type_t, uint32_t, void* User) {
        static_cast<TPulseWatch*>(User)->FChanged();
    }

    // The server went away: the lines are gone too.
    void Lost() {
        if (FSubscribed)
            FChanged();
    }

    std::function<void()> FChanged;
    bool FSubscribed = false; // guarded by the connection's lock
    // Last, so that it ends before what its callbacks use.
    TPulseConnection FConnection{"Vantrel mixer watch", [this] { Lost(); }};
};

} // namespace

UINT TPulseMixerBackend::DeviceCount() {
    TPulseConnection connection;
    return connection.Connect(PulseCallTimeout) ? 1 : 0;
}

MMRESULT TPulseMixerBackend::ReadModel(UINT DeviceID, TMixerModel& Model) {
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

MMRESULT TPulseMixerBackend::SetControl(UINT DeviceID, const TMixerLineModel& Line,
                                        const TMixerControlModel& Control, const std::vector<LONG>& Values) {
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

std::unique_ptr<TMixerWatch> TPulseMixerBackend::Watch(UINT DeviceID, std::function<void()> Changed) {
    if (DeviceID != 0)
        return nullptr;
    auto watch = std::make_unique<TPulseWatch>(std::move(Changed));
    if (!watch->Start())
        return nullptr;
    return watch;
}

DWORD TPulseMixerBackend::Id(std::map<QString, DWORD>& Ids, const QString& Key) {
    std::lock_guard lock(FLock);
    auto [it, added] = Ids.emplace(Key, 0);
    if (added)
        it->second = &Ids == &FLineIds ? FNextLineId++ : FNextControlId++;
    return it->second;
}

} // namespace win
