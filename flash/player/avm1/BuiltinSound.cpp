// The Sound object: new Sound(clip) controls the sounds of that clip and the clips inside it,
// new Sound() every sound. attachSound takes a sound exported under a linkage name; start(seconds,
// loops) plays it in the object's scope, stop() ends the scope's sounds (or one sound's), and the
// volume, pan and transform are the scope's, shared by every Sound object made for it. position and
// duration are milliseconds; onSoundComplete runs when a sound it started played to its end.
// Sounds only come from the movie: loadSound is refused (and noted, as getURL is), so onLoad never fires.
// Levels are kept within MaxLevel percent; an object keeps its channels alive while they play, up to
// the interpreter's MaxSoundChannels.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Native.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace flash {

namespace {

// Percent: ten times full level is far past audible use and keeps the mix's sums bounded.
constexpr int MaxLevel = 1000;

struct SoundState final : NativeState {
    ActionHost::SoundScope scope;
    std::optional<ActionHost::ExportedSound> attached;
    std::uint64_t channel = 0; // of the last sound it started
    double position = 0;       // milliseconds, where that sound was when it ended

    std::optional<ActionValue> Member(ActionInterpreter& vm, const QString& name) override {
        if (name.compare(QLatin1String("position"), Qt::CaseInsensitive) == 0) {
            if (!attached)
                return ActionValue{};
            const auto playing = channel ? vm.Host().SoundPosition(channel) : std::nullopt;
            return playing.value_or(position);
        }
        if (name.compare(QLatin1String("duration"), Qt::CaseInsensitive) == 0)
            return attached ? ActionValue(attached->milliseconds) : ActionValue{};
        return std::nullopt;
    }
};

SoundState* StateOf(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    return self ? dynamic_cast<SoundState*>(self->state.get()) : nullptr;
}

int Level(NativeCall& call, const ActionValue& value, int low, int high) {
    return std::clamp(ActionInt32(call.vm.Number(value)), low, high);
}

ActionValue Construct(NativeCall& call) {
    // new Sound(), or super() in a class extending it; a plain call makes nothing.
    ScriptObject* self = call.SelfObject();
    if (!self || (!call.constructing && self->state))
        return {};
    auto state = std::make_unique<SoundState>();
    if (const auto* clip = std::get_if<ClipRef>(&call.Arg(0)))
        state->scope = *clip;
    self->state = std::move(state);
    return {};
}

ActionValue AttachSound(NativeCall& call) {
    if (SoundState* state = StateOf(call)) {
        state->attached = call.vm.Host().FindSound(call.vm.Text(call.Arg(0)));
        state->channel = 0;
        state->position = 0;
    }
    return {};
}

ActionValue Start(NativeCall& call) {
    SoundState* state = StateOf(call);
    if (!state || !state->attached)
        return {};
    const double offset = call.vm.Number(call.Arg(0));
    const double loops = call.vm.Number(call.Arg(1));
    state->position = 0;
    state->channel = call.vm.Host().StartSound(
        state->scope, state->attached->id, std::isfinite(offset) ? std::max(offset, 0.0) : 0,
        std::isfinite(loops) ? int(std::clamp(loops, 1.0, 65535.0)) : 1);
    if (state->channel) {
        auto& channels = call.vm.SoundChannels();
        if (channels.size() >= ActionInterpreter::MaxSoundChannels)
            channels.erase(channels.begin());
        channels[state->channel] = call.SelfObject();
    }
    return {};
}

ActionValue Stop(NativeCall& call) {
    SoundState* state = StateOf(call);
    if (!state)
        return {};
    ActionHost& host = call.vm.Host();
    if (state->channel) // where it stops stays its position
        state->position = host.SoundPosition(state->channel).value_or(state->position);
    if (call.args.empty() || std::holds_alternative<std::monostate>(call.args[0])) {
        host.StopSound(state->scope, std::nullopt);
    } else if (const auto sound = host.FindSound(call.vm.Text(call.args[0]))) {
        host.StopSound(state->scope, sound->id);
    }
    return {};
}

ActionHost::SoundSettings SettingsOf(NativeCall& call, const SoundState& state) {
    return call.vm.Host().GetSoundSettings(state.scope);
}

ActionValue SetVolume(NativeCall& call) {
    if (SoundState* state = StateOf(call)) {
        auto settings = SettingsOf(call, *state);
        settings.volume = Level(call, call.Arg(0), -MaxLevel, MaxLevel);
        call.vm.Host().SetSoundSettings(state->scope, settings);
    }
    return {};
}

ActionValue GetVolume(NativeCall& call) {
    const SoundState* state = StateOf(call);
    return state ? ActionValue(double(SettingsOf(call, *state).volume)) : ActionValue{};
}

// Panning attenuates the other side; it replaces a transform's crossed channels.
ActionValue SetPan(NativeCall& call) {
    if (SoundState* state = StateOf(call)) {
        auto settings = SettingsOf(call, *state);
        const int pan = Level(call, call.Arg(0), -100, 100);
        settings.ll = pan > 0 ? 100 - pan : 100;
        settings.rr = pan < 0 ? 100 + pan : 100;
        settings.lr = settings.rl = 0;
        call.vm.Host().SetSoundSettings(state->scope, settings);
    }
    return {};
}

ActionValue GetPan(NativeCall& call) {
    const SoundState* state = StateOf(call);
    if (!state)
        return {};
    const auto settings = SettingsOf(call, *state);
    return double(settings.rr - settings.ll);
}

// The fields the transform object holds replace those levels; the others stay.
ActionValue SetTransform(NativeCall& call) {
    SoundState* state = StateOf(call);
    const ActionValue& transform = call.Arg(0);
    if (!state || !std::holds_alternative<ScriptObject*>(transform))
        return {};
    auto settings = SettingsOf(call, *state);
    for (auto [name, level] :
         {std::pair{"ll", &settings.ll}, {"lr", &settings.lr}, {"rl", &settings.rl}, {"rr", &settings.rr}}) {
        const ActionValue value = call.vm.GetMember(transform, QLatin1String(name));
        if (!std::holds_alternative<std::monostate>(value))
            *level = Level(call, value, -MaxLevel, MaxLevel);
    }
    call.vm.Host().SetSoundSettings(state->scope, settings);
    return {};
}

ActionValue GetTransform(NativeCall& call) {
    const SoundState* state = StateOf(call);
    ScriptObject* transform = state ? call.vm.NewObject() : nullptr;
    if (!transform)
        return {};
    const auto settings = SettingsOf(call, *state);
    for (auto [name, level] :
         {std::pair{"ll", settings.ll}, {"lr", settings.lr}, {"rl", settings.rl}, {"rr", settings.rr}})
        call.vm.SetMember(transform, QLatin1String(name), double(level));
    return transform;
}

// No network, ever: the request is only traced.
ActionValue LoadSound(NativeCall& call) {
    call.vm.Host().Note(QStringLiteral("loadSound: %1 (refused)").arg(call.vm.Text(call.Arg(0))));
    return {};
}

} // namespace

void ActionInterpreter::SoundEnded(std::uint64_t channel, double positionMs, bool completed,
                                   long long& budget) {
    const auto found = soundChannels.find(channel);
    if (found == soundChannels.end())
        return;
    ScriptObject* sound = found->second;
    soundChannels.erase(found);
    auto* state = dynamic_cast<SoundState*>(sound->state.get());
    if (!state || state->channel != channel)
        return; // it has started another sound since
    state->channel = 0;
    state->position = positionMs;
    if (!completed)
        return;
    const ActionValue handler = GetMember(sound, QStringLiteral("onSoundComplete"));
    long long* outer = std::exchange(this->budget, &budget);
    ++running;
    CallValue(handler, sound, {});
    --running;
    this->budget = outer;
    CollectGarbage();
}

void SetUpSoundBuiltins(ActionInterpreter& vm) {
    ScriptObject* prototype = vm.NewObject();
    DefineMethods(vm, prototype,
                  {{"attachSound", AttachSound},
                   {"start", Start},
                   {"stop", Stop},
                   {"setVolume", SetVolume},
                   {"getVolume", GetVolume},
                   {"setPan", SetPan},
                   {"getPan", GetPan},
                   {"setTransform", SetTransform},
                   {"getTransform", GetTransform},
                   {"loadSound", LoadSound}});
    vm.Define(vm.Global(), QStringLiteral("Sound"), vm.NewNative(Construct, prototype));
}

} // namespace flash
