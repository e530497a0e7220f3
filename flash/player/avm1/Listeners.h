#pragma once
// The listener list a broadcaster keeps in its _listeners array, as AsBroadcaster keeps it: Key,
// Mouse, Stage, objects AsBroadcaster.initialize set up, and MovieClipLoader (which starts with
// itself in the list). A listener is kept once: added again, it moves to the end, as Flash Player
// removes it and adds it anew. Lists stop at MaxListeners; stored values are charged to the heap,
// and an add past the limit or the heap is refused.

#include "flash/player/avm1/ActionValue.h"

#include <cstddef>

namespace flash {

class ActionInterpreter;
struct ScriptObject;

namespace listeners {

// More than any movie registers with one broadcaster.
constexpr std::size_t MaxListeners = 1024;

// The owner's _listeners array, or null when it has none.
ScriptObject* Of(ActionInterpreter& vm, const ActionValue& owner);
// False when the list is full or the heap is.
bool Add(ActionInterpreter& vm, ScriptObject& list, const ActionValue& listener);
// False when the listener was not in the list.
bool Remove(ActionInterpreter& vm, ScriptObject& list, const ActionValue& listener);

} // namespace listeners
} // namespace flash
