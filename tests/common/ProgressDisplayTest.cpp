// The progress line: its layout, when it is redrawn, the rate and the time
// left it computes, and how it leaves the terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "ProgressDisplay.h"
#include "ProgressLines.h"

namespace {

const unsigned long long MB = 1048576;

TEST(ProgressDisplayFormat, Layout)
{
    struct Case {
        const char* phase;
        unsigned long long done, total;
        double rate;
        long time;
        const char* line;
    } cases[] = {
        {"Write", 0, 200 * MB, -1, -1, "Write   0 %    0 of 200 MB       -- MB/s  -:--:-- left"},
        {"Read", 84 * MB + 5, 200 * MB, 152.34, 3725, "Read   42 %   84 of 200 MB    152.3 MB/s  1:02:05 left"},
        {"Write", 200 * MB, 200 * MB, 100, 2, "Write 100 %  200 of 200 MB    100.0 MB/s  done in 0:00:02"},
        {"Read", 5 * MB, 5 * MB, -1, 0, "Read  100 %  5 of 5 MB       -- MB/s  done in 0:00:00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CProgressDisplay::Format(c.phase, c.done, c.total, c.rate, c.time), c.line);
}

using ProgressDisplayOutput = ProgressPipeTest;

TEST_F(ProgressDisplayOutput, RedrawsOnANewPercentOrSecondAndTellsRateAndTimeLeft)
{
    CProgressDisplay display(m_pipe[1]);
    display.Show("Write", 1 * MB, 100 * MB, 100);
    display.Show("Write", 1 * MB + MB / 2, 100 * MB, 100);  // nothing changed on the screen
    EXPECT_EQ(Drawn(), "\rWrite   1 %    1 of 100 MB       -- MB/s  -:--:-- left");
    display.Show("Write", 1 * MB + MB / 2, 100 * MB, 101);  // a second later
    EXPECT_EQ(Drawn(), "\rWrite   1 %    1 of 100 MB       -- MB/s  -:--:-- left");
    // 20 MB in the two seconds since the phase began: 10 MB/s, 8 s for the 80 MB left.
    display.Show("Write", 20 * MB, 100 * MB, 102);
    EXPECT_EQ(Drawn(), "\rWrite  20 %   20 of 100 MB     10.0 MB/s  0:00:08 left");
    EXPECT_TRUE(display.LineOpen());
    // The last state shows the phase's average rate and how long it took.
    display.Show("Write", 100 * MB, 100 * MB, 105);
    EXPECT_EQ(Drawn(), "\rWrite 100 %  100 of 100 MB     20.0 MB/s  done in 0:00:05\n");
    EXPECT_FALSE(display.LineOpen());
    display.Show("Write", 100 * MB, 100 * MB, 106);
    EXPECT_EQ(Drawn(), "") << "a complete phase is not drawn again";
}

TEST_F(ProgressDisplayOutput, ShorterStateBlanksTheRestOfTheLongerOne)
{
    CProgressDisplay display(m_pipe[1]);
    display.Show("Read", 0, 40000 * MB, 0);
    display.Show("Read", 2 * MB, 40000 * MB, 2);  // 1 MB/s: more than ten hours left
    std::string longer = Drawn();
    EXPECT_NE(longer.find("11:06:38 left"), std::string::npos) << longer;
    display.Show("Read", 4000 * MB, 40000 * MB, 4);  // 1000 MB/s: 36 s left
    EXPECT_EQ(Drawn(), "\rRead   10 %   4000 of 40000 MB   1000.0 MB/s  0:00:36 left ");
}

TEST_F(ProgressDisplayOutput, NewPhaseOrEndLineEndsTheOpenLine)
{
    CProgressDisplay display(m_pipe[1]);
    display.EndLine();
    EXPECT_EQ(Drawn(), "") << "no line open, nothing to end";
    display.Show("Write", 50 * MB, 100 * MB, 0);
    display.Show("Read", 1 * MB, 100 * MB, 0);
    EXPECT_EQ(Drawn(), "\rWrite  50 %   50 of 100 MB       -- MB/s  -:--:-- left\n"
                       "\rRead    1 %    1 of 100 MB       -- MB/s  -:--:-- left");
    display.EndLine();
    EXPECT_EQ(Drawn(), "\n");
    // The same phase again from its start is a new run of it.
    display.Show("Read", 2 * MB, 100 * MB, 0);
    display.Show("Read", 1 * MB, 100 * MB, 0);
    EXPECT_EQ(Drawn(), "\rRead    2 %    2 of 100 MB       -- MB/s  -:--:-- left\n"
                       "\rRead    1 %    1 of 100 MB       -- MB/s  -:--:-- left");
}

}  // namespace
