// End-to-end runs of the converter on raw sources, the table file, the
// command line and the destination writer.  Every case checks the exact
// console text, the exit status and the destination bytes; every failing case
// starts with an old destination that must come through byte for byte.
#include "e2e_support.h"
#include "reference_pattern.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <numeric>
#include <ostream>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using e2e::Bytes;
using e2e::Scratch;

namespace {

const std::string defaultHead = "materialmap.raw is the inpath\nHeightmapPrimary.mat is the outpath\n";
const std::string noTable = "didn't find conversiontable.hex,using built-in\n";
const std::string usageText =
    "\nUsage: " + e2e::programFileName() + " [options] <source file> <destination path>\n\n" +
    e2e::programFileName() + " reads a BF1942 Materialmap and converts it to a BF2 compatible materialmap.\n"
    "  \n"
    "-h(elp)  or ? :outputs this help \n"
    "-D(ump) outputs a test file \n"
    "-V(ersion) outputs version data  \n";
const std::string versionLine = e2e::programFileName() + " Version 0.1-a\n";

// What a destination held before the run; faults must leave it so.
const Bytes oldDestination = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11};

const Bytes sixteenCodes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

Bytes identityTable()
{
    Bytes t(256);
    std::iota(t.begin(), t.end(), 0);
    return t;
}

bool anyTemporaryLeft(const Scratch &s)
{
    for (const std::string &n : s.listing()) {
        if (n.find(".tmp") != std::string::npos)
            return true;
    }
    return false;
}

struct RunCase {
    const char *name;
    std::function<void(const Scratch &)> setup;
    std::vector<std::string> args;
    std::string out;
    int status;
    // The destination checked afterwards, relative to the scratch folder.
    std::string dest;
    // Its expected bytes; empty means "the old destination, unchanged" when
    // one was planted, or "absent" when plantOld is false.
    Bytes destBytes;
    bool plantOld;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const RunCase &c, std::ostream *os)
{
    *os << c.name;
}

void files(const Scratch &s, const std::vector<std::pair<std::string, Bytes>> &list)
{
    for (const auto &f : list)
        s.write(f.first, f.second);
}

std::vector<RunCase> runCases()
{
    const std::string dest = "HeightmapPrimary.mat";
    return {
        {"BuiltInTableEdgeCodes",
         [](const Scratch &s) { files(s, {{"materialmap.raw", {0x00, 0x01, 0x02, 0x03, 0x0F, 0x10, 0xFF}}}); },
         {},
         defaultHead + noTable +
             "found 1 file to open\nfilesize is 7\n0 1 2 3 15 16 255 0 0 0 0 0 \n"
             "0 1 6 5 4 0 0 0 0 0 0 0 0 0 0 0 7 bytes written\n",
         0, dest, {0x00, 0x01, 0x06, 0x05, 0x04, 0x00, 0x00}, true},
        {"OneByteTableReplacesOnlyCodeZero",
         [](const Scratch &s) { files(s, {{"conversiontable.hex", {7}}, {"materialmap.raw", sixteenCodes}}); },
         {},
         defaultHead +
             "tablesize is 1\nfound 1 file to open\nfilesize is 16\n0 1 2 3 4 5 6 7 8 9 10 11 \n"
             "7 1 6 5 8 8 9 7 3 3 2 2 12 2 8 4 16 bytes written\n",
         0, dest, {7, 1, 6, 5, 8, 8, 9, 7, 3, 3, 2, 2, 12, 2, 8, 4}, true},
        {"IdentityTableKeepsEveryCode",
         [](const Scratch &s) {
             files(s, {{"conversiontable.hex", identityTable()},
                       {"materialmap.raw", {0x00, 0x01, 0x02, 0x03, 0x0F, 0x10, 0xFF}}});
         },
         {},
         defaultHead +
             "tablesize is 256\nfound 1 file to open\nfilesize is 7\n0 1 2 3 15 16 255 0 0 0 0 0 \n"
             "0 1 2 3 15 16 255 0 0 0 0 0 0 0 0 0 7 bytes written\n",
         0, dest, {0x00, 0x01, 0x02, 0x03, 0x0F, 0x10, 0xFF}, true},
        {"EmptyTableFailsBeforeTheSource",
         [](const Scratch &s) { files(s, {{"conversiontable.hex", {}}, {"materialmap.raw", {1, 2}}}); },
         {},
         defaultHead + "tablesize is 0\nError reading from input file.\n\n",
         7, dest, {}, true},
        {"TableOverTheLimitIsRefused",
         [](const Scratch &s) {
             Bytes t = identityTable();
             t.push_back(9);
             files(s, {{"conversiontable.hex", t}, {"materialmap.raw", {1, 2}}});
         },
         {},
         defaultHead + "tablesize is 257\nError: table file exceeds the 256-entry limit.\n\n",
         7, dest, {}, true},
        {"TableThatIsAFolderIsAFault",
         [](const Scratch &s) {
             fs::create_directory(s / "conversiontable.hex");
             files(s, {{"materialmap.raw", {2}}});
         },
         {},
         defaultHead + "Error opening table file.\n\n",
         7, dest, {}, true},
        {"MissingSourceIsAFailure",
         [](const Scratch &) {},
         {},
         defaultHead + noTable + "found 0 file to open\nError opening input file.\n\n",
         7, dest, {}, true},
        {"MissingSourceCreatesNoDestination",
         [](const Scratch &) {},
         {},
         defaultHead + noTable + "found 0 file to open\nError opening input file.\n\n",
         7, dest, {}, false},
        {"EmptySourceFails",
         [](const Scratch &s) { files(s, {{"materialmap.raw", {}}}); },
         {},
         defaultHead + noTable + "found 1 file to open\nfilesize is 0\nError reading from input file.\n\n",
         7, dest, {}, true},
        {"SourceThatIsAFolderFails",
         [](const Scratch &s) { fs::create_directory(s / "materialmap.raw"); },
         {},
         defaultHead + noTable + "found 0 file to open\nError opening input file.\n\n",
         7, dest, {}, true},
        {"NamedSourceAndDestination",
         [](const Scratch &s) { files(s, {{"a.raw", {3, 4}}}); },
         {"a.raw", "b.mat"},
         "a.raw is the inpath\nb.mat is the outpath\n" + noTable +
             "found 1 file to open\nfilesize is 2\n3 4 0 0 0 0 0 0 0 0 0 0 \n"
             "5 8 0 0 0 0 0 0 0 0 0 0 0 0 0 0 2 bytes written\n",
         0, "b.mat", {5, 8}, false},
        {"NamedDestinationLeavesTheDefaultAlone",
         [](const Scratch &s) { files(s, {{"a.raw", {3, 4}}}); },
         {"a.raw", "b.mat"},
         "a.raw is the inpath\nb.mat is the outpath\n" + noTable +
             "found 1 file to open\nfilesize is 2\n3 4 0 0 0 0 0 0 0 0 0 0 \n"
             "5 8 0 0 0 0 0 0 0 0 0 0 0 0 0 0 2 bytes written\n",
         0, dest, {}, true},
        {"ShortNamesArePathsToo",
         [](const Scratch &s) { files(s, {{"m", {15}}}); },
         {"m", "o"},
         "m is the inpath\no is the outpath\n" + noTable +
             "found 1 file to open\nfilesize is 1\n15 0 0 0 0 0 0 0 0 0 0 0 \n"
             "4 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 bytes written\n",
         0, "o", {4}, false},
        {"ThirdPathIsAUsageError",
         [](const Scratch &s) { files(s, {{"a.raw", {3}}}); },
         {"a.raw", "b.mat", "c"},
         "What do I do with this: c ? \n",
         2, dest, {}, true},
        {"LongArgumentIsAPathNotASwitch",
         [](const Scratch &) {},
         {"/help"},
         "/help is the inpath\nHeightmapPrimary.mat is the outpath\n" + noTable +
             "found 0 file to open\nError opening input file.\n\n",
         7, dest, {}, true},
        {"SwitchEndsTheRunBeforeTheSourceIsOpened",
         [](const Scratch &s) { files(s, {{"a.raw", {3}}}); },
         {"a.raw", "/V"},
         versionLine,
         0, dest, {}, true},
        {"DumpWritesTheTestFileOnly",
         [](const Scratch &s) { files(s, {{"conversiontable.hex", {}}, {"materialmap.raw", {}}}); },
         {"/D"},
         "524288 bytes written\n",
         0, dest, reference::file(262144), true},
        {"DumpGoesToTheNamedDestination",
         [](const Scratch &) {},
         {"a.raw", "test.mat", "-D"},
         "524288 bytes written\n",
         0, "test.mat", reference::file(262144), false},
        {"DestinationInAMissingFolder",
         [](const Scratch &s) { files(s, {{"materialmap.raw", {1}}}); },
         {"materialmap.raw", "nowhere/out.mat"},
         "materialmap.raw is the inpath\nnowhere/out.mat is the outpath\n" + noTable +
             "found 1 file to open\nfilesize is 1\n1 0 0 0 0 0 0 0 0 0 0 0 \n"
             "1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 Error opening output file.\n\n",
         8, dest, {}, true},
        {"DestinationThatIsAFolder",
         [](const Scratch &s) {
             files(s, {{"materialmap.raw", {1}}});
             fs::create_directory(s / "out.mat");
         },
         {"materialmap.raw", "out.mat"},
         "materialmap.raw is the inpath\nout.mat is the outpath\n" + noTable +
             "found 1 file to open\nfilesize is 1\n1 0 0 0 0 0 0 0 0 0 0 0 \n"
             "1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 Error opening output file.\n\n",
         8, dest, {}, true},
    };
}

class Run : public ::testing::TestWithParam<RunCase> {};

TEST_P(Run, ConsoleStatusAndDestination)
{
    const RunCase &c = GetParam();
    Scratch s(c.name);
    if (c.plantOld)
        s.write(c.dest, oldDestination);
    c.setup(s);

    const e2e::RunResult r = s.run(c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, "");
    if (!c.destBytes.empty())
        EXPECT_EQ(s.read(c.dest), c.destBytes);
    else if (c.plantOld)
        EXPECT_EQ(s.read(c.dest), oldDestination);
    else
        EXPECT_FALSE(s.exists(c.dest));
    EXPECT_FALSE(anyTemporaryLeft(s));
}

INSTANTIATE_TEST_SUITE_P(Cases, Run, ::testing::ValuesIn(runCases()),
                         [](const ::testing::TestParamInfo<RunCase> &i) { return std::string(i.param.name); });

// The four-byte run from the documentation, line for line.
TEST(RawRun, WorkedFourByteRun)
{
    Scratch s("worked");
    s.write("materialmap.raw", Bytes{1, 2, 3, 4});
    const e2e::RunResult r = s.run({});
    EXPECT_EQ(r.out,
              "materialmap.raw is the inpath\n"
              "HeightmapPrimary.mat is the outpath\n"
              "didn't find conversiontable.hex,using built-in\n"
              "found 1 file to open\n"
              "filesize is 4\n"
              "1 2 3 4 0 0 0 0 0 0 0 0 \n"
              "1 6 5 8 0 0 0 0 0 0 0 0 0 0 0 0 4 bytes written\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.read("HeightmapPrimary.mat"), (Bytes{1, 6, 5, 8}));
    EXPECT_EQ(s.listing(), (std::vector<std::string>{"HeightmapPrimary.mat", "materialmap.raw"}));
}

// Switches print their text and end at once; letters are case-sensitive.
TEST(CommandLine, Switches)
{
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    const Case cases[] = {
        {{"/V"}, versionLine, 0},
        {{"-V"}, versionLine, 0},
        {{"--version"}, versionLine, 0},
        {{"/?"}, usageText, 0},
        {{"-?"}, usageText, 0},
        {{"/h"}, usageText, 0},
        {{"-h"}, usageText, 0},
        {{"--help"}, usageText, 0},
        {{"/h", "/V"}, usageText, 0},
        {{"/v"}, "Unknown parameter: v\n", 2},
        {{"-H"}, "Unknown parameter: H\n", 2},
        {{"/x", "/V"}, "Unknown parameter: x\n", 2},
        {{"--"}, "Unknown parameter: -\n", 2},
    };
    for (const Case &c : cases) {
        Scratch s("switch");
        s.write("materialmap.raw", Bytes{1});
        const e2e::RunResult r = s.run(c.args);
        EXPECT_EQ(r.out, c.out) << c.args[0];
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_FALSE(s.exists("HeightmapPrimary.mat")) << c.args[0];
    }
}

// Sources at and past the size of the input buffer.  Sizes are taken in 64
// bits, so a file of 4 GiB + 10 bytes must not pass for a 10-byte one.
TEST(SourceSize, LimitIsExactlyTheBuffer)
{
    const std::uint64_t limit = 67108864;
    {
        Scratch s("limit");
        Bytes big(limit, 0);
        for (std::size_t i = 0; i < big.size(); i += 4096)
            big[i] = static_cast<unsigned char>(i / 4096 % 16);
        big[limit - 1] = 15;
        s.write("materialmap.raw", big);
        const e2e::RunResult r = s.run({});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, defaultHead + noTable +
                             "found 1 file to open\nfilesize is 67108864\n0 0 0 0 0 0 0 0 0 0 0 0 \n"
                             "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 67108864 bytes written\n");
        const Bytes out = s.read("HeightmapPrimary.mat");
        ASSERT_EQ(out.size(), limit);
        const Bytes table = {0, 1, 6, 5, 8, 8, 9, 7, 3, 3, 2, 2, 12, 2, 8, 4};
        for (std::size_t i = 0; i < big.size(); i += 4096)
            ASSERT_EQ(out[i], table[big[i]]) << "byte " << i;
        EXPECT_EQ(out[limit - 1], 4);
    }
    struct Case {
        std::uint64_t size;
        std::string shown;
    };
    const Case cases[] = {
        {limit + 1, "67108865"},
        {(std::uint64_t(1) << 32) + 10, "4294967306"},
    };
    for (const Case &c : cases) {
        Scratch s("overlimit");
        s.write("HeightmapPrimary.mat", oldDestination);
        s.write("materialmap.raw", Bytes{1, 2, 3});
        fs::resize_file(s / "materialmap.raw", c.size);  // sparse where the filesystem allows
        const e2e::RunResult r = s.run({});
        EXPECT_EQ(r.out, defaultHead + noTable + "found 1 file to open\nfilesize is " + c.shown +
                             "\nError: source file exceeds the 67108864-byte limit.\n\n");
        EXPECT_EQ(r.status, 7);
        EXPECT_EQ(s.read("HeightmapPrimary.mat"), oldDestination);
    }
}

#if !defined(_WIN32)

// Platform files that are not regular files, on hosts that have them.
TEST(SpecialFiles, PipeSourceIsRefusedWithoutBlocking)
{
    Scratch s("fifo");
    s.write("HeightmapPrimary.mat", oldDestination);
    ASSERT_EQ(mkfifo((s / "materialmap.raw").c_str(), 0600), 0);
    const e2e::RunResult r = s.run({});
    EXPECT_EQ(r.out, defaultHead + noTable + "found 0 file to open\nError opening input file.\n\n");
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(s.read("HeightmapPrimary.mat"), oldDestination);
}

TEST(SpecialFiles, DeviceDestinationsAreWrittenInPlace)
{
    struct Case {
        const char *device;
        std::string tail;
        int status;
    };
    const Case cases[] = {
        {"/dev/null", "2 bytes written\n", 0},
        {"/dev/full", "Error writing to output file.\n\n", 8},
    };
    for (const Case &c : cases) {
        if (!fs::exists(c.device))
            continue;
        Scratch s("device");
        s.write("a.raw", Bytes{2, 3});
        const e2e::RunResult r = s.run({"a.raw", c.device});
        EXPECT_EQ(r.out, std::string("a.raw is the inpath\n") + c.device + " is the outpath\n" + noTable +
                             "found 1 file to open\nfilesize is 2\n2 3 0 0 0 0 0 0 0 0 0 0 \n"
                             "6 5 0 0 0 0 0 0 0 0 0 0 0 0 0 0 " + c.tail)
            << c.device;
        EXPECT_EQ(r.status, c.status) << c.device;
        EXPECT_TRUE(fs::is_character_file(c.device)) << c.device;
        EXPECT_EQ(s.listing(), std::vector<std::string>{"a.raw"});
    }
}

// A write that fails half way: the file-size limit stops the temporary at
// 8 blocks of 512 bytes, well short of the 1 MiB map.
TEST(Writer, FailedWriteKeepsTheOldDestination)
{
    Scratch s("fsize");
    s.write("HeightmapPrimary.mat", oldDestination);
    s.write("materialmap.raw", Bytes(1 << 20, 3));
    e2e::RunOptions limited;
    limited.fileSizeLimit = 8 * 512;
    const e2e::RunResult r = s.run({}, limited);
    EXPECT_EQ(r.out, defaultHead + noTable +
                         "found 1 file to open\nfilesize is 1048576\n3 3 3 3 3 3 3 3 3 3 3 3 \n"
                         "5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 Error writing to output file.\n\n");
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(s.read("HeightmapPrimary.mat"), oldDestination);
    EXPECT_EQ(s.listing(), (std::vector<std::string>{"HeightmapPrimary.mat", "materialmap.raw"}));
}

TEST(Writer, ReplacingKeepsPermissionsAndLinks)
{
    Scratch s("links");
    s.write("materialmap.raw", Bytes{2});
    s.write("real.mat", oldDestination);
    fs::permissions(s / "real.mat", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("real.mat", s / "HeightmapPrimary.mat");

    const e2e::RunResult r = s.run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::is_symlink(s / "HeightmapPrimary.mat"));
    EXPECT_EQ(s.read("real.mat"), Bytes{6});
    EXPECT_EQ(fs::status(s / "real.mat").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(s.listing(), (std::vector<std::string>{"HeightmapPrimary.mat", "materialmap.raw", "real.mat"}));
}

#endif

} // namespace
