// The client program against the server program.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ServerProcess.h"

namespace {

using Lines = std::vector<std::string>;
using Messages = std::vector<std::string>;

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

TEST_F(ClientProcessTest, HealthAsJsonPassesThroughTheClientWhole)
{
    StartServer();
    std::unique_ptr<ChildProcess> client = RunClient({"health", "-json", "-nr"}, port);
    ASSERT_EQ(client->Finish(60000), 1) << client->Errors();
    const nlohmann::json document = nlohmann::json::parse(client->Output(), nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << client->Output();
    ASSERT_EQ(document["health"].size(), 2u);
    EXPECT_EQ(document["health"][1]["drive"]["model"], "CORVANE DAT40 DDS4");
    EXPECT_EQ(document["health"][1]["drive_verdict"]["status"], "OK");
    EXPECT_EQ(document["status"], "success");
    EXPECT_EQ(StopServer(), 1);
}

// The test plays the server: it accepts the client, answers its password,
// reads its command and then plays a script.
class ScriptedServerTest : public ::testing::Test {
protected:
    // Starts the client with its connection switches and -nr.
    std::unique_ptr<ChildProcess> StartClient(std::vector<std::string> args)
    {
        args.push_back("-ip:127.0.0.1");
        args.push_back("-cp:" + std::to_string(listener.Port()));
        args.push_back("-nr");
        return std::make_unique<ChildProcess>(TAPEDIAG_CLIENT_BIN, args);
    }

    // The client's connection, after its password, which is answered with
    // reply unless reply is empty.
    std::unique_ptr<WireEnd> AcceptClient(const std::string& reply)
    {
        auto connection = std::make_unique<WireEnd>(listener.Accept());
        EXPECT_GE(connection->Socket(), 0);
        EXPECT_EQ(connection->Next(), std::string(MSG_EMPTY));
        if (!reply.empty())
            connection->Send(reply);
        return connection;
    }

    LoopbackListener listener;
};

// 1 only when the server reported success; every other ending is 0.
TEST_F(ScriptedServerTest, ExitStatusFollowsHowTheReplyEnded)
{
    const std::string cutOff = "CLIENT MSG: The connection to the server ended before the command finished.\n";
    const struct {
        const char* what;
        Messages script;  // after the command; the connection then closes
        int status;
        std::string errors;
    } cases[] = {
        {"success", {"done", NEW_LINE, MSG_SUCCESSFUL_COMPLETION}, 1, ""},
        {"upgrade", {MSG_SUCCESSFUL_FIRMWARE_UPGRADE}, 1, ""},
        {"failure", {"Test failed.", NEW_LINE, MSG_UNSUCCESSFUL_COMPLETION}, 0, ""},
        {"rejected", {MSG_BAD_PARAMETERS}, 0, ""},
        {"server gone mid-command", {"half a line"}, 0, cutOff},
        {"server gone at once", {}, 0, cutOff},
    };
    for (const auto& c : cases) {
        std::unique_ptr<ChildProcess> client = StartClient({"rwtest", "-id:x"});
        std::unique_ptr<WireEnd> connection = AcceptClient(MSG_PASSWORD_VALID);
        EXPECT_EQ(connection->Next(), std::string("rwtest; -id:x; -nr;")) << c.what;
        for (const std::string& message : c.script)
            connection->Send(message);
        if (c.status == 1) {
            EXPECT_EQ(connection->Next(), std::string(MSG_DISCONNECT)) << c.what;
        }
        connection.reset();
        EXPECT_EQ(client->Finish(30000), c.status) << c.what;
        EXPECT_EQ(client->Errors(), c.errors) << c.what;
        EXPECT_EQ(client->Output().find("Press Enter to close."), std::string::npos) << c.what;
    }
}

TEST_F(ScriptedServerTest, ResetConnectionIsReportedOnce)
{
    std::unique_ptr<ChildProcess> client = StartClient({"rwtest", "-id:x"});
    std::unique_ptr<WireEnd> connection = AcceptClient(MSG_PASSWORD_VALID);
    ASSERT_TRUE(connection->Next());
    connection->Send("partial");
    linger drop{1, 0};
    setsockopt(connection->Socket(), SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
    connection.reset();
    EXPECT_EQ(client->Finish(30000), 0);
    EXPECT_EQ(client->Errors(), "CLIENT MSG: Unable to receive data from server.\n");
}

TEST_F(ScriptedServerTest, RefusedPasswordShowsThePromptEvenWithNoPromptSwitch)
{
    std::unique_ptr<ChildProcess> client = StartClient({"show"});
    AcceptClient(MSG_PASSWORD_INVALID).reset();
    EXPECT_EQ(client->Finish(30000), 0);
    EXPECT_EQ(client->Errors(), "CLIENT MSG: Unable to connect to the server application.\n"
                                "CLIENT MSG: Password authentication failed.\n");
    EXPECT_EQ(client->Output(), "\nPress Enter to close.\n");
}

TEST_F(ScriptedServerTest, ServerClosingWithoutAnsweringThePasswordIsNoAcceptance)
{
    std::unique_ptr<ChildProcess> client = StartClient({"show"});
    AcceptClient("").reset();
    EXPECT_EQ(client->Finish(30000), 0);
    EXPECT_EQ(client->Errors(), "CLIENT MSG: Unable to connect to the server application.\n"
                                "CLIENT MSG: The server closed the connection without answering the password.\n");
    EXPECT_EQ(client->Output(), "\nPress Enter to close.\n");
}

TEST_F(ClientProcessTest, PortThatIsNotFrom1To65535IsRefusedBeforeConnecting)
{
    for (const char* port : {"abc", "0", "65536", "-1", "99999999999"}) {
        ChildProcess client(TAPEDIAG_CLIENT_BIN, {"show", "-ip:127.0.0.1", std::string("-cp:") + port, "-nr"});
        EXPECT_EQ(client.Finish(30000), 0) << port;
        EXPECT_EQ(client.Errors(),
                  "CLIENT MSG: The port must be a number from 1 to 65535: \"" + std::string(port) + "\".\n");
        EXPECT_EQ(client.Output(), "\nPress Enter to close.\n");
    }
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
    EXPECT_EQ(client->Finish(60000), 0);
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
