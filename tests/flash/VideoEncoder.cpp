#include "VideoEncoder.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

namespace flash::writer {

namespace {

// Fills the frame with one colour, in its pixel format (YUV 4:2:0 or BGR).
void Fill(AVFrame* frame, QColor color) {
    if (frame->format == AV_PIX_FMT_BGR24) {
        for (int y = 0; y < frame->height; ++y)
            for (int x = 0; x < frame->width; ++x) {
                std::uint8_t* p = frame->data[0] + y * frame->linesize[0] + 3 * x;
                p[0] = std::uint8_t(color.blue()), p[1] = std::uint8_t(color.green()),
                p[2] = std::uint8_t(color.red());
            }
        return;
    }
    const double r = color.red(), g = color.green(), b = color.blue();
    const int luma = int(16 + 0.257 * r + 0.504 * g + 0.098 * b);
    const int cb = int(128 - 0.148 * r - 0.291 * g + 0.439 * b);
    const int cr = int(128 + 0.439 * r - 0.368 * g - 0.071 * b);
    for (int y = 0; y < frame->height; ++y)
        std::fill_n(frame->data[0] + y * frame->linesize[0], frame->width, std::uint8_t(luma));
    for (int y = 0; y < frame->height / 2; ++y) {
        std::fill_n(frame->data[1] + y * frame->linesize[1], frame->width / 2, std::uint8_t(cb));
        std::fill_n(frame->data[2] + y * frame->linesize[2], frame->width / 2, std::uint8_t(cr));
    }
}

} // namespace

std::vector<QByteArray> EncodeVideoFrames(std::uint8_t codecId, const std::vector<QColor>& colors, int width,
                                          int height) {
    const AVCodecID id = codecId == 3 ? AV_CODEC_ID_FLASHSV : AV_CODEC_ID_FLV1;
    const AVCodec* encoder = codecId == 2 || codecId == 3 ? avcodec_find_encoder(id) : nullptr;
    if (!encoder)
        return {};
    AVCodecContext* context = avcodec_alloc_context3(encoder);
    context->width = width;
    context->height = height;
    context->time_base = AVRational{1, 24};
    context->pix_fmt = id == AV_CODEC_ID_FLASHSV ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUV420P;
    context->gop_size = 100;
    context->max_b_frames = 0;
    context->bit_rate = 400000;
    av_opt_set_int(context, "sc_threshold", 1000000000, AV_OPT_SEARCH_CHILDREN); // no key frame on a cut
    std::vector<QByteArray> packets;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (avcodec_open2(context, encoder, nullptr) == 0) {
        frame->format = context->pix_fmt;
        frame->width = width;
        frame->height = height;
        av_frame_get_buffer(frame, 0);
        for (std::size_t i = 0; i < colors.size() + 1; ++i) {
            if (i < colors.size()) {
                av_frame_make_writable(frame);
                Fill(frame, colors[i]);
                frame->pts = std::int64_t(i);
            }
            avcodec_send_frame(context, i < colors.size() ? frame : nullptr);
            while (avcodec_receive_packet(context, packet) == 0) {
                packets.emplace_back(reinterpret_cast<const char*>(packet->data), packet->size);
                av_packet_unref(packet);
            }
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return packets;
}

} // namespace flash::writer
