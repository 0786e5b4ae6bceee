// Decoding of the bitmap header records from their little-endian bytes, and
// the header check on the same table of hostile files that the end-to-end
// tests run the program on.
#include "source/bmpheader.h"

#include "bmp_cases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

TEST(BmpHeaderDecode, FileHeaderFieldsComeFromTheirOffsets)
{
    // Every byte distinct, so a swapped or shifted field shows.
    const Bytes b = {0x42, 0x4D, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC};
    const _bidHeader h = decodeBidHeader(b.data());
    EXPECT_EQ(h.sig, 0x4D42u);
    EXPECT_EQ(h.fileSize, 0x44332211u);
    EXPECT_EQ(h.res1, 0x6655u);
    EXPECT_EQ(h.res2, 0x8877u);
    EXPECT_EQ(h.offBits, 0xCCBBAA99u);
}

TEST(BmpHeaderDecode, InfoHeaderFieldsComeFromTheirOffsets)
{
    Bytes b(40);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<unsigned char>(i + 1);
    const _bidInfoHeader h = decodeBidInfoHeader(b.data());
    EXPECT_EQ(h.biSize, 0x04030201u);
    EXPECT_EQ(h.biWidth, 0x08070605);
    EXPECT_EQ(h.biHeight, 0x0C0B0A09);
    EXPECT_EQ(h.biPlanes, 0x0E0Du);
    EXPECT_EQ(h.biBitCount, 0x100Fu);
    EXPECT_EQ(h.biCompression, 0x14131211u);
    EXPECT_EQ(h.biSizeImage, 0x18171615u);
    EXPECT_EQ(h.biXPelsPerMeter, 0x1C1B1A19);
    EXPECT_EQ(h.biYPelsPerMeter, 0x201F1E1D);
    EXPECT_EQ(h.biClrUsed, 0x24232221u);
    EXPECT_EQ(h.biClrImportant, 0x28272625u);
}

TEST(BmpHeaderDecode, SignedFieldsKeepTheirSign)
{
    struct Case {
        Bytes raw;
        std::int32_t value;
    };
    const Case cases[] = {
        {{0xFF, 0xFF, 0xFF, 0xFF}, -1},
        {{0x00, 0x00, 0x00, 0x80}, INT_MIN},
        {{0xFF, 0xFF, 0xFF, 0x7F}, INT_MAX},
        {{0xFC, 0xFF, 0xFF, 0xFF}, -4},
        {{0x00, 0x02, 0x00, 0x00}, 512},
    };
    for (const Case &c : cases) {
        Bytes b(40, 0);
        std::copy(c.raw.begin(), c.raw.end(), b.begin() + 4);
        std::copy(c.raw.begin(), c.raw.end(), b.begin() + 8);
        std::copy(c.raw.begin(), c.raw.end(), b.begin() + 24);
        const _bidInfoHeader h = decodeBidInfoHeader(b.data());
        EXPECT_EQ(h.biWidth, c.value);
        EXPECT_EQ(h.biHeight, c.value);
        EXPECT_EQ(h.biXPelsPerMeter, c.value);
    }
}

TEST(BmpHeaderDecode, PaletteEntryIsBlueGreenRed)
{
    const Bytes b = {0x10, 0x20, 0x30, 0x40};
    const _rgbQuad q = decodeRgbQuad(b.data());
    EXPECT_EQ(q.rgbBlue, 0x10);
    EXPECT_EQ(q.rgbGreen, 0x20);
    EXPECT_EQ(q.rgbRed, 0x30);
    EXPECT_EQ(q.rgbReserved, 0x40);
}

TEST(BmpHeaderDecode, PaletteCountFromOffset)
{
    struct Case {
        std::uint32_t offBits;
        std::uint32_t numColors;
    };
    const Case cases[] = {
        {54, 0},           {58, 1},          {1078, 256},       {1079, 256},
        {53, 0x3FFFFFFFu}, {0, 0x3FFFFFF2u}, {0xFFFFFFFFu, 0x3FFFFFF2u},
    };
    for (const Case &c : cases) {
        _bidHeader h{};
        h.offBits = c.offBits;
        EXPECT_EQ(bmpNumColors(h), c.numColors) << "offBits " << c.offBits;
    }
}

TEST(BmpHeaderDecode, WidthMustFitTheOutputBuffer)
{
    struct Case {
        std::int32_t width;
        int fits;
    };
    const Case cases[] = {
        {0, 1}, {1, 1}, {512, 1}, {5792, 1}, {5793, 0}, {46341, 0}, {INT_MAX, 0}, {-1, 0}, {-4, 0}, {INT_MIN, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(bmpWidthFits(c.width), c.fits) << "width " << c.width;
}

// The check alone, in-process, on each file of the table: a file the run
// takes past its headers has no fault; any other ends with the run's status
// and, once the reader has put the source path in for "%s" and myshutdown
// its newline, with the run's console tail.
class HostileHeader : public ::testing::TestWithParam<fixtures::BitmapCase> {};

std::string withPath(const std::string &message, const std::string &path)
{
    std::string text = message;
    const std::size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, path);
    return text;
}

TEST_P(HostileHeader, FaultIsTheRunsEnding)
{
    const fixtures::BitmapCase &k = GetParam();
    // Exactly the bytes the reader has, in a block of their own size, so
    // that a look past them shows under the sanitizers.
    const std::size_t have = std::min(k.file.size(), bmpCheckedBytes);
    const Bytes first(k.file.begin(), k.file.begin() + static_cast<std::ptrdiff_t>(have));

    const BmpFault fault = bmpHeaderFault(first.data(), first.size());

    if (k.tail.rfind("Found a BMP", 0) == 0) {
        EXPECT_EQ(fault.status, 0) << (fault.message != nullptr ? fault.message : "");
        EXPECT_EQ(fault.message, nullptr);
    } else {
        EXPECT_EQ(fault.status, k.status);
        ASSERT_NE(fault.message, nullptr);
        EXPECT_EQ(withPath(fault.message, k.path) + "\n", k.tail);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, HostileHeader, ::testing::ValuesIn(fixtures::hostileBitmapCases()),
                         [](const ::testing::TestParamInfo<fixtures::BitmapCase> &c) {
                             return c.param.name;
                         });

} // namespace
