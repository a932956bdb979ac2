// The client's progress line: from progress tokens to the line, and the
// client and the server as processes with their standard error on
// pseudo-terminals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "ClientProgress.h"
#include "ProgressLines.h"
#include "PseudoTerminal.h"
#include "ServerProcess.h"

namespace {

// A CClientProgress that draws into a pipe the test reads back.
class ClientProgressLine : public ProgressPipeTest {
protected:
    // The announcement of a phase, n tokens, then the line after the phase.
    void Phase(CClientProgress& progress, const char* announcement, bool write, int tokens, const char* after)
    {
        progress.BeforeText(CVString(announcement), 0);
        for (int i = 0; i < tokens; ++i)
            progress.Token(write, 0);
        progress.BeforeText(CVString(after), 0);
    }
};

TEST_F(ClientProgressLine, TokensOfACompletePhaseEndAtOneHundredPercent)
{
    CClientProgress progress(m_pipe[1], true);
    // 201 MB: 3216 blocks, a token every 64 blocks, 51 tokens.
    Phase(progress, "Issued Cmd: Write 201 MB to tape.", true, 51, "Write Command Complete.");
    Phase(progress, "Issued Cmd: Read and Compare 201 MB of data from tape.", false, 51,
          "Test completed successfully.");
    progress.Finish();

    std::vector<ProgressLine> lines = ProgressLines(Drawn());
    ASSERT_EQ(lines.size(), 2u);
    for (const ProgressLine& line : lines) {
        ASSERT_EQ(line.frames.size(), 52u);  // one per token, and the complete phase
        EXPECT_TRUE(line.ended);
        EXPECT_EQ(Percent(line.frames[0]), 0);
        // Token 26 comes after block 1600 of 3216.
        EXPECT_EQ(Percent(line.frames[25]), 49);
        EXPECT_EQ(Percent(line.frames[50]), 99) << "the last token is not the end of the phase";
        EXPECT_EQ(line.frames[51].substr(line.frames[51].find(" %") - 3, 22), "100 %  201 of 201 MB  ");
    }
    EXPECT_EQ(lines[0].frames[0].substr(0, 6), "Write ");
    EXPECT_EQ(lines[1].frames[0].substr(0, 6), "Read  ");
}

TEST_F(ClientProgressLine, APhaseThatStopsShortEndsWhereItWas)
{
    struct Case {
        const char* announcement;
        bool write;
        const char* failure;
    } cases[] = {
        {"Issued Cmd: Write 5 MB to tape.", true, "Failure on: Write Data to Drive."},
        {"Issued Cmd: Read and Compare 5 MB of data from tape.", false, "Failure on: Read Data From Drive"},
        {"Issued Cmd: Read and Compare 5 MB of data from tape.", false,
         "Test failed, Read/Compare error detected - Ensure tape contains data written by this application!"},
    };
    for (const Case& c : cases) {
        CClientProgress progress(m_pipe[1], true);
        Phase(progress, c.announcement, c.write, 10, c.failure);
        std::vector<ProgressLine> lines = ProgressLines(Drawn());
        ASSERT_EQ(lines.size(), 1u) << c.failure;
        EXPECT_TRUE(lines[0].ended);
        EXPECT_EQ(lines[0].frames.size(), 10u);
        EXPECT_EQ(Percent(lines[0].frames.back()), 12) << c.failure;  // block 10 of 80
    }
}

TEST_F(ClientProgressLine, NothingWithoutAnAnnouncedPhaseOrWhenDisabled)
{
    CClientProgress stray(m_pipe[1], true);
    stray.Token(true, 0);
    // Sizes no server sends: not a number, more than an int holds.
    stray.BeforeText(CVString("Issued Cmd: Write x MB to tape."), 0);
    stray.Token(true, 0);
    stray.BeforeText(CVString("Issued Cmd: Write 2147483648 MB to tape."), 0);
    stray.Token(true, 0);
    stray.BeforeText(CVString("Issued Cmd: Read and Compare 99999999999999999999 MB of data from tape."), 0);
    stray.Token(false, 0);
    // A token of the other phase than the one announced.
    stray.BeforeText(CVString("Issued Cmd: Write 5 MB to tape."), 0);
    stray.Token(false, 0);
    stray.Finish();
    EXPECT_EQ(Drawn(), "");

    CClientProgress disabled(m_pipe[1], false);
    Phase(disabled, "Issued Cmd: Write 5 MB to tape.", true, 50, "Write Command Complete.");
    EXPECT_EQ(Drawn(), "");
}

// The programs: the client shows progress on its terminal, the server never
// on its console.
class ClientProgressProcess : public ServerProcessTest {
protected:
    void StartServerOn(int stderrFd)
    {
        port = FreeLoopbackPort();
        ASSERT_GT(port, 0);
        server = std::make_unique<ChildProcess>(
            TAPEDIAG_BIN,
            std::vector<std::string>{"server", "-ip:127.0.0.1", "-cp:" + std::to_string(port), "-dev:sim:ultrium"}, "",
            stderrFd);
        ASSERT_TRUE(server->WaitForOutput("SERVER MSG: Awaiting client connection", 30000)) << server->Output();
    }

    // Runs rwtest on the server; returns the client's standard output.
    std::string RunTest(const std::vector<std::string>& extra, int stderrFd)
    {
        std::vector<std::string> args = {"rwtest", "-id:x",         "-ts:5",
                                         "-nr",    "-ip:127.0.0.1", "-cp:" + std::to_string(port)};
        args.insert(args.end(), extra.begin(), extra.end());
        ChildProcess client(TAPEDIAG_CLIENT_BIN, args, "", stderrFd);
        EXPECT_EQ(client.Finish(120000), 1);
        std::string output = client.Output();
        return output.substr(output.find('\n'));  // after the time stamp line, which differs
    }
};

TEST_F(ClientProgressProcess, ClientShowsTheTestMoveAndTheServerConsoleDoesNot)
{
    PseudoTerminal console;
    ASSERT_TRUE(console.Ready());
    StartServerOn(console.Terminal());
    console.CloseTerminal();

    std::string plain = RunTest({}, -1);
    PseudoTerminal terminal;
    std::string shown = RunTest({}, terminal.Terminal());
    PseudoTerminal quietTerminal;
    std::string quiet = RunTest({"-noprogress"}, quietTerminal.Terminal());
    EXPECT_EQ(StopServer(), 1);

    EXPECT_EQ(shown, plain);
    EXPECT_EQ(quiet, plain);
    EXPECT_NE(plain.find("Test completed successfully."), std::string::npos);
    EXPECT_EQ(quietTerminal.Collected(), "");
    EXPECT_EQ(console.Collected().find(" %"), std::string::npos);

    std::vector<ProgressLine> lines = ProgressLines(terminal.Collected());
    ASSERT_EQ(lines.size(), 2u);
    for (const ProgressLine& line : lines) {
        EXPECT_TRUE(line.ended);
        // 5 MB: a token after every one of the 80 blocks.
        EXPECT_GE(line.frames.size(), 50u);
        ASSERT_FALSE(line.frames.empty());
        EXPECT_EQ(Percent(line.frames.back()), 100);
    }
}

}  // namespace
