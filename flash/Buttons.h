#pragma once
// Buttons: reading DefineButton, DefineButton2 and DefineButtonSound into the model, hit testing a
// button's hit area, and the key codes of key conditions. The timeline (Player) keeps each button's
// state and runs its actions.

#include "flash/BitReader.h"
#include "flash/SwfModel.h"

#include <QPainterPath>
#include <QPointF>
#include <QString>
#include <functional>
#include <optional>
#include <unordered_map>

namespace flash {

// The reader's own field readers, so that buttons read matrices and colour transforms as every other
// tag does.
struct ButtonFieldReaders {
    std::function<Matrix(BitReader&)> matrix;
    std::function<ColorTransform(BitReader&, bool withAlpha)> colorTransform;
    std::function<bool(BitReader&)> skipFilters;
    // A SOUNDINFO record; false when it is damaged or too large.
    std::function<bool(BitReader&, SoundInfo&)> soundInfo;
    // Whether the model has room for one more element of the given size (the reader's memory limit).
    std::function<bool(std::size_t elementSize)> room;
};

// The body after the character id; nothing when the records are damaged. Actions past damaged
// condition records are left out.
std::optional<Button> ReadButton(int version, BitReader& r, const ButtonFieldReaders& readers);

// DefineButtonSound's body after the button id: four sound ids, each followed by its sound info
// unless it is 0; nothing when damaged.
std::optional<std::vector<ButtonSound>> ReadButtonSounds(BitReader& r, const ButtonFieldReaders& readers);

// The sound a transition (one ButtonCondition bit) starts, or null.
const ButtonSound* SoundFor(const Button& button, std::uint16_t transition);

// The key code a DefineButton2 key condition waits for (bits 9..15 of the condition field), from a
// Qt key and the text it types; 0 for a key no condition can name.
int ButtonKeyCode(int qtKey, const QString& text);

// Fill outlines of shapes by character, kept across hit tests.
using HitAreaCache = std::unordered_map<const Character*, QPainterPath>;

// Whether point (twips, in the button's own coordinates) lies in the button's hit area: the fill
// areas of the characters of its hit-test state.
bool ButtonHit(const Button& button, const Movie& movie, QPointF point, HitAreaCache& cache);

} // namespace flash
