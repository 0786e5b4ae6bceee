#include "conversion/kernels.h"

// The vector kernels need x86 intrinsics and a way to compile single
// functions for a newer processor than the rest of the program: GCC and
// Clang (clang-cl too) take a target attribute per function, MSVC accepts
// the intrinsics anywhere.  The processor's features come from
// __builtin_cpu_supports with GCC and Clang, and from CPUID under MSVC and
// clang-cl.  Elsewhere only the plain loops exist.
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__)) && !defined(_MSC_VER)
#define MATCONV_X86_GNU 1
#elif (defined(_M_X64) || defined(_M_IX86)) && defined(_MSC_VER)
#define MATCONV_X86_MSVC 1
#endif

#if defined(MATCONV_X86_GNU)
#include <cpuid.h>
#include <immintrin.h>
#elif defined(MATCONV_X86_MSVC)
#include <immintrin.h>
#include <intrin.h>
#endif

#if defined(MATCONV_X86_GNU) || defined(MATCONV_X86_MSVC)
#if defined(__GNUC__) || defined(__clang__)
#define MATCONV_TARGET(features) __attribute__((target(features)))
#else
#define MATCONV_TARGET(features)
#endif
#define MATCONV_HAVE_AVX2 1
// The AVX-512 byte permutes and mask moves came with GCC 6 and Clang 5.
#if (defined(__clang__) && __clang_major__ >= 5) || (!defined(__clang__) && defined(__GNUC__) && __GNUC__ >= 6) || \
    (!defined(__clang__) && !defined(__GNUC__))
#define MATCONV_HAVE_AVX512VBMI 1
#endif
#endif

#include <cstdint>

namespace {

// ---- plain loops ----------------------------------------------------------

void translateScalar(const unsigned char *in, std::size_t count, unsigned char *out,
                     const unsigned char *table)
{
    // Eight independent lookups a turn keep the loads in flight instead of
    // paying the loop per byte.
    std::size_t i = 0;
    for (; count - i >= 8; i += 8) {
        const unsigned char *p = in + i;
        unsigned char *q = out + i;
        const unsigned char c0 = table[p[0]];
        const unsigned char c1 = table[p[1]];
        const unsigned char c2 = table[p[2]];
        const unsigned char c3 = table[p[3]];
        const unsigned char c4 = table[p[4]];
        const unsigned char c5 = table[p[5]];
        const unsigned char c6 = table[p[6]];
        const unsigned char c7 = table[p[7]];
        q[0] = c0;
        q[1] = c1;
        q[2] = c2;
        q[3] = c3;
        q[4] = c4;
        q[5] = c5;
        q[6] = c6;
        q[7] = c7;
    }
    for (; i < count; ++i)
        out[i] = table[in[i]];
}

// Converts the pixels from byte `from` on, where a vector loop stopped: whole
// pixels, then a short last one.  Returns the bytes written in all.
std::size_t greenTail(const unsigned char *in, std::size_t from, std::size_t count,
                      unsigned char *out)
{
    std::size_t x = from;
    std::size_t o = from / 3 * 2;
    for (; count - x >= 3; x += 3, o += 2) {
        out[o] = 0;
        out[o + 1] = in[x + 1];
    }
    if (x < count) {
        // A short last pixel still counts; its missing green byte is 0, and
        // nothing past the source bytes is read.
        out[o] = 0;
        out[o + 1] = (x + 1 < count) ? in[x + 1] : 0;
        o += 2;
    }
    return o;
}

std::size_t greenScalar(const unsigned char *in, std::size_t count, unsigned char *out)
{
    // Four pixels a turn, so the loop is paid once per eight output bytes.
    std::size_t x = 0;
    std::size_t o = 0;
    for (; count - x >= 12; x += 12, o += 8) {
        const unsigned char *p = in + x;
        unsigned char *q = out + o;
        q[0] = 0;
        q[1] = p[1];
        q[2] = 0;
        q[3] = p[4];
        q[4] = 0;
        q[5] = p[7];
        q[6] = 0;
        q[7] = p[10];
    }
    return greenTail(in, x, count, out);
}

// ---- AVX2 -------------------------------------------------------------------
// The vector values live in registers only: no kernel keeps an array of
// vectors or passes one to a call, so the compiler never spills one to an
// aligned stack slot (which GCC cannot align on 64-bit Windows).

#if defined(MATCONV_HAVE_AVX2)

// pshufb looks up 16 entries at a time, so the table is taken in rows of 16
// entries, one lookup per row; rows that are all zero add nothing and are
// skipped.  Maps hold codes 0 to 15, and the built-in table has only one row
// that is not zero.
MATCONV_TARGET("avx2")
void translateAvx2(const unsigned char *in, std::size_t count, unsigned char *out,
                   const unsigned char *table)
{
    // The rows that hold a non-zero entry, each by its first code.
    unsigned char rowStart[16];
    int rows = 0;
    for (int r = 0; r < 16; ++r) {
        unsigned char any = 0;
        for (int e = 0; e < 16; ++e)
            any = static_cast<unsigned char>(any | table[16 * r + e]);
        if (any) {
            rowStart[rows] = static_cast<unsigned char>(16 * r);
            ++rows;
        }
    }
    // After code - 16 r (wrapping), codes of row r are 0 to 15 and every other
    // code is 16 or more; adding 0x70 with saturation keeps the first below
    // 0x80 and pushes the others to 0x80 or more, for which pshufb gives 0.
    const __m256i bias = _mm256_set1_epi8(0x70);
    std::size_t i = 0;
    for (; count - i >= 64; i += 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i + 32));
        __m256i ra = _mm256_setzero_si256();
        __m256i rb = _mm256_setzero_si256();
        for (int k = 0; k < rows; ++k) {
            const __m256i row = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(table + rowStart[k])));
            const __m256i offset = _mm256_set1_epi8(static_cast<char>(rowStart[k]));
            ra = _mm256_or_si256(ra, _mm256_shuffle_epi8(row, _mm256_adds_epu8(_mm256_sub_epi8(a, offset), bias)));
            rb = _mm256_or_si256(rb, _mm256_shuffle_epi8(row, _mm256_adds_epu8(_mm256_sub_epi8(b, offset), bias)));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), ra);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i + 32), rb);
    }
    // Clear the upper register halves before plain code runs again, which
    // GCC and Clang do by themselves but MSVC may not.
    _mm256_zeroupper();
    translateScalar(in + i, count - i, out + i, table);
}

// Sixteen pixels (48 bytes) a turn give 32 output bytes.  Each 128-bit lane
// is shuffled from a 16-byte load that starts on a pixel, four pixels each
// in the low or the high half; the last load starts 4 bytes early so that
// nothing past the 48 bytes is read.
MATCONV_TARGET("avx2")
std::size_t greenAvx2(const unsigned char *in, std::size_t count, unsigned char *out)
{
    const char z = -128;  // pshufb index that yields 0
    const __m256i lowHalf = _mm256_setr_epi8(
        z, 1, z, 4, z, 7, z, 10, z, z, z, z, z, z, z, z,
        z, 1, z, 4, z, 7, z, 10, z, z, z, z, z, z, z, z);
    const __m256i highHalf = _mm256_setr_epi8(
        z, z, z, z, z, z, z, z, z, 1, z, 4, z, 7, z, 10,
        z, z, z, z, z, z, z, z, z, 5, z, 8, z, 11, z, 14);
    std::size_t x = 0;
    std::size_t o = 0;
    for (; count - x >= 48; x += 48, o += 32) {
        const unsigned char *p = in + x;
        const __m256i a = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p))),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 24)), 1);
        const __m256i b = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 12))),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 32)), 1);
        const __m256i r = _mm256_or_si256(_mm256_shuffle_epi8(a, lowHalf), _mm256_shuffle_epi8(b, highHalf));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + o), r);
    }
    // As above: no upper register halves left dirty for the plain code.
    _mm256_zeroupper();
    return greenTail(in, x, count, out);
}

#endif

// ---- AVX-512 VBMI -----------------------------------------------------------

#if defined(MATCONV_HAVE_AVX512VBMI)

// vpermi2b looks up 64 codes at once in 128 table entries held in two
// registers, by the low seven bits of each code.  One lookup in each half of
// the table, and the code's top bit picks between them.
MATCONV_TARGET("avx512f,avx512bw,avx512vbmi")
void translateVbmi(const unsigned char *in, std::size_t count, unsigned char *out,
                   const unsigned char *table)
{
    const __m512i t0 = _mm512_loadu_si512(table);
    const __m512i t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128);
    const __m512i t3 = _mm512_loadu_si512(table + 192);
    std::size_t i = 0;
    for (; count - i >= 64; i += 64) {
        const __m512i codes = _mm512_loadu_si512(in + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, codes, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, codes, t3);
        const __mmask64 top = _mm512_movepi8_mask(codes);
        _mm512_storeu_si512(out + i, _mm512_mask_blend_epi8(top, low, high));
    }
    // Clear the upper register halves before plain code runs again, which
    // GCC and Clang do by themselves but MSVC may not.
    _mm256_zeroupper();
    translateScalar(in + i, count - i, out + i, table);
}

// Thirty-two pixels (96 bytes, in two registers) a turn give 64 output
// bytes: one two-register permute puts each green byte in an odd place and
// zeroes the even ones.
MATCONV_TARGET("avx512f,avx512bw,avx512vbmi")
std::size_t greenVbmi(const unsigned char *in, std::size_t count, unsigned char *out)
{
    // Output byte 2k + 1 takes source byte 3k + 1; bit 6 of an index picks
    // the second register (source bytes 64 to 95).
    static const unsigned char greenPlace[64] = {
        0, 1, 0, 4, 0, 7, 0, 10, 0, 13, 0, 16, 0, 19, 0, 22,
        0, 25, 0, 28, 0, 31, 0, 34, 0, 37, 0, 40, 0, 43, 0, 46,
        0, 49, 0, 52, 0, 55, 0, 58, 0, 61, 0, 64, 0, 67, 0, 70,
        0, 73, 0, 76, 0, 79, 0, 82, 0, 85, 0, 88, 0, 91, 0, 94,
    };
    const __m512i index = _mm512_loadu_si512(greenPlace);
    const __mmask64 odd = 0xAAAAAAAAAAAAAAAAull;
    std::size_t x = 0;
    std::size_t o = 0;
    for (; count - x >= 96; x += 96, o += 64) {
        const __m512i a = _mm512_loadu_si512(in + x);
        const __m512i b = _mm512_castsi256_si512(
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + x + 64)));
        _mm512_storeu_si512(out + o, _mm512_maskz_permutex2var_epi8(odd, a, index, b));
    }
    // As above: no upper register halves left dirty for the plain code.
    _mm256_zeroupper();
    return greenTail(in, x, count, out);
}

#endif

// ---- what the processor and its operating system support --------------------

#if defined(MATCONV_X86_GNU) || defined(MATCONV_X86_MSVC)
// XCR0 bits the operating system sets when it saves a register state on a
// task switch: SSE and AVX (0x6); AVX-512's mask and upper registers (0xE0).
const unsigned osAvxState = 0x6;
const unsigned osAvx512State = 0xE6;
#endif

#if defined(MATCONV_X86_GNU)

unsigned osVectorState()
{
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    // Without OSXSAVE (leaf 1, ecx bit 27) XGETBV itself is not allowed.
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & (1u << 27)))
        return 0;
    unsigned low = 0;
    unsigned high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return low;
}

int cpuHasAvx2() { return __builtin_cpu_supports("avx2") ? 1 : 0; }

int cpuHasAvx512Vbmi()
{
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vbmi")
               ? 1
               : 0;
}

#elif defined(MATCONV_X86_MSVC)

MATCONV_TARGET("xsave")
unsigned osVectorState()
{
    int r[4];
    __cpuid(r, 1);
    if (!(static_cast<unsigned>(r[2]) & (1u << 27)))
        return 0;
    return static_cast<unsigned>(_xgetbv(0));
}

// Leaf 7 feature bits: ebx bit 5 AVX2, bit 16 AVX512F, bit 30 AVX512BW;
// ecx bit 1 AVX512VBMI.
unsigned leaf7(int reg)
{
    int r[4];
    __cpuid(r, 0);
    if (r[0] < 7)
        return 0;
    __cpuidex(r, 7, 0);
    return static_cast<unsigned>(r[reg]);
}

int cpuHasAvx2() { return (leaf7(1) >> 5) & 1u ? 1 : 0; }

int cpuHasAvx512Vbmi()
{
    const unsigned ebx = leaf7(1);
    const unsigned ecx = leaf7(2);
    return (ebx & (1u << 16)) && (ebx & (1u << 30)) && (ecx & (1u << 1)) ? 1 : 0;
}

#endif

} // namespace

const char *kernelName(Kernel kernel)
{
    switch (kernel) {
    case kernelAvx2:
        return "avx2";
    case kernelAvx512Vbmi:
        return "avx512vbmi";
    default:
        return "scalar";
    }
}

int kernelRuns(Kernel kernel)
{
    switch (kernel) {
    case kernelScalar:
        return 1;
#if defined(MATCONV_HAVE_AVX2)
    case kernelAvx2:
        return cpuHasAvx2() && (osVectorState() & osAvxState) == osAvxState;
#endif
#if defined(MATCONV_HAVE_AVX512VBMI)
    case kernelAvx512Vbmi:
        return cpuHasAvx2() && cpuHasAvx512Vbmi() && (osVectorState() & osAvx512State) == osAvx512State;
#endif
    default:
        return 0;
    }
}

Kernel fastestKernel()
{
    if (kernelRuns(kernelAvx512Vbmi))
        return kernelAvx512Vbmi;
    if (kernelRuns(kernelAvx2))
        return kernelAvx2;
    return kernelScalar;
}

void translateCodes(Kernel kernel, const unsigned char *in, std::size_t count,
                    unsigned char *out, const unsigned char *table)
{
    switch (kernel) {
#if defined(MATCONV_HAVE_AVX512VBMI)
    case kernelAvx512Vbmi:
        translateVbmi(in, count, out, table);
        return;
#endif
#if defined(MATCONV_HAVE_AVX2)
    case kernelAvx2:
        translateAvx2(in, count, out, table);
        return;
#endif
    default:
        translateScalar(in, count, out, table);
        return;
    }
}

std::size_t greenSamples(Kernel kernel, const unsigned char *in, std::size_t count,
                         unsigned char *out)
{
    switch (kernel) {
#if defined(MATCONV_HAVE_AVX512VBMI)
    case kernelAvx512Vbmi:
        return greenVbmi(in, count, out);
#endif
#if defined(MATCONV_HAVE_AVX2)
    case kernelAvx2:
        return greenAvx2(in, count, out);
#endif
    default:
        return greenScalar(in, count, out);
    }
}
