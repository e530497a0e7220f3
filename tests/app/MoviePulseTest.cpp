// A movie's sound reaches the sound card: played by the control into the private server's sink, it
// is what the sink's monitor (the recording source) carries.
#include "SwfWriter.h"
#include "TestFiles.h"
#include "app/ShockwaveFlashObjects.h"
#include "audio/WaveRecorders.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {
// Four seconds of a 1 kHz tone at 44.1 kHz, 16-bit mono, started by the first frame.
QByteArray ToneMovie() {
    QByteArray samples;
    const int count = 44100 * 4;
    for (int i = 0; i < count; ++i) {
        const auto value = std::int16_t(std::lround(16000 * std::sin(2 * M_PI * 1000 * i / 44100.0)));
        samples.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
    }
    SoundFormat format;
    format.codec = 3; // uncompressed little-endian
    format.rateCode = 3;
    format.is16Bit = true;
    format.stereo = false;
    StartSound start;
    start.soundId = 1;
    MovieBuilder movie;
    movie.Stage({0, 2000, 0, 2000}).FrameRate(10).FrameCount(200);
    movie.Add(DefineSound(1, format, std::uint32_t(count), samples));
    movie.Add(StartSoundTag(start));
    movie.Add(ShowFrame());
    return movie.Build();
}
} // namespace

TEST(MovieSound, PlayingAMovieWithAToneSoundsInTheSinksMonitor) {
    TestDir dir;
    WriteWholeFile(dir.path("tone.swf"), ToneMovie());
    TShockwaveFlash control;
    control.SetMovie(dir.path("tone.swf"));
    ASSERT_EQ(control.TotalFrames(), 200);
    PumpFor(2500); // a null sink that was idle feeds its monitor a moment after sound starts

    const QString name = dir.path("heard.wav");
    TStockAudioRecorder recorder;
    bool activated = false;
    recorder.OnActivate = [&](TWaveAudioIO*) { activated = true; };
    ASSERT_TRUE(recorder.RecordToWaveFile(name));
    ASSERT_TRUE(PumpUntil([&] { return activated; }));
    PumpFor(800);
    recorder.SetActive(false);
    ASSERT_TRUE(PumpUntil([&] { return !recorder.GetActive(); }));

    const QByteArray audio = ReadWholeFile(name).mid(46);
    ASSERT_GT(audio.size(), 8000); // more than half a second at 8000 Hz 16-bit
    double sum = 0;
    int crossings = 0;
    std::int16_t previous = 0;
    const int count = int(audio.size() / 2);
    for (int i = 0; i < count; ++i) {
        const auto sample = std::int16_t(std::uint8_t(audio[2 * i]) | std::uint8_t(audio[2 * i + 1]) << 8);
        sum += double(sample) * sample;
        crossings += i > 0 && (previous < 0) != (sample < 0);
        previous = sample;
    }
    EXPECT_GT(std::sqrt(sum / count), 4000); // the tone, not silence
    const double frequency = crossings / 2.0 / (count / 8000.0);
    EXPECT_NEAR(frequency, 1000, 30);
}
