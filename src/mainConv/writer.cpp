#include "mainConv/writer.h"

#include "common/platform.h"
#include "common/runstate.h"
#include "common/shutdown.h"

#include <cstdio>

namespace {

// Where the output is going: into a temporary that replaces the target at
// the end, or straight into a device or pipe.
bool inPlace = false;
long long bytesOut = 0;

[[noreturn]] void failOpening()
{
    discardTemporary();
    myshutdown(exitUnwritable, "Error opening output file.\n");
}

[[noreturn]] void failWriting()
{
    discardTemporary();
    myshutdown(exitUnwritable, "Error writing to output file.\n");
}

} // namespace

void beginOutput(const char *path)
{
    bytesOut = 0;
    switch (openTarget(path)) {
    case targetMissing:
    case targetRegular:
        inPlace = false;
        if (!openTemporary())
            failOpening();
        break;
    case targetOther:
        // A device or pipe cannot be replaced by renaming; it is written as
        // it stands.
        inPlace = true;
        if (!openInPlace())
            failOpening();
        break;
    case targetRefused:
        failOpening();
    }
}

void appendOutput(const unsigned char *data, std::size_t size)
{
    if (!writeOutput(data, size))
        failWriting();
    bytesOut += static_cast<long long>(size);
}

void endOutput()
{
    if (bytesOut == 0)
        failWriting();
    if (inPlace) {
        if (!closeInPlace())
            failWriting();
        return;
    }
    if (!finishTemporary() || !replaceTarget())
        failWriting();
}

int outputfile(const char *outfile)
{
    if (isBmp)
        outputbufSize = res * 2 * res;

    beginOutput(outfile);
    if (outputbufSize > 0)
        appendOutput(outdata, static_cast<std::size_t>(outputbufSize));
    endOutput();

    std::printf("%d bytes written\n", static_cast<int>(outputbufSize));
    return 1;
}
