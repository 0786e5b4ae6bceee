// End-to-end runs against the destination writer's promise: a run either
// puts its complete new file in place or leaves the old one exactly as it
// was, and never leaves a temporary behind.  Tried the way an attacker or a
// careless user would: runs at once on one file, links planted where the
// program writes, signals in the middle of a write, names at the system's
// length limits, files and folders this user may not write, and tables that
// cannot be read.  ("/D" with a path is in the run table of e2e_run.cpp.)
#include "e2e_cases.h"
#include "e2e_support.h"
#include "fixtures.h"
#include "host_only.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
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
using e2e::absent;
using e2e::holds;
using e2e::RunCase;
using e2e::Scratch;
using e2e::unchanged;
using fixtures::Bytes;
using fixtures::isTemporaryName;
using fixtures::noTable;
using fixtures::oldDestination;

namespace {

#if !defined(_WIN32)

const std::string &defaultDest = fixtures::defaultDestination;

// The whole console text of a successful raw run.
std::string rawTrace(const std::string &src, const std::string &dest, const std::string &tableLine,
                     const Bytes &source, const Bytes &converted)
{
    return fixtures::pathLines(src, dest) + tableLine + "found 1 file to open\nfilesize is " +
           std::to_string(source.size()) + "\n" + fixtures::consoleValues(source, 12) + "\n" +
           fixtures::consoleValues(converted, 16) + std::to_string(converted.size()) + " bytes written\n";
}

// The console text of a raw run that fails in the writer.
std::string writerFault(const std::string &src, const std::string &dest, const Bytes &source,
                        const Bytes &converted, const std::string &message)
{
    return fixtures::pathLines(src, dest) + noTable + "found 1 file to open\nfilesize is " +
           std::to_string(source.size()) + "\n" + fixtures::consoleValues(source, 12) + "\n" +
           fixtures::consoleValues(converted, 16) + message + "\n\n";
}

const std::string openingFault = "Error opening output file.";

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

e2e::RunOptions asUnprivilegedUser()
{
    e2e::RunOptions o;
    o.unprivileged = true;
    return o;
}

#endif

// A table file that is there but cannot be read ends the run right after
// the path lines, before the source is looked at; a missing one, a dangling
// link included, is no fault.  (A folder there: the run table's
// TableThatIsAFolderIsAFault, on every host.)
TEST(TableFile, ThereButUnreadableIsAFault)
{
    TEST_NEEDS_POSIX("fifos, sockets, symbolic links and file modes");
#if !defined(_WIN32)
    const std::string &source = fixtures::defaultSource;
    const std::string &table = fixtures::tableFile;
    const std::string refused = fixtures::defaultHead + "Error opening table file.\n\n";
    const RunCase cases[] = {
        {"Fifo",
         {defaultDest},
         [&](const Scratch &s) {
             s.write(source, Bytes{0, 2});
             ASSERT_EQ(mkfifo((s / table).c_str(), 0644), 0);
         },
         {},
         refused,
         7,
         {unchanged(defaultDest)}},
        {"Socket",
         {defaultDest},
         [&](const Scratch &s) {
             s.write(source, Bytes{0, 2});
             const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
             ASSERT_GE(fd, 0);
             sockaddr_un addr{};
             addr.sun_family = AF_UNIX;
             const std::string p = (s / table).string();
             ASSERT_LT(p.size(), sizeof addr.sun_path);
             std::copy(p.begin(), p.end(), addr.sun_path);
             ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
             close(fd);
         },
         {},
         refused,
         7,
         {unchanged(defaultDest)}},
        {"LinkToADevice",
         {defaultDest},
         [&](const Scratch &s) {
             s.write(source, Bytes{0, 2});
             fs::create_symlink("/dev/zero", s / table);
         },
         {},
         refused,
         7,
         {unchanged(defaultDest)}},
        // Refused as a user whom the mode binds, not as root.
        {"NoReadPermission",
         {defaultDest},
         [&](const Scratch &s) {
             s.write(source, Bytes{0, 2});
             s.write(table, Bytes{7});
             fs::permissions(s / table, fs::perms::none);
         },
         {},
         refused,
         7,
         {unchanged(defaultDest)},
         asUnprivilegedUser()},
        {"DanglingLink",
         {defaultDest},
         [&](const Scratch &s) {
             s.write(source, Bytes{0, 2});
             fs::create_symlink("nowhere.hex", s / table);
         },
         {},
         rawTrace(source, defaultDest, noTable, Bytes{0, 2}, Bytes{0, 6}),
         0,
         {holds(defaultDest, {0, 6}), absent("nowhere.hex")}},
        {"LinkToATable",
         {defaultDest},
         [&](const Scratch &s) {
             s.write(source, Bytes{0, 2});
             s.write("real.hex", Bytes{7});
             fs::create_symlink("real.hex", s / table);
         },
         {},
         rawTrace(source, defaultDest, "tablesize is 1\n", Bytes{0, 2}, Bytes{7, 6}),
         0,
         {holds(defaultDest, {7, 6}), holds("real.hex", {7})}},
    };
    for (const RunCase &c : cases) {
        SCOPED_TRACE(c.name);
        e2e::checkRun(c);
    }
#endif
}

// Destinations that are links, or that cannot be examined.  A link keeps its
// link and the file it finally names is replaced; nothing is written through
// a dangling link, as cp refuses to; a destination whose state cannot be
// found out is refused, never written in place.
TEST(DestinationKinds, LinksAndUnexaminablePaths)
{
    TEST_NEEDS_POSIX("symbolic links");
#if !defined(_WIN32)
    const Bytes source{2, 3};
    const Bytes converted{6, 5};
    const auto refused = [&](const std::string &dest) {
        return writerFault("in.raw", dest, source, converted, openingFault);
    };
    const std::string written = rawTrace("in.raw", "out.mat", noTable, source, converted);
    const RunCase cases[] = {
        {"DanglingLink",
         {},
         [&](const Scratch &s) {
             s.write("in.raw", source);
             fs::create_symlink("missing.mat", s / "out.mat");
         },
         {"in.raw", "out.mat"},
         refused("out.mat"),
         8,
         {absent("missing.mat")}},
        {"DanglingLinkIntoAMissingFolder",
         {},
         [&](const Scratch &s) {
             s.write("in.raw", source);
             fs::create_symlink("nowhere/missing.mat", s / "out.mat");
         },
         {"in.raw", "out.mat"},
         refused("out.mat"),
         8,
         {absent("nowhere")}},
        {"LinkLoop",
         {},
         [&](const Scratch &s) {
             s.write("in.raw", source);
             fs::create_symlink("loop2.mat", s / "out.mat");
             fs::create_symlink("out.mat", s / "loop2.mat");
         },
         {"in.raw", "out.mat"},
         refused("out.mat"),
         8,
         {},
         {},
         [](const Scratch &s) {
             EXPECT_TRUE(fs::is_symlink(s / "out.mat"));
             EXPECT_TRUE(fs::is_symlink(s / "loop2.mat"));
         }},
        {"PathThroughAFile",
         {},
         [&](const Scratch &s) { s.write("in.raw", source); },
         {"in.raw", "in.raw/out.mat"},
         refused("in.raw/out.mat"),
         8,
         {holds("in.raw", source)}},
        {"TrailingSlash",
         {},
         [&](const Scratch &s) { s.write("in.raw", source); },
         {"in.raw", "out.mat/"},
         refused("out.mat/"),
         8,
         {absent("out.mat")}},
        {"ChainIntoAnotherFolder",
         {"maps/real.mat"},
         [&](const Scratch &s) {
             s.write("in.raw", source);
             fs::create_symlink("maps/step.mat", s / "out.mat");
             fs::create_symlink("real.mat", s / "maps/step.mat");
         },
         {"in.raw", "out.mat"},
         written,
         0,
         {holds("maps/real.mat", converted)},
         {},
         [](const Scratch &s) {
             EXPECT_TRUE(fs::is_symlink(s / "out.mat"));
             EXPECT_TRUE(fs::is_symlink(s / "maps/step.mat"));
             EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(s / "maps/real.mat")));
             std::vector<std::string> inMaps;
             for (const auto &e : fs::directory_iterator(s / "maps"))
                 inMaps.push_back(e.path().filename().string());
             EXPECT_EQ(sorted(inMaps), sorted({"real.mat", "step.mat"}));
         }},
        {"AbsoluteLink",
         {"real.mat"},
         [&](const Scratch &s) {
             s.write("in.raw", source);
             fs::create_symlink(s / "real.mat", s / "out.mat");
         },
         {"in.raw", "out.mat"},
         written,
         0,
         {holds("real.mat", converted)},
         {},
         [](const Scratch &s) {
             EXPECT_TRUE(fs::is_symlink(s / "out.mat"));
             EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(s / "real.mat")));
         }},
    };
    for (const RunCase &c : cases) {
        SCOPED_TRACE(c.name);
        e2e::checkRun(c);
    }
#endif
}

// Links planted at every name an earlier version used for its temporary,
// dangling or leading to a victim file outside the folder.  The victim
// stays as it was, no file appears where a dangling link points, and the
// destination is a regular file with the new bytes.
TEST(PlantedLinks, AtTheOldTemporaryNames)
{
    TEST_NEEDS_POSIX("symbolic links");
#if !defined(_WIN32)
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
#endif
}

// Names at the system's limits: a file name of 255 bytes, and a path of
// 4,095 bytes (the longest a system call takes) through 16 nested folders.
TEST(LongNames, LongestNameAndLongestPath)
{
    TEST_NEEDS_POSIX("openat and the POSIX limits on names and paths");
#if !defined(_WIN32)
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
#endif
}

// Write protection and folders this user may not write into, as an
// unprivileged user (root may write anything, as with a plain open): the
// run is refused before anything is written, and the file keeps its mode.
TEST(WriteProtection, RefusedBeforeAnythingIsWritten)
{
    TEST_NEEDS_POSIX("file modes and another user");
#if !defined(_WIN32)
    const Bytes source{1, 2};
    const Bytes converted{1, 6};
    const fs::perms rw = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                         fs::perms::others_read;
    const fs::perms r = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    const fs::perms rwx = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
    const fs::perms rx = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                         fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
    const auto modes = [&](fs::perms fileMode, fs::perms folderMode) {
        return [&source, fileMode, folderMode](const Scratch &s) {
            s.write("in.raw", source);
            fs::permissions(s / "out.mat", fileMode);
            fs::permissions(s.dir(), folderMode);
        };
    };
    const auto keepsMode = [](fs::perms fileMode) {
        return [fileMode](const Scratch &s) { EXPECT_EQ(fs::status(s / "out.mat").permissions(), fileMode); };
    };
    const std::string refused = writerFault("in.raw", "out.mat", source, converted, openingFault);
    const RunCase cases[] = {
        {"ReadOnlyFile", {"out.mat"}, modes(r, rwx), {"in.raw", "out.mat"}, refused, 8,
         {unchanged("out.mat")}, asUnprivilegedUser(), keepsMode(r)},
        {"ReadOnlyFolderWritableFile", {"out.mat"}, modes(rw, rx), {"in.raw", "out.mat"}, refused, 8,
         {unchanged("out.mat")}, asUnprivilegedUser(), keepsMode(rw)},
    };
    for (const RunCase &c : cases) {
        SCOPED_TRACE(c.name);
        e2e::checkRun(c);
    }
#endif
}

// Root may replace a write-protected file, as with a plain open; the file
// keeps its mode.
TEST(WriteProtection, RootMayReplaceAReadOnlyFile)
{
    TEST_NEEDS_POSIX("file modes and a root user");
#if !defined(_WIN32)
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
#endif
}

// An existing destination keeps its mode, and when root replaces another
// user's file, its owner and group; a new one gets what a plain create
// gives under the umask.
TEST(Modes, KeptOrAsAPlainCreate)
{
    TEST_NEEDS_POSIX("file modes, a umask and file owners");
#if !defined(_WIN32)
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
#endif
}

// ---------------------------------------------------------------------------
// Runs caught in the middle of their write.

#if !defined(_WIN32)

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

#endif

// SIGINT, SIGTERM and SIGHUP in the middle of a write: the temporary is gone,
// the old destination is intact, and the run ends by that signal.  A run
// that finishes before the signal lands is tried again.
TEST(Signals, InterruptedWriteLeavesNothing)
{
    TEST_NEEDS_POSIX("signals and /proc");
#if !defined(_WIN32)
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
#endif
}

// A signal that was ignored when the run started stays ignored: the run
// completes as if it had not come.
TEST(Signals, IgnoredSignalStaysIgnored)
{
    TEST_NEEDS_POSIX("signals and /proc");
#if !defined(_WIN32)
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
#endif
}

// SIGKILL cannot be caught.  Later runs still succeed, and where the file
// system makes nameless temporaries nothing at all is left.
TEST(Signals, KilledRunNeverBlocksALaterOne)
{
    TEST_NEEDS_POSIX("SIGKILL and /proc");
#if !defined(_WIN32)
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
#endif
}

// While a 0600 destination is replaced, its temporary is never readable by
// anyone else: every look at the run's open temporary finds mode 0600.
TEST(Modes, TemporaryNeverMoreOpenThanTheFile)
{
    TEST_NEEDS_POSIX("file modes and /proc");
#if !defined(_WIN32)
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
#endif
}

// Eight runs at once into one destination, round after round, from sources
// of different sizes and codes, with a reader looking at the destination
// all the while.  The destination is always exactly the old file or one
// run's complete output, every run succeeds and says so, and no temporary
// is left.
TEST(Concurrency, EightRunsIntoOneDestination)
{
    TEST_NEEDS_POSIX("runs started without waiting for them");
#if !defined(_WIN32)
    constexpr int runs = 8;
    constexpr int rounds = 20;
    Scratch s("race");
    s.write(fixtures::tableFile, fixtures::identityTable());
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
        std::vector<std::string> expected{fixtures::tableFile, "out.mat"};
        for (int k = 0; k < runs; ++k)
            expected.push_back("src" + std::to_string(k) + ".raw");
        EXPECT_EQ(s.listing(), sorted(expected));
        if (::testing::Test::HasFailure())
            break;
    }
#endif
}


} // namespace
