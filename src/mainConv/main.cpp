#include "console.h"
#include "rundriver.h"

int main(int argc, char **argv)
{
    holdConsoleAtExit();
    return runConversion(argc, argv);
}
