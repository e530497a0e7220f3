// Clip methods and properties that ask where a clip is and what it shows (getBounds, hitTest,
// localToGlobal, depths, createEmptyMovieClip, _width, _name, _target, _xmouse, _droptarget), and
// clips that take the mouse as buttons through their handlers; checked by trace() lines.
#include "FuzzMovies.h"
#include "ReadBack.h"
#include "ScriptAssembler.h"
#include "SwfWriter.h"
#include "TraceRun.h"
#include "flash/player/Player.h"

#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

constexpr std::uint16_t TwoBoxes = 1, Cover = 2, BoxSprite = 10, Nest = 11, ButtonId = 12;

QByteArray A(const QString& source) {
    return Assemble(source);
}

// clip.member = function () { body }
QByteArray SetHandler(const QString& clip, const QString& member, const QByteArray& body) {
    return A(QStringLiteral("'%1' GetVariable '%2'").arg(clip, member)) + DefineFunction({}, {}, body) +
           A("SetMember");
}

// A handler tracing its name and this clip's _name.
QByteArray TracingHandler(const QString& clip, const QString& member) {
    return SetHandler(clip, member,
                      A(QStringLiteral("'%1 ' 'this' GetVariable '_name' GetMember Add2 Trace").arg(member)));
}

PlaceObject Placed(std::uint16_t id, std::uint16_t depth, const char* name, const Matrix& matrix) {
    PlaceObject place = Place(id, depth);
    place.name = QString::fromLatin1(name);
    place.matrix = matrix;
    return place;
}

// The stage (400 x 400 px): "a", a sprite holding two 20 px boxes at the corners of a 100 px square
// (its middle is empty), at (100, 50) px scaled by 2; "outer" at (0, 0) holding the same sprite as
// "inner" at (300, 300) px; under "a", a button covering it whose release traces "button".
// The script runs on the first frame after them.
QByteArray MovieWith(const QByteArray& script) {
    MovieBuilder movie;
    movie.Stage({0, 8000, 0, 8000});
    movie.Add(DefineShape(
        ShapeDefinition()
            .Id(TwoBoxes)
            .Bounds({0, 2000, 0, 2000})
            .Fills({Solid({255, 0, 0, 255})})
            .Records(ShapeRecords().Fill0(1).Box(0, 0, 400, 400).Fill0(1).Box(1600, 1600, 2000, 2000))));
    movie.Add(DefineShape(ShapeDefinition()
                              .Id(Cover)
                              .Bounds({0, 8000, 0, 8000})
                              .Fills({Solid({0, 0, 255, 255})})
                              .Records(ShapeRecords().Fill0(1).Box(0, 0, 8000, 8000))));
    movie.Add(DefineSprite(BoxSprite, 1, PlaceObjectTag(Place(TwoBoxes, 1)) + ShowFrame()));
    movie.Add(DefineSprite(Nest, 1,
                           PlaceObjectTag(Placed(BoxSprite, 1, "inner", Matrix{1, 0, 0, 1, 6000, 6000})) +
                               ShowFrame()));
    movie.Add(DefineButton2(ButtonId, {{ButtonRecord::Up | ButtonRecord::HitTest, Cover, 1, {}, {}}},
                            {{OverDownToOverUp, ActionCode().PushString("button").Op(action::Trace)}}));
    movie.Add(PlaceObjectTag(Place(ButtonId, 1)));
    movie.Add(PlaceObjectTag(Placed(BoxSprite, 2, "a", Matrix{2, 0, 0, 2, 2000, 1000})));
    movie.Add(PlaceObjectTag(Placed(Nest, 3, "outer", Matrix{})));
    movie.Add(Tag(12, script + QByteArray(1, '\0')));
    movie.Add(ShowFrame());
    return movie.Build();
}

struct Session : tracing::TraceSession {
    explicit Session(const QByteArray& script) : TraceSession(MovieWith(script)) {}
};

QStringList Traced(const QByteArray& script) {
    return tracing::TracedMovie(MovieWith(script));
}

// trace(r:1.xMin), ..., for a bounds object in register 1.
QByteArray TraceBox() {
    return A(
        "r:1 'xMin' GetMember ',' Add2 r:1 'xMax' GetMember Add2 ',' Add2 r:1 'yMin' GetMember Add2 ',' Add2 "
        "r:1 'yMax' GetMember Add2 Trace");
}

using tracing::Case;

} // namespace

TEST(ClipGeometry, BoundsSizesHitsAndPoints) {
    const std::vector<Case> cases = {
        {"getBounds in its own and the stage's coordinates",
         A("0 'a' GetVariable 'getBounds' CallMethod store:1 Pop") + TraceBox() +
             A("'_root' GetVariable 1 'a' GetVariable 'getBounds' CallMethod store:1 Pop") + TraceBox(),
         {"0,100,0,100", "100,300,50,250"}},
        {"getBounds of a nested clip in another clip's coordinates",
         A("'a' GetVariable 1 'outer.inner' GetVariable 'getBounds' CallMethod store:1 Pop") + TraceBox(),
         {"100,150,125,175"}},
        {"an empty clip's bounds",
         A("5 'e' 2 '_root' GetVariable 'createEmptyMovieClip' CallMethod Pop "
           "0 'e' GetVariable 'getBounds' CallMethod store:1 Pop") +
             TraceBox() + A("'e' GetVariable '_width' GetMember Trace"),
         {"6710886.35,6710886.35,6710886.35,6710886.35", "0"}},
        {"_width and _height in the parent, and setting them scales",
         A("'a' GetVariable '_width' GetMember Trace 'a' GetVariable '_height' GetMember Trace "
           "'a' GetVariable '_width' 50 SetMember 'a' GetVariable '_xscale' GetMember Trace "
           "'a' GetVariable '_width' GetMember Trace"),
         {"200", "200", "50", "50"}},
        {"hitTest by box, by shape, and against another clip",
         A("false 150 200 3 'a' GetVariable 'hitTest' CallMethod Trace "
           "true 150 200 3 'a' GetVariable 'hitTest' CallMethod Trace "
           "true 55 105 3 'a' GetVariable 'hitTest' CallMethod Trace "
           "false 55 99 3 'a' GetVariable 'hitTest' CallMethod Trace "
           "'outer.inner' GetVariable 1 'a' GetVariable 'hitTest' CallMethod Trace "
           "'a' GetVariable 1 'a' GetVariable 'hitTest' CallMethod Trace"),
         {"true", "false", "true", "false", "false", "true"}},
        {"localToGlobal and globalToLocal change the point in place",
         A("'x' 10 'y' 10 2 InitObject store:1 Pop r:1 1 'a' GetVariable 'localToGlobal' CallMethod Pop "
           "r:1 'x' GetMember Trace r:1 'y' GetMember Trace "
           "r:1 1 'outer.inner' GetVariable 'globalToLocal' CallMethod Pop "
           "r:1 'x' GetMember Trace r:1 'y' GetMember Trace"),
         {"120", "70", "-180", "-230"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Traced(c.script.code), c.lines);
    }
}

TEST(ClipGeometry, DepthsNamesAndTargets) {
    const std::vector<Case> cases = {
        {"timeline depths count below 0, the main timeline at -16384",
         A("0 'a' GetVariable 'getDepth' CallMethod Trace 0 '_root' GetVariable 'getDepth' CallMethod Trace "
           "0 '_root' GetVariable 'getNextHighestDepth' CallMethod Trace"),
         {"-16382", "-16384", "0"}},
        {"createEmptyMovieClip returns a named clip at the depth, found there",
         A("7 'e' 2 '_root' GetVariable 'createEmptyMovieClip' CallMethod store:1 Pop "
           "r:1 '_name' GetMember Trace r:1 '_target' GetMember Trace r:1 '_totalframes' GetMember Trace "
           "0 '_root' GetVariable 'getNextHighestDepth' CallMethod Trace "
           "7 1 '_root' GetVariable 'getInstanceAtDepth' CallMethod '_name' GetMember Trace "
           "'e' GetVariable '_x' 30 SetMember 'e' GetVariable '_x' GetMember Trace"),
         {"e", "/e", "1", "8", "e", "30"}},
        {"a clip inside a made clip",
         A("1 'e' 2 '_root' GetVariable 'createEmptyMovieClip' CallMethod store:1 Pop "
           "0 'f' 2 r:1 'createEmptyMovieClip' CallMethod '_target' GetMember Trace "
           "'e.f' GetVariable '_parent' GetMember '_name' GetMember Trace"),
         {"/e/f", "e"}},
        {"swapDepths by number and with another clip",
         A("10 1 'a' GetVariable 'swapDepths' CallMethod Pop 0 'a' GetVariable 'getDepth' CallMethod Trace "
           "-16382 1 '_root' GetVariable 'getInstanceAtDepth' CallMethod Trace "
           "'outer' GetVariable 1 'a' GetVariable 'swapDepths' CallMethod Pop "
           "0 'a' GetVariable 'getDepth' CallMethod Trace 0 'outer' GetVariable 'getDepth' CallMethod Trace "
           "0 '_root' GetVariable 'getNextHighestDepth' CallMethod Trace"),
         {"10", "undefined", "-16381", "10", "11"}},
        {"a clip with another parent does not trade places",
         A("'outer.inner' GetVariable 1 'a' GetVariable 'swapDepths' CallMethod Pop "
           "0 'a' GetVariable 'getDepth' CallMethod Trace"),
         {"-16382"}},
        {"out-of-range and missing depths change nothing",
         A("70000 1 'a' GetVariable 'swapDepths' CallMethod Pop 0 'a' GetVariable 'getDepth' CallMethod "
           "Trace "
           "'x' 1 'a' GetVariable 'swapDepths' CallMethod Pop 0 'a' GetVariable 'getDepth' CallMethod Trace "
           "-1 'n' 2 '_root' GetVariable 'createEmptyMovieClip' CallMethod Trace"),
         {"-16382", "-16382", "undefined"}},
        {"_name, _target, and renaming",
         A("'outer.inner' GetVariable '_target' GetMember Trace '_root' GetVariable '_target' GetMember "
           "Trace "
           "'outer.inner' GetVariable '_name' GetMember Trace "
           "'a' GetVariable '_name' 'b' SetMember 'b' GetVariable '_x' GetMember Trace "
           "'a' GetVariable Trace"),
         {"/outer/inner", "/", "inner", "100", "undefined"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Traced(c.script.code), c.lines);
    }
}

TEST(ClipGeometry, MouseInClipCoordinatesAndDropTarget) {
    Session run(
        SetHandler("_root", "onMouseMove",
                   A("'a' GetVariable '_xmouse' GetMember ',' Add2 'a' GetVariable '_ymouse' GetMember "
                     "Add2 Trace 'outer.inner' GetVariable '_droptarget' GetMember Trace")) +
        A("true 1 'outer.inner' GetVariable 'startDrag' CallMethod Pop"));
    ASSERT_TRUE(run.player);
    // Over one of a's boxes: the dragged clip follows, and a is under it.
    run.player->MouseMove(110 * 20, 60 * 20);
    EXPECT_EQ(run.Take(), (QStringList{"5,5", "/a"}));
    // Over a's empty middle: nothing clip-like is under the pointer.
    run.player->MouseMove(200 * 20, 150 * 20);
    EXPECT_EQ(run.Take(), (QStringList{"50,50", ""}));
}

TEST(ClipButtons, HandlersRunAsForAButtonOverTheClipsShapes) {
    QByteArray script;
    for (const char* name :
         {"onRollOver", "onRollOut", "onPress", "onRelease", "onReleaseOutside", "onDragOut", "onDragOver"})
        script += TracingHandler("a", QLatin1String(name));
    Session run(script);
    ASSERT_TRUE(run.player);
    const auto at = [](double x, double y) { return QPointF(x * 20, y * 20); };
    const QPointF box = at(105, 55), middle = at(200, 150), away = at(390, 10);
    run.player->MouseMove(middle.x(), middle.y());
    EXPECT_EQ(run.Take(), QStringList{}) << "the empty middle is not the clip's";
    run.player->MouseMove(box.x(), box.y());
    run.player->MouseDown(box.x(), box.y());
    run.player->MouseUp(box.x(), box.y());
    run.player->MouseMove(away.x(), away.y());
    EXPECT_EQ(run.Take(), (QStringList{"onRollOver a", "onPress a", "onRelease a", "onRollOut a"}));
    run.player->MouseMove(box.x(), box.y());
    run.player->MouseDown(box.x(), box.y());
    run.player->MouseMove(away.x(), away.y());
    run.player->MouseMove(box.x(), box.y());
    run.player->MouseMove(away.x(), away.y());
    run.player->MouseUp(away.x(), away.y());
    EXPECT_EQ(run.Take(), (QStringList{"onRollOver a", "onPress a", "onDragOut a", "onDragOver a",
                                       "onDragOut a", "onReleaseOutside a"}));
}

TEST(ClipButtons, TakeTheMouseBeforeWhatIsUnderUnlessDisabled) {
    const struct {
        const char* name;
        QByteArray script;
        QStringList onBox, onMiddle;
    } cases[] = {
        {"enabled", TracingHandler("a", "onRelease"), {"onRelease a"}, {"button"}},
        {"disabled",
         TracingHandler("a", "onRelease") + A("'a' GetVariable 'enabled' false SetMember"),
         {"button"},
         {"button"}},
        {"hidden",
         TracingHandler("a", "onRelease") + A("'a' GetVariable '_visible' false SetMember"),
         {"button"},
         {"button"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Session run(c.script);
        ASSERT_TRUE(run.player);
        const auto click = [&](double x, double y) {
            run.player->MouseMove(x * 20, y * 20);
            run.player->MouseDown(x * 20, y * 20);
            run.player->MouseUp(x * 20, y * 20);
            return run.Take();
        };
        EXPECT_EQ(click(105, 55), c.onBox);
        EXPECT_EQ(click(200, 150), c.onMiddle) << "the clip's empty middle lets the button have it";
    }
}

TEST(ClipGeometry, TheFuzzersClipsMovieRunsEveryPart) {
    const auto movie = ReadBack(ClipsMovie());
    ASSERT_TRUE(movie);
    QStringList lines;
    Player player(movie, nullptr, [&lines](const QString& line) { lines << line; });
    // Over the turned clip, pressed: it starts dragging.
    player.MouseMove(200, 200);
    player.MouseDown(200, 200);
    player.MouseUp(200, 200);
    player.Tick();
    // Loads are refused: the movie was read from memory.
    EXPECT_EQ(lines, (QStringList{"50", "false", "4", "true", "undefined", "", "4.12607781562461", "",
                                  "Error opening URL \"x.swf\": the movie was not read from a file",
                                  "Error opening URL \"y.swf\": the movie was not read from a file"}));
}
