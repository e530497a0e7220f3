// The Number, Boolean and Math built-ins and the global functions on numbers: Number() and
// new Number(), toString(radix), MAX_VALUE, MIN_VALUE, NaN and the infinities; Boolean() and
// new Boolean(); Math's functions and constants; parseInt, parseFloat, isNaN, isFinite, and the
// globals NaN and Infinity. Random numbers come from the interpreter's seeded sequence, so a
// conversion repeats.
#include "flash/player/avm1/Actions.h"

#include "flash/player/avm1/Native.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>
#include <random>

namespace flash {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

ActionValue Wrap(NativeCall& call, ActionValue primitive) {
    if (ScriptObject* made = call.SelfObject(); call.constructing && made) {
        made->kind = ScriptObject::Kind::Boxed;
        made->primitive = std::move(primitive);
        return made;
    }
    return primitive;
}

ActionValue NumberConstructor(NativeCall& call) {
    return Wrap(call, call.args.empty() ? 0.0 : call.vm.Number(call.args[0]));
}

ActionValue BooleanConstructor(NativeCall& call) {
    return Wrap(call, !call.args.empty() && ActionBool(call.args[0]));
}

// toString(radix): radixes other than 10 print the integer part.
ActionValue NumberToString(NativeCall& call) {
    const double number = ActionNumber(call.self);
    const double radix = ActionNumber(call.Arg(0));
    if (!std::isfinite(number) || std::isnan(radix) || radix == 10 || radix < 2 || radix > 36)
        return NumberText(number);
    const int base = int(radix);
    std::int64_t whole = std::int64_t(std::clamp(std::trunc(number), -9.2e18, 9.2e18));
    const bool negative = whole < 0;
    std::uint64_t magnitude = negative ? std::uint64_t(0) - std::uint64_t(whole) : std::uint64_t(whole);
    QString digits;
    do {
        digits.prepend(QChar(u"0123456789abcdefghijklmnopqrstuvwxyz"[magnitude % std::uint64_t(base)]));
        magnitude /= std::uint64_t(base);
    } while (magnitude > 0);
    return negative ? QStringLiteral("-") + digits : digits;
}

ActionValue PrimitiveOf(NativeCall& call) {
    auto* const* object = std::get_if<ScriptObject*>(&call.self);
    return object && *object && (*object)->kind == ScriptObject::Kind::Boxed ? (*object)->primitive
                                                                             : call.self;
}

ActionValue BooleanToString(NativeCall& call) {
    return ActionText(PrimitiveOf(call));
}

// parseInt(text, radix): "0x" reads hexadecimal and a leading 0 octal, as Flash reads them; digits
// are read up to the first that is not one.
ActionValue ParseInt(NativeCall& call) {
    const QString text = call.vm.Text(call.Arg(0)).trimmed();
    qsizetype at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == u'-' || text[at] == u'+'))
        negative = text[at++] == u'-';
    const double asked = ActionNumber(call.Arg(1));
    int radix = std::isnan(asked) ? 0 : int(asked);
    const bool hexPrefix = text.mid(at, 2).compare(u"0x", Qt::CaseInsensitive) == 0;
    if (radix == 0) {
        radix = hexPrefix ? 16 : (text.size() - at > 1 && text[at] == u'0') ? 8 : 10;
    }
    if (radix < 2 || radix > 36)
        return NaN;
    if (radix == 16 && hexPrefix)
        at += 2;
    double value = 0;
    qsizetype digits = 0;
    for (; at < text.size(); ++at, ++digits) {
        const char16_t c = text[at].toLower().unicode();
        const int digit = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'z' ? c - u'a' + 10 : 99;
        if (digit >= radix)
            break;
        value = value * radix + digit;
    }
    if (digits == 0)
        return NaN;
    return negative ? -value : value;
}

// parseFloat(text): the longest number at the start of the text.
ActionValue ParseFloat(NativeCall& call) {
    static const QRegularExpression Leading(QStringLiteral(R"(^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?)"));
    const QRegularExpressionMatch match = Leading.match(call.vm.Text(call.Arg(0)).trimmed());
    return match.hasMatch() ? match.captured(0).toDouble() : NaN;
}

ActionValue IsNaN(NativeCall& call) {
    return std::isnan(call.vm.Number(call.Arg(0)));
}

ActionValue IsFinite(NativeCall& call) {
    return std::isfinite(call.vm.Number(call.Arg(0)));
}

double X(NativeCall& call) {
    return call.args.empty() ? NaN : call.vm.Number(call.args[0]);
}

double Y(NativeCall& call) {
    return call.args.size() < 2 ? NaN : call.vm.Number(call.args[1]);
}

template <double (*F)(double)> ActionValue Unary(NativeCall& call) {
    return F(X(call));
}

ActionValue Round(NativeCall& call) {
    return std::floor(X(call) + 0.5);
}

ActionValue Abs(NativeCall& call) {
    return std::abs(X(call));
}

ActionValue Min(NativeCall& call) {
    const double x = X(call), y = Y(call);
    return std::isnan(x) || std::isnan(y) ? NaN : std::min(x, y);
}

ActionValue Max(NativeCall& call) {
    const double x = X(call), y = Y(call);
    return std::isnan(x) || std::isnan(y) ? NaN : std::max(x, y);
}

ActionValue Pow(NativeCall& call) {
    return std::pow(X(call), Y(call));
}

ActionValue Atan2(NativeCall& call) {
    return std::atan2(X(call), Y(call));
}

ActionValue Random(NativeCall& call) {
    return std::uniform_real_distribution<double>(0, 1)(call.vm.Randoms());
}

void SetUpMath(ActionInterpreter& vm) {
    ScriptObject* math = vm.NewObject();
    DefineMethods(vm, math,
                  {{"abs", Abs},
                   {"floor", Unary<std::floor>},
                   {"ceil", Unary<std::ceil>},
                   {"round", Round},
                   {"sqrt", Unary<std::sqrt>},
                   {"sin", Unary<std::sin>},
                   {"cos", Unary<std::cos>},
                   {"tan", Unary<std::tan>},
                   {"asin", Unary<std::asin>},
                   {"acos", Unary<std::acos>},
                   {"atan", Unary<std::atan>},
                   {"exp", Unary<std::exp>},
                   {"log", Unary<std::log>},
                   {"min", Min},
                   {"max", Max},
                   {"pow", Pow},
                   {"atan2", Atan2},
                   {"random", Random}});
    for (const auto& [name, value] : {std::pair{"PI", M_PI},
                                      {"E", M_E},
                                      {"SQRT2", M_SQRT2},
                                      {"SQRT1_2", M_SQRT1_2},
                                      {"LN2", M_LN2},
                                      {"LN10", M_LN10},
                                      {"LOG2E", M_LOG2E},
                                      {"LOG10E", M_LOG10E}})
        vm.Define(math, QLatin1String(name), value, DontEnum | DontDelete | ReadOnly);
    vm.Define(vm.Global(), QStringLiteral("Math"), math);
}

} // namespace

void SetUpNumberBuiltins(ActionInterpreter& vm) {
    constexpr std::uint8_t Constant = DontEnum | DontDelete | ReadOnly;
    DefineMethods(vm, vm.Protos().number, {{"toString", NumberToString}, {"valueOf", PrimitiveOf}});
    ScriptObject* number = vm.NewNative(NumberConstructor, vm.Protos().number);
    for (const auto& [name, value] : {std::pair{"MAX_VALUE", std::numeric_limits<double>::max()},
                                      {"MIN_VALUE", std::numeric_limits<double>::denorm_min()},
                                      {"NaN", NaN},
                                      {"NEGATIVE_INFINITY", -std::numeric_limits<double>::infinity()},
                                      {"POSITIVE_INFINITY", std::numeric_limits<double>::infinity()}})
        vm.Define(number, QLatin1String(name), value, Constant);
    vm.Define(vm.Global(), QStringLiteral("Number"), number);

    DefineMethods(vm, vm.Protos().boolean, {{"toString", BooleanToString}, {"valueOf", PrimitiveOf}});
    vm.Define(vm.Global(), QStringLiteral("Boolean"), vm.NewNative(BooleanConstructor, vm.Protos().boolean));

    SetUpMath(vm);
    DefineMethods(
        vm, vm.Global(),
        {{"parseInt", ParseInt}, {"parseFloat", ParseFloat}, {"isNaN", IsNaN}, {"isFinite", IsFinite}});
    vm.Define(vm.Global(), QStringLiteral("NaN"), NaN, Constant);
    vm.Define(vm.Global(), QStringLiteral("Infinity"), std::numeric_limits<double>::infinity(), Constant);
}

} // namespace flash
