#include "flash/player/Buttons.h"

#include "flash/player/Geometry.h"

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
    static constexpr std::pair<int, int> Named[] = {
        {Qt::Key_Left, 1},      {Qt::Key_Right, 2},  {Qt::Key_Home, 3},      {Qt::Key_End, 4},
        {Qt::Key_Insert, 5},    {Qt::Key_Delete, 6}, {Qt::Key_Backspace, 8}, {Qt::Key_Return, 13},
        {Qt::Key_Enter, 13},    {Qt::Key_Up, 14},    {Qt::Key_Down, 15},     {Qt::Key_PageUp, 16},
        {Qt::Key_PageDown, 17}, {Qt::Key_Tab, 18},   {Qt::Key_Escape, 19},
    };
    for (const auto& [key, code] : Named)
        if (key == qtKey)
            return code;
    // Printable ASCII by the character typed, so that shift gives the capital.
    if (text.size() == 1 && text[0].unicode() >= 32 && text[0].unicode() <= 126)
        return text[0].unicode();
    return 0;
}

bool ButtonHit(const Button& button, const Movie& movie, QPointF point, HitAreaCache& cache) {
    return InHitArea(Character(button), movie, point, cache, 0);
}

} // namespace flash
