#include "flash/render/Text.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <unordered_map>

namespace flash {
namespace {

// Edit text keeps two pixels between its bounds and its text.
constexpr double Gutter = 40;
// Device fonts are measured at this pixel size and scaled to the text's height.
constexpr double DeviceEm = 1024;
// Far more than any field shows; bounds the layout of a damaged or hostile initial text.
constexpr qsizetype MaxShownCharacters = 1 << 16;

const Font* FontById(const Movie& movie, std::uint16_t id) {
    const auto found = movie.dictionary.find(id);
    return found == movie.dictionary.end() ? nullptr : std::get_if<Font>(found->second.get());
}

// A font of the movie with glyphs by its name, the one of the style asked for first.
const Font* FontByName(const Movie& movie, const QString& name, bool bold, bool italic) {
    const Font* any = nullptr;
    for (const auto& [id, character] : movie.dictionary) {
        const auto* font = std::get_if<Font>(character.get());
        if (!font || font->glyphs.empty() || font->name.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (font->bold == bold && font->italic == italic)
            return font;
        if (!any)
            any = font;
    }
    return any;
}

// Glyph outlines in the font's units, made on first use; a text uses a few glyphs of large fonts.
class GlyphCache {
public:
    const QPainterPath& Get(const Font& font, std::size_t index) {
        auto [entry, added] = paths.try_emplace({&font, index});
        if (added)
            entry->second = GlyphPath(font.glyphs[index]);
        return entry->second;
    }

private:
    std::map<std::pair<const Font*, std::size_t>, QPainterPath> paths;
};

// Areas by colour in the order the colours first appear.
class Ink {
public:
    void Add(const Rgba& color, const QPainterPath& path) {
        auto found =
            std::find_if(areas.begin(), areas.end(), [&](const auto& a) { return a.first == color; });
        if (found == areas.end()) {
            areas.emplace_back(color, QPainterPath());
            found = std::prev(areas.end());
        }
        found->second.addPath(path);
    }

    PreparedText Finish(const QTransform& transform, const std::optional<QRectF>& clip) {
        PreparedText text;
        text.area.setFillRule(Qt::OddEvenFill);
        for (auto& [color, area] : areas) {
            QPainterPath path = transform.map(area);
            if (clip && !clip->contains(path.boundingRect())) {
                QPainterPath box;
                box.addRect(*clip);
                path = path.intersected(box);
            }
            if (path.isEmpty())
                continue;
            text.area.addPath(path);
            text.runs.push_back({PaintPath(std::move(path)), color});
        }
        return text;
    }

private:
    std::vector<std::pair<Rgba, QPainterPath>> areas;
};

// --- Edit text ---

QString DecodeEntities(QString text) {
    static const std::pair<const char*, const char*> Entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&nbsp;", " "}, {"&amp;", "&"}};
    for (const auto& [entity, character] : Entities)
        text.replace(QLatin1String(entity), QLatin1String(character), Qt::CaseInsensitive);
    return text;
}

// Builds the paragraphs of an HTML text as its tags and text arrive.
class HtmlRuns {
public:
    HtmlRuns(const TextStyle& base, EditText::Align align)
        : styles{{QString(), base}}, aligns{align}, spacings(1) {
        paragraphs.push_back({align, {}});
    }

    // Text between tags; its line breaks end paragraphs as <br> does.
    void Text(const QString& text) {
        const QStringList lines = DecodeEntities(text).split(LineBreaks);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i > 0)
                Break();
            Append(lines[i]);
        }
    }

    // The inside of a tag, between '<' and '>'.
    void Tag(QStringView inside) {
        inside = inside.trimmed();
        const bool closing = inside.startsWith(QLatin1Char('/'));
        if (closing)
            inside = inside.mid(1).trimmed();
        qsizetype end = 0;
        while (end < inside.size() && inside[end].isLetterOrNumber())
            ++end;
        const QString name = inside.left(end).toString().toLower();
        const QStringView attributes = inside.mid(end);
        if (name == QLatin1String("br")) {
            Break();
        } else if (name == QLatin1String("p") && closing) {
            if (aligns.size() > 1)
                aligns.pop_back();
            Break();
        } else if (name == QLatin1String("p")) {
            if (HasText())
                Break();
            aligns.push_back(AlignOf(Attribute(attributes, "align")).value_or(aligns.back()));
            paragraphs.back().align = aligns.back();
        } else if (name == QLatin1String("li")) {
            if (closing || HasText())
                Break();
        } else if (name == QLatin1String("textformat")) {
            if (closing) {
                if (spacings.size() > 1)
                    spacings.pop_back();
                return;
            }
            StyledParagraph spacing = spacings.back();
            for (auto [attribute, value] : {std::pair{"leftmargin", &spacing.leftMargin},
                                            {"rightmargin", &spacing.rightMargin},
                                            {"indent", &spacing.indent},
                                            {"leading", &spacing.leading}}) {
                bool ok = false;
                const double pixels = Attribute(attributes, attribute).trimmed().toDouble(&ok);
                if (ok && std::isfinite(pixels))
                    *value = int(std::clamp(pixels, -720.0, 720.0) * TwipsPerPixel);
            }
            spacings.push_back(spacing);
            if (!HasText())
                Space(paragraphs.back());
        } else if (name == QLatin1String("font") || name == QLatin1String("b") ||
                   name == QLatin1String("i") || name == QLatin1String("u")) {
            if (closing)
                Close(name);
            else
                styles.emplace_back(name, Opened(name, attributes));
        }
    }

    std::vector<StyledParagraph> Finish() {
        // The last paragraph's end opens no new line.
        if (paragraphs.size() > 1 && paragraphs.back().runs.empty())
            paragraphs.pop_back();
        return std::move(paragraphs);
    }

private:
    static inline const QRegularExpression LineBreaks{QStringLiteral("\\r\\n|\\r|\\n")};

    void Append(const QString& text) {
        if (text.isEmpty() || size >= MaxShownCharacters)
            return;
        const QString kept = text.left(MaxShownCharacters - size);
        size += kept.size();
        std::vector<StyledRun>& runs = paragraphs.back().runs;
        if (!runs.empty() && runs.back().style == styles.back().second)
            runs.back().text += kept;
        else
            runs.push_back({kept, styles.back().second});
    }

    void Break() {
        if (size >= MaxShownCharacters)
            return;
        ++size;
        if (paragraphs.back().runs.empty())
            paragraphs.back().runs.push_back({QString(), styles.back().second});
        paragraphs.push_back({aligns.back(), {}});
        Space(paragraphs.back());
    }

    void Space(StyledParagraph& paragraph) const {
        paragraph.leftMargin = spacings.back().leftMargin;
        paragraph.rightMargin = spacings.back().rightMargin;
        paragraph.indent = spacings.back().indent;
        paragraph.leading = spacings.back().leading;
    }

    bool HasText() const {
        const auto& runs = paragraphs.back().runs;
        return std::any_of(runs.begin(), runs.end(), [](const StyledRun& r) { return !r.text.isEmpty(); });
    }

    // Closes the innermost open tag of that name and any left open inside it.
    void Close(const QString& name) {
        for (std::size_t i = styles.size(); i-- > 1;) {
            if (styles[i].first == name) {
                styles.resize(i);
                return;
            }
        }
    }

    TextStyle Opened(const QString& name, QStringView attributes) const {
        TextStyle style = styles.back().second;
        if (name == QLatin1String("b"))
            style.bold = true;
        else if (name == QLatin1String("i"))
            style.italic = true;
        else if (name == QLatin1String("u"))
            style.underline = true;
        if (name != QLatin1String("font"))
            return style;
        if (const auto color = ColorOf(Attribute(attributes, "color"))) {
            style.color.r = color->r;
            style.color.g = color->g;
            style.color.b = color->b;
        }
        if (const auto size = SizeOf(Attribute(attributes, "size"), style.size))
            style.size = *size;
        const QString face = Attribute(attributes, "face").trimmed();
        if (!face.isEmpty())
            style.face = face;
        return style;
    }

    static QString Attribute(QStringView attributes, const char* name) {
        static const QRegularExpression Pairs(
            QStringLiteral("([A-Za-z_][\\w-]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'>]+))"));
        for (auto it = Pairs.globalMatch(attributes); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            if (match.captured(1).compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return DecodeEntities(match.captured(2) + match.captured(3) + match.captured(4));
        }
        return {};
    }

    static std::optional<EditText::Align> AlignOf(const QString& value) {
        const QString v = value.trimmed().toLower();
        if (v == QLatin1String("left"))
            return EditText::Align::Left;
        if (v == QLatin1String("right"))
            return EditText::Align::Right;
        if (v == QLatin1String("center"))
            return EditText::Align::Center;
        if (v == QLatin1String("justify"))
            return EditText::Align::Justify;
        return std::nullopt;
    }

    // "#RRGGBB"; anything else leaves the colour as it was.
    static std::optional<Rgba> ColorOf(const QString& value) {
        QString v = value.trimmed();
        if (v.startsWith(QLatin1Char('#')))
            v.remove(0, 1);
        bool ok = false;
        const uint rgb = v.toUInt(&ok, 16);
        if (v.size() != 6 || !ok)
            return std::nullopt;
        return Rgba{std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb), 255};
    }

    // Pixels, or pixels more or fewer than `current` (twips) with a sign; Flash keeps 1..127 px.
    static std::optional<int> SizeOf(const QString& value, int current) {
        const QString v = value.trimmed();
        const bool relative = v.startsWith(QLatin1Char('+')) || v.startsWith(QLatin1Char('-'));
        qsizetype end = relative ? 1 : 0;
        int pixels = 0;
        for (; end < v.size() && v[end].isDigit(); ++end)
            pixels = std::min(pixels * 10 + v[end].digitValue(), 10000);
        if (end == (relative ? 1 : 0))
            return std::nullopt;
        if (relative)
            pixels =
                (v[0] == QLatin1Char('-') ? -pixels : pixels) + int(std::lround(current / TwipsPerPixel));
        return int(std::clamp(pixels, 1, 127) * TwipsPerPixel);
    }

    std::vector<std::pair<QString, TextStyle>> styles; // open format tags, innermost last
    std::vector<EditText::Align> aligns;               // open paragraphs' alignments, innermost last
    std::vector<StyledParagraph> spacings; // open textformat tags' margins (no runs), innermost last
    std::vector<StyledParagraph> paragraphs;
    qsizetype size = 0; // characters so far, a paragraph break counting one
};

// How one face measures and draws: embedded glyphs or a system font, in twips at the text's height.
class Face {
public:
    virtual ~Face() = default;
    virtual double Advance(const QString& text) const = 0;
    virtual void Draw(const QString& text, QPointF baseline, QPainterPath& out) const = 0;
    double ascent = 0, descent = 0;
};

class EmbeddedFace : public Face {
public:
    EmbeddedFace(const Font& font, double height) : font(font), scale(height / font.EmUnits()) {
        for (std::size_t i = 0; i < font.glyphs.size(); ++i)
            byCode.try_emplace(font.glyphs[i].code, i);
        ascent = font.hasLayout ? font.ascent * scale : height * 0.8;
        descent = font.hasLayout ? font.descent * scale : height * 0.2;
    }

    // Whether the font has glyphs for the text; characters without one show nothing.
    bool Covers(const QString& text) const {
        return std::any_of(text.begin(), text.end(),
                           [&](QChar c) { return !c.isSpace() && byCode.count(c.unicode()); });
    }

    double Advance(const QString& text) const override {
        double width = 0;
        for (QChar c : text)
            width += GlyphAdvance(c);
        return width;
    }

    void Draw(const QString& text, QPointF baseline, QPainterPath& out) const override {
        double x = baseline.x();
        for (QChar c : text) {
            const auto found = byCode.find(c.unicode());
            if (found != byCode.end())
                out.addPath(
                    QTransform(scale, 0, 0, scale, x, baseline.y()).map(cache.Get(font, found->second)));
            x += GlyphAdvance(c);
        }
    }

private:
    double GlyphAdvance(QChar c) const {
        const auto found = byCode.find(c.unicode());
        if (found == byCode.end())
            return 0;
        if (font.hasLayout)
            return font.glyphs[found->second].advance * scale;
        // Without layout, the ink's width and a little space.
        return (cache.Get(font, found->second).boundingRect().right() + font.EmUnits() / 16) * scale;
    }

    const Font& font;
    double scale;
    std::unordered_map<std::uint16_t, std::size_t> byCode;
    mutable GlyphCache cache;
};

// Qt's matching picks the first family the machine has; Flash's own device fonts come first.
QFont SystemFont(const QString& name, bool bold, bool italic) {
    QFont qfont;
    if (name == QLatin1String("_serif")) {
        qfont.setStyleHint(QFont::Serif);
        qfont.setFamilies(
            {QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"), QStringLiteral("Serif")});
    } else if (name == QLatin1String("_typewriter")) {
        qfont.setStyleHint(QFont::TypeWriter);
        qfont.setFamilies(
            {QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"), QStringLiteral("Monospace")});
    } else if (name.isEmpty() || name.startsWith(QLatin1Char('_'))) {
        qfont.setStyleHint(QFont::SansSerif);
        qfont.setFamilies(
            {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Sans Serif")});
    } else if (name.contains(QLatin1Char(','))) {
        // HTML faces may list fallbacks: "Verdana, Arial".
        QStringList families = name.split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (QString& family : families)
            family = family.trimmed();
        qfont.setFamilies(families);
    } else {
        qfont.setFamily(name);
    }
    qfont.setPixelSize(int(DeviceEm));
    qfont.setBold(bold);
    qfont.setItalic(italic);
    return qfont;
}

class DeviceFace : public Face {
public:
    DeviceFace(const QFont& font, double height) : font(font), scale(height / DeviceEm) {
        const QFontMetricsF metrics(this->font);
        ascent = metrics.ascent() * scale;
        descent = metrics.descent() * scale;
    }

    double Advance(const QString& text) const override {
        return QFontMetricsF(font).horizontalAdvance(text) * scale;
    }

    void Draw(const QString& text, QPointF baseline, QPainterPath& out) const override {
        QPainterPath path;
        path.addText(0, 0, font, text);
        out.addPath(QTransform(scale, 0, 0, scale, baseline.x(), baseline.y()).map(path));
    }

private:
    QFont font;
    double scale;
};

// A field's faces, made once for each font, size and style its runs use.
class Faces {
public:
    const EmbeddedFace& Embedded(const Font& font, double size) {
        auto& face = embedded[{&font, size}];
        if (!face)
            face = std::make_unique<EmbeddedFace>(font, size);
        return *face;
    }

    const DeviceFace& Device(const TextStyle& style) {
        auto& face = device[{style.face, style.bold, style.italic, style.size}];
        if (!face)
            face = std::make_unique<DeviceFace>(SystemFont(style.face, style.bold, style.italic), style.size);
        return *face;
    }

private:
    std::map<std::pair<const Font*, double>, std::unique_ptr<EmbeddedFace>> embedded;
    std::map<std::tuple<QString, bool, bool, int>, std::unique_ptr<DeviceFace>> device;
};

// The face that draws a run; null for a run nothing can draw.
using FaceOf = std::function<const Face*(const StyledRun&)>;

// Part of a line in one face and colour.
struct Piece {
    QString text;
    const Face* face = nullptr;
    Rgba color;
    bool underline = false;
};

// Word wrap breaks after spaces, so a word may span runs: its pieces up to one ending in a space.
std::vector<std::vector<Piece>> Words(const StyledParagraph& paragraph, const FaceOf& faceOf) {
    static const QRegularExpression Chunks(QStringLiteral("\\S*\\s*"));
    std::vector<std::vector<Piece>> words(1);
    for (const StyledRun& run : paragraph.runs) {
        const Face* face = faceOf(run);
        if (!face)
            continue;
        for (auto it = Chunks.globalMatch(run.text); it.hasNext();) {
            const QString chunk = it.next().captured();
            if (chunk.isEmpty())
                break;
            words.back().push_back({chunk, face, run.style.color, run.style.underline});
            if (chunk.back().isSpace())
                words.emplace_back();
        }
    }
    if (words.back().empty())
        words.pop_back();
    return words;
}

double Advance(const std::vector<Piece>& pieces) {
    double width = 0;
    for (const Piece& piece : pieces)
        width += piece.face->Advance(piece.text);
    return width;
}

// Lines of a paragraph that fit `width` when wrapping (a word wider than the line keeps a line of its
// own); a line's pieces in one face and colour are joined.
std::vector<std::vector<Piece>> Lines(const StyledParagraph& paragraph, const FaceOf& faceOf, bool wrap,
                                      double width) {
    std::vector<std::vector<Piece>> lines(1);
    double lineWidth = 0; // of the line's words with their spaces
    for (std::vector<Piece>& word : Words(paragraph, faceOf)) {
        std::vector<Piece> ink = word;
        ink.back().text = ink.back().text.trimmed();
        if (wrap && !lines.back().empty() && lineWidth + Advance(ink) > width) {
            lines.emplace_back();
            lineWidth = 0;
        }
        lineWidth += Advance(word);
        for (Piece& piece : word) {
            std::vector<Piece>& line = lines.back();
            if (!line.empty() && line.back().face == piece.face && line.back().color == piece.color &&
                line.back().underline == piece.underline)
                line.back().text += piece.text;
            else
                line.push_back(std::move(piece));
        }
    }
    return lines;
}

// A line's width without the spaces at its ends.
double InkWidth(std::vector<Piece> line) {
    while (!line.empty()) {
        QString& text = line.front().text;
        qsizetype i = 0;
        while (i < text.size() && text[i].isSpace())
            ++i;
        text.remove(0, i);
        if (!text.isEmpty())
            break;
        line.erase(line.begin());
    }
    while (!line.empty()) {
        QString& text = line.back().text;
        while (!text.isEmpty() && text.back().isSpace())
            text.chop(1);
        if (!text.isEmpty())
            break;
        line.pop_back();
    }
    return Advance(line);
}

void LayOut(const EditText& text, const std::vector<StyledParagraph>& paragraphs, const FaceOf& faceOf,
            Ink& ink) {
    const Rect& b = text.bounds;
    double top = b.yMin + Gutter;
    for (const StyledParagraph& paragraph : paragraphs) {
        const double left = b.xMin + Gutter + paragraph.leftMargin.value_or(text.leftMargin);
        const double right = b.xMax - Gutter - paragraph.rightMargin.value_or(text.rightMargin);
        const double indent = paragraph.indent.value_or(text.indent);
        const double leading = paragraph.leading.value_or(text.leading);
        // An empty paragraph is as high as its format.
        const Face* own = paragraph.runs.empty() ? nullptr : faceOf(paragraph.runs.front());
        const auto lines = Lines(paragraph, faceOf, text.wordWrap, right - left - indent);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::vector<Piece>& line = lines[i];
            double ascent = line.empty() && own ? own->ascent : 0;
            double descent = line.empty() && own ? own->descent : 0;
            for (const Piece& piece : line) {
                ascent = std::max(ascent, piece.face->ascent);
                descent = std::max(descent, piece.face->descent);
            }
            const double start = left + (i == 0 ? indent : 0);
            const double width = InkWidth(line);
            double x = start;
            if (paragraph.align == EditText::Align::Right)
                x = right - width;
            else if (paragraph.align == EditText::Align::Center)
                x = (start + right - width) / 2;
            const double baseline = top + ascent;
            for (const Piece& piece : line) {
                QPainterPath path;
                piece.face->Draw(piece.text, {x, baseline}, path);
                const double advance = piece.face->Advance(piece.text);
                if (piece.underline) {
                    // A line a twentieth of the text's height thick, just under the baseline.
                    const double thickness = std::max(20.0, (piece.face->ascent + piece.face->descent) / 20);
                    path.addRect(x, baseline + thickness, advance, thickness);
                }
                ink.Add(piece.color, path);
                x += advance;
            }
            top = baseline + descent + leading;
        }
    }
}

// The field's own format, which HTML tags change run by run.
TextStyle BaseStyle(const EditText& text, const Font* font) {
    TextStyle style;
    style.color = text.color.value_or(Rgba{0, 0, 0, 255});
    style.size = text.height;
    if (font) {
        style.face = font->name;
        style.bold = font->bold;
        style.italic = font->italic;
    }
    return style;
}

// An HTML field's paragraphs, cut where DisplayedText cuts its text.
std::vector<StyledParagraph> ShownParagraphs(const EditText& text, const Font* font, const QString* content) {
    std::vector<StyledParagraph> paragraphs = ParseHtml(
        content ? *content : text.initialText.value_or(QString()), BaseStyle(text, font), text.align);
    qsizetype left = MaxShownCharacters;
    if (text.maxLength && *text.maxLength > 0)
        left = std::min<qsizetype>(left, *text.maxLength);
    for (std::size_t p = 0; p < paragraphs.size(); ++p) {
        for (std::size_t r = 0; r < paragraphs[p].runs.size(); ++r) {
            QString& run = paragraphs[p].runs[r].text;
            if (run.size() >= left) {
                run.truncate(left);
                paragraphs[p].runs.resize(r + 1);
                paragraphs.resize(p + 1);
                return paragraphs;
            }
            left -= run.size();
        }
        if (left-- == 0) { // the break after this paragraph
            paragraphs.resize(p + 1);
            return paragraphs;
        }
    }
    return paragraphs;
}

bool CanUseSystemFonts() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

QBrush BrushOf(const ColorTransform& transform, const Rgba& color) {
    const Rgba c = Apply(transform, color);
    return c.a == 0 ? QBrush() : QBrush(QColor(c.r, c.g, c.b, c.a));
}

} // namespace

QPainterPath GlyphPath(const Glyph& glyph) {
    Shape shape;
    shape.fillStyles.resize(1);
    shape.edges = glyph.edges;
    PreparedShape prepared = PrepareShape(shape);
    return prepared.fills.empty() ? QPainterPath() : prepared.fills.front().Path();
}

PreparedText PrepareStaticText(const StaticText& text, const Movie& movie) {
    GlyphCache glyphs;
    Ink ink;
    for (const TextRecord& record : text.records) {
        const Font* font = FontById(movie, record.fontId);
        if (!font)
            continue;
        const double scale = record.height / font->EmUnits();
        double x = record.x;
        QPainterPath path;
        for (const GlyphEntry& glyph : record.glyphs) {
            if (glyph.index < font->glyphs.size())
                path.addPath(QTransform(scale, 0, 0, scale, x, record.y).map(glyphs.Get(*font, glyph.index)));
            x += glyph.advance;
        }
        ink.Add(record.color, path);
    }
    return ink.Finish(ToQTransform(text.matrix), std::nullopt);
}

PreparedText PrepareEditText(const EditText& text, const Movie& movie, const QString* content) {
    const Font* font = text.fontId ? FontById(movie, *text.fontId) : nullptr;
    Faces faces;
    Ink ink;
    if (text.html && !text.password) {
        const std::vector<StyledParagraph> paragraphs = ShownParagraphs(text, font, content);
        const bool systemFonts = CanUseSystemFonts();
        // Runs the embedded font covers are drawn from it (or from the movie's font of the run's face
        // name), others from a system font.
        LayOut(
            text, paragraphs,
            [&](const StyledRun& run) -> const Face* {
                const Font* runFont = font;
                if (text.useOutlines && !run.style.face.isEmpty() && (!font || font->name != run.style.face))
                    if (const Font* named =
                            FontByName(movie, run.style.face, run.style.bold, run.style.italic))
                        runFont = named;
                if (runFont && text.useOutlines) {
                    const EmbeddedFace& face = faces.Embedded(*runFont, run.style.size);
                    if (run.text.trimmed().isEmpty() || face.Covers(run.text))
                        return &face;
                }
                return systemFonts ? &faces.Device(run.style) : nullptr;
            },
            ink);
    } else {
        const QString shown = DisplayedText(text, content);
        const TextStyle base = BaseStyle(text, font);
        const Face* face = nullptr;
        if (font && text.useOutlines && faces.Embedded(*font, text.height).Covers(shown))
            face = &faces.Embedded(*font, text.height);
        else if (!shown.isEmpty() && CanUseSystemFonts())
            face = &faces.Device(base);
        std::vector<StyledParagraph> paragraphs;
        for (const QString& paragraph : shown.split(QLatin1Char('\n')))
            paragraphs.push_back({text.align, {{paragraph, base}}});
        if (face)
            LayOut(
                text, paragraphs, [&](const StyledRun&) { return face; }, ink);
    }
    const Rect& b = text.bounds;
    const QRectF bounds(b.xMin, b.yMin, b.Width(), b.Height());
    PreparedText prepared = ink.Finish(QTransform(), text.autoSize ? std::nullopt : std::optional(bounds));
    if (text.border) {
        prepared.boxFill = Rgba{255, 255, 255, 255};
        prepared.boxFrame = Rgba{0, 0, 0, 255};
    } else {
        prepared.boxFill = text.backgroundColor;
        prepared.boxFrame = text.borderColor;
    }
    if (prepared.boxFill || prepared.boxFrame) {
        prepared.box = bounds;
        prepared.area.addRect(bounds);
    }
    return prepared;
}

std::optional<PreparedText> PrepareText(const Character& character, const Movie& movie,
                                        const QString* content) {
    if (const auto* text = std::get_if<StaticText>(&character))
        return PrepareStaticText(*text, movie);
    if (const auto* text = std::get_if<EditText>(&character))
        return PrepareEditText(*text, movie, content);
    return std::nullopt;
}

void RecordText(PaintList& list, const PreparedText& text, const QTransform& toDevice,
                const ColorTransform& colorTransform) {
    if (text.box) {
        QPainterPath box;
        box.addRect(*text.box);
        if (text.boxFill)
            list.Fill(PaintPath(box), BrushOf(colorTransform, *text.boxFill), toDevice, 1, false);
        // A one-pixel frame inside the box, as wide as a device pixel is in twips.
        const double determinant = std::abs(toDevice.determinant());
        const double pixel = determinant > 0 ? 1 / std::sqrt(determinant) : 0;
        QPainterPath frame = box;
        frame.addRect(text.box->adjusted(pixel, pixel, -pixel, -pixel));
        if (text.boxFrame)
            list.Fill(PaintPath(frame), BrushOf(colorTransform, *text.boxFrame), toDevice, 1, false);
    }
    for (const PreparedText::Run& run : text.runs) {
        const QBrush brush = BrushOf(colorTransform, run.color);
        if (brush.style() != Qt::NoBrush)
            list.Fill(run.area, brush, toDevice, 1, false);
    }
}

std::vector<StyledParagraph> ParseHtml(const QString& html, const TextStyle& base, EditText::Align align) {
    HtmlRuns runs(base, align);
    qsizetype at = 0;
    while (at < html.size()) {
        const qsizetype open = html.indexOf(QLatin1Char('<'), at);
        const qsizetype close = open < 0 ? -1 : html.indexOf(QLatin1Char('>'), open);
        if (close < 0) { // a '<' that opens no tag is text
            runs.Text(html.mid(at));
            break;
        }
        runs.Text(html.mid(at, open - at));
        runs.Tag(QStringView(html).mid(open + 1, close - open - 1));
        at = close + 1;
    }
    return runs.Finish();
}

QString DisplayedText(const EditText& text, const QString* content) {
    QString shown = content ? *content : text.initialText.value_or(QString());
    if (text.html) {
        QStringList paragraphs;
        for (const StyledParagraph& paragraph : ParseHtml(shown, {}, text.align)) {
            QString plain;
            for (const StyledRun& run : paragraph.runs)
                plain += run.text;
            paragraphs.append(plain);
        }
        shown = paragraphs.join(QLatin1Char('\n'));
    }
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.password)
        shown = QString(shown.size(), QLatin1Char('*'));
    if (text.maxLength && *text.maxLength > 0)
        shown.truncate(*text.maxLength);
    shown.truncate(MaxShownCharacters);
    return shown;
}

} // namespace flash
