// Flash Player's picture in the cases real movies meet less often: alpha and erase outside a layer,
// the arithmetic of subtract and invert, shadows and glows in each of their modes, masks sharing or
// overlapping their clip depths, lines that keep their width or are hinted to pixels, and a background
// colour set again in later frames. Small scenes drawn through the renderer, checked by pixels.
#include "flash/player/DisplayList.h"
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"

#include "PixelCheck.h"
#include "ReadBack.h"
#include "SwfWriter.h"

#include <QImage>
#include <cmath>
#include <gtest/gtest.h>

using namespace flash;

namespace {

constexpr double Twips = 20;
const Rgba White{255, 255, 255, 255};
const Rgba Red{255, 0, 0, 255};
const Rgba Blue{0, 0, 255, 255};
const Rgba Grey{128, 128, 128, 255};

// A square from (x0, y0) to (x1, y1) in pixels.
std::shared_ptr<const Character> Square(int x0, int y0, int x1, int y1, Rgba color) {
    Shape shape;
    FillStyle fill;
    fill.color = color;
    shape.fillStyles.push_back(fill);
    const int xs[] = {x0, x1, x1, x0}, ys[] = {y0, y0, y1, y1};
    for (int i = 0; i < 4; ++i) {
        ShapeEdge e;
        e.fromX = std::int32_t(xs[i] * Twips);
        e.fromY = std::int32_t(ys[i] * Twips);
        e.toX = std::int32_t(xs[(i + 1) % 4] * Twips);
        e.toY = std::int32_t(ys[(i + 1) % 4] * Twips);
        e.fill0 = -1;
        e.fill1 = 0;
        shape.edges.push_back(e);
    }
    return std::make_shared<const Character>(std::move(shape));
}

DisplayObject Object(std::uint16_t depth, std::shared_ptr<const Character> character,
                     BlendMode mode = BlendMode::Normal) {
    DisplayObject object;
    object.depth = depth;
    object.character = std::move(character);
    object.blendMode = std::uint8_t(mode);
    return object;
}

DisplayObject Mask(std::uint16_t depth, std::uint16_t clipDepth, std::shared_ptr<const Character> area) {
    DisplayObject object = Object(depth, std::move(area));
    object.clipDepth = clipDepth;
    return object;
}

const auto AnySprite = std::make_shared<const Character>(Sprite{});

DisplayObject Group(std::uint16_t depth, DisplayList children, BlendMode mode = BlendMode::Normal,
                    FilterList filters = {}) {
    DisplayObject object = Object(depth, AnySprite, mode);
    object.sprite = std::make_shared<SpriteInstance>();
    object.sprite->sprite = &std::get<Sprite>(*AnySprite);
    object.sprite->displayList = std::move(children);
    if (!filters.empty())
        object.filters = std::make_shared<const FilterList>(std::move(filters));
    return object;
}

QImage Render(const DisplayList& list) {
    Movie movie;
    movie.frameSize = Rect{0, std::int32_t(100 * Twips), 0, std::int32_t(100 * Twips)};
    movie.backgroundColor = White;
    Renderer renderer;
    return renderer.RenderStage(movie, list, QSize(100, 100));
}

::testing::AssertionResult Exactly(const QImage& image, int x, int y, QColor expected) {
    return PixelNear(image, x, y, expected, 0, true);
}

// A horizontal red line across the stage at height y (pixels), `width` twips wide.
std::shared_ptr<const Character> HorizontalLine(double y, std::uint16_t width, bool keepsWidth, bool hinted) {
    Shape shape;
    LineStyle line;
    line.width = width;
    line.color = Red;
    line.startCap = line.endCap = LineStyle::Cap::None;
    line.noHScale = line.noVScale = keepsWidth;
    line.pixelHinting = hinted;
    shape.lineStyles.push_back(line);
    ShapeEdge e;
    e.fromX = 0;
    e.toX = 100 * Twips;
    e.fromY = e.toY = y * Twips;
    e.line = 0;
    shape.edges.push_back(e);
    return std::make_shared<const Character>(std::move(shape));
}

// The red rows of column x.
int RedRows(const QImage& image, int x) {
    int rows = 0;
    for (int y = 0; y < image.height(); ++y)
        rows += image.pixelColor(x, y) == QColor(255, 0, 0);
    return rows;
}

Filter IdentityMatrix() {
    Filter f;
    f.kind = Filter::Kind::ColorMatrix;
    f.matrix = {1, 0, 0, 0, 0, /**/ 0, 1, 0, 0, 0, /**/ 0, 0, 1, 0, 0, /**/ 0, 0, 0, 1, 0};
    return f;
}

} // namespace

TEST(Picture, AlphaAndEraseActOnlyOnTheirParentsLayer) {
    // A red square with a half-transparent black square over its right half, the black one in alpha
    // or erase mode. Outside a layer of its parent's it is drawn as any object: black over red.
    enum class Parent { Stage, Plain, Filtered, Layered, LayeredGrandparent };
    struct Case {
        const char* name;
        Parent parent;
        BlendMode mode;
        QColor right; // at (65, 50)
    };
    const QColor normal(128, 0, 0);
    const Case cases[] = {
        {"alpha on the stage", Parent::Stage, BlendMode::Alpha, normal},
        {"erase in a plain clip", Parent::Plain, BlendMode::Erase, normal},
        {"alpha in a filtered clip", Parent::Filtered, BlendMode::Alpha, normal},
        {"erase under a layer two levels up", Parent::LayeredGrandparent, BlendMode::Erase, normal},
        {"alpha in a layer", Parent::Layered, BlendMode::Alpha, QColor(255, 127, 127)},
        {"erase in a layer", Parent::Layered, BlendMode::Erase, QColor(255, 128, 128)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DisplayList children;
        children[1] = Object(1, Square(20, 20, 80, 80, Red));
        children[2] = Object(2, Square(50, 20, 80, 80, Rgba{0, 0, 0, 255}), c.mode);
        children[2].colorTransform.aMul = 0.5;
        DisplayList list;
        switch (c.parent) {
        case Parent::Stage:
            list = std::move(children);
            break;
        case Parent::Plain:
            list[1] = Group(1, std::move(children));
            break;
        case Parent::Filtered:
            list[1] = Group(1, std::move(children), BlendMode::Normal, {IdentityMatrix()});
            break;
        case Parent::Layered:
            list[1] = Group(1, std::move(children), BlendMode::Layer);
            break;
        case Parent::LayeredGrandparent: {
            DisplayList middle;
            middle[1] = Group(1, std::move(children));
            list[1] = Group(1, std::move(middle), BlendMode::Layer);
            break;
        }
        }
        const QImage image = Render(list);
        EXPECT_TRUE(PixelNear(image, 30, 50, QColor(255, 0, 0), 0, false));
        EXPECT_TRUE(PixelNear(image, 65, 50, c.right, 1, false));
        EXPECT_TRUE(PixelNear(image, 90, 50, QColor(255, 255, 255), 0, false));
    }
}

TEST(Picture, SubtractAndInvertWorkOnPremultipliedLevels) {
    // The object's square over a backdrop square, at full or half opacity: subtract takes the
    // object's premultiplied levels from the backdrop's; invert mixes the backdrop with its inverse.
    // Half opacity leaves a level of rounding to the object's alpha (127 or 128).
    struct Case {
        const char* name;
        BlendMode mode;
        Rgba object;
        double opacity;
        Rgba backdrop;
        QColor expected;
    };
    const Rgba Dark{0xDD, 0xA6, 0x00, 255};
    const Case cases[] = {
        {"subtract held at zero", BlendMode::Subtract, Rgba{0xAA, 0x22, 0x33, 255}, 1, Dark,
         QColor(0x33, 0x84, 0x00)},
        {"subtract half a red", BlendMode::Subtract, Red, 0.5, Grey, QColor(0, 128, 128)},
        {"subtract half a dark red", BlendMode::Subtract, Rgba{100, 0, 0, 255}, 0.5, Grey,
         QColor(78, 128, 128)},
        {"invert", BlendMode::Invert, Red, 1, Dark, QColor(0x22, 0x59, 0xFF)},
        {"invert at half", BlendMode::Invert, Red, 0.5, Rgba{200, 0, 255, 255}, QColor(127, 128, 127)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DisplayList list;
        list[1] = Object(1, Square(0, 0, 100, 100, c.backdrop));
        list[2] = Object(2, Square(40, 40, 60, 60, c.object), c.mode);
        list[2].colorTransform.aMul = c.opacity;
        const QImage image = Render(list);
        EXPECT_TRUE(PixelNear(image, 50, 50, c.expected, c.opacity < 1 ? 1 : 0, false));
        EXPECT_TRUE(PixelNear(image, 20, 50, QColor(c.backdrop.r, c.backdrop.g, c.backdrop.b), 0, false));
    }
}

TEST(Picture, ShadowsAndGlowsWithKnockoutInnerAndHiddenObject) {
    // A red square (40..60) on white; a hard black shadow 5 pixels along its angle, or a strong glow.
    // Probes: the square's middle, inside its left edge, just outside right, below and left of it.
    struct Case {
        const char* name;
        Filter::Kind kind;
        double angleDegrees;
        bool inner, knockout, hideObject;
        QColor middle, insideLeft, outsideRight, below, outsideLeft;
    };
    const QColor R(255, 0, 0), K(0, 0, 0), W(255, 255, 255);
    const Case cases[] = {
        {"shadow", Filter::Kind::DropShadow, 0, false, false, false, R, R, K, W, W},
        {"shadow knocked out", Filter::Kind::DropShadow, 0, false, true, false, W, W, K, W, W},
        {"shadow alone", Filter::Kind::DropShadow, 0, false, false, true, K, W, K, W, W},
        {"inner shadow", Filter::Kind::DropShadow, 0, true, false, false, R, K, W, W, W},
        {"inner shadow knocked out", Filter::Kind::DropShadow, 0, true, true, false, W, K, W, W, W},
        {"inner shadow alone", Filter::Kind::DropShadow, 0, true, false, true, W, K, W, W, W},
        {"shadow at 90 degrees", Filter::Kind::DropShadow, 90, false, false, false, R, R, W, K, W},
        {"shadow at 180 degrees", Filter::Kind::DropShadow, 180, false, false, false, R, R, W, W, K},
        {"glow", Filter::Kind::Glow, 0, false, false, false, R, R, K, K, K},
        {"glow knocked out", Filter::Kind::Glow, 0, false, true, false, W, W, K, K, K},
        {"inner glow", Filter::Kind::Glow, 0, true, false, false, R, K, W, W, W},
        {"inner glow knocked out", Filter::Kind::Glow, 0, true, true, false, W, K, W, W, W},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Filter f;
        f.kind = c.kind;
        f.colors = {Rgba{0, 0, 0, 255}};
        f.passes = 1;
        f.inner = c.inner;
        f.knockout = c.knockout;
        f.compositeSource = !c.hideObject;
        if (c.kind == Filter::Kind::DropShadow) {
            f.distance = 5;
            f.angle = c.angleDegrees * M_PI / 180;
        } else {
            f.blurX = f.blurY = 6;
            f.strength = 20;
        }
        DisplayList list;
        list[1] = Object(1, Square(40, 40, 60, 60, Red));
        list[1].filters = std::make_shared<const FilterList>(FilterList{f});
        const QImage image = Render(list);
        EXPECT_TRUE(PixelNear(image, 50, 50, c.middle, 8, false));
        EXPECT_TRUE(PixelNear(image, 42, 50, c.insideLeft, 8, false));
        EXPECT_TRUE(PixelNear(image, 62, 50, c.outsideRight, 8, false));
        EXPECT_TRUE(PixelNear(image, 50, 62, c.below, 8, false));
        EXPECT_TRUE(PixelNear(image, 38, 50, c.outsideLeft, 8, false));
    }
}

TEST(Picture, AShadowFallsOnTheStageFromAnObjectOffIt) {
    // A square left of the stage (-12..-4) with its shadow 20 pixels right, after a blur that
    // reaches less far: the shadow covers 8..15.
    Filter blur;
    blur.kind = Filter::Kind::Blur;
    blur.blurX = blur.blurY = 2;
    blur.passes = 1;
    Filter shadow;
    shadow.kind = Filter::Kind::DropShadow;
    shadow.colors = {Rgba{0, 0, 0, 255}};
    shadow.distance = 20;
    shadow.passes = 1;
    for (const FilterList& filters : {FilterList{shadow}, FilterList{blur, shadow}}) {
        SCOPED_TRACE(filters.size());
        DisplayList list;
        list[1] = Object(1, Square(-12, 40, -4, 60, Red));
        list[1].filters = std::make_shared<const FilterList>(filters);
        const QImage image = Render(list);
        EXPECT_TRUE(PixelNear(image, 11, 50, QColor(0, 0, 0), 8, false));
        EXPECT_TRUE(PixelNear(image, 20, 50, QColor(255, 255, 255), 0, false));
    }
}

TEST(Picture, MasksEndingAtOneDepthShowTheirUnionAndOthersCutEachOther) {
    // Two masks, the left half (depth 1) and the top half (depth 2), over a red square.
    const auto left = Square(0, 0, 50, 100, White), top = Square(0, 0, 100, 50, White);
    struct Case {
        const char* name;
        std::uint16_t leftClip, topClip, squareDepth;
        bool topLeft, topRight, bottomLeft, bottomRight;
    };
    const Case cases[] = {
        {"one clip depth", 5, 5, 5, true, true, true, false},
        {"nested", 6, 5, 5, true, false, false, false},
        {"overlapping, inside both", 5, 6, 5, true, false, false, false},
        {"overlapping, past the first", 5, 6, 6, true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DisplayList list;
        list[1] = Mask(1, c.leftClip, left);
        list[2] = Mask(2, c.topClip, top);
        list[c.squareDepth] = Object(c.squareDepth, Square(0, 0, 100, 100, Red));
        const QImage image = Render(list);
        auto shown = [&](int x, int y, bool red) {
            return Exactly(image, x, y, red ? QColor(255, 0, 0) : QColor(255, 255, 255));
        };
        EXPECT_TRUE(shown(25, 25, c.topLeft));
        EXPECT_TRUE(shown(75, 25, c.topRight));
        EXPECT_TRUE(shown(25, 75, c.bottomLeft));
        EXPECT_TRUE(shown(75, 75, c.bottomRight));
    }
}

TEST(Picture, LinesKeepingTheirWidthFollowEachScaleAndHintedOnesTakeWholePixels) {
    // One shape drawn by one renderer under a parent scaled 1, 3, then 1 again (about the line): a
    // line that keeps its width stays 2 pixels thick each time; a plain one grows with the parent.
    Movie movie;
    movie.frameSize = Rect{0, std::int32_t(100 * Twips), 0, std::int32_t(100 * Twips)};
    Renderer renderer;
    for (const bool keeps : {true, false}) {
        SCOPED_TRACE(keeps ? "keeps its width" : "scales");
        const auto line = HorizontalLine(0, 40, keeps, false);
        for (const double scale : {1.0, 3.0, 1.0}) {
            SCOPED_TRACE(scale);
            DisplayList children;
            children[1] = Object(1, line);
            DisplayList list;
            list[1] = Group(1, std::move(children));
            list[1].matrix = Matrix{scale, 0, 0, scale, 0, 50 * Twips};
            const QImage image = renderer.RenderStage(movie, list, QSize(100, 100));
            EXPECT_EQ(RedRows(image, 50), keeps ? 2 : int(2 * scale));
        }
    }
    // 2.6 pixels wide about y = 50.1: rows 49 and 50 hold their centres; hinted to 3 pixels, row 51
    // too.
    for (const bool hinted : {false, true}) {
        SCOPED_TRACE(hinted ? "hinted" : "not hinted");
        DisplayList list;
        list[1] = Object(1, HorizontalLine(50.1, 52, false, hinted));
        EXPECT_EQ(RedRows(Render(list), 50), hinted ? 3 : 2);
    }
}

TEST(Picture, TheFirstBackgroundColourStaysForGood) {
    using namespace writer;
    struct Case {
        const char* name;
        std::vector<std::optional<Rgba>> frames; // the colour each frame sets
        std::vector<Rgba> seen;                  // after each frame
    };
    const Case cases[] = {
        {"set again later", {Blue, Red, Grey}, {Blue, Blue, Blue}},
        {"first set in the second frame", {std::nullopt, Red, Blue}, {White, Red, Red}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MovieBuilder builder;
        builder.Stage({0, 2000, 0, 2000});
        for (const auto& color : c.frames) {
            if (color)
                builder.Add(SetBackgroundColorTag(*color));
            builder.Add(ShowFrame());
        }
        const auto movie = ReadBack(builder.Build());
        ASSERT_TRUE(movie);
        Player player(movie);
        for (std::size_t frame = 0; frame < c.seen.size(); ++frame) {
            SCOPED_TRACE(frame);
            player.GotoFrame(int(frame));
            EXPECT_EQ(player.BackgroundColor(), c.seen[frame]);
        }
        // Back to the start, as a loop goes: the colour stays.
        player.GotoFrame(0);
        EXPECT_EQ(player.BackgroundColor(), c.seen.back());
    }
}
