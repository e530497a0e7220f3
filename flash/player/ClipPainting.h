#pragma once
// How a script's BitmapData.draw paints a clip: with the renderer, which the player's library
// cannot reach. The renderer registers its painter here when a program links it in; without one,
// clips draw nothing into bitmaps.

#include "flash/player/DisplayList.h"

#include <QImage>
#include <QRect>
#include <QTransform>

namespace flash {

// Paints a display list over target (premultiplied ARGB32); listToTarget maps the list's twips to
// target pixels.
using ClipPainter = void (*)(QImage& target, const Movie& movie, const DisplayList& list,
                             const QTransform& listToTarget, const ColorTransform& color);

void SetClipPainter(ClipPainter painter);
ClipPainter GetClipPainter(); // null when none was registered

} // namespace flash
