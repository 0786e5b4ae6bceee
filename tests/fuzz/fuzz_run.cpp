// A whole conversion run on arbitrary bytes, in-process: the table loader,
// the source loader on a raw or a bitmap path, the bitmap reader, the
// conversion and the destination writer, in a scratch folder of its own.
// A fault ends the input, not the process: this target brings its own
// myshutdown, which throws, in place of the program's.
//
// Input layout:
//   byte 0      bit 0: the source is "map.bmp" (else "map.raw")
//               bit 1: a "conversiontable.hex" is there
//               bit 2: an old destination is there
//   bytes 1-2   with bit 1: the table's length, little-endian (at most 300)
//   then        the table's bytes, then the source's bytes
//
// After every run it checks, and aborts on any difference:
//   - the status is the one an independent model of the run gives (which
//     is always one of the documented ones);
//   - a successful run wrote exactly the model's bytes;
//   - a failed run left the destination as it was (old bytes, or absent);
//   - no temporary is left in the folder.
#include "common/runstate.h"
#include "common/shutdown.h"
#include "mainConv/rundriver.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

// The longest table an input may carry: past the 256-entry limit, so that
// the refusal is reached too.
constexpr std::size_t maxTableBytes = 300;
// The widest bitmap tried: its destination of 2 x w x w bytes stays near 1 MiB.
constexpr std::int32_t maxFuzzWidth = 724;

struct RunEnded {
    int status;
};

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

std::uint32_t le32(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::int32_t le32s(const unsigned char *p)
{
    const std::uint32_t u = le32(p);
    return u <= 0x7FFFFFFFu ? static_cast<std::int32_t>(u) : -static_cast<std::int32_t>(~u) - 1;
}

unsigned le16(const unsigned char *p) { return p[0] | static_cast<unsigned>(p[1]) << 8; }

// What a run must end with: its status and, for status 0, the destination.
struct Expected {
    int status;
    Bytes dest;
};

// The run as the README describes it, written apart from the program.
Expected model(bool bitmap, bool withTable, const Bytes &table, const Bytes &src)
{
    unsigned char map[256] = {0, 1, 6, 5, 8, 8, 9, 7, 3, 3, 2, 2, 12, 2, 8, 4};
    if (withTable) {
        if (table.empty() || table.size() > 256)
            return {7, {}};
        std::copy(table.begin(), table.end(), map);
    }
    if (src.empty() && !bitmap)
        return {7, {}};
    if (!bitmap) {
        Bytes out;
        for (unsigned char c : src)
            out.push_back(map[c]);
        return {0, out};
    }

    const std::size_t n = src.size();
    if (n < 14)
        return {7, {}};
    if (le16(&src[0]) != 0x4D42)
        return {16, {}};
    if (n < 54)
        return {7, {}};
    const std::uint32_t offBits = le32(&src[10]);
    const std::int32_t width = le32s(&src[18]);
    const unsigned bits = le16(&src[28]);
    const std::uint32_t clrUsed = le32(&src[46]);
    if (le32(&src[14]) != 40 || width != le32s(&src[22]) || le32(&src[30]) != 0)
        return {17, {}};
    if (clrUsed != 0 && clrUsed != (offBits - 54u) / 4u)
        return {17, {}};
    if (n < 58 || (bits != 8 && bits != 24) || width < 0 || width > 5792)
        return {17, {}};
    if (offBits < 54)
        return {7, {}};
    const long long count = static_cast<long long>(n) - offBits;
    if (count <= 0)
        return {7, {}};

    const std::size_t size = 2 * static_cast<std::size_t>(width) * static_cast<std::size_t>(width);
    if (size == 0)
        return {8, {}};
    Bytes out(size, 0);
    const unsigned char *pixels = src.data() + offBits;
    const std::size_t have = static_cast<std::size_t>(count);
    if (bits == 8) {
        for (std::size_t i = 0; i < have && i < size; ++i)
            out[i] = map[pixels[i]];
    } else {
        for (std::size_t i = 0, o = 0; i < have && o + 1 < size; i += 3, o += 2)
            out[o + 1] = i + 1 < have ? pixels[i + 1] : 0;
    }
    return {0, out};
}

Bytes readFile(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path &p, const unsigned char *data, std::size_t size)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
}

// The table as the program starts with it, kept to restore it between runs.
unsigned char builtIn[tableEntries];
fs::path scratch;

void removeScratch()
{
    std::error_code ec;
    fs::remove_all(scratch, ec);
}

void setUp()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    std::memcpy(builtIn, Translate, sizeof builtIn);
    std::random_device random;
    scratch = fs::temp_directory_path() / ("matconv-fuzz-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(scratch);
    std::atexit(removeScratch);
    // The run's console text is of no interest here, and would flood the log.
    if (std::freopen(
#if defined(_WIN32)
            "NUL",
#else
            "/dev/null",
#endif
            "w", stdout) == nullptr)
        fail("cannot silence standard output");
}

// A process-wide run leaves its state and its buffers behind; a new process
// would start from zero, so the next input does too.
void resetRunState(std::size_t touched)
{
    std::memcpy(Translate, builtIn, sizeof builtIn);
    std::memset(indata, 0, touched);
    std::memset(outdata, 0, touched);
    inputbufSize = outputbufSize = 0;
    depth = isBmp = 0;
    res = 0;
#if defined(_WIN32)
    _fcloseall();
#elif defined(__GLIBC__)
    fcloseall();  // the files a fault left open, as the end of a process would
#endif
}

} // namespace

namespace {
int runInScratch(bool bitmap, bool withTable, bool withOld, const Bytes &table, const Bytes &src);
}

// Ends the input with the status, where the program would end the process.
void myshutdown(int err, const char *string)
{
    std::printf("%s\n", string);
    throw RunEnded{err};
}

void myshutdownWith(int err, const char *fmt, const char *arg)
{
    std::printf(fmt, arg);
    std::printf("\n");
    throw RunEnded{err};
}

// Path copies live until the process ends, by design, and a run here does
// not end the process: leak reports would only count them.
#if defined(__SANITIZE_ADDRESS__)
#define MATCONV_FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MATCONV_FUZZ_ASAN 1
#endif
#endif
#if defined(MATCONV_FUZZ_ASAN)
extern "C" const char *__asan_default_options() { return "detect_leaks=0"; }
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    setUp();
    if (size < 1)
        return 0;
    const bool bitmap = (data[0] & 1) != 0;
    const bool withTable = (data[0] & 2) != 0;
    const bool withOld = (data[0] & 4) != 0;
    std::size_t at = 1;
    Bytes table;
    if (withTable) {
        if (size < 3)
            return 0;
        const std::size_t len = data[1] | static_cast<std::size_t>(data[2]) << 8;
        if (len > maxTableBytes || size < 3 + len)
            return 0;
        table.assign(data + 3, data + 3 + len);
        at = 3 + len;
    }
    const Bytes src(data + at, data + size);
    if (bitmap && src.size() >= 26) {
        const std::int32_t w = le32s(&src[18]);
        if (w > maxFuzzWidth || w < -maxFuzzWidth)
            return 0;
    }

    // The run looks for its table in the working folder, so it runs in the
    // scratch folder; the fuzzer's own relative paths need the old one back.
    const fs::path home = fs::current_path();
    fs::current_path(scratch);
    const int result = runInScratch(bitmap, withTable, withOld, table, src);
    fs::current_path(home);
    return result;
}

namespace {

int runInScratch(bool bitmap, bool withTable, bool withOld, const Bytes &table, const Bytes &src)
{
    const std::string srcName = bitmap ? "map.bmp" : "map.raw";
    for (const auto &e : fs::directory_iterator(scratch))
        fs::remove_all(e.path());
    writeFile(srcName, src.data(), src.size());
    if (withTable)
        writeFile("conversiontable.hex", table.data(), table.size());
    const Bytes old = {'o', 'l', 'd'};
    if (withOld)
        writeFile("out.mat", old.data(), old.size());

    char program[] = "matconv";
    std::string srcArg = srcName;
    char outArg[] = "out.mat";
    char *argv[] = {program, &srcArg[0], outArg, nullptr};
    int status = 0;
    try {
        status = runConversion(3, argv);
    } catch (const RunEnded &e) {
        status = e.status;
    }
    std::fflush(stdout);

    const Expected want = model(bitmap, withTable, table, src);
    if (status != want.status) {
        std::fprintf(stderr, "status %d, expected %d\n", status, want.status);
        fail("status");
    }
    const bool destThere = fs::exists(fs::symlink_status("out.mat"));
    if (status == 0) {
        if (readFile("out.mat") != want.dest)
            fail("destination bytes");
    } else if (withOld) {
        if (readFile("out.mat") != old)
            fail("old destination lost on a failed run");
    } else if (destThere) {
        fail("destination made by a failed run");
    }
    for (const auto &e : fs::directory_iterator(scratch)) {
        const std::string n = e.path().filename().string();
        if (n != srcName && n != "conversiontable.hex" && n != "out.mat")
            fail("a file left behind");
    }
    resetRunState(std::max<std::size_t>(src.size(), want.dest.size()) + 64);
    return 0;
}

} // namespace
