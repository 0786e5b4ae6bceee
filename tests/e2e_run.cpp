// End-to-end runs of the converter on raw sources, the table file, the
// command line and "/D".  Every case checks the exact console text, the exit
// status, each file it names, and the folder afterwards; a failing case
// plants an old destination that must come through byte for byte.
#include "e2e_cases.h"
#include "e2e_support.h"
#include "fixtures.h"
#include "host_only.h"
#include "reference_pattern.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <ostream>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using e2e::absent;
using e2e::holds;
using e2e::RunCase;
using e2e::Scratch;
using e2e::unchanged;
using fixtures::Bytes;
using fixtures::defaultHead;
using fixtures::noTable;
using fixtures::oldDestination;
using fixtures::pathLines;

namespace {

const std::string &dest = fixtures::defaultDestination;
const std::string &source = fixtures::defaultSource;
const std::string &table = fixtures::tableFile;

const Bytes sixteenCodes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

const std::string usageText = fixtures::usageText(e2e::programFileName());
const std::string versionLine = fixtures::versionLine(e2e::programFileName());
const std::string testFileWritten = "524288 bytes written\n";

// Writes each file of the list into the folder.
std::function<void(const Scratch &)> files(const std::vector<std::pair<std::string, Bytes>> &list)
{
    return [list](const Scratch &s) {
        for (const auto &f : list)
            s.write(f.first, f.second);
    };
}

std::vector<RunCase> runCases()
{
    const Bytes testFile = reference::file(262144);
    return {
        {"BuiltInTableEdgeCodes",
         {dest},
         files({{source, {0x00, 0x01, 0x02, 0x03, 0x0F, 0x10, 0xFF}}}),
         {},
         defaultHead + noTable +
             "found 1 file to open\nfilesize is 7\n0 1 2 3 15 16 255 0 0 0 0 0 \n"
             "0 1 6 5 4 0 0 0 0 0 0 0 0 0 0 0 7 bytes written\n",
         0,
         {holds(dest, {0x00, 0x01, 0x06, 0x05, 0x04, 0x00, 0x00})}},
        {"OneByteTableReplacesOnlyCodeZero",
         {dest},
         files({{table, {7}}, {source, sixteenCodes}}),
         {},
         defaultHead +
             "tablesize is 1\nfound 1 file to open\nfilesize is 16\n0 1 2 3 4 5 6 7 8 9 10 11 \n"
             "7 1 6 5 8 8 9 7 3 3 2 2 12 2 8 4 16 bytes written\n",
         0,
         {holds(dest, {7, 1, 6, 5, 8, 8, 9, 7, 3, 3, 2, 2, 12, 2, 8, 4})}},
        {"IdentityTableKeepsEveryCode",
         {dest},
         files({{table, fixtures::identityTable()}, {source, {0x00, 0x01, 0x02, 0x03, 0x0F, 0x10, 0xFF}}}),
         {},
         defaultHead +
             "tablesize is 256\nfound 1 file to open\nfilesize is 7\n0 1 2 3 15 16 255 0 0 0 0 0 \n"
             "0 1 2 3 15 16 255 0 0 0 0 0 0 0 0 0 7 bytes written\n",
         0,
         {holds(dest, {0x00, 0x01, 0x02, 0x03, 0x0F, 0x10, 0xFF})}},
        {"EmptyTableFailsBeforeTheSource",
         {dest},
         files({{table, {}}, {source, {1, 2}}}),
         {},
         defaultHead + "tablesize is 0\nError reading from input file.\n\n",
         7,
         {unchanged(dest)}},
        {"TableOverTheLimitIsRefused",
         {dest},
         [](const Scratch &s) {
             Bytes t = fixtures::identityTable();
             t.push_back(9);
             s.write(table, t);
             s.write(source, Bytes{1, 2});
         },
         {},
         defaultHead + "tablesize is 257\nError: table file exceeds the 256-entry limit.\n\n",
         7,
         {unchanged(dest)}},
        // A missing source is a fault that creates nothing: neither a
        // destination nor the source.  That a missing source keeps an old
        // destination, LongArgumentIsAPathNotASwitch shows.
        {"TableThatIsAFolderIsAFault",
         {dest},
         [](const Scratch &s) {
             fs::create_directory(s / table);
             s.write(source, Bytes{2});
         },
         {},
         defaultHead + "Error opening table file.\n\n",
         7,
         {unchanged(dest)}},
        {"MissingSourceIsAFailure",
         {},
         {},
         {},
         defaultHead + noTable + "found 0 file to open\nError opening input file.\n\n",
         7,
         {absent(dest), absent(source)}},
        {"EmptySourceFails",
         {dest},
         files({{source, {}}}),
         {},
         defaultHead + noTable + "found 1 file to open\nfilesize is 0\nError reading from input file.\n\n",
         7,
         {unchanged(dest)}},
        {"SourceThatIsAFolderFails",
         {dest},
         [](const Scratch &s) { fs::create_directory(s / source); },
         {},
         defaultHead + noTable + "found 0 file to open\nError opening input file.\n\n",
         7,
         {unchanged(dest)}},
        {"NamedSourceAndDestinationLeaveTheDefaultAlone",
         {dest},
         files({{"a.raw", {3, 4}}}),
         {"a.raw", "b.mat"},
         pathLines("a.raw", "b.mat") + noTable +
             "found 1 file to open\nfilesize is 2\n3 4 0 0 0 0 0 0 0 0 0 0 \n"
             "5 8 0 0 0 0 0 0 0 0 0 0 0 0 0 0 2 bytes written\n",
         0,
         {holds("b.mat", {5, 8}), unchanged(dest)}},
        {"ShortNamesArePathsToo",
         {},
         files({{"m", {15}}}),
         {"m", "o"},
         pathLines("m", "o") + noTable +
             "found 1 file to open\nfilesize is 1\n15 0 0 0 0 0 0 0 0 0 0 0 \n"
             "4 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 bytes written\n",
         0,
         {holds("o", {4}), absent(dest)}},
        {"ThirdPathIsAUsageError",
         {dest},
         files({{"a.raw", {3}}}),
         {"a.raw", "b.mat", "c"},
         "What do I do with this: c ? \n",
         2,
         {unchanged(dest), absent("b.mat"), absent("c")}},
        {"LongArgumentIsAPathNotASwitch",
         {dest},
         {},
         {"/help"},
         pathLines("/help", dest) + noTable + "found 0 file to open\nError opening input file.\n\n",
         7,
         {unchanged(dest)}},
        {"SwitchEndsTheRunBeforeTheSourceIsOpened",
         {dest},
         files({{"a.raw", {3}}}),
         {"a.raw", "/V"},
         versionLine,
         0,
         {unchanged(dest)}},
        {"DestinationInAMissingFolder",
         {dest},
         files({{source, {1}}}),
         {source, "nowhere/out.mat"},
         pathLines(source, "nowhere/out.mat") + noTable +
             "found 1 file to open\nfilesize is 1\n1 0 0 0 0 0 0 0 0 0 0 0 \n"
             "1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 Error opening output file.\n\n",
         8,
         {unchanged(dest), absent("nowhere")}},
        {"DestinationThatIsAFolder",
         {dest},
         [](const Scratch &s) {
             s.write(source, Bytes{1});
             fs::create_directory(s / "out.mat");
         },
         {source, "out.mat"},
         pathLines(source, "out.mat") + noTable +
             "found 1 file to open\nfilesize is 1\n1 0 0 0 0 0 0 0 0 0 0 0 \n"
             "1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 Error opening output file.\n\n",
         8,
         {unchanged(dest)},
         {},
         [](const Scratch &s) { EXPECT_TRUE(fs::is_directory(s / "out.mat")); }},

        // "/D" writes the test file, and looks at no source or table.  A path
        // right after it names the test file; a destination before it does
        // when no path follows; an argument after that path is refused.
        {"DumpWritesTheTestFileOnly",
         {dest},
         files({{table, {}}, {source, {}}}),
         {"/D"},
         testFileWritten,
         0,
         {holds(dest, testFile)}},
        {"DumpPathAfterIt",
         {dest},
         files({{"a.raw", {1, 2, 3}}}),
         {"/D", "test.mat"},
         testFileWritten,
         0,
         {holds("test.mat", testFile), unchanged(dest)}},
        {"DumpPathAfterReplacesAnEarlierDestination",
         {dest},
         files({{"a.raw", {1, 2, 3}}}),
         {"a.raw", "b.mat", "/D", "c.mat"},
         testFileWritten,
         0,
         {holds("c.mat", testFile), absent("b.mat"), unchanged(dest)}},
        // The source named before "/D" is not even looked for.
        {"DumpGoesToTheDestinationBeforeIt",
         {dest},
         {},
         {"a.raw", "test.mat", "-D"},
         testFileWritten,
         0,
         {holds("test.mat", testFile), unchanged(dest), absent("a.raw")}},
        {"DumpSwitchAfterItIsNotExamined",
         {dest},
         files({{"a.raw", {1, 2, 3}}}),
         {"/D", "/V"},
         testFileWritten,
         0,
         {holds(dest, testFile)}},
        {"DumpTwoPathsAfterIt",
         {dest},
         files({{"a.raw", {1, 2, 3}}}),
         {"/D", "c.mat", "d.mat"},
         "What do I do with this: d.mat ? \n",
         2,
         {unchanged(dest), absent("c.mat"), absent("d.mat")}},
        {"DumpSwitchAfterThePath",
         {dest},
         files({{"a.raw", {1, 2, 3}}}),
         {"/D", "c.mat", "/V"},
         "What do I do with this: /V ? \n",
         2,
         {unchanged(dest), absent("c.mat")}},
    };
}

class Run : public ::testing::TestWithParam<RunCase> {};

TEST_P(Run, ConsoleStatusAndFiles) { e2e::checkRun(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Cases, Run, ::testing::ValuesIn(runCases()),
                         [](const ::testing::TestParamInfo<RunCase> &i) { return i.param.name; });

// The four-byte run from the documentation, line for line.
TEST(RawRun, WorkedFourByteRun)
{
    Scratch s("worked");
    s.write(source, Bytes{1, 2, 3, 4});
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
    EXPECT_EQ(s.read(dest), (Bytes{1, 6, 5, 8}));
    EXPECT_EQ(s.listing(), (std::vector<std::string>{dest, source}));
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
        SCOPED_TRACE(c.args[0]);
        Scratch s("switch");
        s.write(source, Bytes{1});
        const e2e::RunResult r = s.run(c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(s.listing(), std::vector<std::string>{source});
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
        s.write(source, big);
        const e2e::RunResult r = s.run({});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, defaultHead + noTable +
                             "found 1 file to open\nfilesize is 67108864\n0 0 0 0 0 0 0 0 0 0 0 0 \n"
                             "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 67108864 bytes written\n");
        const Bytes out = s.read(dest);
        ASSERT_EQ(out.size(), limit);
        for (std::size_t i = 0; i < big.size(); i += 4096)
            ASSERT_EQ(out[i], fixtures::builtinCode(big[i])) << "byte " << i;
        EXPECT_EQ(out[limit - 1], 4);
        EXPECT_EQ(s.listing(), (std::vector<std::string>{dest, source}));
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
        SCOPED_TRACE(c.shown);
        Scratch s("overlimit");
        s.write(dest, oldDestination);
        s.write(source, Bytes{1, 2, 3});
        fs::resize_file(s / source, c.size);  // sparse where the filesystem allows
        const e2e::RunResult r = s.run({});
        EXPECT_EQ(r.out, defaultHead + noTable + "found 1 file to open\nfilesize is " + c.shown +
                             "\nError: source file exceeds the 67108864-byte limit.\n\n");
        EXPECT_EQ(r.status, 7);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(s.read(dest), oldDestination);
        EXPECT_EQ(s.listing(), (std::vector<std::string>{dest, source}));
    }
}

// Platform files that are not regular files, on hosts that have them.
TEST(SpecialFiles, PipeSourceIsRefusedWithoutBlocking)
{
    TEST_NEEDS_POSIX("a fifo");
#if !defined(_WIN32)
    Scratch s("fifo");
    s.write(dest, oldDestination);
    ASSERT_EQ(mkfifo((s / source).c_str(), 0600), 0);
    const e2e::RunResult r = s.run({});
    EXPECT_EQ(r.out, defaultHead + noTable + "found 0 file to open\nError opening input file.\n\n");
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.read(dest), oldDestination);
    EXPECT_EQ(s.listing(), (std::vector<std::string>{dest, source}));
#endif
}

TEST(SpecialFiles, DeviceDestinationsAreWrittenInPlace)
{
    TEST_NEEDS_POSIX("/dev/null and /dev/full");
#if !defined(_WIN32)
    struct Case {
        const char *device;
        std::string tail;
        int status;
    };
    const Case cases[] = {
        {"/dev/null", "2 bytes written\n", 0},
        {"/dev/full", "Error writing to output file.\n\n", 8},
    };
    std::string missing;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.device);
        if (!fs::exists(c.device)) {
            missing += std::string(" ") + c.device;
            continue;
        }
        Scratch s("device");
        s.write("a.raw", Bytes{2, 3});
        const e2e::RunResult r = s.run({"a.raw", c.device});
        EXPECT_EQ(r.out, pathLines("a.raw", c.device) + noTable +
                             "found 1 file to open\nfilesize is 2\n2 3 0 0 0 0 0 0 0 0 0 0 \n"
                             "6 5 0 0 0 0 0 0 0 0 0 0 0 0 0 0 " + c.tail);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(fs::is_character_file(c.device));
        EXPECT_EQ(s.listing(), std::vector<std::string>{"a.raw"});
    }
    if (!missing.empty())
        GTEST_SKIP() << "this host has no" << missing;
#endif
}

// A write that fails half way: the file-size limit stops the temporary at
// 8 blocks of 512 bytes, well short of the 1 MiB map.
TEST(Writer, FailedWriteKeepsTheOldDestination)
{
    TEST_NEEDS_POSIX("a file-size limit");
#if !defined(_WIN32)
    Scratch s("fsize");
    s.write(dest, oldDestination);
    s.write(source, Bytes(1 << 20, 3));
    e2e::RunOptions limited;
    limited.fileSizeLimit = 8 * 512;
    const e2e::RunResult r = s.run({}, limited);
    EXPECT_EQ(r.out, defaultHead + noTable +
                         "found 1 file to open\nfilesize is 1048576\n3 3 3 3 3 3 3 3 3 3 3 3 \n"
                         "5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 Error writing to output file.\n\n");
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.read(dest), oldDestination);
    EXPECT_EQ(s.listing(), (std::vector<std::string>{dest, source}));
#endif
}

TEST(Writer, ReplacingKeepsPermissionsAndLinks)
{
    TEST_NEEDS_POSIX("file modes and symbolic links");
#if !defined(_WIN32)
    Scratch s("links");
    s.write(source, Bytes{2});
    s.write("real.mat", oldDestination);
    fs::permissions(s / "real.mat", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("real.mat", s / dest);

    const e2e::RunResult r = s.run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fs::is_symlink(s / dest));
    EXPECT_EQ(s.read("real.mat"), Bytes{6});
    EXPECT_EQ(fs::status(s / "real.mat").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(s.listing(), (std::vector<std::string>{dest, source, "real.mat"}));
#endif
}

} // namespace
