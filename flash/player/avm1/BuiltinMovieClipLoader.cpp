// MovieClipLoader: loadClip and unloadClip of movies next to the played movie, listeners
// (addListener, removeListener; the loader hears its own events too) told onLoadStart,
// onLoadProgress, onLoadComplete, onLoadInit and onLoadError, and getProgress. A loader keeps at
// most MaxListeners listeners; the loads themselves are the interpreter's (ClipLoads.cpp).
#include "flash/player/avm1/Native.h"

#include <algorithm>

namespace flash {

namespace {

constexpr std::size_t MaxListeners = 64;

ScriptObject* AsObject(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return object ? *object : nullptr;
}

ScriptObject* Listeners(NativeCall& call) {
    ScriptObject* list = AsObject(call.vm.GetMember(call.self, QStringLiteral("_listeners")));
    return list && list->kind == ScriptObject::Kind::Array ? list : nullptr;
}

ActionValue Construct(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    if (!call.constructing || !self)
        return {};
    call.vm.Define(self, QStringLiteral("_listeners"), call.vm.NewArray({self}));
    return {};
}

ActionValue AddListener(NativeCall& call) {
    ScriptObject* list = Listeners(call);
    ScriptObject* listener = AsObject(call.Arg(0));
    if (!list || !listener)
        return false;
    const std::vector<ActionValue>& elements = list->elements;
    if (std::find(elements.begin(), elements.end(), call.Arg(0)) != elements.end())
        return true;
    if (elements.size() >= MaxListeners)
        return false;
    call.vm.SetMember(list, QString::number(elements.size()), listener);
    return true;
}

ActionValue RemoveListener(NativeCall& call) {
    ScriptObject* list = Listeners(call);
    if (!list)
        return false;
    const auto found = std::find(list->elements.begin(), list->elements.end(), call.Arg(0));
    if (found == list->elements.end())
        return false;
    std::vector<ActionValue> rest(list->elements.begin(), found);
    rest.insert(rest.end(), found + 1, list->elements.end());
    call.vm.Resize(*list, 0);
    for (std::size_t i = 0; i < rest.size(); ++i)
        call.vm.SetMember(list, QString::number(i), rest[i]);
    return true;
}

ActionValue LoadClip(NativeCall& call) {
    return call.vm.RequestLoad(ActionHost::LoadKind::Movie, call.Arg(1), ActionText(call.Arg(0)),
                               call.SelfObject()) != 0;
}

ActionValue UnloadClip(NativeCall& call) {
    return call.vm.RequestLoad(ActionHost::LoadKind::Unload, call.Arg(0), {}) != 0;
}

ActionValue GetProgress(NativeCall& call) {
    ScriptObject* progress = call.vm.NewObject();
    if (!progress)
        return {};
    const auto* clip = std::get_if<ClipRef>(&call.Arg(0));
    const double bytes = clip ? call.vm.LoadedBytes(*clip) : 0;
    call.vm.SetMember(progress, QStringLiteral("bytesLoaded"), bytes);
    call.vm.SetMember(progress, QStringLiteral("bytesTotal"), bytes);
    return progress;
}

} // namespace

void SetUpMovieClipLoaderBuiltins(ActionInterpreter& vm) {
    ScriptObject* prototype = vm.NewObject();
    DefineMethods(vm, prototype,
                  {{"addListener", AddListener},
                   {"removeListener", RemoveListener},
                   {"loadClip", LoadClip},
                   {"unloadClip", UnloadClip},
                   {"getProgress", GetProgress}});
    vm.Define(vm.Global(), QStringLiteral("MovieClipLoader"), vm.NewNative(Construct, prototype));
}

} // namespace flash
