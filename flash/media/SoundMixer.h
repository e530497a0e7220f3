#pragma once
// The movie's one mix: event sounds started by the timelines and the stream sound of each timeline
// (the main one and every sprite instance), as interleaved 16-bit stereo at 44100 Hz. The timeline
// drives it from the GUI thread while the sound output pulls the mix from its own thread.
//
// Scripts' sound controls act through scopes: a scope (a clip, or every sound) has levels that route
// and scale the two channels; a voice or stream plays through the levels of each scope it was started
// in and of GlobalScope. Voices a script started are tracked: the script learns where they are and
// when they end. Scopes with levels and end reports pending are bounded (MaxScopes, MaxEndReports).

#include "flash/media/SoundDecoder.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace flash {

// How a sound's two channels reach the speakers, 1 being full level:
// left out = ll * left in + lr * right in, right out = rl * left in + rr * right in.
struct SoundLevels {
    float ll = 1, lr = 0, rl = 0, rr = 1;
    bool operator==(const SoundLevels&) const = default;
};
// Levels applied after inner ones: outer(inner(sound)).
SoundLevels operator*(const SoundLevels& outer, const SoundLevels& inner);

// The scopes a sound plays in, innermost first (the mix's GlobalScope is implied), and whether its
// position and end are reported.
struct VoiceScope {
    std::vector<std::uint64_t> scopes;
    bool tracked = false;
};

class SoundMixer {
public:
    // Every sound plays through this scope's levels.
    static constexpr std::uint64_t GlobalScope = ~std::uint64_t{0};
    // Scopes holding levels other than full; setting more is refused (far more clips than a stage
    // shows at once).
    static constexpr std::size_t MaxScopes = 4096;
    // Ends of tracked voices nobody has taken yet; older ones are dropped.
    static constexpr std::size_t MaxEndReports = 1024;

    struct VoiceEnd {
        std::uint64_t voice = 0;
        bool completed = false;   // played to its end (not stopped)
        std::size_t position = 0; // frames from the start of the sound, within its last loop
    };

    // Event sounds playing at once; starting one more ends the oldest.
    static constexpr std::size_t MaxEventSounds = 64;
    // Sound a stream holds ahead of what was played; more drops its oldest part (nobody is
    // pulling the mix).
    static constexpr std::size_t MaxQueuedStreamFrames = std::size_t{MixRate} * 30;

    SoundMixer();
    ~SoundMixer();
    SoundMixer(const SoundMixer&) = delete;
    SoundMixer& operator=(const SoundMixer&) = delete;

    // Starts sound Id as Info says: a sync stop stops every instance of it and starts nothing; a
    // no-multiple start does nothing while one plays. In and out points and envelope positions are
    // in 44.1 kHz samples from the start of the sound; the envelope runs on through the loops.
    // The sound is decoded on its first start and kept for later starts. Returns the voice's number
    // (never 0), or 0 when nothing started.
    std::uint64_t StartEventSound(std::uint16_t id, std::shared_ptr<const Sound> sound, const SoundInfo& info,
                                  const VoiceScope& scope = {});
    void StopEventSound(std::uint16_t id);
    // Ends the event sounds started in the scope (of sound Id only, when given); GlobalScope: all.
    void StopScopeSounds(std::uint64_t scope, std::optional<std::uint16_t> id = std::nullopt);
    // Levels of a scope, for what plays in it now and later; full levels forget the scope.
    void SetScopeLevels(std::uint64_t scope, const SoundLevels& levels);
    // Where a voice is (frames from the start of the sound, within its loop); nothing once it ended.
    std::optional<std::size_t> VoicePosition(std::uint64_t voice) const;
    // The tracked voices that ended since the last call, in the order they ended.
    std::vector<VoiceEnd> TakeVoiceEnds();
    // Ends every event sound and drops what the streams have queued (they go on with new blocks).
    void StopAllSounds();

    // Starts (or starts over) the stream of the timeline Key, playing in the scopes given (innermost
    // first): anything it still had queued is dropped and its time is 0.
    void BeginStream(const void* timelineKey, const SoundStreamHead& head,
                     std::vector<std::uint64_t> scopes = {});
    // Decodes the block of frame Frame and queues its sound. Blocks are expected frame after frame:
    // a frame at or before the last one is a jump back (queued sound is dropped, decoding starts
    // afresh); a later frame than the next one only starts decoding afresh. No stream, no sound.
    void PushStreamBlock(const void* timelineKey, int frame, const QByteArray& blockData);
    void StopStream(const void* timelineKey);
    // Seconds of the stream's sound that the mix has played since BeginStream (it stands still
    // while the stream has nothing queued); -1 when the timeline has no stream.
    double StreamTime(const void* timelineKey) const;

    // Whether an event sound plays or a stream has sound queued: a mix now would not be silence.
    bool Sounding() const;

    // Mixes the next Frames frames of all playing event sounds and streams, clipped to 16 bits.
    void Render(std::int16_t* interleavedStereo, int frames);

private:
    struct Voice;
    struct Stream;
    struct StreamControl;

    std::shared_ptr<const Pcm> Decoded(const std::shared_ptr<const Sound>& sound);
    void MixVoice(Voice& voice, int frames);
    void MixStream(Stream& stream, int frames);
    // The levels of the scopes and of GlobalScope together; under mixLock.
    SoundLevels LevelsFor(const std::vector<std::uint64_t>& scopes) const;
    // Removes the voices that match, reporting the tracked ones as stopped; under mixLock.
    template <typename Match> void EndVoices(Match match);

    // Taken first by the timeline's calls (decoding happens under it alone), so that Render waits
    // only for short changes to the playing state under mixLock.
    std::mutex controlLock;
    std::map<const void*, std::unique_ptr<StreamControl>> controls;
    struct CachedSound {
        std::weak_ptr<const Sound> owner;
        std::shared_ptr<const Pcm> pcm;
    };
    std::map<const Sound*, CachedSound> cache;

    mutable std::mutex mixLock;
    std::vector<std::unique_ptr<Voice>> voices;
    std::map<const void*, std::unique_ptr<Stream>> streams;
    std::vector<std::int32_t> accumulator;
    std::map<std::uint64_t, SoundLevels> scopeLevels;
    std::vector<VoiceEnd> ends;
    std::uint64_t lastVoice = 0;
};

} // namespace flash
