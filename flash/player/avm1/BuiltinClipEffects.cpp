// The effects a script sets on a clip directly, and flash.filters: clip.filters takes an array of
// filter objects (BlurFilter, GlowFilter, DropShadowFilter, BevelFilter, GradientGlowFilter,
// GradientBevelFilter, ColorMatrixFilter, ConvolutionFilter) and gives back new copies, drawn as a
// movie's own PlaceObject3 filters are; clip.blendMode takes a name or a number; clip.transform is a
// flash.geom.Transform of the clip. Movies before version 8 have none of these members. The main
// timeline has no placement: what is set on it is ignored.
// Bounded: a clip takes MaxFilters filters, values are clamped to what a movie's records can hold
// (blur and strength to 255, 15 passes, 15 x 15 convolution weights), anything else is left out.
#include "flash/player/avm1/Native.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace flash {

namespace {

constexpr double MaxBlur = 255;
constexpr int MaxPasses = 15;
constexpr int MaxMatrixSide = 15;
constexpr std::size_t MaxGradientColors = 15;

bool Is(const QString& text, const char* name) {
    return text.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

ScriptObject* AsObject(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return object ? *object : nullptr;
}

ScriptObject* AsArray(const ActionValue& value) {
    ScriptObject* object = AsObject(value);
    return object && object->kind == ScriptObject::Kind::Array ? object : nullptr;
}

// The class names, by Filter::Kind.
constexpr const char* FilterClasses[] = {"DropShadowFilter",  "BlurFilter",         "GlowFilter",
                                         "BevelFilter",       "GradientGlowFilter", "ConvolutionFilter",
                                         "ColorMatrixFilter", "GradientBevelFilter"};

// The members of each kind, in the order its constructor takes them, with their defaults.
struct Member {
    const char* name;
    ActionValue otherwise;
};
const std::vector<Member>& MembersOf(Filter::Kind kind) {
    static const std::vector<Member> dropShadow = {
        {"distance", 4.0}, {"angle", 45.0},     {"color", 0.0},       {"alpha", 1.0},
        {"blurX", 4.0},    {"blurY", 4.0},      {"strength", 1.0},    {"quality", 1.0},
        {"inner", false},  {"knockout", false}, {"hideObject", false}};
    static const std::vector<Member> blur = {{"blurX", 4.0}, {"blurY", 4.0}, {"quality", 1.0}};
    static const std::vector<Member> glow = {
        {"color", double(0xFF0000)}, {"alpha", 1.0},   {"blurX", 6.0},   {"blurY", 6.0},
        {"strength", 2.0},           {"quality", 1.0}, {"inner", false}, {"knockout", false}};
    static const std::vector<Member> bevel = {{"distance", 4.0},
                                              {"angle", 45.0},
                                              {"highlightColor", double(0xFFFFFF)},
                                              {"highlightAlpha", 1.0},
                                              {"shadowColor", 0.0},
                                              {"shadowAlpha", 1.0},
                                              {"blurX", 4.0},
                                              {"blurY", 4.0},
                                              {"strength", 1.0},
                                              {"quality", 1.0},
                                              {"type", QStringLiteral("inner")},
                                              {"knockout", false}};
    static const std::vector<Member> gradient = {{"distance", 4.0},  {"angle", 45.0},
                                                 {"colors", {}},     {"alphas", {}},
                                                 {"ratios", {}},     {"blurX", 4.0},
                                                 {"blurY", 4.0},     {"strength", 1.0},
                                                 {"quality", 1.0},   {"type", QStringLiteral("inner")},
                                                 {"knockout", false}};
    static const std::vector<Member> convolution = {
        {"matrixX", 0.0},        {"matrixY", 0.0}, {"matrix", {}}, {"divisor", 1.0}, {"bias", 0.0},
        {"preserveAlpha", true}, {"clamp", true},  {"color", 0.0}, {"alpha", 0.0}};
    static const std::vector<Member> colorMatrix = {{"matrix", {}}};
    switch (kind) {
    case Filter::Kind::DropShadow:
        return dropShadow;
    case Filter::Kind::Blur:
        return blur;
    case Filter::Kind::Glow:
        return glow;
    case Filter::Kind::Bevel:
        return bevel;
    case Filter::Kind::GradientGlow:
    case Filter::Kind::GradientBevel:
        return gradient;
    case Filter::Kind::Convolution:
        return convolution;
    case Filter::Kind::ColorMatrix:
        return colorMatrix;
    }
    return blur;
}

// The kind a filter object was made as: its constructor keeps it in the object.
std::optional<Filter::Kind> KindOf(const ActionValue& value) {
    ScriptObject* object = AsObject(value);
    const auto* kind = object ? std::get_if<double>(&object->primitive) : nullptr;
    if (!kind || *kind < 0 || *kind > 7)
        return std::nullopt;
    return Filter::Kind(int(*kind));
}

// Each constructor sets its members from its arguments, a new array for each array given.
template <Filter::Kind kind> ActionValue FilterConstructor(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    if (!self)
        return {};
    self->primitive = double(int(kind));
    const std::vector<Member>& members = MembersOf(kind);
    for (std::size_t i = 0; i < members.size(); ++i) {
        ActionValue value = i < call.args.size() ? call.args[i] : members[i].otherwise;
        if (ScriptObject* array = AsArray(value))
            value = call.vm.NewArray(array->elements);
        else if (std::holds_alternative<std::monostate>(value) &&
                 !std::holds_alternative<std::monostate>(members[i].otherwise))
            value = members[i].otherwise;
        call.vm.SetMember(self, QLatin1String(members[i].name), std::move(value));
    }
    return {};
}

ActionValue MakeFilter(ActionInterpreter& vm, Filter::Kind kind, const std::vector<ActionValue>& args) {
    const ActionValue filters =
        vm.GetMember(vm.GetMember(vm.Global(), QStringLiteral("flash")), QStringLiteral("filters"));
    return vm.Construct(vm.GetMember(filters, QLatin1String(FilterClasses[int(kind)])), args);
}

// filter.clone(): a new filter of the same kind with the same members.
ActionValue FilterClone(NativeCall& call) {
    const auto kind = KindOf(call.self);
    if (!kind)
        return {};
    std::vector<ActionValue> args;
    for (const Member& member : MembersOf(*kind))
        args.push_back(call.vm.GetMember(call.self, QLatin1String(member.name)));
    return MakeFilter(call.vm, *kind, args);
}

// --- Filter objects to the renderer's filters and back ---

double Number(ActionInterpreter& vm, const ActionValue& object, const char* name, double low, double high,
              double otherwise) {
    const double value = vm.Number(vm.GetMember(object, QLatin1String(name)));
    return std::isfinite(value) ? std::clamp(value, low, high) : otherwise;
}

Rgba ColorOf(ActionInterpreter& vm, const ActionValue& rgb, const ActionValue& alpha) {
    const auto value = std::uint32_t(ActionInt32(vm.Number(rgb)));
    const double a = vm.Number(alpha);
    return {std::uint8_t(value >> 16), std::uint8_t(value >> 8), std::uint8_t(value),
            std::uint8_t(std::lround(std::isfinite(a) ? std::clamp(a, 0.0, 1.0) * 255 : 0))};
}

double ColorNumber(const Rgba& color) {
    return double(std::uint32_t(color.r) << 16 | std::uint32_t(color.g) << 8 | color.b);
}

std::optional<Filter> ToFilter(ActionInterpreter& vm, const ActionValue& object) {
    const auto kind = KindOf(object);
    if (!kind)
        return std::nullopt;
    const auto get = [&](const char* name) { return vm.GetMember(object, QLatin1String(name)); };
    Filter f;
    f.kind = *kind;
    f.blurX = Number(vm, object, "blurX", 0, MaxBlur, 0);
    f.blurY = Number(vm, object, "blurY", 0, MaxBlur, 0);
    f.passes = int(Number(vm, object, "quality", 0, MaxPasses, 1));
    f.strength = Number(vm, object, "strength", 0, 255, 1);
    f.distance = Number(vm, object, "distance", -MaxGrowth, MaxGrowth, 0);
    f.angle = Number(vm, object, "angle", -1e6, 1e6, 0) * std::numbers::pi / 180;
    f.knockout = ActionBool(get("knockout"));
    const QString type = vm.Text(get("type"));
    switch (f.kind) {
    case Filter::Kind::DropShadow:
    case Filter::Kind::Glow:
        f.colors = {ColorOf(vm, get("color"), get("alpha"))};
        f.inner = ActionBool(get("inner"));
        f.compositeSource = f.kind == Filter::Kind::Glow || !ActionBool(get("hideObject"));
        break;
    case Filter::Kind::Blur:
        break;
    case Filter::Kind::Bevel:
        f.colors = {ColorOf(vm, get("highlightColor"), get("highlightAlpha")),
                    ColorOf(vm, get("shadowColor"), get("shadowAlpha"))};
        break;
    case Filter::Kind::GradientGlow:
    case Filter::Kind::GradientBevel: {
        ScriptObject* colors = AsArray(get("colors"));
        ScriptObject* alphas = AsArray(get("alphas"));
        ScriptObject* ratios = AsArray(get("ratios"));
        if (!colors || !alphas || !ratios)
            return std::nullopt;
        const std::size_t count = std::min(
            {colors->elements.size(), alphas->elements.size(), ratios->elements.size(), MaxGradientColors});
        for (std::size_t i = 0; i < count; ++i) {
            f.colors.push_back(ColorOf(vm, colors->elements[i], alphas->elements[i]));
            const double ratio = vm.Number(ratios->elements[i]);
            f.ratios.push_back(std::uint8_t(std::isfinite(ratio) ? std::clamp(ratio, 0.0, 255.0) : 0));
        }
        break;
    }
    case Filter::Kind::Convolution: {
        f.matrixX = int(Number(vm, object, "matrixX", 0, MaxMatrixSide, 0));
        f.matrixY = int(Number(vm, object, "matrixY", 0, MaxMatrixSide, 0));
        f.divisor = Number(vm, object, "divisor", -1e6, 1e6, 1);
        f.bias = Number(vm, object, "bias", -1e6, 1e6, 0);
        f.preserveAlpha = ActionBool(get("preserveAlpha"));
        f.clamp = ActionBool(get("clamp"));
        f.defaultColor = ColorOf(vm, get("color"), get("alpha"));
        break;
    }
    case Filter::Kind::ColorMatrix:
        break;
    }
    if (f.kind == Filter::Kind::Bevel || f.kind == Filter::Kind::GradientGlow ||
        f.kind == Filter::Kind::GradientBevel) {
        // "inner", "outer" or "full" (both sides).
        f.inner = Is(type, "inner");
        f.onTop = Is(type, "full");
    }
    if (f.kind == Filter::Kind::Convolution || f.kind == Filter::Kind::ColorMatrix) {
        const std::size_t count =
            f.kind == Filter::Kind::ColorMatrix ? 20 : std::size_t(f.matrixX) * std::size_t(f.matrixY);
        ScriptObject* matrix = AsArray(get("matrix"));
        for (std::size_t i = 0; i < count; ++i) {
            const double value = matrix && i < matrix->elements.size() ? vm.Number(matrix->elements[i]) : 0;
            f.matrix.push_back(float(std::isfinite(value) ? std::clamp(value, -1e6, 1e6) : 0));
        }
    }
    return f;
}

ActionValue FromFilter(ActionInterpreter& vm, const Filter& f) {
    const auto color = [&](std::size_t i) { return i < f.colors.size() ? f.colors[i] : Rgba{}; };
    const auto alpha = [&](std::size_t i) { return color(i).a / 255.0; };
    const double angle = f.angle * 180 / std::numbers::pi;
    const QString type = f.onTop   ? QStringLiteral("full")
                         : f.inner ? QStringLiteral("inner")
                                   : QStringLiteral("outer");
    std::vector<ActionValue> args;
    switch (f.kind) {
    case Filter::Kind::DropShadow:
        args = {f.distance,        angle,      ColorNumber(color(0)), alpha(0), f.blurX,
                f.blurY,           f.strength, double(f.passes),      f.inner,  f.knockout,
                !f.compositeSource};
        break;
    case Filter::Kind::Blur:
        args = {f.blurX, f.blurY, double(f.passes)};
        break;
    case Filter::Kind::Glow:
        args = {ColorNumber(color(0)), alpha(0), f.blurX,   f.blurY, f.strength,
                double(f.passes),      f.inner,  f.knockout};
        break;
    case Filter::Kind::Bevel:
        args = {f.distance,
                angle,
                ColorNumber(color(0)),
                alpha(0),
                ColorNumber(color(1)),
                alpha(1),
                f.blurX,
                f.blurY,
                f.strength,
                double(f.passes),
                type,
                f.knockout};
        break;
    case Filter::Kind::GradientGlow:
    case Filter::Kind::GradientBevel: {
        std::vector<ActionValue> colors, alphas, ratios;
        for (std::size_t i = 0; i < f.colors.size(); ++i) {
            colors.push_back(ColorNumber(f.colors[i]));
            alphas.push_back(alpha(i));
            ratios.push_back(i < f.ratios.size() ? double(f.ratios[i]) : 0.0);
        }
        args = {f.distance, angle,   vm.NewArray(colors), vm.NewArray(alphas), vm.NewArray(ratios),
                f.blurX,    f.blurY, f.strength,          double(f.passes),    type,
                f.knockout};
        break;
    }
    case Filter::Kind::Convolution:
    case Filter::Kind::ColorMatrix: {
        std::vector<ActionValue> weights(f.matrix.begin(), f.matrix.end());
        const ActionValue matrix = vm.NewArray(std::move(weights));
        if (f.kind == Filter::Kind::ColorMatrix)
            args = {matrix};
        else
            args = {double(f.matrixX),
                    double(f.matrixY),
                    matrix,
                    f.divisor,
                    f.bias,
                    f.preserveAlpha,
                    f.clamp,
                    ColorNumber(f.defaultColor),
                    f.defaultColor.a / 255.0};
        break;
    }
    }
    return MakeFilter(vm, f.kind, args);
}

// Blend modes by name, numbered as PlaceObject3 numbers them (from 1, normal).
constexpr const char* BlendNames[] = {"normal", "layer",      "multiply", "screen",   "lighten",
                                      "darken", "difference", "add",      "subtract", "invert",
                                      "alpha",  "erase",      "overlay",  "hardlight"};

ActionValue BlendModeName(std::uint8_t mode) {
    return QString(QLatin1String(BlendNames[mode >= 1 && mode <= 14 ? mode - 1 : 0]));
}

std::optional<std::uint8_t> BlendModeOf(ActionInterpreter& vm, const ActionValue& value) {
    if (std::holds_alternative<double>(value)) {
        const double number = std::get<double>(value);
        return number >= 1 && number <= 14 ? std::optional(std::uint8_t(number)) : std::nullopt;
    }
    const QString name = vm.Text(value);
    for (std::size_t i = 0; i < std::size(BlendNames); ++i)
        if (Is(name, BlendNames[i]))
            return std::uint8_t(i + 1);
    return std::nullopt;
}

} // namespace

// Movies before version 8 have no such members: the names are their own variables there.
std::optional<ActionValue> ClipEffectMember(ActionInterpreter& vm, const ClipRef& clip, const QString& name) {
    if (vm.RunningVersion() < 8)
        return std::nullopt;
    if (Is(name, "transform"))
        return ClipTransform(vm, clip);
    if (Is(name, "cacheAsBitmap"))
        return CacheAsBitmap(vm, clip);
    const bool filters = Is(name, "filters");
    if (!filters && !Is(name, "blendMode"))
        return std::nullopt;
    const DisplayObject* placed = vm.Host().PlacementOf(clip);
    if (!filters)
        return BlendModeName(placed ? placed->blendMode : 1);
    std::vector<ActionValue> list;
    if (placed && placed->filters)
        for (const Filter& filter : *placed->filters)
            list.push_back(FromFilter(vm, filter));
    ScriptObject* array = vm.NewArray(std::move(list));
    return array ? ActionValue(array) : ActionValue{};
}

bool SetClipEffectMember(ActionInterpreter& vm, const ClipRef& clip, const QString& name,
                         const ActionValue& value) {
    if (vm.RunningVersion() < 8)
        return false;
    if (Is(name, "transform")) {
        // Another clip's transform, or one made for it, given to this clip.
        if (AsObject(value)) {
            const ActionValue own = ClipTransform(vm, clip);
            vm.SetMember(own, QStringLiteral("matrix"), vm.GetMember(value, QStringLiteral("matrix")));
            vm.SetMember(own, QStringLiteral("colorTransform"),
                         vm.GetMember(value, QStringLiteral("colorTransform")));
        }
        return true;
    }
    if (Is(name, "cacheAsBitmap")) {
        SetCacheAsBitmap(vm, clip, value);
        return true;
    }
    const bool filters = Is(name, "filters");
    if (!filters && !Is(name, "blendMode"))
        return false;
    DisplayObject* placed = vm.Host().PlacementOf(clip);
    if (!placed)
        return true;
    if (!filters) {
        if (const auto mode = BlendModeOf(vm, value)) {
            placed->blendMode = *mode;
            placed->scripted = true;
        }
        return true;
    }
    auto list = std::make_shared<FilterList>();
    if (ScriptObject* array = AsArray(value))
        for (const ActionValue& element : array->elements)
            if (list->size() < std::size_t(MaxFilters))
                if (auto filter = ToFilter(vm, element))
                    list->push_back(std::move(*filter));
    placed->filters = list->empty() ? nullptr : std::move(list);
    placed->scripted = true;
    return true;
}

void SetUpFilterBuiltins(ActionInterpreter& vm) {
    ScriptObject* package = Package(vm, QStringLiteral("filters"));
    const NativeFunction constructors[] = {
        FilterConstructor<Filter::Kind::DropShadow>,   FilterConstructor<Filter::Kind::Blur>,
        FilterConstructor<Filter::Kind::Glow>,         FilterConstructor<Filter::Kind::Bevel>,
        FilterConstructor<Filter::Kind::GradientGlow>, FilterConstructor<Filter::Kind::Convolution>,
        FilterConstructor<Filter::Kind::ColorMatrix>,  FilterConstructor<Filter::Kind::GradientBevel>};
    for (std::size_t kind = 0; kind < std::size(constructors); ++kind) {
        ScriptObject* prototype = vm.NewObject();
        DefineMethods(vm, prototype, {{"clone", FilterClone}});
        vm.Define(package, QLatin1String(FilterClasses[kind]), vm.NewNative(constructors[kind], prototype));
    }
}

} // namespace flash
