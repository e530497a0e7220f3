// The interpreter's operators: arithmetic, comparisons, strings, bits, conversions, and the Math
// object.
#include "flash/player/avm1/Actions.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace flash {

namespace {

// Bit operators work on 32-bit integers, wrapping as Flash does.
std::int32_t ToInt32(double number) {
    if (!std::isfinite(number))
        return 0;
    const double wrapped = std::fmod(std::trunc(number), 4294967296.0);
    return std::int32_t(std::uint32_t(std::int64_t(wrapped < 0 ? wrapped + 4294967296.0 : wrapped)));
}

QString TypeName(const ActionValue& value) {
    if (std::holds_alternative<double>(value))
        return QStringLiteral("number");
    if (std::holds_alternative<QString>(value))
        return QStringLiteral("string");
    if (std::holds_alternative<bool>(value))
        return QStringLiteral("boolean");
    if (std::holds_alternative<ClipRef>(value))
        return QStringLiteral("movieclip");
    if (std::holds_alternative<std::shared_ptr<const ScriptFunction>>(value))
        return QStringLiteral("function");
    if (std::holds_alternative<std::nullptr_t>(value))
        return QStringLiteral("null");
    if (std::holds_alternative<BuiltinObject>(value) || std::holds_alternative<TextFieldRef>(value))
        return QStringLiteral("object");
    return QStringLiteral("undefined");
}

// substring(text, index, count) with Flash's one-based index; out of range gives what overlaps.
QString Extract(const QString& text, double index, double count) {
    if (std::isnan(index) || std::isnan(count))
        return {};
    const double from = std::max(std::trunc(index) - 1, 0.0);
    if (from >= text.size())
        return {};
    const double length = count < 0 ? text.size() : std::min(std::trunc(count), double(text.size()));
    return text.mid(qsizetype(from), qsizetype(length));
}

} // namespace

// Arithmetic, comparisons and joining.
bool ActionInterpreter::StepOperator(Frame& f, std::uint8_t code) {
    auto binary = [&](auto op) {
        const ActionValue b = Pop(f), a = Pop(f);
        Push(f, op(a, b));
    };
    auto numeric = [&](auto op) {
        binary([&](const ActionValue& a, const ActionValue& b) -> ActionValue {
            return op(Number(a), Number(b));
        });
    };
    switch (code) {
    case 0x0A: // Add
        numeric([](double a, double b) { return a + b; });
        return true;
    case 0x0B: // Subtract
        numeric([](double a, double b) { return a - b; });
        return true;
    case 0x0C: // Multiply
        numeric([](double a, double b) { return a * b; });
        return true;
    case 0x0D: // Divide
        numeric([](double a, double b) { return a / b; });
        return true;
    case 0x3F: // Modulo
        numeric([](double a, double b) { return std::fmod(a, b); });
        return true;
    case 0x0E: // Equals
    case 0x49: // Equals2
        binary([&](const ActionValue& a, const ActionValue& b) -> ActionValue {
            if (code == 0x49 && std::holds_alternative<QString>(a) && std::holds_alternative<QString>(b))
                return ActionText(a) == ActionText(b);
            // undefined and null equal each other and nothing else.
            const bool aEmpty =
                std::holds_alternative<std::monostate>(a) || std::holds_alternative<std::nullptr_t>(a);
            const bool bEmpty =
                std::holds_alternative<std::monostate>(b) || std::holds_alternative<std::nullptr_t>(b);
            if (code == 0x49 && (aEmpty || bEmpty))
                return aEmpty && bEmpty;
            return Number(a) == Number(b);
        });
        return true;
    case 0x0F: // Less
    case 0x48: // Less2
        numeric([](double a, double b) { return a < b; });
        return true;
    case 0x67: // Greater
        numeric([](double a, double b) { return a > b; });
        return true;
    case 0x10: // And
        binary([](const ActionValue& a, const ActionValue& b) -> ActionValue {
            return ActionBool(a) && ActionBool(b);
        });
        return true;
    case 0x11: // Or
        binary([](const ActionValue& a, const ActionValue& b) -> ActionValue {
            return ActionBool(a) || ActionBool(b);
        });
        return true;
    case 0x12: // Not
        Push(f, !ActionBool(Pop(f)));
        return true;
    case 0x13: // StringEquals
        binary([](const ActionValue& a, const ActionValue& b) -> ActionValue {
            return ActionText(a) == ActionText(b);
        });
        return true;
    case 0x14: // StringLength
        Push(f, double(ActionText(Pop(f)).size()));
        return true;
    case 0x21: // StringAdd
        binary([](const ActionValue& a, const ActionValue& b) {
            return Bounded(ActionText(a) + ActionText(b));
        });
        return true;
    case 0x47: // Add2: strings join, anything else adds
        binary([this](const ActionValue& a, const ActionValue& b) -> ActionValue {
            if (std::holds_alternative<QString>(a) || std::holds_alternative<QString>(b))
                return Bounded(ActionText(a) + ActionText(b));
            return Number(a) + Number(b);
        });
        return true;
    case 0x50: // Increment
        Push(f, Number(Pop(f)) + 1);
        return true;
    case 0x51: // Decrement
        Push(f, Number(Pop(f)) - 1);
        return true;
    case 0x18: // ToInteger
        Push(f, std::trunc(Number(Pop(f))));
        return true;
    default:
        return false;
    }
}

// Strings by character, bits, strict comparison, conversions, random numbers and the clock.
bool ActionInterpreter::StepStringAndBits(Frame& f, std::uint8_t code) {
    auto bits = [&](auto op) {
        const std::int32_t b = ToInt32(Number(Pop(f))), a = ToInt32(Number(Pop(f)));
        Push(f, double(op(a, b)));
    };
    switch (code) {
    case 0x15:   // StringExtract
    case 0x35: { // MBStringExtract
        const double count = Number(Pop(f)), index = Number(Pop(f));
        Push(f, Extract(ActionText(Pop(f)), index, count));
        return true;
    }
    case 0x31: // MBStringLength
        Push(f, double(ActionText(Pop(f)).size()));
        return true;
    case 0x29:   // StringLess
    case 0x68: { // StringGreater
        const QString b = ActionText(Pop(f)), a = ActionText(Pop(f));
        Push(f, code == 0x29 ? a < b : a > b);
        return true;
    }
    case 0x32:   // CharToAscii
    case 0x36: { // MBCharToAscii
        const QString text = ActionText(Pop(f));
        Push(f, text.isEmpty() ? 0.0 : double(text.at(0).unicode()));
        return true;
    }
    case 0x33:   // AsciiToChar
    case 0x37: { // MBAsciiToChar
        const double number = Number(Pop(f));
        Push(f, std::isfinite(number) && number > 0 && number < 0x10000 ? QString(QChar(char16_t(number)))
                                                                        : QString());
        return true;
    }
    case 0x60: // BitAnd
        bits([](std::int32_t a, std::int32_t b) { return a & b; });
        return true;
    case 0x61: // BitOr
        bits([](std::int32_t a, std::int32_t b) { return a | b; });
        return true;
    case 0x62: // BitXor
        bits([](std::int32_t a, std::int32_t b) { return a ^ b; });
        return true;
    case 0x63: // BitLShift
        bits([](std::int32_t a, std::int32_t b) { return std::int32_t(std::uint32_t(a) << (b & 31)); });
        return true;
    case 0x64: // BitRShift
        bits([](std::int32_t a, std::int32_t b) { return a >> (b & 31); });
        return true;
    case 0x65: { // BitURShift: unsigned, so the result may pass 2^31
        const std::int32_t b = ToInt32(Number(Pop(f))), a = ToInt32(Number(Pop(f)));
        Push(f, double(std::uint32_t(a) >> (b & 31)));
        return true;
    }
    case 0x66: { // StrictEquals: same type and value
        const ActionValue b = Pop(f), a = Pop(f);
        Push(f, a == b);
        return true;
    }
    case 0x4A: // ToNumber
        Push(f, Number(Pop(f)));
        return true;
    case 0x4B: // ToString
        Push(f, ActionText(Pop(f)));
        return true;
    case 0x44: // TypeOf
        Push(f, TypeName(Pop(f)));
        return true;
    case 0x30: { // RandomNumber: random(n) is 0 .. n - 1
        const double limit = Number(Pop(f));
        if (!std::isfinite(limit) || limit < 1 || limit > 2147483647.0) {
            Push(f, 0.0);
            return true;
        }
        Push(f,
             double(std::uniform_int_distribution<std::int64_t>(0, std::int64_t(limit) - 1)(randomNumbers)));
        return true;
    }
    case 0x34: // GetTime
        Push(f, std::floor(host.Milliseconds()));
        return true;
    default:
        return false;
    }
}

double ActionInterpreter::Number(const ActionValue& value) const {
    if (std::holds_alternative<std::monostate>(value) && runningVersion < 7)
        return 0;
    return ActionNumber(value);
}

ActionValue ActionInterpreter::MathMember(const QString& name) const {
    static const std::pair<const char*, double> Constants[] = {
        {"PI", M_PI},   {"E", M_E},       {"SQRT2", M_SQRT2}, {"SQRT1_2", M_SQRT1_2},
        {"LN2", M_LN2}, {"LN10", M_LN10}, {"LOG2E", M_LOG2E}, {"LOG10E", M_LOG10E},
    };
    for (const auto& [constant, value] : Constants)
        if (name == QLatin1String(constant))
            return value;
    return {};
}

ActionValue ActionInterpreter::CallMath(const QString& method, const std::vector<ActionValue>& args) {
    const double x = args.size() > 0 ? ActionNumber(args[0]) : std::numeric_limits<double>::quiet_NaN();
    const double y = args.size() > 1 ? ActionNumber(args[1]) : std::numeric_limits<double>::quiet_NaN();
    using Unary = double (*)(double);
    static const std::pair<const char*, Unary> Functions[] = {
        {"abs", [](double v) { return std::abs(v); }},
        {"floor", [](double v) { return std::floor(v); }},
        {"ceil", [](double v) { return std::ceil(v); }},
        {"round", [](double v) { return std::floor(v + 0.5); }},
        {"sqrt", [](double v) { return std::sqrt(v); }},
        {"sin", [](double v) { return std::sin(v); }},
        {"cos", [](double v) { return std::cos(v); }},
        {"tan", [](double v) { return std::tan(v); }},
        {"asin", [](double v) { return std::asin(v); }},
        {"acos", [](double v) { return std::acos(v); }},
        {"atan", [](double v) { return std::atan(v); }},
        {"exp", [](double v) { return std::exp(v); }},
        {"log", [](double v) { return std::log(v); }},
    };
    for (const auto& [name, function] : Functions)
        if (method == QLatin1String(name))
            return function(x);
    if (method == QLatin1String("random"))
        return std::uniform_real_distribution<double>(0, 1)(randomNumbers);
    if (method == QLatin1String("min"))
        return std::isnan(x) || std::isnan(y) ? std::numeric_limits<double>::quiet_NaN() : std::min(x, y);
    if (method == QLatin1String("max"))
        return std::isnan(x) || std::isnan(y) ? std::numeric_limits<double>::quiet_NaN() : std::max(x, y);
    if (method == QLatin1String("pow"))
        return std::pow(x, y);
    if (method == QLatin1String("atan2"))
        return std::atan2(x, y);
    return {};
}

} // namespace flash
