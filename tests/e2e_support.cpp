#include "e2e_support.h"

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace e2e {

namespace {

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

std::string slurp(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

std::string matconvPath()
{
    const char *env = std::getenv("MATCONV_EXE");
    return env != nullptr && env[0] != '\0' ? env : MATCONV_EXE;
}

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
    const unsigned long pid = 0;
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
    const fs::path outFile = io_ / "stdout";
    const fs::path errFile = io_ / "stderr";
    std::ostringstream cmd;
    cmd << "cd " << quote(dir_.string()) << " && " << shellPrefix << " " << quote(matconvPath());
    for (const std::string &a : args)
        cmd << ' ' << quote(a);
    cmd << " >" << quote(outFile.string()) << " 2>" << quote(errFile.string()) << " </dev/null";

    const int raw = std::system(cmd.str().c_str());
    RunResult r;
#if defined(_WIN32)
    r.status = raw;
#else
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    r.out = slurp(outFile);
    r.err = slurp(errFile);
    return r;
}

} // namespace e2e
