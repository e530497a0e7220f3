#pragma once
// The values ActionScript 3 timeline scripts work with, and the conversions between them as the
// language defines them (ECMAScript's ToNumber, ToString, ToBoolean, ToInt32). Objects outside the
// subset the player runs (classes, arrays, events ...) are Opaque: reading a property of one gives
// another, calling one does nothing, so scripts that touch them run on.

#include "flash/player/avm1/Actions.h"
#include "flash/swf/AbcModel.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <variant>

namespace flash::avm2 {

// A method of a class, bound to the object it was read from.
struct MethodClosure {
    const abc::AbcFile* file = nullptr;
    std::uint32_t method = 0;
    ClipRef self;
    int owner = -1; // the instance index whose traits hold it: super calls start from its base
};

// The movie clip methods and the global functions the player provides.
enum class Builtin : std::uint8_t {
    Trace,
    Stop,
    Play,
    GotoAndPlay,
    GotoAndStop,
    NextFrame,
    PrevFrame,
    AddFrameScript,
};

struct BoundBuiltin {
    Builtin which = Builtin::Trace;
    ClipRef self;
};

// The global object: where names no scope holds are looked up.
struct GlobalObject {};

struct Opaque {
    QString text; // how it prints: "[class Event]", "[object Object]"
};

using Value = std::variant<std::monostate, std::nullptr_t, bool, double, QString, ClipRef, MethodClosure,
                           BoundBuiltin, GlobalObject, Opaque>;

inline bool IsUndefined(const Value& value) {
    return std::holds_alternative<std::monostate>(value);
}

// Strings a script makes are cut to this many characters, so loops that join text stay small.
constexpr qsizetype MaxStringLength = 4096;

// Numbers as ECMAScript prints them: "1", "0.1", "1e+21", "NaN".
QString NumberText(double number);
// Objects print as objectText says ("[object MovieClip]").
QString ValueText(const Value& value, const QString& objectText = QStringLiteral("[object Object]"));
double ValueNumber(const Value& value);
bool ValueBool(const Value& value);
std::int32_t ValueInt(const Value& value);
std::uint32_t ValueUInt(const Value& value);
// ==, and === when strict.
bool ValuesEqual(const Value& a, const Value& b, bool strict);
// a < b: true, false, or nothing when either is NaN (comparisons with NaN are all false).
std::optional<bool> LessThan(const Value& a, const Value& b);
QString TypeOf(const Value& value);

} // namespace flash::avm2
