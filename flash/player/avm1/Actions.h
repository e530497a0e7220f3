#pragma once
// The ActionScript 1 and 2 interpreter for frame, button and clip-event scripts, run on the timelines
// through ActionHost. It runs what cartoons and cards use: timeline control (play, stop, goto by
// number or label, tellTarget, with), variables per timeline and text fields bound to them, the
// constant pool and registers, functions and their calls (DefineFunction 1 and 2, locals, return),
// clip properties (_x, _alpha, _visible ...), clips as objects (members, methods, event handlers
// such as onEnterFrame and onRelease), copies of clips, attachMovie, dragging, trace, arithmetic,
// comparisons, strings, bits, conversions, random numbers, getTimer; objects and arrays (literals,
// new, methods, length), prototype chains, ActionScript 2 classes (extends, super, instanceof,
// casts, interfaces), for..in, delete, typeof, and the built-in Object, Array, String, Number,
// Boolean, Math and global functions, and the Sound object; timers (setInterval, setTimeout) on the
// movie's clock, Key, Mouse, Stage, AsBroadcaster and Date; clips' geometry, depths and names, movies
// and variables loaded from files next to the movie (ClipMethods.cpp, ClipLoads.cpp,
// MovieClipLoader); clips' drawing methods, flash.geom and flash.filters (through clip.transform and
// clip.filters); flash.display.BitmapData with attachBitmap and bitmap fills (BuiltinBitmap.cpp);
// watchpoints (Object.watch) and classes of clips (Object.registerClass, on MovieClip's prototype);
// getURL and fscommand, noted and never run. Other actions (exceptions) are consumed and skipped.
// Variables belong to a timeline, as in Flash: "score" is the current timeline's, "/clip:score",
// "_root.clip.score" and "clip.score" another's; names match without regard to case.
// Damaged code is bounded: a record running past the end or a jump out of range ends the script;
// steps, stack, strings, variables, call depth, with nesting, array length, prototype chains and
// the object heap have fixed limits, and objects no script reaches are freed between scripts.

#include "flash/player/ScriptBitmap.h"
#include "flash/player/avm1/ActionValue.h"
#include "flash/player/avm1/ScriptObject.h"
#include "flash/player/avm1/Surroundings.h"
#include "flash/swf/ActionRecords.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QTransform>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace flash {

// What the interpreter needs of the timelines. Frames are zero-based.
class ActionHost {
public:
    virtual ~ActionHost() = default;
    virtual ClipRef Parent(const ClipRef& clip) = 0;
    // The sprite placed under this instance name in the clip's display list (case-insensitive).
    virtual ClipRef Child(const ClipRef& clip, const QString& name) = 0;
    virtual int CurrentFrame(const ClipRef& clip) = 0;
    virtual int FrameCount(const ClipRef& clip) = 0;
    virtual int LabelFrame(const ClipRef& clip, const QString& label) = 0; // -1 when unknown
    // Play set: plays or stops there; unset: keeps playing or stopped as it was.
    virtual void GotoFrame(const ClipRef& clip, int frame, std::optional<bool> play) = 0;
    virtual void SetPlaying(const ClipRef& clip, bool playing) = 0;
    virtual void StopSounds() = 0;
    // A sprite's placement by Flash's property numbers (see ClipProperty); nothing for the main
    // timeline and for properties a placement does not hold. A sprite whose placement a script set
    // is no longer moved or tinted by its timeline.
    virtual std::optional<double> Property(const ClipRef& clip, int property) = 0;
    virtual void SetProperty(const ClipRef& clip, int property, double value) = 0;
    // How long the movie has played, as its frames count time (getTimer).
    virtual double Milliseconds() = 0;
    // The movie's size in bytes: what preloaders wait for, all loaded from the start.
    virtual double MovieBytes() = 0;
    // The stage in pixels as the player shows the movie: its own size (Stage.width, Stage.height).
    virtual QSizeF StageSize() = 0;
    // A trace() line, as Flash Player prints it.
    virtual void Trace(const QString& line) { (void)line; }
    // A line about what a script asked for and was not done (getURL, fscommand, loads by URL).
    virtual void Note(const QString& line) { (void)line; }
    // duplicateMovieClip: a copy of a sprite under a new name at a script depth of its parent (0 is
    // the lowest), starting at its first frame; removeMovieClip takes away such copies and attached
    // sprites only.
    virtual void Duplicate(const ClipRef& clip, const QString& name, int depth) = 0;
    virtual void Remove(const ClipRef& clip) = 0;
    // attachMovie: a new instance of the sprite exported under a linkage name, inside the clip at a
    // script depth; nothing when no sprite has that name.
    virtual ClipRef Attach(const ClipRef& clip, const QString& linkage, const QString& name, int depth) = 0;
    // startDrag: the clip follows the mouse, its origin on the pointer when lockCenter, else keeping
    // its distance, inside bounds (pixels of its parent) when given; stopDrag ends it.
    virtual void StartDrag(const ClipRef& clip, bool lockCenter, const std::optional<QRectF>& bounds) = 0;
    virtual void StopDrag() = 0;
    // The edit text placed under this instance name in the clip's display list, or null.
    virtual std::shared_ptr<TextFieldState> Field(const ClipRef& clip, const QString& name) = 0;

    // Sound objects. A scope is the clip whose sounds (its own and those of the clips inside it) a
    // Sound object controls; none means every sound. Levels are percent, as scripts set them.
    struct SoundSettings {
        int volume = 100;
        int ll = 100, lr = 0, rl = 0, rr = 100;
        bool operator==(const SoundSettings&) const = default;
    };
    using SoundScope = std::optional<ClipRef>;
    // The sound exported under a linkage name, and its length in milliseconds.
    struct ExportedSound {
        std::uint16_t id = 0;
        double milliseconds = 0;
    };
    virtual std::optional<ExportedSound> FindSound(const QString& linkage) {
        (void)linkage;
        return std::nullopt;
    }
    // Starts the sound in the scope from an offset, playing it loops times; the channel that reports
    // on it (see ActionInterpreter::SoundEnded), or 0 when none does.
    virtual std::uint64_t StartSound(const SoundScope& scope, std::uint16_t id, double offsetSeconds,
                                     int loops) {
        (void)scope, (void)id, (void)offsetSeconds, (void)loops;
        return 0;
    }
    // Ends the sounds started in the scope (of sound Id only, when given).
    virtual void StopSound(const SoundScope& scope, std::optional<std::uint16_t> id) {
        (void)scope, (void)id;
    }
    // Milliseconds into the sound a channel plays; nothing once it ended.
    virtual std::optional<double> SoundPosition(std::uint64_t channel) {
        (void)channel;
        return std::nullopt;
    }
    virtual SoundSettings GetSoundSettings(const SoundScope& scope) {
        (void)scope;
        return {};
    }
    virtual void SetSoundSettings(const SoundScope& scope, const SoundSettings& settings) {
        (void)scope, (void)settings;
    }
    // Clip geometry, depths and names, for the clip methods and properties. Points and boxes are
    // twips; depths count as scripts see them, the timeline's below 0.
    // The map from the clip's coordinates to the stage's; nothing when it is not on stage.
    virtual std::optional<QTransform> StageTransform(const ClipRef& clip) = 0;
    // The box around what the clip shows, mapped from its coordinates by clipToSpace; nothing when
    // it shows nothing.
    virtual std::optional<QRectF> ContentBounds(const ClipRef& clip, const QTransform& clipToSpace) = 0;
    // Whether a stage point falls on the fills of the clip's shapes.
    virtual bool HitsShape(const ClipRef& clip, QPointF stagePoint) = 0;
    virtual QPointF MousePosition() = 0; // on the stage
    virtual std::optional<int> Depth(const ClipRef& clip) = 0;
    virtual ClipRef AtDepth(const ClipRef& owner, int depth) = 0;
    // One above the highest script depth in use in the clip, 0 when none is.
    virtual int NextHighestDepth(const ClipRef& owner) = 0;
    // Moves the clip to a depth of its parent, trading places with what is there.
    virtual void SwapDepths(const ClipRef& clip, int depth) = 0;
    // createEmptyMovieClip: a new sprite with one empty frame inside the clip at a script depth.
    virtual ClipRef CreateEmpty(const ClipRef& owner, const QString& name, int depth) = 0;
    virtual QString Name(const ClipRef& clip) = 0; // the instance name; "" for the main timeline
    virtual void Rename(const ClipRef& clip, const QString& name) = 0;
    // The clip under the mouse beneath a clip being dragged (its _droptarget); empty when none.
    virtual ClipRef DropTarget(const ClipRef& dragged) = 0;

    // Movies and variables loaded from files next to the played movie: a request the player answers
    // at the next frame, by its number (0: refused, too many wait). A level above 0 is a movie drawn
    // over the main one; level -1 loads into the target clip.
    enum class LoadKind { Movie, Unload, Variables };
    virtual int RequestLoad(LoadKind kind, const ClipRef& target, int level, const QString& address) = 0;
    virtual ClipRef Level(int level) = 0;                        // empty when nothing is loaded there
    virtual std::optional<int> LevelOf(const ClipRef& clip) = 0; // the level a clip is the root of
    virtual QString MovieUrl() = 0;                              // the played movie's address
    // The drawing scripts make in a clip (moveTo, lineTo ...), made on first use; null when the clip
    // cannot have one. Each call counts as a change: what is drawn shows once the scripts have run.
    virtual Drawing* DrawingOf(const ClipRef& clip) {
        (void)clip;
        return nullptr;
    }
    // Where a sprite is placed, for what scripts set on it directly (transform, filters, blendMode);
    // null for the main timeline and for clips not on stage.
    virtual DisplayObject* PlacementOf(const ClipRef& clip) {
        (void)clip;
        return nullptr;
    }
    // createTextField: a new, empty edit text (its box in pixels of the clip) at a script depth of the
    // clip, in place of what is there; null when it cannot be placed.
    virtual std::shared_ptr<TextFieldState> CreateField(const ClipRef& /*clip*/, const QString& /*name*/,
                                                        int /*depth*/, const QRectF& /*box*/) {
        return {};
    }
    // The placement showing a field, null when it has left the stage; removeTextField takes away one a
    // script made.
    virtual DisplayObject* FieldPlacement(const TextFieldState& /*field*/) { return nullptr; }
    virtual void RemoveField(const TextFieldState& /*field*/) {}
    // The movie played, for its fonts; null when there is none.
    virtual const Movie* PlayedMovie() { return nullptr; }
    // A script gave a field a variable to show.
    virtual void FieldBound() {}
    // Bitmaps of scripts (BuiltinBitmap.cpp): the image of the bitmap exported under a linkage name,
    // null when there is none; attachBitmap's placement of a bitmap at a script depth of the clip, in
    // place of what is there, false when it cannot be placed.
    virtual QImage ExportedBitmap(const QString& /*linkage*/) { return {}; }
    virtual bool AttachBitmap(const ClipRef& /*clip*/, std::shared_ptr<const ShownBitmap> /*shown*/,
                              int /*depth*/) {
        return false;
    }
};

// Flash's property numbers (GetProperty, SetProperty) of the properties scripts can reach.
enum ClipProperty : int {
    PropertyX = 0,      // pixels
    PropertyY = 1,      // pixels
    PropertyXScale = 2, // percent
    PropertyYScale = 3, // percent
    PropertyCurrentFrame = 4,
    PropertyTotalFrames = 5,
    PropertyAlpha = 6,     // percent
    PropertyVisible = 7,   // 0 or 1
    PropertyRotation = 10, // degrees
    PropertyFramesLoaded = 12,
    // Properties the clip's content, names and the mouse give (ClipMethods.cpp).
    PropertyWidth = 8,   // pixels
    PropertyHeight = 9,  // pixels
    PropertyTarget = 11, // slash path
    PropertyName = 13,
    PropertyDropTarget = 14, // slash path
    PropertyUrl = 15,
    PropertyXMouse = 20, // pixels, in the clip's coordinates
    PropertyYMouse = 21,
};

class ActionInterpreter {
public:
    static constexpr long long StepsPerFrame = 100000;
    static constexpr std::size_t MaxStack = 1024;
    static constexpr qsizetype MaxString = 4096;
    static constexpr std::size_t MaxVariables = 1024;
    static constexpr int MaxCallDepth = 64;
    static constexpr std::size_t MaxWithDepth = 16;
    // Arrays longer than any cartoon's tables; a longer length is cut to this.
    static constexpr std::size_t MaxArrayLength = std::size_t(1) << 17;
    // Prototype chains deeper than any class hierarchy; lookups stop there, so a loop ends.
    static constexpr int MaxProtoDepth = 64;
    // Built-ins that go over many elements (sort, join, concat ...) pay a step for this many.
    static constexpr std::size_t ElementsPerStep = 16;

    explicit ActionInterpreter(ActionHost& host);

    // Runs code with self as its timeline; every action taken counts against budget, and the
    // script stops when it runs out.
    void Run(const QByteArray& code, const ClipRef& self, long long& budget, int swfVersion);

    // Resolves a target path ("/a/b", "_root.a", "a", "..", "_parent") from base.
    ClipRef Resolve(const ClipRef& base, const QString& path);

    // A variable by its name or path from base, as a text field bound to it reads it; undefined
    // (monostate) when not set.
    ActionValue Variable(const ClipRef& base, const QString& path);
    void SetVariable(const ClipRef& base, const QString& path, ActionValue value);

    // Event handlers kept in clips' variables (clip.onEnterFrame = function ...): whether any was
    // ever set, whether a clip has one by that name, and a call of it with the clip as `this`.
    bool HasHandlers() const { return hasHandlers; }
    bool HasHandler(const ClipRef& clip, const QString& name);
    void CallHandler(const ClipRef& clip, const QString& name, long long& budget);

    // For the built-in objects (their own files): the object model as scripts see it.
    ObjectHeap& Heap() { return heap; }
    ActionHost& Host() { return host; }
    struct Prototypes {
        ScriptObject *object = nullptr, *function = nullptr, *array = nullptr, *string = nullptr,
                     *number = nullptr, *boolean = nullptr;
        ScriptObject *textField = nullptr, *textFormat = nullptr;
        ScriptObject* movieClip = nullptr; // every clip's __proto__ unless a class or a script set one
    };
    const Prototypes& Protos() const { return protos; }
    Prototypes& Protos() { return protos; }
    ScriptObject* Global() const { return global; }
    // A new plain object or array; null when the heap is full.
    ScriptObject* NewObject();
    ScriptObject* NewArray(std::vector<ActionValue> elements = {});
    // A built-in function, with its prototype when it is a constructor.
    ScriptObject* NewNative(NativeFunction native, ScriptObject* prototype = nullptr);
    // Reads a member of any value, through the prototype chain; owner receives the object it was
    // found on.
    ActionValue GetMember(const ActionValue& object, const QString& name, ScriptObject** owner = nullptr);
    void SetMember(const ActionValue& object, const QString& name, ActionValue value);
    // Sets an own property without its setters (length, __proto__): for built-ins setting up.
    void Define(ScriptObject* object, const QString& name, ActionValue value, std::uint8_t flags = DontEnum);
    // A property whose reads call get and whose writes call set (none: writes are ignored), with the
    // object read as this; for built-ins whose values live elsewhere (a clip's transform).
    void DefineAccessor(ScriptObject* object, const QString& name, NativeFunction get, NativeFunction set);
    // The same with functions of any kind (addProperty), get and set as given; false when the heap is
    // full.
    bool DefineAccessor(ScriptObject* object, const QString& name, ActionValue get, ActionValue set,
                        std::uint8_t flags);
    bool Delete(const ActionValue& object, const QString& name);
    // Object.watch and unwatch (BuiltinWatch.cpp): a watchpoint per property, a new one replacing the
    // old; none on a getter/setter property. At most MaxWatchpoints on one object, more than any
    // script watches; a callback that writes a watched property calls again, within MaxCallDepth.
    static constexpr std::size_t MaxWatchpoints = 256;
    bool Watch(ScriptObject& object, const QString& name, const ActionValue& callback,
               const ActionValue& userData);
    bool Unwatch(ScriptObject& object, const QString& name);
    // Resizes an array, within MaxArrayLength and the heap; false when refused.
    bool Resize(ScriptObject& array, std::size_t length);
    // Calls a function value with this; undefined when it is not one or a limit is reached.
    ActionValue CallValue(const ActionValue& function, const ActionValue& self,
                          const std::vector<ActionValue>& args, ScriptObject* home = nullptr);
    // new function(args): an object made by its prototype and constructor.
    ActionValue Construct(const ActionValue& function, const std::vector<ActionValue>& args);
    // Conversions that run a script's own toString and valueOf.
    QString Text(const ActionValue& value);
    double Number(const ActionValue& value);
    ActionValue Primitive(const ActionValue& value);
    // o instanceof constructor, with the interfaces classes implement.
    bool InstanceOf(const ActionValue& object, const ActionValue& constructor);
    // Pays for work over count elements from the running script's budget; false when it is spent.
    bool PayFor(std::size_t count);
    int RunningVersion() const { return runningVersion; }

    // Loading movies and variables next to the played movie (ClipLoads.cpp). A request goes to the
    // host, its target a level number, a clip, or a path from base; a MovieClipLoader given with it
    // hears of it when the player calls LoadEvent, until LoadFinished. At most MaxLoadWatches
    // loaders wait, and the bytes of as many loaded clips are kept.
    static constexpr std::size_t MaxLoadWatches = 64;
    int RequestLoad(ActionHost::LoadKind kind, const ActionValue& target, const QString& address,
                    ScriptObject* loader = nullptr, const ClipRef& base = ClipRef::Root());
    void LoadEvent(int request, const QString& event, const std::vector<ActionValue>& args,
                   long long& budget);
    void LoadFinished(int request);
    void Loaded(const ClipRef& clip, double bytes);
    // A loaded clip's bytes as getProgress tells them; 0 for a clip nothing was loaded into.
    double LoadedBytes(const ClipRef& clip) const;
    // A clip whose content is replaced starts without the variables and handlers scripts gave it.
    void ForgetVariables(const ClipRef& clip);
    // _levelN: N, for the names of levels.
    static std::optional<int> LevelIndex(const QString& name);
    std::mt19937& Randoms() { return randomNumbers; }
    // The bytes the movie's BitmapData objects hold, within ScriptBitmap::MaxBytes.
    const std::shared_ptr<BitmapLedger>& BitmapBytes() const { return bitmapBytes; }

    // Sound objects whose sound plays, by channel: kept from the collector until the channel ends.
    // More than MaxSoundChannels (far past the mix's own voices) lets go of the oldest.
    static constexpr std::size_t MaxSoundChannels = 1024;
    std::map<std::uint64_t, ScriptObject*>& SoundChannels() { return soundChannels; }
    // A channel ended at a position: its Sound object keeps the position and, when the sound played
    // to its end, runs its onSoundComplete.
    void SoundEnded(std::uint64_t channel, double positionMs, bool completed, long long& budget);
    // The keyboard, timers, stage settings and input broadcasters, and the host they come from.
    Surroundings& World() { return world; }
    const Surroundings& World() const { return world; }
    // Input from the player: calls the method named message (onKeyDown ...) of every listener of a
    // broadcaster (Key, Mouse, Stage), as AsBroadcaster does, with the budget of a script.
    void Broadcast(ScriptObject* broadcaster, const QString& message, long long& budget);
    // Within a script: the same, on the running script's budget.
    void BroadcastNow(ScriptObject* broadcaster, const QString& message,
                      const std::vector<ActionValue>& args);
    // Calls the timers due by the movie's clock now, each as often as it fell due since it last ran.
    void RunTimers(long long& budget);
    bool HasTimers() const { return !world.timers.empty(); }

    // Object.registerClass (BuiltinClasses.cpp): the class of the clips of a linkage name (matched
    // without regard to case); null removes it. At most MaxRegisteredClasses, one per exported
    // symbol of any movie; false past them.
    static constexpr std::size_t MaxRegisteredClasses = 1024;
    bool RegisterClass(const QString& linkage, ScriptObject* constructor);
    ScriptObject* RegisteredClass(const QString& linkage) const;
    bool HasRegisteredClasses() const { return !registeredClasses.empty(); }
    // Makes a clip an instance of a class: its __proto__ becomes the class's prototype, then the
    // constructor runs with the clip as this, on the budget given (null: the running script's).
    void ConstructClip(const ClipRef& clip, ScriptObject* constructor, long long* budget);

private:
    struct Activation;
    void Execute(Activation& act);
    void ExecuteRecords(Activation& act);
    // Runs one record: the switch over the action codes, each action to its function below.
    void Step(Activation& act, const ActionRecord& record);
    ActionValue Call(ScriptObject& function, const ActionValue& self, const std::vector<ActionValue>& args,
                     ScriptObject* home);
    // Sets up the global object and the built-ins' prototypes.
    void SetUpBuiltins();
    // Frees the objects no root reaches, when enough were made; only between scripts.
    void CollectGarbage();

    // The stack, bounded: a push past MaxStack is dropped, a pop of an empty stack gives undefined.
    void Push(Activation& act, ActionValue value);
    ActionValue Pop(Activation& act);
    // A count and that many values, as function and method calls pass their arguments.
    std::vector<ActionValue> PopArguments(Activation& act);
    static ActionValue Bounded(QString text);
    // A value as arithmetic takes it: undefined counts as 0 in movies before version 7.
    double ArithmeticNumber(const ActionValue& value);

    // Timeline control and jumps.
    void MoveFrame(const ClipRef& clip, int delta); // nextFrame (+1) and prevFrame (-1)
    void SetPlaying(const ClipRef& clip, bool playing);
    void GotoFrame(Activation& act, const ActionRecord& record);
    void GotoLabel(Activation& act, const ActionRecord& record);
    void GotoFrame2(Activation& act, const ActionRecord& record);
    void GotoValue(Activation& act, const ClipRef& clip, const ActionValue& frame, bool play, int bias);
    void SetTarget(Activation& act, const ActionRecord& record);
    void SetTarget2(Activation& act);
    void SetTargetPath(Activation& act, const QString& path); // empty: back home
    void Branch(Activation& act, const ActionRecord& record); // Jump, and If on a popped condition
    void With(Activation& act, const ActionRecord& record);

    // Pushes, the constant pool, registers and variables.
    void PushValues(Activation& act, QByteArrayView payload);
    void ConstantPool(Activation& act, const ActionRecord& record);
    void PushDuplicate(Activation& act);
    void StackSwap(Activation& act);
    void StoreRegister(Activation& act, const ActionRecord& record);
    void GetVariable(Activation& act);
    void StoreVariable(Activation& act, bool local); // SetVariable, and DefineLocal when local
    void DeclareLocal(Activation& act);              // DefineLocal2
    ActionValue Lookup(Activation& act, const QString& name);
    ActionValue SuperOf(Activation& act);
    ActionValue ArgumentsOf(Activation& act);

    // Operators, each family on one body.
    void Arithmetic(Activation& act, action::Code code); // Add, Subtract, Multiply, Divide, Modulo
    void Compare(Activation& act, action::Code code);    // Less, Less2, Greater
    void Equality(Activation& act, bool typed);          // Equals, and Equals2 when typed
    bool LooselyEqual(const ActionValue& a, const ActionValue& b, int depth);
    void StrictEquals(Activation& act);
    void Logical(Activation& act, bool both); // And when both, else Or
    void Not(Activation& act);
    void Add2(Activation& act);
    void StringAdd(Activation& act);
    void StringCompare(Activation& act, action::Code code); // StringEquals, StringLess, StringGreater
    void StringLength(Activation& act);                     // and its multibyte form
    void StringExtract(Activation& act);                    // and its multibyte form
    void CharToAscii(Activation& act);                      // and its multibyte form
    void AsciiToChar(Activation& act);                      // and its multibyte form
    void Increment(Activation& act, double by);             // Increment, Decrement
    void BitOperator(Activation& act, action::Code code);   // the six bit operators
    void ToInteger(Activation& act);
    void ToNumber(Activation& act);
    void ToString(Activation& act);
    void TypeOf(Activation& act);
    void RandomNumber(Activation& act);
    void GetTime(Activation& act);

    // Objects, arrays and classes.
    void NewObjectAction(Activation& act); // new Name(args)
    void NewMethod(Activation& act);       // new object.name(args)
    void InitArray(Activation& act);
    void InitObject(Activation& act);
    void Extends(Activation& act);
    void InstanceOfAction(Activation& act);
    void CastOp(Activation& act);
    void ImplementsOp(Activation& act);
    void Enumerate(Activation& act, bool byValue); // Enumerate (by name), Enumerate2
    void DeleteMember(Activation& act);            // Delete
    void DeleteVariable(Activation& act);          // Delete2
    // The names for..in visits in an object, most recently added first.
    std::vector<QString> EnumerableNames(const ActionValue& object);
    ActionValue ObjectMember(ScriptObject& object, const QString& name, ScriptObject** owner);
    void SetObjectMember(ScriptObject& object, const QString& name, ActionValue value);
    ScriptObject* PrototypeOf(ScriptObject& function);
    // The accessor that a write of the name on the object meets on its chain, or null.
    ScriptObject* AccessorFor(ScriptObject& object, const QString& name);

    // Clips as objects, functions and calls.
    void GetProperty(Activation& act);
    void SetProperty(Activation& act);
    void GetMemberAction(Activation& act);
    void SetMemberAction(Activation& act);
    void CallMethod(Activation& act);
    void CallFunction(Activation& act);
    void DefineFunction(Activation& act, const ActionRecord& record); // both forms
    void Return(Activation& act);
    void Trace(Activation& act);
    void CloneSprite(Activation& act);
    void RemoveSprite(Activation& act);
    void StartDrag(Activation& act);
    // getURL and fscommand (noted, never run) and loads into levels and clips (ActionUrls.cpp).
    void GetUrl(Activation& act, const ActionRecord& record);
    void GetUrl2(Activation& act, const ActionRecord& record);
    // One such request, with GetURL2's flags (0 for getURL into a window); a target path counts
    // from base.
    void RequestUrl(const QString& url, const QString& target, std::uint8_t flags, const ClipRef& base);
    // A clip's own method (play, gotoAndStop, duplicateMovieClip ...) and what it returns.
    ActionValue CallClipMethod(Activation& act, const ClipRef& clip, const QString& name,
                               const std::vector<ActionValue>& args);
    void Duplicate(const ClipRef& clip, const ActionValue& name, const ActionValue& depth);
    // Bounds from four values (left, top, right, bottom), or nothing when one is not a number.
    static std::optional<QRectF> DragBounds(const ActionValue& left, const ActionValue& top,
                                            const ActionValue& right, const ActionValue& bottom);
    ActionValue Member(const ClipRef& clip, const QString& name, ScriptObject** owner = nullptr);
    // A clip's __proto__ and what its chain holds under a name (a class's methods and handlers).
    ScriptObject* ClipPrototype(const ClipRef& clip);
    void SetClipPrototype(const ClipRef& clip, ScriptObject* proto);
    ActionValue ClipChainMember(const ClipRef& clip, const QString& name, ScriptObject** owner);
    ActionValue Handler(const ClipRef& clip, const QString& name, ScriptObject** owner);
    // The value a write stores once the object's watchpoint on the name has seen it.
    ActionValue Watched(ScriptObject& object, const QString& name, ActionValue value);
    ActionValue ChainMember(ScriptObject* start, const QString& name, const ActionValue& self,
                            ScriptObject** owner);
    // Clip methods and properties on the clip's content, depths, names and loading (ClipMethods.cpp,
    // ClipLoads.cpp): a result when the name is one of them.
    std::optional<ActionValue> ClipMethod(const ClipRef& clip, const QString& method,
                                          const std::vector<ActionValue>& args);
    std::optional<ActionValue> ClipLoadMethod(const ClipRef& clip, const QString& method,
                                              const std::vector<ActionValue>& args);
    std::optional<ActionValue> ClipGeometryProperty(const ClipRef& clip, int property);
    bool SetClipGeometryProperty(const ClipRef& clip, int property, const ActionValue& value);
    QString TargetPath(const ClipRef& clip);
    // A text field's properties (BuiltinTextField.cpp), then TextField.prototype's members.
    ActionValue FieldMember(const TextFieldRef& field, const QString& name, ScriptObject** owner);
    void SetFieldMember(const TextFieldRef& field, const QString& name, const ActionValue& value);
    ActionValue GetClipProperty(const ClipRef& clip, int property);
    void SetClipProperty(const ClipRef& clip, int property, const ActionValue& value);
    // The variables of a clip: null when it has none (or has left the stage) and create is unset.
    PropertyMap* VariablesOf(const ClipRef& clip, bool create);
    // The clip a variable path names and the variable's own name.
    std::pair<ClipRef, QString> SplitVariablePath(const ClipRef& base, const QString& path);
    bool RemoveVariable(const ClipRef& clip, const QString& name);

    struct ClipVariables {
        ClipRef clip; // an entry whose sprite has gone is stale and reused
        PropertyMap values;
        ScriptObject* proto = nullptr; // set by a class or a script; null: MovieClip.prototype
    };
    ClipVariables* EntryOf(const ClipRef& clip, bool create);
    void DropGoneClips(); // forgets the variables of clips that have left the stage
    ActionHost& host;
    std::map<const void*, ClipVariables> variables; // by sprite, null for the main timeline
    std::size_t variableCount = 0;
    ActionValue registers[4];    // shared by scripts and DefineFunction's functions
    long long* budget = nullptr; // of the script running, for the functions it calls
    int callDepth = 0;
    int running = 0; // scripts and handlers running, nested; the heap is collected at 0
    bool hasHandlers = false;
    bool hasAccessors = false;          // writes look for accessors only once one was defined
    int runningVersion = 0;             // of the code running now
    std::mt19937 randomNumbers{0x5EED}; // the same sequence every run: conversions repeat
    struct LoadWatch {
        int request = 0;
        ScriptObject* loader = nullptr; // a root while it waits
    };
    std::vector<LoadWatch> loadWatches;
    std::vector<std::pair<ClipRef, double>> loadedBytes; // the latest MaxLoadWatches loads
    ObjectHeap heap;
    ScriptObject* global = nullptr;
    Prototypes protos;
    std::map<std::uint64_t, ScriptObject*> soundChannels;
    std::shared_ptr<BitmapLedger> bitmapBytes = std::make_shared<BitmapLedger>();
    std::map<QString, ScriptObject*> registeredClasses; // by linkage name in lower case
    Surroundings world;
};

} // namespace flash
