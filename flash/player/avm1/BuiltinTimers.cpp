// setInterval, setTimeout, clearInterval and clearTimeout on the movie's clock, so a conversion calls
// them at the same moments every time. Each call of setInterval or setTimeout takes the next number
// from 1 on, as Flash Player numbers them. A timer falls due every interval after it was set; the
// player calls the timers due at each frame before the frame's own scripts, each as often as it fell
// due since (so an interval shorter than a frame runs several times a frame, as Flash Player calls
// it as close to its interval as it can, and a longer one on the frame it falls due in). Intervals
// under Surroundings::MinInterval count as that; a timer catches up at most MaxCallsPerFrame calls
// in a frame; at most MaxTimers are kept, and setInterval past that gives undefined.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Native.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace flash {

namespace {

bool IsFunction(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return object && *object && (*object)->Callable();
}

bool IsObjectOrClip(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return (object && *object) || std::holds_alternative<ClipRef>(value);
}

// setInterval(function, ms, args...) or setInterval(object, "method", ms, args...)
ActionValue StartTimer(NativeCall& call, bool repeat) {
    Surroundings& world = call.vm.World();
    ScriptTimer timer;
    std::size_t intervalAt = 1;
    if (IsFunction(call.Arg(0))) {
        timer.function = call.Arg(0);
    } else if (IsObjectOrClip(call.Arg(0)) && call.args.size() >= 3) {
        timer.function = call.Arg(0);
        timer.method = call.vm.Text(call.Arg(1)).left(ActionInterpreter::MaxString);
        intervalAt = 2;
    } else {
        return {};
    }
    if (world.timers.size() >= Surroundings::MaxTimers)
        return {};
    const double interval = call.vm.Number(call.Arg(intervalAt));
    timer.interval =
        std::isfinite(interval) ? std::max(interval, Surroundings::MinInterval) : Surroundings::MinInterval;
    if (call.args.size() > intervalAt + 1)
        timer.args.assign(call.args.begin() + std::ptrdiff_t(intervalAt) + 1, call.args.end());
    timer.repeat = repeat;
    timer.id = world.nextTimerId++;
    timer.due = call.vm.Host().Milliseconds() + timer.interval;
    world.timers.push_back(std::move(timer));
    return double(world.timers.back().id);
}

ActionValue SetInterval(NativeCall& call) {
    return StartTimer(call, true);
}

ActionValue SetTimeout(NativeCall& call) {
    return StartTimer(call, false);
}

// clearInterval and clearTimeout take either kind, as their numbers never meet.
ActionValue ClearTimer(NativeCall& call) {
    const double id = call.vm.Number(call.Arg(0));
    std::erase_if(call.vm.World().timers, [id](const ScriptTimer& timer) { return timer.id == id; });
    return {};
}

} // namespace

void SetUpTimerBuiltins(ActionInterpreter& vm) {
    DefineMethods(vm, vm.Global(),
                  {{"setInterval", SetInterval},
                   {"setTimeout", SetTimeout},
                   {"clearInterval", ClearTimer},
                   {"clearTimeout", ClearTimer}});
}

void ActionInterpreter::RunTimers(long long& budget) {
    const double now = host.Milliseconds();
    long long* outer = std::exchange(this->budget, &budget);
    ++running;
    std::map<int, int> calls; // by timer, this frame
    while (budget > 0) {
        // The timer due first, the one set first among equals.
        auto next = world.timers.end();
        for (auto it = world.timers.begin(); it != world.timers.end(); ++it)
            if (it->due <= now && (next == world.timers.end() || it->due < next->due))
                next = it;
        if (next == world.timers.end())
            break;
        // The call may clear or start timers: it works on a copy.
        const ScriptTimer timer = *next;
        if (!timer.repeat)
            world.timers.erase(next);
        else if (++calls[timer.id] >= Surroundings::MaxCallsPerFrame)
            next->due = now + timer.interval; // too far behind: the calls missed are dropped
        else
            next->due += timer.interval;
        if (timer.method.isEmpty()) {
            CallValue(timer.function, ActionValue{}, timer.args);
        } else {
            ScriptObject* owner = nullptr;
            const ActionValue method = GetMember(timer.function, timer.method, &owner);
            CallValue(method, timer.function, timer.args, owner);
        }
    }
    --running;
    this->budget = outer;
    CollectGarbage();
}

} // namespace flash
