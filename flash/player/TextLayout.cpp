#include "flash/player/TextLayout.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <utility>

namespace flash {
namespace {

// Device fonts are measured at this pixel size and scaled to the text's height.
constexpr double DeviceEm = 1024;
constexpr double Gutter = TextGutter;

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

bool CanUseSystemFonts() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
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

// Where there are no system fonts: half an em a character, lines 1.15 em high.
class EstimatedFace : public Face {
public:
    explicit EstimatedFace(double height) : height(height) {
        ascent = height * 0.9;
        descent = height * 0.25;
    }
    double Advance(const QString& text) const override { return text.size() * height * 0.5; }
    void Draw(const QString&, QPointF, QPainterPath&) const override {}

private:
    double height;
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

// A run's format as the renderer draws it; what no tag set stays exactly the field's own.
TextStyle StyleOf(const HtmlRun& run, const TextStyle& base) {
    const CharFormat& f = run.format;
    TextStyle style = base;
    style.color.r = std::uint8_t(f.color >> 16);
    style.color.g = std::uint8_t(f.color >> 8);
    style.color.b = std::uint8_t(f.color);
    if (run.set & HtmlRun::Size)
        style.size = int(f.size * TwipsPerPixel);
    style.face = f.font;
    style.bold = f.bold;
    style.italic = f.italic;
    style.underline = f.underline;
    return style;
}

// A paragraph's format from its first character: align, bullet, and the spacing tags set (in twips).
void Begin(StyledParagraph& paragraph, const HtmlRun& run) {
    const CharFormat& f = run.format;
    paragraph.align = f.align;
    paragraph.bullet = f.bullet;
    const auto twips = [&](HtmlRun::Set bit, int pixels) -> std::optional<int> {
        if (!(run.set & bit))
            return std::nullopt;
        return int(std::clamp(pixels, -720, 720) * TwipsPerPixel);
    };
    paragraph.leftMargin = twips(HtmlRun::LeftMargin, f.leftMargin);
    paragraph.rightMargin = twips(HtmlRun::RightMargin, f.rightMargin);
    paragraph.indent = twips(HtmlRun::Indent, f.indent);
    paragraph.leading = twips(HtmlRun::Leading, f.leading);
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

} // namespace

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

std::vector<StyledParagraph> ParseHtml(const QString& html, const TextStyle& base, EditText::Align align) {
    CharFormat format;
    format.font = base.face;
    format.size = int(std::lround(base.size / TwipsPerPixel));
    format.color = std::uint32_t(base.color.r) << 16 | std::uint32_t(base.color.g) << 8 | base.color.b;
    format.bold = base.bold;
    format.italic = base.italic;
    format.underline = base.underline;
    format.align = align;
    std::vector<StyledParagraph> paragraphs(1, StyledParagraph{align, {}});
    bool started = false; // the last paragraph has its format, from its first character
    for (const HtmlRun& run : ReadHtml(html, format, MaxShownCharacters)) {
        const TextStyle style = StyleOf(run, base);
        const QStringList parts = run.text.split(QLatin1Char('\r'));
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0 || !parts[i].isEmpty())
                if (!std::exchange(started, true))
                    Begin(paragraphs.back(), run);
            std::vector<StyledRun>& runs = paragraphs.back().runs;
            if (i > 0) { // a paragraph ends; an empty one is as high as its break's format
                if (runs.empty())
                    runs.push_back({QString(), style});
                paragraphs.push_back({align, {}});
                started = false;
                if (!parts[i].isEmpty()) {
                    Begin(paragraphs.back(), run);
                    started = true;
                }
            }
            if (parts[i].isEmpty())
                continue;
            QString text = parts[i];
            text.replace(QChar(u'\u00A0'), QLatin1Char(' ')); // a no-break space draws as a space
            std::vector<StyledRun>& into = paragraphs.back().runs;
            if (!into.empty() && into.back().style == style)
                into.back().text += text;
            else
                into.push_back({text, style});
        }
    }
    // The break ending the last paragraph opens no new line.
    if (paragraphs.size() > 1 && paragraphs.back().runs.empty())
        paragraphs.pop_back();
    return paragraphs;
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

EmbeddedFace::EmbeddedFace(const Font& font, double height, GlyphOutline outline)
    : font(font), scale(height / font.EmUnits()), outline(std::move(outline)) {
    for (std::size_t i = 0; i < font.glyphs.size(); ++i)
        byCode.try_emplace(font.glyphs[i].code, i);
    ascent = font.hasLayout ? font.ascent * scale : height * 0.8;
    descent = font.hasLayout ? font.descent * scale : height * 0.2;
}

bool EmbeddedFace::Covers(const QString& text) const {
    return std::any_of(text.begin(), text.end(),
                       [&](QChar c) { return !c.isSpace() && byCode.count(c.unicode()); });
}

double EmbeddedFace::Advance(const QString& text) const {
    double width = 0;
    for (QChar c : text)
        width += GlyphAdvance(c);
    return width;
}

void EmbeddedFace::Draw(const QString& text, QPointF baseline, QPainterPath& out) const {
    double x = baseline.x();
    for (QChar c : text) {
        const auto found = byCode.find(c.unicode());
        if (found != byCode.end())
            out.addPath(QTransform(scale, 0, 0, scale, x, baseline.y()).map(Outline(found->second)));
        x += GlyphAdvance(c);
    }
}

double EmbeddedFace::GlyphAdvance(QChar c) const {
    const auto found = byCode.find(c.unicode());
    if (found == byCode.end())
        return 0;
    if (font.hasLayout)
        return font.glyphs[found->second].advance * scale;
    // Without layout, the ink's width and a little space.
    return (Outline(found->second).boundingRect().right() + font.EmUnits() / 16) * scale;
}

const QPainterPath& EmbeddedFace::Outline(std::size_t index) const {
    auto [entry, added] = outlines.try_emplace(index);
    if (added && outline)
        entry->second = outline(font.glyphs[index]);
    return entry->second;
}

Faces::Faces(GlyphOutline outline) : outline(std::move(outline)) {}

Faces::~Faces() = default;

const EmbeddedFace& Faces::Embedded(const Font& font, double size) {
    auto& face = embedded[{&font, size}];
    if (!face)
        face = std::make_unique<EmbeddedFace>(font, size, outline);
    return *face;
}

const Face* Faces::Device(const TextStyle& style, bool estimate) {
    const bool system = CanUseSystemFonts();
    if (!system && !estimate)
        return nullptr;
    auto& face = device[{style.face, style.bold, style.italic, style.size, system}];
    if (!face) {
        if (system)
            face = std::make_unique<DeviceFace>(SystemFont(style.face, style.bold, style.italic), style.size);
        else
            face = std::make_unique<EstimatedFace>(style.size);
    }
    return face.get();
}

namespace {

// The bullet and the room it takes before the paragraph's text.
constexpr char16_t BulletCharacter = u'\u2022';

std::vector<LaidLine> LayOut(const EditText& text, const std::vector<StyledParagraph>& paragraphs,
                             const FaceOf& faceOf) {
    std::vector<LaidLine> laid;
    const Rect& b = text.bounds;
    double top = b.yMin + Gutter;
    for (const StyledParagraph& paragraph : paragraphs) {
        // A bullet paragraph's lines start an em further in, the bullet half an em before them.
        const StyledRun* first = paragraph.runs.empty() ? nullptr : &paragraph.runs.front();
        const double bulletRoom = paragraph.bullet && first ? first->style.size : 0;
        const double margin = paragraph.leftMargin.value_or(text.leftMargin) + bulletRoom;
        const double rightMargin = paragraph.rightMargin.value_or(text.rightMargin);
        const double left = b.xMin + Gutter + margin;
        const double right = b.xMax - Gutter - rightMargin;
        const double indent = paragraph.indent.value_or(text.indent);
        const double leading = paragraph.leading.value_or(text.leading);
        // An empty paragraph is as high as its format.
        const Face* own = first ? faceOf(*first) : nullptr;
        const auto lines = Lines(paragraph, faceOf, text.wordWrap, right - left - indent);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::vector<Piece>& line = lines[i];
            LaidLine out;
            double ascent = line.empty() && own ? own->ascent : 0;
            double descent = line.empty() && own ? own->descent : 0;
            for (const Piece& piece : line) {
                ascent = std::max(ascent, piece.face->ascent);
                descent = std::max(descent, piece.face->descent);
            }
            const double start = left + (i == 0 ? indent : 0);
            out.width = InkWidth(line);
            out.lead = margin + (i == 0 ? indent : 0);
            out.rightMargin = rightMargin;
            double x = start;
            if (paragraph.align == EditText::Align::Right)
                x = right - out.width;
            else if (paragraph.align == EditText::Align::Center)
                x = (start + right - out.width) / 2;
            out.top = top;
            out.baseline = top + ascent;
            out.bottom = out.baseline + descent;
            if (i == 0 && bulletRoom > 0) {
                const StyledRun bullet{QString(QChar(BulletCharacter)), first->style};
                if (const Face* face = faceOf(bullet))
                    out.pieces.push_back({bullet.text, face, first->style.color, false,
                                          start - bulletRoom + bulletRoom / 4, face->Advance(bullet.text)});
            }
            for (const Piece& piece : line) {
                const double advance = piece.face->Advance(piece.text);
                out.pieces.push_back({piece.text, piece.face, piece.color, piece.underline, x, advance});
                x += advance;
            }
            top = out.bottom + leading;
            laid.push_back(std::move(out));
        }
    }
    return laid;
}

} // namespace

FieldLayout LayOutField(const EditText& text, const Movie& movie, const QString* content, Faces& faces,
                        bool measuring) {
    const Font* font = text.fontId ? FontById(movie, *text.fontId) : nullptr;
    FieldLayout layout;
    layout.clipped = !text.autoSize;
    if (text.html && !text.password) {
        const std::vector<StyledParagraph> paragraphs = ShownParagraphs(text, font, content);
        // Runs the embedded font covers are drawn from it (or from the movie's font of the run's face
        // name), others from a system font.
        layout.lines = LayOut(text, paragraphs, [&](const StyledRun& run) -> const Face* {
            const Font* runFont = font;
            if (text.useOutlines && !run.style.face.isEmpty() && (!font || font->name != run.style.face))
                if (const Font* named = FontByName(movie, run.style.face, run.style.bold, run.style.italic))
                    runFont = named;
            if (runFont && text.useOutlines) {
                const EmbeddedFace& face = faces.Embedded(*runFont, run.style.size);
                if (run.text.trimmed().isEmpty() || face.Covers(run.text))
                    return &face;
            }
            return faces.Device(run.style, measuring);
        });
    } else {
        const QString shown = DisplayedText(text, content);
        const TextStyle base = BaseStyle(text, font);
        const Face* face = nullptr;
        if (font && text.useOutlines && faces.Embedded(*font, text.height).Covers(shown))
            face = &faces.Embedded(*font, text.height);
        else if (!shown.isEmpty())
            face = faces.Device(base, measuring);
        std::vector<StyledParagraph> paragraphs;
        for (const QString& paragraph : shown.split(QLatin1Char('\n')))
            paragraphs.push_back({text.align, {{paragraph, base}}});
        if (face)
            layout.lines = LayOut(text, paragraphs, [&](const StyledRun&) { return face; });
    }
    return layout;
}

double ScrollOffset(const FieldLayout& layout, int first) {
    if (layout.lines.empty() || first <= 0)
        return 0;
    const std::size_t line = std::min<std::size_t>(std::size_t(first), layout.lines.size() - 1);
    return layout.lines[line].top - layout.lines.front().top;
}

TextExtent Measure(const FieldLayout& layout) {
    TextExtent extent;
    double width = 0, box = 0;
    for (const LaidLine& line : layout.lines) {
        width = std::max(width, line.width);
        box = std::max(box, line.lead + line.width + line.rightMargin);
    }
    const double height = layout.lines.empty() ? 0 : layout.lines.back().bottom - layout.lines.front().top;
    extent.text = {width / TwipsPerPixel, height / TwipsPerPixel};
    extent.boxWidth = box + 2 * Gutter;
    extent.boxHeight = height + 2 * Gutter;
    return extent;
}

} // namespace flash
