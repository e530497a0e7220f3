#pragma once
// The pixels of a bitmap a script makes (BitmapData), shared by the script's object, the clips that
// show it (attachBitmap) and the drawn fills that paint it (beginBitmapFill): a change shows
// wherever it is used from the next frame on.
//
// Pixels are kept premultiplied, as Flash Player keeps them, in an image the renderer paints as it
// is. A colour is premultiplied on the way in and unmultiplied on the way out, both rounding down
// (c * a / 255, then p * 255 / a), so a colour set with a low alpha reads back lower: 0x40808080
// reads 0x407F7F7F, 0x01FFFFFF reads 0x01FFFFFF, and alpha 0 reads 0. An opaque bitmap keeps alpha
// 255 whatever is set.
//
// Limits: a side of at most MaxSide pixels, as in Flash Player 8, and the bitmaps of one movie
// together at most MaxBytes (counted in a ledger the movie's bitmaps share, released when the last
// user of a bitmap lets go of it or it is disposed), so a script cannot take the machine's memory.
// A bitmap past either limit is not made.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QTransform>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace flash {

// Bytes of bitmap pixels a movie holds.
struct BitmapLedger {
    std::atomic<std::int64_t> bytes = 0;
};

class ScriptBitmap {
public:
    static constexpr int MaxSide = 2880;
    // Eight bitmaps of the largest size: far past what a movie of Flash Player 8's day held, and
    // little enough that several conversions run side by side.
    static constexpr std::int64_t MaxBytes = std::int64_t(8) * MaxSide * MaxSide * 4;

    // A bitmap filled with an ARGB colour; null when a side is out of range or the ledger is full.
    static std::shared_ptr<ScriptBitmap> Make(int width, int height, bool transparent, std::uint32_t argb,
                                              const std::shared_ptr<BitmapLedger>& ledger);
    // A bitmap holding an image (a movie's own bitmap); null as Make.
    static std::shared_ptr<ScriptBitmap> FromImage(const QImage& image,
                                                   const std::shared_ptr<BitmapLedger>& ledger);
    ~ScriptBitmap();
    ScriptBitmap(const ScriptBitmap&) = delete;
    ScriptBitmap& operator=(const ScriptBitmap&) = delete;

    bool Disposed() const { return image.isNull(); }
    int Width() const { return image.width(); }
    int Height() const { return image.height(); }
    bool Transparent() const { return transparent; }
    QRect Bounds() const { return image.rect(); }
    // Premultiplied ARGB32, what the renderer paints; null once disposed.
    const QImage& Image() const { return image; }

    // Unmultiplied ARGB; 0 outside the bitmap.
    std::uint32_t Pixel32(int x, int y) const;
    void SetPixel32(int x, int y, std::uint32_t argb);
    // Sets the colour and keeps the pixel's alpha.
    void SetPixel(int x, int y, std::uint32_t rgb);
    void FillRect(const QRect& area, std::uint32_t argb);
    // Copies an area of source (this one too) to `to`. With an alpha bitmap, its alpha (from
    // alphaAt on) scales the copied pixels'; with mergeAlpha, or into an opaque bitmap, they are
    // drawn over what is there, else they replace it.
    void CopyPixels(const ScriptBitmap& source, const QRect& area, QPoint to, const ScriptBitmap* alpha,
                    QPoint alphaAt, bool mergeAlpha);
    // Draws a premultiplied image over the pixels through a transform (image pixels to these), within
    // clip when given, smoothed or not.
    void DrawImage(const QImage& source, const QTransform& transform, const std::optional<QRect>& clip,
                   bool smooth);
    // A copy with its own pixels; null when the ledger is full.
    std::shared_ptr<ScriptBitmap> Clone() const;
    // Frees the pixels: the bitmap shows nothing from then on.
    void Dispose();

private:
    ScriptBitmap(QImage image, bool transparent, std::shared_ptr<BitmapLedger> ledger);
    static bool Reserve(BitmapLedger& ledger, std::int64_t bytes);
    std::uint32_t Stored(std::uint32_t argb) const; // premultiplied, opaque for an opaque bitmap

    QImage image;
    bool transparent = true;
    std::shared_ptr<BitmapLedger> ledger;
    std::int64_t charged = 0;
};

// How a clip shows a bitmap attachBitmap gave it.
struct ShownBitmap {
    std::shared_ptr<const ScriptBitmap> bitmap;
    bool smoothing = false;
    // "auto" (the default) and "always" put the bitmap on whole device pixels when it is drawn
    // unscaled and unrotated; "always" at any scale.
    enum class Snapping : std::uint8_t { Never, Auto, Always };
    Snapping snapping = Snapping::Auto;
};

} // namespace flash
