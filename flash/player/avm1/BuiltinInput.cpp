// The objects that tell scripts of input and of the stage: AsBroadcaster (listeners kept in an
// object's _listeners array, called by broadcastMessage), Key (isDown, getCode, getAscii,
// isToggled, the key constants), Mouse (hide, show) and Stage (width, height, scaleMode, align,
// showMenu). Key, Mouse and Stage are broadcasters; the player sends them onKeyDown, onKeyUp,
// onMouseDown, onMouseUp and onMouseMove. Stage never resizes in a conversion, so onResize never
// comes. Listener lists are kept as Listeners.h says.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Listeners.h"
#include "flash/player/avm1/Native.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace flash {

namespace {

ScriptObject* AsObject(const ActionValue& value) {
    auto* const* object = std::get_if<ScriptObject*>(&value);
    return object ? *object : nullptr;
}

ScriptObject* ListenersOf(NativeCall& call) {
    return listeners::Of(call.vm, call.self);
}

ActionValue AddListener(NativeCall& call) {
    ScriptObject* list = ListenersOf(call);
    return list && listeners::Add(call.vm, *list, call.Arg(0));
}

ActionValue RemoveListener(NativeCall& call) {
    ScriptObject* list = ListenersOf(call);
    return list && listeners::Remove(call.vm, *list, call.Arg(0));
}

// broadcastMessage(name, args...)
ActionValue BroadcastMessage(NativeCall& call) {
    ScriptObject* self = call.SelfObject();
    ScriptObject* list = ListenersOf(call);
    if (!self || !list || list->elements.empty())
        return {};
    std::vector<ActionValue> args;
    if (call.args.size() > 1)
        args.assign(call.args.begin() + 1, call.args.end());
    call.vm.BroadcastNow(self, call.vm.Text(call.Arg(0)), args);
    return true;
}

ActionValue Initialize(NativeCall& call) {
    MakeBroadcaster(call.vm, AsObject(call.Arg(0)));
    return {};
}

// --- Key ---

int KeyCode(NativeCall& call) {
    const double code = call.vm.Number(call.Arg(0));
    return std::isfinite(code) && code > 0 && code < KeyboardState::KeyCodes ? int(code) : 0;
}

ActionValue IsDown(NativeCall& call) {
    return call.vm.World().keys.Down(KeyCode(call));
}

ActionValue IsToggled(NativeCall& call) {
    return call.vm.World().keys.Toggled(KeyCode(call));
}

ActionValue GetCode(NativeCall& call) {
    return double(call.vm.World().keys.lastCode);
}

ActionValue GetAscii(NativeCall& call) {
    return double(call.vm.World().keys.lastAscii);
}

// Whether the last key may be read by this movie: always, one movie plays.
ActionValue IsAccessible(NativeCall&) {
    return true;
}

void SetUpKey(ActionInterpreter& vm) {
    ScriptObject* key = vm.NewObject();
    if (!key || !MakeBroadcaster(vm, key))
        return;
    DefineMethods(vm, key,
                  {{"isDown", IsDown},
                   {"isToggled", IsToggled},
                   {"getCode", GetCode},
                   {"getAscii", GetAscii},
                   {"isAccessible", IsAccessible}});
    static constexpr std::pair<const char*, int> Constants[] = {
        {"BACKSPACE", 8}, {"TAB", 9},    {"ENTER", 13}, {"SHIFT", 16}, {"CONTROL", 17}, {"CAPSLOCK", 20},
        {"ESCAPE", 27},   {"SPACE", 32}, {"PGUP", 33},  {"PGDN", 34},  {"END", 35},     {"HOME", 36},
        {"LEFT", 37},     {"UP", 38},    {"RIGHT", 39}, {"DOWN", 40},  {"INSERT", 45},  {"DELETEKEY", 46},
    };
    for (const auto& [name, code] : Constants)
        vm.Define(key, QLatin1String(name), double(code), DontEnum | DontDelete | ReadOnly);
    vm.Define(vm.Global(), QStringLiteral("Key"), key);
    vm.World().key = key;
}

// --- Mouse ---

// hide() and show() give 1 when the pointer was shown before the call, else 0.
ActionValue ShowPointer(NativeCall& call, bool shown) {
    return double(std::exchange(call.vm.World().mouseShown, shown) ? 1 : 0);
}

ActionValue Hide(NativeCall& call) {
    return ShowPointer(call, false);
}

ActionValue Show(NativeCall& call) {
    return ShowPointer(call, true);
}

void SetUpMouse(ActionInterpreter& vm) {
    ScriptObject* mouse = vm.NewObject();
    if (!mouse || !MakeBroadcaster(vm, mouse))
        return;
    DefineMethods(vm, mouse, {{"hide", Hide}, {"show", Show}});
    vm.Define(vm.Global(), QStringLiteral("Mouse"), mouse);
    vm.World().mouse = mouse;
}

// --- Stage ---

void SetUpStage(ActionInterpreter& vm) {
    ScriptObject* stage = vm.NewObject();
    if (!stage || !MakeBroadcaster(vm, stage))
        return;
    const QSizeF size = vm.Host().StageSize();
    vm.Define(stage, QStringLiteral("width"), size.width(), DontEnum | DontDelete | ReadOnly);
    vm.Define(stage, QStringLiteral("height"), size.height(), DontEnum | DontDelete | ReadOnly);
    // Scripts may set these; they are kept and read back, the picture stays as it is.
    vm.Define(stage, QStringLiteral("scaleMode"), QStringLiteral("showAll"), DontEnum | DontDelete);
    vm.Define(stage, QStringLiteral("align"), QString(), DontEnum | DontDelete);
    vm.Define(stage, QStringLiteral("showMenu"), true, DontEnum | DontDelete);
    vm.Define(vm.Global(), QStringLiteral("Stage"), stage);
    vm.World().stage = stage;
}

} // namespace

void KeyboardState::Press(int code, int ascii) {
    lastCode = code;
    lastAscii = ascii;
    if (code <= 0 || code >= KeyCodes)
        return;
    // A lock key toggles when pressed, not again while held.
    if (!down.test(std::size_t(code))) {
        if (code == CapsLock)
            capsLock = !capsLock;
        else if (code == NumLock)
            numLock = !numLock;
        else if (code == ScrollLock)
            scrollLock = !scrollLock;
    }
    down.set(std::size_t(code));
}

void KeyboardState::Release(int code, int ascii) {
    lastCode = code;
    lastAscii = ascii;
    if (code > 0 && code < KeyCodes)
        down.reset(std::size_t(code));
}

bool KeyboardState::Toggled(int code) const {
    return code == CapsLock ? capsLock : code == NumLock ? numLock : code == ScrollLock && scrollLock;
}

bool MakeBroadcaster(ActionInterpreter& vm, ScriptObject* object) {
    ScriptObject* listeners = object ? vm.NewArray() : nullptr;
    if (!listeners)
        return false;
    vm.Define(object, QStringLiteral("_listeners"), listeners);
    DefineMethods(vm, object,
                  {{"addListener", AddListener},
                   {"removeListener", RemoveListener},
                   {"broadcastMessage", BroadcastMessage}});
    return true;
}

void SetUpInputBuiltins(ActionInterpreter& vm) {
    ScriptObject* broadcaster = vm.NewObject();
    if (broadcaster) {
        DefineMethods(vm, broadcaster,
                      {{"initialize", Initialize},
                       {"addListener", AddListener},
                       {"removeListener", RemoveListener},
                       {"broadcastMessage", BroadcastMessage}});
        vm.Define(vm.Global(), QStringLiteral("AsBroadcaster"), broadcaster);
    }
    SetUpKey(vm);
    SetUpMouse(vm);
    SetUpStage(vm);
}

void ActionInterpreter::BroadcastNow(ScriptObject* broadcaster, const QString& message,
                                     const std::vector<ActionValue>& args) {
    ScriptObject* list = broadcaster ? listeners::Of(*this, broadcaster) : nullptr;
    if (!list)
        return;
    // Listeners added or removed by a handler count from the next message on.
    const std::vector<ActionValue> current = list->elements;
    PayFor(current.size());
    for (const ActionValue& listener : current) {
        if (!budget || *budget <= 0)
            return;
        ScriptObject* owner = nullptr;
        const ActionValue method = GetMember(listener, message, &owner);
        CallValue(method, listener, args, owner);
    }
}

void ActionInterpreter::Broadcast(ScriptObject* broadcaster, const QString& message, long long& budget) {
    long long* outer = std::exchange(this->budget, &budget);
    ++running;
    BroadcastNow(broadcaster, message, {});
    --running;
    this->budget = outer;
    CollectGarbage();
}

} // namespace flash
