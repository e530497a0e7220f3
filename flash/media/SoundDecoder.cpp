#include "flash/media/SoundDecoder.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace flash {
namespace {

enum CodecNumber : std::uint8_t {
    PcmNative = 0,
    Adpcm = 1,
    Mp3 = 2,
    PcmLittle = 3,
    Nellymoser16k = 4,
    Nellymoser8k = 5,
    Nellymoser = 6,
    Alaw = 7,
    Mulaw = 8,
    Aac = 10,
    Speex = 11,
};

// How a format's bytes reach libavcodec.
struct CodecChoice {
    AVCodecID id = AV_CODEC_ID_NONE;
    int rate = 0;          // 0: the bitstream says
    int channels = 0;      // 0: the bitstream says
    bool parsed = false;   // cut into frames by libavcodec's parser
    std::size_t chunk = 0; // bytes per packet; 0 sends a whole sound or block as one packet
};

std::optional<CodecChoice> Choose(const SoundFormat& format) {
    const int channels = format.stereo ? 2 : 1;
    switch (format.codec) {
    case PcmNative: // written on little-endian machines in practice
    case PcmLittle:
        return CodecChoice{format.is16Bit ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_PCM_U8, format.SampleRate(),
                           channels, false, 4096};
    case Adpcm: // its packets of 4096 samples are not byte-aligned: the decoder takes all at once
        return CodecChoice{AV_CODEC_ID_ADPCM_SWF, format.SampleRate(), channels, false, 0};
    case Mp3:
        return CodecChoice{AV_CODEC_ID_MP3, 0, 0, true, 0};
    case Nellymoser16k:
        return CodecChoice{AV_CODEC_ID_NELLYMOSER, 16000, 1, false, 64 * 16};
    case Nellymoser8k:
        return CodecChoice{AV_CODEC_ID_NELLYMOSER, 8000, 1, false, 64 * 16};
    case Nellymoser:
        return CodecChoice{AV_CODEC_ID_NELLYMOSER, format.SampleRate(), 1, false, 64 * 16};
    case Alaw: // G.711 runs at 8 kHz whatever the rate field says, as in Flash video
        return CodecChoice{AV_CODEC_ID_PCM_ALAW, 8000, channels, false, 4096};
    case Mulaw:
        return CodecChoice{AV_CODEC_ID_PCM_MULAW, 8000, channels, false, 4096};
    case Aac: // ADTS frames
        return CodecChoice{AV_CODEC_ID_AAC, 0, 0, true, 0};
    case Speex: // wideband mono, one packet per sound or block
        return CodecChoice{AV_CODEC_ID_SPEEX, 16000, 1, false, 0};
    default:
        return std::nullopt;
    }
}

// Resampler rates for a source rate: 5512 stands for 5512.5 Hz, an eighth of the mix rate.
std::pair<int, int> RatePair(int rate) {
    return rate == 5512 ? std::pair{11025, 2 * MixRate} : std::pair{rate, MixRate};
}

// Source samples at Rate as frames at the mix rate.
std::size_t MixFrames(std::uint64_t samples, int rate) {
    const auto [in, out] = RatePair(rate);
    if (in <= 0)
        return 0;
    return static_cast<std::size_t>((samples * std::uint64_t(out) + std::uint64_t(in) / 2) /
                                    std::uint64_t(in));
}

// Source samples at Rate that make at least Frames frames at the mix rate.
std::uint64_t SourceSamples(std::uint64_t frames, int rate) {
    const auto [in, out] = RatePair(rate);
    return (frames * std::uint64_t(in) + std::uint64_t(out) - 1) / std::uint64_t(out);
}

// The most ADPCM bytes Samples samples per channel can take: the widest codes, a header per packet.
std::uint64_t AdpcmBytes(std::uint64_t samples, int channels) {
    const std::uint64_t packets = samples / 4096 + 1;
    return (2 + packets * 22 * std::uint64_t(channels) + samples * std::uint64_t(channels) * 5) / 8 + 1;
}

std::size_t FramesOf(const Pcm& pcm) {
    return pcm.size() / 2;
}

// One libavcodec decoder with its parser and a resampler to the mix format.
class Decoder {
public:
    explicit Decoder(const SoundFormat& format) : codec(format.codec) {
        const std::optional<CodecChoice> chosen = Choose(format);
        if (!chosen) {
            problem = "unknown sound format";
            return;
        }
        choice = *chosen;
        const AVCodec* decoder = avcodec_find_decoder(choice.id);
        if (decoder == nullptr) {
            problem = "no decoder in this build of libavcodec";
            return;
        }
        context = avcodec_alloc_context3(decoder);
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (context == nullptr || packet == nullptr || frame == nullptr) {
            problem = "out of memory";
            Free();
            return;
        }
        if (choice.rate > 0)
            context->sample_rate = choice.rate;
        if (choice.channels > 0)
            av_channel_layout_default(&context->ch_layout, choice.channels);
        if (avcodec_open2(context, decoder, nullptr) < 0) {
            problem = "the decoder does not open";
            Free();
            return;
        }
        if (choice.parsed && (parser = av_parser_init(choice.id)) == nullptr) {
            problem = "no parser in this build of libavcodec";
            Free();
        }
    }

    ~Decoder() {
        Free();
        swr_free(&resampler);
        av_channel_layout_uninit(&inLayout);
    }

    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    bool Ready() const { return context != nullptr; }

    void WarnUnsupported(const char* what) const {
        qWarning("Vantrel: %s in format %d stays silent: %s", what, int(codec), problem);
    }

    // Decodes the next part of the sound, appending to Out until it holds Limit frames.
    void Feed(const char* data, std::size_t size, Pcm& out, std::size_t limit) {
        if (!Ready() || size == 0 || FramesOf(out) >= limit)
            return;
        if (choice.parsed) {
            // The parser reads a little past the end it is given.
            padded.assign(data, data + size);
            padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
            const std::uint8_t* in = reinterpret_cast<const std::uint8_t*>(padded.data());
            int left = static_cast<int>(std::min<std::size_t>(size, INT32_MAX / 2));
            while (left > 0 && FramesOf(out) < limit) {
                std::uint8_t* unit = nullptr;
                int unitSize = 0;
                const int used = av_parser_parse2(parser, context, &unit, &unitSize, in, left, AV_NOPTS_VALUE,
                                                  AV_NOPTS_VALUE, 0);
                if (used < 0)
                    break;
                in += used;
                left -= used;
                if (unitSize > 0)
                    Send(unit, unitSize, out, limit);
                else if (used == 0)
                    break;
            }
            return;
        }
        if (choice.id == AV_CODEC_ID_ADPCM_SWF) // one packet: only what the samples still wanted fill
            size = std::min<std::uint64_t>(
                size, AdpcmBytes(SourceSamples(limit - FramesOf(out), choice.rate) + 1, choice.channels));
        const std::size_t chunk = choice.chunk > 0 ? choice.chunk : size;
        for (std::size_t at = 0; at < size && FramesOf(out) < limit; at += chunk) {
            const std::size_t take = std::min({chunk, size - at, std::size_t{INT32_MAX / 2}});
            Send(reinterpret_cast<const std::uint8_t*>(data + at), static_cast<int>(take), out, limit);
        }
    }

    // The end of the sound: what the parser, codec and resampler still hold.
    void Drain(Pcm& out, std::size_t limit) {
        if (!Ready())
            return;
        if (parser != nullptr) {
            std::uint8_t* unit = nullptr;
            int unitSize = 0;
            av_parser_parse2(parser, context, &unit, &unitSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE,
                             0);
            if (unitSize > 0)
                Send(unit, unitSize, out, limit);
        }
        if (avcodec_send_packet(context, nullptr) >= 0)
            Receive(out, limit);
        if (resampler != nullptr && FramesOf(out) < limit) {
            const int room = swr_get_out_samples(resampler, 0);
            if (room > 0)
                Convert(nullptr, 0, room, out, limit);
        }
    }

    // Drops state carried from earlier data.
    void Reset() {
        if (!Ready())
            return;
        avcodec_flush_buffers(context);
        if (parser != nullptr) {
            av_parser_close(parser);
            parser = av_parser_init(choice.id);
            if (parser == nullptr)
                Free();
        }
        swr_free(&resampler);
        skip = 0;
    }

    // The next Samples decoded samples (per channel) are dropped.
    void Skip(int samples) { skip = std::max(samples, 0); }

    // The rate decoded sound came at, 0 before any came.
    int SourceRate() const { return inRate; }

private:
    void Free() {
        av_parser_close(parser);
        parser = nullptr;
        avcodec_free_context(&context);
        av_packet_free(&packet);
        av_frame_free(&frame);
    }

    void Send(const std::uint8_t* data, int size, Pcm& out, std::size_t limit) {
        if (av_new_packet(packet, size) < 0)
            return;
        std::memcpy(packet->data, data, std::size_t(size));
        const int sent = avcodec_send_packet(context, packet);
        av_packet_unref(packet);
        if (sent >= 0) // a packet the decoder refuses is skipped
            Receive(out, limit);
    }

    void Receive(Pcm& out, std::size_t limit) {
        while (avcodec_receive_frame(context, frame) >= 0) {
            if (FramesOf(out) < limit)
                Resample(out, limit);
            av_frame_unref(frame);
        }
    }

    // Converts the current frame, after any samples still to skip.
    void Resample(Pcm& out, std::size_t limit) {
        const auto format = static_cast<AVSampleFormat>(frame->format);
        const int channels = frame->ch_layout.nb_channels;
        if (channels <= 0 || frame->sample_rate <= 0 || frame->nb_samples <= 0 ||
            av_get_bytes_per_sample(format) <= 0)
            return;
        if (!Matches(format, frame->sample_rate) && !Open(format, frame->sample_rate))
            return;
        int offset = std::min(skip, frame->nb_samples);
        skip -= offset;
        const int count = frame->nb_samples - offset;
        if (count == 0)
            return;
        const bool planar = av_sample_fmt_is_planar(format) != 0;
        const int step = av_get_bytes_per_sample(format) * (planar ? 1 : channels);
        planes.assign(frame->extended_data, frame->extended_data + (planar ? channels : 1));
        for (const std::uint8_t*& plane : planes)
            plane += std::ptrdiff_t(offset) * step;
        const int room = swr_get_out_samples(resampler, count);
        if (room > 0)
            Convert(planes.data(), count, room, out, limit);
    }

    bool Matches(AVSampleFormat format, int rate) const {
        return resampler != nullptr && format == inFormat && rate == inRate &&
               av_channel_layout_compare(&frame->ch_layout, &inLayout) == 0;
    }

    // A resampler for the current frame's layout; mono stays mono up to Append, which copies it
    // to both sides at full level.
    bool Open(AVSampleFormat format, int rate) {
        swr_free(&resampler);
        av_channel_layout_uninit(&inLayout);
        if (av_channel_layout_check(&frame->ch_layout) && frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_copy(&inLayout, &frame->ch_layout);
        else
            av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels);
        outChannels = inLayout.nb_channels == 1 ? 1 : 2;
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, outChannels);
        const auto [in, mix] = RatePair(rate);
        if (swr_alloc_set_opts2(&resampler, &outLayout, AV_SAMPLE_FMT_S16, mix, &inLayout, format, in, 0,
                                nullptr) < 0 ||
            swr_init(resampler) < 0) {
            swr_free(&resampler);
            return false;
        }
        inFormat = format;
        inRate = rate;
        return true;
    }

    void Convert(const std::uint8_t** in, int count, int room, Pcm& out, std::size_t limit) {
        scratch.resize(std::size_t(room) * std::size_t(outChannels));
        auto* target = reinterpret_cast<std::uint8_t*>(scratch.data());
        const int got = swr_convert(resampler, &target, room, in, count);
        if (got <= 0)
            return;
        const std::size_t take = std::min(std::size_t(got), limit - FramesOf(out));
        if (outChannels == 2) {
            out.insert(out.end(), scratch.begin(), scratch.begin() + std::ptrdiff_t(take * 2));
            return;
        }
        out.reserve(out.size() + take * 2);
        for (std::size_t i = 0; i < take; ++i) {
            out.push_back(scratch[i]);
            out.push_back(scratch[i]);
        }
    }

    const std::uint8_t codec;
    const char* problem = "";
    CodecChoice choice;
    AVCodecContext* context = nullptr;
    AVCodecParserContext* parser = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwrContext* resampler = nullptr;
    AVChannelLayout inLayout{};
    AVSampleFormat inFormat = AV_SAMPLE_FMT_NONE;
    int inRate = 0;
    int outChannels = 2;
    int skip = 0;
    std::vector<char> padded;
    std::vector<const std::uint8_t*> planes;
    std::vector<std::int16_t> scratch;
};

std::int16_t ReadSi16(const QByteArray& data, int at) {
    return static_cast<std::int16_t>(std::uint8_t(data[at]) | (std::uint8_t(data[at + 1]) << 8));
}

} // namespace

bool CanDecode(const SoundFormat& format) {
    const std::optional<CodecChoice> choice = Choose(format);
    if (!choice || avcodec_find_decoder(choice->id) == nullptr)
        return false;
    if (!choice->parsed)
        return true;
    AVCodecParserContext* parser = av_parser_init(choice->id);
    av_parser_close(parser);
    return parser != nullptr;
}

Pcm DecodeSound(const Sound& sound) {
    Decoder decoder(sound.format);
    if (!decoder.Ready()) {
        decoder.WarnUnsupported("a sound");
        return {};
    }
    // Bounded work on bad data: twice the declared length (and a second) at most.
    std::size_t limit = MaxSoundFrames;
    if (sound.sampleCount > 0)
        limit = std::min(limit, MixFrames(2 * std::uint64_t(sound.sampleCount), sound.format.SampleRate()) +
                                    std::size_t{MixRate});
    Pcm out;
    const char* data = sound.data.constData();
    std::size_t size = std::size_t(sound.data.size());
    if (sound.format.codec == Mp3) {
        if (size < 2)
            return {};
        decoder.Skip(ReadSi16(sound.data, 0)); // the encoder's lead-in
        data += 2;
        size -= 2;
    }
    decoder.Feed(data, size, out, limit);
    decoder.Drain(out, limit);
    if (sound.sampleCount > 0 && decoder.SourceRate() > 0) {
        const std::size_t declared = MixFrames(sound.sampleCount, decoder.SourceRate());
        if (FramesOf(out) > declared)
            out.resize(declared * 2);
    }
    out.shrink_to_fit();
    return out;
}

struct StreamDecoder::State {
    explicit State(const SoundFormat& format) : decoder(format), mp3(format.codec == Mp3) {}
    Decoder decoder;
    const bool mp3;
    bool fresh = true;
};

StreamDecoder::StreamDecoder(const SoundStreamHead& head)
    : state(std::make_unique<State>(head.streamFormat)) {
    if (!state->decoder.Ready())
        state->decoder.WarnUnsupported("a sound stream");
}

StreamDecoder::~StreamDecoder() = default;

Pcm StreamDecoder::Decode(const QByteArray& block) {
    Pcm out;
    if (!state->decoder.Ready())
        return out;
    const char* data = block.constData();
    std::size_t size = std::size_t(block.size());
    if (state->mp3) {
        // SampleCount (UI16) and SeekSamples (SI16) come first; the seek only matters where a run
        // starts, as the frames before it belong to the previous movie frame.
        if (size < 4)
            return out;
        if (state->fresh)
            state->decoder.Skip(ReadSi16(block, 2));
        data += 4;
        size -= 4;
    }
    state->fresh = false;
    state->decoder.Feed(data, size, out, MaxBlockFrames);
    return out;
}

void StreamDecoder::Restart() {
    state->decoder.Reset();
    state->fresh = true;
}

} // namespace flash
