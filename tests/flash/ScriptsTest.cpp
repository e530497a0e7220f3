// What scripts compute and change: each timeline keeps its own variables, scripts reach others' by
// path, edit texts bound to a variable show its value, scripts move, turn, scale, fade and hide clips,
// functions the scripts define run with their arguments, locals and results, and the operators,
// Math, random numbers and the clock give what Flash gives.
#include "ReadBack.h"
#include "SwfWriter.h"
#include "flash/player/Player.h"
#include "flash/player/avm1/Actions.h"
#include "flash/swf/SwfReader.h"

#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

QByteArray Field(std::uint16_t id, const QString& variable, const QString& initial = {}) {
    EditText edit;
    edit.bounds = {0, 2000, 0, 400};
    edit.variableName = variable;
    if (!initial.isEmpty())
        edit.initialText = initial;
    return DefineEditTextTag(id, edit);
}

PlaceObject Named(std::uint16_t id, std::uint16_t depth, const QString& name) {
    PlaceObject place = Place(id, depth);
    place.name = name;
    return place;
}

// The movie read and playing; null when it does not read.
std::unique_ptr<Player> PlayerFor(const QByteArray& bytes) {
    const auto movie = ReadBack(bytes);
    return movie ? std::make_unique<Player>(movie) : nullptr;
}

// What the field at depth shows: its bound value, or "-" while it shows its initial text.
QString Shown(const DisplayList& list, std::uint16_t depth) {
    const auto found = list.find(depth);
    if (found == list.end())
        return QStringLiteral("(none)");
    const auto& field = found->second.field;
    return field && field->content ? *field->content : QStringLiteral("-");
}

// A sprite "clip" (id 20) holding fields bound to "score" (depth 1) and "_root.score" (depth 2),
// on the root with a field bound to "score" (depth 1) and one to "clip.score" (depth 2). The root's
// script of frame 0 is `script`; the sprite's own first frame runs `spriteScript`.
struct TwoTimelines {
    std::unique_ptr<Player> player;

    TwoTimelines(const ActionCode& script, const ActionCode& spriteScript = ActionCode()) {
        MovieBuilder builder;
        builder.Stage({0, 4000, 0, 4000});
        builder.Add(Field(10, QStringLiteral("score")))
            .Add(Field(11, QStringLiteral("_root.score")))
            .Add(Field(12, QStringLiteral("clip.score")))
            .Add(DefineSprite(20, 1,
                              PlaceObjectTag(Place(10, 1)) + PlaceObjectTag(Place(11, 2)) +
                                  DoAction(spriteScript) + ShowFrame()))
            .Add(PlaceObjectTag(Place(10, 1)))
            .Add(PlaceObjectTag(Place(12, 2)))
            .Add(PlaceObjectTag(Named(20, 3, QStringLiteral("clip"))))
            .Add(DoAction(script))
            .Add(ShowFrame());
        player = PlayerFor(builder.Build());
    }

    QStringList Fields() const {
        const DisplayList& root = player->Stage();
        const auto clip = root.find(3);
        const DisplayList empty;
        const DisplayList& inside =
            clip != root.end() && clip->second.sprite ? clip->second.sprite->displayList : empty;
        return {Shown(root, 1), Shown(root, 2), Shown(inside, 1), Shown(inside, 2)};
    }
};

ActionCode Set(const QString& name, const QString& value) {
    return ActionCode().PushString(name).PushString(value).SetVariable();
}

} // namespace

// Fields: root "score", root "clip.score", clip's "score", clip's "_root.score".
TEST(ScriptVariables, EachTimelineHasItsOwnAndPathsReachOthers) {
    struct Case {
        const char* name;
        ActionCode root, sprite;
        QStringList fields;
    } cases[] = {
        {"root sets its own", Set("score", "5"), {}, {"5", "", "", "5"}},
        {"sprite sets its own", {}, Set("score", "7"), {"", "7", "7", ""}},
        {"both, apart", Set("score", "5"), Set("score", "7"), {"5", "7", "7", "5"}},
        {"path forms from the root",
         ActionCode(Set("clip.score", "1")).PushString("/clip:SCORE").PushString("2").SetVariable(),
         {},
         {"", "2", "2", ""}},
        {"slash path from the sprite", {}, Set("/:score", "3"), {"3", "", "", "3"}},
        {"member of a clip",
         ActionCode().PushString("clip").GetVariable().PushString("score").PushInt(9).Op(action::SetMember),
         {},
         {"", "9", "9", ""}},
        {"read back and joined",
         ActionCode(Set("score", "4"))
             .PushString("clip.score")
             .PushString("score")
             .GetVariable()
             .PushString("0")
             .Op(action::Add2) // Add2 joins strings
             .SetVariable(),
         {},
         {"4", "40", "40", "4"}},
        {"a path to nowhere sets nothing", Set("nowhere.score", "1"), {}, {"", "", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TwoTimelines movie(c.root, c.sprite);
        EXPECT_EQ(movie.Fields(), c.fields);
    }
}

TEST(ScriptVariables, AFieldGivesAnUnsetVariableItsTextAndFollowsLaterChanges) {
    MovieBuilder builder;
    builder.Stage({0, 4000, 0, 4000})
        .Add(Field(10, QStringLiteral("greeting"), QStringLiteral("Hi")))
        .Add(Field(11, QStringLiteral("shown")))
        .Add(PlaceObjectTag(Place(10, 1)))
        .Add(PlaceObjectTag(Place(11, 2)))
        .Add(ShowFrame())
        .Add(DoAction(ActionCode()
                          .PushString("shown")
                          .PushString("greeting")
                          .GetVariable()
                          .PushString("!")
                          .Op(action::Add2)
                          .SetVariable()))
        .Add(ShowFrame());
    ReadResult read = ReadMovie(builder.Build());
    ASSERT_TRUE(read.movie);
    Player player(read.movie);
    EXPECT_EQ(Shown(player.Stage(), 1), QStringLiteral("Hi"));
    player.Tick();
    EXPECT_EQ(Shown(player.Stage(), 1), QStringLiteral("Hi"));
    EXPECT_EQ(Shown(player.Stage(), 2), QStringLiteral("Hi!"));
    player.Tick(); // back to frame 0: the variables stay
    EXPECT_EQ(Shown(player.Stage(), 2), QStringLiteral("Hi!"));
}

TEST(ScriptVariables, ARunawayScriptMakingVariablesStaysBounded) {
    // n = 0; loop: set "v" + n to n; n = n + 1; jump back. The step budget ends it, the variable
    // limit refuses names past it, and the movie goes on.
    ActionCode body;
    body.PushString("v")
        .PushString("n")
        .GetVariable()
        .Op(action::Add2)
        .PushString("n")
        .GetVariable()
        .SetVariable()
        .PushString("n")
        .PushString("n")
        .GetVariable()
        .Op(action::Increment)
        .SetVariable();
    const QByteArray loop = body.Data().chopped(1); // without its end
    constexpr int JumpSize = 5;
    const QByteArray bytes = ActionCode().PushString("n").PushInt(0).SetVariable().Data().chopped(1) + loop +
                             ActionCode().Jump(std::int16_t(-(loop.size() + JumpSize))).Data();
    MovieBuilder builder;
    builder.Stage({0, 4000, 0, 4000})
        .Add(Field(10, QStringLiteral("n")))
        .Add(PlaceObjectTag(Place(10, 1)))
        .Add(Tag(12, bytes))
        .Add(ShowFrame())
        .Add(ShowFrame());
    ReadResult read = ReadMovie(builder.Build());
    ASSERT_TRUE(read.movie);
    Player player(read.movie);
    const double n = Shown(player.Stage(), 1).toDouble();
    EXPECT_GT(n, 1000);
    EXPECT_LT(n, ActionInterpreter::StepsPerFrame);
    player.Tick();
    EXPECT_EQ(player.CurrentFrame(), 1);
}

namespace {

// A sprite "mc" at (10, 20) px on the root, which the timeline moves to x = 150 px on frame 1; the
// root's script of frame 0 is `script`, and a field shows the variable n.
struct MovedClip {
    std::unique_ptr<Player> player;

    explicit MovedClip(const ActionCode& script) {
        PlaceObject moved;
        moved.depth = 1;
        moved.move = true;
        moved.matrix = Matrix{1, 0, 0, 1, 3000, 400};
        moved.version = 2;
        MovieBuilder builder;
        builder.Stage({0, 4000, 0, 4000})
            .Add(Field(10, QStringLiteral("n")))
            .Add(DefineSprite(20, 1, ShowFrame()))
            .Add(PlaceObjectTag([] {
                PlaceObject place = Named(20, 1, QStringLiteral("mc"));
                place.matrix = Matrix{1, 0, 0, 1, 200, 400};
                return place;
            }()))
            .Add(PlaceObjectTag(Place(10, 2)))
            .Add(DoAction(script))
            .Add(ShowFrame())
            .Add(PlaceObjectTag(moved))
            .Add(ShowFrame());
        player = PlayerFor(builder.Build());
    }

    const DisplayObject& Clip() const { return player->Stage().at(1); }
};

ActionCode SetMember(const QString& clip, const QString& member, double value) {
    return ActionCode().PushString(clip).GetVariable().PushString(member).PushDouble(value).Op(
        action::SetMember);
}

} // namespace

TEST(ScriptProperties, ScriptsMoveTurnScaleFadeAndHideClips) {
    struct Case {
        const char* name;
        ActionCode script;
        Matrix matrix; // after the script
        double alpha;  // multiplier
        bool visible;
        QString n; // what the field shows
    } cases[] = {
        {"_x in pixels", SetMember("mc", "_x", 100), {1, 0, 0, 1, 2000, 400}, 1, true, ""},
        {"slash path _y", Set("/mc:_y", "5"), {1, 0, 0, 1, 200, 100}, 1, true, ""},
        {"_rotation", SetMember("mc", "_ROTATION", 90), {0, 1, -1, 0, 200, 400}, 1, true, ""},
        {"_xscale", SetMember("mc", "_xscale", 200), {2, 0, 0, 1, 200, 400}, 1, true, ""},
        {"setProperty _alpha",
         ActionCode().PushString("mc").PushInt(6).PushInt(50).Op(action::SetProperty),
         {1, 0, 0, 1, 200, 400},
         0.5,
         true,
         ""},
        {"_visible", SetMember("mc", "_visible", 0), {1, 0, 0, 1, 200, 400}, 1, false, ""},
        {"getProperty _x and a member read back",
         ActionCode()
             .PushString("n")
             .PushString("mc")
             .PushInt(0)
             .Op(action::GetProperty)
             .PushString("mc")
             .GetVariable()
             .PushString("_y")
             .GetMember()
             .Op(action::Add2)
             .SetVariable(),
         {1, 0, 0, 1, 200, 400},
         1,
         true,
         "30"},
        {"a path to nowhere", SetMember("nothing", "_x", 100), {1, 0, 0, 1, 200, 400}, 1, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MovedClip movie(c.script);
        const DisplayObject& clip = movie.Clip();
        const Matrix& m = clip.matrix;
        for (auto [got, expected] : {std::pair{m.a, c.matrix.a},
                                     {m.b, c.matrix.b},
                                     {m.c, c.matrix.c},
                                     {m.d, c.matrix.d},
                                     {m.tx, c.matrix.tx},
                                     {m.ty, c.matrix.ty}})
            EXPECT_NEAR(got, expected, 1e-9);
        EXPECT_DOUBLE_EQ(clip.colorTransform.aMul, c.alpha);
        EXPECT_EQ(clip.visible, c.visible);
        EXPECT_EQ(Shown(movie.player->Stage(), 2), c.n);
    }
}

TEST(ScriptProperties, AClipAScriptPlacedIsNoLongerMovedByItsTimeline) {
    MovedClip still(SetMember("mc", "_x", 100));
    still.player->Tick();
    EXPECT_EQ(still.Clip().matrix.tx, 2000);

    MovedClip moved((ActionCode()));
    moved.player->Tick();
    EXPECT_EQ(moved.Clip().matrix.tx, 3000);
}

namespace {

// Script bytes without their end, to join around function bodies.
QByteArray Bytes(const ActionCode& code) {
    return code.Data().chopped(1);
}

QByteArray Function(const QString& name, const QStringList& params, const QByteArray& body) {
    Bits payload;
    payload.String(name).U16(std::uint32_t(params.size()));
    for (const QString& param : params)
        payload.String(param);
    payload.U16(std::uint32_t(body.size()));
    return Bytes(ActionCode().Op(action::DefineFunction, payload.Data())) + body;
}

// DefineFunction2 preloading `this` into register 1, its parameters in registers from 2 on.
QByteArray Function2(const QString& name, const QStringList& params, const QByteArray& body) {
    Bits payload;
    payload.String(name).U16(std::uint32_t(params.size())).U8(std::uint8_t(params.size() + 2)).U8(0x01).U8(0);
    for (qsizetype i = 0; i < params.size(); ++i)
        payload.U8(std::uint8_t(i + 2)).String(params[i]);
    payload.U16(std::uint32_t(body.size()));
    return Bytes(ActionCode().Op(action::DefineFunction2, payload.Data())) + body;
}

ActionCode PushRegister(std::uint8_t index) {
    return ActionCode().Op(action::Push, QByteArray("\x04", 1) + char(index));
}

// A root of six frames with a four-frame sprite "mc" and a field showing n; frame 0 runs `script`.
struct ScriptedStage {
    std::unique_ptr<Player> player;

    explicit ScriptedStage(const QByteArray& script, int version = 10) {
        MovieBuilder builder;
        builder.Version(version)
            .Stage({0, 4000, 0, 4000})
            .Add(Field(10, QStringLiteral("n")))
            .Add(DefineSprite(20, 4, ShowFrame() + ShowFrame() + ShowFrame() + ShowFrame()))
            .Add(PlaceObjectTag(Named(20, 1, QStringLiteral("mc"))))
            .Add(PlaceObjectTag(Place(10, 2)))
            .Add(Tag(12, script + QByteArray(1, '\0')))
            .Add(ShowFrame());
        for (int frame = 1; frame < 6; ++frame)
            builder.Add(ShowFrame());
        player = PlayerFor(builder.Build());
    }

    int ClipFrame() const { return player->Stage().at(1).sprite->currentFrame; }
    QString N() const { return Shown(player->Stage(), 2); }
};

} // namespace

TEST(ScriptFunctions, DefinedFunctionsRunWithArgumentsLocalsAndResults) {
    const QByteArray twice = Function(
        "twice", {"x"},
        Bytes(ActionCode().PushString("x").GetVariable().PushInt(2).Op(action::Multiply).Op(action::Return)));
    struct Case {
        const char* name;
        QByteArray script;
        int rootFrame, clipFrame;
        QString n;
    } cases[] = {
        {"a function's goto acts on its timeline",
         Function("go", {"f"}, Bytes(ActionCode().PushString("f").GetVariable().GotoFrame2(false))) +
             Bytes(ActionCode().PushInt(4).PushInt(1).PushString("go").CallFunction().Pop()),
         3, 0, ""}, // the clip stands still: a goto moves only its own timeline
        {"a result comes back",
         twice + Bytes(ActionCode()
                           .PushString("n")
                           .PushInt(21)
                           .PushInt(1)
                           .PushString("twice")
                           .CallFunction()
                           .SetVariable()),
         0, 0, "42"},
        {"locals stay in the function",
         Function("keep", {}, Bytes(ActionCode().PushString("t").PushInt(5).Op(action::DefineLocal))) +
             Bytes(ActionCode().PushInt(0).PushString("keep").CallFunction().Pop()) +
             Bytes(ActionCode().PushString("n").PushString("t").GetVariable().SetVariable()),
         0, 0, ""},
        {"a method kept on a clip runs with this = the clip",
         Function2("f2", {"a"},
                   Bytes(PushRegister(2).PushInt(1)) +
                       Bytes(PushRegister(1).PushString("gotoAndStop").CallMethod())) +
             Bytes(ActionCode()
                       .PushString("mc")
                       .GetVariable()
                       .PushString("jump")
                       .PushString("f2")
                       .GetVariable()
                       .Op(action::SetMember)
                       .PushInt(3)
                       .PushInt(1)
                       .PushString("mc")
                       .GetVariable()
                       .PushString("jump")
                       .CallMethod()
                       .Pop()),
         0, 2, ""},
        {"an anonymous function in a variable",
         Bytes(ActionCode().PushString("half")) +
             Function("", {"x"},
                      Bytes(ActionCode()
                                .PushString("x")
                                .GetVariable()
                                .PushInt(2)
                                .Op(action::Divide)
                                .Op(action::Return))) +
             Bytes(ActionCode()
                       .SetVariable()
                       .PushString("n")
                       .PushInt(9)
                       .PushInt(1)
                       .PushString("half")
                       .CallFunction()
                       .SetVariable()),
         0, 0, "4.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedStage stage(c.script);
        ASSERT_TRUE(stage.player);
        EXPECT_EQ(stage.player->CurrentFrame(), c.rootFrame);
        EXPECT_EQ(stage.ClipFrame(), c.clipFrame);
        EXPECT_EQ(stage.N(), c.n);
    }
}

TEST(ScriptFunctions, EndlessRecursionAndBodiesPastTheEndAreCutOff) {
    const QByteArray recursion =
        Function("r", {}, Bytes(ActionCode().PushInt(0).PushString("r").CallFunction().Pop())) +
        Bytes(ActionCode()
                  .PushInt(0)
                  .PushString("r")
                  .CallFunction()
                  .Pop()
                  .PushString("n")
                  .PushString("done")
                  .SetVariable());
    ScriptedStage deep(recursion);
    ASSERT_TRUE(deep.player);
    EXPECT_EQ(deep.N(), QStringLiteral("done"));

    // A body said to run 200 bytes past the script ends the script there.
    QByteArray cut = Function("c", {}, {});
    cut[cut.size() - 2] = char(200);
    ScriptedStage past(cut + Bytes(ActionCode().PushString("n").PushString("after").SetVariable()));
    ASSERT_TRUE(past.player);
    EXPECT_EQ(past.N(), QStringLiteral(""));
    past.player->Tick();
    EXPECT_EQ(past.player->CurrentFrame(), 1);
}

namespace {

// Math.method(...) with `count` arguments pushed before it.
ActionCode& MathCall(ActionCode& code, int count, const QString& method) {
    return code.PushInt(count).PushString("Math").GetVariable().PushString(method).Op(action::CallMethod);
}

} // namespace

TEST(ScriptOperators, StringsBitsTypesAndMath) {
    struct Case {
        const char* name;
        ActionCode expression; // leaves n's value on the stack, or Math's arguments
        QString n;
        int mathArguments = 0;
        QString mathMethod = {}; // then called on them
    } cases[] = {
        {"substring", ActionCode().PushString("Hello").PushInt(2).PushInt(3).Op(action::StringExtract),
         "ell"},
        {"substring past the end",
         ActionCode().PushString("Hi").PushInt(5).PushInt(3).Op(action::StringExtract), ""},
        {"chr", ActionCode().PushInt(65).Op(action::AsciiToChar), "A"},
        {"ord", ActionCode().PushString("a").Op(action::CharToAscii), "97"},
        {"and", ActionCode().PushInt(6).PushInt(3).Op(action::BitAnd), "2"},
        {"shift left", ActionCode().PushInt(1).PushInt(4).Op(action::BitLShift), "16"},
        {"unsigned shift of -1", ActionCode().PushInt(-1).PushInt(28).Op(action::BitURShift), "15"},
        {"1 === \"1\"", ActionCode().PushInt(1).PushString("1").Op(action::StrictEquals), "false"},
        {"typeof a clip", ActionCode().PushString("mc").GetVariable().Op(action::TypeOf), "movieclip"},
        {"typeof a string", ActionCode().PushString("x").Op(action::TypeOf), "string"},
        {"Math.floor(Math.PI * 100)",
         ActionCode().PushString("Math").GetVariable().PushString("PI").GetMember().PushInt(100).Op(
             action::Multiply),
         "314", 1, "floor"},
        {"Math.max", ActionCode().PushInt(7).PushInt(3), "7", 2, "max"},
        {"Math.round(2.5)", ActionCode().PushDouble(2.5), "3", 1, "round"},
        {"an unknown Math method", ActionCode(), "", 0, "nothing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ActionCode expression = c.expression;
        if (!c.mathMethod.isEmpty())
            MathCall(expression, c.mathArguments, c.mathMethod);
        ScriptedStage stage(Bytes(ActionCode().PushString("n")) + Bytes(expression) +
                            Bytes(ActionCode().SetVariable()));
        ASSERT_TRUE(stage.player);
        EXPECT_EQ(stage.N(), c.n);
    }
}

// Each operator and stack action with operands that tell it from its neighbours, so an action run
// by the wrong body shows; the actions scripts use only for their effect on the stack leave 5.
TEST(ScriptOperators, EachActionGivesItsOwnResult) {
    const auto push = [](double a, double b) { return ActionCode().PushDouble(a).PushDouble(b); };
    const auto strings = [](const char* a, const char* b) {
        return ActionCode().PushString(a).PushString(b);
    };
    const ActionCode five = ActionCode().PushInt(5);
    const struct Case {
        const char* name;
        ActionCode expression; // leaves n's value on the stack
        QString n;
    } cases[] = {
        {"add", push(7, 2).Op(action::Add), "9"},
        {"subtract", push(7, 2).Op(action::Subtract), "5"},
        {"multiply", push(7, 2).Op(action::Multiply), "14"},
        {"divide", push(7, 2).Op(action::Divide), "3.5"},
        {"modulo", push(7, 2).Op(action::Modulo), "1"},
        {"less", push(7, 2).Op(action::Less), "false"},
        {"typed less", push(2, 7).Op(action::Less2), "true"},
        {"greater", push(7, 2).Op(action::Greater), "true"},
        {"equals compares numbers", ActionCode().PushInt(7).PushString("7").Op(action::Equals), "true"},
        {"and", push(1, 0).Op(action::And), "false"},
        {"or", push(1, 0).Op(action::Or), "true"},
        {"string equals", strings("a", "a").Op(action::StringEquals), "true"},
        {"string less", strings("a", "b").Op(action::StringLess), "true"},
        {"string greater", strings("a", "b").Op(action::StringGreater), "false"},
        {"string length", ActionCode().PushString("hello").Op(action::StringLength), "5"},
        {"multibyte length", ActionCode().PushString("h\u00e9llo").Op(action::MBStringLength), "5"},
        {"multibyte substring",
         ActionCode().PushString("Hello").PushInt(2).PushInt(3).Op(action::MBStringExtract), "ell"},
        {"multibyte ord", ActionCode().PushString("\u00e9").Op(action::MBCharToAscii), "233"},
        {"multibyte chr", ActionCode().PushInt(66).Op(action::MBAsciiToChar), "B"},
        {"increment", ActionCode().PushInt(7).Op(action::Increment), "8"},
        {"decrement", ActionCode().PushInt(7).Op(action::Decrement), "6"},
        {"to integer", ActionCode().PushDouble(-2.5).Op(action::ToInteger), "-2"},
        {"to number", ActionCode().PushString(" 12 ").Op(action::ToNumber), "12"},
        {"to string then join",
         ActionCode().PushDouble(12.5).Op(action::ToString).PushInt(1).Op(action::Add2), "12.51"},
        {"or of bits", push(6, 3).Op(action::BitOr), "7"},
        {"xor of bits", push(6, 3).Op(action::BitXor), "5"},
        {"signed shift right", push(-16, 2).Op(action::BitRShift), "-4"},
        {"duplicate", ActionCode().PushInt(7).Op(action::PushDuplicate).Op(action::Add2), "14"},
        {"swap", push(7, 2).Op(action::StackSwap).Op(action::Subtract), "-5"},
        {"register",
         ActionCode()
             .PushInt(9)
             .Op(action::StoreRegister, QByteArray(1, 1))
             .Pop()
             .Op(action::Push, QByteArray("\x04\x01", 2)),
         "9"},
        {"delete of a missing member", ActionCode().PushString("x").PushString("y").Op(action::Delete),
         "false"},
        {"delete2 of a missing variable", ActionCode().PushString("x").Op(action::Delete2), "false"},
        {"call", ActionCode(five).PushString("2").Op(action::Call), "5"},
        {"getURL2", ActionCode(five).PushString("u").PushString("w").Op(action::GetUrl2, QByteArray(1, 0)),
         "5"},
        {"waitForFrame2", ActionCode(five).PushInt(1).Op(action::WaitForFrame2, QByteArray(1, 0)), "5"},
        {"waitForFrame", ActionCode(five).Op(action::WaitForFrame, QByteArray(3, 0)), "5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedStage stage(Bytes(ActionCode().PushString("n")) + Bytes(c.expression) +
                            Bytes(ActionCode().SetVariable()));
        ASSERT_TRUE(stage.player);
        EXPECT_EQ(stage.N(), c.n);
    }
}

TEST(ScriptOperators, RandomNumbersStayInRangeAndRepeatFromRunToRun) {
    // n = random(10) + "," + random(10) + "," + Math.random()
    ActionCode script;
    script.PushString("n")
        .PushInt(10)
        .Op(action::RandomNumber)
        .PushString(",")
        .Op(action::StringAdd)
        .PushInt(10)
        .Op(action::RandomNumber)
        .Op(action::StringAdd);
    script.PushString(",").Op(action::StringAdd);
    MathCall(script, 0, "random").Op(action::StringAdd);
    script.SetVariable();
    ScriptedStage first(Bytes(script)), second(Bytes(script));
    ASSERT_TRUE(first.player && second.player);
    EXPECT_EQ(first.N(), second.N());
    const QStringList parts = first.N().split(',');
    ASSERT_EQ(parts.size(), 3);
    for (int i = 0; i < 2; ++i) {
        bool ok = false;
        const int value = parts[i].toInt(&ok);
        EXPECT_TRUE(ok && value >= 0 && value < 10) << parts[i].toStdString();
    }
    const double unit = parts[2].toDouble();
    EXPECT_TRUE(unit >= 0 && unit < 1) << parts[2].toStdString();
}

TEST(ScriptOperators, GetTimerCountsTheFramesPlayed) {
    MovieBuilder builder;
    builder.Stage({0, 4000, 0, 4000})
        .FrameRate(12)
        .Add(Field(10, QStringLiteral("n")))
        .Add(PlaceObjectTag(Place(10, 1)));
    for (int frame = 0; frame < 4; ++frame) {
        if (frame == 3)
            builder.Add(DoAction(ActionCode().PushString("n").Op(action::GetTime).SetVariable()));
        builder.Add(ShowFrame());
    }
    ReadResult read = ReadMovie(builder.Build());
    ASSERT_TRUE(read.movie);
    Player player(read.movie);
    for (int tick = 0; tick < 3; ++tick)
        player.Tick();
    EXPECT_EQ(Shown(player.Stage(), 1), QStringLiteral("250"));
}

TEST(ScriptClips, DuplicatesAreNewClipsThatScriptsCanMoveAndRemove) {
    constexpr std::uint16_t CopyDepth = 16384 + 5;
    const ActionCode duplicate = ActionCode()
                                     .PushInt(5) // arguments go last first
                                     .PushString("copy")
                                     .PushInt(2)
                                     .PushString("mc")
                                     .GetVariable()
                                     .PushString("duplicateMovieClip")
                                     .Op(action::CallMethod)
                                     .Pop()
                                     .PushString("copy._x")
                                     .PushInt(50)
                                     .SetVariable();
    ScriptedStage copied(Bytes(duplicate));
    ASSERT_TRUE(copied.player);
    const DisplayList& stage = copied.player->Stage();
    ASSERT_TRUE(stage.count(CopyDepth));
    const DisplayObject& copy = stage.at(CopyDepth);
    EXPECT_EQ(copy.name, QStringLiteral("copy"));
    ASSERT_TRUE(copy.sprite);
    EXPECT_NE(copy.sprite, stage.at(1).sprite);
    EXPECT_EQ(copy.sprite->currentFrame, 0);
    EXPECT_EQ(copy.matrix.tx, 1000);
    EXPECT_EQ(stage.at(1).matrix.tx, 0);

    // removeMovieClip takes the copy away; the clip the timeline placed stays.
    ScriptedStage removed(Bytes(duplicate) + Bytes(ActionCode()
                                                       .PushString("copy")
                                                       .Op(action::RemoveSprite)
                                                       .PushString("mc")
                                                       .Op(action::RemoveSprite)
                                                       .PushString("n")
                                                       .PushString("copy")
                                                       .GetVariable()
                                                       .Op(action::TypeOf)
                                                       .SetVariable()));
    ASSERT_TRUE(removed.player);
    EXPECT_FALSE(removed.player->Stage().count(CopyDepth));
    EXPECT_TRUE(removed.player->Stage().count(1));
    EXPECT_EQ(removed.N(), QStringLiteral("undefined"));
}

TEST(ScriptClips, HandlersSetOnClipsRunOnTheirEvents) {
    // mc.onEnterFrame = function () { this._x += 10 }; mc.onMouseDown = function () { _root.n = "down" }
    const QByteArray moveRight = Bytes(ActionCode()
                                           .PushString("this")
                                           .GetVariable()
                                           .PushString("_x")
                                           .PushString("this")
                                           .GetVariable()
                                           .PushString("_x")
                                           .GetMember()
                                           .PushInt(10)
                                           .Op(action::Add2)
                                           .Op(action::SetMember));
    const QByteArray pressed = Bytes(ActionCode().PushString("_root.n").PushString("down").SetVariable());
    const QByteArray script = Bytes(ActionCode().PushString("mc").GetVariable().PushString("onEnterFrame")) +
                              Function("", {}, moveRight) + Bytes(ActionCode().Op(action::SetMember)) +
                              Bytes(ActionCode().PushString("mc").GetVariable().PushString("onMouseDown")) +
                              Function("", {}, pressed) + Bytes(ActionCode().Op(action::SetMember));
    ScriptedStage stage(script);
    ASSERT_TRUE(stage.player);
    EXPECT_EQ(stage.player->Stage().at(1).matrix.tx, 0);
    stage.player->Tick();
    stage.player->Tick();
    EXPECT_EQ(stage.player->Stage().at(1).matrix.tx, 400);
    EXPECT_EQ(stage.N(), QStringLiteral(""));
    stage.player->MouseDown(10, 10);
    EXPECT_EQ(stage.N(), QStringLiteral("down"));
}

TEST(ScriptClips, FieldsByInstanceNameTakeTheirTextFromScripts) {
    // A field named "title" with "Hi", and one inside the sprite "box" named "label".
    MovieBuilder builder;
    builder.Stage({0, 4000, 0, 4000})
        .Add(Field(10, {}, QStringLiteral("Hi")))
        .Add(DefineSprite(20, 1, PlaceObjectTag(Named(10, 1, QStringLiteral("label"))) + ShowFrame()))
        .Add(PlaceObjectTag(Named(10, 1, QStringLiteral("title"))))
        .Add(PlaceObjectTag(Named(20, 2, QStringLiteral("box"))))
        .Add(DoAction(ActionCode()
                          // title.text = title.text + "!"
                          .PushString("title")
                          .GetVariable()
                          .PushString("text")
                          .PushString("title")
                          .GetVariable()
                          .PushString("text")
                          .GetMember()
                          .PushString("!")
                          .Op(action::Add2)
                          .Op(action::SetMember)
                          // box.label.text = typeof box.label
                          .PushString("box.label")
                          .GetVariable()
                          .PushString("text")
                          .PushString("box")
                          .GetVariable()
                          .PushString("label")
                          .GetMember()
                          .Op(action::TypeOf)
                          .Op(action::SetMember)))
        .Add(ShowFrame());
    ReadResult read = ReadMovie(builder.Build());
    ASSERT_TRUE(read.movie);
    Player player(read.movie);
    EXPECT_EQ(Shown(player.Stage(), 1), QStringLiteral("Hi!"));
    const DisplayObject& box = player.Stage().at(2);
    ASSERT_TRUE(box.sprite);
    EXPECT_EQ(Shown(box.sprite->displayList, 1), QStringLiteral("object"));
}

TEST(ScriptClips, AWithBlockActsOnItsClipAndGivesTheTargetBack) {
    // with (mc) { gotoAndStop(3) } n = _currentframe
    const QByteArray block = Bytes(ActionCode().PushInt(3).GotoFrame2(false));
    Bits size;
    size.U16(std::uint32_t(block.size()));
    const QByteArray script =
        Bytes(ActionCode().PushString("mc").GetVariable().Op(action::With, size.Data())) + block +
        Bytes(ActionCode().PushString("n").PushString("_currentframe").GetVariable().SetVariable());
    ScriptedStage stage(script);
    ASSERT_TRUE(stage.player);
    EXPECT_EQ(stage.ClipFrame(), 2);
    EXPECT_EQ(stage.player->CurrentFrame(), 0);
    EXPECT_EQ(stage.N(), QStringLiteral("1"));
}

TEST(ScriptClips, DraggedClipsFollowTheMouseWithinTheirBounds) {
    struct Case {
        const char* name;
        ActionCode frame1; // runs with the mouse at (1000, 1000) twips
        QPointF after;     // mc's position once the mouse is at (3000, 2000)
    } cases[] = {
        {"centre locked",
         ActionCode().PushBool(false).PushBool(true).PushString("mc").Op(action::StartDrag),
         {3000, 2000}},
        {"kept at its distance",
         ActionCode()
             .PushBool(false)
             .PushInt(1)
             .PushString("mc")
             .GetVariable()
             .PushString("startDrag")
             .CallMethod(),
         {2000, 1000}},
        {"inside bounds of 0..50 x 0..60 px",
         ActionCode()
             .PushInt(0)
             .PushInt(0)
             .PushInt(50)
             .PushInt(60)
             .PushBool(true)
             .PushBool(true)
             .PushString("mc")
             .Op(action::StartDrag),
         {1000, 1200}},
        {"stopped",
         ActionCode()
             .PushBool(false)
             .PushBool(true)
             .PushString("mc")
             .Op(action::StartDrag)
             .Op(action::EndDrag),
         {1000, 1000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadResult read = ReadMovie(MovieBuilder()
                                        .Stage({0, 4000, 0, 4000})
                                        .Add(DefineSprite(20, 1, ShowFrame()))
                                        .Add(PlaceObjectTag(Named(20, 1, QStringLiteral("mc"))))
                                        .Add(ShowFrame())
                                        .Add(DoAction(c.frame1))
                                        .Add(ShowFrame())
                                        .Build());
        ASSERT_TRUE(read.movie);
        Player player(read.movie);
        player.MouseMove(1000, 1000);
        player.Tick();
        player.MouseMove(3000, 2000);
        const Matrix& m = player.Stage().at(1).matrix;
        EXPECT_EQ(QPointF(m.tx, m.ty), c.after);
    }
}

TEST(ScriptOperators, UndefinedFollowsTheMovieVersionAndPreloadersFindEverythingLoaded) {
    struct Case {
        const char* name;
        int version;
        ActionCode expression;
        QString n;
    } cases[] = {
        {"undefined + 1 before version 7", 6,
         ActionCode().PushString("u").GetVariable().PushInt(1).Op(action::Add2), "1"},
        {"undefined + 1 from version 7", 7,
         ActionCode().PushString("u").GetVariable().PushInt(1).Op(action::Add2), "NaN"},
        {"undefined == null", 7,
         ActionCode()
             .PushString("u")
             .GetVariable()
             .Op(action::Push, QByteArray(1, '\x02'))
             .Op(action::Equals2),
         "true"},
        {"undefined == 0", 6, ActionCode().PushString("u").GetVariable().PushInt(0).Op(action::Equals2),
         "false"},
        {"getBytesLoaded() == getBytesTotal()", 7,
         ActionCode()
             .PushInt(0)
             .PushString("_root")
             .GetVariable()
             .PushString("getBytesLoaded")
             .Op(action::CallMethod)
             .PushInt(0)
             .PushString("_root")
             .GetVariable()
             .PushString("getBytesTotal")
             .Op(action::CallMethod)
             .Op(action::Equals2),
         "true"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedStage stage(Bytes(ActionCode().PushString("n")) + Bytes(c.expression) +
                                Bytes(ActionCode().SetVariable()),
                            c.version);
        ASSERT_TRUE(stage.player);
        EXPECT_EQ(stage.N(), c.n);
    }
}

TEST(ScriptClips, AttachedSpritesComeFromTheirLinkageNames) {
    Bits exports;
    exports.U16(1).U16(20).String("Star");
    const auto attach = [](const QString& clip, const QString& linkage) {
        // n = typeof clip.attachMovie(linkage, "s1", 3)
        return ActionCode()
            .PushString("n")
            .PushInt(3)
            .PushString("s1")
            .PushString(linkage)
            .PushInt(3)
            .PushString(clip)
            .GetVariable()
            .PushString("attachMovie")
            .Op(action::CallMethod)
            .Op(action::TypeOf)
            .SetVariable();
    };
    struct Case {
        const char* name;
        ActionCode script;
        bool onRoot, inMc;
        QString n;
    } cases[] = {
        {"on the root", attach("_root", "STAR"), true, false, "movieclip"},
        {"inside a clip", attach("mc", "star"), false, true, "movieclip"},
        {"an unknown name", attach("_root", "moon"), false, false, "undefined"},
    };
    constexpr std::uint16_t AttachedDepth = 16384 + 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadResult read = ReadMovie(MovieBuilder()
                                        .Stage({0, 4000, 0, 4000})
                                        .Add(Field(10, QStringLiteral("n")))
                                        .Add(DefineSprite(20, 2, ShowFrame() + ShowFrame()))
                                        .Add(Tag(56, exports.Data()))
                                        .Add(PlaceObjectTag(Named(20, 1, QStringLiteral("mc"))))
                                        .Add(PlaceObjectTag(Place(10, 2)))
                                        .Add(DoAction(c.script))
                                        .Add(ShowFrame())
                                        .Build());
        ASSERT_TRUE(read.movie);
        EXPECT_EQ(read.movie->exports.at(QStringLiteral("star")), 20);
        Player player(read.movie);
        const DisplayList& root = player.Stage();
        EXPECT_EQ(root.count(AttachedDepth) == 1, c.onRoot);
        EXPECT_EQ(root.at(1).sprite->displayList.count(AttachedDepth) == 1, c.inMc);
        EXPECT_EQ(Shown(root, 2), c.n);
        if (c.onRoot) {
            EXPECT_EQ(root.at(AttachedDepth).name, QStringLiteral("s1"));
            EXPECT_EQ(root.at(AttachedDepth).sprite->currentFrame, 0);
        }
    }
}

TEST(ScriptClips, HandlersSetOnAButtonInstanceAnswerItsMouseEvents) {
    // play_btn.onRelease = function () { gotoAndStop(3) }; play_btn.onRollOver = function () { n = "over" }
    const QByteArray release = Bytes(ActionCode().PushInt(3).GotoFrame2(false));
    const QByteArray over = Bytes(ActionCode().PushString("n").PushString("over").SetVariable());
    const QByteArray script =
        Bytes(ActionCode().Stop().PushString("play_btn").GetVariable().PushString("onRelease")) +
        Function("", {}, release) + Bytes(ActionCode().Op(action::SetMember)) +
        Bytes(ActionCode().PushString("play_btn").GetVariable().PushString("onRollOver")) +
        Function("", {}, over) + Bytes(ActionCode().Op(action::SetMember));
    const std::vector<ButtonRecord> records = {{ButtonRecord::Up | ButtonRecord::HitTest, 1, 1, {}, {}}};
    MovieBuilder builder;
    builder.Stage({0, 4000, 0, 4000})
        .Add(Field(10, QStringLiteral("n")))
        .Add(DefineShape(ShapeDefinition()
                             .Id(1)
                             .Fills({Solid({255, 0, 0, 255})})
                             .Records(ShapeRecords().Fill0(1).Box(0, 0, 1000, 1000))))
        .Add(DefineButton2(5, records, {}))
        .Add(PlaceObjectTag(Named(5, 1, QStringLiteral("play_btn"))))
        .Add(PlaceObjectTag(Place(10, 2)))
        .Add(Tag(12, script + QByteArray(1, '\0')))
        .Add(ShowFrame());
    for (int frame = 1; frame < 5; ++frame)
        builder.Add(ShowFrame());
    const std::unique_ptr<Player> player = PlayerFor(builder.Build());
    ASSERT_TRUE(player);
    EXPECT_EQ(player->CurrentFrame(), 0);
    player->MouseMove(500, 500);
    EXPECT_EQ(Shown(player->Stage(), 2), QStringLiteral("over"));
    player->MouseDown(500, 500);
    player->MouseUp(500, 500);
    EXPECT_EQ(player->CurrentFrame(), 2);
    EXPECT_FALSE(player->Playing());
}
