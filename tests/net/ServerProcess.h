// The diagnostic program started in server mode on 127.0.0.1 with two
// virtual drives, for the process tests of the net suite.
#ifndef TAPEDIAG_TEST_SERVERPROCESS_H
#define TAPEDIAG_TEST_SERVERPROCESS_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "NetTestSupport.h"

class ServerProcessTest : public ::testing::Test {
protected:
    // Starts the server (the program at `program`) on `address` with extra
    // options, in workingDirectory when one is given, and waits until it
    // listens.
    void StartServer(const std::vector<std::string>& extra = {}, const std::string& workingDirectory = "",
                     const std::string& address = "127.0.0.1", const std::string& program = TAPEDIAG_BIN)
    {
        port = FreeLoopbackPort();
        ASSERT_GT(port, 0);
        std::vector<std::string> args{"server", "-ip:" + address, "-cp:" + std::to_string(port), "-dev:sim:ultrium",
                                      "-dev:sim:dds4"};
        args.insert(args.end(), extra.begin(), extra.end());
        server = std::make_unique<ChildProcess>(program, args, workingDirectory);
        ASSERT_TRUE(server->Started());
        ASSERT_TRUE(server->WaitForOutput("SERVER MSG: Awaiting client connection", 30000))
            << server->Output() << server->Errors();
    }

    // A connection that has passed the password exchange.
    std::unique_ptr<WireEnd> Connect(const std::string& password = MSG_EMPTY)
    {
        auto connection = std::make_unique<WireEnd>();
        EXPECT_TRUE(connection->Connect(port));
        EXPECT_TRUE(connection->Send(password));
        EXPECT_EQ(connection->Next(60000), std::string(MSG_PASSWORD_VALID));
        return connection;
    }

    // Asks the server to stop and returns its exit status.
    int StopServer(const std::string& password = MSG_EMPTY)
    {
        WireEnd connection;
        EXPECT_TRUE(connection.Connect(port));
        connection.Send(password);
        connection.Send(MSG_SHUTDOWN);
        return server->Finish(60000);
    }

    static int Count(const std::string& text, const std::string& part)
    {
        int count = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
            ++count;
        return count;
    }

    int port = 0;
    std::unique_ptr<ChildProcess> server;
};

#endif
