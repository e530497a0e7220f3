// The interpreter's operators: arithmetic, comparisons, strings, bits, conversions, random numbers,
// the clock, and the Math object.
#include "flash/player/avm1/Actions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace flash {

std::int32_t ActionInt32(double number) {
    if (!std::isfinite(number))
        return 0;
    const double wrapped = std::fmod(std::trunc(number), 4294967296.0);
    return std::int32_t(std::uint32_t(std::int64_t(wrapped < 0 ? wrapped + 4294967296.0 : wrapped)));
}

namespace {

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

void ActionInterpreter::Arithmetic(Activation& act, action::Code code) {
    const double b = Number(Pop(act)), a = Number(Pop(act));
    switch (code) {
    case action::Add:
        Push(act, a + b);
        break;
    case action::Subtract:
        Push(act, a - b);
        break;
    case action::Multiply:
        Push(act, a * b);
        break;
    case action::Divide:
        Push(act, a / b);
        break;
    default: // Modulo
        Push(act, std::fmod(a, b));
        break;
    }
}

void ActionInterpreter::Compare(Activation& act, bool greater) {
    const double b = Number(Pop(act)), a = Number(Pop(act));
    Push(act, greater ? a > b : a < b);
}

// Typed (Equals2): two strings compare as text, and undefined and null equal each other and
// nothing else. Otherwise both compare as numbers.
void ActionInterpreter::Equality(Activation& act, bool typed) {
    const ActionValue b = Pop(act), a = Pop(act);
    if (typed && std::holds_alternative<QString>(a) && std::holds_alternative<QString>(b)) {
        Push(act, ActionText(a) == ActionText(b));
        return;
    }
    const bool aEmpty =
        std::holds_alternative<std::monostate>(a) || std::holds_alternative<std::nullptr_t>(a);
    const bool bEmpty =
        std::holds_alternative<std::monostate>(b) || std::holds_alternative<std::nullptr_t>(b);
    if (typed && (aEmpty || bEmpty))
        Push(act, aEmpty && bEmpty);
    else
        Push(act, Number(a) == Number(b));
}

// Same type and value.
void ActionInterpreter::StrictEquals(Activation& act) {
    const ActionValue b = Pop(act), a = Pop(act);
    Push(act, a == b);
}

void ActionInterpreter::Logical(Activation& act, bool both) {
    const bool b = ActionBool(Pop(act)), a = ActionBool(Pop(act));
    Push(act, both ? a && b : a || b);
}

void ActionInterpreter::Not(Activation& act) {
    Push(act, !ActionBool(Pop(act)));
}

// Strings join, anything else adds.
void ActionInterpreter::Add2(Activation& act) {
    const ActionValue b = Pop(act), a = Pop(act);
    if (std::holds_alternative<QString>(a) || std::holds_alternative<QString>(b))
        Push(act, Bounded(ActionText(a) + ActionText(b)));
    else
        Push(act, Number(a) + Number(b));
}

void ActionInterpreter::StringAdd(Activation& act) {
    const QString b = ActionText(Pop(act)), a = ActionText(Pop(act));
    Push(act, Bounded(a + b));
}

void ActionInterpreter::StringCompare(Activation& act, action::Code code) {
    const QString b = ActionText(Pop(act)), a = ActionText(Pop(act));
    Push(act, code == action::StringEquals ? a == b : code == action::StringLess ? a < b : a > b);
}

void ActionInterpreter::StringLength(Activation& act) {
    Push(act, double(ActionText(Pop(act)).size()));
}

void ActionInterpreter::StringExtract(Activation& act) {
    const double count = Number(Pop(act)), index = Number(Pop(act));
    Push(act, Extract(ActionText(Pop(act)), index, count));
}

void ActionInterpreter::CharToAscii(Activation& act) {
    const QString text = ActionText(Pop(act));
    Push(act, text.isEmpty() ? 0.0 : double(text.at(0).unicode()));
}

void ActionInterpreter::AsciiToChar(Activation& act) {
    const double number = Number(Pop(act));
    Push(act, std::isfinite(number) && number > 0 && number < 0x10000 ? QString(QChar(char16_t(number)))
                                                                      : QString());
}

void ActionInterpreter::Increment(Activation& act, double by) {
    Push(act, Number(Pop(act)) + by);
}

// On 32-bit integers; the unsigned right shift gives a result that may pass 2^31.
void ActionInterpreter::BitOperator(Activation& act, action::Code code) {
    const std::int32_t b = ActionInt32(Number(Pop(act))), a = ActionInt32(Number(Pop(act)));
    switch (code) {
    case action::BitAnd:
        Push(act, double(a & b));
        break;
    case action::BitOr:
        Push(act, double(a | b));
        break;
    case action::BitXor:
        Push(act, double(a ^ b));
        break;
    case action::BitLShift:
        Push(act, double(std::int32_t(std::uint32_t(a) << (b & 31))));
        break;
    case action::BitRShift:
        Push(act, double(a >> (b & 31)));
        break;
    default: // BitURShift
        Push(act, double(std::uint32_t(a) >> (b & 31)));
        break;
    }
}

void ActionInterpreter::ToInteger(Activation& act) {
    Push(act, std::trunc(Number(Pop(act))));
}

void ActionInterpreter::ToNumber(Activation& act) {
    Push(act, Number(Pop(act)));
}

void ActionInterpreter::ToString(Activation& act) {
    Push(act, ActionText(Pop(act)));
}

void ActionInterpreter::TypeOf(Activation& act) {
    Push(act, TypeName(Pop(act)));
}

// random(n) is 0 .. n - 1.
void ActionInterpreter::RandomNumber(Activation& act) {
    const double limit = Number(Pop(act));
    if (!std::isfinite(limit) || limit < 1 || limit > 2147483647.0)
        Push(act, 0.0);
    else
        Push(act,
             double(std::uniform_int_distribution<std::int64_t>(0, std::int64_t(limit) - 1)(randomNumbers)));
}

void ActionInterpreter::GetTime(Activation& act) {
    Push(act, std::floor(host.Milliseconds()));
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
