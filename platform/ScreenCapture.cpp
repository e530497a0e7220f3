#include "platform/ScreenCapture.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

// Xlib's headers define macros (Bool, Status, None, min, max) that clash with C++ and Qt names, so
// they come after every other header.
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#undef min
#undef max

namespace win {

namespace {

// Far beyond any screen; keeps a wild request from asking for gigabytes.
constexpr qint64 MaxCopyPixels = qint64{1} << 26;

QImage::Format ImageFormatFor(int BitsPerPixel) {
    return BitsPerPixel == 15 || BitsPerPixel == 16 ? QImage::Format_RGB16 : QImage::Format_RGB32;
}

QImage BlackImage(int W, int H, QImage::Format Format) {
    if (W <= 0 || H <= 0 || qint64{W} * H > MaxCopyPixels)
        return {};
    QImage image(W, H, Format);
    if (!image.isNull())
        image.fill(Qt::black);
    return image;
}

// The part of the W x H rectangle at (X, Y) that lies on a ScreenW x ScreenH screen; the sums are
// 64-bit, as a request may reach beyond int.
QRect OnScreenPart(int X, int Y, int W, int H, int ScreenW, int ScreenH) {
    const qint64 left = std::max<qint64>(X, 0);
    const qint64 top = std::max<qint64>(Y, 0);
    const qint64 right = std::min<qint64>(qint64{X} + W, ScreenW);
    const qint64 bottom = std::min<qint64>(qint64{Y} + H, ScreenH);
    if (right <= left || bottom <= top)
        return {};
    return QRect(int(left), int(top), int(right - left), int(bottom - top));
}

// Both images have the same format of whole bytes per pixel.
void CopyPixels(const QImage& Source, const QRect& From, QImage& Target, QPoint To) {
    const std::size_t bytesPerPixel = std::size_t(Source.depth()) / 8;
    const std::size_t rowBytes = std::size_t(From.width()) * bytesPerPixel;
    for (int row = 0; row < From.height(); ++row)
        std::memcpy(Target.scanLine(To.y() + row) + std::size_t(To.x()) * bytesPerPixel,
                    Source.constScanLine(From.y() + row) + std::size_t(From.x()) * bytesPerPixel, rowBytes);
}

// ---- X server ----

// Set by the connection's error hook on the thread that read the error, i.e. the caller of the
// failing request.
thread_local int LastXError = 0;

// Xlib hands every protocol error of a connection to its per-code converter first; one that says
// "not to be reported" keeps it from the process-wide handler, whose default ends the program.
Bool RecordXError(Display*, XErrorEvent* Error, xError*) {
    LastXError = Error->error_code;
    return False;
}

void KeepXErrors(Display* Connection) {
    for (int code = 1; code < 256; ++code)
        XESetWireToError(Connection, code, RecordXError);
}

int PixmapBitsPerPixel(Display* Connection) {
    const int depth = DefaultDepth(Connection, DefaultScreen(Connection));
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(Connection, &count);
    int bits = 32;
    for (int i = 0; i < count; ++i)
        if (formats[i].depth == depth)
            bits = formats[i].bits_per_pixel;
    if (formats)
        XFree(formats);
    return bits;
}

bool HasCursorImages(Display* Connection) {
    int eventBase = 0, errorBase = 0;
    if (!XFixesQueryExtension(Connection, &eventBase, &errorBase))
        return false;
    // The server answers requests only after the version has been agreed.
    int major = 0, minor = 0;
    return XFixesQueryVersion(Connection, &major, &minor) && major >= 1;
}

QSize RootSize(Display* Connection) {
    Window root = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    if (!XGetGeometry(Connection, DefaultRootWindow(Connection), &root, &x, &y, &width, &height, &border,
                      &depth))
        return {};
    return QSize(int(width), int(height));
}

bool HostByteOrder(const XImage& Image) {
    return Image.byte_order == (std::endian::native == std::endian::little ? LSBFirst : MSBFirst);
}

bool IsRgb32(const XImage& Image) {
    return Image.bits_per_pixel == 32 && Image.red_mask == 0xFF0000 && Image.green_mask == 0xFF00 &&
           Image.blue_mask == 0xFF && HostByteOrder(Image);
}

bool IsRgb565(const XImage& Image) {
    return Image.bits_per_pixel == 16 && Image.red_mask == 0xF800 && Image.green_mask == 0x7E0 &&
           Image.blue_mask == 0x1F && HostByteOrder(Image);
}

const uchar* XImageRow(const XImage& Image, int Y) {
    return reinterpret_cast<const uchar*>(Image.data) + std::size_t(Y) * std::size_t(Image.bytes_per_line);
}

void PutRgb32(const XImage& Image, QImage& Target, QPoint At) {
    for (int y = 0; y < Image.height; ++y) {
        const auto* source = reinterpret_cast<const std::uint32_t*>(XImageRow(Image, y));
        auto* target = reinterpret_cast<std::uint32_t*>(Target.scanLine(At.y() + y)) + At.x();
        // The server leaves the unused top byte 0; an RGB32 image wants it 0xFF.
        for (int x = 0; x < Image.width; ++x)
            target[x] = source[x] | 0xFF000000u;
    }
}

void PutRgb565(const XImage& Image, QImage& Target, QPoint At) {
    for (int y = 0; y < Image.height; ++y)
        std::memcpy(Target.scanLine(At.y() + y) + std::size_t(At.x()) * 2, XImageRow(Image, y),
                    std::size_t(Image.width) * 2);
}

int MaskedChannel(unsigned long Pixel, unsigned long Mask) {
    const unsigned long maximum = Mask >> std::countr_zero(Mask);
    return int(((Pixel & Mask) >> std::countr_zero(Mask)) * 255 / maximum);
}

// Any other true-colour layout, pixel by pixel.
void PutMasked(XImage& Image, QImage& Target, QPoint At) {
    for (int y = 0; y < Image.height; ++y)
        for (int x = 0; x < Image.width; ++x) {
            const unsigned long pixel = XGetPixel(&Image, x, y);
            Target.setPixel(At.x() + x, At.y() + y,
                            qRgb(MaskedChannel(pixel, Image.red_mask), MaskedChannel(pixel, Image.green_mask),
                                 MaskedChannel(pixel, Image.blue_mask)));
        }
}

bool PutXImage(XImage& Image, QImage& Target, QPoint At) {
    if (IsRgb32(Image) && Target.format() == QImage::Format_RGB32)
        PutRgb32(Image, Target, At);
    else if (IsRgb565(Image) && Target.format() == QImage::Format_RGB16)
        PutRgb565(Image, Target, At);
    else if (Image.red_mask && Image.green_mask && Image.blue_mask)
        PutMasked(Image, Target, At);
    else
        return false; // a colour-mapped screen
    return true;
}

class TXScreen : public TScreenBackend {
public:
    explicit TXScreen(QByteArray DisplayName) : FDisplayName(std::move(DisplayName)) {}
    ~TXScreen() override {
        if (FDisplay)
            XCloseDisplay(FDisplay);
    }

    int BitsPerPixel() override {
        std::lock_guard<std::mutex> lock(FLock);
        Connection();
        return FBitsPerPixel;
    }
    QImage CopyRect(int X, int Y, int W, int H) override;
    bool PointerPosition(QPoint* Position) override;
    bool CursorHotspot(QPoint* Hotspot) override;

private:
    // Connects on the first call; null when the server cannot be reached. FLock is held.
    Display* Connection();

    std::mutex FLock;
    QByteArray FDisplayName;
    bool FTried = false;
    Display* FDisplay = nullptr;
    int FBitsPerPixel = 32;
    bool FHasCursorImages = false;
};

Display* TXScreen::Connection() {
    if (FTried)
        return FDisplay;
    FTried = true;
    FDisplay = XOpenDisplay(FDisplayName.isEmpty() ? nullptr : FDisplayName.constData());
    if (!FDisplay)
        return nullptr;
    // The extension is set up first, in case it installs converters of its own.
    FHasCursorImages = HasCursorImages(FDisplay);
    KeepXErrors(FDisplay);
    FBitsPerPixel = PixmapBitsPerPixel(FDisplay);
    return FDisplay;
}

QImage TXScreen::CopyRect(int X, int Y, int W, int H) {
    std::lock_guard<std::mutex> lock(FLock);
    Display* connection = Connection();
    if (!connection)
        return {};
    QImage copy = BlackImage(W, H, ImageFormatFor(FBitsPerPixel));
    // Asked every time: the screen may have been resized since.
    const QSize screen = RootSize(connection);
    if (copy.isNull() || screen.isEmpty())
        return {};
    // The server refuses a rectangle that reaches off the screen.
    const QRect part = OnScreenPart(X, Y, W, H, screen.width(), screen.height());
    if (part.isEmpty())
        return copy;
    LastXError = 0;
    XImage* image = XGetImage(connection, DefaultRootWindow(connection), part.x(), part.y(),
                              unsigned(part.width()), unsigned(part.height()), AllPlanes, ZPixmap);
    if (!image)
        return {};
    const bool put = LastXError == 0 && PutXImage(*image, copy, part.topLeft() - QPoint(X, Y));
    XDestroyImage(image);
    return put ? copy : QImage();
}

bool TXScreen::PointerPosition(QPoint* Position) {
    std::lock_guard<std::mutex> lock(FLock);
    Display* connection = Connection();
    if (!connection || !Position)
        return false;
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
    unsigned buttons = 0;
    LastXError = 0;
    // False also when the pointer is on another screen of the server.
    if (!XQueryPointer(connection, DefaultRootWindow(connection), &root, &child, &rootX, &rootY, &windowX,
                       &windowY, &buttons) ||
        LastXError != 0)
        return false;
    *Position = QPoint(rootX, rootY);
    return true;
}

bool TXScreen::CursorHotspot(QPoint* Hotspot) {
    std::lock_guard<std::mutex> lock(FLock);
    Display* connection = Connection();
    if (!connection || !Hotspot || !FHasCursorImages)
        return false;
    LastXError = 0;
    XFixesCursorImage* cursor = XFixesGetCursorImage(connection);
    if (!cursor)
        return false;
    *Hotspot = QPoint(cursor->xhot, cursor->yhot);
    XFree(cursor);
    return LastXError == 0;
}

// ---- the installed screen ----

std::mutex BackendLock;

std::shared_ptr<TScreenBackend>& InstalledBackend() {
    static std::shared_ptr<TScreenBackend> backend;
    return backend;
}

std::shared_ptr<TScreenBackend> CurrentBackend() {
    std::lock_guard<std::mutex> lock(BackendLock);
    if (const auto& installed = InstalledBackend())
        return installed;
    static const std::shared_ptr<TScreenBackend> server = OpenXScreen();
    return server;
}

// ---- the arrow ----

// 'X' outline, '.' fill, ' ' transparent; the tip is the top-left pixel.
constexpr std::array<const char*, 19> ArrowRows = {
    "X           ", //
    "XX          ", //
    "X.X         ", //
    "X..X        ", //
    "X...X       ", //
    "X....X      ", //
    "X.....X     ", //
    "X......X    ", //
    "X.......X   ", //
    "X........X  ", //
    "X.........X ", //
    "X......XXXXX", //
    "X...X..X    ", //
    "X..XX..X    ", //
    "X.X  X..X   ", //
    "XX   X..X   ", //
    "X     X..X  ", //
    "      X..X  ", //
    "       XX   ", //
};

TCursorImage MakeArrow() {
    const int width = int(std::strlen(ArrowRows[0]));
    QImage image(width, int(ArrowRows.size()), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < width; ++x) {
            const char cell = ArrowRows[std::size_t(y)][x];
            image.setPixel(x, y, cell == 'X' ? 0xFF000000u : cell == '.' ? 0xFFFFFFFFu : 0u);
        }
    return {image, QPoint(0, 0)};
}

// ---- packed rows ----

// A colour table and, for every colour cut to 5 bits a channel, its entry: the entry whose own
// colour falls on that key (so exact colours survive), else the entry nearest the key's colour.
struct TPalette {
    std::vector<QRgb> Colors;
    std::array<std::uint8_t, 1 << 15> Entry{};
};

int Key15(QRgb Color) {
    return int(((Color >> 9) & 0x7C00) | ((Color >> 6) & 0x3E0) | ((Color >> 3) & 0x1F));
}

constexpr int Expand5(int Value) {
    return (Value << 3) | (Value >> 2);
}

int Distance(QRgb A, QRgb B) {
    const int red = qRed(A) - qRed(B), green = qGreen(A) - qGreen(B), blue = qBlue(A) - qBlue(B);
    return red * red + green * green + blue * blue;
}

std::uint8_t NearestEntry(const std::vector<QRgb>& Colors, QRgb Color) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < Colors.size(); ++i)
        if (Distance(Colors[i], Color) < Distance(Colors[best], Color))
            best = i;
    return std::uint8_t(best);
}

TPalette MakePalette(std::vector<QRgb> Colors) {
    TPalette palette;
    palette.Colors = std::move(Colors);
    std::vector<bool> own(palette.Entry.size());
    for (std::size_t i = 0; i < palette.Colors.size(); ++i) {
        const int key = Key15(palette.Colors[i]);
        if (!own[std::size_t(key)])
            palette.Entry[std::size_t(key)] = std::uint8_t(i);
        own[std::size_t(key)] = true;
    }
    for (int key = 0; key < int(palette.Entry.size()); ++key)
        if (!own[std::size_t(key)])
            palette.Entry[std::size_t(key)] = NearestEntry(
                palette.Colors, qRgb(Expand5(key >> 10), Expand5((key >> 5) & 31), Expand5(key & 31)));
    return palette;
}

constexpr std::array<QRgb, 16> VgaColors = {
    qRgb(0, 0, 0),          qRgb(0x80, 0, 0),    qRgb(0, 0x80, 0),    qRgb(0x80, 0x80, 0),
    qRgb(0, 0, 0x80),       qRgb(0x80, 0, 0x80), qRgb(0, 0x80, 0x80), qRgb(0xC0, 0xC0, 0xC0),
    qRgb(0x80, 0x80, 0x80), qRgb(0xFF, 0, 0),    qRgb(0, 0xFF, 0),    qRgb(0xFF, 0xFF, 0),
    qRgb(0, 0, 0xFF),       qRgb(0xFF, 0, 0xFF), qRgb(0, 0xFF, 0xFF), qRgb(0xFF, 0xFF, 0xFF),
};

// The 16 standard colours, 24 greys on the 5-bit steps no other entry uses (so that every entry has
// a lookup key of its own), and the 6x6x6 cube, which puts white last.
constexpr std::array<QRgb, 256> HalftoneColors() {
    constexpr std::array<int, 6> cubeLevels = {0, 51, 102, 153, 204, 255};
    std::array<bool, 32> stepUsed{};
    for (QRgb color : VgaColors)
        stepUsed[std::size_t(qRed(color) >> 3)] = true;
    for (int level : cubeLevels)
        stepUsed[std::size_t(level >> 3)] = true;
    std::array<QRgb, 256> colors{};
    std::size_t next = 0;
    for (QRgb color : VgaColors)
        colors[next++] = color;
    for (int step = 0; step < 32; ++step)
        if (!stepUsed[std::size_t(step)])
            colors[next++] = qRgb(Expand5(step), Expand5(step), Expand5(step));
    for (int red : cubeLevels)
        for (int green : cubeLevels)
            for (int blue : cubeLevels)
                colors[next++] = qRgb(red, green, blue);
    if (next != colors.size())
        throw "the halftone palette must fill its 256 entries"; // stops the compile
    return colors;
}
constexpr std::array<QRgb, 256> Halftone = HalftoneColors();

const TPalette& PaletteFor(int Bits) {
    static const TPalette mono = MakePalette({qRgb(0, 0, 0), qRgb(0xFF, 0xFF, 0xFF)});
    static const TPalette vga = MakePalette({VgaColors.begin(), VgaColors.end()});
    if (Bits == 1)
        return mono;
    if (Bits == 4)
        return vga;
    static const TPalette halftone = MakePalette({Halftone.begin(), Halftone.end()});
    return halftone;
}

void FillColorTable(const TPalette& Palette, RGBQUAD* Table) {
    for (std::size_t i = 0; i < Palette.Colors.size(); ++i) {
        const QRgb color = Palette.Colors[i];
        Table[i] = RGBQUAD{BYTE(qBlue(color)), BYTE(qGreen(color)), BYTE(qRed(color)), 0};
    }
}

void PutWord(uchar* Target, std::uint16_t Value) {
    Target[0] = uchar(Value);
    Target[1] = uchar(Value >> 8);
}

void PackRow32(const QRgb* Source, uchar* Target, int Width) {
    for (int x = 0; x < Width; ++x) {
        if constexpr (std::endian::native == std::endian::little) {
            const std::uint32_t pixel = Source[x] & 0x00FFFFFFu;
            std::memcpy(Target + 4 * x, &pixel, 4);
        } else {
            uchar* out = Target + 4 * x;
            out[0] = uchar(qBlue(Source[x]));
            out[1] = uchar(qGreen(Source[x]));
            out[2] = uchar(qRed(Source[x]));
            out[3] = 0;
        }
    }
}

void PackRow24(const QRgb* Source, uchar* Target, int Width) {
    for (int x = 0; x < Width; ++x) {
        Target[3 * x] = uchar(qBlue(Source[x]));
        Target[3 * x + 1] = uchar(qGreen(Source[x]));
        Target[3 * x + 2] = uchar(qRed(Source[x]));
    }
}

void PackRow16(const QRgb* Source, uchar* Target, int Width) {
    for (int x = 0; x < Width; ++x)
        PutWord(Target + 2 * x, std::uint16_t(Key15(Source[x])));
}

// 5-6-5 to x-5-5-5: red moves down a bit, green drops its lowest bit.
void PackRow16From565(const std::uint16_t* Source, uchar* Target, int Width) {
    for (int x = 0; x < Width; ++x)
        PutWord(Target + 2 * x, std::uint16_t(((Source[x] >> 1) & 0x7FE0) | (Source[x] & 0x1F)));
}

// Entries of Bits bits each, the leftmost pixel in the highest bits of a byte.
void PackRowIndexed(const QRgb* Source, uchar* Target, int Width, int Bits, const TPalette& Palette) {
    if (Bits == 8) {
        for (int x = 0; x < Width; ++x)
            Target[x] = Palette.Entry[std::size_t(Key15(Source[x]))];
        return;
    }
    const int perByte = 8 / Bits;
    for (int x = 0; x < Width; ++x) {
        const int shift = 8 - Bits * (x % perByte + 1);
        const int entry = Palette.Entry[std::size_t(Key15(Source[x]))];
        if (x % perByte == 0)
            Target[x / perByte] = 0;
        Target[x / perByte] = uchar(Target[x / perByte] | (entry << shift));
    }
}

void PackRow(const QImage& Source, int Y, uchar* Target, int Bits, const TPalette* Palette) {
    const int width = Source.width();
    const uchar* row = Source.constScanLine(Y);
    const auto* pixels = reinterpret_cast<const QRgb*>(row);
    if (Bits == 32)
        PackRow32(pixels, Target, width);
    else if (Bits == 24)
        PackRow24(pixels, Target, width);
    else if (Bits == 16 && Source.format() == QImage::Format_RGB16)
        PackRow16From565(reinterpret_cast<const std::uint16_t*>(row), Target, width);
    else if (Bits == 16)
        PackRow16(pixels, Target, width);
    else
        PackRowIndexed(pixels, Target, width, Bits, *Palette);
}

bool IsPackedDepth(int Bits) {
    return Bits == 1 || Bits == 4 || Bits == 8 || Bits == 16 || Bits == 24 || Bits == 32;
}

// The bitmap in a format the row packers read: 32-bit pixels, or 5-6-5 ones kept for 16 bits.
QImage PackingSource(const QImage& Bitmap, int Bits) {
    const QImage::Format format = Bitmap.format();
    if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
        (Bits == 16 && format == QImage::Format_RGB16))
        return Bitmap;
    return Bitmap.convertToFormat(QImage::Format_RGB32);
}

bool HeaderDescribes(const BITMAPINFOHEADER& Header, const QImage& Bitmap) {
    return IsPackedDepth(Header.biBitCount) && Header.biCompression == BI_RGB &&
           Header.biWidth == Bitmap.width() && std::llabs(Header.biHeight) == Bitmap.height();
}

} // namespace

TFakeScreen::TFakeScreen(QImage Screen, int BitsPerPixel) : FBitsPerPixel(BitsPerPixel) {
    SetScreen(std::move(Screen));
}

void TFakeScreen::SetScreen(QImage Screen) {
    std::lock_guard<std::mutex> lock(FLock);
    FScreen = Screen.isNull() ? QImage() : Screen.convertToFormat(ImageFormatFor(FBitsPerPixel));
}

void TFakeScreen::SetPointer(QPoint Position) {
    std::lock_guard<std::mutex> lock(FLock);
    FPointer = Position;
}

void TFakeScreen::SetHotspot(std::optional<QPoint> Hotspot) {
    std::lock_guard<std::mutex> lock(FLock);
    FHotspot = Hotspot;
}

int TFakeScreen::BitsPerPixel() {
    return FBitsPerPixel;
}

QImage TFakeScreen::CopyRect(int X, int Y, int W, int H) {
    std::lock_guard<std::mutex> lock(FLock);
    if (FScreen.isNull())
        return {};
    QImage copy = BlackImage(W, H, FScreen.format());
    const QRect part = OnScreenPart(X, Y, W, H, FScreen.width(), FScreen.height());
    if (!copy.isNull() && !part.isEmpty())
        CopyPixels(FScreen, part, copy, part.topLeft() - QPoint(X, Y));
    return copy;
}

bool TFakeScreen::PointerPosition(QPoint* Position) {
    std::lock_guard<std::mutex> lock(FLock);
    if (!Position)
        return false;
    *Position = FPointer;
    return true;
}

bool TFakeScreen::CursorHotspot(QPoint* Hotspot) {
    std::lock_guard<std::mutex> lock(FLock);
    if (!Hotspot || !FHotspot)
        return false;
    *Hotspot = *FHotspot;
    return true;
}

std::shared_ptr<TScreenBackend> OpenXScreen(const QByteArray& DisplayName) {
    return std::make_shared<TXScreen>(DisplayName);
}

void SetScreenBackend(std::shared_ptr<TScreenBackend> Backend) {
    std::lock_guard<std::mutex> lock(BackendLock);
    InstalledBackend() = std::move(Backend);
}

int GetScreenBitsPerPixel() {
    return CurrentBackend()->BitsPerPixel();
}

QImage CopyScreenRect(int X, int Y, int W, int H) {
    return CurrentBackend()->CopyRect(X, Y, W, H);
}

bool GetCursorPos(QPoint* Position) {
    return CurrentBackend()->PointerPosition(Position);
}

bool GetCursorHotspot(QPoint* Hotspot) {
    return CurrentBackend()->CursorHotspot(Hotspot);
}

const TCursorImage& ArrowCursor() {
    static const TCursorImage arrow = MakeArrow();
    return arrow;
}

void DrawIcon(QImage& Target, int X, int Y, const TCursorImage& Cursor) {
    if (Target.isNull() || Cursor.Image.isNull())
        return;
    // Nothing to draw, and no painter to set up, when the image lies wholly outside.
    if (X >= Target.width() || Y >= Target.height() || qint64{X} + Cursor.Image.width() <= 0 ||
        qint64{Y} + Cursor.Image.height() <= 0)
        return;
    QPainter painter(&Target);
    painter.drawImage(QPoint(X, Y), Cursor.Image);
}

int GetDIBits(const QImage& Bitmap, UINT StartScan, UINT Lines, void* Bits, BITMAPINFO* Info) {
    if (Bitmap.isNull() || !Bits || !Info || !HeaderDescribes(Info->bmiHeader, Bitmap))
        return 0;
    const int height = Bitmap.height();
    if (StartScan >= UINT(height))
        return 0;
    const int rows = int(std::min<qint64>(Lines, qint64{height} - StartScan));
    if (rows <= 0)
        return 0;
    const int bits = Info->bmiHeader.biBitCount;
    const TPalette* palette = bits <= 8 ? &PaletteFor(bits) : nullptr;
    if (palette)
        FillColorTable(*palette, Info->bmiColors);
    const QImage source = PackingSource(Bitmap, bits);
    const bool bottomUp = Info->bmiHeader.biHeight > 0;
    const std::size_t stride = DibStride(Info->bmiHeader.biWidth, WORD(bits));
    const std::size_t used = (std::size_t(source.width()) * std::size_t(bits) + 7) / 8;
    auto* out = static_cast<uchar*>(Bits);
    for (int row = 0; row < rows; ++row) {
        const int line = int(StartScan) + row;
        uchar* target = out + std::size_t(row) * stride;
        PackRow(source, bottomUp ? height - 1 - line : line, target, bits, palette);
        std::memset(target + used, 0, stride - used);
    }
    return rows;
}

} // namespace win
