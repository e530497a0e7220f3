#include "flash/player/TextFields.h"

#include "flash/player/TextLayout.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace flash {

namespace {

constexpr char16_t Break = u'\r';

QString Escaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            out += QLatin1String("&amp;");
        else if (c == u'<')
            out += QLatin1String("&lt;");
        else if (c == u'>')
            out += QLatin1String("&gt;");
        else if (c == u'"')
            out += QLatin1String("&quot;");
        else if (c == u'\'')
            out += QLatin1String("&apos;");
        else
            out += c;
    }
    return out;
}

QString ColorText(std::uint32_t color) {
    return QStringLiteral("#%1").arg(color & 0xFFFFFF, 6, 16, QLatin1Char('0')).toUpper();
}

// The attributes of a FONT tag for what differs from `outer` (all when outer is null).
QString FontAttributes(const CharFormat& format, const CharFormat* outer) {
    QString attributes;
    if (!outer || outer->font != format.font)
        attributes += QStringLiteral(" FACE=\"%1\"").arg(Escaped(format.font));
    if (!outer || outer->size != format.size)
        attributes += QStringLiteral(" SIZE=\"%1\"").arg(format.size);
    if (!outer || outer->color != format.color)
        attributes += QStringLiteral(" COLOR=\"%1\"").arg(ColorText(format.color));
    if (!outer)
        attributes += QLatin1String(" LETTERSPACING=\"0\" KERNING=\"0\"");
    return attributes;
}

// One paragraph as Flash writes it: TEXTFORMAT when margins are set, P or LI, FONT, then per run
// FONT for what differs, A, B, I, U.
QString ParagraphHtml(const std::vector<FormattedText::Run>& runs, const CharFormat& format) {
    QString out;
    QStringList textFormat;
    for (auto [name, value] : {std::pair{"LEFTMARGIN", format.leftMargin},
                               {"RIGHTMARGIN", format.rightMargin},
                               {"INDENT", format.indent},
                               {"LEADING", format.leading}})
        if (value != 0)
            textFormat.push_back(QStringLiteral("%1=\"%2\"").arg(QLatin1String(name)).arg(value));
    if (!textFormat.isEmpty())
        out += QStringLiteral("<TEXTFORMAT %1>").arg(textFormat.join(u' '));
    out += format.bullet ? QStringLiteral("<LI>")
                         : QStringLiteral("<P ALIGN=\"%1\">").arg(AlignName(format.align).toUpper());
    out += QStringLiteral("<FONT%1>").arg(FontAttributes(format, nullptr));
    for (const FormattedText::Run& run : runs) {
        const CharFormat& f = run.format;
        QString open, close;
        const QString font = FontAttributes(f, &format);
        if (!font.isEmpty()) {
            open += QStringLiteral("<FONT%1>").arg(font);
            close.prepend(QLatin1String("</FONT>"));
        }
        if (!f.url.isEmpty()) {
            open += QStringLiteral("<A HREF=\"%1\" TARGET=\"%2\">").arg(Escaped(f.url), Escaped(f.target));
            close.prepend(QLatin1String("</A>"));
        }
        for (auto [on, tag] : {std::pair{f.bold, "B"}, {f.italic, "I"}, {f.underline, "U"}})
            if (on) {
                open += QStringLiteral("<%1>").arg(QLatin1String(tag));
                close.prepend(QStringLiteral("</%1>").arg(QLatin1String(tag)));
            }
        out += open + Escaped(run.text) + close;
    }
    out += QLatin1String("</FONT>");
    out += format.bullet ? QStringLiteral("</LI>") : QStringLiteral("</P>");
    if (!textFormat.isEmpty())
        out += QLatin1String("</TEXTFORMAT>");
    return out;
}

// A glyph's edges as a path: enough to measure its ink where a font has no advances.
QPainterPath GlyphEdges(const Glyph& glyph) {
    QPainterPath path;
    for (const ShapeEdge& edge : glyph.edges) {
        if (edge.fill0 != 0 && edge.fill1 != 0) // not an edge of the glyph's fill
            continue;
        path.moveTo(edge.fromX, edge.fromY);
        if (edge.curved)
            path.quadTo(edge.controlX, edge.controlY, edge.toX, edge.toY);
        else
            path.lineTo(edge.toX, edge.toY);
    }
    return path;
}

// The field laid out as the renderer lays it out.
FieldLayout LaidOut(const ScriptedField& field, const Movie* movie) {
    static const Movie NoMovie;
    Faces faces(GlyphEdges);
    const EditText look = DrawnLook(field);
    const QString content = DrawnContent(field);
    return LayOutField(look, movie ? *movie : NoMovie, &content, faces, true);
}

const Font* FontById(const Movie& movie, std::uint16_t id) {
    const auto found = movie.dictionary.find(id);
    return found == movie.dictionary.end() ? nullptr : std::get_if<Font>(found->second.get());
}

} // namespace

FormatChange FormatChange::All(const CharFormat& f) {
    return {f.font,   f.size,  f.color,      f.bold,        f.italic, f.underline, f.url,
            f.target, f.align, f.leftMargin, f.rightMargin, f.indent, f.leading,   f.bullet};
}

void FormatChange::ApplyTo(CharFormat& f, bool paragraph) const {
    if (!paragraph) {
        if (font)
            f.font = *font;
        if (size)
            f.size = *size;
        if (color)
            f.color = *color;
        if (bold)
            f.bold = *bold;
        if (italic)
            f.italic = *italic;
        if (underline)
            f.underline = *underline;
        if (url)
            f.url = *url;
        if (target)
            f.target = *target;
    }
    if (align)
        f.align = *align;
    if (leftMargin)
        f.leftMargin = *leftMargin;
    if (rightMargin)
        f.rightMargin = *rightMargin;
    if (indent)
        f.indent = *indent;
    if (leading)
        f.leading = *leading;
    if (bullet)
        f.bullet = *bullet;
}

bool FormatChange::HasParagraphFormat() const {
    return align || leftMargin || rightMargin || indent || leading || bullet;
}

void FormatChange::KeepCommon(const FormatChange& other) {
    const auto keep = [](auto& mine, const auto& theirs) {
        if (mine != theirs)
            mine.reset();
    };
    keep(font, other.font);
    keep(size, other.size);
    keep(color, other.color);
    keep(bold, other.bold);
    keep(italic, other.italic);
    keep(underline, other.underline);
    keep(url, other.url);
    keep(target, other.target);
    keep(align, other.align);
    keep(leftMargin, other.leftMargin);
    keep(rightMargin, other.rightMargin);
    keep(indent, other.indent);
    keep(leading, other.leading);
    keep(bullet, other.bullet);
}

QString FormattedText::Plain() const {
    QString plain;
    for (const Run& run : runs)
        plain += run.text;
    return plain;
}

qsizetype FormattedText::Length() const {
    qsizetype length = 0;
    for (const Run& run : runs)
        length += run.text.size();
    return length;
}

std::size_t FormattedText::SplitAt(qsizetype position) {
    qsizetype at = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const qsizetype size = runs[i].text.size();
        if (position <= at)
            return i;
        if (position < at + size) {
            Run tail{runs[i].text.mid(position - at), runs[i].format};
            runs[i].text.truncate(position - at);
            runs.insert(runs.begin() + qsizetype(i) + 1, std::move(tail));
            return i + 1;
        }
        at += size;
    }
    return runs.size();
}

void FormattedText::Merge() {
    std::vector<Run> merged;
    for (Run& run : runs) {
        if (run.text.isEmpty())
            continue;
        if (!merged.empty() && merged.back().format == run.format)
            merged.back().text += run.text;
        else
            merged.push_back(std::move(run));
    }
    runs = std::move(merged);
}

void FormattedText::Replace(qsizetype begin, qsizetype end, const QString& text, const CharFormat& format) {
    const qsizetype length = Length();
    begin = std::clamp<qsizetype>(begin, 0, length);
    end = std::clamp<qsizetype>(end, begin, length);
    QString added = text;
    added.replace(QStringLiteral("\r\n"), QStringLiteral("\r"));
    added.replace(u'\n', QChar(Break));
    added.truncate(std::max<qsizetype>(0, MaxLength - (length - (end - begin))));
    const std::size_t first = SplitAt(begin);
    const std::size_t last = SplitAt(end);
    runs.erase(runs.begin() + qsizetype(first), runs.begin() + qsizetype(last));
    if (!added.isEmpty())
        runs.insert(runs.begin() + qsizetype(first), Run{added, format});
    Merge();
}

void FormattedText::Apply(const FormatChange& change, qsizetype begin, qsizetype end) {
    const QString plain = Plain();
    begin = std::clamp<qsizetype>(begin, 0, plain.size());
    end = std::clamp<qsizetype>(end, begin, plain.size());
    const auto change_ = [&](qsizetype from, qsizetype to, bool paragraph) {
        const std::size_t first = SplitAt(from), last = SplitAt(to);
        for (std::size_t i = first; i < last; ++i)
            change.ApplyTo(runs[i].format, paragraph);
    };
    change_(begin, end, false);
    if (change.HasParagraphFormat() && !plain.isEmpty()) {
        // From the start of the first paragraph touched to the break ending the last one.
        const qsizetype from = begin == 0 ? 0 : plain.lastIndexOf(QChar(Break), begin - 1) + 1;
        const qsizetype breakAt = plain.indexOf(QChar(Break), std::max(begin, end - 1));
        change_(from, breakAt < 0 ? plain.size() : breakAt + 1, true);
    }
    Merge();
}

CharFormat FormattedText::FormatAt(qsizetype index, const CharFormat& fallback) const {
    qsizetype at = 0;
    for (const Run& run : runs) {
        if (index >= at && index < at + run.text.size())
            return run.format;
        at += run.text.size();
    }
    return fallback;
}

FormatChange FormattedText::FormatOf(qsizetype begin, qsizetype end, const CharFormat& fallback) const {
    const qsizetype length = Length();
    begin = std::clamp<qsizetype>(begin, 0, length);
    end = std::clamp<qsizetype>(end, begin, length);
    if (end == begin)
        return FormatChange::All(FormatAt(begin, fallback));
    std::optional<FormatChange> common;
    qsizetype at = 0;
    for (const Run& run : runs) {
        const qsizetype next = at + run.text.size();
        if (next > begin && at < end) {
            const FormatChange mine = FormatChange::All(run.format);
            if (common)
                common->KeepCommon(mine);
            else
                common = mine;
        }
        at = next;
    }
    return common.value_or(FormatChange::All(fallback));
}

void FormattedText::SetHtml(const QString& html, const CharFormat& base) {
    runs.clear();
    for (HtmlRun& run : ReadHtml(html, base, MaxLength))
        runs.push_back({std::move(run.text), run.format});
    Merge();
}

QString FormattedText::Html(const CharFormat& base) const {
    QString out;
    std::vector<Run> paragraph;
    CharFormat format = base;
    const auto flush = [&] {
        out += ParagraphHtml(paragraph, paragraph.empty() ? format : paragraph.front().format);
        paragraph.clear();
    };
    for (const Run& run : runs) {
        const QStringList parts = run.text.split(QChar(Break));
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0)
                flush();
            if (!parts[i].isEmpty())
                paragraph.push_back({parts[i], run.format});
            format = run.format; // an empty paragraph takes the format of the break before it
        }
    }
    flush();
    return out;
}

ScriptedField ScriptedFrom(const EditText& text, const QString& shown, const Movie& movie) {
    ScriptedField field;
    field.look = text;
    field.html = text.html;
    field.background = field.border = text.border;
    CharFormat& format = field.newFormat;
    if (const Font* font = text.fontId ? FontById(movie, *text.fontId) : nullptr) {
        if (!font->name.isEmpty())
            format.font = font->name;
        format.bold = font->bold;
        format.italic = font->italic;
    }
    format.size = int(std::lround(text.height / TwipsPerPixel));
    if (text.color)
        format.color = std::uint32_t(text.color->r) << 16 | std::uint32_t(text.color->g) << 8 | text.color->b;
    format.align = text.align;
    format.leftMargin = int(std::lround(text.leftMargin / TwipsPerPixel));
    format.rightMargin = int(std::lround(text.rightMargin / TwipsPerPixel));
    format.indent = int(std::lround(text.indent / TwipsPerPixel));
    format.leading = int(std::lround(text.leading / TwipsPerPixel));
    if (text.html)
        field.text.SetHtml(shown, format);
    else
        field.text.Replace(0, 0, shown, format);
    if (text.autoSize)
        field.autoSize = ScriptedField::AutoSize::Left;
    return field;
}

EditText DrawnLook(const ScriptedField& field) {
    EditText look = field.look;
    // The text is drawn from its runs as HTML; a password shows stars in the field's format.
    look.html = !look.password;
    look.border = false;
    look.autoSize = field.autoSize != ScriptedField::AutoSize::None;
    const auto rgba = [](std::uint32_t color) {
        return Rgba{std::uint8_t(color >> 16), std::uint8_t(color >> 8), std::uint8_t(color), 255};
    };
    look.backgroundColor = field.background ? std::optional(rgba(field.backgroundColor)) : std::nullopt;
    look.borderColor = field.border ? std::optional(rgba(field.borderColor)) : std::nullopt;
    // Margins and leading go with each paragraph, in its TEXTFORMAT tag.
    const CharFormat first = field.text.FormatAt(0, field.newFormat);
    look.leftMargin = look.rightMargin = look.indent = 0;
    look.leading = 0;
    look.height = std::uint16_t(std::clamp(first.size, 1, 127) * TwipsPerPixel);
    look.color = rgba(first.color);
    look.align = first.align;
    look.maxLength.reset(); // maxChars limits typing, not what scripts set
    look.scrollLines = std::uint16_t(std::clamp(field.scroll - 1, 0, 0xFFFF));
    look.scrollX = std::int32_t(field.hscroll * TwipsPerPixel);
    return look;
}

QString DrawnContent(const ScriptedField& field) {
    if (field.look.password)
        return QString(field.text.Length(), u'*');
    return field.text.Html(field.newFormat);
}

QSizeF TextSize(const ScriptedField& field, const Movie* movie) {
    if (field.text.Length() == 0)
        return {0, 0};
    const QSizeF size = Measure(LaidOut(field, movie)).text;
    return {std::ceil(size.width()), std::ceil(size.height())};
}

FieldLines LinesOf(const ScriptedField& field, const Movie* movie) {
    const FieldLayout layout = LaidOut(field, movie);
    FieldLines lines;
    const auto& laid = layout.lines;
    if (laid.empty())
        return lines;
    lines.count = int(laid.size());
    const Rect& b = field.look.bounds;
    const double box = b.Height() - 2 * TextGutter;
    // The last start from which every line below fits; from `scroll`, the last line that fits.
    lines.maxScroll = lines.count;
    for (int first = 1; first <= lines.count; ++first)
        if (laid.back().bottom - laid[std::size_t(first - 1)].top <= box + 0.5) {
            lines.maxScroll = first;
            break;
        }
    const int scroll = std::clamp(field.scroll, 1, lines.maxScroll);
    lines.bottom = scroll;
    for (int last = scroll + 1; last <= lines.count; ++last)
        if (laid[std::size_t(last - 1)].bottom - laid[std::size_t(scroll - 1)].top <= box + 0.5)
            lines.bottom = last;
    const TextExtent extent = Measure(layout);
    if (!field.look.wordWrap)
        lines.maxHScroll = std::max(0, int(std::ceil((extent.boxWidth - b.Width()) / TwipsPerPixel)));
    return lines;
}

ScriptedField* Scripted(TextFieldState& field, DisplayObject* placement, const Movie* movie) {
    if (field.scripted)
        return field.scripted.get();
    const auto* text =
        placement && placement->character ? std::get_if<EditText>(placement->character.get()) : nullptr;
    if (!text || !movie)
        return nullptr;
    field.scripted = std::make_shared<ScriptedField>(
        ScriptedFrom(*text, field.content.value_or(field.initialText), *movie));
    field.scripted->bound = field.bound;
    return field.scripted.get();
}

void Publish(TextFieldState& field, DisplayObject* placement, const Movie* movie) {
    ScriptedField* scripted = field.scripted.get();
    if (!scripted)
        return;
    if (scripted->autoSize != ScriptedField::AutoSize::None) {
        // The box fits the text as drawn, margins and gutters included; a wrapping field keeps its width.
        Rect& b = scripted->look.bounds;
        const TextExtent extent = Measure(LaidOut(*scripted, movie));
        const auto twips = [](double inner) {
            return std::int32_t((std::ceil(inner / TwipsPerPixel) + 4) * TwipsPerPixel);
        };
        b.yMax = b.yMin + twips(extent.boxHeight - 2 * TextGutter);
        if (!scripted->look.wordWrap) {
            const std::int32_t width = twips(extent.boxWidth - 2 * TextGutter);
            if (scripted->autoSize == ScriptedField::AutoSize::Right)
                b.xMin = b.xMax - width;
            else if (scripted->autoSize == ScriptedField::AutoSize::Center)
                b.xMin = (b.xMin + b.xMax - width) / 2;
            b.xMax = b.xMin + width;
        }
    }
    if (scripted->scroll > 1 || scripted->hscroll > 0) {
        // Scrolling never goes past the last page or the widest line.
        const FieldLines lines = LinesOf(*scripted, movie);
        scripted->scroll = std::clamp(scripted->scroll, 1, lines.maxScroll);
        scripted->hscroll = std::clamp(scripted->hscroll, 0, lines.maxHScroll);
    }
    field.content = DrawnContent(*scripted);
    if (placement)
        placement->character = std::make_shared<const Character>(DrawnLook(*scripted));
}

void SetFieldText(TextFieldState& field, DisplayObject* placement, const QString& text, bool html,
                  const Movie* movie) {
    ScriptedField* scripted = field.scripted.get();
    if (!scripted)
        return;
    if (html)
        scripted->text.SetHtml(text, scripted->newFormat);
    else
        scripted->text.Replace(0, scripted->text.Length(), text, scripted->newFormat);
    Publish(field, placement, movie);
}

} // namespace flash
