#include "source/bmpheader.h"

#include "common/platform.h"
#include "common/runstate.h"
#include "common/shutdown.h"

namespace {

std::uint16_t le16(const unsigned char *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t le32(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Two's complement reading of a 32-bit field, without relying on how the
// host converts an out-of-range unsigned value.
std::int32_t le32s(const unsigned char *p)
{
    const std::uint32_t u = le32(p);
    if (u <= 0x7FFFFFFFu)
        return static_cast<std::int32_t>(u);
    return static_cast<std::int32_t>(u - 0x80000000u) - 0x7FFFFFFF - 1;
}

} // namespace

_bidHeader decodeBidHeader(const unsigned char *bytes)
{
    _bidHeader h;
    h.sig = le16(bytes + 0);
    h.fileSize = le32(bytes + 2);
    h.res1 = le16(bytes + 6);
    h.res2 = le16(bytes + 8);
    h.offBits = le32(bytes + 10);
    return h;
}

_bidInfoHeader decodeBidInfoHeader(const unsigned char *bytes)
{
    _bidInfoHeader h;
    h.biSize = le32(bytes + 0);
    h.biWidth = le32s(bytes + 4);
    h.biHeight = le32s(bytes + 8);
    h.biPlanes = le16(bytes + 12);
    h.biBitCount = le16(bytes + 14);
    h.biCompression = le32(bytes + 16);
    h.biSizeImage = le32(bytes + 20);
    h.biXPelsPerMeter = le32s(bytes + 24);
    h.biYPelsPerMeter = le32s(bytes + 28);
    h.biClrUsed = le32(bytes + 32);
    h.biClrImportant = le32(bytes + 36);
    return h;
}

_rgbQuad decodeRgbQuad(const unsigned char *bytes)
{
    _rgbQuad q;
    q.rgbBlue = bytes[0];
    q.rgbGreen = bytes[1];
    q.rgbRed = bytes[2];
    q.rgbReserved = bytes[3];
    return q;
}

std::uint32_t bmpNumColors(const _bidHeader &header)
{
    // Wraps for offBits below 54, as the palette-count check expects.
    return (header.offBits - bmpHeadersBytes) / 4u;
}

int bmpWidthFits(std::int32_t width)
{
    if (width < 0)
        return 0;
    return width <= maxBmpWidth ? 1 : 0;
}

BmpFault bmpHeaderFault(const unsigned char *bytes, std::size_t have)
{
    if (have < bidHeaderBytes)
        return {exitUnreadable, "Error reading %s bitmap header\n"};
    const _bidHeader header = decodeBidHeader(bytes);
    if (header.sig != 0x4D42)
        return {exitBadSignature, "input Bitmap file has bad signature\n"};

    if (have < bmpHeadersBytes)
        return {exitUnreadable, "Error reading input file bitmap info header\n"};
    const _bidInfoHeader info = decodeBidInfoHeader(bytes + bidHeaderBytes);
    if (info.biSize != bidInfoHeaderBytes)
        return {exitUnsupportedBitmap, "Unexpected bitmap info header size for input file.\n"};
    if (info.biWidth != info.biHeight)
        return {exitUnsupportedBitmap, "input bitmap file must be square\n"};
    if (info.biCompression != 0)
        return {exitUnsupportedBitmap, "input bitmap file compression is unsupported.\n"};
    if (info.biClrUsed != 0 && info.biClrUsed != bmpNumColors(header))
        return {exitUnsupportedBitmap, "%s bitmap file allocated colors mismatch.\n"};

    // Only a check that the file goes on past its headers: 8-bit pixels are
    // material codes, so the palette's colours are never used.
    if (have < bmpCheckedBytes)
        return {exitUnsupportedBitmap, "Error reading color table in image file.\n"};

    if (info.biBitCount != 8 && info.biBitCount != 24)
        return {exitUnsupportedBitmap, "%s bitmap file must be 8 or 24 bit\n"};
    if (!bmpWidthFits(info.biWidth))
        return {exitUnsupportedBitmap,
                "input bitmap file width must be from 0 to " MATCONV_STRINGIFY(MATCONV_MAX_BMP_WIDTH) "\n"};
    // Pixel data that overlaps the headers would convert header bytes as map.
    if (header.offBits < bmpHeadersBytes)
        return {exitUnreadable, "input bitmap file pixel data offset lies inside its headers\n"};
    return {0, nullptr};
}

void loadBmpHeader(std::FILE *fp)
{
    unsigned char bytes[bmpCheckedBytes];
    const std::size_t have = std::fread(bytes, 1, sizeof bytes, fp);
    const BmpFault fault = bmpHeaderFault(bytes, have);
    if (fault.status != 0)
        myshutdownWith(fault.status, fault.message, inpath);

    const _bidHeader header = decodeBidHeader(bytes);
    const _bidInfoHeader info = decodeBidInfoHeader(bytes + bidHeaderBytes);
    // Seeking past the end succeeds; the loader then finds nothing to read.
    seek64(fp, static_cast<long long>(header.offBits), SEEK_SET);

    depth = info.biBitCount;
    res = info.biWidth;
    std::printf("Found a BMP with color depth of %d and a width of %d\n", depth,
                static_cast<int>(res));
    isBmp = 1;
}
