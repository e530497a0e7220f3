// ActionScript 3 movies: code blocks and symbol classes read whole or refused whole, and the frame
// scripts that timeline classes register (stop, play, goto by number, label and scene, child
// clips' own classes, trace) run as Flash Player runs them, bounded when they go wrong.
#include "AbcWriter.h"
#include "ReadBack.h"
#include "SwfWriter.h"
#include "flash/player/Player.h"
#include "flash/player/avm2/Value.h"
#include "flash/swf/AbcReader.h"

#include <functional>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;
namespace op = flash::abc::op;

namespace {

PlaceObject Named(std::uint16_t id, std::uint16_t depth, const QString& name) {
    PlaceObject place = Place(id, depth);
    place.name = name;
    return place;
}

// A call of a method of `this` (stop, play, gotoAndStop ...) with the arguments already pushed.
AbcCode& CallOwn(AbcBuilder& abc, AbcCode& code, const QString& method, std::uint32_t argc,
                 const std::function<void(AbcCode&)>& pushArgs = {}) {
    code.FindPropStrict(abc.Name(method));
    if (pushArgs)
        pushArgs(code);
    return code.CallPropVoid(abc.Name(method), argc);
}

// trace() of the values pushArgs pushes.
AbcCode& Trace(AbcBuilder& abc, AbcCode& code, std::uint32_t argc,
               const std::function<void(AbcCode&)>& pushArgs) {
    return CallOwn(abc, code, QStringLiteral("trace"), argc, pushArgs);
}

// A movie of frameCount frames, each placing a box of its own at depth 1 (so the frame shows which
// it is), with the ABC block and symbol classes before the first frame and `extra` tags on frame 0.
QByteArray TimelineMovie(int frameCount, const QByteArray& abcTags, const QByteArray& extra = {},
                         const std::map<int, QString>& labels = {}) {
    MovieBuilder movie;
    movie.Stage({0, 2000, 0, 2000}).Add(abcTags).Add(extra);
    for (int frame = 0; frame < frameCount; ++frame) {
        if (const auto label = labels.find(frame); label != labels.end())
            movie.Add(FrameLabelTag(label->second));
        movie.Add(ShowFrame());
    }
    return movie.Build();
}

QByteArray DocumentTags(const AbcBuilder& abc, const QString& documentClass = QStringLiteral("Main")) {
    return DoAbcTag(abc.Data(), QStringLiteral("frame1")) + SymbolClassTag({{0, documentClass}});
}

struct Played {
    std::unique_ptr<Player> player;
    QStringList traces;
    // Frames the main timeline showed, one per tick after the first.
    std::vector<int> Frames(int ticks) {
        std::vector<int> frames{player->CurrentFrame()};
        for (int i = 0; i < ticks; ++i) {
            player->Tick();
            frames.push_back(player->CurrentFrame());
        }
        return frames;
    }
};

std::unique_ptr<Played> Play(const QByteArray& bytes) {
    auto played = std::make_unique<Played>();
    const auto movie = ReadBack(bytes);
    if (movie)
        played->player = std::make_unique<Player>(
            movie, nullptr, [p = played.get()](const QString& line) { p->traces << line; });
    return played;
}

TEST(AbcReader, ReadsClassesMethodsAndSymbolClasses) {
    AbcBuilder abc;
    AbcCode stop = abc.Script();
    CallOwn(abc, stop, QStringLiteral("stop"), 0);
    abc.TimelineClass(QStringLiteral("Main"), {{2, stop}});
    abc.TimelineClass(QStringLiteral("Ball"), {}, QStringLiteral("Main"), QString());
    const abc::AbcReadResult read = abc::ReadAbc(abc.Data());
    ASSERT_TRUE(read.file) << read.error.toStdString();
    const abc::AbcFile& file = *read.file;
    ASSERT_EQ(file.instances.size(), 2u);
    EXPECT_EQ(file.majorVersion, 46);
    EXPECT_EQ(file.QualifiedName(file.instances[0].name), "Main");
    EXPECT_EQ(file.QualifiedName(file.instances[0].superName), "flash.display.MovieClip");
    EXPECT_EQ(file.QualifiedName(file.instances[1].superName), "Main");
    ASSERT_EQ(file.instances[0].traits.size(), 1u);
    const abc::Trait& frame3 = file.instances[0].traits[0];
    EXPECT_EQ(file.NameOf(frame3.name), "frame3");
    EXPECT_EQ(frame3.kind, abc::Trait::Method);
    const abc::Method& method = file.methods[frame3.index];
    ASSERT_GE(method.body, 0);
    EXPECT_EQ(file.bodies[std::size_t(method.body)].code, stop.Data());
    ASSERT_EQ(file.scripts.size(), 1u);
    EXPECT_EQ(file.scripts[0].traits.size(), 2u);

    // The same block in a movie, with its name, and the classes bound to characters.
    QStringList warnings;
    const auto movie = ReadBack(
        TimelineMovie(1, DoAbcTag(abc.Data(), QStringLiteral("block"), true) + DoAbcDefineTag(abc.Data()) +
                             SymbolClassTag({{0, "Main"}, {5, "Ball"}, {0, "Other"}})),
        &warnings);
    ASSERT_TRUE(movie);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
    ASSERT_EQ(movie->abcFiles.size(), 2u);
    EXPECT_EQ(movie->abcFiles[0]->name, "block");
    EXPECT_TRUE(movie->abcFiles[0]->lazy);
    EXPECT_EQ(movie->symbolClasses, (std::map<std::uint16_t, QString>{{0, "Main"}, {5, "Ball"}}));
}

// Bytes of an ABC block from its version on, written by hand where the builder cannot go wrong.
QByteArray Block(const QByteArray& afterVersion) {
    return QByteArray("\x10\x00\x2e\x00", 4) + afterVersion;
}
QByteArray U(std::uint32_t value) {
    return AbcU32(value);
}

TEST(AbcReader, RefusesDamagedBlocksWhole) {
    // Pools: int, uint, double counts; then the rest.
    const QByteArray noNumbers = U(0) + U(0) + U(0);
    const QByteArray emptyPools = noNumbers + U(0) + U(0) + U(0) + U(0);
    const QByteArray noLists = U(0) + U(0) + U(0) + U(0) + U(0);
    // One method without parameters, named by string 0.
    const QByteArray oneMethod = U(1) + U(0) + U(0) + U(0) + QByteArray(1, '\0');
    struct Case {
        const char* what;
        QByteArray data;
    };
    const Case cases[] = {
        {"empty", {}},
        {"version only", Block({})},
        {"huge string count", Block(noNumbers + U(0x3FFFFFFF))},
        {"string longer than the block", Block(noNumbers + U(2) + U(1000) + "abc")},
        {"huge double count", Block(U(0) + U(0) + U(1000000))},
        {"value over 30 bits", Block(noNumbers + QByteArray("\xFF\xFF\xFF\xFF\x0F", 5))},
        {"namespace names a missing string",
         Block(noNumbers + U(0) + U(2) + "\x16" + U(7) + U(0) + U(0) + noLists)},
        {"unknown multiname kind", Block(noNumbers + U(0) + U(0) + U(0) + U(2) + "\x42" + noLists)},
        {"multiname names a missing namespace",
         Block(noNumbers + U(0) + U(0) + U(0) + U(2) + "\x07" + U(3) + U(0) + noLists)},
        {"generic of a generic", Block(noNumbers + U(0) + U(0) + U(0) + U(3) + "\x1d" + U(2) + U(0) + "\x1d" +
                                       U(1) + U(0) + noLists)},
        {"huge method count", Block(emptyPools + U(0x3FFFFFF))},
        {"body of a missing method", Block(emptyPools + oneMethod + U(0) + U(0) + U(0) + U(1) + U(4) + U(1) +
                                           U(1) + U(0) + U(1) + U(1) + "\x47" + U(0) + U(0))},
        {"two bodies for one method",
         Block(emptyPools + oneMethod + U(0) + U(0) + U(0) + U(2) + U(0) + U(1) + U(1) + U(0) + U(1) + U(1) +
               "\x47" + U(0) + U(0) + U(0) + U(1) + U(1) + U(0) + U(1) + U(1) + "\x47" + U(0) + U(0))},
        {"exception handler past the code",
         Block(emptyPools + oneMethod + U(0) + U(0) + U(0) + U(1) + U(0) + U(1) + U(1) + U(0) + U(1) + U(1) +
               "\x47" + U(1) + U(0) + U(1) + U(5) + U(0) + U(0) + U(0))},
        {"script init names a missing method",
         Block(emptyPools + U(0) + U(0) + U(0) + U(1) + U(3) + U(0) + U(0))},
        {"class trait names a missing class",
         Block(noNumbers + U(0) + U(0) + U(0) + U(2) + "\x07" + U(0) + U(0) + oneMethod + U(0) + U(0) + U(1) +
               U(0) + U(1) + U(1) + "\x04" + U(0) + U(9) + U(0))},
        {"huge body length", Block(emptyPools + oneMethod + U(0) + U(0) + U(0) + U(1) + U(0) + U(1) + U(1) +
                                   U(0) + U(1) + U(0x3FFFFFFF))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const abc::AbcReadResult read = abc::ReadAbc(c.data);
        EXPECT_FALSE(read.file);
        EXPECT_FALSE(read.error.isEmpty());
    }

    // Every cut of a whole block is refused.
    AbcBuilder abc;
    AbcCode code = abc.Script();
    Trace(abc, code, 1, [&](AbcCode& c) { c.PushString(abc.String("hi")); });
    abc.TimelineClass(QStringLiteral("Main"), {{0, code}});
    const QByteArray whole = abc.Data();
    ASSERT_TRUE(abc::ReadAbc(whole).file);
    for (qsizetype cut = 0; cut < whole.size(); ++cut)
        EXPECT_FALSE(abc::ReadAbc(whole.left(cut)).file) << "cut at " << cut;

    // SymbolClass cut short keeps the bindings that came whole.
    std::map<std::uint16_t, QString> bound;
    const QByteArray symbols = Bits().U16(2).U16(1).String("A").U16(2).Data() + "B";
    EXPECT_FALSE(abc::ReadSymbolClass(symbols, bound));
    EXPECT_EQ(bound, (std::map<std::uint16_t, QString>{{1, "A"}}));
}

// A stop() on the last of three frames of the document class.
AbcBuilder StopOnLastFrame() {
    AbcBuilder abc;
    AbcCode stop = abc.Script();
    CallOwn(abc, stop, QStringLiteral("stop"), 0);
    abc.TimelineClass(QStringLiteral("Main"), {{2, stop}});
    return abc;
}

TEST(As3Timeline, StopOnTheLastFrameEndsTheMovieThere) {
    auto played = Play(TimelineMovie(3, DocumentTags(StopOnLastFrame())));
    ASSERT_TRUE(played->player);
    EXPECT_EQ(played->Frames(5), (std::vector<int>{0, 1, 2, 2, 2, 2}));
    EXPECT_FALSE(played->player->Playing());

    // A damaged block is skipped with a warning: the timeline plays on and loops.
    QByteArray damaged = StopOnLastFrame().Data();
    damaged.chop(3);
    QStringList warnings;
    const auto movie =
        ReadBack(TimelineMovie(3, DoAbcTag(damaged) + SymbolClassTag({{0, "Main"}})), &warnings);
    ASSERT_TRUE(movie);
    EXPECT_TRUE(warnings.join('\n').contains("damaged DoABC")) << warnings.join('\n').toStdString();
    Player player(movie);
    for (int i = 0; i < 3; ++i)
        player.Tick();
    EXPECT_EQ(player.CurrentFrame(), 0);
    EXPECT_TRUE(player.Playing());

    // Bound to no character, the class runs nowhere.
    Player unbound(ReadBack(TimelineMovie(3, DoAbcTag(StopOnLastFrame().Data()))));
    for (int i = 0; i < 3; ++i)
        unbound.Tick();
    EXPECT_EQ(unbound.CurrentFrame(), 0);
}

// FileAttributes' ActionScript 3 flag: the movie's ActionScript 1/2 code is left unrun.
TEST(As3Timeline, ActionScript3MoviesRunNoActionScript2) {
    AbcBuilder abc;
    AbcCode code = abc.Script();
    Trace(abc, code, 1, [&](AbcCode& c) { c.PushString(abc.String("as3")); });
    abc.TimelineClass(QStringLiteral("Main"), {{0, code}});
    const QByteArray as2 = DoAction(ActionCode().PushString("as2").Op(action::Trace));
    const QByteArray as3Flag = Tag(tag::FileAttributes, QByteArray("\x08\0\0\0", 4));
    const QByteArray noFlags = Tag(tag::FileAttributes, QByteArray(4, '\0'));
    EXPECT_EQ(Play(TimelineMovie(1, as3Flag + DocumentTags(abc), as2))->traces, QStringList{"as3"});
    EXPECT_EQ(Play(TimelineMovie(1, noFlags + DocumentTags(abc), as2))->traces, (QStringList{"as2", "as3"}));
}

TEST(As3Timeline, GotoByNumberLabelAndSceneAndFrameQueries) {
    AbcBuilder abc;
    const std::uint32_t loop = abc.String("loop");
    // Frame 0 traces where it is; frame 3 goes back to the label; frame 4 never plays.
    AbcCode first = abc.Script();
    Trace(abc, first, 3, [&](AbcCode& c) {
        c.PushString(abc.String("at"));
        c.GetLocal(0).GetProperty(abc.Name("currentFrame"));
        c.GetLocal(0).GetProperty(abc.Name("totalFrames"));
    });
    AbcCode fourth = abc.Script();
    CallOwn(abc, fourth, QStringLiteral("gotoAndPlay"), 1, [&](AbcCode& c) { c.PushString(loop); });
    abc.TimelineClass(QStringLiteral("Main"), {{0, first}, {3, fourth}});
    auto played = Play(TimelineMovie(5, DocumentTags(abc), {}, {{1, "loop"}}));
    ASSERT_TRUE(played->player);
    // Frame 3's script runs in the tick that enters it: the timeline shows frame 1 after it.
    EXPECT_EQ(played->Frames(7), (std::vector<int>{0, 1, 2, 1, 2, 1, 2, 1}));
    EXPECT_EQ(played->traces, QStringList{"at 1 5"});

    // gotoAndStop by number; nextFrame and prevFrame stop where they go.
    struct Case {
        const char* what;
        std::function<void(AbcBuilder&, AbcCode&)> call;
        int frame;
    };
    const Case cases[] = {
        {"gotoAndStop(4)",
         [](AbcBuilder& a, AbcCode& c) {
             CallOwn(a, c, "gotoAndStop", 1, [](AbcCode& c) { c.PushByte(4); });
         },
         3},
        {"gotoAndStop(\"end\")",
         [](AbcBuilder& a, AbcCode& c) {
             CallOwn(a, c, "gotoAndStop", 1, [&](AbcCode& c) { c.PushString(a.String("end")); });
         },
         4},
        {"gotoAndStop(\"missing\") does nothing",
         [](AbcBuilder& a, AbcCode& c) {
             CallOwn(a, c, "gotoAndStop", 1, [&](AbcCode& c) { c.PushString(a.String("missing")); });
             CallOwn(a, c, "stop", 0);
         },
         0},
        {"nextFrame", [](AbcBuilder& a, AbcCode& c) { CallOwn(a, c, "nextFrame", 0); }, 1},
        {"gotoAndStop(1, \"Two\")",
         [](AbcBuilder& a, AbcCode& c) {
             CallOwn(a, c, "gotoAndStop", 2, [&](AbcCode& c) { c.PushByte(1).PushString(a.String("Two")); });
         },
         2},
    };
    // Scenes: "One" from frame 0, "Two" from frame 2.
    const QByteArray scenes = Tag(tag::DefineSceneAndFrameLabelData,
                                  U(2) + U(0) + QByteArray("One", 4) + U(2) + QByteArray("Two", 4) + U(0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AbcBuilder calls;
        AbcCode code = calls.Script();
        c.call(calls, code);
        calls.TimelineClass(QStringLiteral("Main"), {{0, code}});
        auto run = Play(TimelineMovie(5, DocumentTags(calls), scenes, {{4, "end"}}));
        ASSERT_TRUE(run->player);
        run->Frames(3);
        EXPECT_EQ(run->player->CurrentFrame(), c.frame);
        EXPECT_FALSE(run->player->Playing());
    }
}

TEST(As3Timeline, ChildClipsRunTheirOwnClassesAndObeyTheRoot) {
    // Sprite 5 ("Ball", three frames) stops itself on its second frame and traces its frame; the
    // root's first frame tells the named child "door" (another Ball) to go to its third.
    AbcBuilder abc;
    AbcCode ballStop = abc.Script();
    Trace(abc, ballStop, 2, [&](AbcCode& c) {
        c.GetLocal(0);
        c.GetLocal(0).GetProperty(abc.Name("currentFrame"));
    });
    CallOwn(abc, ballStop, QStringLiteral("stop"), 0);
    abc.TimelineClass(QStringLiteral("Ball"), {{1, ballStop}});
    AbcCode rootFirst = abc.Script();
    rootFirst.GetLex(abc.Name("door")).PushByte(3).CallPropVoid(abc.Name("gotoAndStop"), 1);
    abc.TimelineClass(QStringLiteral("Main"), {{0, rootFirst}});

    const QByteArray sprite = DefineSprite(5, 3, ShowFrame() + ShowFrame() + ShowFrame());
    const QByteArray tags = DoAbcTag(abc.Data()) + sprite + SymbolClassTag({{0, "Main"}, {5, "Ball"}});
    auto played = Play(
        TimelineMovie(6, tags, PlaceObjectTag(Named(5, 1, "ball")) + PlaceObjectTag(Named(5, 2, "door"))));
    ASSERT_TRUE(played->player);
    played->Frames(4);
    const DisplayList& stage = played->player->Stage();
    ASSERT_TRUE(stage.count(1) && stage.at(1).sprite && stage.count(2) && stage.at(2).sprite);
    EXPECT_EQ(stage.at(1).sprite->currentFrame, 1);
    EXPECT_FALSE(stage.at(1).sprite->playing);
    EXPECT_EQ(stage.at(2).sprite->currentFrame, 2);
    EXPECT_EQ(played->player->CurrentFrame(), 4); // the root plays on
    // The door passed frame 2 on its way to 3 by a goto, so only the ball's script ran.
    EXPECT_EQ(played->traces, QStringList{"[object Ball] 2"});
}

TEST(As3Timeline, TraceArithmeticComparisonsAndBranches) {
    AbcBuilder abc;
    AbcCode code = abc.Script();
    // sum = 0; for (i = 1; i <= 10; i++) sum += i; trace(sum)
    code.PushByte(0).SetLocal(1).PushByte(1).SetLocal(2);
    code.Mark(1).GetLocal(2).PushByte(10).Branch(op::IfGreaterThan, 2);
    code.GetLocal(1).GetLocal(2).Op(op::Add).SetLocal(1).Op(op::IncLocalI).U30(2).Branch(op::Jump, 1);
    code.Mark(2);
    Trace(abc, code, 1, [&](AbcCode& c) { c.GetLocal(1); });
    // Numbers and strings as Flash Player prints them.
    Trace(abc, code, 3, [&](AbcCode& c) {
        c.Op(op::PushDouble).U30(abc.Double(0.1)).Op(op::PushDouble).U30(abc.Double(0.2)).Op(op::Add);
        c.PushByte(1).PushByte(3).Op(op::Divide);
        c.Op(op::PushDouble).U30(abc.Double(1e21));
    });
    Trace(abc, code, 4, [&](AbcCode& c) {
        c.PushString(abc.String("n=")).Op(op::PushInt).U30(abc.Int(-70000)).Op(op::Add);
        c.PushByte(7).PushByte(2).Op(op::Modulo).PushByte(1).Op(op::StrictEquals);
        c.Op(op::PushUndefined).Op(op::PushNull);
    });
    // A string comparison chooses the branch.
    code.PushString(abc.String("apple")).PushString(abc.String("banana")).Branch(op::IfNotLessThan, 3);
    Trace(abc, code, 1, [&](AbcCode& c) { c.PushString(abc.String("ordered")); });
    code.Mark(3);
    abc.TimelineClass(QStringLiteral("Main"), {{0, code}});
    auto played = Play(TimelineMovie(2, DocumentTags(abc)));
    ASSERT_TRUE(played->player);
    EXPECT_EQ(played->traces, QStringList({"55", "0.30000000000000004 0.3333333333333333 1e+21",
                                           "n=-70000 true undefined null", "ordered"}));
}

TEST(As3Timeline, NumbersPrintAsFlashPlayerPrintsThem) {
    const std::pair<double, const char*> cases[] = {
        {0, "0"},
        {-0.0, "0"},
        {1, "1"},
        {-2.5, "-2.5"},
        {1e20, "100000000000000000000"},
        {1e21, "1e+21"},
        {1.5e-7, "1.5e-7"},
        {0.000001, "0.000001"},
        {123456789.125, "123456789.125"},
        {qQNaN(), "NaN"},
        {-qInf(), "-Infinity"},
    };
    for (const auto& [number, text] : cases)
        EXPECT_EQ(avm2::NumberText(number), text) << number;
}

TEST(As3Timeline, BrokenScriptsEndBoundedAndTheMoviePlaysOn) {
    struct Case {
        const char* what;
        std::function<void(AbcBuilder&, AbcCode&)> body;
        QStringList traces;
    };
    const auto traceText = [](AbcBuilder& a, AbcCode& c, const char* text) {
        Trace(a, c, 1, [&](AbcCode& c) { c.PushString(a.String(text)); });
    };
    const Case cases[] = {
        {"endless loop", [](AbcBuilder&, AbcCode& c) { c.Mark(1).Branch(op::Jump, 1); }, {}},
        {"unknown instruction ends the script",
         [&](AbcBuilder& a, AbcCode& c) {
             traceText(a, c, "before");
             c.U8(0xFE);
             traceText(a, c, "after");
         },
         {"before"}},
        {"jump outside the code",
         [](AbcBuilder&, AbcCode& c) { c.Op(op::Jump).Bytes(QByteArray("\x00\x10\x00", 3)); },
         {}},
        {"operand past the end", [](AbcBuilder&, AbcCode& c) { c.Op(op::PushString).U8(0x80); }, {}},
        {"string index out of range",
         [&](AbcBuilder& a, AbcCode& c) {
             c.PushString(999);
             traceText(a, c, "after");
         },
         {}},
        {"local out of range", [](AbcBuilder&, AbcCode& c) { c.GetLocal(5000); }, {}},
        {"stack overflow", [](AbcBuilder&, AbcCode& c) { c.Mark(1).PushByte(1).Branch(op::Jump, 1); }, {}},
        {"scope overflow",
         [](AbcBuilder&, AbcCode& c) { c.Mark(1).Op(op::GetLocal0).Op(op::PushScope).Branch(op::Jump, 1); },
         {}},
        {"pops of an empty stack",
         [&](AbcBuilder& a, AbcCode& c) {
             c.Op(op::Pop).Op(op::Pop).Op(op::Add).Op(op::Pop);
             traceText(a, c, "still");
         },
         {"still"}},
        {"throw",
         [&](AbcBuilder& a, AbcCode& c) {
             c.PushByte(1).Op(op::Throw);
             traceText(a, c, "after");
         },
         {}},
        {"calls on unknown objects do nothing",
         [&](AbcBuilder& a, AbcCode& c) {
             c.GetLex(a.Name("SoundMixer", "flash.media")).CallPropVoid(a.Name("stopAll"), 0);
             c.FindPropStrict(a.Name("URLRequest"))
                 .PushString(a.String("x"))
                 .Op(op::ConstructProp)
                 .U30(a.Name("URLRequest"))
                 .U30(1)
                 .Op(op::Pop);
             traceText(a, c, "went on");
         },
         {"went on"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AbcBuilder abc;
        AbcCode code = abc.Script();
        c.body(abc, code);
        AbcCode stop = abc.Script();
        CallOwn(abc, stop, QStringLiteral("stop"), 0);
        abc.TimelineClass(QStringLiteral("Main"), {{0, code}, {2, stop}});
        auto played = Play(TimelineMovie(3, DocumentTags(abc)));
        ASSERT_TRUE(played->player);
        EXPECT_EQ(played->Frames(3), (std::vector<int>{0, 1, 2, 2}));
        EXPECT_EQ(played->traces, c.traces);
    }

    // A method calling itself ends at the call depth limit; the frame's stop() after it never runs,
    // and the next frame's scripts run as usual.
    AbcBuilder abc;
    AbcCode recurse = abc.Script();
    recurse.GetLocal(0).CallPropVoid(abc.Name("again"), 0);
    const std::uint32_t again = abc.Method(recurse);
    AbcCode first = abc.Script();
    first.GetLocal(0).CallPropVoid(abc.Name("again"), 0);
    CallOwn(abc, first, QStringLiteral("stop"), 0);
    AbcCode second = abc.Script();
    Trace(abc, second, 1, [&](AbcCode& c) { c.PushString(abc.String("second")); });
    const std::uint32_t frame1 = abc.Method(first), frame2 = abc.Method(second);
    AbcCode init = abc.Script();
    init.GetLocal(0).PushByte(0).GetLocal(0).GetProperty(abc.Name("frame1"));
    init.PushByte(1).GetLocal(0).GetProperty(abc.Name("frame2"));
    init.CallPropVoid(abc.Name("addFrameScript"), 4);
    abc.Class(QStringLiteral("Main"), "MovieClip", "flash.display", abc.Method(init),
              {{"again", again}, {"frame1", frame1}, {"frame2", frame2}});
    auto played = Play(TimelineMovie(3, DocumentTags(abc)));
    ASSERT_TRUE(played->player);
    EXPECT_EQ(played->Frames(2), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(played->traces, QStringList{"second"});
}

} // namespace
