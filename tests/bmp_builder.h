// Bitmap fixtures for the tests: one builder that can set every header field
// to any value, including ones no real writer would produce, and what a run
// on such a file is expected to print and write.  No GoogleTest and no
// harness here: the unit tests build the same files.
//
// Layout written by buildBmp (little-endian, no gaps):
//   14-byte file header   sig, fileSize, res1 = 0, res2 = 0, offBits
//   40-byte info header   biSize ... biClrImportant (always 40 bytes on disk,
//                         whatever biSize claims)
//   palette               paletteEntries x 4 bytes (blue, green, red, 0)
//   pixels                the bytes given, unchanged
//   then the file is cut to cutAt bytes when cutAt is set.
#ifndef MATCONV_TESTS_BMP_BUILDER_H
#define MATCONV_TESTS_BMP_BUILDER_H

#include "fixtures.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fixtures {

// Little-endian appenders.
inline void put16(Bytes &b, std::uint32_t v)
{
    b.push_back(static_cast<unsigned char>(v & 0xFF));
    b.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

inline void put32(Bytes &b, std::uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

struct BmpLayout {
    std::uint16_t sig = 0x4D42;      // "BM"
    std::uint32_t offBits = 0;       // 0 with autoOffBits: headers + palette
    bool autoOffBits = true;
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 4;
    std::int32_t biHeight = 4;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 8;
    std::uint32_t biCompression = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t paletteEntries = 0;
    Bytes pixels;
    std::size_t cutAt = static_cast<std::size_t>(-1);  // keep this many bytes
};

inline std::uint32_t bmpOffBits(const BmpLayout &s)
{
    return s.autoOffBits ? 54u + 4u * s.paletteEntries : s.offBits;
}

inline Bytes buildBmp(const BmpLayout &s)
{
    const std::size_t total = 54 + 4 * static_cast<std::size_t>(s.paletteEntries) + s.pixels.size();
    Bytes b;
    put16(b, s.sig);
    put32(b, static_cast<std::uint32_t>(total));  // fileSize: the program ignores it
    put16(b, 0);
    put16(b, 0);
    put32(b, bmpOffBits(s));
    put32(b, s.biSize);
    put32(b, static_cast<std::uint32_t>(s.biWidth));
    put32(b, static_cast<std::uint32_t>(s.biHeight));
    put16(b, s.biPlanes);
    put16(b, s.biBitCount);
    put32(b, s.biCompression);
    put32(b, static_cast<std::uint32_t>(s.pixels.size()));  // biSizeImage
    put32(b, 2835);                                         // 72 dpi
    put32(b, 2835);
    put32(b, s.biClrUsed);
    put32(b, 0);  // biClrImportant
    for (std::uint32_t i = 0; i < s.paletteEntries; ++i) {
        // Distinct colours, so a palette entry is never mistaken for another.
        b.push_back(static_cast<unsigned char>(i));
        b.push_back(static_cast<unsigned char>(255 - i));
        b.push_back(static_cast<unsigned char>(i * 7 + 3));
        b.push_back(0);
    }
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    if (s.cutAt < b.size())
        b.resize(s.cutAt);
    return b;
}

// A valid 4 x 4 8-bit bitmap with a 16-entry palette: each material code
// 0 to 15 once, in no order, so a swapped row or byte shows.
inline BmpLayout small8()
{
    BmpLayout s;
    s.paletteEntries = 16;
    s.biClrUsed = 16;
    s.pixels = {3, 14, 7, 0, 9, 12, 1, 15, 5, 10, 2, 13, 8, 6, 11, 4};
    return s;
}

// A valid 3 x 3 24-bit bitmap: rows of 9 pixel bytes and 3 padding bytes,
// every byte different.
inline BmpLayout small24()
{
    BmpLayout s;
    s.biWidth = 3;
    s.biHeight = 3;
    s.biBitCount = 24;
    for (int i = 0; i < 36; ++i)
        s.pixels.push_back(static_cast<unsigned char>(0x11 + 7 * i));
    return s;
}

// What the conversion makes of a pixel block: 8-bit codes translated one for
// one, 24-bit pixels as (0, green) pairs, a short last pixel's missing bytes
// taken as 0.
inline Bytes convertedPixels(int depth, const Bytes &pixels)
{
    const std::size_t n = pixels.size();
    Bytes out(depth == 8 ? n : 2 * ((n + 2) / 3));
    if (depth == 8) {
        for (std::size_t x = 0; x < n; ++x)
            out[x] = builtinCode(pixels[x]);
    } else {
        for (std::size_t x = 1, o = 1; x < n; x += 3, o += 2)
            out[o] = pixels[x];  // the low bytes, and a lone byte's sample, stay 0
    }
    return out;
}

// The destination a w x w bitmap must give: the conversion cut or
// zero-filled to 2 x w x w bytes.
inline Bytes expectedDestination(int depth, std::int32_t w, const Bytes &pixels)
{
    Bytes out = convertedPixels(depth, pixels);
    out.resize(2 * static_cast<std::size_t>(w) * static_cast<std::size_t>(w), 0);
    return out;
}

inline std::string foundLine(int depth, long long width)
{
    return "Found a BMP with color depth of " + std::to_string(depth) + " and a width of " +
           std::to_string(width) + "\n";
}

// What a successful run prints after the trace head.
inline std::string successTail(int depth, std::int32_t w, const Bytes &pixels)
{
    // The console shows the conversion before the writer cuts it to size;
    // 24 pixel bytes are enough for its first 16 bytes.
    const Bytes head(pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(
                                                          pixels.size() < 24 ? pixels.size() : 24));
    return foundLine(depth, w) + "filesize is " + std::to_string(pixels.size()) + "\n" +
           consoleValues(pixels, 12) + "\n" + consoleValues(convertedPixels(depth, head), 16) +
           std::to_string(2LL * w * w) + " bytes written\n";
}

// The whole console text of a successful run on the source `path`.
inline std::string successTrace(const std::string &path, int depth, std::int32_t w,
                                const Bytes &pixels)
{
    return traceHead(path) + successTail(depth, w, pixels);
}

} // namespace fixtures

#endif
