// Drawing shapes, morph shapes, bitmaps and display lists: chosen pixels of small scenes built from
// model values, decoding of every bitmap format, and a few real movies against Flash Player's
// images.
#include "flash/render/Renderer.h"
#include "flash/player/Player.h"
#include "flash/render/Bitmaps.h"
#include "flash/render/Rasterizer.h"
#include "flash/render/ShapeRenderer.h"
#include "flash/swf/SwfReader.h"

#include "PixelCheck.h"
#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QThreadPool>
#include <cmath>
#include <gtest/gtest.h>

using namespace flash;

namespace {

constexpr double Twips = 20;
const QColor White(255, 255, 255);
const QColor Red(255, 0, 0);
const QColor Green(0, 255, 0);
const QColor Blue(0, 0, 255);
const QColor Black(0, 0, 0);

::testing::AssertionResult Near(const QImage& image, int x, int y, QColor expected, int tolerance = 3) {
    return PixelNear(image, x, y, expected, tolerance, true);
}

// The largest difference of any channel of any pixel; images of different sizes differ by 256.
int MaxDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return 256;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    return worst;
}

// Pixels of a and b further apart than `tolerance` on some channel.
int DifferingPixels(const QImage& a, const QImage& b, int tolerance) {
    if (a.size() != b.size())
        return a.width() * a.height();
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            count += std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                               std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))}) > tolerance;
        }
    return count;
}

Rgba ToRgba(QColor c) {
    return Rgba{std::uint8_t(c.red()), std::uint8_t(c.green()), std::uint8_t(c.blue()),
                std::uint8_t(c.alpha())};
}

// Geometry below is in pixels and becomes twips here.
ShapeEdge Edge(QPointF from, QPointF to, int fill0, int fill1, int line = -1) {
    ShapeEdge e;
    e.fromX = from.x() * Twips;
    e.fromY = from.y() * Twips;
    e.toX = to.x() * Twips;
    e.toY = to.y() * Twips;
    e.fill0 = fill0;
    e.fill1 = fill1;
    e.line = line;
    return e;
}

// Clockwise on screen, so the inside is on the right of each edge (fill1); fill0 gets the outside.
void AddRect(std::vector<ShapeEdge>& edges, QRectF r, int fill0, int fill1, int line = -1) {
    const QPointF corners[] = {r.topLeft(), r.topRight(), r.bottomRight(), r.bottomLeft()};
    for (int i = 0; i < 4; ++i)
        edges.push_back(Edge(corners[i], corners[(i + 1) % 4], fill0, fill1, line));
}

FillStyle Solid(QColor color) {
    FillStyle style;
    style.color = ToRgba(color);
    return style;
}

Shape RectShape(QRectF r, const FillStyle& fill) {
    Shape shape;
    shape.fillStyles.push_back(fill);
    AddRect(shape.edges, r, -1, 0);
    return shape;
}

LineStyle Line(double widthPixels, QColor color = Black) {
    LineStyle style;
    style.width = std::uint16_t(std::lround(widthPixels * Twips));
    style.color = ToRgba(color);
    return style;
}

const QTransform PixelScale = QTransform::fromScale(1 / Twips, 1 / Twips);

QImage Canvas(QSize size = {100, 100}) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(White);
    return image;
}

QImage Draw(const Shape& shape, const ColorTransform& cx = {}, const ShapeDrawOptions& options = {},
            const QTransform& toDevice = PixelScale) {
    QImage image = Canvas();
    QPainter painter(&image);
    DrawShape(painter, shape, toDevice, cx, options);
    return image;
}

// Maps the gradient square onto the pixel span [from, to] horizontally, centred on y = 50.
Matrix GradientAcross(double from, double to) {
    const double scale = (to - from) * Twips / 32768;
    return Matrix{scale, 0, 0, scale, (from + to) / 2 * Twips, 50 * Twips};
}

FillStyle GradientFill(FillStyle::Type type, Matrix matrix, QColor first, QColor last,
                       Gradient::Spread spread = Gradient::Spread::Pad) {
    FillStyle style;
    style.type = type;
    style.gradient.matrix = matrix;
    style.gradient.spread = spread;
    style.gradient.records = {{0, ToRgba(first)}, {255, ToRgba(last)}};
    return style;
}

QColor Grey(int level) {
    return QColor(level, level, level);
}

// Red, green / blue, yellow.
QImage FourPixels() {
    QImage image(2, 2, QImage::Format_ARGB32_Premultiplied);
    image.setPixelColor(0, 0, Red);
    image.setPixelColor(1, 0, Green);
    image.setPixelColor(0, 1, Blue);
    image.setPixelColor(1, 1, QColor(255, 255, 0));
    return image;
}

ShapeDrawOptions WithBitmap(const QImage& image, std::uint16_t id = 7) {
    ShapeDrawOptions options;
    options.bitmaps = [image, id](std::uint16_t wanted) { return wanted == id ? image : QImage(); };
    return options;
}

FillStyle BitmapFill(FillStyle::Type type, double pixelsPerBitmapPixel, std::uint16_t id = 7) {
    FillStyle style;
    style.type = type;
    style.bitmapId = id;
    const double scale = pixelsPerBitmapPixel * Twips;
    style.bitmapMatrix = Matrix{scale, 0, 0, scale, 0, 0};
    return style;
}

QByteArray Zlib(const QByteArray& raw) {
    return qCompress(raw).mid(4); // qCompress puts the length in front of a zlib stream
}

QByteArray Encode(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

QImage SolidImage(QColor color, int size = 16) {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

} // namespace

// --- Fill areas ---

TEST(ShapeFills, AreaIsTheSameFromEitherSideOfTheEdges) {
    Shape right = RectShape(QRectF(20, 20, 60, 60), Solid(Red));
    Shape left;
    left.fillStyles.push_back(Solid(Red));
    // Counter-clockwise with the fill on the left, records shuffled, as files often have them.
    std::vector<ShapeEdge> edges;
    AddRect(edges, QRectF(20, 20, 60, 60), 0, -1);
    for (ShapeEdge& e : edges) {
        std::swap(e.fromX, e.toX);
        std::swap(e.fromY, e.toY);
        std::swap(e.fill0, e.fill1);
    }
    left.edges = {edges[2], edges[0], edges[3], edges[1]};
    for (const Shape* shape : {&right, &left}) {
        const QImage image = Draw(*shape);
        EXPECT_TRUE(Near(image, 50, 50, Red));
        EXPECT_TRUE(Near(image, 21, 21, Red));
        EXPECT_TRUE(Near(image, 10, 50, White));
        EXPECT_TRUE(Near(image, 85, 85, White));
    }
}

TEST(ShapeFills, HoleAndOverlapsFollowOddEven) {
    Shape holed;
    holed.fillStyles.push_back(Solid(Red));
    AddRect(holed.edges, QRectF(10, 10, 80, 80), -1, 0);
    AddRect(holed.edges, QRectF(30, 30, 40, 40), 0, -1); // fill outside the inner square: a hole
    QImage image = Draw(holed);
    EXPECT_TRUE(Near(image, 20, 50, Red));
    EXPECT_TRUE(Near(image, 50, 50, White));

    // Two contours of one fill crossing each other leave their overlap empty, as in Flash.
    Shape overlapping;
    overlapping.fillStyles.push_back(Solid(Blue));
    AddRect(overlapping.edges, QRectF(10, 10, 50, 50), -1, 0);
    AddRect(overlapping.edges, QRectF(40, 40, 50, 50), -1, 0);
    image = Draw(overlapping);
    EXPECT_TRUE(Near(image, 20, 20, Blue));
    EXPECT_TRUE(Near(image, 80, 80, Blue));
    EXPECT_TRUE(Near(image, 50, 50, White));
}

TEST(ShapeFills, NeighbouringFillsShareTheirEdgeWithoutGapAndCurvesBend) {
    Shape shape;
    shape.fillStyles = {Solid(Red), Solid(Blue)};
    // Left half red, right half blue. Going down the middle edge, the right side is the west (red).
    shape.edges = {Edge({10, 10}, {50, 10}, -1, 0), Edge({50, 10}, {50, 90}, 1, 0),
                   Edge({50, 90}, {10, 90}, -1, 0), Edge({10, 90}, {10, 10}, -1, 0),
                   Edge({50, 10}, {90, 10}, -1, 1), Edge({90, 10}, {90, 90}, -1, 1),
                   Edge({90, 90}, {50, 90}, -1, 1)};
    // The blue area's bottom bulges down to y = 98 through a curve.
    shape.edges.back().curved = true;
    shape.edges.back().controlX = 70 * Twips;
    shape.edges.back().controlY = 106 * Twips;
    const QImage image = Draw(shape);
    EXPECT_TRUE(Near(image, 30, 50, Red));
    EXPECT_TRUE(Near(image, 70, 50, Blue));
    // Antialiased edges of both sides add up to an opaque pixel: no white shows through.
    const QColor seam = image.pixelColor(49, 50);
    EXPECT_LT(seam.green(), 5);
    EXPECT_TRUE(Near(image, 70, 95, Blue));
    EXPECT_TRUE(Near(image, 30, 95, White));
}

TEST(ShapeFills, FillsMeetingInsideAPixelLeaveNoSeam) {
    // Two black fills meet along x = 50.5 and along a diagonal; pixels they share are black, not grey
    // as two antialiased halves drawn one over the other would leave them.
    struct Case {
        const char* name;
        QPointF top, bottom; // of the shared edge
        QPoint seam;         // a pixel both fills cover part of
    } cases[] = {{"upright", {50.5, 10}, {50.5, 90}, {50, 50}},
                 {"diagonal", {30.5, 10}, {70.5, 90}, {50, 50}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Shape shape;
        shape.fillStyles = {Solid(Black), Solid(Black)};
        shape.edges = {Edge({10, 10}, c.top, -1, 0),    Edge(c.top, c.bottom, 1, 0),
                       Edge(c.bottom, {10, 90}, -1, 0), Edge({10, 90}, {10, 10}, -1, 0),
                       Edge(c.top, {90, 10}, -1, 1),    Edge({90, 10}, {90, 90}, -1, 1),
                       Edge({90, 90}, c.bottom, -1, 1)};
        const QImage image = Draw(shape);
        EXPECT_TRUE(Near(image, c.seam.x(), c.seam.y(), Black, 2));
        EXPECT_TRUE(Near(image, 5, 50, White, 2));
    }
}

// --- Gradients ---

TEST(ShapeFills, LinearGradientRunsAcrossTheGradientSquare) {
    const Shape shape = RectShape(QRectF(0, 0, 100, 100), GradientFill(FillStyle::Type::LinearGradient,
                                                                       GradientAcross(0, 100), Red, Blue));
    const QImage image = Draw(shape);
    EXPECT_TRUE(Near(image, 0, 50, Red, 6));
    EXPECT_TRUE(Near(image, 99, 50, Blue, 6));
    EXPECT_TRUE(Near(image, 49, 10, QColor(128, 0, 127), 6));

    // Colours mix unpremultiplied: half way to a transparent red is a half-transparent purple.
    const Shape fading =
        RectShape(QRectF(0, 0, 100, 100), GradientFill(FillStyle::Type::LinearGradient,
                                                       GradientAcross(0, 100), Blue, QColor(255, 0, 0, 0)));
    EXPECT_TRUE(Near(Draw(fading), 49, 10, QColor(191, 127, 192), 6));
}

TEST(ShapeFills, GradientSpreadModesBeyondTheSquare) {
    // Black to white over x = 40..60; x = 65.5 lies at 1.275 and x = 34.5 at -0.275 of the gradient.
    struct Case {
        Gradient::Spread spread;
        int before, after;
    } cases[] = {{Gradient::Spread::Pad, 0, 255},
                 {Gradient::Spread::Reflect, 70, 185},
                 {Gradient::Spread::Repeat, 185, 70}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.spread));
        const Shape shape =
            RectShape(QRectF(0, 0, 100, 100), GradientFill(FillStyle::Type::LinearGradient,
                                                           GradientAcross(40, 60), Black, White, c.spread));
        const QImage image = Draw(shape);
        EXPECT_TRUE(Near(image, 34, 50, Grey(c.before), 5));
        EXPECT_TRUE(Near(image, 65, 50, Grey(c.after), 5));
    }
}

TEST(ShapeFills, RadialAndFocalGradients) {
    FillStyle radial = GradientFill(FillStyle::Type::RadialGradient, GradientAcross(0, 100), Red, Blue);
    QImage image = Draw(RectShape(QRectF(0, 0, 100, 100), radial));
    EXPECT_TRUE(Near(image, 49, 49, Red, 8));
    EXPECT_TRUE(Near(image, 74, 49, QColor(130, 0, 125), 8)); // half the radius out
    EXPECT_TRUE(Near(image, 2, 2, Blue, 4));                  // past the circle: padded

    // The focal point sits at half the radius to the right: the first colour is there, and the
    // left side, farther from it, has gone 65% of the way.
    FillStyle focal = radial;
    focal.type = FillStyle::Type::FocalRadialGradient;
    focal.gradient.focalPoint = 0.5;
    image = Draw(RectShape(QRectF(0, 0, 100, 100), focal));
    EXPECT_TRUE(Near(image, 74, 49, Red, 10));
    EXPECT_TRUE(Near(image, 26, 49, QColor(90, 0, 165), 10));
}

TEST(ShapeFills, GradientRecordsOfEqualRatiosTakeOneEntryEach) {
    // Ten pixels per ratio: red up to ratio 5, green at 6 alone, then blue (the run's last record)
    // mixes to black at ratio 15 from ratio 5, as written.
    FillStyle style = GradientFill(FillStyle::Type::LinearGradient, GradientAcross(0, 2560), Red, Blue);
    style.gradient.records = {
        {0, ToRgba(Red)}, {5, ToRgba(Red)}, {5, ToRgba(Green)}, {5, ToRgba(Blue)}, {15, ToRgba(Black)}};
    const QImage image = Draw(RectShape(QRectF(0, 0, 100, 100), style));
    EXPECT_TRUE(Near(image, 45, 50, Red, 4));
    EXPECT_TRUE(Near(image, 65, 50, Green, 4)); // a step one ratio wide
    EXPECT_TRUE(Near(image, 75, 50, QColor(0, 0, 204), 4));
    EXPECT_TRUE(Near(image, 95, 50, QColor(0, 0, 153), 4));

    // Records pushed past the last ratio are dropped: the padding beyond is green.
    style.gradient.matrix = GradientAcross(40, 60);
    style.gradient.records = {{0, ToRgba(Red)}, {255, ToRgba(Green)}, {255, ToRgba(Blue)}};
    EXPECT_TRUE(Near(Draw(RectShape(QRectF(0, 0, 100, 100), style)), 80, 50, Green, 4));
}

TEST(ShapeFills, LinearRgbGradientsMixInLight) {
    // Half way from black to white is 0.5 ^ (1 / 2.2) = 186, not 128; with or without a run.
    for (bool run : {false, true}) {
        SCOPED_TRACE(run);
        FillStyle style = GradientFill(FillStyle::Type::LinearGradient, GradientAcross(0, 100), Black, White);
        style.gradient.interpolation = Gradient::Interpolation::LinearRgb;
        if (run)
            style.gradient.records.insert(style.gradient.records.begin(), {0, ToRgba(Red)});
        const QImage image = Draw(RectShape(QRectF(0, 0, 100, 100), style));
        EXPECT_TRUE(Near(image, 50, 50, Grey(186), 5));
        EXPECT_TRUE(Near(image, 97, 50, White, 5));
    }
}

// --- Bitmap fills ---

TEST(ShapeFills, BitmapFillsRepeatOrExtendTheirEdges) {
    // Each bitmap pixel covers 10x10 device pixels; the shape is twice the bitmap's size.
    const QImage bitmap = FourPixels();
    struct Case {
        FillStyle::Type type;
        QColor at25_5, at35_35;
    } cases[] = {
        {FillStyle::Type::NonSmoothedClippedBitmap, Green, QColor(255, 255, 0)},
        {FillStyle::Type::NonSmoothedRepeatingBitmap, Red, QColor(255, 255, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.type));
        const QImage image =
            Draw(RectShape(QRectF(0, 0, 40, 40), BitmapFill(c.type, 10)), {}, WithBitmap(bitmap));
        EXPECT_TRUE(Near(image, 5, 5, Red));
        EXPECT_TRUE(Near(image, 15, 5, Green));
        EXPECT_TRUE(Near(image, 5, 15, Blue));
        EXPECT_TRUE(Near(image, 25, 5, c.at25_5));
        EXPECT_TRUE(Near(image, 35, 35, c.at35_35));
        EXPECT_TRUE(Near(image, 45, 45, White));
        // Without smoothing the pixel next to a bitmap pixel boundary is not blended.
        EXPECT_TRUE(Near(image, 10, 5, Green));
    }
}

TEST(ShapeFills, SmoothedBitmapFillsBlendAndClippedOnesClampAtTheEdge) {
    const QImage bitmap = FourPixels();
    for (auto type : {FillStyle::Type::ClippedBitmap, FillStyle::Type::RepeatingBitmap}) {
        SCOPED_TRACE(int(type));
        const QImage image =
            Draw(RectShape(QRectF(0, 0, 40, 40), BitmapFill(type, 10)), {}, WithBitmap(bitmap));
        const QColor between = image.pixelColor(10, 5); // half way from red to green
        EXPECT_GT(between.red(), 60);
        EXPECT_GT(between.green(), 60);
        // Near the right edge of the bitmap a clipped fill stays green; a repeating one mixes in
        // the red of the next copy.
        const QColor edge = image.pixelColor(19, 2);
        if (type == FillStyle::Type::ClippedBitmap)
            EXPECT_TRUE(Near(image, 19, 2, Green, 4));
        else
            EXPECT_GT(edge.red(), 60);
    }
}

TEST(ShapeFills, SmoothedBitmapFillsDrawnSmallAverageTheirPixels) {
    // Black and white stripes one bitmap pixel wide, drawn at a quarter and at a ninth of their size:
    // smoothed, every pixel shows their mean grey; unsmoothed, each pixel takes one stripe.
    QImage stripes(64, 64, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < stripes.height(); ++y)
        for (int x = 0; x < stripes.width(); ++x)
            stripes.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    for (const double size : {0.25, 1.0 / 9})
        for (auto type : {FillStyle::Type::RepeatingBitmap, FillStyle::Type::NonSmoothedRepeatingBitmap}) {
            SCOPED_TRACE(testing::Message() << "size " << size << ", type " << int(type));
            const QImage image =
                Draw(RectShape(QRectF(0, 0, 16, 16), BitmapFill(type, size)), {}, WithBitmap(stripes));
            for (int x = 2; x < 14; ++x) {
                const int level = qRed(image.pixel(x, 8));
                if (type == FillStyle::Type::RepeatingBitmap)
                    EXPECT_NEAR(level, 128, 24) << x;
                else
                    EXPECT_TRUE(level == 0 || level == 255) << x << ": " << level;
            }
        }
}

TEST(ShapeFills, BitmapMatrixScaleOfTwentyIsOnePixelPerPixel) {
    const QImage image =
        Draw(RectShape(QRectF(0, 0, 2, 2), BitmapFill(FillStyle::Type::NonSmoothedClippedBitmap, 1)), {},
             WithBitmap(FourPixels()));
    EXPECT_TRUE(Near(image, 0, 0, Red));
    EXPECT_TRUE(Near(image, 1, 0, Green));
    EXPECT_TRUE(Near(image, 0, 1, Blue));
    EXPECT_TRUE(Near(image, 2, 0, White));
}

TEST(ShapeFills, MissingBitmapDrawsNothing) {
    const QImage image =
        Draw(RectShape(QRectF(0, 0, 40, 40), BitmapFill(FillStyle::Type::ClippedBitmap, 10, 99)), {},
             WithBitmap(FourPixels()));
    EXPECT_TRUE(Near(image, 5, 5, White));
}

// --- Colour transforms ---

TEST(ShapeFills, ColourTransformAppliesToEveryKindOfFill) {
    ColorTransform halfRedPlusGreen;
    halfRedPlusGreen.rMul = 0.5;
    halfRedPlusGreen.gAdd = 100;
    ColorTransform halfAlpha;
    halfAlpha.aMul = 0.5;
    struct Case {
        const char* name;
        FillStyle fill;
        ColorTransform cx;
        QColor expected;
    } cases[] = {
        {"solid", Solid(Red), halfRedPlusGreen, QColor(128, 100, 0)},
        {"solid alpha", Solid(Red), halfAlpha, QColor(255, 128, 128)},
        {"gradient", GradientFill(FillStyle::Type::LinearGradient, GradientAcross(0, 100), Red, Red),
         halfRedPlusGreen, QColor(128, 100, 0)},
        {"bitmap", BitmapFill(FillStyle::Type::NonSmoothedClippedBitmap, 100), halfRedPlusGreen,
         QColor(128, 100, 0)},
        {"bitmap alpha", BitmapFill(FillStyle::Type::NonSmoothedClippedBitmap, 100), halfAlpha,
         QColor(255, 128, 128)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = Draw(RectShape(QRectF(0, 0, 100, 100), c.fill), c.cx, WithBitmap(FourPixels()));
        EXPECT_TRUE(Near(image, 30, 30, c.expected, 4));
    }
}

// --- Lines ---

TEST(ShapeLines, WidthAndCaps) {
    // A 10 pixel line from (20, 50) to (80, 50). Pixel (16, 50) is inside any cap but a flat one;
    // (16, 45) is inside a square cap's corner but outside a round one.
    struct Case {
        LineStyle::Cap cap;
        QColor at16_50, at16_45;
    } cases[] = {{LineStyle::Cap::Round, Black, White},
                 {LineStyle::Cap::None, White, White},
                 {LineStyle::Cap::Square, Black, Black}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.cap));
        Shape shape;
        shape.lineStyles.push_back(Line(10));
        shape.lineStyles[0].startCap = shape.lineStyles[0].endCap = c.cap;
        shape.edges.push_back(Edge({20, 50}, {80, 50}, -1, -1, 0));
        const QImage image = Draw(shape);
        EXPECT_TRUE(Near(image, 50, 46, Black));
        EXPECT_TRUE(Near(image, 50, 53, Black));
        EXPECT_TRUE(Near(image, 50, 42, White));
        EXPECT_TRUE(Near(image, 16, 50, c.at16_50));
        EXPECT_TRUE(Near(image, 16, 45, c.at16_45));
    }
}

TEST(ShapeLines, ThinLinesStayOnePixelWide) {
    for (double width : {0.0, 0.25}) {
        SCOPED_TRACE(width);
        Shape shape;
        shape.lineStyles.push_back(Line(width));
        shape.edges.push_back(Edge({10, 20.5}, {90, 20.5}, -1, -1, 0));
        const QImage image = Draw(shape);
        EXPECT_TRUE(Near(image, 50, 20, Black, 10));
        EXPECT_TRUE(Near(image, 50, 22, White));
    }
}

TEST(ShapeLines, WidthScalesWithTheObjectUnlessTheStyleKeepsIt) {
    // A 10 pixel horizontal line. Drawn at twice the stage scale it becomes 20 pixels thick, or stays
    // 10 without scaling. Stretched 4 times along x only, a line that keeps its width is thinned by
    // the smaller scale (y, 1): it stays 10 thick, as in Flash Player.
    struct Case {
        double scaleX, scaleY;
        bool keep;
        bool thickAt41;
    } cases[] = {{2, 2, false, true}, {2, 2, true, false}, {4, 2, true, false}, {4, 1, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.scaleX << "x" << c.scaleY << " keep " << c.keep);
        Shape shape;
        shape.lineStyles.push_back(Line(10));
        shape.lineStyles[0].noHScale = shape.lineStyles[0].noVScale = c.keep;
        const double y = 50 / c.scaleY;
        shape.edges.push_back(Edge({20 / c.scaleX, y}, {80 / c.scaleX, y}, -1, -1, 0));
        ShapeDrawOptions options;
        options.stageScale = 1 / Twips;
        const QImage image =
            Draw(shape, {}, options, QTransform::fromScale(c.scaleX / Twips, c.scaleY / Twips));
        EXPECT_TRUE(Near(image, 50, 46, Black));
        EXPECT_TRUE(Near(image, 50, 41, c.thickAt41 ? Black : White));
    }
}

TEST(ShapeLines, SkewedLinesAreStretchedWithTheirObject) {
    // A 2 pixel line through a skewing matrix: across the drawn line it is about one pixel thick,
    // not the 4 pixels of a pen sized by the matrix's scale in device pixels.
    Shape shape;
    shape.lineStyles.push_back(Line(2));
    shape.edges.push_back(Edge({-10, 0}, {10, 0}, -1, -1, 0));
    const QTransform skew = QTransform(2, 0.25, -2, 0.25, 50 * Twips, 50 * Twips) * PixelScale;
    const QImage image = Draw(shape, {}, {}, skew);
    EXPECT_LT(image.pixelColor(50, 50).red(), 160);
    EXPECT_TRUE(Near(image, 50, 52, White, 10));
    EXPECT_TRUE(Near(image, 50, 47, White, 10));
}

TEST(ShapeLines, ClosedOutlineJoinsUnlessNoClose) {
    for (bool noClose : {false, true}) {
        SCOPED_TRACE(noClose);
        Shape shape;
        shape.lineStyles.push_back(Line(10));
        shape.lineStyles[0].startCap = shape.lineStyles[0].endCap = LineStyle::Cap::None;
        shape.lineStyles[0].join = LineStyle::Join::Miter;
        shape.lineStyles[0].noClose = noClose;
        AddRect(shape.edges, QRectF(20, 20, 60, 60), -1, -1, 0);
        const QImage image = Draw(shape);
        EXPECT_TRUE(Near(image, 84, 84, Black)); // a joined corner
        EXPECT_TRUE(Near(image, 16, 16, noClose ? White : Black));
    }
}

TEST(ShapeLines, LinesOverTheirFillsAndLaterStyleArraysOverBoth) {
    Shape shape;
    shape.fillStyles = {Solid(Red), Solid(Blue)};
    shape.lineStyles = {Line(20), Line(4, Green)};
    AddRect(shape.edges, QRectF(0, 0, 100, 100), -1, 0);
    shape.edges.push_back(Edge({0, 50}, {100, 50}, -1, -1, 0));
    // The second style array: a blue band with a green outline over the first array's line.
    AddRect(shape.edges, QRectF(40, 0, 20, 100), -1, 1, 1);
    shape.newStyleArrays.push_back({1, 1});
    QImage image = Draw(shape);
    EXPECT_TRUE(Near(image, 20, 20, Red));
    EXPECT_TRUE(Near(image, 20, 50, Black));
    EXPECT_TRUE(Near(image, 50, 50, Blue));
    EXPECT_TRUE(Near(image, 40, 50, Green));

    // As one style array the first line lies over every fill.
    shape.newStyleArrays.clear();
    image = Draw(shape);
    EXPECT_TRUE(Near(image, 50, 50, Black));
}

TEST(ShapeLines, GradientLineFollowsTheShape) {
    Shape shape;
    LineStyle line = Line(10);
    line.fill = GradientFill(FillStyle::Type::LinearGradient, GradientAcross(0, 100), Red, Blue);
    shape.lineStyles.push_back(line);
    shape.edges.push_back(Edge({0, 50}, {100, 50}, -1, -1, 0));
    const QImage image = Draw(shape);
    EXPECT_TRUE(Near(image, 2, 50, Red, 12));
    EXPECT_TRUE(Near(image, 97, 50, Blue, 12));
}

// --- Morph shapes ---

TEST(MorphShapes, EdgesAndColoursMoveWithTheRatio) {
    MorphShape morph;
    morph.startFillStyles = {Solid(Red)};
    morph.endFillStyles = {Solid(Blue)};
    AddRect(morph.startEdges, QRectF(0, 30, 40, 40), -1, 0);
    AddRect(morph.endEdges, QRectF(60, 30, 40, 40), -1, 0);
    morph.startLineStyles = {Line(2)};
    morph.endLineStyles = {Line(10)};
    struct Case {
        std::uint16_t ratio;
        int insideX, outsideX;
        QColor color;
        double lineWidth;
    } cases[] = {{0, 20, 60, Red, 2}, {32768, 50, 20, QColor(127, 0, 128), 6}, {65535, 80, 40, Blue, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ratio);
        const Shape shape = InterpolateMorph(morph, c.ratio);
        EXPECT_NEAR(shape.lineStyles[0].width / Twips, c.lineWidth, 0.1);
        const QImage image = Draw(shape);
        EXPECT_TRUE(Near(image, c.insideX, 50, c.color, 2));
        EXPECT_TRUE(Near(image, c.outsideX, 50, White));
    }
}

TEST(MorphShapes, StraightEdgeFacingACurveBends) {
    MorphShape morph;
    morph.startFillStyles = morph.endFillStyles = {Solid(Red)};
    AddRect(morph.startEdges, QRectF(20, 20, 60, 60), -1, 0);
    morph.endEdges = morph.startEdges;
    // The top edge bulges up to y = 0 at the end (control point at y = -20).
    morph.endEdges[0].curved = true;
    morph.endEdges[0].controlX = 50 * Twips;
    morph.endEdges[0].controlY = -20 * Twips;
    EXPECT_TRUE(Near(Draw(InterpolateMorph(morph, 0)), 50, 10, White));
    EXPECT_TRUE(Near(Draw(InterpolateMorph(morph, 65535)), 50, 10, Red));
    EXPECT_TRUE(Near(Draw(InterpolateMorph(morph, 32768)), 50, 12, Red));
}

// --- Bitmaps ---

TEST(Bitmaps, LosslessFormats) {
    struct Case {
        const char* name;
        std::uint8_t format;
        bool alpha;
        std::uint16_t tableSize;
        QByteArray raw; // before compression
        QColor first, last;
    } cases[] = {
        // 3x2 indices, rows padded to 4 bytes, two RGB entries.
        {"colour-mapped", 3, false, 1,
         QByteArray("\xff\0\0"
                    "\0\0\xff"
                    "\0\1\0\0"
                    "\1\1\1\0",
                    14),
         Red, Blue},
        {"colour-mapped RGBA", 3, true, 1,
         QByteArray("\xff\0\0\x80"
                    "\0\0\xff\xff"
                    "\0\1\0\0"
                    "\1\1\1\0",
                    16),
         QColor(255, 0, 0, 128), Blue},
        // 3x2 of 15-bit big-endian pixels, rows of 6 bytes padded to 8.
        {"15-bit", 4, false, 0,
         QByteArray("\x7c\0\x03\xe0\0\x1f\0\0"
                    "\0\x1f\0\x1f\0\x1f\0\0",
                    16),
         Red, Blue},
        {"32-bit", 5, false, 0,
         QByteArray("\0\xff\0\0"
                    "\0\0\xff\0"
                    "\0\0\0\xff"
                    "\0\0\0\xff"
                    "\0\0\0\xff"
                    "\0\0\0\xff",
                    24),
         Red, Blue},
        // Premultiplied ARGB: half-transparent red is stored as 128, 128, 0, 0.
        {"32-bit ARGB", 5, true, 0,
         QByteArray("\x80\x80\0\0"
                    "\0\0\0\0"
                    "\0\0\0\0"
                    "\0\0\0\0"
                    "\0\0\0\0"
                    "\xff\0\0\xff",
                    24),
         QColor(255, 0, 0, 128), Blue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bitmap bitmap;
        bitmap.kind = Bitmap::Kind::Lossless;
        bitmap.losslessFormat = c.format;
        bitmap.hasAlpha = c.alpha;
        bitmap.colorTableSize = c.tableSize;
        bitmap.width = 3;
        bitmap.height = 2;
        bitmap.data = Zlib(c.raw);
        const QImage image = DecodeBitmap(bitmap, {});
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_EQ(image.size(), QSize(3, 2));
        EXPECT_TRUE(Near(image, 0, 0, c.first, 2));
        EXPECT_TRUE(Near(image, 2, 1, c.last, 2));
    }
}

TEST(Bitmaps, DamagedOrOversizedGiveANullImage) {
    Bitmap good;
    good.kind = Bitmap::Kind::Lossless;
    good.losslessFormat = 5;
    good.width = good.height = 2;
    good.data = Zlib(QByteArray(16, '\x40'));
    ASSERT_FALSE(DecodeBitmap(good, {}).isNull());

    auto with = [&](auto change) {
        Bitmap b = good;
        change(b);
        return b;
    };
    const Bitmap cases[] = {
        with([](Bitmap& b) { b.data = Zlib(QByteArray(15, '\x40')); }),
        with([](Bitmap& b) { b.data = b.data.left(b.data.size() / 2); }),
        with([](Bitmap& b) { b.data = QByteArray("not zlib at all"); }),
        with([](Bitmap& b) { b.losslessFormat = 7; }),
        with([](Bitmap& b) { b.width = 0; }),
        with([](Bitmap& b) { b.width = MaxBitmapSide + 1; }),
        with([](Bitmap& b) { b.width = b.height = 5000; }), // within each side, over the pixel limit
        with([](Bitmap& b) { b.kind = Bitmap::Kind::Jpeg; }),
        with([](Bitmap& b) {
            b.kind = Bitmap::Kind::Jpeg;
            b.data = QByteArray("\xff\xd8\xff\xdb\x00\x43", 6);
        }),
    };
    for (const Bitmap& bitmap : cases)
        EXPECT_TRUE(DecodeBitmap(bitmap, {}).isNull());
}

namespace {
// Splits a JPEG file into a tables stream (quantisation and Huffman tables) and the image stream
// without them, as DefineBits and JPEGTables store it.
void SplitJpeg(const QByteArray& file, QByteArray& tables, QByteArray& image) {
    tables = QByteArray("\xff\xd8", 2);
    image = QByteArray("\xff\xd8", 2);
    qsizetype pos = 2;
    while (pos + 4 <= file.size()) {
        const auto marker = std::uint8_t(file[pos + 1]);
        const qsizetype length = (qsizetype(std::uint8_t(file[pos + 2])) << 8) | std::uint8_t(file[pos + 3]);
        if (marker == 0xDA) {
            image.append(file.mid(pos));
            break;
        }
        (marker == 0xDB || marker == 0xC4 ? tables : image).append(file.mid(pos, 2 + length));
        pos += 2 + length;
    }
    tables.append("\xff\xd9", 2);
}
} // namespace

TEST(Bitmaps, JpegInEveryWayMoviesStoreIt) {
    const QColor colour(200, 60, 40);
    const QByteArray file = Encode(SolidImage(colour), "JPEG", 95);
    QByteArray tables, imageOnly;
    SplitJpeg(file, tables, imageOnly);

    Bitmap jpeg2;
    jpeg2.data = file;
    Bitmap strayMarkers;
    strayMarkers.data = QByteArray("\xff\xd9\xff\xd8", 4) + file;
    Bitmap defineBits;
    defineBits.data = QByteArray("\xff\xd9\xff\xd8", 4) + imageOnly;
    Bitmap tablesInline; // tables and image in one stream, EOI and SOI between them
    tablesInline.data = tables + imageOnly;
    Bitmap png;
    png.data = Encode(SolidImage(colour), "PNG");
    Bitmap gif; // one red pixel
    gif.data = QByteArray("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                          "\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
                          35);
    struct Case {
        const char* name;
        const Bitmap* bitmap;
        QByteArray movieTables;
        QColor expected;
    } cases[] = {{"JPEG2", &jpeg2, {}, colour},
                 {"stray EOI/SOI", &strayMarkers, {}, colour},
                 {"DefineBits with movie tables", &defineBits, tables, colour},
                 {"tables in the data", &tablesInline, {}, colour},
                 {"PNG", &png, {}, colour},
                 {"GIF", &gif, {}, Red}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = DecodeBitmap(*c.bitmap, c.movieTables);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_TRUE(Near(image, 0, 0, c.expected, 6));
    }
}

TEST(Bitmaps, JpegAlphaPlanePremultiplies) {
    Bitmap jpeg3;
    jpeg3.data = Encode(SolidImage(QColor(200, 60, 40), 4), "JPEG", 95);
    QByteArray alpha(16, '\xff');
    alpha[0] = char(0x80);
    alpha[15] = 0;
    jpeg3.alphaData = Zlib(alpha);
    QImage image = DecodeBitmap(jpeg3, {});
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(Near(image, 0, 0, QColor(200, 60, 40, 128), 6));
    EXPECT_EQ(qAlpha(image.pixel(3, 3)), 0);
    EXPECT_EQ(reinterpret_cast<const QRgb*>(image.constScanLine(3))[3], 0u); // premultiplied to nothing

    jpeg3.alphaData = Zlib(alpha.left(15));
    EXPECT_TRUE(DecodeBitmap(jpeg3, {}).isNull());
}

TEST(Bitmaps, CacheKeepsDecodedImagesWithinItsBudget) {
    auto lossless = [](int side) {
        Bitmap b;
        b.kind = Bitmap::Kind::Lossless;
        b.losslessFormat = 5;
        b.width = b.height = std::uint16_t(side);
        b.data = Zlib(QByteArray(side * side * 4, '\x10'));
        return std::make_shared<const Character>(b);
    };
    const auto small = lossless(4), large = lossless(64);
    BitmapCache cache(64 * 64 * 4 + 10);
    const QImage first = cache.Get(small, {});
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(cache.Get(small, {}).cacheKey(), first.cacheKey());
    EXPECT_TRUE(cache.Get(std::make_shared<const Character>(Sound{}), {}).isNull());
    cache.Get(large, {}); // pushes the small one out
    EXPECT_LE(cache.Bytes(), std::size_t(64 * 64 * 4 + 10));
    EXPECT_NE(cache.Get(small, {}).cacheKey(), first.cacheKey());
}

// --- Filling without Qt ---

// The path with its curves cut into lines by Qt, so that Qt and the rasterizer fill the same edges.
QPainterPath Lines(const QPainterPath& path) {
    QPainterPath lines;
    lines.setFillRule(path.fillRule());
    for (const QPolygonF& polygon : path.toSubpathPolygons())
        lines.addPolygon(polygon);
    return lines;
}

// The renderer fills solid and gradient areas itself; Qt's raster engine is the measure of what the
// pixels should be, down to antialiasing and gradient rounding. (Each cuts curves its own way, so
// these edges are straight.)
TEST(Rasterizer, FillsAsQtFills) {
    QPainterPath star; // five points whose middle is covered twice
    star.moveTo(50, 5);
    for (int i = 1; i <= 5; ++i)
        star.lineTo(50 + 45 * std::sin(i * 4 * M_PI / 5), 50 - 45 * std::cos(i * 4 * M_PI / 5));
    QPainterPath windingStar = star;
    windingStar.setFillRule(Qt::WindingFill);
    QPainterPath oddEvenStar = star;
    oddEvenStar.setFillRule(Qt::OddEvenFill);
    QPainterPath ring; // curves, a hole by odd-even, and a sliver thinner than a pixel
    ring.setFillRule(Qt::OddEvenFill);
    ring.addEllipse(QPointF(40, 45), 38, 30);
    ring.addEllipse(QPointF(45, 50), 20, 12);
    ring.addRect(QRectF(60.3, 2, 0.4, 90));
    ring = Lines(ring);
    QPainterPath beyond; // past every side of the device, and far away
    beyond.moveTo(-30, 40);
    beyond.lineTo(50, -80);
    beyond.lineTo(150, 20);
    beyond.lineTo(1e7, 1e7);
    beyond.lineTo(60, 130);
    beyond.closeSubpath();

    auto gradient = [](QGradient g, QGradient::Spread spread, QTransform transform) {
        g.setColorAt(0, QColor(255, 0, 0, 200));
        g.setColorAt(0.4, QColor(0, 0, 255));
        g.setColorAt(1, QColor(0, 255, 0, 60));
        g.setSpread(spread);
        g.setInterpolationMode(QGradient::ComponentInterpolation);
        QBrush brush(g);
        brush.setTransform(transform);
        return brush;
    };
    const QBrush linearReflect = gradient(QLinearGradient(-10, 0, 10, 0), QGradient::ReflectSpread,
                                          QTransform(1.5, 0.5, -0.5, 1.5, 50, 50));
    const QBrush radialPad = gradient(QRadialGradient(QPointF(0, 0), 30, QPointF(15, 5)),
                                      QGradient::PadSpread, QTransform::fromTranslate(45, 45));
    const QBrush radialRepeat = gradient(QRadialGradient(QPointF(0, 0), 10, QPointF(0, 0)),
                                         QGradient::RepeatSpread, QTransform(1, 0, 0, 2, 40, 40));

    struct Case {
        const char* name;
        QPainterPath path;
        QBrush brush;
        QTransform toDevice;
        QPoint windowAt; // where the image lies on the device
    };
    const Case cases[] = {
        {"odd-even", oddEvenStar, QColor(0, 0, 200, 180), {}, {}},
        {"winding", windingStar, QColor(0, 0, 200), QTransform::fromTranslate(0.3, 0.7), {}},
        {"curves and holes", ring, QColor(30, 160, 90, 230), QTransform(1.1, 0.2, -0.3, 0.9, 8.25, 1.5), {}},
        {"beyond the device", beyond, QColor(200, 100, 0), {}, {}},
        {"linear reflected", ring, linearReflect, {}, {}},
        {"radial with focus", oddEvenStar, radialPad, QTransform::fromScale(1.2, 0.8), {}},
        {"radial repeated", windingStar, radialRepeat, {}, {}},
        {"window elsewhere", ring, radialPad, QTransform::fromTranslate(30, 40), {25, 37}},
    };
    for (const Case& c : cases)
        for (const Edges edges : {Edges::Antialiased, Edges::Sampled}) {
            SCOPED_TRACE(c.name);
            const bool antialiased = edges == Edges::Antialiased;
            QImage qt(90, 95, QImage::Format_ARGB32_Premultiplied);
            qt.fill(QColor(250, 240, 200));
            QImage own = qt;
            {
                QPainter painter(&qt);
                painter.setRenderHint(QPainter::Antialiasing, antialiased);
                painter.setTransform(c.toDevice *
                                     QTransform::fromTranslate(-c.windowAt.x(), -c.windowAt.y()));
                painter.fillPath(c.path, c.brush);
            }
            const std::shared_ptr<const RasterPaint> paint = MakeRasterPaint(c.brush);
            ASSERT_TRUE(paint);
            FillPath(own, QRect(c.windowAt, own.size()), c.path, c.toDevice, *paint, FillBlend::Over, edges);
            if (antialiased)
                EXPECT_LE(MaxDifference(qt, own), 3);
            else // Qt rounds edges to 1/64 pixel (far points coarser): centres on an edge may fall
                 // either way
                EXPECT_LE(DifferingPixels(qt, own, 3), 30);
            EXPECT_NE(own, QImage(qt.size(), qt.format())) << "nothing drawn";
        }
}

TEST(Rasterizer, CurvesCoverTheirExactArea) {
    for (double scale : {0.05, 1.0, 40.0}) { // the curves stay as close at any scale
        QPainterPath circle;
        circle.addEllipse(QPointF(0, 0), 40 / scale, 40 / scale);
        QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        FillPath(image, image.rect(), circle, QTransform(scale, 0, 0, scale, 50, 50),
                 *MakeRasterPaint(QBrush(Qt::black)), FillBlend::Over, Edges::Antialiased);
        double area = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                area += qAlpha(image.pixel(x, y)) / 255.0;
        EXPECT_NEAR(area, M_PI * 40 * 40, 0.004 * M_PI * 40 * 40) << scale; // a tenth of a pixel in all
        EXPECT_EQ(qAlpha(image.pixel(50, 50)), 255);
        EXPECT_EQ(qAlpha(image.pixel(50, 9)), 0);
    }
}

TEST(Rasterizer, AKeptFlatteningFillsAsAFreshOneAtEveryScaleAndAngle) {
    // One FlatPath carried from fill to fill, as a painting thread keeps it with its path: growing,
    // shrinking and turning must give the pixels a fill flattened afresh gives, never a stale cut.
    QPainterPath circle;
    circle.addEllipse(QPointF(0, 0), 10, 10);
    const auto black = MakeRasterPaint(QBrush(Qt::black));
    FlatPath kept;
    for (const auto& [scale, angle] :
         std::vector<std::pair<double, double>>{{1, 0}, {9, 0}, {9, 30}, {0.2, 0}, {9.5, 75}, {1.1, 10}}) {
        const QTransform toDevice = QTransform().translate(100, 100).rotate(angle).scale(scale, scale);
        QImage fresh(200, 200, QImage::Format_ARGB32_Premultiplied), reused = fresh;
        fresh.fill(Qt::transparent);
        reused.fill(Qt::transparent);
        FillPath(fresh, fresh.rect(), circle, toDevice, *black, FillBlend::Over, Edges::Antialiased);
        FillPath(reused, reused.rect(), circle, toDevice, *black, FillBlend::Over, Edges::Antialiased, &kept);
        EXPECT_EQ(fresh, reused) << scale << " " << angle;
        EXPECT_EQ(qAlpha(fresh.pixel(100, 100)), 255);
    }
}

TEST(Rasterizer, SampledEdgesTakeWholePixelsByTheirCentres) {
    // Squares whose sides pass through pixel centres: a centre on the left or top side is inside, on the
    // right or bottom side outside, so squares side by side neither overlap nor leave a gap.
    QImage image(30, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const auto red = MakeRasterPaint(QBrush(QColor(255, 0, 0)));
    const auto green = MakeRasterPaint(QBrush(QColor(0, 255, 0)));
    QPainterPath left, right;
    left.addRect(QRectF(5.5, 5.5, 10, 10));
    right.addRect(QRectF(15.5, 5.5, 10, 10));
    FillPath(image, image.rect(), left, {}, *red, FillBlend::Add);
    FillPath(image, image.rect(), right, {}, *green, FillBlend::Add);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const bool inside = y >= 5 && y <= 14 && x >= 5 && x <= 24;
            const QColor expected = !inside  ? QColor(0, 0, 0, 0)
                                    : x < 15 ? QColor(255, 0, 0)
                                             : QColor(0, 255, 0);
            ASSERT_TRUE(PixelNear(image, x, y, expected, 0, true));
        }
    // A sliver between two centres covers nothing; one over a centre covers that pixel whole.
    image.fill(Qt::transparent);
    QPainterPath slivers;
    slivers.addRect(QRectF(2.6, 2, 0.8, 10));
    slivers.addRect(QRectF(6.1, 2, 0.8, 10));
    FillPath(image, image.rect(), slivers, {}, *red);
    EXPECT_TRUE(PixelNear(image, 2, 5, QColor(0, 0, 0, 0), 0, true));
    EXPECT_TRUE(PixelNear(image, 3, 5, QColor(0, 0, 0, 0), 0, true));
    EXPECT_TRUE(PixelNear(image, 6, 5, QColor(255, 0, 0), 0, true));
}

TEST(Rasterizer, LeavesToQtWhatItDoesNotFill) {
    QRadialGradient focalCircle(QPointF(0, 0), 10, QPointF(2, 0), 3);
    QLinearGradient premultipliedMix(0, 0, 1, 0); // Qt's default: colours mixed premultiplied
    QLinearGradient relative(0, 0, 1, 0);
    relative.setInterpolationMode(QGradient::ComponentInterpolation);
    relative.setCoordinateMode(QGradient::ObjectMode);
    for (const QBrush& brush :
         {QBrush(QImage(4, 4, QImage::Format_ARGB32_Premultiplied)), QBrush(Qt::Dense4Pattern),
          QBrush(focalCircle), QBrush(premultipliedMix), QBrush(relative), QBrush(QConicalGradient())})
        EXPECT_FALSE(MakeRasterPaint(brush)) << brush.style();
}

// --- Display lists ---

namespace {

std::shared_ptr<const Character> ShapeCharacter(QRectF r, QColor color) {
    return std::make_shared<const Character>(RectShape(r, Solid(color)));
}

DisplayObject Object(std::uint16_t depth, std::shared_ptr<const Character> character, Matrix matrix = {}) {
    DisplayObject object;
    object.depth = depth;
    object.character = std::move(character);
    object.matrix = matrix;
    return object;
}

Matrix Translate(double x, double y, double scale = 1) {
    return Matrix{scale, 0, 0, scale, x * Twips, y * Twips};
}

DisplayObject SpriteObject(std::uint16_t depth, const std::shared_ptr<const Character>& sprite,
                           DisplayList children, Matrix matrix = {}) {
    DisplayObject object = Object(depth, sprite, matrix);
    object.sprite = std::make_shared<SpriteInstance>();
    object.sprite->sprite = &std::get<Sprite>(*sprite);
    object.sprite->displayList = std::move(children);
    return object;
}

Movie Stage(double width = 100, double height = 100, QColor background = White) {
    Movie movie;
    movie.frameSize = Rect{0, std::int32_t(width * Twips), 0, std::int32_t(height * Twips)};
    movie.backgroundColor = ToRgba(background);
    return movie;
}

const auto AnySprite = std::make_shared<const Character>(Sprite{});

} // namespace

TEST(Renderer, StageKeepsItsAspectCentredWithBackgroundAround) {
    const Movie movie = Stage(200, 100, Green);
    DisplayList list;
    list[1] = Object(1, ShapeCharacter(QRectF(-50, -50, 300, 200), Red)); // overflows the stage
    Renderer renderer;
    // A 200x100 stage in a square target: half size, from y = 25 to 75.
    QImage image = renderer.RenderStage(movie, list, QSize(100, 100));
    EXPECT_TRUE(Near(image, 50, 10, Green));
    EXPECT_TRUE(Near(image, 50, 30, Red));
    EXPECT_TRUE(Near(image, 50, 90, Green));
    // In a wide target: full height, from x = 50 to 250.
    image = renderer.RenderStage(movie, list, QSize(300, 100));
    EXPECT_TRUE(Near(image, 25, 50, Green));
    EXPECT_TRUE(Near(image, 60, 50, Red));
    EXPECT_TRUE(Near(image, 275, 50, Green));

    EXPECT_EQ(Renderer::StageTransform(movie.frameSize, QSize(300, 100)).map(QPointF(4000, 2000)),
              QPointF(250, 100));
}

TEST(Renderer, EdgesTakeWholePixelsUnlessAntialiased) {
    // A square turned by 30 degrees, half-way between pixels, in a layer of its own (a blend mode).
    const Movie movie = Stage(60, 60);
    DisplayList list;
    Matrix turn{std::cos(0.5), std::sin(0.5), -std::sin(0.5), std::cos(0.5), 30.25 * Twips, 10.5 * Twips};
    list[1] = Object(1, ShapeCharacter(QRectF(0, 0, 30, 30), Red), turn);
    for (const std::uint8_t blend : {std::uint8_t(0), std::uint8_t(BlendMode::Multiply)})
        for (const bool antialiased : {false, true}) {
            SCOPED_TRACE(testing::Message() << "blend " << int(blend) << ", antialiased " << antialiased);
            list[1].blendMode = blend;
            Renderer renderer;
            renderer.SetAntialiased(antialiased);
            const QImage image = renderer.RenderStage(movie, list, QSize(60, 60));
            int between = 0, red = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb p = image.pixel(x, y);
                    red += p == qRgb(255, 0, 0);
                    between += p != qRgb(255, 0, 0) && p != qRgb(255, 255, 255);
                }
            EXPECT_NEAR(red, 900, antialiased ? 120 : 30);
            if (antialiased)
                EXPECT_GT(between, 60);
            else
                EXPECT_EQ(between, 0);
        }
}

TEST(Renderer, DepthOrderAndSkippedCharacters) {
    const Movie movie = Stage();
    DisplayList list;
    list[5] = Object(5, ShapeCharacter(QRectF(40, 0, 60, 100), Blue));
    list[2] = Object(2, ShapeCharacter(QRectF(0, 0, 60, 100), Red));
    list[3] = Object(3, std::make_shared<const Character>(Sound{}));
    list[4] = Object(4, std::make_shared<const Character>(RawCharacter{}));
    list[6] = Object(6, ShapeCharacter(QRectF(0, 0, 100, 100), Green));
    list[6].visible = false;
    list[7] = Object(7, nullptr); // a character the dictionary does not have
    list[7].characterId = 42;
    Renderer renderer;
    const QImage image = renderer.RenderStage(movie, list, QSize(100, 100));
    EXPECT_TRUE(Near(image, 20, 50, Red));
    EXPECT_TRUE(Near(image, 50, 50, Blue));
}

TEST(Renderer, SpritesComposeMatricesAndColourTransformsParentLast) {
    const Movie movie = Stage();
    DisplayList inner;
    inner[1] = Object(1, ShapeCharacter(QRectF(0, 0, 10, 10), Red));
    DisplayObject innerSprite = SpriteObject(1, AnySprite, inner, Translate(20, 20, 2));
    innerSprite.colorTransform.gMul = 0;
    innerSprite.colorTransform.gAdd = 200;
    DisplayList outer;
    outer[1] = innerSprite;
    DisplayList list;
    list[1] = SpriteObject(1, AnySprite, outer, Translate(20, 20));
    list[1].colorTransform.gMul = 0.5;

    Renderer renderer;
    const QImage image = renderer.RenderStage(movie, list, QSize(100, 100));
    // The shape lands at 40..60; green is set by the child (200) then halved by the parent.
    EXPECT_TRUE(Near(image, 50, 50, QColor(255, 100, 0)));
    EXPECT_TRUE(Near(image, 41, 41, QColor(255, 100, 0)));
    EXPECT_TRUE(Near(image, 38, 50, White));
    EXPECT_TRUE(Near(image, 62, 50, White));
}

TEST(Renderer, MorphsAtTheirRatioAndPlacedBitmaps) {
    Movie movie = Stage();
    MorphShape morph;
    morph.startFillStyles = {Solid(Red)};
    morph.endFillStyles = {Solid(Blue)};
    AddRect(morph.startEdges, QRectF(0, 0, 20, 20), -1, 0);
    AddRect(morph.endEdges, QRectF(0, 50, 20, 20), -1, 0);
    Bitmap bitmap;
    bitmap.kind = Bitmap::Kind::Lossless;
    bitmap.losslessFormat = 5;
    bitmap.width = bitmap.height = 1;
    bitmap.data = Zlib(QByteArray("\0\0\xff\0", 4));
    movie.dictionary[9] = std::make_shared<const Character>(bitmap);

    DisplayList list;
    list[1] = Object(1, std::make_shared<const Character>(morph));
    list[1].ratio = 65535;
    list[2] = Object(2, nullptr, Translate(60, 60, 20)); // one pixel shown 20 times larger
    list[2].characterId = 9;
    Renderer renderer;
    const QImage image = renderer.RenderStage(movie, list, QSize(100, 100));
    EXPECT_TRUE(Near(image, 10, 60, Blue));
    EXPECT_TRUE(Near(image, 10, 10, White));
    EXPECT_TRUE(Near(image, 70, 70, Green));
    EXPECT_TRUE(Near(image, 55, 55, White));
}

TEST(Renderer, ClipLayerMasksTheDepthsUpToItsClipDepth) {
    const Movie movie = Stage();
    DisplayList list;
    list[1] = Object(1, ShapeCharacter(QRectF(0, 0, 50, 100), Black)); // left half
    list[1].clipDepth = 3;
    list[2] = Object(2, ShapeCharacter(QRectF(0, 0, 100, 100), Red));
    list[3] = Object(3, ShapeCharacter(QRectF(0, 0, 100, 50), Blue));
    list[4] = Object(4, ShapeCharacter(QRectF(0, 75, 100, 25), Green)); // above the clip depth
    Renderer renderer;
    const QImage image = renderer.RenderStage(movie, list, QSize(100, 100));
    EXPECT_TRUE(Near(image, 25, 25, Blue));
    EXPECT_TRUE(Near(image, 25, 60, Red));
    EXPECT_TRUE(Near(image, 75, 25, White));
    EXPECT_TRUE(Near(image, 75, 60, White));
    EXPECT_TRUE(Near(image, 75, 90, Green));
    EXPECT_TRUE(Near(image, 25, 90, Green));
}

TEST(Renderer, NestedMasksAndSpriteMasksMadeOfSeveralShapes) {
    const Movie movie = Stage();
    // A sprite masked to the left half holds its own mask for the top half.
    DisplayList inside;
    inside[1] = Object(1, ShapeCharacter(QRectF(0, 0, 100, 50), Black));
    inside[1].clipDepth = 2;
    inside[2] = Object(2, ShapeCharacter(QRectF(0, 0, 100, 100), Red));
    DisplayList list;
    list[1] = Object(1, ShapeCharacter(QRectF(0, 0, 50, 100), Black));
    list[1].clipDepth = 2;
    list[2] = SpriteObject(2, AnySprite, inside);
    Renderer renderer;
    QImage image = renderer.RenderStage(movie, list, QSize(100, 100));
    EXPECT_TRUE(Near(image, 25, 25, Red));
    EXPECT_TRUE(Near(image, 75, 25, White));
    EXPECT_TRUE(Near(image, 25, 75, White));
    EXPECT_TRUE(Near(image, 75, 75, White));

    // A sprite as the mask: the union of its two overlapping shapes.
    DisplayList maskParts;
    maskParts[1] = Object(1, ShapeCharacter(QRectF(0, 0, 60, 60), Black));
    maskParts[2] = Object(2, ShapeCharacter(QRectF(40, 40, 60, 60), Black));
    list.clear();
    list[1] = SpriteObject(1, AnySprite, maskParts);
    list[1].clipDepth = 2;
    list[2] = Object(2, ShapeCharacter(QRectF(0, 0, 100, 100), Blue));
    image = renderer.RenderStage(movie, list, QSize(100, 100));
    EXPECT_TRUE(Near(image, 20, 20, Blue));
    EXPECT_TRUE(Near(image, 50, 50, Blue));
    EXPECT_TRUE(Near(image, 80, 80, Blue));
    EXPECT_TRUE(Near(image, 80, 20, White));
    EXPECT_TRUE(Near(image, 20, 80, White));
}

// The renderer paints the stage in bands of rows on several threads when the caller's painter allows
// it, filling solid and gradient areas itself; a clip on the caller's painter keeps everything on that
// painter and in Qt. Bands must not change a pixel, and the two ways must agree but for the way each
// cuts curves into lines.
TEST(Renderer, BandsOnSeveralThreadsPaintWhatOnePainterPaints) {
    Movie movie = Stage(100, 80);
    Bitmap bitmap;
    bitmap.kind = Bitmap::Kind::Lossless;
    bitmap.losslessFormat = 5;
    bitmap.width = bitmap.height = 2;
    bitmap.data = Zlib(QByteArray("\xff\xff\0\0\xff\0\xff\0\xff\0\0\xff\x80\x80\x80\0", 16));
    movie.dictionary[9] = std::make_shared<const Character>(bitmap);

    Shape blob; // a gradient area with a bulging curved side and a thick line around it
    blob.fillStyles = {GradientFill(FillStyle::Type::RadialGradient, GradientAcross(5, 95), Red, Blue)};
    blob.lineStyles = {Line(3, QColor(0, 0, 0, 160))};
    AddRect(blob.edges, QRectF(5, 5, 90, 60), -1, 0, 0);
    blob.edges[1].curved = true;
    blob.edges[1].controlX = 120 * Twips;
    blob.edges[1].controlY = 35 * Twips;
    Shape tiles; // a clipped bitmap fill with a hairline
    tiles.fillStyles = {BitmapFill(FillStyle::Type::ClippedBitmap, 7.5, 9)};
    tiles.lineStyles = {Line(0.5, Green)};
    AddRect(tiles.edges, QRectF(0, 0, 40, 70), -1, 0, 0);
    Shape diagonal; // a mask across every band
    diagonal.fillStyles = {Solid(Black)};
    diagonal.edges = {Edge({0, 0}, {100, 60}, -1, 0), Edge({100, 60}, {100, 80}, -1, 0),
                      Edge({100, 80}, {0, 20}, -1, 0), Edge({0, 20}, {0, 0}, -1, 0)};

    DisplayList list;
    list[1] = Object(1, ShapeCharacter(QRectF(-10, -10, 120, 100), QColor(255, 0, 255))); // past the stage
    list[2] = Object(2, std::make_shared<const Character>(blob), Translate(0, 7.3));
    list[3] = Object(3, std::make_shared<const Character>(diagonal));
    list[3].clipDepth = 4;
    list[4] = Object(4, std::make_shared<const Character>(tiles), Translate(30.5, 4.25));
    list[5] = Object(5, nullptr, Translate(70, 30, 6)); // the bitmap placed, six times larger
    list[5].characterId = 9;
    list[5].colorTransform.aMul = 0.7;

    struct Case {
        QSize target;
        QPoint offset; // the caller's painter moves the stage by whole pixels
        int threads;   // of the pool: a band for each
    };
    // Sizes that leave the stage at fractional offsets inside the target, and band counts that cut it
    // at odd rows.
    const Case cases[] = {{{100, 80}, {0, 0}, 2}, {{151, 97}, {3, 5}, 4}, {{63, 200}, {0, 0}, 3}};
    const int savedThreads = QThreadPool::globalInstance()->maxThreadCount();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.width());
        auto render = [&](int threads, bool clipped) {
            QThreadPool::globalInstance()->setMaxThreadCount(threads);
            QImage image(c.target + QSize(c.offset.x(), c.offset.y()), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            if (clipped)
                painter.setClipRect(image.rect());
            painter.translate(c.offset);
            Renderer renderer;
            renderer.RenderStage(painter, movie, list, c.target);
            return image;
        };
        const QImage banded = render(c.threads, false);
        EXPECT_TRUE(banded == render(1, false));
        // Qt's own filling puts a pixel whose centre lies on an edge on the other side: whole columns
        // or rows of edge pixels may differ, nothing else.
        EXPECT_LE(DifferingPixels(banded, render(1, true), 40), c.target.width() * c.target.height() / 50);
    }
    QThreadPool::globalInstance()->setMaxThreadCount(savedThreads);
}

// --- Real movies ---

TEST(RendererOnRealMovies, MatchesFlashPlayerImages) {
    const QString root = QStringLiteral(VANTREL_SWF_SAMPLES_DIR);
    if (!QFile::exists(root + "/INDEX.tsv"))
        GTEST_SKIP() << "no sample movies at " << root.toStdString();
    // Movies drawn with shapes, gradients, bitmaps, clips and colour transforms only (no text, blend
    // modes or filters), with the share of pixels allowed to differ by more than antialiasing does.
    struct Case {
        const char* sample;
        double allowedPercent;
    } cases[] = {{"simple_shapes_layers", 0.5},   {"simple_shapes_overlaps", 1.5},
                 {"simple_shapes_masks", 4},      {"gradients_gradients", 2},
                 {"gradients_radial", 2},         {"gradient_issue_9892", 1},
                 {"shumway_gradient", 0.5},       {"color_transform_issue_9698", 0.5},
                 {"shumway_acid_bitmap_fill", 5}, {"shumway_acid_clip", 1},
                 {"shumway_acid_child", 1.5},     {"shumway_acid_scale", 2}};
    Renderer renderer;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sample);
        const QString folder = root + "/" + c.sample;
        const ReadResult read = ReadMovieFile(folder + "/movie.swf");
        ASSERT_TRUE(read.movie) << read.error.toStdString();
        const QImage expected = QImage(folder + "/expected.png").convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(expected.isNull());
        Player player(read.movie);
        QImage image(expected.size(), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        renderer.RenderStage(painter, *read.movie, player.Stage(), image.size(), player.BackgroundColor());
        painter.end();
        image = image.convertToFormat(QImage::Format_ARGB32);
        qint64 differing = 0;
        for (int y = 0; y < image.height(); ++y) {
            const auto* ours = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            const auto* theirs = reinterpret_cast<const QRgb*>(expected.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int worst = std::max({std::abs(qRed(ours[x]) - qRed(theirs[x])),
                                            std::abs(qGreen(ours[x]) - qGreen(theirs[x])),
                                            std::abs(qBlue(ours[x]) - qBlue(theirs[x]))});
                differing += worst > 24;
            }
        }
        EXPECT_LE(100.0 * double(differing) / (double(image.width()) * image.height()), c.allowedPercent);
    }
}
