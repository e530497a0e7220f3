#pragma once
// Draws what is on stage: the display list of a movie, scaled to the target with its aspect kept,
// sprites with their own display lists, morph shapes at their ratio, and clip layers as masks.
// A frame is recorded first and then painted; on a raster painter that moves by whole pixels the stage
// is painted into an image of the renderer's own, in bands of rows on threads of Qt's global pool, and
// handed over in one piece.

#include "flash/player/DisplayList.h"

#include <QImage>
#include <QSize>
#include <QTransform>
#include <memory>

class QPainter;

namespace flash {

class Renderer {
public:
    Renderer();
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Fills target (a size in the painter's coordinates, from its origin) with the movie's background
    // colour and draws the stage into it, scaled to fit, centred. Nothing is drawn outside the stage.
    void RenderStage(QPainter& painter, const Movie& movie, const DisplayList& list, QSize target);
    // The same with another background colour (SetBackgroundColor as the timeline last saw it), on a
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

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace flash
