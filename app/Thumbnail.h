#pragma once
// A movie's thumbnail for file managers: the first frame that draws something within the movie's
// first second, else the frame a second in (or its last frame, when shorter), scaled to fit a
// square of the asked side with the stage's aspect kept. Frames are played from the start as a
// viewer sees them, scripts included. Fails (a null image) on a stage with no area. The caller
// bounds the time (a movie's scripts and shapes are bounded by the engine, not by a clock).
#include "flash/swf/SwfModel.h"

#include <QImage>
#include <memory>

namespace thumbnail {

// The image's size for a stage of StageSize fitted into Side x Side; empty for an empty stage.
QSize FittedSize(QSize StageSize, int Side);

QImage Render(const std::shared_ptr<const flash::Movie>& Movie, int Side);

} // namespace thumbnail
