// The drawing methods of clips: moveTo, lineTo, curveTo, beginFill, beginGradientFill, lineStyle,
// lineGradientStyle, endFill and clear, read from their arguments as Flash Player reads them into the
// clip's drawing. A call missing a coordinate, or given one that is not a finite number, draws
// nothing. beginBitmapFill takes a BitmapData (BuiltinBitmap.cpp).
#include "flash/player/Drawing.h"
#include "flash/player/avm1/Native.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace flash {

namespace {

// A gradient holds 15 colours at most, as the shape records do.
constexpr std::size_t MaxGradientRecords = 15;
// The gradient square's side in pixels (32768 twips).
constexpr double GradientSide = 1638.4;

ScriptObject* AsArray(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return object && *object && (*object)->kind == ScriptObject::Kind::Array ? *object : nullptr;
}

bool Is(const QString& text, const char* name) {
    return text.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

Rgba ColorOf(ActionInterpreter& vm, const ActionValue& rgb, const ActionValue& alpha) {
    const auto value = std::uint32_t(ActionInt32(vm.Number(rgb)));
    double percent = std::holds_alternative<std::monostate>(alpha) ? 100 : vm.Number(alpha);
    if (std::isnan(percent))
        percent = 0;
    return {std::uint8_t(value >> 16), std::uint8_t(value >> 8), std::uint8_t(value),
            std::uint8_t(std::lround(std::clamp(percent, 0.0, 100.0) * 255 / 100))};
}

// The gradient's matrix: {matrixType: "box", x, y, w, h, r} or a matrix {a, b, c, d, tx, ty} mapping the
// gradient square (pixels, centred on the origin) onto the clip; in the file's form, translation in
// twips.
Matrix GradientMatrix(ActionInterpreter& vm, const ActionValue& given) {
    Matrix m;
    if (!std::holds_alternative<ScriptObject*>(given))
        return m;
    if (Is(vm.Text(vm.GetMember(given, QStringLiteral("matrixType"))), "box")) {
        const double x = NumberMember(vm, given, "x", 0), y = NumberMember(vm, given, "y", 0);
        const double w = NumberMember(vm, given, "w", 0), h = NumberMember(vm, given, "h", 0);
        const double r = NumberMember(vm, given, "r", 0);
        m.a = std::cos(r) * w / GradientSide;
        m.b = std::sin(r) * w / GradientSide;
        m.c = -std::sin(r) * h / GradientSide;
        m.d = std::cos(r) * h / GradientSide;
        m.tx = (x + w / 2) * TwipsPerPixel;
        m.ty = (y + h / 2) * TwipsPerPixel;
        return m;
    }
    m = MatrixMember(vm, given);
    m.tx *= TwipsPerPixel;
    m.ty *= TwipsPerPixel;
    return m;
}

// (type, colors, alphas, ratios, matrix, spreadMethod, interpolationMethod, focalPointRatio); none when
// the type is unknown or an array is missing or empty. Longer arrays are cut to the shortest.
std::optional<FillStyle> GradientFill(NativeCall& call) {
    ActionInterpreter& vm = call.vm;
    const QString type = vm.Text(call.Arg(0));
    ScriptObject* colors = AsArray(call.Arg(1));
    ScriptObject* alphas = AsArray(call.Arg(2));
    ScriptObject* ratios = AsArray(call.Arg(3));
    if ((!Is(type, "linear") && !Is(type, "radial")) || !colors || !alphas || !ratios)
        return std::nullopt;
    const std::size_t count = std::min(
        {colors->elements.size(), alphas->elements.size(), ratios->elements.size(), MaxGradientRecords});
    if (count == 0)
        return std::nullopt;
    FillStyle fill;
    Gradient& gradient = fill.gradient;
    for (std::size_t i = 0; i < count; ++i) {
        const double ratio = vm.Number(ratios->elements[i]);
        gradient.records.push_back(
            {std::uint8_t(std::isfinite(ratio) ? std::clamp(std::lround(ratio), 0L, 255L) : 0),
             ColorOf(vm, colors->elements[i], alphas->elements[i])});
    }
    gradient.matrix = GradientMatrix(vm, call.Arg(4));
    const QString spread = vm.Text(call.Arg(5));
    gradient.spread = Is(spread, "reflect")  ? Gradient::Spread::Reflect
                      : Is(spread, "repeat") ? Gradient::Spread::Repeat
                                             : Gradient::Spread::Pad;
    gradient.interpolation = Is(vm.Text(call.Arg(6)), "linearRGB") ? Gradient::Interpolation::LinearRgb
                                                                   : Gradient::Interpolation::Rgb;
    const double focal = vm.Number(call.Arg(7));
    gradient.focalPoint = std::isfinite(focal) ? std::clamp(focal, -1.0, 1.0) : 0;
    fill.type = Is(type, "linear")         ? FillStyle::Type::LinearGradient
                : gradient.focalPoint != 0 ? FillStyle::Type::FocalRadialGradient
                                           : FillStyle::Type::RadialGradient;
    return fill;
}

// (thickness, rgb, alpha, pixelHinting, noScale, capsStyle, jointStyle, miterLimit); no thickness: no line.
std::optional<LineStyle> LineStyleOf(NativeCall& call) {
    ActionInterpreter& vm = call.vm;
    const double thickness = vm.Number(call.Arg(0));
    if (std::isnan(thickness))
        return std::nullopt;
    LineStyle style;
    style.width = std::uint16_t(std::lround(std::clamp(thickness, 0.0, 255.0) * TwipsPerPixel));
    style.color = ColorOf(vm, call.Arg(1), call.Arg(2));
    style.pixelHinting = ActionBool(call.Arg(3));
    const QString scale = vm.Text(call.Arg(4));
    // "vertical" scales the width only vertically, "horizontal" only horizontally.
    style.noHScale = Is(scale, "none") || Is(scale, "vertical");
    style.noVScale = Is(scale, "none") || Is(scale, "horizontal");
    const QString caps = vm.Text(call.Arg(5));
    style.startCap = style.endCap = Is(caps, "none")     ? LineStyle::Cap::None
                                    : Is(caps, "square") ? LineStyle::Cap::Square
                                                         : LineStyle::Cap::Round;
    const QString joint = vm.Text(call.Arg(6));
    style.join = Is(joint, "miter")   ? LineStyle::Join::Miter
                 : Is(joint, "bevel") ? LineStyle::Join::Bevel
                                      : LineStyle::Join::Round;
    const double miter = vm.Number(call.Arg(7));
    style.miterLimit = std::isfinite(miter) ? std::clamp(miter, 1.0, 255.0) : 3;
    return style;
}

// The first `count` arguments as finite numbers, or none.
std::optional<std::array<double, 4>> Coordinates(NativeCall& call, std::size_t count) {
    std::array<double, 4> values{};
    if (call.args.size() < count)
        return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) {
        values[i] = call.vm.Number(call.args[i]);
        if (!std::isfinite(values[i]))
            return std::nullopt;
    }
    return values;
}

} // namespace

double NumberMember(ActionInterpreter& vm, const ActionValue& object, const char* name, double otherwise) {
    const double value = vm.Number(vm.GetMember(object, QLatin1String(name)));
    return std::isfinite(value) ? value : otherwise;
}

Matrix MatrixMember(ActionInterpreter& vm, const ActionValue& value) {
    Matrix m;
    if (const auto* object = std::get_if<ScriptObject*>(&value); !object || !*object)
        return m;
    m.a = NumberMember(vm, value, "a", 1);
    m.b = NumberMember(vm, value, "b", 0);
    m.c = NumberMember(vm, value, "c", 0);
    m.d = NumberMember(vm, value, "d", 1);
    m.tx = NumberMember(vm, value, "tx", 0);
    m.ty = NumberMember(vm, value, "ty", 0);
    return m;
}

std::optional<ActionValue> CallDrawingMethod(ActionInterpreter& vm, const ClipRef& clip,
                                             const QString& method, const std::vector<ActionValue>& args) {
    static const char* const names[] = {
        "moveto",          "lineto",    "curveto",           "beginfill", "begingradientfill",
        "beginbitmapfill", "linestyle", "linegradientstyle", "endfill",   "clear"};
    if (std::none_of(std::begin(names), std::end(names), [&](const char* name) { return Is(method, name); }))
        return std::nullopt;
    Drawing* drawing = vm.Host().DrawingOf(clip);
    if (!drawing)
        return ActionValue{};
    NativeCall call{vm, clip, args};
    if (Is(method, "moveto") || Is(method, "lineto")) {
        if (const auto at = Coordinates(call, 2))
            Is(method, "moveto") ? drawing->MoveTo((*at)[0], (*at)[1]) : drawing->LineTo((*at)[0], (*at)[1]);
    } else if (Is(method, "curveto")) {
        if (const auto at = Coordinates(call, 4))
            drawing->CurveTo((*at)[0], (*at)[1], (*at)[2], (*at)[3]);
    } else if (Is(method, "beginfill")) {
        std::optional<FillStyle> fill;
        if (!std::holds_alternative<std::monostate>(call.Arg(0))) {
            fill.emplace();
            fill->color = ColorOf(vm, call.Arg(0), call.Arg(1));
        }
        drawing->BeginFill(fill);
    } else if (Is(method, "begingradientfill")) {
        drawing->BeginFill(GradientFill(call));
    } else if (Is(method, "beginbitmapfill")) {
        BeginBitmapFill(vm, *drawing, args);
    } else if (Is(method, "linestyle")) {
        drawing->SetLineStyle(LineStyleOf(call));
    } else if (Is(method, "linegradientstyle")) {
        if (const auto fill = GradientFill(call))
            drawing->SetLineFill(*fill);
    } else if (Is(method, "endfill")) {
        drawing->EndFill();
    } else {
        drawing->Clear();
    }
    return ActionValue{};
}

} // namespace flash
