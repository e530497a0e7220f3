#pragma once
// Included by flash/SwfModel.h, whose types it uses; include that header, not this one.
// Embedded video: a DefineVideoStream character and its frames (VideoFrame tags).

namespace flash {

struct VideoStream {};

} // namespace flash
