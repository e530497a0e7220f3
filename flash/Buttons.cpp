#include "flash/Buttons.h"

#include "flash/ShapeRenderer.h"

namespace flash {

namespace {

constexpr int MaxHitNesting = 8;

bool ReadRecords(int version, BitReader& r, const ButtonFieldReaders& readers,
                 std::vector<ButtonRecord>& out) {
    for (;;) {
        const std::uint8_t flags = r.U8();
        if (r.Overrun())
            return false;
        if (flags == 0)
            return true;
        ButtonRecord record;
        record.states = flags & 0x0F;
        record.characterId = r.U16();
        record.depth = r.U16();
        record.matrix = readers.matrix(r);
        if (version == 2) {
            record.colorTransform = readers.colorTransform(r, true);
            if ((flags & 0x10) && !readers.skipFilters(r))
                return false;
            if (flags & 0x20)
                r.U8(); // blend mode: buttons draw normally
        }
        if (r.Overrun() || (readers.room && !readers.room(sizeof(ButtonRecord))))
            return false;
        out.push_back(record);
    }
}

void ReadConditionActions(BitReader& r, const ButtonFieldReaders& readers, std::vector<ButtonAction>& out) {
    while (r.Remaining() >= 4) {
        const std::size_t size = r.U16();
        ButtonAction action;
        action.conditions = r.U16();
        if (size != 0 && (size < 4 || size - 4 > r.Remaining()))
            return; // a lying size: what came before stays
        if (readers.room && !readers.room(sizeof(ButtonAction)))
            return;
        action.actions = size == 0 ? r.Rest() : r.Bytes(size - 4);
        out.push_back(std::move(action));
        if (size == 0)
            return;
    }
}

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
        if (added)
            entry->second = PrepareShape(*shape).area;
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

std::optional<Button> ReadButton(int version, BitReader& r, const ButtonFieldReaders& readers) {
    Button button;
    if (version == 1) {
        if (!ReadRecords(1, r, readers, button.records))
            return std::nullopt;
        button.actions.push_back({OverDownToOverUp, r.Rest()});
        return button;
    }
    button.trackAsMenu = r.U8() & 0x01;
    const std::size_t actionOffset = r.U16();
    if (r.Overrun())
        return std::nullopt;
    // The offset counts from its own field; 0 means no actions.
    if (actionOffset != 0 && (actionOffset < 2 || actionOffset - 2 > r.Remaining()))
        return std::nullopt;
    BitReader records = actionOffset == 0 ? r.Sub(r.Remaining()) : r.Sub(actionOffset - 2);
    if (!ReadRecords(2, records, readers, button.records))
        return std::nullopt;
    if (actionOffset != 0)
        ReadConditionActions(r, readers, button.actions);
    return button;
}

bool ButtonHit(const Button& button, const Movie& movie, QPointF point, HitAreaCache& cache) {
    return InHitArea(Character(button), movie, point, cache, 0);
}

} // namespace flash
