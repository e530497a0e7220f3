#pragma once
// Plays a SoundMixer on the sound server's sink where the program's sound goes (PlaybackSink: the
// default sink unless one is named), pulling the mix from the server's own thread; or renders the
// same mix offline into a buffer.

#include <QByteArray>

#include <memory>

namespace flash {

class SoundMixer;

class SoundOutput {
public:
    explicit SoundOutput(SoundMixer& mixer);
    ~SoundOutput();
    SoundOutput(const SoundOutput&) = delete;
    SoundOutput& operator=(const SoundOutput&) = delete;

    // Connects and starts playing (true at once when already playing). False without a server,
    // at once when none listens and within about 1.5 s when one does not answer: the movie then
    // plays silently.
    bool Start();
    void Stop();
    // False after Stop, and once the server went away or dropped the stream.
    bool Running() const;

private:
    struct Connection;
    SoundMixer& mixer;
    std::unique_ptr<Connection> connection;
};

// Seconds of the mix (rounded to whole frames) as interleaved 16-bit little-endian stereo at
// 44100 Hz, pulled in the small pieces a sound server asks for, without one.
QByteArray RenderOffline(SoundMixer& mixer, double seconds);

} // namespace flash
