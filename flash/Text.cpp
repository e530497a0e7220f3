#include "flash/Text.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <map>
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

QString StripHtml(const QString& html) {
    static const QRegularExpression Breaks(QStringLiteral("<\\s*(br|/p|/li)\\b[^>]*>"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression Tags(QStringLiteral("<[^>]*>"));
    QString text = html;
    text.replace(Breaks, QStringLiteral("\n"));
    text.remove(Tags);
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1); // the last paragraph's end opens no new line
    return DecodeEntities(text);
}

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
QFont SystemFont(const Font* font) {
    const QString name = font ? font->name : QString();
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
    } else {
        qfont.setFamily(name);
    }
    qfont.setPixelSize(int(DeviceEm));
    qfont.setBold(font && font->bold);
    qfont.setItalic(font && font->italic);
    return qfont;
}

class DeviceFace : public Face {
public:
    DeviceFace(const Font* font, double height) : font(SystemFont(font)), scale(height / DeviceEm) {
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

// Lines of a paragraph that fit `width` when wrapping, broken after spaces (a word wider than the
// line keeps a line of its own).
QStringList WrapParagraph(const QString& paragraph, const Face& face, double width) {
    QStringList lines;
    static const QRegularExpression Words(QStringLiteral("\\S*\\s*"));
    QString line;
    double lineWidth = 0; // of the line's words with their spaces
    for (auto it = Words.globalMatch(paragraph); it.hasNext();) {
        const QString word = it.next().captured();
        if (word.isEmpty())
            break;
        const double inkWidth = face.Advance(word.trimmed());
        if (!line.isEmpty() && lineWidth + inkWidth > width) {
            lines.append(line);
            line.clear();
            lineWidth = 0;
        }
        line += word;
        lineWidth += face.Advance(word);
    }
    lines.append(line);
    return lines;
}

void LayOut(const EditText& text, const QString& shown, const Face& face, Ink& ink) {
    const Rect& b = text.bounds;
    const double left = b.xMin + Gutter + text.leftMargin;
    const double right = b.xMax - Gutter - text.rightMargin;
    const Rgba color = text.color.value_or(Rgba{0, 0, 0, 255});
    double baseline = b.yMin + Gutter + face.ascent;
    QPainterPath path;
    for (const QString& paragraph : shown.split(QLatin1Char('\n'))) {
        const QStringList lines = text.wordWrap ? WrapParagraph(paragraph, face, right - left - text.indent)
                                                : QStringList{paragraph};
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString line = lines[i].trimmed().isEmpty() ? QString() : lines[i];
            const double start = left + (i == 0 ? text.indent : 0);
            const double width = face.Advance(line.trimmed());
            double x = start;
            if (text.align == EditText::Align::Right)
                x = right - width;
            else if (text.align == EditText::Align::Center)
                x = (start + right - width) / 2;
            face.Draw(line, {x, baseline}, path);
            baseline += face.ascent + face.descent + text.leading;
        }
    }
    ink.Add(color, path);
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
    const QString shown = DisplayedText(text, content);
    const Font* font = text.fontId ? FontById(movie, *text.fontId) : nullptr;
    Ink ink;
    if (font && text.useOutlines && EmbeddedFace(*font, text.height).Covers(shown))
        LayOut(text, shown, EmbeddedFace(*font, text.height), ink);
    else if (!shown.isEmpty() && CanUseSystemFonts())
        LayOut(text, shown, DeviceFace(font, text.height), ink);
    const Rect& b = text.bounds;
    const QRectF bounds(b.xMin, b.yMin, b.Width(), b.Height());
    PreparedText prepared = ink.Finish(QTransform(), text.autoSize ? std::nullopt : std::optional(bounds));
    if (text.border) {
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
        list.Fill(PaintPath(box), BrushOf(colorTransform, {255, 255, 255, 255}), toDevice, 1, false);
        // A one-pixel frame inside the box, as wide as a device pixel is in twips.
        const double determinant = std::abs(toDevice.determinant());
        const double pixel = determinant > 0 ? 1 / std::sqrt(determinant) : 0;
        QPainterPath frame = box;
        frame.addRect(text.box->adjusted(pixel, pixel, -pixel, -pixel));
        list.Fill(PaintPath(frame), BrushOf(colorTransform, {0, 0, 0, 255}), toDevice, 1, false);
    }
    for (const PreparedText::Run& run : text.runs) {
        const QBrush brush = BrushOf(colorTransform, run.color);
        if (brush.style() != Qt::NoBrush)
            list.Fill(run.area, brush, toDevice, 1, false);
    }
}

QString DisplayedText(const EditText& text, const QString* content) {
    QString shown = content ? *content : text.initialText.value_or(QString());
    if (text.html)
        shown = StripHtml(shown);
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
