// The one way a test says that it needs one kind of host.  The test exists
// on every host and starts with TEST_NEEDS_POSIX("why") or
// TEST_NEEDS_WINDOWS("why"); the part of its body that only builds there
// sits under #if !defined(_WIN32) (or #if defined(_WIN32)) inside it.  On the
// other host the test is reported as skipped, with its reason, instead of
// vanishing from the list.
#ifndef MATCONV_TESTS_HOST_ONLY_H
#define MATCONV_TESTS_HOST_ONLY_H

#include <gtest/gtest.h>

#if defined(_WIN32)
#define TEST_NEEDS_POSIX(why) GTEST_SKIP() << "needs a POSIX host: " << (why)
#define TEST_NEEDS_WINDOWS(why) static_cast<void>(why)
#else
#define TEST_NEEDS_POSIX(why) static_cast<void>(why)
#define TEST_NEEDS_WINDOWS(why) GTEST_SKIP() << "needs a Windows host: " << (why)
#endif

#endif
