// The client's command line handling and its receive loop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ClientProgram.h"
#include "NetTestSupport.h"
#include "NetworkClient.h"

namespace {

// An argument vector whose entries the code under test may replace.
struct Arguments {
    explicit Arguments(std::vector<std::string> args) : texts(std::move(args))
    {
        for (std::string& text : texts)
            argv.push_back(text.data());
    }
    int argc() const { return static_cast<int>(argv.size()); }
    std::vector<std::string> texts;
    std::vector<char*> argv;
};

TEST(ClientCommandLineTest, ConnectionSwitchesAreTakenOutOfTheCommand)
{
    Arguments args(
        {"tapediag-client", "rwtest", "-ip:10.1.2.3", "-id:x", "-cp:9000", "-pw:abc", "-ip:127.0.0.1", "-nr"});
    CConnectionSwitches switches;
    GetCmdLineCommunicationsParams(args.argc(), args.argv.data(), switches);
    EXPECT_STREQ(switches.address, "127.0.0.1");
    EXPECT_STREQ(switches.port, "9000");
    EXPECT_STREQ(switches.password, "abc");
    EXPECT_EQ(switches.passwordSource, PASSWORD_FROM_SWITCH);
    EXPECT_STREQ(args.argv[2], "null");
    EXPECT_STREQ(args.argv[5], "null");
    // -nr stays: the server reads it too.
    EXPECT_STREQ(CmdLineArgsToString(args.argc(), args.argv.data()), "rwtest; -id:x; -nr;");
}

TEST(ClientCommandLineTest, EmptyPasswordNullArgumentsAndNoArguments)
{
    Arguments args({"tapediag-client", " show ", "null", "-pw:"});
    CConnectionSwitches switches;
    switches.password = "unchanged";
    GetCmdLineCommunicationsParams(args.argc(), args.argv.data(), switches);
    EXPECT_STREQ(switches.password, "");
    EXPECT_STREQ(switches.address, "");
    EXPECT_STREQ(switches.port, "8800");
    EXPECT_STREQ(CmdLineArgsToString(args.argc(), args.argv.data()), "show;");
    Arguments none({"tapediag-client"});
    EXPECT_STREQ(CmdLineArgsToString(none.argc(), none.argv.data()), "");
}

TEST(ClientCommandLineTest, OnlyTheInvalidTokenRefusesThePassword)
{
    EXPECT_FALSE(CNetworkClient::PasswordAccepted(MSG_PASSWORD_INVALID));
    EXPECT_TRUE(CNetworkClient::PasswordAccepted(MSG_PASSWORD_VALID));
    EXPECT_TRUE(CNetworkClient::PasswordAccepted(""));
    EXPECT_TRUE(CNetworkClient::PasswordAccepted("msg_password_invalid"));
}

// The client on one end of a socket pair; the test plays the server.
class ClientReceiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        server = std::make_unique<WireEnd>(ends[0]);
        client = std::make_unique<CNetworkClient>("127.0.0.1", "", 8800);
        client->AdoptConnectedSocket(ends[1]);
    }

    // What the receive loop shows for the messages sent so far; outcome
    // receives how the reply ended.
    std::string Shown()
    {
        char* text = nullptr;
        size_t size = 0;
        std::FILE* out = open_memstream(&text, &size);
        outcome = ReceiveCommandOutput(*client, out, "tapediag-client");
        std::fclose(out);
        std::string shown(text, size);
        std::free(text);
        return shown;
    }

    std::unique_ptr<WireEnd> server;
    std::unique_ptr<CNetworkClient> client;
    CommandOutcome outcome = COMMAND_CUT_OFF;
};

TEST_F(ClientReceiveTest, ProgressStepsAndTokensShowNothing)
{
    for (const char* message : {"abc", NEW_LINE, MSG_MOVE_WRITE_PROGRESS_BAR, NEW_LINE, "def", NEW_LINE,
                                MSG_SUCCESSFUL_COMPLETION, "after the end", NEW_LINE})
        ASSERT_TRUE(server->Send(message));
    EXPECT_EQ(Shown(), "abc\ndef\n");
}

TEST_F(ClientReceiveTest, TextWithoutLineEndContinuesTheLine)
{
    for (const char* message :
         {"ab", "", "cd", NEW_LINE, MSG_MOVE_READ_PROGRESS_BAR, NEW_LINE, NEW_LINE, MSG_UNSUCCESSFUL_COMPLETION})
        ASSERT_TRUE(server->Send(message));
    // The empty text travels as MSG_EMPTY and shows nothing; only the line
    // end right after a progress step belongs to it.
    EXPECT_EQ(Shown(), "abcd\n\n");
}

TEST_F(ClientReceiveTest, EveryCompletionTokenEndsTheLoop)
{
    const struct {
        const char* token;
        CommandOutcome outcome;
    } cases[] = {{MSG_SUCCESSFUL_COMPLETION, COMMAND_SUCCEEDED},
                 {MSG_UNSUCCESSFUL_COMPLETION, COMMAND_FAILED},
                 {MSG_SUCCESSFUL_FIRMWARE_UPGRADE, COMMAND_SUCCEEDED}};
    for (const auto& c : cases) {
        ASSERT_TRUE(server->Send("x"));
        ASSERT_TRUE(server->Send(c.token));
        EXPECT_EQ(Shown(), "x") << c.token;
        EXPECT_EQ(outcome, c.outcome) << c.token;
    }
}

TEST_F(ClientReceiveTest, ServerClosingEndsTheLoopAndTheGoodbyeIsSkipped)
{
    ASSERT_TRUE(server->Send("partial"));
    int serverSocket = server->Socket();
    shutdown(serverSocket, SHUT_WR);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Shown(), "partial");
    EXPECT_EQ(outcome, COMMAND_CUT_OFF);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "CLIENT MSG: The connection to the server ended before the command finished.\n");
    // The connection is over: no MSG_DISCONNECT, and no error line for it.
    ::testing::internal::CaptureStderr();
    client.reset();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(server->WaitClosed());
}

TEST_F(ClientReceiveTest, LeavingSaysGoodbyeOverAConnectionStillUp)
{
    ASSERT_TRUE(server->Send(MSG_SUCCESSFUL_COMPLETION));
    EXPECT_EQ(Shown(), "");
    client.reset();
    EXPECT_EQ(server->Next(), std::string(MSG_DISCONNECT));
    EXPECT_TRUE(server->WaitClosed());
}

}  // namespace
