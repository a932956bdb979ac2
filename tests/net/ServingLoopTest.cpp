// The serving loop with short bounds: a client that holds the server without
// a password, without requests or without reading is dropped, and the client
// waiting behind it is served. The loop runs on a thread of the test; the
// clients are sockets of the test on 127.0.0.1.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <optional>
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
    const int silentPort = silent.LocalPort();
    std::unique_ptr<WireEnd> next = Waiting(MSG_GET_AVAILABLE_DRIVES);
    ExpectServed(*next);
    EXPECT_TRUE(silent.WaitClosed());
    Stop();
    EXPECT_NE(errors.find("SERVER MSG: Client 127.0.0.1 port " + std::to_string(silentPort) +
                          " sent no password within 0.1 s, connection closed.\n"),
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
    const int idlePort = idle.LocalPort();
    std::unique_ptr<WireEnd> next = Waiting(MSG_GET_AVAILABLE_DRIVES);
    ExpectServed(*next);
    EXPECT_TRUE(idle.WaitClosed());
    Stop();
    EXPECT_NE(errors.find("SERVER MSG: Client 127.0.0.1 port " + std::to_string(idlePort) +
                          " sent no request for 0.1 s, connection closed.\n"),
              std::string::npos)
        << errors;
}

// A client that keeps asking but reads its answers a byte at a time: the
// server's sends stall once the socket buffers are full, and a reply that
// is not taken within the bound in all ends the connection, however many
// bytes trickle out meanwhile.
TEST_F(ServingLoopTest, SlowReaderIsDroppedAtTheReplyBoundAndTheNextOneServed)
{
    CServerLimits limits;
    limits.replyMs = 500;
    Start(limits);
    WireEnd slow;
    ASSERT_TRUE(slow.Connect(port));
    ASSERT_TRUE(slow.Send(MSG_EMPTY));
    ASSERT_EQ(slow.Next(), std::string(MSG_PASSWORD_VALID));
    const int slowPort = slow.LocalPort();
    std::unique_ptr<WireEnd> next = Waiting(MSG_GET_AVAILABLE_DRIVES);

    std::string requests;
    for (int i = 0; i < 1000; ++i)
        requests += FrameMessage(MSG_GET_AVAILABLE_DRIVES);
    size_t offset = 0;
    bool slowOpen = true;
    std::optional<std::string> answer;
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> stalled, dropped;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while ((!answer || slowOpen) && Clock::now() < deadline) {
        // As many requests as the connection takes now, and one byte read.
        while (slowOpen) {
            ssize_t sent =
                send(slow.Socket(), requests.data() + offset, requests.size() - offset, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (sent > 0) {
                offset = (offset + static_cast<size_t>(sent)) % requests.size();
                continue;
            }
            slowOpen = errno == EAGAIN || errno == EWOULDBLOCK;  // else the server has dropped it
            if (slowOpen && !stalled)
                stalled = Clock::now();
            break;
        }
        char byte;
        if (slowOpen) {
            const ssize_t read = recv(slow.Socket(), &byte, 1, MSG_DONTWAIT);
            slowOpen = read > 0 || (read < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
        }
        if (!slowOpen && !dropped)
            dropped = Clock::now();
        if (!answer) {
            answer = next->Next(10);
        } else {
            pollfd readable{slow.Socket(), POLLIN, 0};
            poll(&readable, 1, 10);
        }
    }
    ASSERT_EQ(answer, std::string(MSG_PASSWORD_VALID));
    EXPECT_EQ(next->Next(), std::string(MSG_ALL_AVAILABLE_DRIVES_SENT));
    next->Send(MSG_DISCONNECT);
    Stop();
    ASSERT_TRUE(stalled && dropped) << errors;
    EXPECT_LT(*dropped - *stalled, std::chrono::milliseconds(limits.replyMs + 5000));
    // Said once; the requests still queued are answered into nothing.
    const std::string line = "SERVER MSG: Client 127.0.0.1 port " + std::to_string(slowPort) +
                             " did not take its reply within 0.5 s, connection closed.\n";
    EXPECT_NE(errors.find(line), std::string::npos) << errors;
    EXPECT_EQ(errors.find(line, errors.find(line) + 1), std::string::npos) << errors;
    EXPECT_EQ(errors.find("SERVER MSG: Unable to send data"), std::string::npos) << errors;
}

}  // namespace
