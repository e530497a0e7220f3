#pragma once
// Device-independent bitmap records: the header, colour table entries and the packed layout that
// frames are handed around in (header, colour table at 8 bits or fewer, bottom-up rows padded to
// 4 bytes).

#include "platform/MMSystem.h"

namespace win {

constexpr DWORD BI_RGB = 0;

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

// The header followed by its colour table (as many entries as the bitmap uses).
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};
#pragma pack(pop)

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == 4);

// Bytes per row of a packed bitmap: rows are padded to a multiple of 4 bytes. The product is a
// signed 32-bit one and the sum is shifted unsigned, as the packed layout has always been computed.
constexpr DWORD DibStride(LONG Width, WORD Bits) {
    return ((static_cast<DWORD>(Width * Bits) + 31) >> 5) * 4;
}
// Colour table entries of a packed bitmap: 2^bits at 8 bits or fewer, none above.
constexpr DWORD DibColorCount(WORD Bits) {
    return Bits <= 8 ? (DWORD{1} << Bits) : 0;
}

} // namespace win
