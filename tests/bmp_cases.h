// The table of hostile and borderline bitmap sources, shared by the unit
// tests, which put each file's headers to the pure check, and the end-to-end
// tests, which run the program on each file.
#ifndef MATCONV_TESTS_BMP_CASES_H
#define MATCONV_TESTS_BMP_CASES_H

#include "fixtures.h"

#include <ostream>
#include <string>
#include <vector>

namespace fixtures {

struct BitmapCase {
    std::string name;
    std::string path;  // the source's name, as the command line gives it
    Bytes file;
    int status;
    // What the run prints after the four lines of traceHead(path).  A run
    // refused by its headers prints one message and the newline myshutdown
    // adds; every other run first prints "Found a BMP ...".
    std::string tail;
    // The default destination afterwards; oldDestination was there before.
    Bytes dest;
};

std::vector<BitmapCase> hostileBitmapCases();

// Names the case in test output instead of dumping its bytes.
inline void PrintTo(const BitmapCase &c, std::ostream *os) { *os << c.name; }

} // namespace fixtures

#endif
