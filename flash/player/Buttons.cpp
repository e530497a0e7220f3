#include "flash/player/Buttons.h"

#include "flash/player/Geometry.h"
#include "flash/player/Keys.h"

#include <utility>

namespace flash {

namespace {

constexpr int MaxHitNesting = 8;

bool InHitArea(const Character& character, const Movie& movie, QPointF point, HitAreaCache& cache,
               int nesting);

bool PlacedHit(std::uint16_t id, const Matrix& matrix, const Movie& movie, QPointF point, HitAreaCache& cache,
               int nesting) {
    const auto found = movie.dictionary.find(id);
    if (found == movie.dictionary.end() || !found->second)
        return false;
    bool invertible = false;
    const QTransform inverse = ToQTransform(matrix).inverted(&invertible);
    return invertible && InHitArea(*found->second, movie, inverse.map(point), cache, nesting);
}

bool InHitArea(const Character& character, const Movie& movie, QPointF point, HitAreaCache& cache,
               int nesting) {
    if (nesting > MaxHitNesting)
        return false;
    if (const auto* shape = std::get_if<Shape>(&character)) {
        const Rect& b = shape->bounds;
        if (point.x() < b.xMin || point.x() > b.xMax || point.y() < b.yMin || point.y() > b.yMax)
            return false;
        auto [entry, added] = cache.try_emplace(&character);
        if (added) {
            entry->second.setFillRule(Qt::OddEvenFill);
            for (const QPainterPath& area : FillAreas(*shape))
                entry->second.addPath(area);
        }
        return entry->second.contains(point);
    }
    if (const auto* morph = std::get_if<MorphShape>(&character)) {
        const Rect& b = morph->startBounds;
        return point.x() >= b.xMin && point.x() <= b.xMax && point.y() >= b.yMin && point.y() <= b.yMax;
    }
    if (const auto* button = std::get_if<Button>(&character)) {
        for (const ButtonRecord& record : button->records)
            if ((record.states & ButtonRecord::HitTest) &&
                PlacedHit(record.characterId, record.matrix, movie, point, cache, nesting + 1))
                return true;
        return false;
    }
    if (const auto* sprite = std::get_if<Sprite>(&character)) {
        // A sprite in a hit area counts with what its first frame places.
        if (sprite->timeline.frames.empty())
            return false;
        for (const ControlTag& tag : sprite->timeline.frames.front().tags)
            if (const auto* place = std::get_if<PlaceObject>(&tag); place && place->characterId)
                if (PlacedHit(*place->characterId, place->matrix.value_or(Matrix{}), movie, point, cache,
                              nesting + 1))
                    return true;
    }
    return false;
}

} // namespace

const ButtonSound* SoundFor(const Button& button, std::uint16_t transition) {
    for (const ButtonSound& sound : button.sounds)
        if (sound.transition == transition)
            return &sound;
    return nullptr;
}

int ButtonKeyCode(int qtKey, const QString& text) {
    return ButtonCodeOf(KeyFromQt(qtKey, text));
}

bool ButtonHit(const Button& button, const Movie& movie, QPointF point, HitAreaCache& cache) {
    return InHitArea(Character(button), movie, point, cache, 0);
}

} // namespace flash
