// The run driver: one conversion from the command line to the destination.
#ifndef MATCONV_RUNDRIVER_H
#define MATCONV_RUNDRIVER_H

#include <cstdint>


// The program name shown in the usage and version texts.
extern const char *name;

// The picture of the converted map to write beside the destination
// ("--preview PATH"), or nullptr for none.
extern char *previewpath;

// The whole run; returns the exit status of a run that ends normally.
int runConversion(int argc, char **argv);

// Reads the arguments; switches act at once and end the process.
void parseArgs(int argc, char **argv);
[[noreturn]] void usage(const char *program);

// argv[0] cut after its last "\" or "/".
const char *programName(const char *argv0);

// Fills outdata from index 0 with the triangle-wave test pattern, a byte pair
// at a time, until at least length bytes are filled; returns the count.
std::int32_t testfill(std::int32_t length);

#endif
