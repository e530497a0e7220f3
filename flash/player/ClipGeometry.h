#pragma once
// Where a clip's content lies and what it covers, for scripts (getBounds, hitTest, _width) and for
// clips that take the mouse as buttons: the box around everything a display list shows, mapped into
// any coordinate space, and whether a point falls on its shapes' fills.
//
// Shapes count by their fill areas; morph shapes, texts, videos and buttons' hit areas by their
// boxes. Masks count for neither. Walks stop MaxFindNesting levels down; a damaged or empty list
// gives no box and no hit. The shape outlines kept for hit tests are bounded by MaxCachedAreas.

#include "flash/player/DisplayList.h"

#include <QPainterPath>
#include <QRectF>
#include <QTransform>
#include <memory>
#include <optional>
#include <unordered_map>

namespace flash {

// Fill outlines of shapes, kept between hit tests while their character lives.
class ShapeAreaCache {
public:
    // More shapes than any movie shows at once; past it the cache starts again.
    static constexpr std::size_t MaxCachedAreas = 4096;
    const QPainterPath& AreaOf(const std::shared_ptr<const Character>& owner, const Shape& shape);

private:
    struct Entry {
        std::weak_ptr<const Character> owner; // an address reused by a new character is not this one
        QPainterPath area;
    };
    std::unordered_map<const Character*, Entry> areas;
};

// The box (twips of the space) around what the list shows, each object mapped by its matrix and then
// listToSpace; nothing when it shows nothing.
std::optional<QRectF> ListBounds(const DisplayList& list, const QTransform& listToSpace, int nesting = 0);

// Whether a point (stage twips) falls on the fills of the shapes in the list, whose coordinates map to
// the stage by listToStage. visibleOnly skips hidden objects, as the mouse does; skip is a sprite left
// out with what it holds (one being dragged).
bool ListHitsShape(const DisplayList& list, const QTransform& listToStage, QPointF point, bool visibleOnly,
                   ShapeAreaCache& cache, const SpriteInstance* skip = nullptr, int nesting = 0);

} // namespace flash
