// End-to-end runs of the converter on bitmap sources: a table of hostile
// files with the exact console text and status each must end with, byte-exact
// conversions of small files, files written by ImageMagick and GIMP, the example map,
// and the few cases near the 64 MiB buffers.
#include "e2e_bitmap.h"
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <ostream>
#include <string>
#include <vector>

using e2e::BmpLayout;
using e2e::Bytes;
using e2e::Scratch;

namespace {

const char *const dest = "HeightmapPrimary.mat";

template <class F>
Bytes edit(BmpLayout s, F f)
{
    f(s);
    return e2e::buildBmp(s);
}

struct Case {
    std::string name;
    std::string path;
    Bytes file;
    int status;
    std::string out;  // the whole console text
    Bytes dest;       // what the destination must hold afterwards
};

// A run refused before the destination is touched: the console shows the
// usual four lines, then `tail`, and the earlier destination stays.
Case refused(const std::string &name, const Bytes &file, int status, const std::string &tail,
             const std::string &path = "map.bmp")
{
    return Case{name, path, file, status, e2e::traceHead(path) + tail, e2e::precious()};
}

Case converts(const std::string &name, const BmpLayout &s, const std::string &path = "map.bmp")
{
    return Case{name,
                path,
                e2e::buildBmp(s),
                0,
                e2e::successTrace(path, s.biBitCount, s.biWidth, s.pixels),
                e2e::expectedDestination(s.biBitCount, s.biWidth, s.pixels)};
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
    return e2e::foundLine(depth, width) + "filesize is " + std::to_string(count) +
           "\nError reading from input file.\n\n";
}

// A 0 x 0 bitmap converts its pixel block, then the writer has 0 bytes to write.
std::string writeFails(int depth, const Bytes &pixels)
{
    const Bytes converted = e2e::convertedPixels(depth, pixels);
    return e2e::foundLine(depth, 0) + "filesize is " + std::to_string(pixels.size()) + "\n" +
           e2e::consoleValues(pixels, 12) + "\n" + e2e::consoleValues(converted, 16) +
           "Error writing to output file.\n\n";
}

std::vector<Case> hostileCases()
{
    using e2e::small24;
    using e2e::small8;
    const Bytes s8 = e2e::buildBmp(small8());  // 134 bytes, pixels from 118
    std::vector<Case> c;

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
        c.push_back(refused("ClrUsed" + std::to_string(used), e2e::buildBmp(palette256(used)), 17,
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
        const Bytes file = e2e::buildBmp(s);
        const Bytes pixels(file.begin() + 54, file.end());
        c.push_back(Case{"OffBitsInsidePalette", "map.bmp", file, 0,
                         e2e::successTrace("map.bmp", 8, 4, pixels),
                         e2e::expectedDestination(8, 4, pixels)});
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

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class HostileBitmap : public ::testing::TestWithParam<Case> {};

TEST_P(HostileBitmap, EndsAsExpected)
{
    const Case &k = GetParam();
    Scratch s("bmp-" + k.name);
    s.write(dest, e2e::precious());
    s.write(k.path, k.file);

    const e2e::RunResult r = s.run({k.path});

    EXPECT_EQ(r.out, k.out);
    EXPECT_EQ(r.status, k.status);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.read(dest), k.dest);
    std::vector<std::string> files{dest, k.path};
    std::sort(files.begin(), files.end());
    EXPECT_EQ(s.listing(), files);  // no temporary left behind
}

INSTANTIATE_TEST_SUITE_P(Table, HostileBitmap, ::testing::ValuesIn(hostileCases()),
                         [](const ::testing::TestParamInfo<Case> &info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Byte-exact conversions, with expectations written out by hand.

TEST(BitmapBytes, Padded3x3TwentyFourBit)
{
    // Rows of 3 pixels (9 bytes) and 3 padding bytes, bottom row first.  Every
    // byte differs, so taking blue or red, or skipping the padding, fails.
    const Bytes pixels{
        0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0xA1, 0xA2, 0xA3,
        0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0xB1, 0xB2, 0xB3,
        0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0xC1, 0xC2, 0xC3,
    };
    BmpLayout layout = e2e::small24();
    layout.pixels = pixels;
    Scratch s("padded24");
    s.write(dest, e2e::precious());
    s.write("map.bmp", e2e::buildBmp(layout));

    const e2e::RunResult r = s.run({"map.bmp"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, e2e::traceHead("map.bmp") +
                         "Found a BMP with color depth of 24 and a width of 3\n"
                         "filesize is 36\n"
                         "1 2 3 4 5 6 7 8 9 161 162 163 \n"
                         "0 2 0 5 0 8 0 162 0 18 0 21 0 24 0 178 18 bytes written\n");
    // Nine samples of 3 bytes each, padding included, in file order: the
    // fourth is the first row's padding, the rest of the file is cut.
    EXPECT_EQ(s.read(dest), (Bytes{0x00, 0x02, 0x00, 0x05, 0x00, 0x08, 0x00, 0xA2, 0x00, 0x12,
                                   0x00, 0x15, 0x00, 0x18, 0x00, 0xB2, 0x00, 0x22}));
}

TEST(BitmapBytes, Padded3x3EightBitThroughTableFile)
{
    // A full table of distinct codes shows every pixel byte's own position.
    Bytes table;
    for (int i = 0; i < 256; ++i)
        table.push_back(static_cast<unsigned char>(255 - i));
    BmpLayout layout = e2e::small8();
    layout.biWidth = layout.biHeight = 3;
    layout.pixels = {0x10, 0x20, 0x30, 0xF0, 0x40, 0x50, 0x60, 0xF1, 0x70, 0x80, 0x90, 0xF2};
    Scratch s("padded8");
    s.write(dest, e2e::precious());
    s.write("conversiontable.hex", table);
    s.write("map.bmp", e2e::buildBmp(layout));

    const e2e::RunResult r = s.run({"map.bmp"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "map.bmp is the inpath\n"
                     "HeightmapPrimary.mat is the outpath\n"
                     "tablesize is 256\n"
                     "found 1 file to open\n"
                     "Found a BMP with color depth of 8 and a width of 3\n"
                     "filesize is 12\n"
                     "16 32 48 240 64 80 96 241 112 128 144 242 \n"
                     "239 223 207 15 191 175 159 14 143 127 111 13 0 0 0 0 18 bytes written\n");
    // Twelve translated bytes, padding and bottom-up order kept, then zeros
    // up to 2 x 3 x 3.
    EXPECT_EQ(s.read(dest), (Bytes{0xEF, 0xDF, 0xCF, 0x0F, 0xBF, 0xAF, 0x9F, 0x0E, 0x8F, 0x7F,
                                   0x6F, 0x0D, 0, 0, 0, 0, 0, 0}));
}

TEST(BitmapBytes, NoDestinationBeforeAFailedWrite)
{
    // A 0 x 0 bitmap with pixel bytes fails in the writer; with no earlier
    // destination, none is left.
    BmpLayout layout = e2e::small8();
    layout.biWidth = layout.biHeight = 0;
    Scratch s("nodest");
    s.write("map.bmp", e2e::buildBmp(layout));
    const e2e::RunResult r = s.run({"map.bmp"});
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(s.listing(), (std::vector<std::string>{"map.bmp"}));
}

// ---------------------------------------------------------------------------
// Files written by ImageMagick and GIMP (tests/data/make-fixtures.sh made them).

struct Fixture {
    const char *file;
    int status;
    std::string out;
    Bytes dest;
};

void PrintTo(const Fixture &f, std::ostream *os) { *os << f.file; }

class ForeignBitmap : public ::testing::TestWithParam<Fixture> {};

TEST_P(ForeignBitmap, ConvertsOrIsRefused)
{
    const Fixture &f = GetParam();
    Scratch s(std::string("im-") + f.file);
    s.write(dest, e2e::precious());
    s.write(f.file, e2e::readFile(std::string(MATCONV_TEST_DATA) + "/" + f.file));

    const e2e::RunResult r = s.run({f.file});

    EXPECT_EQ(r.out, e2e::traceHead(f.file) + f.out);
    EXPECT_EQ(r.status, f.status);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.read(dest), f.dest);
}

// Both programs write the same pixel bytes for the same pictures, so the
// expectations are shared.
//
// 5 x 5 codes 0..24 as pixel values, rows padded to 8, bottom row first;
// codes from 16 on translate to 0.
const std::string codesOut = "Found a BMP with color depth of 8 and a width of 5\n"
                             "filesize is 40\n"
                             "20 21 22 23 24 0 0 0 15 16 17 18 \n"
                             "0 0 0 0 0 0 0 0 4 0 0 0 0 0 0 0 50 bytes written\n";
const Bytes codesDest{0, 0, 0,  0, 0, 0, 0, 0,  //
                      4, 0, 0,  0, 0, 0, 0, 0,  //
                      2, 2, 12, 2, 8, 0, 0, 0,  //
                      8, 9, 7,  3, 3, 0, 0, 0,  //
                      0, 1, 6,  5, 8, 0, 0, 0,  //
                      0, 0, 0,  0, 0, 0, 0, 0, 0, 0};
// 3 x 3 true colour, rows of 9 bytes padded to 12.
const std::string coloursOut = "Found a BMP with color depth of 24 and a width of 3\n"
                               "filesize is 36\n"
                               "210 200 190 240 230 220 15 5 250 0 0 0 \n"
                               "0 200 0 230 0 5 0 0 0 110 0 140 0 170 0 0 18 bytes written\n";
const Bytes coloursDest{0, 200, 0, 230, 0, 5, 0, 0, 0, 110, 0, 140, 0, 170, 0, 0, 0, 20};

INSTANTIATE_TEST_SUITE_P(
    Files, ForeignBitmap,
    ::testing::Values(
        Fixture{"im-indexed8.bmp", 0, codesOut, codesDest},
        Fixture{"im-rgb24.bmp", 0, coloursOut, coloursDest},
        Fixture{"gimp-gray8.bmp", 0, codesOut, codesDest},
        Fixture{"gimp-rgb24.bmp", 0, coloursOut, coloursDest},
        // ImageMagick's default bitmap carries colour-space data in a
        // 124-byte header.
        Fixture{"im-default.bmp", 17, "Unexpected bitmap info header size for input file.\n\n",
                e2e::precious()}),
    [](const ::testing::TestParamInfo<Fixture> &info) {
        std::string n = info.param.file;
        n.erase(std::remove_if(n.begin(), n.end(),
                               [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); }),
                n.end());
        return n;
    });

// ---------------------------------------------------------------------------
// The example map in examples/.

TEST(ExampleBitmap, ConvertsEveryMaterialCode)
{
    Scratch s("example-convert");
    s.write("materialmap.bmp", e2e::readFile(std::string(MATCONV_EXAMPLES) + "/materialmap.bmp"));
    const e2e::RunResult r = s.run({"materialmap.bmp", "materialmap.mat"});
    ASSERT_EQ(r.status, 0) << r.out;
    const Bytes out = s.read("materialmap.mat");
    ASSERT_EQ(out.size(), 2u * 16 * 16);
    // 4 x 4 blocks of 4 x 4 pixels: code = block row x 4 + block column, the
    // bottom block row first; the second half is zero fill.
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const int code = (y / 4) * 4 + x / 4;
            EXPECT_EQ(out[static_cast<std::size_t>(y * 16 + x)], e2e::builtinCode(static_cast<unsigned char>(code)))
                << "pixel " << x << "," << y;
        }
    }
    EXPECT_TRUE(std::all_of(out.begin() + 256, out.end(), [](unsigned char b) { return b == 0; }));
}

// ---------------------------------------------------------------------------
// Near the 64 MiB buffers: a few large files.

TEST(BitmapLimits, Width5792Converts)
{
    BmpLayout layout = e2e::small8();
    layout.paletteEntries = 0;
    layout.biClrUsed = 0;
    layout.biWidth = layout.biHeight = 5792;
    layout.pixels = {1, 2, 3, 4, 15, 200};
    Scratch s("w5792");
    s.write(dest, e2e::precious());
    s.write("map.bmp", e2e::buildBmp(layout));

    const e2e::RunResult r = s.run({"map.bmp"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, e2e::successTrace("map.bmp", 8, 5792, layout.pixels));
    const Bytes out = e2e::readWhole((s / dest).string());
    ASSERT_EQ(out.size(), 67094528u);  // 2 x 5792 x 5792
    EXPECT_EQ(out, e2e::expectedDestination(8, 5792, layout.pixels));
}

TEST(BitmapLimits, FullBufferWithShortLastPixel)
{
    // 67,108,864 bytes of 24-bit pixel data: 22,369,621 whole pixels and one
    // lone byte, whose missing green counts as 0.
    BmpLayout layout = e2e::small24();
    layout.biWidth = layout.biHeight = 5792;
    layout.pixels.resize(67108864);
    for (std::size_t i = 0; i < layout.pixels.size(); ++i)
        layout.pixels[i] = static_cast<unsigned char>(i * 7 + i / 251);
    Scratch s("fullbuffer");
    s.write(dest, e2e::precious());
    s.write("map.bmp", e2e::buildBmp(layout));

    const e2e::RunResult r = s.run({"map.bmp"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, e2e::successTrace("map.bmp", 24, 5792, layout.pixels));
    const Bytes out = e2e::readWhole((s / dest).string());
    ASSERT_EQ(out.size(), 67094528u);
    EXPECT_EQ(out[44739241], layout.pixels[67108861]);  // the last whole pixel's green
    EXPECT_EQ(out[44739243], 0);                      // the lone byte's sample
    EXPECT_EQ(out[44739244], 0);                      // zero fill from here on
    EXPECT_EQ(out, e2e::expectedDestination(24, 5792, layout.pixels));
}

TEST(BitmapLimits, PixelBlockOverBufferRefused)
{
    BmpLayout layout = e2e::small8();
    layout.pixels.assign(67108865, 5);
    Scratch s("overbuffer");
    s.write(dest, e2e::precious());
    s.write("map.bmp", e2e::buildBmp(layout));

    const e2e::RunResult r = s.run({"map.bmp"});

    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, e2e::traceHead("map.bmp") + e2e::foundLine(8, 4) +
                         "filesize is 67108865\n"
                         "Error: source file exceeds the 67108864-byte limit.\n\n");
    EXPECT_EQ(s.read(dest), e2e::precious());
}

} // namespace
