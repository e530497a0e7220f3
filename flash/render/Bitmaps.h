#pragma once
// Bitmap characters decoded (flash/media/BitmapDecoder.h) into images the renderer paints, kept
// within a byte budget.

#include "flash/media/BitmapDecoder.h"
#include "flash/swf/SwfModel.h"

#include <QImage>
#include <cstddef>
#include <list>
#include <memory>
#include <unordered_map>

namespace flash {

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
