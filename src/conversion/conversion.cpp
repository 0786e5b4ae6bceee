#include "conversion/conversion.h"

#include "common/platform.h"
#include "common/runstate.h"

// Built-in BF1942-to-BF2 material codes.  Only codes 0 to 15 occur in BF1942
// maps; every other code maps to 0.
unsigned char Translate[tableEntries] = {
    0, 1, 6, 5, 8, 8, 9, 7, 3, 3, 2, 2, 12, 2, 8, 4,
};

std::int32_t process()
{
    const std::int32_t n = inputbufSize < bufferSize ? inputbufSize : bufferSize;
    if (n <= 0)
        return 0;

    if (depth == 8) {
        prepareForFill(outdata, sizeof outdata, static_cast<std::size_t>(n));
        // One translated code per source byte.  Eight independent lookups a
        // turn keep the loads in flight instead of paying the loop per byte.
        std::int32_t x = 0;
        for (; n - x >= 8; x += 8) {
            const unsigned char *p = indata + x;
            unsigned char *q = outdata + x;
            const unsigned char c0 = Translate[p[0]];
            const unsigned char c1 = Translate[p[1]];
            const unsigned char c2 = Translate[p[2]];
            const unsigned char c3 = Translate[p[3]];
            const unsigned char c4 = Translate[p[4]];
            const unsigned char c5 = Translate[p[5]];
            const unsigned char c6 = Translate[p[6]];
            const unsigned char c7 = Translate[p[7]];
            q[0] = c0;
            q[1] = c1;
            q[2] = c2;
            q[3] = c3;
            q[4] = c4;
            q[5] = c5;
            q[6] = c6;
            q[7] = c7;
        }
        for (; x < n; ++x)
            outdata[x] = Translate[indata[x]];
        return n;
    }

    // 24-bit: each blue-green-red pixel becomes a little-endian 16-bit sample
    // of green x 256.  Bytes run on in file order; rows are not seen.
    prepareForFill(outdata, sizeof outdata, static_cast<std::size_t>(n / 3) * 2);
    std::int32_t x = 0;
    std::int32_t out = 0;
    // Four pixels a turn, so the loop is paid once per eight output bytes.
    for (; n - x >= 12; x += 12, out += 8) {
        const unsigned char *p = indata + x;
        unsigned char *q = outdata + out;
        q[0] = 0;
        q[1] = p[1];
        q[2] = 0;
        q[3] = p[4];
        q[4] = 0;
        q[5] = p[7];
        q[6] = 0;
        q[7] = p[10];
    }
    for (; n - x >= 3; x += 3, out += 2) {
        outdata[out] = 0;
        outdata[out + 1] = indata[x + 1];
    }
    if (x < n) {
        // A short last pixel still counts; its missing green byte is 0, and
        // nothing past the loaded bytes (or the buffer) is read.
        outdata[out] = 0;
        outdata[out + 1] = (x + 1 < n) ? indata[x + 1] : 0;
        out += 2;
    }
    return out;
}
