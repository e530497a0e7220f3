// Sound levels and scopes in the mix, and the Sound object scripts drive: sounds attached by
// linkage name and started on the movie's clock, volume, pan and transform in the samples mixed,
// per-clip scopes over timeline sounds, and what position, duration and onSoundComplete tell.
#include "ReadBack.h"
#include "ScriptAssembler.h"
#include "SwfWriter.h"
#include "flash/media/SoundMixer.h"
#include "flash/player/Playback.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

constexpr int Frames = 8820; // the test sound: 0.2 s, two ticks at 10 frames per second
constexpr int TickFrames = 4410;
constexpr std::int16_t Right = 10000;

// 44.1 kHz 16-bit stereo: the left side counts 0, 1, 2 ..., the right side holds Right.
QByteArray RampData(int count) {
    Bits bits;
    for (int i = 0; i < count; ++i)
        bits.U16(std::uint32_t(std::uint16_t(i))).U16(std::uint32_t(Right));
    return bits.Data();
}

std::shared_ptr<const Sound> RampSound(int count) {
    return std::make_shared<const Sound>(
        Sound{SoundFormat{3, 3, true, true}, std::uint32_t(count), RampData(count)});
}

Pcm Render(SoundMixer& mixer, int frames) {
    Pcm pcm(std::size_t(frames) * 2, 0);
    mixer.Render(pcm.data(), frames);
    return pcm;
}

std::pair<int, int> At(const Pcm& pcm, int frame) {
    return {pcm[std::size_t(frame) * 2], pcm[std::size_t(frame) * 2 + 1]};
}

QByteArray A(const QString& source) {
    return Assemble(source);
}

// object.member = function () { body }
QByteArray SetFunction(const QString& object, const QString& member, const QByteArray& body) {
    return A(QStringLiteral("'%1' GetVariable '%2'").arg(object, member)) + DefineFunction("", {}, body) +
           A("SetMember");
}

// A movie at 10 frames per second holding the ramp sound (id 1) exported as "tone" and sprite 2
// ("mc" at depth 1 from frame 0) that starts the tone from its own timeline when Timeline is set;
// one frame per script, the last one stopping.
std::shared_ptr<const Movie> ToneMovie(const std::vector<QByteArray>& scripts, bool spriteSound = false) {
    MovieBuilder builder;
    builder.Stage({0, 2000, 0, 2000}).FrameRate(10);
    builder.Add(DefineSound(1, SoundFormat{3, 3, true, true}, Frames, RampData(Frames)));
    Bits exports;
    exports.U16(1).U16(1).String("tone");
    builder.Add(Tag(56, exports.Data()));
    StartSound start;
    start.soundId = 1;
    builder.Add(DefineSprite(2, 1, (spriteSound ? StartSoundTag(start) : QByteArray()) + ShowFrame()));
    PlaceObject place = Place(2, 1);
    place.name = QStringLiteral("mc");
    builder.Add(PlaceObjectTag(place));
    for (std::size_t frame = 0; frame < scripts.size(); ++frame) {
        QByteArray code = scripts[frame];
        if (frame + 1 == scripts.size())
            code += ActionCode().Stop().Data().chopped(1);
        builder.Add(Tag(12, code + QByteArray(1, '\0'))).Add(ShowFrame());
    }
    return ReadBack(builder.Build());
}

struct Played {
    QStringList lines;
    Pcm sound;
};

Played Play(const std::shared_ptr<const Movie>& movie, double seconds) {
    Played played;
    if (!movie)
        return played;
    // trace() lines and notes (a refused loadSound) in one list, in the order they came.
    const auto keep = [&played](const QString& line) { played.lines << line; };
    Playback playback(movie, keep, keep);
    playback.AdvanceTo(seconds, played.sound);
    return played;
}

// s = new Sound(target); s.attachSound('tone')
QByteArray NewSound(const QString& name = "s", const QString& target = {}) {
    const QString args =
        target.isEmpty() ? QStringLiteral("0") : QStringLiteral("'%1' GetVariable 1").arg(target);
    return A(QStringLiteral("'%1' %2 'Sound' NewObject SetVariable 'tone' 1 '%1' GetVariable 'attachSound' "
                            "CallMethod Pop")
                 .arg(name, args));
}

// name.method(args), its result dropped; args as the assembler's pushes, last argument first.
QByteArray Call(const QString& name, const QString& method, const QString& args = {}, int count = 0) {
    return A(
        QStringLiteral("%1 %2 '%3' GetVariable '%4' CallMethod Pop").arg(args).arg(count).arg(name, method));
}

// trace(name.member)
QByteArray TraceMember(const QString& name, const QString& member) {
    return A(QStringLiteral("'%1' GetVariable '%2' GetMember Trace").arg(name, member));
}

// trace(name.method())
QByteArray TraceCall(const QString& name, const QString& method) {
    return A(QStringLiteral("0 '%1' GetVariable '%2' CallMethod Trace").arg(name, method));
}

} // namespace

TEST(SoundScopes, LevelsMultiplyThroughTheScopesAndTheGlobalOne) {
    SoundMixer mixer;
    const auto ramp = RampSound(100);
    mixer.StartEventSound(1, ramp, {}, {{7, 3}});
    mixer.StartEventSound(2, ramp, {}, {{3}});
    Pcm pcm = Render(mixer, 10);
    EXPECT_EQ(At(pcm, 4), std::pair(2 * 4, 2 * int(Right)));

    const SoundLevels swap{0, 1, 1, 0}, half{0.5f, 0, 0, 0.5f}, leftOnly{1, 1, 0, 0};
    mixer.SetScopeLevels(7, swap);
    mixer.SetScopeLevels(3, half);
    pcm = Render(mixer, 10); // frames 10..19
    // Voice 1: swapped, then halved; voice 2: halved.
    EXPECT_EQ(At(pcm, 4), std::pair(int(Right) / 2 + 14 / 2, 14 / 2 + int(Right) / 2));
    mixer.SetScopeLevels(SoundMixer::GlobalScope, leftOnly);
    pcm = Render(mixer, 10); // frames 20..29: everything to the left
    EXPECT_EQ(At(pcm, 4), std::pair(2 * (24 / 2 + int(Right) / 2), 0));
    // Full levels forget a scope.
    mixer.SetScopeLevels(7, {});
    mixer.SetScopeLevels(3, {});
    mixer.SetScopeLevels(SoundMixer::GlobalScope, {});
    pcm = Render(mixer, 10);
    EXPECT_EQ(At(pcm, 4), std::pair(2 * 34, 2 * int(Right)));

    // A stream plays through its scopes too.
    SoundStreamHead head;
    head.streamFormat = head.playbackFormat = SoundFormat{3, 3, true, true};
    int key = 0;
    mixer.StopAllSounds();
    mixer.BeginStream(&key, head, {9});
    mixer.PushStreamBlock(&key, 0, RampData(10));
    mixer.SetScopeLevels(9, half);
    EXPECT_EQ(At(Render(mixer, 10), 6), std::pair(3, int(Right) / 2));
}

TEST(SoundScopes, TrackedVoicesReportWhereTheyAreAndHowTheyEnded) {
    SoundMixer mixer;
    const auto ramp = RampSound(100);
    SoundInfo twice;
    twice.loopCount = 2;
    twice.inPoint = 20;
    const std::uint64_t looping = mixer.StartEventSound(1, ramp, twice, {{5}, true});
    const std::uint64_t stopped = mixer.StartEventSound(2, ramp, {}, {{5}, true});
    const std::uint64_t other = mixer.StartEventSound(2, ramp, {}, {{6}, true});
    mixer.StartEventSound(3, ramp, {}, {{5}}); // untracked: never reported
    ASSERT_NE(looping, 0u);
    EXPECT_NE(looping, stopped);

    Render(mixer, 90); // the first loop (80 frames) and 10 of the second
    EXPECT_EQ(mixer.VoicePosition(looping), 30u);
    EXPECT_EQ(mixer.VoicePosition(stopped), 90u);
    mixer.StopScopeSounds(5, std::uint16_t{2}); // only sound 2 of scope 5
    EXPECT_EQ(mixer.VoicePosition(stopped), std::nullopt);
    EXPECT_EQ(mixer.VoicePosition(other), 90u);
    Render(mixer, 80);
    EXPECT_EQ(mixer.VoicePosition(looping), std::nullopt);

    const auto ends = mixer.TakeVoiceEnds();
    ASSERT_EQ(ends.size(), 3u);
    EXPECT_EQ(ends[0].voice, stopped);
    EXPECT_FALSE(ends[0].completed);
    EXPECT_EQ(ends[0].position, 90u);
    EXPECT_EQ(ends[1].voice, looping);
    EXPECT_TRUE(ends[1].completed);
    EXPECT_EQ(ends[1].position, 100u);
    EXPECT_EQ(ends[2].voice, other);
    EXPECT_TRUE(ends[2].completed);
    EXPECT_TRUE(mixer.TakeVoiceEnds().empty());

    // Ending the oldest voice to make room reports it as stopped.
    const std::uint64_t oldest = mixer.StartEventSound(4, ramp, {}, {{}, true});
    for (std::size_t i = 0; i < SoundMixer::MaxEventSounds; ++i)
        mixer.StartEventSound(5, ramp, {});
    const auto evicted = mixer.TakeVoiceEnds();
    ASSERT_EQ(evicted.size(), 1u);
    EXPECT_EQ(evicted[0].voice, oldest);
    EXPECT_FALSE(evicted[0].completed);
}

TEST(SoundObject, StartsOnTheFrameItsScriptRunsAtTheOffsetAndLoopsAsked) {
    // Frame 2 starts the tone 0.1 s in, twice: each loop plays its last 0.1 s.
    const Played played = Play(ToneMovie({{}, {}, NewSound() + Call("s", "start", "2 0.1", 2)}), 1);
    ASSERT_EQ(played.sound.size(), std::size_t(2 * 44100));
    const int begin = 2 * TickFrames;
    EXPECT_EQ(At(played.sound, begin - 1), std::pair(0, 0));
    for (int i : {0, 1, TickFrames - 1})
        EXPECT_EQ(At(played.sound, begin + i), std::pair(TickFrames + i, int(Right))) << i;
    EXPECT_EQ(At(played.sound, begin + TickFrames), std::pair(TickFrames, int(Right)));
    EXPECT_EQ(At(played.sound, begin + 2 * TickFrames - 1), std::pair(Frames - 1, int(Right)));
    EXPECT_EQ(At(played.sound, begin + 2 * TickFrames), std::pair(0, 0));
}

TEST(SoundObject, VolumePanAndTransformShapeTheSamples) {
    const int at = 100; // a frame of the sound: left 100, right Right
    struct Case {
        const char* name;
        QByteArray settings;
        std::pair<int, int> expected;
    };
    const std::vector<Case> cases = {
        {"volume 50", Call("s", "setVolume", "50", 1), {at / 2, Right / 2}},
        {"pan left", Call("s", "setPan", "-100", 1), {at, 0}},
        {"pan half right", Call("s", "setPan", "50", 1), {at / 2, Right}},
        {"channels swapped",
         A("'t' 'll' 0 'lr' 100 'rl' 100 'rr' 0 4 InitObject SetVariable") +
             Call("s", "setTransform", "'t' GetVariable", 1),
         {Right, at}},
        {"both to the left at half volume",
         A("'t' 'lr' 100 'rr' 0 2 InitObject SetVariable") + Call("s", "setTransform", "'t' GetVariable", 1) +
             Call("s", "setVolume", "50", 1),
         {(at + Right) / 2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Played played = Play(ToneMovie({NewSound() + c.settings + Call("s", "start")}), 0.1);
        ASSERT_EQ(played.sound.size(), std::size_t(2 * TickFrames));
        EXPECT_EQ(At(played.sound, at), c.expected);
    }
}

TEST(SoundObject, AClipsScopeCoversItsTimelineSoundsAndNoOthers) {
    struct Case {
        const char* name;
        QByteArray script;
        std::pair<int, int> expected; // frame 100: the clip's tone plus a tone started globally
    };
    const int at = 100;
    const QByteArray global = NewSound("g") + Call("g", "start");
    const std::vector<Case> cases = {
        {"nothing set", global, {2 * at, 2 * Right}},
        {"the clip muted", NewSound("c", "mc") + Call("c", "setVolume", "0", 1) + global, {at, Right}},
        {"the clip's sounds stopped", NewSound("c", "mc") + Call("c", "stop") + global, {at, Right}},
        {"the main timeline halved, the clip inside it too",
         NewSound("r", "_root") + Call("r", "setVolume", "50", 1) + global,
         {at / 2 + at, Right / 2 + Right}},
        {"all sounds halved", global + NewSound("a") + Call("a", "setVolume", "50", 1), {at, Right}},
        {"all sounds stopped", global + NewSound("a") + Call("a", "stop"), {0, 0}},
        {"a sound started for the clip follows its volume",
         NewSound("c", "mc") + Call("c", "setVolume", "0", 1) + Call("c", "start"),
         {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Played played = Play(ToneMovie({c.script}, true), 0.1);
        ASSERT_EQ(played.sound.size(), std::size_t(2 * TickFrames));
        EXPECT_EQ(At(played.sound, at), c.expected);
    }
}

TEST(SoundObject, TellsDurationPositionLevelsAndCompletion) {
    const QByteArray handler = SetFunction("s", "onSoundComplete", TraceMember("this", "position"));
    const Played played =
        Play(ToneMovie({
                 // Frame 0: nothing attached yet, then the tone; scopes share their levels.
                 A("'s' 0 'Sound' NewObject SetVariable") + TraceMember("s", "duration") +
                     TraceMember("s", "position") + NewSound() + TraceMember("s", "duration") +
                     TraceMember("s", "position") + handler + Call("s", "start") + NewSound("c", "mc") +
                     Call("c", "setVolume", "30", 1) + Call("c", "setPan", "-40", 1) + NewSound("d", "mc") +
                     TraceCall("d", "getVolume") + TraceCall("d", "getPan") + TraceCall("s", "getVolume") +
                     A("0 'd' GetVariable 'getTransform' CallMethod 'rr' GetMember Trace") +
                     Call("s", "loadSound", "false 'http://example.com/a.mp3'", 2),
                 TraceMember("s", "position"), // a tick in
                 TraceMember("s", "position"), // after the end, reported before this frame's script
                 // Stopped, the position stays; a stop of another sound changes nothing.
                 Call("s", "start") + Call("s", "stop", "'nothing'", 1) + TraceMember("s", "position"),
                 Call("s", "stop") + TraceMember("s", "position"),
                 TraceMember("s", "position"),
             }),
             0.6);
    EXPECT_EQ(played.lines, QStringList({"undefined", "undefined", "200", "0", "30", "-40", "100", "60",
                                         "loadSound: http://example.com/a.mp3 (refused)", "100", "200", "200",
                                         "0", "100", "100"}));
}

TEST(SoundObject, APlayingSoundOutlivesItsLastReference) {
    // A function's local Sound; then enough garbage that the heap is collected before it ends.
    const QByteArray start =
        DefineFunction("f", {},
                       A("'s' 0 'Sound' NewObject DefineLocal 'tone' 1 's' GetVariable "
                         "'attachSound' CallMethod Pop") +
                           SetFunction("s", "onSoundComplete", A("'done' Trace")) + Call("s", "start")) +
        A("0 'f' CallFunction Pop");
    const QByteArray loopBody = A("0 'Object' NewObject Pop r:0 Increment store:0 Pop");
    const QByteArray test = A("r:0 5000 Less2 Not");
    const QByteArray exit = A(QStringLiteral("If:%1").arg(loopBody.size() + 5));
    const QByteArray garbage =
        A("0 store:0 Pop") + test + exit + loopBody +
        A(QStringLiteral("Jump:%1").arg(-(test.size() + exit.size() + loopBody.size() + 5)));
    const Played played = Play(ToneMovie({start, garbage, {}, {}}), 0.4);
    EXPECT_EQ(played.lines, QStringList({"done"}));
}
