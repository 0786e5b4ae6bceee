#include "conversion.h"

#include "platform.h"
#include "runstate.h"

#include <cstdio>

int readintable(const char *infile)
{
    std::FILE *fp = openRegularForReading(infile);
    if (fp == nullptr)
        myshutdown(7, "Error opening table file.\n");

    const long long size = fileSize(fp);
    std::printf("tablesize is %lld\n", size);
    // A larger file would run past the table; refuse it before reading.
    if (size > tableEntries)
        myshutdown(7, "Error: table file exceeds the 256-entry limit.\n");
    inputbufSize = static_cast<std::int32_t>(size);

    if (inputbufSize <= 0 ||
        std::fread(Translate, static_cast<std::size_t>(inputbufSize), 1, fp) != 1)
        myshutdown(7, "Error reading from input file.\n");

    std::fclose(fp);
    return 1;
}
