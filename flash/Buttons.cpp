#include "flash/Buttons.h"

#include "flash/ShapeRenderer.h"

#include <utility>

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
    button.version = version;
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

std::optional<std::vector<ButtonSound>> ReadButtonSounds(BitReader& r, const ButtonFieldReaders& readers) {
    // The file's order of the four transitions.
    static constexpr std::uint16_t Transitions[] = {OverUpToIdle, IdleToOverUp, OverUpToOverDown,
                                                    OverDownToOverUp};
    std::vector<ButtonSound> sounds;
    for (const std::uint16_t transition : Transitions) {
        ButtonSound sound;
        sound.transition = transition;
        sound.soundId = r.U16();
        if (r.Overrun())
            return std::nullopt;
        if (sound.soundId == 0)
            continue;
        if (!readers.soundInfo(r, sound.info))
            return std::nullopt;
        sounds.push_back(std::move(sound));
    }
    return sounds;
}

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
