// The conversion kernels, called one by one: every vector kernel this
// processor runs must write exactly what the scalar loop writes, and the
// scalar loop what the conversion's definition says, byte for byte, at every
// length and with the source ending at the end of its memory.  Then the
// choice of kernel, and process() with it.
#include "conversion/conversion.h"
#include "conversion/kernels.h"
#include "common/runstate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using Bytes = std::vector<unsigned char>;

// `size` usable bytes that end where the memory ends: a page that may not be
// touched follows them where the host can set one up, so that reading or
// writing one byte past the end faults at once, in any build.  Elsewhere the
// bytes end an allocation of their own, which AddressSanitizer watches.
class EdgeBuffer {
public:
    explicit EdgeBuffer(std::size_t size) : size_(size)
    {
#if defined(_WIN32)
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const std::size_t page = info.dwPageSize;
        mapped_ = (size + page - 1) / page * page + page;
        base_ = static_cast<unsigned char *>(VirtualAlloc(nullptr, mapped_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (base_ == nullptr)
            throw std::runtime_error("VirtualAlloc failed");
        DWORD old = 0;
        if (!VirtualProtect(base_ + mapped_ - page, page, PAGE_NOACCESS, &old))
            throw std::runtime_error("VirtualProtect failed");
        end_ = base_ + mapped_ - page;
#elif defined(__unix__) || defined(__APPLE__)
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        mapped_ = (size + page - 1) / page * page + page;
        void *m = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED)
            throw std::runtime_error("mmap failed");
        base_ = static_cast<unsigned char *>(m);
        if (mprotect(base_ + mapped_ - page, page, PROT_NONE) != 0)
            throw std::runtime_error("mprotect failed");
        end_ = base_ + mapped_ - page;
#else
        base_ = new unsigned char[size == 0 ? 1 : size];
        end_ = base_ + size;
#endif
    }
    ~EdgeBuffer()
    {
#if defined(_WIN32)
        VirtualFree(base_, 0, MEM_RELEASE);
#elif defined(__unix__) || defined(__APPLE__)
        munmap(base_, mapped_);
#else
        delete[] base_;
#endif
    }
    EdgeBuffer(const EdgeBuffer &) = delete;
    EdgeBuffer &operator=(const EdgeBuffer &) = delete;

    // The last n bytes of the buffer (n at most its size).
    unsigned char *last(std::size_t n) const { return end_ - n; }
    std::size_t size() const { return size_; }

private:
    std::size_t size_;
    std::size_t mapped_ = 0;
    unsigned char *base_ = nullptr;
    unsigned char *end_ = nullptr;
};

const Bytes builtInTable = [] {
    Bytes t(256, 0);
    const unsigned char codes[16] = {0, 1, 6, 5, 8, 8, 9, 7, 3, 3, 2, 2, 12, 2, 8, 4};
    std::memcpy(t.data(), codes, sizeof codes);
    return t;
}();

Bytes randomBytes(std::size_t n, std::uint32_t seed, unsigned limit = 256)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<unsigned> pick(0, limit - 1);
    Bytes b(n);
    for (unsigned char &c : b)
        c = static_cast<unsigned char>(pick(gen));
    return b;
}

struct NamedTable {
    std::string what;
    Bytes table;
};

// Random tables, the built-in one, one with no entry set, and for every row
// of 16 entries a table in which only that row is not zero.
std::vector<NamedTable> testTables()
{
    std::vector<NamedTable> tables;
    for (std::uint32_t seed : {1u, 2u, 3u})
        tables.push_back({"random table " + std::to_string(seed), randomBytes(256, seed)});
    tables.push_back({"built-in table", builtInTable});
    tables.push_back({"all-zero table", Bytes(256, 0)});
    for (int row = 0; row < 16; ++row) {
        Bytes t(256, 0);
        const Bytes values = randomBytes(16, 100u + static_cast<std::uint32_t>(row));
        for (int e = 0; e < 16; ++e)
            t[static_cast<std::size_t>(16 * row + e)] = static_cast<unsigned char>(values[static_cast<std::size_t>(e)] | 1u);
        tables.push_back({"only row " + std::to_string(row) + " set", t});
    }
    return tables;
}

// Every length up to a few hundred bytes, and lengths just under and over
// multiples of the vector widths (32 and 64 bytes of codes, 48 and 96 bytes
// of pixels per turn) and of the 4 KiB page.
std::vector<std::size_t> testLengths()
{
    std::set<std::size_t> lengths;
    for (std::size_t n = 0; n <= 400; ++n)
        lengths.insert(n);
    for (std::size_t width : {32u, 48u, 64u, 96u, 128u, 192u, 4096u})
        for (std::size_t k = 1; k <= 9; ++k)
            for (int d = -3; d <= 3; ++d)
                lengths.insert(static_cast<std::size_t>(static_cast<long long>(width * k) + d));
    lengths.insert(65536 + 37);
    lengths.insert((1u << 20) + 5);
    return std::vector<std::size_t>(lengths.begin(), lengths.end());
}

// The conversion's definition, one sample at a time.
Bytes definedCodes(const unsigned char *in, std::size_t n, const Bytes &table)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = table[in[i]];
    return out;
}

Bytes definedGreens(const unsigned char *in, std::size_t n)
{
    Bytes out;
    for (std::size_t x = 0; x < n; x += 3) {
        out.push_back(0);
        out.push_back(x + 1 < n ? in[x + 1] : 0);
    }
    return out;
}

::testing::AssertionResult sameBytes(const unsigned char *got, const Bytes &expected)
{
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (got[i] != expected[i]) {
            return ::testing::AssertionFailure() << "first difference at byte " << i << " of " << expected.size()
                                                 << ": got " << int{got[i]} << ", expected " << int{expected[i]};
        }
    }
    return ::testing::AssertionSuccess();
}

// Bytes before the output, which no kernel may touch.
constexpr std::size_t frontGuard = 64;
constexpr unsigned char guardByte = 0xA5;

::testing::AssertionResult frontUntouched(const unsigned char *out)
{
    for (std::size_t i = 1; i <= frontGuard; ++i)
        if (out[-static_cast<std::ptrdiff_t>(i)] != guardByte)
            return ::testing::AssertionFailure() << "byte " << i << " before the output was written";
    return ::testing::AssertionSuccess();
}

const Kernel everyKernel[] = {kernelScalar, kernelAvx2, kernelAvx512Vbmi};

class EachKernel : public ::testing::TestWithParam<Kernel> {
protected:
    void SetUp() override
    {
        // Calling a kernel the processor lacks would end the run with an
        // illegal instruction; say so instead of passing.
        if (!kernelRuns(GetParam()))
            GTEST_SKIP() << "the " << kernelName(GetParam())
                         << " kernel does not run here: this build has no such kernel for this processor"
                            " family, or the processor or its operating system lacks its instructions";
    }

    Kernel kernel() const { return GetParam(); }

    // What the kernel under test must write: the scalar loop's bytes, or, for
    // the scalar loop itself, the definition's.
    Bytes expectedCodes(const unsigned char *in, std::size_t n, const Bytes &table) const
    {
        if (kernel() == kernelScalar)
            return definedCodes(in, n, table);
        Bytes out(n);
        translateCodes(kernelScalar, in, n, out.data(), table.data());
        return out;
    }

    Bytes expectedGreens(const unsigned char *in, std::size_t n) const
    {
        if (kernel() == kernelScalar)
            return definedGreens(in, n);
        Bytes out(2 * ((n + 2) / 3));
        EXPECT_EQ(greenSamples(kernelScalar, in, n, out.data()), out.size());
        return out;
    }

    void checkCodes(const Bytes &source, const Bytes &table, const std::string &what) const
    {
        const std::vector<std::size_t> lengths = testLengths();
        const std::size_t most = lengths.back();
        ASSERT_LE(most, source.size());
        EdgeBuffer in(most);
        EdgeBuffer out(most + frontGuard);
        for (std::size_t n : lengths) {
            unsigned char *src = in.last(n);
            std::memcpy(src, source.data(), n);
            unsigned char *dst = out.last(n);
            std::memset(dst - frontGuard, guardByte, n + frontGuard);
            translateCodes(kernel(), src, n, dst, table.data());
            ASSERT_TRUE(sameBytes(dst, expectedCodes(src, n, table))) << what << ", " << n << " codes";
            ASSERT_TRUE(frontUntouched(dst)) << what << ", " << n << " codes";
        }
    }
};

TEST_P(EachKernel, TranslatesEveryCodeLikeTheScalarLoop)
{
    const Bytes anyCode = randomBytes(testLengths().back(), 7);
    for (const NamedTable &t : testTables())
        checkCodes(anyCode, t.table, t.what + ", codes 0 to 255");
}

TEST_P(EachKernel, TranslatesMapCodesLikeTheScalarLoop)
{
    // Real maps hold codes 0 to 15 only, which the vector loops may favour.
    const Bytes mapCodes = randomBytes(testLengths().back(), 8, 16);
    for (const NamedTable &t : testTables())
        checkCodes(mapCodes, t.table, t.what + ", codes 0 to 15");
}

TEST_P(EachKernel, TakesGreenLikeTheScalarLoop)
{
    const std::vector<std::size_t> lengths = testLengths();
    const std::size_t most = lengths.back();
    const Bytes pixels = randomBytes(most, 9);
    EdgeBuffer in(most);
    EdgeBuffer out(2 * ((most + 2) / 3) + frontGuard);
    for (std::size_t n : lengths) {
        unsigned char *src = in.last(n);
        std::memcpy(src, pixels.data(), n);
        const std::size_t written = 2 * ((n + 2) / 3);
        unsigned char *dst = out.last(written);
        std::memset(dst - frontGuard, guardByte, written + frontGuard);
        ASSERT_EQ(greenSamples(kernel(), src, n, dst), written) << n << " source bytes";
        ASSERT_TRUE(sameBytes(dst, expectedGreens(src, n))) << n << " source bytes";
        ASSERT_TRUE(frontUntouched(dst)) << n << " source bytes";
    }
}

TEST_P(EachKernel, ShortLastPixelTakesNoByteFromPastTheSource)
{
    // The pixel 10 20 30 then a short one: with one byte left its green is
    // 0, with two it is the second.  The source ends at the no-access page.
    EdgeBuffer in(200);
    EdgeBuffer out(200);
    for (std::size_t whole : {0u, 1u, 15u, 16u, 31u, 32u, 33u}) {
        for (std::size_t left : {1u, 2u}) {
            Bytes source;
            for (std::size_t p = 0; p < whole; ++p)
                source.insert(source.end(), {0x10, 0x20, 0x30});
            source.push_back(0x44);
            if (left == 2)
                source.push_back(0x55);
            unsigned char *src = in.last(source.size());
            std::memcpy(src, source.data(), source.size());
            const std::size_t written = 2 * (whole + 1);
            unsigned char *dst = out.last(written);
            ASSERT_EQ(greenSamples(kernel(), src, source.size(), dst), written);
            for (std::size_t p = 0; p < whole; ++p) {
                ASSERT_EQ(dst[2 * p], 0x00) << "pixel " << p;
                ASSERT_EQ(dst[2 * p + 1], 0x20) << "pixel " << p;
            }
            EXPECT_EQ(dst[written - 2], 0x00) << whole << " whole pixels, " << left << " left";
            EXPECT_EQ(dst[written - 1], left == 2 ? 0x55 : 0x00) << whole << " whole pixels, " << left << " left";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, EachKernel, ::testing::ValuesIn(everyKernel),
                         [](const ::testing::TestParamInfo<Kernel> &param) { return std::string(kernelName(param.param)); });

// ---- the choice of kernel ---------------------------------------------------

TEST(KernelChoice, PicksTheLastKernelThatRunsHere)
{
    const Kernel chosen = fastestKernel();
    EXPECT_TRUE(kernelRuns(chosen)) << kernelName(chosen);
    EXPECT_TRUE(kernelRuns(kernelScalar));
    for (Kernel k : everyKernel) {
        if (k > chosen) {
            EXPECT_FALSE(kernelRuns(k)) << kernelName(k) << " runs but " << kernelName(chosen) << " was chosen";
        }
    }
}

TEST(KernelChoice, NamesAreShortAndDistinct)
{
    std::set<std::string> names;
    for (Kernel k : everyKernel) {
        const std::string name = kernelName(k);
        EXPECT_FALSE(name.empty());
        EXPECT_EQ(name.find(' '), std::string::npos) << name;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), std::size(everyKernel));
    EXPECT_STREQ(kernelName(kernelScalar), "scalar");
}

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
// Linux lists in /proc/cpuinfo the features that both the processor and the
// kernel's register saving support; the choice must agree with it.
TEST(KernelChoice, AgreesWithTheFeaturesLinuxReports)
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::set<std::string> flags;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) == 0) {
            std::istringstream words(line.substr(line.find(':') + 1));
            std::string flag;
            while (words >> flag)
                flags.insert(flag);
            break;
        }
    }
    if (flags.empty())
        GTEST_SKIP() << "/proc/cpuinfo lists no flags here";
    const auto has = [&](const char *f) { return flags.count(f) != 0; };
    EXPECT_EQ(kernelRuns(kernelAvx2), has("avx2") ? 1 : 0);
    EXPECT_EQ(kernelRuns(kernelAvx512Vbmi), has("avx2") && has("avx512f") && has("avx512bw") && has("avx512vbmi") ? 1 : 0);
}
#endif

// ---- process() with the chosen kernel ---------------------------------------

class ProcessWithChosenKernel : public ::testing::Test {
protected:
    void SetUp() override { std::memcpy(savedTable, Translate, sizeof savedTable); }
    void TearDown() override
    {
        std::memcpy(Translate, savedTable, sizeof savedTable);
        std::memset(indata, 0, used);
        std::memset(outdata, 0, used);
    }
    unsigned char savedTable[256];
    std::size_t used = 0;
};

TEST_F(ProcessWithChosenKernel, WritesTheDefinedBytesAndLeavesTheRestZero)
{
    const Bytes table = randomBytes(256, 21);
    std::memcpy(Translate, table.data(), 256);
    for (std::size_t n : {1u, 63u, 64u, 65u, 1000u, 4097u, 100000u}) {
        const Bytes source = randomBytes(n, static_cast<std::uint32_t>(n));
        for (int bits : {8, 24}) {
            used = 2 * n + 64;
            std::memset(indata, 0, used);
            std::memset(outdata, 0, used);
            std::memcpy(indata, source.data(), n);
            inputbufSize = static_cast<std::int32_t>(n);
            depth = bits;
            const Bytes expected = bits == 8 ? definedCodes(indata, n, table) : definedGreens(indata, n);
            ASSERT_EQ(process(), static_cast<std::int32_t>(expected.size())) << bits << " bits, " << n << " bytes";
            EXPECT_TRUE(sameBytes(outdata, expected)) << bits << " bits, " << n << " bytes";
            for (std::size_t i = expected.size(); i < used; ++i)
                ASSERT_EQ(outdata[i], 0) << bits << " bits, " << n << " bytes: byte " << i << " past the output";
        }
    }
}

} // namespace
