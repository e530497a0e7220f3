// MovieClip as scripts name it (its prototype is every clip's __proto__, so classes extend it) and
// Object.registerClass: the clips of a symbol exported under a linkage name become instances of a
// class, as the player places them (the timeline, attachMovie, duplicateMovieClip). How the player
// orders the constructor against a clip's other scripts is its own (PlayerScripts.cpp); here a
// clip gets its prototype and the constructor runs on it. At most MaxRegisteredClasses names.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Native.h"

#include <utility>

namespace flash {

namespace {

// new MovieClip() gives a plain object on MovieClip.prototype (classes of ActionScript 1 start from
// one); on a clip, as super() in a class's constructor, it does nothing.
ActionValue MovieClipConstructor(NativeCall&) {
    return {};
}

// Object.registerClass(linkage, constructor): null removes the class. False without a name or with a
// constructor that is neither a function nor null.
ActionValue RegisterClass(NativeCall& call) {
    const QString linkage = call.vm.Text(call.Arg(0));
    const ActionValue& given = call.Arg(1);
    auto* const* function = std::get_if<ScriptObject*>(&given);
    const bool removing = std::holds_alternative<std::nullptr_t>(given);
    if (call.args.size() < 2 || linkage.isEmpty() ||
        (!removing && !(function && *function && (*function)->Callable())))
        return false;
    return call.vm.RegisterClass(linkage, removing ? nullptr : *function);
}

} // namespace

bool ActionInterpreter::RegisterClass(const QString& linkage, ScriptObject* constructor) {
    const QString key = linkage.toLower();
    if (!constructor) {
        registeredClasses.erase(key);
        return true;
    }
    if (registeredClasses.size() >= MaxRegisteredClasses && !registeredClasses.contains(key))
        return false;
    registeredClasses[key.left(MaxString)] = constructor;
    return true;
}

ScriptObject* ActionInterpreter::RegisteredClass(const QString& linkage) const {
    const auto found = registeredClasses.find(linkage.toLower());
    return found == registeredClasses.end() ? nullptr : found->second;
}

void ActionInterpreter::ConstructClip(const ClipRef& clip, ScriptObject* constructor, long long* given) {
    long long* outer = given ? std::exchange(budget, given) : budget;
    if (budget && constructor && clip.Valid()) {
        ScriptObject* prototype = PrototypeOf(*constructor);
        SetClipPrototype(clip, prototype);
        ++running;
        CallValue(constructor, clip, {}, prototype);
        --running;
    }
    budget = outer;
    if (given)
        CollectGarbage();
}

void SetUpClassBuiltins(ActionInterpreter& vm) {
    ScriptObject* prototype = vm.NewObject();
    vm.Protos().movieClip = prototype;
    vm.Define(vm.Global(), QStringLiteral("MovieClip"), vm.NewNative(MovieClipConstructor, prototype));
    const ActionValue object = vm.GetMember(vm.Global(), QStringLiteral("Object"));
    auto* const* constructor = std::get_if<ScriptObject*>(&object);
    if (constructor && *constructor)
        DefineMethods(vm, *constructor, {{"registerClass", RegisterClass}});
}

} // namespace flash
