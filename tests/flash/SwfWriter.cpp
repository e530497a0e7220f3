#include "SwfWriter.h"

#include <QBuffer>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <lzma.h>
#include <stdexcept>
#include <zlib.h>

namespace flash::writer {

// --- Bits ---

Bits& Bits::U8(std::uint32_t value) {
    Align();
    bytes.append(char(value & 0xFF));
    return *this;
}

Bits& Bits::U16(std::uint32_t value) {
    return U8(value).U8(value >> 8);
}

Bits& Bits::U32(std::uint32_t value) {
    return U16(value & 0xFFFF).U16(value >> 16);
}

Bits& Bits::Fixed8(double value) {
    return S16(std::int32_t(std::lround(value * 256)));
}

Bits& Bits::Bytes(const QByteArray& data) {
    Align();
    bytes.append(data);
    return *this;
}

Bits& Bits::String(const QString& text) {
    return Bytes(text.toUtf8()).U8(0);
}

Bits& Bits::UB(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        if (bitPos == 0)
            bytes.append('\0');
        if ((value >> i) & 1)
            bytes[bytes.size() - 1] = char(bytes[bytes.size() - 1] | (0x80 >> bitPos));
        bitPos = (bitPos + 1) & 7;
    }
    return *this;
}

Bits& Bits::SB(std::int64_t value, int bits) {
    if (bits < 32 && SignedBits(value) > bits)
        throw std::invalid_argument("value does not fit its bit field");
    const std::uint64_t mask = bits >= 32 ? 0xFFFFFFFFu : (std::uint64_t(1) << bits) - 1;
    return UB(std::uint32_t(std::uint64_t(value) & mask), bits);
}

int Bits::SignedBits(std::int64_t value) {
    if (value == 0)
        return 0;
    int bits = 1;
    while (value < -(std::int64_t(1) << (bits - 1)) || value >= (std::int64_t(1) << (bits - 1)))
        ++bits;
    return bits;
}

int Bits::UnsignedBits(std::uint64_t value) {
    int bits = 0;
    while (value >> bits)
        ++bits;
    return bits;
}

std::int64_t Bits::FixedBits(double value) {
    return std::llround(value * 65536);
}

Bits& Bits::RgbColor(const Rgba& color) {
    return U8(color.r).U8(color.g).U8(color.b);
}

Bits& Bits::RgbaColor(const Rgba& color) {
    return RgbColor(color).U8(color.a);
}

Bits& Bits::RectField(const Rect& rect) {
    const int bits = std::max(
        {SignedBits(rect.xMin), SignedBits(rect.xMax), SignedBits(rect.yMin), SignedBits(rect.yMax)});
    Align();
    UB(std::uint32_t(bits), 5)
        .SB(rect.xMin, bits)
        .SB(rect.xMax, bits)
        .SB(rect.yMin, bits)
        .SB(rect.yMax, bits);
    return Align();
}

Bits& Bits::MatrixField(const Matrix& m) {
    Align();
    if (m.a != 1 || m.d != 1) {
        const int bits = std::max(SignedBits(FixedBits(m.a)), SignedBits(FixedBits(m.d)));
        UB(1, 1).UB(std::uint32_t(bits), 5).FB(m.a, bits).FB(m.d, bits);
    } else {
        UB(0, 1);
    }
    if (m.b != 0 || m.c != 0) {
        const int bits = std::max(SignedBits(FixedBits(m.b)), SignedBits(FixedBits(m.c)));
        UB(1, 1).UB(std::uint32_t(bits), 5).FB(m.b, bits).FB(m.c, bits);
    } else {
        UB(0, 1);
    }
    const auto tx = std::llround(m.tx), ty = std::llround(m.ty);
    const int bits = std::max(SignedBits(tx), SignedBits(ty));
    UB(std::uint32_t(bits), 5).SB(tx, bits).SB(ty, bits);
    return Align();
}

Bits& Bits::ColorTransformField(const ColorTransform& t, bool withAlpha) {
    std::vector<std::int64_t> mul = {std::llround(t.rMul * 256), std::llround(t.gMul * 256),
                                     std::llround(t.bMul * 256)};
    std::vector<std::int64_t> add = {std::llround(t.rAdd), std::llround(t.gAdd), std::llround(t.bAdd)};
    if (withAlpha) {
        mul.push_back(std::llround(t.aMul * 256));
        add.push_back(std::llround(t.aAdd));
    }
    const bool hasMul = std::any_of(mul.begin(), mul.end(), [](std::int64_t v) { return v != 256; });
    const bool hasAdd = std::any_of(add.begin(), add.end(), [](std::int64_t v) { return v != 0; });
    int bits = 0;
    for (std::int64_t v : mul)
        bits = std::max(bits, hasMul ? SignedBits(v) : 0);
    for (std::int64_t v : add)
        bits = std::max(bits, hasAdd ? SignedBits(v) : 0);
    Align();
    UB(hasAdd, 1).UB(hasMul, 1).UB(std::uint32_t(bits), 4);
    if (hasMul)
        for (std::int64_t v : mul)
            SB(v, bits);
    if (hasAdd)
        for (std::int64_t v : add)
            SB(v, bits);
    return Align();
}

// --- Styles ---

FillStyle Solid(const Rgba& color) {
    FillStyle style;
    style.color = color;
    return style;
}

FillStyle GradientFill(FillStyle::Type type, const Matrix& matrix, std::vector<GradientRecord> records,
                       Gradient::Spread spread, Gradient::Interpolation interpolation, double focalPoint) {
    FillStyle style;
    style.type = type;
    style.gradient.matrix = matrix;
    style.gradient.records = std::move(records);
    style.gradient.spread = spread;
    style.gradient.interpolation = interpolation;
    style.gradient.focalPoint = focalPoint;
    return style;
}

FillStyle BitmapFill(std::uint16_t bitmapId, const Matrix& matrix, FillStyle::Type type) {
    FillStyle style;
    style.type = type;
    style.bitmapId = bitmapId;
    style.bitmapMatrix = matrix;
    return style;
}

LineStyle Line(std::uint16_t width, const Rgba& color) {
    LineStyle style;
    style.width = width;
    style.color = color;
    return style;
}

namespace {

void WriteColor(Bits& out, const Rgba& color, bool withAlpha) {
    if (withAlpha)
        out.RgbaColor(color);
    else
        out.RgbColor(color);
}

std::uint32_t GradientHead(const Gradient& gradient, std::size_t count, bool withModes) {
    std::uint32_t head = std::uint32_t(count);
    if (withModes)
        head |= std::uint32_t(gradient.spread) << 6 | std::uint32_t(gradient.interpolation) << 4;
    return head;
}

void WriteLineFlags(Bits& out, const LineStyle& style) {
    out.UB(std::uint32_t(style.startCap), 2)
        .UB(std::uint32_t(style.join), 2)
        .UB(style.fill.has_value(), 1)
        .UB(style.noHScale, 1)
        .UB(style.noVScale, 1)
        .UB(style.pixelHinting, 1)
        .UB(0, 5)
        .UB(style.noClose, 1)
        .UB(std::uint32_t(style.endCap), 2);
    if (style.join == LineStyle::Join::Miter)
        out.U16(std::uint32_t(std::lround(style.miterLimit * 256)));
}

void WriteStyleCount(Bits& out, std::size_t count, bool extended) {
    if (count >= 0xFF && extended)
        out.U8(0xFF).U16(std::uint32_t(count));
    else
        out.U8(std::uint32_t(count));
}

} // namespace

void WriteFillStyle(Bits& out, const FillStyle& style, int shapeVersion) {
    out.U8(std::uint32_t(style.type));
    switch (style.type) {
    case FillStyle::Type::Solid:
        WriteColor(out, style.color, shapeVersion >= 3);
        break;
    case FillStyle::Type::LinearGradient:
    case FillStyle::Type::RadialGradient:
    case FillStyle::Type::FocalRadialGradient:
        out.MatrixField(style.gradient.matrix);
        out.U8(GradientHead(style.gradient, style.gradient.records.size(), shapeVersion >= 4));
        for (const GradientRecord& record : style.gradient.records) {
            out.U8(record.ratio);
            WriteColor(out, record.color, shapeVersion >= 3);
        }
        if (style.type == FillStyle::Type::FocalRadialGradient)
            out.Fixed8(style.gradient.focalPoint);
        break;
    default:
        out.U16(style.bitmapId).MatrixField(style.bitmapMatrix);
        break;
    }
}

void WriteLineStyle(Bits& out, const LineStyle& style, int shapeVersion) {
    out.U16(style.width);
    if (shapeVersion < 4) {
        WriteColor(out, style.color, shapeVersion >= 3);
        return;
    }
    WriteLineFlags(out, style);
    if (style.fill)
        WriteFillStyle(out, *style.fill, 4);
    else
        out.RgbaColor(style.color);
}

// --- Shape records ---

ShapeRecords::StyleChange& ShapeRecords::Change() {
    if (records.empty() || !std::holds_alternative<StyleChange>(records.back()))
        records.emplace_back(StyleChange());
    return std::get<StyleChange>(records.back());
}

ShapeRecords& ShapeRecords::MoveTo(std::int32_t x, std::int32_t y) {
    if (Change().move)
        records.emplace_back(StyleChange());
    Change().move = {x, y};
    return *this;
}

ShapeRecords& ShapeRecords::Fill0(std::uint32_t number) {
    if (Change().fill0)
        records.emplace_back(StyleChange());
    Change().fill0 = number;
    return *this;
}

ShapeRecords& ShapeRecords::Fill1(std::uint32_t number) {
    if (Change().fill1)
        records.emplace_back(StyleChange());
    Change().fill1 = number;
    return *this;
}

ShapeRecords& ShapeRecords::Line(std::uint32_t number) {
    if (Change().line)
        records.emplace_back(StyleChange());
    Change().line = number;
    return *this;
}

ShapeRecords& ShapeRecords::NewStyles(std::vector<FillStyle> fills, std::vector<LineStyle> lines) {
    if (Change().newStyles)
        records.emplace_back(StyleChange());
    Change().newStyles = std::make_pair(std::move(fills), std::move(lines));
    return *this;
}

ShapeRecords& ShapeRecords::LineTo(std::int32_t x, std::int32_t y) {
    records.emplace_back(Edge{false, 0, 0, x, y});
    return *this;
}

ShapeRecords& ShapeRecords::CurveTo(std::int32_t controlX, std::int32_t controlY, std::int32_t x,
                                    std::int32_t y) {
    records.emplace_back(Edge{true, controlX, controlY, x, y});
    return *this;
}

ShapeRecords& ShapeRecords::Box(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    return MoveTo(x0, y0).LineTo(x1, y0).LineTo(x1, y1).LineTo(x0, y1).LineTo(x0, y0);
}

void ShapeRecords::Write(Bits& out, int shapeVersion, std::size_t fillCount, std::size_t lineCount) const {
    // Index bits per style group: enough for the group's arrays and every number written with them.
    // The numbers of the record that brings new styles are still written with the bits before it.
    std::vector<std::pair<int, int>> groupBits{
        {Bits::UnsignedBits(fillCount), Bits::UnsignedBits(lineCount)}};
    for (const auto& record : records) {
        if (const auto* change = std::get_if<StyleChange>(&record)) {
            auto& [fillBits, lineBits] = groupBits.back();
            for (const auto& number : {change->fill0, change->fill1})
                if (number)
                    fillBits = std::max(fillBits, Bits::UnsignedBits(*number));
            if (change->line)
                lineBits = std::max(lineBits, Bits::UnsignedBits(*change->line));
            if (change->newStyles)
                groupBits.emplace_back(Bits::UnsignedBits(change->newStyles->first.size()),
                                       Bits::UnsignedBits(change->newStyles->second.size()));
        }
    }

    std::size_t group = 0;
    auto [fillBits, lineBits] = groupBits[0];
    out.Align();
    out.UB(std::uint32_t(fillBits), 4).UB(std::uint32_t(lineBits), 4);
    std::int64_t x = 0, y = 0;
    for (const auto& record : records) {
        if (const auto* change = std::get_if<StyleChange>(&record)) {
            const std::uint32_t flags = (change->newStyles ? 0x10 : 0) | (change->line ? 0x08 : 0) |
                                        (change->fill1 ? 0x04 : 0) | (change->fill0 ? 0x02 : 0) |
                                        (change->move ? 0x01 : 0);
            if (flags == 0)
                continue;
            out.UB(0, 1).UB(flags, 5);
            if (change->move) {
                x = change->move->first;
                y = change->move->second;
                const int bits = std::max(Bits::SignedBits(x), Bits::SignedBits(y));
                out.UB(std::uint32_t(bits), 5).SB(x, bits).SB(y, bits);
            }
            if (change->fill0)
                out.UB(*change->fill0, fillBits);
            if (change->fill1)
                out.UB(*change->fill1, fillBits);
            if (change->line)
                out.UB(*change->line, lineBits);
            if (change->newStyles) {
                WriteStyleCount(out, change->newStyles->first.size(), shapeVersion >= 2);
                for (const FillStyle& style : change->newStyles->first)
                    WriteFillStyle(out, style, shapeVersion);
                WriteStyleCount(out, change->newStyles->second.size(), true);
                for (const LineStyle& style : change->newStyles->second)
                    WriteLineStyle(out, style, shapeVersion);
                std::tie(fillBits, lineBits) = groupBits[++group];
                out.UB(std::uint32_t(fillBits), 4).UB(std::uint32_t(lineBits), 4);
            }
            continue;
        }
        const Edge& edge = std::get<Edge>(record);
        if (edge.curved) {
            const std::int64_t deltas[] = {edge.controlX - x, edge.controlY - y, edge.x - edge.controlX,
                                           edge.y - edge.controlY};
            int bits = 2;
            for (std::int64_t d : deltas)
                bits = std::max(bits, Bits::SignedBits(d));
            if (bits > 17)
                throw std::invalid_argument("edge too long for one record");
            out.UB(1, 1).UB(0, 1).UB(std::uint32_t(bits - 2), 4);
            for (std::int64_t d : deltas)
                out.SB(d, bits);
        } else {
            const std::int64_t dx = edge.x - x, dy = edge.y - y;
            const int bits = std::max({2, Bits::SignedBits(dx), Bits::SignedBits(dy)});
            if (bits > 17)
                throw std::invalid_argument("edge too long for one record");
            out.UB(1, 1).UB(1, 1).UB(std::uint32_t(bits - 2), 4);
            if (dx != 0 && dy != 0)
                out.UB(1, 1).SB(dx, bits).SB(dy, bits);
            else if (dx == 0)
                out.UB(0, 1).UB(1, 1).SB(dy, bits);
            else
                out.UB(0, 1).UB(0, 1).SB(dx, bits);
        }
        x = edge.x;
        y = edge.y;
    }
    out.UB(0, 1).UB(0, 5).Align();
}

// --- Tags ---

QByteArray Tag(std::uint16_t code, const QByteArray& body, bool longHeader) {
    Bits out;
    if (body.size() < 0x3F && !longHeader) {
        out.U16(std::uint32_t(code) << 6 | std::uint32_t(body.size()));
    } else {
        out.U16(std::uint32_t(code) << 6 | 0x3F).U32(std::uint32_t(body.size()));
    }
    return out.Bytes(body).Data();
}

QByteArray End() {
    return Tag(tag::End, {});
}

QByteArray ShowFrame() {
    return Tag(tag::ShowFrame, {});
}

QByteArray DefineShape(const ShapeDefinition& shape) {
    static constexpr std::uint16_t Codes[] = {tag::DefineShape, tag::DefineShape2, tag::DefineShape3,
                                              tag::DefineShape4};
    Bits out;
    out.U16(shape.id).RectField(shape.bounds);
    if (shape.version >= 4)
        out.RectField(shape.edgeBounds).U8(shape.nonZeroWinding ? 0x04 : 0);
    WriteStyleCount(out, shape.fills.size(), shape.version >= 2);
    for (const FillStyle& style : shape.fills)
        WriteFillStyle(out, style, shape.version);
    WriteStyleCount(out, shape.lines.size(), true);
    for (const LineStyle& style : shape.lines)
        WriteLineStyle(out, style, shape.version);
    shape.records.Write(out, shape.version, shape.fills.size(), shape.lines.size());
    return Tag(Codes[std::clamp(shape.version, 1, 4) - 1], out.Data());
}

namespace {

void WriteMorphFill(Bits& out, const FillStyle& start, const FillStyle& end, int version) {
    out.U8(std::uint32_t(start.type));
    switch (start.type) {
    case FillStyle::Type::Solid:
        out.RgbaColor(start.color).RgbaColor(end.color);
        break;
    case FillStyle::Type::LinearGradient:
    case FillStyle::Type::RadialGradient:
    case FillStyle::Type::FocalRadialGradient: {
        out.MatrixField(start.gradient.matrix).MatrixField(end.gradient.matrix);
        const std::size_t count = start.gradient.records.size();
        out.U8(GradientHead(start.gradient, count, version >= 2));
        for (std::size_t i = 0; i < count; ++i) {
            out.U8(start.gradient.records[i].ratio).RgbaColor(start.gradient.records[i].color);
            out.U8(end.gradient.records[i].ratio).RgbaColor(end.gradient.records[i].color);
        }
        if (start.type == FillStyle::Type::FocalRadialGradient)
            out.Fixed8(start.gradient.focalPoint).Fixed8(end.gradient.focalPoint);
        break;
    }
    default:
        out.U16(start.bitmapId).MatrixField(start.bitmapMatrix).MatrixField(end.bitmapMatrix);
        break;
    }
}

void WriteMorphLine(Bits& out, const LineStyle& start, const LineStyle& end, int version) {
    out.U16(start.width).U16(end.width);
    if (version >= 2) {
        WriteLineFlags(out, start);
        if (start.fill) {
            WriteMorphFill(out, *start.fill, end.fill ? *end.fill : *start.fill, version);
            return;
        }
    }
    out.RgbaColor(start.color).RgbaColor(end.color);
}

} // namespace

QByteArray DefineMorphShape(const MorphDefinition& morph) {
    Bits head;
    head.U16(morph.id).RectField(morph.startBounds).RectField(morph.endBounds);
    if (morph.version >= 2)
        head.RectField(morph.startBounds).RectField(morph.endBounds).U8(0);

    Bits rest;
    WriteStyleCount(rest, morph.startFills.size(), true);
    for (std::size_t i = 0; i < morph.startFills.size(); ++i)
        WriteMorphFill(rest, morph.startFills[i], morph.endFills.at(i), morph.version);
    WriteStyleCount(rest, morph.startLines.size(), true);
    for (std::size_t i = 0; i < morph.startLines.size(); ++i)
        WriteMorphLine(rest, morph.startLines[i], morph.endLines.at(i), morph.version);
    morph.start.Write(rest, 3, morph.startFills.size(), morph.startLines.size());
    const auto offset = std::uint32_t(rest.Size());
    morph.end.Write(rest, 3, 0, 0);

    head.U32(offset).Bytes(rest.Data());
    return Tag(morph.version >= 2 ? tag::DefineMorphShape2 : tag::DefineMorphShape, head.Data());
}

QByteArray JpegTables(const QByteArray& tables) {
    return Tag(tag::JpegTables, tables);
}

QByteArray DefineBits(std::uint16_t id, const QByteArray& jpeg) {
    return Tag(tag::DefineBits, Bits().U16(id).Bytes(jpeg).Data());
}

QByteArray DefineVideoStreamTag(std::uint16_t id, const VideoStream& video) {
    const std::uint32_t flags = std::uint32_t((video.deblocking & 7) << 1) | (video.smoothing ? 1 : 0);
    return Tag(tag::DefineVideoStream, Bits()
                                           .U16(id)
                                           .U16(video.numFrames)
                                           .U16(video.width)
                                           .U16(video.height)
                                           .U8(flags)
                                           .U8(video.codecId)
                                           .Data());
}

QByteArray VideoFrameTag(std::uint16_t streamId, std::uint16_t frameNumber, const QByteArray& data) {
    return Tag(tag::VideoFrame, Bits().U16(streamId).U16(frameNumber).Bytes(data).Data());
}

QByteArray DefineBitsJpeg2(std::uint16_t id, const QByteArray& image) {
    return Tag(tag::DefineBitsJpeg2, Bits().U16(id).Bytes(image).Data());
}

QByteArray DefineBitsJpeg3(std::uint16_t id, const QByteArray& image, const QByteArray& alphaZlib) {
    return Tag(tag::DefineBitsJpeg3,
               Bits().U16(id).U32(std::uint32_t(image.size())).Bytes(image).Bytes(alphaZlib).Data());
}

QByteArray DefineBitsJpeg4(std::uint16_t id, const QByteArray& image, const QByteArray& alphaZlib,
                           double deblocking) {
    return Tag(tag::DefineBitsJpeg4, Bits()
                                         .U16(id)
                                         .U32(std::uint32_t(image.size()))
                                         .U16(std::uint32_t(std::lround(deblocking * 256)))
                                         .Bytes(image)
                                         .Bytes(alphaZlib)
                                         .Data());
}

QByteArray DefineBitsLossless(int version, std::uint16_t id, std::uint8_t format, std::uint16_t width,
                              std::uint16_t height, const QByteArray& zlibData, std::uint8_t colorTableSize) {
    Bits out;
    out.U16(id).U8(format).U16(width).U16(height);
    if (format == 3)
        out.U8(colorTableSize);
    out.Bytes(zlibData);
    return Tag(version >= 2 ? tag::DefineBitsLossless2 : tag::DefineBitsLossless, out.Data());
}

QByteArray DefineSound(std::uint16_t id, const SoundFormat& format, std::uint32_t sampleCount,
                       const QByteArray& data) {
    Bits out;
    out.U16(id).UB(format.codec, 4).UB(format.rateCode, 2).UB(format.is16Bit, 1).UB(format.stereo, 1);
    out.U32(sampleCount).Bytes(data);
    return Tag(tag::DefineSound, out.Data());
}

namespace {
void WriteSoundInfo(Bits& out, const SoundInfo& info) {
    out.UB(0, 2)
        .UB(info.syncStop, 1)
        .UB(info.syncNoMultiple, 1)
        .UB(!info.envelope.empty(), 1)
        .UB(info.loopCount != 1, 1)
        .UB(info.outPoint.has_value(), 1)
        .UB(info.inPoint.has_value(), 1);
    if (info.inPoint)
        out.U32(*info.inPoint);
    if (info.outPoint)
        out.U32(*info.outPoint);
    if (info.loopCount != 1)
        out.U16(info.loopCount);
    if (!info.envelope.empty()) {
        out.U8(std::uint32_t(info.envelope.size()));
        for (const SoundEnvelopePoint& point : info.envelope)
            out.U32(point.position44).U16(point.leftLevel).U16(point.rightLevel);
    }
}
} // namespace

QByteArray StartSoundTag(const StartSound& start, int version) {
    Bits out;
    if (version >= 2)
        out.String(start.className);
    else
        out.U16(start.soundId);
    WriteSoundInfo(out, start.info);
    return Tag(version >= 2 ? tag::StartSound2 : tag::StartSound, out.Data());
}

QByteArray SoundStreamHeadTag(const SoundStreamHead& head, int version) {
    Bits out;
    const SoundFormat& play = head.playbackFormat;
    const SoundFormat& stream = head.streamFormat;
    out.UB(0, 4).UB(play.rateCode, 2).UB(play.is16Bit, 1).UB(play.stereo, 1);
    out.UB(stream.codec, 4).UB(stream.rateCode, 2).UB(stream.is16Bit, 1).UB(stream.stereo, 1);
    out.U16(head.samplesPerBlock);
    if (stream.codec == 2)
        out.S16(head.latencySeek);
    return Tag(version >= 2 ? tag::SoundStreamHead2 : tag::SoundStreamHead, out.Data());
}

QByteArray SoundStreamBlockTag(const QByteArray& data) {
    return Tag(tag::SoundStreamBlock, data);
}

QByteArray DefineSprite(std::uint16_t id, std::uint16_t frameCount, const QByteArray& tags) {
    return Tag(tag::DefineSprite, Bits().U16(id).U16(frameCount).Bytes(tags).Bytes(End()).Data());
}

PlaceObject Place(std::uint16_t characterId, std::uint16_t depth, int version) {
    PlaceObject place;
    place.characterId = characterId;
    place.depth = depth;
    place.version = version;
    if (version == 1)
        place.matrix = Matrix();
    return place;
}

namespace {

void WriteFilter(Bits& out, const Filter& f) {
    auto color = [&](std::size_t i) { out.RgbaColor(i < f.colors.size() ? f.colors[i] : Rgba{}); };
    auto fixed = [&](double v) { out.U32(std::uint32_t(Bits::FixedBits(v))); };
    auto floats = [&](double v) { out.U32(std::bit_cast<std::uint32_t>(float(v))); };
    auto flags = [&](bool withOnTop) {
        out.Fixed8(f.strength).UB(f.inner, 1).UB(f.knockout, 1).UB(f.compositeSource, 1);
        if (withOnTop)
            out.UB(f.onTop, 1).UB(std::uint32_t(f.passes), 4);
        else
            out.UB(std::uint32_t(f.passes), 5);
    };
    out.U8(std::uint8_t(f.kind));
    switch (f.kind) {
    case Filter::Kind::DropShadow:
        color(0);
        fixed(f.blurX), fixed(f.blurY), fixed(f.angle), fixed(f.distance);
        flags(false);
        break;
    case Filter::Kind::Blur:
        fixed(f.blurX), fixed(f.blurY);
        out.UB(std::uint32_t(f.passes), 5).UB(0, 3);
        break;
    case Filter::Kind::Glow:
        color(0);
        fixed(f.blurX), fixed(f.blurY);
        flags(false);
        break;
    case Filter::Kind::Bevel:
        color(0), color(1);
        fixed(f.blurX), fixed(f.blurY), fixed(f.angle), fixed(f.distance);
        flags(true);
        break;
    case Filter::Kind::GradientGlow:
    case Filter::Kind::GradientBevel:
        out.U8(std::uint32_t(f.colors.size()));
        for (std::size_t i = 0; i < f.colors.size(); ++i)
            color(i);
        for (std::size_t i = 0; i < f.colors.size(); ++i)
            out.U8(i < f.ratios.size() ? f.ratios[i] : 0);
        fixed(f.blurX), fixed(f.blurY), fixed(f.angle), fixed(f.distance);
        flags(true);
        break;
    case Filter::Kind::Convolution:
        out.U8(std::uint32_t(f.matrixX)).U8(std::uint32_t(f.matrixY));
        floats(f.divisor), floats(f.bias);
        for (float v : f.matrix)
            floats(v);
        out.RgbaColor(f.defaultColor).UB(0, 6).UB(f.clamp, 1).UB(f.preserveAlpha, 1);
        break;
    case Filter::Kind::ColorMatrix:
        for (float v : f.matrix)
            floats(v);
        break;
    }
}

} // namespace

QByteArray FilterListBytes(const FilterList& filters) {
    Bits out;
    out.U8(std::uint32_t(filters.size()));
    for (const Filter& f : filters)
        WriteFilter(out, f);
    return out.Data();
}

QByteArray PlaceObjectTag(const PlaceObject& place, const std::optional<QByteArray>& rawFilters) {
    Bits out;
    if (place.version == 1) {
        out.U16(place.characterId.value_or(0)).U16(place.depth).MatrixField(place.matrix.value_or(Matrix()));
        if (place.colorTransform)
            out.ColorTransformField(*place.colorTransform, false);
        return Tag(tag::PlaceObject, out.Data());
    }
    const std::uint32_t flags = (place.clipActions.empty() ? 0 : 0x80) | (place.clipDepth ? 0x40 : 0) |
                                (place.name ? 0x20 : 0) | (place.ratio ? 0x10 : 0) |
                                (place.colorTransform ? 0x08 : 0) | (place.matrix ? 0x04 : 0) |
                                (place.characterId ? 0x02 : 0) | (place.move ? 0x01 : 0);
    out.U8(flags);
    if (place.version >= 3)
        out.U8((place.backgroundColor ? 0x40 : 0) | (place.visible ? 0x20 : 0) |
               (place.blendMode ? 0x02 : 0) | (place.filters.empty() && !rawFilters ? 0 : 0x01));
    out.U16(place.depth);
    if (place.characterId)
        out.U16(*place.characterId);
    if (place.matrix)
        out.MatrixField(*place.matrix);
    if (place.colorTransform)
        out.ColorTransformField(*place.colorTransform, true);
    if (place.ratio)
        out.U16(*place.ratio);
    if (place.name)
        out.String(*place.name);
    if (place.clipDepth)
        out.U16(*place.clipDepth);
    if (place.version >= 3) {
        if (rawFilters)
            out.Bytes(*rawFilters);
        else if (!place.filters.empty())
            out.Bytes(FilterListBytes(place.filters));
        if (place.blendMode)
            out.U8(*place.blendMode);
        if (place.visible)
            out.U8(*place.visible ? 1 : 0);
        if (place.backgroundColor)
            out.RgbaColor(*place.backgroundColor);
    }
    if (!place.clipActions.empty()) {
        // Event fields of 32 bits, as movies of version 6 on have them.
        std::uint32_t all = 0;
        for (const ClipAction& action : place.clipActions)
            all |= action.events;
        out.U16(0).U32(all);
        for (const ClipAction& action : place.clipActions) {
            const bool key = action.events & ClipEventKeyPress;
            out.U32(action.events).U32(std::uint32_t(action.actions.size() + (key ? 1 : 0)));
            if (key)
                out.U8(action.keyCode);
            out.Bytes(action.actions);
        }
        out.U32(0);
    }
    return Tag(place.version >= 3 ? tag::PlaceObject3 : tag::PlaceObject2, out.Data());
}

QByteArray RemoveObjectTag(std::uint16_t depth, std::uint16_t characterId) {
    return Tag(tag::RemoveObject, Bits().U16(characterId).U16(depth).Data());
}

QByteArray RemoveObject2Tag(std::uint16_t depth) {
    return Tag(tag::RemoveObject2, Bits().U16(depth).Data());
}

QByteArray FrameLabelTag(const QString& name, bool namedAnchor) {
    Bits out;
    out.String(name);
    if (namedAnchor)
        out.U8(1);
    return Tag(tag::FrameLabel, out.Data());
}

QByteArray SetBackgroundColorTag(const Rgba& color) {
    return Tag(tag::SetBackgroundColor, Bits().RgbColor(color).Data());
}

// --- Data helpers ---

namespace {
QByteArray ImageBytes(const QImage& image, const char* format, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, quality))
        throw std::runtime_error("cannot encode the image");
    return bytes;
}
} // namespace

QByteArray JpegBytes(const QImage& image, int quality) {
    return ImageBytes(image, "JPEG", quality);
}

QByteArray PngBytes(const QImage& image) {
    return ImageBytes(image, "PNG", -1);
}

QByteArray ZlibBytes(const QByteArray& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(raw.constData()), uLong(raw.size()), 9) != Z_OK)
        throw std::runtime_error("zlib failed");
    out.truncate(qsizetype(size));
    return out;
}

QByteArray LzmaRaw(const QByteArray& data, QByteArray& properties, bool endMarker) {
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 6))
        throw std::runtime_error("no LZMA preset");
    options.dict_size = 1 << 16;
    options.ext_flags = endMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    options.ext_size_low = std::uint32_t(data.size());
    options.ext_size_high = 0;
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&stream, filters) != LZMA_OK)
        throw std::runtime_error("LZMA encoder failed");
    QByteArray out(data.size() + data.size() / 2 + 1024, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<const std::uint8_t*>(data.constData());
    stream.avail_in = std::size_t(data.size());
    stream.next_out = reinterpret_cast<std::uint8_t*>(out.data());
    stream.avail_out = std::size_t(out.size());
    const lzma_ret rc = lzma_code(&stream, LZMA_FINISH);
    const std::size_t written = stream.total_out;
    lzma_end(&stream);
    if (rc != LZMA_STREAM_END)
        throw std::runtime_error("LZMA encoding failed");
    out.truncate(qsizetype(written));

    properties.resize(5);
    properties[0] = char((options.pb * 5 + options.lp) * 9 + options.lc);
    for (int i = 0; i < 4; ++i)
        properties[1 + i] = char(options.dict_size >> (8 * i));
    return out;
}

QByteArray MovieFile(std::uint8_t version, std::uint32_t fileLength, const QByteArray& body,
                     Movie::Compression compression, bool lzmaEndMarker) {
    static const char* const Signatures[] = {"FWS", "CWS", "ZWS"};
    Bits out;
    out.Bytes(Signatures[int(compression)]).U8(version).U32(fileLength);
    switch (compression) {
    case Movie::Compression::None:
        out.Bytes(body);
        break;
    case Movie::Compression::Zlib:
        out.Bytes(ZlibBytes(body));
        break;
    case Movie::Compression::Lzma: {
        QByteArray properties;
        const QByteArray data = LzmaRaw(body, properties, lzmaEndMarker);
        out.U32(std::uint32_t(data.size())).Bytes(properties).Bytes(data);
        break;
    }
    }
    return out.Data();
}

// --- Movies ---

MovieBuilder& MovieBuilder::Version(int value) {
    version = value;
    return *this;
}

MovieBuilder& MovieBuilder::Stage(const Rect& twips) {
    stage = twips;
    return *this;
}

MovieBuilder& MovieBuilder::FrameRate(double framesPerSecond) {
    frameRate = framesPerSecond;
    return *this;
}

MovieBuilder& MovieBuilder::FrameCount(std::uint16_t count) {
    frameCount = count;
    return *this;
}

MovieBuilder& MovieBuilder::FileLength(std::uint32_t length) {
    fileLength = length;
    return *this;
}

MovieBuilder& MovieBuilder::WithoutEnd() {
    withEnd = false;
    return *this;
}

MovieBuilder& MovieBuilder::Add(const QByteArray& more) {
    // Count the top-level ShowFrame tags for the default frame count.
    for (qsizetype at = 0; at + 2 <= more.size();) {
        const auto head = std::uint16_t(std::uint8_t(more[at]) | std::uint8_t(more[at + 1]) << 8);
        qsizetype length = head & 0x3F;
        at += 2;
        if (length == 0x3F && at + 4 <= more.size()) {
            length =
                qsizetype(std::uint8_t(more[at]) | std::uint8_t(more[at + 1]) << 8 |
                          std::uint8_t(more[at + 2]) << 16 | std::uint32_t(std::uint8_t(more[at + 3])) << 24);
            at += 4;
        }
        if (head >> 6 == tag::ShowFrame)
            ++showFrames;
        at += length;
    }
    tags.append(more);
    return *this;
}

QByteArray MovieBuilder::Body() const {
    Bits out;
    out.RectField(stage).U16(std::uint32_t(std::lround(frameRate * 256)));
    out.U16(frameCount.value_or(std::uint16_t(showFrames)));
    out.Bytes(tags);
    if (withEnd)
        out.Bytes(End());
    return out.Data();
}

QByteArray MovieBuilder::Build(Movie::Compression compression, bool lzmaEndMarker) const {
    const QByteArray body = Body();
    return MovieFile(std::uint8_t(version), fileLength.value_or(std::uint32_t(body.size() + 8)), body,
                     compression, lzmaEndMarker);
}

// --- Fonts and text ---

QByteArray DefineFontTag(const FontDefinition& font) {
    const std::size_t count = font.glyphs.size();
    const bool wide = font.wideOffsets && font.version >= 2;
    const std::size_t offsetBytes = wide ? 4 : 2;
    std::vector<QByteArray> outlines;
    for (const GlyphDefinition& glyph : font.glyphs) {
        Bits shape;
        glyph.outline.Write(shape, 1, 1, 0);
        outlines.push_back(shape.Data());
    }
    // Offsets count from the start of the offset table, which DefineFont2/3 end with the code table's.
    Bits table;
    std::size_t offset = (count + (font.version >= 2 ? 1 : 0)) * offsetBytes;
    for (const QByteArray& outline : outlines) {
        wide ? table.U32(std::uint32_t(offset)) : table.U16(std::uint32_t(offset));
        offset += std::size_t(outline.size());
    }
    if (font.version >= 2)
        wide ? table.U32(std::uint32_t(offset)) : table.U16(std::uint32_t(offset));
    for (const QByteArray& outline : outlines)
        table.Bytes(outline);

    Bits out;
    out.U16(font.id);
    if (font.version == 1)
        return Tag(tag::DefineFont, out.Bytes(table.Data()).Data());
    const QByteArray name = font.name.toUtf8();
    out.U8((font.hasLayout ? 0x80 : 0) | (wide ? 0x08 : 0) | (font.wideCodes ? 0x04 : 0) |
           (font.italic ? 0x02 : 0) | (font.bold ? 0x01 : 0));
    out.U8(0).U8(std::uint32_t(name.size())).Bytes(name).U16(std::uint32_t(count)).Bytes(table.Data());
    for (const GlyphDefinition& glyph : font.glyphs)
        font.wideCodes ? out.U16(glyph.code) : out.U8(glyph.code);
    if (font.hasLayout) {
        out.S16(font.ascent).S16(font.descent).S16(font.leading);
        for (const GlyphDefinition& glyph : font.glyphs)
            out.S16(glyph.advance);
        for (std::size_t i = 0; i < count; ++i)
            out.RectField({});
        out.U16(std::uint32_t(font.kerning.size()));
        for (const KerningPair& pair : font.kerning) {
            font.wideCodes ? out.U16(pair.left).U16(pair.right) : out.U8(pair.left).U8(pair.right);
            out.S16(pair.adjustment);
        }
    }
    return Tag(font.version == 3 ? tag::DefineFont3 : tag::DefineFont2, out.Data(), true);
}

QByteArray DefineFontInfoTag(std::uint16_t fontId, const QString& name,
                             const std::vector<std::uint16_t>& codes, int version, bool bold, bool italic) {
    const QByteArray bytes = name.toUtf8();
    Bits out;
    out.U16(fontId).U8(std::uint32_t(bytes.size())).Bytes(bytes);
    out.U8((italic ? 0x04 : 0) | (bold ? 0x02 : 0) | 0x01);
    if (version == 2)
        out.U8(0);
    for (std::uint16_t code : codes)
        out.U16(code);
    return Tag(version == 2 ? tag::DefineFontInfo2 : tag::DefineFontInfo, out.Data());
}

QByteArray DefineTextTag(std::uint16_t id, const StaticText& text, int version) {
    int glyphBits = 0, advanceBits = 0;
    for (const TextRecord& record : text.records)
        for (const GlyphEntry& glyph : record.glyphs) {
            glyphBits = std::max(glyphBits, Bits::UnsignedBits(glyph.index));
            advanceBits = std::max(advanceBits, Bits::SignedBits(glyph.advance));
        }
    Bits out;
    out.U16(id).RectField(text.bounds).MatrixField(text.matrix);
    out.U8(std::uint32_t(glyphBits)).U8(std::uint32_t(advanceBits));
    for (const TextRecord& record : text.records) {
        out.U8(0x80 | 0x08 | 0x04 | 0x02 | 0x01).U16(record.fontId);
        version >= 2 ? out.RgbaColor(record.color) : out.RgbColor(record.color);
        out.S16(record.x).S16(record.y).U16(record.height).U8(std::uint32_t(record.glyphs.size()));
        for (const GlyphEntry& glyph : record.glyphs)
            out.UB(glyph.index, glyphBits).SB(glyph.advance, advanceBits);
        out.Align();
    }
    out.U8(0);
    return Tag(version >= 2 ? tag::DefineText2 : tag::DefineText, out.Data(), true);
}

QByteArray DefineEditTextTag(std::uint16_t id, const EditText& text) {
    Bits out;
    out.U16(id).RectField(text.bounds);
    out.U8((text.initialText ? 0x80 : 0) | (text.wordWrap ? 0x40 : 0) | (text.multiline ? 0x20 : 0) |
           (text.password ? 0x10 : 0) | (text.readOnly ? 0x08 : 0) | (text.color ? 0x04 : 0) |
           (text.maxLength ? 0x02 : 0) | (text.fontId ? 0x01 : 0));
    out.U8((!text.fontClass.isEmpty() ? 0x80 : 0) | (text.autoSize ? 0x40 : 0) | (text.hasLayout ? 0x20 : 0) |
           (text.noSelect ? 0x10 : 0) | (text.border ? 0x08 : 0) | (text.wasStatic ? 0x04 : 0) |
           (text.html ? 0x02 : 0) | (text.useOutlines ? 0x01 : 0));
    if (text.fontId)
        out.U16(*text.fontId);
    if (!text.fontClass.isEmpty())
        out.String(text.fontClass);
    if (text.fontId || !text.fontClass.isEmpty())
        out.U16(text.height);
    if (text.color)
        out.RgbaColor(*text.color);
    if (text.maxLength)
        out.U16(*text.maxLength);
    if (text.hasLayout)
        out.U8(std::uint32_t(text.align))
            .U16(text.leftMargin)
            .U16(text.rightMargin)
            .U16(text.indent)
            .S16(text.leading);
    out.String(text.variableName);
    if (text.initialText)
        out.String(*text.initialText);
    return Tag(tag::DefineEditText, out.Data(), true);
}

// --- Actions and buttons ---

ActionCode& ActionCode::Op(action::Code code, const QByteArray& payload) {
    bytes.append(char(code));
    if (action::HasPayload(code)) {
        bytes.append(char(payload.size() & 0xFF));
        bytes.append(char((payload.size() >> 8) & 0xFF));
        bytes.append(payload);
    }
    return *this;
}

ActionCode& ActionCode::GotoFrame(std::uint16_t frame) {
    return Op(action::GotoFrame, Bits().U16(frame).Data());
}

ActionCode& ActionCode::GotoLabel(const QString& label) {
    return Op(action::GotoLabel, Bits().String(label).Data());
}

ActionCode& ActionCode::SetTarget(const QString& path) {
    return Op(action::SetTarget, Bits().String(path).Data());
}

ActionCode& ActionCode::GotoFrame2(bool play, std::optional<std::uint16_t> sceneBias) {
    Bits payload;
    payload.U8((sceneBias ? 0x02 : 0) | (play ? 0x01 : 0));
    if (sceneBias)
        payload.U16(*sceneBias);
    return Op(action::GotoFrame2, payload.Data());
}

ActionCode& ActionCode::ConstantPool(const QStringList& strings) {
    Bits payload;
    payload.U16(std::uint32_t(strings.size()));
    for (const QString& text : strings)
        payload.String(text);
    return Op(action::ConstantPool, payload.Data());
}

ActionCode& ActionCode::PushString(const QString& text) {
    return Op(action::Push, Bits().U8(0).String(text).Data());
}

ActionCode& ActionCode::PushInt(std::int32_t value) {
    return Op(action::Push, Bits().U8(7).U32(std::uint32_t(value)).Data());
}

ActionCode& ActionCode::PushDouble(double value) {
    std::uint64_t raw = 0;
    std::memcpy(&raw, &value, sizeof raw);
    return Op(action::Push, Bits().U8(6).U32(std::uint32_t(raw >> 32)).U32(std::uint32_t(raw)).Data());
}

ActionCode& ActionCode::PushConstant(std::uint16_t index) {
    return Op(action::Push, index < 256 ? Bits().U8(8).U8(index).Data() : Bits().U8(9).U16(index).Data());
}

ActionCode& ActionCode::PushBool(bool value) {
    return Op(action::Push, Bits().U8(5).U8(value ? 1 : 0).Data());
}

QByteArray DoAction(const ActionCode& code) {
    return Tag(tag::DoAction, code.Data());
}

QByteArray DoInitAction(std::uint16_t spriteId, const ActionCode& code) {
    return Tag(tag::DoInitAction, Bits().U16(spriteId).Bytes(code.Data()).Data());
}

namespace {
void WriteButtonRecords(Bits& out, const std::vector<ButtonRecord>& records, int version) {
    for (const ButtonRecord& record : records) {
        out.U8(record.states).U16(record.characterId).U16(record.depth).MatrixField(record.matrix);
        if (version == 2)
            out.ColorTransformField(record.colorTransform, true);
    }
    out.U8(0);
}
} // namespace

QByteArray DefineButton(std::uint16_t id, const std::vector<ButtonRecord>& records,
                        const ActionCode& actions) {
    Bits body;
    body.U16(id);
    WriteButtonRecords(body, records, 1);
    body.Bytes(actions.Data());
    return Tag(tag::DefineButton, body.Data(), true);
}

QByteArray DefineButton2(std::uint16_t id, const std::vector<ButtonRecord>& records,
                         const std::vector<std::pair<std::uint16_t, ActionCode>>& actions, bool trackAsMenu) {
    Bits recordBytes;
    WriteButtonRecords(recordBytes, records, 2);
    Bits body;
    body.U16(id).U8(trackAsMenu ? 1 : 0);
    body.U16(actions.empty() ? 0 : std::uint32_t(recordBytes.Size() + 2));
    body.Bytes(recordBytes.Data());
    for (std::size_t i = 0; i < actions.size(); ++i) {
        const QByteArray code = actions[i].second.Data();
        const bool last = i + 1 == actions.size();
        body.U16(last ? 0 : std::uint32_t(code.size() + 4)).U16(actions[i].first).Bytes(code);
    }
    return Tag(tag::DefineButton2, body.Data(), true);
}

QByteArray DefineButtonSoundTag(std::uint16_t buttonId, const std::vector<ButtonSound>& sounds) {
    Bits body;
    body.U16(buttonId);
    for (const std::uint16_t transition : {OverUpToIdle, IdleToOverUp, OverUpToOverDown, OverDownToOverUp}) {
        const auto found = std::find_if(sounds.begin(), sounds.end(), [&](const ButtonSound& sound) {
            return sound.transition == transition;
        });
        if (found == sounds.end() || found->soundId == 0) {
            body.U16(0);
            continue;
        }
        body.U16(found->soundId);
        WriteSoundInfo(body, found->info);
    }
    return Tag(tag::DefineButtonSound, body.Data());
}

QByteArray DefineButtonCxformTag(std::uint16_t buttonId, const ColorTransform& transform) {
    Bits body;
    body.U16(buttonId).ColorTransformField(transform, false);
    return Tag(tag::DefineButtonCxform, body.Data());
}

} // namespace flash::writer
