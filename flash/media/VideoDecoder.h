#pragma once
// Decodes the frames of an embedded video stream with libavcodec, one after the other, as a timeline
// asks for them: a later frame continues from the last one decoded, an earlier one (or a far jump)
// starts again from the nearest key frame before it.

#include "flash/swf/SwfModel.h"

#include <QImage>
#include <memory>
#include <optional>

namespace flash {

class VideoDecoder {
public:
    // The stream must outlive the decoder.
    explicit VideoDecoder(const VideoStream& stream);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // The picture shown at a frame number: that of the last frame the stream holds at or before it,
    // premultiplied ARGB32 at its decoded size (VP6 cropped to the stream's size). Null when there is
    // none, the codec is unknown or the data cannot be decoded.
    QImage FrameAt(std::uint16_t frameNumber);
    // The frame number the decoder has reached, if any.
    std::optional<std::uint16_t> LastFrame() const { return lastFrame; }

    // Whether a frame's data starts a picture on its own, as far as its header tells.
    static bool IsKeyFrame(std::uint8_t codecId, const QByteArray& data);

private:
    struct Codec;
    bool Restart();
    void Decode(const QByteArray& data, bool wanted);
    QImage Convert();

    const VideoStream& stream;
    std::unique_ptr<Codec> codec;
    bool unusable = false;
    std::optional<std::uint16_t> lastFrame; // the last frame sent to the decoder
    QImage image;                           // the picture it gave
};

} // namespace flash
