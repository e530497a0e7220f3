#pragma once
// Bitmap characters decoded into images: JPEG (with the movie's shared tables for DefineBits), PNG
// and GIF inside DefineBitsJPEG2..4, the zlib alpha plane of DefineBitsJPEG3/4, and the
// colour-mapped, 15-bit and 32-bit lossless formats. Damaged or oversized data gives a null image.

#include "flash/swf/SwfModel.h"

#include <QImage>

namespace flash {

// Largest bitmap decoded: each side at most MaxBitmapSide pixels and the whole at most
// MaxBitmapPixels (64 MiB as ARGB32). Larger ones, like damaged ones, give a null image.
inline constexpr int MaxBitmapSide = 8192;
inline constexpr qint64 MaxBitmapPixels = qint64(4096) * 4096;

// The bitmap as Format_ARGB32_Premultiplied, or a null image when the data does not decode.
// movieJpegTables is the movie's JPEGTables, used when the bitmap carries no tables of its own.
QImage DecodeBitmap(const Bitmap& bitmap, const QByteArray& movieJpegTables);

} // namespace flash
