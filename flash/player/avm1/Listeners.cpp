#include "flash/player/avm1/Listeners.h"

#include "flash/player/avm1/Actions.h"

#include <algorithm>

namespace flash::listeners {

ScriptObject* Of(ActionInterpreter& vm, const ActionValue& owner) {
    const ActionValue value = vm.GetMember(owner, QStringLiteral("_listeners"));
    auto* const* list = std::get_if<ScriptObject*>(&value);
    return list && *list && (*list)->kind == ScriptObject::Kind::Array ? *list : nullptr;
}

bool Add(ActionInterpreter& vm, ScriptObject& list, const ActionValue& listener) {
    Remove(vm, list, listener);
    if (list.elements.size() >= MaxListeners || !vm.Heap().Charge(listener))
        return false;
    list.elements.push_back(listener);
    return true;
}

bool Remove(ActionInterpreter& vm, ScriptObject& list, const ActionValue& listener) {
    const auto found = std::find(list.elements.begin(), list.elements.end(), listener);
    if (found == list.elements.end())
        return false;
    vm.Heap().Release(ObjectHeap::Cells(*found));
    list.elements.erase(found);
    return true;
}

} // namespace flash::listeners
