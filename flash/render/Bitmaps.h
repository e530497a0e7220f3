#pragma once
// Bitmap characters decoded into images the renderer can paint: JPEG (with the movie's shared
// tables for DefineBits), PNG and GIF inside DefineBitsJPEG2..4, the zlib alpha plane of
// DefineBitsJPEG3/4, and the colour-mapped, 15-bit and 32-bit lossless formats.

#include "flash/swf/SwfModel.h"

#include <QImage>
#include <cstddef>
#include <list>
#include <memory>
#include <unordered_map>

namespace flash {

// Largest bitmap decoded: each side at most MaxBitmapSide pixels and the whole at most
// MaxBitmapPixels (64 MiB as ARGB32). Larger ones, like damaged ones, give a null image.
inline constexpr int MaxBitmapSide = 8192;
inline constexpr qint64 MaxBitmapPixels = qint64(4096) * 4096;

// The bitmap as Format_ARGB32_Premultiplied, or a null image when the data does not decode.
// movieJpegTables is the movie's JPEGTables, used when the bitmap carries no tables of its own.
QImage DecodeBitmap(const Bitmap& bitmap, const QByteArray& movieJpegTables);

// Decoded bitmaps by character, least recently used dropped first once the images pass the byte
// budget. An entry keeps its character alive, so an address is never mistaken for another one.
class BitmapCache {
public:
    explicit BitmapCache(std::size_t byteBudget = std::size_t(256) << 20);

    // The image of a bitmap character; null when the character is no bitmap or does not decode.
    QImage Get(const std::shared_ptr<const Character>& character, const QByteArray& movieJpegTables);
    void Clear();
    std::size_t Bytes() const { return bytes; }

private:
    struct Entry {
        std::shared_ptr<const Character> character;
        QImage image;
    };
    std::size_t budget;
    std::size_t bytes = 0;
    std::list<Entry> entries; // most recently used first
    std::unordered_map<const Character*, std::list<Entry>::iterator> index;
};

} // namespace flash
