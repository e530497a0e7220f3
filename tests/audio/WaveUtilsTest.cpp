#include "audio/WaveUtils.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {
WAVEFORMATEX Format(TPCMFormat pcm) {
    WAVEFORMATEX format{};
    PCMFormatToWaveFormat(format, pcm);
    return format;
}

WAVEFORMATEX FormatWithBits(WORD tag, WORD bits) {
    WAVEFORMATEX format = Format(Mono16bit8000Hz);
    format.wFormatTag = tag;
    format.wBitsPerSample = bits;
    return format;
}

std::vector<std::int16_t> Samples16(std::initializer_list<std::int16_t> values) {
    return std::vector<std::int16_t>(values);
}

DWORD Bytes(const std::vector<std::int16_t>& samples) {
    return DWORD(samples.size() * 2);
}
} // namespace

TEST(PCMFormat, EveryValueFollowsTheTable) {
    const DWORD rates[] = {8000, 11025, 22050, 44100, 48000};
    for (int value = 1; value <= 20; ++value) {
        const WAVEFORMATEX format = Format(TPCMFormat(value));
        const int k = value - 1;
        const WORD channels = WORD(1 + k % 2);
        const WORD bits = (k / 2) % 2 == 0 ? 8 : 16;
        SCOPED_TRACE(value);
        EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(format.nChannels, channels);
        EXPECT_EQ(format.nSamplesPerSec, rates[k / 4]);
        EXPECT_EQ(format.wBitsPerSample, bits);
        EXPECT_EQ(format.nBlockAlign, channels * bits / 8);
        EXPECT_EQ(format.nAvgBytesPerSec, format.nBlockAlign * rates[k / 4]);
        EXPECT_EQ(format.cbSize, 0);
    }
    const WAVEFORMATEX first = Format(Mono8Bit8000Hz);
    EXPECT_EQ(first.nBlockAlign, 1);
    EXPECT_EQ(first.nAvgBytesPerSec, 8000u);
    const WAVEFORMATEX last = Format(Stereo16bit48000Hz);
    EXPECT_EQ(last.nBlockAlign, 4);
    EXPECT_EQ(last.nAvgBytesPerSec, 192000u);
}

TEST(PCMFormat, NoneAndOutOfRangeLeaveTheRecordAlone) {
    WAVEFORMATEX format;
    std::memset(&format, 0xAB, sizeof(format));
    const WAVEFORMATEX before = format;
    PCMFormatToWaveFormat(format, nonePCM);
    EXPECT_EQ(std::memcmp(&format, &before, sizeof(format)), 0);
    PCMFormatToWaveFormat(format, TPCMFormat(21));
    EXPECT_EQ(std::memcmp(&format, &before, sizeof(format)), 0);
}

TEST(Durations, BuffersRoundUpAndPositionsRoundDown) {
    EXPECT_EQ(MSToBufferBytes(Format(Mono16bit8000Hz), 10), 160u);
    EXPECT_EQ(MSToBufferBytes(Format(Mono16bit8000Hz), 1000), 16000u);
    EXPECT_EQ(MSToBufferBytes(Format(Stereo16bit11025Hz), 10), 444u);
    EXPECT_EQ(MSToAlignedBytes(Format(Stereo16bit11025Hz), 10), 440u);
    EXPECT_EQ(MSToAlignedBytes(Format(Mono8Bit8000Hz), 3), 24u);
    EXPECT_EQ(BytesToMS(Format(Mono16bit8000Hz), 16000), 1000u);
    EXPECT_EQ(BytesToMS(Format(Mono16bit8000Hz), 3), 0u); // 0.1875 ms
    EXPECT_EQ(BytesToMS(Format(Mono16bit8000Hz), 8), 1u); // 0.5 ms rounds up
    WAVEFORMATEX noRate = Format(Mono16bit8000Hz);
    noRate.nAvgBytesPerSec = 0;
    EXPECT_EQ(BytesToMS(noRate, 16000), 0u);
    // An overflowing product passes the multiply-divide's -1 through, whatever the block alignment.
    for (const auto& format : {Format(Mono8Bit8000Hz), Format(Stereo16bit11025Hz)}) {
        EXPECT_EQ(MSToAlignedBytes(format, 0xFFFFFFFF / 4), 0xFFFFFFFFu);
        EXPECT_EQ(MSToBufferBytes(format, 0xFFFFFFFF / 4), 0xFFFFFFFFu);
    }
}

TEST(PeakLevel, CountsThePositiveHalfOnly) {
    const std::uint8_t eightBit[] = {128, 200, 60};
    EXPECT_EQ(GetPeakLevel(eightBit, 3, Format(Mono8Bit8000Hz)), 56);
    const std::uint8_t belowMidpoint[] = {0, 127, 10};
    EXPECT_EQ(GetPeakLevel(belowMidpoint, 3, Format(Mono8Bit8000Hz)), 0);
    const std::uint8_t full8[] = {128, 255};
    EXPECT_EQ(GetPeakLevel(full8, 2, Format(Stereo8bit8000Hz)), 100);

    const auto sixteen = Samples16({-30000, 16384});
    EXPECT_EQ(GetPeakLevel(sixteen.data(), Bytes(sixteen), Format(Mono16bit8000Hz)), 50);
    const auto full16 = Samples16({32767, -32768});
    EXPECT_EQ(GetPeakLevel(full16.data(), Bytes(full16), Format(Mono16bit8000Hz)), 100);
    const auto negative = Samples16({-1, -32768});
    EXPECT_EQ(GetPeakLevel(negative.data(), Bytes(negative), Format(Mono16bit8000Hz)), 0);

    EXPECT_EQ(GetPeakLevel(nullptr, 0, Format(Mono16bit8000Hz)), 0);
    EXPECT_EQ(GetPeakLevel(nullptr, 0, Format(Mono8Bit8000Hz)), 0);
    EXPECT_EQ(GetPeakLevel(sixteen.data(), 4, FormatWithBits(2, 16)), -1);
    EXPECT_EQ(GetPeakLevel(sixteen.data(), 4, FormatWithBits(1, 24)), -1);
}

TEST(BlockOperations, RefuseUnsupportedFormatsWithoutTouchingData) {
    const WAVEFORMATEX unsupported[] = {FormatWithBits(2, 16), FormatWithBits(1, 24), FormatWithBits(1, 4)};
    for (const WAVEFORMATEX& format : unsupported) {
        auto data = Samples16({1, 2, 3, 4});
        const auto original = data;
        auto other = data;
        const TRawWave input{other.data(), Bytes(other)};
        EXPECT_FALSE(ReverseWaveAudio(data.data(), Bytes(data), format));
        EXPECT_FALSE(SilenceWaveAudio(data.data(), Bytes(data), format));
        EXPECT_FALSE(ChangeWaveAudioVolume(data.data(), Bytes(data), format, 50));
        EXPECT_FALSE(MixWaveAudio(&input, 1, format, data.data(), Bytes(data)));
        EXPECT_EQ(data, original);
    }
}

TEST(BlockOperations, ReverseSwapsSampleValuesNotFrames) {
    auto stereo = Samples16({1, 2, 3, 4}); // L0 R0 L1 R1
    ASSERT_TRUE(ReverseWaveAudio(stereo.data(), Bytes(stereo), Format(Stereo16bit8000Hz)));
    EXPECT_EQ(stereo, Samples16({4, 3, 2, 1}));

    auto odd = Samples16({10, 20, 30});
    ASSERT_TRUE(ReverseWaveAudio(odd.data(), Bytes(odd), Format(Mono16bit8000Hz)));
    EXPECT_EQ(odd, Samples16({30, 20, 10}));

    std::uint8_t bytes[] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(ReverseWaveAudio(bytes, 5, Format(Mono8Bit8000Hz)));
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 5), (std::vector<std::uint8_t>{5, 4, 3, 2, 1}));

    // 16-bit data at an odd address, as in a stream's memory.
    std::uint8_t unaligned[5] = {0xFF, 0x01, 0x00, 0x02, 0x00};
    ASSERT_TRUE(ReverseWaveAudio(unaligned + 1, 4, Format(Mono16bit8000Hz)));
    EXPECT_EQ(unaligned[1], 0x02);
    EXPECT_EQ(unaligned[3], 0x01);
}

TEST(BlockOperations, SilenceIs7FFor8BitAndZeroFor16Bit) {
    std::uint8_t bytes[4] = {1, 2, 3, 4};
    ASSERT_TRUE(SilenceWaveAudio(bytes, 4, Format(Mono8Bit8000Hz)));
    for (std::uint8_t b : bytes)
        EXPECT_EQ(b, 0x7F);
    auto words = Samples16({100, -100});
    ASSERT_TRUE(SilenceWaveAudio(words.data(), Bytes(words), Format(Mono16bit8000Hz)));
    EXPECT_EQ(words, Samples16({0, 0}));
}

TEST(BlockOperations, VolumeScalesAndClamps) {
    std::uint8_t bytes[] = {200, 100, 0, 255};
    ASSERT_TRUE(ChangeWaveAudioVolume(bytes, 4, Format(Mono8Bit8000Hz), 50));
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 4), (std::vector<std::uint8_t>{255, 150, 0, 255}));

    auto words = Samples16({-32768, 1000, -1001, 32767});
    ASSERT_TRUE(ChangeWaveAudioVolume(words.data(), Bytes(words), Format(Mono16bit8000Hz), 0));
    EXPECT_EQ(words, Samples16({-32767, 1000, -1001, 32767}));

    ASSERT_TRUE(ChangeWaveAudioVolume(words.data(), Bytes(words), Format(Mono16bit8000Hz), -50));
    EXPECT_EQ(words, Samples16({-16384, 500, -501, 16384})); // truncation toward zero

    ASSERT_TRUE(ChangeWaveAudioVolume(words.data(), Bytes(words), Format(Mono16bit8000Hz), -100));
    EXPECT_EQ(words, Samples16({0, 0, 0, 0}));

    // A percentage large enough to overflow 32-bit arithmetic still clamps.
    auto loud = Samples16({30000, -30000});
    ASSERT_TRUE(ChangeWaveAudioVolume(loud.data(), Bytes(loud), Format(Mono16bit8000Hz), 2000000000));
    EXPECT_EQ(loud, Samples16({32767, -32767}));
}

TEST(BlockOperations, MixAveragesOverAllInputs) {
    const auto shortInput = Samples16({100, 200});
    const auto longInput = Samples16({300, 400, 500, 600});
    const TRawWave inputs[] = {{shortInput.data(), Bytes(shortInput)}, {longInput.data(), Bytes(longInput)}};
    std::vector<std::int16_t> output(3, -1);
    ASSERT_TRUE(MixWaveAudio(inputs, 2, Format(Mono16bit8000Hz), output.data(), 6));
    EXPECT_EQ(output, Samples16({200, 300, 250})); // the exhausted input still divides

    const auto negatives = Samples16({-3, -5});
    const TRawWave oneInput[] = {{negatives.data(), Bytes(negatives)}};
    std::vector<std::int16_t> single(2);
    ASSERT_TRUE(MixWaveAudio(oneInput, 1, Format(Mono16bit8000Hz), single.data(), 4));
    EXPECT_EQ(single, negatives);

    const std::uint8_t a[] = {255, 0};
    const std::uint8_t b[] = {254};
    const TRawWave eightBit[] = {{a, 2}, {b, 1}};
    std::uint8_t mixed[2];
    ASSERT_TRUE(MixWaveAudio(eightBit, 2, Format(Mono8Bit8000Hz), mixed, 2));
    EXPECT_EQ(mixed[0], 254);
    EXPECT_EQ(mixed[1], 0);

    EXPECT_FALSE(MixWaveAudio(nullptr, 0, Format(Mono16bit8000Hz), single.data(), 4));
}
