#include "platform/ScreenCapture.h"

#include <QColor>
#include <algorithm>
#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace win; // the platform layer's Windows-style names

namespace {

// A packed bitmap in one block, as the frame grabber lays it out: header, colour table, rows.
struct TPacked {
    std::vector<unsigned char> Block;
    int Rows = 0;

    BITMAPINFO* Info() { return reinterpret_cast<BITMAPINFO*>(Block.data()); }
    RGBQUAD Color(int Entry) {
        RGBQUAD color;
        std::memcpy(&color, Block.data() + sizeof(BITMAPINFOHEADER) + 4 * std::size_t(Entry), 4);
        return color;
    }
    unsigned char* Pixels() {
        return Block.data() + sizeof(BITMAPINFOHEADER) + 4 * DibColorCount(Info()->bmiHeader.biBitCount);
    }
    std::vector<unsigned char> Bytes() { return {Pixels(), Block.data() + Block.size()}; }
};

// A header describing Image at Bits, the rest of the block filled with 0xCC so that every byte
// the conversion leaves alone shows.
TPacked MakePacked(const QImage& Image, int Bits, LONG Height, int Lines) {
    TPacked packed;
    const auto bits = static_cast<WORD>(Bits);
    packed.Block.assign(sizeof(BITMAPINFOHEADER) + 4 * DibColorCount(bits) +
                            DibStride(Image.width(), bits) * std::size_t(Lines),
                        0xCC);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = Image.width();
    header.biHeight = Height;
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = BI_RGB;
    std::memcpy(packed.Block.data(), &header, sizeof(header));
    return packed;
}

TPacked Pack(const QImage& Image, int Bits) {
    TPacked packed = MakePacked(Image, Bits, Image.height(), Image.height());
    packed.Rows = GetDIBits(Image, 0, UINT(Image.height()), packed.Pixels(), packed.Info());
    return packed;
}

QImage ImageOf(int Width, const std::vector<QRgb>& Pixels, QImage::Format Format = QImage::Format_RGB32) {
    QImage image(Width, int(Pixels.size()) / Width, QImage::Format_RGB32);
    for (std::size_t i = 0; i < Pixels.size(); ++i)
        image.setPixel(int(i) % Width, int(i) / Width, Pixels[i]);
    return image.convertToFormat(Format);
}

QRgb ColorOf(RGBQUAD Quad) {
    return qRgb(Quad.rgbRed, Quad.rgbGreen, Quad.rgbBlue);
}

const QRgb Red = qRgb(255, 0, 0), Lime = qRgb(0, 255, 0), Blue = qRgb(0, 0, 255);
const QRgb White = qRgb(255, 255, 255), Black = qRgb(0, 0, 0), Yellow = qRgb(255, 255, 0);

// Top row red, lime, blue; bottom row white, black, yellow.
QImage SixColours() {
    return ImageOf(3, {Red, Lime, Blue, White, Black, Yellow});
}

struct TLayoutCase {
    int Bits;
    std::vector<unsigned char> Bytes; // the bottom row first
};

class PackedLayoutTest : public testing::TestWithParam<TLayoutCase> {};

TEST_P(PackedLayoutTest, RowsAreBottomUpPaddedAndInTheFormatsByteOrder) {
    const TLayoutCase& layout = GetParam();
    TPacked packed = Pack(SixColours(), layout.Bits);
    EXPECT_EQ(packed.Rows, 2);
    EXPECT_EQ(packed.Bytes(), layout.Bytes);
}

// Indexed entries: VGA order puts red 9, lime 10, yellow 11, blue 12, white 15; at 1 bit yellow is
// nearer white and the pure primaries nearer black.
INSTANTIATE_TEST_SUITE_P(
    EveryDepth, PackedLayoutTest,
    testing::Values(
        TLayoutCase{1, {0xA0, 0, 0, 0, 0x00, 0, 0, 0}}, TLayoutCase{4, {0xF0, 0xB0, 0, 0, 0x9A, 0xC0, 0, 0}},
        TLayoutCase{8, {15, 0, 11, 0, 9, 10, 12, 0}},
        TLayoutCase{16, {0xFF, 0x7F, 0x00, 0x00, 0xE0, 0x7F, 0, 0, 0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0, 0}},
        TLayoutCase{24, {0xFF, 0xFF, 0xFF, 0, 0,    0, 0,    0xFF, 0xFF, 0, 0, 0,
                         0,    0,    0xFF, 0, 0xFF, 0, 0xFF, 0,    0,    0, 0, 0}},
        TLayoutCase{32, {0xFF, 0xFF, 0xFF, 0, 0, 0,    0, 0, 0,    0xFF, 0xFF, 0,
                         0,    0,    0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0,    0,    0}}),
    [](const testing::TestParamInfo<TLayoutCase>& info) { return std::to_string(info.param.Bits) + "Bits"; });

TEST(GetDIBitsTest, SixteenBitsFromA565ImageMatchTheSameColoursFromA32BitOne) {
    const QImage colours =
        ImageOf(4, {Red, Lime, Blue, White, Black, Yellow, qRgb(0x84, 0x41, 0x18), qRgb(8, 4, 8)});
    EXPECT_EQ(Pack(colours.convertToFormat(QImage::Format_RGB16), 16).Bytes(), Pack(colours, 16).Bytes());
}

TEST(GetDIBitsTest, OnePixelWideRowsArePaddedToFourBytes) {
    const QImage column = ImageOf(1, {Red, Lime, Blue});
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        TPacked packed = Pack(column, bits);
        ASSERT_EQ(packed.Rows, 3);
        const std::vector<unsigned char> bytes = packed.Bytes();
        ASSERT_EQ(bytes.size(), 12u) << "a stride of 4 bytes";
        const std::size_t used = std::size_t(bits + 7) / 8;
        for (std::size_t row = 0; row < 3; ++row)
            for (std::size_t pad = used; pad < 4; ++pad)
                EXPECT_EQ(bytes[row * 4 + pad], 0) << "padding of row " << row;
    }
    TPacked packed = Pack(column, 24);
    EXPECT_EQ(packed.Bytes()[0], 0xFF) << "blue, the bottom pixel, comes first";
    EXPECT_EQ(packed.Bytes()[8 + 2], 0xFF) << "red, the top pixel, comes last";
}

TEST(GetDIBitsTest, ColourTableIsFilledAndEveryEntrysOwnColourMapsToItself) {
    for (int bits : {1, 4, 8}) {
        SCOPED_TRACE(bits);
        const int entries = 1 << bits;
        TPacked probe = Pack(ImageOf(1, {Black}), bits);
        std::vector<QRgb> table;
        for (int i = 0; i < entries; ++i) {
            EXPECT_EQ(probe.Color(i).rgbReserved, 0);
            table.push_back(ColorOf(probe.Color(i)));
        }
        EXPECT_EQ(table.front(), Black);
        EXPECT_EQ(table[std::size_t(entries - 1)], White) << "white is the last entry";

        // Each entry's own colour comes back as an entry of that colour (duplicates may share).
        TPacked packed = Pack(ImageOf(entries, table), bits);
        for (int i = 0; i < entries; ++i) {
            const int entry =
                bits == 8 ? packed.Pixels()[i]
                          : (packed.Pixels()[i * bits / 8] >> (8 - bits - (i * bits) % 8)) & (entries - 1);
            EXPECT_EQ(table[std::size_t(entry)], table[std::size_t(i)]) << "entry " << i;
        }
    }
}

TEST(GetDIBitsTest, StandardPalettesHoldTheVgaColoursAndAColourCube) {
    TPacked vga = Pack(ImageOf(1, {Black}), 4);
    EXPECT_EQ(ColorOf(vga.Color(7)), qRgb(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(ColorOf(vga.Color(8)), qRgb(0x80, 0x80, 0x80));
    EXPECT_EQ(ColorOf(vga.Color(12)), Blue);

    TPacked halftone = Pack(ImageOf(1, {Black}), 8);
    std::vector<QRgb> table;
    for (int i = 0; i < 256; ++i)
        table.push_back(ColorOf(halftone.Color(i)));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(table[std::size_t(i)], ColorOf(vga.Color(i))) << "the 16 standard colours lead";
    for (int level : {0, 51, 102, 153, 204, 255})
        EXPECT_NE(std::find(table.begin(), table.end(), qRgb(level, 255 - level, level)), table.end())
            << level;
}

TEST(GetDIBitsTest, OtherColoursGoToTheNearestEntry) {
    struct TCase {
        QRgb Color;
        int Bits;
        QRgb Nearest;
    };
    const TCase cases[] = {
        {qRgb(127, 127, 127), 1, Black},
        {qRgb(128, 128, 128), 1, White},
        {qRgb(250, 5, 5), 4, Red},
        {qRgb(100, 100, 100), 4, qRgb(0x80, 0x80, 0x80)},
        {qRgb(200, 190, 195), 4, qRgb(0xC0, 0xC0, 0xC0)},
        {qRgb(100, 100, 100), 8, qRgb(102, 102, 102)},
        {qRgb(60, 110, 200), 8, qRgb(51, 102, 204)},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(testing::Message() << QColor(test.Color).name().toStdString() << " at " << test.Bits);
        TPacked packed = Pack(ImageOf(1, {test.Color}), test.Bits);
        const int entry = packed.Pixels()[0] >> (8 - test.Bits);
        EXPECT_EQ(ColorOf(packed.Color(entry)), test.Nearest);
    }
}

TEST(GetDIBitsTest, ScanRangeAndTopDownRows) {
    // Rows from the top: red, lime, blue, white. Bottom-up: white is line 0.
    const QImage column = ImageOf(1, {Red, Lime, Blue, White});
    TPacked middle = MakePacked(column, 32, 4, 2);
    EXPECT_EQ(GetDIBits(column, 1, 2, middle.Pixels(), middle.Info()), 2);
    EXPECT_EQ(middle.Bytes(), (std::vector<unsigned char>{0xFF, 0, 0, 0, 0, 0xFF, 0, 0}));

    TPacked last = MakePacked(column, 32, 4, 1);
    EXPECT_EQ(GetDIBits(column, 3, 10, last.Pixels(), last.Info()), 1) << "only the rows there are";
    EXPECT_EQ(last.Bytes(), (std::vector<unsigned char>{0, 0, 0xFF, 0}));

    TPacked topDown = MakePacked(column, 32, -4, 4);
    EXPECT_EQ(GetDIBits(column, 0, 4, topDown.Pixels(), topDown.Info()), 4);
    EXPECT_EQ(topDown.Bytes()[2], 0xFF) << "red, the top row, first";
}

TEST(GetDIBitsTest, RefusesWhatItCannotDescribe) {
    const QImage image = SixColours();
    struct TCase {
        const char* Name;
        void (*Spoil)(BITMAPINFOHEADER&);
        UINT StartScan;
    };
    const TCase cases[] = {
        {"width", [](BITMAPINFOHEADER& h) { h.biWidth = 4; }, 0},
        {"height", [](BITMAPINFOHEADER& h) { h.biHeight = 3; }, 0},
        {"depth", [](BITMAPINFOHEADER& h) { h.biBitCount = 12; }, 0},
        {"no depth", [](BITMAPINFOHEADER& h) { h.biBitCount = 0; }, 0},
        {"compression", [](BITMAPINFOHEADER& h) { h.biCompression = 3; }, 0},
        {"start past the top", [](BITMAPINFOHEADER&) {}, 2},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        TPacked packed = MakePacked(image, 8, 2, 2);
        unsigned char* pixels = packed.Pixels();
        test.Spoil(packed.Info()->bmiHeader);
        const std::vector<unsigned char> before = packed.Block;
        EXPECT_EQ(GetDIBits(image, test.StartScan, 2, pixels, packed.Info()), 0);
        EXPECT_EQ(packed.Block, before) << "nothing written, not even the colour table";
    }
    TPacked packed = MakePacked(image, 32, 2, 2);
    EXPECT_EQ(GetDIBits(QImage(), 0, 2, packed.Pixels(), packed.Info()), 0);
    EXPECT_EQ(GetDIBits(image, 0, 0, packed.Pixels(), packed.Info()), 0);
}

// ---- the screen ----

class FakeScreenTest : public testing::Test {
protected:
    // A 40 x 30 screen whose pixel (x, y) has red x and green y.
    static QImage Gradient() {
        QImage screen(40, 30, QImage::Format_RGB32);
        for (int y = 0; y < screen.height(); ++y)
            for (int x = 0; x < screen.width(); ++x)
                screen.setPixel(x, y, qRgb(x, y, 200));
        return screen;
    }
    void SetUp() override { SetScreenBackend(Screen); }
    void TearDown() override { SetScreenBackend(nullptr); }

    std::shared_ptr<TFakeScreen> Screen = std::make_shared<TFakeScreen>(Gradient(), 32);
};

TEST_F(FakeScreenTest, CopiesTheScreenWithBlackBeyondItsEdges) {
    struct TCase {
        int X, Y, W, H;
        QRect OnScreen; // in the copy's coordinates
    };
    const TCase cases[] = {
        {5, 6, 10, 8, QRect(0, 0, 10, 8)},  {-3, -2, 10, 8, QRect(3, 2, 7, 6)},
        {35, 25, 10, 8, QRect(0, 0, 5, 5)}, {-5, -5, 50, 40, QRect(5, 5, 40, 30)},
        {100, 100, 4, 4, QRect()},          {INT_MAX - 2, INT_MIN + 1, 4, 4, QRect()},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(testing::Message() << test.X << "," << test.Y << " " << test.W << "x" << test.H);
        const QImage copy = CopyScreenRect(test.X, test.Y, test.W, test.H);
        ASSERT_EQ(copy.size(), QSize(test.W, test.H));
        ASSERT_EQ(copy.format(), QImage::Format_RGB32);
        for (int y = 0; y < copy.height(); ++y)
            for (int x = 0; x < copy.width(); ++x) {
                const QRgb expected =
                    test.OnScreen.contains(x, y) ? qRgb(test.X + x, test.Y + y, 200) : qRgb(0, 0, 0);
                ASSERT_EQ(copy.pixel(x, y), expected) << "at " << x << "," << y;
            }
    }
    EXPECT_TRUE(CopyScreenRect(0, 0, 0, 5).isNull());
    EXPECT_TRUE(CopyScreenRect(0, 0, 5, -1).isNull());
}

TEST_F(FakeScreenTest, SixteenBitScreenCopiesIn565) {
    SetScreenBackend(std::make_shared<TFakeScreen>(Gradient(), 16));
    EXPECT_EQ(GetScreenBitsPerPixel(), 16);
    const QImage copy = CopyScreenRect(38, 0, 4, 1);
    EXPECT_EQ(copy.format(), QImage::Format_RGB16);
    EXPECT_EQ(copy.pixel(0, 0), QImage(Gradient().convertToFormat(QImage::Format_RGB16)).pixel(38, 0));
    EXPECT_EQ(copy.pixel(3, 0), qRgb(0, 0, 0));
}

TEST_F(FakeScreenTest, PointerAndHotspotComeFromTheInstalledScreen) {
    EXPECT_EQ(GetScreenBitsPerPixel(), 32);
    Screen->SetPointer(QPoint(-4, 17));
    QPoint position;
    EXPECT_TRUE(GetCursorPos(&position));
    EXPECT_EQ(position, QPoint(-4, 17));

    QPoint hotspot(99, 99);
    Screen->SetHotspot(std::nullopt);
    EXPECT_FALSE(GetCursorHotspot(&hotspot));
    Screen->SetHotspot(QPoint(3, 5));
    EXPECT_TRUE(GetCursorHotspot(&hotspot));
    EXPECT_EQ(hotspot, QPoint(3, 5));

    Screen->SetScreen(QImage());
    EXPECT_TRUE(CopyScreenRect(0, 0, 4, 4).isNull()) << "an unreadable screen";
}

TEST(XScreenTest, UnreachableServerAnswersWithoutAScreen) {
    const auto screen = OpenXScreen(":65531");
    EXPECT_EQ(screen->BitsPerPixel(), 32);
    EXPECT_TRUE(screen->CopyRect(0, 0, 10, 10).isNull());
    QPoint point;
    EXPECT_FALSE(screen->PointerPosition(&point));
    EXPECT_FALSE(screen->CursorHotspot(&point));
}

// ---- cursors ----

TEST(CursorTest, ArrowIsOutlinedFilledAndPointsFromItsTopLeftCorner) {
    const TCursorImage& arrow = ArrowCursor();
    EXPECT_EQ(arrow.Hotspot, QPoint(0, 0));
    const QImage& image = arrow.Image;
    EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_GE(image.height(), 16);
    EXPECT_LE(image.width(), 32);
    EXPECT_EQ(image.pixel(0, 0), 0xFF000000u) << "the tip is outline";
    EXPECT_EQ(image.pixel(image.width() - 1, 0), 0u) << "beside the tip is transparent";
    int outline = 0, fill = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            ASSERT_TRUE(pixel == 0xFF000000u || pixel == 0xFFFFFFFFu || pixel == 0u) << x << "," << y;
            outline += pixel == 0xFF000000u;
            fill += pixel == 0xFFFFFFFFu;
        }
    EXPECT_GT(fill, 20);
    EXPECT_GT(outline, 20);
}

TEST(CursorTest, DrawIconClipsAtEveryEdgeAndKeepsTransparentPixels) {
    // 3 x 3 cursor: opaque pixels coded by position, the centre transparent.
    QImage cursorImage(3, 3, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            cursorImage.setPixel(x, y, qRgb(10 + x, 20 + y, 30));
    cursorImage.setPixel(1, 1, 0);
    const TCursorImage cursor{cursorImage, QPoint(1, 1)};
    const QRgb ground = qRgb(0x80, 0x80, 0x80);

    for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_RGB16}) {
        for (const QPoint at : {QPoint(-1, -1), QPoint(8, 8), QPoint(-2, 8), QPoint(8, -2), QPoint(4, 4),
                                QPoint(10, 0), QPoint(0, -3), QPoint(INT_MAX, INT_MIN), QPoint(INT_MIN, 5)}) {
            SCOPED_TRACE(testing::Message() << "format " << format << " at " << at.x() << "," << at.y());
            QImage target(10, 10, format);
            target.fill(QColor(ground));
            DrawIcon(target, at.x(), at.y(), cursor);
            for (int y = 0; y < 10; ++y)
                for (int x = 0; x < 10; ++x) {
                    const qint64 cx = qint64{x} - at.x(), cy = qint64{y} - at.y();
                    const bool covered = cx >= 0 && cx < 3 && cy >= 0 && cy < 3 && !(cx == 1 && cy == 1);
                    const QRgb expected = covered ? qRgb(10 + int(cx), 20 + int(cy), 30) : ground;
                    ASSERT_EQ(target.pixel(x, y), QImage(ImageOf(1, {expected}, format)).pixel(0, 0))
                        << "at " << x << "," << y;
                }
        }
    }
}

} // namespace
