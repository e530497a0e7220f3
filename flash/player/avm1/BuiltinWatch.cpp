// Object.prototype.watch and unwatch: a watchpoint calls back on each write of a property of a
// script object with (name, old value, new value, user data), the object as this, and the write
// stores what the callback returns. A property deleted keeps its watchpoint; getter/setter
// properties (addProperty) take none, as Flash Player has them. Clips take none either: their
// variables are the timeline's. Bounded by MaxWatchpoints per object, the heap, and the call depth
// for callbacks that write watched properties themselves.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Native.h"

#include <algorithm>

namespace flash {

namespace {

bool SameName(const Watchpoint& watch, const QString& name) {
    return watch.name.compare(name, Qt::CaseInsensitive) == 0;
}

bool IsFunction(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return object && *object && (*object)->Callable();
}

// watch(name, callback, userData): false for a missing name or callback, a getter/setter property,
// or when the object watches too many already.
ActionValue Watch(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    const QString name = call.vm.Text(call.Arg(0));
    if (!self || name.isEmpty() || !IsFunction(call.Arg(1)))
        return false;
    return call.vm.Watch(*self, name, call.Arg(1), call.Arg(2));
}

ActionValue Unwatch(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    return self && call.vm.Unwatch(*self, call.vm.Text(call.Arg(0)));
}

} // namespace

bool ActionInterpreter::Watch(ScriptObject& object, const QString& name, const ActionValue& callback,
                              const ActionValue& userData) {
    if (hasAccessors && AccessorFor(object, name))
        return false;
    auto& watchpoints = object.watchpoints;
    const auto found = std::find_if(watchpoints.begin(), watchpoints.end(),
                                    [&](const Watchpoint& watch) { return SameName(watch, name); });
    if (found != watchpoints.end()) {
        found->callback = callback;
        found->userData = userData;
        return true;
    }
    if (watchpoints.size() >= MaxWatchpoints || !heap.ChargeCells(ObjectHeap::WatchpointCells))
        return false;
    watchpoints.push_back({name.left(MaxString), callback, userData});
    return true;
}

bool ActionInterpreter::Unwatch(ScriptObject& object, const QString& name) {
    const auto removed =
        std::erase_if(object.watchpoints, [&](const Watchpoint& watch) { return SameName(watch, name); });
    heap.Release(removed * ObjectHeap::WatchpointCells);
    return removed > 0;
}

ActionValue ActionInterpreter::Watched(ScriptObject& object, const QString& name, ActionValue value) {
    const auto found = std::find_if(object.watchpoints.begin(), object.watchpoints.end(),
                                    [&](const Watchpoint& watch) { return SameName(watch, name); });
    if (found == object.watchpoints.end() || (hasAccessors && AccessorFor(object, name)))
        return value;
    // Copied: the callback may unwatch or watch again while it runs.
    const Watchpoint watch = *found;
    const ActionValue old = ObjectMember(object, name, nullptr);
    return CallValue(watch.callback, &object, {watch.name, old, std::move(value), watch.userData});
}

void SetUpWatchBuiltins(ActionInterpreter& vm) {
    DefineMethods(vm, vm.Protos().object, {{"watch", Watch}, {"unwatch", Unwatch}});
}

} // namespace flash
