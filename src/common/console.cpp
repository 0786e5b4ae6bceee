#include "common/console.h"

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

const char *const consoleHoldPrompt = "Press Enter to close this window.";

int consoleHoldWanted(unsigned long attachedProcesses, int inputIsConsole, int outputIsConsole)
{
    return attachedProcesses == 1 && inputIsConsole != 0 && outputIsConsole != 0 ? 1 : 0;
}

#if defined(_WIN32)

namespace {

// 1 when the standard handle is a console (a file, pipe or NUL is not).
int isConsole(DWORD which)
{
    const HANDLE h = GetStdHandle(which);
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0 ? 1 : 0;
}

// Runs after the last line of the run, while standard output is still open.
void holdIfOwnConsole()
{
    // The count of attached processes comes back even when the list does
    // not fit; only the count matters here.
    DWORD ids[2];
    const DWORD attached = GetConsoleProcessList(ids, 2);
    if (consoleHoldWanted(attached, isConsole(STD_INPUT_HANDLE), isConsole(STD_OUTPUT_HANDLE)) == 0)
        return;
    std::printf("%s\n", consoleHoldPrompt);
    std::fflush(stdout);
    int c = 0;
    do
        c = std::getchar();
    while (c != '\n' && c != EOF);
}

} // namespace

void holdConsoleAtExit() { std::atexit(holdIfOwnConsole); }

#else

void holdConsoleAtExit() {}

#endif
