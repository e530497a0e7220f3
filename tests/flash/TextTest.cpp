// Fonts and text: the reader's view of the font and text tags, static text drawn from embedded glyphs
// at chosen pixels, and edit text from embedded glyphs or a system font, aligned and clipped.
#include "flash/render/Text.h"
#include "ReadBack.h"
#include "SwfWriter.h"
#include "flash/player/Player.h"
#include "flash/render/Renderer.h"
#include "flash/swf/SwfReader.h"

#include "PixelCheck.h"
#include <QPainter>
#include <gtest/gtest.h>

using namespace flash;
using namespace flash::writer;

namespace {

const Rgba Red{255, 0, 0, 255};
const Rgba Green{0, 160, 0, 255};
const Rgba Blue{0, 0, 255, 255};

// Glyphs in EM units of 1024 (times `scale`), baseline at 0: 'A' a full square, 'B' a triangle
// pointing up.
std::vector<GlyphDefinition> SquareAndTriangle(int scale = 1) {
    const int em = 1024 * scale;
    GlyphDefinition a{ShapeRecords().Fill0(1).Box(0, -em, em, 0), 'A', 1024};
    GlyphDefinition b{ShapeRecords().Fill0(1).MoveTo(0, 0).LineTo(em / 2, -em).LineTo(em, 0).LineTo(0, 0),
                      'B', 1024};
    return {a, b};
}

FontDefinition TestFont(int version = 2, std::uint16_t id = 1) {
    FontDefinition font;
    font.version = version;
    font.id = id;
    font.name = QStringLiteral("Test Shapes");
    font.ascent = 1024;
    font.descent = 256;
    font.glyphs = SquareAndTriangle(version == 3 ? 20 : 1);
    return font;
}

TextRecord Record(std::uint16_t fontId, Rgba color, int x, int y, int height,
                  std::vector<GlyphEntry> glyphs) {
    TextRecord record;
    record.fontId = fontId;
    record.color = color;
    record.x = x;
    record.y = y;
    record.height = std::uint16_t(height);
    record.glyphs = std::move(glyphs);
    return record;
}

template <typename T> const T* Get(const Movie& movie, std::uint16_t id) {
    const auto found = movie.dictionary.find(id);
    return found == movie.dictionary.end() ? nullptr : std::get_if<T>(found->second.get());
}

// A 100 × 100 pixel stage (one pixel is 20 twips) with `definitions` and character 10 placed at
// depth 1, rendered at frame 0.
QImage Render(const QByteArray& definitions) {
    const QByteArray bytes = MovieBuilder()
                                 .Stage({0, 2000, 0, 2000})
                                 .Add(definitions)
                                 .Add(PlaceObjectTag(Place(10, 1)))
                                 .Add(ShowFrame())
                                 .Build();
    const std::shared_ptr<const Movie> movie = ReadBack(bytes);
    if (!movie)
        return {};
    Player player(movie);
    Renderer renderer;
    return renderer.RenderStage(*movie, player.Stage(), QSize(100, 100))
        .convertToFormat(QImage::Format_RGB32);
}

::testing::AssertionResult Near(const QImage& image, int x, int y, Rgba expected, int tolerance = 8) {
    return PixelNear(image, x, y, QColor(expected.r, expected.g, expected.b), tolerance, false);
}

const Rgba White{255, 255, 255, 255};

// The box around every pixel that is not white; empty when there is none.
QRect Ink(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255))
                box |= QRect(x, y, 1, 1);
    return box;
}

EditText EmbeddedEdit(const QString& text, EditText::Align align) {
    EditText edit;
    edit.bounds = {0, 2000, 0, 1000};
    edit.fontId = 1;
    edit.height = 400;
    edit.color = Green;
    edit.useOutlines = true;
    edit.hasLayout = true;
    edit.align = align;
    edit.initialText = text;
    return edit;
}

} // namespace

TEST(FontReading, GlyphsCodesAndLayoutOfEachVersion) {
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        FontDefinition definition = TestFont(version);
        definition.bold = true;
        definition.kerning = {{'A', 'B', -50}};
        definition.wideOffsets = version == 3;
        const auto movie = ReadBack(MovieBuilder().Add(DefineFontTag(definition)).Build());
        const Font* font = Get<Font>(*movie, 1);
        ASSERT_TRUE(font);
        EXPECT_EQ(font->version, version);
        EXPECT_EQ(font->name, QStringLiteral("Test Shapes"));
        EXPECT_TRUE(font->bold);
        EXPECT_FALSE(font->italic);
        EXPECT_EQ(font->EmUnits(), version == 3 ? 20480 : 1024);
        ASSERT_EQ(font->glyphs.size(), 2u);
        EXPECT_EQ(font->glyphs[0].code, 'A');
        EXPECT_EQ(font->glyphs[1].code, 'B');
        EXPECT_EQ(font->glyphs[0].edges.size(), 4u);
        EXPECT_EQ(font->glyphs[1].edges.size(), 3u);
        EXPECT_EQ(font->glyphs[1].edges[0].toX, 512.0 * (version == 3 ? 20 : 1));
        EXPECT_EQ(font->glyphs[0].advance, 1024);
        EXPECT_TRUE(font->hasLayout);
        EXPECT_EQ(font->ascent, 1024);
        EXPECT_EQ(font->descent, 256);
        ASSERT_EQ(font->kerning.size(), 1u);
        EXPECT_EQ(font->kerning[0], (KerningPair{'A', 'B', -50}));
    }
}

TEST(FontReading, DefineFontTakesItsNameAndCodesFromFontInfo) {
    for (int infoVersion : {1, 2}) {
        SCOPED_TRACE(infoVersion);
        const auto movie =
            ReadBack(MovieBuilder()
                         .Add(DefineFontTag(TestFont(1)))
                         .Add(DefineFontInfoTag(1, "Arial", {'x', 'y'}, infoVersion, false, true))
                         .Build());
        const Font* font = Get<Font>(*movie, 1);
        ASSERT_TRUE(font);
        ASSERT_EQ(font->glyphs.size(), 2u);
        EXPECT_EQ(font->glyphs[0].edges.size(), 4u);
        EXPECT_EQ(font->glyphs[0].code, 'x');
        EXPECT_EQ(font->glyphs[1].code, 'y');
        EXPECT_EQ(font->name, QStringLiteral("Arial"));
        EXPECT_TRUE(font->italic);
        EXPECT_FALSE(font->hasLayout);
    }
}

TEST(TextReading, StaticAndEditTextRoundTrip) {
    StaticText text;
    text.bounds = {0, 2000, -400, 100};
    text.matrix.tx = 60;
    text.records = {Record(1, {1, 2, 3, 128}, 20, 300, 400, {{0, 500}, {1, -20}}),
                    Record(2, {4, 5, 6, 255}, -40, 700, 200, {{3, 10}})};
    for (int version : {1, 2}) {
        SCOPED_TRACE(version);
        StaticText written = text;
        if (version == 1)
            written.records[0].color.a = 255; // DefineText has no alpha
        const auto movie = ReadBack(MovieBuilder().Add(DefineTextTag(5, written, version)).Build());
        const StaticText* read = Get<StaticText>(*movie, 5);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->bounds, written.bounds);
        EXPECT_EQ(read->matrix, written.matrix);
        EXPECT_EQ(read->records, written.records);
    }

    EditText full;
    full.bounds = {-20, 3000, 40, 800};
    full.wordWrap = full.multiline = full.password = full.readOnly = true;
    full.autoSize = full.noSelect = full.border = full.wasStatic = full.html = full.useOutlines = true;
    full.fontId = 3;
    full.fontClass = QStringLiteral("MyFont");
    full.height = 360;
    full.color = Rgba{10, 20, 30, 40};
    full.maxLength = 12;
    full.hasLayout = true;
    full.align = EditText::Align::Center;
    full.leftMargin = 1;
    full.rightMargin = 2;
    full.indent = 3;
    full.leading = -4;
    full.variableName = QStringLiteral("_root.name");
    full.initialText = QStringLiteral("Grüße");
    EditText bare;
    bare.bounds = {0, 100, 0, 100};
    for (const EditText& edit : {full, bare}) {
        const auto movie = ReadBack(MovieBuilder().Add(DefineEditTextTag(7, edit)).Build());
        const EditText* read = Get<EditText>(*movie, 7);
        ASSERT_TRUE(read);
        EXPECT_EQ(*read, edit);
    }
}

TEST(TextReading, LyingCountsAndOffsetsAreBounded) {
    // Both glyph offsets point at the first outline: the first glyph's range is empty and the second
    // reads the outline once.
    QByteArray font = DefineFontTag(TestFont(2));
    // Tag header (6) + id (2) + flags, language, name length, name, glyph count (2): the offset table.
    const int table = 6 + 2 + 3 + int(QByteArray("Test Shapes").size()) + 2;
    font[table + 2] = font[table];
    font[table + 3] = font[table + 1];
    auto movie = ReadBack(MovieBuilder().Add(font).Build());
    const Font* read = Get<Font>(*movie, 1);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->glyphs[0].edges.empty());
    EXPECT_EQ(read->glyphs[1].edges.size(), 4u);

    // Offsets past the end leave the glyphs empty.
    font = DefineFontTag(TestFont(2));
    font[table + 1] = char(0x7F);
    movie = ReadBack(MovieBuilder().Add(font).Build());
    read = Get<Font>(*movie, 1);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->glyphs[0].edges.empty());

    // A glyph count far beyond the tag, and a text record claiming 255 glyphs it does not hold.
    FontDefinition many = TestFont(2);
    QByteArray manyGlyphs = DefineFontTag(many);
    manyGlyphs[table - 2] = char(0xFF);
    manyGlyphs[table - 1] = char(0xFF);
    QByteArray text =
        Tag(tag::DefineText,
            Bits().U16(5).RectField({}).MatrixField({}).U8(8).U8(8).U8(0x80).U8(255).U8(1).Data());
    QStringList warnings;
    movie = ReadBack(MovieBuilder().Add(manyGlyphs).Add(text).Build(), &warnings);
    EXPECT_FALSE(Get<Font>(*movie, 1));
    EXPECT_FALSE(Get<StaticText>(*movie, 5));
    EXPECT_EQ(warnings.size(), 2) << warnings.join('\n').toStdString();
}

TEST(StaticTextDrawing, GlyphsAtTheirPenPositionsSizesAndColours) {
    // 'A' 20 px high at pen (10, 30) in red, 'B' 10 px high at (50, 30) in blue, moved by the
    // text's matrix 5 px right.
    StaticText text;
    text.bounds = {0, 2000, 0, 2000};
    text.matrix.tx = 100;
    text.records = {Record(1, Red, 100, 600, 400, {{0, 400}}), Record(1, Blue, 900, 600, 200, {{1, 200}})};
    const QImage image = Render(DefineFontTag(TestFont()) + DefineTextTag(10, text, 2));
    EXPECT_TRUE(Near(image, 25, 20, Red));
    EXPECT_TRUE(Near(image, 16, 12, Red));
    EXPECT_TRUE(Near(image, 33, 20, White));
    EXPECT_TRUE(Near(image, 25, 33, White));
    EXPECT_TRUE(Near(image, 55, 28, Blue)); // triangle from x 50..60, apex at (55, 20)
    EXPECT_TRUE(Near(image, 51, 22, White));
    EXPECT_TRUE(Near(image, 55, 18, White));
}

TEST(StaticTextDrawing, EveryFontVersionGivesTheSameSquare) {
    for (int version : {1, 2, 3}) {
        SCOPED_TRACE(version);
        StaticText text;
        text.bounds = {0, 2000, 0, 2000};
        text.records = {Record(1, Red, 200, 600, 400, {{0, 400}})};
        const QImage image = Render(DefineFontTag(TestFont(version)) + DefineTextTag(10, text));
        EXPECT_TRUE(Near(image, 11, 11, Red));
        EXPECT_TRUE(Near(image, 28, 28, Red));
        EXPECT_TRUE(Near(image, 32, 20, White));
        EXPECT_TRUE(Near(image, 20, 32, White));
        EXPECT_TRUE(Near(image, 20, 8, White));
    }
}

TEST(EditTextDrawing, EmbeddedGlyphsAlignedInTheBounds) {
    // Ascent 1024 at 20 px: the glyphs stand on a baseline 2 + 20 px down; "AB" is 40 px wide
    // between gutters of 2 px.
    struct Case {
        EditText::Align align;
        int left; // where the 'A' square starts
    } cases[] = {{EditText::Align::Left, 2}, {EditText::Align::Right, 58}, {EditText::Align::Center, 30}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.align));
        const QImage image = Render(DefineFontTag(TestFont()) +
                                    DefineEditTextTag(10, EmbeddedEdit(QStringLiteral("AB"), c.align)));
        EXPECT_TRUE(Near(image, c.left + 2, 4, Green));
        EXPECT_TRUE(Near(image, c.left + 18, 20, Green));
        EXPECT_TRUE(Near(image, c.left + 30, 20, Green)); // the triangle's middle
        EXPECT_EQ(Ink(image), QRect(c.left, 2, 40, 20));
    }
}

TEST(EditTextDrawing, HtmlLineBreaksStartNewLines) {
    EditText edit =
        EmbeddedEdit(QStringLiteral("<p align=\"left\"><font face=\"x\">A</font></p><p>B&amp;</p>"),
                     EditText::Align::Left);
    edit.html = true;
    edit.multiline = true;
    EXPECT_EQ(DisplayedText(edit), QStringLiteral("A\nB&"));
    edit.leading = 100;
    edit.bounds.yMax = 2000;
    const QImage image = Render(DefineFontTag(TestFont()) + DefineEditTextTag(10, edit));
    // Lines are ascent + descent + leading = 20 + 5 + 5 px apart; '&' has no glyph and shows nothing.
    EXPECT_TRUE(Near(image, 12, 12, Green));
    EXPECT_TRUE(Near(image, 12, 50, Green));
    EXPECT_TRUE(Near(image, 12, 27, White));
    EXPECT_TRUE(Near(image, 12, 53, White));
}

TEST(EditTextDrawing, SystemFontInkStaysInTheBoundsAndFollowsTheAlignment) {
    FontDefinition deviceFont;
    deviceFont.id = 1;
    deviceFont.name = QStringLiteral("_sans");
    deviceFont.hasLayout = false;
    struct Case {
        EditText::Align align;
        QString text;
    } cases[] = {{EditText::Align::Left, QStringLiteral("Hello")},
                 {EditText::Align::Right, QStringLiteral("Hello")},
                 {EditText::Align::Left, QStringLiteral("A line far wider than its field")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString() + " " + std::to_string(int(c.align)));
        EditText edit;
        edit.bounds = {400, 1800, 200, 800}; // 20..90 px, 10..40 px
        edit.fontId = 1;
        edit.height = 300;
        edit.color = Blue;
        edit.hasLayout = true;
        edit.align = c.align;
        edit.initialText = c.text;
        const QImage image = Render(DefineFontTag(deviceFont) + DefineEditTextTag(10, edit));
        const QRect ink = Ink(image);
        ASSERT_FALSE(ink.isEmpty());
        EXPECT_TRUE(QRect(20, 10, 70, 30).contains(ink))
            << ink.x() << "," << ink.y() << " " << ink.width() << "x" << ink.height();
        int blue = 0;
        for (int y = ink.top(); y <= ink.bottom(); ++y)
            for (int x = ink.left(); x <= ink.right(); ++x)
                blue += Near(image, x, y, Blue, 40) ? 1 : 0;
        EXPECT_GT(blue, 10);
        if (c.align == EditText::Align::Right) {
            EXPECT_GE(ink.right(), 84);
        } else {
            EXPECT_LE(ink.left(), 25);
        }
        if (c.text == QStringLiteral("Hello")) {
            EXPECT_TRUE(c.align == EditText::Align::Right ? ink.left() > 40 : ink.right() < 70);
        }
    }
}

TEST(EditTextDrawing, BoundFieldShowsWhatItsVariableHolds) {
    EditText edit = EmbeddedEdit(QStringLiteral("A"), EditText::Align::Left);
    edit.variableName = QStringLiteral("word");
    const QByteArray definitions = DefineFontTag(TestFont()) + DefineEditTextTag(10, edit);
    // Alone it shows its "A"; a frame script setting word to "BA" puts the triangle first.
    QImage image = Render(definitions);
    EXPECT_TRUE(Near(image, 4, 4, Green));
    EXPECT_TRUE(Near(image, 30, 4, White));
    image = Render(definitions + DoAction(ActionCode().PushString("word").PushString("BA").SetVariable()));
    EXPECT_TRUE(Near(image, 4, 4, White));
    EXPECT_TRUE(Near(image, 12, 20, Green));
    EXPECT_TRUE(Near(image, 30, 4, Green));
}

TEST(EditTextDrawing, BorderDrawsABoxAndPasswordsShowStars) {
    EditText edit = EmbeddedEdit(QStringLiteral("AB"), EditText::Align::Left);
    edit.useOutlines = false;
    edit.border = true;
    edit.initialText.reset();
    const QImage image = Render(DefineFontTag(TestFont()) + DefineEditTextTag(10, edit));
    EXPECT_TRUE(Near(image, 0, 20, {0, 0, 0, 255}, 80));
    EXPECT_TRUE(Near(image, 50, 0, {0, 0, 0, 255}, 80));
    EXPECT_TRUE(Near(image, 50, 20, White));

    edit.password = true;
    edit.initialText = QStringLiteral("secret");
    EXPECT_EQ(DisplayedText(edit), QStringLiteral("******"));
}

namespace {

// Paragraphs as "ALIGN:run|run / ...", each run its text and where its format differs from the
// base (12 px black): #rrggbb, @pixels, 'face', +b, +i, +u.
std::string Describe(const std::vector<StyledParagraph>& paragraphs, const TextStyle& base) {
    std::string out;
    for (const StyledParagraph& paragraph : paragraphs) {
        if (!out.empty())
            out += " / ";
        out += "LRCJ"[int(paragraph.align)];
        out += ':';
        for (std::size_t i = 0; i < paragraph.runs.size(); ++i) {
            const StyledRun& run = paragraph.runs[i];
            const TextStyle& s = run.style;
            out += (i ? "|" : "") + run.text.toStdString();
            if (!(s.color == base.color))
                out += QColor(s.color.r, s.color.g, s.color.b).name().toStdString();
            if (s.size != base.size)
                out += "@" + std::to_string(s.size / 20);
            if (s.face != base.face)
                out += "'" + s.face.toStdString() + "'";
            out += std::string(s.bold ? "+b" : "") + (s.italic ? "+i" : "") + (s.underline ? "+u" : "");
        }
    }
    return out;
}

} // namespace

TEST(HtmlText, TagsBecomeParagraphsAndFormattedRuns) {
    struct Case {
        const char* html;
        const char* expected;
        EditText::Align fieldAlign = EditText::Align::Left;
    } cases[] = {
        {"<p align=\"center\">A</p><p align='RIGHT'>B</p>C", "C:A / R:B / L:C"},
        {"<p>A</p><p align=\"justify\">B</p>", "R:A / J:B", EditText::Align::Right},
        {"A<br>B<br/><li>C</li><li>D</li>", "L:A / L:B / L:C / L:D"},
        {"A<p>B", "L:A / L:B"},
        {"A\r\nB\rC\nD", "L:A / L:B / L:C / L:D"},
        {"A<br><br>", "L:A / L:"},
        {"", "L:"},
        // Nested fonts inherit what they do not set and give it back when they close.
        {"<font color=\"#FF0000\">A<font size=\"30\" face=\"Verdana\">B</font>C</font>D",
         "L:A#ff0000|B#ff0000@30'Verdana'|C#ff0000|D"},
        {"<b>A<i>B<u>C</u></i></b>D", "L:A+b|B+b+i|C+b+i+u|D"},
        {"<font size=\"+6\">A<font size=\"-4\">B</font></font>", "L:A@18|B@14"},
        {"<font size=\"99999999999\">A</font><font size=\"0\">B</font><font size=\"-40\">C</font>",
         "L:A@127|BC@1"},
        {"<font size=\"big\" color=\"red\" face=\"\">A</font>", "L:A"},
        {"A&lt;&amp;&gt;&quot;&apos;&nbsp;&amp;lt;", "L:A<&>\"' &lt;"},
        {"<textformat leading=\"2\"><span class='x'>A</span></textformat><img src='a.png'>", "L:A"},
        // Malformed: no quotes, unclosed tags, closing what is not open, stray '<', crossed tags.
        {"<font color=#00FF00 size=20>A", "L:A#00ff00@20"},
        {"<b>A</i></font></p>B", "L:A+b / L:B+b"},
        {"<b><font color='#0000FF'>A</b>B</font>", "L:A#0000ff+b|B"},
        {"A < B", "L:A < B"},
        {"<b>A<", "L:A<+b"},
        {"A<font color=\"#FF0000\"", "L:A<font color=\"#FF0000\""},
    };
    TextStyle base;
    base.size = 240;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.html);
        EXPECT_EQ(Describe(ParseHtml(QString::fromUtf8(c.html), base, c.fieldAlign), base), c.expected);
    }
}

TEST(HtmlText, DisplayedTextIsThePlainTextCutToItsBounds) {
    EditText edit;
    edit.html = true;
    edit.initialText = QStringLiteral("<p><font color='#FF0000'>AB</font>C</p><p>D</p>");
    EXPECT_EQ(DisplayedText(edit), QStringLiteral("ABC\nD"));
    edit.maxLength = 2;
    EXPECT_EQ(DisplayedText(edit), QStringLiteral("AB"));

    // A huge hostile text: many unclosed tags and more characters than any field shows.
    QString hostile;
    for (int i = 0; i < 30000; ++i)
        hostile += QStringLiteral("<font size=\"900\"><b>AB<br>");
    const std::vector<StyledParagraph> paragraphs = ParseHtml(hostile, {}, EditText::Align::Left);
    qsizetype characters = qsizetype(paragraphs.size()) - 1;
    for (const StyledParagraph& paragraph : paragraphs)
        for (const StyledRun& run : paragraph.runs) {
            characters += run.text.size();
            EXPECT_EQ(run.style.size, 127 * 20);
        }
    EXPECT_LE(characters, 1 << 16);
    edit.maxLength.reset();
    edit.initialText = hostile;
    EXPECT_EQ(DisplayedText(edit).size(), 1 << 16);
}

TEST(EditTextDrawing, HtmlRunsKeepTheirColoursSizesAndParagraphAlignment) {
    // The test font is 20 px by default: ascent 20 px, descent 5 px; 'A' a 20 px square.
    struct Case {
        const char* name;
        const char* html;
        struct Pixel {
            int x, y;
            Rgba color;
        };
        std::vector<Pixel> pixels;
        QRect ink;
    } cases[] = {
        {"two colours on one line",
         "<font color=\"#FF0000\">A</font><font color=\"#0000FF\">A</font>",
         {{12, 12, Red}, {32, 12, Blue}},
         QRect(2, 2, 40, 20)},
        {"a 40 px run makes its line 40 + 10 px high",
         "A<font size=\"40\">A</font><br>A",
         {{12, 30, Green}, {12, 10, White}, {40, 10, Green}, {12, 62, Green}, {12, 48, White}},
         QRect(2, 2, 60, 70)},
        {"a centred paragraph after a left one",
         "<p align=\"left\">A</p><p align=\"center\"><font color=\"#0000FF\">A</font>B</p>",
         {{12, 12, Green}, {40, 37, Blue}, {60, 45, Green}, {12, 37, White}},
         QRect(2, 2, 68, 45)},
        {"a right paragraph after a centred one, text from its content",
         "<p align='center'>A</p><p align='right'>A</p>",
         {{50, 12, Green}, {88, 37, Green}, {50, 37, White}},
         QRect(40, 2, 58, 45)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EditText edit = EmbeddedEdit(QString::fromUtf8(c.html), EditText::Align::Left);
        edit.html = edit.multiline = true;
        edit.bounds.yMax = 2000;
        const QImage image = Render(DefineFontTag(TestFont()) + DefineEditTextTag(10, edit));
        for (const auto& p : c.pixels)
            EXPECT_TRUE(Near(image, p.x, p.y, p.color)) << p.x << "," << p.y;
        EXPECT_EQ(Ink(image), c.ink);
    }
}

TEST(EditTextDrawing, HtmlWordWrapKeepsAWordThatSpansRunsWhole) {
    // "AAA " is 60 px; the word "AA" in two colours does not fit the 96 px line after it, though its
    // red half would: it moves whole to the next line.
    EditText edit =
        EmbeddedEdit(QStringLiteral("AAA <font color=\"#FF0000\">A</font>A"), EditText::Align::Left);
    edit.html = edit.multiline = edit.wordWrap = true;
    edit.bounds.yMax = 2000;
    const QImage image = Render(DefineFontTag(TestFont()) + DefineEditTextTag(10, edit));
    EXPECT_TRUE(Near(image, 12, 12, Green));
    EXPECT_TRUE(Near(image, 70, 12, White));
    EXPECT_TRUE(Near(image, 12, 37, Red));
    EXPECT_TRUE(Near(image, 32, 37, Green));
    EXPECT_EQ(Ink(image), QRect(2, 2, 60, 45));
}

TEST(EditTextDrawing, HtmlRunsTheEmbeddedFontLacksUseASystemFont) {
    // "xyz" has no embedded glyphs: it is drawn in blue from a system font, then the square follows.
    EditText edit = EmbeddedEdit(QStringLiteral("<font color=\"#0000FF\" face=\"_serif\"><b>xyz</b></font>A"),
                                 EditText::Align::Left);
    edit.html = true;
    const QImage image = Render(DefineFontTag(TestFont()) + DefineEditTextTag(10, edit));
    QRect blue, green;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if (Near(image, x, y, Blue, 40))
                blue |= QRect(x, y, 1, 1);
            if (Near(image, x, y, Green, 40))
                green |= QRect(x, y, 1, 1);
        }
    EXPECT_GT(blue.width(), 10);
    EXPECT_EQ(green.size(), QSize(20, 20));
    EXPECT_GE(green.left(), blue.right());
}
