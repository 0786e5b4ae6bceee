#include "platform.h"

#include "runstate.h"

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <system_error>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

int seek64(std::FILE *fp, long long offset, int whence)
{
#if defined(_WIN32)
    return _fseeki64(fp, offset, whence);
#else
    return fseeko(fp, static_cast<off_t>(offset), whence);
#endif
}

long long tell64(std::FILE *fp)
{
#if defined(_WIN32)
    return _ftelli64(fp);
#else
    return static_cast<long long>(ftello(fp));
#endif
}

int isRegularFile(const char *path)
{
    std::error_code ec;
    return fs::is_regular_file(fs::path(path), ec) ? 1 : 0;
}

DestinationKind destinationKind(const char *path)
{
    std::error_code ec;
    const fs::file_status st = fs::status(fs::path(path), ec);
    if (st.type() == fs::file_type::not_found)
        return destMissing;
    if (st.type() == fs::file_type::regular)
        return destRegular;
    return destOther;
}

char *linkTarget(const char *path)
{
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(fs::path(path), ec)))
        return nullptr;
    const fs::path target = fs::weakly_canonical(fs::path(path), ec);
    if (ec)
        return nullptr;
    return dupString(target.string().c_str());
}

void copyPermissions(const char *from, const char *to)
{
#if defined(_WIN32)
    // Windows permissions are only the read-only attribute.  Copied onto the
    // temporary, it would make a temporary that cannot be renamed over the
    // destination undeletable too; a read-only destination is kept instead.
    static_cast<void>(from);
    static_cast<void>(to);
#else
    std::error_code ec;
    const fs::file_status st = fs::status(fs::path(from), ec);
    if (!ec)
        fs::permissions(fs::path(to), st.permissions(), ec);
#endif
}

int replaceFile(const char *from, const char *to)
{
    std::error_code ec;
    fs::rename(fs::path(from), fs::path(to), ec);
    return ec ? 0 : 1;
}

void ignoreFileSizeSignal()
{
#if defined(SIGXFSZ)
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void prepareForFill(void *buffer, std::size_t size, std::size_t used)
{
#if defined(__linux__)
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(buffer);
#if defined(MADV_HUGEPAGE)
    // Every large page lying wholly inside the buffer; 2 MiB on x86-64 and on
    // arm64 with 4 KiB pages.  The advice commits no memory by itself.
    const std::uintptr_t large = std::uintptr_t{1} << 21;
    const std::uintptr_t first = (begin + large - 1) & ~(large - 1);
    const std::uintptr_t last = (begin + size) & ~(large - 1);
    if (last > first)
        madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#else
    (void)size;
#endif
#if defined(MADV_POPULATE_WRITE)
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
