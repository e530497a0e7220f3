// Clip methods and properties that ask where a clip is and what it shows: getBounds, hitTest,
// localToGlobal and globalToLocal, depths (getDepth, swapDepths, getNextHighestDepth,
// getInstanceAtDepth), createEmptyMovieClip; _width and _height, _xmouse and _ymouse, _name,
// _target, _droptarget and _url. Arguments that are not numbers or clips leave things as they are; a clip
// off the stage answers undefined.
#include "flash/player/avm1/Actions.h"

#include "flash/player/TimelineState.h"

#include <cmath>

namespace flash {

namespace {

// What getBounds gives for a clip that shows nothing, as Flash Player does.
constexpr double EmptyBound = 6710886.35;

// Script depths a display list can hold: the timeline's from -16384 up, scripts' from 0.
constexpr double MinDepth = -16384, MaxDepth = 65535 - 16384;

std::optional<int> DepthArgument(const ActionValue& value) {
    const double depth = ActionNumber(value);
    if (!std::isfinite(depth) || depth < MinDepth || depth > MaxDepth)
        return std::nullopt;
    return int(std::floor(depth));
}

// A box as Flash keeps it, in whole twips.
QRectF InTwips(const QRectF& box) {
    return QRectF(QPointF(std::round(box.left()), std::round(box.top())),
                  QPointF(std::round(box.right()), std::round(box.bottom())));
}

} // namespace

QString ActionInterpreter::TargetPath(const ClipRef& clip) {
    if (!clip.Valid())
        return {};
    // "/a/b" on the main timeline; "_level1/a/b" in a movie loaded into a level.
    QStringList names;
    ClipRef at = clip;
    for (int nesting = 0; nesting <= MaxFindNesting && at.Valid() && !at.root; ++nesting) {
        if (const auto level = host.LevelOf(at))
            return QStringLiteral("_level%1").arg(*level) +
                   (names.isEmpty() ? QString() : u'/' + names.join(u'/'));
        names.prepend(host.Name(at));
        at = host.Parent(at);
    }
    return u'/' + names.join(u'/');
}

std::optional<ActionValue> ActionInterpreter::ClipMethod(const ClipRef& clip, const QString& method,
                                                         const std::vector<ActionValue>& args) {
    const auto arg = [&args](std::size_t i) -> const ActionValue& {
        static const ActionValue undefined;
        return i < args.size() ? args[i] : undefined;
    };
    // A clip argument, or a target path from this clip.
    const auto clipArgument = [&](const ActionValue& value) {
        if (const auto* ref = std::get_if<ClipRef>(&value))
            return *ref;
        return std::holds_alternative<QString>(value) ? Resolve(clip, ActionText(value)) : ClipRef{};
    };
    const auto stageBox = [&](const ClipRef& of) -> std::optional<QRectF> {
        const auto toStage = host.StageTransform(of);
        return toStage ? host.ContentBounds(of, *toStage) : std::nullopt;
    };

    if (method == QStringLiteral("getbounds")) {
        const ClipRef space = args.empty() ? clip : clipArgument(arg(0));
        const auto toStage = host.StageTransform(clip);
        const auto spaceToStage = host.StageTransform(space);
        bool invertible = false;
        const QTransform fromStage = spaceToStage ? spaceToStage->inverted(&invertible) : QTransform();
        if (!toStage || !invertible)
            return ActionValue{};
        const auto box = host.ContentBounds(clip, *toStage * fromStage);
        ScriptObject* result = NewObject();
        if (!result)
            return ActionValue{};
        const QRectF b = box ? InTwips(*box) : QRectF();
        const auto edge = [&box](double twips) { return box ? twips / TwipsPerPixel : EmptyBound; };
        SetObjectMember(*result, QStringLiteral("xMin"), edge(b.left()));
        SetObjectMember(*result, QStringLiteral("xMax"), edge(b.right()));
        SetObjectMember(*result, QStringLiteral("yMin"), edge(b.top()));
        SetObjectMember(*result, QStringLiteral("yMax"), edge(b.bottom()));
        return ActionValue(result);
    }
    if (method == QStringLiteral("hittest")) {
        if (args.size() >= 2) {
            const double x = ActionNumber(arg(0)), y = ActionNumber(arg(1));
            if (!std::isfinite(x) || !std::isfinite(y))
                return false;
            const QPointF point(x * TwipsPerPixel, y * TwipsPerPixel);
            if (ActionBool(arg(2)))
                return host.HitsShape(clip, point);
            const auto box = stageBox(clip);
            return box && InTwips(*box).contains(point);
        }
        const auto mine = stageBox(clip), theirs = stageBox(clipArgument(arg(0)));
        return mine && theirs && InTwips(*mine).intersects(InTwips(*theirs));
    }
    if (method == QStringLiteral("localtoglobal") || method == QStringLiteral("globaltolocal")) {
        auto* const* point = std::get_if<ScriptObject*>(&arg(0));
        const auto toStage = host.StageTransform(clip);
        if (!point || !*point || !toStage)
            return ActionValue{};
        bool invertible = true;
        const QTransform map =
            method == QStringLiteral("localtoglobal") ? *toStage : toStage->inverted(&invertible);
        const double x = Number(GetMember(*point, QStringLiteral("x")));
        const double y = Number(GetMember(*point, QStringLiteral("y")));
        if (!invertible || !std::isfinite(x) || !std::isfinite(y))
            return ActionValue{};
        const QPointF mapped = map.map(QPointF(x * TwipsPerPixel, y * TwipsPerPixel)) / TwipsPerPixel;
        SetObjectMember(**point, QStringLiteral("x"), mapped.x());
        SetObjectMember(**point, QStringLiteral("y"), mapped.y());
        return ActionValue{};
    }
    if (method == QStringLiteral("getdepth")) {
        const auto depth = host.Depth(clip);
        return depth ? ActionValue(double(*depth)) : ActionValue{};
    }
    if (method == QStringLiteral("getnexthighestdepth"))
        return double(host.NextHighestDepth(clip));
    if (method == QStringLiteral("getinstanceatdepth")) {
        const auto depth = DepthArgument(arg(0));
        const ClipRef found = depth ? host.AtDepth(clip, *depth) : ClipRef{};
        return found.Valid() ? ActionValue(found) : ActionValue{};
    }
    if (method == QStringLiteral("swapdepths")) {
        std::optional<int> depth;
        if (const auto* other = std::get_if<ClipRef>(&arg(0))) {
            // Only clips on the same timeline trade places.
            if (host.Parent(*other) == host.Parent(clip))
                depth = host.Depth(*other);
        } else {
            depth = DepthArgument(arg(0));
        }
        if (depth)
            host.SwapDepths(clip, *depth);
        return ActionValue{};
    }
    if (method == QStringLiteral("createemptymovieclip")) {
        const auto depth = DepthArgument(arg(1));
        const QString name = ActionText(arg(0)).left(MaxString);
        const ClipRef made = depth && args.size() >= 2 ? host.CreateEmpty(clip, name, *depth) : ClipRef{};
        return made.Valid() ? ActionValue(made) : ActionValue{};
    }
    return ClipLoadMethod(clip, method, args);
}

std::optional<ActionValue> ActionInterpreter::ClipGeometryProperty(const ClipRef& clip, int property) {
    switch (property) {
    case PropertyWidth:
    case PropertyHeight: {
        // The box in the parent's coordinates.
        const auto toStage = host.StageTransform(clip);
        const auto parentToStage =
            clip.root ? std::optional(QTransform()) : host.StageTransform(host.Parent(clip));
        bool invertible = false;
        const QTransform fromParent = parentToStage ? parentToStage->inverted(&invertible) : QTransform();
        if (!toStage || !invertible)
            return ActionValue{};
        const auto box = host.ContentBounds(clip, *toStage * fromParent);
        if (!box)
            return 0.0;
        const QRectF b = InTwips(*box);
        return (property == PropertyWidth ? b.width() : b.height()) / TwipsPerPixel;
    }
    case PropertyXMouse:
    case PropertyYMouse: {
        const auto toStage = host.StageTransform(clip);
        bool invertible = false;
        const QTransform fromStage = toStage ? toStage->inverted(&invertible) : QTransform();
        if (!invertible)
            return ActionValue{};
        const QPointF mouse = fromStage.map(host.MousePosition()) / TwipsPerPixel;
        return property == PropertyXMouse ? mouse.x() : mouse.y();
    }
    case PropertyName:
        return ActionValue(host.Name(clip));
    case PropertyTarget:
        return ActionValue(TargetPath(clip));
    case PropertyUrl:
        return ActionValue(host.MovieUrl());
    case PropertyDropTarget: {
        const ClipRef under = host.DropTarget(clip);
        return ActionValue(under.Valid() ? TargetPath(under) : QString());
    }
    default:
        return std::nullopt;
    }
}

bool ActionInterpreter::SetClipGeometryProperty(const ClipRef& clip, int property, const ActionValue& value) {
    switch (property) {
    case PropertyWidth:
    case PropertyHeight: {
        // Scales the clip so that its own box spans the size given.
        const double size = ActionNumber(value);
        const auto box = host.ContentBounds(clip, QTransform());
        const double own = box ? (property == PropertyWidth ? box->width() : box->height()) : 0;
        if (std::isfinite(size) && own > 0)
            host.SetProperty(clip, property == PropertyWidth ? PropertyXScale : PropertyYScale,
                             size * TwipsPerPixel / own * 100);
        return true;
    }
    case PropertyName:
        host.Rename(clip, ActionText(value).left(MaxString));
        return true;
    case PropertyTarget:
    case PropertyUrl:
    case PropertyDropTarget:
    case PropertyXMouse:
    case PropertyYMouse:
        return true; // read only
    default:
        return false;
    }
}

} // namespace flash
