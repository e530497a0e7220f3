#pragma once
// PlaceObject3's filters and blend modes at work: the filters applied to an object's offscreen layer
// (premultiplied ARGB32) and the layer composited with its blend mode.
//
// Limits: at most MaxFilters filters per object are kept; blur sizes are capped at 255 pixels and
// passes at 15 as Flash does; a filter's growth of the layer is capped at MaxGrowth pixels per side.

#include "flash/swf/SwfModel.h"

#include <QByteArray>
#include <QImage>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <cstdint>
#include <vector>

class QPainter;

namespace flash {

// How far the filters reach beyond the drawn pixels at `scale` device pixels per stage pixel.
QMargins FilterGrowth(const FilterList& filters, double scale);

// How far beyond an area pixels may lie and still feed what the filters put inside it: the growth
// both ways, as a shadow falls from pixels on the side away from its offset.
QMargins FilterReach(const FilterList& filters, double scale);

// Runs the filters on `image`, whose pixel (0, 0) lies at device position `origin`. The image may grow
// (origin moves) up to FilterGrowth, but not beyond `limit` in device pixels.
void ApplyFilters(const FilterList& filters, double scale, QImage& image, QPoint& origin, const QRect& limit);

// Box blur, `passes` times, of a premultiplied ARGB32 image in place; radii in pixels.
void BoxBlur(QImage& image, int radiusX, int radiusY, int passes);

// Whether an object with this blend mode is drawn through a layer of its own.
bool NeedsLayer(std::uint8_t blendMode);

// Composites `layer` with its top left at device point `at` (in the painter's current coordinates,
// which must be a whole-pixel translation of the device) onto the painter's device.
void Composite(QPainter& painter, const QImage& layer, QPoint at, std::uint8_t blendMode);

} // namespace flash
