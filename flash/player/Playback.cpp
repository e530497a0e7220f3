#include "flash/player/Playback.h"

#include <algorithm>
#include <cmath>

namespace flash {

namespace {

// Rounding slack for times computed in floating point: a time a hair under a tick is that tick.
constexpr double TimeSlack = 1e-9;

} // namespace

Playback::Playback(std::shared_ptr<const Movie> movie, Player::TraceHandler trace, Player::TraceHandler notes)
    : frameRate(movie->frameRate > 0 ? movie->frameRate : DefaultFrameRate) {
    player = std::make_unique<Player>(std::move(movie), &mixer, std::move(trace), std::move(notes));
}

long long Playback::TickSoundFrame(long long tick) const {
    return static_cast<long long>(std::floor(double(tick) * MixRate / frameRate + TimeSlack));
}

void Playback::AdvanceTo(double seconds, std::vector<std::int16_t>& sound) {
    const auto due = static_cast<long long>(std::floor(seconds * frameRate + TimeSlack));
    while (ticks < due) {
        MixTo(TickSoundFrame(ticks + 1), sound);
        ++ticks;
        player->Tick();
    }
    MixTo(static_cast<long long>(std::floor(seconds * MixRate + TimeSlack)), sound);
}

void Playback::MixOn(long long frames, std::vector<std::int16_t>& sound) {
    MixTo(mixed + frames, sound);
}

void Playback::MixTo(long long soundFrame, std::vector<std::int16_t>& sound) {
    if (soundFrame <= mixed)
        return;
    while (mixed < soundFrame) {
        const auto frames = static_cast<int>(std::min<long long>(soundFrame - mixed, MixRate));
        const std::size_t start = sound.size();
        sound.resize(start + std::size_t(frames) * 2);
        mixer.Render(sound.data() + start, frames);
        mixed += frames;
    }
}

} // namespace flash
