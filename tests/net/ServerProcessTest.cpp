// The diagnostic program in server mode, driven over a real socket.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ServerProcess.h"

namespace {

using Messages = std::vector<std::string>;

const Messages COMPLETION_TOKENS{MSG_SUCCESSFUL_COMPLETION, MSG_UNSUCCESSFUL_COMPLETION, MSG_BAD_PARAMETERS,
                                 MSG_SUCCESSFUL_FIRMWARE_UPGRADE};

// The password from a file keeps it out of the process list. A refused
// client is answered at once.
TEST_F(ServerProcessTest, PasswordFromAFileIsCheckedForEveryClient)
{
    ScratchDirectory scratch;
    std::ofstream(scratch / "password") << "s3cret\r\n";
    StartServer({"-pwfile:" + (scratch / "password")});
    std::ifstream commandLine("/proc/" + std::to_string(server->Pid()) + "/cmdline");
    std::string arguments((std::istreambuf_iterator<char>(commandLine)), std::istreambuf_iterator<char>());
    EXPECT_EQ(arguments.find("s3cret"), std::string::npos);

    std::unique_ptr<WireEnd> accepted = Connect("s3cret");
    ASSERT_TRUE(accepted->Send(MSG_DISCONNECT));
    EXPECT_TRUE(accepted->WaitClosed());
    WireEnd refused;
    ASSERT_TRUE(refused.Connect(port));
    ASSERT_TRUE(refused.Send("S3CRET"));
    EXPECT_EQ(refused.Next(), std::string(MSG_PASSWORD_INVALID));
    EXPECT_TRUE(refused.WaitClosed());
    EXPECT_TRUE(server->WaitForError(" which is shut out for 1 s.\n"));
    EXPECT_EQ(Count(server->Errors(), "SERVER MSG: Client sent invalid password, connection refused.\n"), 1);
}

TEST_F(ServerProcessTest, StartUpSaysWhereItListensAndWarnsOfNothingOnLoopback)
{
    StartServer();
    EXPECT_NE(server->Output().find("Host IP Address: 127.0.0.1\nSERVER MSG: Listening on 127.0.0.1 port " +
                                    std::to_string(port) + "\n"),
              std::string::npos)
        << server->Output();
    EXPECT_EQ(StopServer(), 1);
    EXPECT_EQ(server->Errors().find("Warning"), std::string::npos) << server->Errors();
}

// Each refused at start, with its reason and before any drive is opened.
TEST(ServerStartTest, OptionsThatCannotWorkAreRefusedWithAReason)
{
    const struct {
        std::vector<std::string> options;
        std::string error;
    } cases[] = {
        {{"-cp:abc"}, "SERVER MSG: The port must be a number from 1 to 65535: \"abc\".\n"},
        {{"-pw:a>b"},
         "SERVER MSG: The password cannot hold \"<\", \">\" or control characters: a client could never send it.\n"},
        {{"-pwfile:/nonexistent/password"},
         "SERVER MSG: Unable to read the password file /nonexistent/password: No such file or directory.\n"},
        {{"-dir:/nonexistent/served"},
         "SERVER MSG: Unable to use the directory /nonexistent/served for files named by clients: No such file or "
         "directory.\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"server", "-ip:127.0.0.1", "-dev:sim:dds4"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ChildProcess refused(TAPEDIAG_BIN, args);
        EXPECT_EQ(refused.Finish(30000), 0) << c.options[0];
        EXPECT_EQ(refused.Errors(), c.error);
        // Nothing was started: no drive search, only the closing prompt.
        EXPECT_EQ(refused.Output(), "\nPress Enter to close.\n") << c.options[0];
    }
}

// However the bytes of several requests are cut into receives, each one is
// answered, in order.
TEST_F(ServerProcessTest, RequestsArrivingTogetherAreAllAnsweredInOrder)
{
    StartServer();
    std::unique_ptr<WireEnd> client = Connect();
    ASSERT_TRUE(client->SendRaw("<MSG_GET_FIRMWARE_VERSION 0><MSG_GET_FIRMWARE_VERSION 1>"));
    Messages two{*client->Next(), *client->Next()};
    EXPECT_NE(two[0].find("ULTRIUM"), std::string::npos) << two[0];
    EXPECT_NE(two[1].find("DDS4"), std::string::npos) << two[1];

    std::string twenty;
    Messages expected;
    for (int i = 0; i < 20; ++i) {
        if (i == 10) {
            twenty += "<bogus;>";
            expected.push_back(MSG_BAD_PARAMETERS);
            continue;
        }
        twenty += "<MSG_GET_FIRMWARE_VERSION " + std::to_string(i % 3) + ">";
        expected.push_back(i % 3 == 2 ? std::string(MSG_EMPTY) : two[i % 3]);
    }
    // Sent whole and also a byte at a time.
    for (size_t piece : {twenty.size(), size_t{1}}) {
        for (size_t at = 0; at < twenty.size(); at += piece)
            ASSERT_TRUE(client->SendRaw(twenty.substr(at, piece)));
        Messages replies;
        for (size_t i = 0; i < expected.size(); ++i) {
            std::optional<std::string> reply = client->Next();
            ASSERT_TRUE(reply) << i;
            replies.push_back(*reply);
        }
        EXPECT_EQ(replies, expected) << piece;
        EXPECT_TRUE(client->NothingPending());
    }
    client.reset();
    EXPECT_EQ(StopServer(), 1);
}

TEST_F(ServerProcessTest, DriveListAndCommandOutputInOrder)
{
    StartServer();
    std::unique_ptr<WireEnd> client = Connect();
    ASSERT_TRUE(client->Send(MSG_GET_AVAILABLE_DRIVES));
    Messages drives = client->Until({MSG_ALL_AVAILABLE_DRIVES_SENT});
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_NE(drives[0].find("ULTRIUM"), std::string::npos) << drives[0];
    EXPECT_NE(drives[1].find("DDS4"), std::string::npos) << drives[1];

    ASSERT_TRUE(client->Send("show;"));
    Messages reply = client->Until(COMPLETION_TOKENS);
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply.back(), MSG_SUCCESSFUL_COMPLETION);
    reply.pop_back();
    Messages expected{" ",
                      "Accessible Tape Drives...",
                      " ",
                      "SCSI Adapter: 0, Target: 0, Lun: 0",
                      "TESSARA ULTRIUM 2, Firmware: 117A-5RC4 BOOT 1.2",
                      "Serial# HU1234567890",
                      " ",
                      "SCSI Adapter: 0, Target: 1, Lun: 0",
                      "CORVANE DAT40 DDS4, Firmware: 9C23A7F1",
                      "Serial# DT12345",
                      " "};
    Messages framed;
    for (const std::string& line : expected) {
        framed.push_back(line);
        framed.push_back(NEW_LINE);
    }
    EXPECT_EQ(reply, framed);

    // The connection stays open after a rejected line, and ends on request.
    ASSERT_TRUE(client->Send("bogus;"));
    EXPECT_EQ(client->Until(COMPLETION_TOKENS), Messages{MSG_BAD_PARAMETERS});
    ASSERT_TRUE(client->Send("show; -dev:sim:dat;"));
    EXPECT_EQ(client->Until(COMPLETION_TOKENS), Messages{MSG_BAD_PARAMETERS});
    ASSERT_TRUE(client->Send("rwtest; -getByIndex:5;"));
    EXPECT_EQ(client->Until(COMPLETION_TOKENS), Messages{MSG_UNSUCCESSFUL_COMPLETION});
    // A typo in the index must not select drive 0 for a destructive test.
    ASSERT_TRUE(client->Send("rwtest; -getByIndex:l;"));
    EXPECT_EQ(client->Until(COMPLETION_TOKENS), Messages{MSG_BAD_PARAMETERS});
    ASSERT_TRUE(client->Send(MSG_DISCONNECT));
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_TRUE(server->WaitForOutput("SERVER MSG: Client (127.0.0.1) disconnected on "));

    EXPECT_EQ(StopServer(), 1);
}

TEST_F(ServerProcessTest, ReadWriteTestSendsProgressTokensEachWithItsLineEnd)
{
    StartServer();
    std::unique_ptr<WireEnd> client = Connect();
    ASSERT_TRUE(client->Send("rwtest; -id:x; -ts:5;"));
    Messages reply = client->Until(COMPLETION_TOKENS, 60000);
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply.back(), MSG_SUCCESSFUL_COMPLETION);
    EXPECT_EQ(std::count(reply.begin(), reply.end(), MSG_MOVE_WRITE_PROGRESS_BAR), 80);
    EXPECT_EQ(std::count(reply.begin(), reply.end(), MSG_MOVE_READ_PROGRESS_BAR), 80);
    for (size_t i = 0; i + 1 < reply.size(); ++i) {
        if (reply[i] == MSG_MOVE_WRITE_PROGRESS_BAR || reply[i] == MSG_MOVE_READ_PROGRESS_BAR) {
            EXPECT_EQ(reply[i + 1], NEW_LINE) << i;
        }
    }
    // The write tokens all come before the read phase starts.
    auto lastWrite = std::find(reply.rbegin(), reply.rend(), MSG_MOVE_WRITE_PROGRESS_BAR);
    auto firstRead = std::find(reply.begin(), reply.end(), MSG_MOVE_READ_PROGRESS_BAR);
    EXPECT_LT(reply.rend() - lastWrite, firstRead - reply.begin());
    Messages lines = JoinLines(reply);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Test completed successfully."), lines.end());
    client.reset();
    EXPECT_EQ(StopServer(), 1);
}

TEST_F(ServerProcessTest, ClientLeavingMidTestLeavesTheServerServing)
{
    StartServer();
    {
        std::unique_ptr<WireEnd> leaving = Connect();
        // Long enough that most of the test runs after the client has gone.
        ASSERT_TRUE(leaving->Send("rwtest; -id:x; -ts:5000;"));
        Messages seen = leaving->Until({MSG_MOVE_WRITE_PROGRESS_BAR}, 60000);
        ASSERT_FALSE(seen.empty());
        ASSERT_EQ(seen.back(), MSG_MOVE_WRITE_PROGRESS_BAR);
    }
    // Waits in the backlog until the abandoned test has finished.
    std::unique_ptr<WireEnd> next = Connect();
    ASSERT_TRUE(next->Send("show;"));
    Messages reply = next->Until(COMPLETION_TOKENS, 60000);
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply.back(), MSG_SUCCESSFUL_COMPLETION);
    EXPECT_TRUE(server->WaitForError("SERVER MSG: Unable to send data to the client."));
    next.reset();
    EXPECT_EQ(StopServer(), 1);
    // Once, however many lines the abandoned test still produced.
    EXPECT_EQ(Count(server->Errors(), "SERVER MSG: Unable to send data to the client."), 1) << server->Errors();
}

// What a request asks is told by its start alone: a token's name or the
// word shutdown inside an argument is data, and a request holding a control
// byte is refused on its own.
TEST_F(ServerProcessTest, OnlyTheStartOfARequestSaysWhatItAsks)
{
    ScratchDirectory served;
    StartServer({"-dir:" + served.path});
    std::unique_ptr<WireEnd> client = Connect();
    const struct {
        std::string request;
        std::string token;
    } cases[] = {
        {"<logpages; -id:x; -o:shutdown-report.txt;>", MSG_SUCCESSFUL_COMPLETION},
        {"<compstatus; -sn:ShutDown;>", MSG_UNSUCCESSFUL_COMPLETION},
        {"<show; -o:MSG_DISCONNECT.txt;>", MSG_SUCCESSFUL_COMPLETION},
        {"<show; -o:msg_get_available_drives.txt;>", MSG_SUCCESSFUL_COMPLETION},
        {"<show;\x01 -id:x;><MSG_GET_FIRMWARE_VERSION 1>", MSG_BAD_PARAMETERS},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(client->SendRaw(c.request));
        Messages reply = client->Until(COMPLETION_TOKENS);
        ASSERT_FALSE(reply.empty()) << c.request;
        EXPECT_EQ(reply.back(), c.token) << c.request;
    }
    // The request after the one with the control byte was served.
    std::optional<std::string> description = client->Next();
    ASSERT_TRUE(description);
    EXPECT_NE(description->find("DDS4"), std::string::npos) << *description;
    EXPECT_EQ(served.Names(),
              (std::vector<std::string>{"MSG_DISCONNECT.txt", "msg_get_available_drives.txt", "shutdown-report.txt"}));

    // The command word shutdown, in any letter case, stops the server.
    ASSERT_TRUE(client->Send("ShutDown; -nr;"));
    EXPECT_TRUE(client->WaitClosed(30000));
    EXPECT_EQ(server->Finish(60000), 1);
    EXPECT_NE(server->Output().find("SERVER MSG: Client request received to shutdown the server\n"), std::string::npos);
    EXPECT_EQ(server->Output().find("Press Enter to close."), std::string::npos);
}

// Strangers who connect and leave before a password make nobody wait.
TEST_F(ServerProcessTest, ConnectionsThatLeaveBeforeThePasswordDelayNobody)
{
    StartServer({"-pw:s"});
    for (int i = 0; i < 30; ++i) {
        WireEnd stranger;
        ASSERT_TRUE(stranger.Connect(port));
    }
    WireEnd good;
    ASSERT_TRUE(good.Connect(port));
    ASSERT_TRUE(good.Send("s"));
    EXPECT_EQ(good.Next(5000), std::string(MSG_PASSWORD_VALID));
    good.Close();
    EXPECT_EQ(StopServer("s"), 1);
    EXPECT_EQ(Count(server->Errors(), " left before sending a password.\n"), 30) << server->Errors();
    EXPECT_EQ(server->Errors().find("invalid password"), std::string::npos);
}

// The record on standard error: who connected, whose password was refused,
// what each client ran (no password in it) and how it ended.
TEST_F(ServerProcessTest, TheRecordSaysWhoDidWhat)
{
    StartServer({"-pw:s"});
    WireEnd guesser;
    ASSERT_TRUE(guesser.Connect(port, "127.0.0.1", "127.0.0.2"));
    ASSERT_TRUE(guesser.Send("guess"));
    EXPECT_TRUE(guesser.WaitClosed());
    const std::string guesserPeer = "127.0.0.2 port " + std::to_string(guesser.LocalPort());

    std::unique_ptr<WireEnd> client = Connect("s");
    const std::string peer = "127.0.0.1 port " + std::to_string(client->LocalPort());
    ASSERT_TRUE(client->Send("show; -pw:secret;"));
    EXPECT_EQ(client->Until(COMPLETION_TOKENS), Messages{MSG_BAD_PARAMETERS});
    ASSERT_TRUE(client->Send("compstatus; -id:x;"));
    EXPECT_EQ(client->Until(COMPLETION_TOKENS).back(), MSG_SUCCESSFUL_COMPLETION);
    client.reset();
    EXPECT_EQ(StopServer("s"), 1);

    const std::string record = server->Errors();
    for (const std::string& line : {
             "SERVER MSG: Client " + guesserPeer + " connected.\n",
             "SERVER MSG: Client " + guesserPeer +
                 " sent a wrong password, 1 in a row from its address, which is shut out for 1 s.\n",
             "SERVER MSG: Client " + peer + " connected.\n",
             "SERVER MSG: Client " + peer + " command: show; -pw:(password left out);\n",
             "SERVER MSG: Client " + peer + " outcome: MSG_BAD_PARAMETERS\n",
             "SERVER MSG: Client " + peer + " command: compstatus; -id:x;\n",
             "SERVER MSG: Client " + peer + " outcome: MSG_SUCCESSFUL_COMPLETION\n",
         })
        EXPECT_EQ(Count(record, line), 1) << line << record;
    EXPECT_EQ(record.find("secret"), std::string::npos) << record;
    EXPECT_NE(record.find(" stops the server.\n"), std::string::npos) << record;
}

// -ip: takes IPv6 addresses and host names; every console line shows the
// peer's address as it is.
TEST_F(ServerProcessTest, ListensOnIPv6LoopbackAndOnEveryAddressOfLocalhost)
{
    if (!HasIPv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback here";
    StartServer({}, "", "::1");
    EXPECT_NE(server->Output().find("Host IP Address: ::1\nSERVER MSG: Listening on ::1 port " + std::to_string(port)),
              std::string::npos)
        << server->Output();
    WireEnd v6;
    ASSERT_TRUE(v6.Connect(port, "::1"));
    ASSERT_TRUE(v6.Send(MSG_EMPTY));
    EXPECT_EQ(v6.Next(), std::string(MSG_PASSWORD_VALID));
    ASSERT_TRUE(v6.Send(MSG_SHUTDOWN));
    EXPECT_EQ(server->Finish(60000), 1);
    EXPECT_NE(server->Output().find("SERVER MSG: Client (::1) connected on "), std::string::npos) << server->Output();
    EXPECT_NE(server->Errors().find("SERVER MSG: Client ::1 port " + std::to_string(v6.LocalPort()) + " connected.\n"),
              std::string::npos)
        << server->Errors();

    // localhost: every address it stands for here, all loopback.
    StartServer({}, "", "localhost");
    EXPECT_NE(server->Output().find("SERVER MSG: Listening on 127.0.0.1 port " + std::to_string(port)),
              std::string::npos)
        << server->Output();
    EXPECT_EQ(StopServer(), 1);
    EXPECT_EQ(server->Errors().find("Warning"), std::string::npos) << server->Errors();
}

TEST_F(ServerProcessTest, RejectedServerOptionsShowTheHelp)
{
    ChildProcess bad(TAPEDIAG_BIN, {"server", "-x"});
    EXPECT_EQ(bad.Finish(30000), 0);
    EXPECT_NE(bad.Output().find("tapediag server <-pw:password | -cp:port> both optional\n"), std::string::npos)
        << bad.Output();
    EXPECT_EQ(bad.Output().find("SERVER MSG: Awaiting"), std::string::npos);
}

}  // namespace
