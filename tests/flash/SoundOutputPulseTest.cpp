// The movie's sound on a real sound server: what the output plays reaches the sink, at the pace of
// the sink's clock, and a server that goes away ends the output cleanly.
#include "PrivatePulseServer.h"
#include "TestFiles.h"
#include "flash/media/SoundMixer.h"
#include "flash/media/SoundOutput.h"

#include <QElapsedTimer>
#include <QProcess>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>

using namespace flash;
using namespace std::chrono_literals;

namespace {

// A 1 kHz tone at half scale, as a 44.1 kHz 16-bit mono sound.
std::shared_ptr<const Sound> Tone(int Frames) {
    Sound sound;
    sound.format.codec = 3;
    sound.format.rateCode = 3;
    sound.sampleCount = std::uint32_t(Frames);
    for (int i = 0; i < Frames; ++i) {
        const auto sample = std::int16_t(std::lround(16384 * std::sin(2 * M_PI * 1000 * i / 44100.0)));
        sound.data += char(sample & 0xFF);
        sound.data += char((sample >> 8) & 0xFF);
    }
    return std::make_shared<const Sound>(std::move(sound));
}

TEST(SoundOutputPulse, TheDefaultSinkPlaysTheMix) {
    SoundMixer mixer;
    SoundInfo repeat;
    repeat.loopCount = 60;
    mixer.StartEventSound(1, Tone(44100), repeat);
    SoundOutput output(mixer);
    ASSERT_TRUE(output.Start());
    EXPECT_TRUE(output.Running());
    EXPECT_TRUE(output.Start()) << "already playing";
    // An idle null sink feeds its monitor only after about 2 s of playing.
    PumpFor(2500);

    QProcess recorder;
    recorder.start("parec", {"--raw", "--format=s16le", "--rate=44100", "--channels=2",
                             "--device=vantrel_sink.monitor", "--latency-msec=20"});
    ASSERT_TRUE(recorder.waitForStarted());
    PumpFor(1500);
    recorder.terminate();
    ASSERT_TRUE(recorder.waitForFinished());
    const QByteArray recorded = recorder.readAllStandardOutput();
    ASSERT_GT(recorded.size(), 44100 * 4 / 2) << recorder.readAllStandardError().toStdString();

    // The last half second, side by side: loud, and 2000 zero crossings a second.
    const auto* samples = reinterpret_cast<const std::int16_t*>(recorded.constData());
    const std::size_t frames = std::size_t(recorded.size()) / 4, from = frames - 22050;
    for (int side : {0, 1}) {
        SCOPED_TRACE(side);
        double sum = 0;
        int crossings = 0;
        for (std::size_t i = from; i < frames; ++i) {
            const double sample = samples[2 * i + std::size_t(side)];
            sum += sample * sample;
            crossings += (samples[2 * (i - 1) + std::size_t(side)] < 0) != (sample < 0);
        }
        EXPECT_NEAR(std::sqrt(sum / 22050), 16384 / M_SQRT2, 1600);
        EXPECT_NEAR(crossings / 0.5, 2000, 40);
    }

    output.Stop();
    EXPECT_FALSE(output.Running());
    EXPECT_TRUE(output.Start()) << "starts again after a stop";
}

TEST(SoundOutputPulse, AStreamKeepsThePaceOfTheSinkClock) {
    SoundMixer mixer;
    int key = 0;
    SoundStreamHead head;
    head.streamFormat.codec = 3;
    head.streamFormat.rateCode = 3;
    head.samplesPerBlock = 1470;
    mixer.BeginStream(&key, head);
    const QByteArray block = Tone(1470)->data;
    for (int frame = 0; frame < 150; ++frame) // 5 s
        mixer.PushStreamBlock(&key, frame, block);

    SoundOutput output(mixer);
    ASSERT_TRUE(output.Start());
    // An idle null sink first sleeps for up to its latency (2 s) before it pulls steadily.
    ASSERT_TRUE(PumpUntil([&] { return mixer.StreamTime(&key) > 0.5; }, 5000));
    const double start = mixer.StreamTime(&key);
    QElapsedTimer clock;
    clock.start();
    PumpFor(1500);
    const double played = mixer.StreamTime(&key) - start;
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    EXPECT_NEAR(played, elapsed, 0.1);
}

TEST(SoundOutputPulse, AServerThatDiesEndsTheOutput) {
    TPrivatePulseServer server;

    SoundMixer mixer;
    mixer.StartEventSound(1, Tone(44100), {});
    SoundOutput output(mixer);
    ASSERT_TRUE(output.Start());
    PumpFor(300);
    EXPECT_TRUE(output.Running());

    ASSERT_GT(server.Pid(), 0);
    ASSERT_EQ(::kill(server.Pid(), SIGKILL), 0);
    EXPECT_TRUE(PumpUntil([&] { return !output.Running(); }, 5000));
    std::vector<std::int16_t> buffer(2 * 64);
    mixer.Render(buffer.data(), 64); // the mix itself goes on
    output.Stop();
    server.Stop();

    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(output.Start());
    EXPECT_LT(timer.elapsed(), 2000);
}

} // namespace
