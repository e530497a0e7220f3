#pragma once
// The values scripts hold: undefined, null, booleans, numbers, strings, clips, edit texts and script
// objects (objects, arrays, functions), and their conversions as Flash Player makes them without
// running script code (a script's own toString is the interpreter's business).
// Conversions never fail: what is not a number is NaN, what has no text is "". An array's text is
// cut at a few levels of nesting and at the interpreter's string limit, so a cycle ends.

#include "flash/player/DisplayList.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <variant>

namespace flash {

// A timeline a script acts on: the main timeline or a sprite on stage; or a button instance, which
// keeps variables and event handlers (onRelease) but has no timeline. Empty when a path led nowhere
// or what it named has left the stage; control of an empty target does nothing.
struct ClipRef {
    bool root = false;
    std::weak_ptr<SpriteInstance> sprite;
    std::weak_ptr<ButtonInstance> button;
    static ClipRef Root() { return {true, {}, {}}; }
    static ClipRef Of(std::weak_ptr<SpriteInstance> sprite) { return {false, std::move(sprite), {}}; }
    static ClipRef Of(std::weak_ptr<ButtonInstance> button) { return {false, {}, std::move(button)}; }
    bool Valid() const { return root || !sprite.expired() || !button.expired(); }
    bool operator==(const ClipRef& other) const;
};

// An edit text a script reached by its instance name; empty when it has left the stage.
struct TextFieldRef {
    std::weak_ptr<TextFieldState> field;
    bool operator==(const TextFieldRef& other) const {
        return !field.owner_before(other.field) && !other.field.owner_before(field);
    }
};

// Objects, arrays and functions live in the interpreter's heap, which frees them; a value only
// points at one.
struct ScriptObject;
using ActionValue =
    std::variant<std::monostate, std::nullptr_t, bool, double, QString, ClipRef, ScriptObject*, TextFieldRef>;

// A number as Flash Player prints it: 15 significant digits, the exponent form from 1e+15 up and
// below 1e-4 ("1e-05"), "NaN", "Infinity", "-Infinity", and 0 for -0.
QString NumberText(double number);
// A value as a script would show it in a text field ("5", "0.25", "true", "" for undefined).
QString ActionText(const ActionValue& value);
// A value as trace() prints it: as ActionText, but undefined is "undefined".
QString TraceText(const ActionValue& value);
// A value as a number (NaN when it is none) and as a condition, as scripts convert them.
double ActionNumber(const ActionValue& value);
bool ActionBool(const ActionValue& value);
// A number as a 32-bit integer, wrapping as Flash's bit operators and frame numbers do (0 for NaN).
std::int32_t ActionInt32(double number);

} // namespace flash
