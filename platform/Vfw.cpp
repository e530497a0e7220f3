#include "platform/Vfw.h"

#include "platform/GlobalMemory.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace win {

namespace {

// 1.10, the last release of the video services and the level whose calls this layer offers.
constexpr DWORD kVersion = 0x010A0000;
// An 8K screen fits; the encoder's packet buffer (9 bytes a pixel) stays below 1 GiB.
constexpr LONG kMaxDimension = 8192;
// Empty frames one write may add before its own: over a day at 10 frames per second, while a
// lying position cannot fill the disk with empty chunks.
constexpr std::int64_t kMaxSkippedFrames = std::int64_t{1} << 20;
// Microsoft Video 1 codes blocks of 4x4 pixels.
constexpr int kBlockSize = 4;
constexpr FOURCC kStoredFourCC = MakeFourCC('M', 'S', 'V', 'C');

std::atomic<int> InitCount{0};

struct FormatContextDeleter {
    void operator()(AVFormatContext* context) const {
        avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using FormatContext = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;
using Scaler = std::unique_ptr<SwsContext, ScalerDeleter>;

// Live handles, so that a stale or foreign one gives an error instead of a crash.
template <typename T> class THandles {
public:
    void Add(const T* handle) {
        std::lock_guard<std::mutex> lock(Lock);
        Live.insert(handle);
    }
    void Remove(const T* handle) {
        std::lock_guard<std::mutex> lock(Lock);
        Live.erase(handle);
    }
    bool Has(const T* handle) {
        std::lock_guard<std::mutex> lock(Lock);
        return handle && Live.count(handle);
    }

private:
    std::mutex Lock;
    std::unordered_set<const T*> Live;
};

HRESULT FromAVError(int error, HRESULT otherwise) {
    return error == AVERROR(ENOMEM) ? AVIERR_MEMORY : otherwise;
}

int RoundUpToBlock(int size) {
    return (size + kBlockSize - 1) / kBlockSize * kBlockSize;
}

bool IsMicrosoftVideo1(FOURCC code) {
    char name[4];
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((code >> (8 * i)) & 0xFF);
        name[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return std::memcmp(name, "MSVC", 4) == 0 || std::memcmp(name, "CRAM", 4) == 0;
}

// ---------------------------------------------------------------------------------------------
// Frame format and conversion

using TColour = std::array<BYTE, 4>; // blue, green, red, alpha: the BGRA layout

struct TFrameFormat {
    int Width = 0;
    int Height = 0;
    int Bits = 0;
    std::size_t Stride = 0;
    std::size_t ImageSize = 0;
    std::vector<TColour> Palette; // 2^bits entries at 8 bits or fewer
};

bool IsSupportedDepth(WORD bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Entries beyond the table (biClrUsed below 2^bits) are black.
std::vector<TColour> ReadPalette(const BYTE* table, DWORD entries, WORD bits) {
    std::vector<TColour> palette(DibColorCount(bits), TColour{0, 0, 0, 0xFF});
    for (DWORD i = 0; i < entries; ++i) {
        RGBQUAD quad;
        std::memcpy(&quad, table + 4 * i, sizeof quad);
        palette[i] = {quad.rgbBlue, quad.rgbGreen, quad.rgbRed, 0xFF};
    }
    return palette;
}

HRESULT ParseFormat(const void* data, LONG size, TFrameFormat& format) {
    if (size < static_cast<LONG>(sizeof(BITMAPINFOHEADER)))
        return AVIERR_BADFORMAT;
    BITMAPINFOHEADER header;
    std::memcpy(&header, data, sizeof header);
    if (header.biSize < sizeof header || header.biSize > static_cast<DWORD>(size) || header.biPlanes != 1 ||
        header.biCompression != BI_RGB || !IsSupportedDepth(header.biBitCount))
        return AVIERR_BADFORMAT;
    if (header.biWidth < 1 || header.biWidth > kMaxDimension || header.biHeight < 1 ||
        header.biHeight > kMaxDimension)
        return AVIERR_BADFORMAT;
    const DWORD maxEntries = DibColorCount(header.biBitCount);
    const DWORD entries = header.biClrUsed ? header.biClrUsed : maxEntries;
    if (maxEntries && (entries > maxEntries || std::uint64_t{4} * entries > size - header.biSize))
        return AVIERR_BADFORMAT;
    format.Width = header.biWidth;
    format.Height = header.biHeight;
    format.Bits = header.biBitCount;
    format.Stride = DibStride(header.biWidth, header.biBitCount);
    format.ImageSize = format.Stride * static_cast<std::size_t>(format.Height);
    if (header.biSizeImage && header.biSizeImage < format.ImageSize)
        return AVIERR_BADFORMAT;
    if (maxEntries)
        format.Palette =
            ReadPalette(static_cast<const BYTE*>(data) + header.biSize, entries, header.biBitCount);
    return AVIERR_OK;
}

// Turns bottom-up packed rows into the encoder's top-down RGB 5-5-5 picture, which may be larger by
// up to 3 pixels each way: those pixels repeat the frame's last column and row. The rows are first
// copied top-down into a padded staging picture (palette frames expanded to 32 bits on the way), so
// the library converts a picture of the encoder's size and never meets an odd width, for which it
// would warn that it cannot interpolate chroma for 5-5-5.
class TFrameConverter {
public:
    HRESULT Open(const TFrameFormat& format, int paddedWidth, int paddedHeight) {
        Format = format;
        Width = paddedWidth;
        Height = paddedHeight;
        PixelBytes = format.Bits <= 8 ? 4 : format.Bits / 8;
        // Nothing is scaled; any algorithm but this one makes the library ask for full chroma
        // interpolation too, with the same warning.
        Context.reset(sws_getContext(Width, Height, SourcePixelFormat(format.Bits), Width, Height,
                                     AV_PIX_FMT_RGB555, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr));
        if (!Context)
            return AVIERR_BADFORMAT;
        Staging.resize(static_cast<std::size_t>(Width) * Height * PixelBytes);
        return AVIERR_OK;
    }

    HRESULT Convert(const BYTE* pixels, AVFrame* picture) {
        Stage(pixels);
        const std::uint8_t* const source[4] = {Staging.data(), nullptr, nullptr, nullptr};
        const int strides[4] = {Width * PixelBytes, 0, 0, 0};
        if (sws_scale(Context.get(), source, strides, 0, Height, picture->data, picture->linesize) <= 0)
            return AVIERR_INTERNAL;
        return AVIERR_OK;
    }

private:
    // Rows of 32 bits are blue, green, red, unused; the unused byte goes in as alpha, which the
    // conversion drops.
    static AVPixelFormat SourcePixelFormat(int bits) {
        switch (bits) {
        case 16:
            return AV_PIX_FMT_RGB555LE;
        case 24:
            return AV_PIX_FMT_BGR24;
        default:
            return AV_PIX_FMT_BGRA;
        }
    }

    static unsigned PaletteIndex(const BYTE* row, int x, int bits) {
        if (bits == 8)
            return row[x];
        const int bit = x * bits;
        const int shift = 8 - bits - bit % 8;
        return (row[bit / 8] >> shift) & ((1u << bits) - 1);
    }

    void Stage(const BYTE* pixels) {
        const std::size_t stride = static_cast<std::size_t>(Width) * PixelBytes;
        for (int y = 0; y < Format.Height; ++y) {
            BYTE* out = Staging.data() + y * stride;
            StageRow(pixels + (Format.Height - 1 - y) * Format.Stride, out);
            for (int x = Format.Width; x < Width; ++x)
                std::memcpy(out + x * PixelBytes, out + (Format.Width - 1) * PixelBytes, PixelBytes);
        }
        for (int y = Format.Height; y < Height; ++y)
            std::memcpy(Staging.data() + y * stride, Staging.data() + (Format.Height - 1) * stride, stride);
    }

    void StageRow(const BYTE* row, BYTE* out) const {
        if (Format.Bits > 8) {
            std::memcpy(out, row, static_cast<std::size_t>(Format.Width) * PixelBytes);
            return;
        }
        for (int x = 0; x < Format.Width; ++x, out += 4)
            std::memcpy(out, Format.Palette[PaletteIndex(row, x, Format.Bits)].data(), 4);
    }

    TFrameFormat Format;
    int Width = 0;
    int Height = 0;
    int PixelBytes = 0;
    Scaler Context;
    std::vector<BYTE> Staging;
};

// ---------------------------------------------------------------------------------------------
// Muxer

// The AVI muxer over the file; packets go in at frame positions in the stream's time base and every
// position skipped becomes an empty chunk. Each packet is flushed, so a failed write shows at once.
class TMuxer {
public:
    HRESULT Open(const char* fileName) {
        AVFormatContext* raw = nullptr;
        if (avformat_alloc_output_context2(&raw, nullptr, "avi", nullptr) < 0 || !raw)
            return AVIERR_MEMORY;
        Context.reset(raw);
        Context->flags |= AVFMT_FLAG_FLUSH_PACKETS;
        Empty.reset(av_packet_alloc());
        if (!Empty)
            return AVIERR_MEMORY;
        // The protocol is named so that a colon in the name cannot select another one.
        const std::string url = std::string("file:") + fileName;
        if (avio_open(&Context->pb, url.c_str(), AVIO_FLAG_WRITE) < 0)
            return AVIERR_FILEOPEN;
        return AVIERR_OK;
    }

    // The stream goes in once, whether or not its header could be written.
    bool HasVideo() const { return Video != nullptr; }
    bool Failed() const { return WriteFailed; }
    // The system's words for the failed write ("No space left on device").
    QString Failure() const { return FailureText; }
    AVRational TimeBase() const { return Video->time_base; }

    HRESULT Start(const AVCodecContext* encoder) {
        Video = avformat_new_stream(Context.get(), nullptr);
        if (!Video)
            return AVIERR_MEMORY;
        const int copied = avcodec_parameters_from_context(Video->codecpar, encoder);
        if (copied < 0)
            return FromAVError(copied, AVIERR_INTERNAL);
        Video->codecpar->codec_tag = kStoredFourCC;
        Video->time_base = encoder->time_base;
        Video->avg_frame_rate = encoder->framerate;
        const int written = avformat_write_header(Context.get(), nullptr);
        if (written >= 0)
            avio_flush(Context->pb);
        if (Context->pb->error < 0)
            return Fail();
        if (written < 0)
            return FromAVError(written, AVIERR_INTERNAL);
        HeaderWritten = true;
        return AVIERR_OK;
    }

    // Packet's timestamps are in the stream's time base.
    HRESULT Write(AVPacket* packet) {
        if (WriteFailed)
            return AVIERR_FILEWRITE;
        if (packet->dts == AV_NOPTS_VALUE)
            packet->dts = packet->pts;
        if (packet->dts < NextPosition)
            return AVIERR_INTERNAL;
        for (; NextPosition < packet->dts; ++NextPosition)
            if (const HRESULT result = WriteEmpty(NextPosition))
                return result;
        packet->stream_index = Video->index;
        if (const HRESULT result = WriteChunk(packet))
            return result;
        ++NextPosition;
        return AVIERR_OK;
    }

    // Writes the index and patches the headers when they were written; a file whose writes failed
    // gets what still fits.
    void Finish() {
        if (HeaderWritten)
            av_write_trailer(Context.get());
        Context.reset();
    }

private:
    HRESULT Fail() {
        if (!WriteFailed) {
            char text[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(Context->pb->error, text, sizeof text);
            FailureText = QString::fromLocal8Bit(text);
        }
        WriteFailed = true;
        return AVIERR_FILEWRITE;
    }

    HRESULT WriteEmpty(std::int64_t position) {
        av_packet_unref(Empty.get());
        Empty->pts = Empty->dts = position;
        Empty->stream_index = Video->index;
        return WriteChunk(Empty.get());
    }

    HRESULT WriteChunk(AVPacket* packet) {
        const int written = av_write_frame(Context.get(), packet);
        if (Context->pb->error < 0)
            return Fail();
        return written < 0 ? FromAVError(written, AVIERR_INTERNAL) : AVIERR_OK;
    }

    FormatContext Context;
    Packet Empty;
    AVStream* Video = nullptr;
    bool HeaderWritten = false;
    bool WriteFailed = false;
    QString FailureText;
    std::int64_t NextPosition = 0;
};

// ---------------------------------------------------------------------------------------------
// Encoder

struct TCompressOptions {
    AVRational TimeBase{1, 1};
    int KeyFrameEvery = 1;
};

class TEncoder {
public:
    HRESULT Open(const TFrameFormat& format, const TCompressOptions& options) {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MSVIDEO1);
        if (!codec)
            return AVIERR_NOCOMPRESSOR;
        Codec.reset(avcodec_alloc_context3(codec));
        Picture.reset(av_frame_alloc());
        Output.reset(av_packet_alloc());
        if (!Codec || !Picture || !Output)
            return AVIERR_MEMORY;
        Codec->width = RoundUpToBlock(format.Width);
        Codec->height = RoundUpToBlock(format.Height);
        Codec->pix_fmt = AV_PIX_FMT_RGB555;
        Codec->time_base = options.TimeBase;
        Codec->framerate = av_inv_q(options.TimeBase);
        // The encoder makes a key frame once keyint_min frames followed the last one.
        Codec->keyint_min = options.KeyFrameEvery - 1;
        Codec->gop_size = options.KeyFrameEvery;
        if (av_image_check_size(Codec->width, Codec->height, 0, nullptr) < 0)
            return AVIERR_BADFORMAT;
        if (const int opened = avcodec_open2(Codec.get(), codec, nullptr); opened < 0)
            return FromAVError(opened, AVIERR_BADFORMAT);
        Picture->format = Codec->pix_fmt;
        Picture->width = Codec->width;
        Picture->height = Codec->height;
        if (av_frame_get_buffer(Picture.get(), 0) < 0)
            return AVIERR_MEMORY;
        return Converter.Open(format, Codec->width, Codec->height);
    }

    const AVCodecContext* Context() const { return Codec.get(); }

    HRESULT Write(const BYTE* pixels, std::int64_t position, TMuxer& muxer, LONG& bytes) {
        if (av_frame_make_writable(Picture.get()) < 0)
            return AVIERR_MEMORY;
        if (const HRESULT result = Converter.Convert(pixels, Picture.get()))
            return result;
        Picture->pts = position;
        return Encode(Picture.get(), muxer, bytes);
    }

    // Hands over what the encoder still holds.
    HRESULT Flush(TMuxer& muxer) {
        LONG bytes = 0;
        return Encode(nullptr, muxer, bytes);
    }

private:
    HRESULT Encode(const AVFrame* picture, TMuxer& muxer, LONG& bytes) {
        const int sent = avcodec_send_frame(Codec.get(), picture);
        if (sent < 0 && sent != AVERROR_EOF)
            return FromAVError(sent, AVIERR_INTERNAL);
        for (;;) {
            const int received = avcodec_receive_packet(Codec.get(), Output.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return AVIERR_OK;
            if (received < 0)
                return FromAVError(received, AVIERR_INTERNAL);
            av_packet_rescale_ts(Output.get(), Codec->time_base, muxer.TimeBase());
            bytes += Output->size;
            const HRESULT result = muxer.Write(Output.get());
            av_packet_unref(Output.get());
            if (result)
                return result;
        }
    }

    CodecContext Codec;
    Frame Picture;
    Packet Output;
    TFrameConverter Converter;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Files and streams

struct TAVIFile {
    ULONG Refs = 1;
    bool HasStream = false;
    TMuxer Muxer;
};

struct TAVIStream {
    ULONG Refs = 1;
    // A raw stream holds a reference to its file, a compressed stream one to its raw stream.
    TAVIFile* File = nullptr;
    TAVIStream* Source = nullptr;
    bool HasCompressor = false;
    TCompressOptions Options;
    std::unique_ptr<TEncoder> Encoder; // once the format is set
    std::size_t ImageSize = 0;
    std::int64_t LastPosition = -1;

    TMuxer& Muxer() const { return Source->File->Muxer; }
};

namespace {

THandles<TAVIFile> Files;
THandles<TAVIStream> Streams;

HRESULT CheckStreamInfo(const AVISTREAMINFOA& info) {
    if (info.fccType != streamtypeVIDEO)
        return AVIERR_UNSUPPORTED;
    if (info.dwRate == 0 || info.dwScale == 0 || info.dwRate > INT32_MAX || info.dwScale > INT32_MAX)
        return AVIERR_BADPARAM;
    const std::int64_t width = std::int64_t{info.rcFrame.right} - info.rcFrame.left;
    const std::int64_t height = std::int64_t{info.rcFrame.bottom} - info.rcFrame.top;
    if (width < 0 || height < 0 || width > kMaxDimension || height > kMaxDimension)
        return AVIERR_BADPARAM;
    return AVIERR_OK;
}

HRESULT ReadCompressOptions(const AVICOMPRESSOPTIONS& options, TCompressOptions& result) {
    if (options.fccType != 0 && options.fccType != streamtypeVIDEO)
        return AVIERR_BADPARAM;
    if (!IsMicrosoftVideo1(options.fccHandler))
        return AVIERR_NOCOMPRESSOR;
    const bool keyFrames = (options.dwFlags & AVICOMPRESSF_KEYFRAMES) && options.dwKeyFrameEvery > 1;
    result.KeyFrameEvery =
        keyFrames ? static_cast<int>(std::min<DWORD>(options.dwKeyFrameEvery, INT32_MAX)) : 1;
    return AVIERR_OK;
}

HRESULT StartCompressing(TAVIStream& stream, const TFrameFormat& format) {
    auto encoder = std::make_unique<TEncoder>();
    if (const HRESULT result = encoder->Open(format, stream.Options))
        return result;
    if (const HRESULT result = stream.Muxer().Start(encoder->Context()))
        return result;
    stream.Encoder = std::move(encoder);
    stream.ImageSize = format.ImageSize;
    return AVIERR_OK;
}

HRESULT CheckWrite(const TAVIStream& stream, LONG start, LONG samples, const void* buffer, LONG bufferSize) {
    if (!stream.Source)
        return AVIERR_UNSUPPORTED;
    if (stream.Muxer().Failed())
        return AVIERR_FILEWRITE;
    if (!stream.Encoder)
        return AVIERR_BADFORMAT;
    if (samples != 1 || !buffer || bufferSize < 0 || static_cast<std::size_t>(bufferSize) < stream.ImageSize)
        return AVIERR_BADPARAM;
    if (start <= stream.LastPosition || start - stream.LastPosition - 1 > kMaxSkippedFrames)
        return AVIERR_BADPARAM;
    return AVIERR_OK;
}

void FreeBlock(void*& pointer, DWORD& size) {
    if (HGLOBAL block = pointer ? GlobalHandle(pointer) : nullptr) {
        while (GlobalUnlock(block)) {
        }
        GlobalFree(block);
    }
    pointer = nullptr;
    size = 0;
}

} // namespace

DWORD VideoForWindowsVersion() {
    return kVersion;
}

void AVIFileInit() {
    ++InitCount;
}

void AVIFileExit() {
    int count = InitCount.load();
    while (count > 0 && !InitCount.compare_exchange_weak(count, count - 1)) {
    }
}

HRESULT AVIFileOpenA(PAVIFILE* File, const char* FileName, UINT Mode, void* Handler) {
    if (!File)
        return AVIERR_BADPARAM;
    *File = nullptr;
    if (!FileName)
        return AVIERR_BADPARAM;
    if ((Mode & (OF_WRITE | OF_CREATE)) != (OF_WRITE | OF_CREATE) || Handler)
        return AVIERR_UNSUPPORTED;
    auto file = std::make_unique<TAVIFile>();
    if (const HRESULT result = file->Muxer.Open(FileName))
        return result;
    *File = file.release();
    Files.Add(*File);
    return AVIERR_OK;
}

HRESULT AVIFileCreateStreamA(PAVIFILE File, PAVISTREAM* Stream, AVISTREAMINFOA* Info) {
    if (!Stream)
        return AVIERR_BADPARAM;
    *Stream = nullptr;
    if (!Files.Has(File))
        return AVIERR_BADHANDLE;
    if (!Info)
        return AVIERR_BADPARAM;
    if (const HRESULT result = CheckStreamInfo(*Info))
        return result;
    if (File->HasStream)
        return AVIERR_UNSUPPORTED;
    auto stream = std::make_unique<TAVIStream>();
    stream->File = File;
    stream->Options.TimeBase = {static_cast<int>(Info->dwScale), static_cast<int>(Info->dwRate)};
    File->HasStream = true;
    ++File->Refs;
    *Stream = stream.release();
    Streams.Add(*Stream);
    return AVIERR_OK;
}

HRESULT AVIMakeCompressedStream(PAVISTREAM* Compressed, PAVISTREAM Source, AVICOMPRESSOPTIONS* Options,
                                void* ClassId) {
    if (!Compressed)
        return AVIERR_BADPARAM;
    *Compressed = nullptr;
    if (!Streams.Has(Source))
        return AVIERR_BADHANDLE;
    if (!Options)
        return AVIERR_BADPARAM;
    if (ClassId || !Source->File || Source->HasCompressor)
        return AVIERR_UNSUPPORTED;
    auto stream = std::make_unique<TAVIStream>();
    stream->Options.TimeBase = Source->Options.TimeBase;
    if (const HRESULT result = ReadCompressOptions(*Options, stream->Options))
        return result;
    stream->Source = Source;
    Source->HasCompressor = true;
    ++Source->Refs;
    *Compressed = stream.release();
    Streams.Add(*Compressed);
    return AVIERR_OK;
}

HRESULT AVIStreamSetFormat(PAVISTREAM Stream, LONG Position, void* Format, LONG FormatSize) {
    if (!Streams.Has(Stream))
        return AVIERR_BADHANDLE;
    if (!Stream->Source)
        return AVIERR_UNSUPPORTED;
    if (Stream->Muxer().Failed())
        return AVIERR_FILEWRITE;
    if (Stream->Muxer().HasVideo())
        return AVIERR_UNSUPPORTED;
    if (Position != 0 || !Format)
        return AVIERR_BADPARAM;
    TFrameFormat format;
    if (const HRESULT result = ParseFormat(Format, FormatSize, format))
        return result;
    return StartCompressing(*Stream, format);
}

HRESULT AVIStreamWrite(PAVISTREAM Stream, LONG Start, LONG Samples, void* Buffer, LONG BufferSize, DWORD,
                       LONG* SamplesWritten, LONG* BytesWritten) {
    if (SamplesWritten)
        *SamplesWritten = 0;
    if (BytesWritten)
        *BytesWritten = 0;
    if (!Streams.Has(Stream))
        return AVIERR_BADHANDLE;
    if (const HRESULT result = CheckWrite(*Stream, Start, Samples, Buffer, BufferSize))
        return result;
    LONG bytes = 0;
    const HRESULT result =
        Stream->Encoder->Write(static_cast<const BYTE*>(Buffer), Start, Stream->Muxer(), bytes);
    if (result)
        return result;
    Stream->LastPosition = Start;
    if (SamplesWritten)
        *SamplesWritten = 1;
    if (BytesWritten)
        *BytesWritten = bytes;
    return AVIERR_OK;
}

QString AVIStreamWriteFailure(PAVISTREAM Stream) {
    if (!Streams.Has(Stream) || !Stream->Source || !Stream->Muxer().Failed())
        return {};
    return Stream->Muxer().Failure();
}

LONG AVISaveOptionsFree(int Streams, AVICOMPRESSOPTIONS** Options) {
    for (int i = 0; Options && i < Streams; ++i)
        if (AVICOMPRESSOPTIONS* options = Options[i]) {
            FreeBlock(options->lpFormat, options->cbFormat);
            FreeBlock(options->lpParms, options->cbParms);
        }
    return 0;
}

ULONG AVIFileRelease(PAVIFILE File) {
    if (!Files.Has(File))
        return 0;
    if (--File->Refs > 0)
        return File->Refs;
    Files.Remove(File);
    File->Muxer.Finish();
    delete File;
    return 0;
}

ULONG AVIStreamRelease(PAVISTREAM Stream) {
    if (!Streams.Has(Stream))
        return 0;
    if (--Stream->Refs > 0)
        return Stream->Refs;
    Streams.Remove(Stream);
    std::unique_ptr<TAVIStream> stream(Stream);
    if (stream->Encoder && !stream->Muxer().Failed())
        stream->Encoder->Flush(stream->Muxer());
    stream->Encoder.reset();
    if (stream->Source)
        AVIStreamRelease(stream->Source);
    if (stream->File)
        AVIFileRelease(stream->File);
    return 0;
}

} // namespace win
