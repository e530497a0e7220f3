#include "flash/player/ClipGeometry.h"

#include "flash/player/Geometry.h"
#include "flash/player/ScriptBitmap.h"
#include "flash/player/TimelineState.h"

namespace flash {

namespace {

QRectF ToRectF(const Rect& rect) {
    return QRectF(QPointF(rect.xMin, rect.yMin), QPointF(rect.xMax, rect.yMax));
}

std::optional<QRectF> Unite(const std::optional<QRectF>& a, const std::optional<QRectF>& b) {
    if (!a)
        return b;
    return b ? std::optional(a->united(*b)) : a;
}

// The character's own box, before its placement; nothing for containers and what shows nothing.
std::optional<QRectF> CharacterBox(const DisplayObject& object) {
    if (object.bitmap) { // an attached bitmap covers its pixels
        const ScriptBitmap* bitmap = object.bitmap->bitmap.get();
        if (!bitmap || bitmap->Disposed())
            return std::nullopt;
        return QRectF(0, 0, bitmap->Width() * TwipsPerPixel, bitmap->Height() * TwipsPerPixel);
    }
    const Character* character = object.character.get();
    if (!character)
        return std::nullopt;
    if (const auto* shape = std::get_if<Shape>(character))
        return ToRectF(shape->bounds);
    if (const auto* morph = std::get_if<MorphShape>(character)) {
        const double t = object.ratio / 65535.0;
        const QRectF from = ToRectF(morph->startBounds), to = ToRectF(morph->endBounds);
        return QRectF(
            QPointF(from.left() + (to.left() - from.left()) * t, from.top() + (to.top() - from.top()) * t),
            QPointF(from.right() + (to.right() - from.right()) * t,
                    from.bottom() + (to.bottom() - from.bottom()) * t));
    }
    if (const auto* text = std::get_if<StaticText>(character))
        return ToQTransform(text->matrix).mapRect(ToRectF(text->bounds));
    if (const auto* field = std::get_if<EditText>(character))
        return ToRectF(field->bounds);
    if (const auto* video = std::get_if<VideoStream>(character))
        return QRectF(0, 0, video->width * TwipsPerPixel, video->height * TwipsPerPixel);
    return std::nullopt;
}

} // namespace

const QPainterPath& ShapeAreaCache::AreaOf(const std::shared_ptr<const Character>& owner,
                                           const Shape& shape) {
    auto found = areas.find(owner.get());
    if (found != areas.end() && found->second.owner.lock() == owner)
        return found->second.area;
    if (areas.size() >= MaxCachedAreas)
        areas.clear();
    Entry entry{owner, {}};
    entry.area.setFillRule(Qt::OddEvenFill);
    for (const QPainterPath& area : FillAreas(shape))
        entry.area.addPath(area);
    return areas.insert_or_assign(owner.get(), std::move(entry)).first->second.area;
}

std::optional<QRectF> ListBounds(const DisplayList& list, const QTransform& listToSpace, int nesting) {
    if (nesting > MaxFindNesting)
        return std::nullopt;
    std::optional<QRectF> box;
    for (const auto& [depth, object] : list) {
        if (object.clipDepth > 0)
            continue;
        const QTransform toSpace = ToQTransform(object.matrix) * listToSpace;
        if (const auto own = CharacterBox(object))
            box = Unite(box, toSpace.mapRect(*own));
        if (object.sprite)
            box = Unite(box, ListBounds(object.sprite->displayList, toSpace, nesting + 1));
        if (object.button)
            box = Unite(box, ListBounds(object.button->displayList, toSpace, nesting + 1));
    }
    return box;
}

bool ListHitsShape(const DisplayList& list, const QTransform& listToStage, QPointF point, bool visibleOnly,
                   ShapeAreaCache& cache, const SpriteInstance* skip, int nesting) {
    if (nesting > MaxFindNesting)
        return false;
    for (const auto& [depth, object] : list) {
        if (object.clipDepth > 0 || (visibleOnly && !object.visible) || (skip && object.sprite.get() == skip))
            continue;
        const QTransform toStage = ToQTransform(object.matrix) * listToStage;
        if (object.sprite &&
            ListHitsShape(object.sprite->displayList, toStage, point, visibleOnly, cache, skip, nesting + 1))
            return true;
        if (object.button &&
            ListHitsShape(object.button->displayList, toStage, point, visibleOnly, cache, skip, nesting + 1))
            return true;
        const auto box = CharacterBox(object);
        if (!box)
            continue;
        bool invertible = false;
        const QPointF local = toStage.inverted(&invertible).map(point);
        if (!invertible || !box->contains(local))
            continue;
        const auto* shape = std::get_if<Shape>(object.character.get());
        if (!shape || cache.AreaOf(object.character, *shape).contains(local))
            return true;
    }
    return false;
}

} // namespace flash
