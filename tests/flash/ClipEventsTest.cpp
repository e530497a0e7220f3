// Clip event handlers (onClipEvent): read from their placement, run on load, every frame, and on the
// mouse and keys, each on its own sprite.
#include "ReadBack.h"
#include "SwfWriter.h"
#include "flash/player/Player.h"
#include "flash/swf/SwfReader.h"

#include <functional>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

constexpr std::uint16_t SpriteId = 20;

// Sets variable name of the clip the handler runs on to value.
ActionCode Set(const QString& name, double value) {
    return ActionCode().PushString(name).PushDouble(value).SetVariable();
}

// _x += step, on the handler's own clip.
ActionCode MoveRight(double step) {
    return ActionCode()
        .PushString("_x")
        .PushString("_x")
        .GetVariable()
        .PushDouble(step)
        .Op(action::Add2)
        .SetVariable();
}

ClipAction Handler(std::uint32_t events, const ActionCode& code, std::uint8_t keyCode = 0) {
    return ClipAction{events, keyCode, code.Data()};
}

PlaceObject Clip(std::vector<ClipAction> handlers) {
    PlaceObject place = Place(SpriteId, 1);
    place.name = QStringLiteral("mc");
    place.clipActions = std::move(handlers);
    return place;
}

QByteArray MovieWith(const QByteArray& placement, int version = 10) {
    return MovieBuilder()
        .Version(version)
        .Stage({0, 4000, 0, 4000})
        .Add(DefineSprite(SpriteId, 1, ShowFrame()))
        .Add(placement)
        .Add(ShowFrame())
        .Build();
}

const PlaceObject* FirstPlacement(const Movie& movie) {
    for (const ControlTag& tag : movie.timeline.frames.at(0).tags)
        if (const auto* place = std::get_if<PlaceObject>(&tag))
            return place;
    return nullptr;
}

double X(const Player& player) {
    return player.Stage().at(1).matrix.tx / 20;
}

} // namespace

TEST(ClipEvents, HandlersReadBackWithTheirEventsAndKeys) {
    const PlaceObject written = Clip({Handler(ClipEventLoad | ClipEventEnterFrame, MoveRight(1)),
                                      Handler(ClipEventKeyPress, Set("k", 1), 13)});
    const auto movie = ReadBack(MovieWith(PlaceObjectTag(written)));
    ASSERT_TRUE(movie);
    const PlaceObject* read = FirstPlacement(*movie);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->clipActions, written.clipActions);

    // Flash 5 movies store 16-bit event fields: PlaceObject2 with a character, a name and handlers.
    const QByteArray code = Set("x", 1).Data();
    Bits flash5;
    flash5.U8(0x80 | 0x20 | 0x02).U16(1).U16(SpriteId).String("mc");
    flash5.U16(0).U16(ClipEventEnterFrame | ClipEventMouseDown);
    flash5.U16(ClipEventEnterFrame).U32(std::uint32_t(code.size())).Bytes(code);
    flash5.U16(ClipEventMouseDown).U32(std::uint32_t(code.size())).Bytes(code);
    flash5.U16(0);
    const auto old = ReadBack(MovieWith(Tag(26, flash5.Data()), 5));
    ASSERT_TRUE(old);
    const PlaceObject* place = FirstPlacement(*old);
    ASSERT_TRUE(place);
    EXPECT_EQ(place->name, QStringLiteral("mc"));
    EXPECT_EQ(place->clipActions,
              (std::vector<ClipAction>{{ClipEventEnterFrame, 0, code}, {ClipEventMouseDown, 0, code}}));
}

TEST(ClipEvents, DamagedHandlersAreDroppedAndThePlacementStands) {
    QByteArray tag = PlaceObjectTag(Clip({Handler(ClipEventLoad, Set("x", 1))}));
    // The handler's size, after the tag header (2), flags (1), depth, id (4), name (3), reserved
    // and all events (6), and its event field (4), says far more than the tag holds.
    tag[2 + 1 + 4 + 3 + 6 + 4] = char(0xFF);
    QStringList warnings;
    const auto movie = ReadBack(MovieWith(tag), &warnings);
    ASSERT_TRUE(movie);
    const PlaceObject* place = FirstPlacement(*movie);
    ASSERT_TRUE(place);
    EXPECT_EQ(place->characterId, SpriteId);
    EXPECT_TRUE(place->clipActions.empty());
    EXPECT_EQ(warnings.size(), 1);
}

TEST(ClipEvents, LoadRunsOnceAndEnterFrameEveryTickOnTheirOwnClip) {
    const auto movie = ReadBack(MovieWith(PlaceObjectTag(
        Clip({Handler(ClipEventLoad, Set("_x", 50)), Handler(ClipEventEnterFrame, MoveRight(10))}))));
    ASSERT_TRUE(movie);
    Player player(movie);
    EXPECT_EQ(X(player), 50);
    player.Tick();
    EXPECT_EQ(X(player), 60);
    player.Tick();
    EXPECT_EQ(X(player), 70);
}

TEST(ClipEvents, MouseAndKeyHandlersAnswerTheirEvents) {
    struct Case {
        const char* name;
        std::function<void(Player&)> input;
        double x; // after the input
    } cases[] = {
        {"mouse down", [](Player& p) { p.MouseDown(100, 100); }, 1},
        {"mouse up", [](Player& p) { p.MouseUp(100, 100); }, 2},
        {"mouse move", [](Player& p) { p.MouseMove(100, 100); }, 4},
        {"Enter", [](Player& p) { p.KeyPress(13); }, 8 + 16},
        {"another key", [](Player& p) { p.KeyPress(32); }, 8},
    };
    const auto movie = ReadBack(MovieWith(PlaceObjectTag(Clip({
        Handler(ClipEventMouseDown, MoveRight(1)),
        Handler(ClipEventMouseUp, MoveRight(2)),
        Handler(ClipEventMouseMove, MoveRight(4)),
        Handler(ClipEventKeyDown, MoveRight(8)),
        Handler(ClipEventKeyPress, MoveRight(16), 13),
    }))));
    ASSERT_TRUE(movie);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Player player(movie);
        c.input(player);
        // A press moves the mouse there first.
        EXPECT_EQ(X(player), c.x + (std::string(c.name) == "mouse down" ? 4 : 0));
    }
}
