#include "platform/ACM.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace win {

namespace {

constexpr DWORD kMinRate = 1000;
constexpr DWORD kMaxRate = 384000;
// The part of a format record a PCM format is made of (the record without cbSize).
constexpr std::size_t kPCMFormatSize = 16;
// Output frames per pass when 8-bit or unaligned output goes through the stream's 16-bit buffer.
constexpr std::int64_t kStagedFrames = 4096;
// Frames per resampler call, well inside the library's int counts.
constexpr std::int64_t kMaxCallFrames = std::int64_t{1} << 20;
// Source frames of silence per pass when finishing a sequence.
constexpr std::int64_t kSilenceFrames = 1024;

struct ResamplerDeleter {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
using Resampler = std::unique_ptr<SwrContext, ResamplerDeleter>;

WAVEFORMATEX ReadPCMFormat(const WAVEFORMATEX* format) {
    WAVEFORMATEX result{};
    std::memcpy(&result, format, kPCMFormatSize);
    return result;
}

bool IsConvertiblePCM(const WAVEFORMATEX& format) {
    return format.wFormatTag == WAVE_FORMAT_PCM && (format.nChannels == 1 || format.nChannels == 2) &&
           (format.wBitsPerSample == 8 || format.wBitsPerSample == 16) && format.nSamplesPerSec >= kMinRate &&
           format.nSamplesPerSec <= kMaxRate &&
           format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return (a + b - 1) / b;
}

// The library always delivers 16-bit samples: 8-bit output is rounded here, as its own 16-to-8 step
// truncates toward minus infinity.
Resampler CreateResampler(const WAVEFORMATEX& src, const WAVEFORMATEX& dst) {
    AVChannelLayout srcLayout, dstLayout;
    av_channel_layout_default(&srcLayout, src.nChannels);
    av_channel_layout_default(&dstLayout, dst.nChannels);
    SwrContext* raw = nullptr;
    const AVSampleFormat srcFormat = src.wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    if (swr_alloc_set_opts2(&raw, &dstLayout, AV_SAMPLE_FMT_S16, int(dst.nSamplesPerSec), &srcLayout,
                            srcFormat, int(src.nSamplesPerSec), 0, nullptr) < 0)
        return nullptr;
    Resampler context(raw);
    // The library's own matrices mix at -3 dB; a plain average down and a copy up keep the level.
    static const double kDownmix[] = {0.5, 0.5};
    static const double kUpmix[] = {1.0, 1.0};
    if (src.nChannels == 2 && dst.nChannels == 1 && swr_set_matrix(context.get(), kDownmix, 2) < 0)
        return nullptr;
    if (src.nChannels == 1 && dst.nChannels == 2 && swr_set_matrix(context.get(), kUpmix, 1) < 0)
        return nullptr;
    if (swr_init(context.get()) < 0)
        return nullptr;
    return context;
}

void StoreRounded8Bit(const std::int16_t* from, std::size_t count, BYTE* to) {
    for (std::size_t i = 0; i < count; ++i)
        to[i] = BYTE(std::min((from[i] + 128) >> 8, 127) + 128);
}

void StoreDWORDPair(DWORD* to, const void* pointer) {
    const auto value = std::uint64_t(reinterpret_cast<std::uintptr_t>(pointer));
    to[0] = DWORD(value);
    to[1] = DWORD(value >> 32);
}

bool SameDWORDPair(const DWORD* from, const void* pointer) {
    const auto value = std::uint64_t(reinterpret_cast<std::uintptr_t>(pointer));
    return from[0] == DWORD(value) && from[1] == DWORD(value >> 32);
}

// Layout of the preparation record in dwReservedDriver.
enum : std::size_t { kPreparedSrc = 0, kPreparedSrcLength = 2, kPreparedDst = 3, kPreparedDstLength = 5 };

void RecordPrepared(ACMSTREAMHEADER& header) {
    StoreDWORDPair(&header.dwReservedDriver[kPreparedSrc], header.pbSrc);
    header.dwReservedDriver[kPreparedSrcLength] = header.cbSrcLength;
    StoreDWORDPair(&header.dwReservedDriver[kPreparedDst], header.pbDst);
    header.dwReservedDriver[kPreparedDstLength] = header.cbDstLength;
}

bool MatchesPrepared(const ACMSTREAMHEADER& header, bool shorterAllowed) {
    const DWORD srcLength = header.dwReservedDriver[kPreparedSrcLength];
    const DWORD dstLength = header.dwReservedDriver[kPreparedDstLength];
    const bool lengthsOk = shorterAllowed
                               ? header.cbSrcLength <= srcLength && header.cbDstLength <= dstLength
                               : header.cbSrcLength == srcLength && header.cbDstLength == dstLength;
    return lengthsOk && SameDWORDPair(&header.dwReservedDriver[kPreparedSrc], header.pbSrc) &&
           SameDWORDPair(&header.dwReservedDriver[kPreparedDst], header.pbDst);
}

} // namespace

struct ACMStream {
    WAVEFORMATEX src{};
    WAVEFORMATEX dst{};
    Resampler resampler;
    // Extra destination frames sizes allow for: what the resampler holds back while a stream runs.
    std::int64_t allowance = 0;
    // Frames in and out since the sequence started.
    std::int64_t sequenceIn = 0;
    std::int64_t sequenceOut = 0;
    bool ended = false; // the last conversion finished its sequence
    std::vector<std::int16_t> staged;
    std::vector<BYTE> silence;

    // A sequence yields exactly one destination frame per destination instant inside its source.
    std::int64_t SequenceLength(std::int64_t srcFrames) const {
        return CeilDiv(srcFrames * dst.nSamplesPerSec, src.nSamplesPerSec);
    }

    bool Reset() {
        Resampler fresh = CreateResampler(src, dst);
        if (!fresh)
            return false;
        resampler = std::move(fresh);
        sequenceIn = sequenceOut = 0;
        ended = false;
        return true;
    }

    MMRESULT Run(const BYTE* in, std::int64_t inFrames, bool finish, BYTE* out, std::int64_t outFrames,
                 std::int64_t& consumed, std::int64_t& produced);
};

namespace {

std::mutex gStreamsLock;
std::unordered_set<const ACMStream*> gStreams;

// Handles are checked against the open streams, so a stale or foreign handle is reported, not used.
ACMStream* FindStream(HACMSTREAM handle) {
    if (!handle)
        return nullptr;
    std::lock_guard lock(gStreamsLock);
    return gStreams.contains(handle) ? handle : nullptr;
}

} // namespace

// Converts up to inFrames into at most outFrames. Finishing then feeds silence until the sequence's
// last frames are out, since the resampler only releases a frame once it has seen what follows.
MMRESULT ACMStream::Run(const BYTE* in, std::int64_t inFrames, bool finish, BYTE* out, std::int64_t outFrames,
                        std::int64_t& consumed, std::int64_t& produced) {
    const bool direct = dst.wBitsPerSample == 16 && reinterpret_cast<std::uintptr_t>(out) % 2 == 0;
    const std::int64_t passFrames = direct ? kMaxCallFrames : kStagedFrames;
    const std::int64_t silenceFrames = std::int64_t(silence.size() / src.nBlockAlign);
    consumed = produced = 0;
    int idle = 0;
    while (produced < outFrames) {
        const bool feeding = consumed < inFrames;
        std::int64_t room = std::min(outFrames - produced, passFrames);
        if (!feeding) {
            if (!finish)
                break;
            room = std::min(room, SequenceLength(sequenceIn) - sequenceOut);
            // A resampler that keeps giving nothing would otherwise spin forever.
            if (room <= 0 || idle > 64)
                break;
        }
        // About as much input as the room takes, so the library buffers little of its own.
        const std::int64_t feed =
            feeding ? std::min({inFrames - consumed, kMaxCallFrames,
                                std::max<std::int64_t>(1, room * src.nSamplesPerSec / dst.nSamplesPerSec)})
                    : silenceFrames;
        const BYTE* source = feeding ? in + consumed * src.nBlockAlign : silence.data();
        BYTE* target = direct ? out + produced * dst.nBlockAlign : reinterpret_cast<BYTE*>(staged.data());
        const int got = swr_convert(resampler.get(), &target, int(room), &source, int(feed));
        if (got < 0)
            return MMSYSERR_ERROR;
        if (!direct) {
            const std::size_t samples = std::size_t(got) * dst.nChannels;
            if (dst.wBitsPerSample == 8)
                StoreRounded8Bit(staged.data(), samples, out + produced * dst.nBlockAlign);
            else
                std::memcpy(out + produced * dst.nBlockAlign, staged.data(), samples * sizeof(std::int16_t));
        }
        produced += got;
        sequenceOut += got;
        if (feeding) {
            consumed += feed;
            sequenceIn += feed;
        } else if (got == 0) {
            ++idle;
        }
    }
    ended = finish;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, const void* pwfltr, std::uintptr_t /*dwCallback*/,
                       std::uintptr_t /*dwInstance*/, DWORD fdwOpen) {
    if (phas)
        *phas = nullptr;
    if (fdwOpen & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME))
        return MMSYSERR_INVALFLAG;
    const bool query = fdwOpen & ACM_STREAMOPENF_QUERY;
    if (!pwfxSrc || !pwfxDst || (!query && !phas))
        return MMSYSERR_INVALPARAM;
    if (had)
        return MMSYSERR_INVALHANDLE;
    if (pwfltr || (fdwOpen & ACM_STREAMOPENF_ASYNC))
        return ACMERR_NOTPOSSIBLE;
    const WAVEFORMATEX src = ReadPCMFormat(pwfxSrc);
    const WAVEFORMATEX dst = ReadPCMFormat(pwfxDst);
    if (!IsConvertiblePCM(src) || !IsConvertiblePCM(dst))
        return ACMERR_NOTPOSSIBLE;
    if (query)
        return MMSYSERR_NOERROR;
    try {
        auto stream = std::make_unique<ACMStream>();
        stream->src = src;
        stream->dst = dst;
        if (!stream->Reset())
            return MMSYSERR_NOMEM;
        // The library's bound for a fresh start is about half its filter in destination frames;
        // twice that covers what a running stream holds back.
        const int headroom = swr_get_out_samples(stream->resampler.get(), 0);
        if (headroom < 0)
            return ACMERR_NOTPOSSIBLE;
        stream->allowance = 2 * std::int64_t{headroom};
        stream->staged.resize(std::size_t(kStagedFrames) * dst.nChannels);
        stream->silence.assign(std::size_t(kSilenceFrames) * src.nBlockAlign,
                               src.wBitsPerSample == 8 ? 0x80 : 0);
        std::lock_guard lock(gStreamsLock);
        gStreams.insert(stream.get());
        *phas = stream.release();
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize) {
    const ACMStream* stream = FindStream(has);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (fdwSize & ~ACM_STREAMSIZEF_DESTINATION)
        return MMSYSERR_INVALFLAG;
    if (!pdwOutputBytes)
        return MMSYSERR_INVALPARAM;
    *pdwOutputBytes = 0;
    std::int64_t bytes;
    if (fdwSize & ACM_STREAMSIZEF_DESTINATION) {
        const std::int64_t room = std::int64_t(cbInput / stream->dst.nBlockAlign) - stream->allowance;
        if (room <= 0)
            return ACMERR_NOTPOSSIBLE;
        const std::int64_t frames = room * stream->src.nSamplesPerSec / stream->dst.nSamplesPerSec;
        // More source than a length can hold is capped to whole frames that it can.
        bytes =
            std::min(frames, std::int64_t(UINT32_MAX / stream->src.nBlockAlign)) * stream->src.nBlockAlign;
    } else {
        const std::int64_t frames = cbInput / stream->src.nBlockAlign;
        if (frames == 0)
            return ACMERR_NOTPOSSIBLE;
        bytes = (stream->SequenceLength(frames) + stream->allowance) * stream->dst.nBlockAlign;
        if (bytes > UINT32_MAX)
            return ACMERR_NOTPOSSIBLE;
    }
    if (bytes == 0)
        return ACMERR_NOTPOSSIBLE;
    *pdwOutputBytes = DWORD(bytes);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwPrepare) {
    if (!FindStream(has))
        return MMSYSERR_INVALHANDLE;
    if (fdwPrepare != 0)
        return MMSYSERR_INVALFLAG;
    if (!pash || pash->cbStruct < sizeof(ACMSTREAMHEADER) || !pash->pbSrc || !pash->pbDst)
        return MMSYSERR_INVALPARAM;
    if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)
        return MMSYSERR_NOERROR;
    RecordPrepared(*pash);
    pash->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwConvert) {
    ACMStream* stream = FindStream(has);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (fdwConvert & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
        return MMSYSERR_INVALFLAG;
    if (!pash || pash->cbStruct < sizeof(ACMSTREAMHEADER))
        return MMSYSERR_INVALPARAM;
    if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_INQUEUE)
        return ACMERR_BUSY;
    if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return ACMERR_UNPREPARED;
    if (!MatchesPrepared(*pash, true))
        return MMSYSERR_INVALPARAM;
    pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    pash->cbSrcLengthUsed = pash->cbDstLengthUsed = 0;

    const bool fresh = stream->sequenceIn == 0 && stream->sequenceOut == 0;
    if ((stream->ended || ((fdwConvert & ACM_STREAMCONVERTF_START) && !fresh)) && !stream->Reset())
        return MMSYSERR_NOMEM;

    const std::int64_t srcFrames = pash->cbSrcLength / stream->src.nBlockAlign;
    const std::int64_t dstFrames = pash->cbDstLength / stream->dst.nBlockAlign;
    // Without an end, take source until the destination is full. An end is only honoured when the
    // rest of the sequence fits; otherwise take what surely fits and leave the rest for another call,
    // so a source reported used never has its last frames dropped.
    std::int64_t take = srcFrames;
    bool finish = false;
    if (fdwConvert & ACM_STREAMCONVERTF_END) {
        const std::int64_t limit = stream->sequenceOut + dstFrames;
        if (stream->SequenceLength(stream->sequenceIn + srcFrames) <= limit) {
            finish = true;
        } else {
            const std::int64_t fits =
                limit * stream->src.nSamplesPerSec / stream->dst.nSamplesPerSec - stream->sequenceIn;
            take = std::clamp<std::int64_t>(fits, 0, srcFrames);
        }
    }
    std::int64_t consumed = 0, produced = 0;
    const MMRESULT result =
        stream->Run(pash->pbSrc, take, finish, pash->pbDst, dstFrames, consumed, produced);
    pash->cbSrcLengthUsed = DWORD(consumed * stream->src.nBlockAlign);
    pash->cbDstLengthUsed = DWORD(produced * stream->dst.nBlockAlign);
    if (result != MMSYSERR_NOERROR)
        return result;
    pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwUnprepare) {
    if (!FindStream(has))
        return MMSYSERR_INVALHANDLE;
    if (fdwUnprepare != 0)
        return MMSYSERR_INVALFLAG;
    if (!pash || pash->cbStruct < sizeof(ACMSTREAMHEADER))
        return MMSYSERR_INVALPARAM;
    if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_INQUEUE)
        return ACMERR_BUSY;
    if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return ACMERR_UNPREPARED;
    if (!MatchesPrepared(*pash, false))
        return MMSYSERR_INVALPARAM;
    pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose) {
    if (!FindStream(has))
        return MMSYSERR_INVALHANDLE;
    if (fdwClose != 0)
        return MMSYSERR_INVALFLAG;
    {
        std::lock_guard lock(gStreamsLock);
        if (gStreams.erase(has) == 0)
            return MMSYSERR_INVALHANDLE;
    }
    delete has;
    return MMSYSERR_NOERROR;
}

MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst, DWORD cbwfxDst,
                          DWORD fdwSuggest) {
    constexpr DWORD kSuggestFlags = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                                    ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
    if (fdwSuggest & ~kSuggestFlags)
        return MMSYSERR_INVALFLAG;
    if (!pwfxSrc || !pwfxDst || cbwfxDst < kPCMFormatSize)
        return MMSYSERR_INVALPARAM;
    if (had)
        return MMSYSERR_INVALHANDLE;
    const WAVEFORMATEX src = ReadPCMFormat(pwfxSrc);
    if (!IsConvertiblePCM(src))
        return ACMERR_NOTPOSSIBLE;
    const WAVEFORMATEX asked = ReadPCMFormat(pwfxDst);
    WAVEFORMATEX suggested{};
    suggested.wFormatTag = (fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) ? asked.wFormatTag : src.wFormatTag;
    suggested.nChannels = (fdwSuggest & ACM_FORMATSUGGESTF_NCHANNELS) ? asked.nChannels : src.nChannels;
    suggested.nSamplesPerSec =
        (fdwSuggest & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) ? asked.nSamplesPerSec : src.nSamplesPerSec;
    suggested.wBitsPerSample =
        (fdwSuggest & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) ? asked.wBitsPerSample : src.wBitsPerSample;
    suggested.nBlockAlign = WORD(suggested.nChannels * suggested.wBitsPerSample / 8);
    suggested.nAvgBytesPerSec = suggested.nSamplesPerSec * suggested.nBlockAlign;
    if (!IsConvertiblePCM(suggested))
        return ACMERR_NOTPOSSIBLE;
    std::memcpy(pwfxDst, &suggested,
                cbwfxDst >= sizeof(WAVEFORMATEX) ? sizeof(WAVEFORMATEX) : kPCMFormatSize);
    return MMSYSERR_NOERROR;
}

} // namespace win
