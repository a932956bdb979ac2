// The serving loop with short bounds: a client that holds the server without
// a password, without requests or without reading is dropped, and the client
// waiting behind it is served. The loop runs on a thread of the test; the
// clients are sockets of the test on 127.0.0.1.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "Application.h"
#include "MsgDelivery.h"
#include "NetTestSupport.h"
#include "NetworkServer.h"
#include "ServerMode.h"
#include "Utility.h"

namespace {

class ServingLoopTest : public ::testing::Test {
protected:
    void Start(const CServerLimits& limits)
    {
        app.ClientServerConnection(true);
        server = std::make_unique<CNetworkServer>("", 0, "127.0.0.1", limits);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        capturing = true;
        ASSERT_TRUE(server->PrepareToAcceptClient());
        port = server->GetBoundPort();
        loop = std::thread([this] { ServeClients(&utility, *server); });
    }

    // Asks the loop to stop, waits for it and collects its console lines.
    void Stop()
    {
        if (loop.joinable()) {
            WireEnd stopper;
            EXPECT_TRUE(stopper.Connect(port));
            stopper.Send(MSG_EMPTY);
            stopper.Send(MSG_SHUTDOWN);
            loop.join();
        }
        if (capturing) {
            output = ::testing::internal::GetCapturedStdout();
            errors = ::testing::internal::GetCapturedStderr();
            capturing = false;
        }
        CMsgDelivery::SetNetworkCommunication(nullptr, -1);
    }

    void TearDown() override { Stop(); }

    // A client that is through the password exchange and has sent request.
    std::unique_ptr<WireEnd> Waiting(const char* request)
    {
        auto client = std::make_unique<WireEnd>();
        EXPECT_TRUE(client->Connect(port));
        EXPECT_TRUE(client->Send(MSG_EMPTY));
        EXPECT_TRUE(client->Send(request));
        return client;
    }

    // The waiting client gets its password answer and the drive list.
    static void ExpectServed(WireEnd& client, int timeoutMs = 30000)
    {
        EXPECT_EQ(client.Next(timeoutMs), std::string(MSG_PASSWORD_VALID));
        EXPECT_EQ(client.Next(timeoutMs), std::string(MSG_ALL_AVAILABLE_DRIVES_SENT));
        client.Send(MSG_DISCONNECT);
    }

    CApplication app;
    CUtility utility{&app};
    std::unique_ptr<CNetworkServer> server;
    int port = 0;
    std::thread loop;
    bool capturing = false;
    std::string output;
    std::string errors;
};

TEST_F(ServingLoopTest, SilentClientIsDroppedAndTheNextOneServed)
{
    CServerLimits limits;
    limits.passwordMs = 100;
    Start(limits);
    WireEnd silent;
    ASSERT_TRUE(silent.Connect(port));
    ASSERT_TRUE(silent.SendRaw("<MSG_EM"));  // part of a password is no password
    std::unique_ptr<WireEnd> next = Waiting(MSG_GET_AVAILABLE_DRIVES);
    ExpectServed(*next);
    EXPECT_TRUE(silent.WaitClosed());
    Stop();
    EXPECT_NE(errors.find("SERVER MSG: Client (127.0.0.1) sent no password within 0.1 s, connection closed.\n"),
              std::string::npos)
        << errors;
}

TEST_F(ServingLoopTest, IdleClientIsDroppedAndTheNextOneServed)
{
    CServerLimits limits;
    limits.idleMs = 100;
    Start(limits);
    WireEnd idle;
    ASSERT_TRUE(idle.Connect(port));
    ASSERT_TRUE(idle.Send(MSG_EMPTY));
    ASSERT_EQ(idle.Next(), std::string(MSG_PASSWORD_VALID));
    std::unique_ptr<WireEnd> next = Waiting(MSG_GET_AVAILABLE_DRIVES);
    ExpectServed(*next);
    EXPECT_TRUE(idle.WaitClosed());
    Stop();
    EXPECT_NE(errors.find("SERVER MSG: Client (127.0.0.1) sent no request for 0.1 s, connection closed.\n"),
              std::string::npos)
        << errors;
}

// A client that keeps asking but never reads its answers: the server's
// sends stall once the socket buffers are full.
TEST_F(ServingLoopTest, ClientThatStopsReadingIsDroppedAndTheNextOneServed)
{
    CServerLimits limits;
    limits.sendMs = 200;
    Start(limits);
    WireEnd stalled;
    ASSERT_TRUE(stalled.Connect(port));
    ASSERT_TRUE(stalled.Send(MSG_EMPTY));
    ASSERT_EQ(stalled.Next(), std::string(MSG_PASSWORD_VALID));
    std::unique_ptr<WireEnd> next = Waiting(MSG_GET_AVAILABLE_DRIVES);

    std::string requests;
    for (int i = 0; i < 1000; ++i)
        requests += FrameMessage(MSG_GET_AVAILABLE_DRIVES);
    size_t offset = 0;
    bool stalledOpen = true;
    std::optional<std::string> answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!answer && std::chrono::steady_clock::now() < deadline) {
        // As many requests as the connection takes now.
        while (stalledOpen) {
            ssize_t sent =
                send(stalled.Socket(), requests.data() + offset, requests.size() - offset, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (sent <= 0) {
                stalledOpen = errno == EAGAIN || errno == EWOULDBLOCK;  // else the server has dropped it
                break;
            }
            offset = (offset + static_cast<size_t>(sent)) % requests.size();
        }
        answer = next->Next(10);
    }
    ASSERT_EQ(answer, std::string(MSG_PASSWORD_VALID));
    EXPECT_EQ(next->Next(), std::string(MSG_ALL_AVAILABLE_DRIVES_SENT));
    next->Send(MSG_DISCONNECT);
    Stop();
    // Said once; the requests still queued are answered into nothing.
    const std::string line = "SERVER MSG: Client (127.0.0.1) took no data for 0.2 s, connection closed.\n";
    size_t at = errors.find(line);
    EXPECT_NE(at, std::string::npos) << errors;
    EXPECT_EQ(errors.find("SERVER MSG:", at + line.size()), std::string::npos) << errors;
}

}  // namespace
