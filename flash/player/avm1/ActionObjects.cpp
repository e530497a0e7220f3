// The interpreter's objects and calls: clip properties and members, clip
// methods (play, gotoAndStop, duplicateMovieClip, attachMovie, startDrag ...), functions scripts
// define and their calls, event handlers, copies and removal of clips, dragging and trace.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Activation.h"
#include "flash/player/avm1/Native.h"
#include "flash/swf/TextEncoding.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace flash {

void ActionInterpreter::GetProperty(Activation& act) {
    const double property = ActionNumber(Pop(act));
    const ClipRef clip = Resolve(act.target, ActionText(Pop(act)));
    Push(act, std::isfinite(property) ? GetClipProperty(clip, int(property)) : ActionValue{});
}

void ActionInterpreter::SetProperty(Activation& act) {
    const ActionValue value = Pop(act);
    const double property = ActionNumber(Pop(act));
    const ClipRef clip = Resolve(act.target, ActionText(Pop(act)));
    if (std::isfinite(property))
        SetClipProperty(clip, int(property), value);
}

void ActionInterpreter::GetMemberAction(Activation& act) {
    const QString name = ActionText(Pop(act));
    const ActionValue object = Pop(act);
    Push(act, GetMember(object, name));
}

void ActionInterpreter::SetMemberAction(Activation& act) {
    ActionValue value = Pop(act);
    const QString name = ActionText(Pop(act));
    const ActionValue object = Pop(act);
    SetMember(object, name, std::move(value));
}

// A function kept in an object or a clip's variable, a clip's own method, or a call of the value
// itself when the name is empty (super(), a function in a register).
void ActionInterpreter::CallMethod(Activation& act) {
    const ActionValue nameValue = Pop(act);
    const ActionValue object = Pop(act);
    const std::vector<ActionValue> args = PopArguments(act);
    const QString name = ActionText(nameValue);
    auto* const* objectPointer = std::get_if<ScriptObject*>(&object);
    ScriptObject* target = objectPointer ? *objectPointer : nullptr;
    if (name.isEmpty()) {
        if (target && target->kind == ScriptObject::Kind::Super) {
            // super(args): the constructor the class extends, on the same this.
            ScriptObject* owner = nullptr;
            const ActionValue constructor =
                ObjectMember(*target->home, QStringLiteral("__constructor__"), &owner);
            Push(act, CallValue(constructor, target->primitive, args, target->home->proto));
        } else {
            Push(act, CallValue(object, ActionValue{}, args));
        }
        return;
    }
    ScriptObject* owner = nullptr;
    const ActionValue member = GetMember(object, name, &owner);
    const ActionValue self = target && target->kind == ScriptObject::Kind::Super ? target->primitive : object;
    if (auto* const* function = std::get_if<ScriptObject*>(&member);
        function && *function && (*function)->Callable())
        Push(act, CallValue(member, self, args, owner));
    else if (const auto* clip = std::get_if<ClipRef>(&self))
        Push(act, CallClipMethod(act, *clip, name, args)); // also super.method() in a clip's class
    else
        Push(act, {});
}

// A function the scripts defined or a built-in, else a global form (gotoAndPlay ...) on the target.
void ActionInterpreter::CallFunction(Activation& act) {
    const QString name = ActionText(Pop(act));
    const std::vector<ActionValue> args = PopArguments(act);
    const ActionValue value = Lookup(act, name);
    if (auto* const* function = std::get_if<ScriptObject*>(&value); function && *function) {
        if ((*function)->kind == ScriptObject::Kind::Super) {
            ScriptObject* super = *function;
            ScriptObject* owner = nullptr;
            const ActionValue constructor =
                ObjectMember(*super->home, QStringLiteral("__constructor__"), &owner);
            Push(act, CallValue(constructor, super->primitive, args, super->home->proto));
        } else {
            Push(act, CallValue(value, ActionValue{}, args));
        }
        return;
    }
    Push(act, CallClipMethod(act, act.target, name, args));
}

void ActionInterpreter::DefineFunction(Activation& act, const ActionRecord& record) {
    BitReader r = record.Fields();
    auto function = std::make_shared<ScriptFunction>();
    const QString name = DecodeText(r.CString(), act.version);
    const std::size_t params = r.U16();
    const bool two = record.code == action::DefineFunction2;
    if (two) {
        function->hasRegisters = true;
        function->registerCount = r.U8();
        function->preload = r.U8();
        function->preloadGlobal = r.U8();
    }
    for (std::size_t i = 0; i < params && !r.Overrun() && r.Remaining() > 0; ++i) {
        function->paramRegisters.push_back(two ? r.U8() : 0);
        function->params.push_back(DecodeText(r.CString(), act.version).toLower());
    }
    const std::size_t size = r.U16();
    if (r.Overrun() || act.pc + size > act.end) {
        act.done = true; // the body runs past the code
        return;
    }
    function->code = act.code;
    function->begin = act.pc;
    function->end = act.pc + size;
    function->scope = act.target;
    function->constants = act.constants;
    function->version = act.version;
    act.pc += size; // the body is not run here
    ScriptObject* object = heap.New(ScriptObject::Kind::Function, protos.function);
    ActionValue value;
    if (object) {
        object->function = std::move(function);
        value = object;
    }
    if (name.isEmpty())
        Push(act, std::move(value));
    else if (act.locals)
        (*act.locals)[name.toLower()] = std::move(value);
    else
        SetVariable(act.target, name, std::move(value));
}

ActionValue ActionInterpreter::CallValue(const ActionValue& function, const ActionValue& self,
                                         const std::vector<ActionValue>& args, ScriptObject* home) {
    auto* const* object = std::get_if<ScriptObject*>(&function);
    if (!object || !*object || !(*object)->Callable())
        return {};
    return Call(**object, self, args, home);
}

ActionValue ActionInterpreter::Call(ScriptObject& object, const ActionValue& self,
                                    const std::vector<ActionValue>& args, ScriptObject* home) {
    if (callDepth >= MaxCallDepth || !budget || *budget <= 0)
        return {};
    if (object.native) {
        --*budget;
        NativeCall call{*this, self, args};
        ++callDepth;
        ActionValue result = object.native(call);
        --callDepth;
        return result;
    }
    // Keeps the body alive even if the script replaces the function while it runs.
    const std::shared_ptr<const ScriptFunction> body = object.function;
    const ScriptFunction& function = *body;
    std::map<QString, ActionValue> locals;
    std::vector<ActionValue> ownRegisters(function.hasRegisters ? function.registerCount : 0);
    const bool hasSelf = !std::holds_alternative<std::monostate>(self);
    Activation call(function.code, function.begin, function.end, hasSelf ? self : ActionValue(function.scope),
                    function.scope, function.version);
    call.constants = function.constants;
    call.locals = &locals;
    call.registers = function.hasRegisters ? ownRegisters.data() : registers;
    call.registerCount = function.hasRegisters ? ownRegisters.size() : std::size(registers);
    call.methodHome = home;
    call.args = &args;
    if (function.hasRegisters) {
        // this, arguments, super, _root, _parent, _global take registers from 1 on, as flagged.
        std::size_t next = 1;
        auto preload = [&](bool flagged, auto&& value) {
            if (flagged && next < ownRegisters.size())
                ownRegisters[next++] = value();
        };
        preload(function.preload & 0x01, [&] { return call.self; });
        preload(function.preload & 0x04, [&] { return ArgumentsOf(call); });
        preload(function.preload & 0x10, [&] { return SuperOf(call); });
        preload(function.preload & 0x40, [] { return ActionValue(ClipRef::Root()); });
        preload(function.preload & 0x80, [&] { return ActionValue(host.Parent(function.scope)); });
        preload(function.preloadGlobal & 0x01, [&] { return ActionValue(global); });
    }
    for (std::size_t i = 0; i < function.params.size(); ++i) {
        const ActionValue value = i < args.size() ? args[i] : ActionValue{};
        const std::uint8_t reg = function.paramRegisters[i];
        if (reg != 0 && reg < ownRegisters.size())
            ownRegisters[reg] = value;
        else if (reg == 0 && locals.size() < MaxVariables)
            locals[function.params[i]] = value;
    }
    ++callDepth;
    Execute(call);
    --callDepth;
    return call.result;
}

void ActionInterpreter::Return(Activation& act) {
    act.result = Pop(act);
    act.done = true;
}

// A clip's handler: its own variable, else what its class's prototype holds.
ActionValue ActionInterpreter::Handler(const ClipRef& clip, const QString& name, ScriptObject** owner) {
    if (const auto* values = VariablesOf(clip, false))
        if (const ActionValue* found = values->Find(name))
            return *found;
    // Outside a script a getter on the chain does not run (calls need a budget).
    return ClipChainMember(clip, name, owner);
}

bool ActionInterpreter::HasHandler(const ClipRef& clip, const QString& name) {
    if (!hasHandlers)
        return false;
    const ActionValue found = Handler(clip, name, nullptr);
    auto* const* function = std::get_if<ScriptObject*>(&found);
    return function && *function && (*function)->Callable();
}

void ActionInterpreter::CallHandler(const ClipRef& clip, const QString& name, long long& budget) {
    long long* outer = std::exchange(this->budget, &budget);
    ScriptObject* owner = nullptr;
    const ActionValue handler = Handler(clip, name, &owner);
    ++running;
    CallValue(handler, clip, {}, owner);
    --running;
    this->budget = outer;
    CollectGarbage();
}

void ActionInterpreter::Trace(Activation& act) {
    const ActionValue value = Pop(act);
    host.Trace(std::holds_alternative<std::monostate>(value) ? QStringLiteral("undefined") : Text(value));
}

// duplicateMovieClip(source, name, depth).
void ActionInterpreter::CloneSprite(Activation& act) {
    const ActionValue depth = Pop(act), name = Pop(act);
    const QString source = ActionText(Pop(act));
    Duplicate(Resolve(act.target, source), name, depth);
}

void ActionInterpreter::RemoveSprite(Activation& act) {
    const ClipRef clip = Resolve(act.target, ActionText(Pop(act)));
    if (clip.Valid() && !clip.root)
        host.Remove(clip);
}

// The target, lock centre, constrain, then the bounds when constrained.
void ActionInterpreter::StartDrag(Activation& act) {
    const ClipRef clip = Resolve(act.target, ActionText(Pop(act)));
    const bool lockCenter = ActionBool(Pop(act));
    std::optional<QRectF> bounds;
    if (ActionBool(Pop(act))) {
        const ActionValue bottom = Pop(act), right = Pop(act), top = Pop(act), left = Pop(act);
        bounds = DragBounds(left, top, right, bottom);
    }
    if (clip.Valid() && !clip.root)
        host.StartDrag(clip, lockCenter, bounds);
}

ActionValue ActionInterpreter::CallClipMethod(Activation& act, const ClipRef& clip, const QString& name,
                                              const std::vector<ActionValue>& args) {
    if (!clip.Valid())
        return {};
    const QString method = name.toLower();
    if (auto result = ClipMethod(clip, method, args))
        return *result;
    if (auto drawn = CallDrawingMethod(*this, clip, method, args))
        return *drawn;
    // Everything is loaded from the start: what preloaders wait for is there.
    if (method == QStringLiteral("getbytesloaded") || method == QStringLiteral("getbytestotal"))
        return host.MovieBytes();
    if (method == QStringLiteral("play"))
        host.SetPlaying(clip, true);
    else if (method == QStringLiteral("stop"))
        host.SetPlaying(clip, false);
    else if (method == QStringLiteral("nextframe"))
        MoveFrame(clip, +1);
    else if (method == QStringLiteral("prevframe"))
        MoveFrame(clip, -1);
    else if ((method == QStringLiteral("gotoandplay") || method == QStringLiteral("gotoandstop")) &&
             !args.empty())
        // With a scene and a frame, the frame is the last argument.
        GotoValue(act, clip, args.back(), method == QStringLiteral("gotoandplay"), 0);
    else if (method == QStringLiteral("stopallsounds"))
        host.StopSounds();
    else if (method == QStringLiteral("duplicatemovieclip") && args.size() >= 2)
        Duplicate(clip, args[0], args[1]);
    else if (method == QStringLiteral("removemovieclip"))
        host.Remove(clip);
    else if (method == QStringLiteral("attachmovie") && args.size() >= 3) {
        const double depth = ActionNumber(args[2]);
        if (std::isfinite(depth) && depth >= 0 && depth < 65536)
            if (const ClipRef attached =
                    host.Attach(clip, ActionText(args[0]), ActionText(args[1]).left(MaxString), int(depth));
                attached.Valid())
                return attached;
    } else if (method == QStringLiteral("startdrag"))
        host.StartDrag(clip, !args.empty() && ActionBool(args[0]),
                       args.size() >= 5 ? DragBounds(args[1], args[2], args[3], args[4]) : std::nullopt);
    else if (method == QStringLiteral("stopdrag"))
        host.StopDrag();
    else if (method == QStringLiteral("createtextfield"))
        return CreateTextField(*this, clip, args);
    else if (method == QStringLiteral("attachbitmap"))
        return AttachBitmap(*this, clip, args);
    else if (method == QStringLiteral("geturl") && !args.empty())
        RequestUrl(Text(args[0]), args.size() > 1 ? Text(args[1]) : QString(), 0, clip);
    return {};
}

std::optional<QRectF> ActionInterpreter::DragBounds(const ActionValue& left, const ActionValue& top,
                                                    const ActionValue& right, const ActionValue& bottom) {
    const double l = ActionNumber(left), t = ActionNumber(top), r = ActionNumber(right),
                 b = ActionNumber(bottom);
    if (!std::isfinite(l) || !std::isfinite(t) || !std::isfinite(r) || !std::isfinite(b))
        return std::nullopt;
    return QRectF(QPointF(std::min(l, r), std::min(t, b)), QPointF(std::max(l, r), std::max(t, b)));
}

void ActionInterpreter::Duplicate(const ClipRef& clip, const ActionValue& name, const ActionValue& depth) {
    const double number = ActionNumber(depth);
    if (clip.Valid() && std::isfinite(number) && number >= 0 && number < 65536)
        host.Duplicate(clip, ActionText(name).left(MaxString), int(number));
}

} // namespace flash
