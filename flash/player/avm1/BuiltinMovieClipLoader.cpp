// MovieClipLoader: loadClip and unloadClip of movies next to the played movie, listeners
// (addListener, removeListener; the loader hears its own events too) told onLoadStart,
// onLoadProgress, onLoadComplete, onLoadInit and onLoadError, and getProgress. Listeners are
// objects, kept as Listeners.h says; the loads themselves are the interpreter's (ClipLoads.cpp).
#include "flash/player/avm1/Listeners.h"
#include "flash/player/avm1/Native.h"

namespace flash {

namespace {

ScriptObject* AsObject(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return object ? *object : nullptr;
}

ScriptObject* Listeners(NativeCall& call) {
    return listeners::Of(call.vm, call.self);
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
    return list && AsObject(call.Arg(0)) && listeners::Add(call.vm, *list, call.Arg(0));
}

ActionValue RemoveListener(NativeCall& call) {
    ScriptObject* list = Listeners(call);
    return list && listeners::Remove(call.vm, *list, call.Arg(0));
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
