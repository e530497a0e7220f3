#include "flash/player/avm2/Value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace flash::avm2 {

QString NumberText(double number) {
    if (std::isnan(number))
        return QStringLiteral("NaN");
    if (std::isinf(number))
        return number > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (number == 0)
        return QStringLiteral("0");
    // The shortest digits that read back as the number, and where the point goes.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, std::abs(number), std::chars_format::scientific);
    const std::string text(buffer, result.ptr);
    const std::size_t e = text.find('e');
    std::string digits = text.substr(0, e);
    digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
    const int k = int(digits.size());
    const int n = std::atoi(text.c_str() + e + 1) + 1;
    std::string out;
    if (k <= n && n <= 21) {
        out = digits + std::string(std::size_t(n - k), '0');
    } else if (0 < n && n <= 21) {
        out = digits.substr(0, std::size_t(n)) + '.' + digits.substr(std::size_t(n));
    } else if (-6 < n && n <= 0) {
        out = "0." + std::string(std::size_t(-n), '0') + digits;
    } else {
        const int exponent = n - 1;
        out = digits.substr(0, 1);
        if (k > 1)
            out += '.' + digits.substr(1);
        out += exponent < 0 ? "e-" : "e+";
        out += std::to_string(std::abs(exponent));
    }
    return QString::fromLatin1((number < 0 ? "-" : "") + out);
}

QString ValueText(const Value& value, const QString& objectText) {
    if (std::holds_alternative<std::monostate>(value))
        return QStringLiteral("undefined");
    if (std::holds_alternative<std::nullptr_t>(value))
        return QStringLiteral("null");
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag ? QStringLiteral("true") : QStringLiteral("false");
    if (const auto* number = std::get_if<double>(&value))
        return NumberText(*number);
    if (const auto* text = std::get_if<QString>(&value))
        return *text;
    if (std::holds_alternative<MethodClosure>(value) || std::holds_alternative<BoundBuiltin>(value))
        return QStringLiteral("function Function() {}");
    if (const auto* opaque = std::get_if<Opaque>(&value))
        return opaque->text;
    if (std::holds_alternative<GlobalObject>(value))
        return QStringLiteral("[object global]");
    return objectText;
}

double ValueNumber(const Value& value) {
    if (std::holds_alternative<std::nullptr_t>(value))
        return 0;
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag ? 1 : 0;
    if (const auto* number = std::get_if<double>(&value))
        return *number;
    if (const auto* text = std::get_if<QString>(&value)) {
        const QString trimmed = text->trimmed();
        if (trimmed.isEmpty())
            return 0;
        bool ok = false;
        if (trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
            const qulonglong hex = trimmed.mid(2).toULongLong(&ok, 16);
            return ok ? double(hex) : qQNaN();
        }
        const double parsed = trimmed.toDouble(&ok);
        if (ok)
            return parsed;
        if (trimmed == QLatin1String("Infinity") || trimmed == QLatin1String("+Infinity"))
            return qInf();
        if (trimmed == QLatin1String("-Infinity"))
            return -qInf();
        return qQNaN();
    }
    return qQNaN();
}

bool ValueBool(const Value& value) {
    if (std::holds_alternative<std::monostate>(value) || std::holds_alternative<std::nullptr_t>(value))
        return false;
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag;
    if (const auto* number = std::get_if<double>(&value))
        return *number != 0 && !std::isnan(*number);
    if (const auto* text = std::get_if<QString>(&value))
        return !text->isEmpty();
    return true;
}

std::uint32_t ValueUInt(const Value& value) {
    const double number = ValueNumber(value);
    if (!std::isfinite(number))
        return 0;
    const double wrapped = std::fmod(std::trunc(number), 4294967296.0);
    return std::uint32_t(std::int64_t(wrapped < 0 ? wrapped + 4294967296.0 : wrapped));
}

std::int32_t ValueInt(const Value& value) {
    return std::int32_t(ValueUInt(value));
}

bool ValuesEqual(const Value& a, const Value& b, bool strict) {
    const auto nullish = [](const Value& v) {
        return std::holds_alternative<std::monostate>(v) || std::holds_alternative<std::nullptr_t>(v);
    };
    if (a.index() == b.index()) {
        if (const auto* x = std::get_if<double>(&a))
            return *x == std::get<double>(b);
        if (const auto* x = std::get_if<QString>(&a))
            return *x == std::get<QString>(b);
        if (const auto* x = std::get_if<bool>(&a))
            return *x == std::get<bool>(b);
        if (const auto* x = std::get_if<ClipRef>(&a))
            return *x == std::get<ClipRef>(b);
        if (const auto* x = std::get_if<MethodClosure>(&a)) {
            const auto& y = std::get<MethodClosure>(b);
            return x->file == y.file && x->method == y.method && x->self == y.self;
        }
        if (const auto* x = std::get_if<BoundBuiltin>(&a))
            return x->which == std::get<BoundBuiltin>(b).which && x->self == std::get<BoundBuiltin>(b).self;
        // Two opaque objects are never known to be the same one.
        return !std::holds_alternative<Opaque>(a);
    }
    if (strict)
        return false;
    if (nullish(a) || nullish(b))
        return nullish(a) && nullish(b);
    const auto primitive = [](const Value& v) {
        return std::holds_alternative<double>(v) || std::holds_alternative<QString>(v) ||
               std::holds_alternative<bool>(v);
    };
    if (primitive(a) && primitive(b))
        return ValueNumber(a) == ValueNumber(b);
    return false;
}

std::optional<bool> LessThan(const Value& a, const Value& b) {
    if (std::holds_alternative<QString>(a) && std::holds_alternative<QString>(b))
        return std::get<QString>(a) < std::get<QString>(b);
    const double x = ValueNumber(a), y = ValueNumber(b);
    if (std::isnan(x) || std::isnan(y))
        return std::nullopt;
    return x < y;
}

QString TypeOf(const Value& value) {
    if (std::holds_alternative<std::monostate>(value))
        return QStringLiteral("undefined");
    if (std::holds_alternative<bool>(value))
        return QStringLiteral("boolean");
    if (std::holds_alternative<double>(value))
        return QStringLiteral("number");
    if (std::holds_alternative<QString>(value))
        return QStringLiteral("string");
    if (std::holds_alternative<MethodClosure>(value) || std::holds_alternative<BoundBuiltin>(value))
        return QStringLiteral("function");
    return QStringLiteral("object");
}

} // namespace flash::avm2
