#include "flash/media/SoundMixer.h"

#include <algorithm>
#include <deque>

namespace flash {

struct SoundMixer::Voice {
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

void SoundMixer::StartEventSound(std::uint16_t id, std::shared_ptr<const Sound> sound,
                                 const SoundInfo& info) {
    std::lock_guard control(controlLock);
    const auto playing = [this, id] {
        return std::any_of(voices.begin(), voices.end(), [id](const auto& voice) { return voice->id == id; });
    };
    if (info.syncStop) {
        std::lock_guard mix(mixLock);
        std::erase_if(voices, [id](const auto& voice) { return voice->id == id; });
        return;
    }
    if (sound == nullptr)
        return;
    if (info.syncNoMultiple) {
        std::lock_guard mix(mixLock);
        if (playing())
            return;
    }

    auto voice = std::make_unique<Voice>();
    voice->id = id;
    voice->pcm = Decoded(sound);
    const std::size_t frames = voice->pcm->size() / 2;
    voice->begin = std::min<std::size_t>(info.inPoint.value_or(0), frames);
    voice->end = info.outPoint ? std::min<std::size_t>(std::size_t{*info.outPoint} + 1, frames) : frames;
    if (voice->end <= voice->begin)
        return;
    voice->loopsLeft = std::max<std::uint32_t>(info.loopCount, 1) - 1;
    voice->position = voice->begin;
    voice->envelopeTime = voice->begin;
    voice->envelope = info.envelope;
    std::stable_sort(voice->envelope.begin(), voice->envelope.end(),
                     [](const auto& a, const auto& b) { return a.position44 < b.position44; });

    std::lock_guard mix(mixLock);
    if (info.syncNoMultiple && playing())
        return;
    if (voices.size() >= MaxEventSounds)
        voices.erase(voices.begin());
    voices.push_back(std::move(voice));
}

void SoundMixer::StopEventSound(std::uint16_t id) {
    std::lock_guard mix(mixLock);
    std::erase_if(voices, [id](const auto& voice) { return voice->id == id; });
}

void SoundMixer::StopAllSounds() {
    std::lock_guard mix(mixLock);
    voices.clear();
    for (auto& [key, stream] : streams)
        stream->Clear();
}

void SoundMixer::BeginStream(const void* timelineKey, const SoundStreamHead& head) {
    std::lock_guard control(controlLock);
    controls[timelineKey] = std::make_unique<StreamControl>(head);
    auto stream = std::make_unique<Stream>();
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

void SoundMixer::MixVoice(Voice& voice, int frames) {
    const std::int16_t* samples = voice.pcm->data();
    std::int32_t* into = accumulator.data();
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
            for (std::size_t i = 0; i < run * 2; ++i)
                to[i] += from[i];
            voice.envelopeTime += run;
        } else {
            for (std::size_t i = 0; i < run; ++i, ++voice.envelopeTime) {
                const auto [left, right] = voice.Levels();
                to[2 * i] += std::int32_t(float(from[2 * i]) * left);
                to[2 * i + 1] += std::int32_t(float(from[2 * i + 1]) * right);
            }
        }
        voice.position += run;
        at += run;
    }
    voice.done = voice.position >= voice.end && voice.loopsLeft == 0;
}

void SoundMixer::MixStream(Stream& stream, int frames) {
    std::size_t at = 0;
    while (at < std::size_t(frames) && !stream.queue.empty()) {
        const Pcm& head = stream.queue.front();
        const std::size_t run = std::min(std::size_t(frames) - at, head.size() / 2 - stream.headFrame);
        const std::int16_t* from = head.data() + stream.headFrame * 2;
        std::int32_t* to = accumulator.data() + at * 2;
        for (std::size_t i = 0; i < run * 2; ++i)
            to[i] += from[i];
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
    std::erase_if(voices, [](const auto& voice) { return voice->done; });
    for (auto& [key, stream] : streams)
        MixStream(*stream, frames);
    for (std::size_t i = 0; i < accumulator.size(); ++i)
        interleavedStereo[i] = std::int16_t(std::clamp<std::int32_t>(accumulator[i], INT16_MIN, INT16_MAX));
}

} // namespace flash
