#include "flash/render/Text.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>

namespace flash {
namespace {

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
    Faces faces(GlyphPath);
    Ink ink;
    const FieldLayout layout = LayOutField(text, movie, content, faces);
    // Lines above the first scrolled to are hidden, the rest moved up and left as scrolled.
    const int first = std::clamp<int>(text.scrollLines, 0, std::max<int>(0, int(layout.lines.size()) - 1));
    const QPointF shift(-double(text.scrollX), -ScrollOffset(layout, first));
    for (std::size_t i = std::size_t(first); i < layout.lines.size(); ++i) {
        const LaidLine& line = layout.lines[i];
        for (const LaidPiece& piece : line.pieces) {
            QPainterPath path;
            const QPointF pen = QPointF(piece.x, line.baseline) + shift;
            piece.face->Draw(piece.text, pen, path);
            if (piece.underline) {
                // A line a twentieth of the text's height thick, just under the baseline.
                const double thickness = std::max(20.0, (piece.face->ascent + piece.face->descent) / 20);
                path.addRect(pen.x(), pen.y() + thickness, piece.advance, thickness);
            }
            ink.Add(piece.color, path);
        }
    }
    const Rect& b = text.bounds;
    const QRectF bounds(b.xMin, b.yMin, b.Width(), b.Height());
    PreparedText prepared = ink.Finish(QTransform(), layout.clipped ? std::optional(bounds) : std::nullopt);
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

} // namespace flash
