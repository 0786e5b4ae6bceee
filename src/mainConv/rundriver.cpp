#include "mainConv/rundriver.h"

#include "conversion/conversion.h"
#include "common/platform.h"
#include "common/runstate.h"
#include "common/shutdown.h"
#include "source/sourceload.h"
#include "mainConv/preview.h"
#include "mainConv/version.h"
#include "mainConv/writer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char *name = "matconv";
char *previewpath = nullptr;

namespace {

// Bytes of the "/D" test file: 512 x 512 samples of 16 bits.
constexpr std::int32_t testFileBytes = 524288;

// The switch letter of arg, or 0 when arg is not a switch.  A switch is two
// characters, "/" or "-" and a letter; the long forms are the usual aliases.
char switchLetter(const char *arg)
{
    if (std::strcmp(arg, "--help") == 0)
        return 'h';
    if (std::strcmp(arg, "--version") == 0)
        return 'V';
    if ((arg[0] == '/' || arg[0] == '-') && arg[1] != '\0' && arg[2] == '\0')
        return arg[1];
    return 0;
}

// The option naming the preview: "--preview PATH", where PATH is the next
// argument whatever it is, as getopt takes it, or "--preview=PATH".
const char previewOption[] = "--preview";
constexpr std::size_t previewOptionLength = sizeof previewOption - 1;

// 1 when arg is the preview option, in either form.
int isPreviewOption(const char *arg)
{
    return std::strncmp(arg, previewOption, previewOptionLength) == 0 &&
           (arg[previewOptionLength] == '\0' || arg[previewOptionLength] == '=');
}

[[noreturn]] void previewWithoutPath()
{
    std::printf("Option --preview needs a path: --preview PATH or --preview=PATH\n");
    std::exit(exitUsage);
}

// The preview must never overwrite what the run reads or writes, however
// the two paths are spelt.
void checkPreviewPath()
{
    if (previewpath == nullptr)
        return;
    if (sameFile(previewpath, outpath)) {
        printWithName("The preview cannot be the destination: %s\n", previewpath);
        std::exit(exitUsage);
    }
    if (sameFile(previewpath, inpath)) {
        printWithName("The preview cannot be the source: %s\n", previewpath);
        std::exit(exitUsage);
    }
}

// The preview's width for the loaded source, or the end of the run when it
// has none: right after the source's size is shown, before anything is
// converted or written.
std::int32_t previewSide()
{
    std::int32_t w = 0;
    char message[128];
    message[0] = '\0';
    switch (previewWidth(isBmp, res, inputbufSize, &w)) {
    case previewFine:
        return w;
    case previewNotSquare:
        std::snprintf(message, sizeof message,
                      "Error: cannot preview a raw map of %d bytes: not a square number.\n",
                      static_cast<int>(inputbufSize));
        break;
    case previewNoWidth:
        std::snprintf(message, sizeof message, "Error: cannot preview a map of width 0 (%d bytes).\n",
                      static_cast<int>(inputbufSize));
        break;
    }
    myshutdown(exitUnreadable, message);
}

// Floor division by 256, the arithmetic shift right by 8, spelt out so the
// result does not depend on how the compiler shifts negative numbers.
long floorDiv256(long v)
{
    return v >= 0 ? v / 256 : -((-v + 255) / 256);
}

} // namespace

const char *programName(const char *argv0)
{
    if (argv0 == nullptr || argv0[0] == '\0')
        return "matconv";
    const char *cut = argv0;
    for (const char *p = argv0; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/')
            cut = p + 1;
    }
    return cut;
}

void usage(const char *program)
{
    printWithName("\nUsage: %s [options] <source file> <destination path>\n\n", program);
    printWithName("%s reads a BF1942 Materialmap and converts it to a BF2 compatible materialmap.\n",
                  program);
    std::printf("  \n");
    std::printf("-h(elp)  or ? :outputs this help \n");
    std::printf("-D(ump) outputs a test file \n");
    std::printf("-V(ersion) outputs version data  \n");
    std::exit(exitSuccess);
}

void parseArgs(int argc, char **argv)
{
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (isPreviewOption(arg)) {
            const char *path = arg + previewOptionLength;
            if (*path == '=') {
                ++path;
            } else {
                if (i + 1 == argc)
                    previewWithoutPath();
                path = argv[++i];
            }
            if (path[0] == '\0')
                previewWithoutPath();
            std::free(previewpath);  // a later one replaces it
            previewpath = dupString(path);
            continue;
        }
        const char argType = switchLetter(arg);
        switch (argType) {
        case 0:
            // Source first, destination second; nothing more is expected.
            ++positional;
            if (positional == 1) {
                inpath = dupString(arg);
            } else if (positional == 2) {
                outpath = dupString(arg);
            } else {
                printWithName("What do I do with this: %s ? \n", arg);
                std::exit(exitUsage);
            }
            break;
        case 'V':
            printWithName("%s Version " MATCONV_VERSION_TEXT "\n", name);
            std::exit(exitSuccess);
        case 'D':
            // A path right after the switch names the test file's
            // destination; nothing may follow it.  The preview option is no
            // path, and the test file gets no picture.
            if (i + 1 < argc && switchLetter(argv[i + 1]) == 0 && !isPreviewOption(argv[i + 1])) {
                if (positional >= 2)
                    std::free(outpath);  // the destination given before it
                outpath = dupString(argv[i + 1]);
                if (i + 2 < argc) {
                    printWithName("What do I do with this: %s ? \n", argv[i + 2]);
                    std::exit(exitUsage);
                }
            }
            outputbufSize = testfill(testFileBytes);
            outputfile(outpath);
            std::exit(exitSuccess);
        case '?':
        case 'h':
            usage(name);
        default:
            std::printf("Unknown parameter: %c\n", argType);
            std::exit(exitUsage);
        }
    }
    checkPreviewPath();
}

std::int32_t testfill(std::int32_t length)
{
    long d = 0;
    long delta = 2;
    std::int32_t x = 0;
    while (x < length && x + 1 < bufferSize) {
        outdata[x + 1] = static_cast<unsigned char>(d / 256 + 40);
        outdata[x] = static_cast<unsigned char>(floorDiv256(d - 256 * d));
        // The first level past a bound is still written once before turning.
        d += delta;
        if (d < 0 || d > 32768)
            delta = -delta;
        x += 2;
    }
    return x;
}

int runConversion(int argc, char **argv)
{
    ignoreFileSizeSignal();

    static char defaultInpath[] = "materialmap.raw";
    static char defaultOutpath[] = "HeightmapPrimary.mat";
    static char defaultTabpath[] = "conversiontable.hex";
    inpath = defaultInpath;
    outpath = defaultOutpath;
    tabpath = defaultTabpath;
    name = programName(argc > 0 ? argv[0] : nullptr);

    parseArgs(argc, argv);

    printWithName("%s is the inpath\n", inpath);
    printWithName("%s is the outpath\n", outpath);

    // A table file that is there but cannot be read is a fault, not a
    // reason to convert with another table.
    if (pathExists(tabpath))
        readintable(tabpath);
    else
        std::printf("didn't find conversiontable.hex,using built-in\n");

    const int validinput = isFile(inpath);
    std::printf("found %d file to open\n", validinput);
    // A run that cannot even open its source has done nothing asked of it.
    if (!validinput)
        myshutdown(exitUnreadable, "Error opening input file.\n");

    readinfile(inpath);
    const std::int32_t side = previewpath != nullptr ? previewSide() : 0;

    for (int i = 0; i < 12; ++i)
        std::printf("%d ", indata[i]);
    outputbufSize = process();
    std::printf("\n");
    // The picture goes first: a run that cannot write it ends before the
    // destination is touched.
    if (previewpath != nullptr) {
        char line[64];
        std::snprintf(line, sizeof line, "preview is %%s, %d x %d\n", static_cast<int>(side), static_cast<int>(side));
        printWithName(line, previewpath);
        previewfile(previewpath, side, isBmp && depth == 24 ? previewGray : previewCodes);
    }
    for (int i = 0; i < 16; ++i)
        std::printf("%d ", outdata[i]);
    outputfile(outpath);
    return 0;
}
