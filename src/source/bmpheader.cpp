#include "bmpheader.h"

#include "platform.h"
#include "runstate.h"

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
    const long long w = width;
    return 2 * w * w <= bufferSize ? 1 : 0;
}

void loadBmpHeader(std::FILE *fp)
{
    unsigned char bytes[bidInfoHeaderBytes];

    if (std::fread(bytes, bidHeaderBytes, 1, fp) != 1)
        myshutdownWith(7, "Error reading %s bitmap header\n", inpath);
    const _bidHeader header = decodeBidHeader(bytes);
    if (header.sig != 0x4D42)
        myshutdown(16, "input Bitmap file has bad signature\n");

    if (std::fread(bytes, bidInfoHeaderBytes, 1, fp) != 1)
        myshutdown(7, "Error reading input file bitmap info header\n");
    const _bidInfoHeader info = decodeBidInfoHeader(bytes);
    if (info.biSize != bidInfoHeaderBytes)
        myshutdown(17, "Unexpected bitmap info header size for input file.\n");
    if (info.biWidth != info.biHeight)
        myshutdown(17, "input bitmap file must be square\n");
    if (info.biCompression != 0)
        myshutdown(17, "input bitmap file compression is unsupported.\n");
    if (info.biClrUsed != 0 && info.biClrUsed != bmpNumColors(header))
        myshutdownWith(17, "%s bitmap file allocated colors mismatch.\n", inpath);

    // Only a check that the file goes on past its headers: 8-bit pixels are
    // material codes, so the palette's colours are never used.
    if (std::fread(bytes, rgbQuadBytes, 1, fp) != 1)
        myshutdown(17, "Error reading color table in image file.\n");

    // Seeking past the end succeeds; the loader then finds nothing to read.
    seek64(fp, static_cast<long long>(header.offBits), SEEK_SET);

    if (info.biBitCount != 8 && info.biBitCount != 24)
        myshutdownWith(17, "%s bitmap file must be 8 or 24 bit\n", inpath);
    if (!bmpWidthFits(info.biWidth))
        myshutdown(17, "input bitmap file width must be from 0 to 5792\n");
    // Pixel data that overlaps the headers would convert header bytes as map.
    if (header.offBits < bmpHeadersBytes)
        myshutdown(7, "input bitmap file pixel data offset lies inside its headers\n");

    depth = info.biBitCount;
    res = info.biWidth;
    std::printf("Found a BMP with color depth of %d and a width of %d\n", depth,
                static_cast<int>(res));
    isBmp = 1;
}
