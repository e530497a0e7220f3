#pragma once
// Lays out static text (DefineText) and edit text (DefineEditText) into filled outlines once per
// character, and records them into a paint list like shapes. Static text and edit text that uses
// outlines are drawn from the embedded glyphs; other edit text from a matching system font, whose
// outlines Qt gives (so the paint list needs nothing new and bands on threads work the same). HTML
// edit text lays out runs of several colours, sizes and faces, each in the face that can draw it (with
// outlines, an embedded font of the run's face name when the movie has one), underlined as asked.

#include "flash/render/ShapeRenderer.h"

#include <QPainterPath>
#include <QRectF>
#include <QString>
#include <optional>
#include <vector>

namespace flash {

// A text's ink in the character's own twips: areas of one colour each, and for edit text with a
// border or background its box (a movie's border: white background, black frame).
struct PreparedText {
    struct Run {
        PaintPath area;
        Rgba color;
    };
    std::vector<Run> runs;
    std::optional<QRectF> box;
    std::optional<Rgba> boxFill, boxFrame;
    QPainterPath area; // everything inked together, for masks
};

// The outline of a glyph in the font's EM units.
QPainterPath GlyphPath(const Glyph& glyph);

PreparedText PrepareStaticText(const StaticText& text, const Movie& movie);
// content, when given, stands in for the initial text (a bound variable's value).
PreparedText PrepareEditText(const EditText& text, const Movie& movie, const QString* content = nullptr);
// Either of the above by the character's kind; nothing for characters that are not text.
std::optional<PreparedText> PrepareText(const Character& character, const Movie& movie,
                                        const QString* content = nullptr);

void RecordText(PaintList& list, const PreparedText& text, const QTransform& toDevice,
                const ColorTransform& colorTransform);

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
    bool operator==(const StyledParagraph&) const = default;
};

// Flash's HTML subset (p, br, li, font, b, i, u, textformat and entities; other tags dropped) as paragraphs
// of runs, starting from the field's format and alignment. Bounded for any input.
std::vector<StyledParagraph> ParseHtml(const QString& html, const TextStyle& base, EditText::Align align);

// What an edit text shows: its initial text or content, as plain text when it is HTML (the runs of
// ParseHtml, its paragraphs as line breaks), carriage returns as line breaks, stars for a password.
QString DisplayedText(const EditText& text, const QString* content = nullptr);

} // namespace flash
