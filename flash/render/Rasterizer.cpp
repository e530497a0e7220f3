#include "flash/render/Rasterizer.h"

#include <QColor>
#include <QRgba64>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace flash {

namespace {

QRgb Premultiplied(QRgba64 color) {
    return color.premultiplied().toArgb32();
}

// The colour table of a gradient whose colours mix unpremultiplied: entry i shows position
// i / (TableSize - 1) between the first stop (0) and the last (1).
std::vector<QRgb> ColorTable(const QGradientStops& stops) {
    std::vector<QRgb> table(RasterPaint::TableSize);
    qsizetype next = 0; // the first stop at or after the position
    for (int i = 0; i < RasterPaint::TableSize; ++i) {
        const double position = double(i) / (RasterPaint::TableSize - 1);
        while (next < stops.size() && stops[next].first < position)
            ++next;
        QRgba64 color;
        if (next == 0) {
            color = stops.front().second.rgba64();
        } else if (next == stops.size()) {
            color = stops.back().second.rgba64();
        } else {
            const QGradientStop& before = stops[next - 1];
            const QGradientStop& after = stops[next];
            const double span = after.first - before.first;
            const double f = span > 0 ? (position - before.first) / span : 1;
            const QRgba64 a = before.second.rgba64(), b = after.second.rgba64();
            auto mix = [f](quint16 from, quint16 to) { return quint16(std::lround(from + (to - from) * f)); };
            color = qRgba64(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()),
                            mix(a.alpha(), b.alpha()));
        }
        table[std::size_t(i)] = Premultiplied(color);
    }
    return table;
}

// x * a / 255, rounded, on the four channels of a premultiplied pixel at once.
inline QRgb Scale(QRgb x, std::uint32_t a) {
    std::uint64_t t = ((std::uint64_t(x) | (std::uint64_t(x) << 24)) & 0x00ff00ff00ff00ffULL) * a;
    t = (t + ((t >> 8) & 0x00ff00ff00ff00ffULL) + 0x0080008000800080ULL) >> 8;
    t &= 0x00ff00ff00ff00ffULL;
    return QRgb(t) | QRgb(t >> 24);
}

// pixels[i] = color + pixels[i] * rest / 255 over a run, rounded as Scale rounds.
void BlendRun(QRgb* pixels, int count, QRgb color, std::uint32_t rest) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i colors = _mm_set1_epi32(int(color));
    const __m128i factor = _mm_set1_epi16(short(rest));
    const __m128i half = _mm_set1_epi16(0x80);
    const __m128i zero = _mm_setzero_si128();
    auto scale = [&](__m128i channels) {
        const __m128i t = _mm_mullo_epi16(channels, factor);
        return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), half), 8);
    };
    for (; i + 4 <= count; i += 4) {
        auto* at = reinterpret_cast<__m128i*>(pixels + i);
        const __m128i d = _mm_loadu_si128(at);
        const __m128i scaled =
            _mm_packus_epi16(scale(_mm_unpacklo_epi8(d, zero)), scale(_mm_unpackhi_epi8(d, zero)));
        _mm_storeu_si128(at, _mm_add_epi8(scaled, colors));
    }
#endif
    for (; i < count; ++i)
        pixels[i] = color + Scale(pixels[i], rest);
}

// pixels[i] + color on each channel, held at 255, over a run.
void AddRun(QRgb* pixels, int count, QRgb color) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i colors = _mm_set1_epi32(int(color));
    for (; i + 4 <= count; i += 4) {
        auto* at = reinterpret_cast<__m128i*>(pixels + i);
        _mm_storeu_si128(at, _mm_adds_epu8(_mm_loadu_si128(at), colors));
    }
#endif
    for (; i < count; ++i) {
        const QRgb p = pixels[i];
        pixels[i] = qRgba(std::min(255, qRed(p) + qRed(color)), std::min(255, qGreen(p) + qGreen(color)),
                          std::min(255, qBlue(p) + qBlue(color)), std::min(255, qAlpha(p) + qAlpha(color)));
    }
}

// Source-over of a premultiplied colour seen through `coverage` (1..255).
inline void Blend(QRgb& pixel, QRgb color, std::uint32_t coverage) {
    if (coverage < 255)
        color = Scale(color, coverage);
    const std::uint32_t alpha = qAlpha(color);
    if (alpha == 255)
        pixel = color;
    else if (alpha != 0)
        pixel = color + Scale(pixel, 255 - alpha);
}

// std::ceil for x well within int's range, without the library call the baseline instruction set needs
// and without a branch: the rows' crossings fall on either side at random.
inline int CeilToInt(double x) {
#if defined(__SSE2__)
    const __m128d value = _mm_set_sd(x);
    const __m128i whole = _mm_cvttpd_epi32(value);
    // All ones (-1) where the truncation fell below x.
    const __m128i below = _mm_castpd_si128(_mm_cmplt_sd(_mm_cvtepi32_pd(whole), value));
    return _mm_cvtsi128_si32(_mm_sub_epi32(whole, below));
#else
    const int whole = int(x);
    return whole + (whole < x ? 1 : 0);
#endif
}

// The table entry for gradient position t, by the spread of the gradient beyond 0..1.
inline int TableIndex(double t, QGradient::Spread spread) {
    constexpr int Size = RasterPaint::TableSize;
    const double position = t * (Size - 1) + 0.5;
    const double v = position < 1e9 ? (position > -1e9 ? position : -1e9) : 1e9; // NaN goes to -1e9
    if (spread == QGradient::PadSpread)
        return std::clamp(int(v), 0, Size - 1);
    const int whole = int(std::floor(v));
    if (spread == QGradient::RepeatSpread)
        return ((whole % Size) + Size) % Size;
    const int folded = ((whole % (2 * Size)) + 2 * Size) % (2 * Size);
    return folded < Size ? folded : 2 * Size - 1 - folded;
}

// Gradient runs are worked out this many pixels at a time: their colours first, then the blending.
constexpr int SpanChunk = 64;

// The colours of n gradient positions (n at most SpanChunk). Padded gradients, the most common, two at
// a time where the processor allows it, giving TableIndex's entries.
void TableColors(QRgb* colors, const double* positions, int n, const RasterPaint& paint) {
    const QRgb* const table = paint.colorTable.data();
    int i = 0;
    if (paint.spread == QGradient::PadSpread) {
#if defined(__SSE2__)
        constexpr double Last = RasterPaint::TableSize - 1;
        const __m128d scale = _mm_set1_pd(Last), half = _mm_set1_pd(0.5), zero = _mm_setzero_pd(),
                      last = _mm_set1_pd(Last);
        for (; i + 2 <= n; i += 2) {
            const __m128d position = _mm_add_pd(_mm_mul_pd(_mm_loadu_pd(positions + i), scale), half);
            // max_pd gives its second operand for NaN, so NaN goes to the first entry as in TableIndex.
            const __m128i index = _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(position, zero), last));
            colors[i] = table[_mm_cvtsi128_si32(index)];
            colors[i + 1] = table[_mm_cvtsi128_si32(_mm_shuffle_epi32(index, 1))];
        }
#endif
        for (; i < n; ++i)
            colors[i] = table[TableIndex(positions[i], QGradient::PadSpread)];
        return;
    }
    for (; i < n; ++i)
        colors[i] = table[TableIndex(positions[i], paint.spread)];
}

// The colours of n pixels whose linear gradient positions start at t and grow by step; t moves on.
void LinearColors(QRgb* colors, int n, double& t, double step, const RasterPaint& paint) {
    double positions[SpanChunk];
    for (int i = 0; i < n; ++i)
        positions[i] = t + i * step;
    t += n * step;
    TableColors(colors, positions, n, paint);
}

// A radial gradient seen from its focal point: the gradient point of a pixel (g, from the focal
// point), the centre from the focal point (e) and r² - |e|² (a) give the position.
struct RadialSteps {
    double stepX, stepY, ex, ey, a;
};

// The colours of n pixels whose gradient points start at (gx, gy) and move by a step each; the point
// moves on. Two pixels at a time where the processor allows it, with the same arithmetic as one.
void RadialColors(QRgb* colors, int n, double& gx, double& gy, const RadialSteps& r,
                  const RasterPaint& paint) {
    double t[SpanChunk];
    int i = 0;
#if defined(__SSE2__)
    const __m128d ex = _mm_set1_pd(r.ex), ey = _mm_set1_pd(r.ey), a = _mm_set1_pd(r.a);
    for (; i + 2 <= n; i += 2) {
        const double x0 = gx, y0 = gy;
        gx += r.stepX;
        gy += r.stepY;
        const __m128d x = _mm_set_pd(gx, x0), y = _mm_set_pd(gy, y0);
        gx += r.stepX;
        gy += r.stepY;
        const __m128d b = _mm_add_pd(_mm_mul_pd(x, ex), _mm_mul_pd(y, ey));
        const __m128d square =
            _mm_add_pd(_mm_mul_pd(b, b), _mm_mul_pd(a, _mm_add_pd(_mm_mul_pd(x, x), _mm_mul_pd(y, y))));
        _mm_storeu_pd(t + i, _mm_div_pd(_mm_sub_pd(_mm_sqrt_pd(square), b), a));
    }
#endif
    for (; i < n; ++i, gx += r.stepX, gy += r.stepY) {
        const double b = gx * r.ex + gy * r.ey;
        t[i] = (std::sqrt(b * b + r.a * (gx * gx + gy * gy)) - b) / r.a;
    }
    TableColors(colors, t, n, paint);
}

// Blends n colours seen through `coverage` onto the pixels, as Blend (source-over) or added, pixel by
// pixel. Four at a time where the processor allows it: the same rounding as Scale, and a colour of
// full alpha or none comes out as Blend's shortcuts give it.
void BlendColors(QRgb* pixels, const QRgb* colors, int n, std::uint32_t coverage, bool add) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi16(0x80);
    const __m128i full = _mm_set1_epi16(255);
    const __m128i cover = _mm_set1_epi16(short(coverage));
    auto scale = [&](__m128i channels, __m128i factor) {
        const __m128i t = _mm_mullo_epi16(channels, factor);
        return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), half), 8);
    };
    // The alpha of each of two pixels (unpacked to 16 bits) on all four of its channels.
    auto alphas = [](__m128i channels) {
        return _mm_shufflehi_epi16(_mm_shufflelo_epi16(channels, 0xFF), 0xFF);
    };
    for (; i + 4 <= n; i += 4) {
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(colors + i));
        __m128i cLow = _mm_unpacklo_epi8(c, zero), cHigh = _mm_unpackhi_epi8(c, zero);
        if (coverage < 255) {
            cLow = scale(cLow, cover);
            cHigh = scale(cHigh, cover);
            c = _mm_packus_epi16(cLow, cHigh);
        }
        auto* at = reinterpret_cast<__m128i*>(pixels + i);
        const __m128i p = _mm_loadu_si128(at);
        if (add) {
            _mm_storeu_si128(at, _mm_adds_epu8(p, c));
            continue;
        }
        const __m128i rest =
            _mm_packus_epi16(scale(_mm_unpacklo_epi8(p, zero), _mm_sub_epi16(full, alphas(cLow))),
                             scale(_mm_unpackhi_epi8(p, zero), _mm_sub_epi16(full, alphas(cHigh))));
        _mm_storeu_si128(at, _mm_add_epi32(c, rest));
    }
#endif
    for (; i < n; ++i) {
        if (add)
            AddRun(pixels + i, 1, coverage < 255 ? Scale(colors[i], coverage) : colors[i]);
        else
            Blend(pixels[i], colors[i], coverage);
    }
}

// Per thread, so bands filled at once each have their own.
struct Scratch {
    std::vector<QPointF> points;      // the flattened path in device pixels
    std::vector<float> cells;         // (width + 2) per row: changes of coverage-weighted winding
    std::vector<std::uint64_t> marks; // a bit per cell that changed; all clear between fills
};

thread_local Scratch scratch;

// The area between the edges and the device's right side, accumulated cell by cell: after a running
// sum along a row, each pixel holds its exact coverage-weighted winding.
class Accumulator {
public:
    Accumulator(const QRect& area, Scratch& s, Edges edges)
        : left(area.left()), top(area.top()), width(area.width()), height(area.height()),
          stride(std::size_t(width + 2)), words((std::size_t(width) + 2 + 63) / 64),
          sampled(edges == Edges::Sampled), s(s) {
        // Cells and marks are left clear by every sweep, so growing them is all there is to do.
        if (s.cells.size() < stride * std::size_t(height))
            s.cells.resize(stride * std::size_t(height), 0.f);
        if (s.marks.size() < words * std::size_t(height))
            s.marks.resize(words * std::size_t(height), 0);
    }

    // An edge in device pixels. Parts beyond the left or right side move onto it: left of the area an
    // edge still counts for every pixel after it, right of it for none.
    void Edge(QPointF a, QPointF b) {
        if (sampled) {
            SampledEdge(a.x() - left, a.y() - top, b.x() - left, b.y() - top);
            return;
        }
        if (a.y() == b.y())
            return;
        if (std::max(a.y(), b.y()) <= top || std::min(a.y(), b.y()) >= top + height)
            return;
        const double sides[] = {double(left), double(left + width)};
        if (std::min(a.x(), b.x()) >= sides[0] && std::max(a.x(), b.x()) <= sides[1]) {
            Piece(a.x(), a.y(), b.x(), b.y());
            return;
        }
        double cuts[2];
        int cutCount = 0;
        for (double side : sides)
            if ((a.x() - side) * (b.x() - side) < 0)
                cuts[cutCount++] = (side - a.x()) / (b.x() - a.x());
        if (cutCount == 2 && cuts[0] > cuts[1])
            std::swap(cuts[0], cuts[1]);
        QPointF from = a;
        for (int i = 0; i <= cutCount; ++i) {
            const QPointF to = i < cutCount ? a + (b - a) * cuts[i] : b;
            const double x = std::clamp((from.x() + to.x()) / 2, sides[0], sides[1]);
            if (x == sides[0] || x == sides[1])
                Piece(x, from.y(), x, to.y());
            else
                Piece(from.x(), from.y(), to.x(), to.y());
            from = to;
        }
    }

private:
    void Piece(double x0, double y0, double x1, double y1) {
        x0 -= left;
        x1 -= left;
        y0 -= top;
        y1 -= top;
        float direction = 1;
        if (y0 > y1) {
            std::swap(x0, x1);
            std::swap(y0, y1);
            direction = -1;
        }
        if (y0 == y1)
            return;
        const double slope = (x1 - x0) / (y1 - y0);
        // Rows are counted from the area's top, so within it they are never negative.
        const double from = std::max(y0, 0.0), to = std::min(y1, double(height));
        if (from >= to)
            return;
        const int firstRow = int(from);
        const int endRow = int(to) + (int(to) < to ? 1 : 0);
        double ya = from;
        double xa = Within(x0 + (ya - y0) * slope);
        for (int row = firstRow; row < endRow; ++row) {
            const double yb = std::min(double(row + 1), to);
            const double xb = Within(x0 + (yb - y0) * slope);
            if (xa <= xb)
                Cross(row, xa, xb, direction * (yb - ya));
            else
                Cross(row, xb, xa, direction * (yb - ya));
            ya = yb;
            xa = xb;
        }
    }

    // The edge (in area coordinates) changes the winding of every pixel centre at or right of it, in
    // each row whose centre line it crosses (its top end in, its bottom end out, so edges that meet count
    // once). Parts beyond the left or right side count on it, as in Edge.
    void SampledEdge(double x0, double y0, double x1, double y1) {
        float direction = 1;
        if (y0 > y1) {
            std::swap(x0, x1);
            std::swap(y0, y1);
            direction = -1;
        }
        // Rows whose centre is in [y0, y1); none for a level edge, one outside the rows or one with NaN.
        if (!(y1 > 0.5) || !(y0 < height - 0.5))
            return;
        const int firstRow = y0 <= 0.5 ? 0 : CeilToInt(y0 - 0.5);
        const int endRow = y1 >= height ? height : CeilToInt(y1 - 0.5);
        if (firstRow >= endRow)
            return;
        const double slope = (x1 - x0) / (y1 - y0);
        const double right = width;
        float* cells = s.cells.data() + std::size_t(firstRow) * stride;
        std::uint64_t* marks = s.marks.data() + std::size_t(firstRow) * words;
        for (int row = firstRow; row < endRow; ++row, cells += stride, marks += words) {
            // On the area's columns, against rounding past its sides; NaN goes to the left.
            const double x = std::min(std::max(0.0, x0 + (row + 0.5 - y0) * slope), right);
            const int column = CeilToInt(x - 0.5); // 0..width, as x is
            cells[column] += direction;
            marks[column >> 6] |= std::uint64_t(1) << (column & 63);
        }
    }

    // An x on the area's columns, against rounding past its sides (and NaN, which goes to the left).
    double Within(double x) const { return !(x > 0) ? 0 : x > width ? width : x; }

    // A part of an edge crossing one row from column lo to hi, `amount` rows high (negative going up).
    void Cross(int row, double lo, double hi, double amount) {
        float* cells = &s.cells[std::size_t(row) * stride];
        std::uint64_t* marks = &s.marks[std::size_t(row) * words];
        const int column = int(lo);
        if (hi <= column + 1) {
            // Within one column: the pixel gets the part right of the edge's middle.
            const double right = column + 1 - (lo + hi) / 2;
            cells[column] += float(amount * right);
            cells[column + 1] += float(amount * (1 - right));
            if ((column & 63) != 63) {
                marks[column >> 6] |= std::uint64_t(3) << (column & 63);
            } else {
                marks[column >> 6] |= std::uint64_t(1) << 63;
                marks[(column + 1) >> 6] |= 1;
            }
            return;
        }
        // Across columns: the part of each pixel right of the edge grows along a ramp, by `step` for every
        // column the edge crosses whole.
        const double step = 1 / (hi - lo);
        const int end = int(hi) + (int(hi) < hi ? 1 : 0);
        const double firstPart = column + 1 - lo;
        double covered = firstPart * firstPart / 2 * step; // of pixel `column`
        cells[column] += float(amount * covered);
        double previous = covered;
        for (int x = column + 1; x < end - 1; ++x) {
            covered = (x + 0.5 - lo) * step;
            cells[x] += float(amount * (covered - previous));
            previous = covered;
        }
        const double lastPart = hi - (end - 1); // of pixel end - 1, in (0, 1]
        covered = 1 - lastPart * lastPart / 2 * step;
        cells[end - 1] += float(amount * (covered - previous));
        cells[end] += float(amount * (1 - covered));
        for (int x = column; x <= end; ++x)
            marks[x >> 6] |= std::uint64_t(1) << (x & 63);
    }

public:
    const int left, top, width, height;
    const std::size_t stride, words;

private:
    const bool sampled;
    Scratch& s;
};

// The step of the largest factor by which the transform scales a length, rounded up to a quarter octave:
// a flattening made for a step serves every transform within it.
int ScaleStep(const QTransform& t) {
    // The largest singular value of the linear part, from its squared norm and its determinant.
    const double norm2 = t.m11() * t.m11() + t.m12() * t.m12() + t.m21() * t.m21() + t.m22() * t.m22();
    const double det = t.m11() * t.m22() - t.m12() * t.m21();
    const double largest =
        std::sqrt((norm2 + std::sqrt(std::max(0.0, norm2 * norm2 - 4 * det * det))) / 2) * (1 + 1e-9);
    if (!(largest > std::ldexp(1.0, FlatPath::LowestStep / 4)))
        return FlatPath::LowestStep; // also NaN
    if (!(largest < std::ldexp(1.0, FlatPath::HighestStep / 4)))
        return FlatPath::HighestStep;
    return int(std::ceil(4 * std::log2(largest)));
}

// The path in its own coordinates as closed contours of points, its curves cut into lines no further
// than a tenth of a device pixel from them (about as far as Qt's raster engine strays) under any
// transform of the flattening's scale step.
void Flatten(const QPainterPath& path, int scaleStep, FlatPath& flat) {
    constexpr double Tolerance = 0.1;
    const double scale = std::exp2(scaleStep / 4.0);
    const double scale2 = scale * scale;
    flat.points.clear();
    flat.starts.clear();
    flat.scaleStep = scaleStep;
    QPointF current;
    const int count = path.elementCount();
    for (int i = 0; i < count; ++i) {
        const QPainterPath::Element& e = path.elementAt(i);
        if (e.isMoveTo()) {
            flat.starts.push_back(int(flat.points.size()));
            current = e;
            flat.points.push_back(current);
        } else if (e.isLineTo()) {
            current = e;
            flat.points.push_back(current);
        } else if (i + 2 < count) {
            const QPointF c1 = e, c2 = path.elementAt(i + 1), end = path.elementAt(i + 2);
            i += 2;
            // A cubic stays within |second difference| * 3/4 / n² of n equal chords.
            const QPointF d1 = current - 2 * c1 + c2, d2 = c1 - 2 * c2 + end;
            const double bend2 = std::max(QPointF::dotProduct(d1, d1), QPointF::dotProduct(d2, d2)) * scale2;
            // Below this bend the count comes out as one piece anyway (with room for rounding), and the
            // many small curves of thin lines' outlines spare their two square roots.
            constexpr double OnePieceBend2 = 0.0177;
            int n = 1;
            if (!(bend2 < OnePieceBend2)) {
                const double pieces = std::ceil(std::sqrt(0.75 * std::sqrt(bend2) / Tolerance));
                n = std::isfinite(pieces) ? std::clamp(int(pieces), 1, 1000) : 1;
            }
            const double step = 1.0 / n;
            for (int k = 1; k < n; ++k) {
                const double t = k * step, u = 1 - t;
                flat.points.push_back(u * u * u * current + 3 * u * u * t * c1 + 3 * u * t * t * c2 +
                                      t * t * t * end);
            }
            flat.points.push_back(end);
            current = end;
        }
    }
    flat.starts.push_back(int(flat.points.size()));
}

// The flattened path in device pixels, and the bounds of its points.
void MapPoints(const FlatPath& flat, const QTransform& toDevice, Scratch& s, QRectF& bounds) {
    const double m11 = toDevice.m11(), m12 = toDevice.m12(), m21 = toDevice.m21(), m22 = toDevice.m22();
    const double dx = toDevice.dx(), dy = toDevice.dy();
    const std::size_t count = flat.points.size();
    s.points.resize(count);
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = flat.points[i].x(), y = flat.points[i].y();
        const double deviceX = m11 * x + m21 * y + dx, deviceY = m12 * x + m22 * y + dy;
        s.points[i] = QPointF(deviceX, deviceY);
        minX = std::min(minX, deviceX);
        maxX = std::max(maxX, deviceX);
        minY = std::min(minY, deviceY);
        maxY = std::max(maxY, deviceY);
    }
    bounds = QRectF(QPointF(minX, minY), QPointF(maxX, maxY));
}

} // namespace

std::shared_ptr<const RasterPaint> MakeRasterPaint(const QBrush& brush) {
    auto paint = std::make_shared<RasterPaint>();
    if (brush.style() == Qt::SolidPattern) {
        paint->color = Premultiplied(brush.color().rgba64());
        paint->opaque = qAlpha(paint->color) == 255;
        return paint;
    }
    if (brush.style() != Qt::LinearGradientPattern && brush.style() != Qt::RadialGradientPattern)
        return nullptr;
    const QGradient* gradient = brush.gradient();
    if (!gradient || gradient->coordinateMode() != QGradient::LogicalMode ||
        gradient->interpolationMode() != QGradient::ComponentInterpolation || gradient->stops().isEmpty())
        return nullptr;
    paint->spread = gradient->spread();
    paint->gradientToShape = brush.transform();
    if (gradient->type() == QGradient::LinearGradient) {
        const auto* linear = static_cast<const QLinearGradient*>(gradient);
        paint->kind = RasterPaint::Kind::Linear;
        paint->start = linear->start();
        paint->end = linear->finalStop();
    } else {
        const auto* radial = static_cast<const QRadialGradient*>(gradient);
        paint->kind = RasterPaint::Kind::Radial;
        paint->center = radial->center();
        paint->focal = radial->focalPoint();
        paint->radius = radial->radius();
        const QPointF offset = paint->focal - paint->center;
        if (radial->focalRadius() != 0 || !(paint->radius > 0) ||
            std::hypot(offset.x(), offset.y()) >= paint->radius * 0.999)
            return nullptr;
    }
    paint->colorTable = ColorTable(gradient->stops());
    paint->opaque = std::all_of(paint->colorTable.begin(), paint->colorTable.end(),
                                [](QRgb color) { return qAlpha(color) == 255; });
    return paint;
}

void FillPath(QImage& image, const QRect& window, const QPainterPath& path, const QTransform& toDevice,
              const RasterPaint& paint, FillBlend blend, Edges edges, FlatPath* flat) {
    if (path.isEmpty() || image.format() != QImage::Format_ARGB32_Premultiplied ||
        image.width() < window.width() || image.height() < window.height())
        return;
    // The control points hold the path: a path whose box misses the window is not flattened at all.
    if (!toDevice.mapRect(path.controlPointRect()).intersects(QRectF(window)))
        return;
    Scratch& s = scratch;
    // Without a cache of its own the path is flattened for this fill alone.
    thread_local FlatPath once;
    if (!flat) {
        flat = &once;
        flat->scaleStep = FlatPath::NoStep;
    }
    if (const int step = ScaleStep(toDevice); step != flat->scaleStep)
        Flatten(path, step, *flat);
    QRectF bounds;
    MapPoints(*flat, toDevice, s, bounds);
    if (!std::isfinite(bounds.left()) || !std::isfinite(bounds.top()) || !std::isfinite(bounds.right()) ||
        !std::isfinite(bounds.bottom()))
        return;
    const QRect area = QRect(QPoint(int(std::max(std::floor(bounds.left()), -1e9)),
                                    int(std::max(std::floor(bounds.top()), -1e9))),
                             QPoint(int(std::min(std::ceil(bounds.right()), 1e9)) - 1,
                                    int(std::min(std::ceil(bounds.bottom()), 1e9)) - 1)) &
                       window;
    if (area.isEmpty())
        return;

    // Gradient positions are affine in device pixels: t or the gradient point moves by fixed steps.
    double tx = 0, ty = 0, t0 = 0;                        // Linear: t = tx * x + ty * y + t0
    QTransform toGradient;                                // Radial
    double focalX = 0, focalY = 0, ex = 0, ey = 0, a = 1; // Radial: focal, centre - focal, r² - |e|²
    if (paint.kind != RasterPaint::Kind::Solid) {
        bool invertible = false;
        toGradient = (paint.gradientToShape * toDevice).inverted(&invertible);
        if (!invertible)
            return;
        if (paint.kind == RasterPaint::Kind::Linear) {
            const QPointF along = paint.end - paint.start;
            const double length2 = along.x() * along.x() + along.y() * along.y();
            if (length2 > 0) {
                const double dx = along.x() / length2, dy = along.y() / length2;
                tx = toGradient.m11() * dx + toGradient.m12() * dy;
                ty = toGradient.m21() * dx + toGradient.m22() * dy;
                t0 = (toGradient.dx() - paint.start.x()) * dx + (toGradient.dy() - paint.start.y()) * dy;
            }
        } else {
            focalX = paint.focal.x();
            focalY = paint.focal.y();
            ex = paint.center.x() - focalX;
            ey = paint.center.y() - focalY;
            a = paint.radius * paint.radius - ex * ex - ey * ey;
        }
    }

    Accumulator accumulator(area, s, edges);
    for (std::size_t c = 0; c + 1 < flat->starts.size(); ++c) {
        const int begin = flat->starts[c], end = flat->starts[c + 1];
        for (int i = begin; i < end; ++i)
            accumulator.Edge(s.points[std::size_t(i)], s.points[std::size_t(i + 1 < end ? i + 1 : begin)]);
    }

    const bool oddEven = path.fillRule() == Qt::OddEvenFill;
    // 0..255 from a coverage-weighted winding, by the path's fill rule.
    auto coverageOf = [oddEven](float winding) {
        winding = std::fabs(winding);
        if (oddEven && winding > 1) {
            winding -= 2 * std::floor(winding / 2);
            if (winding > 1)
                winding = 2 - winding;
        }
        return std::min(255u, std::uint32_t(std::min(winding, 1.f) * 256));
    };
    // Written where a painter open on the image writes: the pixels it had when the painter began.
    uchar* const bits = const_cast<uchar*>(image.constBits());
    const qsizetype stride = image.bytesPerLine();
    const int width = area.width();
    const bool add = blend == FillBlend::Add;
    const bool opaque = !add && paint.kind == RasterPaint::Kind::Solid && qAlpha(paint.color) == 255;
    auto put = [add](QRgb& pixel, QRgb color, std::uint32_t coverage) {
        if (add)
            AddRun(&pixel, 1, coverage < 255 ? Scale(color, coverage) : color);
        else
            Blend(pixel, color, coverage);
    };
    for (int row = 0; row < area.height(); ++row) {
        const int y = area.top() + row;
        QRgb* const pixels = reinterpret_cast<QRgb*>(bits + qsizetype(y - window.top()) * stride) +
                             (area.left() - window.left());
        const double centreY = y + 0.5;
        // Pixels from..to (exclusive) all covered by `coverage`.
        auto paintRun = [&](int from, int to, std::uint32_t coverage) {
            if (coverage == 0 || from >= to)
                return;
            if (paint.kind == RasterPaint::Kind::Solid) {
                if (coverage == 255 && opaque) {
                    std::fill(pixels + from, pixels + to, paint.color);
                    return;
                }
                const QRgb color = coverage == 255 ? paint.color : Scale(paint.color, coverage);
                if (add)
                    AddRun(pixels + from, to - from, color);
                else if (qAlpha(color) != 0)
                    BlendRun(pixels + from, to - from, color, 255 - qAlpha(color));
                return;
            }
            const double firstX = area.left() + from + 0.5;
            // Opaque colours seen whole cover what is there: they go straight into the pixels.
            const bool covers = coverage == 255 && !add && paint.opaque;
            QRgb chunk[SpanChunk];
            if (paint.kind == RasterPaint::Kind::Linear) {
                double t = tx * firstX + ty * centreY + t0;
                for (int x = from; x < to; x += SpanChunk) {
                    const int n = std::min(SpanChunk, to - x);
                    QRgb* const colors = covers ? pixels + x : chunk;
                    LinearColors(colors, n, t, tx, paint);
                    if (!covers)
                        BlendColors(pixels + x, colors, n, coverage, add);
                }
                return;
            }
            double gx = toGradient.m11() * firstX + toGradient.m21() * centreY + toGradient.dx() - focalX;
            double gy = toGradient.m12() * firstX + toGradient.m22() * centreY + toGradient.dy() - focalY;
            const RadialSteps steps{toGradient.m11(), toGradient.m12(), ex, ey, a};
            for (int x = from; x < to; x += SpanChunk) {
                const int n = std::min(SpanChunk, to - x);
                QRgb* const colors = covers ? pixels + x : chunk;
                RadialColors(colors, n, gx, gy, steps, paint);
                if (!covers)
                    BlendColors(pixels + x, colors, n, coverage, add);
            }
        };
        auto paintPixel = [&](int x, std::uint32_t coverage) {
            QRgb color = paint.color;
            if (paint.kind != RasterPaint::Kind::Solid) {
                const double centreX = area.left() + x + 0.5;
                double t;
                if (paint.kind == RasterPaint::Kind::Linear) {
                    t = tx * centreX + ty * centreY + t0;
                } else {
                    const double gx =
                        toGradient.m11() * centreX + toGradient.m21() * centreY + toGradient.dx() - focalX;
                    const double gy =
                        toGradient.m12() * centreX + toGradient.m22() * centreY + toGradient.dy() - focalY;
                    const double b = gx * ex + gy * ey;
                    t = (std::sqrt(b * b + a * (gx * gx + gy * gy)) - b) / a;
                }
                color = paint.colorTable[std::size_t(TableIndex(t, paint.spread))];
            }
            put(pixels[x], color, coverage);
        };
        float* const cells = &s.cells[std::size_t(row) * accumulator.stride];
        std::uint64_t* const marks = &s.marks[std::size_t(row) * accumulator.words];
        if (edges == Edges::Sampled) {
            // Sampled windings are whole numbers: a pixel is in or out, and the pixels from one changed cell
            // up to the next are one run.
            int whole = 0, from = 0;
            for (std::size_t word = 0; word < accumulator.words; ++word) {
                for (std::uint64_t bitsLeft = marks[word]; bitsLeft != 0; bitsLeft &= bitsLeft - 1) {
                    const int x = int(word * 64) + std::countr_zero(bitsLeft); // at most width
                    if (x > from && (oddEven ? (whole & 1) != 0 : whole != 0))
                        paintRun(from, x, 255);
                    whole += int(cells[x]);
                    cells[x] = 0;
                    from = x;
                }
                marks[word] = 0;
            }
            continue;
        }
        float winding = 0;
        int next = 0; // the first pixel not painted yet
        for (std::size_t word = 0; word < accumulator.words; ++word) {
            for (std::uint64_t bitsLeft = marks[word]; bitsLeft != 0; bitsLeft &= bitsLeft - 1) {
                const int x = int(word * 64) + std::countr_zero(bitsLeft);
                // Up to a changed cell the winding holds; the cell itself takes its change.
                if (x > next && winding != 0)
                    paintRun(next, std::min(x, width), coverageOf(winding));
                winding += cells[x];
                cells[x] = 0;
                if (x < width) {
                    const std::uint32_t coverage = coverageOf(winding);
                    if (coverage != 0)
                        paintPixel(x, coverage);
                }
                next = x + 1;
            }
            marks[word] = 0;
        }
    }
}

void BlendLayer(QImage& image, const QImage& layer, QPoint at) {
    const QRect area = QRect(at, layer.size()) & image.rect();
    if (area.isEmpty() || image.format() != QImage::Format_ARGB32_Premultiplied ||
        layer.format() != QImage::Format_ARGB32_Premultiplied)
        return;
    uchar* const bits = const_cast<uchar*>(image.constBits()); // as FillPath writes, under an open painter
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* to = reinterpret_cast<QRgb*>(bits + qsizetype(y) * image.bytesPerLine()) + area.left();
        const auto* from =
            reinterpret_cast<const QRgb*>(layer.constScanLine(y - at.y())) + (area.left() - at.x());
        for (int x = 0; x < area.width(); ++x)
            if (const QRgb color = from[x]; qAlpha(color) == 255)
                to[x] = color;
            else if (color != 0)
                to[x] = color + Scale(to[x], 255 - qAlpha(color));
    }
}

} // namespace flash
