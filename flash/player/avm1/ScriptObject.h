#pragma once
// Script objects and the heap that owns them. An object has named properties (names match without
// regard to case; for..in lists them most recently added first), a prototype (__proto__), and, by
// its kind, array elements, a function body or a built-in, or a wrapped string, number or boolean.
// The heap frees what no root reaches (mark and sweep), so cycles between objects do not leak; it
// keeps a count of cells (objects, properties, elements, watchpoints, string lengths) and refuses growth past
// MaxCells until a collection makes room. Collections run only between scripts, when no value lives
// outside the roots.

#include "flash/player/avm1/ActionValue.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace flash {

// A function a script defined (DefineFunction, DefineFunction2): its body within the script, its
// parameters and the timeline it was defined on, where its timeline control acts.
struct ScriptFunction {
    QByteArray code; // the whole script, shared
    std::size_t begin = 0, end = 0;
    std::vector<QString> params;              // lower case
    std::vector<std::uint8_t> paramRegisters; // DefineFunction2: 0 passes the parameter by name
    bool hasRegisters = false;                // DefineFunction2: registers of its own
    std::uint8_t registerCount = 0;
    std::uint8_t preload = 0, preloadGlobal = 0; // DefineFunction2's preload flags, as stored
    ClipRef scope;
    std::shared_ptr<const std::vector<QString>> constants; // the pool when it was defined
    int version = 0;
};

// Property attributes, as ASSetPropFlags numbers them.
enum PropertyFlag : std::uint8_t {
    DontEnum = 1,
    DontDelete = 2,
    ReadOnly = 4,
    // Set by built-ins only: the value holds a getter and a setter (elements 0 and 1) run in its place.
    Accessor = 8,
};

// Named values in the order they were added.
class PropertyMap {
public:
    struct Entry {
        ActionValue value;
        std::uint8_t flags = 0;
        std::uint64_t order = 0; // when it was added
    };

    const ActionValue* Find(const QString& name) const;
    const Entry* FindEntry(const QString& name) const;
    // Sets a property, adding it when new; false when it is read-only. added tells a new one.
    bool Set(const QString& name, ActionValue value, bool* added = nullptr, std::uint8_t flags = 0);
    // Removes a property unless it may not be deleted; false when there was none to remove.
    bool Remove(const QString& name);
    // Sets and clears flags of one property (all when name is null); false when it is not there.
    bool ChangeFlags(const QString* name, std::uint8_t set, std::uint8_t clear);
    std::size_t Size() const { return entries.size(); }
    // The names, most recently added first; only those for..in lists when enumerable.
    std::vector<QString> Names(bool enumerable) const;
    template <typename Visit> void ForEachValue(Visit&& visit) const {
        for (const auto& [name, entry] : entries)
            visit(entry.value);
    }

private:
    struct NoCase {
        bool operator()(const QString& a, const QString& b) const {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        }
    };
    std::map<QString, Entry, NoCase> entries; // keyed by the name as first set
    std::uint64_t nextOrder = 0;
};

struct NativeCall;
// A built-in function: what it returns for a call.
using NativeFunction = ActionValue (*)(NativeCall& call);

class ActionInterpreter;
// What a built-in keeps behind one of its objects (a Sound's scope and channel), out of scripts'
// reach; it holds no script objects. It may answer members itself (a Sound's position).
struct NativeState {
    virtual ~NativeState() = default;
    virtual std::optional<ActionValue> Member(ActionInterpreter& vm, const QString& name) {
        (void)vm, (void)name;
        return std::nullopt;
    }
};

// A watchpoint (Object.watch): a write of the property calls back first, and stores what it returns.
struct Watchpoint {
    QString name;
    ActionValue callback, userData;
};

struct ScriptObject {
    enum class Kind : std::uint8_t {
        Object,
        Array,    // elements
        Function, // a script body or a built-in
        Boxed,    // new String / Number / Boolean: the value in primitive
        Super,    // super in a method: primitive is this, home the prototype the method came from
    };
    Kind kind = Kind::Object;
    ScriptObject* proto = nullptr;
    PropertyMap properties;
    std::vector<ActionValue> elements;
    std::shared_ptr<const ScriptFunction> function;
    NativeFunction native = nullptr;
    ActionValue primitive;
    ScriptObject* home = nullptr;
    std::vector<ScriptObject*> interfaces; // on a prototype: the constructors it implements
    std::unique_ptr<NativeState> state;
    std::vector<Watchpoint> watchpoints;
    bool marked = false;

    bool Callable() const { return kind == Kind::Function && (function || native); }
};

class ObjectHeap {
public:
    // About 50 MB at most of objects, properties, elements and the text in them.
    static constexpr std::size_t MaxCells = std::size_t(1) << 19;
    static constexpr std::size_t ObjectCells = 4;
    static constexpr std::size_t WatchpointCells = 3;
    // Objects made since the last collection before the next one is worth its time.
    static constexpr std::size_t CollectAfter = 4096;

    ObjectHeap() = default;
    ObjectHeap(const ObjectHeap&) = delete;
    ObjectHeap& operator=(const ObjectHeap&) = delete;

    // A new object, or null when the heap is full.
    ScriptObject* New(ScriptObject::Kind kind, ScriptObject* proto);
    // Counts the cells a stored value takes; false (and nothing counted) when the heap is full.
    bool Charge(const ActionValue& value);
    bool ChargeCells(std::size_t cells);
    void Release(std::size_t count) { cells -= std::min(count, cells); }
    static std::size_t Cells(const ActionValue& value);

    std::size_t Objects() const { return objects.size(); }
    std::size_t UsedCells() const { return cells; }
    bool CollectionDue() const { return madeSinceCollect >= std::max(CollectAfter, objects.size() / 2); }

    // Frees every object that the roots do not reach; markRoots calls mark on each root value.
    using Mark = std::function<void(const ActionValue&)>;
    void Collect(const std::function<void(const Mark&)>& markRoots);

private:
    std::vector<std::unique_ptr<ScriptObject>> objects;
    std::size_t cells = 0;
    std::size_t madeSinceCollect = 0;
};

} // namespace flash
