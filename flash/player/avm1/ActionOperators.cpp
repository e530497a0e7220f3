// The interpreter's operators: arithmetic, comparisons, strings, bits, conversions, random numbers
// and the clock.
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
    if (auto* const* object = std::get_if<ScriptObject*>(&value); object && *object)
        return (*object)->Callable() ? QStringLiteral("function") : QStringLiteral("object");
    if (std::holds_alternative<std::nullptr_t>(value))
        return QStringLiteral("null");
    if (std::holds_alternative<TextFieldRef>(value))
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
    const double b = ArithmeticNumber(Pop(act)), a = ArithmeticNumber(Pop(act));
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

// Less compares numbers; the typed forms (Less2, Greater) compare two strings as text.
void ActionInterpreter::Compare(Activation& act, action::Code code) {
    const ActionValue bValue = Pop(act), aValue = Pop(act);
    if (code == action::Less) {
        Push(act, ArithmeticNumber(aValue) < ArithmeticNumber(bValue));
        return;
    }
    const ActionValue a = Primitive(aValue), b = Primitive(bValue);
    const bool greater = code == action::Greater;
    if (const auto* aText = std::get_if<QString>(&a), *bText = std::get_if<QString>(&b); aText && bText)
        Push(act, greater ? *aText > *bText : *aText < *bText);
    else
        Push(act,
             greater ? ArithmeticNumber(a) > ArithmeticNumber(b) : ArithmeticNumber(a) < ArithmeticNumber(b));
}

// Equals compares numbers; Equals2 as ECMAScript's ==: values of one type by value (objects by
// identity), undefined and null equal each other only, numbers against strings and booleans as
// numbers, objects against those by their primitive value.
void ActionInterpreter::Equality(Activation& act, bool typed) {
    const ActionValue b = Pop(act), a = Pop(act);
    Push(act, typed ? LooselyEqual(a, b, 0) : ArithmeticNumber(a) == ArithmeticNumber(b));
}

bool ActionInterpreter::LooselyEqual(const ActionValue& a, const ActionValue& b, int depth) {
    if (a.index() == b.index())
        return a == b;
    const auto empty = [](const ActionValue& value) {
        return std::holds_alternative<std::monostate>(value) || std::holds_alternative<std::nullptr_t>(value);
    };
    if (empty(a) || empty(b))
        return empty(a) && empty(b);
    const auto scalar = [](const ActionValue& value) {
        return std::holds_alternative<double>(value) || std::holds_alternative<QString>(value) ||
               std::holds_alternative<bool>(value);
    };
    if (scalar(a) && scalar(b))
        return ActionNumber(a) == ActionNumber(b);
    const bool aObject = std::holds_alternative<ScriptObject*>(a),
               bObject = std::holds_alternative<ScriptObject*>(b);
    if (depth < 2 && ((aObject && scalar(b)) || (bObject && scalar(a))))
        return LooselyEqual(Primitive(a), Primitive(b), depth + 1);
    return false;
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

// Strings join, anything else adds; objects take part by their primitive value.
void ActionInterpreter::Add2(Activation& act) {
    const ActionValue b = Primitive(Pop(act)), a = Primitive(Pop(act));
    if (std::holds_alternative<QString>(a) || std::holds_alternative<QString>(b))
        Push(act, Bounded(Text(a) + Text(b)));
    else
        Push(act, ArithmeticNumber(a) + ArithmeticNumber(b));
}

void ActionInterpreter::StringAdd(Activation& act) {
    const QString b = Text(Pop(act)), a = Text(Pop(act));
    Push(act, Bounded(a + b));
}

void ActionInterpreter::StringCompare(Activation& act, action::Code code) {
    const QString b = Text(Pop(act)), a = Text(Pop(act));
    Push(act, code == action::StringEquals ? a == b : code == action::StringLess ? a < b : a > b);
}

void ActionInterpreter::StringLength(Activation& act) {
    Push(act, double(ActionText(Pop(act)).size()));
}

void ActionInterpreter::StringExtract(Activation& act) {
    const double count = ArithmeticNumber(Pop(act)), index = ArithmeticNumber(Pop(act));
    Push(act, Extract(ActionText(Pop(act)), index, count));
}

void ActionInterpreter::CharToAscii(Activation& act) {
    const QString text = ActionText(Pop(act));
    Push(act, text.isEmpty() ? 0.0 : double(text.at(0).unicode()));
}

void ActionInterpreter::AsciiToChar(Activation& act) {
    const double number = ArithmeticNumber(Pop(act));
    Push(act, std::isfinite(number) && number > 0 && number < 0x10000 ? QString(QChar(char16_t(number)))
                                                                      : QString());
}

void ActionInterpreter::Increment(Activation& act, double by) {
    Push(act, ArithmeticNumber(Pop(act)) + by);
}

// On 32-bit integers; the unsigned right shift gives a result that may pass 2^31.
void ActionInterpreter::BitOperator(Activation& act, action::Code code) {
    const std::int32_t b = ActionInt32(ArithmeticNumber(Pop(act))),
                       a = ActionInt32(ArithmeticNumber(Pop(act)));
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
    Push(act, std::trunc(ArithmeticNumber(Pop(act))));
}

void ActionInterpreter::ToNumber(Activation& act) {
    Push(act, ArithmeticNumber(Pop(act)));
}

void ActionInterpreter::ToString(Activation& act) {
    Push(act, Bounded(Text(Pop(act))));
}

void ActionInterpreter::TypeOf(Activation& act) {
    Push(act, TypeName(Pop(act)));
}

// random(n) is 0 .. n - 1.
void ActionInterpreter::RandomNumber(Activation& act) {
    const double limit = ArithmeticNumber(Pop(act));
    if (!std::isfinite(limit) || limit < 1 || limit > 2147483647.0)
        Push(act, 0.0);
    else
        Push(act,
             double(std::uniform_int_distribution<std::int64_t>(0, std::int64_t(limit) - 1)(randomNumbers)));
}

void ActionInterpreter::GetTime(Activation& act) {
    Push(act, std::floor(host.Milliseconds()));
}

} // namespace flash
