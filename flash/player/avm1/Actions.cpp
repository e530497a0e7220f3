// The interpreter's core: values as scripts convert them, running code and function calls, the
// dispatch of each action to its function, the stack, pushes, registers and variables.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Activation.h"
#include "flash/swf/TextEncoding.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace flash {

ActionInterpreter::ActionInterpreter(ActionHost& host) : host(host) {
    SetUpBuiltins();
}

ActionValue ActionInterpreter::Bounded(QString text) {
    if (text.size() > MaxString)
        text.truncate(MaxString);
    return text;
}

double ActionInterpreter::ArithmeticNumber(const ActionValue& value) {
    if (std::holds_alternative<std::monostate>(value) && runningVersion < 7)
        return 0;
    return Number(value);
}

void ActionInterpreter::Run(const QByteArray& code, const ClipRef& self, long long& budget, int swfVersion) {
    Activation act(code, 0, std::size_t(code.size()), self, self, swfVersion);
    act.registers = registers;
    act.registerCount = std::size(registers);
    long long* outer = std::exchange(this->budget, &budget);
    ++running;
    Execute(act);
    --running;
    this->budget = outer;
    CollectGarbage();
}

void ActionInterpreter::Execute(Activation& act) {
    const int outerVersion = std::exchange(runningVersion, act.version);
    ExecuteRecords(act);
    runningVersion = outerVersion;
}

void ActionInterpreter::ExecuteRecords(Activation& act) {
    while (!act.done && *budget > 0) {
        // Leaving a with block, by its end or a jump, gives back the target it replaced.
        while (!act.withBlocks.empty() &&
               (act.pc < act.withBlocks.back().begin || act.pc >= act.withBlocks.back().end)) {
            act.target = act.withBlocks.back().outer;
            act.withBlocks.pop_back();
        }
        const auto record = DecodeAction(act.code, act.pc);
        if (!record || record->code == action::End || record->next > act.end)
            return;
        --*budget;
        act.pc = record->next;
        Step(act, *record);
        if (act.pc < act.begin || act.pc > act.end)
            return; // a jump out of the code ends it
    }
}

void ActionInterpreter::Step(Activation& act, const ActionRecord& record) {
    switch (record.code) {
    // Timeline control and jumps.
    case action::NextFrame:
        MoveFrame(act.target, +1);
        break;
    case action::PrevFrame:
        MoveFrame(act.target, -1);
        break;
    case action::Play:
        SetPlaying(act.target, true);
        break;
    case action::Stop:
        SetPlaying(act.target, false);
        break;
    case action::StopSounds:
        host.StopSounds();
        break;
    case action::GotoFrame:
        GotoFrame(act, record);
        break;
    case action::GotoLabel:
        GotoLabel(act, record);
        break;
    case action::GotoFrame2:
        GotoFrame2(act, record);
        break;
    case action::SetTarget:
        SetTarget(act, record);
        break;
    case action::SetTarget2:
        SetTarget2(act);
        break;
    case action::Jump:
    case action::If:
        Branch(act, record);
        break;
    case action::WaitForFrame: // every frame is loaded, nothing is skipped
        break;
    case action::WaitForFrame2:
        Pop(act);
        break;
    case action::With:
        With(act, record);
        break;
    // Pushes, the constant pool, registers and variables.
    case action::Push:
        PushValues(act, record.payload);
        break;
    case action::ConstantPool:
        ConstantPool(act, record);
        break;
    case action::Pop:
        Pop(act);
        break;
    case action::PushDuplicate:
        PushDuplicate(act);
        break;
    case action::StackSwap:
        StackSwap(act);
        break;
    case action::StoreRegister:
        StoreRegister(act, record);
        break;
    case action::GetVariable:
        GetVariable(act);
        break;
    case action::SetVariable:
        StoreVariable(act, false);
        break;
    case action::DefineLocal:
        StoreVariable(act, true);
        break;
    case action::DefineLocal2:
        DeclareLocal(act);
        break;
    // Operators.
    case action::Add:
    case action::Subtract:
    case action::Multiply:
    case action::Divide:
    case action::Modulo:
        Arithmetic(act, record.code);
        break;
    case action::Less:
    case action::Less2:
    case action::Greater:
        Compare(act, record.code);
        break;
    case action::Equals:
        Equality(act, false);
        break;
    case action::Equals2:
        Equality(act, true);
        break;
    case action::StrictEquals:
        StrictEquals(act);
        break;
    case action::And:
        Logical(act, true);
        break;
    case action::Or:
        Logical(act, false);
        break;
    case action::Not:
        Not(act);
        break;
    case action::Add2:
        Add2(act);
        break;
    case action::StringAdd:
        StringAdd(act);
        break;
    case action::StringEquals:
    case action::StringLess:
    case action::StringGreater:
        StringCompare(act, record.code);
        break;
    case action::StringLength:
    case action::MBStringLength:
        StringLength(act);
        break;
    case action::StringExtract:
    case action::MBStringExtract:
        StringExtract(act);
        break;
    case action::CharToAscii:
    case action::MBCharToAscii:
        CharToAscii(act);
        break;
    case action::AsciiToChar:
    case action::MBAsciiToChar:
        AsciiToChar(act);
        break;
    case action::Increment:
        Increment(act, 1);
        break;
    case action::Decrement:
        Increment(act, -1);
        break;
    case action::BitAnd:
    case action::BitOr:
    case action::BitXor:
    case action::BitLShift:
    case action::BitRShift:
    case action::BitURShift:
        BitOperator(act, record.code);
        break;
    case action::ToInteger:
        ToInteger(act);
        break;
    case action::ToNumber:
        ToNumber(act);
        break;
    case action::ToString:
        ToString(act);
        break;
    case action::TypeOf:
        TypeOf(act);
        break;
    case action::RandomNumber:
        RandomNumber(act);
        break;
    case action::GetTime:
        GetTime(act);
        break;
    // Clips as objects, functions and calls.
    case action::GetProperty:
        GetProperty(act);
        break;
    case action::SetProperty:
        SetProperty(act);
        break;
    case action::GetMember:
        GetMemberAction(act);
        break;
    case action::SetMember:
        SetMemberAction(act);
        break;
    case action::CallMethod:
        CallMethod(act);
        break;
    case action::CallFunction:
        CallFunction(act);
        break;
    case action::DefineFunction:
    case action::DefineFunction2:
        DefineFunction(act, record);
        break;
    case action::Return:
        Return(act);
        break;
    // Objects, arrays and classes.
    case action::NewObject:
        NewObjectAction(act);
        break;
    case action::NewMethod:
        NewMethod(act);
        break;
    case action::InitArray:
        InitArray(act);
        break;
    case action::InitObject:
        InitObject(act);
        break;
    case action::Extends:
        Extends(act);
        break;
    case action::InstanceOf:
        InstanceOfAction(act);
        break;
    case action::CastOp:
        CastOp(act);
        break;
    case action::ImplementsOp:
        ImplementsOp(act);
        break;
    case action::Enumerate:
        Enumerate(act, false);
        break;
    case action::Enumerate2:
        Enumerate(act, true);
        break;
    case action::Delete:
        DeleteMember(act);
        break;
    case action::Delete2:
        DeleteVariable(act);
        break;
    case action::Call: // the frame's actions are not run
        Pop(act);
        break;
    case action::Trace:
        Trace(act);
        break;
    case action::CloneSprite:
        CloneSprite(act);
        break;
    case action::RemoveSprite:
        RemoveSprite(act);
        break;
    case action::StartDrag:
        StartDrag(act);
        break;
    case action::EndDrag:
        host.StopDrag();
        break;
    case action::GetUrl:
        GetUrl(act, record);
        break;
    case action::GetUrl2:
        GetUrl2(act, record);
        break;
    default: // anything else is skipped
        break;
    }
}

void ActionInterpreter::Push(Activation& act, ActionValue value) {
    if (act.stack.size() < MaxStack)
        act.stack.push_back(std::move(value));
}

ActionValue ActionInterpreter::Pop(Activation& act) {
    if (act.stack.empty())
        return {};
    ActionValue value = std::move(act.stack.back());
    act.stack.pop_back();
    return value;
}

std::vector<ActionValue> ActionInterpreter::PopArguments(Activation& act) {
    const double count = ActionNumber(Pop(act));
    std::vector<ActionValue> args;
    const std::size_t n = std::isnan(count) || count < 0
                              ? 0
                              : std::min<std::size_t>(std::size_t(std::min(count, 1e6)), act.stack.size());
    for (std::size_t i = 0; i < n; ++i)
        args.push_back(Pop(act));
    return args;
}

void ActionInterpreter::PushValues(Activation& act, QByteArrayView payload) {
    BitReader r(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size());
    while (r.Remaining() > 0 && !r.Overrun()) {
        const std::uint8_t type = r.U8();
        ActionValue value;
        switch (type) {
        case 0:
            value = Bounded(DecodeText(r.CString(), act.version));
            break;
        case 1: {
            const std::uint32_t bits = r.U32();
            float number;
            std::memcpy(&number, &bits, sizeof number);
            value = double(number);
            break;
        }
        case 2:
            value = nullptr;
            break;
        case 3:
            break;
        case 4: {
            const std::uint8_t index = r.U8();
            if (index < act.registerCount)
                value = act.registers[index];
            break;
        }
        case 5:
            value = r.U8() != 0;
            break;
        case 6: { // the two 32-bit halves come high half first
            const std::uint64_t high = r.U32(), low = r.U32();
            const std::uint64_t bits = (high << 32) | low;
            double number;
            std::memcpy(&number, &bits, sizeof number);
            value = number;
            break;
        }
        case 7:
            value = double(std::int32_t(r.U32()));
            break;
        case 8:
        case 9: {
            const std::size_t index = type == 8 ? r.U8() : r.U16();
            if (act.constants && index < act.constants->size())
                value = (*act.constants)[index];
            break;
        }
        default:
            return; // an unknown type: its length is unknown too
        }
        if (r.Overrun())
            return;
        Push(act, std::move(value));
    }
}

void ActionInterpreter::ConstantPool(Activation& act, const ActionRecord& record) {
    BitReader r = record.Fields();
    const std::size_t count = r.U16();
    auto pool = std::make_shared<std::vector<QString>>();
    // Every string takes at least its zero byte, so the payload bounds the pool.
    for (std::size_t i = 0; i < count && r.Remaining() > 0; ++i) {
        const QByteArray text = r.CString();
        if (r.Overrun())
            break;
        pool->push_back(DecodeText(text, act.version));
    }
    act.constants = std::move(pool);
}

void ActionInterpreter::PushDuplicate(Activation& act) {
    const ActionValue top = act.stack.empty() ? ActionValue{} : act.stack.back();
    Push(act, top);
}

void ActionInterpreter::StackSwap(Activation& act) {
    if (act.stack.size() >= 2)
        std::swap(act.stack[act.stack.size() - 1], act.stack[act.stack.size() - 2]);
}

void ActionInterpreter::StoreRegister(Activation& act, const ActionRecord& record) {
    BitReader r = record.Fields();
    const std::uint8_t index = r.U8();
    if (!r.Overrun() && !act.stack.empty() && index < act.registerCount)
        act.registers[index] = act.stack.back();
}

void ActionInterpreter::GetVariable(Activation& act) {
    const QString name = ActionText(Pop(act));
    Push(act, Lookup(act, name));
}

void ActionInterpreter::StoreVariable(Activation& act, bool local) {
    ActionValue value = Pop(act);
    const QString name = ActionText(Pop(act));
    if (act.locals && (local || act.locals->count(name.toLower()))) {
        if (act.locals->size() < MaxVariables || act.locals->count(name.toLower()))
            (*act.locals)[name.toLower().left(MaxString)] = std::move(value);
    } else {
        SetVariable(act.target, name, std::move(value));
    }
}

void ActionInterpreter::DeclareLocal(Activation& act) {
    const QString name = ActionText(Pop(act)).toLower().left(MaxString);
    if (act.locals && act.locals->size() < MaxVariables)
        act.locals->try_emplace(name);
}

ActionValue ActionInterpreter::Lookup(Activation& act, const QString& name) {
    if (name == QStringLiteral("_root") || name == QStringLiteral("_level0"))
        return ClipRef::Root();
    if (name == QStringLiteral("this"))
        return act.self;
    if (name == QStringLiteral("_global"))
        return global;
    if (act.locals) {
        if (const auto found = act.locals->find(name.toLower()); found != act.locals->end())
            return found->second;
        if (name == QStringLiteral("super"))
            return SuperOf(act);
        if (name == QStringLiteral("arguments"))
            return ArgumentsOf(act);
    }
    if (ActionValue value = Variable(act.target, name); !std::holds_alternative<std::monostate>(value))
        return value;
    // A clip path, or an instance name on the current timeline, of a clip or an edit text.
    const ClipRef clip = Resolve(act.target, name);
    if (clip.Valid())
        return clip;
    const auto [parent, last] = SplitVariablePath(act.target, name);
    if (auto field = parent.Valid() ? host.Field(parent, last) : nullptr)
        return TextFieldRef{field};
    // Last, what the built-ins and _global hold.
    if (const ActionValue* value = global->properties.Find(name))
        return *value;
    return {};
}

// super in a method: its members are those of the prototype above the one the method came from.
ActionValue ActionInterpreter::SuperOf(Activation& act) {
    if (!act.methodHome)
        return {};
    ScriptObject* super = heap.New(ScriptObject::Kind::Super, nullptr);
    if (!super)
        return {};
    super->primitive = act.self;
    super->home = act.methodHome;
    return super;
}

ActionValue ActionInterpreter::ArgumentsOf(Activation& act) {
    ScriptObject* arguments = NewArray(act.args ? *act.args : std::vector<ActionValue>{});
    return arguments ? ActionValue(arguments) : ActionValue{};
}

void ActionInterpreter::CollectGarbage() {
    if (running > 0 || !heap.CollectionDue())
        return;
    heap.Collect([this](const ObjectHeap::Mark& mark) {
        mark(global);
        for (ScriptObject* proto :
             {protos.object, protos.function, protos.array, protos.string, protos.number, protos.boolean,
              protos.textField, protos.textFormat, protos.movieClip})
            mark(proto);
        for (const ActionValue& value : registers)
            mark(value);
        for (const auto& [key, clip] : variables) {
            clip.values.ForEachValue(mark);
            mark(clip.proto);
        }
        for (const auto& [linkage, constructor] : registeredClasses)
            mark(constructor);
        for (const auto& [channel, sound] : soundChannels)
            mark(sound);
        for (const LoadWatch& watch : loadWatches)
            mark(watch.loader);
        world.MarkRoots(mark);
    });
}

} // namespace flash
