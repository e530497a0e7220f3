// The field readers several tag families share.

#include "flash/swf/ReaderContext.h"

#include <algorithm>
#include <cmath>

namespace flash::reader {

Rect ReadRect(BitReader& r) {
    r.Align();
    const int bits = int(r.UB(5));
    Rect rect;
    rect.xMin = r.SB(bits);
    rect.xMax = r.SB(bits);
    rect.yMin = r.SB(bits);
    rect.yMax = r.SB(bits);
    r.Align();
    return rect;
}

Rgba ReadRgb(BitReader& r) {
    Rgba color;
    color.r = r.U8();
    color.g = r.U8();
    color.b = r.U8();
    return color;
}

Rgba ReadRgba(BitReader& r) {
    Rgba color = ReadRgb(r);
    color.a = r.U8();
    return color;
}

Matrix ReadMatrix(BitReader& r) {
    r.Align();
    Matrix m;
    if (r.UB(1)) {
        const int bits = int(r.UB(5));
        m.a = r.FB(bits);
        m.d = r.FB(bits);
    }
    if (r.UB(1)) {
        const int bits = int(r.UB(5));
        m.b = r.FB(bits);
        m.c = r.FB(bits);
    }
    const int bits = int(r.UB(5));
    m.tx = r.SB(bits);
    m.ty = r.SB(bits);
    r.Align();
    return m;
}

ColorTransform ReadColorTransform(BitReader& r, bool withAlpha) {
    r.Align();
    const bool hasAdd = r.UB(1);
    const bool hasMul = r.UB(1);
    const int bits = int(r.UB(4));
    ColorTransform t;
    if (hasMul) {
        t.rMul = r.SB(bits) / 256.0;
        t.gMul = r.SB(bits) / 256.0;
        t.bMul = r.SB(bits) / 256.0;
        if (withAlpha)
            t.aMul = r.SB(bits) / 256.0;
    }
    if (hasAdd) {
        t.rAdd = r.SB(bits);
        t.gAdd = r.SB(bits);
        t.bAdd = r.SB(bits);
        if (withAlpha)
            t.aAdd = r.SB(bits);
    }
    r.Align();
    return t;
}

LineStyle::Cap CapOf(std::uint32_t value) {
    return value <= 2 ? LineStyle::Cap(value) : LineStyle::Cap::Round;
}

LineStyle::Join JoinOf(std::uint32_t value) {
    return value <= 2 ? LineStyle::Join(value) : LineStyle::Join::Round;
}

// The byte before gradient records: the spread and interpolation modes and the count. The modes
// are documented for DefineShape4 only, but Flash Player honours them in every shape version, and
// authoring tools do write them there.
int ReadGradientHead(BitReader& r, Gradient& gradient) {
    const std::uint8_t head = r.U8();
    const int spread = head >> 6;
    gradient.spread = spread <= 2 ? Gradient::Spread(spread) : Gradient::Spread::Pad;
    gradient.interpolation =
        ((head >> 4) & 3) == 1 ? Gradient::Interpolation::LinearRgb : Gradient::Interpolation::Rgb;
    return head & 0x0F;
}

// The caps, join, scale flags and miter limit of a LineStyle2 (shapes and morph shapes alike);
// returns whether a fill style follows.
bool ReadLineStyle2Flags(BitReader& r, LineStyle& style) {
    style.startCap = CapOf(r.UB(2));
    style.join = JoinOf(r.UB(2));
    const bool hasFill = r.UB(1);
    style.noHScale = r.UB(1);
    style.noVScale = r.UB(1);
    style.pixelHinting = r.UB(1);
    r.UB(5);
    style.noClose = r.UB(1);
    style.endCap = CapOf(r.UB(2));
    if (style.join == LineStyle::Join::Miter)
        style.miterLimit = r.UFixed8();
    return hasFill;
}

} // namespace flash::reader
