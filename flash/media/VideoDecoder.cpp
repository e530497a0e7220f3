#include "flash/media/VideoDecoder.h"

#include <cstdio>
#include <set>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace flash {

namespace {

// A damaged header may claim any picture size; larger pictures are refused by the decoder.
constexpr std::int64_t MaxPixels = 4096 * 4096;
// VP6 codes whole macroblocks; the stream's size says how much of them is the picture.
constexpr int MacroblockSide = 16;

std::optional<AVCodecID> CodecIdOf(std::uint8_t codecId) {
    switch (codecId) {
    case VideoStream::SorensonH263:
        return AV_CODEC_ID_FLV1;
    case VideoStream::ScreenVideo:
        return AV_CODEC_ID_FLASHSV;
    case VideoStream::Vp6:
        return AV_CODEC_ID_VP6F;
    case VideoStream::Vp6Alpha:
        return AV_CODEC_ID_VP6A;
    case VideoStream::ScreenVideo2:
        return AV_CODEC_ID_FLASHSV2;
    default:
        return std::nullopt;
    }
}

// Big-endian bits from a byte array; reads past the end give zeros.
class HeaderBits {
public:
    explicit HeaderBits(const QByteArray& data) : data(data) {}
    std::uint32_t Read(int bits) {
        std::uint32_t value = 0;
        for (int i = 0; i < bits; ++i, ++pos) {
            const qsizetype byte = qsizetype(pos / 8);
            const int bit = byte < data.size() ? (std::uint8_t(data[byte]) >> (7 - pos % 8)) & 1 : 0;
            value = (value << 1) | std::uint32_t(bit);
        }
        return value;
    }
    bool Past() const { return qsizetype(pos / 8) > data.size(); }

private:
    const QByteArray& data;
    std::size_t pos = 0;
};

// Sorenson H.263 picture header: start code, version, temporal reference, size, picture type (0 intra).
bool IsH263KeyFrame(const QByteArray& data) {
    HeaderBits bits(data);
    if (bits.Read(17) != 1)
        return false;
    bits.Read(5 + 8);
    const std::uint32_t size = bits.Read(3);
    if (size == 0)
        bits.Read(16);
    else if (size == 1)
        bits.Read(32);
    return !bits.Past() && bits.Read(2) == 0;
}

// Screen video: a picture on its own when every block of it carries data.
bool IsScreenKeyFrame(const QByteArray& data) {
    HeaderBits bits(data);
    const std::uint32_t blockWidth = (bits.Read(4) + 1) * 16;
    const std::uint32_t width = bits.Read(12);
    const std::uint32_t blockHeight = (bits.Read(4) + 1) * 16;
    const std::uint32_t height = bits.Read(12);
    const std::uint32_t blocks =
        ((width + blockWidth - 1) / blockWidth) * ((height + blockHeight - 1) / blockHeight);
    qsizetype pos = 4;
    for (std::uint32_t i = 0; i < blocks; ++i) {
        if (pos + 2 > data.size())
            return false;
        const int size = (std::uint8_t(data[pos]) << 8) | std::uint8_t(data[pos + 1]);
        if (size == 0)
            return false;
        pos += 2 + size;
    }
    return width > 0 && height > 0;
}

} // namespace

struct VideoDecoder::Codec {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwsContext* scaler = nullptr;

    ~Codec() {
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }
};

VideoDecoder::VideoDecoder(const VideoStream& stream) : stream(stream) {}

VideoDecoder::~VideoDecoder() = default;

bool VideoDecoder::IsKeyFrame(std::uint8_t codecId, const QByteArray& data) {
    switch (codecId) {
    case VideoStream::SorensonH263:
        return IsH263KeyFrame(data);
    case VideoStream::ScreenVideo:
        return IsScreenKeyFrame(data);
    case VideoStream::Vp6:
        // The first bit of a VP6 frame is 0 for an intra frame.
        return !data.isEmpty() && !(std::uint8_t(data[0]) & 0x80);
    case VideoStream::Vp6Alpha: // after the 24-bit offset to the alpha data
        return data.size() > 3 && !(std::uint8_t(data[3]) & 0x80);
    default:
        return false;
    }
}

bool VideoDecoder::Restart() {
    codec.reset();
    lastFrame.reset();
    image = {};
    const std::optional<AVCodecID> id = CodecIdOf(stream.codecId);
    const AVCodec* decoder = id ? avcodec_find_decoder(*id) : nullptr;
    if (!decoder) {
        std::fprintf(stderr, "flash: video codec %d cannot be decoded here; the video is not shown\n",
                     int(stream.codecId));
        unusable = true;
        return false;
    }
    auto made = std::make_unique<Codec>();
    made->context = avcodec_alloc_context3(decoder);
    made->packet = av_packet_alloc();
    made->frame = av_frame_alloc();
    if (!made->context || !made->packet || !made->frame) {
        unusable = true;
        return false;
    }
    made->context->width = stream.width;
    made->context->height = stream.height;
    made->context->max_pixels = MaxPixels;
    made->context->thread_count = 1; // a frame comes out for each frame sent
    if (avcodec_open2(made->context, decoder, nullptr) < 0) {
        unusable = true;
        return false;
    }
    codec = std::move(made);
    return true;
}

void VideoDecoder::Decode(const QByteArray& data, bool wanted) {
    if (data.isEmpty())
        return;
    AVPacket* packet = codec->packet;
    if (av_new_packet(packet, int(data.size())) < 0)
        return;
    std::copy(data.begin(), data.end(), packet->data);
    const int sent = avcodec_send_packet(codec->context, packet);
    av_packet_unref(packet);
    if (sent < 0)
        return;
    AVFrame* frame = codec->frame;
    while (avcodec_receive_frame(codec->context, frame) == 0) {
        if (wanted) {
            QImage picture = Convert();
            if (!picture.isNull())
                image = std::move(picture);
        }
        av_frame_unref(frame);
    }
}

QImage VideoDecoder::Convert() {
    const AVFrame* frame = codec->frame;
    const int width = frame->width;
    const int height = frame->height;
    if (width <= 0 || height <= 0 || std::int64_t(width) * height > MaxPixels)
        return {};
    codec->scaler = sws_getCachedContext(codec->scaler, width, height, AVPixelFormat(frame->format), width,
                                         height, AV_PIX_FMT_RGB32, SWS_POINT, nullptr, nullptr, nullptr);
    QImage out(width, height, QImage::Format_ARGB32);
    if (!codec->scaler || out.isNull())
        return {};
    std::uint8_t* planes[4] = {out.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(out.bytesPerLine()), 0, 0, 0};
    if (sws_scale(codec->scaler, frame->data, frame->linesize, 0, height, planes, strides) != height)
        return {};
    const bool vp6 = stream.codecId == VideoStream::Vp6 || stream.codecId == VideoStream::Vp6Alpha;
    if (vp6 && stream.width > 0 && stream.height > 0 && stream.width <= width && stream.height <= height &&
        width - stream.width < MacroblockSide && height - stream.height < MacroblockSide)
        out = out.copy(0, 0, stream.width, stream.height);
    return out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage VideoDecoder::FrameAt(std::uint16_t frameNumber) {
    const auto& frames = stream.frames;
    auto target = frames.upper_bound(frameNumber);
    if (unusable || target == frames.begin())
        return {};
    --target;
    if (codec && lastFrame == target->first)
        return image;
    auto start = target;
    while (start != frames.begin() && !IsKeyFrame(stream.codecId, start->second))
        --start;
    const bool continues = codec && lastFrame && *lastFrame < target->first && *lastFrame >= start->first;
    auto from = continues ? frames.upper_bound(*lastFrame) : start;
    if (!continues && !Restart())
        return {};
    for (auto next = from;; ++next) {
        Decode(next->second, next == target);
        if (next == target)
            break;
    }
    lastFrame = target->first;
    return image;
}

} // namespace flash
