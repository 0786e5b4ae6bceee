// The preview: a picture of the converted map, one colour per material code,
// as an uncompressed 8-bit indexed Windows bitmap of the one kind the source
// loader accepts, so that any viewer opens it and matconv itself reads it
// back.  Only the bytes are built here; the writer puts them in a file.
//
// File layout for a map of width w (every field little-endian):
//   file header (14)      "BM", fileSize = the file's length, 0, 0,
//                         offBits = previewPixelOffset (1078)
//   info header (40)      biSize 40, w x w (positive height: bottom row
//                         stored first), 1 plane, 8 bits, no compression,
//                         biSizeImage = the padded pixel bytes,
//                         0 pixels per metre both ways, biClrUsed 256,
//                         biClrImportant 0
//   palette (256 x 4)     blue, green, red, 0
//   pixels                w rows of previewRowBytes(w) bytes, each padded
//                         with zero bytes to a multiple of 4
//
// The picture shows the destination's first row at the top, as a viewer of
// raw files shows it; the file therefore stores the destination's rows last
// row first.
#ifndef MATCONV_PREVIEW_H
#define MATCONV_PREVIEW_H

#include "common/runstate.h"
#include "source/bmpheader.h"

#include <cstddef>
#include <cstdint>

// What the pixel indices stand for, and so which palette the picture gets.
enum PreviewKind {
    previewCodes,  // one byte per texel, a material code
    previewGray    // a 16-bit sample per texel, shown by its high byte as gray
};

constexpr int previewPaletteEntries = tableEntries;
constexpr std::size_t previewPaletteBytes = static_cast<std::size_t>(previewPaletteEntries) * rgbQuadBytes;
constexpr std::uint32_t previewPixelOffset = bmpHeadersBytes + static_cast<std::uint32_t>(previewPaletteBytes);

// The largest integer whose square is at most n (n >= 0).
constexpr std::int32_t squareRootFloor(std::int32_t n)
{
    long long lo = 0;
    long long hi = n;
    while (lo < hi) {
        const long long mid = lo + (hi - lo + 1) / 2;
        if (mid * mid <= n)
            lo = mid;
        else
            hi = mid - 1;
    }
    return static_cast<std::int32_t>(lo);
}

// The widest square map a raw source can hold: one byte per texel, the whole
// buffer.  A preview row never holds more pixels than this.
constexpr std::int32_t maxPreviewWidth = squareRootFloor(bufferSize);
static_assert(maxPreviewWidth >= maxBmpWidth, "a bitmap's preview is never wider than a raw map's");

// Why a map has no preview.  previewFine is none.
enum PreviewFault {
    previewFine,
    previewNotSquare,  // a raw source whose size is not a square number
    previewNoWidth     // a map of width 0
};

// The preview's width for a source: res for a bitmap, the square root of
// the size for a raw source.  Sets *width, or gives the reason there is none.
PreviewFault previewWidth(int bitmap, std::int32_t bitmapWidth, std::int32_t rawSize, std::int32_t *width);

// Bytes in one stored row: w pixels and the zero padding to a multiple of 4.
constexpr std::int32_t previewRowBytes(std::int32_t w) { return (w + 3) / 4 * 4; }
// Bytes of the whole file for width w.
std::int64_t previewFileBytes(std::int32_t w);

// The header records of a w x w preview.
_bidHeader previewFileHeader(std::int32_t w);
_bidInfoHeader previewInfoHeader(std::int32_t w);

// Encoders of the records into their on-disk bytes (bidHeaderBytes and
// bidInfoHeaderBytes of them), the reverse of the bitmap reader's decoders.
void encodeBidHeader(const _bidHeader &header, unsigned char *bytes);
void encodeBidInfoHeader(const _bidInfoHeader &header, unsigned char *bytes);

// Both headers of a w x w preview, bmpHeadersBytes bytes.
void previewHeaders(std::int32_t w, unsigned char *bytes);

// The palette entries of each kind, previewPaletteBytes bytes.
void previewPalette(PreviewKind kind, unsigned char *bytes);

// The bytes the destination holds for each pixel: one for codes, two for
// gray samples (the index is the second, high byte).
int previewSampleBytes(PreviewKind kind);

// Stored row `stored` (0 is the first in the file, the bottom of the
// picture) of a w x w preview of the destination bytes `destination`, padded:
// previewRowBytes(w) bytes.  The destination must hold w x w samples.
void previewRow(const unsigned char *destination, std::int32_t w, std::int32_t stored, PreviewKind kind,
                unsigned char *row);

#endif
