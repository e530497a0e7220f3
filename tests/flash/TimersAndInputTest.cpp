// Timers on the movie's clock, the keyboard and mouse as scripts see them (Key, Mouse and their
// listeners, clip key events), Stage, Date, and getURL / fscommand noted in the trace: each checked by
// the lines trace() prints in small movies.
#include "FuzzMovies.h"
#include "ReadBack.h"
#include "ScriptAssembler.h"
#include "SwfWriter.h"
#include "flash/player/Keys.h"
#include "flash/player/Player.h"

#include <gtest/gtest.h>
#include <utility>

using namespace flash;
using namespace flash::writer;

namespace {

QByteArray A(const QString& source) {
    return Assemble(source);
}

// A literal pushed: a number or a 'string' token.
QByteArray V(const QString& token) {
    return A(token);
}

// a.b.c read: the variable, then its members.
QByteArray Get(const QString& path) {
    const QStringList parts = path.split(u'.');
    QByteArray code = A(QStringLiteral("'%1' GetVariable").arg(parts[0]));
    for (qsizetype i = 1; i < parts.size(); ++i)
        code += A(QStringLiteral("'%1' GetMember").arg(parts[i]));
    return code;
}

QByteArray Args(const std::vector<QByteArray>& args) {
    QByteArray code;
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        code += *it;
    return code + A(QString::number(args.size()));
}

// name(args), its result left on the stack.
QByteArray Call(const QString& name, const std::vector<QByteArray>& args = {}) {
    return Args(args) + A(QStringLiteral("'%1' CallFunction").arg(name));
}

// object.name(args), its result left on the stack.
QByteArray Method(const QByteArray& object, const QString& name, const std::vector<QByteArray>& args = {}) {
    return Args(args) + object + A(QStringLiteral("'%1' CallMethod").arg(name));
}

QByteArray New(const QString& name, const std::vector<QByteArray>& args = {}) {
    return Args(args) + A(QStringLiteral("'%1' NewObject").arg(name));
}

QByteArray Set(const QString& name, const QByteArray& value) {
    return A(QStringLiteral("'%1'").arg(name)) + value + A("SetVariable");
}

QByteArray SetMember(const QByteArray& object, const QString& name, const QByteArray& value) {
    return object + A(QStringLiteral("'%1'").arg(name)) + value + A("SetMember");
}

QByteArray Trace(const QByteArray& value) {
    return value + A("Trace");
}

// Values joined with spaces between them, as one text.
QByteArray Joined(const std::vector<QByteArray>& values) {
    QByteArray code = values.at(0);
    for (std::size_t i = 1; i < values.size(); ++i)
        code += A("' ' Add2") + values[i] + A("Add2");
    return code;
}

QByteArray Function(const QStringList& params, const QByteArray& body) {
    return DefineFunction(QString(), params, body);
}

// if (!condition) skip body.
QByteArray When(const QByteArray& condition, const QByteArray& body) {
    return condition + A("Not") + A(QStringLiteral("If:%1").arg(body.size())) + body;
}

// The movie: one frame running script, at the rate given, on a 200 by 100 pixel stage.
std::shared_ptr<const Movie> MovieOf(const QByteArray& script, double rate = 10,
                                     const QByteArray& before = {}) {
    MovieBuilder builder;
    builder.Stage({0, 4000, 0, 2000}).FrameRate(rate).Add(before).Add(DoAction(ActionCode().Records(script)));
    builder.Add(ShowFrame());
    return ReadBack(builder.Build());
}

struct Played {
    std::shared_ptr<const Movie> movie;
    QStringList lines;
    QStringList notes; // what the movie asked for and was not done
    std::unique_ptr<Player> player;

    explicit Played(const QByteArray& script, double rate = 10, const QByteArray& before = {})
        : movie(MovieOf(script, rate, before)) {
        if (movie)
            player = std::make_unique<Player>(
                movie, nullptr, [this](const QString& line) { lines << line; },
                [this](const QString& line) { notes << line; });
    }
    // The lines printed since the last call.
    QStringList Take() { return std::exchange(lines, {}); }
    void Ticks(int count) {
        for (int i = 0; i < count; ++i)
            player->Tick();
    }
};

struct Case {
    const char* name;
    QByteArray script;
    QStringList lines;
};

// Each script's trace() lines, or with notes its notes (and no trace() lines).
void Check(const std::vector<Case>& cases, bool notes = false) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Played run(c.script);
        ASSERT_TRUE(run.player);
        EXPECT_EQ(notes ? run.notes : run.lines, c.lines);
        if (notes) {
            EXPECT_TRUE(run.lines.isEmpty());
        }
    }
}

QByteArray TraceTimer(const QString& label) {
    return Function({}, Trace(Joined({V(QStringLiteral("'%1'").arg(label)), A("GetTime")})));
}

} // namespace

// Ids count from 1 across both kinds; a timer falls due a whole interval after it was set and runs
// on the first frame at or past that moment, before the frame's own scripts.
TEST(ScriptTimers, RunOnTheMoviesClockAndNumberFromOne) {
    Played run(Trace(Call("setInterval", {TraceTimer("i"), V("250")})) +
               Trace(Call("setTimeout", {TraceTimer("t"), V("150")})));
    ASSERT_TRUE(run.player);
    EXPECT_EQ(run.Take(), (QStringList{"1", "2"}));
    QStringList seen;
    for (int tick = 1; tick <= 10; ++tick) {
        run.Ticks(1);
        seen += run.Take();
    }
    EXPECT_EQ(seen, (QStringList{"t 200", "i 300", "i 500", "i 800", "i 1000"}));
}

// Flash Player calls an interval shorter than a frame as often as it falls due; shorter than 10 ms
// counts as 10 ms.
TEST(ScriptTimers, ShortIntervalsRunSeveralTimesAFrame) {
    for (const auto& [interval, perFrame] : {std::pair{"30", 3}, {"0", 10}, {"-5", 10}}) {
        SCOPED_TRACE(interval);
        Played run(Call("setInterval", {Function({}, Trace(V("'x'"))), V(interval)}) + A("Pop"));
        ASSERT_TRUE(run.player);
        run.Ticks(1);
        EXPECT_EQ(run.Take().size(), perFrame);
    }
    Played thirty(Call("setInterval", {Function({}, Trace(V("'x'"))), V("30")}) + A("Pop"));
    thirty.Ticks(3);
    EXPECT_EQ(thirty.Take().size(), 10); // 30, 60 ... 300 ms
}

// The object form calls the method found at each call, with the object as this and the arguments
// given; clearInterval inside the call stops it; a bad call starts nothing.
TEST(ScriptTimers, MethodsArgumentsAndClearing) {
    const QByteArray step = Function({"a", "b"}, SetMember(Get("this"), "n", Get("this.n") + A("Increment")) +
                                                     Trace(Joined({Get("a"), Get("b"), Get("this.n")})) +
                                                     When(Get("this.n") + V("2") + A("Equals2"),
                                                          Call("clearInterval", {Get("id")}) + A("Pop")));
    Played run(Set("o", A("0 InitObject")) + SetMember(Get("o"), "n", V("0")) +
               SetMember(Get("o"), "step", step) +
               Set("id", Call("setInterval", {Get("o"), V("'step'"), V("100"), V("'x'"), V("'y'")})) +
               Trace(Call("setInterval", {V("100")})) + Trace(Call("setInterval", {Get("o"), V("'step'")})) +
               Trace(Get("id")));
    ASSERT_TRUE(run.player);
    EXPECT_EQ(run.Take(), (QStringList{"undefined", "undefined", "1"}));
    run.Ticks(5);
    EXPECT_EQ(run.Take(), (QStringList{"x y 1", "x y 2"}));

    // clearTimeout before it falls due.
    Played cleared(Set("t", Call("setTimeout", {TraceTimer("t"), V("100")})) +
                   Call("clearTimeout", {Get("t")}) + A("Pop"));
    cleared.Ticks(3);
    EXPECT_TRUE(cleared.Take().isEmpty());
}

// What only a timer holds (its function, its arguments) lives on through the heap's collections.
TEST(ScriptTimers, KeepTheirFunctionsAndArgumentsAlive) {
    // Each call makes 5000 objects, past the heap's collection threshold: a counting loop with a
    // jump back to its test.
    const QByteArray body = A("0 InitObject Pop") + Set("i", Get("i") + A("Increment"));
    const QByteArray cond = Get("i") + V("5000") + A("Less2 Not");
    const int skip = int(body.size()) + 5;
    const int back = -(int(cond.size()) + 5 + int(body.size()) + 5);
    const QByteArray makeGarbage = Set("i", V("0")) + cond + A(QStringLiteral("If:%1").arg(skip)) + body +
                                   A(QStringLiteral("Jump:%1").arg(back));
    const QByteArray callback = Function({"box"}, makeGarbage + Trace(Joined({Get("box.v"), Get("i")})));
    Played run(Call("setInterval", {callback, V("100"), A("'v' 'kept' 1 InitObject")}) + A("Pop"));
    ASSERT_TRUE(run.player);
    run.Ticks(3);
    EXPECT_EQ(run.Take(), (QStringList{"kept 5000", "kept 5000", "kept 5000"}));
}

TEST(ScriptKeys, ListenersSeeTheKeyAndItsState) {
    const QByteArray report = [](const char* what) {
        return Function({}, Trace(Joined({V(QStringLiteral("'%1'").arg(what)), Method(Get("Key"), "getCode"),
                                          Method(Get("Key"), "getAscii"),
                                          Method(Get("Key"), "isDown", {Get("Key.RIGHT")})})));
    }("down");
    const QByteArray up = Function({}, Trace(Joined({V("'up'"), Method(Get("Key"), "getCode"),
                                                     Method(Get("Key"), "isDown", {V("39")})})));
    Played run(Set("l", A("0 InitObject")) + SetMember(Get("l"), "onKeyDown", report) +
               SetMember(Get("l"), "onKeyUp", up) + Trace(Method(Get("Key"), "addListener", {Get("l")})) +
               Method(Get("Key"), "addListener", {Get("l")}) + A("Pop"));
    ASSERT_TRUE(run.player);
    EXPECT_EQ(run.Take(), (QStringList{"true"}));
    run.player->KeyDown(39, 0);
    run.player->KeyUp(39, 0);
    run.player->KeyDown(65, 'a');
    run.player->KeyPress(13); // a button key code: Enter going down and up
    EXPECT_EQ(run.Take(), (QStringList{"down 39 0 true", "up 39 false", "down 65 97 false",
                                       "down 13 13 false", "up 13 false"}));
    run.player->KeyDown(0, 0); // no key: nothing
    EXPECT_TRUE(run.Take().isEmpty());
}

TEST(ScriptKeys, RemovedListenersHearNothingAndLocksToggle) {
    Played removed(Set("l", A("0 InitObject")) +
                   SetMember(Get("l"), "onKeyDown", Function({}, Trace(V("'heard'")))) +
                   Method(Get("Key"), "addListener", {Get("l")}) + A("Pop") +
                   Trace(Method(Get("Key"), "removeListener", {Get("l")})) +
                   Trace(Method(Get("Key"), "removeListener", {Get("l")})));
    ASSERT_TRUE(removed.player);
    removed.player->KeyDown(32, 32);
    EXPECT_EQ(removed.Take(), (QStringList{"true", "false"}));

    Played locks(Set("l", A("0 InitObject")) +
                 SetMember(Get("l"), "onKeyUp",
                           Function({}, Trace(Method(Get("Key"), "isToggled", {Get("Key.CAPSLOCK")})))) +
                 Method(Get("Key"), "addListener", {Get("l")}) + A("Pop"));
    ASSERT_TRUE(locks.player);
    for (int i = 0; i < 2; ++i) {
        locks.player->KeyDown(KeyboardState::CapsLock, 0);
        locks.player->KeyDown(KeyboardState::CapsLock, 0); // held: no second toggle
        locks.player->KeyUp(KeyboardState::CapsLock, 0);
    }
    EXPECT_EQ(locks.Take(), (QStringList{"true", "false"}));
}

TEST(ScriptKeys, ConstantsAreFlashPlayersKeyCodes) {
    QByteArray script;
    for (const char* name :
         {"LEFT", "UP", "RIGHT", "DOWN", "SPACE", "ENTER", "ESCAPE", "BACKSPACE", "TAB", "SHIFT", "CONTROL",
          "CAPSLOCK", "HOME", "END", "PGUP", "PGDN", "INSERT", "DELETEKEY"})
        script += Trace(Get(QStringLiteral("Key.%1").arg(name)));
    Check({{"Key's constants",
            script,
            {"37", "38", "39", "40", "32", "13", "27", "8", "9", "16", "17", "20", "36", "35", "33", "34",
             "45", "46"}}});
}

// Keys from the window (Qt keys and their text) and from the command line (names), and the codes
// button key conditions use, which stay as they were.
TEST(ScriptKeys, KeysFromQtAndNamesGiveFlashsCodes) {
    const struct {
        KeyStroke key;
        KeyStroke expected;
        int buttonCode;
    } cases[] = {
        {KeyFromQt(Qt::Key_Left, ""), {37, 0}, 1},
        {KeyFromQt(Qt::Key_A, "a"), {65, 97}, 'a'},
        {KeyFromQt(Qt::Key_A, "A"), {65, 65}, 'A'},
        {KeyFromQt(Qt::Key_Exclam, "!"), {49, 33}, '!'},
        {KeyFromQt(Qt::Key_Question, "?"), {191, 63}, '?'},
        {KeyFromQt(Qt::Key_Return, "\r"), {13, 13}, 13},
        {KeyFromQt(Qt::Key_Delete, "\x7f"), {46, 127}, 6},
        {KeyFromQt(Qt::Key_Escape, "\x1b"), {27, 27}, 19},
        {KeyFromQt(Qt::Key_Tab, "\t"), {9, 9}, 18},
        {KeyFromQt(Qt::Key_F2, ""), {113, 0}, 0},
        {KeyFromQt(Qt::Key_Shift, ""), {16, 0}, 0},
        {KeyFromQt(Qt::Key_5, "5", true), {101, '5'}, '5'},
        {KeyFromQt(Qt::Key_Adiaeresis, "ä"), {0, 0}, 0},
        {KeyByName("space"), {32, 32}, 32},
        {KeyByName("Right"), {39, 0}, 2},
        {KeyByName("enter"), {13, 13}, 13},
        {KeyByName("x"), {88, 'x'}, 'x'},
        {KeyByName("F12"), {123, 0}, 0},
        {KeyByName("nonsense"), {0, 0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.code);
        EXPECT_EQ(c.key, c.expected);
        EXPECT_EQ(ButtonCodeOf(c.key), c.buttonCode);
        if (c.buttonCode) {
            EXPECT_EQ(ButtonCodeOf(KeyOfButtonCode(c.buttonCode)), c.buttonCode);
        }
    }
}

// onClipEvent(keyUp) answers a key coming up, not going down.
TEST(ScriptKeys, ClipKeyUpHandlersRunOnRelease) {
    PlaceObject place = Place(20, 1);
    place.name = QStringLiteral("mc");
    place.clipActions = {{ClipEventKeyUp, 0, ActionCode().Records(Trace(V("'key up'"))).Data()},
                         {ClipEventKeyDown, 0, ActionCode().Records(Trace(V("'key down'"))).Data()}};
    Played run({}, 10, DefineSprite(20, 1, ShowFrame()) + PlaceObjectTag(place));
    ASSERT_TRUE(run.player);
    run.player->KeyDown(40, 0);
    EXPECT_EQ(run.Take(), (QStringList{"key down"}));
    run.player->KeyUp(40, 0);
    EXPECT_EQ(run.Take(), (QStringList{"key up"}));
}

TEST(ScriptMouse, HideShowAndListeners) {
    Played run(Trace(Method(Get("Mouse"), "hide")) + Trace(Method(Get("Mouse"), "hide")) +
               Set("l", A("0 InitObject")) +
               SetMember(Get("l"), "onMouseDown", Function({}, Trace(V("'down'")))) +
               SetMember(Get("l"), "onMouseUp", Function({}, Trace(V("'up'")))) +
               SetMember(Get("l"), "onMouseMove", Function({}, Trace(V("'move'")))) +
               Method(Get("Mouse"), "addListener", {Get("l")}) + A("Pop"));
    ASSERT_TRUE(run.player);
    EXPECT_EQ(run.Take(), (QStringList{"1", "0"}));
    EXPECT_TRUE(run.player->MouseHidden());
    run.player->MouseMove(100, 100);
    run.player->MouseDown(100, 100); // moves there first
    run.player->MouseUp(100, 100);
    EXPECT_EQ(run.Take(), (QStringList{"move", "move", "down", "up"}));

    Played shown(Trace(Method(Get("Mouse"), "show")) + Trace(Method(Get("Mouse"), "hide")) +
                 Trace(Method(Get("Mouse"), "show")));
    EXPECT_EQ(shown.Take(), (QStringList{"1", "1", "0"}));
    EXPECT_FALSE(shown.player->MouseHidden());
}

TEST(ScriptStage, SizeAndSettingsAsThePlayerShowsThem) {
    Check({
        {"the movie's size, which scripts cannot change",
         Trace(Get("Stage.width")) + Trace(Get("Stage.height")) + SetMember(Get("Stage"), "width", V("5")) +
             Trace(Get("Stage.width")),
         {"200", "100", "200"}},
        {"settings read back as set",
         Trace(Get("Stage.scaleMode")) + Trace(Get("Stage.showMenu")) +
             SetMember(Get("Stage"), "scaleMode", V("'noScale'")) +
             SetMember(Get("Stage"), "align", V("'TL'")) + SetMember(Get("Stage"), "showMenu", V("false")) +
             Trace(Joined({Get("Stage.scaleMode"), Get("Stage.align"), Get("Stage.showMenu")})),
         {"showAll", "true", "noScale TL false"}},
        {"listeners are taken", Trace(Method(Get("Stage"), "addListener", {A("0 InitObject")})), {"true"}},
    });
}

TEST(ScriptBroadcaster, InitializeGivesAnyObjectListeners) {
    const QByteArray heard = Function({"a", "b"}, Trace(Joined({V("'heard'"), Get("a"), Get("b")})));
    Check({{"broadcastMessage reaches each listener once, with its arguments",
            Set("o", A("0 InitObject")) + Method(Get("AsBroadcaster"), "initialize", {Get("o")}) + A("Pop") +
                Set("l", A("0 InitObject")) + SetMember(Get("l"), "onPing", heard) +
                Method(Get("o"), "addListener", {Get("l")}) + A("Pop") +
                Method(Get("o"), "addListener", {Get("l")}) + A("Pop") +
                Trace(Method(Get("o"), "broadcastMessage", {V("'onPing'"), V("1"), V("2")})) +
                Trace(Get("o._listeners.length")),
            {"heard 1 2", "true", "1"}}});
}

TEST(ScriptDate, OnTheMoviesClockInUtc) {
    const auto dateOf = [](const std::vector<QByteArray>& args) { return New("Date", args); };
    const auto on = [&](const std::vector<QByteArray>& args, const QString& method,
                        const std::vector<QByteArray>& methodArgs = {}) {
        return Trace(Method(dateOf(args), method, methodArgs));
    };
    Check({
        {"new Date() is the fixed start", Trace(dateOf({})), {"Wed Jun 15 12:00:00 GMT+0000 2005"}},
        {"a date from its parts prints as Flash Player prints it",
         Trace(dateOf({V("2000"), V("0"), V("1")})) +
             Trace(dateOf({V("2004"), V("1"), V("29"), V("23"), V("5"), V("9")})),
         {"Sat Jan 1 00:00:00 GMT+0000 2000", "Sun Feb 29 23:05:09 GMT+0000 2004"}},
        {"two-digit years are 1900's, months and days carry over",
         on({V("99"), V("11"), V("31")}, "getFullYear") + on({V("2004"), V("12"), V("1")}, "getMonth") +
             on({V("2004"), V("12"), V("1")}, "getYear") + on({V("2005"), V("2"), V("0")}, "getDate"),
         {"1999", "0", "105", "28"}},
        {"times from 1970, before it too",
         on({V("0")}, "getTime") + on({V("-1")}, "getFullYear") + on({V("-1")}, "getMilliseconds") +
             on({V("86400000")}, "getDay") + Trace(Method(Get("Date"), "UTC", {V("1970"), V("0"), V("2")})),
         {"0", "1969", "999", "5", "86400000"}},
        {"local time is UTC",
         on({V("0")}, "getTimezoneOffset") + on({V("3600000")}, "getHours") +
             on({V("3600000")}, "getUTCHours"),
         {"0", "1", "1"}},
        {"setters change their part and those below, and give the time",
         Set("d", dateOf({V("2000"), V("0"), V("1")})) +
             Trace(Method(Get("d"), "setMonth", {V("1"), V("3")})) +
             Method(Get("d"), "setHours", {V("25"), V("30")}) + A("Pop") +
             Method(Get("d"), "setFullYear", {V("2001")}) + A("Pop") + Trace(Get("d")),
         {"949536000000", "Sun Feb 4 01:30:00 GMT+0000 2001"}},
        {"invalid dates",
         Trace(dateOf({A("0 0 Divide")})) + on({V("9e15")}, "getTime") + on({A("0 0 Divide")}, "getMonth"),
         {"Invalid Date", "NaN", "NaN"}},
    });
}

TEST(ScriptDate, MovesWithThePlayTime) {
    Played run(
        Set("start", New("Date")) +
        Set("later", Function({}, Trace(New("Date") + Method(Get("start"), "getTime") + A("Subtract")))) +
        Call("setInterval", {Get("later"), V("1000")}) + A("Pop"));
    ASSERT_TRUE(run.player);
    run.Ticks(20);
    EXPECT_EQ(run.Take(), (QStringList{"1000", "2000"}));
}

// Nothing leaves the machine: each request is a note, apart from the trace() lines.
TEST(ScriptUrls, AreNotedAndNeverRun) {
    const auto getUrl = [](const QString& url, const QString& target) {
        return ActionCode().Op(action::GetUrl, Bits().String(url).String(target).Data()).Data().chopped(1);
    };
    const auto getUrl2 = [](const QString& url, const QString& target, std::uint8_t flags) {
        return V(QStringLiteral("'%1'").arg(url)) + V(QStringLiteral("'%1'").arg(target)) +
               ActionCode().Op(action::GetUrl2, QByteArray(1, char(flags))).Data().chopped(1);
    };
    Check(
        {
            {"getURL to a window",
             getUrl("http://example.com/", "_blank"),
             {"getURL: http://example.com/ _blank"}},
            {"getURL from a value, posting", getUrl2("mailto:a@b.c", "", 2), {"getURL: mailto:a@b.c"}},
            {"fscommand", getUrl("FSCommand:fullscreen", "true"), {"fscommand: fullscreen true"}},
            {"a clip's getURL",
             Method(Get("_root"), "getURL", {V("'http://example.com/'"), V("'_self'")}) + A("Pop"),
             {"getURL: http://example.com/ _self"}},
            {"loads of addresses go to the loader, which refuses them apart from the notes",
             getUrl2("http://example.com/a.swf", "_root.holder", 0x40) +
                 getUrl("//example.com/b.swf", "_level1") +
                 getUrl2("https://example.com/v.txt", "_root", 0xC0),
             {}},
            {"files beside the movie and unloading are left alone",
             getUrl2("next.swf", "_root.holder", 0x40) + getUrl("intro.swf", "_level1") +
                 getUrl("", "_level1"),
             {}},
        },
        true);
}

// The fuzz target's seed movie plays: its requests are noted and its timers run.
TEST(ScriptUrls, TheTimersMovieRuns) {
    const auto movie = ReadBack(TimersMovie());
    ASSERT_TRUE(movie);
    QStringList lines, notes;
    Player player(
        movie, nullptr, [&lines](const QString& line) { lines << line; },
        [&notes](const QString& line) { notes << line; });
    EXPECT_EQ(lines, (QStringList{"Wed Jun 15 12:00:00 GMT+0000 2005", "550"}));
    EXPECT_EQ(notes, (QStringList{"getURL: http://example.com/ _blank", "fscommand: quit"}));
    lines.clear();
    for (int i = 0; i < 3; ++i)
        player.Tick();
    player.KeyPress('a');
    // The loader refuses the address on the next frame; then, at 24 frames a second, the 50 ms
    // interval twice, the 120 ms method once, then the key.
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.takeFirst().startsWith("Error opening URL \"http://example.com/a.swf\""));
    EXPECT_EQ(lines, (QStringList{"83", "125", "x", "false", "65"}));
}
