#include "flash/render/Effects.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <optional>

namespace flash {

namespace {

int BlurRadius(double blur, double scale) {
    return std::clamp(int(blur * scale / 2), 0, MaxGrowth);
}

QPoint Offset(const Filter& f, double scale) {
    return QPoint(int(std::lround(std::cos(f.angle) * f.distance * scale)),
                  int(std::lround(std::sin(f.angle) * f.distance * scale)));
}

bool HasOffset(const Filter& f) {
    return f.kind == Filter::Kind::DropShadow || f.kind == Filter::Kind::Bevel ||
           f.kind == Filter::Kind::GradientGlow || f.kind == Filter::Kind::GradientBevel;
}

QMargins Growth(const Filter& f, double scale) {
    if (f.kind == Filter::Kind::ColorMatrix)
        return {};
    if (f.kind == Filter::Kind::Convolution)
        return QMargins(f.matrixX / 2, f.matrixY / 2, f.matrixX / 2, f.matrixY / 2);
    const int gx = BlurRadius(f.blurX, scale) * std::max(f.passes, 1);
    const int gy = BlurRadius(f.blurY, scale) * std::max(f.passes, 1);
    QMargins m(gx, gy, gx, gy);
    if (HasOffset(f) && !f.inner) {
        const QPoint d = Offset(f, scale);
        const int ax = std::abs(d.x()), ay = std::abs(d.y());
        if (f.kind == Filter::Kind::DropShadow)
            m += QMargins(std::max(-d.x(), 0), std::max(-d.y(), 0), std::max(d.x(), 0), std::max(d.y(), 0));
        else
            m += QMargins(ax, ay, ax, ay);
    }
    return m;
}

// The margins with each side as wide as the wider of it and its opposite.
QMargins BothWays(QMargins m) {
    const int x = std::max(m.left(), m.right()), y = std::max(m.top(), m.bottom());
    return QMargins(x, y, x, y);
}

QMargins Capped(QMargins m) {
    auto cap = [](int v) { return std::clamp(v, 0, MaxGrowth); };
    return QMargins(cap(m.left()), cap(m.top()), cap(m.right()), cap(m.bottom()));
}

// Running-sum box blur along one line of `count` samples `step` bytes apart; zero beyond the ends.
void BlurLine(std::uint8_t* data, int count, int step, int radius, std::vector<std::uint8_t>& line) {
    line.resize(std::size_t(count));
    for (int i = 0; i < count; ++i)
        line[std::size_t(i)] = data[std::ptrdiff_t(i) * step];
    const std::uint64_t scale = (std::uint64_t(1) << 32) / std::uint64_t(2 * radius + 1);
    std::uint32_t sum = 0;
    for (int i = 0; i < std::min(radius, count); ++i)
        sum += line[std::size_t(i)];
    for (int i = 0; i < count; ++i) {
        if (i + radius < count)
            sum += line[std::size_t(i + radius)];
        data[std::ptrdiff_t(i) * step] = std::uint8_t((sum * scale + (std::uint64_t(1) << 31)) >> 32);
        if (i - radius >= 0)
            sum -= line[std::size_t(i - radius)];
    }
}

// Blurs `channels` interleaved byte channels of a width x height plane.
void BlurPlane(std::uint8_t* bits, qsizetype stride, int width, int height, int channels, int rx, int ry,
               int passes) {
    std::vector<std::uint8_t> line;
    for (int pass = 0; pass < passes; ++pass) {
        if (rx > 0)
            for (int y = 0; y < height; ++y)
                for (int c = 0; c < channels; ++c)
                    BlurLine(bits + y * stride + c, width, channels, rx, line);
        if (ry > 0)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < channels; ++c)
                    BlurLine(bits + x * channels + c, height, int(stride), ry, line);
    }
}

// A single-channel plane of the image's size.
struct Plane {
    int width = 0, height = 0;
    std::vector<std::uint8_t> v;
    std::uint8_t At(int x, int y) const {
        return x < 0 || y < 0 || x >= width || y >= height ? 0 : v[std::size_t(y) * width + x];
    }
};

Plane AlphaOf(const QImage& image, QPoint shift, bool inverted) {
    Plane p{image.width(), image.height(), {}};
    p.v.assign(std::size_t(p.width) * p.height, 0);
    for (int y = 0; y < p.height; ++y) {
        const int sy = y - shift.y();
        const auto* row =
            sy >= 0 && sy < p.height ? reinterpret_cast<const QRgb*>(image.constScanLine(sy)) : nullptr;
        for (int x = 0; x < p.width; ++x) {
            const int sx = x - shift.x();
            const int a = row && sx >= 0 && sx < p.width ? qAlpha(row[sx]) : 0;
            p.v[std::size_t(y) * p.width + x] = std::uint8_t(inverted ? 255 - a : a);
        }
    }
    return p;
}

void Blur(Plane& p, const Filter& f, double scale) {
    BlurPlane(p.v.data(), p.width, p.width, p.height, 1, BlurRadius(f.blurX, scale),
              BlurRadius(f.blurY, scale), f.passes);
}

QRgb Premultiplied(Rgba c, int alpha) {
    const int a = c.a * alpha / 255;
    return qRgba(c.r * a / 255, c.g * a / 255, c.b * a / 255, a);
}

QRgb Scaled(QRgb p, int factor) {
    return qRgba(qRed(p) * factor / 255, qGreen(p) * factor / 255, qBlue(p) * factor / 255,
                 qAlpha(p) * factor / 255);
}

QRgb Over(QRgb top, QRgb below) {
    const int keep = 255 - qAlpha(top);
    return qRgba(std::min(255, qRed(top) + qRed(below) * keep / 255),
                 std::min(255, qGreen(top) + qGreen(below) * keep / 255),
                 std::min(255, qBlue(top) + qBlue(below) * keep / 255),
                 std::min(255, qAlpha(top) + qAlpha(below) * keep / 255));
}

// Puts an effect made of per-pixel colours together with the object as glows, shadows and bevels do.
// `inner` effects show inside the object, outer ones outside it, `full` ones everywhere.
void CombineEffect(QImage& image, const std::vector<QRgb>& effect, bool inner, bool full, bool knockout,
                   bool showObject) {
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb src = row[x];
            const int as = qAlpha(src);
            QRgb e = effect[std::size_t(y) * image.width() + x];
            // An outer effect is cut out of the object only where it would be seen through it.
            if (inner)
                e = Scaled(e, as);
            else if (!full && knockout)
                e = Scaled(e, 255 - as);
            if (knockout || !showObject)
                row[x] = e;
            else
                row[x] = inner || full ? Over(e, src) : Over(src, e);
        }
    }
}

void Shadow(QImage& image, const Filter& f, double scale) {
    const QPoint shift = HasOffset(f) ? Offset(f, scale) : QPoint();
    Plane a = AlphaOf(image, shift, f.inner);
    Blur(a, f, scale);
    const bool gradient = f.kind == Filter::Kind::GradientGlow;
    std::vector<QRgb> table;
    if (gradient) {
        table.resize(256, 0);
        for (int i = 0; i < 256; ++i) {
            std::size_t k = 0;
            while (k + 1 < f.ratios.size() && f.ratios[k + 1] <= i)
                ++k;
            if (k < f.colors.size())
                table[std::size_t(i)] = Premultiplied(f.colors[k], 255);
            if (k + 1 < f.ratios.size() && k + 1 < f.colors.size() && f.ratios[k + 1] > f.ratios[k] &&
                i >= f.ratios[k]) {
                const int t = (i - f.ratios[k]) * 255 / (f.ratios[k + 1] - f.ratios[k]);
                const QRgb from = Premultiplied(f.colors[k], 255), to = Premultiplied(f.colors[k + 1], 255);
                table[std::size_t(i)] = qRgba((qRed(from) * (255 - t) + qRed(to) * t) / 255,
                                              (qGreen(from) * (255 - t) + qGreen(to) * t) / 255,
                                              (qBlue(from) * (255 - t) + qBlue(to) * t) / 255,
                                              (qAlpha(from) * (255 - t) + qAlpha(to) * t) / 255);
            }
        }
    }
    const Rgba color = f.colors.empty() ? Rgba{} : f.colors.front();
    std::vector<QRgb> effect(a.v.size());
    for (std::size_t i = 0; i < a.v.size(); ++i) {
        const int level = std::clamp(int(std::lround(a.v[i] * f.strength)), 0, 255);
        effect[i] = gradient ? table[std::size_t(level)] : Premultiplied(color, level);
    }
    CombineEffect(image, effect, f.inner, false, f.knockout,
                  f.compositeSource || f.kind != Filter::Kind::DropShadow);
}

void Bevel(QImage& image, const Filter& f, double scale) {
    Plane a = AlphaOf(image, QPoint(), false);
    Blur(a, f, scale);
    const QPoint d = Offset(f, scale);
    const bool gradient = f.kind == Filter::Kind::GradientBevel;
    // Movies store the highlight first, whatever the published record layout calls it.
    const Rgba highlight = f.colors.size() > 0 ? f.colors[0] : Rgba{};
    const Rgba shadow = f.colors.size() > 1 ? f.colors[1] : Rgba{};
    std::vector<QRgb> effect(a.v.size());
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const int h = int(a.At(x + d.x(), y + d.y())) - int(a.At(x - d.x(), y - d.y()));
            const int v = std::clamp(int(std::lround(h * f.strength)), -255, 255);
            QRgb e;
            if (gradient) {
                const int index = std::clamp(128 - v / 2, 0, 255);
                std::size_t k = 0;
                while (k + 1 < f.ratios.size() && f.ratios[k + 1] <= index)
                    ++k;
                e = k < f.colors.size() ? Premultiplied(f.colors[k], 255) : 0;
            } else {
                e = v >= 0 ? Premultiplied(highlight, v) : Premultiplied(shadow, -v);
            }
            effect[std::size_t(y) * a.width + x] = e;
        }
    CombineEffect(image, effect, f.inner, f.onTop, f.knockout, true);
}

void ColorMatrix(QImage& image, const Filter& f) {
    if (f.matrix.size() != 20)
        return;
    const auto& m = f.matrix;
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = qUnpremultiply(row[x]);
            const double in[4] = {double(qRed(p)), double(qGreen(p)), double(qBlue(p)), double(qAlpha(p))};
            int out[4];
            for (int c = 0; c < 4; ++c) {
                const float* w = &m[std::size_t(c) * 5];
                const double v = w[0] * in[0] + w[1] * in[1] + w[2] * in[2] + w[3] * in[3] + w[4];
                out[c] = std::clamp(int(std::lround(v)), 0, 255);
            }
            row[x] = qPremultiply(qRgba(out[0], out[1], out[2], out[3]));
        }
    }
}

void Convolution(QImage& image, const Filter& f) {
    if (f.matrix.empty() || f.matrix.size() != std::size_t(f.matrixX) * f.matrixY)
        return;
    const QImage source = image.copy();
    const double divisor = f.divisor == 0 ? 1 : f.divisor;
    const QRgb outside = qRgba(f.defaultColor.r, f.defaultColor.g, f.defaultColor.b, f.defaultColor.a);
    const int w = image.width(), h = image.height();
    auto sample = [&](int x, int y) {
        if (f.clamp) {
            x = std::clamp(x, 0, w - 1);
            y = std::clamp(y, 0, h - 1);
        } else if (x < 0 || y < 0 || x >= w || y >= h) {
            return outside;
        }
        return qUnpremultiply(reinterpret_cast<const QRgb*>(source.constScanLine(y))[x]);
    };
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            double sum[4] = {0, 0, 0, 0};
            for (int j = 0; j < f.matrixY; ++j)
                for (int i = 0; i < f.matrixX; ++i) {
                    const double k = f.matrix[std::size_t(j) * f.matrixX + i];
                    if (k == 0)
                        continue;
                    const QRgb p = sample(x + i - f.matrixX / 2, y + j - f.matrixY / 2);
                    sum[0] += k * qRed(p);
                    sum[1] += k * qGreen(p);
                    sum[2] += k * qBlue(p);
                    sum[3] += k * qAlpha(p);
                }
            auto channel = [&](int c) {
                return std::clamp(int(std::lround(sum[c] / divisor + f.bias)), 0, 255);
            };
            const int alpha = f.preserveAlpha ? qAlpha(qUnpremultiply(row[x])) : channel(3);
            row[x] = qPremultiply(qRgba(channel(0), channel(1), channel(2), alpha));
        }
    }
}

void ApplyFilter(QImage& image, const Filter& f, double scale) {
    switch (f.kind) {
    case Filter::Kind::Blur:
        BoxBlur(image, BlurRadius(f.blurX, scale), BlurRadius(f.blurY, scale), f.passes);
        break;
    case Filter::Kind::DropShadow:
    case Filter::Kind::Glow:
    case Filter::Kind::GradientGlow:
        Shadow(image, f, scale);
        break;
    case Filter::Kind::Bevel:
    case Filter::Kind::GradientBevel:
        Bevel(image, f, scale);
        break;
    case Filter::Kind::ColorMatrix:
        ColorMatrix(image, f);
        break;
    case Filter::Kind::Convolution:
        Convolution(image, f);
        break;
    }
}

} // namespace

QMargins FilterGrowth(const FilterList& filters, double scale) {
    QMargins total;
    for (const Filter& f : filters)
        total = Capped(total + Growth(f, scale));
    return total;
}

QMargins FilterReach(const FilterList& filters, double scale) {
    return BothWays(FilterGrowth(filters, scale));
}

void BoxBlur(QImage& image, int radiusX, int radiusY, int passes) {
    if (image.isNull() || passes <= 0 || (radiusX <= 0 && radiusY <= 0))
        return;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    BlurPlane(image.bits(), image.bytesPerLine(), image.width(), image.height(), 4, radiusX, radiusY, passes);
}

void ApplyFilters(const FilterList& filters, double scale, QImage& image, QPoint& origin,
                  const QRect& limit) {
    // How far beyond the limit pixels still feed what this filter and those after it put inside it.
    std::vector<QMargins> reach(filters.size() + 1);
    for (std::size_t i = filters.size(); i-- > 0;)
        reach[i] = Capped(reach[i + 1] + Growth(filters[i], scale));
    for (std::size_t i = 0; i < filters.size(); ++i) {
        const Filter& f = filters[i];
        const QMargins grow = Capped(Growth(f, scale));
        const QRect from(origin, image.size());
        const QRect to = from.marginsAdded(grow) & limit.marginsAdded(BothWays(reach[i]));
        if (to.isEmpty())
            return;
        if (to != from) {
            QImage grown(to.size(), QImage::Format_ARGB32_Premultiplied);
            if (grown.isNull())
                return;
            grown.fill(0);
            QPainter painter(&grown);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(from.topLeft() - to.topLeft(), image);
            painter.end();
            image = std::move(grown);
            origin = to.topLeft();
        }
        ApplyFilter(image, f, scale);
    }
}

bool NeedsLayer(std::uint8_t blendMode) {
    return blendMode >= std::uint8_t(BlendMode::Layer) && blendMode <= std::uint8_t(BlendMode::HardLight);
}

namespace {

std::optional<QPainter::CompositionMode> QtMode(BlendMode mode) {
    switch (mode) {
    case BlendMode::Multiply:
        return QPainter::CompositionMode_Multiply;
    case BlendMode::Screen:
        return QPainter::CompositionMode_Screen;
    case BlendMode::Lighten:
        return QPainter::CompositionMode_Lighten;
    case BlendMode::Darken:
        return QPainter::CompositionMode_Darken;
    case BlendMode::Difference:
        return QPainter::CompositionMode_Difference;
    case BlendMode::Add:
        return QPainter::CompositionMode_Plus;
    case BlendMode::Alpha:
        return QPainter::CompositionMode_DestinationIn;
    case BlendMode::Erase:
        return QPainter::CompositionMode_DestinationOut;
    case BlendMode::Overlay:
        return QPainter::CompositionMode_Overlay;
    case BlendMode::HardLight:
        return QPainter::CompositionMode_HardLight;
    case BlendMode::Subtract:
    case BlendMode::Invert:
        return std::nullopt;
    default:
        return QPainter::CompositionMode_SourceOver;
    }
}

// x / 255 rounded to the nearest whole level, for x in 0..255 * 255.
int Div255(int x) {
    return (x + 127) / 255;
}

// Subtract and invert (which Qt lacks) of one premultiplied pixel onto another, in premultiplied
// levels as add is: subtract takes the object's colour from the backdrop, held at 0; invert turns the
// backdrop over as far as the object covers it. Where the backdrop is missing the object shows as
// it is.
QRgb BlendPixel(QRgb s, QRgb d, BlendMode mode) {
    const int as = qAlpha(s), ad = qAlpha(d);
    if (as == 0)
        return d;
    auto channel = [&](int cs, int cd) {
        const int own = Div255(cs * (255 - ad));
        const int mixed = mode == BlendMode::Subtract ? std::max(cd - Div255(cs * ad), 0)
                                                      : Div255(cd * (255 - as) + (ad - cd) * as);
        return std::clamp(own + mixed, 0, 255);
    };
    return qRgba(channel(qRed(s), qRed(d)), channel(qGreen(s), qGreen(d)), channel(qBlue(s), qBlue(d)),
                 std::min(255, as + ad - Div255(as * ad)));
}

} // namespace

void Composite(QPainter& painter, const QImage& layer, QPoint at, std::uint8_t blendMode) {
    const auto mode = BlendMode(blendMode);
    const auto qtMode = QtMode(mode);
    painter.save();
    if (qtMode) {
        painter.setCompositionMode(*qtMode);
        painter.drawImage(at, layer);
        painter.restore();
        return;
    }
    // Subtract and invert: the result is worked out from the pixels below, then put in their place.
    QPaintDevice* device = painter.device();
    const QTransform toDevice = painter.deviceTransform();
    if (!device || device->devType() != QInternal::Image || toDevice.type() > QTransform::TxTranslate) {
        painter.drawImage(at, layer);
        painter.restore();
        return;
    }
    const auto* target = static_cast<const QImage*>(device);
    const QPoint offset(int(std::lround(toDevice.dx())), int(std::lround(toDevice.dy())));
    const QRect area = QRect(at + offset, layer.size()) & target->rect();
    if (area.isEmpty()) {
        painter.restore();
        return;
    }
    QImage result = target->copy(area).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QPoint inLayer = area.topLeft() - (at + offset);
    const QImage source = layer.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < result.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(result.scanLine(y));
        const auto* src = reinterpret_cast<const QRgb*>(source.constScanLine(y + inLayer.y())) + inLayer.x();
        for (int x = 0; x < result.width(); ++x)
            row[x] = BlendPixel(src[x], row[x], mode);
    }
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(area.topLeft() - offset, result);
    painter.restore();
}

} // namespace flash
