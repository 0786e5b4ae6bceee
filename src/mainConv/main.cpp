#include "common/console.h"
#include "common/platform.h"
#include "common/shutdown.h"
#include "mainConv/rundriver.h"

#if defined(_WIN32)
// Windows hands over the command line in UTF-16, so that every file name
// arrives whole, whatever the code page; the run keeps it as UTF-8.
int wmain(int argc, wchar_t **argv)
{
    holdConsoleAtExit();
    char **args = utf8Arguments(argc, argv);
    if (args == nullptr)
        myshutdown(exitOutOfMemory, "Error duplicating string.\n");
    return runConversion(argc, args);
}
#else
int main(int argc, char **argv)
{
    holdConsoleAtExit();
    return runConversion(argc, argv);
}
#endif
