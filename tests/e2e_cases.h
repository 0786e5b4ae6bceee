// One end-to-end run as a row of a table: the folder before the run, the
// command line, and everything the run must leave behind.  Each checked
// file has one explicit expectation, whatever the other fields say.
#ifndef MATCONV_E2E_CASES_H
#define MATCONV_E2E_CASES_H

#include "e2e_support.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace e2e {

// What one file must be after the run.
struct FileAfter {
    enum class Kind { unchanged, absent, holds };
    std::string path;  // relative to the run's folder
    Kind kind;
    Bytes bytes;  // for holds
};

// Still holds the old destination that the case planted there.
FileAfter unchanged(const std::string &path);
// Not there, not even as a link.
FileAfter absent(const std::string &path);
// Holds exactly these bytes.
FileAfter holds(const std::string &path, const Bytes &bytes);

struct RunCase {
    std::string name;
    // Files holding fixtures::oldDestination before the run; the folders on
    // their way are made.
    std::vector<std::string> planted;
    // Everything else in the folder before the run, made after the planted
    // files; may be empty.
    std::function<void(const Scratch &)> setup;
    std::vector<std::string> args;
    std::string out;  // the whole console text
    int status;
    std::vector<FileAfter> after;
    // How the run is started.  An unprivileged run gets the folder handed
    // over after the setup.
    RunOptions options = {};
    // What else must hold afterwards (links, modes); may be empty.
    std::function<void(const Scratch &)> alsoCheck = {};
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const RunCase &c, std::ostream *os);

// Runs the case in a folder of its own and checks the console text, the
// status, that nothing went to standard error, every file of `after`, and
// the folder's listing: what it was before the run, plus the files the run
// was to write, and no temporary.
void checkRun(const RunCase &c);

} // namespace e2e

#endif
