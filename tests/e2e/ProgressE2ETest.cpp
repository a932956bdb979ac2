// The progress line of the read/write and compression tests, with standard
// error on a pseudo-terminal that the test owns.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "ChildProcess.h"
#include "ProgressLines.h"
#include "PseudoTerminal.h"
#include "TapediagRun.h"

namespace {

struct ProgressRun {
    int status;
    std::string output;    // standard output, time stamps replaced
    std::string report;    // the -o: file, time stamps replaced
    std::string terminal;  // what reached the terminal (progress runs)
    std::string errors;    // standard error on a pipe (other runs)
};

std::string WithoutTimeStamps(const std::string& text)
{
    std::istringstream in(text);
    std::string result;
    std::string line;
    while (std::getline(in, line))
        result += (IsTimeStamp(line) ? std::string(TIME_STAMP) : line) + "\n";
    return result;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs tapediag with args plus a report file, standard error on a terminal
// or on a pipe.
ProgressRun RunTapediagWith(std::vector<std::string> args, bool onTerminal)
{
    const std::string report = testing::TempDir() + "progress-report-" + std::to_string(getpid()) + ".txt";
    std::remove(report.c_str());
    args.push_back("-o:" + report);
    ProgressRun run;
    PseudoTerminal terminal;
    EXPECT_TRUE(terminal.Ready());
    {
        ChildProcess tapediag(TAPEDIAG_BIN, args, "", onTerminal ? terminal.Terminal() : -1);
        terminal.CloseTerminal();
        run.status = tapediag.Finish(120000);
        run.output = WithoutTimeStamps(tapediag.Output());
        run.errors = tapediag.Errors();
    }
    run.terminal = terminal.Collected();
    run.report = WithoutTimeStamps(ReadFile(report));
    std::remove(report.c_str());
    return run;
}

void ExpectCompletePhase(const ProgressLine& line, const std::string& phase, const std::string& size)
{
    ASSERT_FALSE(line.frames.empty());
    EXPECT_GT(line.frames.size(), 2u) << "the line is rewritten as the phase moves";
    EXPECT_TRUE(line.ended);
    int previous = -1;
    for (const std::string& frame : line.frames) {
        EXPECT_EQ(frame.compare(0, phase.size(), phase), 0) << frame;
        EXPECT_GE(Percent(frame), previous) << frame;
        previous = Percent(frame);
    }
    const std::string& last = line.frames.back();
    EXPECT_EQ(Percent(last), 100) << last;
    EXPECT_NE(last.find(size + " of " + size + " MB"), std::string::npos) << last;
    EXPECT_NE(last.find("done in "), std::string::npos) << last;
}

class ProgressOnTerminal : public testing::TestWithParam<const char*> {};

TEST_P(ProgressOnTerminal, ShowsBothPhasesAndChangesNoByteOfTheOutput)
{
    const std::vector<std::string> args = {GetParam(), "-dev:sim:ultrium", "-id:x", "-ts:5", "-nr"};
    ProgressRun plain = RunTapediagWith(args, false);
    ProgressRun shown = RunTapediagWith(args, true);

    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(shown.status, 1);
    EXPECT_EQ(plain.errors, "") << "no progress on a pipe";
    EXPECT_EQ(shown.output, plain.output);
    EXPECT_EQ(shown.report, plain.report);
    EXPECT_NE(plain.report.find("Issued Final Cmd: Rewind Tape."), std::string::npos);

    std::vector<ProgressLine> lines = ProgressLines(shown.terminal);
    ASSERT_EQ(lines.size(), 2u) << shown.terminal;
    ExpectCompletePhase(lines[0], "Write ", "5");
    ExpectCompletePhase(lines[1], "Read  ", "5");
}

INSTANTIATE_TEST_SUITE_P(Tests, ProgressOnTerminal, testing::Values("rwtest", "ctest"));

TEST(Progress, NoProgressSwitchKeepsTheTerminalQuiet)
{
    const std::vector<std::string> args = {"rwtest", "-dev:sim:ultrium", "-id:x", "-ts:5", "-nr"};
    ProgressRun plain = RunTapediagWith(args, false);
    std::vector<std::string> quiet = args;
    quiet.push_back("-noprogress");
    ProgressRun run = RunTapediagWith(quiet, true);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.terminal, "");
    EXPECT_EQ(run.output, plain.output);
}

TEST(Progress, PhaseThatStopsShortKeepsItsLastStateAboveTheFailure)
{
    // The 41st block of 80 fails: half the write phase is done.
    const std::vector<std::string> args = {"rwtest", "-dev:sim:ultrium,write-error=40", "-id:x", "-ts:5", "-nr"};
    ProgressRun plain = RunTapediagWith(args, false);
    ProgressRun shown = RunTapediagWith(args, true);
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.output, plain.output);
    EXPECT_NE(plain.output.find("Failure on: Write Data to Drive."), std::string::npos);

    std::vector<ProgressLine> lines = ProgressLines(shown.terminal);
    ASSERT_EQ(lines.size(), 1u) << shown.terminal;
    EXPECT_TRUE(lines[0].ended);
    ASSERT_FALSE(lines[0].frames.empty());
    EXPECT_EQ(lines[0].frames.back().substr(0, 19), "Write  50 %  2 of 5") << lines[0].frames.back();
}

}  // namespace
