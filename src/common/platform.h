// The few services whose spelling differs between Windows and POSIX hosts.
// Everything platform-specific in the program goes through here.
#ifndef MATCONV_PLATFORM_H
#define MATCONV_PLATFORM_H

#include <cstddef>
#include <cstdio>

// 64-bit seek and tell, so that offsets and sizes past 2 GiB stay exact on
// hosts where long is 32 bits wide.
int seek64(std::FILE *fp, long long offset, int whence);
long long tell64(std::FILE *fp);

// 1 when path names a regular file (following links), else 0.
int isRegularFile(const char *path);

// How the destination path stands before it is written.
enum DestinationKind { destMissing, destRegular, destOther };
DestinationKind destinationKind(const char *path);

// When path is a symbolic link, a copy of the path of the file it finally
// names, so the link itself survives the write; otherwise nullptr.
char *linkTarget(const char *path);

// Gives the freshly written file the permissions of the file it replaces.
void copyPermissions(const char *from, const char *to);

// Renames from over to, replacing an existing file.  1 on success.
int replaceFile(const char *from, const char *to);

// Lets a write past a file-size limit fail with an error the writer can
// report, instead of killing the process with a half-written temporary.
void ignoreFileSizeSignal();

// Readies a big static buffer of `size` bytes whose first `used` bytes are
// about to be filled: on hosts that allow it, lets the buffer be backed by
// large pages and maps the used part in with one call, instead of taking one
// page fault per 4 KiB page while the data goes in.  Advice only: elsewhere
// it does nothing, and the buffer fills as it always would.
void prepareForFill(void *buffer, std::size_t size, std::size_t used);

// Alignment for the big buffers: where large pages can back them, the start
// of one, so that even a small map's bytes lie in a single large page.
#if defined(__linux__) && defined(__GNUC__)
#define MATCONV_LARGE_PAGE_ALIGN alignas(2097152)
#else
#define MATCONV_LARGE_PAGE_ALIGN
#endif

#endif
