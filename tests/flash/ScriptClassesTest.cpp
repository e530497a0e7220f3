// Object.watch and unwatch, Object.registerClass with the classes compiled ActionScript 2 movies
// define in #initclip code (DoInitAction), and MovieClipLoader's listener list: each checked by the
// lines trace() prints in small movies.
#include "FuzzMovies.h"
#include "ScriptAssembler.h"
#include "SwfWriter.h"
#include "TraceRun.h"

#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;
using namespace flash::tracing;

namespace {

QByteArray Fn(const QStringList& params, const QString& body) {
    return DefineFunction(QString(), params, Assemble(body));
}

// o = {x: 1}, the start of each watch script.
const QString MadeO = QStringLiteral("'o' 0 InitObject SetVariable 'o' GetVariable 'x' 1 SetMember ");

QString SetX(int value) {
    return QStringLiteral(" 'o' GetVariable 'x' %1 SetMember ").arg(value);
}
const QString TraceX = QStringLiteral(" 'o' GetVariable 'x' GetMember Trace ");

// Traces "name old new data" and stores new * 10.
QByteArray Times10() {
    return Fn({"p", "old", "new", "u"},
              "'p' GetVariable ' ' Add2 'old' GetVariable Add2 ' ' Add2 'new' GetVariable Add2 ' ' Add2 "
              "'u' GetVariable Add2 Trace 'new' GetVariable 10 Multiply Return");
}

// o.watch("x", Times10, "data"), its result left on the stack.
QByteArray WatchX() {
    return Assemble("'data'") + Times10() + Assemble("'x' 3 'o' GetVariable 'watch' CallMethod");
}

} // namespace

TEST(ScriptWatch, CallbackSeesEachWriteAndItsResultIsStored) {
    Check({
        {"name, old value, new value and user data; the result stored",
         Assemble(MadeO) + WatchX() + Assemble("Trace" + SetX(2) + TraceX),
         {"true", "x 1 2 data", "20"}},
        {"a callback returning nothing stores undefined",
         Assemble(MadeO) + Fn({}, "") +
             Assemble("'x' 2 'o' GetVariable 'watch' CallMethod Pop" + SetX(5) + TraceX),
         {"undefined"}},
        {"unwatch ends it, once",
         Assemble(MadeO) + WatchX() +
             Assemble("Pop 'x' 1 'o' GetVariable 'unwatch' CallMethod Trace 'x' 1 'o' GetVariable 'unwatch' "
                      "CallMethod Trace" +
                      SetX(3) + TraceX),
         {"true", "false", "3"}},
        {"a property deleted keeps its watchpoint",
         Assemble(MadeO) +
             Fn({"p", "old", "new"}, "'old' GetVariable TypeOf Trace 'new' GetVariable Return") +
             Assemble("'x' 2 'o' GetVariable 'watch' CallMethod Pop 'o' GetVariable 'x' Delete Pop" +
                      SetX(4) + TraceX),
         {"undefined", "4"}},
        {"a second watch replaces the first",
         Assemble(MadeO) + WatchX() + Assemble("Pop") +
             Fn({"p", "old", "new"}, "'second' Trace 'new' GetVariable Return") +
             Assemble("'x' 2 'o' GetVariable 'watch' CallMethod Pop" + SetX(7) + TraceX),
         {"second", "7"}},
        {"refused without a callback and on a getter/setter property",
         Assemble(MadeO + "'x' 1 'o' GetVariable 'watch' CallMethod Trace null") + Fn({}, "1 Return") +
             Assemble("'g' 3 'o' GetVariable 'addProperty' CallMethod Pop") + Times10() +
             Assemble("'g' 2 'o' GetVariable 'watch' CallMethod Trace 'o' GetVariable 'g' 5 SetMember 'o' "
                      "GetVariable 'g' GetMember Trace"),
         {"false", "false", "1"}},
        {"a callback writing its own property recurses only as deep as calls go",
         Assemble(MadeO + "'n' 0 SetVariable") +
             Fn({"p", "old", "new"}, "'n' 'n' GetVariable 1 Add2 SetVariable 'this' GetVariable 'x' 'new' "
                                     "GetVariable 1 Add2 SetMember 'new' GetVariable Return") +
             Assemble("'x' 2 'o' GetVariable 'watch' CallMethod Pop" + SetX(0) + TraceX +
                      "'n' GetVariable 1 Greater Trace 'n' GetVariable 65 Less2 Trace"),
         {"0", "true", "true"}},
    });
}

namespace {

constexpr std::uint16_t BallId = 2;

// A compiled class Ball extends MovieClip in the symbol's #initclip code: its constructor traces
// the clip's name and whether the prototype's hello is there yet; hello and onLoad trace too; the
// code registers it for the symbol, tracing the result, then runs more.
QByteArray BallClass(const QString& more = {}) {
    return Assemble("'_global' GetVariable 'Ball'") +
           Fn({},
              "0 'super' GetVariable '' CallMethod Pop 'ctor ' 'this' GetVariable '_name' GetMember Add2 ' ' "
              "Add2 'this' GetVariable 'hello' GetMember TypeOf Add2 Trace") +
           Assemble("SetMember 'Ball' GetVariable 'MovieClip' GetVariable Extends "
                    "'Ball' GetVariable 'prototype' GetMember 'hello'") +
           Fn({}, "'hello ' 'this' GetVariable '_name' GetMember Add2 Trace") +
           Assemble("SetMember 'Ball' GetVariable 'prototype' GetMember 'onLoad'") +
           Fn({}, "'onLoad ' 'this' GetVariable '_name' GetMember Add2 Trace") +
           Assemble("SetMember 'Ball' GetVariable 'Ball' 2 'Object' GetVariable 'registerClass' CallMethod "
                    "Trace " +
                    more);
}

// Ball's symbol (a frame script tracing "frame <name>"), exported as "Ball", placed as b1 after its
// #initclip code; then the root's script.
QByteArray BallMovie(const QByteArray& initCode, const QByteArray& rootScript) {
    Bits exports;
    exports.U16(1).U16(BallId).String("Ball");
    PlaceObject placed = Place(BallId, 1);
    placed.name = QStringLiteral("b1");
    return MovieBuilder()
        .Version(8)
        .Add(
            DefineSprite(BallId, 1,
                         DoAction(ActionCode().Records(Assemble("'frame ' '_name' GetVariable Add2 Trace"))) +
                             ShowFrame()))
        .Add(Tag(56, exports.Data()))
        .Add(DoInitAction(BallId, ActionCode().Records(initCode)))
        .Add(PlaceObjectTag(placed))
        .Add(DoAction(ActionCode().Records(rootScript)))
        .Add(ShowFrame())
        .Add(ShowFrame())
        .Build();
}

} // namespace

TEST(ScriptRegisterClass, RegisteredClassMakesTheSymbolsClipsItsInstances) {
    const QByteArray root = Assemble(
        "0 'b1' GetVariable 'hello' CallMethod Pop 'b1' GetVariable 'Ball' GetVariable InstanceOf Trace "
        // attachMovie and duplicateMovieClip construct before the script goes on
        "5 'b2' 'Ball' 3 '_root' GetVariable 'attachMovie' CallMethod store:1 Pop 0 r:1 'hello' CallMethod "
        "Pop "
        "6 'b3' 2 'b1' GetVariable 'duplicateMovieClip' CallMethod Pop "
        // registerClass(name, null) removes the class
        "null 'Ball' 2 'Object' GetVariable 'registerClass' CallMethod Trace "
        "7 'b4' 'Ball' 3 '_root' GetVariable 'attachMovie' CallMethod 'hello' GetMember TypeOf Trace");
    EXPECT_EQ(TracedMovie(BallMovie(BallClass(), root)), QStringList({
                                                             "true",
                                                             // before its load and first frame, with
                                                             // the class's prototype in place
                                                             "ctor b1 function",
                                                             "onLoad b1",
                                                             "frame b1",
                                                             "hello b1",
                                                             "true",
                                                             "ctor b2 function",
                                                             "hello b2",
                                                             "ctor b3 function",
                                                             "true",
                                                             "undefined",
                                                             "onLoad b2",
                                                             "frame b2",
                                                             "onLoad b3",
                                                             "frame b3",
                                                             "frame b4",
                                                         }));
}

TEST(ScriptRegisterClass, HandlersComeFromThePrototypeAndArgumentsAreChecked) {
    const QString more = "'Ball' GetVariable 'prototype' GetMember 'onEnterFrame' %1 SetMember "
                         // one argument, or a class that is no function, is refused
                         "'Ball' 1 'Object' GetVariable 'registerClass' CallMethod Trace "
                         "5 'Ball' 2 'Object' GetVariable 'registerClass' CallMethod Trace";
    const QByteArray onEnterFrame = Fn({}, "'enterFrame ' 'this' GetVariable '_name' GetMember Add2 Trace");
    // The function's records go where %1 is.
    const QStringList parts = more.split(QStringLiteral("%1"));
    const QByteArray init = BallClass(parts[0]) + onEnterFrame + Assemble(parts[1]);
    EXPECT_EQ(TracedMovie(BallMovie(init, {}), 1), QStringList({"true", "false", "false", "ctor b1 function",
                                                                "onLoad b1", "frame b1", "enterFrame b1"}));
}

TEST(ScriptListeners, MovieClipLoaderKeepsEachListenerOnceMovingItToTheEnd) {
    Check({{"the loader re-added goes after o; a number is no listener",
            Assemble("'l' 0 'MovieClipLoader' NewObject SetVariable 'o' 0 InitObject SetVariable "
                     "'o' GetVariable 1 'l' GetVariable 'addListener' CallMethod Trace "
                     "'l' GetVariable 1 'l' GetVariable 'addListener' CallMethod Trace "
                     "5 1 'l' GetVariable 'addListener' CallMethod Trace "
                     "'l' GetVariable '_listeners' GetMember store:1 'length' GetMember Trace "
                     "r:1 '0' GetMember 'o' GetVariable StrictEquals Trace "
                     "'o' GetVariable 1 'l' GetVariable 'removeListener' CallMethod Trace "
                     "'o' GetVariable 1 'l' GetVariable 'removeListener' CallMethod Trace "
                     "r:1 'length' GetMember Trace"),
            {"true", "true", "false", "2", "true", "true", "false", "1"}}});
}

TEST(ScriptRegisterClass, TheFuzzersClassMovieRuns) {
    TraceSession session(RegisteredClassMovie());
    ASSERT_TRUE(session.player);
    session.Play(3);
    EXPECT_EQ(session.Take(), QStringList({"b1", "42", "b2", "true"}));
    const auto b1 = session.player->Stage().find(1);
    ASSERT_NE(b1, session.player->Stage().end());
    EXPECT_EQ(b1->second.matrix.tx, 2 * 20) << "the prototype's onEnterFrame ran on each of two ticks";
}
