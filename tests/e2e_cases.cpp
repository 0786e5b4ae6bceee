#include "e2e_cases.h"

#include "fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <filesystem>

namespace fs = std::filesystem;

namespace e2e {

FileAfter unchanged(const std::string &path) { return FileAfter{path, FileAfter::Kind::unchanged, {}}; }

FileAfter absent(const std::string &path) { return FileAfter{path, FileAfter::Kind::absent, {}}; }

FileAfter holds(const std::string &path, const Bytes &bytes)
{
    return FileAfter{path, FileAfter::Kind::holds, bytes};
}

void PrintTo(const RunCase &c, std::ostream *os) { *os << c.name; }

namespace {

// The folder's own entry that a relative path starts with.
std::string topEntry(const std::string &path) { return fs::path(path).begin()->string(); }

bool contains(const std::vector<std::string> &names, const std::string &name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

void checkRun(const RunCase &c)
{
    Scratch s(c.name);
    for (const std::string &p : c.planted) {
        fs::create_directories((s / p).parent_path());
        s.write(p, fixtures::oldDestination);
    }
    if (c.setup)
        c.setup(s);
    if (c.options.unprivileged)
        s.giveToUnprivilegedUser();

    // The listing the run must leave: this one, and what it was to write.
    std::vector<std::string> listing = s.listing();
    for (const FileAfter &f : c.after) {
        switch (f.kind) {
        case FileAfter::Kind::unchanged:
            // Only a file the case planted can still hold the old destination.
            EXPECT_TRUE(contains(c.planted, f.path)) << f.path << " is checked as unchanged but was not planted";
            break;
        case FileAfter::Kind::absent:
            EXPECT_FALSE(s.exists(f.path)) << f.path << " is checked as absent but is there before the run";
            break;
        case FileAfter::Kind::holds:
            if (!contains(listing, topEntry(f.path)))
                listing.push_back(topEntry(f.path));
            break;
        }
    }
    std::sort(listing.begin(), listing.end());

    const RunResult r = s.run(c.args, c.options);

    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, "");
    for (const FileAfter &f : c.after) {
        SCOPED_TRACE(f.path);
        if (f.kind == FileAfter::Kind::absent) {
            EXPECT_FALSE(s.exists(f.path));
            continue;
        }
        Bytes got;
        try {
            got = s.read(f.path);
        } catch (const std::exception &e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        EXPECT_EQ(got, f.kind == FileAfter::Kind::unchanged ? fixtures::oldDestination : f.bytes);
    }
    const std::vector<std::string> left = s.listing();
    for (const std::string &n : left)
        EXPECT_FALSE(fixtures::isTemporaryName(n)) << "temporary left: " << n;
    EXPECT_EQ(left, listing);
    if (c.alsoCheck)
        c.alsoCheck(s);
}

} // namespace e2e
