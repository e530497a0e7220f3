// A movie's sound: decoding every format to the mix format, the event-sound and stream rules of
// the mix, and the mix rendered offline.
#include "TestFiles.h"
#include "flash/media/SoundDecoder.h"
#include "flash/media/SoundMixer.h"
#include "flash/media/SoundOutput.h"

#include <QElapsedTimer>
#include <QStringList>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <thread>

using namespace flash;

namespace {

SoundFormat Format(std::uint8_t Codec, std::uint8_t RateCode, bool Is16Bit, bool Stereo) {
    SoundFormat format;
    format.codec = Codec;
    format.rateCode = RateCode;
    format.is16Bit = Is16Bit;
    format.stereo = Stereo;
    return format;
}

std::shared_ptr<const Sound> MakeSound(const SoundFormat& Format, std::uint32_t Count,
                                       const QByteArray& Data) {
    return std::make_shared<const Sound>(Sound{Format, Count, Data});
}

QByteArray Le16(const std::vector<std::int16_t>& Samples) {
    QByteArray bytes;
    for (std::int16_t sample : Samples) {
        bytes += char(sample & 0xFF);
        bytes += char((sample >> 8) & 0xFF);
    }
    return bytes;
}

// A 44.1 kHz 16-bit mono sound of the given samples.
std::shared_ptr<const Sound> Mono44(const std::vector<std::int16_t>& Samples) {
    return MakeSound(Format(3, 3, true, false), std::uint32_t(Samples.size()), Le16(Samples));
}

std::vector<std::int16_t> Ramp(int Count, int From = 0) {
    std::vector<std::int16_t> samples(std::size_t(Count), 0);
    for (int i = 0; i < Count; ++i)
        samples[std::size_t(i)] = std::int16_t(From + i);
    return samples;
}

std::vector<std::int16_t> Constant(int Count, std::int16_t Value) {
    return std::vector<std::int16_t>(std::size_t(Count), Value);
}

// Interleaved stereo holding Mono on both sides.
Pcm BothSides(const std::vector<std::int16_t>& Mono) {
    Pcm pcm;
    for (std::int16_t sample : Mono) {
        pcm.push_back(sample);
        pcm.push_back(sample);
    }
    return pcm;
}

Pcm Render(SoundMixer& Mixer, int Frames) {
    Pcm pcm(std::size_t(Frames) * 2, 0);
    Mixer.Render(pcm.data(), Frames);
    return pcm;
}

std::vector<std::int16_t> Side(const Pcm& Stereo, int Which) {
    std::vector<std::int16_t> side;
    for (std::size_t i = std::size_t(Which); i < Stereo.size(); i += 2)
        side.push_back(Stereo[i]);
    return side;
}

// The middle half of a signal, clear of codec lead-ins and tails.
std::vector<std::int16_t> Middle(const std::vector<std::int16_t>& Samples) {
    return {Samples.begin() + std::ptrdiff_t(Samples.size() / 4),
            Samples.begin() + std::ptrdiff_t(Samples.size() * 3 / 4)};
}

// The frequency of a pure tone at 44.1 kHz, from its zero crossings.
double Frequency(const std::vector<std::int16_t>& Samples) {
    int crossings = 0;
    for (std::size_t i = 1; i < Samples.size(); ++i)
        crossings += (Samples[i - 1] < 0) != (Samples[i] < 0);
    return crossings / 2.0 / (double(Samples.size()) / MixRate);
}

double Rms(const std::vector<std::int16_t>& Samples) {
    double sum = 0;
    for (std::int16_t sample : Samples)
        sum += double(sample) * sample;
    return Samples.empty() ? 0 : std::sqrt(sum / double(Samples.size()));
}

// What ffmpeg makes of a 1 kHz sine in the given encoding.
QByteArray Encoded(int Rate, double Seconds, const QStringList& Encoding) {
    QStringList arguments = {
        "-v", "error",
        "-f", "lavfi",
        "-i", QStringLiteral("sine=frequency=1000:sample_rate=%1:duration=%2").arg(Rate).arg(Seconds)};
    return RunProgram("ffmpeg", arguments + Encoding + QStringList{"-"});
}

// The RMS of the middle half of ffmpeg's own decoding of an encoded file, at its own rate and
// layout: lossy codecs and ffmpeg's quieter mono-to-stereo copy change the level.
double ReferenceRms(const QByteArray& Encoded) {
    TestDir dir;
    WriteWholeFile(dir.path("encoded"), Encoded);
    const QByteArray raw =
        RunProgram("ffmpeg", {"-v", "error", "-i", dir.path("encoded"), "-f", "s16le", "-"});
    const auto* samples = reinterpret_cast<const std::int16_t*>(raw.constData());
    return Rms(Middle(std::vector<std::int16_t>(samples, samples + raw.size() / 2)));
}

// The payloads of an FLV file's audio tags (each one packet), without their sound header byte.
std::vector<QByteArray> FlvAudioPackets(const QByteArray& Flv) {
    std::vector<QByteArray> packets;
    const auto byte = [&Flv](qsizetype At) { return qsizetype(std::uint8_t(Flv[At])); };
    if (Flv.size() < 13 || !Flv.startsWith("FLV"))
        return packets;
    qsizetype at = (byte(5) << 24 | byte(6) << 16 | byte(7) << 8 | byte(8)) + 4;
    while (at + 11 <= Flv.size()) {
        const qsizetype size = byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
        if (at + 11 + size > Flv.size())
            break;
        if (byte(at) == 8 && size > 1)
            packets.push_back(Flv.mid(at + 12, size - 1));
        at += 11 + size + 4;
    }
    return packets;
}

QByteArray Join(const std::vector<QByteArray>& Packets) {
    QByteArray joined;
    for (const QByteArray& packet : Packets)
        joined += packet;
    return joined;
}

// A stream block of MP3 frames: SampleCount and SeekSamples first.
QByteArray Mp3Block(const QByteArray& Frames, std::uint16_t Samples, std::int16_t Seek) {
    return Le16({std::int16_t(Samples), Seek}) + Frames;
}

// Counts the warnings issued while it lives.
class WarningCounter {
public:
    WarningCounter() {
        count = 0;
        previous = qInstallMessageHandler(&WarningCounter::Handle);
    }
    ~WarningCounter() { qInstallMessageHandler(previous); }
    int Count() const { return count; }
    void Reset() { count = 0; }

private:
    static void Handle(QtMsgType Type, const QMessageLogContext&, const QString&) {
        if (Type == QtWarningMsg)
            ++count;
    }
    static inline int count = 0;
    QtMessageHandler previous = nullptr;
};

// --- Decoding ---

TEST(SoundDecoding, UncompressedSoundsAtEveryRateSizeAndLayout) {
    constexpr int Rates[] = {5512, 11025, 22050, 44100};
    for (std::uint8_t codec : {0, 3})
        for (std::uint8_t rateCode = 0; rateCode < 4; ++rateCode)
            for (bool is16 : {false, true})
                for (bool stereo : {false, true}) {
                    SCOPED_TRACE(testing::Message()
                                 << "codec " << int(codec) << " rate " << Rates[rateCode]
                                 << (is16 ? " 16-bit" : " 8-bit") << (stereo ? " stereo" : " mono"));
                    // Left 300 Hz, right 700 Hz, so that crossed or mixed sides show.
                    const double rate = rateCode == 0 ? 5512.5 : Rates[rateCode];
                    const int count = int(rate / 4);
                    QByteArray data;
                    std::vector<std::int16_t> left;
                    const auto store = [&](double Value) {
                        const auto sample = std::int16_t(std::lround(Value));
                        if (is16)
                            data += Le16({sample});
                        else
                            data += char(std::uint8_t(128 + (sample >> 8)));
                        return is16 ? sample : std::int16_t((sample >> 8) * 256);
                    };
                    for (int i = 0; i < count; ++i) {
                        left.push_back(store(12000 * std::sin(2 * M_PI * 300 * i / rate)));
                        if (stereo)
                            store(12000 * std::sin(2 * M_PI * 700 * i / rate));
                    }
                    const Pcm pcm =
                        DecodeSound(*MakeSound(Format(codec, rateCode, is16, stereo), count, data));
                    const int factor = rateCode == 0 ? 8 : 44100 / Rates[rateCode];
                    ASSERT_EQ(pcm.size(), std::size_t(count) * factor * 2);
                    if (rateCode == 3) { // nothing to resample: exact
                        EXPECT_EQ(Side(pcm, 0), left);
                        EXPECT_EQ(Side(pcm, 1) == left, !stereo);
                    }
                    EXPECT_NEAR(Frequency(Middle(Side(pcm, 0))), 300, 6);
                    EXPECT_NEAR(Frequency(Middle(Side(pcm, 1))), stereo ? 700 : 300, 6);
                    EXPECT_NEAR(Rms(Middle(Side(pcm, 0))), 12000 / M_SQRT2, 400);
                }
}

struct CodecCase {
    const char* name;
    SoundFormat format;
    int rate; // of the encoding
    QStringList encoding;
};

std::vector<CodecCase> EventCodecCases() {
    const auto flv = [](QStringList Codec) { return Codec + QStringList{"-f", "flv"}; };
    return {
        {"ADPCM 22 kHz stereo", Format(1, 2, true, true), 22050,
         flv({"-c:a", "adpcm_swf", "-ar", "22050", "-ac", "2"})},
        {"ADPCM 11 kHz mono", Format(1, 1, true, false), 11025,
         flv({"-c:a", "adpcm_swf", "-ar", "11025", "-ac", "1"})},
        {"MP3 44 kHz mono", Format(2, 3, true, false), 44100,
         flv({"-c:a", "libmp3lame", "-b:a", "96k", "-ar", "44100", "-ac", "1"})},
        {"MP3 22 kHz stereo", Format(2, 2, true, true), 22050,
         flv({"-c:a", "libmp3lame", "-b:a", "64k", "-ar", "22050", "-ac", "2"})},
        {"MP3 11 kHz mono", Format(2, 1, true, false), 11025,
         flv({"-c:a", "libmp3lame", "-b:a", "32k", "-ar", "11025", "-ac", "1"})},
        {"Nellymoser 16 kHz", Format(4, 0, true, false), 16000, flv({"-c:a", "nellymoser", "-ar", "16000"})},
        {"Nellymoser 8 kHz", Format(5, 0, true, false), 8000, flv({"-c:a", "nellymoser", "-ar", "8000"})},
        {"Nellymoser 22 kHz", Format(6, 2, true, false), 22050, flv({"-c:a", "nellymoser", "-ar", "22050"})},
        {"G.711 A-law", Format(7, 0, true, false), 8000, flv({"-c:a", "pcm_alaw", "-ar", "8000"})},
        {"G.711 mu-law", Format(8, 0, true, false), 8000, flv({"-c:a", "pcm_mulaw", "-ar", "8000"})},
        {"AAC", Format(10, 3, true, true), 44100, {"-c:a", "aac", "-ar", "44100", "-ac", "2", "-f", "adts"}},
    };
}

TEST(SoundDecoding, CompressedSoundsGiveTheirToneAtTheDeclaredLength) {
    for (const CodecCase& c : EventCodecCases()) {
        SCOPED_TRACE(c.name);
        if (!CanDecode(c.format)) {
            ADD_FAILURE() << "no decoder"; // all of them come with Debian's libavcodec
            continue;
        }
        // ADPCM: a single packet of at most 4096 samples makes a whole sound.
        const bool adpcm = c.format.codec == 1;
        const int count = adpcm ? 4000 : c.rate / 2;
        const QByteArray encoded = Encoded(c.rate, double(count) / c.rate, c.encoding);
        QByteArray data = c.format.codec == 10 ? encoded : Join(FlvAudioPackets(encoded));
        ASSERT_FALSE(data.isEmpty());
        if (c.format.codec == 2)
            data.prepend(QByteArray(2, 0)); // SeekSamples
        const Pcm pcm = DecodeSound(*MakeSound(c.format, std::uint32_t(count), data));

        const std::size_t declared = std::size_t(std::llround(count * 44100.0 / c.rate));
        EXPECT_LE(pcm.size() / 2, declared);
        EXPECT_GE(pcm.size() / 2, declared * 9 / 10);
        const double rms = ReferenceRms(encoded);
        for (int side : {0, 1}) {
            EXPECT_NEAR(Frequency(Middle(Side(pcm, side))), 1000, 15);
            EXPECT_NEAR(Rms(Middle(Side(pcm, side))), rms, rms * 0.05);
        }
    }
}

TEST(SoundDecoding, Mp3SeekSamplesSkipTheLeadIn) {
    const QByteArray frames = Join(FlvAudioPackets(
        Encoded(44100, 0.5, {"-c:a", "libmp3lame", "-ar", "44100", "-ac", "1", "-f", "flv"})));
    const SoundFormat mp3 = Format(2, 3, true, false);
    const Pcm whole = DecodeSound(*MakeSound(mp3, 0, Le16({0}) + frames));
    const Pcm skipped = DecodeSound(*MakeSound(mp3, 0, Le16({1000}) + frames));
    ASSERT_GT(whole.size(), 2 * 20000u);
    ASSERT_EQ(skipped.size() + 2 * 1000, whole.size());
    EXPECT_TRUE(std::equal(skipped.begin(), skipped.end(), whole.begin() + 2 * 1000));
    // A negative seek skips nothing.
    EXPECT_EQ(DecodeSound(*MakeSound(mp3, 0, Le16({-5}) + frames)), whole);
}

TEST(SoundDecoding, UnknownFormatsAndBadDataAreSafe) {
    WarningCounter warnings;
    for (std::uint8_t codec : {9, 12, 13, 14, 15}) {
        SCOPED_TRACE(int(codec));
        const SoundFormat format = Format(codec, 3, true, true);
        EXPECT_FALSE(CanDecode(format));
        warnings.Reset();
        EXPECT_TRUE(DecodeSound(*MakeSound(format, 100, QByteArray(400, 1))).empty());
        EXPECT_EQ(warnings.Count(), 1);

        warnings.Reset();
        SoundStreamHead head;
        head.streamFormat = format;
        StreamDecoder stream(head);
        for (int block = 0; block < 3; ++block)
            EXPECT_TRUE(stream.Decode(QByteArray(400, 1)).empty());
        EXPECT_EQ(warnings.Count(), 1) << "one note per stream, not per block";
    }

    // Noise and scraps in every format: what comes out stays inside the declared length.
    std::mt19937 random(7);
    QByteArray noise(30000, 0);
    for (char& byte : noise)
        byte = char(random());
    for (std::uint8_t codec : {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11})
        for (const QByteArray& data : {noise, noise.left(1), noise.left(3), QByteArray()}) {
            SCOPED_TRACE(testing::Message() << "codec " << int(codec) << ", " << data.size() << " bytes");
            const SoundFormat format = Format(codec, 2, true, true);
            // 1000 samples at the lowest rate a bit stream may claim (AAC's 7350 Hz).
            EXPECT_LE(DecodeSound(*MakeSound(format, 1000, data)).size(), 2 * 6000u);
            SoundStreamHead head;
            head.streamFormat = format;
            StreamDecoder stream(head);
            for (int block = 0; block < 3; ++block)
                EXPECT_LE(stream.Decode(data).size(), 2 * MaxBlockFrames);
        }
    // A partial frame at the end of uncompressed data is left out.
    EXPECT_EQ(DecodeSound(*MakeSound(Format(3, 3, true, true), 0, Le16({1, 2, 3}))), (Pcm{1, 2}));
}

// --- Event sounds ---

TEST(EventSounds, MixStopAndStartByIdentity) {
    SoundMixer mixer;
    const auto ramp = Mono44(Ramp(1000));
    const auto seven = Mono44(Constant(2000, 7));
    mixer.StartEventSound(1, ramp, {});
    mixer.StartEventSound(1, ramp, {}); // a second instance plays alongside
    mixer.StartEventSound(2, seven, {});
    EXPECT_EQ(Render(mixer, 3), BothSides({7, 9, 11}));

    mixer.StopEventSound(1);
    EXPECT_EQ(Render(mixer, 2), BothSides({7, 7}));

    SoundInfo syncStop;
    syncStop.syncStop = true;
    mixer.StartEventSound(1, ramp, {});
    mixer.StartEventSound(2, seven, syncStop); // stops 2 and starts nothing
    EXPECT_EQ(Render(mixer, 2), BothSides({0, 1}));

    mixer.StartEventSound(2, seven, {});
    mixer.StopAllSounds();
    EXPECT_EQ(Render(mixer, 2), BothSides({0, 0}));
}

TEST(EventSounds, NoMultipleStartsOnlyWhenThatSoundIsSilent) {
    SoundMixer mixer;
    const auto ramp = Mono44(Ramp(100));
    SoundInfo once;
    once.syncNoMultiple = true;
    mixer.StartEventSound(1, ramp, once);
    mixer.StartEventSound(1, ramp, once);
    mixer.StartEventSound(2, Mono44(Constant(100, 1000)), once); // another sound is no obstacle
    EXPECT_EQ(Render(mixer, 2), BothSides({1000, 1001}));
    Render(mixer, 98);
    EXPECT_EQ(Render(mixer, 1), BothSides({0}));
    mixer.StartEventSound(1, ramp, once);
    EXPECT_EQ(Render(mixer, 2), BothSides({0, 1}));
}

TEST(EventSounds, InAndOutPointsAndLoops) {
    struct Case {
        std::optional<std::uint32_t> in, out;
        std::uint16_t loops;
        std::vector<std::pair<int, int>> runs; // the ramp's [from, to) parts, one after the other
    };
    const Case cases[] = {
        {{}, {}, 1, {{0, 1000}}},
        {{}, {}, 0, {{0, 1000}}}, // no count plays once
        {{}, {}, 3, {{0, 1000}, {0, 1000}, {0, 1000}}},
        {100, 199, 2, {{100, 200}, {100, 200}}}, // the out point is the last sample played
        {900, {}, 2, {{900, 1000}, {900, 1000}}},
        {{}, 5000, 1, {{0, 1000}}},
        {1000, {}, 4, {}},
        {300, 200, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "in " << c.in.value_or(0) << " out " << c.out.value_or(0) << " loops " << c.loops);
        SoundMixer mixer;
        SoundInfo info;
        info.inPoint = c.in;
        info.outPoint = c.out;
        info.loopCount = c.loops;
        mixer.StartEventSound(1, Mono44(Ramp(1000, 1)), info);
        std::vector<std::int16_t> expected;
        for (const auto& [from, to] : c.runs)
            for (int i = from; i < to; ++i)
                expected.push_back(std::int16_t(i + 1));
        expected.resize(3500, 0);
        EXPECT_EQ(Render(mixer, 3500), BothSides(expected));
    }
}

TEST(EventSounds, EnvelopeLevelsRunFromTheSoundsStartThroughItsLoops) {
    const auto level = [](std::uint32_t At, std::uint16_t Left, std::uint16_t Right) {
        return SoundEnvelopePoint{At, Left, Right};
    };
    {
        SoundMixer mixer;
        SoundInfo info;
        // Given out of order: left fades in, right fades out over the first 1000 samples.
        info.envelope = {level(1000, 32768, 0), level(0, 0, 32768)};
        mixer.StartEventSound(1, Mono44(Constant(2000, 16000)), info);
        const Pcm pcm = Render(mixer, 2000);
        for (int at : {0, 250, 500, 999, 1000, 1500}) {
            SCOPED_TRACE(at);
            const double t = std::min(at, 1000) / 1000.0;
            EXPECT_NEAR(pcm[std::size_t(2 * at)], 16000 * t, 2);
            EXPECT_NEAR(pcm[std::size_t(2 * at + 1)], 16000 * (1 - t), 2);
        }
    }
    {
        // Positions count from the sound's first sample, so an in point starts part way along.
        SoundMixer mixer;
        SoundInfo info;
        info.inPoint = 500;
        info.envelope = {level(0, 0, 0), level(1000, 32768, 32768)};
        mixer.StartEventSound(1, Mono44(Constant(2000, 16000)), info);
        EXPECT_NEAR(Render(mixer, 1)[0], 8000, 2);
    }
    {
        // The second loop goes on along the envelope rather than starting it over.
        SoundMixer mixer;
        SoundInfo info;
        info.loopCount = 2;
        info.envelope = {level(0, 32768, 32768), level(1000, 0, 0)};
        mixer.StartEventSound(1, Mono44(Constant(600, 16000)), info);
        const Pcm pcm = Render(mixer, 1300);
        EXPECT_NEAR(pcm[2 * 800], 16000 * 0.2, 2);
        EXPECT_EQ(pcm[2 * 1100], 0);
        EXPECT_EQ(pcm[2 * 1250], 0);
    }
}

TEST(EventSounds, TheMixClipsAndKeepsTheNewestSounds) {
    SoundMixer mixer;
    mixer.StartEventSound(1, Mono44(Constant(10, 30000)), {});
    mixer.StartEventSound(2, Mono44(Constant(10, 30000)), {});
    mixer.StartEventSound(3, Mono44(Constant(10, -30000)), {});
    mixer.StartEventSound(4, Mono44(Constant(10, -30000)), {});
    mixer.StartEventSound(5, Mono44(Constant(10, -30000)), {});
    EXPECT_EQ(Render(mixer, 1), BothSides({-30000}));
    mixer.StopEventSound(3);
    mixer.StopEventSound(4);
    mixer.StopEventSound(5);
    mixer.StartEventSound(3, Mono44(Constant(10, 30000)), {});
    EXPECT_EQ(Render(mixer, 1), BothSides({32767}));

    mixer.StopAllSounds();
    const auto one = Mono44(Constant(10, 1));
    for (std::size_t i = 0; i < SoundMixer::MaxEventSounds + 6; ++i)
        mixer.StartEventSound(std::uint16_t(i), one, {});
    EXPECT_EQ(Render(mixer, 1), BothSides({std::int16_t(SoundMixer::MaxEventSounds)}));
}

TEST(EventSounds, AnUndecodableSoundStaysSilent) {
    SoundMixer mixer;
    WarningCounter warnings;
    const auto unknown = MakeSound(Format(15, 3, true, true), 100, QByteArray(400, 9));
    mixer.StartEventSound(1, unknown, {});
    mixer.StartEventSound(1, unknown, {});
    mixer.StartEventSound(2, nullptr, {});
    EXPECT_EQ(Render(mixer, 4), BothSides({0, 0, 0, 0}));
    EXPECT_EQ(warnings.Count(), 1) << "decoded once, noted once";
}

// --- Streams ---

SoundStreamHead Head(const SoundFormat& Format) {
    SoundStreamHead head;
    head.playbackFormat = Format;
    head.streamFormat = Format;
    head.samplesPerBlock = 1470;
    return head;
}

TEST(StreamSounds, BlocksPlayInOrderAndTheTimeCountsWhatWasPlayed) {
    SoundMixer mixer;
    int main = 0;
    const void* key = &main;
    EXPECT_EQ(mixer.StreamTime(key), -1);
    mixer.PushStreamBlock(key, 0, Le16(Ramp(10))); // no stream begun: ignored
    mixer.BeginStream(key, Head(Format(3, 3, true, false)));
    EXPECT_EQ(mixer.StreamTime(key), 0);
    for (int frame = 0; frame < 3; ++frame)
        mixer.PushStreamBlock(key, frame, Le16(Ramp(1470, 1 + 1470 * frame)));
    EXPECT_EQ(Render(mixer, 2000), BothSides(Ramp(2000, 1)));
    EXPECT_DOUBLE_EQ(mixer.StreamTime(key), 2000.0 / 44100);

    // Run dry, the stream is silent and its time stands still.
    std::vector<std::int16_t> rest = Ramp(4410 - 2000, 2001);
    rest.resize(3000, 0);
    EXPECT_EQ(Render(mixer, 3000), BothSides(rest));
    EXPECT_DOUBLE_EQ(mixer.StreamTime(key), 0.1);

    // Another timeline's stream mixes in alongside.
    int sprite = 0;
    mixer.BeginStream(&sprite, Head(Format(3, 3, true, true)));
    mixer.PushStreamBlock(&sprite, 0, Le16({100, 200}));
    mixer.PushStreamBlock(key, 3, Le16({5}));
    EXPECT_EQ(Render(mixer, 2), (Pcm{105, 205, 0, 0}));
    EXPECT_DOUBLE_EQ(mixer.StreamTime(&sprite), 1.0 / 44100);

    mixer.StopStream(key);
    EXPECT_EQ(mixer.StreamTime(key), -1);
    mixer.PushStreamBlock(key, 4, Le16({5}));
    EXPECT_EQ(Render(mixer, 1), (Pcm{0, 0}));
}

TEST(StreamSounds, JumpsRestartsAndStopAllDropWhatIsQueued) {
    SoundMixer mixer;
    int key = 0;
    const auto block = [](std::int16_t Value) { return Le16(Constant(100, Value)); };
    mixer.BeginStream(&key, Head(Format(3, 3, true, false)));
    mixer.PushStreamBlock(&key, 0, block(1));
    mixer.PushStreamBlock(&key, 1, block(2));
    mixer.PushStreamBlock(&key, 2, block(3));
    EXPECT_EQ(Render(mixer, 50), BothSides(Constant(50, 1)));

    // Back to frame 0: what was queued goes, the time goes on.
    mixer.PushStreamBlock(&key, 0, block(9));
    EXPECT_EQ(Render(mixer, 150), BothSides([] {
                  auto expected = Constant(100, 9);
                  expected.resize(150, 0);
                  return expected;
              }()));
    EXPECT_DOUBLE_EQ(mixer.StreamTime(&key), 150.0 / 44100);

    // A skipped frame keeps what is queued.
    mixer.PushStreamBlock(&key, 1, block(4));
    mixer.PushStreamBlock(&key, 5, block(5));
    EXPECT_EQ(Render(mixer, 200), BothSides([] {
                  auto expected = Constant(100, 4);
                  expected.resize(200, 5);
                  return expected;
              }()));

    mixer.PushStreamBlock(&key, 6, block(6));
    mixer.StopAllSounds();
    mixer.PushStreamBlock(&key, 7, block(7));
    EXPECT_EQ(Render(mixer, 1), BothSides({7}));

    mixer.BeginStream(&key, Head(Format(3, 3, true, false)));
    EXPECT_EQ(mixer.StreamTime(&key), 0);
    EXPECT_EQ(Render(mixer, 1), BothSides({0}));
}

TEST(StreamSounds, Mp3BlocksPlayLikeTheWholeSound) {
    const std::vector<QByteArray> frames =
        FlvAudioPackets(Encoded(44100, 1, {"-c:a", "libmp3lame", "-ar", "44100", "-ac", "1", "-f", "flv"}));
    ASSERT_GT(frames.size(), 30u);
    const SoundFormat mp3 = Format(2, 3, true, false);
    const Pcm whole = DecodeSound(*MakeSound(mp3, 0, Le16({0}) + Join(frames)));

    for (std::int16_t seek : {0, 700}) {
        SCOPED_TRACE(seek);
        SoundMixer mixer;
        int key = 0;
        mixer.BeginStream(&key, Head(mp3));
        // Two MP3 frames a block; only the first block's seek counts, as nothing came before it.
        for (std::size_t i = 0; i < frames.size(); i += 2) {
            const QByteArray block = frames[i] + (i + 1 < frames.size() ? frames[i + 1] : QByteArray());
            mixer.PushStreamBlock(&key, int(i / 2), Mp3Block(block, 2304, i == 0 ? seek : 300));
        }
        const QByteArray played = RenderOffline(mixer, 2);
        const std::size_t frameCount = whole.size() / 2 - std::size_t(seek);
        EXPECT_NEAR(mixer.StreamTime(&key) * 44100, double(frameCount), 1152);
        const auto* samples = reinterpret_cast<const std::int16_t*>(played.constData());
        const std::size_t compared = std::size_t(mixer.StreamTime(&key) * 44100) * 2;
        EXPECT_TRUE(std::equal(samples, samples + compared, whole.begin() + 2 * seek));
    }
}

TEST(StreamSounds, CompressedBlocksGiveTheirTone) {
    const auto flv = [](QStringList Codec) { return Codec + QStringList{"-f", "flv"}; };
    const CodecCase cases[] = {
        {"ADPCM 44 kHz stereo", Format(1, 3, true, true), 44100,
         flv({"-c:a", "adpcm_swf", "-ar", "44100", "-ac", "2"})},
        {"MP3 22 kHz stereo", Format(2, 2, true, true), 22050,
         flv({"-c:a", "libmp3lame", "-ar", "22050", "-ac", "2"})},
        {"Nellymoser 16 kHz", Format(4, 0, true, false), 16000, flv({"-c:a", "nellymoser", "-ar", "16000"})},
        {"Speex", Format(11, 0, true, false), 16000, flv({"-c:a", "libspeex", "-ar", "16000"})},
    };
    for (const CodecCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (!CanDecode(c.format)) {
            ADD_FAILURE() << "no decoder";
            continue;
        }
        const QByteArray encoded = Encoded(c.rate, 1, c.encoding);
        const std::vector<QByteArray> packets = FlvAudioPackets(encoded);
        ASSERT_GT(packets.size(), 3u);
        SoundMixer mixer;
        int key = 0;
        mixer.BeginStream(&key, Head(c.format));
        for (std::size_t i = 0; i < packets.size(); ++i)
            mixer.PushStreamBlock(&key, int(i),
                                  c.format.codec == 2 ? Mp3Block(packets[i], 0, 0) : packets[i]);
        const QByteArray played = RenderOffline(mixer, 1.5);
        const auto* samples = reinterpret_cast<const std::int16_t*>(played.constData());
        const Pcm pcm(samples, samples + 2 * std::size_t(mixer.StreamTime(&key) * 44100));
        EXPECT_NEAR(mixer.StreamTime(&key), 1, 0.12);
        const double rms = ReferenceRms(encoded);
        for (int side : {0, 1}) {
            EXPECT_NEAR(Frequency(Middle(Side(pcm, side))), 1000, 15);
            EXPECT_NEAR(Rms(Middle(Side(pcm, side))), rms, rms * 0.05);
        }
    }
}

// --- Threads and offline rendering ---

TEST(SoundMixerThreads, TheOutputPullsWhileTheTimelineChangesTheMix) {
    SoundMixer mixer;
    std::atomic<bool> stop = false;
    std::thread output([&] {
        Pcm buffer(2 * 512);
        while (!stop)
            mixer.Render(buffer.data(), 512);
    });
    const auto sound = Mono44(Ramp(3000));
    const SoundStreamHead head = Head(Format(3, 3, true, false));
    int keys[3] = {};
    for (int i = 0; i < 3000; ++i) {
        const void* key = &keys[i % 3];
        SoundInfo info;
        info.syncNoMultiple = i % 5 == 0;
        info.loopCount = std::uint16_t(i % 4);
        mixer.StartEventSound(std::uint16_t(i % 7), sound, info);
        if (mixer.StreamTime(key) < 0)
            mixer.BeginStream(key, head);
        mixer.PushStreamBlock(key, i, Le16(Ramp(300)));
        if (i % 11 == 0)
            mixer.StopEventSound(std::uint16_t(i % 7));
        if (i % 13 == 0)
            mixer.StopStream(key);
        if (i % 97 == 0)
            mixer.StopAllSounds();
    }
    stop = true;
    output.join();
}

TEST(SoundOutputOffline, WithoutAServerStartFailsAtOnceAndTheMixRendersOffline) {
    SoundMixer mixer;
    {
        SoundOutput output(mixer); // unit tests point at a server that is not there
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(output.Start());
        EXPECT_LT(timer.elapsed(), 1000);
        EXPECT_FALSE(output.Running());
        output.Stop();
    }
    mixer.StartEventSound(1, Mono44(Ramp(2000, 1)), {});
    const QByteArray first = RenderOffline(mixer, 1.0 / 30); // rounded to whole frames
    ASSERT_EQ(first.size(), 1470 * 4);
    const QByteArray rest = RenderOffline(mixer, 0.5);
    ASSERT_EQ(rest.size(), 22050 * 4);
    auto expected = Ramp(2000, 1);
    expected.resize(1470 + 22050, 0);
    EXPECT_EQ(first + rest, Le16(BothSides(expected)));
    EXPECT_TRUE(RenderOffline(mixer, 0).isEmpty());
    EXPECT_TRUE(RenderOffline(mixer, -1).isEmpty());
}

} // namespace
