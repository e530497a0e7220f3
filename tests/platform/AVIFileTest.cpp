#include "platform/Vfw.h"

#include "FileSizeLimit.h"
#include "TestFiles.h"
#include "platform/GlobalMemory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

using namespace win; // the platform layer's Windows-style names

namespace {

constexpr FOURCC kMSVC = MakeFourCC('M', 'S', 'V', 'C');

struct TColour {
    int R = 0, G = 0, B = 0;
};

// Two inks that differ in every channel, so a pixel read from the wrong place shows.
constexpr TColour kInkA{248, 32, 0};
constexpr TColour kInkB{0, 96, 248};
// Every other colour table entry: what a misread index turns into.
constexpr TColour kWrongEntry{0, 248, 0};

int RoundUpTo4(int size) {
    return (size + 3) / 4 * 4;
}

// A packed frame: header, colour table at 8 bits or fewer, bottom-up rows padded to 4 bytes. Pixels
// are one of two inks; at 8 bits or fewer the inks sit at table indices whose bit patterns tell
// bit and nibble order apart.
class TTestFrame {
public:
    TTestFrame(int width, int height, int bits) : Width(width), Height(height), Bits(bits) {
        Header.biSize = sizeof(BITMAPINFOHEADER);
        Header.biWidth = width;
        Header.biHeight = height;
        Header.biPlanes = 1;
        Header.biBitCount = static_cast<WORD>(bits);
        Header.biSizeImage = DibStride(width, static_cast<WORD>(bits)) * height;
        Header.biClrUsed = DibColorCount(static_cast<WORD>(bits));
        Pixels.assign(Header.biSizeImage, 0);
        Table.assign(Header.biClrUsed, Quad(kWrongEntry));
        if (bits <= 8) {
            Table[InkIndex(false)] = Quad(kInkA);
            Table[InkIndex(true)] = Quad(kInkB);
        }
    }

    // x and y count from the top left.
    void Set(int x, int y, bool inkB) { Set(x, y, inkB ? kInkB : kInkA, InkIndex(inkB)); }

    // Frames above 8 bits only.
    void Fill(const TColour& colour) {
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                Set(x, y, colour, 0);
    }

    std::vector<BYTE> Format() const {
        std::vector<BYTE> format(sizeof Header + 4 * Table.size());
        std::memcpy(format.data(), &Header, sizeof Header);
        if (!Table.empty())
            std::memcpy(format.data() + sizeof Header, Table.data(), 4 * Table.size());
        return format;
    }

    BITMAPINFOHEADER Header{};
    std::vector<BYTE> Pixels;

private:
    unsigned InkIndex(bool inkB) const {
        switch (Bits) {
        case 1:
            return inkB ? 1 : 0;
        case 4:
            return inkB ? 0x9 : 0x6;
        default:
            return inkB ? 200 : 37;
        }
    }

    static RGBQUAD Quad(const TColour& colour) { return {BYTE(colour.B), BYTE(colour.G), BYTE(colour.R), 0}; }

    void Set(int x, int y, const TColour& colour, unsigned index) {
        BYTE* row = Pixels.data() + (Height - 1 - y) * DibStride(Width, WORD(Bits));
        switch (Bits) {
        case 16: {
            const int value = (colour.R >> 3) << 10 | (colour.G >> 3) << 5 | colour.B >> 3;
            row[2 * x] = BYTE(value);
            row[2 * x + 1] = BYTE(value >> 8);
            break;
        }
        case 24:
        case 32: {
            BYTE* pixel = row + x * Bits / 8;
            pixel[0] = BYTE(colour.B);
            pixel[1] = BYTE(colour.G);
            pixel[2] = BYTE(colour.R);
            if (Bits == 32)
                pixel[3] = 0x5A; // unused byte: must not matter
            break;
        }
        default: {
            const int bit = x * Bits;
            const int shift = 8 - Bits - bit % 8;
            const int mask = ((1 << Bits) - 1) << shift;
            row[bit / 8] = BYTE((row[bit / 8] & ~mask) | (index << shift));
        }
        }
    }

    int Width, Height, Bits;
    std::vector<RGBQUAD> Table;
};

// Which ink a pixel of a frame gets: scattered, different in every frame.
bool Pattern(int x, int y, int frame) {
    const unsigned hash = unsigned(x) * 73856093u ^ unsigned(y) * 19349663u ^ unsigned(frame + 1) * 83492791u;
    return (hash >> 7) & 1;
}

TTestFrame PatternFrame(int width, int height, int bits, int frame) {
    TTestFrame result(width, height, bits);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            result.Set(x, y, Pattern(x, y, frame));
    return result;
}

TTestFrame SolidFrame(int width, int height, const TColour& colour) {
    TTestFrame result(width, height, 24);
    result.Fill(colour);
    return result;
}

AVICOMPRESSOPTIONS Options(FOURCC codec = kMSVC, DWORD keyFrameEvery = 5,
                           DWORD flags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID) {
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = codec;
    options.dwKeyFrameEvery = keyFrameEvery;
    options.dwQuality = 6550;
    options.dwFlags = flags;
    return options;
}

AVISTREAMINFOA StreamInfo(const BITMAPINFOHEADER& header) {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 10;
    info.dwSuggestedBufferSize = header.biSizeImage;
    info.rcFrame = {0, 0, header.biWidth, header.biHeight};
    return info;
}

// One recording's handles, made in the recording loop's order and released in the order asked
// ('f' file, 'r' raw stream, 'c' compressed stream).
class TWriter {
public:
    ~TWriter() { Release("frc"); }

    HRESULT Open(const QString& path, const TTestFrame& first,
                 const AVICOMPRESSOPTIONS& options = Options()) {
        HRESULT result =
            AVIFileOpenA(&File, QFile::encodeName(path).constData(), OF_WRITE | OF_CREATE, nullptr);
        AVISTREAMINFOA info = StreamInfo(first.Header);
        if (result == AVIERR_OK)
            result = AVIFileCreateStreamA(File, &Raw, &info);
        AVICOMPRESSOPTIONS compress = options;
        if (result == AVIERR_OK)
            result = AVIMakeCompressedStream(&Compressed, Raw, &compress, nullptr);
        std::vector<BYTE> format = first.Format();
        if (result == AVIERR_OK)
            result = AVIStreamSetFormat(Compressed, 0, format.data(), LONG(format.size()));
        return result;
    }

    HRESULT Write(LONG position, TTestFrame& frame) {
        return AVIStreamWrite(Compressed, position, 1, frame.Pixels.data(), LONG(frame.Pixels.size()), 0,
                              nullptr, nullptr);
    }

    void Release(const std::string& order) {
        for (char handle : order)
            ReleaseOne(handle);
    }

    void ReleaseOne(char handle) {
        if (handle == 'f' && File)
            AVIFileRelease(std::exchange(File, nullptr));
        if (handle == 'r' && Raw)
            AVIStreamRelease(std::exchange(Raw, nullptr));
        if (handle == 'c' && Compressed)
            AVIStreamRelease(std::exchange(Compressed, nullptr));
    }

    PAVIFILE File = nullptr;
    PAVISTREAM Raw = nullptr;
    PAVISTREAM Compressed = nullptr;
};

struct TProbe {
    QJsonArray Streams;
    QJsonObject Video;
    std::vector<int> PacketPositions;
    std::vector<int> KeyPositions;
};

TProbe Probe(const QString& file) {
    const QJsonObject root =
        QJsonDocument::fromJson(
            RunProgram("ffprobe", {"-v", "error", "-show_streams", "-show_packets", "-of", "json", file}))
            .object();
    TProbe probe;
    probe.Streams = root["streams"].toArray();
    probe.Video = probe.Streams.isEmpty() ? QJsonObject() : probe.Streams.first().toObject();
    for (const QJsonValue& value : root["packets"].toArray()) {
        const QJsonObject packet = value.toObject();
        probe.PacketPositions.push_back(packet["pts"].toInt());
        if (packet["flags"].toString().startsWith('K'))
            probe.KeyPositions.push_back(packet["pts"].toInt());
    }
    return probe;
}

// The frames that were written (empty ones left out), as RGB24 rows from the top.
QByteArray Decode(const QString& file) {
    return RunProgram("ffmpeg", {"-v", "error", "-i", file, "-fps_mode", "passthrough", "-f", "rawvideo",
                                 "-pix_fmt", "rgb24", "-"});
}

// 5-5-5 keeps 5 bits a channel.
bool Near(const char* pixel, const TColour& colour) {
    const auto near = [](char got, int want) { return std::abs(int(BYTE(got)) - want) <= 8; };
    return near(pixel[0], colour.R) && near(pixel[1], colour.G) && near(pixel[2], colour.B);
}

TEST(AVIFileTest, ReportsVideoServicesOfVersion110OrLater) {
    EXPECT_GE(VideoForWindowsVersion() >> 16, 0x010Au);
}

struct TDepthCase {
    int Bits, Width, Height;
};

class AVIFileDepthTest : public testing::TestWithParam<TDepthCase> {};

// What the encoder should be handed: top-down 5-5-5 pictures padded to a multiple of 4 by
// repeating the last column and row.
QByteArray ExpectedPictures(const TDepthCase& c, int frames) {
    const int width = RoundUpTo4(c.Width), height = RoundUpTo4(c.Height);
    QByteArray pictures;
    for (int frame = 0; frame < frames; ++frame)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const TColour ink =
                    Pattern(std::min(x, c.Width - 1), std::min(y, c.Height - 1), frame) ? kInkB : kInkA;
                const int value = (ink.R >> 3) << 10 | (ink.G >> 3) << 5 | ink.B >> 3;
                pictures.append(char(value)).append(char(value >> 8));
            }
    return pictures;
}

// The encoder is lossy even on two-colour blocks but deterministic, so the file must decode exactly
// like the expected pictures put through the same encoder by the ffmpeg program.
TEST_P(AVIFileDepthTest, StoresEveryPixelOfEveryFrame) {
    const TDepthCase c = GetParam();
    constexpr int kFrames = 3;
    TestDir dir;
    const QString file = dir.path("depth.avi");
    {
        TWriter writer;
        TTestFrame first = PatternFrame(c.Width, c.Height, c.Bits, 0);
        ASSERT_EQ(writer.Open(file, first), AVIERR_OK);
        for (int frame = 0; frame < kFrames; ++frame) {
            TTestFrame pixels = PatternFrame(c.Width, c.Height, c.Bits, frame);
            ASSERT_EQ(writer.Write(frame, pixels), AVIERR_OK);
        }
    }

    const TProbe probe = Probe(file);
    const int width = RoundUpTo4(c.Width), height = RoundUpTo4(c.Height);
    ASSERT_EQ(probe.Streams.size(), 1);
    EXPECT_EQ(probe.Video["codec_name"].toString(), "msvideo1");
    EXPECT_EQ(probe.Video["codec_tag_string"].toString(), "MSVC");
    EXPECT_EQ(probe.Video["width"].toInt(), width);
    EXPECT_EQ(probe.Video["height"].toInt(), height);
    EXPECT_EQ(probe.Video["r_frame_rate"].toString(), "10/1");
    EXPECT_EQ(probe.Video["nb_frames"].toString(), QString::number(kFrames));

    const QString raw = dir.path("expected.raw"), reference = dir.path("expected.avi");
    WriteWholeFile(raw, ExpectedPictures(c, kFrames));
    // keyint_min 4: a key frame every 5 frames, as the writer asked.
    RunProgram("ffmpeg", {"-v", "error", "-f", "rawvideo", "-pix_fmt", "rgb555le", "-video_size",
                          QStringLiteral("%1x%2").arg(width).arg(height), "-framerate", "10", "-i", raw,
                          "-c:v", "msvideo1", "-keyint_min", "4", reference});
    const QByteArray got = Decode(file), want = Decode(reference);
    ASSERT_EQ(got.size(), kFrames * width * height * 3);
    ASSERT_EQ(want.size(), got.size());
    const auto differ = std::mismatch(got.begin(), got.end(), want.begin());
    const long pixel = (differ.first - got.begin()) / 3;
    EXPECT_TRUE(differ.first == got.end()) << "frame " << pixel / (width * height) << ", pixel "
                                           << pixel % width << "," << pixel / width % height;
}

INSTANTIATE_TEST_SUITE_P(AVIFile, AVIFileDepthTest,
                         testing::Values(TDepthCase{1, 37, 21}, TDepthCase{4, 35, 18}, TDepthCase{8, 33, 17},
                                         TDepthCase{16, 31, 15}, TDepthCase{24, 598, 430},
                                         TDepthCase{32, 64, 48}),
                         [](const testing::TestParamInfo<TDepthCase>& info) {
                             return std::to_string(info.param.Bits) + "Bit" +
                                    std::to_string(info.param.Width) + "x" +
                                    std::to_string(info.param.Height);
                         });

TEST(AVIFileTest, SkippedPositionsStayEmptyFrames) {
    const std::vector<LONG> positions = {0, 1, 4, 5, 9};
    const std::vector<TColour> colours = {
        {248, 0, 0}, {0, 248, 0}, {0, 0, 248}, {248, 248, 0}, {0, 248, 248}};
    TestDir dir;
    const QString file = dir.path("gaps.avi");
    {
        TWriter writer;
        TTestFrame first = SolidFrame(16, 8, colours[0]);
        ASSERT_EQ(writer.Open(file, first), AVIERR_OK);
        for (std::size_t i = 0; i < positions.size(); ++i) {
            TTestFrame frame = SolidFrame(16, 8, colours[i]);
            ASSERT_EQ(writer.Write(positions[i], frame), AVIERR_OK);
        }
    }
    const TProbe probe = Probe(file);
    EXPECT_EQ(probe.Video["nb_frames"].toString(), "10");
    EXPECT_EQ(probe.Video["duration"].toString().toDouble(), 1.0);
    EXPECT_EQ(probe.PacketPositions, std::vector<int>(positions.begin(), positions.end()));

    const QByteArray rgb = Decode(file);
    const int frameBytes = 16 * 8 * 3;
    ASSERT_EQ(rgb.size(), int(positions.size()) * frameBytes);
    for (std::size_t i = 0; i < positions.size(); ++i)
        EXPECT_TRUE(Near(rgb.constData() + i * frameBytes, colours[i])) << "position " << positions[i];
}

TEST(AVIFileTest, PositionsBeforeTheFirstWriteStayEmptyFrames) {
    TestDir dir;
    const QString file = dir.path("late.avi");
    {
        TWriter writer;
        TTestFrame frame = SolidFrame(8, 8, kInkA);
        ASSERT_EQ(writer.Open(file, frame), AVIERR_OK);
        ASSERT_EQ(writer.Write(3, frame), AVIERR_OK);
        ASSERT_EQ(writer.Write(4, frame), AVIERR_OK);
    }
    const TProbe probe = Probe(file);
    EXPECT_EQ(probe.Video["nb_frames"].toString(), "5");
    EXPECT_EQ(probe.PacketPositions, (std::vector<int>{3, 4}));
}

// The encoder counts written frames, not positions; it makes a key frame on its own only when
// nothing could be skipped, which unchanging frames never cause.
TEST(AVIFileTest, MakesKeyFramesAtTheAskedInterval) {
    struct TCase {
        DWORD Flags, Every;
        std::vector<int> Keys;
    };
    const std::vector<int> all = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    const TCase cases[] = {{AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID, 5, {0, 5, 10}},
                           {AVICOMPRESSF_KEYFRAMES, 4, {0, 4, 8}},
                           {AVICOMPRESSF_KEYFRAMES, 1, all},
                           {AVICOMPRESSF_VALID, 5, all}};
    TestDir dir;
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "every " << c.Every << " flags " << c.Flags);
        const QString file = dir.path("keys.avi");
        {
            TWriter writer;
            TTestFrame frame = PatternFrame(16, 16, 24, 0);
            ASSERT_EQ(writer.Open(file, frame, Options(kMSVC, c.Every, c.Flags)), AVIERR_OK);
            for (int position = 0; position < 12; ++position)
                ASSERT_EQ(writer.Write(position, frame), AVIERR_OK);
        }
        EXPECT_EQ(Probe(file).KeyPositions, c.Keys);
    }
}

// The index is written once the last of the three handles goes, whichever that is; until then
// the streams keep the file open and writable.
TEST(AVIFileTest, FinishesTheFileOnTheLastReleaseInAnyOrder) {
    TestDir dir;
    for (const char* order : {"frc", "fcr", "rfc", "crf", "cfr"}) {
        SCOPED_TRACE(order);
        const QString file = dir.path(QString::fromLatin1(order) + ".avi");
        TWriter writer;
        TTestFrame frame = PatternFrame(16, 16, 32, 0);
        ASSERT_EQ(writer.Open(file, frame), AVIERR_OK);
        ASSERT_EQ(writer.Write(0, frame), AVIERR_OK);
        writer.ReleaseOne(order[0]);
        if (order[0] != 'c') {
            ASSERT_EQ(writer.Write(1, frame), AVIERR_OK);
        }
        writer.ReleaseOne(order[1]);
        EXPECT_FALSE(ReadWholeFile(file).contains("idx1"));
        writer.ReleaseOne(order[2]);

        EXPECT_TRUE(ReadWholeFile(file).contains("idx1"));
        const int frames = order[0] != 'c' ? 2 : 1;
        EXPECT_EQ(Probe(file).Video["nb_frames"].toString(), QString::number(frames));
        EXPECT_EQ(Decode(file).size(), frames * 16 * 16 * 3);
    }
}

TEST(AVIFileTest, FormatWithoutFramesGivesAReadableFile) {
    TestDir dir;
    const QString file = dir.path("empty.avi");
    {
        TWriter writer;
        TTestFrame frame(30, 20, 24);
        ASSERT_EQ(writer.Open(file, frame), AVIERR_OK);
    }
    const TProbe probe = Probe(file);
    ASSERT_EQ(probe.Streams.size(), 1);
    EXPECT_EQ(probe.Video["codec_type"].toString(), "video");
    EXPECT_EQ(probe.Video["codec_name"].toString(), "msvideo1");
    EXPECT_EQ(probe.Video["width"].toInt(), 32);
    EXPECT_EQ(probe.Video["r_frame_rate"].toString(), "10/1");
}

TEST(AVIFileTest, OpensAnyNameTheFileSystemTakes) {
    TestDir dir;
    // A colon must not make the name a network address; names are UTF-8.
    for (const QString& name : {QStringLiteral("http:clip.avi"), QStringLiteral("vidéo ü.avi")}) {
        SCOPED_TRACE(name.toStdString());
        WriteWholeFile(dir.path(name), "old contents");
        PAVIFILE file = nullptr;
        ASSERT_EQ(
            AVIFileOpenA(&file, QFile::encodeName(dir.path(name)).constData(), OF_WRITE | OF_CREATE, nullptr),
            AVIERR_OK);
        EXPECT_EQ(QFileInfo(dir.path(name)).size(), 0) << "an existing file is emptied";
        EXPECT_EQ(AVIFileRelease(file), 0u);
    }
}

TEST(AVIFileTest, OpenFailsWhereNoFileCanBeMade) {
    TestDir dir;
    ASSERT_TRUE(QDir(dir.path("")).mkdir("folder"));
    for (const QString& path : {dir.path("missing/clip.avi"), dir.path("folder"), QString()}) {
        SCOPED_TRACE(path.toStdString());
        PAVIFILE file = reinterpret_cast<PAVIFILE>(&dir);
        EXPECT_EQ(AVIFileOpenA(&file, QFile::encodeName(path).constData(), OF_WRITE | OF_CREATE, nullptr),
                  AVIERR_FILEOPEN);
        EXPECT_EQ(file, nullptr);
    }
    EXPECT_FALSE(QFileInfo::exists(dir.path("missing")));

    PAVIFILE file = nullptr;
    const QByteArray name = QFile::encodeName(dir.path("clip.avi"));
    EXPECT_EQ(AVIFileOpenA(&file, name.constData(), OF_WRITE, nullptr), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIFileOpenA(&file, name.constData(), OF_WRITE | OF_CREATE, &dir), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIFileOpenA(&file, nullptr, OF_WRITE | OF_CREATE, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIFileOpenA(nullptr, name.constData(), OF_WRITE | OF_CREATE, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(file, nullptr);
}

TEST(AVIFileTest, TakesOnlyMicrosoftVideo1) {
    struct TCase {
        FOURCC Code;
        HRESULT Result;
    };
    const TCase cases[] = {{kMSVC, AVIERR_OK},
                           {MakeFourCC('m', 's', 'v', 'c'), AVIERR_OK},
                           {MakeFourCC('C', 'R', 'A', 'M'), AVIERR_OK},
                           {MakeFourCC('c', 'r', 'a', 'm'), AVIERR_OK},
                           {MakeFourCC('X', 'V', 'I', 'D'), AVIERR_NOCOMPRESSOR},
                           {MakeFourCC('D', 'I', 'B', ' '), AVIERR_NOCOMPRESSOR},
                           {0, AVIERR_NOCOMPRESSOR}};
    TestDir dir;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Code);
        TWriter writer;
        TTestFrame frame(8, 8, 24);
        EXPECT_EQ(writer.Open(dir.path("codec.avi"), frame, Options(c.Code)), c.Result);
        EXPECT_EQ(writer.Compressed != nullptr, c.Result == AVIERR_OK);
    }
}

TEST(AVIFileTest, RefusesFormatsItCannotStore) {
    struct TCase {
        const char* Name;
        void (*Change)(BITMAPINFOHEADER&);
        int Bits = 24;
        int SizeChange = 0;
    };
    const TCase cases[] = {
        {"absurd width", [](BITMAPINFOHEADER& h) { h.biWidth = 100000; }},
        {"zero width", [](BITMAPINFOHEADER& h) { h.biWidth = 0; }},
        {"negative width", [](BITMAPINFOHEADER& h) { h.biWidth = -8; }},
        {"zero height", [](BITMAPINFOHEADER& h) { h.biHeight = 0; }},
        {"rows from the top", [](BITMAPINFOHEADER& h) { h.biHeight = -8; }},
        {"absurd height", [](BITMAPINFOHEADER& h) { h.biHeight = 9000; }},
        {"12 bits", [](BITMAPINFOHEADER& h) { h.biBitCount = 12; }},
        {"bit fields", [](BITMAPINFOHEADER& h) { h.biCompression = 3; }},
        {"two planes", [](BITMAPINFOHEADER& h) { h.biPlanes = 2; }},
        {"core header", [](BITMAPINFOHEADER& h) { h.biSize = 12; }},
        {"header beyond the block", [](BITMAPINFOHEADER& h) { h.biSize = 44; }},
        {"image size too small", [](BITMAPINFOHEADER& h) { h.biSizeImage = 10; }},
        {"short header", [](BITMAPINFOHEADER&) {}, 24, -1},
        {"colour table missing", [](BITMAPINFOHEADER&) {}, 8, -4},
        {"too many colours", [](BITMAPINFOHEADER& h) { h.biClrUsed = 257; }, 8, 4},
    };
    TestDir dir;
    TWriter writer;
    TTestFrame good(8, 8, 24);
    ASSERT_EQ(AVIFileOpenA(&writer.File, QFile::encodeName(dir.path("format.avi")).constData(),
                           OF_WRITE | OF_CREATE, nullptr),
              AVIERR_OK);
    AVISTREAMINFOA info = StreamInfo(good.Header);
    ASSERT_EQ(AVIFileCreateStreamA(writer.File, &writer.Raw, &info), AVIERR_OK);
    AVICOMPRESSOPTIONS options = Options();
    ASSERT_EQ(AVIMakeCompressedStream(&writer.Compressed, writer.Raw, &options, nullptr), AVIERR_OK);
    for (const TCase& c : cases) {
        TTestFrame frame(8, 8, c.Bits);
        c.Change(frame.Header);
        std::vector<BYTE> format = frame.Format();
        format.resize(format.size() + c.SizeChange);
        EXPECT_EQ(AVIStreamSetFormat(writer.Compressed, 0, format.data(), LONG(format.size())),
                  AVIERR_BADFORMAT)
            << c.Name;
    }
    std::vector<BYTE> format = good.Format();
    EXPECT_EQ(AVIStreamSetFormat(writer.Compressed, 1, format.data(), LONG(format.size())), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamSetFormat(writer.Compressed, 0, nullptr, 40), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamSetFormat(writer.Raw, 0, format.data(), LONG(format.size())), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIStreamSetFormat(writer.Compressed, 0, format.data(), LONG(format.size())), AVIERR_OK);
    EXPECT_EQ(AVIStreamSetFormat(writer.Compressed, 0, format.data(), LONG(format.size())),
              AVIERR_UNSUPPORTED);
}

TEST(AVIFileTest, RefusesStreamsItCannotMake) {
    TestDir dir;
    TTestFrame frame(8, 8, 24);
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, QFile::encodeName(dir.path("streams.avi")).constData(),
                           OF_WRITE | OF_CREATE, nullptr),
              AVIERR_OK);
    PAVISTREAM stream = nullptr;
    const auto create = [&](void (*change)(AVISTREAMINFOA&)) {
        AVISTREAMINFOA info = StreamInfo(frame.Header);
        change(info);
        return AVIFileCreateStreamA(file, &stream, &info);
    };
    EXPECT_EQ(create([](AVISTREAMINFOA& i) { i.fccType = MakeFourCC('a', 'u', 'd', 's'); }),
              AVIERR_UNSUPPORTED);
    EXPECT_EQ(create([](AVISTREAMINFOA& i) { i.dwRate = 0; }), AVIERR_BADPARAM);
    EXPECT_EQ(create([](AVISTREAMINFOA& i) { i.dwScale = 0; }), AVIERR_BADPARAM);
    EXPECT_EQ(create([](AVISTREAMINFOA& i) { i.rcFrame.right = 100000; }), AVIERR_BADPARAM);
    EXPECT_EQ(create([](AVISTREAMINFOA& i) { i.rcFrame.bottom = -1; }), AVIERR_BADPARAM);
    EXPECT_EQ(AVIFileCreateStreamA(file, &stream, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIFileCreateStreamA(nullptr, &stream, nullptr), AVIERR_BADHANDLE);
    EXPECT_EQ(stream, nullptr);

    ASSERT_EQ(create([](AVISTREAMINFOA&) {}), AVIERR_OK);
    PAVISTREAM second = nullptr;
    AVISTREAMINFOA info = StreamInfo(frame.Header);
    EXPECT_EQ(AVIFileCreateStreamA(file, &second, &info), AVIERR_UNSUPPORTED) << "one stream a file";

    AVICOMPRESSOPTIONS options = Options();
    PAVISTREAM compressed = nullptr;
    EXPECT_EQ(AVIMakeCompressedStream(&compressed, stream, nullptr, nullptr), AVIERR_BADPARAM);
    EXPECT_EQ(AVIMakeCompressedStream(&compressed, stream, &options, &options), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIMakeCompressedStream(&compressed, nullptr, &options, nullptr), AVIERR_BADHANDLE);
    ASSERT_EQ(AVIMakeCompressedStream(&compressed, stream, &options, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIMakeCompressedStream(&second, stream, &options, nullptr), AVIERR_UNSUPPORTED);
    EXPECT_EQ(AVIMakeCompressedStream(&second, compressed, &options, nullptr), AVIERR_UNSUPPORTED);
    EXPECT_EQ(second, nullptr);

    EXPECT_EQ(AVIFileRelease(file), 1u) << "the raw stream holds the file";
    EXPECT_EQ(AVIStreamRelease(stream), 1u) << "the compressed stream holds the raw one";
    EXPECT_EQ(AVIStreamRelease(compressed), 0u);
    EXPECT_EQ(AVIStreamRelease(compressed), 0u) << "a released handle is not used again";
    EXPECT_EQ(AVIFileRelease(nullptr), 0u);
    EXPECT_EQ(AVIStreamRelease(nullptr), 0u);
}

TEST(AVIFileTest, RefusesWritesItCannotTake) {
    TestDir dir;
    const QString file = dir.path("writes.avi");
    TTestFrame frame = PatternFrame(12, 8, 24, 0);
    LONG size = LONG(frame.Pixels.size());
    BYTE* pixels = frame.Pixels.data();
    {
        TWriter writer;
        ASSERT_EQ(
            AVIFileOpenA(&writer.File, QFile::encodeName(file).constData(), OF_WRITE | OF_CREATE, nullptr),
            AVIERR_OK);
        AVISTREAMINFOA info = StreamInfo(frame.Header);
        ASSERT_EQ(AVIFileCreateStreamA(writer.File, &writer.Raw, &info), AVIERR_OK);
        AVICOMPRESSOPTIONS options = Options();
        ASSERT_EQ(AVIMakeCompressedStream(&writer.Compressed, writer.Raw, &options, nullptr), AVIERR_OK);
        EXPECT_EQ(writer.Write(0, frame), AVIERR_BADFORMAT) << "before the format";
        std::vector<BYTE> format = frame.Format();
        ASSERT_EQ(AVIStreamSetFormat(writer.Compressed, 0, format.data(), LONG(format.size())), AVIERR_OK);

        LONG samples = -1, bytes = -1;
        ASSERT_EQ(AVIStreamWrite(writer.Compressed, 2, 1, pixels, size, 0, &samples, &bytes), AVIERR_OK);
        EXPECT_EQ(samples, 1);
        EXPECT_GT(bytes, 0);
        EXPECT_EQ(writer.Write(2, frame), AVIERR_BADPARAM) << "same position again";
        EXPECT_EQ(writer.Write(1, frame), AVIERR_BADPARAM) << "going back";
        EXPECT_EQ(writer.Write(-1, frame), AVIERR_BADPARAM);
        EXPECT_EQ(writer.Write(2 + (1 << 20) + 2, frame), AVIERR_BADPARAM) << "absurd gap";
        EXPECT_EQ(AVIStreamWrite(writer.Compressed, 3, 2, pixels, 2 * size, 0, nullptr, nullptr),
                  AVIERR_BADPARAM);
        EXPECT_EQ(AVIStreamWrite(writer.Compressed, 3, 1, nullptr, size, 0, nullptr, nullptr),
                  AVIERR_BADPARAM);
        EXPECT_EQ(AVIStreamWrite(writer.Compressed, 3, 1, pixels, size - 1, 0, nullptr, nullptr),
                  AVIERR_BADPARAM);
        EXPECT_EQ(AVIStreamWrite(writer.Raw, 3, 1, pixels, size, 0, nullptr, nullptr), AVIERR_UNSUPPORTED);
        EXPECT_EQ(AVIStreamWrite(nullptr, 3, 1, pixels, size, 0, nullptr, nullptr), AVIERR_BADHANDLE);
        EXPECT_EQ(writer.Write(3, frame), AVIERR_OK) << "refused writes change nothing";
    }
    const TProbe probe = Probe(file);
    EXPECT_EQ(probe.Video["nb_frames"].toString(), "4");
    EXPECT_EQ(probe.PacketPositions, (std::vector<int>{2, 3}));
}

TEST(AVIFileTest, ReportsFailedWritesAndStillReleases) {
    TestDir dir;
    TTestFrame frame(64, 64, 24);
    {
        // Nothing fits on a full device, not even the headers.
        TWriter writer;
        EXPECT_EQ(writer.Open("/dev/full", frame), AVIERR_FILEWRITE);
        EXPECT_EQ(writer.Write(0, frame), AVIERR_FILEWRITE);
        EXPECT_EQ(AVIStreamWriteFailure(writer.Compressed), "No space left on device")
            << "the system's words";
    }
    const QString file = dir.path("full.avi");
    TWriter writer;
    TFileSizeLimit limit(64 * 1024);
    ASSERT_EQ(writer.Open(file, frame), AVIERR_OK);
    HRESULT result = AVIERR_OK;
    for (LONG position = 0; position < 100 && result == AVIERR_OK; ++position) {
        for (BYTE& byte : frame.Pixels)
            byte = BYTE(std::rand()); // noise does not compress
        result = writer.Write(position, frame);
    }
    EXPECT_EQ(result, AVIERR_FILEWRITE);
    EXPECT_EQ(AVIStreamWriteFailure(writer.Compressed), "File too large");
    EXPECT_EQ(writer.Write(1000, frame), AVIERR_FILEWRITE) << "the file stays failed";
    writer.Release("frc");
}

TEST(AVIFileTest, SaveOptionsFreeReleasesMemoryBlocks) {
    HGLOBAL format = GlobalAlloc(GHND, 16);
    BYTE parameters[4] = {};
    AVICOMPRESSOPTIONS options = Options();
    options.lpFormat = GlobalLock(format);
    options.cbFormat = 16;
    options.lpParms = parameters; // not a block: left alone
    options.cbParms = sizeof parameters;
    AVICOMPRESSOPTIONS* list[2] = {&options, nullptr};
    EXPECT_EQ(AVISaveOptionsFree(2, list), 0);
    EXPECT_EQ(GlobalSize(format), 0u) << "the block is freed";
    EXPECT_EQ(options.lpFormat, nullptr);
    EXPECT_EQ(options.cbFormat, 0u);
    EXPECT_EQ(options.lpParms, nullptr);
    EXPECT_EQ(options.fccHandler, kMSVC) << "the record itself stays";
    EXPECT_EQ(AVISaveOptionsFree(1, nullptr), 0);
}

} // namespace
