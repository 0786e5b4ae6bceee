#include "mainConv/preview.h"

namespace {

// Codes a BF1942 map holds, each shown in its own colour.
constexpr int materialCodes = 16;

// The preview's colours of the material codes 0 to 15, as red, green and
// blue: Kelly's colours of maximum contrast, easily told apart side by side,
// with a dark gray for code 0.  The README and the Windows guide show them;
// docs/render-maps.sh reads them back from a preview's palette.
constexpr unsigned char materialColours[materialCodes][3] = {
    {0x3b, 0x3b, 0x3b},  //  0 dark gray
    {0xf3, 0xc3, 0x00},  //  1 yellow
    {0x87, 0x56, 0x92},  //  2 purple
    {0xf3, 0x84, 0x00},  //  3 orange
    {0xa1, 0xca, 0xf1},  //  4 light blue
    {0xbe, 0x00, 0x32},  //  5 red
    {0xc2, 0xb2, 0x80},  //  6 buff
    {0x84, 0x84, 0x82},  //  7 gray
    {0x00, 0x88, 0x56},  //  8 green
    {0xe6, 0x8f, 0xac},  //  9 pink
    {0x00, 0x67, 0xa5},  // 10 blue
    {0xf9, 0x93, 0x79},  // 11 salmon
    {0x60, 0x4e, 0x97},  // 12 violet
    {0xf6, 0xa6, 0x00},  // 13 amber
    {0xb3, 0x44, 0x6c},  // 14 plum
    {0xdc, 0xd3, 0x00},  // 15 lime
};

// Every other code, 16 to 255, which no BF1942 map holds: magenta, so that
// an unexpected code stands out.
constexpr unsigned char warningColour[3] = {0xff, 0x00, 0xff};

// One byte per pixel, the palette index, so a row is w bytes before padding.
constexpr std::int32_t previewBitCount = 8;

// The bitmap's signature "BM" read as a little-endian number.
constexpr std::uint16_t bitmapSignature = 0x4D42;

void put16(unsigned char *p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}

void put32(unsigned char *p, std::uint32_t v)
{
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

void putQuad(unsigned char *p, const unsigned char *rgb)
{
    p[0] = rgb[2];
    p[1] = rgb[1];
    p[2] = rgb[0];
    p[3] = 0;
}

} // namespace

PreviewFault previewWidth(int bitmap, std::int32_t bitmapWidth, std::int32_t rawSize, std::int32_t *width)
{
    std::int32_t w = bitmapWidth;
    if (!bitmap) {
        w = squareRootFloor(rawSize < 0 ? 0 : rawSize);
        if (static_cast<long long>(w) * w != rawSize)
            return previewNotSquare;
    }
    if (w <= 0)
        return previewNoWidth;
    *width = w;
    return previewFine;
}

std::int64_t previewFileBytes(std::int32_t w)
{
    return static_cast<std::int64_t>(previewPixelOffset) + static_cast<std::int64_t>(previewRowBytes(w)) * w;
}

_bidHeader previewFileHeader(std::int32_t w)
{
    _bidHeader h{};
    h.sig = bitmapSignature;
    h.fileSize = static_cast<std::uint32_t>(previewFileBytes(w));
    h.res1 = 0;
    h.res2 = 0;
    h.offBits = previewPixelOffset;
    return h;
}

_bidInfoHeader previewInfoHeader(std::int32_t w)
{
    _bidInfoHeader h{};
    h.biSize = bidInfoHeaderBytes;
    h.biWidth = w;
    h.biHeight = w;
    h.biPlanes = 1;
    h.biBitCount = previewBitCount;
    h.biCompression = 0;
    h.biSizeImage = static_cast<std::uint32_t>(previewRowBytes(w)) * static_cast<std::uint32_t>(w);
    h.biXPelsPerMeter = 0;
    h.biYPelsPerMeter = 0;
    h.biClrUsed = previewPaletteEntries;
    h.biClrImportant = 0;
    return h;
}

void encodeBidHeader(const _bidHeader &header, unsigned char *bytes)
{
    put16(bytes + 0, header.sig);
    put32(bytes + 2, header.fileSize);
    put16(bytes + 6, header.res1);
    put16(bytes + 8, header.res2);
    put32(bytes + 10, header.offBits);
}

void encodeBidInfoHeader(const _bidInfoHeader &header, unsigned char *bytes)
{
    put32(bytes + 0, header.biSize);
    put32(bytes + 4, static_cast<std::uint32_t>(header.biWidth));
    put32(bytes + 8, static_cast<std::uint32_t>(header.biHeight));
    put16(bytes + 12, header.biPlanes);
    put16(bytes + 14, header.biBitCount);
    put32(bytes + 16, header.biCompression);
    put32(bytes + 20, header.biSizeImage);
    put32(bytes + 24, static_cast<std::uint32_t>(header.biXPelsPerMeter));
    put32(bytes + 28, static_cast<std::uint32_t>(header.biYPelsPerMeter));
    put32(bytes + 32, header.biClrUsed);
    put32(bytes + 36, header.biClrImportant);
}

void previewHeaders(std::int32_t w, unsigned char *bytes)
{
    encodeBidHeader(previewFileHeader(w), bytes);
    encodeBidInfoHeader(previewInfoHeader(w), bytes + bidHeaderBytes);
}

void previewPalette(PreviewKind kind, unsigned char *bytes)
{
    for (int i = 0; i < previewPaletteEntries; ++i) {
        unsigned char *entry = bytes + static_cast<std::size_t>(i) * rgbQuadBytes;
        if (kind == previewGray) {
            const unsigned char level = static_cast<unsigned char>(i);
            const unsigned char gray[3] = {level, level, level};
            putQuad(entry, gray);
        } else {
            putQuad(entry, i < materialCodes ? materialColours[i] : warningColour);
        }
    }
}

int previewSampleBytes(PreviewKind kind) { return kind == previewGray ? 2 : 1; }

void previewRow(const unsigned char *destination, std::int32_t w, std::int32_t stored, PreviewKind kind,
                unsigned char *row)
{
    // The bottom of the picture is the destination's last row.
    const std::size_t step = static_cast<std::size_t>(previewSampleBytes(kind));
    const std::size_t width = static_cast<std::size_t>(w);
    const unsigned char *from = destination + static_cast<std::size_t>(w - 1 - stored) * width * step;
    // A gray sample is little-endian: its high byte comes second.
    if (kind == previewGray)
        from += 1;
    for (std::size_t x = 0; x < width; ++x)
        row[x] = from[x * step];
    const std::size_t padded = static_cast<std::size_t>(previewRowBytes(w));
    for (std::size_t x = width; x < padded; ++x)
        row[x] = 0;
}
