// Keeping the console window open at the end of a run that Windows started in
// a window of its own, so that the user can read the trace.
//
// Explorer starts a console program dropped on or double-clicked in a new
// console window, which closes the moment the program ends.  Such a run is
// told apart by its console: no other process is attached to it, and both
// standard input and standard output are that console.  A run from a
// console, a batch file or with redirected input or output never waits.
#ifndef MATCONV_CONSOLE_H
#define MATCONV_CONSOLE_H

// The line printed before the wait, without its newline.
extern const char *const consoleHoldPrompt;

// 1 when the run should wait for Enter before it ends: attachedProcesses is
// the number of processes attached to the console (0 when there is none),
// and the two flags tell whether standard input and standard output are
// that console.  Otherwise 0.
int consoleHoldWanted(unsigned long attachedProcesses, int inputIsConsole, int outputIsConsole);

// Arranges for the wait to happen at every normal end of the process, by
// returning from main or by std::exit.  On Windows it asks the console at
// that moment; on other hosts it does nothing.
void holdConsoleAtExit();

#endif
