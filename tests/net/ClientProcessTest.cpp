// The client program against the server program.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ClientProgram.h"
#include "Help.h"
#include "ServerProcess.h"
#include "Utility.h"

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
    std::unique_ptr<WireEnd> AcceptClient(const std::string& reply, const std::string& password = MSG_EMPTY)
    {
        auto connection = std::make_unique<WireEnd>(listener.Accept());
        EXPECT_GE(connection->Socket(), 0);
        EXPECT_EQ(connection->Next(), password);
        if (!reply.empty())
            connection->Send(reply);
        return connection;
    }

    // Answers the password and the command of the client on connection
    // with success; the client's exit status.
    static int ServeToSuccess(std::unique_ptr<ChildProcess>& client, WireEnd& connection)
    {
        connection.Send(MSG_PASSWORD_VALID);
        EXPECT_TRUE(connection.Next());
        connection.Send(MSG_SUCCESSFUL_COMPLETION);
        return client->Finish(30000);
    }

    LoopbackListener listener;
};

// 1 only when the server reported success; every other ending is 0.
TEST_F(ScriptedServerTest, ExitStatusFollowsHowTheReplyEnded)
{
    const std::string cutOff = "CLIENT MSG: The connection to the server ended before the command finished.\n";
    const std::string rejected = "CLIENT MSG: The server rejected the command line: a command or switch it does "
                                 "not take, a value out of range, -dev:, or a file name that is not a bare name.\n";
    const struct {
        const char* what;
        Messages script;  // after the command; the connection then closes
        int status;
        std::string errors;
    } cases[] = {
        {"success", {"done", NEW_LINE, MSG_SUCCESSFUL_COMPLETION}, 1, ""},
        {"upgrade", {MSG_SUCCESSFUL_FIRMWARE_UPGRADE}, 1, ""},
        {"failure", {"Test failed.", NEW_LINE, MSG_UNSUCCESSFUL_COMPLETION}, 0, ""},
        {"rejected", {MSG_BAD_PARAMETERS}, 0, rejected},
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

// The password comes from -pw: or -pwfile: (the later one wins), and
// without either from the environment.
TEST_F(ScriptedServerTest, PasswordFromSwitchFileOrEnvironment)
{
    ScratchDirectory files;
    const std::string file = files / "password";
    std::ofstream(file) << "from file\r\nsecond line\n";
    setenv(CLIENT_PASSWORD_VARIABLE, "from environment", 1);
    const struct {
        std::vector<std::string> switches;
        std::string sent;
    } cases[] = {
        {{}, "from environment"},
        {{"-pw:given"}, "given"},
        {{"-pw:"}, MSG_EMPTY},
        {{"-pwfile:" + file}, "from file"},
        {{"-pw:given", "-pwfile:" + file}, "from file"},
        {{"-pwfile:" + file, "-pw:given"}, "given"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"show"};
        args.insert(args.end(), c.switches.begin(), c.switches.end());
        std::unique_ptr<ChildProcess> client = StartClient(args);
        std::unique_ptr<WireEnd> connection = AcceptClient("", c.sent);
        EXPECT_EQ(ServeToSuccess(client, *connection), 1) << c.sent;
    }
    unsetenv(CLIENT_PASSWORD_VARIABLE);
}

// A server that does not answer the password at once is serving another
// client; the client says so once and waits on.
TEST_F(ScriptedServerTest, BusyServerIsReportedOnceAndWaitedFor)
{
    const std::string busy = "CLIENT MSG: The server is busy with another client; waiting until it is done.\n";
    std::unique_ptr<ChildProcess> client = StartClient({"show"});
    std::unique_ptr<WireEnd> connection = AcceptClient("");
    ASSERT_TRUE(client->WaitForError(busy, 20000)) << client->Errors();
    EXPECT_EQ(ServeToSuccess(client, *connection), 1);
    EXPECT_EQ(client->Errors(), busy);
}

// -ip: takes host names and IPv6 addresses; of the addresses of a name the
// client tries each in turn ("localhost" may name ::1 before 127.0.0.1).
TEST(ClientAddressTest, ReachesTheServerByHostNameAndIPv6)
{
    const struct {
        int family;
        const char* address;
    } cases[] = {{AF_INET, "localhost"}, {AF_INET6, "::1"}};
    for (const auto& c : cases) {
        LoopbackListener listener(c.family);
        if (listener.Port() == 0) {
            std::cout << "skipped: no loopback address for " << c.address << "\n";
            continue;
        }
        ChildProcess client(TAPEDIAG_CLIENT_BIN,
                            {"show", std::string("-ip:") + c.address, "-cp:" + std::to_string(listener.Port()), "-nr"});
        WireEnd connection(listener.Accept());
        EXPECT_EQ(connection.Next(), std::string(MSG_EMPTY)) << c.address;
        connection.Send(MSG_PASSWORD_VALID);
        EXPECT_EQ(connection.Next(), std::string("show; -nr;")) << c.address;
        connection.Send(MSG_SUCCESSFUL_COMPLETION);
        EXPECT_EQ(client.Finish(30000), 1) << c.address << client.Errors();
    }
}

// The client's own switches are refused before anything is sent, each with
// the argument and what it takes; so is a file it cannot read.
TEST_F(ClientProcessTest, OwnSwitchesAreRefusedWithAReasonBeforeConnecting)
{
    ScratchDirectory files;
    std::ofstream(files / "empty") << "\n";
    const std::string port = "-cp:" + std::to_string(FreeLoopbackPort());
    const struct {
        std::vector<std::string> args;
        std::string errors;
    } cases[] = {
        {{"show", "-cp:abc"}, "tapediag-client: \"-cp:abc\" rejected: -cp: takes a port number from 1 to 65535\n"},
        {{"show", "-cp:0"}, "tapediag-client: \"-cp:0\" rejected: -cp: takes a port number from 1 to 65535\n"},
        {{"show", "-cp:65536"}, "tapediag-client: \"-cp:65536\" rejected: -cp: takes a port number from 1 to 65535\n"},
        {{"rwtest", "-o:a>b", port},
         "tapediag-client: \"-o:a>b\" rejected: no argument may hold the character '>'; nothing was sent\n"},
        {{"show", "-pwfile:", port},
         "tapediag-client: \"-pwfile:\" rejected: -pwfile: takes the name of a file that holds the password\n"},
        {{"show", "-pwfile:" + (files / "missing"), port},
         "CLIENT MSG: Unable to read the password file " + (files / "missing") + ": No such file or directory.\n"},
        {{"show", "-pwfile:" + (files / "empty"), port},
         "CLIENT MSG: The password file " + (files / "empty") + " holds no password on its first line.\n"},
        {{"show", "-ip:no-such-host.invalid", port},
         "CLIENT MSG: Unable to find the server no-such-host.invalid: Name or service not known.\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("-nr");
        ChildProcess client(TAPEDIAG_CLIENT_BIN, args);
        EXPECT_EQ(client.Finish(30000), 0) << c.errors;
        EXPECT_EQ(client.Errors(), c.errors);
        EXPECT_EQ(client.Output(), "\nPress Enter to close.\n") << c.errors;
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
    EXPECT_EQ(client->Errors().rfind("CLIENT MSG: The server rejected the command line: ", 0), 0u) << client->Errors();
    EXPECT_EQ(StopServer(), 1);
}

// --help lists the diagnostic's commands and switches and the client's
// own; like --version it ends at once with the success status.
TEST(ClientHelpTest, HelpAndVersionAnswerWithoutPromptAndSucceed)
{
    std::vector<std::string> entries = CUtility::HelpLines();
    size_t count = 0;
    const CClientSwitchText* switches = ClientSwitchTexts(count);
    for (size_t i = 0; i < count; ++i)
        entries.push_back(std::string("  ") + switches[i].text + switches[i].value + " ");
    for (const char* option : {"--help", "-h"}) {
        ChildProcess client(TAPEDIAG_CLIENT_BIN, {option});
        EXPECT_EQ(client.Finish(), 1) << option;
        for (const std::string& entry : entries)
            EXPECT_NE(client.Output().find(entry), std::string::npos) << option << ": " << entry;
        EXPECT_EQ(client.Output().find("\nPress Enter to close.\n"), std::string::npos) << option;
    }
    ChildProcess version(TAPEDIAG_CLIENT_BIN, {"--version"});
    EXPECT_EQ(version.Finish(), 1);
    EXPECT_EQ(version.Output(), std::string("tapediag-client ") + PROGRAM_VERSION + "\n");
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
