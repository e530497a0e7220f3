#pragma once
// Lays out static text (DefineText) and edit text (DefineEditText) into filled outlines once per
// character, and records them into a paint list like shapes. Static text and edit text that uses
// outlines are drawn from the embedded glyphs; other edit text from a matching system font, whose
// outlines Qt gives (so the paint list needs nothing new and bands on threads work the same).

#include "flash/ShapeRenderer.h"

#include <QPainterPath>
#include <QRectF>
#include <QString>
#include <optional>
#include <vector>

namespace flash {

// A text's ink in the character's own twips: areas of one colour each, and for edit text with a
// border its box (white background, black border).
struct PreparedText {
    struct Run {
        PaintPath area;
        Rgba color;
    };
    std::vector<Run> runs;
    std::optional<QRectF> box;
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

// What an edit text shows: its initial text or content, with HTML tags dropped (line breaks kept)
// and entities decoded when it is HTML, carriage returns as line breaks, stars for a password.
QString DisplayedText(const EditText& text, const QString* content = nullptr);

} // namespace flash
