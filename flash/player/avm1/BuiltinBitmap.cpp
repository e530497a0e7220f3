// flash.display.BitmapData as Flash Player 8 runs it, and the clip members that use it:
// attachBitmap, beginBitmapFill and cacheAsBitmap. The pixels live in a ScriptBitmap, which the
// object's native state, the clips showing it and the fills painting it share, so no sweep of the
// heap can take pixels a clip still shows.
//
// new BitmapData(width, height, transparent = true, fillColor = 0xFFFFFFFF); width, height,
// transparent and rect; getPixel, getPixel32 (a signed 32-bit number, as Flash Player 8 gives it),
// setPixel, setPixel32, fillRect, copyPixels (alpha bitmap and mergeAlpha too), draw of another
// BitmapData or of a clip (a matrix, a colour transform and a clip rectangle; the main timeline
// draws nothing, nor does any clip in a program without the renderer), clone,
// dispose, and BitmapData.loadBitmap(linkage) of the movie's exported bitmaps.
// A bitmap of a side outside 1..2880, one past the movie's bitmap memory, and one disposed are
// invalid, as Flash Player 8 has them: width and height read -1, getPixel and getPixel32 answer -1,
// rect, transparent and clone undefined, and the other methods do nothing. Coordinates are cut to
// whole pixels toward zero; what falls outside a bitmap is left alone.
// Work over pixels is paid from the running script's budget, a step for PixelsPerStep pixels, and
// is not done once the budget is spent, so no loop of fills and copies holds a frame up.
#include "flash/player/ClipPainting.h"
#include "flash/player/Drawing.h"
#include "flash/player/ScriptBitmap.h"
#include "flash/player/avm1/Native.h"

#include <algorithm>
#include <cmath>

namespace flash {

namespace {

// A frame's budget pays for about a dozen fills of the largest bitmap.
constexpr std::int64_t PixelsPerStep = 1024;
// A clip drawn into a bitmap is rendered whole: a frame's budget pays for a hundred such draws.
constexpr long long StepsPerClipDraw = 1000;

bool PayForPixels(ActionInterpreter& vm, std::int64_t pixels) {
    const std::int64_t steps = std::max<std::int64_t>(pixels, 0) / PixelsPerStep;
    return vm.PayFor(std::size_t(steps) * ActionInterpreter::ElementsPerStep);
}

std::int64_t PixelsOf(const QRect& area) {
    return area.isEmpty() ? 0 : std::int64_t(area.width()) * area.height();
}

struct BitmapState final : NativeState {
    std::shared_ptr<ScriptBitmap> bitmap; // null when it was never made

    bool Valid() const { return bitmap && !bitmap->Disposed(); }
    std::optional<ActionValue> Member(ActionInterpreter& vm, const QString& name) override;
};

bool Is(const QString& text, const char* name) {
    return text.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

ScriptObject* ObjectOf(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return object ? *object : nullptr;
}

BitmapState* StateOf(const ActionValue& value) {
    ScriptObject* object = ObjectOf(value);
    return object ? dynamic_cast<BitmapState*>(object->state.get()) : nullptr;
}

// The bitmap of a BitmapData value, or null when it is none or invalid.
std::shared_ptr<ScriptBitmap> BitmapOf(const ActionValue& value) {
    BitmapState* state = StateOf(value);
    return state && state->Valid() ? state->bitmap : nullptr;
}

int Whole(ActionInterpreter& vm, const ActionValue& value) {
    return ActionInt32(vm.Number(value));
}

std::uint32_t Color(ActionInterpreter& vm, const ActionValue& value) {
    return std::uint32_t(ActionInt32(vm.Number(value)));
}

int WholeMember(ActionInterpreter& vm, const ActionValue& object, const char* name) {
    return Whole(vm, vm.GetMember(object, QLatin1String(name)));
}

// Pixels far past any bitmap's side: coordinates are kept within it, so sums of them never overflow
// and what lies beyond stays beyond.
constexpr std::int64_t FarOut = std::int64_t(1) << 24;

int Near(std::int64_t value) {
    return int(std::clamp(value, -FarOut, FarOut));
}

// A flash.geom.Rectangle (or any object with x, y, width and height) in whole pixels.
std::optional<QRect> RectOf(ActionInterpreter& vm, const ActionValue& value) {
    if (!ObjectOf(value))
        return std::nullopt;
    const std::int64_t x = WholeMember(vm, value, "x"), y = WholeMember(vm, value, "y");
    const std::int64_t right = x + WholeMember(vm, value, "width");
    const std::int64_t bottom = y + WholeMember(vm, value, "height");
    return QRect(QPoint(Near(x), Near(y)), QPoint(Near(right) - 1, Near(bottom) - 1));
}

QPoint PointOf(ActionInterpreter& vm, const ActionValue& value) {
    return ObjectOf(value) ? QPoint(Near(WholeMember(vm, value, "x")), Near(WholeMember(vm, value, "y")))
                           : QPoint();
}

ActionValue NewGeom(ActionInterpreter& vm, const char* name, const std::vector<ActionValue>& args) {
    const ActionValue flash = vm.GetMember(vm.Global(), QStringLiteral("flash"));
    return vm.Construct(vm.GetMember(vm.GetMember(flash, QStringLiteral("geom")), QLatin1String(name)), args);
}

std::optional<ActionValue> BitmapState::Member(ActionInterpreter& vm, const QString& name) {
    if (Is(name, "width"))
        return Valid() ? double(bitmap->Width()) : -1.0;
    if (Is(name, "height"))
        return Valid() ? double(bitmap->Height()) : -1.0;
    if (Is(name, "transparent"))
        return Valid() ? ActionValue(bitmap->Transparent()) : ActionValue{};
    if (Is(name, "rect"))
        return Valid()
                   ? NewGeom(vm, "Rectangle", {0.0, 0.0, double(bitmap->Width()), double(bitmap->Height())})
                   : ActionValue{};
    return std::nullopt;
}

// A new object of the class scripts see as flash.display.BitmapData, holding the bitmap.
ActionValue NewBitmapData(ActionInterpreter& vm, std::shared_ptr<ScriptBitmap> bitmap) {
    if (!bitmap)
        return {};
    const ActionValue flash = vm.GetMember(vm.Global(), QStringLiteral("flash"));
    const ActionValue display = vm.GetMember(flash, QStringLiteral("display"));
    const ActionValue constructor = vm.GetMember(display, QStringLiteral("BitmapData"));
    ScriptObject* prototype = ObjectOf(vm.GetMember(constructor, QStringLiteral("prototype")));
    ScriptObject* object =
        vm.Heap().New(ScriptObject::Kind::Object, prototype ? prototype : vm.Protos().object);
    if (!object)
        return {};
    auto state = std::make_unique<BitmapState>();
    state->bitmap = std::move(bitmap);
    object->state = std::move(state);
    return object;
}

ActionValue Construct(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    if (!self || (!call.constructing && self->state))
        return {};
    ActionInterpreter& vm = call.vm;
    const bool transparent = call.args.size() < 3 || ActionBool(call.Arg(2));
    const std::uint32_t fill = call.args.size() < 4 ? 0xFFFFFFFFu : Color(vm, call.Arg(3));
    const int width = Whole(vm, call.Arg(0)), height = Whole(vm, call.Arg(1));
    auto state = std::make_unique<BitmapState>();
    const bool sized =
        width > 0 && height > 0 && width <= ScriptBitmap::MaxSide && height <= ScriptBitmap::MaxSide;
    if (sized && PayForPixels(vm, std::int64_t(width) * height))
        state->bitmap = ScriptBitmap::Make(width, height, transparent, fill, vm.BitmapBytes());
    self->state = std::move(state);
    return {};
}

ActionValue LoadBitmap(NativeCall& call) {
    const QImage image = call.vm.Host().ExportedBitmap(call.vm.Text(call.Arg(0)));
    if (!PayForPixels(call.vm, PixelsOf(image.rect())))
        return {};
    return NewBitmapData(call.vm, ScriptBitmap::FromImage(image, call.vm.BitmapBytes()));
}

ActionValue GetPixel(NativeCall& call) {
    const auto bitmap = BitmapOf(call.self);
    if (!bitmap)
        return -1.0;
    return double(bitmap->Pixel32(Whole(call.vm, call.Arg(0)), Whole(call.vm, call.Arg(1))) & 0xFFFFFF);
}

ActionValue GetPixel32(NativeCall& call) {
    const auto bitmap = BitmapOf(call.self);
    if (!bitmap)
        return -1.0;
    return double(std::int32_t(bitmap->Pixel32(Whole(call.vm, call.Arg(0)), Whole(call.vm, call.Arg(1)))));
}

ActionValue SetPixel(NativeCall& call) {
    if (const auto bitmap = BitmapOf(call.self))
        bitmap->SetPixel(Whole(call.vm, call.Arg(0)), Whole(call.vm, call.Arg(1)),
                         Color(call.vm, call.Arg(2)));
    return {};
}

ActionValue SetPixel32(NativeCall& call) {
    if (const auto bitmap = BitmapOf(call.self))
        bitmap->SetPixel32(Whole(call.vm, call.Arg(0)), Whole(call.vm, call.Arg(1)),
                           Color(call.vm, call.Arg(2)));
    return {};
}

ActionValue FillRect(NativeCall& call) {
    const auto bitmap = BitmapOf(call.self);
    const auto area = RectOf(call.vm, call.Arg(0));
    if (bitmap && area && PayForPixels(call.vm, PixelsOf(*area & bitmap->Bounds())))
        bitmap->FillRect(*area, Color(call.vm, call.Arg(1)));
    return {};
}

// copyPixels(source, sourceRect, destPoint, alphaBitmapData, alphaPoint, mergeAlpha).
ActionValue CopyPixels(NativeCall& call) {
    ActionInterpreter& vm = call.vm;
    const auto bitmap = BitmapOf(call.self);
    const auto source = BitmapOf(call.Arg(0));
    const auto area = RectOf(vm, call.Arg(1));
    if (!bitmap || !source || !area || !PayForPixels(vm, PixelsOf(*area & source->Bounds())))
        return {};
    const auto alpha = BitmapOf(call.Arg(3));
    bitmap->CopyPixels(*source, *area, PointOf(vm, call.Arg(2)), alpha.get(), PointOf(vm, call.Arg(4)),
                       ActionBool(call.Arg(5)));
    return {};
}

// A colour transform's eight members, as flash.geom.ColorTransform has them.
ColorTransform ColorTransformOf(ActionInterpreter& vm, const ActionValue& value) {
    ColorTransform t;
    if (!ObjectOf(value))
        return t;
    t.rMul = NumberMember(vm, value, "redMultiplier", 1);
    t.gMul = NumberMember(vm, value, "greenMultiplier", 1);
    t.bMul = NumberMember(vm, value, "blueMultiplier", 1);
    t.aMul = NumberMember(vm, value, "alphaMultiplier", 1);
    t.rAdd = NumberMember(vm, value, "redOffset", 0);
    t.gAdd = NumberMember(vm, value, "greenOffset", 0);
    t.bAdd = NumberMember(vm, value, "blueOffset", 0);
    t.aAdd = NumberMember(vm, value, "alphaOffset", 0);
    return t;
}

// The source's pixels through a colour transform, unmultiplied and premultiplied again.
QImage Transformed(const QImage& source, const ColorTransform& t) {
    if (t == ColorTransform{})
        return source;
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const auto channel = [](int c, double mul, double add) {
        return std::clamp(int(std::lround(c * mul + add)), 0, 255);
    };
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            line[x] = qRgba(channel(qRed(p), t.rMul, t.rAdd), channel(qGreen(p), t.gMul, t.gAdd),
                            channel(qBlue(p), t.bMul, t.bAdd), channel(qAlpha(p), t.aMul, t.aAdd));
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// draw(source, matrix, colorTransform, blendMode, clipRect, smoothing) of another BitmapData or of a
// clip, drawn over the pixels; the blend mode is taken as normal.
// A sprite's display list painted onto the bitmap: through the matrix (the clip's pixels to the
// bitmap's), its own placement left out, as Flash Player draws a clip into a bitmap.
void DrawClip(ActionInterpreter& vm, ScriptBitmap& bitmap, const ClipRef& clip, const Matrix& m,
              const ColorTransform& color, const std::optional<QRect>& area) {
    const DisplayObject* placed = vm.Host().PlacementOf(clip);
    const Movie* movie = vm.Host().PlayedMovie();
    const ClipPainter painter = GetClipPainter();
    if (!placed || !placed->sprite || !movie || !painter ||
        !vm.PayFor(std::size_t(StepsPerClipDraw) * ActionInterpreter::ElementsPerStep) ||
        !PayForPixels(vm, 2 * PixelsOf(bitmap.Bounds())))
        return;
    QImage layer(bitmap.Width(), bitmap.Height(), QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull())
        return;
    layer.fill(Qt::transparent);
    const QTransform toBitmap = QTransform::fromScale(1 / TwipsPerPixel, 1 / TwipsPerPixel) *
                                QTransform(m.a, m.b, m.c, m.d, m.tx, m.ty);
    painter(layer, *movie, placed->sprite->displayList, toBitmap, color);
    bitmap.DrawImage(layer, QTransform(), area, false);
}

ActionValue Draw(NativeCall& call) {
    ActionInterpreter& vm = call.vm;
    const auto bitmap = BitmapOf(call.self);
    if (const auto* clip = std::get_if<ClipRef>(&call.Arg(0)); clip && bitmap) {
        DrawClip(vm, *bitmap, *clip, MatrixMember(vm, call.Arg(1)), ColorTransformOf(vm, call.Arg(2)),
                 RectOf(vm, call.Arg(4)));
        return {};
    }
    const auto source = BitmapOf(call.Arg(0));
    if (!bitmap || !source || !PayForPixels(vm, PixelsOf(source->Bounds()) + PixelsOf(bitmap->Bounds())))
        return {};
    const QImage drawn = Transformed(source->Image(), ColorTransformOf(vm, call.Arg(2)));
    const Matrix m = MatrixMember(vm, call.Arg(1));
    bitmap->DrawImage(drawn, QTransform(m.a, m.b, m.c, m.d, m.tx, m.ty), RectOf(vm, call.Arg(4)),
                      ActionBool(call.Arg(5)));
    return {};
}

ActionValue Clone(NativeCall& call) {
    const auto bitmap = BitmapOf(call.self);
    if (!bitmap || !PayForPixels(call.vm, PixelsOf(bitmap->Bounds())))
        return {};
    return NewBitmapData(call.vm, bitmap->Clone());
}

ActionValue Dispose(NativeCall& call) {
    if (BitmapState* state = StateOf(call.self); state && state->bitmap)
        state->bitmap->Dispose();
    return {};
}

} // namespace

void SetUpBitmapBuiltins(ActionInterpreter& vm) {
    ScriptObject* display = Package(vm, QStringLiteral("display"));
    ScriptObject* prototype = vm.NewObject();
    ScriptObject* constructor = vm.NewNative(Construct, prototype);
    if (!display || !prototype || !constructor)
        return;
    DefineMethods(vm, prototype,
                  {{"getPixel", GetPixel},
                   {"getPixel32", GetPixel32},
                   {"setPixel", SetPixel},
                   {"setPixel32", SetPixel32},
                   {"fillRect", FillRect},
                   {"copyPixels", CopyPixels},
                   {"draw", Draw},
                   {"clone", Clone},
                   {"dispose", Dispose}});
    DefineMethods(vm, constructor, {{"loadBitmap", LoadBitmap}});
    vm.Define(display, QStringLiteral("BitmapData"), constructor);
}

// attachBitmap(bitmap, depth, pixelSnapping = "auto", smoothing = false).
ActionValue AttachBitmap(ActionInterpreter& vm, const ClipRef& clip, const std::vector<ActionValue>& args) {
    BitmapState* state = args.empty() ? nullptr : StateOf(args[0]);
    const double depth = args.size() > 1 ? vm.Number(args[1]) : NAN;
    if (!state || !state->bitmap || !std::isfinite(depth) || depth < 0 || depth >= 65536)
        return {};
    auto shown = std::make_shared<ShownBitmap>();
    shown->bitmap = state->bitmap;
    const QString snapping = args.size() > 2 ? vm.Text(args[2]) : QString();
    shown->snapping = Is(snapping, "always")  ? ShownBitmap::Snapping::Always
                      : Is(snapping, "never") ? ShownBitmap::Snapping::Never
                                              : ShownBitmap::Snapping::Auto;
    shown->smoothing = args.size() > 3 && ActionBool(args[3]);
    vm.Host().AttachBitmap(clip, std::move(shown), int(depth));
    return {};
}

// beginBitmapFill(bitmap, matrix, repeat = true, smoothing = false); without a valid bitmap it ends
// the open fill and fills nothing.
void BeginBitmapFill(ActionInterpreter& vm, Drawing& drawing, const std::vector<ActionValue>& args) {
    const auto bitmap = args.empty() ? nullptr : BitmapOf(args[0]);
    if (!bitmap) {
        drawing.BeginFill(std::nullopt);
        return;
    }
    const bool repeat = args.size() < 3 || ActionBool(args[2]);
    const bool smooth = args.size() > 3 && ActionBool(args[3]);
    drawing.BeginBitmapFill(bitmap, MatrixMember(vm, args.size() > 1 ? args[1] : ActionValue{}), repeat,
                            smooth);
}

// cacheAsBitmap reads true while the clip has filters, whatever was set, and what was set after.
ActionValue CacheAsBitmap(ActionInterpreter& vm, const ClipRef& clip) {
    const DisplayObject* placed = vm.Host().PlacementOf(clip);
    return placed && (placed->cacheAsBitmap || (placed->filters && !placed->filters->empty()));
}

void SetCacheAsBitmap(ActionInterpreter& vm, const ClipRef& clip, const ActionValue& value) {
    if (DisplayObject* placed = vm.Host().PlacementOf(clip))
        placed->cacheAsBitmap = ActionBool(value);
}

} // namespace flash
