// End-to-end runs against the destination writer's promise: a run either
// puts its complete new file in place or leaves the old one exactly as it
// was, and never leaves a temporary behind.  Tried the way an attacker or a
// careless user would: runs at once on one file, links planted where the
// program writes, signals in the middle of a write, names at the system's
// length limits, files and folders this user may not write, tables that
// cannot be read, and "/D" with a path.
#include "e2e_bitmap.h"
#include "e2e_support.h"
#include "reference_pattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using e2e::Bytes;
using e2e::Scratch;

namespace {

const std::string defaultDest = "HeightmapPrimary.mat";
const std::string noTable = "didn't find conversiontable.hex,using built-in\n";
const Bytes oldDestination = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11};

Bytes identityTable()
{
    Bytes t(256);
    std::iota(t.begin(), t.end(), 0);
    return t;
}

// The whole console text of a successful raw run.
std::string rawTrace(const std::string &src, const std::string &dest, const std::string &tableLine,
                     const Bytes &source, const Bytes &converted)
{
    return src + " is the inpath\n" + dest + " is the outpath\n" + tableLine + "found 1 file to open\nfilesize is " +
           std::to_string(source.size()) + "\n" + e2e::consoleValues(source, 12) + "\n" +
           e2e::consoleValues(converted, 16) + std::to_string(converted.size()) + " bytes written\n";
}

// The console text of a raw run that fails in the writer.
std::string writerFault(const std::string &src, const std::string &dest, const Bytes &source,
                        const Bytes &converted, const std::string &message)
{
    return src + " is the inpath\n" + dest + " is the outpath\n" + noTable + "found 1 file to open\nfilesize is " +
           std::to_string(source.size()) + "\n" + e2e::consoleValues(source, 12) + "\n" +
           e2e::consoleValues(converted, 16) + message + "\n\n";
}

const std::string openingFault = "Error opening output file.";

bool isTemporaryName(const std::string &n)
{
    return n.find(".tmp") != std::string::npos || n.rfind(".matconv-", 0) == 0;
}

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// "/D" with and without a path after it: where the test file goes, and what
// an argument after that path does.
TEST(DumpSwitch, PathAfterItNamesTheTestFile)
{
    const Bytes pattern = reference::file(262144);
    struct Case {
        const char *label;
        std::vector<std::string> args;
        std::string out;
        int status;
        // Every entry of the folder afterwards, and the one holding the
        // test file (empty when none may be written).
        std::vector<std::string> listing;
        std::string written;
    };
    const Case cases[] = {
        {"PathAfter", {"/D", "test.mat"}, "524288 bytes written\n", 0,
         {defaultDest, "a.raw", "test.mat"}, "test.mat"},
        {"ReplacesEarlierDestination", {"a.raw", "b.mat", "/D", "c.mat"}, "524288 bytes written\n", 0,
         {defaultDest, "a.raw", "c.mat"}, "c.mat"},
        {"DestinationBefore", {"a.raw", "b.mat", "-D"}, "524288 bytes written\n", 0,
         {defaultDest, "a.raw", "b.mat"}, "b.mat"},
        {"Alone", {"/D"}, "524288 bytes written\n", 0, {defaultDest, "a.raw"}, defaultDest},
        {"SwitchAfterIsNotExamined", {"/D", "/V"}, "524288 bytes written\n", 0, {defaultDest, "a.raw"},
         defaultDest},
        {"TwoPathsAfter", {"/D", "c.mat", "d.mat"}, "What do I do with this: d.mat ? \n", 2,
         {defaultDest, "a.raw"}, ""},
        {"SwitchAfterThePath", {"/D", "c.mat", "/V"}, "What do I do with this: /V ? \n", 2,
         {defaultDest, "a.raw"}, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Scratch s(std::string("dump-") + c.label);
        s.write(defaultDest, oldDestination);
        s.write("a.raw", Bytes{1, 2, 3});
        const e2e::RunResult r = s.run(c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(s.listing(), sorted(c.listing));
        if (!c.written.empty()) {
            EXPECT_EQ(s.read(c.written), pattern);
        }
        if (c.written != defaultDest) {
            EXPECT_EQ(s.read(defaultDest), oldDestination);
        }
    }
}

#if !defined(_WIN32)

// What a run with the table `kind` must do: a table file that is there but
// cannot be read ends the run right after the path lines, before the source
// is looked at; a missing one, a dangling link included, is no fault.
TEST(TableFile, ThereButUnreadableIsAFault)
{
    struct Case {
        const char *label;
        void (*plant)(const Scratch &);
        bool unprivileged;
        std::string tableLine;  // empty: the run ends with "Error opening table file."
    };
    const auto head = std::string("materialmap.raw is the inpath\nHeightmapPrimary.mat is the outpath\n");
    const Case cases[] = {
        {"Folder", [](const Scratch &s) { fs::create_directory(s / "conversiontable.hex"); }, false, ""},
        {"Fifo", [](const Scratch &s) { ASSERT_EQ(mkfifo((s / "conversiontable.hex").c_str(), 0644), 0); }, false,
         ""},
        {"Socket",
         [](const Scratch &s) {
             const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
             ASSERT_GE(fd, 0);
             sockaddr_un addr{};
             addr.sun_family = AF_UNIX;
             const std::string p = (s / "conversiontable.hex").string();
             ASSERT_LT(p.size(), sizeof addr.sun_path);
             std::copy(p.begin(), p.end(), addr.sun_path);
             ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
             close(fd);
         },
         false, ""},
        {"LinkToADevice", [](const Scratch &s) { fs::create_symlink("/dev/zero", s / "conversiontable.hex"); },
         false, ""},
        {"NoReadPermission",
         [](const Scratch &s) {
             s.write("conversiontable.hex", Bytes{7});
             fs::permissions(s / "conversiontable.hex", fs::perms::none);
         },
         true, ""},
        {"DanglingLink", [](const Scratch &s) { fs::create_symlink("nowhere.hex", s / "conversiontable.hex"); },
         false, noTable},
        {"LinkToATable",
         [](const Scratch &s) {
             s.write("real.hex", Bytes{7});
             fs::create_symlink("real.hex", s / "conversiontable.hex");
         },
         false, "tablesize is 1\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Scratch s(std::string("table-") + c.label);
        s.write(defaultDest, oldDestination);
        s.write("materialmap.raw", Bytes{0, 2});
        c.plant(s);
        e2e::RunOptions o;
        o.unprivileged = c.unprivileged;
        if (c.unprivileged)
            s.giveToUnprivilegedUser();
        const std::vector<std::string> before = s.listing();

        const e2e::RunResult r = s.run({}, o);

        EXPECT_EQ(r.err, "");
        if (c.tableLine.empty()) {
            EXPECT_EQ(r.out, head + "Error opening table file.\n\n");
            EXPECT_EQ(r.status, 7);
            EXPECT_EQ(s.read(defaultDest), oldDestination);
        } else {
            const Bytes converted = c.tableLine == noTable ? Bytes{0, 6} : Bytes{7, 6};
            EXPECT_EQ(r.out, rawTrace("materialmap.raw", defaultDest, c.tableLine, Bytes{0, 2}, converted));
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(s.read(defaultDest), converted);
        }
        EXPECT_EQ(s.listing(), before);
    }
}

// Destinations that are links, or that cannot be examined.  A link keeps its
// link and the file it finally names is replaced; nothing is written through
// a dangling link, as cp refuses to; a destination whose state cannot be
// found out is refused, never written in place.
TEST(DestinationKinds, LinksAndUnexaminablePaths)
{
    const Bytes source{2, 3};
    const Bytes converted{6, 5};
    struct Case {
        const char *label;
        void (*plant)(const Scratch &);
        std::string dest;
        bool refused;
        std::string replaced;  // the file that gets the new bytes when not refused
    };
    const Case cases[] = {
        {"DanglingLink", [](const Scratch &s) { fs::create_symlink("missing.mat", s / "out.mat"); }, "out.mat", true,
         ""},
        {"DanglingLinkIntoAMissingFolder",
         [](const Scratch &s) { fs::create_symlink("nowhere/missing.mat", s / "out.mat"); }, "out.mat", true, ""},
        {"LinkLoop",
         [](const Scratch &s) {
             fs::create_symlink("loop2.mat", s / "out.mat");
             fs::create_symlink("out.mat", s / "loop2.mat");
         },
         "out.mat", true, ""},
        {"PathThroughAFile", [](const Scratch &) {}, "in.raw/out.mat", true, ""},
        {"TrailingSlash", [](const Scratch &) {}, "out.mat/", true, ""},
        {"ChainIntoAnotherFolder",
         [](const Scratch &s) {
             fs::create_directory(s / "maps");
             s.write("maps/real.mat", oldDestination);
             fs::create_symlink("maps/step.mat", s / "out.mat");
             fs::create_symlink("real.mat", s / "maps/step.mat");
         },
         "out.mat", false, "maps/real.mat"},
        {"AbsoluteLink",
         [](const Scratch &s) {
             s.write("real.mat", oldDestination);
             fs::create_symlink(s / "real.mat", s / "out.mat");
         },
         "out.mat", false, "real.mat"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Scratch s(std::string("kind-") + c.label);
        s.write("in.raw", source);
        c.plant(s);
        std::vector<std::string> before = s.listing();

        const e2e::RunResult r = s.run({"in.raw", c.dest});

        EXPECT_EQ(r.err, "");
        if (c.refused) {
            EXPECT_EQ(r.out, writerFault("in.raw", c.dest, source, converted, openingFault));
            EXPECT_EQ(r.status, 8);
        } else {
            EXPECT_EQ(r.out, rawTrace("in.raw", c.dest, noTable, source, converted));
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(s.read(c.replaced), converted);
            EXPECT_TRUE(fs::is_symlink(s / c.dest));
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(s / c.replaced)));
        }
        EXPECT_EQ(s.listing(), before);
        if (fs::is_directory(s / "maps")) {
            std::vector<std::string> inMaps;
            for (const auto &e : fs::directory_iterator(s / "maps"))
                inMaps.push_back(e.path().filename().string());
            EXPECT_EQ(sorted(inMaps), sorted({"real.mat", "step.mat"}));
        }
    }
}

// Links planted at every name an earlier version used for its temporary,
// dangling or leading to a victim file outside the folder.  The victim
// stays as it was, no file appears where a dangling link points, and the
// destination is a regular file with the new bytes.
TEST(PlantedLinks, AtTheOldTemporaryNames)
{
    const Bytes victimBytes{'v', 'i', 'c', 't', 'i', 'm'};
    for (const bool dangling : {true, false}) {
        SCOPED_TRACE(dangling ? "dangling" : "to a victim");
        Scratch s(dangling ? "planted-dangling" : "planted-victim");
        const fs::path outside = s.dir().parent_path();
        e2e::writeFile(outside / "victim.bin", victimBytes);
        s.write("in.raw", Bytes{1, 15});
        s.write("out.mat", oldDestination);
        for (int n = 0; n < 10; ++n) {
            const std::string target = dangling ? "../planted-" + std::to_string(n) : "../victim.bin";
            fs::create_symlink(target, s / ("out.mat." + std::to_string(n) + ".tmp"));
        }
        const std::vector<std::string> before = s.listing();

        const e2e::RunResult r = s.run({"in.raw", "out.mat"});

        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, rawTrace("in.raw", "out.mat", noTable, Bytes{1, 15}, Bytes{1, 4}));
        EXPECT_EQ(s.read("out.mat"), (Bytes{1, 4}));
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(s / "out.mat")));
        EXPECT_EQ(e2e::readFile(outside / "victim.bin"), victimBytes);
        for (int n = 0; n < 10; ++n)
            EXPECT_FALSE(fs::exists(fs::symlink_status(outside / ("planted-" + std::to_string(n)))));
        EXPECT_EQ(s.listing(), before);
    }
}

// Names at the system's limits: a file name of 255 bytes, and a path of
// 4,095 bytes (the longest a system call takes) through 16 nested folders.
TEST(LongNames, LongestNameAndLongestPath)
{
    {
        Scratch s("name255");
        const std::string name = std::string(251, 'n') + ".mat";
        ASSERT_EQ(name.size(), 255u);
        s.write("in.raw", Bytes{3});
        s.write(name, oldDestination);
        const e2e::RunResult r = s.run({"in.raw", name});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, rawTrace("in.raw", name, noTable, Bytes{3}, Bytes{5}));
        EXPECT_EQ(s.read(name), Bytes{5});
        EXPECT_EQ(s.listing(), sorted({"in.raw", name}));
    }
    {
        Scratch s("path4095");
        s.write("in.raw", Bytes{4});
        const std::string folder(254, 'd');
        std::string path;
        int fd = open(s.dir().c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        std::vector<int> chain{fd};
        for (int level = 0; level < 16; ++level) {
            ASSERT_EQ(mkdirat(chain.back(), folder.c_str(), 0755), 0);
            const int next = openat(chain.back(), folder.c_str(), O_RDONLY | O_DIRECTORY);
            ASSERT_GE(next, 0);
            chain.push_back(next);
            path += folder + "/";
        }
        const std::string name(4095 - path.size(), 'm');
        path += name;
        ASSERT_EQ(path.size(), 4095u);

        const e2e::RunResult r = s.run({"in.raw", path});

        EXPECT_EQ(r.status, 0) << r.out.substr(0, 200);
        EXPECT_EQ(r.out, rawTrace("in.raw", path, noTable, Bytes{4}, Bytes{8}));
        // Read back, and clear away, through the folder descriptors: the
        // whole path is longer than the system takes from the tests too.
        const int in = openat(chain.back(), name.c_str(), O_RDONLY);
        ASSERT_GE(in, 0);
        unsigned char got[4] = {};
        EXPECT_EQ(read(in, got, sizeof got), 1);
        EXPECT_EQ(got[0], 8);
        close(in);
        DIR *d = fdopendir(dup(chain.back()));
        ASSERT_NE(d, nullptr);
        std::vector<std::string> deepest;
        while (const dirent *e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..")
                deepest.push_back(n);
        }
        closedir(d);
        EXPECT_EQ(deepest, std::vector<std::string>{name});
        EXPECT_EQ(unlinkat(chain.back(), name.c_str(), 0), 0);
        for (std::size_t level = chain.size() - 1; level > 0; --level) {
            close(chain[level]);
            EXPECT_EQ(unlinkat(chain[level - 1], folder.c_str(), AT_REMOVEDIR), 0);
        }
        close(chain[0]);
    }
}

// Write protection and folders this user may not write into, as an
// unprivileged user (root may write anything, as with a plain open).
TEST(WriteProtection, RefusedBeforeAnythingIsWritten)
{
    const Bytes source{1, 2};
    const Bytes converted{1, 6};
    struct Case {
        const char *label;
        fs::perms fileMode;
        fs::perms folderMode;
        bool unprivileged;
        int status;
    };
    const fs::perms rw = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                         fs::perms::others_read;
    const fs::perms r = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    const fs::perms rwx = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
    const fs::perms rx = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                         fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    const Case cases[] = {
        {"ReadOnlyFile", r, rwx, true, 8},
        {"ReadOnlyFolderWritableFile", rw, rx, true, 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Scratch s(std::string("protect-") + c.label);
        s.write("in.raw", source);
        s.write("out.mat", oldDestination);
        fs::permissions(s / "out.mat", c.fileMode);
        if (c.unprivileged)
            s.giveToUnprivilegedUser();
        fs::permissions(s.dir(), c.folderMode);
        e2e::RunOptions o;
        o.unprivileged = c.unprivileged;
        const e2e::RunResult res = s.run({"in.raw", "out.mat"}, o);

        fs::permissions(s.dir(), fs::perms::owner_all, fs::perm_options::add);
        EXPECT_EQ(res.err, "");
        EXPECT_EQ(res.status, c.status);
        if (c.status == 8) {
            EXPECT_EQ(res.out, writerFault("in.raw", "out.mat", source, converted, openingFault));
            EXPECT_EQ(s.read("out.mat"), oldDestination);
        } else {
            EXPECT_EQ(res.out, rawTrace("in.raw", "out.mat", noTable, source, converted));
            EXPECT_EQ(s.read("out.mat"), converted);
        }
        EXPECT_EQ(fs::status(s / "out.mat").permissions(), c.fileMode);
        EXPECT_EQ(s.listing(), sorted({"in.raw", "out.mat"}));
    }
}

// Root may replace a write-protected file, as with a plain open; the file
// keeps its mode.
TEST(WriteProtection, RootMayReplaceAReadOnlyFile)
{
    if (!e2e::runningAsRoot())
        GTEST_SKIP() << "needs the tests to run as root (CI does)";
    Scratch s("protect-root");
    s.write("in.raw", Bytes{1, 2});
    s.write("out.mat", oldDestination);
    ASSERT_EQ(chmod((s / "out.mat").c_str(), 0444), 0);
    const e2e::RunResult r = s.run({"in.raw", "out.mat"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, rawTrace("in.raw", "out.mat", noTable, Bytes{1, 2}, Bytes{1, 6}));
    EXPECT_EQ(s.read("out.mat"), (Bytes{1, 6}));
    struct stat st;
    ASSERT_EQ(stat((s / "out.mat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

// An existing destination keeps its mode, and when root replaces another
// user's file, its owner and group; a new one gets what a plain create
// gives under the umask.
TEST(Modes, KeptOrAsAPlainCreate)
{
    struct Case {
        const char *label;
        int oldMode;  // -1: no old destination
        int umask;
        int expected;
    };
    const Case cases[] = {
        {"Keeps0600", 0600, 022, 0600},
        {"Keeps0640", 0640, 077, 0640},
        {"Keeps0755", 0755, 022, 0755},
        {"NewUnder022", -1, 022, 0644},
        {"NewUnder077", -1, 077, 0600},
        {"NewUnder027", -1, 027, 0640},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Scratch s(std::string("mode-") + c.label);
        s.write("in.raw", Bytes{9});
        if (c.oldMode >= 0) {
            s.write("out.mat", oldDestination);
            ASSERT_EQ(chmod((s / "out.mat").c_str(), static_cast<mode_t>(c.oldMode)), 0);
        }
        e2e::RunOptions o;
        o.umask = c.umask;
        const e2e::RunResult r = s.run({"in.raw", "out.mat"}, o);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(s.read("out.mat"), Bytes{3});
        struct stat st;
        ASSERT_EQ(stat((s / "out.mat").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(c.expected));
    }

    if (!e2e::runningAsRoot()) {
        GTEST_SKIP() << "keeping another user's ownership needs the tests to run as root (CI does)";
    }
    Scratch s("mode-owner");
    s.write("in.raw", Bytes{9});
    s.write("out.mat", oldDestination);
    ASSERT_EQ(chown((s / "out.mat").c_str(), e2e::unprivilegedUid, e2e::unprivilegedGid), 0);
    const e2e::RunResult r = s.run({"in.raw", "out.mat"});
    EXPECT_EQ(r.status, 0) << r.out;
    struct stat st;
    ASSERT_EQ(stat((s / "out.mat").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, e2e::unprivilegedUid);
    EXPECT_EQ(st.st_gid, e2e::unprivilegedGid);
}

// ---------------------------------------------------------------------------
// Runs caught in the middle of their write.

// A 64 MiB map, so that the write and its flush take long enough to be
// caught in the act.
Bytes bigMap()
{
    Bytes b(67108864);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<unsigned char>((i >> 12) % 16);
    return b;
}

// The files the run `pid` holds open in `dir` other than its source: the
// writer's temporary, nameless or named.
std::vector<std::string> openTemporaries(int pid, const fs::path &dir)
{
    std::vector<std::string> found;
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    DIR *d = opendir(fdDir.c_str());
    if (d == nullptr)
        return found;
    const std::string prefix = fs::canonical(dir).string() + "/";
    while (const dirent *e = readdir(d)) {
        const std::string fd = fdDir + "/" + e->d_name;
        char target[8192];
        const ssize_t n = readlink(fd.c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        const std::string t(target, static_cast<std::size_t>(n));
        if (t.rfind(prefix, 0) == 0 && isTemporaryName(t.substr(prefix.size())))
            found.push_back(fd);
        else if (t.rfind(prefix, 0) == 0 && t.find(" (deleted)") != std::string::npos)
            found.push_back(fd);
    }
    closedir(d);
    return found;
}

// True once the run has ended (a zombie waiting to be reaped counts).
bool exited(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z';
}

// Polls until the run has its temporary open; false when it ended first.
bool waitForTemporary(int pid, const fs::path &dir)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!openTemporaries(pid, dir).empty())
            return true;
        if (exited(pid))
            return false;
    }
    return false;
}

// 1 when this folder's file system makes nameless temporaries.
bool hasNamelessTemporaries(const fs::path &dir)
{
#if defined(O_TMPFILE)
    const int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (fd < 0)
        return false;
    close(fd);
    return true;
#else
    static_cast<void>(dir);
    return false;
#endif
}

// SIGINT, SIGTERM and SIGHUP in the middle of a write: the temporary is gone,
// the old destination is intact, and the run ends by that signal.  A run
// that finishes before the signal lands is tried again.
TEST(Signals, InterruptedWriteLeavesNothing)
{
    Scratch s("signals");
    s.write("big.raw", bigMap());
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE("signal " + std::to_string(sig));
        bool caught = false;
        for (int attempt = 0; attempt < 10 && !caught; ++attempt) {
            s.write("out.mat", oldDestination);
            const Scratch::Started run = s.start({"big.raw", "out.mat"}, attempt);
            const bool inWrite = waitForTemporary(run.pid, s.dir());
            if (inWrite)
                kill(run.pid, sig);
            int term = 0;
            const e2e::RunResult r = s.finish(run, &term);
            EXPECT_EQ(s.listing(), sorted({"big.raw", "out.mat"}));
            if (inWrite && term == sig) {
                caught = true;
                EXPECT_EQ(s.read("out.mat"), oldDestination);
                EXPECT_EQ(r.err, "");
            } else {
                // Finished first: then it finished completely.
                EXPECT_EQ(r.status, 0) << r.out;
                EXPECT_EQ(fs::file_size(s / "out.mat"), 67108864u);
            }
        }
        EXPECT_TRUE(caught) << "no run was caught in its write in 10 tries";
    }
}

// A signal that was ignored when the run started stays ignored: the run
// completes as if it had not come.
TEST(Signals, IgnoredSignalStaysIgnored)
{
    Scratch s("ignored");
    s.write("big.raw", bigMap());
    s.write("out.mat", oldDestination);
    e2e::RunOptions o;
    o.ignoredSignals = {SIGTERM, SIGHUP};
    const Scratch::Started run = s.start({"big.raw", "out.mat"}, 0, o);
    const bool inWrite = waitForTemporary(run.pid, s.dir());
    if (inWrite) {
        kill(run.pid, SIGTERM);
        kill(run.pid, SIGHUP);
    }
    int term = 0;
    const e2e::RunResult r = s.finish(run, &term);
    EXPECT_TRUE(inWrite) << "the run was not seen writing";
    EXPECT_EQ(term, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(fs::file_size(s / "out.mat"), 67108864u);
    EXPECT_EQ(s.listing(), sorted({"big.raw", "out.mat"}));
}

// SIGKILL cannot be caught.  Later runs still succeed, and where the file
// system makes nameless temporaries nothing at all is left.
TEST(Signals, KilledRunNeverBlocksALaterOne)
{
    Scratch s("killed");
    s.write("big.raw", bigMap());
    s.write("small.raw", Bytes{2});
    const bool nameless = hasNamelessTemporaries(s.dir());
    int killed = 0;
    for (int attempt = 0; attempt < 10 && killed < 3; ++attempt) {
        s.write("out.mat", oldDestination);
        const Scratch::Started run = s.start({"big.raw", "out.mat"}, attempt);
        if (waitForTemporary(run.pid, s.dir()))
            kill(run.pid, SIGKILL);
        int term = 0;
        s.finish(run, &term);
        if (term == SIGKILL) {
            ++killed;
            EXPECT_EQ(s.read("out.mat"), oldDestination);
        }
    }
    EXPECT_EQ(killed, 3) << "fewer runs than tried were caught in their write";
    std::vector<std::string> left;
    for (const std::string &n : s.listing()) {
        if (isTemporaryName(n))
            left.push_back(n);
    }
    if (nameless) {
        EXPECT_TRUE(left.empty()) << left.size() << " temporaries left on a file system with nameless ones";
    }
    const e2e::RunResult r = s.run({"small.raw", "out.mat"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(s.read("out.mat"), Bytes{6});
}

// While a 0600 destination is replaced, its temporary is never readable by
// anyone else: every look at the run's open temporary finds mode 0600.
TEST(Modes, TemporaryNeverMoreOpenThanTheFile)
{
    Scratch s("tempmode");
    s.write("big.raw", bigMap());
    int looks = 0;
    for (int attempt = 0; attempt < 10 && looks == 0; ++attempt) {
        s.write("out.mat", oldDestination);
        ASSERT_EQ(chmod((s / "out.mat").c_str(), 0600), 0);
        const Scratch::Started run = s.start({"big.raw", "out.mat"}, attempt);
        while (!exited(run.pid)) {
            for (const std::string &fd : openTemporaries(run.pid, s.dir())) {
                struct stat st;
                if (stat(fd.c_str(), &st) == 0) {
                    ++looks;
                    EXPECT_EQ(st.st_mode & 0777, 0600u);
                }
            }
            for (const std::string &n : s.listing()) {
                struct stat st;
                if (isTemporaryName(n) && lstat((s / n).c_str(), &st) == 0) {
                    ++looks;
                    EXPECT_EQ(st.st_mode & 0777, 0600u) << n;
                }
            }
        }
        const e2e::RunResult r = s.finish(run);
        EXPECT_EQ(r.status, 0);
        struct stat st;
        ASSERT_EQ(stat((s / "out.mat").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
    EXPECT_GT(looks, 0) << "the temporary was never seen";
}

// Eight runs at once into one destination, round after round, from sources
// of different sizes and codes, with a reader looking at the destination
// all the while.  The destination is always exactly the old file or one
// run's complete output, every run succeeds and says so, and no temporary
// is left.
TEST(Concurrency, EightRunsIntoOneDestination)
{
    constexpr int runs = 8;
    constexpr int rounds = 20;
    Scratch s("race");
    s.write("conversiontable.hex", identityTable());
    std::vector<std::size_t> sizes;
    for (int k = 0; k < runs; ++k) {
        sizes.push_back(262144 + static_cast<std::size_t>(k) * 98304 + static_cast<std::size_t>(k));
        s.write("src" + std::to_string(k) + ".raw", Bytes(sizes.back(), static_cast<unsigned char>(k + 1)));
    }
    const Bytes old(1000, 0xEE);
    // Which run's output the bytes are: 1 to 8, 0 for the old file, -1 for
    // anything else.
    const auto whose = [&](const Bytes &b) {
        if (b == old)
            return 0;
        if (b.empty() || b[0] < 1 || b[0] > runs || b.size() != sizes[b[0] - 1u])
            return -1;
        return std::all_of(b.begin(), b.end(), [&](unsigned char c) { return c == b[0]; }) ? int(b[0]) : -1;
    };

    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        s.write("out.mat", old);
        std::atomic<bool> done{false};
        std::atomic<int> badReads{0};
        std::atomic<int> reads{0};
        std::thread reader([&] {
            while (!done) {
                Bytes b;
                try {
                    b = e2e::readFile(s / "out.mat");
                } catch (const std::exception &) {
                    ++badReads;  // the destination must always be there
                    continue;
                }
                ++reads;
                if (whose(b) < 0)
                    ++badReads;
            }
        });
        std::vector<Scratch::Started> started;
        for (int k = 0; k < runs; ++k)
            started.push_back(s.start({"src" + std::to_string(k) + ".raw", "out.mat"}, k));
        std::vector<e2e::RunResult> results;
        for (const Scratch::Started &st : started)
            results.push_back(s.finish(st));
        done = true;
        reader.join();

        EXPECT_EQ(badReads, 0) << "of " << reads << " reads";
        for (int k = 0; k < runs; ++k) {
            EXPECT_EQ(results[k].status, 0) << results[k].out;
            const std::string tail = std::to_string(sizes[k]) + " bytes written\n";
            EXPECT_EQ(results[k].out.substr(results[k].out.size() - std::min(results[k].out.size(), tail.size())),
                      tail);
        }
        EXPECT_GT(whose(s.read("out.mat")), 0);
        std::vector<std::string> expected{"conversiontable.hex", "out.mat"};
        for (int k = 0; k < runs; ++k)
            expected.push_back("src" + std::to_string(k) + ".raw");
        EXPECT_EQ(s.listing(), sorted(expected));
        if (::testing::Test::HasFailure())
            break;
    }
}

#endif

} // namespace
