#pragma once
// Included by flash/SwfModel.h, whose types it uses; include that header, not this one.
// Fonts and text characters: DefineFont 1-3 with their glyph shapes and layout, static text
// (DefineText 1 and 2) and edit text (DefineEditText).

namespace flash {

struct Glyph {
    // Outline in EM units (1024 to the EM, 20480 for DefineFont3); style 0 is the glyph's fill.
    std::vector<ShapeEdge> edges;
    std::uint16_t code = 0;   // character code from the code table (0 when there is none)
    std::int16_t advance = 0; // layout fonts only, EM units
    bool operator==(const Glyph&) const = default;
};

struct KerningPair {
    std::uint16_t left = 0, right = 0;
    std::int16_t adjustment = 0;
    bool operator==(const KerningPair&) const = default;
};

struct Font {
    int version = 1; // DefineFont 1, 2 or 3
    QString name;    // from DefineFont2/3 or DefineFontInfo; empty when unknown
    bool bold = false, italic = false;
    bool wideCodes = false, shiftJis = false, ansi = false, smallText = false;
    std::vector<Glyph> glyphs;
    bool hasLayout = false;
    std::int16_t ascent = 0, descent = 0, leading = 0; // EM units
    std::vector<KerningPair> kerning;
    // Units of the glyph outlines to the EM square.
    double EmUnits() const { return version >= 3 ? 20480.0 : 1024.0; }
    bool operator==(const Font&) const = default;
};

struct GlyphEntry {
    std::uint32_t index = 0;
    std::int32_t advance = 0; // twips
    bool operator==(const GlyphEntry&) const = default;
};

// A run of glyphs. Font, colour, height and position carry over from the record before, as the
// file says; the reader fills them in, so every record holds its own.
struct TextRecord {
    std::uint16_t fontId = 0;
    Rgba color;
    std::int32_t x = 0, y = 0; // pen position of the first glyph (baseline), twips
    std::uint16_t height = 0;  // EM height, twips
    std::vector<GlyphEntry> glyphs;
    bool operator==(const TextRecord&) const = default;
};

struct StaticText {
    Rect bounds;
    Matrix matrix; // maps the records' coordinates into the character's
    std::vector<TextRecord> records;
};

struct EditText {
    enum class Align : std::uint8_t { Left, Right, Center, Justify };
    Rect bounds;
    bool wordWrap = false, multiline = false, password = false, readOnly = false;
    bool autoSize = false, noSelect = false, border = false, wasStatic = false;
    bool html = false, useOutlines = false;
    std::optional<std::uint16_t> fontId;
    QString fontClass;
    std::uint16_t height = 240; // twips
    std::optional<Rgba> color;
    std::optional<std::uint16_t> maxLength;
    bool hasLayout = false;
    Align align = Align::Left;
    std::uint16_t leftMargin = 0, rightMargin = 0, indent = 0; // twips
    std::int16_t leading = 0;                                  // twips
    QString variableName;
    std::optional<QString> initialText;
    // A box behind the text and a frame round it, each in its own colour: what scripts set (a movie's
    // border flag shows both, white and black).
    std::optional<Rgba> backgroundColor, borderColor;
    // Scrolled by scripts: lines hidden above the first shown, and twips moved left.
    std::uint16_t scrollLines = 0;
    std::int32_t scrollX = 0;
    bool operator==(const EditText&) const = default;
};

} // namespace flash
