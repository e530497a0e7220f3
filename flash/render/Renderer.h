#pragma once
// Draws what is on stage: the display list of a movie, scaled to the target with its aspect kept,
// sprites with their own display lists, morph shapes at their ratio, and clip layers as masks.
// A frame is recorded first and then painted; on a raster painter that moves by whole pixels the stage
// is painted into an image of the renderer's own, in bands of rows on threads of Qt's global pool, and
// handed over in one piece. A frame may also be recorded here and painted later on another thread
// (Record, Paint), so that several frames are painted at once while the next ones are recorded.

#include "flash/player/DisplayList.h"
#include "flash/render/PaintList.h"

#include <QImage>
#include <QSize>
#include <QTransform>
#include <memory>

class QPainter;

namespace flash {

// A stage as RenderStage draws it, recorded for painting later. It holds what it paints, so it stays
// valid when the renderer moves on to the next frame.
struct StageRecording {
    PaintList paint;
    QSize target;
    QColor background;
    QRect stageRect; // the target pixels the stage covers; empty when it shows nothing
    int bands = 1;   // painted in the bands of rows RenderStage paints, for the same pixels
};

class Renderer {
public:
    Renderer();
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Fills target (a size in the painter's coordinates, from its origin) with the movie's background
    // colour and draws the stage into it, scaled to fit, centred. Nothing is drawn outside the stage.
    void RenderStage(QPainter& painter, const Movie& movie, const DisplayList& list, QSize target);
    // The same with another background colour (the one the player keeps from SetBackgroundColor), on a
    // device whose pixels are pixelAspect times as wide as they are high (a DVD frame shown at 4:3).
    void RenderStage(QPainter& painter, const Movie& movie, const DisplayList& list, QSize target,
                     Rgba background, double pixelAspect = 1);
    // A new premultiplied ARGB32 image of the given size holding the stage.
    QImage RenderStage(const Movie& movie, const DisplayList& list, QSize target);

    // Draws the display list without background or clipping; toDevice maps the list's twips to the
    // painter's device.
    void RenderDisplayList(QPainter& painter, const Movie& movie, const DisplayList& list,
                           const QTransform& toDevice, const ColorTransform& colorTransform = {});

    // Maps the movie's stage (twips) into target pixels: as large as fits with its aspect, centred.
    // pixelAspect is the width of a target pixel over its height.
    static QTransform StageTransform(const Rect& frameSize, QSize target, double pixelAspect = 1);

    // Antialiased edges instead of Flash Player's whole pixels (a pixel painted when its centre is
    // inside); off unless set.
    void SetAntialiased(bool on);

    // Drops the cached outlines and images; they are also dropped when another movie is drawn.
    void ClearCaches();

    // Records the stage as RenderStage draws it, to be painted by up to `painters` threads at once,
    // each with its own number from 1 to painters (0 is the recording thread's). The number of painters
    // must stay the same while earlier recordings of this renderer are being painted.
    std::shared_ptr<const StageRecording> Record(const Movie& movie, const DisplayList& list, QSize target,
                                                 Rgba background, double pixelAspect, int painters);
    // Paints a recording into `image` (premultiplied ARGB32 of the recording's size) as painter
    // `number`; any thread, reading only what the recording holds. The pixels are those RenderStage
    // gives.
    static void Paint(const StageRecording& recording, QImage& image, int number);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace flash
