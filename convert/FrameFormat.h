#pragma once
// The pixel format frames reach the encoder in, and the conversion of a painted frame into it.
// Every target whose codec takes yuv420p gets it from here, converted by libswscale in the thread
// that painted the frame, so the encoder converts nothing and the pipe carries 12 bits a pixel
// instead of 32. The others take the painted bytes themselves (bgra).
//
// The conversion uses the same swscale settings the ffmpeg program uses for its own (bicubic,
// BT.601, limited range), so the encoded picture is the one the encoder would have made from the
// painted bytes. It is deterministic: the same frame always gives the same bytes.
//
// Fails by returning false from Convert when swscale cannot convert the size. A converter is used
// by one thread at a time.

#include <QImage>
#include <QSize>
#include <QString>
#include <cstddef>

struct SwsContext;

namespace convert {

enum class FrameFormat { Bgra, Yuv420p };

// The encoder's name of the format (its -pix_fmt).
QString FormatName(FrameFormat format);
// Bytes of one frame, planes one after the other without padding.
qsizetype FrameBytes(FrameFormat format, QSize size);

class FrameConverter {
public:
    FrameConverter(FrameFormat format, QSize size) : format(format), size(size) {}
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // Writes `image` (opaque premultiplied ARGB32 of the converter's size) as FrameBytes bytes.
    bool Convert(const QImage& image, char* bytes);

private:
    FrameFormat format;
    QSize size;
    SwsContext* context = nullptr;
};

} // namespace convert
