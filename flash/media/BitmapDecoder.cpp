#include "flash/media/BitmapDecoder.h"

#include <QBuffer>
#include <QImageReader>
#include <algorithm>
#include <zlib.h>

namespace flash {

namespace {

bool SizeAllowed(qint64 width, qint64 height) {
    return width > 0 && height > 0 && width <= MaxBitmapSide && height <= MaxBitmapSide &&
           width * height <= MaxBitmapPixels;
}

// Exactly `size` bytes inflated from the start of a zlib stream; false when the stream is damaged
// or ends early. Bytes past `size` are ignored (some writers pad).
bool Inflate(const QByteArray& in, qsizetype size, QByteArray& out) {
    out.resize(size);
    if (size == 0)
        return true;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    stream.avail_in = uInt(in.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(size);
    int result = Z_OK;
    while (stream.avail_out > 0 && result == Z_OK)
        result = inflate(&stream, Z_NO_FLUSH);
    const bool complete = stream.avail_out == 0 && (result == Z_OK || result == Z_STREAM_END);
    inflateEnd(&stream);
    return complete;
}

enum class Container { Jpeg, Png, Gif, Unknown };

Container Identify(const QByteArray& data) {
    static const QByteArray pngSignature("\x89PNG\r\n\x1a\n", 8);
    if (data.startsWith(pngSignature))
        return Container::Png;
    if (data.startsWith("GIF89a") || data.startsWith("GIF87a"))
        return Container::Gif;
    if (data.size() >= 2 && std::uint8_t(data[0]) == 0xFF &&
        (std::uint8_t(data[1]) == 0xD8 || std::uint8_t(data[1]) == 0xD9))
        return Container::Jpeg;
    return Container::Unknown;
}

// Copies the marker segments of a JPEG stream, dropping every SOI and EOI: movie files split one
// image over the tables stream and the image stream, and older ones put a stray EOI/SOI pair in
// front of the image. Entropy-coded data after a start of scan is copied up to the next marker.
void AppendSegments(const QByteArray& in, QByteArray& out, bool& hasTables) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(in.constData());
    const qsizetype size = in.size();
    qsizetype pos = 0;
    while (pos + 1 < size) {
        if (data[pos] != 0xFF) {
            ++pos; // junk between segments
            continue;
        }
        const std::uint8_t marker = data[pos + 1];
        if (marker == 0xFF) {
            ++pos; // fill byte
            continue;
        }
        if (marker == 0xD8 || marker == 0xD9 || marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7) ||
            marker == 0x01) {
            pos += 2;
            continue;
        }
        if (pos + 4 > size)
            return;
        const qsizetype length = (qsizetype(data[pos + 2]) << 8) | data[pos + 3];
        if (length < 2 || pos + 2 + length > size)
            return;
        if (marker == 0xDB || marker == 0xC4)
            hasTables = true;
        out.append(in.constData() + pos, 2 + length);
        pos += 2 + length;
        if (marker != 0xDA)
            continue;
        const qsizetype scanStart = pos;
        while (pos + 1 < size) {
            if (data[pos] == 0xFF) {
                const std::uint8_t next = data[pos + 1];
                if (next != 0x00 && !(next >= 0xD0 && next <= 0xD7) && next != 0xFF)
                    break;
            }
            ++pos;
        }
        if (pos + 1 >= size)
            pos = size;
        out.append(in.constData() + scanStart, pos - scanStart);
    }
}

// One clean JPEG stream: SOI, the tables (when the image lacks its own), the image, EOI.
QByteArray MergeJpeg(const QByteArray& image, const QByteArray& tables) {
    QByteArray body;
    bool imageHasTables = false;
    AppendSegments(image, body, imageHasTables);
    QByteArray out("\xFF\xD8", 2);
    if (!imageHasTables && !tables.isEmpty()) {
        bool ignored = false;
        AppendSegments(tables, out, ignored);
    }
    out.append(body);
    out.append("\xFF\xD9", 2);
    return out;
}

QImage ReadImage(const QByteArray& bytes, const char* format) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    const QSize size = reader.size();
    if (size.isValid() && !SizeAllowed(size.width(), size.height()))
        return {};
    QImage image = reader.read();
    if (image.isNull() || !SizeAllowed(image.width(), image.height()))
        return {};
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage DecodeEncoded(const Bitmap& bitmap, const QByteArray& movieJpegTables) {
    switch (Identify(bitmap.data)) {
    case Container::Png:
        return ReadImage(bitmap.data, "PNG");
    case Container::Gif:
        return ReadImage(bitmap.data, "GIF");
    case Container::Unknown:
        return {};
    case Container::Jpeg:
        break;
    }
    const QByteArray& tables = bitmap.jpegTables.isEmpty() ? movieJpegTables : bitmap.jpegTables;
    QImage image = ReadImage(MergeJpeg(bitmap.data, tables), "JPEG");
    if (image.isNull() || bitmap.alphaData.isEmpty())
        return image;
    QByteArray alpha;
    if (!Inflate(bitmap.alphaData, qsizetype(image.width()) * image.height(), alpha))
        return {};
    const auto* a = reinterpret_cast<const std::uint8_t*>(alpha.constData());
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x, ++a) {
            const QRgb p = line[x];
            line[x] = qPremultiply(qRgba(qRed(p), qGreen(p), qBlue(p), *a));
        }
    }
    return image;
}

int Expand5(int v) {
    return (v << 3) | (v >> 2);
}

QImage DecodeLossless(const Bitmap& bitmap) {
    const int width = bitmap.width, height = bitmap.height;
    if (!SizeAllowed(width, height))
        return {};
    const bool alpha = bitmap.hasAlpha;
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    QByteArray raw;
    switch (bitmap.losslessFormat) {
    case 3: {
        const int entries = int(bitmap.colorTableSize) + 1;
        const int entrySize = alpha ? 4 : 3;
        const qsizetype stride = (qsizetype(width) + 3) & ~qsizetype(3);
        const qsizetype tableBytes = qsizetype(entries) * entrySize;
        if (!Inflate(bitmap.data, tableBytes + stride * height, raw))
            return {};
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(raw.constData());
        QRgb table[256];
        std::fill(std::begin(table), std::end(table), QRgb(0));
        for (int i = 0; i < std::min(entries, 256); ++i) {
            const std::uint8_t* e = bytes + qsizetype(i) * entrySize;
            table[i] = qPremultiply(qRgba(e[0], e[1], e[2], alpha ? e[3] : 255));
        }
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* row = bytes + tableBytes + stride * y;
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x)
                line[x] = table[row[x]];
        }
        return image;
    }
    case 4: {
        const qsizetype stride = (qsizetype(width) * 2 + 3) & ~qsizetype(3);
        if (!Inflate(bitmap.data, stride * height, raw))
            return {};
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(raw.constData());
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* row = bytes + stride * y;
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const int v = (row[2 * x] << 8) | row[2 * x + 1];
                line[x] = qRgb(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31));
            }
        }
        return image;
    }
    case 5: {
        const qsizetype stride = qsizetype(width) * 4;
        if (!Inflate(bitmap.data, stride * height, raw))
            return {};
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(raw.constData());
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* p = bytes + stride * y;
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x, p += 4) {
                if (!alpha) {
                    line[x] = qRgb(p[1], p[2], p[3]);
                    continue;
                }
                // Already premultiplied; a colour above its alpha would overflow when blended.
                const int a = p[0];
                line[x] = qRgba(std::min<int>(p[1], a), std::min<int>(p[2], a), std::min<int>(p[3], a), a);
            }
        }
        return image;
    }
    default:
        return {};
    }
}

} // namespace

QImage DecodeBitmap(const Bitmap& bitmap, const QByteArray& movieJpegTables) {
    if (bitmap.kind == Bitmap::Kind::Lossless)
        return DecodeLossless(bitmap);
    return DecodeEncoded(bitmap, movieJpegTables);
}

} // namespace flash
