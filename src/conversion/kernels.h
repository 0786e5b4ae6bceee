// Conversion kernels: the inner loops of the material conversion, each a pure
// function of its source bytes, count and destination (and, for 8-bit codes,
// the translation table), in one plain version and in versions for the
// vector units of newer x86-64 processors.  The conversion picks the fastest
// one this processor and its operating system can run, once per run; the
// tests and the micro-benchmark call each one by its kernel number.
#ifndef MATCONV_KERNELS_H
#define MATCONV_KERNELS_H

#include <cstddef>

// The kernels, from the plainest to the fastest.  Every build has the plain
// loop; the others exist on x86-64 (and 32-bit x86) with GCC, Clang or MSVC.
enum Kernel {
    kernelScalar,     // the plain loop, on any processor
    kernelAvx2,       // 256-bit AVX2 byte shuffles
    kernelAvx512Vbmi, // 512-bit AVX-512 VBMI byte permutes
    kernelCount
};

// A short fixed name of the kernel ("scalar", "avx2", "avx512vbmi").
const char *kernelName(Kernel kernel);

// 1 when this build holds the kernel and this processor and its operating
// system can run it, else 0.  The plain loop always runs.
int kernelRuns(Kernel kernel);

// The kernel the conversion uses: the last one in the list that runs here.
Kernel fastestKernel();

// Writes table[in[i]] to out[i] for every i below count.  Reads nothing
// before in or at and past in + count, and writes only out[0..count).
// The kernel must run here (kernelRuns).
void translateCodes(Kernel kernel, const unsigned char *in, std::size_t count,
                    unsigned char *out, const unsigned char *table);

// Turns count bytes of blue-green-red pixels into little-endian 16-bit
// samples of green x 256: out[2k] = 0, out[2k + 1] = in[3k + 1].  A short last
// pixel still yields a sample; its green byte, when it lies at or past
// in + count, counts as 0 and is not read.  Returns the bytes written,
// 2 x ceil(count / 3).  The kernel must run here (kernelRuns).
std::size_t greenSamples(Kernel kernel, const unsigned char *in, std::size_t count,
                         unsigned char *out);

#endif
