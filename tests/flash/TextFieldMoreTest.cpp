// Text fields beyond their properties: the one HTML reader that fields and the renderer share,
// replaceSel, restrict and maxChars, scrolling drawn, bullets drawn, and textWidth/autoSize measured
// with the faces the renderer draws with.
#include "PixelCheck.h"
#include "ReadBack.h"
#include "ScriptAssembler.h"
#include "SwfWriter.h"
#include "TraceRun.h"
#include "flash/player/Player.h"
#include "flash/player/TextFields.h"
#include "flash/render/Renderer.h"
#include "flash/render/Text.h"

#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

// --- A small script harness: assembly text for calls and members, a movie running it once.

// object.method(args), its result dropped.
QString Call(const QString& object, const QString& method, const QStringList& args) {
    return tracing::Call(object, method, args) + QStringLiteral("Pop ");
}
using tracing::Set;
QString TraceMember(const QString& object, const QString& name) {
    return QStringLiteral("%1 '%2' GetMember Trace ").arg(object, name);
}
// r:1 holds a new TextFormat(args...).
QString Format(QStringList args) {
    std::reverse(args.begin(), args.end());
    return QStringLiteral("%1 %2 'TextFormat' NewObject store:1 Pop ").arg(args.join(u' ')).arg(args.size());
}

const QString Root = QStringLiteral("'_root' GetVariable");
const QString Field = QStringLiteral("'t' GetVariable");
// t: 80 x 30 pixels at (10, 20).
const QString Create = Call(Root, "createTextField", {"'t'", "1", "10", "20", "80", "30"});

// "Squares" draws 'A' as a square one EM wide, its top at the ascent; its descent is a quarter EM.
FontDefinition Squares() {
    FontDefinition font;
    font.id = 1;
    font.name = QStringLiteral("Squares");
    font.ascent = 1024;
    font.descent = 256;
    font.glyphs = {GlyphDefinition{ShapeRecords().Fill0(1).Box(0, -1024, 1024, 0), 'A', 1024}};
    return font;
}

// The field in the Squares font at a size, red, drawn from the movie's glyphs.
QString SquaresField(int size) {
    return Create + Set(Field, "embedFonts", "true") +
           Format({"'Squares'", QString::number(size), "16711680"}) +
           Call(Field, "setNewTextFormat", {"r:1"});
}

std::shared_ptr<const Movie> MovieOf(const QString& script) {
    MovieBuilder builder;
    builder.Version(8)
        .Stage({0, 2000, 0, 2000})
        .Add(DefineFontTag(Squares()))
        .Add(Tag(12, Assemble(script) + QByteArray(1, '\0')))
        .Add(ShowFrame());
    return ReadBack(builder.Build());
}

QStringList TraceOf(const QString& script) {
    const auto movie = MovieOf(script);
    if (!movie)
        return {QStringLiteral("(movie does not read)")};
    QStringList lines;
    Player player(movie, nullptr, [&lines](const QString& line) { lines.push_back(line); });
    return lines;
}

QImage PictureOf(const QString& script) {
    const auto movie = MovieOf(script);
    if (!movie)
        return {};
    Player player(movie);
    return Renderer()
        .RenderStage(*movie, player.Stage(), QSize(100, 100))
        .convertToFormat(QImage::Format_RGB32);
}

int Count(const QImage& image, const QRect& area, const QColor& color, int tolerance = 8) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += PixelNear(image, x, y, color, tolerance, false) ? 1 : 0;
    return count;
}

// Columns where any pixel differs from white.
std::pair<int, int> InkColumns(const QImage& image, const QRect& area) {
    int first = -1, last = -1;
    for (int x = area.left(); x <= area.right(); ++x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (!PixelNear(image, x, y, Qt::white, 40, false)) {
                first = first < 0 ? x : first;
                last = x;
                break;
            }
    return {first, last};
}

const QColor Red(255, 0, 0), Green(0, 255, 0), Blue(0, 0, 255);

} // namespace

// Fields and the renderer read HTML with one reader: the text a field keeps is the text drawn.
TEST(SharedHtmlReader, FieldsAndTheRendererReadTheSameText) {
    const char* cases[] = {
        "<p align='center'>A</p><p>B</p>",
        "A<br>B<br/><li>C</li><li>D</li>",
        "<font size='+6'>A<font size='-4'>B</font></font>C",
        "&#65;&#x42;&lt;&amp;x&bogus;",
        "<b>A</i></font></p>B",
        "<b><font color='#0000FF'>A</b>B</font>",
        "A < B",
        "<b>A<",
        "A<font color=\"#FF0000\"",
        "A\r\nB\nC",
        "<p>A</p><p></p>",
    };
    for (const char* html : cases) {
        SCOPED_TRACE(html);
        FormattedText kept;
        kept.SetHtml(QString::fromUtf8(html), CharFormat());
        QString plain = kept.Plain();
        plain.replace(u'\r', u'\n');
        if (plain.endsWith(u'\n')) // a last break opens no line in the picture
            plain.chop(1);
        EditText edit;
        edit.html = true;
        edit.initialText = QString::fromUtf8(html);
        EXPECT_EQ(DisplayedText(edit), plain);
    }
}

TEST(SharedHtmlReader, ParagraphsCarryBulletsAndOnlyTheSpacingTagsSet) {
    TextStyle base;
    base.size = 250; // 12.5 px: a size no tag set stays exact
    const auto paragraphs =
        ParseHtml(QStringLiteral("<li>A</li><textformat indent='5'><p>B</p></textformat><p><b>C</p>D"), base,
                  EditText::Align::Left);
    ASSERT_EQ(paragraphs.size(), 4u);
    EXPECT_TRUE(paragraphs[0].bullet);
    EXPECT_FALSE(paragraphs[1].bullet);
    EXPECT_EQ(paragraphs[0].indent, std::nullopt);
    EXPECT_EQ(paragraphs[1].indent, 100);
    EXPECT_EQ(paragraphs[1].leftMargin, std::nullopt);
    EXPECT_EQ(paragraphs[0].runs.front().style.size, 250);
    // Closing a paragraph closes the tags left open inside it, as fields read it.
    EXPECT_TRUE(paragraphs[2].runs.front().style.bold);
    EXPECT_FALSE(paragraphs[3].runs.front().style.bold);
}

TEST(TextFieldMethods, ReplaceSelAddsAtTheEndInTheNewFormatAndKeepsRestrictAndMaxChars) {
    const QString bold = Format({"null", "null", "null", "true"}) + Call(Field, "setNewTextFormat", {"r:1"});
    const QString boldAt = QStringLiteral("%1 1 %2 'getTextFormat' CallMethod 'bold' GetMember Trace ");
    struct Case {
        const char* name;
        QString script;
        QStringList lines;
    } cases[] = {
        {"added at the end, in the new format",
         Create + Set(Field, "text", "'ab'") + bold + Call(Field, "replaceSel", {"'XY'"}) +
             TraceMember(Field, "text") + boldAt.arg("1", Field) + boldAt.arg("2", Field),
         {"abXY", "false", "true"}},
        {"not read as HTML",
         Create + Set(Field, "html", "true") + Call(Field, "replaceSel", {"'<b>x</b>'"}) +
             TraceMember(Field, "text"),
         {"<b>x</b>"}},
        {"no argument changes nothing",
         Create + Set(Field, "text", "'ab'") + Call(Field, "replaceSel", {}) + TraceMember(Field, "text"),
         {"ab"}},
        {"restrict and maxChars are kept, and script text is not limited by them",
         Create + Set(Field, "restrict", "'a-z'") + Set(Field, "maxChars", "3") +
             Set(Field, "text", "'ABCDEF'") + Call(Field, "replaceSel", {"'123'"}) +
             TraceMember(Field, "restrict") + TraceMember(Field, "maxChars") + TraceMember(Field, "text") +
             Set(Field, "restrict", "null") + Set(Field, "maxChars", "0") + TraceMember(Field, "restrict") +
             TraceMember(Field, "maxChars"),
         {"a-z", "3", "ABCDEF123", "null", "null"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TraceOf(c.script), c.lines);
    }
}

// Lines 12.5 px high (10 px squares, 2.5 px descent): the 26 px inside of the box shows two.
TEST(TextFieldScrolling, ScrollPropertiesFollowTheLinesAsDrawn) {
    const QString five =
        SquaresField(10) + Set(Field, "multiline", "true") + Set(Field, "text", "'A\rA\rA\rA\rA'");
    const QString all = QStringLiteral("scroll maxscroll bottomScroll hscroll maxhscroll");
    QString trace;
    for (const QString& name : all.split(u' '))
        trace += TraceMember(Field, name);
    struct Case {
        const char* name;
        QString script;
        QStringList lines;
    } cases[] = {
        {"at the top", five + trace, {"1", "4", "2", "0", "0"}},
        {"scrolled", five + Set(Field, "scroll", "3") + trace, {"3", "4", "4", "0", "0"}},
        {"past the end and before the start",
         five + Set(Field, "scroll", "99") + TraceMember(Field, "scroll") + Set(Field, "scroll", "-3") +
             TraceMember(Field, "scroll") + Set(Field, "scroll", "'x'") + TraceMember(Field, "scroll"),
         {"4", "1", "1"}},
        {"wrapped lines count",
         SquaresField(10) + Set(Field, "wordWrap", "true") + Set(Field, "text", "'AAAA AAAA AAAA'") +
             TraceMember(Field, "maxscroll"),
         {"2"}},
        {"a line wider than the box scrolls sideways",
         SquaresField(10) + Set(Field, "text", "'AAAAAAAAAA'") + Set(Field, "hscroll", "5") + trace +
             Set(Field, "hscroll", "500") + TraceMember(Field, "hscroll"),
         {"1", "1", "1", "5", "24", "24"}},
        {"shorter text brings the scroll back",
         five + Set(Field, "scroll", "4") + Set(Field, "text", "'A\rA\rA'") + TraceMember(Field, "scroll"),
         {"2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TraceOf(c.script), c.lines);
    }
}

TEST(TextFieldScrolling, ScrolledFieldsShowTheirLaterLinesAndColumns) {
    // Three lines, red, green, blue: scrolled by one, green is on top and red is gone.
    const QString colored = Format({"null", "null", "65280"}) +
                            Call(Field, "setTextFormat", {"2", "4", "r:1"}) +
                            Format({"null", "null", "255"}) + Call(Field, "setTextFormat", {"4", "5", "r:1"});
    const QString lines =
        SquaresField(10) + Set(Field, "multiline", "true") + Set(Field, "text", "'A\rA\rA'") + colored;
    QImage image = PictureOf(lines);
    EXPECT_TRUE(PixelNear(image, 16, 27, Red, 8, false));
    EXPECT_TRUE(PixelNear(image, 16, 39, Green, 8, false));
    image = PictureOf(lines + Set(Field, "scroll", "2"));
    EXPECT_TRUE(PixelNear(image, 16, 27, Green, 8, false));
    EXPECT_TRUE(PixelNear(image, 16, 39, Blue, 8, false));
    EXPECT_EQ(Count(image, QRect(0, 0, 100, 100), Red), 0);

    // Ten squares in a row, the last blue: scrolled to its end, the blue square ends at the box's
    // inner edge (x 88) and nothing is drawn outside the box.
    const QString row = SquaresField(10) + Set(Field, "text", "'AAAAAAAAAA'") +
                        Format({"null", "null", "255"}) + Call(Field, "setTextFormat", {"9", "10", "r:1"});
    image = PictureOf(row);
    EXPECT_EQ(Count(image, QRect(0, 0, 100, 100), Blue), 0);
    image = PictureOf(row + Set(Field, "hscroll", "24"));
    EXPECT_TRUE(PixelNear(image, 80, 27, Blue, 8, false));
    EXPECT_TRUE(PixelNear(image, 86, 27, Blue, 8, false));
    EXPECT_TRUE(PixelNear(image, 89, 27, Qt::white, 8, false));
    EXPECT_EQ(Count(image, QRect(0, 0, 10, 100), Red), 0);
}

TEST(TextFieldBullets, BulletParagraphsShowABulletAndIndentTheirText) {
    // A 20 px square: at the field's text start (x 12) without a bullet, an em further in with one,
    // and a bullet before it in the square's colour.
    const QString base = SquaresField(20) + Set(Field, "html", "true");
    const QString plain = base + Set(Field, "htmlText", "'<p>A</p>'");
    const QString listed = base + Set(Field, "htmlText", "'<li>A</li>'");
    const QString formatted =
        plain + Format({}) + Set("r:1", "bullet", "true") + Call(Field, "setTextFormat", {"r:1"});
    const QImage without = PictureOf(plain);
    EXPECT_EQ(Count(without, QRect(13, 23, 18, 18), Red), 18 * 18);
    EXPECT_EQ(Count(without, QRect(33, 23, 18, 18), Red), 0);
    for (const QString& script : {listed, formatted}) {
        const QImage image = PictureOf(script);
        EXPECT_EQ(Count(image, QRect(33, 23, 18, 18), Red), 18 * 18);
        const int bullet = Count(image, QRect(12, 22, 20, 20), Red, 60);
        EXPECT_GT(bullet, 3);
        EXPECT_LT(bullet, 100);
    }
    EXPECT_EQ(TraceOf(formatted + TraceMember(Field, "htmlText")).value(0).left(4), QStringLiteral("<LI>"));
}

TEST(TextFieldMeasure, TextWidthAndAutoSizeFitTheTextAsDrawn) {
    // Embedded squares measure exactly: three 20 px squares, 20 + 5 px high.
    const QString squares = SquaresField(20) + Set(Field, "text", "'AAA'");
    // maxChars limits typing only: all the text is drawn and measured.
    EXPECT_EQ(TraceOf(squares + Set(Field, "maxChars", "1") + TraceMember(Field, "textWidth")),
              QStringList{"60"});
    EXPECT_EQ(TraceOf(squares + TraceMember(Field, "textWidth") + TraceMember(Field, "textHeight") +
                      Set(Field, "autoSize", "'left'") + TraceMember(Field, "_width") +
                      TraceMember(Field, "_height")),
              (QStringList{"60", "25", "64", "29"}));
    // Margins are part of the box autoSize makes.
    EXPECT_EQ(TraceOf(squares + Format({}) + Set("r:1", "leftMargin", "7") + Set("r:1", "rightMargin", "3") +
                      Call(Field, "setTextFormat", {"r:1"}) + Set(Field, "autoSize", "'left'") +
                      TraceMember(Field, "textWidth") + TraceMember(Field, "_width")),
              (QStringList{"60", "74"}));

    // A device font: the red text lies inside the blue frame autoSize gives, within a few pixels of it.
    const QString device = Create + Set(Field, "border", "true") + Set(Field, "borderColor", "255") +
                           Set(Field, "textColor", "16711680") + Format({"'_sans'", "18"}) +
                           Call(Field, "setNewTextFormat", {"r:1"}) + Set(Field, "text", "'Wide W'") +
                           Set(Field, "autoSize", "'left'");
    const QImage image = PictureOf(device);
    const auto [frameLeft, frameRight] = InkColumns(image, QRect(0, 30, 100, 1));
    ASSERT_GE(frameLeft, 0);
    const auto [inkLeft, inkRight] =
        InkColumns(image, QRect(frameLeft + 1, 22, frameRight - frameLeft - 1, 20));
    ASSERT_GE(inkLeft, 0);
    EXPECT_GT(inkRight, frameRight - 5);
    EXPECT_LT(inkRight, frameRight);
}
