#pragma once
// Buttons: reading DefineButton and DefineButton2 into the model, and hit testing a button's hit
// area. The timeline (Player) keeps each button's state and runs its actions.

#include "flash/BitReader.h"
#include "flash/SwfModel.h"

#include <QPainterPath>
#include <QPointF>
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
    // Whether the model has room for one more element of the given size (the reader's memory limit).
    std::function<bool(std::size_t elementSize)> room;
};

// The body after the character id; nothing when the records are damaged. Actions past damaged
// condition records are left out.
std::optional<Button> ReadButton(int version, BitReader& r, const ButtonFieldReaders& readers);

// Fill outlines of shapes by character, kept across hit tests.
using HitAreaCache = std::unordered_map<const Character*, QPainterPath>;

// Whether point (twips, in the button's own coordinates) lies in the button's hit area: the fill
// areas of the characters of its hit-test state.
bool ButtonHit(const Button& button, const Movie& movie, QPointF point, HitAreaCache& cache);

} // namespace flash
