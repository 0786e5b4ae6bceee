// The destination writer in-process, on both kinds of temporary: the
// nameless one most Linux file systems make, and the named one every other
// host and file system gets.  The end-to-end tests see only the kind the
// tests' own folder allows, so the named kind is forced here.
#include "common/platform.h"
#include "common/runstate.h"
#include "mainConv/writer.h"

#include "fixtures.h"
#include "host_only.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes readAll(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const fs::path &p, const Bytes &b)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::vector<std::string> names(const fs::path &dir)
{
    std::vector<std::string> n;
    for (const auto &e : fs::directory_iterator(dir))
        n.push_back(e.path().filename().u8string());
    std::sort(n.begin(), n.end());
    return n;
}

class WriterTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        std::string label = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char &c : label)
            c = c == '/' ? '_' : c;
#if defined(_WIN32)
        const std::string pid = "w";
#else
        const std::string pid = std::to_string(getpid());
#endif
        dir_ = fs::temp_directory_path() / ("matconv-writer-" + pid + "-" + label);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        namelessTemporaries = GetParam();
        isBmp = 0;
    }
    void TearDown() override
    {
        namelessTemporaries = 1;
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    // In UTF-8, as the program keeps its paths (on Windows too, where
    // string() would give the ANSI code page's bytes).
    std::string path(const std::string &rel) const { return (dir_ / fs::u8path(rel)).u8string(); }

    fs::path dir_;
};

std::string kindName(const ::testing::TestParamInfo<int> &i) { return i.param ? "Nameless" : "Named"; }

TEST_P(WriterTest, ReplacesTheOldFileAndLeavesNoTemporary)
{
    writeAll(dir_ / "out.mat", Bytes(5000, 0xEE));
    for (int i = 0; i < 1000; ++i)
        outdata[i] = static_cast<unsigned char>(i * 7);
    outputbufSize = 1000;
    testing::internal::CaptureStdout();
    outputfile(path("out.mat").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "1000 bytes written\n");
    const Bytes got = readAll(dir_ / "out.mat");
    ASSERT_EQ(got.size(), 1000u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), outdata));
    EXPECT_EQ(names(dir_), std::vector<std::string>{"out.mat"});
}

TEST_P(WriterTest, PiecesMakeOneFile)
{
    const Bytes a{1, 2, 3};
    const Bytes b{4};
    const Bytes c(70000, 9);
    beginOutput(path("new.mat").c_str());
    appendOutput(a.data(), a.size());
    appendOutput(b.data(), 0);
    appendOutput(b.data(), b.size());
    appendOutput(c.data(), c.size());
    endOutput();
    Bytes want = a;
    want.insert(want.end(), b.begin(), b.end());
    want.insert(want.end(), c.begin(), c.end());
    EXPECT_EQ(readAll(dir_ / "new.mat"), want);
    EXPECT_EQ(names(dir_), std::vector<std::string>{"new.mat"});
}

TEST_P(WriterTest, KeepsTheModeOfTheFileItReplaces)
{
    TEST_NEEDS_POSIX("file modes");
#if !defined(_WIN32)
    writeAll(dir_ / "out.mat", Bytes{1});
    ASSERT_EQ(chmod(path("out.mat").c_str(), 0640), 0);
    outdata[0] = 5;
    outputbufSize = 1;
    testing::internal::CaptureStdout();
    outputfile(path("out.mat").c_str());
    testing::internal::GetCapturedStdout();
    struct stat st;
    ASSERT_EQ(stat(path("out.mat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readAll(dir_ / "out.mat"), Bytes{5});
#endif
}

// A run that is interrupted in its write: in a child of this process, a
// 64 MiB write is caught while its temporary is open, by SIGTERM.  The
// temporary is gone, the old file is intact, and the child ended by the
// signal.  A child that finished first is tried again.
TEST_P(WriterTest, InterruptedWriteRemovesTheTemporary)
{
    TEST_NEEDS_POSIX("fork, signals and /proc");
#if !defined(_WIN32)
    const Bytes &old = fixtures::oldDestination;
    bool caught = false;
    for (int attempt = 0; attempt < 10 && !caught; ++attempt) {
        writeAll(dir_ / "out.mat", old);
        const std::string dest = path("out.mat");
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            outputbufSize = bufferSize;
            outputfile(dest.c_str());
            _exit(0);
        }
        // The named temporary shows in the folder; the nameless one among
        // the child's open files.
        const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
        bool inWrite = false;
        bool reaped = false;
        for (int polls = 0; polls < 2000000 && !inWrite; ++polls) {
            for (const std::string &n : names(dir_))
                inWrite = inWrite || n.rfind(MATCONV_TEMPORARY_PREFIX, 0) == 0;
            std::error_code ec;
            for (const auto &e : fs::directory_iterator(fdDir, ec)) {
                const fs::path t = fs::read_symlink(e.path(), ec);
                inWrite = inWrite || (!ec && t.string().find(" (deleted)") != std::string::npos &&
                                      t.string().rfind(fs::canonical(dir_).string(), 0) == 0);
            }
            int raw = 0;
            if (!inWrite && waitpid(pid, &raw, WNOHANG) == pid) {
                reaped = true;
                break;
            }
            if (inWrite) {
                kill(pid, SIGTERM);
                ASSERT_EQ(waitpid(pid, &raw, 0), pid);
                reaped = true;
                caught = WIFSIGNALED(raw) && WTERMSIG(raw) == SIGTERM;
                if (caught) {
                    EXPECT_EQ(readAll(dir_ / "out.mat"), old);
                }
            }
        }
        if (!reaped) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        EXPECT_EQ(names(dir_), std::vector<std::string>{"out.mat"});
    }
    EXPECT_TRUE(caught) << "no write was caught in 10 tries";
#endif
}

INSTANTIATE_TEST_SUITE_P(Kinds, WriterTest, ::testing::Values(0, 1), kindName);

} // namespace
