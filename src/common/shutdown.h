// How a run ends early: the exit status of each class of fault, and the one
// way out that prints the reason first.
#ifndef MATCONV_SHUTDOWN_H
#define MATCONV_SHUTDOWN_H

// Scripts read these; the README's exit-status table describes each.
enum ExitStatus {
    exitSuccess = 0,
    exitUsage = 2,               // the command line cannot be acted on
    exitOutOfMemory = 3,         // a path copy cannot be allocated
    exitUnreadable = 7,          // a source or table cannot be opened or read, is over its
                                 // limit, a bitmap header or its pixel data is incomplete,
                                 // or the map has no shape a preview can take
    exitUnwritable = 8,          // the destination or the preview cannot be opened or written
    exitBadSignature = 16,       // a bitmap source does not start with "BM"
    exitUnsupportedBitmap = 17,  // a bitmap of a kind that is not accepted
};

// Prints the message and one more newline on standard output, then ends the
// process with status err, standard output flushed and every file closed.
[[noreturn]] void myshutdown(int err, const char *string);
// Like myshutdown, with the message formatted from fmt and one string argument.
[[noreturn]] void myshutdownWith(int err, const char *fmt, const char *arg);

#endif
