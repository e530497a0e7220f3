#include "flash/swf/SpriteCycles.h"

#include <map>
#include <set>
#include <vector>

namespace flash {

namespace {

// The sprites a timeline places, by id, in order of first placement.
std::vector<std::uint16_t> PlacedSprites(const Movie& movie, const Timeline& timeline) {
    std::vector<std::uint16_t> ids;
    std::set<std::uint16_t> seen;
    for (const Frame& frame : timeline.frames)
        for (const ControlTag& tag : frame.tags)
            if (const auto* place = std::get_if<PlaceObject>(&tag); place && place->characterId) {
                const auto found = movie.dictionary.find(*place->characterId);
                if (found != movie.dictionary.end() && found->second &&
                    std::holds_alternative<Sprite>(*found->second) && seen.insert(*place->characterId).second)
                    ids.push_back(*place->characterId);
            }
    return ids;
}

} // namespace

QStringList SpriteCycleWarnings(const Movie& movie) {
    std::map<std::uint16_t, std::vector<std::uint16_t>> places;
    for (const auto& [id, character] : movie.dictionary)
        if (character)
            if (const auto* sprite = std::get_if<Sprite>(character.get()))
                places[id] = PlacedSprites(movie, sprite->timeline);

    // Depth-first without recursion: a sprite met again while it is on the path closes a cycle.
    enum class State { New, OnPath, Done };
    std::map<std::uint16_t, State> state;
    std::set<std::uint16_t> reported;
    QStringList warnings;
    for (const auto& [start, unused] : places) {
        if (state[start] != State::New)
            continue;
        std::vector<std::pair<std::uint16_t, std::size_t>> path{{start, 0}};
        state[start] = State::OnPath;
        while (!path.empty()) {
            auto& [id, next] = path.back();
            const std::vector<std::uint16_t>& children = places[id];
            if (next == children.size()) {
                state[id] = State::Done;
                path.pop_back();
                continue;
            }
            const std::uint16_t child = children[next++];
            if (state[child] == State::OnPath) {
                if (reported.insert(child).second)
                    warnings << (child == id
                                     ? QStringLiteral("skipped placing sprite %1 inside itself").arg(child)
                                     : QStringLiteral("skipped placing sprite %1 inside itself (through "
                                                      "sprite %2)")
                                           .arg(child)
                                           .arg(id));
            } else if (state[child] == State::New) {
                state[child] = State::OnPath;
                path.emplace_back(child, 0);
            }
        }
    }
    return warnings;
}

} // namespace flash
