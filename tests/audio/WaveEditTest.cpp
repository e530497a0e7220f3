#include "WaveFixtures.h"
#include "audio/WaveStorage.h"

#include <gtest/gtest.h>

namespace {
// 8-bit mono at 1000 Hz: one millisecond is one byte, so ranges read as text.
WAVEFORMATEX ByteClock() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 1000;
    format.nAvgBytesPerSec = 1000;
    format.nBlockAlign = 1;
    format.wBitsPerSample = 8;
    return format;
}

struct MemoryWave {
    TMemoryStream Stream;
    TWaveStreamAdapter Adapter{&Stream, 0};

    MemoryWave() = default;
    explicit MemoryWave(const QByteArray& Audio, const WAVEFORMATEX& Format = ByteClock()) {
        Adapter.LoadFromStream(*MemoryStreamOf(WaveFile(Format, Audio)));
    }
    QByteArray Audio() { return ContentOf(Stream).mid(Adapter.DataOffset(), Adapter.DataSize()); }
    QByteArray Bytes() { return ContentOf(Stream); }
};
} // namespace

TEST(WaveEdit, ReverseAndVolumeWorkInPlace) {
    MemoryWave wave("abcdef");
    const QByteArray header = wave.Bytes().left(46);
    ASSERT_TRUE(wave.Adapter.Reverse());
    EXPECT_EQ(wave.Audio(), "fedcba");
    EXPECT_EQ(wave.Bytes().left(46), header);

    MemoryWave loud(QByteArray("\x64\xC8", 2));
    ASSERT_TRUE(loud.Adapter.ChangeVolume(50));
    EXPECT_EQ(loud.Audio(), QByteArray("\x96\xFF", 2));

    WAVEFORMATEX adpcm = ByteClock();
    adpcm.wFormatTag = 2;
    MemoryWave compressed("abcd", adpcm);
    EXPECT_FALSE(compressed.Adapter.Reverse());
    EXPECT_FALSE(compressed.Adapter.ChangeVolume(10));
    EXPECT_EQ(compressed.Audio(), "abcd");
}

TEST(WaveEdit, RangeEditsCutWhatTheyShould) {
    struct Case {
        const char* Name;
        std::function<bool(TWaveStreamAdapter&)> Edit;
        bool Result;
        QByteArray Audio;
    };
    const Case cases[] = {
        {"crop", [](auto& a) { return a.Crop(1, 2); }, true, "bc"},
        {"crop past the end", [](auto& a) { return a.Crop(4, 0xFFFFFFFF); }, true, "ef"},
        {"crop of nothing", [](auto& a) { return a.Crop(1, 0); }, false, "abcdef"},
        {"crop from the end", [](auto& a) { return a.Crop(6, 1); }, false, "abcdef"},
        {"delete", [](auto& a) { return a.Delete(1, 2); }, true, "adef"},
        {"delete everything", [](auto& a) { return a.Delete(0, 6); }, false, ""},
        {"delete beyond", [](auto& a) { return a.Delete(7, 1); }, false, "abcdef"},
        {"delete head", [](auto& a) { return a.DeleteHead(2); }, true, "cdef"},
        {"delete tail", [](auto& a) { return a.DeleteTail(2); }, true, "abcd"},
        {"delete a tail longer than the audio", [](auto& a) { return a.DeleteTail(100); }, false, ""},
        {"insert silence", [](auto& a) { return a.InsertSilence(2, 3); }, true,
         "ab\x7F\x7F\x7F"
         "cdef"},
        {"insert silence past the end", [](auto& a) { return a.InsertSilence(50, 1); }, true, "abcdef\x7F"},
        {"insert no silence", [](auto& a) { return a.InsertSilence(2, 0); }, false, "abcdef"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        MemoryWave wave("abcdef");
        EXPECT_EQ(c.Edit(wave.Adapter), c.Result);
        EXPECT_TRUE(wave.Adapter.Valid());
        EXPECT_EQ(wave.Audio(), c.Audio);
        EXPECT_EQ(wave.Bytes().size(), 46 + c.Audio.size());
    }
}

TEST(WaveEdit, CopyFromReadsTheSourceInItsOwnFormat) {
    MemoryWave source(Samples({1, 2, 3, 4, 5, 6, 7, 8}), PCMFormat(Mono16bit8000Hz));
    MemoryWave target; // not a WAVE yet
    EXPECT_FALSE(target.Adapter.CopyFrom(source.Adapter, 0, 0));
    EXPECT_FALSE(target.Adapter.Valid());
    ASSERT_TRUE(target.Adapter.CopyFrom(source.Adapter, 0, 1000));
    EXPECT_EQ(target.Audio(), source.Audio());
    EXPECT_EQ(target.Adapter.WaveFormat()->nSamplesPerSec, 8000u);

    MemoryWave clock("abcdef");
    MemoryWave part;
    EXPECT_TRUE(part.Adapter.CopyFrom(clock.Adapter, 3, 2));
    EXPECT_EQ(part.Audio(), "de");
    EXPECT_EQ(part.Adapter.WaveFormat()->nSamplesPerSec, 1000u);
    EXPECT_FALSE(clock.Adapter.CopyFrom(source.Adapter, 1, 1)); // 8 samples last 1 ms
    EXPECT_EQ(clock.Audio(), "abcdef");
}

TEST(WaveEdit, InsertNeedsTheSameFormat) {
    MemoryWave wave("abcdef");
    MemoryWave other("XY");
    ASSERT_TRUE(wave.Adapter.Insert(2, other.Adapter));
    EXPECT_EQ(wave.Audio(), "abXYcdef");
    ASSERT_TRUE(wave.Adapter.Insert(1000, other.Adapter));
    EXPECT_EQ(wave.Audio(), "abXYcdefXY");
    ASSERT_TRUE(wave.Adapter.Insert(0, wave.Adapter));
    EXPECT_EQ(wave.Audio(), "abXYcdefXYabXYcdefXY");

    MemoryWave sixteen(Samples({1}), PCMFormat(Mono16bit8000Hz));
    EXPECT_FALSE(wave.Adapter.Insert(0, sixteen.Adapter));
    EXPECT_EQ(wave.Audio(), "abXYcdefXYabXYcdefXY");

    MemoryWave empty("");
    EXPECT_FALSE(empty.Adapter.InsertSilence(0, 10)); // nothing to acquire
    EXPECT_EQ(empty.Adapter.DataSize(), 0u);
}

TEST(WaveEdit, ConcatenatePutsGapsBetweenSources) {
    MemoryWave a("ab"), b("cd"), c("e");
    MemoryWave joined;
    ASSERT_TRUE(joined.Adapter.Concatenate({&a.Adapter, &b.Adapter, &c.Adapter}, 2));
    EXPECT_EQ(joined.Audio(), "ab\x7F\x7F"
                              "cd\x7F\x7F"
                              "e");
    ASSERT_TRUE(joined.Adapter.Concatenate({&a.Adapter}, 5));
    EXPECT_EQ(joined.Audio(), "ab");
    ASSERT_TRUE(joined.Adapter.Concatenate({&a.Adapter, &b.Adapter}, 0));
    EXPECT_EQ(joined.Audio(), "abcd");
    EXPECT_FALSE(joined.Adapter.Concatenate({}, 0));
    MemoryWave empty;
    EXPECT_FALSE(joined.Adapter.Concatenate({&empty.Adapter, &a.Adapter}, 0));
    EXPECT_EQ(joined.Audio(), "abcd");

    MemoryWave noAudio("");
    EXPECT_FALSE(joined.Adapter.Concatenate({&a.Adapter, &noAudio.Adapter}, 0)); // nothing to acquire
    EXPECT_EQ(joined.Audio(), "ab"); // a finished WAVE of what was written
}

TEST(WaveEdit, MixAveragesSourcesOfOneFormat) {
    MemoryWave a(Samples({100, 200}), PCMFormat(Mono16bit8000Hz));
    MemoryWave b(Samples({300, 400, 500}), PCMFormat(Mono16bit8000Hz));
    MemoryWave mixed;
    ASSERT_TRUE(mixed.Adapter.Mix({&a.Adapter, &b.Adapter}));
    EXPECT_EQ(mixed.Audio(), Samples({200, 300, 250}));

    MemoryWave other("ab");
    EXPECT_FALSE(mixed.Adapter.Mix({&a.Adapter, &other.Adapter}));
    EXPECT_FALSE(mixed.Adapter.Mix({}));
    EXPECT_EQ(mixed.Audio(), Samples({200, 300, 250}));

    // The target may be one of its own sources.
    ASSERT_TRUE(b.Adapter.Mix({&a.Adapter, &b.Adapter}));
    EXPECT_EQ(b.Audio(), Samples({200, 300, 250}));
}

TEST(WaveEdit, SameContentComparesFormatAndAudio) {
    MemoryWave a("abc"), same("abc"), different("abd"), longer("abcd");
    MemoryWave sixteen(QByteArray("abcd"), PCMFormat(Mono16bit8000Hz));
    EXPECT_TRUE(a.Adapter.SameContentAs(same.Adapter));
    EXPECT_FALSE(a.Adapter.SameContentAs(different.Adapter));
    EXPECT_FALSE(a.Adapter.SameContentAs(longer.Adapter));
    EXPECT_FALSE(longer.Adapter.SameContentAs(sixteen.Adapter));
    MemoryWave empty1(""), empty2("");
    EXPECT_TRUE(empty1.Adapter.SameContentAs(empty2.Adapter));
    MemoryWave notAWave;
    EXPECT_FALSE(notAWave.Adapter.SameContentAs(notAWave.Adapter));
}

TEST(WaveEdit, ConvertToChangesTheFormat) {
    MemoryWave wave(QByteArray("\x80\xFF\x00\x80", 4), PCMFormat(Mono8Bit8000Hz));
    const QByteArray before = wave.Bytes();
    ASSERT_TRUE(wave.Adapter.ConvertTo(PCMFormat(Mono8Bit8000Hz)));
    EXPECT_EQ(wave.Bytes(), before); // its own format: untouched

    ASSERT_TRUE(wave.Adapter.ConvertTo(PCMFormat(Mono16bit8000Hz)));
    EXPECT_EQ(wave.Adapter.WaveFormat()->wBitsPerSample, 16);
    const QByteArray audio = wave.Audio();
    ASSERT_EQ(audio.size(), 8);
    const auto sample = [&](int i) { return std::int16_t(ReadLittleEndian16(audio, i * 2)); };
    EXPECT_EQ(sample(0), 0);
    EXPECT_GT(sample(1), 32000);
    EXPECT_LT(sample(2), -32000);
    EXPECT_EQ(sample(3), 0);

    ASSERT_TRUE(wave.Adapter.ConvertTo(PCMFormat(Stereo16bit44100Hz)));
    EXPECT_EQ(wave.Adapter.WaveFormat()->nChannels, 2);
    EXPECT_NEAR(double(wave.Adapter.DataSize()), 4 * 44100.0 / 8000 * 4, 16);

    WAVEFORMATEX mp3 = PCMFormat(Mono16bit8000Hz);
    mp3.wFormatTag = 0x55;
    const QByteArray converted = wave.Bytes();
    EXPECT_FALSE(wave.Adapter.ConvertTo(mp3));
    EXPECT_EQ(wave.Bytes(), converted);
}
