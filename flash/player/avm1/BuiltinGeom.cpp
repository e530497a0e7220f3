// flash.geom as scripts reach it (_global.flash.geom): Point, Rectangle, Matrix, ColorTransform and
// Transform, whose matrix and colorTransform read and set a clip's placement, and the package
// objects themselves. Members are plain properties a script may set; what depends on them (a
// point's length, a rectangle's right, a colour transform's rgb) is worked out when read. Arguments
// that are not numbers give NaN, as in Flash Player; nothing here grows past a few objects a call.
#include "flash/player/avm1/Native.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace flash {

namespace {

// The gradient square's side in pixels (32768 twips).
constexpr double GradientSide = 1638.4;
// Pixels and factors a script may set: far past any stage, as for clip properties.
constexpr double MaxPlacementValue = 1e7;
// Parents walked for the concatenated transforms, as deep as the stage's own walks go.
constexpr int MaxParentLevels = 64;

double Get(NativeCall& call, const ActionValue& object, const char* name) {
    return call.vm.Number(call.vm.GetMember(object, QLatin1String(name)));
}
double Get(NativeCall& call, const char* name) {
    return Get(call, call.self, name);
}
void Set(NativeCall& call, const ActionValue& object, const char* name, double value) {
    call.vm.SetMember(object, QLatin1String(name), value);
}
void Set(NativeCall& call, const char* name, double value) {
    Set(call, call.self, name, value);
}
// An argument as a number, or `otherwise` when it is not given.
double ArgOr(NativeCall& call, std::size_t index, double otherwise) {
    return index < call.args.size() ? call.vm.Number(call.args[index]) : otherwise;
}

// new flash.geom.<name>(args), through the class a script sees, so its own changes to it count.
ActionValue Make(NativeCall& call, const char* name, const std::vector<ActionValue>& args) {
    ActionInterpreter& vm = call.vm;
    const ActionValue flash = vm.GetMember(vm.Global(), QStringLiteral("flash"));
    const ActionValue geom = vm.GetMember(flash, QStringLiteral("geom"));
    return vm.Construct(vm.GetMember(geom, QLatin1String(name)), args);
}

// "(a=1, b=0)": the members by name as Flash Player prints them.
ActionValue Describe(NativeCall& call, std::initializer_list<std::pair<const char*, const char*>> members) {
    QStringList parts;
    for (const auto& [shown, name] : members)
        parts.push_back(QLatin1String(shown) + u'=' +
                        call.vm.Text(call.vm.GetMember(call.self, QLatin1String(name))));
    return QStringLiteral("(") + parts.join(QStringLiteral(", ")) + u')';
}

// Members worked out when read (and set), put on the class's prototype when its first object is
// made: until a script makes one, writes to plain objects need not look for them.
struct Accessor {
    const char* name;
    NativeFunction get, set;
};
template <std::size_t N> void DefineAccessors(NativeCall& call, const Accessor (&accessors)[N]) {
    ScriptObject* self = call.SelfObject();
    ScriptObject* prototype = self ? self->proto : nullptr;
    if (!prototype || prototype->properties.Find(QLatin1String(accessors[0].name)))
        return;
    for (const Accessor& accessor : accessors)
        call.vm.DefineAccessor(prototype, QLatin1String(accessor.name), accessor.get, accessor.set);
}

// --- Point ---

ActionValue PointLength(NativeCall& call);
constexpr Accessor PointAccessors[] = {{"length", PointLength, nullptr}};

ActionValue PointConstructor(NativeCall& call) {
    DefineAccessors(call, PointAccessors);
    Set(call, "x", ArgOr(call, 0, 0));
    Set(call, "y", ArgOr(call, 1, 0));
    return {};
}
ActionValue PointLength(NativeCall& call) {
    return std::hypot(Get(call, "x"), Get(call, "y"));
}
ActionValue PointAdd(NativeCall& call) {
    return Make(call, "Point",
                {Get(call, "x") + Get(call, call.Arg(0), "x"), Get(call, "y") + Get(call, call.Arg(0), "y")});
}
ActionValue PointSubtract(NativeCall& call) {
    return Make(call, "Point",
                {Get(call, "x") - Get(call, call.Arg(0), "x"), Get(call, "y") - Get(call, call.Arg(0), "y")});
}
ActionValue PointOffset(NativeCall& call) {
    Set(call, "x", Get(call, "x") + call.vm.Number(call.Arg(0)));
    Set(call, "y", Get(call, "y") + call.vm.Number(call.Arg(1)));
    return {};
}
ActionValue PointNormalize(NativeCall& call) {
    const double x = Get(call, "x"), y = Get(call, "y"), length = std::hypot(x, y);
    if (length > 0) {
        const double scale = call.vm.Number(call.Arg(0)) / length;
        Set(call, "x", x * scale);
        Set(call, "y", y * scale);
    }
    return {};
}
ActionValue PointEquals(NativeCall& call) {
    return std::holds_alternative<ScriptObject*>(call.Arg(0)) &&
           Get(call, "x") == Get(call, call.Arg(0), "x") && Get(call, "y") == Get(call, call.Arg(0), "y");
}
ActionValue PointClone(NativeCall& call) {
    return Make(call, "Point", {Get(call, "x"), Get(call, "y")});
}
ActionValue PointToString(NativeCall& call) {
    return Describe(call, {{"x", "x"}, {"y", "y"}});
}
ActionValue PointDistance(NativeCall& call) {
    return std::hypot(Get(call, call.Arg(0), "x") - Get(call, call.Arg(1), "x"),
                      Get(call, call.Arg(0), "y") - Get(call, call.Arg(1), "y"));
}
// interpolate(a, b, f): a when f is 1, b when it is 0.
ActionValue PointInterpolate(NativeCall& call) {
    const double f = call.vm.Number(call.Arg(2));
    const double ax = Get(call, call.Arg(0), "x"), ay = Get(call, call.Arg(0), "y");
    const double bx = Get(call, call.Arg(1), "x"), by = Get(call, call.Arg(1), "y");
    return Make(call, "Point", {bx + f * (ax - bx), by + f * (ay - by)});
}
ActionValue PointPolar(NativeCall& call) {
    const double length = call.vm.Number(call.Arg(0)), angle = call.vm.Number(call.Arg(1));
    return Make(call, "Point", {length * std::cos(angle), length * std::sin(angle)});
}

// --- Rectangle ---

struct Box {
    double x, y, width, height;
    double Right() const { return x + width; }
    double Bottom() const { return y + height; }
    bool Empty() const { return !(width > 0) || !(height > 0); }
};
Box BoxOf(NativeCall& call, const ActionValue& object) {
    return {Get(call, object, "x"), Get(call, object, "y"), Get(call, object, "width"),
            Get(call, object, "height")};
}
void SetBox(NativeCall& call, const Box& box) {
    Set(call, "x", box.x);
    Set(call, "y", box.y);
    Set(call, "width", box.width);
    Set(call, "height", box.height);
}
ActionValue MakeRectangle(NativeCall& call, const Box& box) {
    return Make(call, "Rectangle", {box.x, box.y, box.width, box.height});
}

ActionValue RectangleLeft(NativeCall& call);
ActionValue RectangleTop(NativeCall& call);
ActionValue RectangleRight(NativeCall& call);
ActionValue RectangleBottom(NativeCall& call);
ActionValue SetRectangleLeft(NativeCall& call);
ActionValue SetRectangleTop(NativeCall& call);
ActionValue SetRectangleRight(NativeCall& call);
ActionValue SetRectangleBottom(NativeCall& call);
ActionValue RectangleTopLeft(NativeCall& call);
ActionValue RectangleBottomRight(NativeCall& call);
ActionValue RectangleSize(NativeCall& call);
constexpr Accessor RectangleAccessors[] = {{"left", RectangleLeft, SetRectangleLeft},
                                           {"top", RectangleTop, SetRectangleTop},
                                           {"right", RectangleRight, SetRectangleRight},
                                           {"bottom", RectangleBottom, SetRectangleBottom},
                                           {"topLeft", RectangleTopLeft, nullptr},
                                           {"bottomRight", RectangleBottomRight, nullptr},
                                           {"size", RectangleSize, nullptr}};

ActionValue RectangleConstructor(NativeCall& call) {
    DefineAccessors(call, RectangleAccessors);
    SetBox(call, {ArgOr(call, 0, 0), ArgOr(call, 1, 0), ArgOr(call, 2, 0), ArgOr(call, 3, 0)});
    return {};
}
ActionValue RectangleLeft(NativeCall& call) {
    return Get(call, "x");
}
ActionValue RectangleTop(NativeCall& call) {
    return Get(call, "y");
}
ActionValue RectangleRight(NativeCall& call) {
    return BoxOf(call, call.self).Right();
}
ActionValue RectangleBottom(NativeCall& call) {
    return BoxOf(call, call.self).Bottom();
}
// Moving the left or top edge keeps the opposite edge where it is.
ActionValue SetRectangleLeft(NativeCall& call) {
    const Box box = BoxOf(call, call.self);
    const double left = call.vm.Number(call.Arg(0));
    SetBox(call, {left, box.y, box.Right() - left, box.height});
    return {};
}
ActionValue SetRectangleTop(NativeCall& call) {
    const Box box = BoxOf(call, call.self);
    const double top = call.vm.Number(call.Arg(0));
    SetBox(call, {box.x, top, box.width, box.Bottom() - top});
    return {};
}
ActionValue SetRectangleRight(NativeCall& call) {
    Set(call, "width", call.vm.Number(call.Arg(0)) - Get(call, "x"));
    return {};
}
ActionValue SetRectangleBottom(NativeCall& call) {
    Set(call, "height", call.vm.Number(call.Arg(0)) - Get(call, "y"));
    return {};
}
ActionValue RectangleTopLeft(NativeCall& call) {
    return Make(call, "Point", {Get(call, "x"), Get(call, "y")});
}
ActionValue RectangleBottomRight(NativeCall& call) {
    const Box box = BoxOf(call, call.self);
    return Make(call, "Point", {box.Right(), box.Bottom()});
}
ActionValue RectangleSize(NativeCall& call) {
    return Make(call, "Point", {Get(call, "width"), Get(call, "height")});
}
ActionValue RectangleIsEmpty(NativeCall& call) {
    return BoxOf(call, call.self).Empty();
}
ActionValue RectangleSetEmpty(NativeCall& call) {
    SetBox(call, {0, 0, 0, 0});
    return {};
}
ActionValue RectangleClone(NativeCall& call) {
    return MakeRectangle(call, BoxOf(call, call.self));
}
bool Contains(const Box& box, double x, double y) {
    return x >= box.x && x < box.Right() && y >= box.y && y < box.Bottom();
}
ActionValue RectangleContains(NativeCall& call) {
    return Contains(BoxOf(call, call.self), call.vm.Number(call.Arg(0)), call.vm.Number(call.Arg(1)));
}
ActionValue RectangleContainsPoint(NativeCall& call) {
    return Contains(BoxOf(call, call.self), Get(call, call.Arg(0), "x"), Get(call, call.Arg(0), "y"));
}
ActionValue RectangleContainsRectangle(NativeCall& call) {
    const Box box = BoxOf(call, call.self), other = BoxOf(call, call.Arg(0));
    return !other.Empty() && other.x >= box.x && other.y >= box.y && other.Right() <= box.Right() &&
           other.Bottom() <= box.Bottom();
}
ActionValue RectangleEquals(NativeCall& call) {
    if (!std::holds_alternative<ScriptObject*>(call.Arg(0)))
        return false;
    const Box box = BoxOf(call, call.self), other = BoxOf(call, call.Arg(0));
    return box.x == other.x && box.y == other.y && box.width == other.width && box.height == other.height;
}
ActionValue RectangleInflate(NativeCall& call) {
    const Box box = BoxOf(call, call.self);
    const double dx = call.vm.Number(call.Arg(0)), dy = call.vm.Number(call.Arg(1));
    SetBox(call, {box.x - dx, box.y - dy, box.width + 2 * dx, box.height + 2 * dy});
    return {};
}
ActionValue RectangleInflatePoint(NativeCall& call) {
    const Box box = BoxOf(call, call.self);
    const double dx = Get(call, call.Arg(0), "x"), dy = Get(call, call.Arg(0), "y");
    SetBox(call, {box.x - dx, box.y - dy, box.width + 2 * dx, box.height + 2 * dy});
    return {};
}
ActionValue RectangleOffset(NativeCall& call) {
    Set(call, "x", Get(call, "x") + call.vm.Number(call.Arg(0)));
    Set(call, "y", Get(call, "y") + call.vm.Number(call.Arg(1)));
    return {};
}
ActionValue RectangleOffsetPoint(NativeCall& call) {
    Set(call, "x", Get(call, "x") + Get(call, call.Arg(0), "x"));
    Set(call, "y", Get(call, "y") + Get(call, call.Arg(0), "y"));
    return {};
}
// The common part; an empty rectangle when there is none.
ActionValue RectangleIntersection(NativeCall& call) {
    const Box a = BoxOf(call, call.self), b = BoxOf(call, call.Arg(0));
    const double left = std::max(a.x, b.x), top = std::max(a.y, b.y);
    const Box common{left, top, std::min(a.Right(), b.Right()) - left,
                     std::min(a.Bottom(), b.Bottom()) - top};
    return MakeRectangle(call, common.Empty() ? Box{0, 0, 0, 0} : common);
}
ActionValue RectangleIntersects(NativeCall& call) {
    const Box a = BoxOf(call, call.self), b = BoxOf(call, call.Arg(0));
    return std::min(a.Right(), b.Right()) > std::max(a.x, b.x) &&
           std::min(a.Bottom(), b.Bottom()) > std::max(a.y, b.y);
}
// The smallest rectangle holding both; an empty one counts for nothing.
ActionValue RectangleUnion(NativeCall& call) {
    const Box a = BoxOf(call, call.self), b = BoxOf(call, call.Arg(0));
    if (a.Empty())
        return MakeRectangle(call, b);
    if (b.Empty())
        return MakeRectangle(call, a);
    const double left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    return MakeRectangle(
        call, {left, top, std::max(a.Right(), b.Right()) - left, std::max(a.Bottom(), b.Bottom()) - top});
}
ActionValue RectangleToString(NativeCall& call) {
    return Describe(call, {{"x", "x"}, {"y", "y"}, {"w", "width"}, {"h", "height"}});
}

// --- Matrix ---

// In pixels, as scripts see it.
struct Affine {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    // This, then other.
    Affine Then(const Affine& o) const {
        return {a * o.a + b * o.c, a * o.b + b * o.d,          c * o.a + d * o.c,
                c * o.b + d * o.d, tx * o.a + ty * o.c + o.tx, tx * o.b + ty * o.d + o.ty};
    }
};
Affine AffineOf(NativeCall& call, const ActionValue& object) {
    return {Get(call, object, "a"), Get(call, object, "b"),  Get(call, object, "c"),
            Get(call, object, "d"), Get(call, object, "tx"), Get(call, object, "ty")};
}
void SetAffine(NativeCall& call, const ActionValue& object, const Affine& m) {
    Set(call, object, "a", m.a);
    Set(call, object, "b", m.b);
    Set(call, object, "c", m.c);
    Set(call, object, "d", m.d);
    Set(call, object, "tx", m.tx);
    Set(call, object, "ty", m.ty);
}
ActionValue MakeMatrix(NativeCall& call, const Affine& m) {
    return Make(call, "Matrix", {m.a, m.b, m.c, m.d, m.tx, m.ty});
}
Affine Rotation(double angle) {
    return {std::cos(angle), std::sin(angle), -std::sin(angle), std::cos(angle), 0, 0};
}

ActionValue MatrixConstructor(NativeCall& call) {
    SetAffine(call, call.self,
              {ArgOr(call, 0, 1), ArgOr(call, 1, 0), ArgOr(call, 2, 0), ArgOr(call, 3, 1), ArgOr(call, 4, 0),
               ArgOr(call, 5, 0)});
    return {};
}
ActionValue MatrixIdentity(NativeCall& call) {
    SetAffine(call, call.self, {});
    return {};
}
ActionValue MatrixTranslate(NativeCall& call) {
    Set(call, "tx", Get(call, "tx") + call.vm.Number(call.Arg(0)));
    Set(call, "ty", Get(call, "ty") + call.vm.Number(call.Arg(1)));
    return {};
}
ActionValue MatrixScale(NativeCall& call) {
    const double sx = call.vm.Number(call.Arg(0)), sy = call.vm.Number(call.Arg(1));
    SetAffine(call, call.self, AffineOf(call, call.self).Then({sx, 0, 0, sy, 0, 0}));
    return {};
}
ActionValue MatrixRotate(NativeCall& call) {
    SetAffine(call, call.self, AffineOf(call, call.self).Then(Rotation(call.vm.Number(call.Arg(0)))));
    return {};
}
ActionValue MatrixConcat(NativeCall& call) {
    SetAffine(call, call.self, AffineOf(call, call.self).Then(AffineOf(call, call.Arg(0))));
    return {};
}
// A matrix that cannot be inverted is left as it is.
ActionValue MatrixInvert(NativeCall& call) {
    const Affine m = AffineOf(call, call.self);
    const double determinant = m.a * m.d - m.b * m.c;
    if (determinant == 0 || !std::isfinite(determinant))
        return {};
    const double a = m.d / determinant, b = -m.b / determinant, c = -m.c / determinant, d = m.a / determinant;
    SetAffine(call, call.self, {a, b, c, d, -(a * m.tx + c * m.ty), -(b * m.tx + d * m.ty)});
    return {};
}
ActionValue MatrixCreateBox(NativeCall& call) {
    const double sx = call.vm.Number(call.Arg(0)), sy = call.vm.Number(call.Arg(1));
    const Affine r = Rotation(ArgOr(call, 2, 0));
    SetAffine(call, call.self,
              {r.a * sx, r.b * sx, r.c * sy, r.d * sy, ArgOr(call, 3, 0), ArgOr(call, 4, 0)});
    return {};
}
// The box a gradient fills: the gradient square scaled to width x height, turned, its corner at tx, ty.
ActionValue MatrixCreateGradientBox(NativeCall& call) {
    const double w = call.vm.Number(call.Arg(0)), h = call.vm.Number(call.Arg(1));
    const Affine r = Rotation(ArgOr(call, 2, 0));
    SetAffine(call, call.self,
              {r.a * w / GradientSide, r.b * w / GradientSide, r.c * h / GradientSide, r.d * h / GradientSide,
               ArgOr(call, 3, 0) + w / 2, ArgOr(call, 4, 0) + h / 2});
    return {};
}
ActionValue TransformPoint(NativeCall& call, bool translate) {
    const Affine m = AffineOf(call, call.self);
    const double x = Get(call, call.Arg(0), "x"), y = Get(call, call.Arg(0), "y");
    return Make(call, "Point",
                {m.a * x + m.c * y + (translate ? m.tx : 0), m.b * x + m.d * y + (translate ? m.ty : 0)});
}
ActionValue MatrixTransformPoint(NativeCall& call) {
    return TransformPoint(call, true);
}
ActionValue MatrixDeltaTransformPoint(NativeCall& call) {
    return TransformPoint(call, false);
}
ActionValue MatrixClone(NativeCall& call) {
    return MakeMatrix(call, AffineOf(call, call.self));
}
ActionValue MatrixToString(NativeCall& call) {
    return Describe(call, {{"a", "a"}, {"b", "b"}, {"c", "c"}, {"d", "d"}, {"tx", "tx"}, {"ty", "ty"}});
}

// --- ColorTransform ---

constexpr const char* ColorMembers[] = {"redMultiplier",   "greenMultiplier", "blueMultiplier",
                                        "alphaMultiplier", "redOffset",       "greenOffset",
                                        "blueOffset",      "alphaOffset"};

ColorTransform ColorOf(NativeCall& call, const ActionValue& object) {
    double v[8];
    for (int i = 0; i < 8; ++i)
        v[i] = Get(call, object, ColorMembers[i]);
    return {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
}
void SetColor(NativeCall& call, const ActionValue& object, const ColorTransform& t) {
    const double v[8] = {t.rMul, t.gMul, t.bMul, t.aMul, t.rAdd, t.gAdd, t.bAdd, t.aAdd};
    for (int i = 0; i < 8; ++i)
        Set(call, object, ColorMembers[i], v[i]);
}
ActionValue MakeColorTransform(NativeCall& call, const ColorTransform& t) {
    return Make(call, "ColorTransform", {t.rMul, t.gMul, t.bMul, t.aMul, t.rAdd, t.gAdd, t.bAdd, t.aAdd});
}
// Outer applied to what inner gives.
ColorTransform Compose(const ColorTransform& outer, const ColorTransform& inner) {
    return {outer.rMul * inner.rMul,
            outer.gMul * inner.gMul,
            outer.bMul * inner.bMul,
            outer.aMul * inner.aMul,
            outer.rAdd + outer.rMul * inner.rAdd,
            outer.gAdd + outer.gMul * inner.gAdd,
            outer.bAdd + outer.bMul * inner.bAdd,
            outer.aAdd + outer.aMul * inner.aAdd};
}

ActionValue ColorTransformRgb(NativeCall& call);
ActionValue SetColorTransformRgb(NativeCall& call);
constexpr Accessor ColorTransformAccessors[] = {{"rgb", ColorTransformRgb, SetColorTransformRgb}};

ActionValue ColorTransformConstructor(NativeCall& call) {
    DefineAccessors(call, ColorTransformAccessors);
    for (std::size_t i = 0; i < 8; ++i)
        Set(call, ColorMembers[i], ArgOr(call, i, i < 4 ? 1 : 0));
    return {};
}
ActionValue ColorTransformRgb(NativeCall& call) {
    const auto channel = [&](const char* name) { return std::uint32_t(ActionInt32(Get(call, name))) & 0xFF; };
    return double(channel("redOffset") << 16 | channel("greenOffset") << 8 | channel("blueOffset"));
}
// Setting rgb makes the colour that one colour: multipliers 0, offsets its channels.
ActionValue SetColorTransformRgb(NativeCall& call) {
    const auto rgb = std::uint32_t(ActionInt32(call.vm.Number(call.Arg(0))));
    Set(call, "redMultiplier", 0);
    Set(call, "greenMultiplier", 0);
    Set(call, "blueMultiplier", 0);
    Set(call, "redOffset", double(rgb >> 16 & 0xFF));
    Set(call, "greenOffset", double(rgb >> 8 & 0xFF));
    Set(call, "blueOffset", double(rgb & 0xFF));
    return {};
}
// The second transform applied first, then this one.
ActionValue ColorTransformConcat(NativeCall& call) {
    SetColor(call, call.self, Compose(ColorOf(call, call.self), ColorOf(call, call.Arg(0))));
    return {};
}
ActionValue ColorTransformToString(NativeCall& call) {
    return Describe(call, {{"redMultiplier", "redMultiplier"},
                           {"greenMultiplier", "greenMultiplier"},
                           {"blueMultiplier", "blueMultiplier"},
                           {"alphaMultiplier", "alphaMultiplier"},
                           {"redOffset", "redOffset"},
                           {"greenOffset", "greenOffset"},
                           {"blueOffset", "blueOffset"},
                           {"alphaOffset", "alphaOffset"}});
}

// --- Transform: a clip's placement ---

ClipRef ClipOf(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    const auto* clip = self ? std::get_if<ClipRef>(&self->primitive) : nullptr;
    return clip ? *clip : ClipRef{};
}

ActionValue TransformMatrix(NativeCall& call);
ActionValue SetTransformMatrix(NativeCall& call);
ActionValue TransformColorTransform(NativeCall& call);
ActionValue SetTransformColorTransform(NativeCall& call);
ActionValue TransformConcatenatedMatrix(NativeCall& call);
ActionValue TransformConcatenatedColorTransform(NativeCall& call);
constexpr Accessor TransformAccessors[] = {
    {"matrix", TransformMatrix, SetTransformMatrix},
    {"colorTransform", TransformColorTransform, SetTransformColorTransform},
    {"concatenatedMatrix", TransformConcatenatedMatrix, nullptr},
    {"concatenatedColorTransform", TransformConcatenatedColorTransform, nullptr}};

ActionValue TransformConstructor(NativeCall& call) {
    DefineAccessors(call, TransformAccessors);
    if (ScriptObject* self = call.SelfObject(); self && std::holds_alternative<ClipRef>(call.Arg(0)))
        self->primitive = call.Arg(0);
    return {};
}

Affine ToAffine(const Matrix& m) {
    return {m.a, m.b, m.c, m.d, m.tx / TwipsPerPixel, m.ty / TwipsPerPixel};
}

// The placements from the clip up to the stage, the clip's own first.
template <typename Visit> void ForEachPlacement(NativeCall& call, ClipRef clip, Visit&& visit) {
    ActionHost& host = call.vm.Host();
    for (int level = 0; clip.Valid() && !clip.root && level <= MaxParentLevels; ++level) {
        if (const DisplayObject* placed = host.PlacementOf(clip))
            visit(*placed);
        clip = host.Parent(clip);
    }
}

ActionValue TransformMatrix(NativeCall& call) {
    const DisplayObject* placed = call.vm.Host().PlacementOf(ClipOf(call));
    return MakeMatrix(call, placed ? ToAffine(placed->matrix) : Affine{});
}
ActionValue SetTransformMatrix(NativeCall& call) {
    DisplayObject* placed = call.vm.Host().PlacementOf(ClipOf(call));
    if (!placed || !std::holds_alternative<ScriptObject*>(call.Arg(0)))
        return {};
    const Affine m = AffineOf(call, call.Arg(0));
    const double limit = MaxPlacementValue;
    const auto clamped = [limit](double value, double otherwise) {
        return std::isfinite(value) ? std::clamp(value, -limit, limit) : otherwise;
    };
    placed->matrix = {clamped(m.a, 1),
                      clamped(m.b, 0),
                      clamped(m.c, 0),
                      clamped(m.d, 1),
                      std::round(clamped(m.tx, 0) * TwipsPerPixel),
                      std::round(clamped(m.ty, 0) * TwipsPerPixel)};
    placed->scripted = true;
    return {};
}
ActionValue TransformColorTransform(NativeCall& call) {
    const DisplayObject* placed = call.vm.Host().PlacementOf(ClipOf(call));
    return MakeColorTransform(call, placed ? placed->colorTransform : ColorTransform{});
}
ActionValue SetTransformColorTransform(NativeCall& call) {
    DisplayObject* placed = call.vm.Host().PlacementOf(ClipOf(call));
    if (!placed || !std::holds_alternative<ScriptObject*>(call.Arg(0)))
        return {};
    ColorTransform t = ColorOf(call, call.Arg(0));
    for (double* value : {&t.rMul, &t.gMul, &t.bMul, &t.aMul, &t.rAdd, &t.gAdd, &t.bAdd, &t.aAdd})
        *value = std::isfinite(*value) ? std::clamp(*value, -MaxPlacementValue, MaxPlacementValue) : 0;
    placed->colorTransform = t;
    placed->scripted = true;
    return {};
}
ActionValue TransformConcatenatedMatrix(NativeCall& call) {
    Affine m;
    ForEachPlacement(call, ClipOf(call),
                     [&](const DisplayObject& placed) { m = m.Then(ToAffine(placed.matrix)); });
    return MakeMatrix(call, m);
}
ActionValue TransformConcatenatedColorTransform(NativeCall& call) {
    ColorTransform t;
    ForEachPlacement(call, ClipOf(call),
                     [&](const DisplayObject& placed) { t = Compose(placed.colorTransform, t); });
    return MakeColorTransform(call, t);
}

// A class of the package: its constructor, prototype methods and the class's own functions.
void DefineClass(ActionInterpreter& vm, ScriptObject* package, const char* name, NativeFunction constructor,
                 const std::vector<NativeMethod>& methods, const std::vector<NativeMethod>& statics = {}) {
    ScriptObject* prototype = vm.NewObject();
    ScriptObject* function = vm.NewNative(constructor, prototype);
    if (!prototype || !function)
        return;
    DefineMethods(vm, prototype, methods);
    DefineMethods(vm, function, statics);
    vm.Define(package, QLatin1String(name), function);
}

} // namespace

ScriptObject* Package(ActionInterpreter& vm, const QString& name) {
    const auto member = [&vm](ScriptObject* owner, const QString& key) -> ScriptObject* {
        if (!owner)
            return nullptr;
        if (auto* const* found = std::get_if<ScriptObject*>(owner->properties.Find(key)); found && *found)
            return *found;
        ScriptObject* made = vm.NewObject();
        vm.Define(owner, key, made);
        return made;
    };
    return member(member(vm.Global(), QStringLiteral("flash")), name);
}

ActionValue ClipTransform(ActionInterpreter& vm, const ClipRef& clip) {
    const ActionValue flash = vm.GetMember(vm.Global(), QStringLiteral("flash"));
    const ActionValue geom = vm.GetMember(flash, QStringLiteral("geom"));
    return vm.Construct(vm.GetMember(geom, QStringLiteral("Transform")), {clip});
}

void SetUpGeomBuiltins(ActionInterpreter& vm) {
    ScriptObject* geom = Package(vm, QStringLiteral("geom"));
    DefineClass(vm, geom, "Point", PointConstructor,
                {{"add", PointAdd},
                 {"subtract", PointSubtract},
                 {"offset", PointOffset},
                 {"normalize", PointNormalize},
                 {"equals", PointEquals},
                 {"clone", PointClone},
                 {"toString", PointToString}},
                {{"distance", PointDistance}, {"interpolate", PointInterpolate}, {"polar", PointPolar}});
    DefineClass(vm, geom, "Rectangle", RectangleConstructor,
                {{"clone", RectangleClone},
                 {"contains", RectangleContains},
                 {"containsPoint", RectangleContainsPoint},
                 {"containsRectangle", RectangleContainsRectangle},
                 {"equals", RectangleEquals},
                 {"inflate", RectangleInflate},
                 {"inflatePoint", RectangleInflatePoint},
                 {"intersection", RectangleIntersection},
                 {"intersects", RectangleIntersects},
                 {"isEmpty", RectangleIsEmpty},
                 {"offset", RectangleOffset},
                 {"offsetPoint", RectangleOffsetPoint},
                 {"setEmpty", RectangleSetEmpty},
                 {"union", RectangleUnion},
                 {"toString", RectangleToString}});
    DefineClass(vm, geom, "Matrix", MatrixConstructor,
                {{"identity", MatrixIdentity},
                 {"translate", MatrixTranslate},
                 {"scale", MatrixScale},
                 {"rotate", MatrixRotate},
                 {"concat", MatrixConcat},
                 {"invert", MatrixInvert},
                 {"createBox", MatrixCreateBox},
                 {"createGradientBox", MatrixCreateGradientBox},
                 {"transformPoint", MatrixTransformPoint},
                 {"deltaTransformPoint", MatrixDeltaTransformPoint},
                 {"clone", MatrixClone},
                 {"toString", MatrixToString}});
    DefineClass(vm, geom, "ColorTransform", ColorTransformConstructor,
                {{"concat", ColorTransformConcat}, {"toString", ColorTransformToString}});
    DefineClass(vm, geom, "Transform", TransformConstructor, {});
}

} // namespace flash
