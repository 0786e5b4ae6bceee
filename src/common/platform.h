// The few services whose spelling differs between Windows and POSIX hosts.
// Everything host-specific in the program goes through here.
#ifndef MATCONV_PLATFORM_H
#define MATCONV_PLATFORM_H

#include <cstddef>
#include <cstdio>

// 64-bit seek and tell, so that offsets and sizes past 2 GiB stay exact on
// hosts where long is 32 bits wide.
int seek64(std::FILE *fp, long long offset, int whence);
long long tell64(std::FILE *fp);

// Opens path for binary reading when it names a regular file (following
// links), else nullptr.  A fifo or device is never opened in a way that could
// block, even when it appears at the name between a check and the open.
std::FILE *openRegularForReading(const char *path);

// 1 when path, with its links followed, names something (whatever its kind
// and whether or not it can be read); 0 when nothing is there, a dangling
// link included.
int pathExists(const char *path);

// Console text that holds a file name: fmt formatted with the one string
// name, printed so that the name reads as typed.  On a Windows console the
// line goes out as UTF-16 (the console would show UTF-8 bytes one by one as
// mojibake); everywhere else, a redirect included, as UTF-8 bytes.
void printWithName(const char *fmt, const char *name);

#if defined(_WIN32)
// The command line as UTF-8 strings, which is how the run state keeps
// paths; every file call widens them back.  The copies live until the
// process ends; nullptr when they cannot be allocated.
char **utf8Arguments(int argc, wchar_t **argv);
#endif

// 1 when paths a and b name the same file, however they are spelt: where
// the file exists, by its identity, so that "./", another spelling of the
// folder, a link and a hard link are all seen through; where nothing is
// there yet, by the identity of the folder and the name a new file would
// get there, a dangling link's text followed to that name.  0 when they
// differ, and when either path cannot be examined.
int sameFile(const char *a, const char *b);

// ---------------------------------------------------------------------------
// Replacing a file without ever losing the one that was there.
//
// One replacement at a time: openTarget, then openTemporary (or openInPlace),
// any number of writeOutput calls, then finishTemporary and replaceTarget (or
// closeInPlace).  discardTemporary undoes whatever has been made so far.

// How the file that a write to a path has to replace stands.
enum TargetKind {
    targetMissing,  // nothing there yet: the new file is created
    targetRegular,  // a regular file, replaced whole
    targetOther,    // a device, pipe or folder: written in place
    targetRefused   // cannot be examined, is a dangling link, or this user may not write it
};

// Finds what a write to path must replace, following links to the file they
// finally name, and keeps its folder at hand for the steps that follow.
TargetKind openTarget(const char *path);

// Creates this run's own temporary file beside the target: exclusively,
// never through a link, nameless where the host allows, and with the mode
// (and, for root, the owner) the target keeps.  An interruption from here on
// removes it.  1 on success.
int openTemporary();

// Opens the target itself for writing, for a device or pipe.  1 on success.
int openInPlace();

// Writes size bytes to the file opened last.  1 when all of them went out.
int writeOutput(const unsigned char *data, std::size_t size);

// Flushes the temporary's data to the disk and closes it, naming it where it
// was nameless.  1 on success.
int finishTemporary();

// Renames the finished temporary over the target, then flushes the folder
// (a failure of that last flush is not reported: the new file is complete
// and in place by then).  1 on success.
int replaceTarget();

// Closes a file written in place.  1 on success.
int closeInPlace();

// Removes the temporary, if any, and closes what a replacement has opened.
void discardTemporary();

// The temporary's name pattern, for the tests: a fixed prefix and suffix
// around 16 random hexadecimal digits, the same length whatever the target.
#define MATCONV_TEMPORARY_PREFIX ".matconv-"
#define MATCONV_TEMPORARY_SUFFIX ".tmp"

// When 0, openTemporary always makes a named temporary.  Only tests turn the
// nameless kind off, to cover the hosts and file systems that lack it.
extern int namelessTemporaries;

// ---------------------------------------------------------------------------

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
