#pragma once
// Reads a movie file (.swf: uncompressed FWS, zlib CWS or LZMA ZWS) into the model of SwfModel.h.
//
// Damaged files never crash, hang or take unbounded memory:
// - A bad header is fatal: the result holds no movie and a one-line error ("not a Flash movie",
//   "truncated", "compressed data is damaged", a limit below).
// - A character tag that does not parse is left out of the dictionary; a control tag that does not
//   parse is left out of its frame. Either is noted on standard error once per kind and read, and in
//   ReadResult::warnings.
// - The tag stream stops where the data stops: a tag whose length runs past the end is dropped with
//   everything after it, and the frames read so far are kept (a note says the movie is truncated).
//   Control tags after the last ShowFrame form a last frame of their own. Compressed data that is
//   cut short or damaged part-way is treated the same way once the header is complete.
// - The header's FileLength is a hint for zlib data (the stream's own end counts). For LZMA data it
//   is where decoding stops, as movie LZMA streams need carry no end marker; a FileLength past the
//   limit counts as unknown, and the data's end (or its end marker) ends the movie.
// - The header's frame count allocates nothing: Timeline::frames holds the frames the file has.
// - A shape whose records end with its tag, without an end record, keeps the edges read.
// Character tags this reader does not parse (video streams, binary data) are kept as
// RawCharacter with the whole tag body, character id included. DefineFontInfo 1 and 2 complete the
// font they name, DefineButtonSound and DefineButtonCxform the button defined before them. ActionScript 3
// code blocks (DoABC, DoABCDefine) and SymbolClass bindings go into the movie (Movie::abcFiles,
// symbolClasses); a damaged block is left out whole with a warning. Other known tags (actions, font
// extras, video frames, file attributes, metadata) go into their frame as OtherTag. Unknown tags are skipped.
// The first definition of a character id counts. Strings are UTF-8 from version 6 on, Latin-1 before.

#include "flash/swf/SwfModel.h"

#include <QString>
#include <QStringList>
#include <cstddef>
#include <memory>

namespace flash {

struct ReadLimits {
    // Uncompressed movie, header included; also the largest file ReadMovieFile opens.
    std::size_t maxMovieBytes = std::size_t(256) << 20;
    // Parsed structures (edges, styles, control tags, frames); byte data is bounded by the movie.
    std::size_t maxModelBytes = std::size_t(512) << 20;
    // Any one list of the model, so that no single allocation grows past twice this.
    std::size_t maxListBytes = std::size_t(128) << 20;
    // Stage width and height in pixels, far above what authoring tools make.
    int maxStagePixels = 20000;
    // Sprites defined inside sprites; deeper ones are skipped.
    int maxSpriteNesting = 16;
};

struct ReadResult {
    std::shared_ptr<Movie> movie; // null on a fatal error
    QString error;                // set when movie is null
    QStringList warnings;         // what was skipped or cut, one line per kind
};

ReadResult ReadMovie(const QByteArray& fileBytes, const ReadLimits& limits = {});
ReadResult ReadMovieFile(const QString& fileName, const ReadLimits& limits = {});

// The header alone (version, compression, fileLength, frameSize, frameRate, timeline.frameCount)
// from the start of a file; decompresses only the few bytes it needs.
ReadResult ReadHeaderOnly(const QByteArray& fileBytes, const ReadLimits& limits = {});
ReadResult ReadHeaderOnlyFile(const QString& fileName, const ReadLimits& limits = {});

} // namespace flash
