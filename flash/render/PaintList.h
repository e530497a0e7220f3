#pragma once
// Painter calls recorded once and replayed later, on one painter or on several at once from their own
// threads: how a frame's drawing is shared between the render threads. Replaying reads only; a fill
// with a raster paint goes straight into the pixels where the painter allows it. Paths are copied
// once per thread, so a list of n paths holds n x threads copies while it lives.

#include "flash/render/Rasterizer.h"

#include <QBrush>
#include <QImage>
#include <QPainterPath>
#include <QPen>
#include <QRect>
#include <QTransform>
#include <functional>
#include <memory>
#include <vector>

class QPainter;

namespace flash {

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
    // The flattening `thread` keeps of its copy for the rasterizer, or null when it has no copy.
    FlatPath* Flat(int thread) const;

private:
    struct ThreadCopy {
        QPainterPath path;
        FlatPath flat;
    };
    std::shared_ptr<std::vector<ThreadCopy>> copies; // [0] is the path itself
};

// Painter calls recorded once and replayed later: on one painter, or on several at once from their own
// threads. Replaying reads what was recorded and changes nothing, so threads may share a list.
class PaintList {
public:
    // Empties the list for a new recording; paths recorded after this are shared by `threads`.
    void Begin(int threads = 1);
    int Threads() const { return threads; }
    // Whether fills, lines and images are antialiased on replay; by default a pixel is painted when its
    // centre is inside, as Flash Player's picture shows. Kept by Begin.
    void SetAntialiased(bool on) { antialiased = on; }
    bool Antialiased() const { return antialiased; }

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
    bool antialiased = false;
    std::vector<Step> steps;
};

} // namespace flash
