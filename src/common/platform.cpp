#if defined(_WIN32)
// rand_s is declared only when this comes before the first C library header.
#define _CRT_RAND_S
#endif

#include "common/platform.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__has_include)
#if __has_include(<sys/random.h>)
#include <sys/random.h>
#define MATCONV_HAVE_GETRANDOM 1
#endif
#endif
#endif

int namelessTemporaries = 1;

namespace {

// A temporary name that is taken already is drawn again; this many tries
// cannot all collide by chance with 64 random bits each.
constexpr int temporaryNameAttempts = 64;

// Links followed to the file they finally name, as the host's own limit.
constexpr int maxLinkHops = 40;

// ".matconv-" + 16 hexadecimal digits + ".tmp" and the terminating NUL.
constexpr std::size_t temporaryNameBytes = sizeof(MATCONV_TEMPORARY_PREFIX) - 1 + 16 +
                                           sizeof(MATCONV_TEMPORARY_SUFFIX) - 1 + 1;

// Eight bytes for a temporary's name, from the system's random source where
// there is one.  Exclusive creation keeps the file ours whatever they are;
// the randomness only keeps other programs from guessing the name.
std::uint64_t randomBits()
{
    std::uint64_t bits = 0;
#if defined(_WIN32)
    unsigned int lo = 0;
    unsigned int hi = 0;
    if (rand_s(&lo) == 0 && rand_s(&hi) == 0)
        return (static_cast<std::uint64_t>(hi) << 32) | lo;
    bits = static_cast<std::uint64_t>(GetCurrentProcessId()) << 32;
#else
#if defined(MATCONV_HAVE_GETRANDOM)
    if (getrandom(&bits, sizeof bits, 0) == static_cast<ssize_t>(sizeof bits))
        return bits;
#endif
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const ssize_t got = read(fd, &bits, sizeof bits);
        close(fd);
        if (got == static_cast<ssize_t>(sizeof bits))
            return bits;
    }
    bits = static_cast<std::uint64_t>(getpid()) << 32;
#endif
    // No random source: still distinct per process, call and moment.
    static std::uint64_t counter = 0;
    ++counter;
    return bits ^ (static_cast<std::uint64_t>(std::time(nullptr)) * 0x9E3779B97F4A7C15u) ^
           (counter << 16) ^ static_cast<std::uint64_t>(std::clock());
}

// Writes a fresh temporary name, NUL-terminated, into out.
void makeTemporaryName(char *out)
{
    static const char digits[] = "0123456789abcdef";
    const std::uint64_t bits = randomBits();
    std::size_t n = 0;
    for (const char *p = MATCONV_TEMPORARY_PREFIX; *p != '\0'; ++p)
        out[n++] = *p;
    for (int shift = 60; shift >= 0; shift -= 4)
        out[n++] = digits[(bits >> shift) & 0xF];
    for (const char *p = MATCONV_TEMPORARY_SUFFIX; *p != '\0'; ++p)
        out[n++] = *p;
    out[n] = '\0';
}

} // namespace

#if defined(_WIN32)

// ===========================================================================
// Windows

namespace {

// The longest path Windows accepts, in UTF-16 units, with its NUL.
constexpr int widePathUnits = 32768;

// The run state keeps paths in UTF-8 (see utf8Arguments).
constexpr UINT pathCodePage = CP_UTF8;

wchar_t targetPath[widePathUnits];
wchar_t temporaryPath[widePathUnits];
HANDLE outHandle = INVALID_HANDLE_VALUE;
bool replacing = false;
// 1 while temporaryPath names a file of ours; the console handler reads it
// from its own thread.
volatile LONG temporaryNamed = 0;

int widenPath(const char *path, wchar_t *out, int units)
{
    if (path[0] == '\0')
        return 0;
    return MultiByteToWideChar(pathCodePage, MB_ERR_INVALID_CHARS, path, -1, out, units) > 0 ? 1 : 0;
}

// Opens whatever path names, following links, to look at it only.
HANDLE openForLooking(const wchar_t *path)
{
    return CreateFileW(path, FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool notFound(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Ctrl+C, Ctrl+Break and closing the console end the process; the temporary
// goes first.  It was opened with delete sharing, so it can be removed while
// the writer still holds it.
BOOL WINAPI removeTemporaryOnInterrupt(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        if (InterlockedCompareExchange(&temporaryNamed, 0, 1) == 1)
            DeleteFileW(temporaryPath);
    }
    return FALSE;  // the default handling then ends the process as it always would
}

void closeOutput()
{
    if (outHandle != INVALID_HANDLE_VALUE)
        CloseHandle(outHandle);
    outHandle = INVALID_HANDLE_VALUE;
}

} // namespace

char **utf8Arguments(int argc, wchar_t **argv)
{
    char **out = static_cast<char **>(std::calloc(static_cast<std::size_t>(argc) + 1, sizeof(char *)));
    if (out == nullptr)
        return nullptr;
    for (int i = 0; i < argc; ++i) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        out[i] = static_cast<char *>(std::calloc(bytes > 0 ? static_cast<std::size_t>(bytes) : 1, 1));
        if (out[i] == nullptr)
            return nullptr;
        if (bytes > 0)
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, out[i], bytes, nullptr, nullptr);
    }
    return out;
}

namespace {

// Writes UTF-8 text to the console as UTF-16, with Windows line endings, as
// the C runtime's text mode would give them; 0 when standard output is no
// console.
int writeToConsole(const char *text)
{
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || out == nullptr || !GetConsoleMode(out, &mode))
        return 0;
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (units <= 0)
        return 0;
    wchar_t *plain = static_cast<wchar_t *>(std::calloc(static_cast<std::size_t>(units), sizeof(wchar_t)));
    wchar_t *wide = static_cast<wchar_t *>(std::calloc(static_cast<std::size_t>(units) * 2, sizeof(wchar_t)));
    if (plain == nullptr || wide == nullptr) {
        std::free(plain);
        std::free(wide);
        return 0;
    }
    MultiByteToWideChar(CP_UTF8, 0, text, -1, plain, units);
    DWORD n = 0;
    for (const wchar_t *p = plain; *p != L'\0'; ++p) {
        if (*p == L'\n')
            wide[n++] = L'\r';
        wide[n++] = *p;
    }
    std::free(plain);
    // What went out through the C runtime goes first.
    std::fflush(stdout);
    DWORD written = 0;
    const BOOL ok = WriteConsoleW(out, wide, n, &written, nullptr);
    std::free(wide);
    return ok ? 1 : 0;
}

} // namespace

void printWithName(const char *fmt, const char *name)
{
    const int bytes = std::snprintf(nullptr, 0, fmt, name);
    char *text = bytes >= 0 ? static_cast<char *>(std::malloc(static_cast<std::size_t>(bytes) + 1)) : nullptr;
    if (text == nullptr) {
        std::printf(fmt, name);
        return;
    }
    std::snprintf(text, static_cast<std::size_t>(bytes) + 1, fmt, name);
    if (!writeToConsole(text))
        std::fputs(text, stdout);
    std::free(text);
}

int seek64(std::FILE *fp, long long offset, int whence) { return _fseeki64(fp, offset, whence); }

long long tell64(std::FILE *fp) { return _ftelli64(fp); }

std::FILE *openRegularForReading(const char *path)
{
    static wchar_t wide[widePathUnits];
    if (!widenPath(path, wide, widePathUnits))
        return nullptr;
    std::FILE *fp = _wfopen(wide, L"rb");
    if (fp == nullptr)
        return nullptr;
    // Devices such as NUL or CON open like files; only a disk file counts.
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fp)));
    if (GetFileType(h) != FILE_TYPE_DISK) {
        std::fclose(fp);
        return nullptr;
    }
    return fp;
}

int pathExists(const char *path)
{
    static wchar_t wide[widePathUnits];
    if (!widenPath(path, wide, widePathUnits))
        return 0;
    const HANDLE h = openForLooking(wide);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return 1;
    }
    return notFound(GetLastError()) ? 0 : 1;
}

namespace {

// What a path names, for telling whether two paths name one file: a file
// that is there, by its volume and index, or else the folder and the name a
// new file would be created under.
struct PathIdentity {
    bool exists;
    DWORD volume;
    ULONGLONG index;  // the file's, or its folder's where it does not exist
    wchar_t name[widePathUnits];
};

bool identityOf(HANDLE h, PathIdentity *id)
{
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL got = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!got)
        return false;
    id->volume = info.dwVolumeSerialNumber;
    id->index = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool identifyPath(const char *path, PathIdentity *id)
{
    static wchar_t wide[widePathUnits];
    if (!widenPath(path, wide, widePathUnits))
        return false;
    const HANDLE h = openForLooking(wide);
    if (h != INVALID_HANDLE_VALUE) {
        id->exists = true;
        return identityOf(h, id);
    }
    if (!notFound(GetLastError()))
        return false;
    // Nothing there: the folder, everything up to the last separator (a
    // drive's current folder for "C:name"), and the name in it.
    std::size_t cut = 0;
    for (std::size_t i = 0; wide[i] != L'\0'; ++i) {
        if (wide[i] == L'\\' || wide[i] == L'/' || (i == 1 && wide[i] == L':'))
            cut = i + 1;
    }
    const wchar_t *base = wide + cut;
    if (base[0] == L'\0' || std::wcscmp(base, L".") == 0 || std::wcscmp(base, L"..") == 0)
        return false;
    std::wcscpy(id->name, base);
    static wchar_t folder[widePathUnits];
    if (cut == 0) {
        std::wcscpy(folder, L".");
    } else {
        std::memcpy(folder, wide, cut * sizeof(wchar_t));
        folder[cut] = L'\0';
        if (folder[cut - 1] == L':') {
            folder[cut] = L'.';
            folder[cut + 1] = L'\0';
        }
    }
    const HANDLE f = openForLooking(folder);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    id->exists = false;
    return identityOf(f, id);
}

} // namespace

int sameFile(const char *a, const char *b)
{
    static PathIdentity ia;
    static PathIdentity ib;
    if (!identifyPath(a, &ia) || !identifyPath(b, &ib))
        return 0;
    if (ia.exists != ib.exists || ia.volume != ib.volume || ia.index != ib.index)
        return 0;
    // Windows file systems match names without regard to case.
    return ia.exists || CompareStringOrdinal(ia.name, -1, ib.name, -1, TRUE) == CSTR_EQUAL ? 1 : 0;
}

TargetKind openTarget(const char *path)
{
    discardTemporary();
    replacing = false;
    if (!widenPath(path, targetPath, widePathUnits))
        return targetRefused;

    const HANDLE h = openForLooking(targetPath);
    if (h == INVALID_HANDLE_VALUE) {
        if (!notFound(GetLastError()))
            return targetRefused;
        // A link whose file is missing: nothing is written through it.
        return GetFileAttributesW(targetPath) == INVALID_FILE_ATTRIBUTES ? targetMissing : targetRefused;
    }
    TargetKind kind = targetRegular;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        kind = targetOther;
    } else if (!GetFileInformationByHandle(h, &info)) {
        kind = targetRefused;
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        kind = targetOther;
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        // Write-protected, as a plain open for writing would find it.
        kind = targetRefused;
    } else {
        const DWORD attributes = GetFileAttributesW(targetPath);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            // A link: the file it finally names is replaced, the link stays.
            static wchar_t finalPath[widePathUnits];
            const DWORD n = GetFinalPathNameByHandleW(h, finalPath, widePathUnits, FILE_NAME_NORMALIZED);
            if (n == 0 || n >= static_cast<DWORD>(widePathUnits))
                kind = targetRefused;
            else
                std::memcpy(targetPath, finalPath, (n + 1) * sizeof(wchar_t));
        }
    }
    CloseHandle(h);
    replacing = kind == targetRegular;
    return kind;
}

int openTemporary()
{
    static bool handlerInstalled = false;
    if (!handlerInstalled)
        handlerInstalled = SetConsoleCtrlHandler(removeTemporaryOnInterrupt, TRUE) != 0;

    // The temporary goes in the target's folder: everything up to its last
    // separator, or a drive's current folder for "C:name".
    std::size_t folder = 0;
    for (std::size_t i = 0; targetPath[i] != L'\0'; ++i) {
        if (targetPath[i] == L'\\' || targetPath[i] == L'/' || (i == 1 && targetPath[i] == L':'))
            folder = i + 1;
    }
    if (folder + temporaryNameBytes > static_cast<std::size_t>(widePathUnits))
        return 0;
    for (int attempt = 0; attempt < temporaryNameAttempts; ++attempt) {
        char name[temporaryNameBytes];
        makeTemporaryName(name);
        std::memcpy(temporaryPath, targetPath, folder * sizeof(wchar_t));
        for (std::size_t i = 0; i < temporaryNameBytes; ++i)
            temporaryPath[folder + i] = static_cast<wchar_t>(name[i]);
        // CREATE_NEW fails on any existing name, a link's included.
        outHandle = CreateFileW(temporaryPath, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (outHandle != INVALID_HANDLE_VALUE) {
            InterlockedExchange(&temporaryNamed, 1);
            return 1;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return 0;
    }
    return 0;
}

int openInPlace()
{
    outHandle = CreateFileW(targetPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return outHandle != INVALID_HANDLE_VALUE ? 1 : 0;
}

int writeOutput(const unsigned char *data, std::size_t size)
{
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(outHandle, data, chunk, &written, nullptr) || written == 0)
            return 0;
        data += written;
        size -= written;
    }
    return 1;
}

int finishTemporary()
{
    const BOOL flushed = FlushFileBuffers(outHandle);
    const BOOL closed = CloseHandle(outHandle);
    outHandle = INVALID_HANDLE_VALUE;
    if (!flushed || !closed) {
        discardTemporary();
        return 0;
    }
    return 1;
}

int replaceTarget()
{
    if (!MoveFileExW(temporaryPath, targetPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        discardTemporary();
        return 0;
    }
    InterlockedExchange(&temporaryNamed, 0);
    return 1;
}

int closeInPlace()
{
    const BOOL closed = CloseHandle(outHandle);
    outHandle = INVALID_HANDLE_VALUE;
    return closed ? 1 : 0;
}

void discardTemporary()
{
    closeOutput();
    if (InterlockedCompareExchange(&temporaryNamed, 0, 1) == 1)
        DeleteFileW(temporaryPath);
}

#else

// ===========================================================================
// POSIX

namespace {

// Longest path and link text handled, with its NUL.
#if defined(PATH_MAX)
constexpr std::size_t pathBytes = PATH_MAX;
#else
constexpr std::size_t pathBytes = 4096;
#endif

// The target: its folder, open, and its name in that folder.
int targetFolder = -1;
bool syncFolder = false;
char targetName[pathBytes];
struct stat targetStat;
bool replacing = false;

int outFd = -1;
bool nameless = false;
char temporaryName[temporaryNameBytes];

// What the interruption handler removes: the name in the folder, while the
// file there is ours.  Both are set with the interruptions blocked.
volatile std::sig_atomic_t temporaryNamed = 0;
volatile std::sig_atomic_t signalFolder = -1;

const int cleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Removes the temporary, then ends the process as the signal would have.
void removeTemporaryAndDie(int sig)
{
    if (temporaryNamed)
        unlinkat(static_cast<int>(signalFolder), temporaryName, 0);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void interruptionMask(sigset_t *set)
{
    sigemptyset(set);
    for (int sig : cleanedSignals)
        sigaddset(set, sig);
}

// A signal that was ignored when the program started (nohup, a background
// job) stays ignored.
void installInterruptionCleanup()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    for (int sig : cleanedSignals) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = removeTemporaryAndDie;
        interruptionMask(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
}

// Holds off the interruptions while the temporary's name changes hands.
void blockInterruptions(sigset_t *saved)
{
    sigset_t set;
    interruptionMask(&set);
    sigprocmask(SIG_BLOCK, &set, saved);
}

void restoreInterruptions(const sigset_t *saved) { sigprocmask(SIG_SETMASK, saved, nullptr); }

void closeTargetFolder()
{
    if (targetFolder >= 0)
        close(targetFolder);
    targetFolder = -1;
    signalFolder = -1;
}

// Opens the folder `len` bytes of `path` name, relative to `at`; an empty
// folder part means the folder `at` stands for.  Replaces the folder held.
bool openFolder(int at, const char *path, std::size_t len)
{
    char folder[pathBytes];
    if (len == 0) {
        folder[0] = '.';
        folder[1] = '\0';
    } else {
        if (len >= sizeof folder)
            return false;
        std::memcpy(folder, path, len);
        folder[len] = '\0';
    }
    int fd = openat(at, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool canSync = fd >= 0;
#if defined(O_PATH)
    // A folder this user may write into but not list: still usable, though
    // it cannot be flushed.
    if (fd < 0 && errno == EACCES)
        fd = openat(at, folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
    if (fd < 0)
        return false;
    closeTargetFolder();
    targetFolder = fd;
    syncFolder = canSync;
    return true;
}

// Splits path at its last "/" into the folder, which it opens relative to
// `at`, and the name, which it keeps.  A name that is empty, "." or ".."
// stands for a folder, which is never a file to write.
bool takeFolderAndName(int at, const char *path)
{
    const char *slash = std::strrchr(path, '/');
    const char *base = slash != nullptr ? slash + 1 : path;
    const std::size_t folderLen = slash == nullptr ? 0 : (slash == path ? 1 : static_cast<std::size_t>(slash - path));
    const std::size_t baseLen = std::strlen(base);
    if (baseLen == 0 || baseLen >= sizeof targetName || std::strcmp(base, ".") == 0 ||
        std::strcmp(base, "..") == 0)
        return false;
    if (!openFolder(at, path, folderLen))
        return false;
    std::memcpy(targetName, base, baseLen + 1);
    return true;
}

#if defined(O_TMPFILE)
// A nameless file can be given a name by its descriptor, directly where the
// process may (AT_EMPTY_PATH needs a privilege on older kernels), or through
// /proc.  Without either it is no use.
void procPath(char *out, std::size_t size, int fd)
{
    std::snprintf(out, size, "/proc/self/fd/%d", fd);
}

bool canNameNameless(int fd)
{
    char proc[64];
    char seen[16];
    procPath(proc, sizeof proc, fd);
    // Root names it by descriptor alone; only others need /proc.
    return geteuid() == 0 || readlink(proc, seen, sizeof seen) > 0;
}

int linkNameless(int fd, const char *name)
{
    if (linkat(fd, "", targetFolder, name, AT_EMPTY_PATH) == 0)
        return 0;
    if (errno == EEXIST)
        return -1;
    char proc[64];
    procPath(proc, sizeof proc, fd);
    return linkat(AT_FDCWD, proc, targetFolder, name, AT_SYMLINK_FOLLOW);
}
#endif

} // namespace

void printWithName(const char *fmt, const char *name) { std::printf(fmt, name); }

int seek64(std::FILE *fp, long long offset, int whence)
{
    return fseeko(fp, static_cast<off_t>(offset), whence);
}

long long tell64(std::FILE *fp) { return static_cast<long long>(ftello(fp)); }

std::FILE *openRegularForReading(const char *path)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE *fp = fdopen(fd, "rb");
    if (fp == nullptr)
        close(fd);
    return fp;
}

int pathExists(const char *path)
{
    struct stat st;
    if (stat(path, &st) == 0)
        return 1;
    return errno == ENOENT || errno == ENOTDIR ? 0 : 1;
}

namespace {

// What a path names, for telling whether two paths name one file: a file
// that is there, by its device and inode, or else the folder and the name a
// new file would be created under.
struct PathIdentity {
    bool exists;
    dev_t device;
    ino_t inode;  // the file's, or its folder's where it does not exist
    char name[pathBytes];
};

#if defined(O_PATH)
constexpr int lookingAtFolder = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int lookingAtFolder = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

bool identifyPath(const char *path, PathIdentity *id)
{
    struct stat st;
    if (stat(path, &st) == 0) {
        id->exists = true;
        id->device = st.st_dev;
        id->inode = st.st_ino;
        return true;
    }
    if (errno != ENOENT)
        return false;
    // Nothing there, or a dangling link: follow the links by hand to the
    // name in a folder that a new file would get, as the writer does.
    char current[pathBytes];
    if (std::strlen(path) >= sizeof current)
        return false;
    std::strcpy(current, path);
    int at = AT_FDCWD;
    bool found = false;
    for (int hops = 0; hops <= maxLinkHops && !found; ++hops) {
        const char *slash = std::strrchr(current, '/');
        const char *base = slash != nullptr ? slash + 1 : current;
        if (base[0] == '\0' || std::strcmp(base, ".") == 0 || std::strcmp(base, "..") == 0 ||
            std::strlen(base) >= sizeof id->name)
            break;
        char folderPath[pathBytes];
        if (slash == nullptr) {
            std::strcpy(folderPath, ".");
        } else {
            const std::size_t len = slash == current ? 1 : static_cast<std::size_t>(slash - current);
            std::memcpy(folderPath, current, len);
            folderPath[len] = '\0';
        }
        const int folder = openat(at, folderPath, lookingAtFolder);
        if (at != AT_FDCWD)
            close(at);
        at = folder;
        if (folder < 0)
            break;
        std::strcpy(id->name, base);
        struct stat entry;
        if (fstatat(folder, id->name, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            struct stat folderStat;
            if (errno == ENOENT && fstat(folder, &folderStat) == 0) {
                id->exists = false;
                id->device = folderStat.st_dev;
                id->inode = folderStat.st_ino;
                found = true;
            }
            break;
        }
        if (!S_ISLNK(entry.st_mode)) {
            // Made meanwhile: compared as the file it now is.
            id->exists = true;
            id->device = entry.st_dev;
            id->inode = entry.st_ino;
            found = true;
            break;
        }
        const ssize_t n = readlinkat(folder, id->name, current, sizeof current);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof current)
            break;
        current[n] = '\0';
    }
    if (at >= 0 && at != AT_FDCWD)
        close(at);
    return found;
}

} // namespace

int sameFile(const char *a, const char *b)
{
    static PathIdentity ia;
    static PathIdentity ib;
    if (!identifyPath(a, &ia) || !identifyPath(b, &ib))
        return 0;
    if (ia.exists != ib.exists || ia.device != ib.device || ia.inode != ib.inode)
        return 0;
    return ia.exists || std::strcmp(ia.name, ib.name) == 0 ? 1 : 0;
}

TargetKind openTarget(const char *path)
{
    discardTemporary();
    replacing = false;
    if (!takeFolderAndName(AT_FDCWD, path))
        return targetRefused;

    for (int hops = 0;; ++hops) {
        if (fstatat(targetFolder, targetName, &targetStat, AT_SYMLINK_NOFOLLOW) != 0) {
            // Nothing there is a new file, unless a link led here: nothing
            // is written through a dangling link.
            return errno == ENOENT && hops == 0 ? targetMissing : targetRefused;
        }
        if (!S_ISLNK(targetStat.st_mode))
            break;
        if (hops == maxLinkHops)
            return targetRefused;
        // The link stays; the file it names is what gets replaced.  Its text
        // counts from the link's own folder.
        char link[pathBytes];
        const ssize_t n = readlinkat(targetFolder, targetName, link, sizeof link);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof link)
            return targetRefused;
        link[n] = '\0';
        if (!takeFolderAndName(targetFolder, link))
            return targetRefused;
    }
    if (!S_ISREG(targetStat.st_mode))
        return targetOther;
#if defined(AT_EACCESS)
    // Write-protected for this user's effective ids, as a plain open for
    // writing would find it; root still may.
    if (faccessat(targetFolder, targetName, W_OK, AT_EACCESS) != 0)
        return targetRefused;
#else
    if (faccessat(targetFolder, targetName, W_OK, 0) != 0)
        return targetRefused;
#endif
    replacing = true;
    return targetRegular;
}

int openTemporary()
{
    installInterruptionCleanup();
    signalFolder = targetFolder;
    // Never more open than the file it replaces; a new file gets what a
    // plain create would give it, after the umask or the folder's ACL.
    const mode_t createMode = replacing ? 0600 : 0666;
    nameless = false;
#if defined(O_TMPFILE)
    if (namelessTemporaries) {
        const int fd = openat(targetFolder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, createMode);
        if (fd >= 0 && canNameNameless(fd)) {
            outFd = fd;
            nameless = true;
        } else if (fd >= 0) {
            close(fd);
        }
    }
#endif
    for (int attempt = 0; outFd < 0; ++attempt) {
        if (attempt == temporaryNameAttempts)
            return 0;
        sigset_t saved;
        blockInterruptions(&saved);
        makeTemporaryName(temporaryName);
        const int fd = openat(targetFolder, temporaryName,
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, createMode);
        const int error = errno;
        if (fd >= 0) {
            outFd = fd;
            temporaryNamed = 1;
        }
        restoreInterruptions(&saved);
        if (fd < 0 && error != EEXIST)
            return 0;
    }
    if (replacing) {
        // Owner first: changing it clears the set-id bits the mode brings.
        if (geteuid() == 0 && fchown(outFd, targetStat.st_uid, targetStat.st_gid) != 0) {
            // Kept as this user's file where the file system refuses.
        }
        if (fchmod(outFd, targetStat.st_mode & 07777) != 0) {
            discardTemporary();
            return 0;
        }
    }
    return 1;
}

int openInPlace()
{
    outFd = openat(targetFolder, targetName, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
    return outFd >= 0 ? 1 : 0;
}

int writeOutput(const unsigned char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = write(outFd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 1;
}

int finishTemporary()
{
    if (fsync(outFd) != 0) {
        discardTemporary();
        return 0;
    }
#if defined(O_TMPFILE)
    if (nameless) {
        // Named only now, with its data on the disk, just before the rename.
        for (int attempt = 0;; ++attempt) {
            if (attempt == temporaryNameAttempts) {
                discardTemporary();
                return 0;
            }
            sigset_t saved;
            blockInterruptions(&saved);
            makeTemporaryName(temporaryName);
            const int linked = linkNameless(outFd, temporaryName);
            const int error = errno;
            if (linked == 0)
                temporaryNamed = 1;
            restoreInterruptions(&saved);
            if (linked == 0)
                break;
            if (error != EEXIST) {
                discardTemporary();
                return 0;
            }
        }
    }
#endif
    const int closed = close(outFd);
    outFd = -1;
    if (closed != 0) {
        discardTemporary();
        return 0;
    }
    return 1;
}

int replaceTarget()
{
    sigset_t saved;
    blockInterruptions(&saved);
    const int renamed = renameat(targetFolder, temporaryName, targetFolder, targetName);
    if (renamed == 0)
        temporaryNamed = 0;
    restoreInterruptions(&saved);
    if (renamed != 0) {
        discardTemporary();
        return 0;
    }
    if (syncFolder)
        fsync(targetFolder);
    closeTargetFolder();
    return 1;
}

int closeInPlace()
{
    const int closed = close(outFd);
    outFd = -1;
    closeTargetFolder();
    return closed == 0 ? 1 : 0;
}

void discardTemporary()
{
    sigset_t saved;
    blockInterruptions(&saved);
    if (outFd >= 0)
        close(outFd);  // a nameless temporary is gone with this
    outFd = -1;
    if (temporaryNamed)
        unlinkat(targetFolder, temporaryName, 0);
    temporaryNamed = 0;
    restoreInterruptions(&saved);
    closeTargetFolder();
}

#endif

void ignoreFileSizeSignal()
{
#if defined(SIGXFSZ)
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

// The advice prepareForFill gives: bit 0 large pages, bit 1 the used part
// faulted in with one call.  bench/pages builds the four kinds to compare
// them; a build takes the one that measured best.
#ifndef MATCONV_PAGE_ADVICE
#define MATCONV_PAGE_ADVICE 3
#endif

void prepareForFill(void *buffer, std::size_t size, std::size_t used)
{
#if defined(__linux__)
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(buffer);
    // Not every kind of advice looks at every argument.
    static_cast<void>(begin);
    static_cast<void>(size);
    static_cast<void>(used);
#if defined(MADV_HUGEPAGE) && (MATCONV_PAGE_ADVICE & 1)
    // Every large page lying wholly inside the buffer; 2 MiB on x86-64 and on
    // arm64 with 4 KiB pages.  The advice commits no memory by itself.
    const std::uintptr_t large = std::uintptr_t{1} << 21;
    const std::uintptr_t first = (begin + large - 1) & ~(large - 1);
    const std::uintptr_t last = (begin + size) & ~(large - 1);
    if (last > first)
        madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#endif
#if defined(MADV_POPULATE_WRITE) && (MATCONV_PAGE_ADVICE & 2)
    // The pages the used part touches, faulted in by the kernel in one pass.
    // Kernels before 5.14 refuse this; the buffer then fills page by page.
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pageSize > 0 && used > 0) {
        const std::uintptr_t page = static_cast<std::uintptr_t>(pageSize);
        const std::uintptr_t from = begin & ~(page - 1);
        const std::uintptr_t to = (begin + used + page - 1) & ~(page - 1);
        madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE);
    }
#endif
#else
    (void)buffer;
    (void)size;
    (void)used;
#endif
}
