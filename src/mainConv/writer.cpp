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
OutputKind outputKind = outputDestination;

[[noreturn]] void failOpening()
{
    discardTemporary();
    myshutdown(exitUnwritable,
               outputKind == outputPreview ? "Error opening preview file.\n" : "Error opening output file.\n");
}

[[noreturn]] void failWriting()
{
    discardTemporary();
    myshutdown(exitUnwritable, outputKind == outputPreview ? "Error writing to preview file.\n"
                                                           : "Error writing to output file.\n");
}

// The preview goes out in pieces of this size: a whole number of rows, up
// to 1 MiB, however large the map.  The headers and palette go first.
constexpr std::size_t previewChunkBytes = std::size_t{1} << 20;
static_assert(previewChunkBytes >= previewPixelOffset &&
                  previewChunkBytes >= static_cast<std::size_t>(previewRowBytes(maxPreviewWidth)),
              "a preview chunk holds the headers and palette, and any one row");
unsigned char previewChunk[previewChunkBytes];

} // namespace

void beginOutput(const char *path, OutputKind kind)
{
    bytesOut = 0;
    outputKind = kind;
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

void previewfile(const char *path, std::int32_t w, PreviewKind kind)
{
    beginOutput(path, outputPreview);
    previewHeaders(w, previewChunk);
    previewPalette(kind, previewChunk + bmpHeadersBytes);
    std::size_t filled = previewPixelOffset;
    const std::size_t rowBytes = static_cast<std::size_t>(previewRowBytes(w));
    for (std::int32_t stored = 0; stored < w; ++stored) {
        if (filled + rowBytes > previewChunkBytes) {
            appendOutput(previewChunk, filled);
            filled = 0;
        }
        previewRow(outdata, w, stored, kind, previewChunk + filled);
        filled += rowBytes;
    }
    appendOutput(previewChunk, filled);
    endOutput();
}
