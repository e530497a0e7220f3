// Loading from scripts: requests for movies and variables next to the played movie, with the
// MovieClipLoader that waits for them, the events the player reports to its listeners, and what a
// clip keeps of a load (its bytes, for getProgress). Requests the host refuses return 0.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Activation.h"
#include "flash/swf/TextEncoding.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace flash {

std::optional<int> ActionInterpreter::LevelIndex(const QString& name) {
    if (!name.startsWith(QStringLiteral("_level"), Qt::CaseInsensitive) || name.size() < 7 || name.size() > 9)
        return std::nullopt;
    bool number = false;
    const int level = name.mid(6).toInt(&number);
    return number && level >= 0 ? std::optional(level) : std::nullopt;
}

int ActionInterpreter::RequestLoad(ActionHost::LoadKind kind, const ActionValue& target,
                                   const QString& address, ScriptObject* loader, const ClipRef& base) {
    // A number is a level; a clip or a path is the clip.
    int level = -1;
    ClipRef clip;
    if (const auto* ref = std::get_if<ClipRef>(&target))
        clip = *ref;
    else if (const auto* number = std::get_if<double>(&target))
        level = std::isfinite(*number) && *number >= 0 && *number <= 0x7FFF ? int(*number) : INT_MAX;
    else if (const auto index = LevelIndex(ActionText(target)))
        level = *index;
    else
        clip = Resolve(base, ActionText(target));
    if (clip.root)
        level = 0;
    if (loader && loadWatches.size() >= MaxLoadWatches)
        return 0;
    const int request = host.RequestLoad(kind, clip, level, address.left(MaxString));
    if (request && loader)
        loadWatches.push_back({request, loader});
    return request;
}

void ActionInterpreter::LoadEvent(int request, const QString& event, const std::vector<ActionValue>& args,
                                  long long& budget) {
    const auto watch = std::find_if(loadWatches.begin(), loadWatches.end(),
                                    [request](const LoadWatch& w) { return w.request == request; });
    if (watch == loadWatches.end())
        return;
    long long* outer = std::exchange(this->budget, &budget);
    ++running;
    // The listeners as they are now: one a handler adds hears the next event.
    BroadcastNow(watch->loader, event, args);
    --running;
    this->budget = outer;
    CollectGarbage();
}

void ActionInterpreter::LoadFinished(int request) {
    std::erase_if(loadWatches, [request](const LoadWatch& w) { return w.request == request; });
}

void ActionInterpreter::Loaded(const ClipRef& clip, double bytes) {
    std::erase_if(loadedBytes,
                  [&clip](const auto& entry) { return entry.first == clip || !entry.first.Valid(); });
    if (loadedBytes.size() >= MaxLoadWatches)
        loadedBytes.erase(loadedBytes.begin());
    loadedBytes.emplace_back(clip, bytes);
}

double ActionInterpreter::LoadedBytes(const ClipRef& clip) const {
    for (const auto& [loaded, bytes] : loadedBytes)
        if (loaded == clip)
            return bytes;
    return 0;
}

void ActionInterpreter::ForgetVariables(const ClipRef& clip) {
    if (PropertyMap* values = VariablesOf(clip, false)) {
        variableCount -= values->Size();
        *values = PropertyMap();
    }
}

std::optional<ActionValue> ActionInterpreter::ClipLoadMethod(const ClipRef& clip, const QString& method,
                                                             const std::vector<ActionValue>& args) {
    using Kind = ActionHost::LoadKind;
    const auto arg = [&args](std::size_t i) -> const ActionValue& {
        static const ActionValue undefined;
        return i < args.size() ? args[i] : undefined;
    };
    // clip.loadMovie(url) and the global loadMovie(url, target); loadMovieNum(url, level).
    const ActionValue self = clip;
    if (method == QStringLiteral("loadmovie") || method == QStringLiteral("loadvariables"))
        RequestLoad(method == QStringLiteral("loadmovie") ? Kind::Movie : Kind::Variables,
                    args.size() >= 2 ? arg(1) : self, ActionText(arg(0)), nullptr, clip);
    else if (method == QStringLiteral("loadmovienum") || method == QStringLiteral("loadvariablesnum"))
        RequestLoad(method == QStringLiteral("loadmovienum") ? Kind::Movie : Kind::Variables,
                    ActionNumber(arg(1)), ActionText(arg(0)));
    else if (method == QStringLiteral("unloadmovie"))
        RequestLoad(Kind::Unload, args.empty() ? self : arg(0), {}, nullptr, clip);
    else if (method == QStringLiteral("unloadmovienum"))
        RequestLoad(Kind::Unload, ActionNumber(arg(0)), {});
    else
        return std::nullopt;
    return ActionValue{};
}

} // namespace flash
