#pragma once
// Runs ActionScript 3 method bodies: the instructions that timeline scripts and the constructors
// registering them use (locals, scopes, constants, property get, set and call, branches,
// comparisons, arithmetic, conversions, returns). What objects hold and what the player's own
// methods do is the ObjectHost's.
//
// Bounded and never fatal: every instruction costs a step of the caller's budget; the stack, the
// scope stack, locals and call depth have fixed limits. A method that passes one, throws, reads
// past its code, jumps outside it or uses an instruction outside the subset ends there, and so do
// the methods that called it: the script is abandoned, as Flash Player abandons one that fails.

#include "flash/player/avm2/Value.h"

#include <optional>
#include <vector>

namespace flash::avm2 {

// What the interpreter needs of the objects scripts reach.
class ObjectHost {
public:
    // A property of an object; undefined when it has none.
    virtual Value Get(const Value& object, const QString& name) = 0;
    virtual void Set(const Value& object, const QString& name, const Value& value) = 0;
    // Whether the object holds the name: the innermost scope that does is where a name is found.
    virtual bool Has(const Value& object, const QString& name) = 0;
    // super.name() and super(): looked up from the base class of instance `owner` of the file.
    virtual Value SuperMethod(const abc::AbcFile& file, int owner, const ClipRef& self,
                              const QString& name) = 0;
    virtual std::optional<MethodClosure> SuperConstructor(const abc::AbcFile& file, int owner,
                                                          const ClipRef& self) = 0;
    virtual Value CallBuiltin(const BoundBuiltin& builtin, const std::vector<Value>& args) = 0;
    // How a clip prints ("[object Main]").
    virtual QString ClipText(const ClipRef& clip) = 0;

protected:
    ~ObjectHost() = default;
};

class Interpreter {
public:
    static constexpr std::size_t MaxStack = 1024;
    static constexpr std::size_t MaxScopeDepth = 64;
    static constexpr std::uint32_t MaxLocals = 1024;
    static constexpr int MaxCallDepth = 32;
    static constexpr std::size_t MaxArguments = 256;

    explicit Interpreter(ObjectHost& host) : host(host) {}

    // Calls a method closure or builtin with these arguments; anything else does nothing. Steps
    // taken come off budget; the call ends when it runs out.
    Value Call(const Value& function, const std::vector<Value>& args, long long& budget);

private:
    struct Frame;
    Value Invoke(const Value& function, const std::vector<Value>& args);
    Value Run(const MethodClosure& closure, const std::vector<Value>& args);
    void Execute(Frame& frame);
    // One instruction; false ends the method (returned, or abandoned when `aborted` is set).
    bool Step(Frame& frame);

    void Push(Frame& frame, Value value);
    Value Pop(Frame& frame);
    std::vector<Value> PopArguments(Frame& frame, std::uint32_t count);
    // A multiname's name, popping what a runtime name takes from the stack.
    QString PopName(Frame& frame, std::uint32_t multiname);
    Value FindProperty(Frame& frame, const QString& name);
    Value Constant(const abc::AbcFile& file, const abc::ConstantValue& value) const;
    void Abort() { aborted = true; }

    ObjectHost& host;
    long long* budget = nullptr;
    int depth = 0;
    bool aborted = false;
};

} // namespace flash::avm2
