// Values' conversions as Flash Player makes them: numbers to text, text to numbers, conditions.
#include "flash/player/avm1/ActionValue.h"

#include "flash/player/avm1/ScriptObject.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace flash {

namespace {

// An array's elements joined with commas, nesting cut at a few levels and the text at its limit.
constexpr int MaxTextNesting = 4;
constexpr qsizetype MaxJoined = 4096;

QString Text(const ActionValue& value, int nesting);

QString ArrayText(const ScriptObject& array, int nesting) {
    QString joined;
    for (std::size_t i = 0; i < array.elements.size() && joined.size() <= MaxJoined; ++i) {
        if (i > 0)
            joined += u',';
        if (nesting < MaxTextNesting) {
            const ActionValue& element = array.elements[i];
            joined += std::holds_alternative<std::monostate>(element) ? QStringLiteral("undefined")
                                                                      : Text(element, nesting + 1);
        }
    }
    return joined.left(MaxJoined);
}

QString Text(const ActionValue& value, int nesting) {
    if (const auto* text = std::get_if<QString>(&value))
        return *text;
    if (const auto* number = std::get_if<double>(&value))
        return NumberText(*number);
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag ? QStringLiteral("true") : QStringLiteral("false");
    if (std::holds_alternative<std::nullptr_t>(value))
        return QStringLiteral("null");
    if (std::holds_alternative<ClipRef>(value))
        return QStringLiteral("[clip]");
    if (std::holds_alternative<TextFieldRef>(value))
        return QStringLiteral("[object Object]");
    if (auto* const* object = std::get_if<ScriptObject*>(&value); object && *object) {
        switch ((*object)->kind) {
        case ScriptObject::Kind::Array:
            return ArrayText(**object, nesting);
        case ScriptObject::Kind::Function:
            return QStringLiteral("[type Function]");
        case ScriptObject::Kind::Boxed:
            return Text((*object)->primitive, nesting);
        default:
            return QStringLiteral("[object Object]");
        }
    }
    return {};
}

} // namespace

QString NumberText(double number) {
    if (std::isnan(number))
        return QStringLiteral("NaN");
    if (std::isinf(number))
        return number > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (number == 0)
        return QStringLiteral("0"); // -0 too
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", number);
    return QString::fromLatin1(text);
}

double ActionNumber(const ActionValue& value) {
    if (const auto* number = std::get_if<double>(&value))
        return *number;
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag ? 1 : 0;
    if (const auto* text = std::get_if<QString>(&value)) {
        const QString trimmed = text->trimmed();
        bool ok = false;
        if (trimmed.startsWith(u"0x", Qt::CaseInsensitive) && trimmed.size() > 2) {
            const qlonglong hex = trimmed.mid(2).toLongLong(&ok, 16);
            return ok ? double(hex) : std::numeric_limits<double>::quiet_NaN();
        }
        const double number = trimmed.toDouble(&ok);
        return ok ? number : std::numeric_limits<double>::quiet_NaN();
    }
    if (std::holds_alternative<std::nullptr_t>(value))
        return 0;
    if (auto* const* object = std::get_if<ScriptObject*>(&value);
        object && *object && (*object)->kind == ScriptObject::Kind::Boxed)
        return ActionNumber((*object)->primitive);
    return std::numeric_limits<double>::quiet_NaN();
}

QString ActionText(const ActionValue& value) {
    return Text(value, 0);
}

QString TraceText(const ActionValue& value) {
    if (std::holds_alternative<std::monostate>(value))
        return QStringLiteral("undefined");
    return ActionText(value);
}

bool ActionBool(const ActionValue& value) {
    if (const auto* flag = std::get_if<bool>(&value))
        return *flag;
    if (const auto* text = std::get_if<QString>(&value))
        return !text->isEmpty();
    if (std::holds_alternative<ClipRef>(value) || std::holds_alternative<TextFieldRef>(value))
        return true;
    if (auto* const* object = std::get_if<ScriptObject*>(&value))
        return *object != nullptr;
    const double number = ActionNumber(value);
    return number != 0 && !std::isnan(number);
}

bool ClipRef::operator==(const ClipRef& other) const {
    if (root || other.root)
        return root == other.root;
    return !sprite.owner_before(other.sprite) && !other.sprite.owner_before(sprite) &&
           !button.owner_before(other.button) && !other.button.owner_before(button) &&
           Valid() == other.Valid();
}

} // namespace flash
