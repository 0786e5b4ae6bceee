// The one kind of Windows bitmap the converter reads: square, uncompressed,
// 8 or 24 bits per pixel, with the 40-byte information header.
//
//   offset size field            rule
//   -- file header (14 bytes) --
//    0     2   sig              "BM" (0x4D42)
//    2     4   fileSize         ignored
//    6     2   res1, res2       ignored
//   10     4   offBits          file offset of the pixel data, at least 54
//   -- information header (40 bytes, from offset 14) --
//    0     4   biSize           40
//    4     4   biWidth          equals biHeight; 0 to maxBmpWidth
//    8     4   biHeight
//   12     2   biPlanes         ignored
//   14     2   biBitCount       8 or 24
//   16     4   biCompression    0
//   20     4   biSizeImage      ignored
//   24     8   biX/YPelsPerMeter ignored
//   32     4   biClrUsed        0, or (offBits - 54) / 4
//   36     4   biClrImportant   ignored
//
// All fields are little-endian and decoded byte by byte, so neither the
// host's byte order nor its struct packing matters.
#ifndef MATCONV_BMPHEADER_H
#define MATCONV_BMPHEADER_H

#include "common/runstate.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int bidHeaderBytes = 14;
constexpr int bidInfoHeaderBytes = 40;
constexpr int rgbQuadBytes = 4;
constexpr std::uint32_t bmpHeadersBytes = bidHeaderBytes + bidInfoHeaderBytes;

// Bytes the checks look at: both headers and the first palette entry, whose
// presence shows that the file goes on past its headers.
constexpr std::size_t bmpCheckedBytes = bmpHeadersBytes + rgbQuadBytes;

// The widest square whose 16-bit output (2 x w x w bytes) fits the buffer.
#define MATCONV_MAX_BMP_WIDTH 5792
constexpr std::int32_t maxBmpWidth = MATCONV_MAX_BMP_WIDTH;
static_assert(2LL * maxBmpWidth * maxBmpWidth <= bufferSize &&
                  2LL * (maxBmpWidth + 1) * (maxBmpWidth + 1) > bufferSize,
              "maxBmpWidth is the widest square whose output fits the buffer");

struct _bidHeader {
    std::uint16_t sig;
    std::uint32_t fileSize;
    std::uint16_t res1;
    std::uint16_t res2;
    std::uint32_t offBits;
};

struct _bidInfoHeader {
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};

struct _rgbQuad {
    unsigned char rgbBlue;
    unsigned char rgbGreen;
    unsigned char rgbRed;
    unsigned char rgbReserved;
};

// Pure decoders of the on-disk records.
_bidHeader decodeBidHeader(const unsigned char *bytes);
_bidInfoHeader decodeBidInfoHeader(const unsigned char *bytes);
_rgbQuad decodeRgbQuad(const unsigned char *bytes);

// Palette entries implied by offBits, in unsigned 32-bit arithmetic.
std::uint32_t bmpNumColors(const _bidHeader &header);
// 1 when a bitmap of this width fits the output buffer.
int bmpWidthFits(std::int32_t width);

// A reason to refuse a bitmap: the exit status and the message, in which a
// "%s" stands for the source path.  A status of 0 is no fault.
struct BmpFault {
    int status;
    const char *message;
};

// The first fault of a bitmap file that begins with `have` bytes (only the
// first bmpCheckedBytes of them count), in the order a reader meets them:
// the file header, its signature, the information header and its fields,
// the first palette entry, then the bit count, the width and the pixel data
// offset.  No I/O: the caller has read the bytes.
BmpFault bmpHeaderFault(const unsigned char *bytes, std::size_t have);

// Reads and checks both headers of the open source at position 0, sets depth,
// res and isBmp, and leaves the file at the pixel data.  Faults end the run.
void loadBmpHeader(std::FILE *fp);

#endif
