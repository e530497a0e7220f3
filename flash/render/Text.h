#pragma once
// Draws static text (DefineText) and edit text (DefineEditText) as filled outlines once per character,
// and records them into a paint list like shapes. Static text is drawn from the embedded glyphs; edit
// text is laid out into lines by flash/player/TextLayout (embedded glyphs, or a system font whose
// outlines Qt gives, so the paint list needs nothing new and bands on threads work the same), drawn
// underlined as asked and scrolled as its field is.

#include "flash/player/TextLayout.h"
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

} // namespace flash
