#include "flash/player/ScriptBitmap.h"

#include <QPainter>
#include <algorithm>
#include <utility>

namespace flash {

namespace {

std::uint32_t Premultiply(std::uint32_t argb) {
    const std::uint32_t a = argb >> 24;
    const auto channel = [a](std::uint32_t c) { return (c & 0xFF) * a / 255; };
    return (a << 24) | (channel(argb >> 16) << 16) | (channel(argb >> 8) << 8) | channel(argb);
}

std::uint32_t Unmultiply(std::uint32_t stored) {
    const std::uint32_t a = stored >> 24;
    if (a == 0)
        return 0;
    const auto channel = [a](std::uint32_t c) { return std::min<std::uint32_t>((c & 0xFF) * 255 / a, 255); };
    return (a << 24) | (channel(stored >> 16) << 16) | (channel(stored >> 8) << 8) | channel(stored);
}

// Premultiplied source over premultiplied destination.
std::uint32_t Over(std::uint32_t source, std::uint32_t destination) {
    const std::uint32_t keep = 255 - (source >> 24);
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t s = (source >> shift) & 0xFF, d = (destination >> shift) & 0xFF;
        out |= std::min<std::uint32_t>(s + d * keep / 255, 255) << shift;
    }
    return out;
}

std::uint32_t ScaleAlpha(std::uint32_t stored, std::uint32_t alpha) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8)
        out |= (((stored >> shift) & 0xFF) * alpha / 255) << shift;
    return out;
}

std::int64_t BytesOf(int width, int height) {
    return std::int64_t(width) * height * 4;
}

} // namespace

ScriptBitmap::ScriptBitmap(QImage pixels, bool transparent, std::shared_ptr<BitmapLedger> ledger)
    : image(std::move(pixels)), transparent(transparent), ledger(std::move(ledger)),
      charged(BytesOf(image.width(), image.height())) {}

ScriptBitmap::~ScriptBitmap() {
    Dispose();
}

bool ScriptBitmap::Reserve(BitmapLedger& ledger, std::int64_t bytes) {
    std::int64_t held = ledger.bytes.load();
    do {
        if (held + bytes > MaxBytes)
            return false;
    } while (!ledger.bytes.compare_exchange_weak(held, held + bytes));
    return true;
}

std::shared_ptr<ScriptBitmap> ScriptBitmap::Make(int width, int height, bool transparent, std::uint32_t argb,
                                                 const std::shared_ptr<BitmapLedger>& ledger) {
    if (width <= 0 || height <= 0 || width > MaxSide || height > MaxSide || !ledger ||
        !Reserve(*ledger, BytesOf(width, height)))
        return nullptr;
    QImage pixels(width, height, QImage::Format_ARGB32_Premultiplied);
    if (pixels.isNull()) {
        ledger->bytes -= BytesOf(width, height);
        return nullptr;
    }
    std::shared_ptr<ScriptBitmap> made(new ScriptBitmap(std::move(pixels), transparent, ledger));
    made->image.fill(made->Stored(argb));
    return made;
}

std::shared_ptr<ScriptBitmap> ScriptBitmap::FromImage(const QImage& source,
                                                      const std::shared_ptr<BitmapLedger>& ledger) {
    if (source.isNull() || source.width() > MaxSide || source.height() > MaxSide || !ledger ||
        !Reserve(*ledger, BytesOf(source.width(), source.height())))
        return nullptr;
    QImage pixels = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    pixels.detach(); // its own pixels, whatever else shares the source
    return std::shared_ptr<ScriptBitmap>(
        new ScriptBitmap(std::move(pixels), source.hasAlphaChannel(), ledger));
}

std::uint32_t ScriptBitmap::Stored(std::uint32_t argb) const {
    return transparent ? Premultiply(argb) : (argb | 0xFF000000u);
}

std::uint32_t ScriptBitmap::Pixel32(int x, int y) const {
    if (!image.valid(x, y))
        return 0;
    return Unmultiply(reinterpret_cast<const std::uint32_t*>(image.constScanLine(y))[x]);
}

void ScriptBitmap::SetPixel32(int x, int y, std::uint32_t argb) {
    if (image.valid(x, y))
        reinterpret_cast<std::uint32_t*>(image.scanLine(y))[x] = Stored(argb);
}

void ScriptBitmap::SetPixel(int x, int y, std::uint32_t rgb) {
    if (image.valid(x, y))
        SetPixel32(x, y, (Pixel32(x, y) & 0xFF000000u) | (rgb & 0xFFFFFF));
}

void ScriptBitmap::FillRect(const QRect& area, std::uint32_t argb) {
    const QRect filled = area & image.rect();
    if (filled.isEmpty())
        return;
    const std::uint32_t stored = Stored(argb);
    for (int y = filled.top(); y <= filled.bottom(); ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        std::fill(line + filled.left(), line + filled.right() + 1, stored);
    }
}

void ScriptBitmap::CopyPixels(const ScriptBitmap& source, const QRect& area, QPoint to,
                              const ScriptBitmap* alpha, QPoint alphaAt, bool mergeAlpha) {
    // What falls outside the source or the destination is not copied.
    QRect from = area & source.image.rect();
    if (from.isEmpty() || image.isNull())
        return;
    to += from.topLeft() - area.topLeft();
    alphaAt += from.topLeft() - area.topLeft();
    const QRect target = QRect(to, from.size()) & image.rect();
    if (target.isEmpty())
        return;
    from = QRect(from.topLeft() + (target.topLeft() - to), target.size());
    alphaAt += target.topLeft() - to;
    // A copy first, so that an area copied onto itself reads what was there before.
    const QImage pixels = source.image.copy(from);
    for (int y = 0; y < target.height(); ++y) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(pixels.constScanLine(y));
        auto* out = reinterpret_cast<std::uint32_t*>(image.scanLine(target.top() + y)) + target.left();
        for (int x = 0; x < target.width(); ++x) {
            std::uint32_t pixel = source.transparent ? in[x] : (in[x] | 0xFF000000u);
            if (alpha) // outside the alpha bitmap nothing is copied
                pixel = ScaleAlpha(pixel, alpha->Pixel32(alphaAt.x() + x, alphaAt.y() + y) >> 24);
            if (mergeAlpha || !transparent)
                pixel = Over(pixel, out[x]);
            out[x] = transparent ? pixel : (pixel | 0xFF000000u);
        }
    }
}

void ScriptBitmap::DrawImage(const QImage& source, const QTransform& transform,
                             const std::optional<QRect>& clip, bool smooth) {
    if (image.isNull() || source.isNull())
        return;
    QPainter painter(&image);
    if (clip)
        painter.setClipRect(*clip);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter.setTransform(transform);
    painter.drawImage(QPoint(0, 0), source);
}

std::shared_ptr<ScriptBitmap> ScriptBitmap::Clone() const {
    if (Disposed() || !Reserve(*ledger, charged))
        return nullptr;
    QImage pixels = image.copy();
    if (pixels.isNull()) {
        ledger->bytes -= charged;
        return nullptr;
    }
    return std::shared_ptr<ScriptBitmap>(new ScriptBitmap(std::move(pixels), transparent, ledger));
}

void ScriptBitmap::Dispose() {
    image = QImage();
    if (ledger)
        ledger->bytes -= std::exchange(charged, 0);
}

} // namespace flash
