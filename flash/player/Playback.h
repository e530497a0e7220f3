#pragma once
// Plays a movie without a screen or a sound server, on a virtual clock: the player's ticks at the
// movie's frame rate, and the movie's one mix taken from the same clock. Tick n happens at n / rate
// seconds, which is sample floor(n * MixRate / rate) of the sound; a sound a tick starts begins on
// that sample. What a viewer sees at time t is the stage after every tick due by t.
//
// Input (mouse, keys) goes to the player between calls, at the time the playback has reached.
// A movie whose header gives no frame rate plays at DefaultFrameRate, as the player control does.

#include "flash/media/SoundMixer.h"
#include "flash/player/Player.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace flash {

class Playback {
public:
    static constexpr double DefaultFrameRate = 12;

    explicit Playback(std::shared_ptr<const Movie> movie, Player::TraceHandler trace = {},
                      Player::TraceHandler notes = {});
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    Player& GetPlayer() { return *player; }
    const Player& GetPlayer() const { return *player; }
    double FrameRate() const { return frameRate; }
    // Ticks played since the first frame was shown.
    long long Ticks() const { return ticks; }
    // Sound frames (stereo pairs at MixRate) mixed so far.
    long long SoundFrames() const { return mixed; }

    // Plays on to `seconds`: runs every tick due by then and appends the sound up to then to
    // `sound` (16-bit stereo at MixRate, interleaved). Time never goes back.
    void AdvanceTo(double seconds, std::vector<std::int16_t>& sound);
    // Mixes `frames` more sound frames without ticking: the sound after the picture has ended.
    void MixOn(long long frames, std::vector<std::int16_t>& sound);
    // Whether a sound is playing or queued.
    bool Sounding() const { return mixer.Sounding(); }

    // The time of tick n, in sound frames.
    long long TickSoundFrame(long long tick) const;

private:
    void MixTo(long long soundFrame, std::vector<std::int16_t>& sound);

    SoundMixer mixer; // declared first: the player stops its streams in it when it goes
    std::unique_ptr<Player> player;
    double frameRate;
    long long ticks = 0;
    long long mixed = 0;
};

} // namespace flash
