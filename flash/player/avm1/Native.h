#pragma once
// A call of a built-in function, and the tables that set the built-ins up on the global object.
// Private to the interpreter's own files.

#include "flash/player/avm1/Actions.h"

#include <optional>
#include <vector>

namespace flash {

struct NativeCall {
    ActionInterpreter& vm;
    ActionValue self; // this: the object made, for a construction
    const std::vector<ActionValue>& args;
    bool constructing = false;

    const ActionValue& Arg(std::size_t index) const {
        static const ActionValue undefined;
        return index < args.size() ? args[index] : undefined;
    }
    // self as an object, or null.
    ScriptObject* SelfObject() const {
        auto* const* object = std::get_if<ScriptObject*>(&self);
        return object ? *object : nullptr;
    }
};

// A built-in method by name, for a table.
struct NativeMethod {
    const char* name;
    NativeFunction function;
};
// Puts each method on an object, hidden from for..in.
void DefineMethods(ActionInterpreter& vm, ScriptObject* object, const std::vector<NativeMethod>& methods);

// Each family of built-ins adds its constructor, prototype methods and constants to the global
// object; the prototypes themselves are made first.
void SetUpObjectBuiltins(ActionInterpreter& vm);
void SetUpArrayBuiltins(ActionInterpreter& vm);
void SetUpStringBuiltins(ActionInterpreter& vm);
void SetUpNumberBuiltins(ActionInterpreter& vm); // Number, Boolean, Math and the global functions
void SetUpSoundBuiltins(ActionInterpreter& vm);
void SetUpMovieClipLoaderBuiltins(ActionInterpreter& vm);

// _global.flash.<name>, made when first asked for; null when the heap is full.
ScriptObject* Package(ActionInterpreter& vm, const QString& name);
void SetUpGeomBuiltins(ActionInterpreter& vm);   // flash.geom
void SetUpFilterBuiltins(ActionInterpreter& vm); // flash.filters
// What a clip's effect members read (transform, filters, blendMode); none for other names. Setting one:
// whether the name was one of them.
std::optional<ActionValue> ClipEffectMember(ActionInterpreter& vm, const ClipRef& clip, const QString& name);
bool SetClipEffectMember(ActionInterpreter& vm, const ClipRef& clip, const QString& name,
                         const ActionValue& value);
// A new flash.geom.Transform of the clip.
ActionValue ClipTransform(ActionInterpreter& vm, const ClipRef& clip);

// A member as a number, or `otherwise` when it is missing or not a finite number.
double NumberMember(ActionInterpreter& vm, const ActionValue& object, const char* name, double otherwise);
// An object's a, b, c, d, tx and ty (a flash.geom.Matrix), in pixels; the identity's where missing.
Matrix MatrixMember(ActionInterpreter& vm, const ActionValue& value);

// A clip's drawing method (moveTo, lineTo, beginFill ...) by its name in lower case, and what it
// returns; none when the name is no drawing method.
std::optional<ActionValue> CallDrawingMethod(ActionInterpreter& vm, const ClipRef& clip,
                                             const QString& method, const std::vector<ActionValue>& args);
void SetUpTextBuiltins(ActionInterpreter& vm); // TextField and TextFormat

// clip.createTextField(name, depth, x, y, width, height): the field in movies from version 8 on.
ActionValue CreateTextField(ActionInterpreter& vm, const ClipRef& clip, const std::vector<ActionValue>& args);
void SetUpInputBuiltins(ActionInterpreter& vm); // AsBroadcaster, Key, Mouse, Stage
void SetUpTimerBuiltins(ActionInterpreter& vm); // setInterval, setTimeout and their clearing
void SetUpDateBuiltins(ActionInterpreter& vm);
void SetUpWatchBuiltins(ActionInterpreter& vm); // Object.prototype.watch, unwatch
void SetUpClassBuiltins(ActionInterpreter& vm); // MovieClip, Object.registerClass

// AsBroadcaster.initialize: gives an object _listeners and addListener, removeListener and
// broadcastMessage; false when the heap is full.
bool MakeBroadcaster(ActionInterpreter& vm, ScriptObject* object);

// flash.display.BitmapData, and the clip members that use bitmaps (BuiltinBitmap.cpp).
void SetUpBitmapBuiltins(ActionInterpreter& vm);
ActionValue AttachBitmap(ActionInterpreter& vm, const ClipRef& clip, const std::vector<ActionValue>& args);
void BeginBitmapFill(ActionInterpreter& vm, Drawing& drawing, const std::vector<ActionValue>& args);
ActionValue CacheAsBitmap(ActionInterpreter& vm, const ClipRef& clip);
void SetCacheAsBitmap(ActionInterpreter& vm, const ClipRef& clip, const ActionValue& value);

} // namespace flash
