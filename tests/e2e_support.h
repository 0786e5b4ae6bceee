// Shared plumbing of the end-to-end tests: a scratch folder per case, files
// written into it, and a run of the built matconv there with its console text,
// exit status and the files it leaves behind.
#ifndef MATCONV_E2E_SUPPORT_H
#define MATCONV_E2E_SUPPORT_H

#include <filesystem>
#include <map>
#include <string>
#include <utility>
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

// How a run is started, beyond its arguments.  Everything but folder and env
// needs a POSIX host: a test that sets it starts with TEST_NEEDS_POSIX
// (host_only.h).
struct RunOptions {
    // The folder the run starts in, relative to the scratch folder, in
    // UTF-8; empty for the scratch folder itself.
    std::string folder;
    // Variables added to (or replacing in) the environment of the run.
    std::vector<std::pair<std::string, std::string>> env;
    // The largest file the run may write, in bytes (RLIMIT_FSIZE); -1 for none.
    long long fileSizeLimit = -1;
    // Run as the unprivileged user of unprivilegedUid() when the tests run
    // as root, so that file permissions bind; as the tests' own user else.
    bool unprivileged = false;
    // The run's umask, or -1 to keep the tests' own.
    int umask = -1;
    // Signals the run starts with ignored, as under nohup.
    std::vector<int> ignoredSignals;
};

// The user and group an unprivileged run takes when the tests run as root
// ("nobody" on Debian).
constexpr unsigned unprivilegedUid = 65534;
constexpr unsigned unprivilegedGid = 65534;
// 1 when the tests run as root, where permissions do not bind.
bool runningAsRoot();

// A fresh empty folder under the system's temporary folder, removed again
// by the destructor.
class Scratch {
public:
    explicit Scratch(const std::string &label);
    ~Scratch();
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;

    const std::filesystem::path &dir() const { return dir_; }
    // rel is UTF-8, as every name in this class is.
    std::filesystem::path operator/(const std::string &rel) const;

    void write(const std::string &rel, const Bytes &bytes) const;
    void write(const std::string &rel, const std::string &text) const;
    Bytes read(const std::string &rel) const;
    bool exists(const std::string &rel) const;
    // The names of the entries in the folder, in UTF-8, sorted.
    std::vector<std::string> listing() const;

    // Runs matconv with args (UTF-8 strings, which the program receives as
    // they are on POSIX hosts and as UTF-16 on Windows) in this folder,
    // standard input from the null device, and waits for it.
    RunResult run(const std::vector<std::string> &args, const RunOptions &options = {}) const;
    // Like run, with program started as given (its path becomes argv[0]).
    RunResult runProgram(const std::string &program, const std::vector<std::string> &args) const;

    // Hands the folder and everything in it to the unprivileged user, when
    // the tests run as root, so that an unprivileged run may write there.
    void giveToUnprivilegedUser() const;

#if !defined(_WIN32)
    // A run started without waiting for it, for signals and concurrent runs.
    struct Started {
        int pid;
        std::filesystem::path outFile;
        std::filesystem::path errFile;
    };
    // Starts matconv like run(); `slot` keeps the captured output of runs
    // going at the same time apart.
    Started start(const std::vector<std::string> &args, int slot, const RunOptions &options = {}) const;
    // Waits for a started run.  status is its exit status, or -1 when it
    // did not exit normally; termSignal is the signal that ended it, or 0.
    RunResult finish(const Started &started, int *termSignal = nullptr) const;
#endif

private:
    std::filesystem::path dir_;
    std::filesystem::path io_;  // beside dir_, holds the captured output
};

// Paths and the UTF-8 strings the tests keep them in, on every host.  On
// Windows a std::filesystem::path made from a narrow string, and its
// string(), go through the ANSI code page, which cannot hold most names;
// these convert as UTF-8.  On POSIX hosts they keep the bytes as they are.
std::filesystem::path pathOf(const std::string &utf8);
std::string utf8Of(const std::filesystem::path &p);

// The path of the matconv under test, in UTF-8.
std::string matconvPath();
// The name the program under test gives itself in its usage and version
// texts: its file name, "matconv" or on Windows "matconv.exe".
std::string programFileName();

Bytes readFile(const std::filesystem::path &p);
void writeFile(const std::filesystem::path &p, const Bytes &bytes);

} // namespace e2e

#endif
