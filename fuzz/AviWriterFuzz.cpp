// An AVI recording as the screen camera makes one, with every choice taken from the input: the
// compressor's code, key frames, frame rate, the frame format (header and colour table as given,
// sizes folded small so that a frame encodes quickly), then up to six frames at chosen positions
// with buffers a little short or long, and the handles released in any order.
#include "fuzz/FuzzTargets.h"

#include "platform/Vfw.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <string>
#include <vector>

using namespace win; // the platform layer's Windows-style names

namespace fuzz {
namespace {

// Sizes beyond the format's limit stay as given, to be refused; the others fold into 64 pixels.
LONG Fold(LONG size) {
    if (size < -8192 || size > 8192 || (size >= -64 && size <= 64))
        return size;
    return size % 64;
}

const char* const ReleaseOrders[] = {"frc", "fcr", "rfc", "rcf", "cfr", "crf"};

} // namespace

int AviWriter(const std::uint8_t* data, std::size_t size) {
    static const QTemporaryDir folder;
    static const QByteArray fileName = QFile::encodeName(folder.filePath(QStringLiteral("fuzz.avi")));
    static const bool initialised = (AVIFileInit(), true);
    (void)initialised;

    Input input(data, size);
    const std::uint8_t flags = input.U8();
    const FOURCC rawHandler = input.U32();
    const FOURCC handlers[] = {MakeFourCC('M', 'S', 'V', 'C'), MakeFourCC('c', 'r', 'a', 'm'), rawHandler, 0};
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = handlers[flags & 3];
    options.dwFlags = (flags & 4) ? AVICOMPRESSF_KEYFRAMES : 0;
    options.dwKeyFrameEvery = input.U8();
    AVISTREAMINFOA info{};
    info.fccType = (flags & 8) ? rawHandler : streamtypeVIDEO;
    info.dwRate = input.U16();
    info.dwScale = input.U16();

    BITMAPINFOHEADER header;
    const QByteArray headerBytes = input.Bytes(sizeof header).leftJustified(sizeof header, '\0');
    std::memcpy(&header, headerBytes.constData(), sizeof header);
    header.biWidth = Fold(header.biWidth);
    header.biHeight = Fold(header.biHeight);
    info.rcFrame = {0, 0, header.biWidth, header.biHeight};
    QByteArray format(reinterpret_cast<const char*>(&header), sizeof header);
    format += input.Bytes(input.U16() % 1100);

    PAVIFILE file = nullptr;
    PAVISTREAM raw = nullptr, compressed = nullptr;
    HRESULT result = AVIFileOpenA(&file, fileName.constData(), OF_WRITE | OF_CREATE, nullptr);
    if (result == AVIERR_OK)
        result = AVIFileCreateStreamA(file, &raw, &info);
    if (result == AVIERR_OK)
        result = AVIMakeCompressedStream(&compressed, raw, &options, nullptr);
    if (result == AVIERR_OK)
        result = AVIStreamSetFormat(compressed, 0, format.data(), LONG(format.size()));
    if (result == AVIERR_OK && header.biWidth > 0 && header.biHeight > 0 && header.biBitCount <= 32) {
        const std::size_t stride = (std::size_t(header.biWidth) * header.biBitCount + 31) / 32 * 4;
        const std::size_t imageSize = stride * std::size_t(header.biHeight);
        LONG position = -1;
        for (int frame = 0; frame < 6 && input.Left() > 0; ++frame) {
            const std::uint8_t step = input.U8();
            // Mostly the next positions, sometimes the same one again or a gap of up to 4080
            // frames. Longer gaps (the writer takes 2^20) only take longer: every empty frame is
            // flushed to the file on its own.
            position += step == 0xFF ? LONG(input.U8()) << 4 : step % 4;
            const int slack = std::int8_t(input.U8()) % 3; // -2..2 bytes around the frame's size
            std::vector<BYTE> pixels(std::size_t(std::max<std::int64_t>(0, std::int64_t(imageSize) + slack)));
            const QByteArray pattern = input.Bytes(16);
            for (std::size_t i = 0; i < pixels.size() && !pattern.isEmpty(); ++i)
                pixels[i] = BYTE(pattern[qsizetype(i % std::size_t(pattern.size()))]);
            LONG samples = 0, bytes = 0;
            (void)AVIStreamWrite(compressed, position, 1, pixels.data(), LONG(pixels.size()), 0, &samples,
                                 &bytes);
        }
    }
    for (const char handle : std::string(ReleaseOrders[(flags >> 4) % 6])) {
        if (handle == 'f' && file)
            AVIFileRelease(file);
        if (handle == 'r' && raw)
            AVIStreamRelease(raw);
        if (handle == 'c' && compressed)
            AVIStreamRelease(compressed);
    }
    return 0;
}

} // namespace fuzz
