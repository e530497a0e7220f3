// flash.geom and flash.filters from scripts: the classes' arithmetic and text as Flash Player prints
// them, clip.transform reading and moving a clip, and clip.filters drawn exactly as a movie's own
// filters are.
#include "ReadBack.h"
#include "ScriptAssembler.h"
#include "SwfWriter.h"
#include "TraceRun.h"
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;
using flash::tracing::TraceOptions;

namespace {

QString Reversed(const QStringList& args) {
    return QStringList(args.rbegin(), args.rend()).join(u' ');
}

// new flash.<package>.<name>(args), left on the stack.
QString New(const QString& name, const QStringList& args = {}, const QString& package = "geom") {
    return QStringLiteral("%1 %2 'flash' GetVariable '%3' GetMember '%4' NewMethod ")
        .arg(Reversed(args))
        .arg(args.size())
        .arg(package, name);
}
// object.method(args) on the object the code before leaves on the stack, its result left there.
QString Call(const QString& object, const QString& method, const QStringList& args = {}) {
    return QStringLiteral("%1 %2 %3 '%4' CallMethod ")
        .arg(Reversed(args))
        .arg(args.size())
        .arg(object, method);
}
// A static function of a class: flash.geom.<name>.<method>(args).
QString Static(const QString& name, const QString& method, const QStringList& args) {
    return Call(QStringLiteral("'flash' GetVariable 'geom' GetMember '%1' GetMember").arg(name), method,
                args);
}

// A sprite of one green 20 x 20 px box, placed as "clip" at (10, 10) px on a 100 x 100 px stage;
// with a filter written in the movie when given; the script runs on the main timeline.
TraceOptions ClipOptions(const std::optional<Filter>& written = {}, int version = 10) {
    PlaceObject placed = Place(2, 1, 3);
    placed.name = QStringLiteral("clip");
    placed.matrix = Matrix{1, 0, 0, 1, 200, 200};
    if (written)
        placed.filters = {*written};
    TraceOptions options;
    options.version = version;
    options.stageTwips = 2000;
    options.before = DefineShape(ShapeDefinition()
                                     .Id(1)
                                     .Fills({Solid({0, 160, 0})})
                                     .Records(ShapeRecords().Fill0(1).Box(0, 0, 400, 400))) +
                     DefineSprite(2, 1, PlaceObjectTag(Place(1, 1)) + ShowFrame()) + PlaceObjectTag(placed);
    return options;
}

QByteArray ClipMovie(const QString& script, const std::optional<Filter>& written = {}) {
    return tracing::TraceMovie(script, ClipOptions(written));
}

QStringList Traced(const QString& script, int version = 10) {
    return tracing::Traced(script, ClipOptions({}, version));
}

using tracing::Case;

void Check(const std::vector<Case>& cases) {
    tracing::Check(cases, ClipOptions());
}

} // namespace

TEST(ScriptGeom, MatrixPointRectangleAndColorTransformAsFlashPlayerGivesThem) {
    const QString m = "r:1", p = "r:2", r = "r:3";
    Check({
        {"a new matrix, moved and scaled, inverted",
         New("Matrix") + "store:1 Trace " + Call(m, "translate", {"5", "6"}) + "Pop " +
             Call(m, "scale", {"2", "3"}) + "Pop r:1 Trace " + Call(m, "invert") + "Pop r:1 Trace",
         {"(a=1, b=0, c=0, d=1, tx=0, ty=0)", "(a=2, b=0, c=0, d=3, tx=10, ty=18)",
          "(a=0.5, b=0, c=0, d=0.333333333333333, tx=-5, ty=-6)"}},
        {"concat applies the given matrix after, points go through it",
         New("Matrix", {"1", "0", "0", "1", "10", "0"}) + "store:1 Pop " +
             Call(m, "concat", {New("Matrix", {"2", "0", "0", "3", "0", "1"})}) + "Pop r:1 Trace " +
             Call(m, "transformPoint", {New("Point", {"1", "1"})}) + "Trace " +
             Call(m, "deltaTransformPoint", {New("Point", {"1", "1"})}) + "Trace",
         {"(a=2, b=0, c=0, d=3, tx=20, ty=1)", "(x=22, y=4)", "(x=2, y=3)"}},
        {"createGradientBox fits the gradient square in the box",
         New("Matrix") + "store:1 Pop " + Call(m, "createGradientBox", {"1638.4", "819.2", "0", "10", "20"}) +
             "Pop r:1 Trace",
         {"(a=1, b=0, c=0, d=0.5, tx=829.2, ty=429.6)"}},
        {"points",
         New("Point", {"3", "4"}) + "store:2 'length' GetMember Trace " +
             Call(p, "add", {New("Point", {"1", "1"})}) + "Trace " +
             Static("Point", "distance", {p, New("Point", {"0", "0"})}) + "Trace " +
             Static("Point", "interpolate", {p, New("Point", {"7", "8"}), "0.25"}) + "Trace " +
             Call(p, "normalize", {"10"}) + "Pop r:2 Trace " + Call(p, "equals", {New("Point", {"6", "8"})}) +
             "Trace",
         {"5", "(x=4, y=5)", "5", "(x=6, y=7)", "(x=6, y=8)", "true"}},
        {"rectangles: edges follow the members, setting left keeps the right",
         New("Rectangle", {"10", "20", "30", "40"}) +
             "store:3 'right' GetMember Trace r:3 'bottom' GetMember Trace " +
             "r:3 'left' 0 SetMember r:3 Trace " + Call(r, "containsPoint", {New("Point", {"39", "59"})}) +
             "Trace " + Call(r, "intersection", {New("Rectangle", {"30", "50", "100", "100"})}) + "Trace " +
             Call(r, "union", {New("Rectangle", {"50", "0", "10", "10"})}) + "Trace " +
             Call(r, "intersection", {New("Rectangle", {"300", "0", "1", "1"})}) + "Trace",
         {"40", "60", "(x=0, y=20, w=40, h=40)", "true", "(x=30, y=50, w=10, h=10)", "(x=0, y=0, w=60, h=60)",
          "(x=0, y=0, w=0, h=0)"}},
        {"colour transforms: rgb sets one colour, concat applies the other first",
         New("ColorTransform") + "store:1 'rgb' 3368601 SetMember r:1 Trace r:1 'rgb' GetMember Trace " +
             New("ColorTransform", {"0.5", "1", "1", "1", "10", "0", "0", "0"}) + "store:2 Pop " +
             Call(p, "concat", {New("ColorTransform", {"2", "1", "1", "1", "20", "0", "0", "0"})}) +
             "Pop r:2 " + "'redMultiplier' GetMember Trace r:2 'redOffset' GetMember Trace",
         {"(redMultiplier=0, greenMultiplier=0, blueMultiplier=0, alphaMultiplier=1, redOffset=51, "
          "greenOffset=102, blueOffset=153, alphaOffset=0)",
          "3368601", "1", "20"}},
    });
}

TEST(ScriptGeom, TransformReadsAndMovesTheClip) {
    const QString transform = "'clip' GetVariable 'transform' GetMember ";
    Check({
        {"the placement as a matrix, in pixels",
         transform + "'matrix' GetMember Trace",
         {"(a=1, b=0, c=0, d=1, tx=10, ty=10)"}},
        {"a matrix set moves and scales the clip",
         transform + "'matrix' " + New("Matrix", {"2", "0", "0", "2", "5", "6"}) +
             "SetMember 'clip' GetVariable '_x' GetMember Trace 'clip' GetVariable '_xscale' GetMember Trace",
         {"5", "200"}},
        {"a colour transform set tints it, concatenated ones include the parents",
         transform + "'colorTransform' " + New("ColorTransform", {"1", "1", "1", "0.5", "0", "0", "0", "0"}) +
             "SetMember 'clip' GetVariable '_alpha' GetMember Trace " + transform +
             "'concatenatedColorTransform' GetMember 'alphaMultiplier' GetMember Trace " + transform +
             "'concatenatedMatrix' GetMember Trace",
         {"50", "0.5", "(a=1, b=0, c=0, d=1, tx=10, ty=10)"}},
        {"the main timeline has no placement",
         "'_root' GetVariable 'transform' GetMember 'matrix' GetMember Trace",
         {"(a=1, b=0, c=0, d=1, tx=0, ty=0)"}},
    });
}

TEST(ScriptFilters, SetFiltersReadBackAsCopiesAndBlendModesByName) {
    const QString clip = "'clip' GetVariable ";
    const QString glow = New("GlowFilter", {"255", "0.5", "8", "8", "3", "2", "true"}, "filters");
    Check({
        {"a filter set reads back with its members",
         clip + "'filters' " + glow + "1 InitArray SetMember " + clip +
             "'filters' GetMember 'length' GetMember Trace " + clip +
             "'filters' GetMember '0' GetMember store:1 'color' GetMember Trace r:1 'blurX' GetMember "
             "Trace " +
             "r:1 'inner' GetMember Trace r:1 'knockout' GetMember Trace r:1 'alpha' GetMember Trace",
         {"1", "255", "8", "true", "false", "0.501960784313725"}},
        {"defaults of an empty constructor",
         New("DropShadowFilter", {}, "filters") +
             "store:1 'distance' GetMember Trace r:1 'angle' GetMember Trace " + Call("r:1", "clone") +
             "'hideObject' GetMember Trace",
         {"4", "45", "false"}},
        {"anything not a filter is left out, an empty list takes them away",
         clip + "'filters' " + New("Point") + "1 InitArray SetMember " + clip +
             "'filters' GetMember 'length' GetMember Trace",
         {"0"}},
        {"blend modes by name or number",
         clip + "'blendMode' GetMember Trace " + clip + "'blendMode' 'multiply' SetMember " + clip +
             "'blendMode' GetMember Trace " + clip + "'blendMode' 12 SetMember " + clip +
             "'blendMode' GetMember Trace",
         {"normal", "multiply", "erase"}},
    });
    // Before version 8 the names are the clip's own variables.
    EXPECT_EQ(Traced(clip + "'filters' 5 SetMember " + clip + "'filters' GetMember Trace", 7),
              QStringList{"5"});
}

TEST(ScriptFilters, DrawExactlyAsTheSameFiltersWrittenInTheMovie) {
    Filter glow;
    glow.kind = Filter::Kind::Glow;
    glow.colors = {{0, 0, 255, 128}};
    glow.blurX = glow.blurY = 8;
    glow.strength = 3;
    glow.passes = 2;
    Filter shadow;
    shadow.kind = Filter::Kind::DropShadow;
    shadow.colors = {{255, 0, 0, 255}};
    shadow.blurX = shadow.blurY = 4;
    shadow.distance = 6;
    shadow.angle = 30 * M_PI / 180;
    shadow.passes = 1;
    shadow.compositeSource = false; // hideObject
    struct Case {
        const char* name;
        Filter written;
        QString script;
    } cases[] = {
        {"glow", glow, New("GlowFilter", {"255", "0.5", "8", "8", "3", "2"}, "filters")},
        {"drop shadow hiding its object", shadow,
         New("DropShadowFilter", {"6", "30", "16711680", "1", "4", "4", "1", "1", "false", "false", "true"},
             "filters")},
    };
    Renderer renderer;
    const auto render = [&renderer](const QByteArray& bytes) {
        const auto movie = ReadBack(bytes);
        if (!movie)
            return QImage();
        Player player(movie);
        QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        renderer.RenderStage(painter, *movie, player.Stage(), image.size(), player.BackgroundColor());
        return image;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage written = render(ClipMovie("", c.written));
        const QImage set =
            render(ClipMovie("'clip' GetVariable 'filters' " + c.script + "1 InitArray SetMember"));
        ASSERT_FALSE(set.isNull());
        EXPECT_EQ(set, written);
        EXPECT_NE(set, render(ClipMovie(""))); // the filter shows
    }
}
