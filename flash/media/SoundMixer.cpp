#include "flash/media/SoundMixer.h"

#include <algorithm>
#include <deque>

namespace flash {

SoundLevels operator*(const SoundLevels& outer, const SoundLevels& inner) {
    return {outer.ll * inner.ll + outer.lr * inner.rl, outer.ll * inner.lr + outer.lr * inner.rr,
            outer.rl * inner.ll + outer.rr * inner.rl, outer.rl * inner.lr + outer.rr * inner.rr};
}

struct SoundMixer::Voice {
    std::uint64_t number = 0;
    std::vector<std::uint64_t> scopes;
    bool tracked = false;
    std::uint16_t id = 0;
    std::shared_ptr<const Pcm> pcm;
    std::size_t begin = 0, end = 0; // the frames each loop plays
    std::uint32_t loopsLeft = 0;    // after the current one
    std::size_t position = 0;
    std::uint64_t envelopeTime = 0; // 44.1 kHz samples from the start of the sound
    std::vector<SoundEnvelopePoint> envelope;
    std::size_t segment = 0; // the envelope point at or before envelopeTime
    bool done = false;

    // Left and right levels at envelopeTime: constant outside the points, straight lines between.
    std::pair<float, float> Levels() {
        while (segment + 1 < envelope.size() && envelope[segment + 1].position44 <= envelopeTime)
            ++segment;
        const SoundEnvelopePoint& from = envelope[segment];
        constexpr float Full = 32768.0f;
        if (segment + 1 == envelope.size() || envelopeTime <= from.position44)
            return {from.leftLevel / Full, from.rightLevel / Full};
        const SoundEnvelopePoint& to = envelope[segment + 1];
        const float t = float(envelopeTime - from.position44) / float(to.position44 - from.position44);
        return {(from.leftLevel + t * (float(to.leftLevel) - from.leftLevel)) / Full,
                (from.rightLevel + t * (float(to.rightLevel) - from.rightLevel)) / Full};
    }
};

// The playing side of a stream, under mixLock.
struct SoundMixer::Stream {
    std::vector<std::uint64_t> scopes;
    std::deque<Pcm> queue;
    std::size_t headFrame = 0; // frames of queue.front() already played
    std::size_t queuedFrames = 0;
    std::uint64_t playedFrames = 0;

    void Clear() {
        queue.clear();
        headFrame = 0;
        queuedFrames = 0;
    }
};

// The decoding side of a stream, under controlLock.
struct SoundMixer::StreamControl {
    explicit StreamControl(const SoundStreamHead& head) : decoder(head) {}
    StreamDecoder decoder;
    int lastFrame = -1;
};

SoundMixer::SoundMixer() = default;
SoundMixer::~SoundMixer() = default;

std::shared_ptr<const Pcm> SoundMixer::Decoded(const std::shared_ptr<const Sound>& sound) {
    const auto found = cache.find(sound.get());
    if (found != cache.end() && !found->second.owner.expired())
        return found->second.pcm;
    // A sound that is gone may have left its address to this one.
    std::erase_if(cache, [](const auto& entry) { return entry.second.owner.expired(); });
    auto pcm = std::make_shared<const Pcm>(DecodeSound(*sound));
    cache[sound.get()] = CachedSound{sound, pcm};
    return pcm;
}

std::uint64_t SoundMixer::StartEventSound(std::uint16_t id, std::shared_ptr<const Sound> sound,
                                          const SoundInfo& info, const VoiceScope& scope) {
    std::lock_guard control(controlLock);
    const auto playing = [this, id] {
        return std::any_of(voices.begin(), voices.end(), [id](const auto& voice) { return voice->id == id; });
    };
    if (info.syncStop) {
        std::lock_guard mix(mixLock);
        EndVoices([id](const Voice& voice) { return voice.id == id; });
        return 0;
    }
    if (sound == nullptr)
        return 0;
    if (info.syncNoMultiple) {
        std::lock_guard mix(mixLock);
        if (playing())
            return 0;
    }

    auto voice = std::make_unique<Voice>();
    voice->id = id;
    voice->pcm = Decoded(sound);
    const std::size_t frames = voice->pcm->size() / 2;
    voice->begin = std::min<std::size_t>(info.inPoint.value_or(0), frames);
    voice->end = info.outPoint ? std::min<std::size_t>(std::size_t{*info.outPoint} + 1, frames) : frames;
    if (voice->end <= voice->begin)
        return 0;
    voice->scopes = scope.scopes;
    voice->tracked = scope.tracked;
    voice->loopsLeft = std::max<std::uint32_t>(info.loopCount, 1) - 1;
    voice->position = voice->begin;
    voice->envelopeTime = voice->begin;
    voice->envelope = info.envelope;
    std::stable_sort(voice->envelope.begin(), voice->envelope.end(),
                     [](const auto& a, const auto& b) { return a.position44 < b.position44; });

    std::lock_guard mix(mixLock);
    if (info.syncNoMultiple && playing())
        return 0;
    if (voices.size() >= MaxEventSounds) {
        const Voice* oldest = voices.front().get();
        EndVoices([oldest](const Voice& voice) { return &voice == oldest; });
    }
    voice->number = ++lastVoice;
    voices.push_back(std::move(voice));
    return lastVoice;
}

template <typename Match> void SoundMixer::EndVoices(Match match) {
    std::erase_if(voices, [&](const auto& voice) {
        if (!match(*voice))
            return false;
        if (voice->tracked) {
            if (ends.size() >= MaxEndReports)
                ends.erase(ends.begin());
            ends.push_back({voice->number, voice->done, voice->position});
        }
        return true;
    });
}

void SoundMixer::StopEventSound(std::uint16_t id) {
    std::lock_guard mix(mixLock);
    EndVoices([id](const Voice& voice) { return voice.id == id; });
}

void SoundMixer::StopScopeSounds(std::uint64_t scope, std::optional<std::uint16_t> id) {
    std::lock_guard mix(mixLock);
    EndVoices([scope, id](const Voice& voice) {
        return (!id || voice.id == *id) &&
               (scope == GlobalScope ||
                std::find(voice.scopes.begin(), voice.scopes.end(), scope) != voice.scopes.end());
    });
}

void SoundMixer::SetScopeLevels(std::uint64_t scope, const SoundLevels& levels) {
    std::lock_guard mix(mixLock);
    if (levels == SoundLevels{})
        scopeLevels.erase(scope);
    else if (scopeLevels.size() < MaxScopes || scopeLevels.contains(scope))
        scopeLevels[scope] = levels;
}

std::optional<std::size_t> SoundMixer::VoicePosition(std::uint64_t number) const {
    std::lock_guard mix(mixLock);
    for (const auto& voice : voices)
        if (voice->number == number)
            return voice->position;
    return std::nullopt;
}

std::vector<SoundMixer::VoiceEnd> SoundMixer::TakeVoiceEnds() {
    std::lock_guard mix(mixLock);
    return std::exchange(ends, {});
}

SoundLevels SoundMixer::LevelsFor(const std::vector<std::uint64_t>& scopes) const {
    SoundLevels levels;
    if (scopeLevels.empty())
        return levels;
    for (std::uint64_t scope : scopes)
        if (const auto found = scopeLevels.find(scope); found != scopeLevels.end())
            levels = found->second * levels;
    if (const auto global = scopeLevels.find(GlobalScope); global != scopeLevels.end())
        levels = global->second * levels;
    return levels;
}

void SoundMixer::StopAllSounds() {
    std::lock_guard mix(mixLock);
    EndVoices([](const Voice&) { return true; });
    for (auto& [key, stream] : streams)
        stream->Clear();
}

void SoundMixer::BeginStream(const void* timelineKey, const SoundStreamHead& head,
                             std::vector<std::uint64_t> scopes) {
    std::lock_guard control(controlLock);
    controls[timelineKey] = std::make_unique<StreamControl>(head);
    auto stream = std::make_unique<Stream>();
    stream->scopes = std::move(scopes);
    std::lock_guard mix(mixLock);
    streams[timelineKey].swap(stream);
}

void SoundMixer::PushStreamBlock(const void* timelineKey, int frame, const QByteArray& blockData) {
    std::lock_guard control(controlLock);
    const auto found = controls.find(timelineKey);
    if (found == controls.end())
        return;
    StreamControl& stream = *found->second;
    const bool back = stream.lastFrame >= 0 && frame <= stream.lastFrame;
    const bool skipped = stream.lastFrame >= 0 && frame > stream.lastFrame + 1;
    if (back || skipped)
        stream.decoder.Restart();
    stream.lastFrame = frame;
    Pcm pcm = stream.decoder.Decode(blockData);

    std::lock_guard mix(mixLock);
    Stream& playing = *streams.at(timelineKey);
    if (back)
        playing.Clear();
    if (pcm.empty())
        return;
    playing.queuedFrames += pcm.size() / 2;
    playing.queue.push_back(std::move(pcm));
    while (playing.queuedFrames > MaxQueuedStreamFrames) {
        playing.queuedFrames -= playing.queue.front().size() / 2 - playing.headFrame;
        playing.queue.pop_front();
        playing.headFrame = 0;
    }
}

void SoundMixer::StopStream(const void* timelineKey) {
    std::lock_guard control(controlLock);
    controls.erase(timelineKey);
    std::lock_guard mix(mixLock);
    streams.erase(timelineKey);
}

double SoundMixer::StreamTime(const void* timelineKey) const {
    std::lock_guard mix(mixLock);
    const auto found = streams.find(timelineKey);
    if (found == streams.end())
        return -1;
    return double(found->second->playedFrames) / MixRate;
}

namespace {

// Adds Run frames of From, scaled by the levels, into To.
void AddThrough(const SoundLevels& levels, const std::int16_t* from, std::int32_t* to, std::size_t run) {
    for (std::size_t i = 0; i < run; ++i) {
        const float left = from[2 * i], right = from[2 * i + 1];
        to[2 * i] += std::int32_t(levels.ll * left + levels.lr * right);
        to[2 * i + 1] += std::int32_t(levels.rl * left + levels.rr * right);
    }
}

} // namespace

void SoundMixer::MixVoice(Voice& voice, int frames) {
    const std::int16_t* samples = voice.pcm->data();
    std::int32_t* into = accumulator.data();
    const SoundLevels levels = LevelsFor(voice.scopes);
    const bool full = levels == SoundLevels{};
    std::size_t at = 0;
    while (at < std::size_t(frames)) {
        if (voice.position >= voice.end) {
            if (voice.loopsLeft == 0)
                break;
            --voice.loopsLeft;
            voice.position = voice.begin;
        }
        const std::size_t run = std::min(std::size_t(frames) - at, voice.end - voice.position);
        const std::int16_t* from = samples + voice.position * 2;
        std::int32_t* to = into + at * 2;
        if (voice.envelope.empty()) {
            if (full)
                for (std::size_t i = 0; i < run * 2; ++i)
                    to[i] += from[i];
            else
                AddThrough(levels, from, to, run);
            voice.envelopeTime += run;
        } else {
            for (std::size_t i = 0; i < run; ++i, ++voice.envelopeTime) {
                const auto [left, right] = voice.Levels();
                const float inLeft = float(from[2 * i]) * left, inRight = float(from[2 * i + 1]) * right;
                to[2 * i] += std::int32_t(levels.ll * inLeft + levels.lr * inRight);
                to[2 * i + 1] += std::int32_t(levels.rl * inLeft + levels.rr * inRight);
            }
        }
        voice.position += run;
        at += run;
    }
    voice.done = voice.position >= voice.end && voice.loopsLeft == 0;
}

void SoundMixer::MixStream(Stream& stream, int frames) {
    const SoundLevels levels = LevelsFor(stream.scopes);
    const bool full = levels == SoundLevels{};
    std::size_t at = 0;
    while (at < std::size_t(frames) && !stream.queue.empty()) {
        const Pcm& head = stream.queue.front();
        const std::size_t run = std::min(std::size_t(frames) - at, head.size() / 2 - stream.headFrame);
        const std::int16_t* from = head.data() + stream.headFrame * 2;
        std::int32_t* to = accumulator.data() + at * 2;
        if (full)
            for (std::size_t i = 0; i < run * 2; ++i)
                to[i] += from[i];
        else
            AddThrough(levels, from, to, run);
        at += run;
        stream.headFrame += run;
        stream.queuedFrames -= run;
        stream.playedFrames += run;
        if (stream.headFrame == head.size() / 2) {
            stream.queue.pop_front();
            stream.headFrame = 0;
        }
    }
}

bool SoundMixer::Sounding() const {
    std::lock_guard mix(mixLock);
    if (std::any_of(voices.begin(), voices.end(), [](const auto& voice) { return !voice->done; }))
        return true;
    return std::any_of(streams.begin(), streams.end(),
                       [](const auto& entry) { return entry.second->queuedFrames > 0; });
}

void SoundMixer::Render(std::int16_t* interleavedStereo, int frames) {
    if (frames <= 0)
        return;
    std::lock_guard mix(mixLock);
    accumulator.assign(std::size_t(frames) * 2, 0);
    for (auto& voice : voices)
        MixVoice(*voice, frames);
    EndVoices([](const Voice& voice) { return voice.done; });
    for (auto& [key, stream] : streams)
        MixStream(*stream, frames);
    for (std::size_t i = 0; i < accumulator.size(); ++i)
        interleavedStereo[i] = std::int16_t(std::clamp<std::int32_t>(accumulator[i], INT16_MIN, INT16_MAX));
}

} // namespace flash
