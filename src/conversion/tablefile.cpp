#include "conversion/conversion.h"

#include "common/platform.h"
#include "common/runstate.h"
#include "common/shutdown.h"

#include <cstdio>

int readintable(const char *infile)
{
    std::FILE *fp = openRegularForReading(infile);
    if (fp == nullptr)
        myshutdown(exitUnreadable, "Error opening table file.\n");

    const long long size = fileSize(fp);
    std::printf("tablesize is %lld\n", size);
    // A larger file would run past the table; refuse it before reading.
    if (size > tableEntries)
        myshutdown(exitUnreadable,
                   "Error: table file exceeds the " MATCONV_STRINGIFY(MATCONV_TABLE_ENTRIES) "-entry limit.\n");
    inputbufSize = static_cast<std::int32_t>(size);

    if (inputbufSize <= 0 ||
        std::fread(Translate, static_cast<std::size_t>(inputbufSize), 1, fp) != 1)
        myshutdown(exitUnreadable, "Error reading from input file.\n");

    std::fclose(fp);
    return 1;
}
