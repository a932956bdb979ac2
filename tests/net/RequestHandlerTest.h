// The dispatch of received messages in process: HandleRemoteRequest with a
// socket pair standing in for the client's connection and two virtual
// drives (sim:ultrium, sim:dds4) behind the controller.
#ifndef TAPEDIAG_TEST_REQUESTHANDLERTEST_H
#define TAPEDIAG_TEST_REQUESTHANDLERTEST_H

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Application.h"
#include "MsgDelivery.h"
#include "NetTestSupport.h"
#include "NetworkServer.h"
#include "ServerMode.h"
#include "Utility.h"

using Messages = std::vector<std::string>;

// Every token that ends the reply to a command line.
const Messages COMPLETION_TOKENS{MSG_SUCCESSFUL_COMPLETION, MSG_UNSUCCESSFUL_COMPLETION, MSG_BAD_PARAMETERS,
                                 MSG_SUCCESSFUL_FIRMWARE_UPGRADE};

class RequestHandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        serverEnd = ends[0];
        peer = std::make_unique<WireEnd>(ends[1]);

        app.ClientServerConnection(true);
        app.AddDevice("sim:ultrium");
        app.AddDevice("sim:dds4");
        ::testing::internal::CaptureStdout();
        ASSERT_TRUE(app.CreateDriveManager());
        ::testing::internal::GetCapturedStdout();
        ASSERT_EQ(app.GetNumberOfAvailableTapeDrives(), 2);

        auto& v4 = reinterpret_cast<sockaddr_in&>(client);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        CMsgDelivery::SetNetworkCommunication(&server, serverEnd);
    }

    void TearDown() override
    {
        CMsgDelivery::SetNetworkCommunication(nullptr, -1);
        close(serverEnd);
    }

    // Hands the message to HandleRemoteRequest as the serving loop does;
    // the server's console lines land in console, its record in record.
    int Handle(const std::string& message)
    {
        char buffer[SERVER_RECEIVE_BUFFER] = {};
        std::strncpy(buffer, message.c_str(), sizeof buffer - 1);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        int result = HandleRemoteRequest(&utility, server, serverEnd, &client, buffer, sizeof buffer);
        console = ::testing::internal::GetCapturedStdout();
        record = ::testing::internal::GetCapturedStderr();
        return result;
    }

    // The reply to a command line, through its completion token.
    Messages Reply() { return peer->Until(COMPLETION_TOKENS); }

    // Handles a command line and returns its reply.
    Messages Run(const std::string& line)
    {
        EXPECT_EQ(Handle(line), REQUEST_SERVED) << line;
        return Reply();
    }

    CApplication app;
    CUtility utility{&app};
    CNetworkServer server{"", 0, "127.0.0.1"};
    int serverEnd = -1;
    std::unique_ptr<WireEnd> peer;
    sockaddr_storage client{};
    std::string console;
    std::string record;
};

#endif
