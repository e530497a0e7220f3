// The script host's side of bitmaps scripts make: the movie's exported bitmaps, decoded for
// BitmapData.loadBitmap (an image without alpha for an opaque bitmap), and the entries
// attachBitmap puts in clips' display lists.
#include "flash/media/BitmapDecoder.h"
#include "flash/player/ScriptBitmap.h"
#include "flash/player/ScriptHost.h"

namespace flash {

QImage ScriptHost::ExportedBitmap(const QString& linkage) {
    const Movie* movie = state.movie.get();
    if (!movie)
        return {};
    const auto exported = movie->exports.find(linkage.toLower());
    if (exported == movie->exports.end())
        return {};
    const auto found = movie->dictionary.find(exported->second);
    const auto* bitmap = found == movie->dictionary.end() || !found->second
                             ? nullptr
                             : std::get_if<Bitmap>(found->second.get());
    if (!bitmap)
        return {};
    const QImage image = DecodeBitmap(*bitmap, movie->jpegTables);
    // Lossless bitmaps without alpha and JPEGs without an alpha plane are opaque.
    const bool jpeg = bitmap->data.startsWith('\xFF');
    const bool opaque =
        bitmap->kind == Bitmap::Kind::Lossless ? !bitmap->hasAlpha : jpeg && bitmap->alphaData.isEmpty();
    return opaque ? image.convertToFormat(QImage::Format_RGB32) : image;
}

bool ScriptHost::AttachBitmap(const ClipRef& clip, std::shared_ptr<const ShownBitmap> shown, int depth) {
    DisplayList* list = ListOf(clip);
    const int key = depth + ScriptDepthBase;
    if (!list || !shown || depth < 0 || key > 0xFFFF || (list->size() >= MaxListSize && !list->count(key)))
        return false;
    DisplayObject object;
    object.depth = std::uint16_t(key);
    object.duplicate = true; // kept when the timeline goes back, as clips scripts make are
    object.bitmap = std::move(shown);
    if (const auto existing = list->find(object.depth); existing != list->end())
        control.Leave(existing->second);
    (*list)[object.depth] = std::move(object);
    return true;
}

} // namespace flash
