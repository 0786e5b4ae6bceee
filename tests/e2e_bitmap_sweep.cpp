// Bitmap sources cut short at every length, and headers mutated at random
// (seeded, so every run tries the same files).  No file may crash the
// converter or leave the destination that was there damaged.
#include "bmp_builder.h"
#include "e2e_support.h"
#include "fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using e2e::Scratch;
using fixtures::BmpLayout;
using fixtures::Bytes;
using fixtures::oldDestination;

namespace {

const std::string &dest = fixtures::defaultDestination;

// These loops start the converter some 500 times.  In the sanitizer build the
// leak scan at exit reads both 64 MiB buffers and costs five times the run
// itself, so it is left out here; address and undefined-behaviour checks stay
// on, and the table tests, which reach every way a run can end, keep the leak
// scan too.
e2e::RunOptions noLeakScan()
{
    e2e::RunOptions o;
    const char *asan = std::getenv("ASAN_OPTIONS");
    o.env = {{"ASAN_OPTIONS", (asan != nullptr && asan[0] != '\0' ? std::string(asan) + ":" : "") +
                                  "detect_leaks=0"}};
    return o;
}

// What a run on `layout` cut to `length` bytes must print after the first four
// lines, and its status.
struct Outcome {
    int status;
    std::string tail;
};

Outcome cutOutcome(const BmpLayout &layout, std::size_t length)
{
    const std::uint32_t off = fixtures::bmpOffBits(layout);
    if (length < 14)
        return {7, "Error reading map.bmp bitmap header\n\n"};
    if (length < 54)
        return {7, "Error reading input file bitmap info header\n\n"};
    if (length < 58)
        return {17, "Error reading color table in image file.\n\n"};
    const long long count = static_cast<long long>(length) - off;
    const std::string found = fixtures::foundLine(layout.biBitCount, layout.biWidth) + "filesize is " +
                              std::to_string(count) + "\n";
    if (count <= 0)
        return {7, found + "Error reading from input file.\n\n"};
    const Bytes pixels(layout.pixels.begin(), layout.pixels.begin() + count);
    return {0, fixtures::successTail(layout.biBitCount, layout.biWidth, pixels)};
}

void sweep(const BmpLayout &layout, const std::string &label)
{
    const Bytes whole = fixtures::buildBmp(layout);
    Scratch s(label);
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE("cut at " + std::to_string(length) + " of " + std::to_string(whole.size()));
        s.write(dest, oldDestination);
        s.write("map.bmp", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));

        const e2e::RunResult r = s.run({"map.bmp"}, noLeakScan());
        const Outcome want = cutOutcome(layout, length);

        ASSERT_EQ(r.err, "");  // a sanitizer report lands here
        ASSERT_EQ(r.status, want.status) << r.out;
        ASSERT_EQ(r.out, fixtures::traceHead("map.bmp") + want.tail);
        if (want.status == 0) {
            const std::size_t have = length - fixtures::bmpOffBits(layout);
            const Bytes pixels(layout.pixels.begin(), layout.pixels.begin() + static_cast<std::ptrdiff_t>(have));
            ASSERT_EQ(s.read(dest), fixtures::expectedDestination(layout.biBitCount, layout.biWidth, pixels));
        } else {
            ASSERT_EQ(s.read(dest), oldDestination);
        }
        ASSERT_EQ(s.listing(), (std::vector<std::string>{dest, "map.bmp"}));
    }
}

TEST(BitmapTruncation, EightBitAtEveryLength) { sweep(fixtures::small8(), "cut8"); }

TEST(BitmapTruncation, TwentyFourBitAtEveryLength) { sweep(fixtures::small24(), "cut24"); }

// ---------------------------------------------------------------------------
// Seeded random mutation of the header fields.

// Values that sit on or next to a boundary of some check.
const std::uint32_t interesting[] = {
    0,          1,          2,          3,          4,          8,          12,
    14,         24,         40,         53,         54,         55,         58,
    108,        118,        124,        255,        256,        257,        1078,
    5792,       5793,       46340,      46341,      65535,      65536,      0x7FFFFFFF,
    0x80000000, 0xFFFFFFF0, 0xFFFFFFFB, 0xFFFFFFFC, 0xFFFFFFFF, 0x12345678,
};

struct Field {
    std::size_t offset;
    std::size_t size;
};

// Every field of the file header and the information header.
const Field fields[] = {
    {0, 2},  {2, 4},  {6, 2},  {8, 2},  {10, 4}, {14, 4}, {18, 4}, {22, 4}, {26, 2},
    {28, 2}, {30, 4}, {34, 4}, {38, 4}, {42, 4}, {46, 4}, {50, 4},
};

void store(Bytes &b, std::size_t offset, std::size_t size, std::uint32_t v)
{
    for (std::size_t i = 0; i < size && offset + i < b.size(); ++i)
        b[offset + i] = static_cast<unsigned char>(v >> (8 * i));
}

// Widths that fit the buffer but would write tens of megabytes slow the run
// down without finding anything new; the limits tests cover them.
bool bigSquare(const Bytes &b)
{
    if (b.size() < 26)
        return false;
    const std::uint32_t w = static_cast<std::uint32_t>(b[18]) | (static_cast<std::uint32_t>(b[19]) << 8) |
                            (static_cast<std::uint32_t>(b[20]) << 16) |
                            (static_cast<std::uint32_t>(b[21]) << 24);
    return w > 256 && w <= 5792;
}

Bytes mutate(Bytes b, std::mt19937 &rng)
{
    const auto pick = [&rng](std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); };
    const auto value = [&]() -> std::uint32_t {
        return pick(3) == 0 ? static_cast<std::uint32_t>(rng())
                            : interesting[pick(sizeof interesting / sizeof interesting[0])];
    };
    const std::uint32_t edits = 1 + pick(3);
    for (std::uint32_t e = 0; e < edits; ++e) {
        switch (pick(6)) {
        case 0:
        case 1: {
            const Field &f = fields[pick(sizeof fields / sizeof fields[0])];
            store(b, f.offset, f.size, value());
            break;
        }
        case 2: {
            // The same value in width and height, so the shape check passes.
            const std::uint32_t v = value();
            store(b, 18, 4, v);
            store(b, 22, 4, v);
            break;
        }
        case 3:
            // One byte of the headers or the palette's first entry.
            if (!b.empty())
                b[pick(static_cast<std::uint32_t>(std::min<std::size_t>(b.size(), 58)))] =
                    static_cast<unsigned char>(rng());
            break;
        case 4:
            b.resize(pick(static_cast<std::uint32_t>(b.size() + 1)));
            break;
        default:
            for (std::uint32_t n = pick(9); n > 0; --n)
                b.push_back(static_cast<unsigned char>(rng()));
            break;
        }
    }
    if (bigSquare(b))
        store(b, 22, 4, 7);  // not square any more
    return b;
}

TEST(BitmapMutation, SeededHeaderMutationsNeverHurt)
{
    std::mt19937 rng(19421942u);
    const Bytes bases[2] = {fixtures::buildBmp(fixtures::small8()), fixtures::buildBmp(fixtures::small24())};
    Scratch s("mutation");
    int byStatus[18] = {};
    for (int i = 0; i < 240; ++i) {
        const Bytes file = mutate(bases[i % 2], rng);
        SCOPED_TRACE("mutation " + std::to_string(i));
        s.write(dest, oldDestination);
        s.write("map.bmp", file);

        const e2e::RunResult r = s.run({"map.bmp"}, noLeakScan());

        ASSERT_EQ(r.err, "");  // a sanitizer report lands here
        ASSERT_TRUE(r.status == 0 || r.status == 7 || r.status == 8 || r.status == 16 ||
                    r.status == 17)
            << "status " << r.status << "\n"
            << r.out;
        const std::string head = fixtures::traceHead("map.bmp");
        ASSERT_EQ(r.out.compare(0, head.size(), head), 0) << r.out;
        ++byStatus[r.status];
        if (r.status == 0) {
            // The destination holds 2 x w x w bytes for the width the run reported.
            const std::string tag = " and a width of ";
            const std::size_t at = r.out.find(tag);
            ASSERT_NE(at, std::string::npos) << r.out;
            const long long w = std::stoll(r.out.substr(at + tag.size()));
            EXPECT_EQ(static_cast<long long>(s.read(dest).size()), 2 * w * w);
        } else {
            ASSERT_EQ(s.read(dest), oldDestination) << r.out;
        }
        ASSERT_EQ(s.listing(), (std::vector<std::string>{dest, "map.bmp"}));
    }
    // The mutations must reach every kind of ending, or part of the reader
    // goes untried.
    for (int status : {0, 7, 8, 16, 17})
        EXPECT_GT(byStatus[status], 0) << "no run ended with status " << status;

}

} // namespace
