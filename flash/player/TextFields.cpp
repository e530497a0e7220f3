#include "flash/player/TextFields.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace flash {

namespace {

constexpr char16_t Break = u'\r';

bool Is(QStringView name, const char* text) {
    return name.compare(QLatin1String(text), Qt::CaseInsensitive) == 0;
}

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

QString DecodeEntities(const QString& text) {
    if (!text.contains(u'&'))
        return text;
    static const QRegularExpression Entity(
        QStringLiteral("&(#x[0-9A-Fa-f]{1,6}|#[0-9]{1,7}|[A-Za-z]{2,6});"));
    QString out;
    qsizetype at = 0;
    for (auto it = Entity.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        out += QStringView(text).mid(at, match.capturedStart() - at);
        at = match.capturedEnd();
        const QString name = match.captured(1).toLower();
        bool ok = false;
        uint code = 0;
        if (name.startsWith(QLatin1String("#x")))
            code = name.mid(2).toUInt(&ok, 16);
        else if (name.startsWith(u'#'))
            code = name.mid(1).toUInt(&ok, 10);
        if (ok && code > 0 && code <= 0xFFFF) {
            out += QChar(char16_t(code));
            continue;
        }
        static const std::pair<const char*, char16_t> Named[] = {
            {"lt", u'<'}, {"gt", u'>'}, {"amp", u'&'}, {"quot", u'"'}, {"apos", u'\''}, {"nbsp", u'\u00A0'}};
        const auto found = std::find_if(std::begin(Named), std::end(Named), [&](const auto& entity) {
            return name == QLatin1String(entity.first);
        });
        if (found != std::end(Named))
            out += QChar(found->second);
        else
            out += match.captured(0);
    }
    out += QStringView(text).mid(at);
    return out;
}

QString Attribute(QStringView attributes, const char* name) {
    static const QRegularExpression Pairs(
        QStringLiteral("([A-Za-z_][\\w-]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'>]+))"));
    for (auto it = Pairs.globalMatch(attributes); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (Is(match.capturedView(1), name))
            return DecodeEntities(match.captured(2) + match.captured(3) + match.captured(4));
    }
    return {};
}

std::optional<int> Pixels(const QString& value) {
    bool ok = false;
    const double number = value.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    return int(std::clamp(number, -10000.0, 10000.0));
}

QString ColorText(std::uint32_t color) {
    return QStringLiteral("#%1").arg(color & 0xFFFFFF, 6, 16, QLatin1Char('0')).toUpper();
}

// Reads HTML into runs as its tags and text arrive.
class HtmlReader {
public:
    HtmlReader(FormattedText& text, const CharFormat& base) : text(text), formats{{QString(), base}} {}

    void Text(const QString& raw) {
        static const QRegularExpression LineBreaks(QStringLiteral("\\r\\n|\\n"));
        QString decoded = DecodeEntities(raw);
        decoded.replace(LineBreaks, QStringLiteral("\r"));
        Append(decoded);
    }

    void Tag(QStringView inside) {
        inside = inside.trimmed();
        const bool closing = inside.startsWith(u'/');
        if (closing)
            inside = inside.mid(1).trimmed();
        qsizetype end = 0;
        while (end < inside.size() && inside[end].isLetterOrNumber())
            ++end;
        const QString name = inside.left(end).toString().toLower();
        const QStringView attributes = inside.mid(end);
        if (name == QLatin1String("br")) {
            Append(QString(QChar(Break)));
        } else if (name == QLatin1String("p") || name == QLatin1String("li")) {
            if (closing) {
                Append(QString(QChar(Break)));
                closedParagraph = true;
                Close(name);
            } else {
                if (!AtParagraphStart())
                    Append(QString(QChar(Break)));
                CharFormat format = formats.back().second;
                if (name == QLatin1String("li"))
                    format.bullet = true;
                else if (const auto align = AlignByName(Attribute(attributes, "align").trimmed()))
                    format.align = *align;
                Open(name, format);
            }
        } else if (name == QLatin1String("b") || name == QLatin1String("i") || name == QLatin1String("u") ||
                   name == QLatin1String("font") || name == QLatin1String("a") ||
                   name == QLatin1String("textformat")) {
            if (closing)
                Close(name);
            else
                Open(name, Opened(name, attributes));
        }
    }

    void Finish() {
        // The break closing the last paragraph starts no new one.
        if (closedParagraph && text.Length() > 0 && text.Plain().back() == QChar(Break))
            text.Replace(text.Length() - 1, text.Length(), {}, formats.front().second);
    }

private:
    void Append(const QString& part) {
        if (part.isEmpty())
            return;
        closedParagraph = false;
        text.Replace(text.Length(), text.Length(), part, formats.back().second);
    }

    bool AtParagraphStart() const {
        const qsizetype length = text.Length();
        return length == 0 || text.Runs().back().text.back() == QChar(Break);
    }

    void Open(const QString& name, const CharFormat& format) {
        if (formats.size() > FormattedText::MaxNesting)
            formats.back().second = format; // too deep: the format holds without its tag
        else
            formats.emplace_back(name, format);
    }

    // Closes the innermost open tag of that name and any left open inside it.
    void Close(const QString& name) {
        for (std::size_t i = formats.size(); i-- > 1;)
            if (formats[i].first == name) {
                formats.resize(i);
                return;
            }
    }

    CharFormat Opened(const QString& name, QStringView attributes) const {
        CharFormat format = formats.back().second;
        if (name == QLatin1String("b")) {
            format.bold = true;
        } else if (name == QLatin1String("i")) {
            format.italic = true;
        } else if (name == QLatin1String("u")) {
            format.underline = true;
        } else if (name == QLatin1String("a")) {
            format.url = Attribute(attributes, "href");
            format.target = Attribute(attributes, "target");
        } else if (name == QLatin1String("textformat")) {
            for (auto [attribute, value] : {std::pair{"leftmargin", &format.leftMargin},
                                            {"rightmargin", &format.rightMargin},
                                            {"indent", &format.indent},
                                            {"leading", &format.leading}})
                if (const auto pixels = Pixels(Attribute(attributes, attribute)))
                    *value = *pixels;
        } else if (name == QLatin1String("font")) {
            const QString face = Attribute(attributes, "face").trimmed();
            if (!face.isEmpty())
                format.font = face;
            const QString size = Attribute(attributes, "size").trimmed();
            if (const auto pixels = Pixels(size))
                format.size = std::clamp(
                    size.startsWith(u'+') || size.startsWith(u'-') ? format.size + *pixels : *pixels, 1, 127);
            QString color = Attribute(attributes, "color").trimmed();
            if (color.startsWith(u'#'))
                color.remove(0, 1);
            bool ok = false;
            const uint rgb = color.toUInt(&ok, 16);
            if (ok && color.size() == 6)
                format.color = rgb;
        }
        return format;
    }

    FormattedText& text;
    std::vector<std::pair<QString, CharFormat>> formats; // open tags, innermost last
    bool closedParagraph = false; // the text ends with the break of a closing </p> or </li>
};

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

// The font a system draws for a format, as the renderer picks it.
QFont DeviceFont(const CharFormat& format) {
    QFont font;
    const QString name = format.font.trimmed();
    if (Is(name, "_serif") || Is(name, "Times New Roman") || Is(name, "Times"))
        font.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif")});
    else if (Is(name, "_typewriter") || Is(name, "Courier New") || Is(name, "Courier"))
        font.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")});
    else if (name.isEmpty() || name.startsWith(u'_'))
        font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    else
        font.setFamily(name);
    font.setPixelSize(std::max(1, format.size));
    font.setBold(format.bold);
    font.setItalic(format.italic);
    return font;
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

std::optional<EditText::Align> AlignByName(const QString& name) {
    for (const auto align :
         {EditText::Align::Left, EditText::Align::Right, EditText::Align::Center, EditText::Align::Justify})
        if (name.compare(AlignName(align), Qt::CaseInsensitive) == 0)
            return align;
    return std::nullopt;
}

QString AlignName(EditText::Align align) {
    switch (align) {
    case EditText::Align::Right:
        return QStringLiteral("right");
    case EditText::Align::Center:
        return QStringLiteral("center");
    case EditText::Align::Justify:
        return QStringLiteral("justify");
    case EditText::Align::Left:
        break;
    }
    return QStringLiteral("left");
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
    HtmlReader reader(*this, base);
    qsizetype at = 0;
    while (at < html.size() && Length() < MaxLength) {
        const qsizetype open = html.indexOf(u'<', at);
        const qsizetype close = open < 0 ? -1 : html.indexOf(u'>', open);
        if (close < 0) { // a '<' that opens no tag is text
            reader.Text(html.mid(at));
            break;
        }
        reader.Text(html.mid(at, open - at));
        reader.Tag(QStringView(html).mid(open + 1, close - open - 1));
        at = close + 1;
    }
    reader.Finish();
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
    return look;
}

QString DrawnContent(const ScriptedField& field) {
    if (field.look.password)
        return QString(field.text.Length(), u'*');
    return field.text.Html(field.newFormat);
}

QSizeF TextSize(const ScriptedField& field) {
    const bool fonts = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    double width = 0, height = 0, line = 0, lineHeight = 0;
    const auto endLine = [&](const CharFormat& format) {
        if (lineHeight == 0)
            lineHeight = fonts ? QFontMetricsF(DeviceFont(format)).height() : format.size * 1.15;
        width = std::max(width, line);
        height += lineHeight + format.leading;
        line = lineHeight = 0;
    };
    CharFormat last = field.newFormat;
    for (const FormattedText::Run& run : field.text.Runs()) {
        const QStringList parts = run.text.split(QChar(Break));
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0)
                endLine(run.format);
            const QFont font = DeviceFont(run.format);
            const QString shown = field.look.password ? QString(parts[i].size(), u'*') : parts[i];
            line +=
                fonts ? QFontMetricsF(font).horizontalAdvance(shown) : shown.size() * run.format.size * 0.5;
            lineHeight =
                std::max(lineHeight, fonts ? QFontMetricsF(font).height() : double(run.format.size) * 1.15);
        }
        last = run.format;
    }
    if (field.text.Length() == 0)
        return {0, 0};
    endLine(last);
    return {std::ceil(width), std::ceil(height - last.leading)};
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

void Publish(TextFieldState& field, DisplayObject* placement) {
    ScriptedField* scripted = field.scripted.get();
    if (!scripted)
        return;
    if (scripted->autoSize != ScriptedField::AutoSize::None) {
        // Two pixels of gutter on each side; a wrapping field keeps its width.
        Rect& b = scripted->look.bounds;
        const QSizeF size = TextSize(*scripted);
        const std::int32_t height = std::int32_t(std::lround((size.height() + 4) * TwipsPerPixel));
        b.yMax = b.yMin + height;
        if (!scripted->look.wordWrap) {
            const std::int32_t width = std::int32_t(std::lround((size.width() + 4) * TwipsPerPixel));
            if (scripted->autoSize == ScriptedField::AutoSize::Right)
                b.xMin = b.xMax - width;
            else if (scripted->autoSize == ScriptedField::AutoSize::Center)
                b.xMin = (b.xMin + b.xMax - width) / 2;
            b.xMax = b.xMin + width;
        }
    }
    field.content = DrawnContent(*scripted);
    if (placement)
        placement->character = std::make_shared<const Character>(DrawnLook(*scripted));
}

void SetFieldText(TextFieldState& field, DisplayObject* placement, const QString& text, bool html) {
    ScriptedField* scripted = field.scripted.get();
    if (!scripted)
        return;
    if (html)
        scripted->text.SetHtml(text, scripted->newFormat);
    else
        scripted->text.Replace(0, scripted->text.Length(), text, scripted->newFormat);
    Publish(field, placement);
}

} // namespace flash
