#include "flash/render/Bitmaps.h"

namespace flash {

BitmapCache::BitmapCache(std::size_t byteBudget) : budget(byteBudget) {}

QImage BitmapCache::Get(const std::shared_ptr<const Character>& character,
                        const QByteArray& movieJpegTables) {
    if (!character)
        return {};
    if (auto found = index.find(character.get()); found != index.end()) {
        entries.splice(entries.begin(), entries, found->second);
        return found->second->image;
    }
    const auto* bitmap = std::get_if<Bitmap>(character.get());
    if (!bitmap)
        return {};
    QImage image = DecodeBitmap(*bitmap, movieJpegTables);
    // Failures are kept too, so a damaged bitmap is not decoded again every frame.
    entries.push_front(Entry{character, image});
    index[character.get()] = entries.begin();
    bytes += std::size_t(image.sizeInBytes());
    while (bytes > budget && entries.size() > 1) {
        const Entry& last = entries.back();
        bytes -= std::size_t(last.image.sizeInBytes());
        index.erase(last.character.get());
        entries.pop_back();
    }
    return image;
}

void BitmapCache::Clear() {
    entries.clear();
    index.clear();
    bytes = 0;
}

} // namespace flash
