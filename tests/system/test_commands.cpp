// Start-up and dispatch of the real program, run as a child under a debugger loop.
#include <gtest/gtest.h>
#include "smtest.h"

TEST(Commands, NoArgumentsEchoesAndExitsWithOne)
{
    SmRunResult r = SmRun(SmProgramPath(), L"");
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(1u, r.exitCode);
    int at = SmIndexOf(r.lines, "1");
    ASSERT_GE(at, 0);
    ASSERT_LT(at + 1, (int)r.lines.size());
    EXPECT_EQ(0u, r.lines[at + 1].find("argv[0] = "));
}
