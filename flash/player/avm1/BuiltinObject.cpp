// The global object and the built-ins every object shares: Object (hasOwnProperty, toString,
// valueOf, isPropertyEnumerable, isPrototypeOf), Function (call, apply) and ASSetPropFlags.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Native.h"

#include <QStringList>
#include <cmath>

namespace flash {

namespace {

ScriptObject* AsObject(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return object ? *object : nullptr;
}

// Object(): a new object; Object(value) gives back an object as it is.
ActionValue ObjectConstructor(NativeCall& call) {
    if (ScriptObject* given = AsObject(call.Arg(0)))
        return given;
    if (call.constructing)
        return call.self;
    ScriptObject* made = call.vm.NewObject();
    return made ? ActionValue(made) : ActionValue{};
}

ActionValue HasOwnProperty(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    if (!self)
        return false;
    const QString name = ActionText(call.Arg(0));
    if (self->kind == ScriptObject::Kind::Array) {
        bool ok = false;
        const uint index = name.toUInt(&ok);
        if (ok && index < self->elements.size())
            return true;
    }
    return self->properties.Find(name) != nullptr;
}

ActionValue IsPropertyEnumerable(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    const PropertyMap::Entry* entry = self ? self->properties.FindEntry(ActionText(call.Arg(0))) : nullptr;
    return entry && !(entry->flags & DontEnum);
}

ActionValue IsPrototypeOf(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    ScriptObject* other = AsObject(call.Arg(0));
    int depth = 0;
    for (ScriptObject* level = other ? other->proto : nullptr;
         level && depth < ActionInterpreter::MaxProtoDepth; level = level->proto, ++depth)
        if (level == self)
            return true;
    return false;
}

ActionValue ObjectToString(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    return self && self->Callable() ? QStringLiteral("[type Function]") : QStringLiteral("[object Object]");
}

ActionValue ObjectValueOf(NativeCall& call) {
    return call.self;
}

// function.call(this, args...)
ActionValue FunctionCall(NativeCall& call) {
    std::vector<ActionValue> args;
    if (call.args.size() > 1)
        args.assign(call.args.begin() + 1, call.args.end());
    return call.vm.CallValue(call.self, call.Arg(0), args);
}

// function.apply(this, [args])
ActionValue FunctionApply(NativeCall& call) {
    std::vector<ActionValue> args;
    if (ScriptObject* list = AsObject(call.Arg(1)); list && list->kind == ScriptObject::Kind::Array)
        args = list->elements;
    return call.vm.CallValue(call.self, call.Arg(0), args);
}

// ASSetPropFlags(object, names, set, clear): names as "a,b", an array of names, or null for all.
ActionValue SetPropFlags(NativeCall& call) {
    ScriptObject* object = AsObject(call.Arg(0));
    if (!object)
        return {};
    const auto flags = [](const ActionValue& value) {
        const double number = ActionNumber(value);
        return std::uint8_t(std::isfinite(number) ? int(number) & (DontEnum | DontDelete | ReadOnly) : 0);
    };
    const std::uint8_t set = flags(call.Arg(2)), clear = flags(call.Arg(3));
    const ActionValue& names = call.Arg(1);
    if (std::holds_alternative<std::nullptr_t>(names) || std::holds_alternative<std::monostate>(names)) {
        object->properties.ChangeFlags(nullptr, set, clear);
        return {};
    }
    QStringList list;
    if (ScriptObject* array = AsObject(names); array && array->kind == ScriptObject::Kind::Array)
        for (const ActionValue& name : array->elements)
            list.push_back(ActionText(name));
    else
        list = ActionText(names).split(u',');
    for (const QString& name : list)
        object->properties.ChangeFlags(&name, set, clear);
    return {};
}

bool IsFunction(const ActionValue& value) {
    const ScriptObject* object = AsObject(value);
    return object && object->Callable();
}

// addProperty(name, getter, setter): reads of the name call the getter, writes the setter (null:
// the property is read-only); false, and nothing made, for an empty name or a getter or setter that
// is no function.
ActionValue AddProperty(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    const QString name = ActionText(call.Arg(0));
    const ActionValue& setter = call.Arg(2);
    const bool setterOk = IsFunction(setter) || std::holds_alternative<std::nullptr_t>(setter);
    if (!self || name.isEmpty() || !IsFunction(call.Arg(1)) || !setterOk)
        return false;
    return call.vm.DefineAccessor(self, name, call.Arg(1), IsFunction(setter) ? setter : ActionValue{}, 0);
}

} // namespace

void DefineMethods(ActionInterpreter& vm, ScriptObject* object, const std::vector<NativeMethod>& methods) {
    for (const NativeMethod& method : methods)
        if (ScriptObject* function = vm.NewNative(method.function))
            vm.Define(object, QLatin1String(method.name), function);
}

void SetUpObjectBuiltins(ActionInterpreter& vm) {
    ScriptObject* prototype = vm.Protos().object;
    DefineMethods(vm, prototype,
                  {{"addProperty", AddProperty},
                   {"hasOwnProperty", HasOwnProperty},
                   {"isPropertyEnumerable", IsPropertyEnumerable},
                   {"isPrototypeOf", IsPrototypeOf},
                   {"toString", ObjectToString},
                   {"valueOf", ObjectValueOf}});
    DefineMethods(vm, vm.Protos().function, {{"call", FunctionCall}, {"apply", FunctionApply}});
    vm.Define(vm.Global(), QStringLiteral("Object"), vm.NewNative(ObjectConstructor, prototype));
    DefineMethods(vm, vm.Global(), {{"ASSetPropFlags", SetPropFlags}});
}

void ActionInterpreter::SetUpBuiltins() {
    protos.object = heap.New(ScriptObject::Kind::Object, nullptr);
    protos.function = heap.New(ScriptObject::Kind::Object, protos.object);
    protos.array = heap.New(ScriptObject::Kind::Array, protos.object);
    protos.string = heap.New(ScriptObject::Kind::Object, protos.object);
    protos.number = heap.New(ScriptObject::Kind::Object, protos.object);
    protos.boolean = heap.New(ScriptObject::Kind::Object, protos.object);
    global = heap.New(ScriptObject::Kind::Object, protos.object);
    SetUpObjectBuiltins(*this);
    SetUpArrayBuiltins(*this);
    SetUpStringBuiltins(*this);
    SetUpNumberBuiltins(*this);
    SetUpSoundBuiltins(*this);
    SetUpMovieClipLoaderBuiltins(*this);
    SetUpGeomBuiltins(*this);
    SetUpFilterBuiltins(*this);
    SetUpTextBuiltins(*this);
    SetUpInputBuiltins(*this);
    SetUpTimerBuiltins(*this);
    SetUpDateBuiltins(*this);
    SetUpBitmapBuiltins(*this);
    SetUpWatchBuiltins(*this);
    SetUpClassBuiltins(*this);
}

} // namespace flash
