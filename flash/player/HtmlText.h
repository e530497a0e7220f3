#pragma once
// Flash's HTML subset (p, br, li, b, i, u, font, a, textformat and entities; other tags dropped) read
// into runs of formatted characters, paragraphs ended by "\r" as Flash keeps them. Text fields keep the
// runs for scripts, and the renderer lays out from them, so both read HTML the same way.
//
// Nothing here fails: malformed tags read as far as they make sense, a '<' opening no tag is text,
// values out of range are clamped and unknown entities stay as written. At most maxLength characters
// are read (more is cut); at most MaxHtmlNesting tags stay open (a deeper tag changes the format without
// being kept, so its closing tag finds it not); runs of one format are merged, so memory follows the
// text's length.

#include "flash/swf/SwfModel.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace flash {

// Open tags kept; far more than any movie nests.
constexpr int MaxHtmlNesting = 64;

// One character's format, in pixels; a new field's is Flash's default (Times New Roman, 12, black).
struct CharFormat {
    QString font = QStringLiteral("Times New Roman");
    int size = 12;
    std::uint32_t color = 0; // 0xRRGGBB
    bool bold = false, italic = false, underline = false;
    QString url, target;
    // Paragraph formats.
    EditText::Align align = EditText::Align::Left;
    int leftMargin = 0, rightMargin = 0, indent = 0, leading = 0;
    bool bullet = false;
    bool operator==(const CharFormat&) const = default;
};

// "left", "right", "center", "justify"; nothing for other names.
std::optional<EditText::Align> AlignByName(const QString& name);
QString AlignName(EditText::Align align);

// Characters of one format, and which of its values a tag set rather than the base gave.
struct HtmlRun {
    enum Set : std::uint8_t { Size = 1, LeftMargin = 2, RightMargin = 4, Indent = 8, Leading = 16 };
    QString text;
    CharFormat format;
    std::uint8_t set = 0;
    bool operator==(const HtmlRun&) const = default;
};

// The runs of html starting from base: "\r" ends a paragraph, as <br>, </p>, </li> and line breaks
// in the text do; the break closing the last paragraph (</p> or </li>) is left out.
std::vector<HtmlRun> ReadHtml(const QString& html, const CharFormat& base, qsizetype maxLength);

// Text with its entities (&lt; &amp; &#65; &#x41; ...) replaced by the characters they name.
QString DecodeEntities(const QString& text);

} // namespace flash
