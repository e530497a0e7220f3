#pragma once
// Screen services of the frame grabber: the screen's bits per pixel, a copy of a screen rectangle,
// the pointer position, the current cursor's hot spot, the arrow the camera draws, and a bitmap's
// pixels in the packed layout at a chosen depth. Behind them sits the X server of $DISPLAY (its own
// connection, so any thread may call them), or a fake screen that tests install.

#include "platform/DIB.h"

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <memory>
#include <mutex>
#include <optional>

namespace win {

// What a screen offers. Implementations are called from any thread.
class TScreenBackend {
public:
    virtual ~TScreenBackend() = default;
    // Bits per pixel of the screen's pixel format (32 on a 24-bit X screen).
    virtual int BitsPerPixel() = 0;
    // W x H pixels from (X, Y) in an image of the screen's format; parts off the screen are black.
    // A null image when the screen cannot be read or W or H is not positive.
    virtual QImage CopyRect(int X, int Y, int W, int H) = 0;
    virtual bool PointerPosition(QPoint* Position) = 0;
    // Hot spot of the cursor the window system shows now; false when it cannot be asked.
    virtual bool CursorHotspot(QPoint* Hotspot) = 0;
};

// A screen held in an image (kept in the format a screen of BitsPerPixel gives: 16-bit pixels at 15
// or 16 bits, 32-bit ones otherwise), with a pointer and a cursor hot spot the test sets.
class TFakeScreen : public TScreenBackend {
public:
    TFakeScreen(QImage Screen, int BitsPerPixel);

    void SetScreen(QImage Screen);
    void SetPointer(QPoint Position);
    // No value: the hot spot cannot be asked.
    void SetHotspot(std::optional<QPoint> Hotspot);

    int BitsPerPixel() override;
    QImage CopyRect(int X, int Y, int W, int H) override;
    bool PointerPosition(QPoint* Position) override;
    bool CursorHotspot(QPoint* Hotspot) override;

private:
    std::mutex FLock;
    QImage FScreen;
    int FBitsPerPixel;
    QPoint FPointer;
    std::optional<QPoint> FHotspot;
};

// The screen of the X server DisplayName ($DISPLAY when empty) over a connection of its own, made
// on first use. A server that cannot be reached then stays unreachable for this backend: 32 bits per
// pixel, null copies, no pointer, no hot spot. X errors on the connection are recorded, never fatal.
std::shared_ptr<TScreenBackend> OpenXScreen(const QByteArray& DisplayName = {});

// Installs the screen every call below goes to; null goes back to the X server of $DISPLAY.
void SetScreenBackend(std::shared_ptr<TScreenBackend> Backend);

// Bits per pixel of the screen; 32 when no screen can be reached.
int GetScreenBitsPerPixel();
QImage CopyScreenRect(int X, int Y, int W, int H);
bool GetCursorPos(QPoint* Position);
bool GetCursorHotspot(QPoint* Hotspot);

// A cursor image with the point of it that marks the pointer's position.
struct TCursorImage {
    QImage Image;
    QPoint Hotspot;
};
// The standard arrow shipped with the program (black outline, white fill, hot spot at its tip).
const TCursorImage& ArrowCursor();
// Draws Cursor's image with its top-left corner at (X, Y) of Target; what falls outside is clipped.
void DrawIcon(QImage& Target, int X, int Y, const TCursorImage& Cursor);

// Writes Lines rows of Bitmap, starting StartScan rows up from its bottom, into Bits in the packed
// layout at Info->bmiHeader.biBitCount bits (1, 4, 8, 16 as 5-5-5, 24 or 32): rows bottom-up, each
// padded with zeros to DibStride (a negative biHeight asks for rows top-down, StartScan then
// counting from the top). At 8 bits or fewer it also fills Info's colour table (2^bits entries:
// black and white; the 16 standard VGA colours; those 16, 24 greys and a 6x6x6 colour cube) and
// maps every pixel to its nearest entry; a pixel of exactly an entry's colour keeps that colour.
// Returns the rows written, 0 on failure (null image, bad depth, compression other than BI_RGB,
// header not matching the image, no row to write). Leaves the header itself as it is.
int GetDIBits(const QImage& Bitmap, UINT StartScan, UINT Lines, void* Bits, BITMAPINFO* Info);

} // namespace win
