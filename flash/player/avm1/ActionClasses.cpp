// The interpreter's object actions: new, array and object literals, ActionScript 2 classes
// (extends, instanceof, casts, interfaces), for..in and delete.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Activation.h"

#include <algorithm>
#include <cmath>

namespace flash {

namespace {

ScriptObject* AsObject(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return object ? *object : nullptr;
}

} // namespace

void ActionInterpreter::NewObjectAction(Activation& act) {
    const QString name = ActionText(Pop(act));
    const std::vector<ActionValue> args = PopArguments(act);
    Push(act, Construct(Lookup(act, name), args));
}

// With an empty name the object itself is the constructor.
void ActionInterpreter::NewMethod(Activation& act) {
    const QString name = ActionText(Pop(act));
    const ActionValue object = Pop(act);
    const std::vector<ActionValue> args = PopArguments(act);
    Push(act, Construct(name.isEmpty() ? object : GetMember(object, name), args));
}

// The count, then the elements from the first.
void ActionInterpreter::InitArray(Activation& act) {
    std::vector<ActionValue> elements = PopArguments(act);
    PayFor(elements.size());
    ScriptObject* array = NewArray(std::move(elements));
    Push(act, array ? ActionValue(array) : ActionValue{});
}

// The count, then value and name pairs from the last written; they are added in the order written,
// so for..in lists the last first.
void ActionInterpreter::InitObject(Activation& act) {
    const double count = ActionNumber(Pop(act));
    const std::size_t pairs =
        std::isnan(count) || count < 0
            ? 0
            : std::min<std::size_t>(std::size_t(std::min(count, 1e6)), act.stack.size() / 2);
    std::vector<std::pair<QString, ActionValue>> members;
    for (std::size_t i = 0; i < pairs; ++i) {
        ActionValue value = Pop(act);
        members.emplace_back(ActionText(Pop(act)), std::move(value));
    }
    ScriptObject* object = NewObject();
    if (object)
        for (auto member = members.rbegin(); member != members.rend(); ++member)
            SetObjectMember(*object, member->first, std::move(member->second));
    Push(act, object ? ActionValue(object) : ActionValue{});
}

// Sub.prototype becomes a new object whose prototype is Super.prototype, and which knows Super as
// the constructor super() calls.
void ActionInterpreter::Extends(Activation& act) {
    ScriptObject* superclass = AsObject(Pop(act));
    ScriptObject* subclass = AsObject(Pop(act));
    if (!superclass || !subclass || !superclass->Callable())
        return;
    ScriptObject* prototype = heap.New(ScriptObject::Kind::Object, PrototypeOf(*superclass));
    if (!prototype)
        return;
    Define(prototype, QStringLiteral("__constructor__"), superclass);
    Define(subclass, QStringLiteral("prototype"), prototype);
}

void ActionInterpreter::InstanceOfAction(Activation& act) {
    const ActionValue constructor = Pop(act);
    const ActionValue object = Pop(act);
    Push(act, InstanceOf(object, constructor));
}

// The object when it is an instance of the class, else null.
void ActionInterpreter::CastOp(Activation& act) {
    ActionValue object = Pop(act);
    const ActionValue constructor = Pop(act);
    Push(act, InstanceOf(object, constructor) ? std::move(object) : ActionValue(nullptr));
}

// The class, a count and its interfaces: instances of the class are instances of each.
void ActionInterpreter::ImplementsOp(Activation& act) {
    ScriptObject* constructor = AsObject(Pop(act));
    const std::vector<ActionValue> interfaces = PopArguments(act);
    ScriptObject* prototype = constructor && constructor->Callable() ? PrototypeOf(*constructor) : nullptr;
    if (!prototype)
        return;
    prototype->interfaces.clear();
    for (const ActionValue& value : interfaces)
        if (ScriptObject* implemented = AsObject(value); implemented && implemented->Callable())
            prototype->interfaces.push_back(implemented);
}

// A null to end the loop, then the names, the one for..in visits first on top.
void ActionInterpreter::Enumerate(Activation& act, bool byValue) {
    const ActionValue popped = Pop(act);
    const ActionValue object = byValue ? popped : Lookup(act, ActionText(popped));
    const std::vector<QString> names = EnumerableNames(object);
    Push(act, nullptr);
    for (auto name = names.rbegin(); name != names.rend(); ++name)
        Push(act, *name);
}

void ActionInterpreter::DeleteMember(Activation& act) {
    const QString name = ActionText(Pop(act));
    const ActionValue object = Pop(act);
    Push(act, Delete(object, name));
}

// delete name: a timeline's variable (by path too) or a global one; locals stay.
void ActionInterpreter::DeleteVariable(Activation& act) {
    const QString name = ActionText(Pop(act));
    if (act.locals && act.locals->count(name.toLower())) {
        Push(act, false);
        return;
    }
    const auto [clip, last] = SplitVariablePath(act.target, name);
    if (RemoveVariable(clip, last)) {
        Push(act, true);
        return;
    }
    Push(act, clip == act.target && global->properties.Remove(name));
}

} // namespace flash
