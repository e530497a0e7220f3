#pragma once
// The movie the end-to-end runs and the demo convert: coloured boxes moving over a white stage and
// a steady 1 kHz tone.

#include <QByteArray>

// Stage 550 x 400, 12 frames per second, 48 frames that loop: a red box moving right, a green box
// moving down, a blue box moving diagonally; a 1 kHz tone that plays for as long as the movie does.
QByteArray MakeDemoMovie();
