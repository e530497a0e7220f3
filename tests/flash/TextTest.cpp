// Fonts and text: the reader's view of the font and text tags, static text drawn from embedded glyphs
// at chosen pixels, and edit text from embedded glyphs or a system font, aligned and clipped.
#include "flash/Text.h"
#include "SwfWriter.h"
#include "flash/Player.h"
#include "flash/Renderer.h"
#include "flash/SwfReader.h"

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

std::shared_ptr<const Movie> Read(const QByteArray& bytes, QStringList* warnings = nullptr) {
    ReadResult read = ReadMovie(bytes);
    EXPECT_TRUE(read.movie) << read.error.toStdString();
    if (warnings)
        *warnings = read.warnings;
    return read.movie;
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
    const std::shared_ptr<const Movie> movie = Read(bytes);
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
        const auto movie = Read(MovieBuilder().Add(DefineFontTag(definition)).Build());
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
        const auto movie = Read(MovieBuilder()
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
        const auto movie = Read(MovieBuilder().Add(DefineTextTag(5, written, version)).Build());
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
        const auto movie = Read(MovieBuilder().Add(DefineEditTextTag(7, edit)).Build());
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
    auto movie = Read(MovieBuilder().Add(font).Build());
    const Font* read = Get<Font>(*movie, 1);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->glyphs[0].edges.empty());
    EXPECT_EQ(read->glyphs[1].edges.size(), 4u);

    // Offsets past the end leave the glyphs empty.
    font = DefineFontTag(TestFont(2));
    font[table + 1] = char(0x7F);
    movie = Read(MovieBuilder().Add(font).Build());
    read = Get<Font>(*movie, 1);
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->glyphs[0].edges.empty());

    // A glyph count far beyond the tag, and a text record claiming 255 glyphs it does not hold.
    FontDefinition many = TestFont(2);
    QByteArray manyGlyphs = DefineFontTag(many);
    manyGlyphs[table - 2] = char(0xFF);
    manyGlyphs[table - 1] = char(0xFF);
    QByteArray text =
        Tag(code::DefineText,
            Bits().U16(5).RectField({}).MatrixField({}).U8(8).U8(8).U8(0x80).U8(255).U8(1).Data());
    QStringList warnings;
    movie = Read(MovieBuilder().Add(manyGlyphs).Add(text).Build(), &warnings);
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
