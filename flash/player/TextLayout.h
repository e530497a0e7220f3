#pragma once
// Lays out edit text into lines: the faces that measure and draw its runs (a movie's embedded glyphs,
// or a system font whose outlines Qt gives), word wrap, alignment, margins and bullets. The renderer
// draws the lines; text fields measure them (textWidth, autoSize, maxscroll), so a field sized to its
// text fits what is drawn. HTML edit text lays out runs of several colours, sizes and faces, each in
// the face that can draw it (with outlines, an embedded font of the run's face name when the movie has
// one).
//
// Nothing here fails: a run no face can draw is left out (without a GUI application there are no
// system fonts: the renderer draws no device text then, and measuring estimates it). At most
// MaxShownCharacters characters are laid out, so a damaged or hostile text stays bounded.

#include "flash/player/HtmlText.h"
#include "flash/swf/SwfModel.h"

#include <QFont>
#include <QPainterPath>
#include <QSizeF>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace flash {

// Far more than any field shows.
constexpr qsizetype MaxShownCharacters = 1 << 16;
// Edit text keeps two pixels between its bounds and its text.
constexpr double TextGutter = 40;

// The format of a run of edit text: the field's own, or what HTML tags around the run set.
struct TextStyle {
    Rgba color{0, 0, 0, 255};
    int size = 240; // EM height, twips
    QString face;   // font name; empty for the field's font
    bool bold = false, italic = false, underline = false;
    bool operator==(const TextStyle&) const = default;
};

struct StyledRun {
    QString text;
    TextStyle style;
    bool operator==(const StyledRun&) const = default;
};

// A paragraph's runs; an empty paragraph holds one empty run whose style gives the line its height.
struct StyledParagraph {
    EditText::Align align = EditText::Align::Left;
    std::vector<StyledRun> runs;
    // Twips, as <textformat> around the paragraph sets them; unset: the field's own.
    std::optional<int> leftMargin = {}, rightMargin = {}, indent = {}, leading = {};
    bool bullet = false; // <li> or TextFormat.bullet: a bullet before its first line, its lines indented
    bool operator==(const StyledParagraph&) const = default;
};

// Flash's HTML subset, read as text fields read it (HtmlText), as paragraphs of runs starting from the
// field's format and alignment; a no-break space is a space. Bounded for any input.
std::vector<StyledParagraph> ParseHtml(const QString& html, const TextStyle& base, EditText::Align align);

// What an edit text shows: its initial text or content, as plain text when it is HTML (the runs of
// ParseHtml, its paragraphs as line breaks), carriage returns as line breaks, stars for a password.
QString DisplayedText(const EditText& text, const QString* content = nullptr);

// How one face measures and draws: embedded glyphs or a system font, in twips at the text's height.
class Face {
public:
    virtual ~Face() = default;
    virtual double Advance(const QString& text) const = 0;
    virtual void Draw(const QString& text, QPointF baseline, QPainterPath& out) const = 0;
    double ascent = 0, descent = 0;
};

// A glyph's outline in its font's EM units.
using GlyphOutline = std::function<QPainterPath(const Glyph&)>;

class EmbeddedFace : public Face {
public:
    EmbeddedFace(const Font& font, double height, GlyphOutline outline);
    // Whether the font has glyphs for the text; characters without one show nothing.
    bool Covers(const QString& text) const;
    double Advance(const QString& text) const override;
    void Draw(const QString& text, QPointF baseline, QPainterPath& out) const override;

private:
    double GlyphAdvance(QChar c) const;
    const QPainterPath& Outline(std::size_t index) const;

    const Font& font;
    double scale;
    GlyphOutline outline;
    std::unordered_map<std::uint16_t, std::size_t> byCode;
    mutable std::map<std::size_t, QPainterPath> outlines; // made on first use
};

// The system font Flash Player would pick for a face name (its device fonts first), at a large pixel
// size that faces scale to the text's height.
QFont SystemFont(const QString& name, bool bold, bool italic);

// A text's faces, made once for each font, size and style its runs use.
class Faces {
public:
    explicit Faces(GlyphOutline outline);
    ~Faces();
    const EmbeddedFace& Embedded(const Font& font, double size);
    // A system font; without a GUI application, an estimate when `estimate` (else none).
    const Face* Device(const TextStyle& style, bool estimate = false);

private:
    GlyphOutline outline;
    std::map<std::pair<const Font*, double>, std::unique_ptr<EmbeddedFace>> embedded;
    std::map<std::tuple<QString, bool, bool, int, bool>, std::unique_ptr<Face>> device;
};

// Part of a line in one face and colour, at its pen position.
struct LaidPiece {
    QString text;
    const Face* face = nullptr;
    Rgba color;
    bool underline = false;
    double x = 0, advance = 0;
};

// One line as drawn, in the character's twips before scrolling.
struct LaidLine {
    std::vector<LaidPiece> pieces; // a bullet first, when the line has one
    double top = 0, baseline = 0, bottom = 0;
    double width = 0;       // of the ink, without spaces at the ends (and without the bullet)
    double lead = 0;        // margin, indent and bullet space before a left-aligned line's ink
    double rightMargin = 0; // twips kept free after the ink
};

struct FieldLayout {
    std::vector<LaidLine> lines;
    bool clipped = true; // ink outside the bounds is cut (not for autoSize)
};

// Lays out an edit text (with content, when given, standing in for its initial text). measuring:
// device text is estimated where there are no system fonts, rather than left out.
FieldLayout LayOutField(const EditText& text, const Movie& movie, const QString* content, Faces& faces,
                        bool measuring = false);

// How far up (twips) a field scrolled to line `first` (zero-based) moves its lines; those above it hide.
double ScrollOffset(const FieldLayout& layout, int first);

// textWidth and textHeight in pixels, and the box (twips) that fits the text with margins and gutters.
struct TextExtent {
    QSizeF text;
    double boxWidth = 0, boxHeight = 0;
};
TextExtent Measure(const FieldLayout& layout);

} // namespace flash
