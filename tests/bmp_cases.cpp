// The hostile bitmap table: files too short for their headers, every field
// the reader checks set to values on and past each limit, and the accepted
// kinds with the fields that play no part.
#include "bmp_cases.h"

#include "bmp_builder.h"

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace fixtures {

namespace {

template <class F>
Bytes edit(BmpLayout s, F f)
{
    f(s);
    return buildBmp(s);
}

// A run refused before the destination is touched: the console shows the
// usual four lines, then `tail`, and the earlier destination stays.
BitmapCase refused(const std::string &name, const Bytes &file, int status, const std::string &tail,
                   const std::string &path = "map.bmp")
{
    return BitmapCase{name, path, file, status, tail, oldDestination};
}

BitmapCase converts(const std::string &name, const BmpLayout &s, const std::string &path = "map.bmp")
{
    return BitmapCase{name,
                      path,
                      buildBmp(s),
                      0,
                      successTail(s.biBitCount, s.biWidth, s.pixels),
                      expectedDestination(s.biBitCount, s.biWidth, s.pixels)};
}

// Messages as the console shows them: myshutdown adds one newline of its own.
std::string headerMsg(const std::string &path) { return "Error reading " + path + " bitmap header\n\n"; }
const std::string badSig = "input Bitmap file has bad signature\n\n";
const std::string infoMsg = "Error reading input file bitmap info header\n\n";
const std::string sizeMsg = "Unexpected bitmap info header size for input file.\n\n";
const std::string squareMsg = "input bitmap file must be square\n\n";
const std::string compressionMsg = "input bitmap file compression is unsupported.\n\n";
const std::string colorsMsg = "map.bmp bitmap file allocated colors mismatch.\n\n";
const std::string quadMsg = "Error reading color table in image file.\n\n";
const std::string bitsMsg = "map.bmp bitmap file must be 8 or 24 bit\n\n";
const std::string widthMsg = "input bitmap file width must be from 0 to 5792\n\n";
const std::string offsetMsg = "input bitmap file pixel data offset lies inside its headers\n\n";

// Headers accepted, then nothing (or less than nothing) to read.
std::string readFails(int depth, long long width, long long count)
{
    return foundLine(depth, width) + "filesize is " + std::to_string(count) +
           "\nError reading from input file.\n\n";
}

// A 0 x 0 bitmap converts its pixel block, then the writer has 0 bytes to write.
std::string writeFails(int depth, const Bytes &pixels)
{
    const Bytes converted = convertedPixels(depth, pixels);
    return foundLine(depth, 0) + "filesize is " + std::to_string(pixels.size()) + "\n" +
           consoleValues(pixels, 12) + "\n" + consoleValues(converted, 16) +
           "Error writing to output file.\n\n";
}

} // namespace

std::vector<BitmapCase> hostileBitmapCases()
{
    const Bytes s8 = buildBmp(small8());  // 134 bytes, pixels from 118
    std::vector<BitmapCase> c;

    // Files too short for their headers.
    c.push_back(refused("EmptyFile", Bytes{}, 7, headerMsg("map.bmp")));
    c.push_back(refused("Cut13", Bytes(s8.begin(), s8.begin() + 13), 7, headerMsg("map.bmp")));
    c.push_back(refused("Cut14", Bytes(s8.begin(), s8.begin() + 14), 7, infoMsg));
    c.push_back(refused("Cut53", Bytes(s8.begin(), s8.begin() + 53), 7, infoMsg));
    c.push_back(refused("Cut54", Bytes(s8.begin(), s8.begin() + 54), 17, quadMsg));
    c.push_back(refused("Cut57", Bytes(s8.begin(), s8.begin() + 57), 17, quadMsg));
    c.push_back(refused("Short24bitNothingAfterHeaders",
                        edit(small24(), [](BmpLayout &s) { s.pixels = {0x61, 0x62, 0x63}; }), 17,
                        quadMsg));

    // Signature.
    c.push_back(refused("SignatureSwapped", edit(small8(), [](BmpLayout &s) { s.sig = 0x424D; }), 16,
                        badSig));
    c.push_back(refused("SignatureLowerCase", edit(small8(), [](BmpLayout &s) { s.sig = 0x6D62; }),
                        16, badSig));
    c.push_back(refused("SignatureBadIn14Bytes",
                        edit(small8(), [](BmpLayout &s) { s.sig = 0; s.cutAt = 14; }), 16, badSig));
    c.push_back(refused("ShortAndNoSignature", Bytes{'G', 'I', 'F', '8', '9', 'a'}, 7,
                        headerMsg("map.bmp")));
    c.push_back(refused("RawMapNamedLikeBitmap",
                        Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 16, badSig,
                        "terrain.map"));
    c.push_back(refused("ShortRawMapNamedLikeBitmap", Bytes{4, 3, 2, 1}, 7,
                        headerMsg("terrain.map"), "terrain.map"));

    // Information header size: the OS/2 core header and the V4 and V5 headers.
    for (std::uint32_t size : {0u, 12u, 39u, 41u, 56u, 64u, 108u, 124u})
        c.push_back(refused("BiSize" + std::to_string(size),
                            edit(small8(), [size](BmpLayout &s) { s.biSize = size; }), 17, sizeMsg));

    // Shape.
    c.push_back(refused("TopDown", edit(small8(), [](BmpLayout &s) { s.biHeight = -4; }), 17,
                        squareMsg));
    c.push_back(refused("Wide", edit(small8(), [](BmpLayout &s) { s.biHeight = 3; }), 17,
                        squareMsg));
    c.push_back(refused("Tall", edit(small8(), [](BmpLayout &s) { s.biWidth = 3; }), 17, squareMsg));
    c.push_back(refused("TopDownAndOversized",
                        edit(small8(), [](BmpLayout &s) { s.biWidth = 46341; s.biHeight = -46341; }),
                        17, squareMsg));

    // Compression: RLE8, RLE4, bit fields, JPEG, PNG.
    for (std::uint32_t comp : {1u, 2u, 3u, 4u, 5u, 0x80000000u})
        c.push_back(refused("Compression" + std::to_string(comp),
                            edit(small8(), [comp](BmpLayout &s) { s.biCompression = comp; }), 17,
                            compressionMsg));

    // Palette entry count against the room between headers and pixel data.
    // 256 x 256 with a full palette, pixel data from byte 1078.
    const auto palette256 = [](std::uint32_t used) {
        BmpLayout s = small8();
        s.biWidth = s.biHeight = 256;
        s.paletteEntries = 256;
        s.biClrUsed = used;
        s.pixels.resize(256 * 256);
        for (std::size_t i = 0; i < s.pixels.size(); ++i)
            s.pixels[i] = static_cast<unsigned char>((i * 5 + i / 256) % 17);
        return s;
    };
    for (std::uint32_t used : {1u, 15u, 17u, 255u, 257u, 0x12345678u, 0xFFFFFFFFu})
        c.push_back(refused("ClrUsed" + std::to_string(used), buildBmp(palette256(used)), 17,
                            colorsMsg));
    c.push_back(converts("ClrUsed256", palette256(256)));
    c.push_back(converts("ClrUsed0", palette256(0)));
    c.push_back(refused("ClrUsedWithoutPalette24bit",
                        edit(small24(), [](BmpLayout &s) { s.biClrUsed = 1; }), 17, colorsMsg));
    // The palette count wraps for an offset below the headers, so it never matches.
    c.push_back(refused("ClrUsedWithOffBits53",
                        edit(small8(), [](BmpLayout &s) { s.autoOffBits = false; s.offBits = 53; }),
                        17, colorsMsg));

    // Bit counts.
    for (unsigned bits : {0u, 1u, 2u, 4u, 7u, 9u, 16u, 23u, 25u, 32u, 30000u, 65535u})
        c.push_back(refused("BitCount" + std::to_string(bits),
                            edit(small8(), [bits](BmpLayout &s) {
                                s.biBitCount = static_cast<std::uint16_t>(bits);
                            }),
                            17, bitsMsg));

    // The bit count is looked at before the width and the offset.
    c.push_back(refused("BitCount32AndWidth46341",
                        edit(small8(), [](BmpLayout &s) {
                            s.biBitCount = 32;
                            s.biWidth = s.biHeight = 46341;
                        }),
                        17, bitsMsg));

    // Width out of range: the output 2 x w x w would not fit, or would wrap.
    for (std::int32_t w : {5793, 46341, 65536, INT_MAX, -1, -4, INT_MIN})
        c.push_back(refused("Width" + std::string(w < 0 ? "Minus" : "") +
                                std::to_string(w < 0 ? -static_cast<long long>(w) : w),
                            edit(small8(), [w](BmpLayout &s) { s.biWidth = s.biHeight = w; }), 17,
                            widthMsg));
    c.push_back(refused("Width46341In24bit",
                        edit(small24(), [](BmpLayout &s) { s.biWidth = s.biHeight = 46341; }), 17,
                        widthMsg));

    // Pixel data offsets.
    for (std::uint32_t off : {0u, 1u, 14u, 53u})
        c.push_back(refused("OffBits" + std::to_string(off),
                            edit(small8(), [off](BmpLayout &s) {
                                s.autoOffBits = false;
                                s.offBits = off;
                                s.biClrUsed = 0;
                            }),
                            7, offsetMsg));
    const auto offAt = [](std::uint32_t off) {
        return edit(small8(), [off](BmpLayout &s) {
            s.autoOffBits = false;
            s.offBits = off;
            s.biClrUsed = 0;
        });
    };
    c.push_back(refused("OffBitsAtEnd", offAt(134), 7, readFails(8, 4, 0)));
    c.push_back(refused("OffBitsPastEnd", offAt(1000), 7, readFails(8, 4, 134 - 1000)));
    c.push_back(refused("OffBitsFarPastEnd", offAt(0x7FFFFFFFu), 7,
                        readFails(8, 4, 134 - 0x7FFFFFFFLL)));
    c.push_back(refused("OffBitsAllOnes", offAt(0xFFFFFFFFu), 7,
                        readFails(8, 4, 134 - 0xFFFFFFFFLL)));
    // An offset inside the palette is taken as it stands.
    {
        BmpLayout s = small8();
        s.autoOffBits = false;
        s.offBits = 54;
        s.biClrUsed = 0;
        const Bytes file = buildBmp(s);
        const Bytes pixels(file.begin() + 54, file.end());
        c.push_back(BitmapCase{"OffBitsInsidePalette", "map.bmp", file, 0, successTail(8, 4, pixels),
                               expectedDestination(8, 4, pixels)});
    }

    // Empty images.
    c.push_back(refused("ZeroByZeroNoPixels",
                        edit(small8(), [](BmpLayout &s) { s.biWidth = s.biHeight = 0; s.pixels = {}; }),
                        7, readFails(8, 0, 0)));
    c.push_back(refused("ZeroByZeroWithPixels",
                        edit(small8(), [](BmpLayout &s) {
                            s.biWidth = s.biHeight = 0;
                            s.pixels = {9, 12, 4, 7};
                        }),
                        8, writeFails(8, Bytes{9, 12, 4, 7})));
    c.push_back(refused("ZeroByZero24bitFourBytes",
                        edit(small24(), [](BmpLayout &s) {
                            s.biWidth = s.biHeight = 0;
                            s.pixels = {0x21, 0x42, 0x63, 0x84};
                        }),
                        8, writeFails(24, Bytes{0x21, 0x42, 0x63, 0x84})));
    c.push_back(refused("ZeroByZero24bitOffsetAtEnd",
                        edit(small24(), [](BmpLayout &s) {
                            s.biWidth = s.biHeight = 0;
                            s.pixels = {0x21, 0x42, 0x63, 0x84};
                            s.autoOffBits = false;
                            s.offBits = 58;
                        }),
                        7, readFails(24, 0, 0)));

    // Accepted kinds, and fields that play no part.
    c.push_back(converts("Valid8bit", small8()));
    c.push_back(converts("Valid24bit", small24()));
    c.push_back(converts("Valid24bit512", [] {
        BmpLayout s = small24();
        s.biWidth = s.biHeight = 512;
        s.pixels.resize(512 * 512 * 3);
        for (std::size_t i = 0; i < s.pixels.size(); ++i)
            s.pixels[i] = static_cast<unsigned char>(i % 251);
        return s;
    }()));
    c.push_back(converts("UpperCaseName", small8(), "MAP.BMP"));
    c.push_back(converts("BitmapNamedMap", small24(), "terrain.map"));
    c.push_back(converts("PlanesIgnored", [] {
        BmpLayout s = small8();
        s.biPlanes = 7;
        return s;
    }()));
    c.push_back(converts("OneByOne8bit", [] {
        BmpLayout s = small8();
        s.biWidth = s.biHeight = 1;
        s.pixels = {12, 0xEE, 0xDD, 0xCC};  // one code and its row padding
        return s;
    }()));
    c.push_back(converts("ShortPixelBlock24bit", [] {
        BmpLayout s = small24();
        s.pixels = {0x10, 0x20, 0x30, 0x40, 0x50};  // a pixel and a half
        return s;
    }()));
    c.push_back(converts("LongPixelBlock8bit", [] {
        BmpLayout s = small8();
        s.biWidth = s.biHeight = 2;
        s.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};  // more than 2 x 2 x 2 bytes
        return s;
    }()));
    return c;
}

} // namespace fixtures
