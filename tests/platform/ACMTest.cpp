#include "platform/ACM.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

using namespace win; // the platform layer's Windows-style names

namespace {

WAVEFORMATEX Format(WORD channels, DWORD rate, WORD bits, WORD tag = WAVE_FORMAT_PCM) {
    WAVEFORMATEX format{};
    format.wFormatTag = tag;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = WORD(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

std::string Name(const WAVEFORMATEX& format) {
    return std::string(format.nChannels == 1 ? "Mono" : "Stereo") + std::to_string(format.wBitsPerSample) +
           "bit" + std::to_string(format.nSamplesPerSec);
}

// Raw sample values: 0..255 for 8-bit, -32768..32767 for 16-bit, frames interleaved.
std::vector<BYTE> Encode(const WAVEFORMATEX& format, const std::vector<int>& samples) {
    std::vector<BYTE> bytes;
    for (int sample : samples) {
        bytes.push_back(BYTE(sample));
        if (format.wBitsPerSample == 16)
            bytes.push_back(BYTE(sample >> 8));
    }
    return bytes;
}

std::vector<int> Decode(const WAVEFORMATEX& format, const BYTE* bytes, std::size_t size) {
    std::vector<int> samples;
    if (format.wBitsPerSample == 8)
        samples.assign(bytes, bytes + size);
    else
        for (std::size_t i = 0; i + 1 < size; i += 2)
            samples.push_back(std::int16_t(bytes[i] | bytes[i + 1] << 8));
    return samples;
}

// Full scale is 1.0; 8-bit silence is 128.
double Level(const WAVEFORMATEX& format, int sample) {
    return format.wBitsPerSample == 8 ? (sample - 128) / 128.0 : sample / 32768.0;
}

std::vector<BYTE> Sine(const WAVEFORMATEX& format, double hz, std::size_t frames) {
    std::vector<int> samples;
    for (std::size_t i = 0; i < frames; ++i) {
        const double value = 0.5 * std::sin(2 * std::numbers::pi * hz * double(i) / format.nSamplesPerSec);
        const int sample = format.wBitsPerSample == 8 ? 128 + int(std::lround(value * 127))
                                                      : int(std::lround(value * 32767));
        samples.insert(samples.end(), format.nChannels, sample);
    }
    return Encode(format, samples);
}

struct Tone {
    double hz = 0;
    double rms = 0;
};

Tone Measure(const WAVEFORMATEX& format, const std::vector<BYTE>& bytes, int channel) {
    const std::vector<int> samples = Decode(format, bytes.data(), bytes.size());
    const std::size_t frames = samples.size() / format.nChannels;
    double sum = 0, previous = 0;
    int rising = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double value = Level(format, samples[i * format.nChannels + channel]);
        if (i > 0 && previous < 0 && value >= 0)
            ++rising;
        sum += value * value;
        previous = value;
    }
    return {rising * double(format.nSamplesPerSec) / double(frames), std::sqrt(sum / double(frames))};
}

struct Converted {
    std::vector<BYTE> data;
    DWORD srcUsed = 0;
};

// Opens, sizes the destination, converts in one START | END call and closes, checking that nothing
// is written past the destination.
Converted ConvertOnce(const WAVEFORMATEX& src, const WAVEFORMATEX& dst, std::vector<BYTE> input) {
    constexpr std::size_t kGuard = 64;
    Converted result;
    HACMSTREAM stream = nullptr;
    EXPECT_EQ(acmStreamOpen(&stream, nullptr, &src, &dst, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME),
              MMSYSERR_NOERROR);
    if (!stream)
        return result;
    DWORD dstSize = 0;
    EXPECT_EQ(acmStreamSize(stream, DWORD(input.size()), &dstSize, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
    std::vector<BYTE> output(dstSize + kGuard, 0xA5);
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof(header);
    header.pbSrc = input.data();
    header.cbSrcLength = DWORD(input.size());
    header.pbDst = output.data();
    header.cbDstLength = dstSize;
    EXPECT_EQ(acmStreamPrepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END),
              MMSYSERR_NOERROR);
    EXPECT_TRUE(header.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
    EXPECT_LE(header.cbDstLengthUsed, dstSize);
    EXPECT_EQ(header.cbDstLengthUsed % dst.nBlockAlign, 0u);
    EXPECT_TRUE(std::all_of(output.begin() + dstSize, output.end(), [](BYTE b) { return b == 0xA5; }));
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
    result.srcUsed = header.cbSrcLengthUsed;
    result.data.assign(output.begin(), output.begin() + header.cbDstLengthUsed);
    return result;
}

std::vector<WAVEFORMATEX> RecorderFormats() {
    std::vector<WAVEFORMATEX> formats;
    for (DWORD rate : {8000, 11025, 22050, 44100, 48000})
        for (WORD bits : {8, 16})
            for (WORD channels : {1, 2})
                formats.push_back(Format(channels, rate, bits));
    return formats;
}

// Every pair of the recorder's twenty formats: one second of 440 Hz at half scale keeps its length,
// pitch and level.
class ACMFormatPairs : public testing::TestWithParam<std::tuple<WAVEFORMATEX, WAVEFORMATEX>> {};

TEST_P(ACMFormatPairs, KeepLengthPitchAndLevel) {
    const auto& [src, dst] = GetParam();
    const std::vector<BYTE> input = Sine(src, 440, src.nSamplesPerSec);
    const Converted out = ConvertOnce(src, dst, input);
    EXPECT_EQ(out.srcUsed, input.size());
    EXPECT_EQ(out.data.size() / dst.nBlockAlign, dst.nSamplesPerSec);
    const Tone before = Measure(src, input, 0);
    for (int channel = 0; channel < dst.nChannels; ++channel) {
        const Tone after = Measure(dst, out.data, channel);
        EXPECT_NEAR(after.hz, 440, 2) << "channel " << channel;
        EXPECT_NEAR(after.rms / before.rms, 1.0, 0.03) << "channel " << channel;
    }
}

INSTANTIATE_TEST_SUITE_P(ACM, ACMFormatPairs,
                         testing::Combine(testing::ValuesIn(RecorderFormats()),
                                          testing::ValuesIn(RecorderFormats())),
                         [](const auto& info) {
                             return Name(std::get<0>(info.param)) + "To" + Name(std::get<1>(info.param));
                         });

TEST(ACMConvert, SameRateValuesAreExact) {
    struct Case {
        WAVEFORMATEX src;
        std::vector<int> in;
        WAVEFORMATEX dst;
        std::vector<int> out;
    };
    const WAVEFORMATEX mono8 = Format(1, 22050, 8), stereo8 = Format(2, 22050, 8);
    const WAVEFORMATEX mono16 = Format(1, 22050, 16), stereo16 = Format(2, 22050, 16);
    const Case cases[] = {
        {mono8, {0, 1, 127, 128, 129, 255}, mono16, {-32768, -32512, -256, 0, 256, 32512}},
        // Rounded to nearest, halves up, clamped at the top.
        {mono16,
         {-32768, -32640, -129, -128, -1, 0, 127, 128, 383, 384, 32767},
         mono8,
         {0, 1, 127, 128, 128, 128, 128, 129, 129, 130, 255}},
        {mono8, {0, 1, 127, 128, 129, 255}, mono8, {0, 1, 127, 128, 129, 255}},
        {mono16, {-5, 1000, -32768, 32767}, stereo16, {-5, -5, 1000, 1000, -32768, -32768, 32767, 32767}},
        {mono8, {0, 128, 255}, stereo8, {0, 0, 128, 128, 255, 255}},
        // Left and right averaged, halves up.
        {stereo16,
         {100, 200, -32768, 32767, 1, 2, 32767, 32767, -32768, -32768},
         mono16,
         {150, 0, 2, 32767, -32768}},
        {stereo8, {0, 255, 100, 101, 128, 128, 0, 0}, mono8, {128, 101, 128, 0}},
        {stereo16, {256, 512, -32768, -32768}, mono8, {130, 0}},
        // Left stays left.
        {stereo16, {-32768, 32767, 1, -1}, stereo8, {0, 255, 128, 128}},
        {stereo8, {0, 255}, stereo16, {-32768, 32512}},
        {stereo16, {1, -1, 300, -300}, stereo16, {1, -1, 300, -300}},
        {mono16, {-1, 0, 1}, mono16, {-1, 0, 1}},
    };
    for (const Case& c : cases) {
        const Converted out = ConvertOnce(c.src, c.dst, Encode(c.src, c.in));
        EXPECT_EQ(Decode(c.dst, out.data.data(), out.data.size()), c.out)
            << Name(c.src) << " to " << Name(c.dst);
    }
}

TEST(ACMConvert, OneShotKeepsTheTailForAnyLengthAndRate) {
    struct Case {
        DWORD srcRate, dstRate;
    };
    const Case cases[] = {{8000, 44100},  {44100, 8000},  {44100, 48000}, {48000, 44100},
                          {1000, 384000}, {384000, 1000}, {11025, 22050}, {22050, 22050}};
    for (const Case& c : cases) {
        for (std::size_t frames : {1, 2, 7, 100, 1001, 44101}) {
            const WAVEFORMATEX src = Format(1, c.srcRate, 16), dst = Format(2, c.dstRate, 16);
            std::vector<BYTE> input = Sine(src, 100, frames);
            input.push_back(0x7F); // a partial frame is left unused
            const Converted out = ConvertOnce(src, dst, input);
            // One frame per destination instant inside the source's duration.
            const std::size_t expected = (frames * c.dstRate + c.srcRate - 1) / c.srcRate;
            EXPECT_EQ(out.srcUsed, frames * 2) << c.srcRate << " to " << c.dstRate << ", " << frames;
            EXPECT_EQ(out.data.size() / 4, expected) << c.srcRate << " to " << c.dstRate << ", " << frames;
        }
    }
}

// A recorder feeds fixed buffers sized by acmStreamSize: each is taken whole, and the pieces together
// are the one-shot conversion, whether the end comes with the last piece or in an empty call after it.
TEST(ACMConvert, StreamingInPiecesMatchesOneShot) {
    struct Case {
        WAVEFORMATEX src, dst;
        DWORD pieceFrames;
        bool emptyEnd;
    };
    const Case cases[] = {
        {Format(2, 44100, 16), Format(1, 22050, 8), 1000, false},
        {Format(2, 44100, 16), Format(1, 22050, 8), 1000, true},
        {Format(1, 8000, 8), Format(2, 44100, 16), 1, false},
        {Format(1, 8000, 8), Format(2, 44100, 16), 7, true},
        {Format(1, 11025, 16), Format(1, 48000, 16), 441, false},
        {Format(2, 48000, 16), Format(2, 8000, 16), 1, true},
        {Format(2, 48000, 8), Format(2, 44100, 8), 4410, false},
        {Format(1, 1000, 16), Format(1, 384000, 16), 100, true},
        {Format(1, 384000, 16), Format(1, 1000, 16), 4096, false},
        {Format(2, 22050, 16), Format(1, 22050, 16), 333, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Name(c.src) + " to " + Name(c.dst) + " in pieces of " + std::to_string(c.pieceFrames));
        const std::vector<BYTE> input = Sine(c.src, 440, c.src.nSamplesPerSec / 3);
        const Converted whole = ConvertOnce(c.src, c.dst, input);

        HACMSTREAM stream = nullptr;
        ASSERT_EQ(acmStreamOpen(&stream, nullptr, &c.src, &c.dst, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
        const DWORD piece = c.pieceFrames * c.src.nBlockAlign;
        DWORD dstSize = 0;
        ASSERT_EQ(acmStreamSize(stream, piece, &dstSize, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
        std::vector<BYTE> srcBuffer(piece), dstBuffer(dstSize), joined;
        ACMSTREAMHEADER header{};
        header.cbStruct = sizeof(header);
        header.pbSrc = srcBuffer.data();
        header.cbSrcLength = piece;
        header.pbDst = dstBuffer.data();
        header.cbDstLength = dstSize;
        ASSERT_EQ(acmStreamPrepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
        DWORD flags = ACM_STREAMCONVERTF_START;
        for (std::size_t offset = 0; offset < input.size() || c.emptyEnd;) {
            header.cbSrcLength = DWORD(std::min<std::size_t>(piece, input.size() - offset));
            std::memcpy(srcBuffer.data(), input.data() + offset, header.cbSrcLength);
            offset += header.cbSrcLength;
            const bool last = offset == input.size() && (!c.emptyEnd || header.cbSrcLength == 0);
            ASSERT_EQ(acmStreamConvert(stream, &header, flags | (last ? ACM_STREAMCONVERTF_END : 0)),
                      MMSYSERR_NOERROR);
            ASSERT_EQ(header.cbSrcLengthUsed, header.cbSrcLength) << "at " << offset;
            joined.insert(joined.end(), dstBuffer.begin(), dstBuffer.begin() + header.cbDstLengthUsed);
            flags = 0;
            if (last)
                break;
        }
        header.cbSrcLength = piece;
        EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
        EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
        EXPECT_TRUE(joined == whole.data) << joined.size() << " bytes against " << whole.data.size();
    }
}

// START drops whatever a stream was in the middle of, and an END is followed by a fresh sequence.
TEST(ACMConvert, StartAndEndBeginFreshSequences) {
    const WAVEFORMATEX src = Format(1, 8000, 16), dst = Format(1, 44100, 16);
    const std::vector<BYTE> first = Sine(src, 440, 800), second = Sine(src, 1000, 800);
    const std::vector<BYTE> expected = ConvertOnce(src, dst, second).data;
    HACMSTREAM stream = nullptr;
    ASSERT_EQ(acmStreamOpen(&stream, nullptr, &src, &dst, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
    DWORD dstSize = 0;
    ASSERT_EQ(acmStreamSize(stream, DWORD(first.size()), &dstSize, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
    std::vector<BYTE> srcBuffer(first), dstBuffer(dstSize);
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof(header);
    header.pbSrc = srcBuffer.data();
    header.cbSrcLength = DWORD(srcBuffer.size());
    header.pbDst = dstBuffer.data();
    header.cbDstLength = dstSize;
    ASSERT_EQ(acmStreamPrepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
    for (DWORD flags :
         {DWORD{0}, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END, ACM_STREAMCONVERTF_END}) {
        srcBuffer = first;
        ASSERT_EQ(acmStreamConvert(stream, &header, flags), MMSYSERR_NOERROR); // leaves the first half-done
        srcBuffer = second;
        ASSERT_EQ(acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END),
                  MMSYSERR_NOERROR);
        EXPECT_TRUE(std::equal(dstBuffer.begin(), dstBuffer.begin() + header.cbDstLengthUsed,
                               expected.begin(), expected.end()))
            << "after flags " << flags;
    }
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
}

// A destination too small for the source takes part of it, never writes past its end, and the rest
// converts on the next calls.
TEST(ACMConvert, SmallDestinationTakesPartAndIsNeverOverrun) {
    struct Case {
        WAVEFORMATEX src, dst;
        std::size_t misalign; // the destination starts at an odd address
    };
    const Case cases[] = {
        {Format(1, 8000, 16), Format(2, 44100, 16), 0}, {Format(1, 8000, 16), Format(2, 44100, 16), 1},
        {Format(2, 44100, 16), Format(1, 8000, 8), 0},  {Format(1, 11025, 8), Format(2, 48000, 8), 1},
        {Format(2, 22050, 8), Format(2, 22050, 16), 1},
    };
    constexpr std::size_t kGuard = 32;
    for (const Case& c : cases) {
        SCOPED_TRACE(Name(c.src) + " to " + Name(c.dst));
        const std::vector<BYTE> input = Sine(c.src, 440, c.src.nSamplesPerSec / 4);
        HACMSTREAM stream = nullptr;
        ASSERT_EQ(acmStreamOpen(&stream, nullptr, &c.src, &c.dst, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
        // Room for about a fifth of the output, and not a whole number of frames.
        const DWORD room = DWORD(c.dst.nAvgBytesPerSec / 20 + c.dst.nBlockAlign - 1);
        std::vector<BYTE> buffer(c.misalign + room + kGuard, 0xA5), srcBuffer(input), output;
        ACMSTREAMHEADER header{};
        header.cbStruct = sizeof(header);
        header.pbSrc = srcBuffer.data();
        header.cbSrcLength = DWORD(srcBuffer.size());
        header.pbDst = buffer.data() + c.misalign;
        header.cbDstLength = room;
        ASSERT_EQ(acmStreamPrepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
        std::size_t offset = 0;
        int calls = 0;
        while (offset < input.size() && ++calls < 100) {
            header.cbSrcLength = DWORD(input.size() - offset);
            std::memcpy(srcBuffer.data(), input.data() + offset, header.cbSrcLength);
            ASSERT_EQ(acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_END), MMSYSERR_NOERROR);
            EXPECT_LE(header.cbDstLengthUsed, room);
            EXPECT_EQ(header.cbDstLengthUsed % c.dst.nBlockAlign, 0u);
            EXPECT_EQ(header.cbSrcLengthUsed % c.src.nBlockAlign, 0u);
            ASSERT_TRUE(std::all_of(buffer.begin() + c.misalign + room, buffer.end(),
                                    [](BYTE b) { return b == 0xA5; }));
            output.insert(output.end(), header.pbDst, header.pbDst + header.cbDstLengthUsed);
            offset += header.cbSrcLengthUsed;
        }
        EXPECT_GT(calls, 4);
        EXPECT_EQ(offset, input.size());
        EXPECT_NEAR(double(output.size() / c.dst.nBlockAlign), c.dst.nSamplesPerSec / 4.0, 2);
        EXPECT_NEAR(Measure(c.dst, output, 0).hz, 440, 8);
        header.cbSrcLength = DWORD(srcBuffer.size());
        EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), MMSYSERR_NOERROR);

        // Three bytes of room: nothing is written past them.
        std::vector<BYTE> tiny(3 + kGuard, 0xA5);
        ACMSTREAMHEADER small{};
        small.cbStruct = sizeof(small);
        small.pbSrc = srcBuffer.data();
        small.cbSrcLength = DWORD(srcBuffer.size());
        small.pbDst = tiny.data();
        small.cbDstLength = 3;
        ASSERT_EQ(acmStreamPrepareHeader(stream, &small, 0), MMSYSERR_NOERROR);
        EXPECT_EQ(acmStreamConvert(stream, &small, ACM_STREAMCONVERTF_START), MMSYSERR_NOERROR);
        EXPECT_LE(small.cbDstLengthUsed, 3u);
        EXPECT_EQ(small.cbDstLengthUsed % c.dst.nBlockAlign, 0u);
        EXPECT_TRUE(std::all_of(tiny.begin() + 3, tiny.end(), [](BYTE b) { return b == 0xA5; }));
        EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
    }
}

TEST(ACMStreamOpen, RefusesWhatItCannotConvert) {
    const WAVEFORMATEX pcm = Format(2, 44100, 16);
    WAVEFORMATEX badAlign = pcm;
    badAlign.nBlockAlign = 2;
    const WAVEFORMATEX refused[] = {
        Format(1, 8000, 4, 2),   // ADPCM
        Format(2, 44100, 16, 3), // float
        Format(2, 44100, 24),
        Format(1, 44100, 12),
        Format(3, 44100, 16),
        Format(0, 44100, 16),
        Format(1, 999, 16),
        Format(1, 384001, 16),
        badAlign,
    };
    for (const WAVEFORMATEX& format : refused) {
        SCOPED_TRACE(Name(format) + " tag " + std::to_string(format.wFormatTag));
        for (bool asSource : {true, false}) {
            HACMSTREAM stream = reinterpret_cast<HACMSTREAM>(&stream);
            const WAVEFORMATEX& src = asSource ? format : pcm;
            const WAVEFORMATEX& dst = asSource ? pcm : format;
            EXPECT_EQ(acmStreamOpen(&stream, nullptr, &src, &dst, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
            EXPECT_EQ(stream, nullptr);
            EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &src, &dst, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
                      ACMERR_NOTPOSSIBLE);
        }
    }
    // The rate limits themselves are accepted.
    const WAVEFORMATEX slowest = Format(1, 1000, 8), fastest = Format(2, 384000, 16);
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &slowest, &fastest, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
              MMSYSERR_NOERROR);
}

TEST(ACMStreamOpen, ChecksArgumentsAndQueryCreatesNothing) {
    const WAVEFORMATEX src = Format(1, 8000, 8), dst = Format(2, 48000, 16);
    int filter = 0;
    int driver = 0;
    struct Case {
        bool withHandle;
        const WAVEFORMATEX *src, *dst;
        HACMDRIVER driver;
        const void* filter;
        DWORD flags;
        MMRESULT expected;
    };
    const Case cases[] = {
        {true, nullptr, &dst, nullptr, nullptr, 0, MMSYSERR_INVALPARAM},
        {true, &src, nullptr, nullptr, nullptr, 0, MMSYSERR_INVALPARAM},
        {false, &src, &dst, nullptr, nullptr, 0, MMSYSERR_INVALPARAM},
        {true, &src, &dst, nullptr, nullptr, 0x8, MMSYSERR_INVALFLAG},
        {true, &src, &dst, nullptr, nullptr, 0x30000, MMSYSERR_INVALFLAG}, // a callback kind
        {true, &src, &dst, &driver, nullptr, 0, MMSYSERR_INVALHANDLE},
        {true, &src, &dst, nullptr, &filter, 0, ACMERR_NOTPOSSIBLE},
        {true, &src, &dst, nullptr, nullptr, ACM_STREAMOPENF_ASYNC, ACMERR_NOTPOSSIBLE},
        {true, &src, &dst, nullptr, nullptr, ACM_STREAMOPENF_QUERY, MMSYSERR_NOERROR},
        {false, &src, &dst, nullptr, nullptr, ACM_STREAMOPENF_QUERY, MMSYSERR_NOERROR},
    };
    for (const Case& c : cases) {
        HACMSTREAM stream = reinterpret_cast<HACMSTREAM>(&stream);
        EXPECT_EQ(
            acmStreamOpen(c.withHandle ? &stream : nullptr, c.driver, c.src, c.dst, c.filter, 0, 0, c.flags),
            c.expected)
            << "flags " << c.flags;
        EXPECT_EQ(stream, c.withHandle ? nullptr : reinterpret_cast<HACMSTREAM>(&stream));
    }
}

// A fixture with an open 8-bit mono to 16-bit stereo stream at one rate and a header over small buffers.
class ACMHeader : public testing::Test {
protected:
    void SetUp() override {
        const WAVEFORMATEX src = Format(1, 11025, 8), dst = Format(2, 11025, 16);
        ASSERT_EQ(acmStreamOpen(&stream, nullptr, &src, &dst, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
        header.cbStruct = sizeof(header);
        header.pbSrc = src_.data();
        header.cbSrcLength = DWORD(src_.size());
        header.pbDst = dst_.data();
        header.cbDstLength = DWORD(dst_.size());
    }
    void TearDown() override { EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR); }

    std::vector<BYTE> src_ = std::vector<BYTE>(16, 200);
    std::vector<BYTE> dst_ = std::vector<BYTE>(64, 0);
    HACMSTREAM stream = nullptr;
    ACMSTREAMHEADER header{};
};

TEST_F(ACMHeader, ConvertNeedsAPreparedUnchangedHeader) {
    EXPECT_EQ(acmStreamConvert(stream, &header, 0), ACMERR_UNPREPARED);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), ACMERR_UNPREPARED);
    ASSERT_EQ(acmStreamPrepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(header.fdwStatus, ACMSTREAMHEADER_STATUSF_PREPARED);
    EXPECT_EQ(acmStreamPrepareHeader(stream, &header, 0), MMSYSERR_NOERROR); // again: no effect

    header.cbSrcLength = 17; // longer than prepared
    EXPECT_EQ(acmStreamConvert(stream, &header, 0), MMSYSERR_INVALPARAM);
    header.cbSrcLength = 8; // shorter is fine
    EXPECT_EQ(acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_EQ(header.cbSrcLengthUsed, 8u);
    EXPECT_EQ(header.cbDstLengthUsed, 32u);
    EXPECT_EQ(header.fdwStatus, ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), MMSYSERR_INVALPARAM); // not the prepared length
    header.cbSrcLength = 16;
    BYTE* const prepared = header.pbDst;
    header.pbDst = dst_.data() + 2;
    EXPECT_EQ(acmStreamConvert(stream, &header, 0), MMSYSERR_INVALPARAM);
    header.pbDst = prepared;

    header.fdwStatus |= ACMSTREAMHEADER_STATUSF_INQUEUE;
    EXPECT_EQ(acmStreamConvert(stream, &header, 0), ACMERR_BUSY);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), ACMERR_BUSY);
    header.fdwStatus &= ~ACMSTREAMHEADER_STATUSF_INQUEUE;

    EXPECT_EQ(acmStreamConvert(stream, &header, 0x1), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 1), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
    EXPECT_FALSE(header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
    EXPECT_EQ(acmStreamConvert(stream, &header, 0), ACMERR_UNPREPARED);
}

TEST_F(ACMHeader, PrepareChecksTheHeader) {
    ACMSTREAMHEADER bad = header;
    bad.cbStruct = sizeof(bad) - 1;
    EXPECT_EQ(acmStreamPrepareHeader(stream, &bad, 0), MMSYSERR_INVALPARAM);
    bad = header;
    bad.pbSrc = nullptr;
    EXPECT_EQ(acmStreamPrepareHeader(stream, &bad, 0), MMSYSERR_INVALPARAM);
    bad = header;
    bad.pbDst = nullptr;
    EXPECT_EQ(acmStreamPrepareHeader(stream, &bad, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamPrepareHeader(stream, nullptr, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamPrepareHeader(stream, &header, 1), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamPrepareHeader(nullptr, &header, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(header.fdwStatus, 0u);
}

TEST(ACMStreamClose, RejectsNullAndClosedHandles) {
    const WAVEFORMATEX format = Format(1, 8000, 16);
    HACMSTREAM stream = nullptr;
    ASSERT_EQ(acmStreamOpen(&stream, nullptr, &format, &format, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(nullptr, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamClose(stream, 1), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_INVALHANDLE);
    DWORD size = 0;
    EXPECT_EQ(acmStreamSize(stream, 100, &size, ACM_STREAMSIZEF_SOURCE), MMSYSERR_INVALHANDLE);
}

TEST(ACMStreamSize, SizesWholeFramesBothWays) {
    struct Case {
        WAVEFORMATEX src, dst;
        DWORD input, flags;
        MMRESULT expected;
        DWORD output; // exact where the rates match
    };
    const WAVEFORMATEX mono8 = Format(1, 22050, 8), stereo16 = Format(2, 22050, 16);
    const Case cases[] = {
        {mono8, stereo16, 100, ACM_STREAMSIZEF_SOURCE, MMSYSERR_NOERROR, 400},
        {stereo16, mono8, 103, ACM_STREAMSIZEF_SOURCE, MMSYSERR_NOERROR, 25}, // partial frame dropped
        {stereo16, mono8, 3, ACM_STREAMSIZEF_SOURCE, ACMERR_NOTPOSSIBLE, 0},
        {mono8, stereo16, 0, ACM_STREAMSIZEF_SOURCE, ACMERR_NOTPOSSIBLE, 0},
        {mono8, stereo16, 403, ACM_STREAMSIZEF_DESTINATION, MMSYSERR_NOERROR, 100},
        {mono8, stereo16, 3, ACM_STREAMSIZEF_DESTINATION, ACMERR_NOTPOSSIBLE, 0},
        {mono8, stereo16, 0x80000000u, ACM_STREAMSIZEF_SOURCE, ACMERR_NOTPOSSIBLE, 0}, // no DWORD holds it
        {stereo16, mono8, 0xFFFFFFFFu, ACM_STREAMSIZEF_DESTINATION, MMSYSERR_NOERROR, 0xFFFFFFFCu},
        {mono8, stereo16, 100, 2, MMSYSERR_INVALFLAG, 0},
    };
    for (const Case& c : cases) {
        HACMSTREAM stream = nullptr;
        ASSERT_EQ(acmStreamOpen(&stream, nullptr, &c.src, &c.dst, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
        DWORD output = 12345;
        EXPECT_EQ(acmStreamSize(stream, c.input, &output, c.flags), c.expected) << c.input;
        EXPECT_EQ(output, c.expected == MMSYSERR_INVALFLAG ? 12345 : c.output) << c.input;
        EXPECT_EQ(acmStreamSize(stream, c.input, nullptr, ACM_STREAMSIZEF_SOURCE), MMSYSERR_INVALPARAM);
        EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
    }
}

TEST(ACMStreamSize, ResampledSizesAreConsistentBounds) {
    for (const auto& [srcRate, dstRate] :
         {std::pair<DWORD, DWORD>{8000, 44100}, {48000, 11025}, {44100, 48000}}) {
        const WAVEFORMATEX src = Format(2, srcRate, 16), dst = Format(1, dstRate, 8);
        HACMSTREAM stream = nullptr;
        ASSERT_EQ(acmStreamOpen(&stream, nullptr, &src, &dst, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
        for (DWORD input : {4u, 4000u, 400000u}) {
            DWORD output = 0, back = 0, again = 0;
            ASSERT_EQ(acmStreamSize(stream, input, &output, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
            const double expected = input / 4.0 * dstRate / srcRate;
            EXPECT_GE(output, expected);
            EXPECT_LE(output, expected + 400); // the resampler's allowance, not a multiple
            // The source that fits the destination, sized again, fits it.
            ASSERT_EQ(acmStreamSize(stream, output, &back, ACM_STREAMSIZEF_DESTINATION), MMSYSERR_NOERROR);
            EXPECT_EQ(back % 4, 0u);
            EXPECT_GE(double(back), double(input) - 4.0 * (srcRate / dstRate + 1));
            ASSERT_EQ(acmStreamSize(stream, back, &again, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
            EXPECT_LE(again, output);
        }
        EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
    }
}

TEST(ACMFormatSuggest, TakesFlaggedFieldsFromTheDestination) {
    const WAVEFORMATEX src = Format(2, 44100, 16);
    struct Case {
        DWORD flags;
        WAVEFORMATEX asked, expected;
    };
    const Case cases[] = {
        {0, Format(1, 8000, 8), src},
        {ACM_FORMATSUGGESTF_NCHANNELS, Format(1, 8000, 8), Format(1, 44100, 16)},
        {ACM_FORMATSUGGESTF_NSAMPLESPERSEC, Format(1, 8000, 8), Format(2, 8000, 16)},
        {ACM_FORMATSUGGESTF_WBITSPERSAMPLE, Format(1, 8000, 8), Format(2, 44100, 8)},
        {ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC |
             ACM_FORMATSUGGESTF_WBITSPERSAMPLE,
         Format(1, 11025, 8), Format(1, 11025, 8)},
    };
    for (const Case& c : cases) {
        WAVEFORMATEX asked = c.asked;
        asked.nBlockAlign = 99; // recomputed, never taken
        asked.cbSize = 7;
        EXPECT_EQ(acmFormatSuggest(nullptr, &src, &asked, sizeof(asked), c.flags), MMSYSERR_NOERROR);
        EXPECT_EQ(std::memcmp(&asked, &c.expected, sizeof(asked)), 0) << Name(asked) << " flags " << c.flags;
    }
}

TEST(ACMFormatSuggest, WritesOnlyTheRoomGiven) {
    const WAVEFORMATEX src = Format(1, 22050, 8);
    BYTE buffer[sizeof(WAVEFORMATEX) + 2];
    std::memset(buffer, 0xA5, sizeof(buffer));
    auto* dst = reinterpret_cast<WAVEFORMATEX*>(buffer);
    EXPECT_EQ(acmFormatSuggest(nullptr, &src, dst, 16, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(std::memcmp(buffer, &src, 16), 0);
    EXPECT_EQ(buffer[16], 0xA5);
    EXPECT_EQ(acmFormatSuggest(nullptr, &src, dst, 18, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(dst->cbSize, 0);
    EXPECT_EQ(buffer[18], 0xA5);
}

TEST(ACMFormatSuggest, RefusesAndLeavesTheDestinationAlone) {
    const WAVEFORMATEX pcm = Format(2, 44100, 16);
    struct Case {
        WAVEFORMATEX src, asked;
        DWORD size, flags;
        MMRESULT expected;
    };
    const Case cases[] = {
        {Format(1, 8000, 4, 2), pcm, 18, 0, ACMERR_NOTPOSSIBLE}, // the source is not PCM
        {Format(3, 8000, 16), pcm, 18, 0, ACMERR_NOTPOSSIBLE},
        {pcm, Format(2, 44100, 16, 2), 18, ACM_FORMATSUGGESTF_WFORMATTAG, ACMERR_NOTPOSSIBLE},
        {pcm, Format(3, 44100, 16), 18, ACM_FORMATSUGGESTF_NCHANNELS, ACMERR_NOTPOSSIBLE},
        {pcm, Format(2, 44100, 24), 18, ACM_FORMATSUGGESTF_WBITSPERSAMPLE, ACMERR_NOTPOSSIBLE},
        {pcm, Format(2, 500, 16), 18, ACM_FORMATSUGGESTF_NSAMPLESPERSEC, ACMERR_NOTPOSSIBLE},
        {pcm, pcm, 15, 0, MMSYSERR_INVALPARAM},
        {pcm, pcm, 18, 0x1, MMSYSERR_INVALFLAG},
    };
    for (const Case& c : cases) {
        WAVEFORMATEX asked = c.asked;
        EXPECT_EQ(acmFormatSuggest(nullptr, &c.src, &asked, c.size, c.flags), c.expected) << Name(c.src);
        EXPECT_EQ(std::memcmp(&asked, &c.asked, sizeof(asked)), 0);
    }
    WAVEFORMATEX dst{};
    int driver = 0;
    EXPECT_EQ(acmFormatSuggest(nullptr, nullptr, &dst, 18, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmFormatSuggest(nullptr, &pcm, nullptr, 18, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmFormatSuggest(&driver, &pcm, &dst, 18, 0), MMSYSERR_INVALHANDLE);
}

} // namespace
