#include "convert/FrameFormat.h"

#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace convert {

QString FormatName(FrameFormat format) {
    return format == FrameFormat::Yuv420p ? QStringLiteral("yuv420p") : QStringLiteral("bgra");
}

qsizetype FrameBytes(FrameFormat format, QSize size) {
    if (format == FrameFormat::Bgra)
        return qsizetype(size.width()) * size.height() * 4;
    return av_image_get_buffer_size(AV_PIX_FMT_YUV420P, size.width(), size.height(), 1);
}

FrameConverter::~FrameConverter() {
    sws_freeContext(context);
}

bool FrameConverter::Convert(const QImage& image, char* bytes) {
    if (format == FrameFormat::Bgra) {
        const qsizetype row = qsizetype(size.width()) * 4;
        for (int y = 0; y < size.height(); ++y)
            std::memcpy(bytes + row * y, image.constScanLine(y), std::size_t(row));
        return true;
    }
    // Premultiplied ARGB32 is B, G, R, A in memory; the frames are opaque, so it reads as plain bgra.
    // Bicubic is what the ffmpeg program converts with by default: the picture stays what it was
    // when the encoder converted the painted bytes itself.
    if (!context)
        context = sws_getContext(size.width(), size.height(), AV_PIX_FMT_BGRA, size.width(), size.height(),
                                 AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!context)
        return false;
    std::uint8_t* planes[4];
    int strides[4];
    if (av_image_fill_arrays(planes, strides, reinterpret_cast<std::uint8_t*>(bytes), AV_PIX_FMT_YUV420P,
                             size.width(), size.height(), 1) < 0)
        return false;
    const std::uint8_t* source[4] = {image.constBits(), nullptr, nullptr, nullptr};
    const int sourceStrides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    return sws_scale(context, source, sourceStrides, 0, size.height(), planes, strides) == size.height();
}

} // namespace convert
