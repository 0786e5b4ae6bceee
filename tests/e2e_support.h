// Shared plumbing of the end-to-end tests: a scratch folder per case, files
// written into it, and a run of the built matconv there with its console text,
// exit status and the files it leaves behind.
#ifndef MATCONV_E2E_SUPPORT_H
#define MATCONV_E2E_SUPPORT_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace e2e {

using Bytes = std::vector<unsigned char>;

struct RunResult {
    int status;       // exit status, or -1 when the process did not exit normally
    std::string out;  // everything printed on standard output, lines ending in "\n"
    std::string err;  // everything printed on standard error (must stay empty)
    // Standard output byte for byte.  On Windows the console text ends its
    // lines in CR LF; run() checks that every line does before it gives the
    // text in out with plain "\n" endings.  Elsewhere rawOut equals out.
    std::string rawOut;
};

// The console's line ending for the host the tests run on.
#if defined(_WIN32)
inline constexpr const char *consoleNewline = "\r\n";
#else
inline constexpr const char *consoleNewline = "\n";
#endif

// Put first in a test that needs a POSIX host (a shell prefix such as ulimit,
// a fifo, /dev/full, file modes): on Windows the test is skipped, saying why.
#if defined(_WIN32)
#define E2E_POSIX_ONLY(why) GTEST_SKIP() << "needs a POSIX host: " << (why)
#else
#define E2E_POSIX_ONLY(why) static_cast<void>(why)
#endif

// A fresh empty folder under the system's temporary folder, removed again
// by the destructor.
class Scratch {
public:
    explicit Scratch(const std::string &label);
    ~Scratch();
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;

    const std::filesystem::path &dir() const { return dir_; }
    std::filesystem::path operator/(const std::string &rel) const { return dir_ / rel; }

    void write(const std::string &rel, const Bytes &bytes) const;
    void write(const std::string &rel, const std::string &text) const;
    Bytes read(const std::string &rel) const;
    bool exists(const std::string &rel) const;
    // The names of the entries in the folder, sorted.
    std::vector<std::string> listing() const;

    // Runs matconv with args in this folder.  shellPrefix is put before the
    // program in a POSIX shell command line (for example "ulimit -f 8;"); on
    // Windows a test that passes one fails, so guard it with E2E_POSIX_ONLY.
    RunResult run(const std::vector<std::string> &args, const std::string &shellPrefix = "") const;
    // Like run, with program started as given (its path becomes argv[0]).
    RunResult runProgram(const std::string &program, const std::vector<std::string> &args) const;

private:
    std::filesystem::path dir_;
    std::filesystem::path io_;  // beside dir_, holds the captured output
};

// The path of the matconv under test.
std::string matconvPath();
// The name the program under test gives itself in its usage and version
// texts: its file name, "matconv" or on Windows "matconv.exe".
std::string programFileName();

Bytes readFile(const std::filesystem::path &p);
void writeFile(const std::filesystem::path &p, const Bytes &bytes);

// Little-endian appenders for building binary fixtures.
void put16(Bytes &b, std::uint32_t v);
void put32(Bytes &b, std::uint32_t v);

} // namespace e2e

#endif
