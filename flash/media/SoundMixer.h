#pragma once
// The movie's one mix: event sounds started by the timelines and the stream sound of each timeline
// (the main one and every sprite instance), as interleaved 16-bit stereo at 44100 Hz. The timeline
// drives it from the GUI thread while the sound output pulls the mix from its own thread.

#include "flash/media/SoundDecoder.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace flash {

class SoundMixer {
public:
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
    // The sound is decoded on its first start and kept for later starts.
    void StartEventSound(std::uint16_t id, std::shared_ptr<const Sound> sound, const SoundInfo& info);
    void StopEventSound(std::uint16_t id);
    // Ends every event sound and drops what the streams have queued (they go on with new blocks).
    void StopAllSounds();

    // Starts (or starts over) the stream of the timeline Key: anything it still had queued is
    // dropped and its time is 0.
    void BeginStream(const void* timelineKey, const SoundStreamHead& head);
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
};

} // namespace flash
