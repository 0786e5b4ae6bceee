#include "common/shutdown.h"

#include "common/platform.h"

#include <cstdio>
#include <cstdlib>

void myshutdown(int err, const char *string)
{
    std::printf("%s\n", string);
    // exit() flushes standard output and closes every stream still open.
    std::exit(err);
}

void myshutdownWith(int err, const char *fmt, const char *arg)
{
    // The argument is the source path, shown as typed.
    printWithName(fmt, arg);
    std::printf("\n");
    std::exit(err);
}
