// Thousands of damaged WAVE files: the reader must either refuse them or stay inside the stream,
// and no edit may crash, hang or allocate for a size the stream does not hold. Run under the
// sanitizer build too, where an oversized allocation aborts.
#include "TestFiles.h"
#include "WaveFixtures.h"
#include "audio/WaveStorage.h"

#include <gtest/gtest.h>
#include <random>

namespace {
QByteArray WithExtraFormatBytes() {
    WAVEFORMATEX format = PCMFormat(Mono16bit8000Hz);
    format.cbSize = 3;
    return Riff(Chunk("fmt ", FormatBody(format, 21)) + Chunk("data", Samples({1, -2, 3, -4})));
}

std::vector<QByteArray> Seeds() {
    const WAVEFORMATEX stereo = PCMFormat(Stereo16bit22050Hz);
    return {
        WaveFile(PCMFormat(Mono16bit8000Hz), Samples({0, 1000, -1000, 32767, -32768, 5})),
        WaveFile(PCMFormat(Mono8Bit8000Hz), "abcdefg"),
        Riff(Chunk("fmt ", FormatBody(stereo, 16)) + Chunk("fact", LittleEndian32(2)) +
             Chunk("LIST", "INFOISFTxx") + Chunk("data", Samples({1, 2, 3, 4, 5, 6, 7, 8}))),
        Chunk("JUNK", "12") +
            Riff(Chunk("LIST", "INFO") + Chunk("fmt ", FormatBody(stereo)) + Chunk("data", "")),
        WithExtraFormatBytes(),
    };
}

const std::uint32_t InterestingSizes[] = {
    0, 1, 2, 13, 14, 15, 16, 17, 18, 0x7FFFFFFE, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFFE, 0xFFFFFFFF};

class Mutator {
public:
    explicit Mutator(unsigned Seed) : FRandom(Seed) {}

    QByteArray Mutate(QByteArray Bytes) {
        const int steps = Pick(1, 4);
        for (int i = 0; i < steps && !Bytes.isEmpty(); ++i) {
            switch (Pick(0, 5)) {
            case 0: // cut anywhere
                Bytes.truncate(Pick(0, int(Bytes.size())));
                break;
            case 1: // flip a byte
                Bytes[Pick(0, int(Bytes.size()) - 1)] = char(Pick(0, 255));
                break;
            case 2: // a lying size at a four-byte boundary, where chunk sizes live
                if (Bytes.size() >= 8) {
                    const int at = Pick(0, int(Bytes.size() - 4) / 4) * 4;
                    const std::uint32_t size = InterestingSizes[Pick(0, std::size(InterestingSizes) - 1)];
                    Bytes.replace(at, 4, LittleEndian32(size));
                }
                break;
            case 3: // move a span elsewhere (chunks out of order)
            {
                const int from = Pick(0, int(Bytes.size()) - 1);
                const int length = Pick(1, int(Bytes.size()) - from);
                const QByteArray span = Bytes.mid(from, length);
                Bytes.remove(from, length);
                Bytes.insert(Pick(0, int(Bytes.size())), span);
                break;
            }
            case 4: // an extra chunk with any size
                Bytes.insert(Pick(0, int(Bytes.size())),
                             QByteArray(Pick(0, 1) ? "data" : "fmt ") +
                                 LittleEndian32(InterestingSizes[Pick(0, std::size(InterestingSizes) - 1)]));
                break;
            default: // random tail
                Bytes.append(QByteArray(Pick(1, 40), char(Pick(0, 255))));
                break;
            }
        }
        return Bytes;
    }

private:
    int Pick(int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(FRandom); }
    std::mt19937 FRandom;
};

// Every reading path over one damaged stream.
void Exercise(TWaveStreamAdapter& Adapter, TWaveStreamAdapter& Healthy) {
    TStream& stream = *Adapter.Stream();
    const std::int64_t size = stream.GetSize();
    if (!Adapter.Valid()) {
        EXPECT_EQ(Adapter.DataSize(), 0u);
        EXPECT_EQ(Adapter.WaveFormat(), nullptr);
        EXPECT_FALSE(Adapter.Reverse());
        return;
    }
    const WAVEFORMATEX format = *Adapter.WaveFormat();
    (void)Adapter.Length();

    void* data = nullptr;
    if (Adapter.AcquireData(data, false)) {
        // Handed out only when the whole range lies inside the stream.
        ASSERT_LE(std::int64_t{Adapter.DataOffset()} + Adapter.DataSize(), size);
        const QByteArray bytes = ContentOf(stream).mid(Adapter.DataOffset(), Adapter.DataSize());
        EXPECT_EQ(QByteArray(static_cast<const char*>(data), int(Adapter.DataSize())), bytes);
        (void)GetPeakLevel(data, Adapter.DataSize(), format);
        Adapter.ReleaseData(data, false);
    }
    if (Adapter.BeginRead()) {
        char buffer[64];
        std::int64_t total = 0;
        for (std::int32_t n; (n = Adapter.Read(buffer, sizeof buffer)) > 0;)
            total += n;
        EXPECT_LE(total, size);
        Adapter.EndRead();
    }
    (void)Adapter.SameContentAs(Healthy);
    (void)Healthy.SameContentAs(Adapter);

    TMemoryStream copyStream;
    TWaveStreamAdapter copy(&copyStream, 0);
    (void)copy.CopyFrom(Adapter, 1, 2);
    (void)copy.Concatenate({&Adapter, &Adapter}, 1);
    (void)copy.Mix({&Adapter, &Healthy});
    (void)copy.Insert(1, Adapter);

    Adapter.Reverse();
    Adapter.ChangeVolume(150);
    Adapter.InsertSilence(1, 2);
    Adapter.ConvertTo(PCMFormat(Mono16bit8000Hz));
    Adapter.Crop(0, 5);
    Adapter.Delete(1, 1);
    Adapter.DeleteTail(1);
    Adapter.TrimToData();
    EXPECT_LE(stream.GetSize(), std::max<std::int64_t>(size, 46 + 2 * 1024 * 1024));
}
} // namespace

TEST(WaveFuzz, DamagedFilesAreRefusedOrReadSafely) {
    Mutator mutator(20261210);
    const std::vector<QByteArray> seeds = Seeds();
    auto healthyStream = MemoryStreamOf(seeds.front());
    TWaveStreamAdapter healthy(healthyStream.get(), 0);
    ASSERT_TRUE(healthy.Valid());
    int valid = 0;
    constexpr int Rounds = 4000;
    for (int round = 0; round < Rounds; ++round) {
        const QByteArray damaged = mutator.Mutate(seeds[std::size_t(round) % seeds.size()]);
        SCOPED_TRACE(damaged.toHex().toStdString());
        auto stream = MemoryStreamOf(damaged);
        TWaveStreamAdapter adapter(stream.get(), 0);
        valid += adapter.Valid();
        Exercise(adapter, healthy);
        if (HasFatalFailure() || HasFailure())
            break;
    }
    // The mutations leave a fair share readable, so the reading paths were exercised too.
    EXPECT_GT(valid, Rounds / 10);
    EXPECT_LT(valid, Rounds);
}

TEST(WaveFuzz, DamagedFilesOnDiskAreReadSafely) {
    TestDir dir;
    Mutator mutator(7);
    const std::vector<QByteArray> seeds = Seeds();
    auto healthyStream = MemoryStreamOf(seeds.front());
    TWaveStreamAdapter healthy(healthyStream.get(), 0);
    for (int round = 0; round < 300; ++round) {
        const QByteArray damaged = mutator.Mutate(seeds[std::size_t(round) % seeds.size()]);
        SCOPED_TRACE(damaged.toHex().toStdString());
        WriteWholeFile(dir.path("damaged.wav"), damaged);
        TWaveStreamAdapter adapter(new TFileStream(dir.path("damaged.wav"), fmOpenReadWrite), 1);
        Exercise(adapter, healthy);
        if (HasFailure())
            break;
    }
}
