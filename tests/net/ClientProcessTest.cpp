// The client program against the server program.
#include <string>
#include <vector>

#include "ServerProcess.h"

namespace {

using Lines = std::vector<std::string>;

class ClientProcessTest : public ServerProcessTest {
protected:
    std::unique_ptr<ChildProcess> RunClient(std::vector<std::string> args, int clientPort)
    {
        args.push_back("-ip:127.0.0.1");
        args.push_back("-cp:" + std::to_string(clientPort));
        return std::make_unique<ChildProcess>(TAPEDIAG_CLIENT_BIN, args);
    }
};

TEST_F(ClientProcessTest, RemoteRunShowsWhatALocalRunShows)
{
    ChildProcess local(TAPEDIAG_BIN, {"rwtest", "-dev:sim:ultrium", "-id:x", "-nr"});
    ASSERT_EQ(local.Finish(120000), 1);
    Lines expected = local.OutputLines();
    ASSERT_GE(expected.size(), 4u);
    ASSERT_EQ(expected[0], " ");
    ASSERT_EQ(expected[1], "Checking System Configuration.");
    expected.erase(expected.begin(), expected.begin() + 2);

    StartServer();
    std::unique_ptr<ChildProcess> client = RunClient({"rwtest", "-id:x", "-nr"}, port);
    ASSERT_EQ(client->Finish(120000), 1) << client->Errors();
    Lines shown = client->OutputLines();
    ASSERT_EQ(shown.size(), expected.size()) << client->Output();
    // The first line is the time stamp of each run.
    EXPECT_EQ(shown[0].size(), 24u);
    for (size_t i = 1; i < expected.size(); ++i)
        EXPECT_EQ(shown[i], expected[i]) << i;
    EXPECT_EQ(client->Errors(), "");
    EXPECT_TRUE(server->WaitForOutput("SERVER MSG: Client (127.0.0.1) disconnected on "));
    EXPECT_EQ(StopServer(), 1);
}

TEST_F(ClientProcessTest, RefusedPasswordShowsThePromptEvenWithNoPromptSwitch)
{
    StartServer({"-pw:right"});
    std::unique_ptr<ChildProcess> client = RunClient({"show", "-pw:wrong", "-nr"}, port);
    EXPECT_EQ(client->Finish(60000), 0);
    EXPECT_EQ(client->Errors(), "CLIENT MSG: Unable to connect to the server application.\n"
                                "CLIENT MSG: Password authentication failed.\n");
    EXPECT_EQ(client->Output(), "\nPress Enter to close.\n");
    EXPECT_EQ(StopServer("right"), 1);
}

TEST_F(ClientProcessTest, UnreachableServerIsReported)
{
    std::unique_ptr<ChildProcess> client = RunClient({"show", "-nr"}, FreeLoopbackPort());
    EXPECT_EQ(client->Finish(60000), 0);
    EXPECT_EQ(client->Errors(), "CLIENT MSG: Unable to connect to the server.\n"
                                "CLIENT MSG: Check the IP address and port number.\n");
    EXPECT_EQ(client->Output(), "\nPress Enter to close.\n");
}

TEST_F(ClientProcessTest, CommandHoldingAClosingBracketIsNotSent)
{
    std::unique_ptr<ChildProcess> client = RunClient({"rwtest", "-id:x", "-o:a>b", "-nr"}, FreeLoopbackPort());
    EXPECT_EQ(client->Finish(60000), 0);
    EXPECT_EQ(client->Errors(), "CLIENT MSG: A command cannot contain the character '>'; nothing was sent.\n");
    EXPECT_EQ(client->Output(), "\nPress Enter to close.\n");
}

TEST_F(ClientProcessTest, RejectedCommandShowsTheShortHelp)
{
    StartServer();
    std::unique_ptr<ChildProcess> client = RunClient({"bogus", "-nr"}, port);
    EXPECT_EQ(client->Finish(60000), 1);
    // The usage line names the client as it was started, path and all.
    EXPECT_NE(client->Output().find("\n" + std::string(TAPEDIAG_CLIENT_BIN) + " cmd <switch><value>\n"),
              std::string::npos)
        << client->Output();
    EXPECT_EQ(client->Output().find("Press Enter to close."), std::string::npos);
    EXPECT_EQ(StopServer(), 1);
}

TEST_F(ClientProcessTest, ShutdownCommandStopsTheServer)
{
    StartServer();
    std::unique_ptr<ChildProcess> client = RunClient({"shutdown", "-nr"}, port);
    EXPECT_EQ(client->Finish(60000), 1);
    EXPECT_EQ(client->Output(), "\nIssued Cmd: Shutdown Server\n");
    EXPECT_EQ(server->Finish(60000), 1);
    EXPECT_EQ(server->Output().find("Press Enter to close."), std::string::npos);
}

}  // namespace
