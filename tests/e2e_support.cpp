#include "e2e_support.h"

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace e2e {

namespace {

std::string slurp(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#if defined(_WIN32)

// One argument as the C runtime's command-line parser reads it back: quoted
// when it holds blanks or quotes or is empty, with the backslashes before a
// quote doubled.
std::string quoteArg(const std::string &s)
{
    if (!s.empty() && s.find_first_of(" \t\"") == std::string::npos)
        return s;
    std::string q = "\"";
    std::size_t backslashes = 0;
    for (char c : s) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        q += c;
    }
    q.append(2 * backslashes, '\\');
    return q + "\"";
}

HANDLE inheritableFile(const fs::path &p, DWORD access, DWORD creation)
{
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    HANDLE h = CreateFileW(p.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                           creation, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + p.string());
    return h;
}

// Starts program directly (no shell) in dir with standard output and error
// going to files, and waits for it.  The exit code, or -1 for a process that
// ended by an exception such as an access violation.
int spawn(const fs::path &dir, const std::string &program, const std::vector<std::string> &args,
          const fs::path &outFile, const fs::path &errFile, const std::string &shellPrefix)
{
    if (!shellPrefix.empty()) {
        ADD_FAILURE() << "a shell prefix (" << shellPrefix
                      << ") needs a POSIX shell; guard the test with E2E_POSIX_ONLY";
        return -1;
    }
    // The program path is the first word as given, so it reaches the program
    // unchanged as argv[0]; it is quoted only when it holds a blank.
    std::string cmdline = program.find_first_of(" \t") == std::string::npos
                              ? program
                              : "\"" + program + "\"";
    for (const std::string &a : args)
        cmdline += " " + quoteArg(a);

    HANDLE in = inheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = inheritableFile(outFile, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = inheritableFile(errFile, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    std::vector<char> line(cmdline.begin(), cmdline.end());
    line.push_back('\0');
    const std::string cwd = dir.string();
    // A relative program path counts from dir, as when typed in a console
    // there; the command line still carries it as given.
    const std::string application = (dir / program).string();
    const BOOL started = CreateProcessA(application.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, cwd.c_str(), &si, &pi);
    // Taken at once: the calls below may change it.
    const DWORD why = started ? 0 : GetLastError();
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) {
        // The system's reason and what was asked, so that a failed start can
        // be told apart from a fault of the program under test.
        throw std::runtime_error("cannot start " + cmdline + " (CreateProcessA failed with error " +
                                 std::to_string(why) + "; application " + application +
                                 ", folder " + cwd + ")");
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // Exception codes (0xC0000005 and the like) mean the program crashed.
    return code >= 0xC0000000u ? -1 : static_cast<int>(code);
}

// The console text with its CR LF line endings turned into "\n", after
// checking that every line ends in CR LF; a bare LF fails the test and the
// text is given back unchanged, so the comparison shows it.
std::string consoleText(const std::string &raw)
{
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r')) {
            ADD_FAILURE() << "console line without CR before its LF at byte " << i;
            return raw;
        }
    }
    std::string text;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n'))
            text += raw[i];
    }
    return text;
}

#else

std::string quote(const std::string &s)
{
    // POSIX shell single quotes; a quote inside is closed, escaped and reopened.
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

int spawn(const fs::path &dir, const std::string &program, const std::vector<std::string> &args,
          const fs::path &outFile, const fs::path &errFile, const std::string &shellPrefix)
{
    std::ostringstream cmd;
    cmd << "cd " << quote(dir.string()) << " && " << shellPrefix << " " << quote(program);
    for (const std::string &a : args)
        cmd << ' ' << quote(a);
    cmd << " >" << quote(outFile.string()) << " 2>" << quote(errFile.string()) << " </dev/null";
    const int raw = std::system(cmd.str().c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Lines end in "\n" already.
std::string consoleText(const std::string &raw) { return raw; }

#endif

RunResult runIn(const fs::path &dir, const fs::path &io, const std::string &program,
                const std::vector<std::string> &args, const std::string &shellPrefix)
{
    const fs::path outFile = io / "stdout";
    const fs::path errFile = io / "stderr";
    // No text of an earlier run may pass for this one's.
    fs::remove(outFile);
    fs::remove(errFile);
    RunResult r;
    r.status = spawn(dir, program, args, outFile, errFile, shellPrefix);
    r.rawOut = slurp(outFile);
    r.out = consoleText(r.rawOut);
    r.err = slurp(errFile);
    return r;
}

} // namespace

std::string matconvPath()
{
    const char *env = std::getenv("MATCONV_EXE");
    const std::string path = env != nullptr && env[0] != '\0' ? env : MATCONV_EXE;
    // Started the way a Windows user would name it: with backslashes.
    return fs::path(path).make_preferred().string();
}

std::string programFileName() { return fs::path(matconvPath()).filename().string(); }

Bytes readFile(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + p.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path &p, const Bytes &bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + p.string());
}

void put16(Bytes &b, std::uint32_t v)
{
    b.push_back(static_cast<unsigned char>(v & 0xFF));
    b.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

void put32(Bytes &b, std::uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

Scratch::Scratch(const std::string &label)
{
    static std::atomic<unsigned> counter{0};
#if defined(_WIN32)
    const unsigned long pid = static_cast<unsigned long>(GetCurrentProcessId());
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    const fs::path base = fs::temp_directory_path() /
                          ("matconv-e2e-" + std::to_string(pid) + "-" + std::to_string(counter++));
    std::string clean = label;
    for (char &c : clean) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    fs::remove_all(base);
    dir_ = base / ("work-" + clean);
    io_ = base / "io";
    fs::create_directories(dir_);
    fs::create_directories(io_);
}

Scratch::~Scratch()
{
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_.parent_path(), ec);
}

void Scratch::write(const std::string &rel, const Bytes &bytes) const { writeFile(dir_ / rel, bytes); }

void Scratch::write(const std::string &rel, const std::string &text) const
{
    writeFile(dir_ / rel, Bytes(text.begin(), text.end()));
}

Bytes Scratch::read(const std::string &rel) const { return readFile(dir_ / rel); }

bool Scratch::exists(const std::string &rel) const
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(dir_ / rel, ec));
}

std::vector<std::string> Scratch::listing() const
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

RunResult Scratch::run(const std::vector<std::string> &args, const std::string &shellPrefix) const
{
    return runIn(dir_, io_, matconvPath(), args, shellPrefix);
}

RunResult Scratch::runProgram(const std::string &program, const std::vector<std::string> &args) const
{
    return runIn(dir_, io_, program, args, "");
}

} // namespace e2e
