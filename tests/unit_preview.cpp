// The preview's pure pieces in-process: its width, its header records and
// their bytes, both palettes and the stored rows.  The colours, header bytes
// and row order are spelt out here on their own, not taken from the code.
#include "mainConv/preview.h"
#include "source/bmpheader.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// The sixteen material colours as red, green, blue, and the warning colour.
constexpr std::array<std::uint32_t, 16> legend = {
    0x3b3b3b, 0xf3c300, 0x875692, 0xf38400, 0xa1caf1, 0xbe0032, 0xc2b280, 0x848482,
    0x008856, 0xe68fac, 0x0067a5, 0xf99379, 0x604e97, 0xf6a600, 0xb3446c, 0xdcd300,
};
constexpr std::uint32_t warning = 0xff00ff;

TEST(PreviewWidth, SquareRootFloor)
{
    const struct {
        std::int32_t n;
        std::int32_t root;
    } cases[] = {
        {0, 0},         {1, 1},         {2, 1},          {3, 1},        {4, 2},
        {15, 3},        {16, 4},        {17, 4},         {24, 4},       {25, 5},
        {67108863, 8191}, {67108864, 8192}, {67108865, 8192}, {INT32_MAX, 46340},
    };
    for (const auto &c : cases)
        EXPECT_EQ(squareRootFloor(c.n), c.root) << c.n;
    EXPECT_EQ(maxPreviewWidth, 8192);
}

TEST(PreviewWidth, RawIsTheSquareRootBitmapIsItsWidth)
{
    const struct {
        const char *label;
        int bitmap;
        std::int32_t res;
        std::int32_t size;
        PreviewFault fault;
        std::int32_t width;
    } cases[] = {
        {"raw 1", 0, 0, 1, previewFine, 1},
        {"raw 16", 0, 0, 16, previewFine, 4},
        {"raw 25", 0, 0, 25, previewFine, 5},
        {"raw 64 MiB", 0, 0, 67108864, previewFine, 8192},
        {"raw 2", 0, 0, 2, previewNotSquare, 0},
        {"raw 15", 0, 0, 15, previewNotSquare, 0},
        {"raw 17", 0, 0, 17, previewNotSquare, 0},
        {"raw one short of 64 MiB", 0, 0, 67108863, previewNotSquare, 0},
        {"raw 0", 0, 0, 0, previewNoWidth, 0},
        // A raw source's res is whatever an earlier stage left; it is not used.
        {"raw ignores res", 0, 7, 9, previewFine, 3},
        // A bitmap's size is its pixel data, which has nothing to do with it.
        {"bitmap 7", 1, 7, 10, previewFine, 7},
        {"bitmap widest", 1, maxBmpWidth, 3, previewFine, maxBmpWidth},
        {"bitmap 0", 1, 0, 16, previewNoWidth, 0},
    };
    for (const auto &c : cases) {
        std::int32_t w = -1;
        EXPECT_EQ(previewWidth(c.bitmap, c.res, c.size, &w), c.fault) << c.label;
        if (c.fault == previewFine) {
            EXPECT_EQ(w, c.width) << c.label;
        } else {
            EXPECT_EQ(w, -1) << c.label << ": no width is set for a refused map";
        }
    }
}

TEST(PreviewLayout, RowsArePaddedToFourBytes)
{
    const std::int32_t expected[] = {0, 4, 4, 4, 4, 8, 8, 8, 8, 12};
    for (std::int32_t w = 0; w < 10; ++w)
        EXPECT_EQ(previewRowBytes(w), expected[w]) << w;
    EXPECT_EQ(previewRowBytes(8192), 8192);
    EXPECT_EQ(previewRowBytes(5791), 5792);
    EXPECT_EQ(previewPixelOffset, 1078u);
    EXPECT_EQ(previewFileBytes(1), 1078 + 4);
    EXPECT_EQ(previewFileBytes(5), 1078 + 5 * 8);
    EXPECT_EQ(previewFileBytes(8192), 1078 + 8192LL * 8192);
}

TEST(PreviewHeader, BytesOfAFiveByFivePreview)
{
    const Bytes expected = {
        'B',  'M',                                  // signature
        0x5e, 0x04, 0x00, 0x00,                     // fileSize 1078 + 40 = 1118
        0x00, 0x00, 0x00, 0x00,                     // reserved
        0x36, 0x04, 0x00, 0x00,                     // offBits 1078
        0x28, 0x00, 0x00, 0x00,                     // biSize 40
        0x05, 0x00, 0x00, 0x00,                     // biWidth 5
        0x05, 0x00, 0x00, 0x00,                     // biHeight 5: bottom row first
        0x01, 0x00,                                 // planes
        0x08, 0x00,                                 // bits per pixel
        0x00, 0x00, 0x00, 0x00,                     // no compression
        0x28, 0x00, 0x00, 0x00,                     // biSizeImage 5 rows of 8
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // pixels per metre
        0x00, 0x01, 0x00, 0x00,                     // biClrUsed 256
        0x00, 0x00, 0x00, 0x00,                     // biClrImportant
    };
    Bytes bytes(bmpHeadersBytes, 0xAA);
    previewHeaders(5, bytes.data());
    EXPECT_EQ(bytes, expected);
}

// The records survive the bitmap reader's own decoders, and every width a
// bitmap source may have gives a preview that the reader accepts.
TEST(PreviewHeader, TheBitmapReaderAcceptsIt)
{
    for (std::int32_t w : {1, 2, 3, 4, 5, 255, 256, 1023, maxBmpWidth}) {
        SCOPED_TRACE(w);
        Bytes bytes(previewPixelOffset, 0);
        previewHeaders(w, bytes.data());
        previewPalette(previewCodes, bytes.data() + bmpHeadersBytes);
        const _bidHeader h = decodeBidHeader(bytes.data());
        EXPECT_EQ(h.sig, 0x4D42);
        EXPECT_EQ(h.fileSize, static_cast<std::uint32_t>(1078 + previewRowBytes(w) * w));
        EXPECT_EQ(h.res1, 0);
        EXPECT_EQ(h.res2, 0);
        EXPECT_EQ(h.offBits, 1078u);
        const _bidInfoHeader i = decodeBidInfoHeader(bytes.data() + bidHeaderBytes);
        EXPECT_EQ(i.biSize, 40u);
        EXPECT_EQ(i.biWidth, w);
        EXPECT_EQ(i.biHeight, w);
        EXPECT_EQ(i.biPlanes, 1);
        EXPECT_EQ(i.biBitCount, 8);
        EXPECT_EQ(i.biCompression, 0u);
        EXPECT_EQ(i.biSizeImage, static_cast<std::uint32_t>(previewRowBytes(w) * w));
        EXPECT_EQ(i.biXPelsPerMeter, 0);
        EXPECT_EQ(i.biYPelsPerMeter, 0);
        EXPECT_EQ(i.biClrUsed, 256u);
        EXPECT_EQ(i.biClrImportant, 0u);
        const BmpFault fault = bmpHeaderFault(bytes.data(), bytes.size());
        EXPECT_EQ(fault.status, 0) << (fault.message != nullptr ? fault.message : "");
    }
}

TEST(PreviewHeader, EncodersAreTheDecodersReversed)
{
    _bidHeader h{};
    h.sig = 0x1234;
    h.fileSize = 0xA1B2C3D4u;
    h.res1 = 0xBEEF;
    h.res2 = 0x0102;
    h.offBits = 0x80000001u;
    _bidInfoHeader i{};
    i.biSize = 0x11223344u;
    i.biWidth = -2;
    i.biHeight = INT32_MIN;
    i.biPlanes = 0xFFFE;
    i.biBitCount = 0x0A0B;
    i.biCompression = 3;
    i.biSizeImage = 0xFFFFFFFFu;
    i.biXPelsPerMeter = -2835;
    i.biYPelsPerMeter = 2835;
    i.biClrUsed = 0x01020304u;
    i.biClrImportant = 0x05060708u;
    unsigned char bytes[bmpHeadersBytes];
    encodeBidHeader(h, bytes);
    encodeBidInfoHeader(i, bytes + bidHeaderBytes);
    EXPECT_EQ(bytes[0], 0x34);
    EXPECT_EQ(bytes[1], 0x12);
    EXPECT_EQ(bytes[2], 0xD4);
    EXPECT_EQ(bytes[5], 0xA1);
    const _bidHeader h2 = decodeBidHeader(bytes);
    EXPECT_EQ(h2.sig, h.sig);
    EXPECT_EQ(h2.fileSize, h.fileSize);
    EXPECT_EQ(h2.res1, h.res1);
    EXPECT_EQ(h2.res2, h.res2);
    EXPECT_EQ(h2.offBits, h.offBits);
    const _bidInfoHeader i2 = decodeBidInfoHeader(bytes + bidHeaderBytes);
    EXPECT_EQ(i2.biSize, i.biSize);
    EXPECT_EQ(i2.biWidth, i.biWidth);
    EXPECT_EQ(i2.biHeight, i.biHeight);
    EXPECT_EQ(i2.biPlanes, i.biPlanes);
    EXPECT_EQ(i2.biBitCount, i.biBitCount);
    EXPECT_EQ(i2.biCompression, i.biCompression);
    EXPECT_EQ(i2.biSizeImage, i.biSizeImage);
    EXPECT_EQ(i2.biXPelsPerMeter, i.biXPelsPerMeter);
    EXPECT_EQ(i2.biYPelsPerMeter, i.biYPelsPerMeter);
    EXPECT_EQ(i2.biClrUsed, i.biClrUsed);
    EXPECT_EQ(i2.biClrImportant, i.biClrImportant);
}

TEST(PreviewPalette, CodesGetTheLegendAndEverythingElseMagenta)
{
    Bytes p(previewPaletteBytes, 0xAA);
    previewPalette(previewCodes, p.data());
    for (std::size_t i = 0; i < 256; ++i) {
        const std::uint32_t rgb = i < legend.size() ? legend[i] : warning;
        EXPECT_EQ(p[4 * i + 0], rgb & 0xFF) << "blue of " << i;
        EXPECT_EQ(p[4 * i + 1], (rgb >> 8) & 0xFF) << "green of " << i;
        EXPECT_EQ(p[4 * i + 2], rgb >> 16) << "red of " << i;
        EXPECT_EQ(p[4 * i + 3], 0) << "reserved of " << i;
    }
}

TEST(PreviewPalette, SamplesGetAGrayRamp)
{
    Bytes p(previewPaletteBytes, 0xAA);
    previewPalette(previewGray, p.data());
    for (std::size_t i = 0; i < 256; ++i) {
        const Bytes entry(p.begin() + static_cast<long>(4 * i), p.begin() + static_cast<long>(4 * i + 4));
        EXPECT_EQ(entry, (Bytes{static_cast<unsigned char>(i), static_cast<unsigned char>(i),
                                static_cast<unsigned char>(i), 0}))
            << i;
    }
}

// The file stores the destination's rows last row first, so that the
// picture shows its first row at the top; padding is zero whatever the
// buffer held.
TEST(PreviewRows, StoredLastRowFirstAndPadded)
{
    // 3 x 3 codes: row r holds 10r, 10r + 1, 10r + 2; what follows is not
    // part of the map.
    const Bytes codes = {0, 1, 2, 10, 11, 12, 20, 21, 22, 99, 99, 99};
    const Bytes storedRows[] = {{20, 21, 22, 0}, {10, 11, 12, 0}, {0, 1, 2, 0}};
    EXPECT_EQ(previewSampleBytes(previewCodes), 1);
    for (std::int32_t s = 0; s < 3; ++s) {
        Bytes row(4, 0xAA);
        previewRow(codes.data(), 3, s, previewCodes, row.data());
        EXPECT_EQ(row, storedRows[s]) << "stored row " << s;
    }

    // 2 x 2 little-endian samples: the index is the high byte.
    const Bytes samples = {0x01, 0x10, 0x02, 0x20, 0x03, 0x30, 0x04, 0x40};
    const Bytes grayRows[] = {{0x30, 0x40, 0, 0}, {0x10, 0x20, 0, 0}};
    EXPECT_EQ(previewSampleBytes(previewGray), 2);
    for (std::int32_t s = 0; s < 2; ++s) {
        Bytes row(4, 0xAA);
        previewRow(samples.data(), 2, s, previewGray, row.data());
        EXPECT_EQ(row, grayRows[s]) << "stored row " << s;
    }

    // A width of a multiple of 4 has no padding: nothing past the row is
    // touched.
    const Bytes four = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    Bytes row(6, 0xAA);
    previewRow(four.data(), 4, 0, previewCodes, row.data());
    EXPECT_EQ(row, (Bytes{13, 14, 15, 16, 0xAA, 0xAA}));
}

} // namespace
