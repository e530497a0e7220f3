// Frames converted for the encoder here are the frames the ffmpeg program makes of the painted bytes,
// so converting before the pipe changes nothing in the output.
#include "convert/FrameFormat.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

// Sharp edges, smooth ramps and odd colours, so that chroma filtering and rounding both show.
QImage Pattern(QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y,
                           (x / 7 + y / 5) % 3 == 0
                               ? qRgb((x * 7 + y * 3) & 255, (x * y) & 255, ((x ^ y) * 5) & 255)
                               : qRgb(255 - (y & 255), x & 255, 40));
    return image;
}

QByteArray FfmpegYuv420p(const QImage& image) {
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-v", "error", "-f", "rawvideo", "-pix_fmt", "bgra", "-s",
                  QStringLiteral("%1x%2").arg(image.width()).arg(image.height()), "-i", "pipe:0", "-pix_fmt",
                  "yuv420p", "-f", "rawvideo", "pipe:1"});
    ffmpeg.write(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
    ffmpeg.closeWriteChannel();
    ffmpeg.waitForFinished(60000);
    EXPECT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
    return ffmpeg.readAllStandardOutput();
}

} // namespace

TEST(FrameFormat, Yuv420pIsWhatTheEncoderMakesOfThePaintedFrame) {
    // The DVD size, and a stage size whose rows are no multiple of 16 bytes in any plane.
    for (const QSize size : {QSize(720, 576), QSize(550, 400)}) {
        SCOPED_TRACE(size.width());
        const QImage image = Pattern(size);
        QByteArray converted(convert::FrameBytes(convert::FrameFormat::Yuv420p, size), '\0');
        convert::FrameConverter converter(convert::FrameFormat::Yuv420p, size);
        ASSERT_TRUE(converter.Convert(image, converted.data()));
        EXPECT_EQ(converted.size(), size.width() * size.height() * 3 / 2);
        const QByteArray reference = FfmpegYuv420p(image);
        ASSERT_EQ(reference.size(), converted.size());
        EXPECT_TRUE(reference == converted);
        // The converter is used again for the next frame.
        const QImage flipped = image.mirrored(true, true);
        ASSERT_TRUE(converter.Convert(flipped, converted.data()));
        EXPECT_TRUE(FfmpegYuv420p(flipped) == converted);
    }
}
