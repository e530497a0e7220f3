// Shapes scripts draw in clips (moveTo, lineTo, beginFill ...): they render as the same shape written
// in the movie does, beneath the clip's children, moving with the clip and staying when its timeline
// loops; the drawing's own limits and bounds.
#include "flash/player/Drawing.h"
#include "FuzzMovies.h"
#include "PixelCheck.h"
#include "ReadBack.h"
#include "ScriptAssembler.h"
#include "SwfWriter.h"
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

// 100 x 100 pixels.
constexpr Rect StageRect{0, 2000, 0, 2000};

QByteArray DoAction(const QString& source) {
    return Tag(12, Assemble(source) + QByteArray(1, '\0'));
}

// target.method(args...), its result dropped; args in the order written.
QString Call(const QString& target, const QString& method, const QStringList& args = {}) {
    QStringList reversed(args.rbegin(), args.rend());
    return QStringLiteral("%1 %2 '%3' GetVariable '%4' CallMethod Pop ")
        .arg(reversed.join(u' '))
        .arg(args.size())
        .arg(target, method);
}

// An array literal of the values, as a script pushes it.
QString Array(const QStringList& values) {
    QStringList reversed(values.rbegin(), values.rend());
    return QStringLiteral("%1 %2 InitArray").arg(reversed.join(u' ')).arg(values.size());
}

QImage Render(const QByteArray& movieBytes, int ticks = 0) {
    const auto movie = ReadBack(movieBytes);
    if (!movie)
        return {};
    Player player(movie);
    for (int i = 0; i < ticks; ++i)
        player.Tick();
    Renderer renderer;
    QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    renderer.RenderStage(painter, *movie, player.Stage(), image.size(), player.BackgroundColor());
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage RenderScript(const QString& script) {
    return Render(MovieBuilder().Stage(StageRect).Add(DoAction(script)).Add(ShowFrame()).Build());
}

} // namespace

TEST(ScriptDrawing, DrawsExactlyAsTheSameShapeWrittenInTheMovie) {
    // A half-transparent fill bounded by a line and a curve, closed by an edge without a line.
    const QImage drawn = RenderScript(
        Call("_root", "lineStyle", {"4", "255", "100"}) + Call("_root", "beginFill", {"16711680", "50"}) +
        Call("_root", "moveTo", {"10", "10"}) + Call("_root", "lineTo", {"90", "10"}) +
        Call("_root", "curveTo", {"90", "90", "10", "90"}) + Call("_root", "endFill"));
    FillStyle fill = Solid({255, 0, 0, 128});
    const QByteArray shape = DefineShape(ShapeDefinition()
                                             .Version(3)
                                             .Id(1)
                                             .Bounds(StageRect)
                                             .Fills({fill})
                                             .Lines({Line(80, {0, 0, 255, 255})})
                                             .Records(ShapeRecords()
                                                          .MoveTo(200, 200)
                                                          .Fill1(1)
                                                          .Line(1)
                                                          .LineTo(1800, 200)
                                                          .CurveTo(1800, 1800, 200, 1800)
                                                          .Line(0)
                                                          .LineTo(200, 200)));
    const QImage written = Render(
        MovieBuilder().Stage(StageRect).Add(shape).Add(PlaceObjectTag(Place(1, 1))).Add(ShowFrame()).Build());
    ASSERT_FALSE(drawn.isNull());
    EXPECT_EQ(drawn, written);
    EXPECT_TRUE(PixelNear(drawn, 40, 40, QColor(255, 127, 127), 2, false)); // the fill over white
    EXPECT_TRUE(PixelNear(drawn, 50, 10, QColor(0, 0, 255), 0, false));     // the line
}

TEST(ScriptDrawing, SpriteDrawingIsBeneathItsChildrenMovesWithItAndStaysWhenItLoops) {
    // A sprite of two frames holding a green box (0..20 px) at x = 50 px; the root draws a red square
    // (0..40 px) in it.
    PlaceObject placed = Place(2, 1);
    placed.name = QStringLiteral("clip");
    placed.matrix = Matrix{1, 0, 0, 1, 1000, 0};
    const QByteArray movie =
        MovieBuilder()
            .Stage(StageRect)
            .Add(DefineShape(ShapeDefinition()
                                 .Id(1)
                                 .Fills({Solid({0, 255, 0})})
                                 .Records(ShapeRecords().Fill0(1).Box(0, 0, 400, 400))))
            .Add(DefineSprite(2, 2, PlaceObjectTag(Place(1, 1)) + ShowFrame() + ShowFrame()))
            .Add(PlaceObjectTag(placed))
            .Add(DoAction(Call("clip", "beginFill", {"16711680"}) + Call("clip", "lineTo", {"40", "0"}) +
                          Call("clip", "lineTo", {"40", "40"}) + Call("clip", "lineTo", {"0", "40"})))
            .Add(ShowFrame())
            .Build();
    for (const int ticks : {0, 3}) {
        SCOPED_TRACE(ticks);
        const QImage image = Render(movie, ticks);
        ASSERT_FALSE(image.isNull());
        EXPECT_TRUE(PixelNear(image, 55, 5, QColor(0, 255, 0), 0, false));      // the child, above
        EXPECT_TRUE(PixelNear(image, 80, 30, QColor(255, 0, 0), 0, false));     // the drawing
        EXPECT_TRUE(PixelNear(image, 20, 20, QColor(255, 255, 255), 0, false)); // nothing on the root
    }
}

TEST(ScriptDrawing, StylesAndCommandsAsFlashPlayerTakesThem) {
    const QString square = Call("_root", "moveTo", {"20", "20"}) + Call("_root", "lineTo", {"80", "20"}) +
                           Call("_root", "lineTo", {"80", "80"}) + Call("_root", "lineTo", {"20", "80"}) +
                           Call("_root", "lineTo", {"20", "20"});
    const QString red = Call("_root", "beginFill", {"16711680"});
    struct Case {
        const char* name;
        QString script;
        QColor inside, onEdge; // at (50, 50) and (50, 20)
    } cases[] = {
        {"clear erases and drops the line",
         Call("_root", "lineStyle", {"2"}) + red + square + Call("_root", "clear") + square, Qt::white,
         Qt::white},
        {"lineStyle() takes the line away",
         Call("_root", "lineStyle", {"4"}) + Call("_root", "lineStyle") + red + square, Qt::red, Qt::red},
        {"a move missing a coordinate is ignored",
         red + Call("_root", "moveTo", {"60"}) + square + Call("_root", "endFill"), Qt::red, Qt::red},
        {"beginFill without a colour fills nothing", Call("_root", "beginFill") + square, Qt::white,
         Qt::white},
        {"a later fill covers the earlier fill's line",
         Call("_root", "lineStyle", {"10", "255"}) + red + square + Call("_root", "lineStyle") +
             Call("_root", "beginFill", {"65280"}) + Call("_root", "moveTo", {"0", "0"}) +
             Call("_root", "lineTo", {"100", "0"}) + Call("_root", "lineTo", {"100", "30"}) +
             Call("_root", "lineTo", {"0", "30"}) + Call("_root", "endFill"),
         Qt::red, Qt::green},
        {"one fill's outlines overlapping leave a hole",
         red + square + Call("_root", "moveTo", {"40", "40"}) + Call("_root", "lineTo", {"60", "40"}) +
             Call("_root", "lineTo", {"60", "60"}) + Call("_root", "lineTo", {"40", "60"}),
         Qt::white, Qt::red},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = RenderScript(c.script);
        ASSERT_FALSE(image.isNull());
        EXPECT_TRUE(PixelNear(image, 50, 50, c.inside, 0, false));
        EXPECT_TRUE(PixelNear(image, 50, 20, c.onEdge, 0, false));
    }
}

TEST(ScriptDrawing, GradientFillsTakeTheBoxOrAMatrix) {
    const QString colors = Array({"0", "16777215"}), alphas = Array({"100", "100"}),
                  ratios = Array({"0", "255"});
    const QString box = "'matrixType' 'box' 'x' 0 'y' 0 'w' 100 'h' 100 'r' 0 6 InitObject";
    // The same gradient as a matrix: 100 px wide, centred at 50, 50.
    const QString matrix = "'a' 0.0610351562 'b' 0 'c' 0 'd' 0.0610351562 'tx' 50 'ty' 50 6 InitObject";
    const QString square = Call("_root", "lineTo", {"100", "0"}) + Call("_root", "lineTo", {"100", "100"}) +
                           Call("_root", "lineTo", {"0", "100"}) + Call("_root", "endFill");
    for (const QString& given : {box, matrix}) {
        SCOPED_TRACE(given.toStdString());
        const QImage image = RenderScript(
            Call("_root", "beginGradientFill", {"'linear'", colors, alphas, ratios, given}) + square);
        ASSERT_FALSE(image.isNull());
        EXPECT_LT(qRed(image.pixel(3, 50)), 20);
        EXPECT_TRUE(PixelNear(image, 50, 50, QColor(128, 128, 128), 6, false));
        EXPECT_GT(qRed(image.pixel(96, 50)), 235);
    }
    // Arrays that are missing leave the shape unfilled.
    const QImage none = RenderScript(Call("_root", "beginGradientFill", {"'linear'", colors}) + square);
    EXPECT_TRUE(PixelNear(none, 50, 50, Qt::white, 0, false));
}

TEST(ScriptDrawing, TheFuzzMovieDrawsAndSetsEffectsThenClears) {
    const auto movie = ReadBack(DrawingMovie());
    ASSERT_TRUE(movie);
    QStringList lines;
    Player player(movie, nullptr, [&lines](const QString& line) { lines.push_back(line); });
    EXPECT_EQ(lines, QStringList{"[object Object],[object Object]"}); // the two filters read back
    const DisplayList& stage = player.Stage();
    ASSERT_TRUE(ScriptHost::DrawingIn(stage));
    EXPECT_FALSE(ScriptHost::DrawingIn(stage)->Empty());
    const DisplayObject& clip = stage.at(1);
    ASSERT_TRUE(clip.filters);
    EXPECT_EQ(clip.filters->size(), 2u);
    EXPECT_EQ(clip.blendMode, std::uint8_t(BlendMode::Screen));
    EXPECT_EQ(clip.matrix.tx, 100); // the transform's matrix, 5 px
    ASSERT_TRUE(ScriptHost::DrawingIn(clip.sprite->displayList));
    EXPECT_FALSE(ScriptHost::DrawingIn(clip.sprite->displayList)->Empty());
    player.Tick(); // the second frame clears the main timeline's drawing
    EXPECT_TRUE(ScriptHost::DrawingIn(stage)->Empty());
}

TEST(Drawing, BoundsCoverLinesAndCurvesAndTheEdgesStopAtTheLimit) {
    Drawing drawing;
    EXPECT_FALSE(drawing.Bounds());
    LineStyle line;
    line.width = 40; // 2 px
    drawing.SetLineStyle(line);
    drawing.MoveTo(10, 10);
    drawing.LineTo(30, 10);
    drawing.CurveTo(40, 30, 30, 50); // reaches x = 35 at its turn
    EXPECT_EQ(drawing.Bounds(), (Rect{180, 720, 180, 1020}));

    drawing.Clear();
    EXPECT_TRUE(drawing.Empty());
    drawing.LineTo(5, 5); // no line after clear: nothing drawn
    EXPECT_TRUE(drawing.Empty());

    drawing.SetLineStyle(line);
    for (std::size_t i = 0; i < Drawing::MaxEdges + 10; ++i)
        drawing.LineTo(double(i % 2), 0);
    const auto published = drawing.Publish();
    EXPECT_EQ(std::get<Shape>(*published).edges.size(), Drawing::MaxEdges);
}
