// The run state: process-wide variables that carry one conversion run from the
// command line to the destination file, and the helpers every stage shares.
#ifndef MATCONV_RUNSTATE_H
#define MATCONV_RUNSTATE_H

#include <cstdint>
#include <cstdio>

// Both buffers hold this many bytes; no source or destination may be larger.
constexpr std::int32_t bufferSize = 67108864;

extern char *inpath;
extern char *outpath;
extern char *tabpath;

// Static zero-initialised storage: pages a run never touches cost nothing.
extern unsigned char indata[bufferSize];
extern unsigned char outdata[bufferSize];

extern unsigned char Translate[256];

extern std::int32_t inputbufSize;
extern std::int32_t outputbufSize;
extern int depth;
extern int isBmp;
extern std::int32_t res;

// Prints the message and one more newline, then ends the process with status err.
[[noreturn]] void myshutdown(int err, const char *string);
// Like myshutdown, with the message formatted from fmt and one string argument.
[[noreturn]] void myshutdownWith(int err, const char *fmt, const char *arg);

// 1 when str names a regular file that opens for binary reading, else 0.
int isFile(const char *str);
// Size of the open file in bytes, or -1 when it cannot be found out.  Taken in
// 64 bits so that a file of 4 GiB or more never wraps to a small count.
long long fileSize(std::FILE *fp);
char *dupString(const char *str);
char *strToUpper(char *str);

#endif
