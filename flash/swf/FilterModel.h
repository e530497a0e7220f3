#pragma once
// Included by flash/swf/SwfModel.h, whose types it uses; include that header, not this one.
// The filters and blend mode a PlaceObject3 gives an object, as the movie states them. Applying them is
// the renderer's.

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

} // namespace flash
