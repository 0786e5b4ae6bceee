#include "e2e_support.h"

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
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
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
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

// UTF-8 as UTF-16, for the wide calls; the tests hold every string in UTF-8.
std::wstring widen(const std::string &s)
{
    if (s.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()),
                                      nullptr, 0);
    if (n <= 0)
        throw std::runtime_error("not UTF-8: " + s);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

std::string narrowUtf8(const wchar_t *w)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
    s.resize(static_cast<std::size_t>(n) - 1);
    return s;
}

// One argument as the C runtime's command-line parser reads it back: quoted
// when it holds blanks or quotes or is empty, with the backslashes before a
// quote doubled.  Bytes outside ASCII are copied as they are: the line is
// widened from UTF-8 as a whole.
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
        throw std::runtime_error("cannot open " + utf8Of(p));
    return h;
}

// The name of an environment entry "NAME=value" in capitals, as Windows
// compares names; an entry such as "=C:=C:\\" keeps its leading "=".
std::string upperName(const std::string &entry)
{
    std::string name = entry.substr(0, entry.find('=', 1));
    for (char &c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

// This process's environment with the variables of env added or replaced,
// as the block CreateProcessW takes with CREATE_UNICODE_ENVIRONMENT:
// "NAME=value" entries sorted by name, each ended by a NUL, and one more NUL
// at the end.
std::vector<wchar_t> environmentBlock(const std::vector<std::pair<std::string, std::string>> &env)
{
    std::vector<std::string> entries;
    wchar_t *own = GetEnvironmentStringsW();
    for (const wchar_t *p = own; p != nullptr && *p != L'\0'; p += std::wcslen(p) + 1) {
        const std::string entry = narrowUtf8(p);
        bool replaced = false;
        for (const auto &kv : env)
            replaced = replaced || upperName(entry) == upperName(kv.first + "=");
        if (!replaced)
            entries.push_back(entry);
    }
    if (own != nullptr)
        FreeEnvironmentStringsW(own);
    for (const auto &kv : env)
        entries.push_back(kv.first + "=" + kv.second);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const std::string &a, const std::string &b) { return upperName(a) < upperName(b); });
    std::vector<wchar_t> block;
    for (const std::string &e : entries) {
        const std::wstring w = widen(e);
        block.insert(block.end(), w.begin(), w.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

// Starts program directly (no shell) in dir with standard output and error
// going to files, and waits for it.  The program, the arguments and the
// folder are UTF-8; the command line goes to CreateProcessW in UTF-16, so
// that the program's wmain receives every name whole, whatever the code
// page.  The exit code, or -1 for a process that ended by an exception such
// as an access violation.
int spawn(const fs::path &dir, const std::string &program, const std::vector<std::string> &args,
          const fs::path &outFile, const fs::path &errFile, const RunOptions &options)
{
    if (options.fileSizeLimit >= 0 || options.unprivileged || options.umask >= 0 ||
        !options.ignoredSignals.empty()) {
        ADD_FAILURE() << "these run options need a POSIX host; start the test with TEST_NEEDS_POSIX";
        return -1;
    }
    std::vector<wchar_t> environment;
    if (!options.env.empty())
        environment = environmentBlock(options.env);
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
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    const std::wstring wideLine = widen(cmdline);
    std::vector<wchar_t> line(wideLine.begin(), wideLine.end());
    line.push_back(L'\0');
    // A relative program path counts from dir, as when typed in a console
    // there; the command line still carries it as given.
    const fs::path application = dir / pathOf(program);
    const BOOL started = CreateProcessW(application.wstring().c_str(), line.data(), nullptr, nullptr, TRUE,
                                        environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT,
                                        environment.empty() ? nullptr : environment.data(),
                                        dir.wstring().c_str(), &si, &pi);
    // Taken at once: the calls below may change it.
    const DWORD why = started ? 0 : GetLastError();
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) {
        // The system's reason and what was asked, so that a failed start can
        // be told apart from a fault of the program under test.
        throw std::runtime_error("cannot start " + cmdline + " (CreateProcessW failed with error " +
                                 std::to_string(why) + "; application " + utf8Of(application) +
                                 ", folder " + utf8Of(dir) + ")");
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

// Starts program in dir with standard input from /dev/null and standard
// output and error going to files.  No shell is involved: the arguments reach
// the program as given.  Everything the child needs is prepared before the
// fork, so that the child only makes system calls before it runs the program.
int startProcess(const fs::path &dir, const std::string &program, const std::vector<std::string> &args,
                 const fs::path &outFile, const fs::path &errFile, const RunOptions &options)
{
    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : argStore)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    std::vector<std::string> envStore;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto &kv : options.env)
            replaced = replaced || entry.compare(0, kv.first.size() + 1, kv.first + "=") == 0;
        if (!replaced)
            envStore.push_back(entry);
    }
    for (const auto &kv : options.env)
        envStore.push_back(kv.first + "=" + kv.second);
    std::vector<char *> envp;
    for (std::string &e : envStore)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);

    const std::string dirPath = dir.string();
    const std::string outPath = outFile.string();
    const std::string errPath = errFile.string();
    const bool drop = options.unprivileged && geteuid() == 0;

    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("cannot fork");
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(125);
        if (chdir(dirPath.c_str()) != 0)
            _exit(125);
        if (options.fileSizeLimit >= 0) {
            struct rlimit lim;
            lim.rlim_cur = lim.rlim_max = static_cast<rlim_t>(options.fileSizeLimit);
            if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
                _exit(125);
        }
        if (options.umask >= 0)
            umask(static_cast<mode_t>(options.umask));
        // Ignored signals stay ignored across the exec; caught ones do not.
        for (int sig : options.ignoredSignals)
            signal(sig, SIG_IGN);
        if (drop && (setgroups(0, nullptr) != 0 || setgid(unprivilegedGid) != 0 ||
                     setuid(unprivilegedUid) != 0))
            _exit(125);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return static_cast<int>(pid);
}

// Waits for a started process: its exit status, or -1 when a signal ended it.
int waitProcess(int pid, int *termSignal)
{
    int raw = 0;
    while (waitpid(static_cast<pid_t>(pid), &raw, 0) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("cannot wait for the run");
    }
    if (termSignal != nullptr)
        *termSignal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
    if (WIFEXITED(raw) && (WEXITSTATUS(raw) == 125 || WEXITSTATUS(raw) == 127))
        ADD_FAILURE() << "the harness could not set up or start the run (status " << WEXITSTATUS(raw) << ")";
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

int spawn(const fs::path &dir, const std::string &program, const std::vector<std::string> &args,
          const fs::path &outFile, const fs::path &errFile, const RunOptions &options)
{
    // A relative program path counts from dir (the child runs it from
    // there), as when typed in a shell there.
    return waitProcess(startProcess(dir, program, args, outFile, errFile, options), nullptr);
}

// Lines end in "\n" already.
std::string consoleText(const std::string &raw) { return raw; }

#endif

RunResult runIn(const fs::path &scratch, const fs::path &io, const std::string &program,
                const std::vector<std::string> &args, const RunOptions &options)
{
    const fs::path dir = options.folder.empty() ? scratch : scratch / pathOf(options.folder);
    const fs::path outFile = io / "stdout";
    const fs::path errFile = io / "stderr";
    // No text of an earlier run may pass for this one's.
    fs::remove(outFile);
    fs::remove(errFile);
    RunResult r;
    r.status = spawn(dir, program, args, outFile, errFile, options);
    r.rawOut = slurp(outFile);
    r.out = consoleText(r.rawOut);
    r.err = slurp(errFile);
    return r;
}

} // namespace

fs::path pathOf(const std::string &utf8) { return fs::u8path(utf8); }

std::string utf8Of(const fs::path &p) { return p.u8string(); }

std::string matconvPath()
{
    const char *env = std::getenv("MATCONV_EXE");
    const std::string path = env != nullptr && env[0] != '\0' ? env : MATCONV_EXE;
    // Started the way a Windows user would name it: with backslashes.
    return utf8Of(pathOf(path).make_preferred());
}

std::string programFileName() { return utf8Of(pathOf(matconvPath()).filename()); }

Bytes readFile(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + utf8Of(p));
    // In one block where the size is known: destinations reach 64 MiB.
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || !in) {
        in.clear();
        in.seekg(0, std::ios::beg);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    Bytes b(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char *>(b.data()), static_cast<std::streamsize>(b.size()));
    if (in.gcount() != static_cast<std::streamsize>(b.size()))
        throw std::runtime_error("cannot read " + utf8Of(p) + " to its end");
    return b;
}

void writeFile(const fs::path &p, const Bytes &bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + utf8Of(p));
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

fs::path Scratch::operator/(const std::string &rel) const { return dir_ / pathOf(rel); }

void Scratch::write(const std::string &rel, const Bytes &bytes) const { writeFile(*this / rel, bytes); }

void Scratch::write(const std::string &rel, const std::string &text) const
{
    writeFile(*this / rel, Bytes(text.begin(), text.end()));
}

Bytes Scratch::read(const std::string &rel) const { return readFile(*this / rel); }

bool Scratch::exists(const std::string &rel) const
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(*this / rel, ec));
}

std::vector<std::string> Scratch::listing() const
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir_))
        names.push_back(utf8Of(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

RunResult Scratch::run(const std::vector<std::string> &args, const RunOptions &options) const
{
    return runIn(dir_, io_, matconvPath(), args, options);
}

RunResult Scratch::runProgram(const std::string &program, const std::vector<std::string> &args) const
{
    return runIn(dir_, io_, program, args, RunOptions{});
}

bool runningAsRoot()
{
#if defined(_WIN32)
    return false;
#else
    return geteuid() == 0;
#endif
}

void Scratch::giveToUnprivilegedUser() const
{
#if !defined(_WIN32)
    if (!runningAsRoot())
        return;
    const auto give = [](const fs::path &p) {
        if (lchown(p.c_str(), unprivilegedUid, unprivilegedGid) != 0)
            throw std::runtime_error("cannot hand " + utf8Of(p) + " to the unprivileged user");
    };
    give(dir_);
    for (const auto &entry : fs::recursive_directory_iterator(dir_))
        give(entry.path());
#endif
}

#if !defined(_WIN32)
Scratch::Started Scratch::start(const std::vector<std::string> &args, int slot,
                                const RunOptions &options) const
{
    Started st;
    st.outFile = io_ / ("stdout." + std::to_string(slot));
    st.errFile = io_ / ("stderr." + std::to_string(slot));
    st.pid = startProcess(dir_, matconvPath(), args, st.outFile, st.errFile, options);
    return st;
}

RunResult Scratch::finish(const Started &started, int *termSignal) const
{
    RunResult r;
    r.status = waitProcess(started.pid, termSignal);
    r.rawOut = slurp(started.outFile);
    r.out = r.rawOut;
    r.err = slurp(started.errFile);
    return r;
}
#endif

} // namespace e2e
