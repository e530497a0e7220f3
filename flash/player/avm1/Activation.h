#pragma once
// The interpreter's call record: the code one script or function call runs, where it is, its stack,
// and what its names resolve against. Private to the interpreter's own files.

#include "flash/player/avm1/Actions.h"

#include <map>
#include <memory>
#include <vector>

namespace flash {

struct ActionInterpreter::Activation {
    Activation(const QByteArray& code, std::size_t begin, std::size_t end, ActionValue self,
               const ClipRef& timeline, int version)
        : code(code), pc(begin), begin(begin), end(end), self(std::move(self)), target(timeline),
          home(timeline), version(version) {}

    const QByteArray& code;
    std::size_t pc = 0;
    std::size_t begin = 0, end = 0; // the code this call runs; a jump out of it ends the call
    ActionValue self;               // what "this" is: a clip, or an object in a method
    ClipRef target;                 // the timeline that timeline control and variables act on
    ClipRef home;                   // where SetTarget with no path goes back to
    std::vector<ActionValue> stack;
    std::shared_ptr<const std::vector<QString>> constants;
    int version = 0;
    bool done = false;
    std::map<QString, ActionValue>* locals = nullptr; // in a function: its local variables
    ActionValue* registers = nullptr;
    std::size_t registerCount = 0;
    ActionValue result; // what Return gave
    // In a function: the prototype it was found on (where super looks), and its arguments.
    ScriptObject* methodHome = nullptr;
    const std::vector<ActionValue>* args = nullptr;
    struct WithBlock {
        std::size_t begin, end; // the block, in code offsets
        ClipRef outer;          // the target before it
    };
    std::vector<WithBlock> withBlocks; // innermost last
};

} // namespace flash
