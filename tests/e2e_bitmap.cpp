// End-to-end runs of the converter on bitmap sources: a table of hostile
// files with the exact console text and status each must end with, byte-exact
// conversions of small files, files written by ImageMagick and GIMP, the example map,
// and the few cases near the 64 MiB buffers.
#include "bmp_builder.h"
#include "bmp_cases.h"
#include "e2e_support.h"
#include "fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

using e2e::Scratch;
using fixtures::BmpLayout;
using fixtures::Bytes;
using fixtures::oldDestination;

namespace {

const std::string &dest = fixtures::defaultDestination;

// The table the unit tests put to the header check, here through the
// real program.
class HostileBitmap : public ::testing::TestWithParam<fixtures::BitmapCase> {};

TEST_P(HostileBitmap, EndsAsExpected)
{
    const fixtures::BitmapCase &k = GetParam();
    Scratch s("bmp-" + k.name);
    s.write(dest, oldDestination);
    s.write(k.path, k.file);

    const e2e::RunResult r = s.run({k.path});

    EXPECT_EQ(r.out, fixtures::traceHead(k.path) + k.tail);
    EXPECT_EQ(r.status, k.status);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.read(dest), k.dest);
    std::vector<std::string> files{dest, k.path};
    std::sort(files.begin(), files.end());
    EXPECT_EQ(s.listing(), files);  // no temporary left behind
}

INSTANTIATE_TEST_SUITE_P(Table, HostileBitmap, ::testing::ValuesIn(fixtures::hostileBitmapCases()),
                         [](const ::testing::TestParamInfo<fixtures::BitmapCase> &c) {
                             return c.param.name;
                         });

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
    BmpLayout layout = fixtures::small24();
    layout.pixels = pixels;
    Scratch s("padded24");
    s.write(dest, oldDestination);
    s.write("map.bmp", fixtures::buildBmp(layout));

    const e2e::RunResult r = s.run({"map.bmp"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, fixtures::traceHead("map.bmp") +
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
    BmpLayout layout = fixtures::small8();
    layout.biWidth = layout.biHeight = 3;
    layout.pixels = {0x10, 0x20, 0x30, 0xF0, 0x40, 0x50, 0x60, 0xF1, 0x70, 0x80, 0x90, 0xF2};
    Scratch s("padded8");
    s.write(dest, oldDestination);
    s.write(fixtures::tableFile, table);
    s.write("map.bmp", fixtures::buildBmp(layout));

    const e2e::RunResult r = s.run({"map.bmp"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, fixtures::pathLines("map.bmp", dest) +
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
    BmpLayout layout = fixtures::small8();
    layout.biWidth = layout.biHeight = 0;
    Scratch s("nodest");
    s.write("map.bmp", fixtures::buildBmp(layout));
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
    s.write(dest, oldDestination);
    s.write(f.file, e2e::readFile(std::string(MATCONV_TEST_DATA) + "/" + f.file));

    const e2e::RunResult r = s.run({f.file});

    EXPECT_EQ(r.out, fixtures::traceHead(f.file) + f.out);
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
                oldDestination}),
    [](const ::testing::TestParamInfo<Fixture> &f) {
        std::string n = f.param.file;
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
            EXPECT_EQ(out[static_cast<std::size_t>(y * 16 + x)],
                      fixtures::builtinCode(static_cast<unsigned char>(code)))
                << "pixel " << x << "," << y;
        }
    }
    EXPECT_TRUE(std::all_of(out.begin() + 256, out.end(), [](unsigned char b) { return b == 0; }));
}

// ---------------------------------------------------------------------------
// Near the 64 MiB buffers: a few large files.

TEST(BitmapLimits, Width5792Converts)
{
    BmpLayout layout = fixtures::small8();
    layout.paletteEntries = 0;
    layout.biClrUsed = 0;
    layout.biWidth = layout.biHeight = 5792;
    layout.pixels = {1, 2, 3, 4, 15, 200};
    Scratch s("w5792");
    s.write(dest, oldDestination);
    s.write("map.bmp", fixtures::buildBmp(layout));

    const e2e::RunResult r = s.run({"map.bmp"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, fixtures::successTrace("map.bmp", 8, 5792, layout.pixels));
    const Bytes out = s.read(dest);
    ASSERT_EQ(out.size(), 67094528u);  // 2 x 5792 x 5792
    EXPECT_EQ(out, fixtures::expectedDestination(8, 5792, layout.pixels));
}

TEST(BitmapLimits, FullBufferWithShortLastPixel)
{
    // 67,108,864 bytes of 24-bit pixel data: 22,369,621 whole pixels and one
    // lone byte, whose missing green counts as 0.
    BmpLayout layout = fixtures::small24();
    layout.biWidth = layout.biHeight = 5792;
    layout.pixels.resize(67108864);
    for (std::size_t i = 0; i < layout.pixels.size(); ++i)
        layout.pixels[i] = static_cast<unsigned char>(i * 7 + i / 251);
    Scratch s("fullbuffer");
    s.write(dest, oldDestination);
    s.write("map.bmp", fixtures::buildBmp(layout));

    const e2e::RunResult r = s.run({"map.bmp"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, fixtures::successTrace("map.bmp", 24, 5792, layout.pixels));
    const Bytes out = s.read(dest);
    ASSERT_EQ(out.size(), 67094528u);
    EXPECT_EQ(out[44739241], layout.pixels[67108861]);  // the last whole pixel's green
    EXPECT_EQ(out[44739243], 0);                      // the lone byte's sample
    EXPECT_EQ(out[44739244], 0);                      // zero fill from here on
    EXPECT_EQ(out, fixtures::expectedDestination(24, 5792, layout.pixels));
}

TEST(BitmapLimits, PixelBlockOverBufferRefused)
{
    BmpLayout layout = fixtures::small8();
    layout.pixels.assign(67108865, 5);
    Scratch s("overbuffer");
    s.write(dest, oldDestination);
    s.write("map.bmp", fixtures::buildBmp(layout));

    const e2e::RunResult r = s.run({"map.bmp"});

    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, fixtures::traceHead("map.bmp") + fixtures::foundLine(8, 4) +
                         "filesize is 67108865\n"
                         "Error: source file exceeds the 67108864-byte limit.\n\n");
    EXPECT_EQ(s.read(dest), oldDestination);
}

} // namespace
