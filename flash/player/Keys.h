#pragma once
// Keys as Flash Player names them to scripts: the key code (Key.getCode, Key.LEFT = 37, 'A' = 65, as a
// US keyboard's keys are numbered) and the character typed (Key.getAscii), made from a Qt key or a
// key's name; and the code a button's key condition waits for, made from those two.
// Nothing fails: a key Flash has no code for gives code 0, which the player ignores.

#include <QString>

namespace flash {

struct KeyStroke {
    int code = 0;  // Flash's key code, 0 for none
    int ascii = 0; // the character typed, 0 for none
    bool operator==(const KeyStroke&) const = default;
};

// A Qt key with the text it typed; keypad marks a key of the number pad (its digits have codes of
// their own). With no Qt key, the first character of text names the key.
KeyStroke KeyFromQt(int qtKey, const QString& text, bool keypad = false);

// A key by a name as a user writes it: one character ("a", "5", "?"), or a key's name in English
// ("space", "left", "enter", "escape", "f1" ...), regardless of case. Code 0 when unknown.
KeyStroke KeyByName(const QString& name);

// The code a DefineButton2 key condition (bits 9..15) uses for the key: 1..19 for the named keys,
// else the printable ASCII character typed; 0 when no condition can name the key.
int ButtonCodeOf(const KeyStroke& key);
// A key that gives that button code (the inverse of ButtonCodeOf); code 0 for none.
KeyStroke KeyOfButtonCode(int buttonCode);

} // namespace flash
