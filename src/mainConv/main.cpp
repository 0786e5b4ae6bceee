#include "common/console.h"
#include "common/platform.h"
#include "mainConv/rundriver.h"

#if defined(_WIN32)
// Windows hands over the command line in UTF-16, so that every file name
// arrives whole, whatever the code page; the run keeps it as UTF-8.
int wmain(int argc, wchar_t **argv)
{
    holdConsoleAtExit();
    return runConversion(argc, utf8Arguments(argc, argv));
}
#else
int main(int argc, char **argv)
{
    holdConsoleAtExit();
    return runConversion(argc, argv);
}
#endif
