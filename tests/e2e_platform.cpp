// End-to-end runs on what differs between hosts: how the program names
// itself, console line endings, native paths, the binary file contents, the
// replacing of an existing destination, and the release's table file.
#include "e2e_support.h"
#include "fixtures.h"
#include "host_only.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using e2e::Scratch;
using fixtures::Bytes;

namespace {

#if defined(_WIN32)
const std::string exeSuffix = ".exe";
#else
const std::string exeSuffix = "";
#endif

const std::string &dest = fixtures::defaultDestination;
const std::string &source = fixtures::defaultSource;
const std::string &table = fixtures::tableFile;

// Console lines, each ended the host's way.
std::string lines(const std::vector<std::string> &text)
{
    std::string out;
    for (const std::string &l : text)
        out += l + e2e::consoleNewline;
    return out;
}

} // namespace

// The name in the version and usage texts is the program file's own name,
// extension included, however the program was started.
TEST(ProgramName, IsTheFileNameHoweverStarted)
{
    Scratch s("name");
    fs::create_directories(s / "tools");
    const fs::path exe = s / ("tools/conv" + exeSuffix);
    fs::copy_file(e2e::pathOf(e2e::matconvPath()), exe);
    const std::string nativeAbs = e2e::utf8Of(exe);
    const std::string forwardAbs = exe.generic_u8string();
    const std::string nativeRel = e2e::utf8Of(fs::path(".") / "tools" / ("conv" + exeSuffix));
    const std::string name = "conv" + exeSuffix;
    const std::string version = fixtures::versionLine(name);

    const std::string versionText = version.substr(0, version.size() - 1);  // without its "\n"

    for (const std::string &program : {nativeAbs, forwardAbs, nativeRel}) {
        SCOPED_TRACE(program);
        const e2e::RunResult r = s.runProgram(program, {"/V"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.rawOut, lines({versionText}));
        EXPECT_EQ(r.err, "");
    }

    const e2e::RunResult help = s.runProgram(nativeAbs, {"/?"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, fixtures::usageText(name));
    EXPECT_EQ(help.err, "");
}

// Console text ends its lines the host's way (CR LF on Windows, LF
// elsewhere), while the destination holds exactly the converted bytes, even
// bytes a text-mode file would change: LF, CR and Ctrl-Z.
TEST(ConsoleAndFiles, TextIsNativeBytesAreExact)
{
    Scratch s("endings");
    s.write(source, Bytes{0, 1, 2, 3});
    s.write(table, Bytes{0x0A, 0x0D, 0x1A, 0x0A});
    const e2e::RunResult r = s.run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.rawOut, lines({"materialmap.raw is the inpath",
                               "HeightmapPrimary.mat is the outpath",
                               "tablesize is 4",
                               "found 1 file to open",
                               "filesize is 4",
                               "0 1 2 3 0 0 0 0 0 0 0 0 ",
                               "10 13 26 10 0 0 0 0 0 0 0 0 0 0 0 0 4 bytes written"}));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.read(dest), (Bytes{0x0A, 0x0D, 0x1A, 0x0A}));

    // Every byte value through an identity table comes out unchanged.
    Scratch all("identity");
    all.write(source, fixtures::identityTable());
    all.write(table, fixtures::identityTable());
    const e2e::RunResult id = all.run({});
    EXPECT_EQ(id.status, 0);
    EXPECT_EQ(all.read(dest), fixtures::identityTable());
}

// Source and destination named by relative and absolute paths in the host's
// own spelling (backslashes and a drive letter on Windows), in a folder
// whose name holds a blank.
TEST(NativePaths, SourceAndDestinationAnywhere)
{
    Scratch s("paths");
    fs::create_directories(s / "my maps");
    s.write("my maps/in.raw", Bytes{4, 6, 7});
    const fs::path relIn = fs::path("my maps") / "in.raw";
    const fs::path relOut = fs::path("my maps") / "out.mat";
    struct Case {
        std::string source;
        std::string destination;
    };
    const std::vector<Case> cases = {
        {e2e::utf8Of(relIn), e2e::utf8Of(relOut)},
        {e2e::utf8Of(s.dir() / relIn), e2e::utf8Of(s.dir() / relOut)},
        {(s.dir() / relIn).generic_u8string(), (s.dir() / relOut).generic_u8string()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.source);
        fs::remove(s / "my maps/out.mat");
        const e2e::RunResult r = s.run({c.source, c.destination});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), c.source + " is the inpath\n");
        EXPECT_NE(r.out.find("\n" + c.destination + " is the outpath\n"), std::string::npos) << r.out;
        EXPECT_EQ(s.read("my maps/out.mat"), (Bytes{8, 9, 7}));
        EXPECT_EQ(s.listing(), (std::vector<std::string>{"my maps"}));
    }
#if defined(_WIN32)
    // A path that starts with a drive letter and a backslash.
    EXPECT_EQ(e2e::utf8Of(s.dir() / relIn).substr(1, 2), ":\\");
#endif
}

// An existing destination is replaced as a whole, and no temporary is left
// beside it.
TEST(ReplaceDestination, LongerOldFileIsReplaced)
{
    Scratch s("replace");
    s.write(source, Bytes{1, 2, 3, 4});
    s.write(dest, Bytes(1000, 0xEE));
    const e2e::RunResult r = s.run({});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(s.read(dest), (Bytes{1, 6, 5, 8}));
    EXPECT_EQ(s.listing(), (std::vector<std::string>{dest, source}));
}

// On Windows a file another program holds open cannot be replaced: the run
// fails with status 8 and leaves the old destination as it was, with no
// temporary beside it.
TEST(ReplaceDestination, HeldOpenDestinationIsKept)
{
    TEST_NEEDS_WINDOWS("files held open that cannot be replaced");
#if defined(_WIN32)
    Scratch s("held");
    s.write(source, Bytes{1, 2, 3, 4});
    s.write(dest, fixtures::oldDestination);
    e2e::RunResult r;
    {
        std::ifstream held(s / dest, std::ios::binary);
        ASSERT_TRUE(held.is_open());
        r = s.run({});
    }
    EXPECT_EQ(r.status, 8);
    EXPECT_NE(r.out.find("Error writing to output file.\n\n"), std::string::npos) << r.out;
    EXPECT_EQ(s.read(dest), (fixtures::oldDestination));
    EXPECT_EQ(s.listing(), (std::vector<std::string>{dest, source}));
#endif
}

// A read-only destination is write-protected: the run is refused with
// status 8 before anything is written, and the old file stays as it was,
// with no temporary beside it.
TEST(ReplaceDestination, ReadOnlyDestinationIsRefused)
{
    TEST_NEEDS_WINDOWS("the read-only attribute (POSIX hosts: WriteProtection)");
#if defined(_WIN32)
    Scratch s("readonly");
    s.write(source, Bytes{1, 2, 3, 4});
    s.write(dest, fixtures::oldDestination);
    const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(s / dest, writable, fs::perm_options::remove);
    const e2e::RunResult r = s.run({});
    EXPECT_EQ(r.status, 8) << r.out;
    EXPECT_NE(r.out.find("1 6 5 8 0 0 0 0 0 0 0 0 0 0 0 0 Error opening output file.\n\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(s.read(dest), (fixtures::oldDestination));
    EXPECT_EQ(s.listing(), (std::vector<std::string>{dest, source}));
    fs::permissions(s / dest, writable, fs::perm_options::add);
#endif
}

// The release ships a "conversiontable.hex" for users to edit; as shipped it
// holds the built-in table and converts exactly as the built-in table does.
TEST(ReleaseTable, MatchesTheBuiltInTable)
{
    const Bytes shipped = e2e::readFile(fs::path(MATCONV_SOURCE_DIR) / "packaging" / table);
    EXPECT_EQ(shipped, fixtures::builtinTable);

    Scratch builtIn("builtin");
    builtIn.write(source, fixtures::identityTable());
    const e2e::RunResult a = builtIn.run({});
    EXPECT_EQ(a.status, 0);

    Scratch withTable("table");
    withTable.write(source, fixtures::identityTable());
    withTable.write(table, shipped);
    const e2e::RunResult b = withTable.run({});
    EXPECT_EQ(b.status, 0);
    EXPECT_NE(b.out.find("tablesize is 16\n"), std::string::npos) << b.out;

    EXPECT_EQ(builtIn.read(dest), withTable.read(dest));
}
