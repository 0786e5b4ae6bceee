// Material conversion: source samples in indata become destination samples in
// outdata, through the translation table for 8-bit codes.
#ifndef MATCONV_CONVERSION_H
#define MATCONV_CONVERSION_H

#include <cstdint>

// Converts inputbufSize bytes of indata according to depth and returns the
// number of bytes written to the start of outdata.
std::int32_t process();

// Loads the table file over the leading entries of Translate.
int readintable(const char *infile);

#endif
