// The few services whose spelling differs between Windows and POSIX hosts.
// Everything platform-specific in the program goes through here.
#ifndef MATCONV_PLATFORM_H
#define MATCONV_PLATFORM_H

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

#endif
