#include "flash/player/HtmlText.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace flash {

namespace {

constexpr char16_t Break = u'\r';

bool Is(QStringView name, const char* text) {
    return name.compare(QLatin1String(text), Qt::CaseInsensitive) == 0;
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

// Reads HTML into runs as its tags and text arrive.
class HtmlReader {
public:
    HtmlReader(const CharFormat& base, qsizetype maxLength)
        : open{{QString(), {{}, base, 0}}}, left(maxLength) {}

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
                HtmlRun format = open.back().second;
                if (name == QLatin1String("li"))
                    format.format.bullet = true;
                else if (const auto align = AlignByName(Attribute(attributes, "align").trimmed()))
                    format.format.align = *align;
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

    bool Full() const { return left <= 0; }

    std::vector<HtmlRun> Finish() {
        // The break closing the last paragraph starts no new one.
        if (closedParagraph && !runs.empty() && runs.back().text.back() == QChar(Break)) {
            runs.back().text.chop(1);
            if (runs.back().text.isEmpty())
                runs.pop_back();
        }
        return std::move(runs);
    }

private:
    void Append(const QString& part) {
        if (part.isEmpty() || left <= 0)
            return;
        closedParagraph = false;
        const QString kept = part.left(left);
        left -= kept.size();
        const HtmlRun& format = open.back().second;
        if (!runs.empty() && runs.back().format == format.format && runs.back().set == format.set)
            runs.back().text += kept;
        else
            runs.push_back({kept, format.format, format.set});
    }

    bool AtParagraphStart() const { return runs.empty() || runs.back().text.back() == QChar(Break); }

    void Open(const QString& name, const HtmlRun& format) {
        if (open.size() > MaxHtmlNesting)
            open.back().second = format; // too deep: the format holds without its tag
        else
            open.emplace_back(name, format);
    }

    // Closes the innermost open tag of that name and any left open inside it.
    void Close(const QString& name) {
        for (std::size_t i = open.size(); i-- > 1;)
            if (open[i].first == name) {
                open.resize(i);
                return;
            }
    }

    HtmlRun Opened(const QString& name, QStringView attributes) const {
        HtmlRun opened = open.back().second;
        CharFormat& format = opened.format;
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
            for (auto [attribute, value, bit] :
                 {std::tuple{"leftmargin", &format.leftMargin, HtmlRun::LeftMargin},
                  {"rightmargin", &format.rightMargin, HtmlRun::RightMargin},
                  {"indent", &format.indent, HtmlRun::Indent},
                  {"leading", &format.leading, HtmlRun::Leading}})
                if (const auto pixels = Pixels(Attribute(attributes, attribute))) {
                    *value = *pixels;
                    opened.set |= bit;
                }
        } else if (name == QLatin1String("font")) {
            const QString face = Attribute(attributes, "face").trimmed();
            if (!face.isEmpty())
                format.font = face;
            const QString size = Attribute(attributes, "size").trimmed();
            if (const auto pixels = Pixels(size)) {
                format.size = std::clamp(
                    size.startsWith(u'+') || size.startsWith(u'-') ? format.size + *pixels : *pixels, 1, 127);
                opened.set |= HtmlRun::Size;
            }
            QString color = Attribute(attributes, "color").trimmed();
            if (color.startsWith(u'#'))
                color.remove(0, 1);
            bool ok = false;
            const uint rgb = color.toUInt(&ok, 16);
            if (ok && color.size() == 6)
                format.color = rgb;
        }
        return opened;
    }

    std::vector<HtmlRun> runs;
    std::vector<std::pair<QString, HtmlRun>> open; // open tags and their formats, innermost last
    qsizetype left;                                // characters still read
    bool closedParagraph = false;                  // the text ends with the break of a closing </p> or </li>
};

} // namespace

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

std::vector<HtmlRun> ReadHtml(const QString& html, const CharFormat& base, qsizetype maxLength) {
    HtmlReader reader(base, maxLength);
    qsizetype at = 0;
    while (at < html.size() && !reader.Full()) {
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
    return reader.Finish();
}

} // namespace flash
