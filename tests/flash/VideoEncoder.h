#pragma once
// Video frames for test movies, encoded with libavcodec's own encoders.

#include <QByteArray>
#include <QColor>
#include <cstdint>
#include <vector>

namespace flash::writer {

// One frame of VideoData for each colour, each frame filled with its colour; only the first is meant
// as a key frame. codecId is the movie file's (2 Sorenson H.263, 3 screen video). Empty when
// libavcodec has no encoder for it.
std::vector<QByteArray> EncodeVideoFrames(std::uint8_t codecId, const std::vector<QColor>& colors, int width,
                                          int height);

} // namespace flash::writer
