#include "common/runstate.h"

#include "common/platform.h"
#include "common/shutdown.h"

#include <cstdlib>
#include <cstring>

char *inpath;
char *outpath;
char *tabpath;

MATCONV_LARGE_PAGE_ALIGN unsigned char indata[bufferSize];
MATCONV_LARGE_PAGE_ALIGN unsigned char outdata[bufferSize];

std::int32_t inputbufSize;
std::int32_t outputbufSize;
int depth;
int isBmp;
std::int32_t res;

int isFile(const char *str)
{
    // Only a regular file counts: opening a pipe would block, and a folder is
    // never a map or a table.
    std::FILE *fp = openRegularForReading(str);
    if (fp == nullptr)
        return 0;
    std::fclose(fp);
    return 1;
}

long long fileSize(std::FILE *fp)
{
    if (fp == nullptr)
        return -1;
    const long long here = tell64(fp);
    if (here < 0 || seek64(fp, 0, SEEK_END) != 0)
        return -1;
    const long long size = tell64(fp);
    if (seek64(fp, here, SEEK_SET) != 0)
        return -1;
    return size;
}

char *dupString(const char *str)
{
    const std::size_t len = std::strlen(str);
    char *copy = static_cast<char *>(std::calloc(len + 1, 1));
    if (copy == nullptr)
        myshutdown(exitOutOfMemory, "Error duplicating string.\n");
    std::memcpy(copy, str, len);
    return copy;
}

char *strToUpper(char *str)
{
    for (char *p = str; *p != '\0'; ++p) {
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - 'a' + 'A');
    }
    return str;
}
