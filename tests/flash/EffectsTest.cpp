// Blend modes and filters: chosen pixels of small scenes drawn through the renderer, and the filter
// list read back from the bytes a movie stores.
#include "flash/render/Effects.h"
#include "flash/player/DisplayList.h"
#include "flash/render/Renderer.h"
#include "flash/swf/FilterReader.h"

#include "SwfWriter.h"

#include "PixelCheck.h"
#include <QImage>
#include <cmath>
#include <gtest/gtest.h>

using namespace flash;

namespace {

constexpr double Twips = 20;
const Rgba White{255, 255, 255, 255};
const Rgba Red{255, 0, 0, 255};
const Rgba Grey{128, 128, 128, 255};
const Rgba Black{0, 0, 0, 255};

::testing::AssertionResult Near(const QImage& image, int x, int y, QColor expected, int tolerance = 3) {
    return PixelNear(image, x, y, expected, tolerance, true);
}

// A square from (x0, y0) to (x1, y1) in pixels.
std::shared_ptr<const Character> Square(int x0, int y0, int x1, int y1, Rgba color) {
    Shape shape;
    FillStyle fill;
    fill.color = color;
    shape.fillStyles.push_back(fill);
    const QPointF corners[] = {{double(x0), double(y0)},
                               {double(x1), double(y0)},
                               {double(x1), double(y1)},
                               {double(x0), double(y1)}};
    for (int i = 0; i < 4; ++i) {
        ShapeEdge e;
        e.fromX = std::int32_t(corners[i].x() * Twips);
        e.fromY = std::int32_t(corners[i].y() * Twips);
        e.toX = std::int32_t(corners[(i + 1) % 4].x() * Twips);
        e.toY = std::int32_t(corners[(i + 1) % 4].y() * Twips);
        e.fill0 = -1;
        e.fill1 = 0;
        shape.edges.push_back(e);
    }
    return std::make_shared<const Character>(std::move(shape));
}

DisplayObject Object(std::uint16_t depth, std::shared_ptr<const Character> character,
                     std::uint8_t blendMode = 0, FilterList filters = {}) {
    DisplayObject object;
    object.depth = depth;
    object.character = std::move(character);
    object.blendMode = blendMode;
    if (!filters.empty())
        object.filters = std::make_shared<const FilterList>(std::move(filters));
    return object;
}

const auto AnySprite = std::make_shared<const Character>(Sprite{});

DisplayObject Group(std::uint16_t depth, DisplayList children, std::uint8_t blendMode) {
    DisplayObject object = Object(depth, AnySprite, blendMode);
    object.sprite = std::make_shared<SpriteInstance>();
    object.sprite->sprite = &std::get<Sprite>(*AnySprite);
    object.sprite->displayList = std::move(children);
    return object;
}

QImage Render(const DisplayList& list, Rgba background = White) {
    Movie movie;
    movie.frameSize = Rect{0, std::int32_t(100 * Twips), 0, std::int32_t(100 * Twips)};
    movie.backgroundColor = background;
    Renderer renderer;
    return renderer.RenderStage(movie, list, QSize(100, 100));
}

// A red square (40..60) with the filters, on white.
QImage Filtered(const Filter& filter) {
    DisplayList list;
    list[1] = Object(1, Square(40, 40, 60, 60, Red), 0, {filter});
    return Render(list);
}

Filter Shadowing(Filter::Kind kind, Rgba color, double blur, double distance = 0) {
    Filter f;
    f.kind = kind;
    f.colors = {color};
    f.blurX = f.blurY = blur;
    f.distance = distance;
    f.passes = 1;
    return f;
}

} // namespace

TEST(Effects, BlendModesMixARedSquareWithGreyBelow) {
    struct Case {
        BlendMode mode;
        QColor expected;
    };
    const Case cases[] = {
        {BlendMode::Normal, QColor(255, 0, 0)},         {BlendMode::Layer, QColor(255, 0, 0)},
        {BlendMode::Multiply, QColor(128, 0, 0)},       {BlendMode::Screen, QColor(255, 128, 128)},
        {BlendMode::Lighten, QColor(255, 128, 128)},    {BlendMode::Darken, QColor(128, 0, 0)},
        {BlendMode::Difference, QColor(127, 128, 128)}, {BlendMode::Add, QColor(255, 128, 128)},
        {BlendMode::Subtract, QColor(0, 128, 128)},     {BlendMode::Invert, QColor(127, 127, 127)},
        {BlendMode::Overlay, QColor(255, 1, 1)},        {BlendMode::HardLight, QColor(255, 0, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.mode));
        DisplayList list;
        list[1] = Object(1, Square(0, 0, 100, 100, Grey));
        list[2] = Object(2, Square(40, 40, 60, 60, Red), std::uint8_t(c.mode));
        const QImage image = Render(list);
        EXPECT_TRUE(Near(image, 50, 50, c.expected));
        EXPECT_TRUE(Near(image, 20, 20, QColor(128, 128, 128)));
    }
}

TEST(Effects, AlphaAndEraseCutTheirLayerGroupOnly) {
    // A layer group of a red square and a half-transparent square above part of it.
    for (const BlendMode mode : {BlendMode::Alpha, BlendMode::Erase}) {
        SCOPED_TRACE(int(mode));
        DisplayList children;
        children[1] = Object(1, Square(20, 20, 80, 80, Red));
        children[2] = Object(2, Square(50, 20, 80, 80, Black), std::uint8_t(mode));
        children[2].colorTransform.aMul = 0.25;
        DisplayList list;
        list[1] = Group(1, std::move(children), std::uint8_t(BlendMode::Layer));
        const QImage image = Render(list);
        EXPECT_TRUE(Near(image, 30, 50, QColor(255, 0, 0)));
        // Alpha keeps a quarter of the red there, erase takes a quarter away; white shows through.
        const int kept = mode == BlendMode::Alpha ? 64 : 191;
        EXPECT_TRUE(Near(image, 65, 50, QColor(255, 255 - kept, 255 - kept), 4));
        EXPECT_TRUE(Near(image, 90, 50, QColor(255, 255, 255)));
    }
}

TEST(Effects, FilteredObjectsAreDrawnHalfAPixelFurtherRight) {
    // A square from x = 40.25 to 60.25 takes the pixels whose centres it holds: 40..59 when plain,
    // 41..60 under a filter (an identity colour matrix), as Flash Player draws filtered objects;
    // a blend mode alone moves nothing.
    Filter identity;
    identity.kind = Filter::Kind::ColorMatrix;
    identity.matrix = {1, 0, 0, 0, 0, /**/ 0, 1, 0, 0, 0, /**/ 0, 0, 1, 0, 0, /**/ 0, 0, 0, 1, 0};
    struct Case {
        const char* name;
        std::uint8_t blendMode;
        FilterList filters;
        int first, last;
    };
    const Case cases[] = {{"plain", 0, {}, 40, 59},
                          {"blend mode", std::uint8_t(BlendMode::Multiply), {}, 40, 59},
                          {"filtered", 0, {identity}, 41, 60}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DisplayList list;
        list[1] = Object(1, Square(40, 40, 60, 60, Red), c.blendMode, c.filters);
        list[1].matrix.tx = 0.25 * Twips;
        const QImage image = Render(list);
        EXPECT_TRUE(Near(image, c.first - 1, 50, QColor(255, 255, 255), 0));
        EXPECT_TRUE(Near(image, c.first, 50, QColor(255, 0, 0), 0));
        EXPECT_TRUE(Near(image, c.last, 50, QColor(255, 0, 0), 0));
        EXPECT_TRUE(Near(image, c.last + 1, 50, QColor(255, 255, 255), 0));
    }
}

TEST(Effects, BlurSpreadsColourAboutItsRadius) {
    Filter blur;
    blur.kind = Filter::Kind::Blur;
    blur.blurX = blur.blurY = 10;
    blur.passes = 1;
    const QImage image = Filtered(blur);
    EXPECT_TRUE(Near(image, 50, 50, QColor(255, 0, 0)));
    EXPECT_LT(image.pixelColor(62, 50).green(), 200); // beyond the edge, within the radius
    EXPECT_TRUE(Near(image, 67, 50, QColor(255, 255, 255)));
    EXPECT_LT(image.pixelColor(58, 50).green(), image.pixelColor(62, 50).green());
    // More passes reach further.
    blur.passes = 3;
    EXPECT_LT(Filtered(blur).pixelColor(67, 50).green(), 250);
}

TEST(Effects, DropShadowLiesAtItsOffsetWithItsColour) {
    Filter shadow = Shadowing(Filter::Kind::DropShadow, Black, 0, 10); // angle 0: to the right
    QImage image = Filtered(shadow);
    EXPECT_TRUE(Near(image, 50, 50, QColor(255, 0, 0)));
    EXPECT_TRUE(Near(image, 65, 50, QColor(0, 0, 0)));
    EXPECT_TRUE(Near(image, 35, 50, QColor(255, 255, 255)));
    EXPECT_TRUE(Near(image, 65, 65, QColor(255, 255, 255)));
    shadow.compositeSource = false; // hide the object
    image = Filtered(shadow);
    EXPECT_TRUE(Near(image, 55, 50, QColor(0, 0, 0)));
    EXPECT_TRUE(Near(image, 45, 50, QColor(255, 255, 255)));
    shadow.compositeSource = true;
    shadow.knockout = true;
    image = Filtered(shadow);
    EXPECT_TRUE(Near(image, 55, 50, QColor(255, 255, 255)));
    EXPECT_TRUE(Near(image, 65, 50, QColor(0, 0, 0)));
    // An inner shadow darkens the object's left side inside it (the shadow of the outside falls right).
    shadow = Shadowing(Filter::Kind::DropShadow, Black, 0, 5);
    shadow.inner = true;
    image = Filtered(shadow);
    EXPECT_TRUE(Near(image, 42, 50, QColor(0, 0, 0)));
    EXPECT_TRUE(Near(image, 55, 50, QColor(255, 0, 0)));
    EXPECT_TRUE(Near(image, 38, 50, QColor(255, 255, 255)));
}

TEST(Effects, GlowSurroundsOrFillsTheEdge) {
    Filter glow = Shadowing(Filter::Kind::Glow, Rgba{0, 0, 255, 255}, 8);
    glow.strength = 2;
    QImage image = Filtered(glow);
    EXPECT_TRUE(Near(image, 50, 50, QColor(255, 0, 0)));
    const QColor outside = image.pixelColor(62, 50);
    EXPECT_LT(outside.red(), 200);
    EXPECT_GT(outside.blue(), 200);
    EXPECT_TRUE(Near(image, 80, 50, QColor(255, 255, 255)));
    glow.inner = true;
    image = Filtered(glow);
    EXPECT_TRUE(Near(image, 62, 50, QColor(255, 255, 255)));
    EXPECT_GT(image.pixelColor(59, 50).blue(), 100);
    EXPECT_TRUE(Near(image, 50, 50, QColor(255, 0, 0)));
}

TEST(Effects, BevelLightsOneEdgeAndShadesTheOpposite) {
    Filter bevel = Shadowing(Filter::Kind::Bevel, Black, 2, 3);
    bevel.colors = {White, Black}; // highlight, shadow
    bevel.angle = M_PI / 4;
    bevel.inner = true;
    const QImage image = Filtered(bevel);
    EXPECT_GT(image.pixelColor(41, 41).green(), 100); // highlight at the top left
    EXPECT_LT(image.pixelColor(58, 58).red(), 128);   // shadow at the bottom right
    EXPECT_TRUE(Near(image, 50, 50, QColor(255, 0, 0)));
    EXPECT_TRUE(Near(image, 30, 30, QColor(255, 255, 255)));
}

TEST(Effects, ColourMatrixAndConvolutionChangeColours) {
    Filter swap;
    swap.kind = Filter::Kind::ColorMatrix;
    swap.matrix = {0, 0, 1, 0, 0, /**/ 0, 1, 0, 0, 0, /**/ 1, 0, 0, 0, 0, /**/ 0, 0, 0, 1, 0};
    EXPECT_TRUE(Near(Filtered(swap), 50, 50, QColor(0, 0, 255)));

    Filter convolution;
    convolution.kind = Filter::Kind::Convolution;
    convolution.matrixX = convolution.matrixY = 1;
    convolution.matrix = {1};
    convolution.divisor = 2;
    convolution.bias = 64;
    convolution.preserveAlpha = true;
    EXPECT_TRUE(Near(Filtered(convolution), 50, 50, QColor(192, 64, 64)));
    // A kernel that takes the left neighbour moves the square one pixel right.
    convolution.matrixX = 3;
    convolution.matrix = {1, 0, 0};
    convolution.divisor = 1;
    convolution.bias = 0;
    convolution.preserveAlpha = false;
    const QImage moved = Filtered(convolution);
    EXPECT_TRUE(Near(moved, 60, 50, QColor(255, 0, 0)));
    EXPECT_TRUE(Near(moved, 40, 50, QColor(255, 255, 255)));
}

TEST(Effects, FilterListsReadBackFromTheirBytes) {
    Filter shadow = Shadowing(Filter::Kind::DropShadow, Rgba{1, 2, 3, 4}, 6.5, 4);
    shadow.angle = 0.75;
    shadow.strength = 1.5;
    shadow.knockout = true;
    shadow.passes = 3;
    Filter bevel = Shadowing(Filter::Kind::GradientBevel, Red, 2, 1);
    bevel.colors = {Red, Black, White};
    bevel.ratios = {0, 128, 255};
    bevel.onTop = true;
    bevel.passes = 15;
    Filter convolution;
    convolution.kind = Filter::Kind::Convolution;
    convolution.matrixX = 2;
    convolution.matrixY = 1;
    convolution.matrix = {0.5f, -1};
    convolution.divisor = 3;
    convolution.defaultColor = Red;
    convolution.clamp = false;
    Filter matrix;
    matrix.kind = Filter::Kind::ColorMatrix;
    matrix.matrix.assign(20, 0.25f);
    const FilterList filters = {shadow, bevel, convolution, matrix};
    EXPECT_EQ(ReadFilters(writer::FilterListBytes(filters)), filters);

    // A list cut short keeps the whole records before the cut; an unknown kind ends the list.
    const QByteArray bytes = writer::FilterListBytes(filters);
    EXPECT_EQ(ReadFilters(bytes.left(bytes.size() - 4)), FilterList(filters.begin(), filters.end() - 1));
    QByteArray unknown = writer::FilterListBytes({shadow, matrix});
    unknown[1 + 1 + 4 + 4 * 4 + 2 + 1] = char(9);
    EXPECT_EQ(ReadFilters(unknown), FilterList{shadow});
}
