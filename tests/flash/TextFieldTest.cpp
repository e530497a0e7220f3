// Text fields from scripts: createTextField, the field's properties, TextFormat with setTextFormat and
// getTextFormat, htmlText read and written back, and what scripts change showing in the picture.
#include "FuzzMovies.h"
#include "PixelCheck.h"
#include "ReadBack.h"
#include "ScriptAssembler.h"
#include "SwfWriter.h"
#include "TraceRun.h"
#include "flash/player/Player.h"
#include "flash/player/TextFields.h"
#include "flash/render/Renderer.h"

#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

using tracing::Call;
using tracing::Get;
using tracing::Set;
QString Trace(const QString& value) {
    return value + QStringLiteral(" Trace ");
}
QString NewFormat(QStringList args) {
    std::reverse(args.begin(), args.end());
    return QStringLiteral("%1 %2 'TextFormat' NewObject ").arg(args.join(u' ')).arg(args.size());
}

const QString Root = QStringLiteral("'_root' GetVariable");
const QString Field = QStringLiteral("'t' GetVariable");
// t: 80 x 30 pixels at (10, 20), depth 1.
const QString Create = Call(Root, "createTextField", {"'t'", "1", "10", "20", "80", "30"}) + "Pop ";

// Two frames on a 100 x 100 px stage, the script on the first after `before`.
tracing::TraceOptions FieldOptions(int version, const QByteArray& before = {}, int ticks = 0) {
    tracing::TraceOptions options;
    options.version = version;
    options.stageTwips = 2000;
    options.before = before;
    options.frames = 2;
    options.ticks = ticks;
    return options;
}

std::shared_ptr<const Movie> Movie_(const QString& script, int version, const QByteArray& before = {}) {
    return ReadBack(tracing::TraceMovie(script, FieldOptions(version, before)));
}

QStringList Traced(const QString& script, int version = 8, const QByteArray& before = {}, int ticks = 0) {
    return tracing::Traced(script, FieldOptions(version, before, ticks));
}

using tracing::Case;

void Check(const std::vector<Case>& cases) {
    tracing::Check(cases, FieldOptions(8));
}

const char* EmptyHtml =
    R"(<P ALIGN="LEFT"><FONT FACE="Times New Roman" SIZE="12" COLOR="#000000" LETTERSPACING="0" KERNING="0"></FONT></P>)";

} // namespace

TEST(TextFieldScripts, CreateTextFieldPlacesAFieldAndReturnsItFromVersion8) {
    const QString script =
        Trace(Call(Root, "createTextField", {"'t'", "1", "10", "20", "80", "30"}) + "TypeOf") +
        Trace(Get(Field, "_name")) + Trace(Get(Field, "_x")) + Trace(Get(Field, "_width")) +
        Trace(Call(Field, "getDepth", {})) + Trace(Field + " 'TextField' GetVariable InstanceOf");
    EXPECT_EQ(Traced(script, 8), QStringList({"object", "t", "10", "80", "1", "true"}));
    EXPECT_EQ(Traced(script, 7), QStringList({"undefined", "t", "10", "80", "1", "true"}));
    // Too few arguments make nothing.
    EXPECT_EQ(Traced(Call(Root, "createTextField", {"'t'", "1"}) + "Pop " + Trace(Field + " TypeOf")),
              QStringList({"undefined"}));
}

TEST(TextFieldScripts, PropertiesReadAndSetAsFlashPlayerHasThem) {
    Check({
        {"a new field's settings",
         Create + Trace(Get(Field, "text")) + Trace(Get(Field, "length")) + Trace(Get(Field, "autoSize")) +
             Trace(Get(Field, "type")) + Trace(Get(Field, "html")) + Trace(Get(Field, "selectable")) +
             Trace(Get(Field, "border")) + Trace(Get(Field, "backgroundColor")) +
             Trace(Get(Field, "variable")) + Trace(Get(Field, "maxChars")) + Trace(Get(Field, "textWidth")) +
             Trace(Get(Field, "maxscroll")),
         {"", "0", "none", "dynamic", "false", "true", "false", "16777215", "null", "null", "0", "1"}},
        {"autoSize by name and by boolean",
         Create + Set(Field, "autoSize", "true") + Trace(Get(Field, "autoSize")) +
             Set(Field, "autoSize", "'CENTER'") + Trace(Get(Field, "autoSize")) +
             Set(Field, "autoSize", "false") + Trace(Get(Field, "autoSize")) +
             Set(Field, "autoSize", "'sideways'") + Trace(Get(Field, "autoSize")),
         {"left", "center", "none", "none"}},
        {"line breaks are kept as carriage returns",
         Create + Set(Field, "text", "'a\nb\r\nc'") + Trace(Get(Field, "length")) +
             Trace(Get(Field, "text") + "'\r' Equals2") + Trace(Get(Field, "text") + "'a\rb\rc' Equals2"),
         {"5", "false", "true"}},
        {"colours, type, variable and size",
         Create + Set(Field, "textColor", "255") + Trace(Get(Field, "textColor")) +
             Set(Field, "borderColor", "-1") + Trace(Get(Field, "borderColor")) +
             Set(Field, "type", "'input'") + Trace(Get(Field, "type")) + Set(Field, "type", "'odd'") +
             Trace(Get(Field, "type")) + Set(Field, "variable", "'score'") + Trace(Get(Field, "variable")) +
             Set(Field, "_width", "50") + Set(Field, "_x", "3") + Trace(Get(Field, "_width")) +
             Trace(Get(Field, "_x")) + Set(Field, "maxChars", "4") + Set(Field, "text", "'abcdef'") +
             Trace(Get(Field, "text")),
         {"255", "16777215", "input", "input", "score", "50", "3", "abcdef"}},
        {"autoSize fits the box to the text",
         Create + Set(Field, "text", "'Hello'") + Set(Field, "autoSize", "'right'") +
             Trace(Get(Field, "_width") + Get(Field, "textWidth") + "4 Add2 Equals2") +
             Trace(Get(Field, "_width") + "80 Less2") + Trace(Get(Field, "_height") + "30 Less2"),
         {"true", "true", "true"}},
        {"removeTextField takes it away",
         Create + Call(Field, "removeTextField", {}) + "Pop " + Trace(Field + " TypeOf"),
         {"undefined"}},
        {"a field out of the stage ignores what is set",
         Create + Field + " store:1 Pop " + Call(Field, "removeTextField", {}) + "Pop " +
             Set("r:1", "text", "'x'") + Trace(Get("r:1", "text")),
         {"undefined"}},
    });
}

TEST(TextFieldScripts, TextFormatAppliesToRangesAndReadsBackNullWhereMixed) {
    const QString format = Field + " store:2 Pop ";
    Check({
        {"the constructor's arguments, null for the rest",
         NewFormat({"'Arial'", "20", "255", "true"}) + "store:1 Pop " + Trace(Get("r:1", "font")) +
             Trace(Get("r:1", "size")) + Trace(Get("r:1", "color")) + Trace(Get("r:1", "bold")) +
             Trace(Get("r:1", "italic")) + Trace(Get("r:1", "align")),
         {"Arial", "20", "255", "true", "null", "null"}},
        {"a new field's format",
         Create + Call(Field, "getTextFormat", {}) + "store:1 Pop " + Trace(Get("r:1", "font")) +
             Trace(Get("r:1", "size")) + Trace(Get("r:1", "color")) + Trace(Get("r:1", "align")) +
             Trace(Get("r:1", "bold")) + Trace(Get("r:1", "url")),
         {"Times New Roman", "12", "0", "left", "false", ""}},
        {"a range, one character and the whole text",
         Create + Set(Field, "text", "'hello world'") + NewFormat({"null", "null", "null", "true"}) +
             "store:1 Pop " + Call(Field, "setTextFormat", {"0", "5", "r:1"}) + "Pop " +
             NewFormat({"null", "30"}) + "store:1 Pop " + Call(Field, "setTextFormat", {"6", "r:1"}) +
             "Pop " + Trace(Get(Call(Field, "getTextFormat", {"0", "5"}), "bold")) +
             Trace(Get(Call(Field, "getTextFormat", {}), "bold")) +
             Trace(Get(Call(Field, "getTextFormat", {"6"}), "bold")) +
             Trace(Get(Call(Field, "getTextFormat", {"6"}), "size")) +
             Trace(Get(Call(Field, "getTextFormat", {"7"}), "size")) +
             Trace(Get(Call(Field, "getTextFormat", {}), "font")),
         {"true", "null", "false", "30", "12", "Times New Roman"}},
        {"paragraph formats hold for whole paragraphs",
         Create + Set(Field, "text", "'ab\ncd'") +
             NewFormat({"null", "null", "null", "null", "null", "null", "null", "null", "'center'", "null",
                        "null", "null", "4"}) +
             "store:1 Pop " + Call(Field, "setTextFormat", {"0", "1", "r:1"}) + "Pop " +
             Trace(Get(Call(Field, "getTextFormat", {"1"}), "align")) +
             Trace(Get(Call(Field, "getTextFormat", {"1"}), "leading")) +
             Trace(Get(Call(Field, "getTextFormat", {"3"}), "align")),
         {"center", "4", "left"}},
        {"text set later takes the new text format, not the old text's",
         Create + Set(Field, "text", "'a'") + NewFormat({"null", "24"}) + "store:1 Pop " +
             Call(Field, "setTextFormat", {"r:1"}) + "Pop " + Set(Field, "text", "'b'") +
             Trace(Get(Call(Field, "getTextFormat", {}), "size")) + Call(Field, "setNewTextFormat", {"r:1"}) +
             "Pop " + Set(Field, "text", "'c'") + Trace(Get(Call(Field, "getTextFormat", {}), "size")) +
             Trace(Get(Call(Field, "getNewTextFormat", {}), "size")),
         {"12", "24", "24"}},
        {"replaceText keeps the replaced text's format",
         Create + format + Set(Field, "text", "'abc'") + NewFormat({"null", "null", "255"}) + "store:1 Pop " +
             Call(Field, "setTextFormat", {"1", "2", "r:1"}) + "Pop " +
             Call(Field, "replaceText", {"1", "2", "'XYZ'"}) + "Pop " + Trace(Get(Field, "text")) +
             Trace(Get(Call(Field, "getTextFormat", {"1", "4"}), "color")) +
             Trace(Get(Call(Field, "getTextFormat", {"4"}), "color")),
         {"aXYZc", "255", "0"}},
    });
}

TEST(TextFieldScripts, HtmlTextReadsFlashHtmlAndWritesItBack) {
    const QString html = Create + Set(Field, "html", "true");
    Check({
        {"an empty field", html + Trace(Get(Field, "htmlText")), {EmptyHtml}},
        {"tags and entities become formats",
         html +
             Set(Field, "htmlText",
                 R"('<p align="center"><b>Hi</b> &amp; <font color="#FF0000" size="+8">you</font></p><p>2&lt;3</p>')") +
             Trace(Get(Field, "text")) + Trace(Get(Field, "length")) +
             Trace(Get(Call(Field, "getTextFormat", {"0"}), "bold")) +
             Trace(Get(Call(Field, "getTextFormat", {"0"}), "align")) +
             Trace(Get(Call(Field, "getTextFormat", {"5"}), "color")) +
             Trace(Get(Call(Field, "getTextFormat", {"5"}), "size")) +
             Trace(Get(Call(Field, "getTextFormat", {"9"}), "align")),
         {"Hi & you\r2<3", "12", "true", "center", "16711680", "20", "left"}},
        {"written back as Flash Player writes it",
         html + Set(Field, "htmlText", R"('a<b>b</b><font color="#00ff00">c</font><br>&lt;d&gt;')") +
             Trace(Get(Field, "htmlText")),
         {R"(<P ALIGN="LEFT"><FONT FACE="Times New Roman" SIZE="12" COLOR="#000000" LETTERSPACING="0" KERNING="0">a<B>b</B><FONT COLOR="#00FF00">c</FONT></FONT></P>)"
          R"(<P ALIGN="LEFT"><FONT FACE="Times New Roman" SIZE="12" COLOR="#000000" LETTERSPACING="0" KERNING="0">&lt;d&gt;</FONT></P>)"}},
        {"margins, lists and links",
         html +
             Set(Field, "htmlText",
                 R"('<textformat leftmargin="5" leading="2"><li><a href="x.html" target="_blank">go</a></li></textformat>')") +
             Trace(Get(Field, "htmlText")) + Trace(Get(Call(Field, "getTextFormat", {"0"}), "url")) +
             Trace(Get(Call(Field, "getTextFormat", {"0"}), "bullet")),
         {R"(<TEXTFORMAT LEFTMARGIN="5" LEADING="2"><LI><FONT FACE="Times New Roman" SIZE="12" COLOR="#000000" LETTERSPACING="0" KERNING="0"><A HREF="x.html" TARGET="_blank">go</A></FONT></LI></TEXTFORMAT>)",
          "x.html", "true"}},
        {"without html, htmlText is the text itself",
         Create + Set(Field, "htmlText", "'<b>x</b>'") + Trace(Get(Field, "text")) +
             Trace(Get(Field, "htmlText")),
         {"<b>x</b>", "<b>x</b>"}},
    });
}

TEST(TextFieldScripts, TimelineFieldsAreTheSameObjectsAsScriptMadeOnes) {
    FontDefinition font;
    font.id = 4;
    font.name = QStringLiteral("Verdana");
    font.hasLayout = false;
    EditText edit;
    edit.fontId = 4;
    edit.bounds = {0, 2000, 0, 400};
    edit.height = 360; // 18 px
    edit.color = Rgba{0, 0, 255, 255};
    edit.hasLayout = true;
    edit.align = EditText::Align::Right;
    edit.html = true;
    edit.variableName = QStringLiteral("score");
    edit.initialText = QStringLiteral("<b>5</b> points");
    PlaceObject place = Place(5, 3);
    place.name = QStringLiteral("t");
    const QByteArray before = DefineFontTag(font) + DefineEditTextTag(5, edit) + PlaceObjectTag(place);
    const QString script =
        Trace(Get(Field, "text")) + Trace(Get(Call(Field, "getTextFormat", {"0"}), "size")) +
        Trace(Get(Call(Field, "getTextFormat", {"0"}), "font")) +
        Trace(Get(Call(Field, "getTextFormat", {"0"}), "color")) +
        Trace(Get(Call(Field, "getTextFormat", {"0"}), "bold")) +
        Trace(Get(Call(Field, "getTextFormat", {}), "bold")) +
        Trace(Get(Call(Field, "getTextFormat", {}), "align")) + Trace(Get(Field, "variable")) +
        Trace(Get(Field, "html")) + Call(Field, "removeTextField", {}) + "Pop " + Trace(Field + " TypeOf");
    EXPECT_EQ(Traced(script, 8, before), QStringList({"5 points", "18", "Verdana", "255", "true", "null",
                                                      "right", "score", "true", "object"}));
}

TEST(TextFieldScripts, BoundVariableShowsInAFormattedField) {
    const QString script = Create + Set(Field, "variable", "'score'") + "'score' 7 SetVariable " +
                           NewFormat({"null", "20"}) + "store:1 Pop " +
                           Call(Field, "setNewTextFormat", {"r:1"}) + "Pop ";
    const auto movie = Movie_(script + Trace(Get(Field, "text")), 8);
    ASSERT_TRUE(movie);
    QStringList lines;
    Player player(movie, nullptr, [&lines](const QString& line) { lines.push_back(line); });
    player.Tick();
    // Shown after the first frame's scripts, in the new text format.
    const DisplayObject& placed = player.Stage().at(ScriptHost::ScriptDepthBase + 1);
    ASSERT_TRUE(placed.field && placed.field->scripted);
    EXPECT_EQ(placed.field->scripted->text.Plain(), QStringLiteral("7"));
    EXPECT_EQ(placed.field->scripted->text.FormatAt(0, {}).size, 20);
}

TEST(TextFieldScripts, TheTextFieldsMovieFormatsItsField) {
    const auto movie = ReadBack(TextFieldsMovie());
    ASSERT_TRUE(movie);
    QStringList lines;
    Player player(movie, nullptr, [&lines](const QString& line) { lines.push_back(line); });
    EXPECT_EQ(
        lines,
        QStringList(
            {"14",
             R"(<P ALIGN="CENTER"><FONT FACE="Arial" SIZE="14" COLOR="#0000FF" LETTERSPACING="0" KERNING="0">)"
             R"(<B>a</B><FONT FACE="Times New Roman" SIZE="20">b&amp;c</FONT></FONT></P>)"
             R"(<LI><FONT FACE="Times New Roman" SIZE="12" COLOR="#0000FF" LETTERSPACING="0" KERNING="0">d</FONT></LI>)"}));
}

TEST(FormattedTextModel, RunsStayMergedAndBounded) {
    FormattedText text;
    CharFormat plain, bold;
    bold.bold = true;
    text.Replace(0, 0, QStringLiteral("abcdef"), plain);
    text.Replace(2, 4, QStringLiteral("XY"), bold);
    text.Replace(4, 4, QStringLiteral("Z"), bold);
    ASSERT_EQ(text.Runs().size(), 3u);
    EXPECT_EQ(text.Runs()[1].text, QStringLiteral("XYZ"));
    FormatChange unbold;
    unbold.bold = false;
    text.Apply(unbold, 0, text.Length());
    EXPECT_EQ(text.Runs().size(), 1u);
    // Past the limit the text is cut; deep nesting and a lone '<' read without harm.
    text.Replace(0, text.Length(), QString(FormattedText::MaxLength + 10, u'x'), plain);
    EXPECT_EQ(text.Length(), FormattedText::MaxLength);
    text.SetHtml(QString(5000, u'<') + QStringLiteral("<b>").repeated(200) + QStringLiteral("deep < x"),
                 plain);
    EXPECT_TRUE(text.Plain().endsWith(QStringLiteral("deep < x")));
    EXPECT_TRUE(text.FormatAt(text.Length() - 1, plain).bold);
    text.SetHtml(QStringLiteral("&#65;&#x42;&nbsp;&bogus;&"), plain);
    EXPECT_EQ(text.Plain(), QStringLiteral("AB\u00A0&bogus;&"));
}

namespace {

QImage Picture(const QString& script) {
    const auto movie = Movie_(script, 8);
    if (!movie)
        return {};
    Player player(movie);
    Renderer renderer;
    return renderer.RenderStage(*movie, player.Stage(), QSize(100, 100))
        .convertToFormat(QImage::Format_RGB32);
}

int Count(const QImage& image, const QRect& area, const QColor& color, int tolerance) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += PixelNear(image, x, y, color, tolerance, false) ? 1 : 0;
    return count;
}

} // namespace

TEST(TextFieldDrawing, WhatScriptsSetShowsInThePicture) {
    // A red box with a blue frame, and green text: its ink inside the box.
    const QString field = Create + Set(Field, "background", "true") +
                          Set(Field, "backgroundColor", "16711680") + Set(Field, "border", "true") +
                          Set(Field, "borderColor", "255");
    QImage image = Picture(field + Set(Field, "text", "'HHHH'") + Set(Field, "textColor", "65280"));
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(PixelNear(image, 10, 35, QColor(0, 0, 255), 40, false)); // the frame's left side
    EXPECT_TRUE(PixelNear(image, 50, 47, QColor(255, 0, 0), 8, false));
    EXPECT_TRUE(PixelNear(image, 5, 35, Qt::white, 8, false));
    EXPECT_GT(Count(image, QRect(11, 21, 78, 28), QColor(0, 255, 0), 60), 20);

    // A format on part of the text changes only that part; a bigger size inks more.
    const QString text = field + Set(Field, "text", "'HH HH'");
    const QString sized = text + NewFormat({"null", "24", "65280"}) + "store:1 Pop " +
                          Call(Field, "setTextFormat", {"3", "5", "r:1"}) + "Pop ";
    image = Picture(sized);
    EXPECT_GT(Count(image, QRect(11, 21, 78, 28), QColor(0, 255, 0), 60), 20);
    EXPECT_GT(Count(image, QRect(11, 21, 78, 28), QColor(0, 0, 0), 60), 10);

    // Hidden, nothing shows.
    image = Picture(text + Set(Field, "_visible", "false"));
    EXPECT_EQ(Count(image, QRect(0, 0, 100, 100), QColor(255, 0, 0), 8), 0);
}

namespace {

// "Squares" draws 'A' as a full square, one EM wide, its top at the ascent.
FontDefinition Squares() {
    FontDefinition font;
    font.id = 1;
    font.name = QStringLiteral("Squares");
    font.ascent = 1024;
    font.descent = 256;
    font.glyphs = {GlyphDefinition{ShapeRecords().Fill0(1).Box(0, -1024, 1024, 0), 'A', 1024}};
    return font;
}

} // namespace

TEST(TextFieldDrawing, EmbedFontsDrawsTheMovieFontTheFormatNames) {
    const FontDefinition font = Squares();
    const QString script = Create + NewFormat({"'Squares'", "20", "16711680"}) + "store:1 Pop " +
                           Call(Field, "setNewTextFormat", {"r:1"}) + "Pop " + Set(Field, "text", "'AA'");
    const auto picture = [&](bool embed) {
        const auto movie =
            Movie_(script + Set(Field, "embedFonts", embed ? "true" : "false"), 8, DefineFontTag(font));
        Player player(movie);
        return Renderer()
            .RenderStage(*movie, player.Stage(), QSize(100, 100))
            .convertToFormat(QImage::Format_RGB32);
    };
    // The field's text starts two pixels in: squares at x 12..32 and 32..52, y 22..42.
    const QRect squares(14, 24, 36, 16);
    EXPECT_EQ(Count(picture(true), squares, QColor(255, 0, 0), 8), squares.width() * squares.height());
    EXPECT_LT(Count(picture(false), squares, QColor(255, 0, 0), 8), squares.width() * squares.height() / 2);
}

TEST(TextFieldDrawing, TextFormatMarginsMoveOnlyTheirParagraphs) {
    // Two 10-pixel squares on lines 12.5 pixels apart; the second paragraph 30 pixels in.
    const QString script =
        Create + Set(Field, "html", "true") + Set(Field, "embedFonts", "true") +
        NewFormat({"'Squares'", "10", "16711680"}) + "store:1 Pop " +
        Call(Field, "setNewTextFormat", {"r:1"}) + "Pop " +
        Set(Field, "htmlText", R"('<p>A</p><textformat leftmargin="30"><p>A</p></textformat>')");
    const auto movie = Movie_(script, 8, DefineFontTag(Squares()));
    ASSERT_TRUE(movie);
    Player player(movie);
    const QImage image =
        Renderer().RenderStage(*movie, player.Stage(), QSize(100, 100)).convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(PixelNear(image, 17, 27, QColor(255, 0, 0), 8, false));
    EXPECT_TRUE(PixelNear(image, 17, 39, Qt::white, 8, false));
    EXPECT_TRUE(PixelNear(image, 47, 39, QColor(255, 0, 0), 8, false));
}

TEST(TextFieldScripts, AValueOfThatRemovesTheFieldLeavesNothingBehind) {
    // o.valueOf = function () { t.removeTextField(); return 5 }; t._x = o; t.setTextFormat(o, fmt)
    const QByteArray valueOf =
        DefineFunction("", {}, Assemble(Call(Field, "removeTextField", {}) + "Pop 5 Return"));
    const QByteArray script =
        Assemble(Create + "'o' 0 InitObject SetVariable 'o' GetVariable 'valueOf'") + valueOf +
        Assemble("SetMember " + Set(Field, "_x", "'o' GetVariable") + Create +
                 Call(Field, "setTextFormat", {"'o' GetVariable", "0 'TextFormat' NewObject"}) + "Pop " +
                 Trace(Field + " TypeOf"));
    MovieBuilder builder;
    builder.Version(8).Stage({0, 2000, 0, 2000}).Add(Tag(12, script + QByteArray(1, '\0'))).Add(ShowFrame());
    const auto movie = ReadBack(builder.Build());
    ASSERT_TRUE(movie);
    QStringList lines;
    Player player(movie, nullptr, [&lines](const QString& line) { lines.push_back(line); });
    EXPECT_EQ(lines, QStringList({"undefined"}));
}
