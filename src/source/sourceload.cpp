#include "source/sourceload.h"

#include "source/bmpheader.h"
#include "common/platform.h"
#include "common/runstate.h"
#include "common/shutdown.h"

#include <cstdlib>
#include <cstring>

int readinfile(const char *infile)
{
    std::FILE *fp = openRegularForReading(infile);
    if (fp == nullptr)
        myshutdown(exitUnreadable, "Error opening input file.\n");

    // The kind is told by the path alone: a last letter "P" means a bitmap,
    // so terrain.map is read as one too.
    char *upper = strToUpper(dupString(infile));
    const std::size_t len = std::strlen(upper);
    const int bitmap = len > 0 && upper[len - 1] == 'P';
    std::free(upper);

    long long count;
    if (bitmap) {
        loadBmpHeader(fp);
        const long long pixelStart = tell64(fp);
        const long long size = fileSize(fp);
        count = (pixelStart < 0 || size < 0) ? -1 : size - pixelStart;
    } else {
        count = fileSize(fp);
        depth = 8;
        isBmp = 0;
    }

    std::printf("filesize is %lld\n", count);
    if (count > bufferSize)
        myshutdown(exitUnreadable,
                   "Error: source file exceeds the " MATCONV_STRINGIFY(MATCONV_BUFFER_BYTES) "-byte limit.\n");
    inputbufSize = static_cast<std::int32_t>(count < 0 ? -1 : count);

    if (inputbufSize > 0)
        prepareForFill(indata, sizeof indata, static_cast<std::size_t>(inputbufSize));
    if (inputbufSize <= 0 ||
        std::fread(indata, static_cast<std::size_t>(inputbufSize), 1, fp) != 1)
        myshutdown(exitUnreadable, "Error reading from input file.\n");

    std::fclose(fp);
    return 1;
}
