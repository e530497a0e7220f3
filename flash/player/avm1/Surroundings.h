#pragma once
// What scripts see around the movie: the keyboard as the player last reported it, whether they hid
// the mouse pointer, the stage's settings, the timers they started (setInterval, setTimeout) and the
// objects that tell listeners of input (Key, Mouse, Stage). The interpreter owns it; every value kept
// here is a root of the heap (MarkRoots), so timers and listeners stay alive while they can run.
// Bounded: at most MaxTimers timers at once; key codes past KeyCodes are never down.

#include "flash/player/avm1/ActionValue.h"

#include <QString>
#include <bitset>
#include <vector>

namespace flash {

struct KeyboardState {
    static constexpr int KeyCodes = 256; // Flash's key codes stop at 222
    static constexpr int CapsLock = 20, NumLock = 144, ScrollLock = 145;
    std::bitset<KeyCodes> down;
    int lastCode = 0, lastAscii = 0; // of the key last pressed or released
    bool capsLock = false, numLock = false, scrollLock = false;

    void Press(int code, int ascii);
    void Release(int code, int ascii);
    bool Down(int code) const { return code > 0 && code < KeyCodes && down.test(std::size_t(code)); }
    bool Toggled(int code) const;
};

// A function a script asked to be called later, once or every interval.
struct ScriptTimer {
    int id = 0;
    double due = 0;      // the movie's milliseconds
    double interval = 0; // milliseconds
    bool repeat = false;
    ActionValue function; // with a method name: the object whose method is called
    QString method;
    std::vector<ActionValue> args;
};

struct Surroundings {
    // Far more than movies run at once; each is kept until cleared.
    static constexpr std::size_t MaxTimers = 1024;
    // Shorter intervals count as this: at most 100 calls a second per timer.
    static constexpr double MinInterval = 10;
    // Calls one timer makes in one frame, catching up when it falls behind; the rest are dropped.
    static constexpr int MaxCallsPerFrame = 100;

    KeyboardState keys;
    bool mouseShown = true;
    std::vector<ScriptTimer> timers;
    int nextTimerId = 1; // Flash Player numbers intervals and timeouts from 1, together
    ScriptObject *key = nullptr, *mouse = nullptr, *stage = nullptr;

    template <typename Mark> void MarkRoots(const Mark& mark) const {
        for (ScriptObject* object : {key, mouse, stage})
            if (object)
                mark(object);
        for (const ScriptTimer& timer : timers) {
            mark(timer.function);
            for (const ActionValue& arg : timer.args)
                mark(arg);
        }
    }
};

} // namespace flash
