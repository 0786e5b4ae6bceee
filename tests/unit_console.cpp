// The decision to keep the console window open at the end of a run.
#include "common/console.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ConsoleHold, OnlyAConsoleOfItsOwnOnBothEnds)
{
    struct Case {
        const char *what;
        unsigned long attached;
        int input, output;
        int wanted;
    };
    const Case cases[] = {
        {"double-click or drop: a new console, both ends on it", 1, 1, 1, 1},
        {"typed in a console: cmd shares it", 2, 1, 1, 0},
        {"from a batch file started by a drop: cmd shares it", 3, 1, 1, 0},
        {"a console of its own, output redirected", 1, 1, 0, 0},
        {"a console of its own, input redirected", 1, 0, 1, 0},
        {"a console of its own, both redirected", 1, 0, 0, 0},
        {"no console at all", 0, 0, 0, 0},
        {"no console, flags claiming one", 0, 1, 1, 0},
        {"shared console, output redirected", 2, 1, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(consoleHoldWanted(c.attached, c.input, c.output), c.wanted);
    }
}

// Any non-zero flag counts as true, as a Win32 BOOL would.
TEST(ConsoleHold, FlagsAreTruthValues)
{
    EXPECT_EQ(consoleHoldWanted(1, 2, -1), 1);
    EXPECT_EQ(consoleHoldWanted(1, 0, 7), 0);
}

// One short line that says what the wait is for, so the user knows the
// window is not hanging.
TEST(ConsoleHold, PromptNamesTheKeyAndFitsOneLine)
{
    const std::string prompt = consoleHoldPrompt;
    EXPECT_NE(prompt.find("Enter"), std::string::npos);
    EXPECT_EQ(prompt.find('\n'), std::string::npos);
    EXPECT_LT(prompt.size(), 80u);
}

} // namespace
