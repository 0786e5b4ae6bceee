// The destination writer: a run either puts its complete new file in place
// or leaves the file that was there exactly as it was, with no temporary
// left behind, whatever else runs at the same time or interrupts it.
#ifndef MATCONV_WRITER_H
#define MATCONV_WRITER_H

#include <cstddef>

// Writes the first outputbufSize bytes of outdata (2 x res x res for a
// bitmap) to outfile and prints "N bytes written".  Returns 1; a failure
// ends the run with status 8.
int outputfile(const char *outfile);

// The same in steps, for output produced a piece at a time: beginOutput,
// any number of appendOutput calls, then endOutput.  A file of no bytes at
// all is a failed write.  Failures end the run with status 8.
void beginOutput(const char *path);
void appendOutput(const unsigned char *data, std::size_t size);
void endOutput();

#endif
