// What the tests share about the program: its default file names, its
// built-in table, the trace lines every run starts with, its usage and
// version texts, and the old destination a run must keep when it fails.
// No GoogleTest and no harness here, so that the unit tests use it too.
#ifndef MATCONV_TESTS_FIXTURES_H
#define MATCONV_TESTS_FIXTURES_H

#include "mainConv/version.h"

#include <cstddef>
#include <numeric>
#include <string>
#include <vector>

namespace fixtures {

using Bytes = std::vector<unsigned char>;

// The names a run uses when the command line names none.
inline const std::string defaultSource = "materialmap.raw";
inline const std::string defaultDestination = "HeightmapPrimary.mat";
inline const std::string tableFile = "conversiontable.hex";

// The converter's built-in material table: these 16 entries, every later
// code translating to 0.
inline const Bytes builtinTable = {0, 1, 6, 5, 8, 8, 9, 7, 3, 3, 2, 2, 12, 2, 8, 4};

inline unsigned char builtinCode(unsigned char code)
{
    return code < builtinTable.size() ? builtinTable[code] : 0;
}

// A full table file that keeps every code as it is.
inline Bytes identityTable()
{
    Bytes t(256);
    std::iota(t.begin(), t.end(), 0);
    return t;
}

// What stands in a destination before a run, to see that a refused run
// leaves it alone.  Its length is no square's 2 x w x w and its bytes are
// no conversion's output, so no run can write it by chance.
inline const Bytes oldDestination = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11};

// The first two lines of every run that converts.
inline std::string pathLines(const std::string &source, const std::string &destination)
{
    return source + " is the inpath\n" + destination + " is the outpath\n";
}

inline const std::string defaultHead = pathLines(defaultSource, defaultDestination);
inline const std::string noTable = "didn't find " + tableFile + ",using built-in\n";

// The four lines every run with the source `path`, the default destination
// and no table file starts with, when the source is there.
inline std::string traceHead(const std::string &path)
{
    return pathLines(path, defaultDestination) + noTable + "found 1 file to open\n";
}

// The first n bytes as the console shows them: "%d " each, missing ones as 0.
inline std::string consoleValues(const Bytes &b, std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += std::to_string(i < b.size() ? b[i] : 0) + " ";
    return s;
}

// "/V" of a program file named `program`.
inline std::string versionLine(const std::string &program)
{
    return program + " Version " MATCONV_VERSION_TEXT "\n";
}

// "/?" and "/h" of a program file named `program`.
inline std::string usageText(const std::string &program)
{
    return "\nUsage: " + program + " [options] <source file> <destination path>\n\n" + program +
           " reads a BF1942 Materialmap and converts it to a BF2 compatible materialmap.\n"
           "  \n"
           "-h(elp)  or ? :outputs this help \n"
           "-D(ump) outputs a test file \n"
           "-V(ersion) outputs version data  \n";
}

// Names the writer's temporaries have had, the current ones and the older
// "<dest>.<n>.tmp": none may be left in a folder after a run.
inline bool isTemporaryName(const std::string &name)
{
    return name.rfind(".matconv-", 0) == 0 || name.find(".tmp") != std::string::npos;
}

} // namespace fixtures

#endif
