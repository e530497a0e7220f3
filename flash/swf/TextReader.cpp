// Fonts, font info, static texts and edit texts.

#include "flash/swf/ReaderContext.h"

#include <algorithm>

namespace flash::reader {

// Font names may carry their terminating zero inside the length.
QString Parser::FontName(QByteArray raw) const {
    while (raw.endsWith('\0'))
        raw.chop(1);
    return Text(raw);
}

// Glyph i's outline lies between offsets[i] and the next offset (or `end`), counted from the start of
// `table`. A glyph whose range overlaps the one before or runs past the end stays empty, so a lying
// offset table costs no more reading than the tag holds.
bool Parser::ReadGlyphs(const BitReader& table, const std::vector<std::size_t>& offsets, std::size_t end,
                        Font& font) {
    if (!Room(0, offsets.size(), sizeof(Glyph)))
        return false;
    font.glyphs.resize(offsets.size());
    end = std::min(end, table.Remaining());
    std::size_t done = 0;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        const std::size_t from = offsets[i];
        const std::size_t to = i + 1 < offsets.size() ? std::min(offsets[i + 1], end) : end;
        if (from < done || from >= to)
            continue;
        done = to;
        BitReader glyph(table.Current() + from, to - from);
        StyleGroup group;
        group.fillCount = 1;
        if (!ReadShapeRecords(glyph, 1, nullptr, group, font.glyphs[i].edges)) {
            font.glyphs[i].edges.clear();
            if (!fatal.isEmpty())
                return false;
        }
    }
    return true;
}

// The code table and layout of DefineFont2/3 after the glyphs; a layout cut short is dropped.
bool Parser::ReadFontLayout(BitReader& r, Font& font) {
    for (Glyph& glyph : font.glyphs)
        glyph.code = font.wideCodes ? r.U16() : r.U8();
    if (r.Overrun())
        return false;
    if (!font.hasLayout)
        return true;
    font.ascent = std::int16_t(r.U16());
    font.descent = std::int16_t(r.U16());
    font.leading = r.S16();
    for (Glyph& glyph : font.glyphs)
        glyph.advance = r.S16();
    for (std::size_t i = 0; i < font.glyphs.size() && !r.Overrun(); ++i)
        ReadRect(r); // glyph bounds; the outlines say as much
    const std::size_t pairs = r.U16();
    const std::size_t pairBytes = font.wideCodes ? 6 : 4;
    if (r.Overrun() || pairs > r.Remaining() / pairBytes || !Room(0, pairs, sizeof(KerningPair))) {
        font.kerning.clear();
        font.hasLayout = !r.Overrun();
        return fatal.isEmpty();
    }
    font.kerning.resize(pairs);
    for (KerningPair& pair : font.kerning) {
        pair.left = font.wideCodes ? r.U16() : r.U8();
        pair.right = font.wideCodes ? r.U16() : r.U8();
        pair.adjustment = r.S16();
    }
    return true;
}

bool Parser::ReadFont(BitReader& r, int version, std::uint16_t id) {
    Font font;
    font.version = version;
    std::size_t count = 0;
    bool wideOffsets = false;
    if (version == 1) {
        count = BitReader(r).U16() / 2; // the first offset points past the offset table
    } else {
        const std::uint8_t flags = r.U8();
        font.hasLayout = flags & 0x80;
        font.shiftJis = flags & 0x40;
        font.smallText = flags & 0x20;
        font.ansi = flags & 0x10;
        wideOffsets = flags & 0x08;
        font.wideCodes = flags & 0x04;
        font.italic = flags & 0x02;
        font.bold = flags & 0x01;
        r.U8(); // language
        font.name = FontName(r.Bytes(r.U8()));
        count = r.U16();
    }
    if (r.Overrun())
        return false;
    const BitReader table = r; // offsets count from the start of the offset table
    const std::size_t offsetBytes = wideOffsets ? 4 : 2;
    if (count > r.Remaining() / offsetBytes || !Room(0, count, sizeof(std::size_t)))
        return false;
    std::vector<std::size_t> offsets(count);
    for (std::size_t& offset : offsets)
        offset = wideOffsets ? r.U32() : r.U16();
    std::size_t glyphEnd = table.Remaining();
    if (version >= 2 && r.Remaining() >= offsetBytes)
        glyphEnd = wideOffsets ? r.U32() : r.U16(); // where the code table starts
    if (r.Overrun() || !ReadGlyphs(table, offsets, glyphEnd, font))
        return false;
    if (version >= 2) {
        BitReader rest = table;
        if (glyphEnd > rest.Remaining())
            return false;
        rest.Skip(glyphEnd);
        if (!ReadFontLayout(rest, font))
            return false;
    }
    Define(id, std::make_shared<Character>(std::move(font)));
    return true;
}

// DefineFontInfo 1 and 2: the name, style and code table of a DefineFont defined before.
bool Parser::ReadFontInfo(BitReader& r, std::uint16_t code) {
    const std::uint16_t id = r.U16();
    const QByteArray name = r.Bytes(r.U8());
    const std::uint8_t flags = r.U8();
    if (code == tag::DefineFontInfo2)
        r.U8(); // language
    const auto found = movie.dictionary.find(id);
    if (r.Overrun() || found == movie.dictionary.end() || !std::holds_alternative<Font>(*found->second))
        return false;
    Font font = std::get<Font>(*found->second);
    font.name = FontName(name);
    font.smallText = flags & 0x20;
    font.shiftJis = flags & 0x10;
    font.ansi = flags & 0x08;
    font.italic = flags & 0x04;
    font.bold = flags & 0x02;
    font.wideCodes = code == tag::DefineFontInfo2 || (flags & 0x01);
    for (Glyph& glyph : font.glyphs)
        glyph.code = font.wideCodes ? r.U16() : r.U8();
    if (r.Overrun())
        return false;
    found->second = std::make_shared<Character>(std::move(font));
    return true;
}

bool Parser::ReadText(BitReader& r, int version, std::uint16_t id) {
    StaticText text;
    text.bounds = ReadRect(r);
    text.matrix = ReadMatrix(r);
    const int glyphBits = r.U8();
    const int advanceBits = r.U8();
    // Entries of no bits would let a few bytes claim thousands of glyphs.
    if (r.Overrun() || glyphBits > 32 || advanceBits > 32 || glyphBits + advanceBits == 0)
        return false;
    TextRecord state;
    // Records end with a zero byte, or with the tag.
    for (std::uint8_t flags = r.U8(); !r.Overrun() && flags != 0; flags = r.U8()) {
        if (flags & 0x08)
            state.fontId = r.U16();
        if (flags & 0x04)
            state.color = version >= 2 ? ReadRgba(r) : ReadRgb(r);
        if (flags & 0x01)
            state.x = r.S16();
        if (flags & 0x02)
            state.y = r.S16();
        if (flags & 0x08)
            state.height = r.U16();
        const std::size_t count = r.U8();
        if (r.Overrun() || count * std::size_t(glyphBits + advanceBits) > r.RemainingBits() ||
            !Room(0, count, sizeof(GlyphEntry)))
            return false;
        TextRecord record = state;
        record.glyphs.resize(count);
        for (GlyphEntry& glyph : record.glyphs) {
            glyph.index = r.UB(glyphBits);
            glyph.advance = r.SB(advanceBits);
            state.x += glyph.advance;
        }
        r.Align();
        if (!Push(text.records, std::move(record)))
            return false;
    }
    Define(id, std::make_shared<Character>(std::move(text)));
    return true;
}

bool Parser::ReadEditText(BitReader& r, std::uint16_t id) {
    EditText text;
    text.bounds = ReadRect(r);
    const std::uint8_t flags = r.U8();
    const std::uint8_t flags2 = r.U8();
    text.wordWrap = flags & 0x40;
    text.multiline = flags & 0x20;
    text.password = flags & 0x10;
    text.readOnly = flags & 0x08;
    text.autoSize = flags2 & 0x40;
    text.hasLayout = flags2 & 0x20;
    text.noSelect = flags2 & 0x10;
    text.border = flags2 & 0x08;
    text.wasStatic = flags2 & 0x04;
    text.html = flags2 & 0x02;
    text.useOutlines = flags2 & 0x01;
    if (flags & 0x01)
        text.fontId = r.U16();
    if (flags2 & 0x80)
        text.fontClass = Text(r.CString());
    if (flags & 0x01 || flags2 & 0x80)
        text.height = r.U16();
    if (flags & 0x04)
        text.color = ReadRgba(r);
    if (flags & 0x02)
        text.maxLength = r.U16();
    if (text.hasLayout) {
        text.align = EditText::Align(std::min<int>(r.U8(), 3));
        text.leftMargin = r.U16();
        text.rightMargin = r.U16();
        text.indent = r.U16();
        text.leading = r.S16();
    }
    text.variableName = Text(r.CString());
    if (flags & 0x80)
        text.initialText = Text(r.CString());
    if (r.Overrun())
        return false;
    Define(id, std::make_shared<Character>(std::move(text)));
    return true;
}

} // namespace flash::reader
