// The destination writer: a run either puts its complete new file in place
// or leaves the file that was there exactly as it was, with no temporary
// left behind, whatever else runs at the same time or interrupts it.
#ifndef MATCONV_WRITER_H
#define MATCONV_WRITER_H

#include "mainConv/preview.h"

#include <cstddef>
#include <cstdint>

// Writes the first outputbufSize bytes of outdata (2 x res x res for a
// bitmap) to outfile and prints "N bytes written".  Returns 1; a failure
// ends the run with status 8.
int outputfile(const char *outfile);

// What a file written through the writer is, which its fault messages name:
//   outputDestination  "Error opening output file.\n", "Error writing to output file.\n"
//   outputPreview      "Error opening preview file.\n", "Error writing to preview file.\n"
enum OutputKind { outputDestination, outputPreview };

// The same in steps, for output produced a piece at a time: beginOutput,
// any number of appendOutput calls, then endOutput.  A file of no bytes at
// all is a failed write.  Failures end the run with status 8 and the
// messages of `kind`.
void beginOutput(const char *path, OutputKind kind = outputDestination);
void appendOutput(const unsigned char *data, std::size_t size);
void endOutput();

// Writes the w x w preview of the destination in outdata to path, its rows
// built a bounded chunk at a time, never a copy of the whole picture.
// Prints nothing on success; a failure ends the run with status 8 and the
// preview's messages, before the destination is touched.
void previewfile(const char *path, std::int32_t w, PreviewKind kind);

#endif
