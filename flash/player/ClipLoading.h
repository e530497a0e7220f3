#pragma once
// Movies that scripts load next to the played movie (loadMovie, loadMovieNum, MovieClipLoader):
// where a script's address leads, and a loaded movie's characters taken into the played movie's
// library under ids of their own, with its main timeline as a sprite.
//
// Only files are read, never the network: an address with a scheme ("http:", "file:"), an absolute
// path, or a path leaving the played movie's folder (also through a link) is refused with the
// reason. A query ("?a=1") is ignored. A movie taking more ids than the library has free is refused;
// inside it, an id it does not define leads to nothing.

#include "flash/swf/SwfModel.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace flash {

// The clip event that answers loaded data (onClipEvent(data)), as the placement's event bits hold it.
constexpr std::uint32_t ClipEventData = 0x100;

// The file an address names, or why it is refused.
struct MovieAddress {
    QString file; // canonical path; empty when refused
    QString error;
};
MovieAddress LocalMovieFile(const QString& playedFile, const QString& address);

struct ImportedMovie {
    std::shared_ptr<const Movie> library;  // the library's characters and the loaded ones
    std::shared_ptr<const Character> root; // a Sprite: the loaded movie's main timeline
    std::uint16_t rootId = 0;
    double fileBytes = 0; // the file's size, as loaders report progress
};
// Nothing, with error set, when the library has too few free ids.
std::optional<ImportedMovie> ImportMovie(const Movie& library, const Movie& loaded, QString& error);

} // namespace flash
