#include "conversion/conversion.h"

#include "common/platform.h"
#include "common/runstate.h"
#include "conversion/kernels.h"

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

    // The fastest loop this processor runs; every one writes the same bytes.
    const Kernel kernel = fastestKernel();
    const std::size_t count = static_cast<std::size_t>(n);
    if (depth == 8) {
        // One translated code per source byte.
        prepareForFill(outdata, sizeof outdata, count);
        translateCodes(kernel, indata, count, outdata, Translate);
        return n;
    }

    // 24-bit: each blue-green-red pixel becomes a little-endian 16-bit sample
    // of green x 256.  Bytes run on in file order; rows are not seen.  At most
    // 2 x ceil(67,108,864 / 3) bytes, well inside the buffer and an int32_t.
    prepareForFill(outdata, sizeof outdata, count / 3 * 2);
    return static_cast<std::int32_t>(greenSamples(kernel, indata, count, outdata));
}
