#pragma once
// Where things on stage are and what they cover: movie matrices as Qt transforms, colour transforms
// composed and applied, and the areas a shape's fills cover. Hit tests use them; the renderer paints
// with them.

#include "flash/swf/SwfModel.h"

#include <QPainterPath>
#include <QTransform>
#include <cstdint>
#include <vector>

namespace flash {

QTransform ToQTransform(const Matrix& matrix);

bool IsIdentity(const ColorTransform& transform);
// Child first, then parent: the transform an object gets inside a parent that has its own.
ColorTransform Compose(const ColorTransform& parent, const ColorTransform& child);
Rgba Apply(const ColorTransform& transform, Rgba color);

// Where edges meet: points on a 1/64 twip grid, which absorbs rounding of morphed points.
std::uint64_t PointKey(double x, double y);

// The area of each fill style (by style number): its edges turned so the fill lies on their right,
// chained end to start into contours, filled odd-even (Flash's holes, and its gaps where contours
// overlap).
std::vector<QPainterPath> FillAreas(const Shape& shape);

} // namespace flash
