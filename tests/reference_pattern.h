// An independent model of the "/D" test file, for checking the program's.
#ifndef MATCONV_REFERENCE_PATTERN_H
#define MATCONV_REFERENCE_PATTERN_H

#include <cstddef>
#include <vector>

namespace reference {

// The triangle wave's levels: up by 2 from 0 until one step past 32,768,
// then down until one step past 0, and so on.
inline std::vector<long> levels(std::size_t count)
{
    std::vector<long> out;
    long d = 0;
    long step = 2;
    while (out.size() < count) {
        out.push_back(d);
        d += step;
        if (d > 32768 || d < 0)
            step = -step;
    }
    return out;
}

// Low and high byte of level d: high (d / 256 + 40) mod 256, low the floor of
// (d - 256 d) / 256 mod 256.
inline std::vector<unsigned char> pair(long d)
{
    const long v = d - 256 * d;
    long q = v / 256;
    if (v % 256 != 0 && v < 0)
        --q;
    return {static_cast<unsigned char>(((q % 256) + 256) % 256),
            static_cast<unsigned char>((d / 256 + 40) % 256)};
}

// The whole file of count samples.
inline std::vector<unsigned char> file(std::size_t count)
{
    std::vector<unsigned char> bytes;
    for (long d : levels(count)) {
        const std::vector<unsigned char> p = pair(d);
        bytes.insert(bytes.end(), p.begin(), p.end());
    }
    return bytes;
}

} // namespace reference

#endif
