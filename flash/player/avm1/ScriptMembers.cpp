// The object model as scripts see it: members of any value through prototype chains, arrays'
// elements and length, functions' prototypes, construction, instanceof, and the conversions that
// run a script's own toString and valueOf. Stores are counted against the heap and refused past it.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Native.h"

#include <QSet>
#include <cmath>

namespace flash {

namespace {

bool Is(const QString& name, const char* text) {
    return name.compare(QLatin1String(text), Qt::CaseInsensitive) == 0;
}

// The element index a name stands for ("0", "12"; not "01" or "-1").
std::optional<std::size_t> ArrayIndex(const QString& name) {
    if (name.isEmpty() || name.size() > 9 || (name.size() > 1 && name[0] == u'0'))
        return std::nullopt;
    std::size_t index = 0;
    for (const QChar c : name) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        index = index * 10 + std::size_t(c.unicode() - u'0');
    }
    return index;
}

ScriptObject* AsObject(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return object ? *object : nullptr;
}

// Replaces a stored value, counting the change of cells; false when the heap is full.
bool Store(ObjectHeap& heap, ActionValue& slot, ActionValue value) {
    const std::size_t before = ObjectHeap::Cells(slot), after = ObjectHeap::Cells(value);
    if (after > before && !heap.ChargeCells(after - before))
        return false;
    heap.Release(before > after ? before - after : 0);
    slot = std::move(value);
    return true;
}

} // namespace

ScriptObject* ActionInterpreter::NewObject() {
    return heap.New(ScriptObject::Kind::Object, protos.object);
}

ScriptObject* ActionInterpreter::NewArray(std::vector<ActionValue> elements) {
    std::size_t cells = 0;
    for (const ActionValue& element : elements)
        cells += ObjectHeap::Cells(element);
    if (elements.size() > MaxArrayLength || !heap.ChargeCells(cells))
        return nullptr;
    ScriptObject* array = heap.New(ScriptObject::Kind::Array, protos.array);
    if (!array) {
        heap.Release(cells);
        return nullptr;
    }
    array->elements = std::move(elements);
    return array;
}

ScriptObject* ActionInterpreter::NewNative(NativeFunction native, ScriptObject* prototype) {
    ScriptObject* function = heap.New(ScriptObject::Kind::Function, protos.function);
    if (!function)
        return nullptr;
    function->native = native;
    if (prototype) {
        Define(function, QStringLiteral("prototype"), prototype);
        Define(prototype, QStringLiteral("constructor"), function);
    }
    return function;
}

void ActionInterpreter::Define(ScriptObject* object, const QString& name, ActionValue value,
                               std::uint8_t flags) {
    if (!object)
        return;
    const ActionValue* old = object->properties.Find(name);
    const std::size_t before = old ? ObjectHeap::Cells(*old) : 0;
    const std::size_t after = ObjectHeap::Cells(value) + (old ? 0 : 1);
    if (after > before && !heap.ChargeCells(after - before))
        return;
    heap.Release(before > after ? before - after : 0);
    object->properties.Set(name, std::move(value), nullptr, flags);
}

ActionValue ActionInterpreter::GetMember(const ActionValue& object, const QString& name,
                                         ScriptObject** owner) {
    if (const auto* clip = std::get_if<ClipRef>(&object))
        return Member(*clip, name, owner);
    if (const auto* field = std::get_if<TextFieldRef>(&object))
        return FieldMember(*field, name, owner);
    if (const auto* text = std::get_if<QString>(&object))
        return Is(name, "length") ? ActionValue(double(text->size()))
                                  : ObjectMember(*protos.string, name, owner);
    if (std::holds_alternative<double>(object))
        return ObjectMember(*protos.number, name, owner);
    if (std::holds_alternative<bool>(object))
        return ObjectMember(*protos.boolean, name, owner);
    if (ScriptObject* target = AsObject(object))
        return ObjectMember(*target, name, owner);
    return {};
}

ActionValue ActionInterpreter::ObjectMember(ScriptObject& object, const QString& name, ScriptObject** owner) {
    if (Is(name, "__proto__"))
        return object.proto ? ActionValue(object.proto) : ActionValue{};
    ScriptObject* start = &object;
    switch (object.kind) {
    case ScriptObject::Kind::Array:
        if (Is(name, "length"))
            return double(object.elements.size());
        if (const auto index = ArrayIndex(name); index && *index < object.elements.size())
            return object.elements[*index];
        break;
    case ScriptObject::Kind::Boxed:
        if (const auto* text = std::get_if<QString>(&object.primitive); text && Is(name, "length"))
            return double(text->size());
        break;
    case ScriptObject::Kind::Function:
        if (Is(name, "prototype"))
            return PrototypeOf(object);
        break;
    case ScriptObject::Kind::Super:
        start = object.home ? object.home->proto : nullptr;
        break;
    default:
        break;
    }
    if (object.state)
        if (std::optional<ActionValue> value = object.state->Member(*this, name))
            return *value;
    return ChainMember(start, name, &object, owner);
}

// What a chain from start holds under a name, a getter's value read with self as this.
ActionValue ActionInterpreter::ChainMember(ScriptObject* start, const QString& name, const ActionValue& self,
                                           ScriptObject** owner) {
    int depth = 0;
    for (ScriptObject* level = start; level && depth < MaxProtoDepth; level = level->proto, ++depth)
        if (const PropertyMap::Entry* entry = level->properties.FindEntry(name)) {
            if (owner)
                *owner = level;
            if (ScriptObject* accessor = entry->flags & Accessor ? AsObject(entry->value) : nullptr)
                return accessor->elements.empty() ? ActionValue{}
                                                  : CallValue(accessor->elements[0], self, {});
            return entry->value;
        }
    return {};
}

void ActionInterpreter::DefineAccessor(ScriptObject* object, const QString& name, NativeFunction get,
                                       NativeFunction set) {
    DefineAccessor(object, name, NewNative(get), set ? ActionValue(NewNative(set)) : ActionValue{},
                   DontEnum | DontDelete);
}

bool ActionInterpreter::DefineAccessor(ScriptObject* object, const QString& name, ActionValue get,
                                       ActionValue set, std::uint8_t flags) {
    ScriptObject* accessor = object ? heap.New(ScriptObject::Kind::Object, nullptr) : nullptr;
    if (!accessor)
        return false;
    accessor->elements = {std::move(get), std::move(set)};
    Define(object, name, accessor, flags | Accessor);
    hasAccessors = true;
    return true;
}

ScriptObject* ActionInterpreter::AccessorFor(ScriptObject& object, const QString& name) {
    int depth = 0;
    for (ScriptObject* level = &object; level && depth < MaxProtoDepth; level = level->proto, ++depth)
        if (const PropertyMap::Entry* entry = level->properties.FindEntry(name))
            return entry->flags & Accessor ? AsObject(entry->value) : nullptr;
    return nullptr;
}

void ActionInterpreter::SetMember(const ActionValue& object, const QString& name, ActionValue value) {
    if (const auto* clip = std::get_if<ClipRef>(&object)) {
        if (Is(name, "__proto__"))
            SetClipPrototype(*clip, AsObject(value));
        else if (!name.contains(u'.') && !name.contains(u':'))
            SetVariable(*clip, name, std::move(value));
    } else if (const auto* field = std::get_if<TextFieldRef>(&object)) {
        SetFieldMember(*field, name, value);
    } else if (ScriptObject* target = AsObject(object)) {
        SetObjectMember(*target, name, std::move(value));
    }
}

void ActionInterpreter::SetObjectMember(ScriptObject& object, const QString& name, ActionValue value) {
    if (object.kind == ScriptObject::Kind::Super) {
        SetMember(object.primitive, name, std::move(value));
        return;
    }
    if (Is(name, "__proto__")) {
        ScriptObject* proto = AsObject(value);
        // A chain that would come back to the object is refused.
        int depth = 0;
        for (ScriptObject* level = proto; level && depth < MaxProtoDepth; level = level->proto, ++depth)
            if (level == &object)
                return;
        object.proto = proto;
        return;
    }
    if (!object.watchpoints.empty())
        value = Watched(object, name, std::move(value));
    // Handlers put on MovieClip.prototype reach every clip.
    if (&object == protos.movieClip && name.startsWith(u"on", Qt::CaseInsensitive))
        hasHandlers = true;
    if (object.kind == ScriptObject::Kind::Array) {
        if (Is(name, "length")) {
            const double length = Number(value);
            if (std::isfinite(length) && length >= 0)
                Resize(object, std::size_t(std::min(length, double(MaxArrayLength))));
            return;
        }
        if (const auto index = ArrayIndex(name); index && *index < MaxArrayLength) {
            if (*index >= object.elements.size() && !Resize(object, *index + 1))
                return;
            Store(heap, object.elements[*index], std::move(value));
            return;
        }
    }
    if (ScriptObject* accessor = hasAccessors ? AccessorFor(object, name) : nullptr) {
        if (accessor->elements.size() > 1)
            CallValue(accessor->elements[1], &object, {std::move(value)});
        return;
    }
    if (object.properties.Size() >= MaxVariables * 64 && !object.properties.Find(name))
        return;
    Define(&object, name.left(MaxString), std::move(value), 0);
}

bool ActionInterpreter::Resize(ScriptObject& array, std::size_t length) {
    length = std::min(length, MaxArrayLength);
    const std::size_t size = array.elements.size();
    if (length > size) {
        if (!heap.ChargeCells(length - size) || !PayFor(length - size))
            return false;
    } else {
        for (std::size_t i = length; i < size; ++i)
            heap.Release(ObjectHeap::Cells(array.elements[i]));
    }
    array.elements.resize(length);
    return true;
}

bool ActionInterpreter::Delete(const ActionValue& object, const QString& name) {
    if (const auto* clip = std::get_if<ClipRef>(&object))
        return RemoveVariable(*clip, name);
    ScriptObject* target = AsObject(object);
    if (!target)
        return false;
    if (target->kind == ScriptObject::Kind::Array)
        if (const auto index = ArrayIndex(name); index && *index < target->elements.size()) {
            Store(heap, target->elements[*index], ActionValue{});
            return true;
        }
    return target->properties.Remove(name);
}

// A function's prototype object, made when first asked for, with constructor pointing back.
ScriptObject* ActionInterpreter::PrototypeOf(ScriptObject& function) {
    if (const ActionValue* value = function.properties.Find(QStringLiteral("prototype")))
        return AsObject(*value);
    ScriptObject* prototype = NewObject();
    if (!prototype)
        return nullptr;
    Define(prototype, QStringLiteral("constructor"), &function);
    Define(&function, QStringLiteral("prototype"), prototype);
    return prototype;
}

ActionValue ActionInterpreter::Construct(const ActionValue& function, const std::vector<ActionValue>& args) {
    ScriptObject* constructor = AsObject(function);
    if (!constructor || !constructor->Callable() || callDepth >= MaxCallDepth || !budget || *budget <= 0)
        return {};
    ScriptObject* prototype = PrototypeOf(*constructor);
    ScriptObject* made = heap.New(ScriptObject::Kind::Object, prototype);
    if (!made)
        return {};
    Define(made, QStringLiteral("__constructor__"), constructor);
    Define(made, QStringLiteral("constructor"), constructor);
    if (constructor->native) {
        // A built-in makes its own kind of object (an array, a boxed string) or fills this one.
        --*budget;
        NativeCall call{*this, made, args, true};
        ++callDepth;
        const ActionValue result = constructor->native(call);
        --callDepth;
        return AsObject(result) ? result : ActionValue(made);
    }
    Call(*constructor, made, args, prototype);
    return made;
}

bool ActionInterpreter::InstanceOf(const ActionValue& value, const ActionValue& constructor) {
    ScriptObject* object = AsObject(value);
    ScriptObject* function = AsObject(constructor);
    // A text field's chain starts at TextField.prototype, a clip's at its __proto__.
    const auto* clip = std::get_if<ClipRef>(&value);
    const ScriptObject* first = object                                        ? object->proto
                                : std::holds_alternative<TextFieldRef>(value) ? protos.textField
                                : clip && clip->Valid()                       ? ClipPrototype(*clip)
                                                                              : nullptr;
    if (!first || !function || !function->Callable())
        return false;
    const auto prototypeOf = [](const ScriptObject* constructor) -> const ScriptObject* {
        const ActionValue* prototype = constructor->properties.Find(QStringLiteral("prototype"));
        return prototype ? AsObject(*prototype) : nullptr;
    };
    const ScriptObject* prototype = prototypeOf(function);
    // An interface counts when a prototype on the chain, or an interface it names, implements it.
    const auto implements = [&](const ScriptObject* level, const auto& self, int depth) -> bool {
        if (!level || depth > 8)
            return false;
        for (const ScriptObject* implemented : level->interfaces)
            if (implemented == function || self(prototypeOf(implemented), self, depth + 1))
                return true;
        return false;
    };
    int depth = 0;
    for (const ScriptObject* level = first; level && depth < MaxProtoDepth; level = level->proto, ++depth)
        if ((prototype && level == prototype) || implements(level, implements, 0))
            return true;
    return false;
}

QString ActionInterpreter::Text(const ActionValue& value) {
    // Movies of version 7 and later print undefined as the word, older ones as nothing.
    if (std::holds_alternative<std::monostate>(value))
        return runningVersion >= 7 ? QStringLiteral("undefined") : QString();
    ScriptObject* object = AsObject(value);
    if (!object || object->kind == ScriptObject::Kind::Boxed || !budget)
        return ActionText(value);
    const ActionValue toString = ObjectMember(*object, QStringLiteral("toString"), nullptr);
    const ScriptObject* function = AsObject(toString);
    if (!function || !function->Callable())
        return ActionText(value);
    const ActionValue text = CallValue(toString, value, {});
    return AsObject(text) ? ActionText(value) : ActionText(text);
}

double ActionInterpreter::Number(const ActionValue& value) {
    ScriptObject* object = AsObject(value);
    if (!object || object->kind == ScriptObject::Kind::Boxed || !budget)
        return ActionNumber(value);
    const ActionValue number =
        CallValue(ObjectMember(*object, QStringLiteral("valueOf"), nullptr), value, {});
    return AsObject(number) ? std::numeric_limits<double>::quiet_NaN() : ActionNumber(number);
}

// An object as an operator takes it: its valueOf when that gives a primitive, else its text.
ActionValue ActionInterpreter::Primitive(const ActionValue& value) {
    ScriptObject* object = AsObject(value);
    if (!object)
        return value;
    if (object->kind == ScriptObject::Kind::Boxed)
        return object->primitive;
    if (budget) {
        const ActionValue primitive =
            CallValue(ObjectMember(*object, QStringLiteral("valueOf"), nullptr), value, {});
        if (!AsObject(primitive) && !std::holds_alternative<std::monostate>(primitive))
            return primitive;
    }
    return Text(value);
}

bool ActionInterpreter::PayFor(std::size_t count) {
    if (!budget)
        return true;
    *budget -= static_cast<long long>(count / ElementsPerStep);
    return *budget > 0;
}

std::vector<QString> ActionInterpreter::EnumerableNames(const ActionValue& value) {
    if (const auto* clip = std::get_if<ClipRef>(&value)) {
        const PropertyMap* values = VariablesOf(*clip, false);
        return values ? values->Names(true) : std::vector<QString>{};
    }
    ScriptObject* object = AsObject(value);
    std::vector<QString> names;
    if (!object || object->kind == ScriptObject::Kind::Super)
        return names;
    QSet<QString> seen;
    int depth = 0;
    for (const ScriptObject* level = object; level && depth < MaxProtoDepth; level = level->proto, ++depth) {
        for (const QString& name : level->properties.Names(false)) {
            const QString key = name.toLower();
            if (seen.contains(key))
                continue;
            seen.insert(key);
            // A hidden property still hides the same name further up the chain.
            if (const PropertyMap::Entry* entry = level->properties.FindEntry(name);
                entry && !(entry->flags & DontEnum))
                names.push_back(name);
        }
        if (level == object && object->kind == ScriptObject::Kind::Array) {
            PayFor(object->elements.size());
            for (std::size_t i = object->elements.size(); i-- > 0;)
                names.push_back(QString::number(i));
        }
    }
    return names;
}

} // namespace flash
