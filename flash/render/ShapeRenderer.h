#pragma once
// Paints shapes and morph shapes with QPainter: fill areas chained from the edges per fill style,
// solid, gradient and bitmap fills, lines, and colour transforms on every colour.

#include "flash/player/Geometry.h"
#include "flash/render/PaintList.h"
#include "flash/swf/SwfModel.h"

#include <QBrush>
#include <QImage>
#include <QPainterPath>
#include <QPen>
#include <QTransform>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPainter;

namespace flash {

// Every pixel of a premultiplied ARGB32 image through the transform.
QImage Apply(const ColorTransform& transform, const QImage& image);

// Finds the image of bitmap character `bitmapId` for bitmap fills; a null image when it is missing.
using BitmapResolver = std::function<QImage(std::uint16_t bitmapId)>;

struct ShapeDrawOptions {
    BitmapResolver bitmaps;
    // Device pixels per twip of the stage alone, for lines that keep their width when their object
    // is scaled; 0 takes the scale of the whole transform.
    double stageScale = 0;
};

// A shape's outlines in twips, built once and reused every frame, and the brushes last made for it.
struct PreparedShape {
    struct Layer {
        int firstFill = 0, endFill = 0, firstLine = 0, endLine = 0;
    };
    // Cached texture of a bitmap fill: edge-extended for clipped fills and colour-transformed.
    struct Texture {
        qint64 imageKey = 0;
        int reduced = 0; // times the image was halved for a smoothed fill drawn smaller
        ColorTransform transform;
        QImage image;
        QPointF origin; // where bitmap pixel (0, 0) lies in the texture
        QBrush brush;   // the texture placed by the bitmap matrix
    };
    // A solid or gradient brush of one style under one colour transform, with the one-pixel pen of a
    // line drawn in it.
    struct Paint {
        bool made = false;
        ColorTransform transform;
        QBrush brush;                              // NoBrush when nothing shows
        std::shared_ptr<const RasterPaint> raster; // the brush for filling without Qt
        std::optional<QPen> hairline;              // made on first use
    };
    std::vector<PaintPath> fills;          // by fill style, odd-even rule
    std::vector<PaintPath> lines;          // by line style
    std::vector<Layer> layers;             // painted in order: a layer's fills, then its lines
    QPainterPath area;                     // every fill area together, for masks
    mutable std::vector<Texture> textures; // by fill style
    mutable std::vector<Paint> fillPaints; // by fill style
    mutable std::vector<Paint> linePaints; // by line style
    // The outline of a line drawn in the shape's own space at one width, made on first use.
    struct Stroke {
        double width = 0;
        PaintPath outline;
    };
    // By line style; made again when the line's width in the shape changes (lines that keep their
    // width on screen as their object scales, lines hinted to whole pixels).
    mutable std::vector<std::optional<Stroke>> strokes;
};

PreparedShape PrepareShape(const Shape& shape);

// Records the painting of a shape: toDevice maps the shape's twips to device pixels. The caches of
// `prepared` are filled in here, never while the list is replayed.
void RecordShape(PaintList& list, const Shape& shape, const PreparedShape& prepared,
                 const QTransform& toDevice, const ColorTransform& colorTransform,
                 const ShapeDrawOptions& options = {});
// Records and replays at once. toDevice replaces the painter's transform while drawing; the painter's
// transform and render hints are as before afterwards.
void DrawShape(QPainter& painter, const Shape& shape, const PreparedShape& prepared,
               const QTransform& toDevice, const ColorTransform& colorTransform,
               const ShapeDrawOptions& options = {});
// Builds the outlines on every call; for one-off drawing.
void DrawShape(QPainter& painter, const Shape& shape, const QTransform& toDevice,
               const ColorTransform& colorTransform, const ShapeDrawOptions& options = {});

// The shape a morph shape shows at `ratio` (0 start .. 65535 end): edges, colours, gradients,
// bitmap matrices and line widths in between.
Shape InterpolateMorph(const MorphShape& morph, std::uint16_t ratio);

} // namespace flash
