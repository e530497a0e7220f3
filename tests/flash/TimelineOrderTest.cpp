// The order in which a movie's scripts run, read from what they trace: clip events against frame
// scripts in a tick, what a goto runs and keeps on its way forwards and backwards, looping (clips
// scripts made outlive it), and the frame numbers gotoAndStop takes.
#include "ReadBack.h"
#include "ScriptAssembler.h"
#include "SwfWriter.h"
#include "TraceRun.h"
#include "flash/player/Player.h"

#include <QStringList>
#include <cmath>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

ActionCode Say(const QString& line) {
    return ActionCode().PushString(line).Op(action::Trace);
}

QByteArray Bytes(const ActionCode& code) {
    return code.Data().chopped(1);
}

// target.member = function () { trace(line) }
QByteArray SetHandler(const QString& target, const QString& member, const QString& line) {
    const QByteArray body = Bytes(Say(line));
    Bits payload;
    payload.String("").U16(0).U16(std::uint32_t(body.size()));
    return Bytes(ActionCode().PushString(target).GetVariable().PushString(member)) +
           Bytes(ActionCode().Op(action::DefineFunction, payload.Data())) + body +
           Bytes(ActionCode().Op(action::SetMember));
}

QByteArray DoBytes(const QByteArray& code) {
    return Tag(12, code + QByteArray(1, '\0'));
}

// Handlers tracing "<who> <event>" for initialize, construct, load, enterFrame and unload.
std::vector<ClipAction> TracedEvents(const QString& who) {
    std::vector<ClipAction> handlers;
    for (const auto& [event, name] : {std::pair{ClipEventInitialize, "initialize"},
                                      {ClipEventConstruct, "construct"},
                                      {ClipEventLoad, "load"},
                                      {ClipEventEnterFrame, "enterFrame"},
                                      {ClipEventUnload, "unload"}})
        handlers.push_back({event, 0, Say(who + ' ' + name).Data()});
    return handlers;
}

PlaceObject Named(std::uint16_t id, std::uint16_t depth, const QString& name) {
    PlaceObject place = Place(id, depth);
    place.name = name;
    return place;
}

// A player whose trace lines are kept, and what it shows at a depth.
struct Traced : tracing::TraceSession {
    using TraceSession::TraceSession;
    const DisplayObject* At(std::uint16_t depth) const {
        const auto found = player->Stage().find(depth);
        return found == player->Stage().end() ? nullptr : &found->second;
    }
};

} // namespace

TEST(TimelineOrder, ClipEventsAndFrameScriptsRunInFlashOrder) {
    PlaceObject outer = Named(4, 1, "clip");
    outer.clipActions = TracedEvents("outer");
    PlaceObject inner = Place(3, 1);
    inner.clipActions = TracedEvents("inner");
    const QByteArray movie =
        MovieBuilder()
            .Add(DefineSprite(3, 1, DoAction(Say("inner frame")) + ShowFrame()))
            .Add(DefineSprite(4, 1, DoAction(Say("outer frame")) + PlaceObjectTag(inner) + ShowFrame()))
            .Add(DoAction(Say("root 1")) + ShowFrame())
            .Add(DoBytes(Bytes(Say("root 2")) + SetHandler("clip", "onEnterFrame", "outer onEnterFrame") +
                         SetHandler("clip", "onUnload", "outer onUnload")) +
                 PlaceObjectTag(outer) + ShowFrame())
            .Add(DoAction(Say("root 3")) + ShowFrame())
            .Add(RemoveObject2Tag(1) + DoAction(Say("root 4").Stop()) + ShowFrame())
            .Build();
    Traced traced(movie);
    ASSERT_TRUE(traced.player);
    traced.Play(5);
    EXPECT_EQ(traced.lines.join(" | ").toStdString(),
              QStringList({
                              "root 1",
                              // placed: initialize and construct come first, outside in
                              "outer initialize",
                              "inner initialize",
                              "outer construct",
                              "inner construct",
                              // then the frame's scripts and load handlers in tag order, each load
                              // before its clip's first frame
                              "root 2",
                              "outer load",
                              "outer frame",
                              "inner load",
                              "inner frame",
                              // enterFrame, the clip made last first, before the frame moves on
                              "inner enterFrame",
                              "outer enterFrame",
                              "outer onEnterFrame",
                              "root 3",
                              // removed: inside out, and no enterFrame for the clip leaving
                              "inner unload",
                              "outer unload",
                              "outer onUnload",
                              "root 4",
                          })
                  .join(" | ")
                  .toStdString());
}

// Root: frame 0 places "bg" (depth 2) and runs script0; frame 1 traces "root 2" and places "kid"
// (depth 1, three frames); frame 2 moves the kid to x 100; frame 3 runs script3. The sprites trace
// as they start.
TEST(TimelineOrder, GotosAndLoopsKeepWhatTheFrameReachedPlacesFromTheSameTag) {
    struct Case {
        const char* name;
        ActionCode script0, script3;
        int frames;
        QStringList lines;
        int rootFrame, kidFrame; // kidFrame -1: no kid on stage
        double kidX;
    } cases[] = {
        {"forward: a skipped frame places, only its sprites' scripts run",
         Say("goto 3").GotoFrame(2).Stop(),
         {},
         1,
         {"bg starts", "goto 3", "kid starts"},
         2,
         0, // the goto moves only the root's timeline
         100},
        {"backward: the kid placed by the same tag stays as it is, placed anew",
         {},
         ActionCode().GotoFrame(1).Stop(),
         4,
         {"bg starts", "root 2", "kid starts", "root 2"},
         1,
         2,
         0},
        {"looping: bg spans the loop and stays, the kid is made again",
         {},
         {},
         6,
         {"bg starts", "root 2", "kid starts", "root 2", "kid starts"},
         1,
         0,
         0},
        {"a goto to a frame past the end does nothing",
         ActionCode().GotoFrame(40),
         {},
         1,
         {"bg starts"},
         0,
         -1,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlaceObject moved = Place(5, 1);
        moved.characterId.reset();
        moved.move = true;
        moved.matrix = Matrix{1, 0, 0, 1, 2000, 0};
        const QByteArray movie =
            MovieBuilder()
                .Add(
                    DefineSprite(5, 3, DoAction(Say("kid starts")) + ShowFrame() + ShowFrame() + ShowFrame()))
                .Add(DefineSprite(6, 1, DoAction(Say("bg starts")) + ShowFrame()))
                .Add(PlaceObjectTag(Named(6, 2, "bg")) + DoAction(c.script0) + ShowFrame())
                .Add(DoAction(Say("root 2")) + PlaceObjectTag(Named(5, 1, "kid")) + ShowFrame())
                .Add(PlaceObjectTag(moved) + ShowFrame())
                .Add(DoAction(c.script3) + ShowFrame())
                .Build();
        Traced traced(movie);
        ASSERT_TRUE(traced.player);
        const std::shared_ptr<SpriteInstance> bg = traced.At(2)->sprite;
        traced.Play(c.frames);
        EXPECT_EQ(traced.lines.join(" | ").toStdString(), c.lines.join(" | ").toStdString());
        EXPECT_EQ(traced.player->CurrentFrame(), c.rootFrame);
        EXPECT_EQ(traced.At(2)->sprite, bg);
        const DisplayObject* kid = traced.At(1);
        ASSERT_EQ(kid != nullptr, c.kidFrame >= 0);
        if (kid) {
            EXPECT_EQ(kid->sprite->currentFrame, c.kidFrame);
            EXPECT_EQ(kid->matrix.tx / 20, c.kidX);
        }
    }
}

// clip.gotoAndStop(value) on a stopped three-frame clip at its first frame, frame 2 labelled "two".
TEST(TimelineOrder, GotoMethodsTakeFrameNumbersAsFlashWrapsThem) {
    struct Case {
        const char* name;
        ActionCode value;
        int frame; // zero-based, after the goto
    } cases[] = {
        {"past the end: the last frame", ActionCode().PushInt(999), 2},
        {"frame 0: none, it stays", ActionCode().PushInt(0), 0},
        {"negative: none", ActionCode().PushInt(-99), 0},
        {"NaN: none", ActionCode().PushDouble(std::nan("")), 0},
        {"2^31 wraps to the lowest integer, minus one to the highest", ActionCode().PushDouble(2147483648.0),
         2},
        {"-2^31 minus one wraps to the highest", ActionCode().PushInt(-2147483647 - 1), 2},
        {"2^32 + 2 wraps to 2", ActionCode().PushDouble(4294967298.0), 1},
        {"a number in a string", ActionCode().PushString("2"), 1},
        {"a label", ActionCode().PushString("two"), 1},
        {"an unknown label: none", ActionCode().PushString("BAD"), 0},
        {"an object: its own toString names the label",
         ActionCode().Records(Assemble("'toString'") + DefineFunction("", {}, Assemble("'two' Return")) +
                              Assemble("1 InitObject")),
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ActionCode script = ActionCode(c.value)
                                      .PushInt(1)
                                      .PushString("clip")
                                      .GetVariable()
                                      .PushString("gotoAndStop")
                                      .CallMethod()
                                      .Pop();
        const QByteArray movie =
            MovieBuilder()
                .Add(DefineSprite(3, 3,
                                  DoAction(ActionCode().Stop()) + ShowFrame() + FrameLabelTag("two") +
                                      ShowFrame() + ShowFrame()))
                .Add(PlaceObjectTag(Named(3, 1, "clip")) + DoAction(script) + ShowFrame())
                .Build();
        Traced traced(movie);
        ASSERT_TRUE(traced.player);
        EXPECT_EQ(traced.At(1)->sprite->currentFrame, c.frame);
    }
}

TEST(TimelineOrder, ClipsScriptsMadeOutliveALoop) {
    const ActionCode duplicate = ActionCode()
                                     .PushInt(5)
                                     .PushString("copy")
                                     .PushInt(2)
                                     .PushString("bg")
                                     .GetVariable()
                                     .PushString("duplicateMovieClip")
                                     .CallMethod()
                                     .Pop();
    const QByteArray movie = MovieBuilder()
                                 .Add(DefineSprite(6, 1, DoAction(Say("bg starts")) + ShowFrame()))
                                 .Add(PlaceObjectTag(Named(6, 2, "bg")) + ShowFrame())
                                 .Add(DoAction(duplicate) + ShowFrame())
                                 .Build();
    Traced traced(movie);
    ASSERT_TRUE(traced.player);
    traced.Play(3);
    EXPECT_EQ(traced.player->CurrentFrame(), 0);
    const DisplayObject* copy = traced.At(ScriptHost::ScriptDepthBase + 5);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->name, QStringLiteral("copy"));
    EXPECT_EQ(traced.lines.join(" | ").toStdString(), "bg starts | bg starts"); // the original's, the copy's
}
