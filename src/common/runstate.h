// The run state: process-wide variables that carry one conversion run from the
// command line to the destination file, and the helpers every stage shares.
#ifndef MATCONV_RUNSTATE_H
#define MATCONV_RUNSTATE_H

#include <cstdint>
#include <cstdio>

// Spells a limit out in the messages that name it.
#define MATCONV_STRINGIFY_VALUE(x) #x
#define MATCONV_STRINGIFY(x) MATCONV_STRINGIFY_VALUE(x)

// Both buffers hold this many bytes; no source or destination may be larger.
#define MATCONV_BUFFER_BYTES 67108864
constexpr std::int32_t bufferSize = MATCONV_BUFFER_BYTES;

// Entries of the translation table, one per byte value; a table file may
// hold at most this many.
#define MATCONV_TABLE_ENTRIES 256
constexpr int tableEntries = MATCONV_TABLE_ENTRIES;

extern char *inpath;
extern char *outpath;
extern char *tabpath;

// Static zero-initialised storage: pages a run never touches cost nothing.
extern unsigned char indata[bufferSize];
extern unsigned char outdata[bufferSize];

extern unsigned char Translate[tableEntries];

extern std::int32_t inputbufSize;
extern std::int32_t outputbufSize;
extern int depth;
extern int isBmp;
extern std::int32_t res;

// 1 when str names a regular file that opens for binary reading, else 0.
int isFile(const char *str);
// Size of the open file in bytes, or -1 when it cannot be found out.  Taken in
// 64 bits so that a file of 4 GiB or more never wraps to a small count.
long long fileSize(std::FILE *fp);
char *dupString(const char *str);
char *strToUpper(char *str);

#endif
