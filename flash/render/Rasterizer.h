#pragma once
// Filling of paths straight into premultiplied ARGB32 pixels, for the brushes shapes use most: solid
// colours and linear, radial and focal gradients. A pixel is inside the path when its centre is (as
// Flash Player's picture shows edges), or, antialiased, covered by the exact area of it inside the
// path; either with the odd-even or winding rule of the path, and blended source-over as Qt's raster
// engine blends it. Work done in device coordinates does not depend on which rows or columns
// of the device a call may touch, so the same fill cut into bands gives the same pixels.

#include <QBrush>
#include <QImage>
#include <QPainterPath>
#include <QTransform>
#include <memory>
#include <vector>

namespace flash {

// What a fill paints, made once from a brush and kept as long as the brush.
struct RasterPaint {
    enum class Kind : std::uint8_t { Solid, Linear, Radial };
    static constexpr int TableSize = 1024;

    Kind kind = Kind::Solid;
    QRgb color = 0; // premultiplied; Solid
    QGradient::Spread spread = QGradient::PadSpread;
    QTransform gradientToShape;   // the brush's transform
    QPointF start, end;           // Linear: where the table begins and ends
    QPointF center, focal;        // Radial
    double radius = 0;            // Radial
    std::vector<QRgb> colorTable; // premultiplied colours from the first stop to the last
    bool opaque = false;          // every colour it paints has full alpha
};

// The paint of a brush, or null for brushes left to Qt: textures, conical gradients, gradients in
// other coordinate modes or with colours interpolated premultiplied, focal circles of their own size.
std::shared_ptr<const RasterPaint> MakeRasterPaint(const QBrush& brush);

// How a fill's pixels meet those already there: source-over, or added (saturating), which puts fills
// that share edges together without a seam where their antialiased edges meet.
enum class FillBlend : std::uint8_t { Over, Add };

// How edges cut pixels: by their centres (whole pixels in or out; a centre exactly on an edge is inside
// when the path lies to its right or below), or antialiased by the area inside.
enum class Edges : std::uint8_t { Sampled, Antialiased };

// A path cut into lines in its own coordinates, for the transforms of one scale step (a quarter octave
// of the largest factor they scale lengths by): kept with the path, a fill at another position or angle
// only maps its points. FillPath makes and remakes it; one thread uses it at a time.
struct FlatPath {
    static constexpr int NoStep = -1000;
    // Scales beyond 2^±20 flatten as these do: curves that small are points, that large leave the device.
    static constexpr int LowestStep = -80, HighestStep = 80;
    int scaleStep = NoStep;
    std::vector<QPointF> points;
    std::vector<int> starts; // where each closed contour begins in points, and the end
};

// Fills `path` (its own coordinates, mapped to the device by toDevice) into the pixels of the device
// rectangle `window`, which `image` (Format_ARGB32_Premultiplied, at least the window's size) holds
// with its (0, 0) at the window's top left. The image's pixels are written where a painter already
// open on it writes them. `flat`, when given, is this path's flattening kept from fill to fill.
void FillPath(QImage& image, const QRect& window, const QPainterPath& path, const QTransform& toDevice,
              const RasterPaint& paint, FillBlend blend = FillBlend::Over, Edges edges = Edges::Sampled,
              FlatPath* flat = nullptr);

// Source-over of `layer` (premultiplied) onto `image` (premultiplied) with its top left at `at`.
void BlendLayer(QImage& image, const QImage& layer, QPoint at);

} // namespace flash
