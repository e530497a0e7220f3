// Objects, arrays, strings, numbers and ActionScript 2 classes in frame scripts, checked by the
// lines trace() prints as Flash Player prints them; and the heap that frees what scripts leave.
#include "FuzzMovies.h"
#include "ReadBack.h"
#include "ScriptAssembler.h"
#include "SwfWriter.h"
#include "TraceRun.h"
#include "flash/player/Player.h"
#include "flash/player/avm1/Actions.h"

#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;
using namespace flash::tracing;

namespace {

QByteArray A(const QString& source) {
    return Assemble(source);
}

} // namespace

TEST(ScriptNumbers, PrintAsFlashPlayerPrintsThem) {
    Check({
        {"0.1 + 0.2", A("0.1 0.2 Add2 Trace"), {"0.3"}},
        {"1 / 3", A("1 3 Divide Trace"), {"0.333333333333333"}},
        {"15-digit integer", A("123456789012345 Trace"), {"123456789012345"}},
        {"1e15 goes to the exponent form", A("1000000000000000 Trace"), {"1e+15"}},
        {"2^53", A("9007199254740992 Trace"), {"9.00719925474099e+15"}},
        {"0.0001 and 0.00001", A("0.0001 Trace 0.00001 Trace"), {"0.0001", "1e-05"}},
        {"-0", A("0 -1 Multiply Trace"), {"0"}},
        {"NaN and the infinities",
         A("0 0 Divide Trace 1 0 Divide Trace -1 0 Divide Trace"),
         {"NaN", "Infinity", "-Infinity"}},
        {"Number's constants",
         A("'Number' GetVariable 'MAX_VALUE' GetMember Trace 'Number' GetVariable 'MIN_VALUE' GetMember "
           "Trace"),
         {"1.79769313486232e+308", "4.94065645841247e-324"}},
        {"toString(radix)",
         A("16 1 255 'toString' CallMethod Trace 2 1 -5 'toString' CallMethod Trace 0 -1.5 'toString' "
           "CallMethod Trace"),
         {"ff", "-101", "-1.5"}},
    });
}

TEST(ScriptStrings, UndefinedAsTextByTheMoviesVersion) {
    const QByteArray script = A("'a' undefined Add2 Trace 'b' undefined StringAdd Trace "
                                "undefined 1 'String' CallFunction 'c' Add2 Trace");
    TraceOptions options;
    options.version = 6;
    EXPECT_EQ(Traced(script, options), (QStringList{"a", "b", "c"}));
    options.version = 7;
    EXPECT_EQ(Traced(script, options), (QStringList{"aundefined", "bundefined", "undefinedc"}));
}

TEST(ScriptGlobals, ConversionFunctionsParseAsFlashDoes) {
    const auto call = [](const QString& args, int count, const QString& function) {
        return A(QStringLiteral("%1 %2 '%3' CallFunction Trace").arg(args).arg(count).arg(function));
    };
    Check({
        {"parseInt forms",
         call("'0x1F'", 1, "parseInt") + call("'12px'", 1, "parseInt") + call("'010'", 1, "parseInt") +
             call("2 '11'", 2, "parseInt") + call("'z'", 1, "parseInt"),
         {"31", "12", "8", "3", "NaN"}},
        {"parseFloat", call("' 3.5e2x'", 1, "parseFloat") + call("'.5'", 1, "parseFloat"), {"350", "0.5"}},
        {"isNaN, isFinite",
         call("'abc'", 1, "isNaN") + call("'12'", 1, "isNaN") +
             A("1 0 Divide 1 'isFinite' CallFunction Trace"),
         {"true", "false", "false"}},
        {"String(), Number(), Boolean()",
         call("5", 1, "String") + call("' 12 '", 1, "Number") + call("true", 1, "Number") +
             call("'x'", 1, "Boolean"),
         {"5", "12", "1", "true"}},
        {"typeof",
         A("undefined TypeOf Trace null TypeOf Trace 0 InitArray TypeOf Trace 'Math' GetVariable "
           "TypeOf Trace 'parseInt' GetVariable TypeOf Trace"),
         {"undefined", "null", "object", "object", "function"}},
    });
}

TEST(ScriptStrings, MethodsGiveFlashsResults) {
    const auto on = [](const QString& text, const QString& args, int count, const QString& method) {
        return A(QStringLiteral("%1 %2 '%3' '%4' CallMethod Trace").arg(args).arg(count).arg(text, method));
    };
    Check({
        {"charAt, charCodeAt",
         on("Hello", "1", 1, "charAt") + on("Hello", "9", 1, "charAt") + on("Hello", "0", 1, "charCodeAt") +
             on("Hello", "9", 1, "charCodeAt"),
         {"e", "", "72", "NaN"}},
        {"indexOf, lastIndexOf",
         on("Hello", "'l'", 1, "indexOf") + on("Hello", "'l'", 1, "lastIndexOf") +
             on("Hello", "3 'l'", 2, "indexOf") + on("Hello", "'z'", 1, "indexOf"),
         {"2", "3", "3", "-1"}},
        {"substr, substring, slice",
         on("Hello", "2 -3", 2, "substr") + on("Hello", "1 3", 2, "substring") +
             on("Hello", "-1 -4", 2, "slice") + on("Hello", "2", 1, "substr"),
         {"ll", "el", "ell", "llo"}},
        {"split",
         on("a,b,c", "','", 1, "split") + A("',' 1 'a,b,c' 'split' CallMethod 'length' GetMember Trace") +
             on("abc", "''", 1, "split") + on("a,b,c", "2 ','", 2, "split"),
         {"a,b,c", "3", "a,b,c", "a,b"}},
        {"case, concat, length",
         on("Hi", "0", 0, "toUpperCase") + on("Hi", "0", 0, "toLowerCase") + on("a", "2 'b'", 2, "concat") +
             A("'abc' 'length' GetMember Trace"),
         {"HI", "hi", "ab2", "3"}},
        {"fromCharCode", A("105 72 2 'String' GetVariable 'fromCharCode' CallMethod Trace"), {"Hi"}},
        {"new String is an object with the text",
         A("'ab' 1 'String' NewObject store:1 TypeOf Trace r:1 'length' GetMember Trace r:1 '!' Add2 Trace"),
         {"object", "2", "ab!"}},
    });
}

TEST(ScriptArrays, LiteralsMethodsAndLength) {
    // a = [1, 2, 3] in register 1 before each case's own lines.
    const QByteArray a = A("3 2 1 3 InitArray store:1 Pop");
    const auto call = [](const QString& args, int count, const QString& method) {
        return A(QStringLiteral("%1 %2 r:1 '%3' CallMethod").arg(args).arg(count).arg(method));
    };
    const QByteArray show = A("r:1 Trace");
    Check({
        {"literal, length, elements",
         a + A("r:1 Trace r:1 'length' GetMember Trace r:1 1 GetMember Trace"),
         {"1,2,3", "3", "2"}},
        {"push, pop",
         a + call("5 4", 2, "push") + A("Trace") + call("", 0, "pop") + A("Trace") + show,
         {"5", "5", "1,2,3,4"}},
        {"shift, unshift",
         a + call("", 0, "shift") + A("Trace") + call("9", 1, "unshift") + A("Trace") + show,
         {"1", "3", "9,2,3"}},
        {"slice",
         a + call("1", 1, "slice") + A("Trace") + call("-1 0", 2, "slice") + A("Trace") + show,
         {"2,3", "1,2", "1,2,3"}},
        {"splice", a + call("'y' 'x' 1 1", 4, "splice") + A("Trace") + show, {"2", "1,x,y,3"}},
        {"concat flattens one level",
         a + A("6 5 4 2 InitArray 2 r:1 'concat' CallMethod Trace") + show,
         {"1,2,3,4,5,6", "1,2,3"}},
        {"join, reverse",
         a + call("'-'", 1, "join") + A("Trace") + call("", 0, "reverse") + A("Trace"),
         {"1-2-3", "3,2,1"}},
        {"setting length truncates and grows",
         a + A("r:1 'length' 1 SetMember") + show + A("r:1 3 'x' SetMember r:1 'length' GetMember Trace") +
             show,
         {"1", "4", "1,undefined,undefined,x"}},
        {"new Array forms",
         A("3 1 'Array' NewObject 'length' GetMember Trace 'b' 'a' 2 'Array' NewObject Trace"),
         {"3", "a,b"}},
        {"undefined and null elements", A("null undefined 2 InitArray Trace"), {"undefined,null"}},
        {"nested arrays", A("2 1 2 InitArray 3 2 InitArray Trace"), {"3,1,2"}},
    });
}

TEST(ScriptArrays, SortAndSortOnWithTheirOptions) {
    const QByteArray numbers = A("1 9 10 3 InitArray store:1 Pop"); // [10, 9, 1]
    const auto sort = [](const QString& args, int count) {
        return A(QStringLiteral("%1 %2 r:1 'sort' CallMethod Trace r:1 Trace").arg(args).arg(count));
    };
    // people = [{n: "b", age: 30}, {n: "a", age: 4}, {n: "c", age: 4}]
    const QByteArray people = A(
        "'n' 'c' 'age' 4 2 InitObject 'n' 'a' 'age' 4 2 InitObject 'n' 'b' 'age' 30 2 InitObject 3 InitArray "
        "store:1 Pop");
    // compare = function (x, y) { return y - x }
    const QByteArray byDescending =
        DefineFunction("", {"x", "y"}, A("'y' GetVariable 'x' GetVariable Subtract Return")) +
        A("store:2 Pop");
    Check({
        {"as text by default", numbers + sort("", 0), {"1,10,9", "1,10,9"}},
        {"NUMERIC", numbers + sort("16", 1), {"1,9,10", "1,9,10"}},
        {"NUMERIC | DESCENDING", numbers + sort("18", 1), {"10,9,1", "10,9,1"}},
        {"RETURNINDEXEDARRAY leaves the array", numbers + sort("24", 1), {"2,1,0", "10,9,1"}},
        {"UNIQUESORT with a duplicate gives 0",
         A("1 2 1 3 InitArray store:1 Pop") + sort("4", 1),
         {"0", "1,2,1"}},
        {"CASEINSENSITIVE", A("'a' 'B' 2 InitArray store:1 Pop") + sort("1", 1), {"a,B", "a,B"}},
        {"a comparison function",
         numbers + byDescending + A("r:2 1 r:1 'sort' CallMethod Pop r:1 Trace"),
         {"10,9,1"}},
        {"sortOn one field, stable",
         people + A("16 'age' 2 r:1 'sortOn' CallMethod Pop r:1 0 GetMember 'n' GetMember Trace "
                    "r:1 1 GetMember 'n' GetMember Trace r:1 2 GetMember 'n' GetMember Trace"),
         {"a", "c", "b"}},
        {"sortOn two fields",
         people + A("'n' 'age' 2 InitArray 1 r:1 'sortOn' CallMethod Pop r:1 0 GetMember 'n' GetMember Trace "
                    "r:1 2 GetMember 'n' GetMember Trace"),
         {"b", "c"}}, // ages as text: "30" < "4"
    });
}

TEST(ScriptObjects, LiteralsMembersForInAndDelete) {
    // o = {a: 1, b: "x", c: true} in register 1.
    const QByteArray o = A("'a' 1 'b' 'x' 'c' true 3 InitObject store:1 Pop");
    const QByteArray traceNames = ForIn(A("r:0 Trace"));
    Check({
        {"members",
         o + A("r:1 'a' GetMember r:1 'b' GetMember Add2 Trace r:1 'z' GetMember Trace"),
         {"1x", "undefined"}},
        {"for..in lists the last added first", o + A("r:1") + traceNames, {"c", "b", "a"}},
        {"a member set later comes first",
         o + A("r:1 'later' 0 SetMember r:1") + traceNames,
         {"later", "c", "b", "a"}},
        {"for..in over an array", A("'z' 'y' 2 InitArray") + traceNames, {"1", "0"}},
        {"delete",
         o + A("r:1 'b' Delete Trace r:1 'b' Delete Trace r:1") + traceNames,
         {"true", "false", "c", "a"}},
        {"delete of a variable",
         A("'v' 1 SetVariable 'v' Delete2 Trace 'v' GetVariable Trace"),
         {"true", "undefined"}},
        {"hasOwnProperty and inherited members",
         o + A("'a' 1 r:1 'hasOwnProperty' CallMethod Trace 'toString' 1 r:1 'hasOwnProperty' CallMethod "
               "Trace "
               "0 r:1 'toString' CallMethod Trace"),
         {"true", "false", "[object Object]"}},
        {"for..in of a timeline's variables by name",
         A("'first' 1 SetVariable 'Second' 2 SetVariable 'this' Enumerate") +
             A("store:0 null Equals2 If:11 r:0 Trace Jump:-25"),
         {"Second", "first"}},
        {"names match without regard to case", o + A("r:1 'A' GetMember Trace"), {"1"}},
        {"equality of objects is identity",
         o + A("r:1 r:1 Equals2 Trace r:1 0 InitObject Equals2 Trace r:1 StrictEquals Trace"),
         {"true", "false", "false"}},
        {"addProperty: a getter and a setter, read-only without a setter, refused without a name or getter",
         o + DefineFunction("", {"v"}, A("'this' GetVariable 'q' 'v' GetVariable 2 Multiply SetMember")) +
             A("store:2 Pop") + DefineFunction("", {}, A("'this' GetVariable 'q' GetMember 1 Add2 Return")) +
             A("store:3 Pop r:2 r:3 'p' 3 r:1 'addProperty' CallMethod Trace r:1 'p' 5 SetMember "
               "r:1 'p' GetMember Trace r:1 'q' GetMember Trace "
               "null r:3 'ro' 3 r:1 'addProperty' CallMethod Trace r:1 'ro' 3 SetMember r:1 'ro' GetMember "
               "Trace "
               "null r:3 '' 3 r:1 'addProperty' CallMethod Trace null 5 'x' 3 r:1 'addProperty' CallMethod "
               "Trace "
               "r:1 'x' GetMember Trace"),
         {"true", "11", "10", "true", "11", "false", "false", "undefined"}},
        {"ASSetPropFlags hides a member from for..in",
         o + A("0 1 'a,c' r:1 4 'ASSetPropFlags' CallFunction Pop r:1") + traceNames,
         {"b"}},
    });
}

TEST(ScriptClasses, ExtendsSuperInstanceOfCastsAndInterfaces) {
    const QByteArray classes = ClassesScript();
    Check({
        {"new of a user function sets members and the prototype's methods",
         classes + A("5 1 'A' NewObject store:1 'x' GetMember Trace 0 r:1 'get' CallMethod Trace r:1 Trace"),
         {"5", "5", "A:5"}},
        {"super() and super.method()",
         classes + A("2 1 'B' NewObject store:1 Pop 0 r:1 'get' CallMethod Trace"),
         {"B4"}},
        {"super() through three levels",
         classes + A("1 1 'C' NewObject store:1 'x' GetMember Trace 0 r:1 'get' CallMethod Trace"),
         {"4", "B4"}},
        {"instanceof",
         classes +
             A("1 1 'C' NewObject store:1 'A' GetVariable InstanceOf Trace r:1 'C' GetVariable InstanceOf "
               "Trace 1 1 'A' NewObject 'B' GetVariable InstanceOf Trace r:1 'I' GetVariable InstanceOf "
               "Trace "
               "r:1 'Array' GetVariable InstanceOf Trace"),
         {"true", "true", "false", "true", "false"}},
        {"casts",
         classes + A("'A' GetVariable 1 1 'B' NewObject CastOp 'x' GetMember Trace 'B' GetVariable 1 1 'A' "
                     "NewObject CastOp Trace"),
         {"2", "null"}},
        {"constructor and __proto__",
         classes + A("1 1 'A' NewObject store:1 'constructor' GetMember 'A' GetVariable Equals2 Trace r:1 "
                     "'__proto__' GetMember 'A' GetVariable 'prototype' GetMember Equals2 Trace"),
         {"true", "true"}},
        {"a method set on __proto__ later reaches instances",
         classes +
             A("1 1 'A' NewObject store:1 '__proto__' GetMember 'z' 7 SetMember r:1 'z' GetMember Trace"),
         {"7"}},
        {"new on a member (NewMethod)",
         classes + A("3 1 '_global' GetVariable 'A' NewMethod 'x' GetMember Trace"),
         {"3"}},
    });
}

TEST(ScriptLimits, ObjectLoopsAndDeepChainsStayBounded) {
    // a = []; loop { a.push(a) }; the budget ends it and the frame goes on. An object made its own
    // prototype's prototype is refused, and an array's length cannot pass its limit.
    const QByteArray loop = A("r:1 1 r:1 'push' CallMethod Pop");
    const QByteArray endless =
        A("0 InitArray store:1 Pop") + loop + A(QStringLiteral("Jump:%1").arg(-(loop.size() + 5)));
    MovieBuilder builder;
    builder.Stage({0, 4000, 0, 4000})
        .Add(Tag(12, endless + QByteArray(1, '\0')))
        .Add(ShowFrame())
        .Add(DoAction(ActionCode().Stop()))
        .Add(ShowFrame());
    const auto movie = ReadBack(builder.Build());
    ASSERT_TRUE(movie);
    Player player(movie);
    player.Tick();
    EXPECT_EQ(player.CurrentFrame(), 1);

    EXPECT_EQ(
        Traced(A("0 InitObject store:1 0 InitObject store:2 '__proto__' r:1 SetMember r:1 '__proto__' r:2 "
                 "SetMember r:1 '__proto__' GetMember r:2 Equals2 Trace r:2 'missing' GetMember Trace")),
        (QStringList{"false", "undefined"}));
    EXPECT_EQ(Traced(A("0 InitArray store:1 'length' 1e9 SetMember r:1 'length' GetMember Trace")),
              QStringList{QString::number(ActionInterpreter::MaxArrayLength)});
}

TEST(ObjectHeap, CollectsWhatNoRootReachesCyclesIncluded) {
    ObjectHeap heap;
    ScriptObject* kept = heap.New(ScriptObject::Kind::Object, nullptr);
    ScriptObject* child = heap.New(ScriptObject::Kind::Array, kept);
    child->elements.push_back(kept);
    kept->properties.Set(QStringLiteral("child"), child);
    // A cycle nothing else points at.
    ScriptObject* a = heap.New(ScriptObject::Kind::Object, nullptr);
    ScriptObject* b = heap.New(ScriptObject::Kind::Object, a);
    a->proto = b;
    a->properties.Set(QStringLiteral("b"), b);
    ASSERT_EQ(heap.Objects(), 4u);
    heap.Collect([&](const ObjectHeap::Mark& mark) { mark(kept); });
    EXPECT_EQ(heap.Objects(), 2u);
    heap.Collect([](const ObjectHeap::Mark&) {});
    EXPECT_EQ(heap.Objects(), 0u);
    EXPECT_EQ(heap.UsedCells(), 0u);

    // Past its cells the heap refuses new objects.
    while (heap.New(ScriptObject::Kind::Object, nullptr))
        ;
    EXPECT_LE(heap.UsedCells(), ObjectHeap::MaxCells);
    EXPECT_FALSE(heap.Charge(QString(64, u'x')));
}

// The fuzzers' movie of objects prints what Flash Player would, so its scripts reach far.
TEST(ScriptClasses, TheObjectsMovieRunsEveryPart) {
    const auto movie = ReadBack(ObjectsMovie());
    ASSERT_TRUE(movie);
    QStringList lines;
    Player player(movie, nullptr, [&lines](const QString& line) { lines.push_back(line); });
    player.Tick();
    EXPECT_EQ(lines, (QStringList{"c", "b", "a", "1,2,3", "2", "1,x,y,3", "4", "B6", "A:6", "true", "true",
                                  "object", "f", "1000", "[type Function]"}));
}

// Thousands of objects left behind are collected between frames; what variables and _global hold
// stays whole.
TEST(ScriptLimits, CollectionKeepsWhatScriptsStillReach) {
    const QByteArray body = A("0 InitObject Pop r:1 1 Add2 store:1 5000 Less2");
    const QByteArray frame1 = ClassesScript() + A("'keep' 'v' 7 1 InitObject SetVariable 0 store:1 Pop") +
                              body + A(QStringLiteral("If:%1").arg(-(body.size() + 5)));
    MovieBuilder builder;
    builder.Stage({0, 4000, 0, 4000})
        .Add(Tag(12, frame1 + QByteArray(1, '\0')))
        .Add(ShowFrame())
        .Add(Tag(12, A("r:1 Trace 'keep' GetVariable 'v' GetMember Trace 3 1 'C' NewObject Trace") +
                         QByteArray(1, '\0')))
        .Add(ShowFrame());
    const auto movie = ReadBack(builder.Build());
    ASSERT_TRUE(movie);
    QStringList lines;
    Player player(movie, nullptr, [&lines](const QString& line) { lines.push_back(line); });
    player.Tick();
    EXPECT_EQ(lines, (QStringList{"5000", "7", "A:8"}));
}

// The compiler's DefineFunction2 form: this in register 1 and super in register 2, preloaded.
TEST(ScriptClasses, SuperPreloadedInRegisters) {
    const auto function2 = [](const QStringList& params, const QByteArray& body) {
        Bits payload;
        payload.String("").U16(std::uint32_t(params.size())).U8(4).U8(0x11).U8(0); // preload this, super
        for (const QString& param : params)
            payload.U8(3).String(param);
        payload.U16(std::uint32_t(body.size()));
        return ActionCode().Op(action::DefineFunction2, payload.Data()).Data().chopped(1) + body;
    };
    // D(x) extends A { super(x * 2) }  D.prototype.get = function () { return "D" + super.get() }
    const QByteArray script =
        ClassesScript() + A("'_global' GetVariable 'D'") +
        function2({"x"}, A("r:3 2 Multiply 1 r:2 undefined CallMethod Pop")) +
        A("SetMember 'D' GetVariable 'A' GetVariable Extends 'D' GetVariable 'prototype' GetMember 'get'") +
        function2({}, A("'D' 0 r:2 'get' CallMethod Add2 Return")) +
        A("SetMember 5 1 'D' NewObject store:1 'x' GetMember Trace 0 r:1 'get' CallMethod Trace");
    EXPECT_EQ(Traced(script), (QStringList{"10", "D10"}));
}
