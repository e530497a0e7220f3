// Sound scopes, and the script host's side of Sound objects: exported sounds, starting and stopping
// them in a scope, their positions and the scopes' settings.
#include "flash/player/ScriptSounds.h"

#include "flash/media/SoundMixer.h"
#include "flash/player/ScriptHost.h"

#include <algorithm>
#include <cmath>

namespace flash {

namespace {

// Appends the sprites from the stage down to Sprite, outermost first; false when it is not there.
bool PathTo(const DisplayList& list, const SpriteInstance* sprite, std::vector<const SpriteInstance*>& path,
            int nesting) {
    if (nesting > MaxFindNesting)
        return false;
    for (const auto& [depth, object] : list) {
        if (object.sprite) {
            path.push_back(object.sprite.get());
            if (object.sprite.get() == sprite ||
                PathTo(object.sprite->displayList, sprite, path, nesting + 1))
                return true;
            path.pop_back();
        } else if (object.button && PathTo(object.button->displayList, sprite, path, nesting + 1)) {
            return true;
        }
    }
    return false;
}

// The rate a sound's sample count is counted at.
double CountedRate(const SoundFormat& format) {
    switch (format.codec) {
    case 4:
        return 16000;
    case 5:
    case 7:
    case 8:
        return 8000;
    default:
        return format.rateCode == 0 ? MixRate / 8.0 : format.SampleRate();
    }
}

std::optional<std::uint64_t> ScopeId(const ActionHost::SoundScope& scope) {
    if (!scope)
        return SoundMixer::GlobalScope;
    if (scope->root)
        return RootSoundScope;
    if (const auto sprite = scope->sprite.lock(); sprite && !sprite->gone)
        return sprite->born;
    return std::nullopt; // a clip that left, or a button: nothing to control
}

} // namespace

std::vector<std::uint64_t> SoundScopeChain(const DisplayList& stage, const SpriteInstance* sprite) {
    std::vector<std::uint64_t> chain;
    if (sprite) {
        std::vector<const SpriteInstance*> path;
        if (!PathTo(stage, sprite, path, 0))
            path = {sprite};
        for (auto it = path.rbegin(); it != path.rend(); ++it)
            chain.push_back((*it)->born);
    }
    chain.push_back(RootSoundScope);
    return chain;
}

SoundLevels LevelsOf(const ActionHost::SoundSettings& settings) {
    const auto level = [&settings](int percent) { return float(settings.volume * percent / 10000.0); };
    return {level(settings.ll), level(settings.lr), level(settings.rl), level(settings.rr)};
}

void ForgetSoundScope(TimelineState& state, const SpriteInstance& sprite) {
    if (state.soundSettings.erase(sprite.born) && state.mixer)
        state.mixer->SetScopeLevels(sprite.born, {});
}

std::optional<ActionHost::ExportedSound> ScriptHost::FindSound(const QString& linkage) {
    const Movie& movie = *state.movie;
    const auto exported = movie.exports.find(linkage.toLower());
    if (exported == movie.exports.end())
        return std::nullopt;
    const auto found = movie.dictionary.find(exported->second);
    const Sound* sound = found == movie.dictionary.end() ? nullptr : std::get_if<Sound>(found->second.get());
    if (!sound)
        return std::nullopt;
    return ExportedSound{exported->second,
                         std::floor(sound->sampleCount * 1000.0 / CountedRate(sound->format))};
}

std::uint64_t ScriptHost::StartSound(const SoundScope& scope, std::uint16_t id, double offsetSeconds,
                                     int loops) {
    const auto scopeId = ScopeId(scope);
    if (!state.mixer || !scopeId)
        return 0;
    const auto found = state.movie->dictionary.find(id);
    const Sound* sound =
        found == state.movie->dictionary.end() ? nullptr : std::get_if<Sound>(found->second.get());
    if (!sound)
        return 0;
    SoundInfo info;
    if (offsetSeconds > 0)
        info.inPoint = std::uint32_t(std::min(offsetSeconds * MixRate, double(MaxSoundFrames)));
    info.loopCount = std::uint16_t(std::clamp(loops, 1, 0xFFFF));
    VoiceScope voice{{}, true};
    if (*scopeId != SoundMixer::GlobalScope)
        voice.scopes = SoundScopeChain(state.stage, scope->root ? nullptr : scope->sprite.lock().get());
    return state.mixer->StartEventSound(id, std::shared_ptr<const Sound>(found->second, sound), info, voice);
}

void ScriptHost::StopSound(const SoundScope& scope, std::optional<std::uint16_t> id) {
    const auto scopeId = ScopeId(scope);
    if (!state.mixer || !scopeId)
        return;
    if (*scopeId == SoundMixer::GlobalScope && !id)
        state.mixer->StopAllSounds(); // as stopAllSounds()
    else
        state.mixer->StopScopeSounds(*scopeId, id);
}

std::optional<double> ScriptHost::SoundPosition(std::uint64_t channel) {
    const auto frames = state.mixer ? state.mixer->VoicePosition(channel) : std::nullopt;
    if (!frames)
        return std::nullopt;
    return std::floor(double(*frames) * 1000 / MixRate);
}

ActionHost::SoundSettings ScriptHost::GetSoundSettings(const SoundScope& scope) {
    const auto scopeId = ScopeId(scope);
    const auto found = scopeId ? state.soundSettings.find(*scopeId) : state.soundSettings.end();
    return found == state.soundSettings.end() ? SoundSettings{} : found->second;
}

void ScriptHost::SetSoundSettings(const SoundScope& scope, const SoundSettings& settings) {
    const auto scopeId = ScopeId(scope);
    if (!scopeId)
        return;
    if (settings == SoundSettings{})
        state.soundSettings.erase(*scopeId);
    else if (state.soundSettings.size() < SoundMixer::MaxScopes || state.soundSettings.contains(*scopeId))
        state.soundSettings[*scopeId] = settings;
    else
        return;
    if (state.mixer)
        state.mixer->SetScopeLevels(*scopeId, LevelsOf(settings));
}

} // namespace flash
