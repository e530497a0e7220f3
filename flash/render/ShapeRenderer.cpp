#include "flash/render/ShapeRenderer.h"

#include "flash/render/Rasterizer.h"

#include <QLinearGradient>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPathStroker>
#include <QRadialGradient>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace flash {

namespace {

// What the colour transform leaves once alpha-only scaling is done by painter opacity.
bool AlphaScaleOnly(const ColorTransform& t) {
    return t.rMul == 1 && t.gMul == 1 && t.bMul == 1 && t.rAdd == 0 && t.gAdd == 0 && t.bAdd == 0 &&
           t.aAdd == 0 && t.aMul >= 0 && t.aMul <= 1;
}

} // namespace

QImage Apply(const ColorTransform& t, const QImage& image) {
    if (IsIdentity(t) || image.isNull())
        return image;
    std::uint8_t r[256], g[256], b[256], a[256];
    for (int i = 0; i < 256; ++i) {
        const auto v = std::uint8_t(i);
        const Rgba mapped = Apply(t, Rgba{v, v, v, v});
        r[i] = mapped.r;
        g[i] = mapped.g;
        b[i] = mapped.b;
        a[i] = mapped.a;
    }
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    out.detach();
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = qUnpremultiply(line[x]);
            line[x] = qPremultiply(qRgba(r[qRed(p)], g[qGreen(p)], b[qBlue(p)], a[qAlpha(p)]));
        }
    }
    return out;
}

// --- Outlines ---

namespace {

bool Valid(int style, std::size_t count) {
    return style >= 0 && std::size_t(style) < count;
}

} // namespace

PreparedShape PrepareShape(const Shape& shape) {
    PreparedShape prepared;
    const std::size_t fillCount = shape.fillStyles.size();
    const std::size_t lineCount = shape.lineStyles.size();

    prepared.fills.reserve(fillCount);
    prepared.area.setFillRule(Qt::OddEvenFill);
    for (QPainterPath& path : FillAreas(shape)) {
        // Fill areas of different styles do not overlap, so odd-even over all of them is their union.
        prepared.area.addPath(path);
        prepared.fills.emplace_back(std::move(path));
    }

    // Lines follow the record order: a run of connected edges of one style is one stroke, closed
    // when it ends where it began.
    std::vector<QPainterPath> lines(lineCount);
    const ShapeEdge* previous = nullptr;
    QPointF runStart;
    auto finishRun = [&](const ShapeEdge* last) {
        if (!last || !Valid(last->line, lineCount))
            return;
        const LineStyle& style = shape.lineStyles[std::size_t(last->line)];
        if (PointKey(last->toX, last->toY) != PointKey(runStart.x(), runStart.y()))
            return;
        QPainterPath& path = lines[std::size_t(last->line)];
        if (!style.noClose) {
            path.closeSubpath();
            return;
        }
        // Qt joins a run that ends exactly where it began; a hair's offset keeps both caps.
        const int end = path.elementCount() - 1;
        path.setElementPositionAt(end, path.elementAt(end).x + 0.01, path.elementAt(end).y);
    };
    for (const ShapeEdge& e : shape.edges) {
        const bool continues = previous && previous->line == e.line &&
                               PointKey(previous->toX, previous->toY) == PointKey(e.fromX, e.fromY);
        if (!continues)
            finishRun(previous);
        previous = &e;
        if (!Valid(e.line, lineCount))
            continue;
        QPainterPath& path = lines[std::size_t(e.line)];
        if (!continues) {
            runStart = QPointF(e.fromX, e.fromY);
            path.moveTo(runStart);
        }
        if (e.curved)
            path.quadTo(e.controlX, e.controlY, e.toX, e.toY);
        else
            path.lineTo(e.toX, e.toY);
    }
    finishRun(previous);
    prepared.lines.reserve(lineCount);
    for (QPainterPath& path : lines)
        prepared.lines.emplace_back(std::move(path));

    // Style arrays in the order they came; starts out of order or out of range are ignored.
    int fillStart = 0, lineStart = 0;
    for (const Shape::StyleArrayStart& next : shape.newStyleArrays) {
        const int nextFill = int(std::min<std::size_t>(next.firstFill, fillCount));
        const int nextLine = int(std::min<std::size_t>(next.firstLine, lineCount));
        if (nextFill < fillStart || nextLine < lineStart)
            continue;
        prepared.layers.push_back({fillStart, nextFill, lineStart, nextLine});
        fillStart = nextFill;
        lineStart = nextLine;
    }
    prepared.layers.push_back({fillStart, int(fillCount), lineStart, int(lineCount)});
    prepared.textures.resize(fillCount);
    prepared.fillPaints.resize(fillCount);
    prepared.linePaints.resize(lineCount);
    prepared.strokes.resize(lineCount);
    return prepared;
}

// --- Painting ---

namespace {

constexpr double GradientHalfSize = 16384; // the gradient square is -16384..16384 twips

// Flash mixes "linear RGB" gradients in light with a plain 2.2 power curve, not sRGB's.
constexpr double GradientGamma = 2.2;

Rgba MixColors(Rgba a, Rgba b, double f, bool inLight) {
    auto channel = [&](std::uint8_t x, std::uint8_t y) {
        if (!inLight)
            return std::uint8_t(std::lround(x * (1 - f) + y * f));
        const double v =
            std::pow(x / 255.0, GradientGamma) * (1 - f) + std::pow(y / 255.0, GradientGamma) * f;
        return std::uint8_t(std::lround(std::pow(v, 1 / GradientGamma) * 255));
    };
    return {channel(a.r, b.r), channel(a.g, b.g), channel(a.b, b.b),
            std::uint8_t(std::lround(a.a * (1 - f) + b.a * f))};
}

QColor ToQColor(Rgba c) {
    return QColor(c.r, c.g, c.b, c.a);
}

struct GradientStop {
    int ratio;
    Rgba color;
};

// Flash's 256-entry colour table. Colours are mixed between records by their written ratios; each
// record of a run at one ratio but the last then takes an entry of its own from that ratio up, and
// the last one starts the next mix. Ratios that fall back count as part of the run.
std::array<Rgba, 256> GradientTable(const std::vector<GradientStop>& stops, bool inLight) {
    std::array<Rgba, 256> table;
    std::size_t next = 0;
    for (int entry = 0; entry < 256; ++entry) {
        while (next < stops.size() && stops[next].ratio <= entry)
            ++next;
        if (next == 0)
            table[entry] = stops.front().color;
        else if (next == stops.size())
            table[entry] = stops.back().color;
        else {
            const GradientStop& from = stops[next - 1];
            const GradientStop& to = stops[next];
            table[entry] = MixColors(from.color, to.color,
                                     double(entry - from.ratio) / (to.ratio - from.ratio), inLight);
        }
    }
    for (std::size_t i = 0; i + 1 < stops.size(); ++i) {
        for (std::size_t k = 0; i + k + 1 < stops.size() && stops[i + k + 1].ratio == stops[i].ratio; ++k) {
            if (stops[i].ratio + int(k) < 256)
                table[stops[i].ratio + k] = stops[i + k].color;
        }
        while (i + 1 < stops.size() && stops[i + 1].ratio == stops[i].ratio)
            ++i;
    }
    return table;
}

QGradientStops GradientStops(const Gradient& gradient, const ColorTransform& transform) {
    std::vector<GradientStop> stops;
    bool runs = false;
    for (const GradientRecord& record : gradient.records) {
        int ratio = record.ratio;
        if (!stops.empty() && ratio <= stops.back().ratio) {
            ratio = stops.back().ratio;
            runs = true;
        }
        stops.push_back({ratio, Apply(transform, record.color)});
    }
    QGradientStops result;
    if (stops.empty())
        return result;
    const bool inLight = gradient.interpolation == Gradient::Interpolation::LinearRgb;
    if (runs) {
        // Entries of a run change from one to the next without a mix: each entry is a step.
        const std::array<Rgba, 256> table = GradientTable(stops, inLight);
        for (int entry = 0; entry < 256; ++entry) {
            const QColor color = ToQColor(table[entry]);
            result.append({entry / 256.0, color});
            result.append({(entry + 1) / 256.0 - 1e-6, color});
        }
        return result;
    }
    for (std::size_t i = 0; i < stops.size(); ++i) {
        const double pos = stops[i].ratio / 255.0;
        // Qt mixes in plain RGB: stops in between give the mix in light.
        if (inLight && i > 0) {
            constexpr int Steps = 16;
            const double previousPos = stops[i - 1].ratio / 255.0;
            for (int k = 1; k < Steps; ++k) {
                const double f = double(k) / Steps;
                result.append({previousPos + (pos - previousPos) * f,
                               ToQColor(MixColors(stops[i - 1].color, stops[i].color, f, true))});
            }
        }
        result.append({pos, ToQColor(stops[i].color)});
    }
    return result;
}

QGradient::Spread ToSpread(Gradient::Spread spread) {
    switch (spread) {
    case Gradient::Spread::Reflect:
        return QGradient::ReflectSpread;
    case Gradient::Spread::Repeat:
        return QGradient::RepeatSpread;
    case Gradient::Spread::Pad:
        break;
    }
    return QGradient::PadSpread;
}

bool Singular(const QTransform& t) {
    return !std::isfinite(t.determinant()) || std::abs(t.determinant()) < 1e-12;
}

QBrush GradientBrush(const FillStyle& style, const ColorTransform& transform) {
    const Gradient& gradient = style.gradient;
    const QGradientStops stops = GradientStops(gradient, transform);
    if (stops.isEmpty())
        return Qt::NoBrush;
    const QTransform matrix = ToQTransform(gradient.matrix);
    // A gradient squeezed to nothing has no inside to sample: its last colour stands in.
    if (stops.size() == 1 || Singular(matrix))
        return QBrush(stops.back().second);
    QBrush brush;
    if (style.type == FillStyle::Type::LinearGradient) {
        QLinearGradient linear(-GradientHalfSize, 0, GradientHalfSize, 0);
        linear.setStops(stops);
        linear.setSpread(ToSpread(gradient.spread));
        linear.setInterpolationMode(QGradient::ComponentInterpolation); // unpremultiplied, as Flash
        brush = QBrush(linear);
    } else {
        const double focal = style.type == FillStyle::Type::FocalRadialGradient
                                 ? std::clamp(gradient.focalPoint, -0.99, 0.99)
                                 : 0;
        QRadialGradient radial(QPointF(0, 0), GradientHalfSize, QPointF(focal * GradientHalfSize, 0));
        radial.setStops(stops);
        radial.setSpread(ToSpread(gradient.spread));
        radial.setInterpolationMode(QGradient::ComponentInterpolation); // unpremultiplied, as Flash
        brush = QBrush(radial);
    }
    brush.setTransform(matrix);
    return brush;
}

bool IsClipped(FillStyle::Type type) {
    return type == FillStyle::Type::ClippedBitmap || type == FillStyle::Type::NonSmoothedClippedBitmap;
}

constexpr int MaxReductions = 8;

bool IsSmoothed(FillStyle::Type type) {
    return type == FillStyle::Type::RepeatingBitmap || type == FillStyle::Type::ClippedBitmap;
}

// The image with its edge pixels repeated outwards by the given margins.
QImage ExtendEdges(const QImage& image, int left, int top, int right, int bottom) {
    const int w = image.width(), h = image.height();
    QImage out(w + left + right, h + top + bottom, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return {};
    for (int y = 0; y < out.height(); ++y) {
        const auto* source =
            reinterpret_cast<const QRgb*>(image.constScanLine(std::clamp(y - top, 0, h - 1)));
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        std::fill(line, line + left, source[0]);
        std::memcpy(line + left, source, std::size_t(w) * sizeof(QRgb));
        std::fill(line + left + w, line + out.width(), source[w - 1]);
    }
    return out;
}

// A clipped fill shows the bitmap's edge pixels beyond its sides. Qt's textures repeat, so the
// texture gets the edges extended over the part of the fill area outside the bitmap.
QImage ClippedTexture(const QImage& image, const QTransform& bitmapToTwips, const QPainterPath& area,
                      QPointF& origin) {
    bool invertible = false;
    const QTransform toBitmap = bitmapToTwips.inverted(&invertible);
    QRectF bounds = invertible ? toBitmap.mapRect(area.boundingRect()) : QRectF();
    const int w = image.width(), h = image.height();
    // Two pixels beyond the area cover antialiased edges and smoothing.
    constexpr double Limit = 2048;
    auto margin = [&](double beyond) { return int(std::ceil(std::clamp(beyond, 0.0, Limit))) + 2; };
    const int left = margin(-bounds.left()), top = margin(-bounds.top());
    const int right = margin(bounds.right() - w), bottom = margin(bounds.bottom() - h);
    origin = QPointF(left, top);
    return ExtendEdges(image, left, top, right, bottom);
}

// The brush of a bitmap fill, or NoBrush when its bitmap is missing. Sets `opacity` when the colour
// transform is left to the painter.
// How many times a smoothed bitmap drawn `toDevice` is halved first: a smoothed bitmap drawn at under
// half its size is averaged down, as Flash Player draws it, rather than sampled here and there.
int Reductions(const FillStyle& style, const QTransform& bitmapToTwips, const QTransform& toDevice) {
    if (!IsSmoothed(style.type))
        return 0;
    const double scale = std::sqrt(std::abs((bitmapToTwips * toDevice).determinant()));
    if (!(scale > 0) || scale >= 0.5)
        return 0;
    return std::clamp(int(std::floor(std::log2(1 / scale))), 0, MaxReductions);
}

QBrush BitmapBrush(const FillStyle& style, const QPainterPath& area, PreparedShape::Texture& texture,
                   const ColorTransform& transform, const ShapeDrawOptions& options,
                   const QTransform& toDevice, double& opacity) {
    const QImage image = options.bitmaps ? options.bitmaps(style.bitmapId) : QImage();
    if (image.isNull())
        return Qt::NoBrush;
    const QTransform bitmapToTwips = ToQTransform(style.bitmapMatrix);
    if (Singular(bitmapToTwips))
        return Qt::NoBrush;
    ColorTransform imageTransform = transform;
    if (AlphaScaleOnly(transform)) {
        opacity = transform.aMul;
        imageTransform = ColorTransform{};
    }
    const int reduced = Reductions(style, bitmapToTwips, toDevice);
    if (texture.image.isNull() || texture.imageKey != image.cacheKey() ||
        !(texture.transform == imageTransform) || texture.reduced != reduced) {
        QPointF origin(0, 0);
        QImage base = IsClipped(style.type) ? ClippedTexture(image, bitmapToTwips, area, origin) : image;
        QTransform toBase; // from texture pixels to those of `base`
        if (reduced > 0 && !base.isNull()) {
            const QSize size(std::max(1, base.width() >> reduced), std::max(1, base.height() >> reduced));
            toBase = QTransform::fromScale(double(base.width()) / size.width(),
                                           double(base.height()) / size.height());
            base = base.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        texture.image = Apply(imageTransform, base);
        texture.imageKey = image.cacheKey();
        texture.transform = imageTransform;
        texture.reduced = reduced;
        texture.origin = origin;
        texture.brush = texture.image.isNull() ? QBrush(Qt::NoBrush) : QBrush(texture.image);
        texture.brush.setTransform(toBase * QTransform::fromTranslate(-origin.x(), -origin.y()) *
                                   bitmapToTwips);
    }
    return texture.brush;
}

QBrush SolidBrush(Rgba color) {
    return color.a == 0 ? QBrush(Qt::NoBrush) : QBrush(ToQColor(color));
}

// The brush of a solid or gradient fill under the colour transform, made again only when the
// transform changes.
const QBrush& PaintBrush(const FillStyle& style, PreparedShape::Paint& paint,
                         const ColorTransform& transform) {
    if (!paint.made || !(paint.transform == transform)) {
        paint.brush = style.type == FillStyle::Type::Solid ? SolidBrush(Apply(transform, style.color))
                                                           : GradientBrush(style, transform);
        paint.raster = paint.brush.style() == Qt::NoBrush ? nullptr : MakeRasterPaint(paint.brush);
        paint.transform = transform;
        paint.hairline.reset();
        paint.made = true;
    }
    return paint.brush;
}

// The brush of any fill; solid and gradient ones come from `paint`, bitmap ones from `texture`.
QBrush FillBrush(const FillStyle& style, const QPainterPath& area, PreparedShape::Texture& texture,
                 PreparedShape::Paint& paint, const ColorTransform& transform,
                 const ShapeDrawOptions& options, const QTransform& toDevice, double& opacity, bool& smooth) {
    if (style.type == FillStyle::Type::Solid || FillStyle::IsGradient(style.type))
        return PaintBrush(style, paint, transform);
    if (!FillStyle::IsBitmapFill(style.type))
        return Qt::NoBrush;
    smooth = IsSmoothed(style.type);
    return BitmapBrush(style, area, texture, transform, options, toDevice, opacity);
}

Qt::PenCapStyle ToCap(LineStyle::Cap cap) {
    switch (cap) {
    case LineStyle::Cap::None:
        return Qt::FlatCap;
    case LineStyle::Cap::Square:
        return Qt::SquareCap;
    case LineStyle::Cap::Round:
        break;
    }
    return Qt::RoundCap;
}

Qt::PenJoinStyle ToJoin(LineStyle::Join join) {
    switch (join) {
    case LineStyle::Join::Bevel:
        return Qt::BevelJoin;
    case LineStyle::Join::Miter:
        return Qt::MiterJoin;
    case LineStyle::Join::Round:
        break;
    }
    return Qt::RoundJoin;
}

// The width of a line in the shape's own space: an object stretched one way gets its lines stretched
// the same way, as in Flash. A line that keeps its width is thinned by the object's scale: the
// smaller of the scales of device x and y, which leaves stretching along one axis to show (as Flash
// Player does). A line that comes out under one device pixel is a one-pixel hairline; one hinted to
// pixels is as wide as a whole number of them.
double LineWidth(const LineStyle& style, const QTransform& toDevice, double stageScale, bool& hairline) {
    const double scaleX = std::hypot(toDevice.m11(), toDevice.m21());
    const double scaleY = std::hypot(toDevice.m12(), toDevice.m22());
    double width = style.width;
    if (style.noHScale || style.noVScale) {
        const double objectScale = style.noHScale && style.noVScale ? std::min(scaleX, scaleY)
                                   : style.noHScale                 ? scaleX
                                                                    : scaleY;
        const double stage = stageScale > 0 ? stageScale : (scaleX + scaleY) / 2;
        width = objectScale > 0 ? style.width * stage / objectScale : 0;
    }
    const double deviceScale = std::max(scaleX, scaleY);
    hairline = width * deviceScale < 1;
    if (style.pixelHinting && !hairline)
        width = std::round(width * deviceScale) / deviceScale;
    return width;
}

QPen LinePen(const LineStyle& style, const QBrush& brush, double width, bool hairline) {
    QPen pen(brush, hairline ? 1.0 : width, Qt::SolidLine, ToCap(style.startCap), ToJoin(style.join));
    pen.setCosmetic(hairline);
    pen.setMiterLimit(std::max(1.0, style.miterLimit));
    return pen;
}

bool Prepared(const Shape& shape, const PreparedShape& prepared) {
    const std::size_t fills = shape.fillStyles.size(), lines = shape.lineStyles.size();
    return prepared.fills.size() == fills && prepared.textures.size() == fills &&
           prepared.fillPaints.size() == fills && prepared.lines.size() == lines &&
           prepared.linePaints.size() == lines && prepared.strokes.size() == lines;
}

} // namespace

void RecordShape(PaintList& list, const Shape& shape, const PreparedShape& prepared,
                 const QTransform& toDevice, const ColorTransform& colorTransform,
                 const ShapeDrawOptions& options) {
    if (!Prepared(shape, prepared))
        return;
    for (const PreparedShape::Layer& layer : prepared.layers) {
        const bool group = layer.endFill - layer.firstFill > 1;
        if (group)
            list.BeginGroup();
        for (int i = layer.firstFill; i < layer.endFill; ++i) {
            const std::size_t index = std::size_t(i);
            const PaintPath& path = prepared.fills[index];
            if (path.IsEmpty())
                continue;
            double opacity = 1;
            bool smooth = false;
            const QBrush brush =
                FillBrush(shape.fillStyles[index], path.Path(), prepared.textures[index],
                          prepared.fillPaints[index], colorTransform, options, toDevice, opacity, smooth);
            if (brush.style() != Qt::NoBrush) // bitmap fills leave their paint unmade, without raster
                list.Fill(path, brush, toDevice, opacity, smooth, prepared.fillPaints[index].raster);
        }
        if (group)
            list.EndGroup();
        for (int i = layer.firstLine; i < layer.endLine; ++i) {
            const std::size_t index = std::size_t(i);
            const PaintPath& path = prepared.lines[index];
            if (path.IsEmpty())
                continue;
            const LineStyle& style = shape.lineStyles[index];
            PreparedShape::Paint& paint = prepared.linePaints[index];
            double opacity = 1;
            bool smooth = false;
            QBrush brush;
            bool cached = true; // the brush and its hairline pen may be kept in `paint`
            if (!style.fill) {
                FillStyle solid;
                solid.color = style.color;
                brush = PaintBrush(solid, paint, colorTransform);
            } else if (style.fill->type == FillStyle::Type::Solid ||
                       FillStyle::IsGradient(style.fill->type)) {
                brush = PaintBrush(*style.fill, paint, colorTransform);
            } else {
                PreparedShape::Texture texture;
                brush = FillBrush(*style.fill, path.Path(), texture, paint, colorTransform, options, toDevice,
                                  opacity, smooth);
                cached = false;
            }
            if (brush.style() == Qt::NoBrush)
                continue;
            bool hairline = false;
            const double width = LineWidth(style, toDevice, options.stageScale, hairline);
            if (hairline) {
                if (!cached)
                    list.Stroke(path, LinePen(style, brush, width, true), toDevice, opacity, smooth);
                else {
                    if (!paint.hairline)
                        paint.hairline = LinePen(style, brush, width, true);
                    list.Stroke(path, *paint.hairline, toDevice, opacity, smooth);
                }
                continue;
            }
            // The outline is made once in the shape's space and filled at any transform after.
            std::optional<PreparedShape::Stroke>& stroke = prepared.strokes[index];
            if (!stroke || stroke->width != width) {
                QPainterPathStroker stroker(LinePen(style, brush, width, false));
                stroke = PreparedShape::Stroke{width, PaintPath(stroker.createStroke(path.Path()))};
            }
            list.Fill(stroke->outline, brush, toDevice, opacity, smooth, cached ? paint.raster : nullptr);
        }
    }
}

void DrawShape(QPainter& painter, const Shape& shape, const PreparedShape& prepared,
               const QTransform& toDevice, const ColorTransform& colorTransform,
               const ShapeDrawOptions& options) {
    PaintList list;
    RecordShape(list, shape, prepared, toDevice, colorTransform, options);
    list.Replay(painter);
}

void DrawShape(QPainter& painter, const Shape& shape, const QTransform& toDevice,
               const ColorTransform& colorTransform, const ShapeDrawOptions& options) {
    DrawShape(painter, shape, PrepareShape(shape), toDevice, colorTransform, options);
}

// --- Morphing ---

namespace {

double Mix(double a, double b, double t) {
    return a + (b - a) * t;
}

std::uint8_t MixByte(std::uint8_t a, std::uint8_t b, double t) {
    return std::uint8_t(std::clamp(std::lround(Mix(a, b, t)), 0L, 255L));
}

Rgba MixColor(Rgba a, Rgba b, double t) {
    return Rgba{MixByte(a.r, b.r, t), MixByte(a.g, b.g, t), MixByte(a.b, b.b, t), MixByte(a.a, b.a, t)};
}

Matrix MixMatrix(const Matrix& a, const Matrix& b, double t) {
    return Matrix{Mix(a.a, b.a, t), Mix(a.b, b.b, t),   Mix(a.c, b.c, t),
                  Mix(a.d, b.d, t), Mix(a.tx, b.tx, t), Mix(a.ty, b.ty, t)};
}

FillStyle MixFill(const FillStyle& a, const FillStyle& b, double t) {
    FillStyle out = a;
    out.color = MixColor(a.color, b.color, t);
    out.bitmapMatrix = MixMatrix(a.bitmapMatrix, b.bitmapMatrix, t);
    out.gradient.matrix = MixMatrix(a.gradient.matrix, b.gradient.matrix, t);
    out.gradient.focalPoint = Mix(a.gradient.focalPoint, b.gradient.focalPoint, t);
    const std::size_t records = std::min(a.gradient.records.size(), b.gradient.records.size());
    for (std::size_t i = 0; i < records; ++i) {
        const GradientRecord& ra = a.gradient.records[i];
        const GradientRecord& rb = b.gradient.records[i];
        out.gradient.records[i] =
            GradientRecord{MixByte(ra.ratio, rb.ratio, t), MixColor(ra.color, rb.color, t)};
    }
    return out;
}

template <typename T> const T& EndOf(const std::vector<T>& end, std::size_t i, const T& start) {
    return i < end.size() ? end[i] : start;
}

} // namespace

Shape InterpolateMorph(const MorphShape& morph, std::uint16_t ratio) {
    const double t = ratio / 65535.0;
    Shape shape;
    auto mixRect = [t](const Rect& a, const Rect& b) {
        auto mix = [t](std::int32_t x, std::int32_t y) { return std::int32_t(std::lround(Mix(x, y, t))); };
        return Rect{mix(a.xMin, b.xMin), mix(a.xMax, b.xMax), mix(a.yMin, b.yMin), mix(a.yMax, b.yMax)};
    };
    shape.bounds = mixRect(morph.startBounds, morph.endBounds);
    shape.edgeBounds = shape.bounds;
    for (std::size_t i = 0; i < morph.startFillStyles.size(); ++i) {
        const FillStyle& a = morph.startFillStyles[i];
        shape.fillStyles.push_back(MixFill(a, EndOf(morph.endFillStyles, i, a), t));
    }
    for (std::size_t i = 0; i < morph.startLineStyles.size(); ++i) {
        const LineStyle& a = morph.startLineStyles[i];
        const LineStyle& b = EndOf(morph.endLineStyles, i, a);
        LineStyle line = a;
        line.width = std::uint16_t(std::clamp(std::lround(Mix(a.width, b.width, t)), 0L, 65535L));
        line.color = MixColor(a.color, b.color, t);
        if (a.fill)
            line.fill = MixFill(*a.fill, b.fill ? *b.fill : *a.fill, t);
        shape.lineStyles.push_back(line);
    }
    shape.edges.reserve(morph.startEdges.size());
    for (std::size_t i = 0; i < morph.startEdges.size(); ++i) {
        const ShapeEdge& a = morph.startEdges[i];
        const ShapeEdge& b = EndOf(morph.endEdges, i, a);
        // A straight edge facing a curve bends about its middle.
        auto control = [](const ShapeEdge& e, bool x) {
            if (e.curved)
                return x ? e.controlX : e.controlY;
            return x ? (e.fromX + e.toX) / 2 : (e.fromY + e.toY) / 2;
        };
        ShapeEdge e = a;
        e.fromX = Mix(a.fromX, b.fromX, t);
        e.fromY = Mix(a.fromY, b.fromY, t);
        e.toX = Mix(a.toX, b.toX, t);
        e.toY = Mix(a.toY, b.toY, t);
        e.curved = a.curved || b.curved;
        e.controlX = Mix(control(a, true), control(b, true), t);
        e.controlY = Mix(control(a, false), control(b, false), t);
        shape.edges.push_back(e);
    }
    return shape;
}

} // namespace flash
