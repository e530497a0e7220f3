// Shapes, morph shapes and their fill and line styles.

#include "flash/swf/ReaderContext.h"

#include <algorithm>

namespace flash::reader {

namespace {

// Smallest encodings, so that a count can be checked against the bytes left before anything is
// allocated for it.
constexpr std::size_t MinFillStyleBytes = 3;      // type, empty matrix, empty gradient
constexpr std::size_t MinLineStyleBytes = 5;      // width and an RGB colour
constexpr std::size_t MinMorphFillStyleBytes = 4; // type, two empty matrices, empty gradient
constexpr std::size_t MinMorphLineStyleBytes = 10;

void MakeCurve(ShapeEdge& edge) {
    edge.controlX = (edge.fromX + edge.toX) / 2;
    edge.controlY = (edge.fromY + edge.toY) / 2;
    edge.curved = true;
}

} // namespace

bool Parser::ReadFillStyle(BitReader& r, int shapeVersion, FillStyle& style) {
    const std::uint8_t type = r.U8();
    if (type == 0x00) {
        style.type = FillStyle::Type::Solid;
        style.color = shapeVersion >= 3 ? ReadRgba(r) : ReadRgb(r);
    } else if (FillStyle::IsGradient(FillStyle::Type(type))) {
        style.type = FillStyle::Type(type);
        style.gradient.matrix = ReadMatrix(r);
        const int count = ReadGradientHead(r, style.gradient);
        if (!Room(0, std::size_t(count), sizeof(GradientRecord)))
            return false;
        style.gradient.records.resize(std::size_t(count));
        for (GradientRecord& record : style.gradient.records) {
            record.ratio = r.U8();
            record.color = shapeVersion >= 3 ? ReadRgba(r) : ReadRgb(r);
        }
        if (type == 0x13)
            style.gradient.focalPoint = r.Fixed8();
    } else if (FillStyle::IsBitmapFill(FillStyle::Type(type))) {
        style.type = FillStyle::Type(type);
        style.bitmapId = r.U16();
        style.bitmapMatrix = ReadMatrix(r);
    } else {
        return false;
    }
    return !r.Overrun();
}

bool Parser::ReadLineStyle(BitReader& r, int shapeVersion, LineStyle& style) {
    style.width = r.U16();
    if (shapeVersion < 4) {
        style.color = shapeVersion >= 3 ? ReadRgba(r) : ReadRgb(r);
        return !r.Overrun();
    }
    const bool hasFill = ReadLineStyle2Flags(r, style);
    if (hasFill) {
        FillStyle fill;
        if (!ReadFillStyle(r, 4, fill))
            return false;
        style.fill = std::move(fill);
    } else {
        style.color = ReadRgba(r);
    }
    return !r.Overrun();
}

bool Parser::ReadFillStyles(BitReader& r, int shapeVersion, std::vector<FillStyle>& styles,
                            std::size_t& count) {
    count = r.U8();
    if (count == 0xFF && shapeVersion >= 2)
        count = r.U16();
    if (r.Overrun() || count > r.Remaining() / MinFillStyleBytes ||
        !Room(styles.size(), count, sizeof(FillStyle)))
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        FillStyle style;
        if (!ReadFillStyle(r, shapeVersion, style))
            return false;
        styles.push_back(std::move(style));
    }
    return true;
}

bool Parser::ReadLineStyles(BitReader& r, int shapeVersion, std::vector<LineStyle>& styles,
                            std::size_t& count) {
    count = r.U8();
    if (count == 0xFF)
        count = r.U16();
    if (r.Overrun() || count > r.Remaining() / MinLineStyleBytes ||
        !Room(styles.size(), count, sizeof(LineStyle)))
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        LineStyle style;
        if (!ReadLineStyle(r, shapeVersion, style))
            return false;
        styles.push_back(std::move(style));
    }
    return true;
}

// The records of one SHAPE, from its NumFillBits/NumLineBits on, into edges with absolute twip
// coordinates. withNewStyles is the shape that takes new style arrays (null where records may not
// bring any, as in morph shapes).
bool Parser::ReadShapeRecords(BitReader& r, int shapeVersion, Shape* withNewStyles, StyleGroup group,
                              std::vector<ShapeEdge>& edges) {
    r.Align();
    int fillBits = int(r.UB(4));
    int lineBits = int(r.UB(4));
    std::int64_t x = 0, y = 0;
    std::uint32_t fill0 = 0, fill1 = 0, line = 0;
    for (;;) {
        // A shape that ends with its tag, without the end record, is complete all the same.
        if (r.RemainingBits() < 6)
            return !r.Overrun();
        if (r.UB(1) == 0) {
            const std::uint32_t flags = r.UB(5);
            if (flags == 0)
                return !r.Overrun();
            if (flags & 0x01) {
                const int bits = int(r.UB(5));
                x = r.SB(bits);
                y = r.SB(bits);
            }
            if (flags & 0x02)
                fill0 = r.UB(fillBits);
            if (flags & 0x04)
                fill1 = r.UB(fillBits);
            if (flags & 0x08)
                line = r.UB(lineBits);
            if (flags & 0x10) {
                if (withNewStyles == nullptr)
                    return false;
                // Numbers given in this same record already refer to the new arrays.
                group.fillBase = withNewStyles->fillStyles.size();
                group.lineBase = withNewStyles->lineStyles.size();
                // Each style array paints its fills and lines above the earlier arrays.
                withNewStyles->newStyleArrays.push_back(
                    {std::uint32_t(group.fillBase), std::uint32_t(group.lineBase)});
                if (!ReadFillStyles(r, shapeVersion, withNewStyles->fillStyles, group.fillCount) ||
                    !ReadLineStyles(r, shapeVersion, withNewStyles->lineStyles, group.lineCount))
                    return false;
                fillBits = int(r.UB(4));
                lineBits = int(r.UB(4));
                if (!(flags & 0x02))
                    fill0 = 0;
                if (!(flags & 0x04))
                    fill1 = 0;
                if (!(flags & 0x08))
                    line = 0;
            }
            if (r.Overrun())
                return false;
            continue;
        }
        ShapeEdge edge;
        edge.fromX = double(x);
        edge.fromY = double(y);
        const bool straight = r.UB(1);
        const int bits = int(r.UB(4)) + 2;
        if (straight) {
            std::int64_t dx = 0, dy = 0;
            if (r.UB(1)) {
                dx = r.SB(bits);
                dy = r.SB(bits);
            } else if (r.UB(1)) {
                dy = r.SB(bits);
            } else {
                dx = r.SB(bits);
            }
            x += dx;
            y += dy;
        } else {
            x += r.SB(bits);
            y += r.SB(bits);
            edge.controlX = double(x);
            edge.controlY = double(y);
            x += r.SB(bits);
            y += r.SB(bits);
            edge.curved = true;
        }
        if (r.Overrun())
            return false;
        edge.toX = double(x);
        edge.toY = double(y);
        edge.fill0 = group.Fill(fill0);
        edge.fill1 = group.Fill(fill1);
        edge.line = group.Line(line);
        if (!Push(edges, std::move(edge)))
            return false;
    }
}

bool Parser::ReadShape(BitReader& r, int version, std::uint16_t id) {
    Shape shape;
    shape.bounds = ReadRect(r);
    if (version >= 4) {
        shape.edgeBounds = ReadRect(r);
        shape.nonZeroWinding = r.U8() & 0x04;
    }
    StyleGroup group;
    if (!ReadFillStyles(r, version, shape.fillStyles, group.fillCount) ||
        !ReadLineStyles(r, version, shape.lineStyles, group.lineCount))
        return false;
    if (!ReadShapeRecords(r, version, &shape, group, shape.edges))
        return false;
    Define(id, std::make_shared<Character>(std::move(shape)));
    return true;
}

bool Parser::ReadMorphFillStyle(BitReader& r, FillStyle& start, FillStyle& end) {
    const std::uint8_t type = r.U8();
    if (type == 0x00) {
        start.color = ReadRgba(r);
        end.color = ReadRgba(r);
    } else if (FillStyle::IsGradient(FillStyle::Type(type))) {
        start.gradient.matrix = ReadMatrix(r);
        end.gradient.matrix = ReadMatrix(r);
        const int count = ReadGradientHead(r, start.gradient);
        end.gradient.spread = start.gradient.spread;
        end.gradient.interpolation = start.gradient.interpolation;
        if (!Room(0, std::size_t(count) * 2, sizeof(GradientRecord)))
            return false;
        start.gradient.records.resize(std::size_t(count));
        end.gradient.records.resize(std::size_t(count));
        for (int i = 0; i < count; ++i) {
            start.gradient.records[i].ratio = r.U8();
            start.gradient.records[i].color = ReadRgba(r);
            end.gradient.records[i].ratio = r.U8();
            end.gradient.records[i].color = ReadRgba(r);
        }
        if (type == 0x13) {
            start.gradient.focalPoint = r.Fixed8();
            end.gradient.focalPoint = r.Fixed8();
        }
    } else if (FillStyle::IsBitmapFill(FillStyle::Type(type))) {
        start.bitmapId = end.bitmapId = r.U16();
        start.bitmapMatrix = ReadMatrix(r);
        end.bitmapMatrix = ReadMatrix(r);
    } else {
        return false;
    }
    start.type = end.type = FillStyle::Type(type);
    return !r.Overrun();
}

bool Parser::ReadMorphLineStyle(BitReader& r, int version, LineStyle& start, LineStyle& end) {
    start.width = r.U16();
    end.width = r.U16();
    if (version < 2) {
        start.color = ReadRgba(r);
        end.color = ReadRgba(r);
        return !r.Overrun();
    }
    const bool hasFill = ReadLineStyle2Flags(r, start);
    const std::uint16_t endWidth = end.width;
    end = start;
    end.width = endWidth;
    if (hasFill) {
        FillStyle startFill, endFill;
        if (!ReadMorphFillStyle(r, startFill, endFill))
            return false;
        start.fill = std::move(startFill);
        end.fill = std::move(endFill);
    } else {
        start.color = ReadRgba(r);
        end.color = ReadRgba(r);
    }
    return !r.Overrun();
}

bool Parser::ReadMorphShape(BitReader& r, int version, std::uint16_t id) {
    MorphShape morph;
    morph.startBounds = ReadRect(r);
    morph.endBounds = ReadRect(r);
    if (version >= 2) {
        ReadRect(r); // edge bounds, start and end
        ReadRect(r);
        r.U8(); // stroke scaling flags
    }
    const std::size_t offset = r.U32();
    if (r.Overrun() || offset > r.Remaining())
        return false;
    // The end edges sit at the offset; the start edges fill the space before them.
    BitReader startPart = offset > 0 ? r.Sub(offset) : r;
    BitReader endPart = offset > 0 ? r : BitReader();

    std::size_t count = startPart.U8();
    if (count == 0xFF)
        count = startPart.U16();
    if (startPart.Overrun() || count > startPart.Remaining() / MinMorphFillStyleBytes ||
        !Room(0, count * 2, sizeof(FillStyle)))
        return false;
    morph.startFillStyles.resize(count);
    morph.endFillStyles.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        if (!ReadMorphFillStyle(startPart, morph.startFillStyles[i], morph.endFillStyles[i]))
            return false;

    count = startPart.U8();
    if (count == 0xFF)
        count = startPart.U16();
    if (startPart.Overrun() || count > startPart.Remaining() / MinMorphLineStyleBytes ||
        !Room(0, count * 2, sizeof(LineStyle)))
        return false;
    morph.startLineStyles.resize(count);
    morph.endLineStyles.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        if (!ReadMorphLineStyle(startPart, version, morph.startLineStyles[i], morph.endLineStyles[i]))
            return false;

    StyleGroup group;
    group.fillCount = morph.startFillStyles.size();
    group.lineCount = morph.startLineStyles.size();
    if (!ReadShapeRecords(startPart, 3, nullptr, group, morph.startEdges))
        return false;
    if (offset == 0)
        endPart = startPart;
    if (!ReadShapeRecords(endPart, 3, nullptr, StyleGroup(), morph.endEdges))
        return false;

    if (morph.startEdges.size() != morph.endEdges.size()) {
        Warn(QStringLiteral("morph edges"),
             QStringLiteral(
                 "morph shape %1 has %2 start edges and %3 end edges; the unpaired ones are dropped")
                 .arg(id)
                 .arg(morph.startEdges.size())
                 .arg(morph.endEdges.size()));
        const std::size_t paired = std::min(morph.startEdges.size(), morph.endEdges.size());
        morph.startEdges.resize(paired);
        morph.endEdges.resize(paired);
    }
    for (std::size_t i = 0; i < morph.startEdges.size(); ++i) {
        ShapeEdge& start = morph.startEdges[i];
        ShapeEdge& end = morph.endEdges[i];
        end.fill0 = start.fill0;
        end.fill1 = start.fill1;
        end.line = start.line;
        if (start.curved && !end.curved)
            MakeCurve(end);
        else if (end.curved && !start.curved)
            MakeCurve(start);
    }
    Define(id, std::make_shared<Character>(std::move(morph)));
    return true;
}

} // namespace flash::reader
