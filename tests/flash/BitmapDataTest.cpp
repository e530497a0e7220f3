// Bitmaps scripts make: BitmapData's pixels as Flash Player 8 gives them back (premultiplied
// storage, opaque bitmaps, invalid and disposed ones, the movie's exported bitmaps), attachBitmap and
// beginBitmapFill in the picture following later changes of the pixels and outliving the script's
// object, cacheAsBitmap as reported and drawn, and the movie's limit on bitmap memory.
#include "FuzzMovies.h"
#include "PixelCheck.h"
#include "ReadBack.h"
#include "ScriptAssembler.h"
#include "SwfWriter.h"
#include "flash/player/Player.h"
#include "flash/player/ScriptBitmap.h"
#include "flash/render/Renderer.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

QString Reversed(const QStringList& args) {
    return QStringList(args.rbegin(), args.rend()).join(u' ');
}

// new flash.<package>.<name>(args), left on the stack.
QString New(const QString& name, const QStringList& args = {}, const QString& package = "display") {
    return QStringLiteral("%1 %2 'flash' GetVariable '%3' GetMember '%4' NewMethod ")
        .arg(Reversed(args))
        .arg(args.size())
        .arg(package, name);
}
QString NewBitmap(const QStringList& args) {
    return New("BitmapData", args);
}
// variable.method(args), its result left on the stack.
QString Call(const QString& variable, const QString& method, const QStringList& args = {}) {
    return QStringLiteral("%1 %2 '%3' GetVariable '%4' CallMethod ")
        .arg(Reversed(args))
        .arg(args.size())
        .arg(variable, method);
}
QString Let(const QString& variable, const QString& value) {
    return QStringLiteral("'%1' %2 SetVariable ").arg(variable, value);
}
QString Member(const QString& variable, const QString& name) {
    return QStringLiteral("'%1' GetVariable '%2' GetMember ").arg(variable, name);
}
// Makes 5000 objects no one keeps: the heap collects after the script.
QByteArray Garbage() {
    const QByteArray body = Assemble("0 InitObject Pop r:1 1 Add2 store:1 5000 Less2");
    return Assemble("0 store:1 Pop") + body + Assemble(QStringLiteral("If:%1").arg(-(body.size() + 5)));
}

QByteArray DoAction(const QByteArray& code) {
    return Tag(12, code + QByteArray(1, '\0'));
}

// Exported bitmaps: "pic", 2 x 1 with alpha, opaque red, then red at half alpha (premultiplied, as
// the file keeps it); "flat", 1 x 1 without alpha, 0x112233.
QByteArray ExportedPicture() {
    const QByteArray argb("\xFF\xFF\x00\x00\x80\x80\x00\x00", 8);
    const QByteArray xrgb("\x00\x11\x22\x33", 4);
    return DefineBitsLossless(2, 5, 5, 2, 1, qCompress(argb).mid(4)) +
           DefineBitsLossless(1, 6, 5, 1, 1, qCompress(xrgb).mid(4)) +
           Tag(56, Bits().U16(2).U16(5).String("pic").U16(6).String("flat").Data());
}

// A placed sprite "clip" (a 20 x 20 px green box at (10.4, 10) px) on a 100 x 100 px stage, with the
// movie's exported picture; frames of script, one a frame.
QByteArray TestMovie(const std::vector<QByteArray>& frames) {
    PlaceObject placed = Place(2, 1, 3);
    placed.name = QStringLiteral("clip");
    placed.matrix = Matrix{1, 0, 0, 1, 208, 200};
    MovieBuilder builder;
    builder.Stage({0, 2000, 0, 2000})
        .Add(ExportedPicture())
        .Add(DefineShape(ShapeDefinition()
                             .Id(1)
                             .Fills({Solid({0, 160, 0})})
                             .Records(ShapeRecords().Fill0(1).Box(0, 0, 400, 400))))
        .Add(DefineSprite(2, 1, PlaceObjectTag(Place(1, 1)) + ShowFrame()))
        .Add(PlaceObjectTag(placed));
    for (const QByteArray& frame : frames)
        builder.Add(DoAction(frame)).Add(ShowFrame());
    return builder.Build();
}

QStringList Traced(const QString& script) {
    const auto movie = ReadBack(TestMovie({Assemble(script)}));
    QStringList lines;
    if (!movie)
        return {QStringLiteral("(movie does not read)")};
    Player player(movie, nullptr, [&lines](const QString& line) { lines.push_back(line); });
    return lines;
}

// The stage after each of the movie's frames.
std::vector<QImage> Frames(const QByteArray& bytes, int count, bool antialiased = false) {
    const auto movie = ReadBack(bytes);
    std::vector<QImage> frames;
    if (!movie)
        return frames;
    Player player(movie);
    Renderer renderer;
    renderer.SetAntialiased(antialiased);
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            player.Tick();
        QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        renderer.RenderStage(painter, *movie, player.Stage(), image.size(), player.BackgroundColor());
        painter.end();
        frames.push_back(image.convertToFormat(QImage::Format_ARGB32));
    }
    return frames;
}

struct Case {
    const char* name;
    QString script;
    QStringList lines;
};

} // namespace

TEST(BitmapData, PixelsReadBackAsFlashPlayerGivesThem) {
    const Case cases[] = {
        {"defaults: transparent, opaque white",
         Let("b", NewBitmap({"4", "3"})) + Member("b", "width") + "Trace " + Member("b", "height") +
             "Trace " + Member("b", "transparent") + "Trace " + Call("b", "getPixel32", {"0", "0"}) +
             "Trace " + Member("b", "rect") + "Trace",
         {"4", "3", "true", "-1", "(x=0, y=0, w=4, h=3)"}},
        {"low alpha reads back premultiplied, rounded down",
         Let("b", NewBitmap({"2", "2", "true", "0"})) + Call("b", "setPixel32", {"0", "0", "1082163328"}) +
             "Pop " + Call("b", "getPixel32", {"0", "0"}) + "Trace " +
             Call("b", "setPixel32", {"1", "0", "2164195328"}) + "Pop " +
             Call("b", "getPixel32", {"1", "0"}) + "Trace " + Call("b", "getPixel", {"1", "0"}) + "Trace " +
             Call("b", "setPixel32", {"0", "1", "33554431"}) + "Pop " + Call("b", "getPixel32", {"0", "1"}) +
             "Trace " + Call("b", "setPixel32", {"1", "1", "16777215"}) + "Pop " +
             Call("b", "getPixel32", {"1", "1"}) + "Trace",
         {"1082097535", "-2130771968", "16711680", "33554431", "0"}},
        {"an opaque bitmap keeps alpha 255",
         Let("b", NewBitmap({"2", "2", "false", "1122867"})) + Member("b", "transparent") + "Trace " +
             Call("b", "getPixel32", {"0", "0"}) + "Trace " +
             Call("b", "setPixel32", {"0", "0", "11189196"}) + "Pop " + Call("b", "getPixel32", {"0", "0"}) +
             "Trace",
         {"false", "-15654349", "-5588020"}},
        {"setPixel keeps the pixel's alpha",
         Let("b", NewBitmap({"2", "2", "true", "2147483648"})) +
             Call("b", "setPixel", {"0", "0", "16711680"}) + "Pop " + Call("b", "getPixel32", {"0", "0"}) +
             "Trace",
         {"-2130771968"}},
        {"outside the bitmap: 0, and nothing set",
         Let("b", NewBitmap({"2", "2"})) + Call("b", "getPixel", {"2", "0"}) + "Trace " +
             Call("b", "getPixel32", {"-1", "0"}) + "Trace " + Call("b", "setPixel32", {"5", "5", "0"}) +
             "Pop " + Call("b", "getPixel32", {"1", "1"}) + "Trace",
         {"0", "0", "-1"}},
        {"sizes out of 1..2880 make an invalid bitmap",
         Let("a", NewBitmap({"0", "5"})) + Let("b", NewBitmap({"2881", "1"})) +
             Let("c", NewBitmap({"'x'", "4"})) + Let("d", NewBitmap({"2880", "1"})) + Member("a", "width") +
             "Trace " + Member("b", "height") + "Trace " + Call("c", "getPixel", {"0", "0"}) + "Trace " +
             Member("c", "rect") + "Trace " + Member("d", "width") + "Trace",
         {"-1", "-1", "-1", "undefined", "2880"}},
        {"a disposed bitmap is invalid",
         Let("b", NewBitmap({"3", "3"})) + Call("b", "dispose") + "Pop " + Member("b", "width") + "Trace " +
             Call("b", "getPixel32", {"0", "0"}) + "Trace " + Call("b", "clone") + "TypeOf Trace",
         {"-1", "-1", "undefined"}},
        {"fillRect fills what falls inside",
         Let("b", NewBitmap({"4", "4", "true", "0"})) +
             Call("b", "fillRect", {New("Rectangle", {"-1", "-1", "3", "3"}, "geom"), "4278255360"}) +
             "Pop " + Call("b", "getPixel32", {"0", "0"}) + "Trace " + Call("b", "getPixel32", {"1", "1"}) +
             "Trace " + Call("b", "getPixel32", {"2", "2"}) + "Trace",
         {"-16711936", "-16711936", "0"}},
        {"copyPixels replaces, or merges over",
         Let("s", NewBitmap({"2", "2", "true", "2164195328"})) +
             Let("d", NewBitmap({"3", "3", "true", "4278190335"})) +
             Call("d", "copyPixels",
                  {"'s' GetVariable", Member("s", "rect"), New("Point", {"1", "1"}, "geom")}) +
             "Pop " + Call("d", "getPixel32", {"2", "2"}) + "Trace " + Call("d", "getPixel32", {"0", "0"}) +
             "Trace " + Let("m", NewBitmap({"3", "3", "true", "4278190335"})) +
             Call("m", "copyPixels",
                  {"'s' GetVariable", New("Rectangle", {"0", "0", "1", "1"}, "geom"),
                   New("Point", {"2", "2"}, "geom"), "null", "null", "true"}) +
             "Pop " + Call("m", "getPixel32", {"2", "2"}) + "Trace " + Call("m", "getPixel32", {"1", "1"}) +
             "Trace",
         {"-2130771968", "-16776961", "-8388481", "-16776961"}},
        {"a clone has its own pixels and is a BitmapData",
         Let("b", NewBitmap({"2", "2", "true", "0"})) + Let("c", Call("b", "clone")) +
             Call("c", "setPixel32", {"0", "0", "4294901760"}) + "Pop " +
             Call("b", "getPixel32", {"0", "0"}) + "Trace " + Call("c", "getPixel32", {"0", "0"}) + "Trace " +
             "'c' GetVariable 'flash' GetVariable 'display' GetMember 'BitmapData' GetMember InstanceOf "
             "Trace",
         {"0", "-65536", "true"}},
        {"draw paints another bitmap through a matrix and a colour transform",
         Let("s", NewBitmap({"1", "1", "false", "16711680"})) +
             Let("d", NewBitmap({"3", "3", "false", "0"})) +
             Call("d", "draw", {"'s' GetVariable", New("Matrix", {"1", "0", "0", "1", "2", "1"}, "geom")}) +
             "Pop " + Call("d", "getPixel", {"2", "1"}) + "Trace " + Call("d", "getPixel", {"1", "1"}) +
             "Trace " +
             Call("d", "draw",
                  {"'s' GetVariable", New("Matrix", {}, "geom"),
                   New("ColorTransform", {"0", "1", "1", "1", "0", "0", "255", "0"}, "geom")}) +
             "Pop " + Call("d", "getPixel", {"0", "0"}) + "Trace",
         {"16711680", "0", "255"}},
        {"draw paints a clip without its placement; the main timeline draws nothing",
         Let("d", NewBitmap({"30", "30", "true", "0"})) +
             Call("d", "draw",
                  {"'clip' GetVariable", New("Matrix", {"1", "0", "0", "1", "5", "5"}, "geom")}) +
             "Pop " + Call("d", "getPixel32", {"4", "4"}) + "Trace " + Call("d", "getPixel", {"5", "5"}) +
             "Trace " + Call("d", "getPixel", {"24", "24"}) + "Trace " +
             Call("d", "getPixel32", {"25", "25"}) + "Trace " +
             Call("d", "draw",
                  {"'clip' GetVariable", New("Matrix", {}, "geom"),
                   New("ColorTransform", {"1", "1", "1", "1", "255", "0", "0", "0"}, "geom")}) +
             "Pop " + Call("d", "getPixel", {"0", "0"}) + "Trace " +
             Let("r", NewBitmap({"2", "2", "true", "0"})) + Call("r", "draw", {"'_root' GetVariable"}) +
             "Pop " + Call("r", "getPixel32", {"0", "0"}) + "Trace",
         {"0", "40960", "40960", "0", "16752640", "0"}},
        {"loadBitmap: the movie's exported bitmap by linkage name",
         Let("b", "'PIC' 1 'flash' GetVariable 'display' GetMember 'BitmapData' GetMember 'loadBitmap' "
                  "CallMethod") +
             Member("b", "width") + "Trace " + Call("b", "getPixel32", {"0", "0"}) + "Trace " +
             Call("b", "getPixel32", {"1", "0"}) + "Trace " + Member("b", "transparent") + "Trace " +
             Let("f", "'flat' 1 'flash' GetVariable 'display' GetMember 'BitmapData' GetMember 'loadBitmap' "
                      "CallMethod") +
             Member("f", "transparent") + "Trace " + Call("f", "getPixel32", {"0", "0"}) + "Trace " +
             "'moon' 1 'flash' GetVariable 'display' GetMember 'BitmapData' GetMember 'loadBitmap' "
             "CallMethod TypeOf Trace",
         {"2", "-65536", "-2130771968", "true", "false", "-15654349", "undefined"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Traced(c.script), c.lines);
    }
}

TEST(BitmapData, CacheAsBitmapReadsTrueWhileFiltered) {
    const QString blur = "0 'flash' GetVariable 'filters' GetMember 'BlurFilter' NewMethod 1 InitArray";
    const QString cached = "'clip' GetVariable 'cacheAsBitmap' GetMember Trace ";
    const QString set = "'clip' GetVariable 'cacheAsBitmap' %1 SetMember ";
    const QString filters = "'clip' GetVariable 'filters' %1 SetMember ";
    EXPECT_EQ(Traced(cached + set.arg("true") + cached + set.arg("false") + filters.arg(blur) + cached +
                     filters.arg("0 InitArray") + cached + set.arg("true") + filters.arg(blur) +
                     filters.arg("0 InitArray") + cached),
              (QStringList{"false", "true", "true", "false", "true"}));
}

// Flash Player draws a cached clip on whole pixels: at 10.4 px it shows as a plain clip at 10 px does.
TEST(BitmapData, CachedClipIsDrawnOnWholePixels) {
    const QString moveTo10 = "'clip' GetVariable '_x' 10 SetMember";
    const QImage cached =
        Frames(TestMovie({Assemble("'clip' GetVariable 'cacheAsBitmap' true SetMember")}), 1, true)[0];
    const QImage fractional = Frames(TestMovie({Assemble("")}), 1, true)[0];
    const QImage whole = Frames(TestMovie({Assemble(moveTo10)}), 1, true)[0];
    EXPECT_EQ(cached, whole);
    EXPECT_NE(fractional, whole);
}

TEST(BitmapData, AttachedBitmapFollowsItsPixelsAndOutlivesItsObject) {
    // b: 4 x 4 red in clip c at (50, 50); a green 2 x 2 bitmap nothing keeps, in clip d at (70, 70).
    const QByteArray first =
        Assemble("1 'c' 2 '_root' GetVariable 'createEmptyMovieClip' CallMethod Pop "
                 "2 'd' 2 '_root' GetVariable 'createEmptyMovieClip' CallMethod Pop "
                 "'c' GetVariable '_x' 50 SetMember 'c' GetVariable '_y' 50 SetMember "
                 "'d' GetVariable '_x' 70 SetMember 'd' GetVariable '_y' 70 SetMember " +
                 Let("b", NewBitmap({"4", "4", "false", "16711680"})) +
                 Call("c", "attachBitmap", {"'b' GetVariable", "1"}) + "Pop " +
                 Call("d", "attachBitmap", {NewBitmap({"2", "2", "false", "65280"}), "1"}) + "Pop") +
        Garbage();
    const QByteArray second = Assemble(Call("b", "setPixel", {"0", "0", "255"}) + "Pop");
    const auto frames = Frames(TestMovie({first, second}), 2);
    ASSERT_EQ(frames.size(), 2u);
    const struct {
        int frame, x, y;
        QColor color;
    } pixels[] = {
        {0, 50, 50, Qt::red},   {0, 53, 53, Qt::red},  {0, 54, 54, Qt::white}, {0, 49, 49, Qt::white},
        {0, 71, 71, Qt::green}, {1, 50, 50, Qt::blue}, {1, 51, 50, Qt::red},   {1, 70, 70, Qt::green},
    };
    for (const auto& p : pixels)
        EXPECT_TRUE(PixelNear(frames[std::size_t(p.frame)], p.x, p.y, p.color, 0, false))
            << "frame " << p.frame;
}

TEST(BitmapData, BitmapFillsRepeatOrStretchAndFollowThePixels) {
    // b: red, green / blue, black. f at (0, 0) fills 8 x 8 px repeating it; g at (20, 0) fills 8 x 8 px
    // with it twice as large, not repeated, so its edge pixels reach on.
    const auto box = [](const QString& clip) {
        return Call(clip, "moveTo", {"0", "0"}) + "Pop " + Call(clip, "lineTo", {"8", "0"}) + "Pop " +
               Call(clip, "lineTo", {"8", "8"}) + "Pop " + Call(clip, "lineTo", {"0", "8"}) + "Pop " +
               Call(clip, "endFill") + "Pop ";
    };
    const QByteArray first =
        Assemble(Let("b", NewBitmap({"2", "2", "false", "16711680"})) +
                 Call("b", "setPixel", {"1", "0", "65280"}) + "Pop " +
                 Call("b", "setPixel", {"0", "1", "255"}) + "Pop " + Call("b", "setPixel", {"1", "1", "0"}) +
                 "Pop " +
                 "1 'f' 2 '_root' GetVariable 'createEmptyMovieClip' CallMethod Pop "
                 "2 'g' 2 '_root' GetVariable 'createEmptyMovieClip' CallMethod Pop "
                 "'g' GetVariable '_x' 20 SetMember " +
                 Call("f", "beginBitmapFill", {"'b' GetVariable"}) + "Pop " + box("f") +
                 Call("g", "beginBitmapFill",
                      {"'b' GetVariable", New("Matrix", {"2", "0", "0", "2", "0", "0"}, "geom"), "false"}) +
                 "Pop " + box("g") + "'b' undefined SetVariable") +
        Garbage();
    const QByteArray second = Assemble(""); // a frame later, after the collection
    const auto frames = Frames(TestMovie({first, second}), 2);
    ASSERT_EQ(frames.size(), 2u);
    const struct {
        int x, y;
        QColor color;
    } pixels[] = {
        {0, 0, Qt::red},   {1, 0, Qt::green},  {2, 0, Qt::red},   {0, 1, Qt::blue},   {3, 3, Qt::black},
        {7, 7, Qt::black}, {20, 0, Qt::red},   {21, 1, Qt::red},  {22, 0, Qt::green}, {27, 0, Qt::green},
        {20, 7, Qt::blue}, {27, 7, Qt::black}, {8, 8, Qt::white},
    };
    for (const auto& p : pixels)
        for (const QImage& frame : frames)
            EXPECT_TRUE(PixelNear(frame, p.x, p.y, p.color, 0, false));
}

TEST(BitmapData, FillFollowsLaterChangesOfItsBitmap) {
    const QByteArray first = Assemble(
        Let("b", NewBitmap({"1", "1", "false", "16711680"})) +
        "1 'f' 2 '_root' GetVariable 'createEmptyMovieClip' CallMethod Pop " +
        Call("f", "beginBitmapFill", {"'b' GetVariable"}) + "Pop " + Call("f", "moveTo", {"0", "0"}) +
        "Pop " + Call("f", "lineTo", {"4", "0"}) + "Pop " + Call("f", "lineTo", {"4", "4"}) + "Pop " +
        Call("f", "lineTo", {"0", "4"}) + "Pop " + Call("f", "endFill") + "Pop");
    const QByteArray second = Assemble(Call("b", "setPixel", {"0", "0", "255"}) + "Pop");
    const QByteArray third = Assemble(Call("b", "dispose") + "Pop");
    const auto frames = Frames(TestMovie({first, second, third}), 3);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_TRUE(PixelNear(frames[0], 2, 2, Qt::red, 0, false));
    EXPECT_TRUE(PixelNear(frames[1], 2, 2, Qt::blue, 0, false));
    EXPECT_TRUE(PixelNear(frames[2], 2, 2, Qt::white, 0, false)); // a disposed bitmap fills nothing
}

// The movie's bitmaps together stay within the limit; what is freed makes room again.
TEST(BitmapData, MemoryOfAMovieIsBounded) {
    auto ledger = std::make_shared<BitmapLedger>();
    const std::int64_t full = std::int64_t(ScriptBitmap::MaxSide) * ScriptBitmap::MaxSide * 4;
    ledger->bytes = ScriptBitmap::MaxBytes - full; // as if the movie held all but one full bitmap
    auto last = ScriptBitmap::Make(ScriptBitmap::MaxSide, ScriptBitmap::MaxSide, true, 0, ledger);
    ASSERT_TRUE(last);
    EXPECT_FALSE(ScriptBitmap::Make(1, 1, true, 0, ledger));
    EXPECT_FALSE(last->Clone());
    last->Dispose();
    EXPECT_TRUE(ScriptBitmap::Make(1, 1, true, 0, ledger));
    EXPECT_EQ(ledger->bytes.load(), ScriptBitmap::MaxBytes - full); // the 1 x 1 one was let go of too
}

// The fuzzers' bitmap seed: absurd sizes, coordinates, depths and matrices are refused or clipped,
// and what it reads back is what an invalid, a clipped and a disposed bitmap give.
TEST(BitmapData, AbsurdSizesAndCoordinatesAreRefusedOrClipped) {
    const auto movie = ReadBack(BitmapMovie());
    ASSERT_TRUE(movie);
    QStringList lines;
    Player player(movie, nullptr, [&lines](const QString& line) { lines.push_back(line); });
    Renderer renderer;
    QImage image(100, 100, QImage::Format_ARGB32_Premultiplied);
    for (int frame = 0; frame < 2; ++frame) {
        if (frame > 0)
            player.Tick();
        QPainter painter(&image);
        renderer.RenderStage(painter, *movie, player.Stage(), image.size(), player.BackgroundColor());
    }
    EXPECT_EQ(lines, (QStringList{"-1", "-1", "0", "-1", "-16776961", "undefined"}));
}

// Pixel work is paid from the frame's budget: a loop filling the largest bitmap a thousand times is
// stopped after about a dozen fills, and the next frame runs.
TEST(BitmapData, PixelWorkIsPaidFromTheScriptsBudget) {
    const QByteArray body = Assemble(Call("b", "fillRect", {Member("b", "rect"), "'i' GetVariable"}) +
                                     "Pop 'i' 'i' GetVariable 1 Add2 SetVariable 'i' GetVariable 1000 Less2");
    const QByteArray first = Assemble(Let("b", NewBitmap({"2880", "2880"})) + Let("i", "0")) + body +
                             Assemble(QStringLiteral("If:%1").arg(-(body.size() + 5)));
    const auto movie = ReadBack(TestMovie({first, Assemble("'i' GetVariable Trace")}));
    ASSERT_TRUE(movie);
    QStringList lines;
    Player player(movie, nullptr, [&lines](const QString& line) { lines.push_back(line); });
    player.Tick();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_GT(lines[0].toInt(), 0);
    EXPECT_LT(lines[0].toInt(), 100);
}
