#include "audio/WaveStorage.h"
#include "TestFiles.h"
#include "WaveFixtures.h"
#include "platform/Streams.h"

#include <gtest/gtest.h>

using namespace win; // the platform layer's Windows-style names

namespace {
struct Written {
    QByteArray Bytes;
    bool Valid;
    DWORD Length;
};

// Writes Audio as one WAVE of Format into a memory stream, in pieces of at most Piece bytes.
Written WriteWave(const WAVEFORMATEX& Format, const QByteArray& Audio, int Piece = 4096) {
    TMemoryStream stream;
    TWaveStreamAdapter adapter(&stream, 0);
    EXPECT_TRUE(adapter.BeginWrite(Format));
    for (int offset = 0; offset < Audio.size(); offset += Piece) {
        const int count = std::min<int>(Piece, int(Audio.size()) - offset);
        EXPECT_EQ(adapter.Write(Audio.constData() + offset, count), count);
    }
    EXPECT_TRUE(adapter.EndWrite());
    return {ContentOf(stream), adapter.Valid(), adapter.Length()};
}

QByteArray Audio(int Size) {
    QByteArray audio(Size, '\0');
    for (int i = 0; i < Size; ++i)
        audio[i] = char(i * 7 + 3);
    return audio;
}
} // namespace

TEST(WaveLayout, EmptyPCMWaveIs46Bytes) {
    const WAVEFORMATEX format = PCMFormat(Mono16bit8000Hz);
    const Written wave = WriteWave(format, {});
    const QByteArray expected = QByteArray("RIFF") + LittleEndian32(38) + "WAVE" + "fmt " +
                                LittleEndian32(18) + FormatBody(format) + "data" + LittleEndian32(0);
    ASSERT_EQ(expected.size(), 46);
    EXPECT_EQ(wave.Bytes.toHex(), expected.toHex());
    EXPECT_TRUE(wave.Valid);
    EXPECT_EQ(wave.Length, 0u);
}

TEST(WaveLayout, SizesForEvenAndOddAudio) {
    struct Case {
        TPCMFormat Format;
        int AudioBytes;
        std::uint32_t RiffSize;
        int FileSize;
        DWORD Length;
    };
    const Case cases[] = {
        {Mono16bit8000Hz, 16000, 16038, 16046, 1000},
        {Mono8Bit8000Hz, 7, 38 + 7 + 1, 46 + 7, 1},
        {Mono8Bit8000Hz, 1, 40, 47, 0},
        {Stereo16bit44100Hz, 176400, 176438, 176446, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.AudioBytes);
        const QByteArray audio = Audio(c.AudioBytes);
        const Written wave = WriteWave(PCMFormat(c.Format), audio, 1001);
        ASSERT_EQ(wave.Bytes.size(), c.FileSize);
        EXPECT_EQ(ReadLittleEndian32(wave.Bytes, 4), c.RiffSize);
        EXPECT_EQ(ReadLittleEndian32(wave.Bytes, 16), 18u);
        EXPECT_EQ(wave.Bytes.mid(38, 4), "data");
        EXPECT_EQ(ReadLittleEndian32(wave.Bytes, 42), std::uint32_t(c.AudioBytes));
        EXPECT_EQ(wave.Bytes.mid(46), audio);
        EXPECT_EQ(wave.Length, c.Length);
    }
}

TEST(WaveLayout, FormatExtraBytesArePaddedToEven) {
    struct {
        WAVEFORMATEX Format;
        std::uint8_t Extra;
    } record{PCMFormat(Mono16bit8000Hz), 0x5A};
    record.Format.cbSize = 1;
    const QByteArray audio = Audio(10);
    const Written wave = WriteWave(record.Format, audio);
    EXPECT_EQ(ReadLittleEndian32(wave.Bytes, 16), 19u);
    EXPECT_EQ(std::uint8_t(wave.Bytes.at(38)), 0x5A);
    EXPECT_EQ(wave.Bytes.at(39), '\0');
    EXPECT_EQ(wave.Bytes.mid(40, 4), "data");
    EXPECT_EQ(ReadLittleEndian32(wave.Bytes, 44), 10u);
    EXPECT_EQ(ReadLittleEndian32(wave.Bytes, 4), 38u + 1 + 1 + 10);
    EXPECT_EQ(wave.Bytes.size(), 48 + 10);
}

TEST(WaveLayout, SizesStayZeroWhileWritingAndOthersMayMoveTheStream) {
    TMemoryStream stream;
    TWaveStreamAdapter adapter(&stream, 0);
    ASSERT_TRUE(adapter.BeginWrite(PCMFormat(Mono8Bit8000Hz)));
    EXPECT_EQ(adapter.DataOffset(), 0u); // not valid while writing
    ASSERT_EQ(adapter.Write("abc", 3), 3);
    const QByteArray midway = ContentOf(stream);
    EXPECT_EQ(ReadLittleEndian32(midway, 4), 0u);
    EXPECT_EQ(ReadLittleEndian32(midway, 42), 0u);
    stream.SetPosition(0); // another user of the stream
    ASSERT_EQ(adapter.Write("de", 2), 2);
    ASSERT_TRUE(adapter.EndWrite());
    const QByteArray done = ContentOf(stream);
    EXPECT_EQ(done.mid(46), "abcde");
    EXPECT_EQ(adapter.DataSize(), 5u);
    EXPECT_EQ(adapter.DataOffset(), 46u);
}

TEST(WaveReading, AcceptsWhatTheFormatAllows) {
    const WAVEFORMATEX pcm = PCMFormat(Stereo16bit22050Hz);
    const QByteArray audio = Audio(8);
    struct Case {
        const char* Name;
        QByteArray Bytes;
        bool Valid;
        DWORD DataOffset;
        WORD Bits;
    };
    const Case cases[] = {
        {"plain", WaveFile(pcm, audio), true, 46, 16},
        {"16-byte format chunk", Riff(Chunk("fmt ", FormatBody(pcm, 16)) + Chunk("data", audio)), true, 44,
         16},
        {"14-byte format chunk", Riff(Chunk("fmt ", FormatBody(pcm, 14)) + Chunk("data", audio)), true, 42,
         0},
        {"13-byte format chunk", Riff(Chunk("fmt ", FormatBody(pcm, 13)) + Chunk("data", audio)), false, 0,
         0},
        {"fact and LIST before data",
         Riff(Chunk("fmt ", FormatBody(pcm, 16)) + Chunk("fact", LittleEndian32(2)) +
              Chunk("LIST", QByteArray("INFOISFT") + LittleEndian32(3) + "ab") + Chunk("data", audio)),
         true, 44 + 12 + 22, 16},
        {"LIST before fmt",
         Riff(Chunk("LIST", "INFOx") + Chunk("fmt ", FormatBody(pcm)) + Chunk("data", audio)), true, 14 + 46,
         16},
        {"data before fmt", Riff(Chunk("data", audio) + Chunk("fmt ", FormatBody(pcm))), false, 0, 0},
        {"junk chunk before RIFF", Chunk("JUNK", "xyz") + WaveFile(pcm, audio), true, 12 + 46, 16},
        {"other RIFF form", Riff(Chunk("fmt ", FormatBody(pcm)) + Chunk("data", audio), "AVI "), false, 0, 0},
        {"ids are case-sensitive", Riff(Chunk("FMT ", FormatBody(pcm)) + Chunk("data", audio)), false, 0, 0},
        {"no data chunk", Riff(Chunk("fmt ", FormatBody(pcm))), false, 0, 0},
        {"data outside the RIFF chunk", Riff(Chunk("fmt ", FormatBody(pcm))) + Chunk("data", audio), false, 0,
         0},
        {"empty", QByteArray(), false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        auto stream = MemoryStreamOf(c.Bytes);
        stream->SetPosition(stream->GetSize() / 2);
        TWaveStreamAdapter adapter(stream.get(), 0);
        ASSERT_EQ(adapter.Valid(), c.Valid);
        EXPECT_EQ(stream->GetPosition(), 0); // reading the header rewinds
        EXPECT_EQ(adapter.DataOffset(), c.DataOffset);
        EXPECT_EQ(adapter.DataSize(), c.Valid ? 8u : 0u);
        EXPECT_EQ(adapter.WaveFormat() != nullptr, c.Valid);
        if (!c.Valid)
            continue;
        EXPECT_EQ(adapter.WaveFormat()->wBitsPerSample, c.Bits);
        EXPECT_EQ(adapter.WaveFormat()->cbSize, 0);
        EXPECT_EQ(adapter.WaveFormat()->nSamplesPerSec, 22050u);
    }
}

TEST(WaveReading, FormatShorterThanItsExtraBytesClaimIsZeroExtended) {
    WAVEFORMATEX lying = PCMFormat(Mono16bit8000Hz);
    lying.cbSize = 22; // says 22 extra bytes, the chunk has none
    auto stream = MemoryStreamOf(WaveFile(lying, Audio(32)));
    TWaveStreamAdapter adapter(stream.get(), 0);
    ASSERT_TRUE(adapter.Valid());
    EXPECT_EQ(adapter.WaveFormat()->cbSize, 22);
    EXPECT_TRUE(adapter.SameFormatAs(adapter)); // compares 40 bytes without reading past the record
    TMemoryStream copyStream;
    TWaveStreamAdapter copy(&copyStream, 0);
    ASSERT_TRUE(copy.CopyFrom(adapter, 0, 1000));
    EXPECT_EQ(ReadLittleEndian32(ContentOf(copyStream), 16), 40u);
}

TEST(WaveStates, OperationsOutOfStateAreRefused) {
    auto stream = MemoryStreamOf(WaveFile(PCMFormat(Mono8Bit8000Hz), "abcd"));
    TWaveStreamAdapter adapter(stream.get(), 0);
    char buffer[4];
    EXPECT_EQ(adapter.Write("x", 1), -1);
    EXPECT_FALSE(adapter.EndWrite());
    EXPECT_EQ(adapter.Read(buffer, 4), -1);
    EXPECT_FALSE(adapter.EndRead());

    ASSERT_TRUE(adapter.BeginRead());
    EXPECT_EQ(adapter.Write("x", 1), -1);
    EXPECT_FALSE(adapter.BeginWrite(PCMFormat(Mono8Bit8000Hz)));
    ASSERT_EQ(adapter.Read(buffer, 4), 4);
    EXPECT_EQ(QByteArray(buffer, 4), "abcd");
    EXPECT_TRUE(adapter.EndRead());

    ASSERT_TRUE(adapter.BeginWrite(PCMFormat(Mono8Bit8000Hz)));
    EXPECT_FALSE(adapter.BeginRead());
    EXPECT_FALSE(adapter.BeginWrite(PCMFormat(Mono8Bit8000Hz)));
    EXPECT_TRUE(adapter.EndWrite());

    TMemoryStream empty;
    TWaveStreamAdapter none(&empty, 0);
    EXPECT_FALSE(none.BeginRead());
    EXPECT_EQ(none.Length(), 0u);
}

TEST(WaveData, AcquireInPlaceForMemoryAndAsCopyOtherwise) {
    TestDir dir;
    const QByteArray file = WaveFile(PCMFormat(Mono8Bit8000Hz), "wxyz");
    auto memory = MemoryStreamOf(file);
    TWaveStreamAdapter adapter(memory.get(), 0);
    void* data = nullptr;
    ASSERT_TRUE(adapter.AcquireData(data, false));
    EXPECT_EQ(data, static_cast<char*>(memory->Memory()) + 46);
    static_cast<char*>(data)[0] = 'W';
    EXPECT_TRUE(adapter.ReleaseData(data, false));
    EXPECT_EQ(ContentOf(*memory).mid(46), "Wxyz"); // changed in place

    ASSERT_TRUE(adapter.AcquireData(data, true));
    EXPECT_NE(data, static_cast<char*>(memory->Memory()) + 46);
    static_cast<char*>(data)[1] = 'X';
    EXPECT_TRUE(adapter.ReleaseData(data, true));
    EXPECT_EQ(ContentOf(*memory).mid(46), "WXyz");

    WriteWholeFile(dir.path("a.wav"), file);
    TWaveStreamAdapter onDisk(new TFileStream(dir.path("a.wav"), fmOpenReadWrite), 1);
    ASSERT_TRUE(onDisk.AcquireData(data, false));
    static_cast<char*>(data)[3] = 'Z';
    EXPECT_TRUE(onDisk.ReleaseData(data, true));
    EXPECT_FALSE(onDisk.ReleaseData(nullptr, true));
    EXPECT_EQ(ContentOf(*onDisk.Stream()).mid(46), "wxyZ");
}

TEST(WaveData, LyingDataSizeIsRefusedWithoutAllocatingIt) {
    const QByteArray lying =
        Riff(Chunk("fmt ", FormatBody(PCMFormat(Mono8Bit8000Hz))) + Chunk("data", "abcd", 0xFFFFFFF0u));
    auto stream = MemoryStreamOf(lying);
    TWaveStreamAdapter adapter(stream.get(), 0);
    ASSERT_TRUE(adapter.Valid()); // the header is taken as it stands
    EXPECT_EQ(adapter.DataSize(), 0xFFFFFFF0u);
    void* data = reinterpret_cast<void*>(1);
    EXPECT_FALSE(adapter.AcquireData(data, true));
    EXPECT_EQ(data, nullptr);
    EXPECT_FALSE(adapter.Reverse());
    adapter.TrimToData(); // never grows the stream
    EXPECT_EQ(stream->GetSize(), lying.size());
}

TEST(WaveWhole, FilesLoadSaveAndErrorsNameTheFile) {
    TestDir dir;
    const QByteArray file = WaveFile(PCMFormat(Mono16bit8000Hz), Samples({1, 2, 3}));
    WriteWholeFile(dir.path("in.wav"), file);

    TMemoryStream stream;
    TWaveStreamAdapter adapter(&stream, 0);
    adapter.LoadFromFile(dir.path("in.wav"));
    EXPECT_TRUE(adapter.Valid());
    EXPECT_EQ(adapter.DataSize(), 6u);
    adapter.SaveToFile(dir.path("out.wav"));
    EXPECT_EQ(ReadWholeFile(dir.path("out.wav")), file);

    try {
        adapter.LoadFromFile(dir.path("missing.wav"));
        FAIL() << "no error";
    } catch (const EFOpenError& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("Cannot open file \"%1\". No such file or directory")
                                       .arg(dir.path("missing.wav")));
    }
    EXPECT_THROW(adapter.SaveToFile(dir.path("no/such/folder.wav")), EFCreateError);
    EXPECT_TRUE(adapter.Valid()); // a failed load or save leaves the content alone
}

TEST(WaveWhole, AssignClearTrimAndNotifications) {
    auto source = MemoryStreamOf(WaveFile(PCMFormat(Mono8Bit8000Hz), "12345678") + "trailing");
    TWaveStreamAdapter from(source.get(), 0);
    TMemoryStream stream;
    TWaveStreamAdapter adapter(&stream, 0);
    int changing = 0, changed = 0;
    adapter.OnChanging = [&](TWaveStreamAdapter* sender) {
        EXPECT_EQ(sender, &adapter);
        ++changing;
    };
    adapter.OnChange = [&](TWaveStreamAdapter*) { ++changed; };

    source->SetPosition(5);
    adapter.Assign(&from);
    EXPECT_EQ(changing, 0); // it was stale already
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(stream.GetSize(), 46 + 8 + 8);
    adapter.TrimToData();
    EXPECT_EQ(stream.GetSize(), 46 + 8);

    TPersistent other;
    try {
        adapter.Assign(&other);
        FAIL() << "no error";
    } catch (const EConvertError& error) {
        EXPECT_EQ(error.Message(), "Cannot assign a TPersistent to a TWaveStreamAdapter");
    }

    adapter.Clear();
    EXPECT_EQ(changing, 1);
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(stream.GetSize(), 0);
    EXPECT_FALSE(adapter.Valid());
    EXPECT_EQ(changed, 3); // the re-read
    adapter.Invalidate();
    EXPECT_FALSE(adapter.Valid());
    EXPECT_EQ(changing, 1);

    TMemoryStream junk;
    junk.WriteBuffer("not a wave", 10);
    TWaveStreamAdapter junkAdapter(&junk, 0);
    junkAdapter.TrimToData();
    EXPECT_EQ(junk.GetSize(), 0);
}

TEST(WaveWhole, DestroyingAWriterFinishesTheFile) {
    TestDir dir;
    {
        TWaveStreamAdapter adapter(new TFileStream(dir.path("rec.wav"), fmCreate), 1);
        ASSERT_TRUE(adapter.BeginWrite(PCMFormat(Mono8Bit8000Hz)));
        ASSERT_EQ(adapter.Write("abc", 3), 3);
    }
    const QByteArray file = ReadWholeFile(dir.path("rec.wav"));
    ASSERT_EQ(file.size(), 49);
    EXPECT_EQ(ReadLittleEndian32(file, 4), 42u);
    EXPECT_EQ(ReadLittleEndian32(file, 42), 3u);
}

namespace {

// A disk that fills up at Capacity bytes: writes that would go past it write what fits.
class TFullDiskStream : public TMemoryStream {
public:
    explicit TFullDiskStream(std::int64_t Capacity) : FCapacity(Capacity) {}
    std::int32_t Write(const void* Buffer, std::int32_t Count) override {
        const std::int64_t room = std::max<std::int64_t>(0, FCapacity - GetPosition());
        return TMemoryStream::Write(Buffer, std::int32_t(std::min<std::int64_t>(Count, room)));
    }

private:
    std::int64_t FCapacity;
};

} // namespace

TEST(WaveWriting, AFullDiskAtThePadByteFailsButWritesBothSizes) {
    // 46 bytes of header (an 18-byte format record) and 3 of audio fit; the pad byte does not.
    TFullDiskStream stream(49);
    TWaveStreamAdapter adapter(&stream, 0);
    ASSERT_TRUE(adapter.BeginWrite(PCMFormat(Mono8Bit8000Hz)));
    ASSERT_EQ(adapter.Write("abc", 3), 3);
    EXPECT_FALSE(adapter.EndWrite());
    const QByteArray bytes = ContentOf(stream);
    ASSERT_EQ(bytes.size(), 49);
    EXPECT_EQ(ReadLittleEndian32(bytes, 42), 3u) << "the data size";
    EXPECT_EQ(ReadLittleEndian32(bytes, 4), 41u) << "the RIFF size of what is there";
}
