// Loads the source map named on the command line into indata.
#ifndef MATCONV_SOURCELOAD_H
#define MATCONV_SOURCELOAD_H

// Reads a raw map or, when the path ends in "P" or "p", a bitmap, and sets
// inputbufSize, depth and isBmp (and res for bitmaps).  Faults end the run.
int readinfile(const char *infile);

#endif
