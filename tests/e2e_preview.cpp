// End-to-end runs with "--preview": the picture's exact bytes for small
// maps of every source kind, a round trip through matconv itself, a reader
// of the picture written here from the format alone, and every refusal,
// each of which must keep the old destination and the old preview byte for
// byte and leave no temporary.
#include "bmp_builder.h"
#include "e2e_support.h"
#include "fixtures.h"
#include "host_only.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using e2e::Bytes;
using e2e::Scratch;

namespace {

using fixtures::builtinTable;
using fixtures::defaultSource;
using fixtures::identityTable;
using fixtures::noTable;
using fixtures::oldDestination;
using fixtures::pathLines;
const std::string &defaultDest = fixtures::defaultDestination;
const std::string fullTable = "tablesize is 256\n";

// What the preview held before a run; refusals keep it, as they keep the
// old destination.
const Bytes oldPreview = {'B', 'M', 'o', 'l', 'd'};

// The preview's colours, red-green-blue, of the codes 0 to 15, and of
// every other code.
constexpr std::array<std::uint32_t, 16> legend = {
    0x3b3b3b, 0xf3c300, 0x875692, 0xf38400, 0xa1caf1, 0xbe0032, 0xc2b280, 0x848482,
    0x008856, 0xe68fac, 0x0067a5, 0xf99379, 0x604e97, 0xf6a600, 0xb3446c, 0xdcd300,
};
constexpr std::uint32_t warning = 0xff00ff;

std::uint32_t codeColour(unsigned code) { return code < legend.size() ? legend[code] : warning; }

Bytes counting(std::size_t n, unsigned first = 0)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>(first + i);
    return b;
}

// n values as the trace prints them, "%d " each, bytes past the end as 0.
std::string values(const Bytes &b, std::size_t n) { return fixtures::consoleValues(b, n); }

Bytes translated(const Bytes &codes, const Bytes &table)
{
    Bytes out;
    for (unsigned char c : codes)
        out.push_back(c < table.size() ? table[c] : (c < builtinTable.size() ? builtinTable[c] : 0));
    return out;
}

// The picture as a viewer shows it: w rows from the top, w indices each.
using Picture = std::vector<Bytes>;

// The destination's first w x w samples, its first row at the top; a gray
// picture takes each 16-bit sample's high byte.
Picture pictureOf(const Bytes &destination, std::size_t w, bool gray)
{
    const std::size_t step = gray ? 2 : 1;
    Picture p(w, Bytes(w));
    for (std::size_t y = 0; y < w; ++y) {
        for (std::size_t x = 0; x < w; ++x)
            p[y][x] = destination.at((y * w + x) * step + (gray ? 1 : 0));
    }
    return p;
}

// The preview file for a picture, field by field.
Bytes previewFile(const Picture &picture, bool gray)
{
    const std::uint32_t w = static_cast<std::uint32_t>(picture.size());
    const std::uint32_t rowBytes = (w + 3) / 4 * 4;
    Bytes b = {'B', 'M'};
    fixtures::put32(b, 1078 + rowBytes * w);
    fixtures::put32(b, 0);
    fixtures::put32(b, 1078);
    for (std::uint32_t v : {40u, w, w})
        fixtures::put32(b, v);
    fixtures::put16(b, 1);
    fixtures::put16(b, 8);
    for (std::uint32_t v : {0u, rowBytes * w, 0u, 0u, 256u, 0u})
        fixtures::put32(b, v);
    for (unsigned i = 0; i < 256; ++i) {
        const std::uint32_t rgb = gray ? i * 0x010101u : codeColour(i);
        b.push_back(static_cast<unsigned char>(rgb & 0xFF));
        b.push_back(static_cast<unsigned char>((rgb >> 8) & 0xFF));
        b.push_back(static_cast<unsigned char>(rgb >> 16));
        b.push_back(0);
    }
    // Bottom row first.
    for (std::size_t y = w; y-- > 0;) {
        b.insert(b.end(), picture[y].begin(), picture[y].end());
        b.resize(b.size() + (rowBytes - w), 0);
    }
    return b;
}

// A bitmap source: 8-bit with a 256-entry gray palette, or 24-bit; the
// pixel bytes are given as stored, padding included.
Bytes bitmapSource(std::uint32_t w, int bits, const Bytes &pixels)
{
    const std::uint32_t offBits = bits == 8 ? 1078 : 54;
    Bytes b = {'B', 'M'};
    fixtures::put32(b, offBits + static_cast<std::uint32_t>(pixels.size()));
    fixtures::put32(b, 0);
    fixtures::put32(b, offBits);
    for (std::uint32_t v : {40u, w, w})
        fixtures::put32(b, v);
    fixtures::put16(b, 1);
    fixtures::put16(b, static_cast<std::uint32_t>(bits));
    for (std::uint32_t v : {0u, static_cast<std::uint32_t>(pixels.size()), 2835u, 2835u, 0u, 0u})
        fixtures::put32(b, v);
    if (bits == 8) {
        for (unsigned i = 0; i < 256; ++i) {
            for (int k = 0; k < 3; ++k)
                b.push_back(static_cast<unsigned char>(i));
            b.push_back(0);
        }
    }
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

std::string bmpLine(int depth, int w) { return fixtures::foundLine(depth, w); }

std::string previewLine(const std::string &path, std::size_t w)
{
    return "preview is " + path + ", " + std::to_string(w) + " x " + std::to_string(w) + "\n";
}

// The whole console text of a run with a preview: the source's lines (a
// bitmap's "Found a BMP" line included), then the preview line between the
// 12 source values and the 16 converted ones.
std::string previewTrace(const std::string &src, const std::string &dest, const std::string &tableLine,
                         const std::string &sourceLines, const Bytes &loaded, const std::string &preview,
                         std::size_t w, const Bytes &destination)
{
    return pathLines(src, dest) + tableLine + "found 1 file to open\n" + sourceLines + "filesize is " +
           std::to_string(loaded.size()) + "\n" + values(loaded, 12) + "\n" + previewLine(preview, w) +
           values(destination, 16) + std::to_string(destination.size()) + " bytes written\n";
}

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// One successful run with a preview: its files, its arguments, and what
// the destination, the picture and the console must be.
struct PreviewCase {
    const char *label;
    std::string source;  // the source's file name
    Bytes sourceBytes;
    Bytes table;         // conversiontable.hex, or empty for none
    std::string sourceLines;
    Bytes loaded;        // the bytes the source loader takes
    Bytes destination;
    std::size_t w;
    bool gray;
};

void checkPreviewRun(const PreviewCase &c)
{
    SCOPED_TRACE(c.label);
    Scratch s(std::string("preview-") + c.label);
    s.write(c.source, c.sourceBytes);
    if (!c.table.empty())
        s.write("conversiontable.hex", c.table);
    const e2e::RunResult r = s.run({c.source, "out.mat", "--preview", "pic.bmp"});
    EXPECT_EQ(r.out, previewTrace(c.source, "out.mat", c.table.empty() ? noTable : fullTable, c.sourceLines,
                                  c.loaded, "pic.bmp", c.w, c.destination));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.read("out.mat"), c.destination);
    EXPECT_EQ(s.read("pic.bmp"), previewFile(pictureOf(c.destination, c.w, c.gray), c.gray));
    std::vector<std::string> expected = {c.source, "out.mat", "pic.bmp"};
    if (!c.table.empty())
        expected.push_back("conversiontable.hex");
    EXPECT_EQ(s.listing(), sorted(expected));
}

// Byte-exact pictures of small maps.  Every expected file is built field by
// field above, from the picture a viewer must show.
TEST(Preview, ByteExactPicturesOfSmallMaps)
{
    // Raw maps: w x w codes, the destination is the translated bytes.
    const Bytes codes16 = counting(16);
    const Bytes codes25 = counting(25);
    // 8-bit bitmap, 4 x 4: every stored row holds other codes, so the
    // picture shows which row came out first.
    const Bytes rows8 = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    // 8-bit bitmap, 3 x 3: rows padded to 4 bytes, the padding converted.
    const Bytes sheared = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
    // 24-bit bitmap, 4 x 4: blue and red never count, green becomes the
    // sample's high byte and so the gray level.
    Bytes pixels24;
    Bytes samples;
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned green = i * 17;
        pixels24.insert(pixels24.end(), {static_cast<unsigned char>(255 - i), static_cast<unsigned char>(green),
                                         static_cast<unsigned char>(i * 3)});
        samples.insert(samples.end(), {0, static_cast<unsigned char>(green)});
    }
    Bytes sheared8Destination = sheared;
    sheared8Destination.resize(18, 0);
    Bytes rows8Destination = translated(rows8, builtinTable);
    rows8Destination.resize(32, 0);

    const PreviewCase cases[] = {
        {"raw 4x4 codes 0 to 15, built-in table", "map.raw", codes16, {}, "", codes16,
         translated(codes16, builtinTable), 4, false},
        {"raw 4x4 codes 0 to 15, identity table", "map.raw", codes16, identityTable(), "", codes16, codes16, 4,
         false},
        {"raw 5x5 codes 0 to 24, padding and the warning colour", "map.raw", codes25, identityTable(), "", codes25,
         codes25, 5, false},
        {"8-bit bitmap 4x4, one row of codes after another", "map.bmp", bitmapSource(4, 8, rows8), {},
         bmpLine(8, 4), rows8, rows8Destination, 4, false},
        {"8-bit bitmap 3x3, its padding shears the rows", "map.bmp", bitmapSource(3, 8, sheared), identityTable(),
         bmpLine(8, 3), sheared, sheared8Destination, 3, false},
        {"24-bit bitmap 4x4, gray ramp of the high bytes", "map.bmp", bitmapSource(4, 24, pixels24), {},
         bmpLine(24, 4), pixels24, samples, 4, true},
    };
    for (const PreviewCase &c : cases)
        checkPreviewRun(c);

    // The orientation spelt out once by hand: the 4 x 4 bitmap's first
    // stored row (its bottom row, codes 0 to 3) is the destination's first
    // row, and so the top of the picture.
    const Picture p = pictureOf(rows8Destination, 4, false);
    EXPECT_EQ(p.front(), (Bytes{0, 1, 6, 5}));
    EXPECT_EQ(p.back(), (Bytes{12, 2, 8, 4}));
    // And the shear: the 3 x 3 picture's rows start one byte later each.
    const Picture q = pictureOf(sheared8Destination, 3, false);
    EXPECT_EQ(q, (Picture{{1, 2, 3}, {0, 4, 5}, {6, 0, 7}}));
}

// Large enough to take several chunks of the writer, with rows that do not
// divide a chunk, and a height that is not a multiple of anything there.
TEST(Preview, LargeMapStreamsWholeRows)
{
    const std::size_t w = 1501;
    Bytes codes(w * w);
    for (std::size_t i = 0; i < codes.size(); ++i)
        codes[i] = static_cast<unsigned char>((i / w * 7 + i % w) % 251);
    Scratch s("preview-large");
    s.write("map.raw", codes);
    s.write("conversiontable.hex", identityTable());
    const e2e::RunResult r = s.run({"map.raw", "out.mat", "--preview=pic.bmp"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, previewTrace("map.raw", "out.mat", fullTable, "", codes, "pic.bmp", w, codes));
    EXPECT_TRUE(s.read("pic.bmp") == previewFile(pictureOf(codes, w, false), false))
        << "the 1501 x 1501 preview differs";
    EXPECT_EQ(s.listing(), (std::vector<std::string>{"conversiontable.hex", "map.raw", "out.mat", "pic.bmp"}));
}

// The preview is a bitmap matconv reads: converted with an identity table
// it gives the picture's pixel bytes as stored, that is the destination's
// rows last row first (padding included, converted as the loader always
// converts it), followed by zeros up to 2 x w x w.
TEST(Preview, RoundTripThroughMatconv)
{
    const struct {
        const char *label;
        Bytes source;  // a raw map or a 24-bit bitmap
        std::string name;
        std::size_t w;
        bool gray;
    } cases[] = {
        {"raw 8x8", counting(64, 3), "map.raw", 8, false},
        {"raw 5x5 with padding", counting(25, 200), "map.raw", 5, false},
        {"24-bit 4x4", bitmapSource(4, 24, counting(48, 7)), "map.bmp", 4, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        Scratch s(std::string("roundtrip-") + c.label);
        s.write(c.name, c.source);
        s.write("conversiontable.hex", identityTable());
        const e2e::RunResult first = s.run({c.name, "out.mat", "--preview", "pic.bmp"});
        ASSERT_EQ(first.status, 0) << first.out;
        const Bytes destination = s.read("out.mat");

        const e2e::RunResult back = s.run({"pic.bmp", "back.mat"});
        ASSERT_EQ(back.status, 0) << back.out;
        const std::size_t rowBytes = (c.w + 3) / 4 * 4;
        Bytes stored;
        for (std::size_t row = c.w; row-- > 0;) {
            for (std::size_t x = 0; x < c.w; ++x) {
                const std::size_t sample = row * c.w + x;
                stored.push_back(destination.at(c.gray ? 2 * sample + 1 : sample));
            }
            stored.resize(stored.size() + rowBytes - c.w, 0);
        }
        Bytes expected = stored;
        expected.resize(2 * c.w * c.w, 0);
        EXPECT_EQ(s.read("back.mat"), expected);
        EXPECT_EQ(back.out, pathLines("pic.bmp", "back.mat") + fullTable + "found 1 file to open\n" +
                                bmpLine(8, static_cast<int>(c.w)) + "filesize is " + std::to_string(stored.size()) +
                                "\n" + values(stored, 12) + "\n" + values(expected, 16) +
                                std::to_string(expected.size()) + " bytes written\n");
    }
}

// A reader of the picture from the format alone: it decodes the fields
// from their bytes, checks them, follows each pixel through the palette to
// its colour, and compares what a viewer shows, top row first, with the
// colour of each destination code.
TEST(Preview, IndependentReaderSeesTheDestinationTopRowFirst)
{
    const std::size_t w = 6;
    Bytes codes(w * w);
    for (std::size_t i = 0; i < codes.size(); ++i)
        codes[i] = static_cast<unsigned char>(i % 3 == 0 ? i / 3 : 16 + i * 5);  // codes above 15 too
    Scratch s("preview-reader");
    s.write("map.raw", codes);
    s.write("conversiontable.hex", identityTable());
    ASSERT_EQ(s.run({"map.raw", "out.mat", "--preview", "pic.bmp"}).status, 0);
    const Bytes f = s.read("pic.bmp");
    const auto u16 = [&](std::size_t at) { return static_cast<std::uint32_t>(f.at(at) | f.at(at + 1) << 8); };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    ASSERT_GE(f.size(), 1078u);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(u32(2), f.size()) << "fileSize";
    const std::uint32_t offBits = u32(10);
    EXPECT_EQ(offBits, 1078u);
    EXPECT_EQ(u32(14), 40u) << "biSize";
    const auto width = static_cast<std::int32_t>(u32(18));
    const auto height = static_cast<std::int32_t>(u32(22));
    EXPECT_EQ(width, 6);
    EXPECT_EQ(height, 6) << "positive: stored bottom-up";
    EXPECT_EQ(u16(26), 1u) << "planes";
    EXPECT_EQ(u16(28), 8u) << "bits";
    EXPECT_EQ(u32(30), 0u) << "compression";
    const std::uint32_t stride = (static_cast<std::uint32_t>(width) + 3) / 4 * 4;
    EXPECT_EQ(u32(34), stride * static_cast<std::uint32_t>(height)) << "biSizeImage";
    EXPECT_EQ(u32(46), 256u) << "biClrUsed";
    EXPECT_EQ(u32(50), 0u) << "biClrImportant";
    ASSERT_EQ(f.size(), offBits + stride * static_cast<std::uint32_t>(height));
    for (std::size_t y = 0; y < w; ++y) {
        // A positive height stores the bottom row first.
        const std::size_t rowStart = offBits + (w - 1 - y) * stride;
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t entry = 54 + 4 * std::size_t{f[rowStart + x]};
            const std::uint32_t rgb = static_cast<std::uint32_t>(f[entry + 2] << 16 | f[entry + 1] << 8 | f[entry]);
            EXPECT_EQ(rgb, codeColour(codes[y * w + x])) << "pixel " << x << "," << y;
        }
        for (std::size_t x = w; x < stride; ++x)
            EXPECT_EQ(f[rowStart + x], 0) << "padding of row " << y;
    }
}

// The option's place on the command line: its path is the next argument
// whatever it is, it is no positional path, a later one replaces an earlier
// one, and a switch still acts where it stands and writes no picture.
TEST(PreviewOption, CommandLine)
{
    const Bytes codes = {1, 2, 3, 4};
    const Bytes converted = translated(codes, builtinTable);
    const auto run = [&](const std::string &src, const std::string &dest, const std::string &preview) {
        return previewTrace(src, dest, noTable, "", codes, preview, 2, converted);
    };
    const std::string version = e2e::programFileName() + " Version 0.1-a\n";
    struct Case {
        const char *label;
        std::vector<std::string> args;
        std::string out;
        int status;
        std::vector<std::string> listing;  // besides the source and the old destination
    };
    const Case cases[] = {
        {"path after it", {"--preview", "p.bmp"}, run(defaultSource, defaultDest, "p.bmp"), 0, {"p.bmp"}},
        {"path with =", {"--preview=p.bmp"}, run(defaultSource, defaultDest, "p.bmp"), 0, {"p.bmp"}},
        {"path that looks like a switch", {"--preview", "-V"}, run(defaultSource, defaultDest, "-V"), 0, {"-V"}},
        {"path that looks like the option", {"--preview", "--preview"},
         run(defaultSource, defaultDest, "--preview"), 0, {"--preview"}},
        {"not a positional path", {"--preview", "p.bmp", "materialmap.raw", "o.mat"},
         run(defaultSource, "o.mat", "p.bmp"), 0, {"o.mat", "p.bmp"}},
        {"between the positional paths", {"materialmap.raw", "--preview=p.bmp", "o.mat"},
         run(defaultSource, "o.mat", "p.bmp"), 0, {"o.mat", "p.bmp"}},
        {"a new preview beside a new destination", {"materialmap.raw", "new.mat", "--preview", "new.bmp"},
         run(defaultSource, "new.mat", "new.bmp"), 0, {"new.bmp", "new.mat"}},
        {"a later one replaces an earlier one", {"--preview", "a.bmp", "--preview=b.bmp"},
         run(defaultSource, defaultDest, "b.bmp"), 0, {"b.bmp"}},
        {"a path outside ASCII, with blanks", {"--preview", "превью 地图 €Œ.bmp"},
         run(defaultSource, defaultDest, "превью 地图 €Œ.bmp"), 0, {"превью 地图 €Œ.bmp"}},
        {"a third positional path is still too many", {"materialmap.raw", "o.mat", "--preview", "p.bmp", "x"},
         "What do I do with this: x ? \n", 2, {}},
        {"version", {"--preview", "p.bmp", "/V"}, version, 0, {}},
        {"test file", {"--preview", "p.bmp", "/D"}, "524288 bytes written\n", 0, {}},
        {"test file before it takes no picture and no path from it", {"/D", "--preview", "p.bmp"},
         "524288 bytes written\n", 0, {}},
        {"unknown switch", {"--preview=p.bmp", "/x"}, "Unknown parameter: x\n", 2, {}},
        {"a longer word is a path", {"--previews"},
         pathLines("--previews", defaultDest) + noTable + "found 0 file to open\nError opening input file.\n\n", 7,
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Scratch s("option");
        s.write(defaultSource, codes);
        s.write(defaultDest, oldDestination);
        const e2e::RunResult r = s.run(c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, "");
        std::vector<std::string> listing = {defaultSource, defaultDest};
        listing.insert(listing.end(), c.listing.begin(), c.listing.end());
        EXPECT_EQ(s.listing(), sorted(listing));
        for (const std::string &name : c.listing) {
            if (name.find(".bmp") != std::string::npos || name == "-V" || name == "--preview") {
                EXPECT_EQ(s.read(name), previewFile(pictureOf(converted, 2, false), false)) << name;
            }
        }
    }
}

// What a refusal leaves: the old destination and the old preview, byte for
// byte, and nothing else in the folder.
struct Refusal {
    const char *label;
    // Files made before the run, beside the source and the old destination
    // and old preview.
    std::function<void(const Scratch &)> setup;
    std::vector<std::string> args;
    std::string out;
    int status;
};

void checkRefusal(const Refusal &c, const Bytes &source, const e2e::RunOptions &options = {})
{
    SCOPED_TRACE(c.label);
    Scratch s("refusal");
    s.write(defaultSource, source);
    s.write(defaultDest, oldDestination);
    s.write("old.bmp", oldPreview);
    if (c.setup)
        c.setup(s);
    const std::vector<std::string> before = s.listing();
    const e2e::RunResult r = s.run(c.args, options);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.read(defaultDest), oldDestination);
    EXPECT_EQ(s.read("old.bmp"), oldPreview);
    EXPECT_EQ(s.listing(), before) << "no file made or removed, no temporary left";
}

const std::string optionNeedsPath = "Option --preview needs a path: --preview PATH or --preview=PATH\n";

TEST(PreviewRefusal, CommandLine)
{
    const Refusal cases[] = {
        {"without a path", nullptr, {"--preview"}, optionNeedsPath, 2},
        {"without a path after others", nullptr, {"materialmap.raw", "--preview"}, optionNeedsPath, 2},
        {"empty path after =", nullptr, {"--preview="}, optionNeedsPath, 2},
        {"empty path after it", nullptr, {"--preview", ""}, optionNeedsPath, 2},
        {"empty path, even before a switch", nullptr, {"--preview=", "/V"}, optionNeedsPath, 2},
    };
    for (const Refusal &c : cases)
        checkRefusal(c, Bytes{1, 2, 3, 4});
}

// A preview that would overwrite the destination or the source is refused
// before anything is read or written, whatever spelling names that file.
TEST(PreviewRefusal, SameFileAsTheDestinationOrTheSource)
{
    const auto subfolder = [](const Scratch &s) { fs::create_directory(s / "sub"); };
    const std::string asDest = "The preview cannot be the destination: ";
    const std::string asSource = "The preview cannot be the source: ";
    std::vector<Refusal> cases = {
        {"the destination's own name", nullptr, {"--preview", defaultDest}, asDest + defaultDest + "\n", 2},
        {"through ./", nullptr, {"--preview=./" + defaultDest}, asDest + "./" + defaultDest + "\n", 2},
        {"through another spelling of the folder", subfolder, {"--preview", "sub/../" + defaultDest},
         asDest + "sub/../" + defaultDest + "\n", 2},
        {"through a doubled slash", subfolder, {"--preview", "sub//../" + defaultDest},
         asDest + "sub//../" + defaultDest + "\n", 2},
        {"a named destination", nullptr, {"materialmap.raw", "old.bmp", "--preview", "./old.bmp"},
         asDest + "./old.bmp\n", 2},
        {"a destination that does not exist yet", nullptr, {"materialmap.raw", "new.mat", "--preview", "./new.mat"},
         asDest + "./new.mat\n", 2},
        {"a destination yet to be made in another folder", subfolder,
         {"materialmap.raw", "sub/new.mat", "--preview", "./sub/../sub/new.mat"},
         asDest + "./sub/../sub/new.mat\n", 2},
        {"the source", nullptr, {"--preview", defaultSource}, asSource + defaultSource + "\n", 2},
        {"the source through ./", nullptr, {"--preview=./" + defaultSource}, asSource + "./" + defaultSource + "\n",
         2},
        {"a named source", nullptr, {"old.bmp", "--preview", "./old.bmp"}, asSource + "./old.bmp\n", 2},
        {"a new destination named outside ASCII", nullptr,
         {"materialmap.raw", "Œ карта.mat", "--preview", "./Œ карта.mat"}, asDest + "./Œ карта.mat\n", 2},
        {"a source named outside ASCII", [](const Scratch &s) { s.write("地图.raw", Bytes{1, 2, 3, 4}); },
         {"地图.raw", "--preview", "./地图.raw"}, asSource + "./地图.raw\n", 2},
    };
#if defined(_WIN32)
    cases.push_back({"through a backslash", nullptr, {"--preview", ".\\" + defaultDest},
                     asDest + ".\\" + defaultDest + "\n", 2});
    cases.push_back({"in other letter case", nullptr, {"--preview", "HEIGHTMAPPRIMARY.MAT"},
                     asDest + "HEIGHTMAPPRIMARY.MAT\n", 2});
    cases.push_back({"a new destination in other letter case", nullptr,
                     {"materialmap.raw", "new.mat", "--preview", "NEW.MAT"}, asDest + "NEW.MAT\n", 2});
    // Windows matches letter case beyond ASCII too.
    cases.push_back({"a new destination in other letter case, Greek", nullptr,
                     {"materialmap.raw", "ελλάδα.mat", "--preview", "ΕΛΛΆΔΑ.MAT"}, asDest + "ΕΛΛΆΔΑ.MAT\n", 2});
#else
    const auto link = [](const std::string &target, const std::string &name) {
        return [=](const Scratch &s) { fs::create_symlink(target, s / name); };
    };
    cases.push_back({"through a link", link(defaultDest, "pic.bmp"), {"--preview", "pic.bmp"},
                     asDest + "pic.bmp\n", 2});
    cases.push_back({"through a hard link",
                     [](const Scratch &s) { fs::create_hard_link(s / defaultDest, s / "pic.bmp"); },
                     {"--preview", "pic.bmp"}, asDest + "pic.bmp\n", 2});
    cases.push_back({"through a linked folder", link(".", "here"), {"--preview", "here/" + defaultDest},
                     asDest + "here/" + defaultDest + "\n", 2});
    cases.push_back({"a dangling link to the destination yet to be made", link("new.mat", "pic.bmp"),
                     {"materialmap.raw", "new.mat", "--preview", "pic.bmp"}, asDest + "pic.bmp\n", 2});
    cases.push_back({"a new destination through a linked folder",
                     [](const Scratch &s) {
                         fs::create_directory(s / "sub");
                         fs::create_directory_symlink("sub", s / "alias");
                     },
                     {"materialmap.raw", "sub/new.mat", "--preview", "alias/new.mat"}, asDest + "alias/new.mat\n",
                     2});
    cases.push_back({"the source through a link", link(defaultSource, "pic.bmp"), {"--preview", "pic.bmp"},
                     asSource + "pic.bmp\n", 2});
#endif
    for (const Refusal &c : cases)
        checkRefusal(c, Bytes{1, 2, 3, 4});

#if !defined(_WIN32)
    // The destination by its absolute path.
    Scratch s("absolute");
    s.write(defaultSource, Bytes{1, 2, 3, 4});
    s.write(defaultDest, oldDestination);
    const std::string absolute = e2e::utf8Of(s / defaultDest);
    const e2e::RunResult r = s.run({"--preview", absolute});
    EXPECT_EQ(r.out, asDest + absolute + "\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(s.read(defaultDest), oldDestination);
    EXPECT_EQ(s.listing(), (std::vector<std::string>{defaultDest, defaultSource}));
#endif
}

// Maps with no square picture are refused right after their size is shown.
TEST(PreviewRefusal, MapsWithoutASquarePicture)
{
    const auto head = [](const std::string &src) { return pathLines(src, defaultDest) + noTable + "found 1 file to open\n"; };
    struct Case {
        const char *label;
        std::string name;
        Bytes source;
        std::string out;
    };
    const Case cases[] = {
        {"raw of 2 bytes", "map.raw", Bytes(2, 1),
         head("map.raw") + "filesize is 2\nError: cannot preview a raw map of 2 bytes: not a square number.\n\n"},
        {"raw of 15 bytes", "map.raw", Bytes(15, 1),
         head("map.raw") + "filesize is 15\nError: cannot preview a raw map of 15 bytes: not a square number.\n\n"},
        {"raw of 17 bytes", "map.raw", Bytes(17, 1),
         head("map.raw") + "filesize is 17\nError: cannot preview a raw map of 17 bytes: not a square number.\n\n"},
        {"bitmap of width 0", "map.bmp", bitmapSource(0, 24, Bytes(5, 9)),
         head("map.bmp") + bmpLine(24, 0) + "filesize is 5\nError: cannot preview a map of width 0 (5 bytes).\n\n"},
    };
    for (const Case &c : cases) {
        const Refusal refusal = {c.label, [&](const Scratch &s) { s.write(c.name, c.source); },
                                 {c.name, "--preview", "old.bmp"}, c.out, 7};
        checkRefusal(refusal, Bytes{1, 2, 3, 4});
    }
}

// A preview that cannot be written ends the run before the destination is
// touched, with a message that names the preview.
TEST(PreviewRefusal, PreviewThatCannotBeWritten)
{
    const Bytes codes = {1, 2, 3, 4};
    const std::string before =
        pathLines(defaultSource, defaultDest) + noTable + "found 1 file to open\nfilesize is 4\n" + values(codes, 12) +
        "\n";
    const Refusal cases[] = {
        {"in a missing folder", nullptr, {"--preview", "missing/p.bmp"},
         before + previewLine("missing/p.bmp", 2) + "Error opening preview file.\n\n", 8},
        {"a folder", [](const Scratch &s) { fs::create_directory(s / "p.bmp"); }, {"--preview", "p.bmp"},
         before + previewLine("p.bmp", 2) + "Error opening preview file.\n\n", 8},
    };
    for (const Refusal &c : cases)
        checkRefusal(c, codes);
}

// The disk fills while the preview is written: here a file-size limit of
// 2 KiB, which lets the headers and part of the rows of a 64 x 64 preview
// out and fails the next write, as a full disk would.  (The folder must be
// writable for the old file to be replaced, so a full file system needs a
// mount of its own; tests/preview_full_disk.sh tries that too.)
TEST(PreviewRefusal, PreviewOnAFullDisk)
{
    TEST_NEEDS_POSIX("a file-size limit");
    const Bytes codes = counting(64 * 64);
    e2e::RunOptions limited;
    limited.fileSizeLimit = 2048;
    const Refusal c = {"file-size limit", nullptr, {"--preview", "old.bmp"},
                       pathLines(defaultSource, defaultDest) + noTable + "found 1 file to open\nfilesize is 4096\n" +
                           values(codes, 12) + "\n" + previewLine("old.bmp", 64) +
                           "Error writing to preview file.\n\n",
                       8};
    checkRefusal(c, codes, limited);
}

// A write-protected preview, and one in a folder this user may not write
// into, as an unprivileged user (root may write anything): refused like a
// destination would be, before the destination is touched.
TEST(PreviewRefusal, WriteProtectedPreview)
{
    TEST_NEEDS_POSIX("file modes and another user");
    const fs::perms r = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    const fs::perms rw = r | fs::perms::owner_write;
    const fs::perms rx = r | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    const fs::perms rwx = rx | fs::perms::owner_write;
    const struct {
        const char *label;
        fs::perms fileMode;
        fs::perms folderMode;
    } cases[] = {
        {"read-only preview", r, rwx},
        {"read-only folder", rw, rx},
    };
    const Bytes codes = {1, 2, 3, 4};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        Scratch s("protected-preview");
        s.write(defaultSource, codes);
        s.write(defaultDest, oldDestination);
        fs::create_directory(s / "pics");
        s.write("pics/old.bmp", oldPreview);
        fs::permissions(s / "pics/old.bmp", c.fileMode);
        s.giveToUnprivilegedUser();
        fs::permissions(s / "pics", c.folderMode);
        e2e::RunOptions o;
        o.unprivileged = true;
        const e2e::RunResult res = s.run({"--preview", "pics/old.bmp"}, o);
        fs::permissions(s / "pics", fs::perms::owner_all, fs::perm_options::add);
        EXPECT_EQ(res.out, pathLines(defaultSource, defaultDest) + noTable +
                               "found 1 file to open\nfilesize is 4\n" + values(codes, 12) + "\n" +
                               previewLine("pics/old.bmp", 2) + "Error opening preview file.\n\n");
        EXPECT_EQ(res.status, 8);
        EXPECT_EQ(res.err, "");
        EXPECT_EQ(s.read("pics/old.bmp"), oldPreview);
        EXPECT_EQ(s.read(defaultDest), oldDestination);
        EXPECT_EQ(s.listing(), (std::vector<std::string>{defaultDest, defaultSource, "pics"}));
        std::vector<std::string> pics;
        for (const auto &e : fs::directory_iterator(s / "pics"))
            pics.push_back(e.path().filename().string());
        EXPECT_EQ(pics, std::vector<std::string>{"old.bmp"});
    }
}

} // namespace
