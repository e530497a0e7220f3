#pragma once
// Finds sprites that place themselves, directly or through other sprites (sprite 2 places sprite 3,
// which places sprite 2). Flash Player skips such a placement; the player here does too, and the
// reader says so once per sprite that starts a cycle.
//
// Limits: the walk visits each sprite once, so its cost grows with the placements in the movie.

#include "flash/swf/SwfModel.h"

#include <QStringList>

namespace flash {

// One line per sprite through which a cycle closes, in the reader's warning style.
QStringList SpriteCycleWarnings(const Movie& movie);

} // namespace flash
