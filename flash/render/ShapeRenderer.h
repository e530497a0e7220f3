#pragma once
// Paints shapes and morph shapes with QPainter: fill areas chained from the edges per fill style,
// solid, gradient and bitmap fills, lines, and colour transforms on every colour.

#include "flash/player/Geometry.h"
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

struct RasterPaint;

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

// A path that several threads paint at once: each thread paints a copy of its own, because Qt fills
// in caches inside a path object the first time it paints it. Copies share nothing once made; the
// handle itself is cheap to copy and keeps the copies alive.
class PaintPath {
public:
    PaintPath() = default;
    explicit PaintPath(QPainterPath path);

    const QPainterPath& Path() const;
    bool IsEmpty() const { return Path().isEmpty(); }
    // Makes copies for threads 0..threads-1; only while no thread paints.
    void Share(int threads) const;
    // The copy of `thread`, as made by Share.
    const QPainterPath& Copy(int thread) const;

private:
    std::shared_ptr<std::vector<QPainterPath>> copies; // [0] is the path itself
};

// Painter calls recorded once and replayed later: on one painter, or on several at once from their own
// threads. Replaying reads what was recorded and changes nothing, so threads may share a list.
class PaintList {
public:
    // Empties the list for a new recording; paths recorded after this are shared by `threads`.
    void Begin(int threads = 1);
    int Threads() const { return threads; }

    // `raster`, when there is one, paints the brush without Qt where the painter allows it.
    void Fill(const PaintPath& path, const QBrush& brush, const QTransform& toDevice, double opacity,
              bool smooth, std::shared_ptr<const RasterPaint> raster = {});
    void Stroke(const PaintPath& path, const QPen& pen, const QTransform& toDevice, double opacity,
                bool smooth);
    // Draws the image at (0, 0), antialiased, smoothed unless told otherwise.
    void Image(const QImage& image, const QTransform& toDevice, double opacity, bool smooth = true);
    // The fills recorded between these share their edges (the fill styles of one shape): where they go
    // straight into pixels they are added together first, so no seam shows where their edges meet.
    void BeginGroup();
    void EndGroup();
    void Save();
    void Restore();
    // Intersects the clip with an area given in device pixels.
    void Clip(const PaintPath& area);
    // Painting of its own, such as a prepared layer, within `bounds` in device pixels. It is called with
    // the painter set to device pixels moved by the replay's shift; it must only read what it shares.
    using CustomPaint = std::function<void(QPainter& painter)>;
    void Custom(CustomPaint paint, const QRect& bounds);
    // The device pixels the drawing steps may touch; empty when there are none.
    QRect Bounds() const;

    // Paints on `painter` with thread `thread`'s copies of the paths; every device position is moved by
    // `shift` after the recorded transform. Opacities multiply the painter's; its transform, render
    // hints and opacity are as before afterwards. Fills with a raster paint go straight into the pixels
    // when the painter paints a premultiplied image one to one, source-over, unclipped and opaque.
    void Replay(QPainter& painter, int thread = 0, const QTransform& shift = {}) const;

private:
    struct Step {
        enum class Kind : std::uint8_t {
            Fill,
            Stroke,
            Image,
            Save,
            Restore,
            Clip,
            Custom,
            BeginGroup,
            EndGroup
        };
        Kind kind;
        bool smooth = false;
        double opacity = 1;
        PaintPath path;
        QTransform toDevice;
        QBrush brush;
        QPen pen;
        QImage image;
        std::shared_ptr<const RasterPaint> raster;
        CustomPaint custom;
        QRect bounds; // Custom
    };
    static QRectF DeviceBox(const Step& step, int thread);
    // Whether a drawing step shows nothing in the device rectangle `window`.
    static bool Outside(const Step& step, int thread, const QRect& window);
    // Fills the group that starts at step `begin` through a layer into `image`, when all its steps can
    // go there; returns the step after the group's end, or `begin` when the group is left to the steps.
    std::size_t FillGroup(std::size_t begin, QImage& image, const QRect& window, int thread) const;

    int threads = 1;
    std::vector<Step> steps;
};

// A shape's outlines in twips, built once and reused every frame, and the brushes last made for it.
struct PreparedShape {
    struct Layer {
        int firstFill = 0, endFill = 0, firstLine = 0, endLine = 0;
    };
    // Cached texture of a bitmap fill: edge-extended for clipped fills and colour-transformed.
    struct Texture {
        qint64 imageKey = 0;
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
    // Outlines of lines drawn in the shape's own space, made on first use; by line style.
    mutable std::vector<std::optional<PaintPath>> strokes;
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
