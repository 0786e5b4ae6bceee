#include "conversion.h"

#include "runstate.h"

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
        // One translated code per source byte.
        for (std::int32_t x = 0; x < n; ++x)
            outdata[x] = Translate[indata[x]];
        return n;
    }

    // 24-bit: each blue-green-red pixel becomes a little-endian 16-bit sample
    // of green x 256.  Bytes run on in file order; rows are not seen.
    std::int32_t x = 0;
    std::int32_t out = 0;
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
