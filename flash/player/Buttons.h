#pragma once
// Buttons on stage: hit testing a button's hit area, the sound a transition starts, and the key codes
// of key conditions. The reader makes the buttons; the timeline (Player) keeps each button's state and
// runs its actions.

#include "flash/swf/SwfModel.h"

#include <QPainterPath>
#include <QPointF>
#include <QString>
#include <unordered_map>

namespace flash {

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
