// Frame scripts and buttons: movies written here, read back and played, checked by the frames they
// show, the clips they stop and what a button shows, tints and sounds under the mouse.
#include "flash/player/avm1/Actions.h"
#include "PixelCheck.h"
#include "ReadBack.h"
#include "SwfWriter.h"
#include "flash/media/SoundMixer.h"
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"
#include "flash/swf/ActionRecords.h"
#include "flash/swf/SwfReader.h"

#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

constexpr Rect StageTwips{0, 4000, 0, 4000};

QByteArray Box(std::uint16_t id, const Rgba& color) {
    return DefineShape(ShapeDefinition()
                           .Id(id)
                           .Bounds({0, 1000, 0, 1000})
                           .Fills({Solid(color)})
                           .Records(ShapeRecords().Fill0(1).Box(0, 0, 1000, 1000)));
}

// A movie of `frames` frames, frame 3 labelled "end", with `script` on frame `scriptFrame`.
std::shared_ptr<const Movie> ScriptedMovie(int scriptFrame, const ActionCode& script, int frames = 6) {
    MovieBuilder movie;
    movie.Stage(StageTwips);
    for (int frame = 0; frame < frames; ++frame) {
        if (frame == 3)
            movie.Add(FrameLabelTag("end"));
        if (frame == scriptFrame)
            movie.Add(DoAction(script));
        movie.Add(ShowFrame());
    }
    return ReadBack(movie.Build());
}

// The frame after each of `ticks` ticks.
std::vector<int> FramesAfterTicks(Player& player, int ticks) {
    std::vector<int> frames;
    for (int i = 0; i < ticks; ++i) {
        player.Tick();
        frames.push_back(player.CurrentFrame());
    }
    return frames;
}

// A sprite (id 20) of 4 empty frames.
QByteArray FourFrameSprite(std::uint16_t id = 20, const QByteArray& firstFrame = {}) {
    return DefineSprite(id, 4, firstFrame + ShowFrame() + ShowFrame() + ShowFrame() + ShowFrame());
}

PlaceObject Named(std::uint16_t id, std::uint16_t depth, const QString& name) {
    PlaceObject place = Place(id, depth);
    place.name = name;
    return place;
}

const DisplayObject* FindNamed(const DisplayList& list, const QString& name) {
    for (const auto& [depth, object] : list)
        if (object.name == name)
            return &object;
    return nullptr;
}

} // namespace

TEST(Actions, StopInAFrameScriptHoldsThatFrame) {
    Player player(ScriptedMovie(2, ActionCode().Stop()));
    EXPECT_EQ(FramesAfterTicks(player, 4), (std::vector<int>{1, 2, 2, 2}));
    EXPECT_FALSE(player.Playing());
}

// Every form of goto, run from frame 1: where the movie is after that tick and the next.
TEST(Actions, GotoFormsLandOnTheirFrameAndPlayOrStop) {
    struct Case {
        const char* name;
        ActionCode script;
        std::vector<int> frames;
    };
    const Case cases[] = {
        {"GotoFrame then Play", ActionCode().GotoFrame(3).Play(), {3, 4}},
        {"GotoLabel then Stop", ActionCode().GotoLabel("end").Stop(), {3, 3}},
        {"GotoFrame keeps playing", ActionCode().GotoFrame(4), {4, 5}},
        {"GotoFrame2 number, play", ActionCode().PushInt(4).GotoFrame2(true), {3, 4}},
        {"GotoFrame2 double, stop", ActionCode().PushDouble(4).GotoFrame2(false), {3, 3}},
        {"GotoFrame2 label", ActionCode().PushString("end").GotoFrame2(false), {3, 3}},
        {"GotoFrame2 pooled label",
         ActionCode().ConstantPool({"x", "END"}).PushConstant(1).GotoFrame2(true),
         {3, 4}},
        {"GotoFrame2 scene bias", ActionCode().PushInt(2).GotoFrame2(false, 2), {3, 3}},
        {"gotoAndStop()",
         ActionCode().PushInt(4).PushInt(1).PushString("gotoAndStop").CallFunction(),
         {3, 3}},
        {"_root.gotoAndStop(4)",
         ActionCode()
             .PushInt(4)
             .PushInt(1)
             .PushString("_root")
             .GetVariable()
             .PushString("gotoAndStop")
             .CallMethod(),
         {3, 3}},
        {"_root.gotoAndPlay(\"end\") pooled",
         ActionCode()
             .ConstantPool({"end", "_root", "gotoAndPlay"})
             .PushConstant(0)
             .PushInt(1)
             .PushConstant(1)
             .GetVariable()
             .PushConstant(2)
             .CallMethod(),
         {3, 4}},
        {"nextFrame", ActionCode().NextFrame(), {2, 2}},
        {"prevFrame", ActionCode().PrevFrame(), {0, 0}},
        {"this.prevFrame()",
         ActionCode().PushInt(0).PushString("this").GetVariable().PushString("prevFrame").CallMethod(),
         {0, 0}},
        {"unknown label stays", ActionCode().GotoLabel("nowhere").Stop(), {1, 1}},
    };
    for (const Case& c : cases) {
        Player player(ScriptedMovie(1, c.script));
        EXPECT_EQ(FramesAfterTicks(player, 2), c.frames) << c.name;
    }
}

// A script on frame 4 sends the movie back within the same tick, so frame 4 never stays: frames 2
// and 3 repeat.
TEST(Actions, GotoBackwardsLoopsPartOfTheMovie) {
    Player player(ScriptedMovie(4, ActionCode().GotoFrame(2).Play()));
    EXPECT_EQ(FramesAfterTicks(player, 7), (std::vector<int>{1, 2, 3, 2, 3, 2, 3}));
    EXPECT_TRUE(player.Playing());
}

// Seeking from the control runs only the scripts of the frame it lands on.
TEST(Actions, SeekingRunsTheScriptsOfTheTargetFrameOnly) {
    Player player(ScriptedMovie(2, ActionCode().Stop()));
    player.GotoFrame(4);
    EXPECT_EQ(player.CurrentFrame(), 4);
    EXPECT_TRUE(player.Playing());
    player.GotoFrame(2);
    EXPECT_FALSE(player.Playing());
}

TEST(Actions, ARunawayScriptIsCutOffAndTheMovieGoesOn) {
    // A jump onto itself (the record is 5 bytes long), then a stop it never reaches.
    Player player(ScriptedMovie(1, ActionCode().Jump(-5).Stop()));
    EXPECT_EQ(FramesAfterTicks(player, 3), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(player.Playing());
}

// tellTarget in its forms stops sprite "a" and leaves its sibling "b" playing.
TEST(Actions, TargetsStopOnlyTheNamedSprite) {
    struct Case {
        const char* name;
        ActionCode script;
    };
    const Case cases[] = {
        {"SetTarget a", ActionCode().SetTarget("a").Stop().SetTarget("")},
        {"SetTarget /a", ActionCode().SetTarget("/a").Stop().SetTarget("")},
        {"SetTarget _root.a", ActionCode().SetTarget("_root.a").Stop().SetTarget("")},
        {"SetTarget2", ActionCode().PushString("a").SetTarget2().Stop().PushString("").SetTarget2()},
        {"a.stop()", ActionCode().PushInt(0).PushString("a").GetVariable().PushString("stop").CallMethod()},
        {"_root.a.stop()", ActionCode()
                               .PushInt(0)
                               .PushString("_root")
                               .GetVariable()
                               .PushString("a")
                               .GetMember()
                               .PushString("stop")
                               .CallMethod()},
    };
    for (const Case& c : cases) {
        MovieBuilder movie;
        movie.Stage(StageTwips);
        movie.Add(FourFrameSprite());
        movie.Add(PlaceObjectTag(Named(20, 1, "a")));
        movie.Add(PlaceObjectTag(Named(20, 2, "b")));
        movie.Add(DoAction(ActionCode(c.script).Stop()));
        movie.Add(ShowFrame());
        Player player(ReadBack(movie.Build()));
        FramesAfterTicks(player, 2);
        ASSERT_TRUE(FindNamed(player.Stage(), "a")) << c.name;
        EXPECT_EQ(FindNamed(player.Stage(), "a")->sprite->currentFrame, 0) << c.name;
        EXPECT_FALSE(FindNamed(player.Stage(), "a")->sprite->playing) << c.name;
        EXPECT_EQ(FindNamed(player.Stage(), "b")->sprite->currentFrame, 2) << c.name;
        EXPECT_EQ(player.CurrentFrame(), 0) << c.name;
    }
}

// A script inside a nested sprite reaches up with ".." and "_parent".
TEST(Actions, ParentPathsReachTheEnclosingSprite) {
    for (const QString& path : {QStringLiteral(".."), QStringLiteral("_parent"), QStringLiteral("../../a")}) {
        MovieBuilder movie;
        movie.Stage(StageTwips);
        movie.Add(FourFrameSprite(21, DoAction(ActionCode().SetTarget(path).Stop())));
        movie.Add(FourFrameSprite(20, PlaceObjectTag(Named(21, 1, "inner"))));
        movie.Add(PlaceObjectTag(Named(20, 1, "a")));
        movie.Add(ShowFrame());
        movie.Add(ShowFrame());
        Player player(ReadBack(movie.Build()));
        player.Tick();
        const DisplayObject* a = FindNamed(player.Stage(), "a");
        ASSERT_TRUE(a);
        EXPECT_FALSE(a->sprite->playing) << path.toStdString();
        EXPECT_EQ(a->sprite->currentFrame, 0) << path.toStdString();
        EXPECT_TRUE(FindNamed(a->sprite->displayList, "inner")->sprite->playing) << path.toStdString();
    }
}

TEST(Actions, InitActionsRunOnceBeforeFrameScripts) {
    MovieBuilder movie;
    movie.Stage(StageTwips);
    movie.Add(FourFrameSprite());
    movie.Add(ShowFrame());
    // The frame script plays on; the init action, run before it, would have stopped.
    movie.Add(DoInitAction(20, ActionCode().Stop()));
    movie.Add(DoAction(ActionCode().Play()));
    movie.Add(ShowFrame());
    movie.Add(DoInitAction(20, ActionCode().GotoFrame(0).Stop()));
    movie.Add(ShowFrame());
    Player player(ReadBack(movie.Build()));
    EXPECT_EQ(FramesAfterTicks(player, 4), (std::vector<int>{1, 2, 0, 1}));
    EXPECT_TRUE(player.Playing());
}

// Records that are consumed but do nothing, damaged ones, and jumps: the frame script stops the movie
// only where marked.
TEST(Actions, SkippedAndDamagedCodeIsConsumedSafely) {
    const QByteArray functionBody = ActionCode().Stop().Data().chopped(1);
    struct Case {
        const char* name;
        QByteArray code;
        bool stops;
    };
    const Case cases[] = {
        {"Jump over a stop", ActionCode().Jump(1).Stop().Data(), false},
        {"If true over a stop", ActionCode().PushBool(true).If(1).Stop().Data(), false},
        {"If false falls through", ActionCode().PushBool(false).If(1).Stop().Data(), true},
        {"jump out of range ends the script", ActionCode().Jump(1000).Stop().Data(), false},
        {"jump before the start ends the script", ActionCode().Jump(-1000).Stop().Data(), false},
        {"function body is not run",
         ActionCode()
                 .Op(action::DefineFunction,
                     Bits().String("f").U16(0).U16(std::uint32_t(functionBody.size())).Data())
                 .Data()
                 .chopped(1) +
             functionBody + QByteArray(1, '\0'),
         false},
        {"unknown actions are skipped",
         ActionCode().Op(action::Code(0x7E)).Op(action::Code(0xC3), QByteArray(3, 0x07)).Stop().Data(), true},
        {"variables round trip",
         ActionCode()
             .PushString("v")
             .PushInt(7)
             .SetVariable()
             .PushString("v")
             .GetVariable()
             .PushInt(7)
             .Op(action::Equals2)
             .If(1)
             .Play()
             .Stop()
             .Data(),
         true},
        {"arithmetic",
         ActionCode()
             .PushInt(2)
             .PushInt(3)
             .Op(action::Add2)
             .PushInt(5)
             .Op(action::Equals2)
             .Op(action::Not)
             .If(1)
             .Stop()
             .Data(),
         true},
        {"truncated push payload", Bits().U8(action::Push).U16(5).U8(0).U8(action::Stop).Data(), false},
        {"length past the end", Bits().U8(action::Stop).U8(action::Push).U16(0xFFFF).U8(0).Data(), true},
        {"missing ActionEnd", Bits().U8(action::Stop).Data(), true},
        {"constant pool larger than its payload",
         ActionCode()
             .Op(action::ConstantPool, QByteArray::fromHex("ffff61006200"))
             .PushConstant(300)
             .GotoFrame2(false)
             .Stop()
             .Data(),
         true},
        {"pops on an empty stack",
         ActionCode().Pop().Pop().CallMethod().CallFunction().SetTarget2().Stop().Data(), true},
    };
    for (const Case& c : cases) {
        MovieBuilder movie;
        movie.Stage(StageTwips);
        movie.Add(ShowFrame());
        movie.Add(Tag(tag::DoAction, c.code));
        movie.Add(ShowFrame());
        movie.Add(ShowFrame());
        Player player(ReadBack(movie.Build()));
        player.Tick();
        EXPECT_EQ(player.Playing(), !c.stops) << c.name;
    }
}

TEST(Actions, RecordsDecodeWithTheirPayloadsAndStopAtDamage) {
    const QByteArray code = ActionCode().Stop().GotoFrame(7).Play().Data();
    const std::vector<ActionRecord> records = ParseActions(code);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].code, action::GotoFrame);
    EXPECT_EQ(records[1].payload.toByteArray(), QByteArray::fromHex("0700"));
    EXPECT_EQ(records[2].offset, 6u);
    EXPECT_EQ(ParseActions(code.left(4)).size(), 1u); // the goto's payload is cut
    EXPECT_EQ(ParseActions(code.left(2)).size(), 1u); // and its length
    EXPECT_FALSE(DecodeAction(code, 100));
    // Nothing after ActionEnd is a record.
    EXPECT_EQ(ParseActions(ActionCode().Stop().Data() + ActionCode().Play().Data()).size(), 1u);
}

// --- Buttons ---

namespace {

// A movie stopped at frame 0 by its script, with a button at (1000, 1000) twips: red up, green over,
// blue down, hit area its 1000-twip square. Its release plays the movie.
QByteArray ButtonMovie(int version, const QByteArray& extraTags = {}) {
    const std::vector<ButtonRecord> records = {
        {ButtonRecord::Up | ButtonRecord::HitTest, 1, 1, {}, {}},
        {ButtonRecord::Over, 2, 1, {}, {}},
        {ButtonRecord::Down, 3, 1, {}, {}},
    };
    MovieBuilder movie;
    movie.Stage(StageTwips);
    movie.Add(SetBackgroundColorTag({255, 255, 255, 255}));
    movie.Add(Box(1, {255, 0, 0, 255}));
    movie.Add(Box(2, {0, 255, 0, 255}));
    movie.Add(Box(3, {0, 0, 255, 255}));
    movie.Add(
        version == 1
            ? DefineButton(5, records, ActionCode().Play())
            : DefineButton2(
                  5, records,
                  {{IdleToOverUp,
                    ActionCode().PushInt(0).PushString("this").GetVariable().PushString("stop").CallMethod()},
                   {OverDownToOverUp, ActionCode().Play()}}));
    movie.Add(extraTags);
    PlaceObject place = Place(5, 1);
    place.matrix = Matrix{1, 0, 0, 1, 1000, 1000};
    movie.Add(PlaceObjectTag(place));
    movie.Add(DoAction(ActionCode().Stop()));
    movie.Add(ShowFrame());
    movie.Add(ShowFrame());
    movie.Add(ShowFrame());
    return movie.Build();
}

int ShownCharacter(const Player& player) {
    const ButtonInstance& button = *player.Stage().at(1).button;
    return button.displayList.empty() ? 0 : button.displayList.begin()->second.characterId;
}

} // namespace

TEST(Buttons, StatesFollowTheMouseAndAReleaseInsideRunsTheActions) {
    for (const int version : {1, 2}) {
        Player player(ReadBack(ButtonMovie(version)));
        ASSERT_TRUE(player.Stage().at(1).button) << version;
        EXPECT_FALSE(player.Playing());
        EXPECT_EQ(ShownCharacter(player), 1);

        EXPECT_FALSE(player.MouseMove(500, 500));
        EXPECT_EQ(ShownCharacter(player), 1);
        EXPECT_TRUE(player.MouseMove(1500, 1500));
        EXPECT_EQ(ShownCharacter(player), 2) << version;
        EXPECT_TRUE(player.MouseDown(1500, 1500));
        EXPECT_EQ(ShownCharacter(player), 3) << version;
        EXPECT_FALSE(player.Playing());
        EXPECT_TRUE(player.MouseUp(1600, 1600));
        EXPECT_EQ(ShownCharacter(player), 2) << version;
        EXPECT_TRUE(player.Playing()) << version;
        player.Tick();
        EXPECT_EQ(player.CurrentFrame(), 1) << version;
        player.MouseMove(3000, 3000);
        EXPECT_EQ(ShownCharacter(player), 1) << version;
    }
}

TEST(Buttons, AReleaseOutsideDoesNothing) {
    Player player(ReadBack(ButtonMovie(2)));
    player.MouseDown(1500, 1500);
    player.MouseMove(3000, 3000);
    EXPECT_EQ(ShownCharacter(player), 2); // pressed and dragged off: over
    player.MouseMove(1500, 1500);
    EXPECT_EQ(ShownCharacter(player), 3);
    player.MouseMove(3000, 3000);
    EXPECT_FALSE(player.MouseUp(3000, 3000));
    EXPECT_EQ(ShownCharacter(player), 1);
    EXPECT_FALSE(player.Playing());
}

TEST(Buttons, TheRendererDrawsTheStateShown) {
    Player player(ReadBack(ButtonMovie(2)));
    Renderer renderer;
    // 4000 twips on 200 px: the button covers pixels 50..100.
    auto centre = [&] {
        return renderer.RenderStage(player.GetMovie(), player.Stage(), QSize(200, 200)).pixel(75, 75);
    };
    EXPECT_EQ(centre(), qRgb(255, 0, 0));
    player.MouseMove(1500, 1500);
    EXPECT_EQ(centre(), qRgb(0, 255, 0));
    player.MouseDown(1500, 1500);
    EXPECT_EQ(centre(), qRgb(0, 0, 255));
    // The hit area is not drawn: outside the button the background shows.
    EXPECT_EQ(renderer.RenderStage(player.GetMovie(), player.Stage(), QSize(200, 200)).pixel(120, 120),
              qRgb(255, 255, 255));
}

TEST(Buttons, ButtonsInsideSpritesAreHitWithTheSpriteMatrix) {
    const std::vector<ButtonRecord> records = {{ButtonRecord::Up | ButtonRecord::HitTest, 1, 1, {}, {}}};
    MovieBuilder movie;
    movie.Stage(StageTwips);
    movie.Add(Box(1, {255, 0, 0, 255}));
    movie.Add(DefineButton2(5, records,
                            {{OverDownToOverUp, ActionCode()
                                                    .PushInt(3)
                                                    .PushInt(1)
                                                    .PushString("_parent")
                                                    .GetVariable()
                                                    .PushString("gotoAndStop")
                                                    .CallMethod()}}));
    PlaceObject inSprite = Place(5, 1);
    movie.Add(DefineSprite(20, 1, PlaceObjectTag(inSprite) + ShowFrame()));
    PlaceObject sprite = Named(20, 1, "holder");
    sprite.matrix = Matrix{2, 0, 0, 2, 2000, 0};
    movie.Add(PlaceObjectTag(sprite));
    movie.Add(DoAction(ActionCode().Stop()));
    for (int i = 0; i < 4; ++i)
        movie.Add(ShowFrame());
    Player player(ReadBack(movie.Build()));
    EXPECT_FALSE(player.MouseMove(500, 500));
    EXPECT_TRUE(player.MouseMove(3900, 1900)); // inside the doubled square at x 2000..4000
    player.MouseDown(3900, 1900);
    player.MouseUp(3900, 1900);
    // The action runs on the sprite holding the button, whose parent is the main timeline.
    EXPECT_EQ(player.CurrentFrame(), 2);
    EXPECT_FALSE(player.Playing());
}

namespace {

// A 44.1 kHz 16-bit mono sound of one level, long enough to play through a test.
QByteArray LevelSound(std::uint16_t id, std::int16_t level) {
    QByteArray samples;
    for (int i = 0; i < 4410; ++i)
        samples += Bits().S16(level).Data();
    return DefineSound(id, SoundFormat{3, 3, true, false}, 4410, samples);
}

// The level the mix plays next (both sides carry the same).
int MixLevel(SoundMixer& mixer) {
    std::int16_t frame[2] = {};
    mixer.Render(frame, 1);
    EXPECT_EQ(frame[0], frame[1]);
    return frame[0];
}

} // namespace

TEST(Buttons, TransitionsStartTheirSoundsAsStartSoundWould) {
    SoundInfo stop;
    stop.syncStop = true;
    const std::vector<ButtonSound> sounds = {
        {IdleToOverUp, 9, {}},
        {OverUpToIdle, 9, stop},    // leaving stops the hover sound
        {OverUpToOverDown, 10, {}}, // pressing adds a second
        {OverDownToOverUp, 77, {}}, // no such sound
    };
    for (const int version : {1, 2}) {
        SCOPED_TRACE(version);
        SoundMixer mixer;
        Player player(ReadBack(ButtonMovie(version, LevelSound(9, 1000) + LevelSound(10, 2000) +
                                                        DefineButtonSoundTag(5, sounds))),
                      &mixer);
        EXPECT_EQ(MixLevel(mixer), 0);
        player.MouseMove(1500, 1500);
        EXPECT_EQ(MixLevel(mixer), 1000);
        player.MouseMove(1600, 1600); // no transition: no second start
        EXPECT_EQ(MixLevel(mixer), 1000);
        player.MouseMove(3000, 3000);
        EXPECT_EQ(MixLevel(mixer), 0);
        player.MouseDown(1500, 1500);
        EXPECT_EQ(MixLevel(mixer), 3000);
        player.MouseUp(1500, 1500);
        EXPECT_EQ(MixLevel(mixer), 3000);
        EXPECT_TRUE(player.Playing()); // the release's actions still ran
    }
}

// DefineButtonCxform tints every state of a DefineButton; a DefineButton2 keeps its own transforms.
TEST(Buttons, ButtonCxformTintsTheStatesOfAVersionOneButton) {
    const ColorTransform tint{0.5, 1, 1, 1, 0, 100, 50, 0};
    struct Case {
        int version;
        QRgb up, over;
    } const cases[] = {
        {1, qRgb(127, 100, 50), qRgb(0, 255, 50)},
        {2, qRgb(255, 0, 0), qRgb(0, 255, 0)},
    };
    Renderer renderer;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        Player player(ReadBack(ButtonMovie(c.version, DefineButtonCxformTag(5, tint))));
        auto stage = [&] { return renderer.RenderStage(player.GetMovie(), player.Stage(), QSize(200, 200)); };
        EXPECT_TRUE(PixelNear(stage(), 75, 75, QColor(c.up), 1, false));
        player.MouseMove(1500, 1500);
        EXPECT_TRUE(PixelNear(stage(), 75, 75, QColor(c.over), 1, false));
    }
}

TEST(Buttons, KeyCodesFollowTheKeyOrTheCharacterTyped) {
    const struct {
        int key;
        const char* text;
        int code;
    } cases[] = {
        {Qt::Key_Left, "", 1},     {Qt::Key_Delete, "\x7f", 6},  {Qt::Key_Backspace, "\b", 8},
        {Qt::Key_Enter, "\r", 13}, {Qt::Key_Return, "\r", 13},   {Qt::Key_PageDown, "", 17},
        {Qt::Key_Tab, "\t", 18},   {Qt::Key_Escape, "\x1b", 19}, {Qt::Key_A, "a", 'a'},
        {Qt::Key_A, "A", 'A'},     {Qt::Key_Space, " ", 32},     {Qt::Key_AsciiTilde, "~", 126},
        {Qt::Key_F1, "", 0},       {Qt::Key_Adiaeresis, "ä", 0}, {Qt::Key_Shift, "", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ButtonKeyCode(c.key, QString::fromUtf8(c.text)), c.code) << c.key;
}

// A key press runs the key's actions of every button on stage, each on the timeline holding it, with
// the mouse nowhere near them.
TEST(Buttons, AKeyRunsTheActionsOfEveryButtonWaitingForIt) {
    const std::vector<ButtonRecord> records = {{ButtonRecord::Up | ButtonRecord::HitTest, 1, 1, {}, {}}};
    auto key = [](int code) { return std::uint16_t(code << 9); };
    const ActionCode gotoThree = ActionCode().GotoFrame(3);
    MovieBuilder movie;
    movie.Stage(StageTwips);
    movie.Add(Box(1, {255, 0, 0, 255}));
    // On the main timeline: 'a' goes to frame 3, Enter (or a release) to frame 2.
    movie.Add(DefineButton2(
        5, records,
        {{key('a'), gotoThree}, {std::uint16_t(key(13) | OverDownToOverUp), ActionCode().GotoFrame(2)}}));
    // In a sprite: 'a' sends the sprite to its frame 3.
    movie.Add(DefineButton2(6, records, {{key('a'), gotoThree}}));
    movie.Add(FourFrameSprite(20, PlaceObjectTag(Place(6, 1)) + DoAction(ActionCode().Stop())));
    movie.Add(PlaceObjectTag(Place(5, 1)));
    movie.Add(PlaceObjectTag(Named(20, 2, "holder")));
    movie.Add(DoAction(ActionCode().Stop()));
    for (int i = 0; i < 5; ++i)
        movie.Add(ShowFrame());
    Player player(ReadBack(movie.Build()));
    const DisplayObject* holder = FindNamed(player.Stage(), "holder");
    ASSERT_TRUE(holder && holder->sprite);
    const std::shared_ptr<SpriteInstance> sprite = holder->sprite;

    EXPECT_FALSE(player.KeyPress('A')); // no button waits for the capital
    EXPECT_FALSE(player.KeyPress(0));
    EXPECT_EQ(player.CurrentFrame(), 0);
    EXPECT_TRUE(player.KeyPress('a'));
    EXPECT_EQ(player.CurrentFrame(), 3);
    EXPECT_EQ(sprite->currentFrame, 3);
    EXPECT_TRUE(player.KeyPress(13));
    EXPECT_EQ(player.CurrentFrame(), 2);
}
