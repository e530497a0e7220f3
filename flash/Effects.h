#pragma once
// PlaceObject3's filters and blend modes: the filter list read into a model, the filters applied to an
// object's offscreen layer (premultiplied ARGB32) and the layer composited with its blend mode.
//
// Limits: at most MaxFilters filters per object are kept; blur sizes are capped at 255 pixels and
// passes at 15 as Flash does; a filter's growth of the layer is capped at MaxGrowth pixels per side.

#include "flash/SwfModel.h"

#include <QByteArray>
#include <QImage>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <cstdint>
#include <vector>

class QPainter;

namespace flash {

struct Filter {
    enum class Kind : std::uint8_t {
        DropShadow = 0,
        Blur = 1,
        Glow = 2,
        Bevel = 3,
        GradientGlow = 4,
        Convolution = 5,
        ColorMatrix = 6,
        GradientBevel = 7
    };
    Kind kind = Kind::Blur;
    double blurX = 0, blurY = 0; // pixels at stage scale 1
    int passes = 1;
    double angle = 0, distance = 0; // radians, pixels
    double strength = 1;
    bool inner = false, knockout = false, compositeSource = true, onTop = false;
    // Glow and drop shadow: one colour. Bevel: highlight, then shadow. Gradient kinds: the gradient.
    std::vector<Rgba> colors;
    std::vector<std::uint8_t> ratios;
    // Convolution: matrixX * matrixY weights. Colour matrix: 20 weights, rows r, g, b, a.
    int matrixX = 0, matrixY = 0;
    double divisor = 1, bias = 0;
    std::vector<float> matrix;
    Rgba defaultColor{0, 0, 0, 0};
    bool clamp = true, preserveAlpha = false;
    bool operator==(const Filter&) const = default;
};
using FilterList = std::vector<Filter>;

constexpr int MaxFilters = 16;
constexpr int MaxGrowth = 512;

// The filter list of PlaceObject3 (count byte and records); filters after a damaged record are dropped.
FilterList ReadFilters(const QByteArray& bytes);

// How far the filters reach beyond the drawn pixels at `scale` device pixels per stage pixel.
QMargins FilterGrowth(const FilterList& filters, double scale);

// Runs the filters on `image`, whose pixel (0, 0) lies at device position `origin`. The image may grow
// (origin moves) up to FilterGrowth, but not beyond `limit` in device pixels.
void ApplyFilters(const FilterList& filters, double scale, QImage& image, QPoint& origin, const QRect& limit);

// Box blur, `passes` times, of a premultiplied ARGB32 image in place; radii in pixels.
void BoxBlur(QImage& image, int radiusX, int radiusY, int passes);

enum class BlendMode : std::uint8_t {
    Normal = 1,
    Layer,
    Multiply,
    Screen,
    Lighten,
    Darken,
    Difference,
    Add,
    Subtract,
    Invert,
    Alpha,
    Erase,
    Overlay,
    HardLight
};

// Whether an object with this blend mode is drawn through a layer of its own.
bool NeedsLayer(std::uint8_t blendMode);

// Composites `layer` with its top left at device point `at` (in the painter's current coordinates,
// which must be a whole-pixel translation of the device) onto the painter's device.
void Composite(QPainter& painter, const QImage& layer, QPoint at, std::uint8_t blendMode);

} // namespace flash
