#pragma once
// Turns a movie's sound (a DefineSound, or a stream's blocks) into the one format the mix uses:
// interleaved 16-bit stereo at 44100 Hz.

#include "flash/swf/SwfModel.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace flash {

constexpr int MixRate = 44100;

// Left, right, left, right... at MixRate.
using Pcm = std::vector<std::int16_t>;

// The longest sound one DefineSound decodes to, in frames at MixRate (ten minutes).
constexpr std::size_t MaxSoundFrames = std::size_t{MixRate} * 600;
// The longest sound one stream block decodes to (ten seconds; a block is one movie frame's sound).
constexpr std::size_t MaxBlockFrames = std::size_t{MixRate} * 10;

// Whether this build can decode the format (the codec is known and libavcodec has a decoder).
bool CanDecode(const SoundFormat& format);

// The whole sound, cut to its declared sample count when it has one. Empty, with one warning, when
// its codec is unknown or not available; bad data gives what could be decoded of it.
Pcm DecodeSound(const Sound& sound);

// Decodes a stream's blocks in order, carrying codec and resampler state from block to block.
class StreamDecoder {
public:
    explicit StreamDecoder(const SoundStreamHead& head);
    ~StreamDecoder();
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    // The sound of the next block; empty for a block without sound or an unsupported codec (the
    // warning for which comes once, when the decoder is made).
    Pcm Decode(const QByteArray& block);
    // Forgets what was carried over: the next block starts a fresh run, as after a jump in the
    // timeline (for MP3 its SeekSamples are skipped again).
    void Restart();

private:
    struct State;
    std::unique_ptr<State> state;
};

} // namespace flash
