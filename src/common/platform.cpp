#include "platform.h"

#include "runstate.h"

#include <csignal>
#include <filesystem>
#include <system_error>

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
