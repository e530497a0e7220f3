#include "flash/swf/FilterReader.h"

#include "flash/swf/BitReader.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace flash {

namespace {

constexpr double MaxBlur = 255;
constexpr int MaxPasses = 15;
constexpr int MaxMatrixSide = 15;

float Float(BitReader& r) {
    return std::bit_cast<float>(r.U32());
}

Rgba Color(BitReader& r) {
    Rgba c;
    c.r = r.U8();
    c.g = r.U8();
    c.b = r.U8();
    c.a = r.U8();
    return c;
}

void ReadBlur(BitReader& r, Filter& f) {
    f.blurX = std::clamp(r.Fixed16(), 0.0, MaxBlur);
    f.blurY = std::clamp(r.Fixed16(), 0.0, MaxBlur);
}

// Strength, then the flags byte that ends the shadow-like records.
void ReadFlags(BitReader& r, Filter& f, bool withOnTop) {
    f.strength = r.Fixed8();
    f.inner = r.UB(1);
    f.knockout = r.UB(1);
    f.compositeSource = r.UB(1);
    if (withOnTop)
        f.onTop = r.UB(1);
    f.passes = int(r.UB(withOnTop ? 4 : 5));
}

void ReadAngle(BitReader& r, Filter& f) {
    f.angle = r.Fixed16();
    f.distance = std::clamp(r.Fixed16(), -double(MaxGrowth), double(MaxGrowth));
}

bool ReadFilter(BitReader& r, Filter& f) {
    const std::uint8_t id = r.U8();
    if (id > 7)
        return false;
    f.kind = Filter::Kind(id);
    switch (f.kind) {
    case Filter::Kind::DropShadow:
        f.colors = {Color(r)};
        ReadBlur(r, f);
        ReadAngle(r, f);
        ReadFlags(r, f, false);
        break;
    case Filter::Kind::Blur:
        ReadBlur(r, f);
        f.passes = int(r.UB(5));
        r.UB(3);
        break;
    case Filter::Kind::Glow:
        f.colors = {Color(r)};
        ReadBlur(r, f);
        ReadFlags(r, f, false);
        break;
    case Filter::Kind::Bevel:
        f.colors = {Color(r), Color(r)};
        ReadBlur(r, f);
        ReadAngle(r, f);
        ReadFlags(r, f, true);
        break;
    case Filter::Kind::GradientGlow:
    case Filter::Kind::GradientBevel: {
        const int count = r.U8();
        for (int i = 0; i < count && !r.Overrun(); ++i)
            f.colors.push_back(Color(r));
        for (int i = 0; i < count && !r.Overrun(); ++i)
            f.ratios.push_back(r.U8());
        ReadBlur(r, f);
        ReadAngle(r, f);
        ReadFlags(r, f, true);
        break;
    }
    case Filter::Kind::Convolution: {
        f.matrixX = r.U8();
        f.matrixY = r.U8();
        f.divisor = Float(r);
        f.bias = Float(r);
        const int count = f.matrixX * f.matrixY;
        for (int i = 0; i < count && !r.Overrun(); ++i)
            f.matrix.push_back(Float(r));
        f.defaultColor = Color(r);
        r.UB(6);
        f.clamp = r.UB(1);
        f.preserveAlpha = r.UB(1);
        if (f.matrixX > MaxMatrixSide || f.matrixY > MaxMatrixSide)
            f.matrix.clear(); // kept out of the work, not the reading
        break;
    }
    case Filter::Kind::ColorMatrix:
        for (int i = 0; i < 20; ++i)
            f.matrix.push_back(Float(r));
        break;
    }
    f.passes = std::clamp(f.passes, 0, MaxPasses);
    for (float& v : f.matrix)
        if (!std::isfinite(v))
            v = 0;
    if (!std::isfinite(f.divisor))
        f.divisor = 1;
    if (!std::isfinite(f.bias))
        f.bias = 0;
    return !r.Overrun();
}

} // namespace

bool ReadFilters(BitReader& r, FilterList& filters) {
    const int count = r.U8();
    for (int i = 0; i < count && !r.Overrun(); ++i) {
        Filter f;
        if (!ReadFilter(r, f))
            return false;
        if (int(filters.size()) < MaxFilters)
            filters.push_back(std::move(f));
    }
    return !r.Overrun();
}

FilterList ReadFilters(const QByteArray& bytes) {
    BitReader r(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
    FilterList filters;
    ReadFilters(r, filters);
    return filters;
}

} // namespace flash
