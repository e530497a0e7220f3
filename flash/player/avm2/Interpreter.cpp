// The instruction loop: operands are read with bounds checks, pool indexes checked against their
// pools, and anything outside the subset ends the script.

#include "flash/player/avm2/Interpreter.h"

#include "flash/swf/AbcOpcodes.h"

#include <cmath>

namespace flash::avm2 {

struct Interpreter::Frame {
    const abc::AbcFile& file;
    const QByteArray& code;
    int owner;
    std::vector<Value> locals, stack, scopes;
    std::size_t pc = 0;
    Value result;
    bool bad = false; // an operand ran past the code or named nothing

    std::uint8_t U8() {
        if (pc >= std::size_t(code.size())) {
            bad = true;
            return 0;
        }
        return std::uint8_t(code[qsizetype(pc++)]);
    }
    std::uint32_t U30() {
        std::uint32_t value = 0;
        for (int shift = 0; shift < 35; shift += 7) {
            const std::uint8_t byte = U8();
            value |= std::uint32_t(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                break;
        }
        return value;
    }
    std::int32_t S24() {
        const std::uint32_t low = U8(), mid = U8(), high = U8();
        const std::uint32_t raw = low | mid << 8 | high << 16;
        return std::int32_t(raw << 8) >> 8;
    }
    // An operand indexing a list of `size`: out of range is damage.
    std::uint32_t Index(std::size_t size) {
        const std::uint32_t index = U30();
        if (index >= size)
            bad = true;
        return bad ? 0 : index;
    }
    bool Jump(std::size_t from, std::int64_t offset) {
        const std::int64_t target = std::int64_t(from) + offset;
        if (target < 0 || target > code.size())
            return false;
        pc = std::size_t(target);
        return true;
    }
};

Value Interpreter::Call(const Value& function, const std::vector<Value>& args, long long& stepBudget) {
    budget = &stepBudget;
    aborted = false;
    depth = 0;
    return Invoke(function, args);
}

Value Interpreter::Invoke(const Value& function, const std::vector<Value>& args) {
    if (aborted)
        return {};
    if (const auto* closure = std::get_if<MethodClosure>(&function))
        return Run(*closure, args);
    if (const auto* builtin = std::get_if<BoundBuiltin>(&function))
        return host.CallBuiltin(*builtin, args);
    return {};
}

Value Interpreter::Run(const MethodClosure& closure, const std::vector<Value>& args) {
    if (!closure.file || closure.method >= closure.file->methods.size())
        return {};
    const abc::Method& method = closure.file->methods[closure.method];
    if (method.body < 0)
        return {};
    const abc::MethodBody& body = closure.file->bodies[std::size_t(method.body)];
    if (depth >= MaxCallDepth || body.localCount > MaxLocals) {
        Abort();
        return {};
    }
    Frame frame{*closure.file, body.code, closure.owner, {}, {}, {}, 0, {}, false};
    const std::size_t params = method.paramTypes.size();
    frame.locals.resize(std::max<std::size_t>(body.localCount, params + 2));
    frame.locals[0] = closure.self;
    const std::size_t firstOptional = params - method.optional.size();
    for (std::size_t i = 0; i < params; ++i) {
        if (i < args.size())
            frame.locals[i + 1] = args[i];
        else if (i >= firstOptional)
            frame.locals[i + 1] = Constant(*closure.file, method.optional[i - firstOptional]);
    }
    if (method.flags & (abc::Method::NeedRest | abc::Method::NeedArguments))
        frame.locals[params + 1] = Opaque{QStringLiteral("[object Array]")};
    ++depth;
    Execute(frame);
    --depth;
    return aborted ? Value{} : frame.result;
}

void Interpreter::Execute(Frame& frame) {
    while (!aborted) {
        if (*budget <= 0) {
            Abort();
            return;
        }
        --*budget;
        if (!Step(frame))
            return;
        if (frame.bad) {
            Abort();
            return;
        }
    }
}

void Interpreter::Push(Frame& frame, Value value) {
    if (frame.stack.size() >= MaxStack) {
        Abort();
        return;
    }
    if (auto* text = std::get_if<QString>(&value); text && text->size() > MaxStringLength)
        text->truncate(MaxStringLength);
    frame.stack.push_back(std::move(value));
}

Value Interpreter::Pop(Frame& frame) {
    if (frame.stack.empty())
        return {};
    Value value = std::move(frame.stack.back());
    frame.stack.pop_back();
    return value;
}

std::vector<Value> Interpreter::PopArguments(Frame& frame, std::uint32_t count) {
    if (count > MaxArguments || count > frame.stack.size()) {
        frame.bad = true;
        return {};
    }
    std::vector<Value> args(frame.stack.end() - count, frame.stack.end());
    frame.stack.resize(frame.stack.size() - count);
    return args;
}

QString Interpreter::PopName(Frame& frame, std::uint32_t multiname) {
    const abc::Multiname& m = frame.file.pool.multinames[multiname];
    QString name = m.RuntimeName() ? ValueText(Pop(frame)) : frame.file.NameOf(multiname);
    if (m.RuntimeNamespace())
        Pop(frame);
    return name;
}

Value Interpreter::FindProperty(Frame& frame, const QString& name) {
    for (auto scope = frame.scopes.rbegin(); scope != frame.scopes.rend(); ++scope)
        if (host.Has(*scope, name))
            return *scope;
    if (host.Has(frame.locals[0], name))
        return frame.locals[0];
    return GlobalObject{};
}

Value Interpreter::Constant(const abc::AbcFile& file, const abc::ConstantValue& value) const {
    switch (value.kind) {
    case abc::ConstantValue::Int:
        return double(file.pool.ints[value.index]);
    case abc::ConstantValue::UInt:
        return double(file.pool.uints[value.index]);
    case abc::ConstantValue::Double:
        return file.pool.doubles[value.index];
    case abc::ConstantValue::Utf8:
        return file.pool.strings[value.index];
    case abc::ConstantValue::True:
        return true;
    case abc::ConstantValue::False:
        return false;
    case abc::ConstantValue::Null:
        return nullptr;
    case abc::ConstantValue::Undefined:
        return {};
    default:
        return Opaque{QStringLiteral("[object Namespace]")};
    }
}

namespace {

double Arithmetic(std::uint8_t code, double a, double b) {
    switch (code) {
    case abc::op::Add:
        return a + b;
    case abc::op::Subtract:
        return a - b;
    case abc::op::Multiply:
        return a * b;
    case abc::op::Divide:
        return a / b;
    default:
        return std::fmod(a, b);
    }
}

std::int32_t IntArithmetic(std::uint8_t code, std::int32_t a, std::int32_t b) {
    const auto x = std::uint32_t(a), y = std::uint32_t(b);
    switch (code) {
    case abc::op::AddI:
        return std::int32_t(x + y);
    case abc::op::SubtractI:
        return std::int32_t(x - y);
    case abc::op::MultiplyI:
        return std::int32_t(x * y);
    case abc::op::LShift:
        return std::int32_t(x << (y & 31));
    case abc::op::RShift:
        return a >> (y & 31);
    case abc::op::BitAnd:
        return std::int32_t(x & y);
    case abc::op::BitOr:
        return std::int32_t(x | y);
    default:
        return std::int32_t(x ^ y);
    }
}

// The condition of a conditional branch on a and b.
bool BranchTaken(std::uint8_t code, const Value& a, const Value& b) {
    switch (code) {
    case abc::op::IfEqual:
        return ValuesEqual(a, b, false);
    case abc::op::IfNotEqual:
        return !ValuesEqual(a, b, false);
    case abc::op::IfStrictEqual:
        return ValuesEqual(a, b, true);
    case abc::op::IfStrictNotEqual:
        return !ValuesEqual(a, b, true);
    case abc::op::IfLessThan:
        return LessThan(a, b).value_or(false);
    case abc::op::IfNotLessThan:
        return !LessThan(a, b).value_or(false);
    case abc::op::IfLessEqual:
        return !LessThan(b, a).value_or(true);
    case abc::op::IfNotLessEqual:
        return LessThan(b, a).value_or(true);
    case abc::op::IfGreaterThan:
        return LessThan(b, a).value_or(false);
    case abc::op::IfNotGreaterThan:
        return !LessThan(b, a).value_or(false);
    case abc::op::IfGreaterEqual:
        return !LessThan(a, b).value_or(true);
    default: // IfNotGreaterEqual
        return LessThan(a, b).value_or(true);
    }
}

} // namespace

bool Interpreter::Step(Frame& f) {
    namespace op = abc::op;
    const abc::ConstantPool& pool = f.file.pool;
    if (f.pc >= std::size_t(f.code.size()))
        return false; // off the end: as returnvoid
    const std::size_t start = f.pc;
    const std::uint8_t code = f.U8();
    auto local = [&](std::uint32_t index) -> Value* {
        if (index >= f.locals.size()) {
            f.bad = true;
            return nullptr;
        }
        return &f.locals[index];
    };
    auto twoOperands = [&](auto&& apply) {
        const Value b = Pop(f);
        const Value a = Pop(f);
        Push(f, apply(a, b));
    };
    switch (code) {
    case op::Nop:
    case op::Label:
    case op::Bkpt:
    case op::CheckFilter:
        return true;
    case op::Throw:
        Abort();
        return false;
    case op::Dxns:
    case op::DebugLine:
    case op::DebugFile:
        f.U30();
        return true;
    case op::DxnsLate:
        Pop(f);
        return true;
    case op::Debug:
        f.U8();
        f.U30();
        f.U8();
        f.U30();
        return true;
    case op::Kill:
        if (Value* slot = local(f.U30()))
            *slot = Value{};
        return true;

    // Branches.
    case op::Jump: {
        const std::int32_t offset = f.S24();
        if (!f.bad && !f.Jump(f.pc, offset))
            f.bad = true;
        return true;
    }
    case op::IfTrue:
    case op::IfFalse: {
        const std::int32_t offset = f.S24();
        const bool condition = ValueBool(Pop(f));
        if (!f.bad && condition == (code == op::IfTrue) && !f.Jump(f.pc, offset))
            f.bad = true;
        return true;
    }
    case op::IfEqual:
    case op::IfNotEqual:
    case op::IfStrictEqual:
    case op::IfStrictNotEqual:
    case op::IfLessThan:
    case op::IfLessEqual:
    case op::IfGreaterThan:
    case op::IfGreaterEqual:
    case op::IfNotLessThan:
    case op::IfNotLessEqual:
    case op::IfNotGreaterThan:
    case op::IfNotGreaterEqual: {
        const std::int32_t offset = f.S24();
        const Value b = Pop(f);
        const Value a = Pop(f);
        if (!f.bad && BranchTaken(code, a, b) && !f.Jump(f.pc, offset))
            f.bad = true;
        return true;
    }
    case op::LookupSwitch: {
        const std::int32_t fallback = f.S24();
        const std::uint32_t cases = f.U30();
        if (f.bad || std::size_t(cases) * 3 + 3 > std::size_t(f.code.size()) - f.pc) {
            f.bad = true;
            return true;
        }
        const double index = ValueNumber(Pop(f));
        std::int32_t offset = fallback;
        for (std::uint32_t i = 0; i <= cases; ++i) {
            const std::int32_t caseOffset = f.S24();
            if (index >= 0 && index == double(i))
                offset = caseOffset;
        }
        if (!f.Jump(start, offset))
            f.bad = true;
        return true;
    }

    // Scopes.
    case op::PushScope:
    case op::PushWith:
        if (f.scopes.size() >= MaxScopeDepth) {
            Abort();
            return false;
        }
        f.scopes.push_back(Pop(f));
        return true;
    case op::PopScope:
        if (!f.scopes.empty())
            f.scopes.pop_back();
        return true;
    case op::GetGlobalScope:
        Push(f, GlobalObject{});
        return true;
    case op::GetScopeObject: {
        const std::uint8_t index = f.U8();
        if (index >= f.scopes.size()) {
            f.bad = true;
            return true;
        }
        Push(f, f.scopes[index]);
        return true;
    }

    // Constants.
    case op::PushNull:
        Push(f, nullptr);
        return true;
    case op::PushUndefined:
        Push(f, Value{});
        return true;
    case op::PushTrue:
    case op::PushFalse:
        Push(f, code == op::PushTrue);
        return true;
    case op::PushNaN:
        Push(f, qQNaN());
        return true;
    case op::PushByte:
        Push(f, double(std::int8_t(f.U8())));
        return true;
    case op::PushShort:
        Push(f, double(std::int16_t(f.U30() & 0xFFFF)));
        return true;
    case op::PushString:
        Push(f, pool.strings[f.Index(pool.strings.size())]);
        return true;
    case op::PushInt:
        Push(f, double(pool.ints[f.Index(pool.ints.size())]));
        return true;
    case op::PushUInt:
        Push(f, double(pool.uints[f.Index(pool.uints.size())]));
        return true;
    case op::PushDouble:
        Push(f, pool.doubles[f.Index(pool.doubles.size())]);
        return true;
    case op::PushNamespace:
        f.Index(pool.namespaces.size());
        Push(f, Opaque{QStringLiteral("[object Namespace]")});
        return true;

    // The stack and locals.
    case op::Pop:
        Pop(f);
        return true;
    case op::Dup: {
        Value top = Pop(f);
        Push(f, top);
        Push(f, std::move(top));
        return true;
    }
    case op::Swap: {
        Value b = Pop(f);
        Value a = Pop(f);
        Push(f, std::move(b));
        Push(f, std::move(a));
        return true;
    }
    case op::GetLocal:
        if (const Value* slot = local(f.U30()))
            Push(f, *slot);
        return true;
    case op::SetLocal:
        if (Value* slot = local(f.U30()))
            *slot = Pop(f);
        return true;
    case op::GetLocal0:
    case op::GetLocal1:
    case op::GetLocal2:
    case op::GetLocal3:
        if (const Value* slot = local(code - op::GetLocal0))
            Push(f, *slot);
        return true;
    case op::SetLocal0:
    case op::SetLocal1:
    case op::SetLocal2:
    case op::SetLocal3:
        if (Value* slot = local(code - op::SetLocal0))
            *slot = Pop(f);
        return true;
    case op::IncLocal:
    case op::DecLocal:
    case op::IncLocalI:
    case op::DecLocalI:
        if (Value* slot = local(f.U30())) {
            const double by = code == op::IncLocal || code == op::IncLocalI ? 1 : -1;
            if (code == op::IncLocalI || code == op::DecLocalI)
                *slot = double(IntArithmetic(op::AddI, ValueInt(*slot), std::int32_t(by)));
            else
                *slot = ValueNumber(*slot) + by;
        }
        return true;

    // Properties and calls.
    case op::FindPropStrict:
    case op::FindProperty:
    case op::FindDef: {
        const QString name = PopName(f, f.Index(pool.multinames.size()));
        Push(f, FindProperty(f, name));
        return true;
    }
    case op::GetLex: {
        const QString name = PopName(f, f.Index(pool.multinames.size()));
        Push(f, host.Get(FindProperty(f, name), name));
        return true;
    }
    case op::GetProperty:
    case op::GetSuper: {
        const QString name = PopName(f, f.Index(pool.multinames.size()));
        Push(f, host.Get(Pop(f), name));
        return true;
    }
    case op::SetProperty:
    case op::InitProperty:
    case op::SetSuper: {
        const std::uint32_t multiname = f.Index(pool.multinames.size());
        Value value = Pop(f);
        const QString name = PopName(f, multiname);
        host.Set(Pop(f), name, value);
        return true;
    }
    case op::DeleteProperty: {
        PopName(f, f.Index(pool.multinames.size()));
        Pop(f);
        Push(f, false);
        return true;
    }
    case op::CallProperty:
    case op::CallPropLex:
    case op::CallPropVoid:
    case op::CallSuper:
    case op::CallSuperVoid: {
        const std::uint32_t multiname = f.Index(pool.multinames.size());
        std::vector<Value> args = PopArguments(f, f.U30());
        if (f.bad)
            return true;
        const QString name = PopName(f, multiname);
        const Value object = Pop(f);
        Value function;
        if (code == op::CallSuper || code == op::CallSuperVoid) {
            const auto* self = std::get_if<ClipRef>(&object);
            function = self ? host.SuperMethod(f.file, f.owner, *self, name) : Value{};
        } else {
            function = host.Get(object, name);
        }
        Value result = Invoke(function, args);
        if (code != op::CallPropVoid && code != op::CallSuperVoid)
            Push(f, std::move(result));
        return true;
    }
    case op::Call: {
        std::vector<Value> args = PopArguments(f, f.U30());
        Pop(f); // the receiver: closures and builtins carry their own
        const Value function = Pop(f);
        if (!f.bad)
            Push(f, Invoke(function, args));
        return true;
    }
    case op::CallMethod:
    case op::CallStatic: {
        const std::uint32_t index = f.U30();
        std::vector<Value> args = PopArguments(f, f.U30());
        const Value object = Pop(f);
        Value function;
        if (const auto* self = std::get_if<ClipRef>(&object); self && code == op::CallStatic)
            function = MethodClosure{&f.file, index, *self, f.owner};
        if (!f.bad)
            Push(f, Invoke(function, args));
        return true;
    }
    case op::ConstructSuper: {
        std::vector<Value> args = PopArguments(f, f.U30());
        const Value object = Pop(f);
        if (const auto* self = std::get_if<ClipRef>(&object); self && !f.bad)
            if (const auto base = host.SuperConstructor(f.file, f.owner, *self))
                Run(*base, args);
        return true;
    }
    case op::Construct: {
        PopArguments(f, f.U30());
        Pop(f); // the class
        Push(f, Opaque{QStringLiteral("[object Object]")});
        return true;
    }
    case op::ConstructProp: {
        const std::uint32_t multiname = f.Index(pool.multinames.size());
        PopArguments(f, f.U30());
        const QString name = PopName(f, multiname);
        Pop(f);
        Push(f, Opaque{QStringLiteral("[object %1]").arg(name)});
        return true;
    }
    case op::NewFunction:
        f.Index(f.file.methods.size());
        Push(f, Opaque{QStringLiteral("function Function() {}")});
        return true;
    case op::NewClass:
        f.Index(f.file.classes.size());
        Pop(f);
        Push(f, Opaque{QStringLiteral("[class Object]")});
        return true;
    case op::NewObject:
        PopArguments(f, f.U30() * 2);
        Push(f, Opaque{QStringLiteral("[object Object]")});
        return true;
    case op::NewArray:
        PopArguments(f, f.U30());
        Push(f, Opaque{QStringLiteral("[object Array]")});
        return true;
    case op::ApplyType:
        PopArguments(f, f.U30());
        Pop(f);
        Push(f, Opaque{QStringLiteral("[class Vector]")});
        return true;
    case op::NewActivation:
        Push(f, Opaque{QStringLiteral("[object Object]")});
        return true;
    case op::NewCatch:
        f.U30();
        Push(f, Opaque{QStringLiteral("[object Object]")});
        return true;
    case op::GetDescendants:
        PopName(f, f.Index(pool.multinames.size()));
        Pop(f);
        Push(f, Opaque{QStringLiteral("")});
        return true;
    case op::GetSlot:
    case op::GetGlobalSlot:
        f.U30();
        if (code == op::GetSlot)
            Pop(f);
        Push(f, Value{});
        return true;
    case op::SetSlot:
    case op::SetGlobalSlot:
        f.U30();
        Pop(f);
        if (code == op::SetSlot)
            Pop(f);
        return true;
    case op::HasNext:
        Pop(f);
        Pop(f);
        Push(f, 0.0);
        return true;
    case op::HasNext2:
        f.U30();
        f.U30();
        Push(f, false);
        return true;
    case op::NextName:
    case op::NextValue:
        Pop(f);
        Pop(f);
        Push(f, Value{});
        return true;
    case op::ReturnVoid:
        f.result = Value{};
        return false;
    case op::ReturnValue:
        f.result = Pop(f);
        return false;

    // Conversions and type checks.
    case op::ConvertS:
    case op::CoerceS:
    case op::EscXElem:
    case op::EscXAttr: {
        const Value value = Pop(f);
        const auto* clip = std::get_if<ClipRef>(&value);
        if (code == op::CoerceS && (IsUndefined(value) || std::holds_alternative<std::nullptr_t>(value)))
            Push(f, nullptr);
        else
            Push(f, clip ? host.ClipText(*clip) : ValueText(value));
        return true;
    }
    case op::ConvertI:
    case op::CoerceI:
        Push(f, double(ValueInt(Pop(f))));
        return true;
    case op::ConvertU:
    case op::CoerceU:
        Push(f, double(ValueUInt(Pop(f))));
        return true;
    case op::ConvertD:
    case op::CoerceD:
        Push(f, ValueNumber(Pop(f)));
        return true;
    case op::ConvertB:
    case op::CoerceB:
        Push(f, ValueBool(Pop(f)));
        return true;
    case op::ConvertO:
    case op::CoerceA:
    case op::CoerceO:
        return true;
    case op::Coerce:
    case op::AsType:
        f.Index(pool.multinames.size());
        return true;
    case op::AsTypeLate:
        Pop(f);
        return true;
    case op::IsType:
        f.Index(pool.multinames.size());
        Push(f, std::holds_alternative<ClipRef>(Pop(f)));
        return true;
    case op::IsTypeLate:
    case op::InstanceOf:
    case op::In:
        Pop(f);
        Pop(f);
        Push(f, false);
        return true;
    case op::TypeOf:
        Push(f, TypeOf(Pop(f)));
        return true;

    // Arithmetic and comparisons.
    case op::Add:
        twoOperands([&](const Value& a, const Value& b) -> Value {
            const auto text = [&](const Value& v) {
                const auto* clip = std::get_if<ClipRef>(&v);
                return clip ? host.ClipText(*clip) : ValueText(v);
            };
            const auto stringy = [](const Value& v) {
                return std::holds_alternative<QString>(v) || std::holds_alternative<ClipRef>(v) ||
                       std::holds_alternative<Opaque>(v) || std::holds_alternative<MethodClosure>(v) ||
                       std::holds_alternative<BoundBuiltin>(v) || std::holds_alternative<GlobalObject>(v);
            };
            if (stringy(a) || stringy(b))
                return text(a) + text(b);
            return ValueNumber(a) + ValueNumber(b);
        });
        return true;
    case op::Subtract:
    case op::Multiply:
    case op::Divide:
    case op::Modulo:
        twoOperands([&](const Value& a, const Value& b) -> Value {
            return Arithmetic(code, ValueNumber(a), ValueNumber(b));
        });
        return true;
    case op::AddI:
    case op::SubtractI:
    case op::MultiplyI:
    case op::LShift:
    case op::RShift:
    case op::BitAnd:
    case op::BitOr:
    case op::BitXor:
        twoOperands([&](const Value& a, const Value& b) -> Value {
            return double(IntArithmetic(code, ValueInt(a), ValueInt(b)));
        });
        return true;
    case op::URShift:
        twoOperands([&](const Value& a, const Value& b) -> Value {
            return double(ValueUInt(a) >> (ValueUInt(b) & 31));
        });
        return true;
    case op::Negate:
        Push(f, -ValueNumber(Pop(f)));
        return true;
    case op::NegateI:
        Push(f, double(IntArithmetic(op::SubtractI, 0, ValueInt(Pop(f)))));
        return true;
    case op::Increment:
    case op::Decrement:
        Push(f, ValueNumber(Pop(f)) + (code == op::Increment ? 1 : -1));
        return true;
    case op::IncrementI:
    case op::DecrementI:
        Push(f, double(IntArithmetic(op::AddI, ValueInt(Pop(f)), code == op::IncrementI ? 1 : -1)));
        return true;
    case op::BitNot:
        Push(f, double(~ValueInt(Pop(f))));
        return true;
    case op::Not:
        Push(f, !ValueBool(Pop(f)));
        return true;
    case op::Equals:
    case op::StrictEquals:
        twoOperands([&](const Value& a, const Value& b) -> Value {
            return ValuesEqual(a, b, code == op::StrictEquals);
        });
        return true;
    case op::LessThan:
        twoOperands([](const Value& a, const Value& b) -> Value { return LessThan(a, b).value_or(false); });
        return true;
    case op::LessEquals:
        twoOperands([](const Value& a, const Value& b) -> Value { return !LessThan(b, a).value_or(true); });
        return true;
    case op::GreaterThan:
        twoOperands([](const Value& a, const Value& b) -> Value { return LessThan(b, a).value_or(false); });
        return true;
    case op::GreaterEquals:
        twoOperands([](const Value& a, const Value& b) -> Value { return !LessThan(a, b).value_or(true); });
        return true;
    default:
        // Outside the subset: what it does to the stack is unknown, so the script ends here.
        Abort();
        return false;
    }
}

} // namespace flash::avm2
