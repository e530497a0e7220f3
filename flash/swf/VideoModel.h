#pragma once
// Included by flash/SwfModel.h, whose types it uses; include that header, not this one.
// Embedded video: a DefineVideoStream character and its frames (VideoFrame tags).

#include <QByteArray>
#include <cstdint>
#include <map>

namespace flash {

struct VideoStream {
    // Codec ids as the file stores them.
    enum Codec : std::uint8_t { SorensonH263 = 2, ScreenVideo = 3, Vp6 = 4, Vp6Alpha = 5, ScreenVideo2 = 6 };
    std::uint16_t numFrames = 0;
    std::uint16_t width = 0, height = 0; // pixels
    std::uint8_t deblocking = 0;
    bool smoothing = false;
    std::uint8_t codecId = 0;
    std::map<std::uint16_t, QByteArray> frames; // VideoData by frame number
    bool operator==(const VideoStream&) const = default;
};

} // namespace flash
