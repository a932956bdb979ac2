// The server endpoint: sending, the password exchange, acceptance.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FakeClock.h"
#include "NetTestSupport.h"
#include "NetworkServer.h"

namespace {

// The server's end of a socket pair, with the client's end as a peer.
class ServerSendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        serverEnd = ends[0];
        peer = std::make_unique<WireEnd>(ends[1]);
    }
    void TearDown() override { close(serverEnd); }
    int ServerEnd() const { return serverEnd; }

    int serverEnd = -1;
    std::unique_ptr<WireEnd> peer;
    CNetworkServer server{"", 0, "127.0.0.1"};
};

TEST_F(ServerSendTest, EachTextGoesOutFramedAndEmptyTextAsToken)
{
    EXPECT_EQ(server.SendMsg(ServerEnd(), "abc", 0), 1);
    EXPECT_EQ(server.SendMsg(ServerEnd(), "", 0), 1);
    EXPECT_EQ(server.SendMsg(ServerEnd(), "x\ny", 0), 1);
    char raw[64] = {};
    ASSERT_EQ(recv(peer->Socket(), raw, sizeof raw - 1, 0), 19);
    EXPECT_STREQ(raw, "<abc><MSG_EMPTY><x>");
}

TEST_F(ServerSendTest, ClientThatHasGoneIsReportedOnceAndDoesNotKillTheServer)
{
    // Default SIGPIPE handling, as in a process that forgot to ignore it:
    // only the send flags keep this test process alive.
    struct sigaction previous {};
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &fallback, &previous);

    peer->Close();
    ::testing::internal::CaptureStderr();
    int results = 0;
    for (int i = 0; i < 5; ++i)
        results += server.SendMsg(ServerEnd(), "line", 0);
    std::string errors = ::testing::internal::GetCapturedStderr();
    sigaction(SIGPIPE, &previous, nullptr);

    EXPECT_EQ(results, 0);
    EXPECT_EQ(errors, "SERVER MSG: Unable to send data to the client.\n");
}

// Sends that a signal interrupts midway must still put every message on the
// wire whole and in order.
TEST_F(ServerSendTest, InterruptedSendsStillDeliverWholeMessages)
{
    int small = 2048;
    setsockopt(ServerEnd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

    struct sigaction quiet {};
    quiet.sa_handler = [](int) {};
    quiet.sa_flags = 0;  // no restart: a blocked send returns early
    struct sigaction previous {};
    sigaction(SIGALRM, &quiet, &previous);
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    // Only the sending thread takes the alarms.
    pthread_sigmask(SIG_BLOCK, &alarm, nullptr);

    const int count = 40;
    std::atomic<int> sent{0};
    std::thread sender([&] {
        pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
        for (int i = 0; i < count; ++i) {
            std::string text(VSTRING_MAX_LENGTH, static_cast<char>('a' + i % 26));
            sent += server.SendMsg(ServerEnd(), text.c_str(), 0);
        }
    });
    peer->SetReadChunk(64);
    itimerval often{{0, 100}, {0, 100}};
    setitimer(ITIMER_REAL, &often, nullptr);

    int received = 0;
    for (; received < count; ++received) {
        std::optional<std::string> message = peer->Next(5000);
        if (!message)
            break;
        EXPECT_EQ(*message, std::string(VSTRING_MAX_LENGTH, static_cast<char>('a' + received % 26)));
    }
    sender.join();
    itimerval stop{};
    setitimer(ITIMER_REAL, &stop, nullptr);
    // An alarm still pending must meet the quiet handler, not the default
    // action, which would end the test program.
    pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
    sigaction(SIGALRM, &previous, nullptr);

    EXPECT_EQ(received, count);
    EXPECT_EQ(sent.load(), count);
}

TEST_F(ServerSendTest, PasswordMustMatchExactly)
{
    CNetworkServer open{"", 0, "127.0.0.1"};
    EXPECT_TRUE(open.CheckPassword(ServerEnd(), MSG_EMPTY));
    EXPECT_EQ(peer->Next(), std::string(MSG_PASSWORD_VALID));
    EXPECT_FALSE(open.CheckPassword(ServerEnd(), "anything"));
    EXPECT_EQ(peer->Next(), std::string(MSG_PASSWORD_INVALID));

    CNetworkServer guarded{"s", 0, "127.0.0.1"};
    EXPECT_FALSE(guarded.CheckPassword(ServerEnd(), MSG_EMPTY));
    EXPECT_EQ(peer->Next(), std::string(MSG_PASSWORD_INVALID));
    EXPECT_FALSE(guarded.CheckPassword(ServerEnd(), "S"));
    EXPECT_EQ(peer->Next(), std::string(MSG_PASSWORD_INVALID));
    EXPECT_TRUE(guarded.CheckPassword(ServerEnd(), "s"));
    EXPECT_EQ(peer->Next(), std::string(MSG_PASSWORD_VALID));

    // The comparison runs over the whole length: a prefix, an extension or
    // one wrong last character is no match.
    CNetworkServer longer{"secret", 0, "127.0.0.1"};
    for (const char* wrong : {"secre", "secrets", "secreT", "", "xsecret"}) {
        EXPECT_FALSE(longer.CheckPassword(ServerEnd(), wrong)) << wrong;
        EXPECT_EQ(peer->Next(), std::string(MSG_PASSWORD_INVALID)) << wrong;
    }
    EXPECT_TRUE(longer.CheckPassword(ServerEnd(), "secret"));
    EXPECT_EQ(peer->Next(), std::string(MSG_PASSWORD_VALID));
}

// Each failure to prepare is said in the line of its step and a line with
// the reason.
TEST(NetworkServerTest, PreparationThatFailsSaysWhy)
{
    LoopbackListener taken;
    const struct {
        const char* address;
        int port;
        std::string errors;
    } cases[] = {
        {"192.0.2.1", 0,
         "SERVER MSG: Failed to bind communications socket.\n"
         "SERVER MSG: 192.0.2.1 port 0: Cannot assign requested address.\n"},
        {"127.0.0.1", taken.Port(),
         "SERVER MSG: Failed to bind communications socket.\n"
         "SERVER MSG: 127.0.0.1 port " +
             std::to_string(taken.Port()) + ": Address already in use.\n"},
    };
    for (const auto& c : cases) {
        CNetworkServer server("", c.port, c.address);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(server.PrepareToAcceptClient()) << c.address;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), std::string("Host IP Address: ") + c.address + "\n");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.errors);
    }
}

TEST(RefusalsTest, AnAddressIsShutOutLongerWithEachRefusalInARow)
{
    CFakeClock clock;
    CFakeClockScope scope(clock);
    CServerLimits limits;
    CRefusals refusals(limits);
    std::vector<long> pauses;
    for (int i = 0; i < 7; ++i) {
        pauses.push_back(refusals.Refuse("192.0.2.7"));
        clock.Advance(pauses.back());
    }
    EXPECT_EQ(pauses, (std::vector<long>{1, 2, 4, 8, 16, 30, 30}));
    EXPECT_EQ(refusals.ShutOutFor("192.0.2.7"), 0);
    EXPECT_EQ(refusals.Refuse("192.0.2.7"), 30);
    clock.Advance(10);
    EXPECT_EQ(refusals.ShutOutFor("192.0.2.7"), 20);
    EXPECT_EQ(refusals.ShutOutFor("192.0.2.8"), 0);

    // A good password forgets; so does a quiet spell as long as the longest pause.
    refusals.Forgive("192.0.2.7");
    EXPECT_EQ(refusals.ShutOutFor("192.0.2.7"), 0);
    EXPECT_EQ(refusals.Refuse("192.0.2.7"), 1);
    EXPECT_EQ(refusals.Refuse("192.0.2.7"), 2);
    clock.Advance(2 + 30);
    EXPECT_EQ(refusals.Refuse("192.0.2.7"), 1);

    // A stranger with many addresses makes the server hold only so many.
    for (int i = 0; i < CRefusals::CAPACITY + 100; ++i)
        refusals.Refuse("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256));
    EXPECT_EQ(refusals.Tracked(), CRefusals::CAPACITY);
}

// Acceptance over real TCP on the loopback address. The kernel completes a
// connection in the listen backlog, so the test connects and sends before
// Accept runs, all on one thread.
class AcceptTest : public ::testing::Test {
protected:
    void Prepare(const char* password, const CServerLimits& limits = CServerLimits())
    {
        server.reset(new CNetworkServer(password, 0, "127.0.0.1", limits));
        ::testing::internal::CaptureStdout();
        ASSERT_TRUE(server->PrepareToAcceptClient());
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Host IP Address: 127.0.0.1\n");
        port = server->GetBoundPort();
        ASSERT_GT(port, 0);
    }
    int AcceptQuietly(sockaddr_storage* client, std::string* out = nullptr, std::string* errors = nullptr)
    {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        int socket = server->Accept(client);
        std::string o = ::testing::internal::GetCapturedStdout();
        std::string e = ::testing::internal::GetCapturedStderr();
        if (out)
            *out = o;
        if (errors)
            *errors = e;
        return socket;
    }

    std::unique_ptr<CNetworkServer> server;
    int port = 0;
};

// Messages one client left in the queue must not be read as the next
// client's password (or requests).
TEST_F(AcceptTest, NextClientStartsWithAnEmptyQueue)
{
    Prepare("");
    WireEnd first;
    ASSERT_TRUE(first.Connect(port));
    ASSERT_TRUE(first.SendRaw("<MSG_EMPTY><left over><half"));
    sockaddr_storage client{};
    int socket = AcceptQuietly(&client);
    ASSERT_GE(socket, 0);
    EXPECT_EQ(first.Next(), std::string(MSG_PASSWORD_VALID));
    close(socket);
    first.Close();

    WireEnd second;
    ASSERT_TRUE(second.Connect(port));
    ASSERT_TRUE(second.Send(MSG_EMPTY));
    ASSERT_TRUE(second.Send("request"));
    socket = AcceptQuietly(&client);
    ASSERT_GE(socket, 0);
    EXPECT_EQ(second.Next(), std::string(MSG_PASSWORD_VALID));
    char buffer[VSTRING_BUFFER_SIZE];
    ASSERT_EQ(server->ReceiveMsg(socket, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "request");
    close(socket);
}

// A send failure on one connection must not silence the next one, even
// when it gets the same descriptor number.
TEST_F(AcceptTest, SendFailureOnOneConnectionDoesNotSilenceTheNext)
{
    Prepare("");
    WireEnd first;
    ASSERT_TRUE(first.Connect(port));
    ASSERT_TRUE(first.Send(MSG_EMPTY));
    sockaddr_storage client{};
    int socket = AcceptQuietly(&client);
    ASSERT_GE(socket, 0);
    first.Close();
    ::testing::internal::CaptureStderr();
    // The first send after the peer left may still be taken by the kernel.
    for (int i = 0; i < 100 && server->SendMsg(socket, "lost", 0) == 1; ++i) {
    }
    ::testing::internal::GetCapturedStderr();
    close(socket);

    WireEnd second;
    ASSERT_TRUE(second.Connect(port));
    ASSERT_TRUE(second.Send(MSG_EMPTY));
    socket = AcceptQuietly(&client);
    ASSERT_GE(socket, 0);
    EXPECT_EQ(second.Next(), std::string(MSG_PASSWORD_VALID));
    EXPECT_EQ(server->SendMsg(socket, "heard", 0), 1);
    EXPECT_EQ(second.Next(), std::string("heard"));
    close(socket);
}

// A guesser's address is shut out after a wrong password; its connections
// are closed at once, and every other address is served as usual. Nobody
// waits for a pause.
TEST_F(AcceptTest, AGuesserIsShutOutAndEveryoneElseServed)
{
    CFakeClock clock;
    CFakeClockScope scope(clock);
    Prepare("s");
    struct Attempt {
        std::string peer;  // as the record names it
        bool served;
        std::string answer;
        std::string record;
    };
    auto attempt = [&](const char* from, const char* password) {
        WireEnd end;
        EXPECT_TRUE(end.Connect(port, "127.0.0.1", from));
        EXPECT_TRUE(end.Send(password));
        sockaddr_storage client{};
        Attempt result{std::string(from) + " port " + std::to_string(end.LocalPort()), false, "", ""};
        int socket = AcceptQuietly(&client, nullptr, &result.record);
        result.served = socket >= 0;
        if (socket >= 0)
            close(socket);
        result.answer = end.Next(1000).value_or("nothing");
        return result;
    };

    Attempt guess = attempt("127.0.0.2", "S");
    EXPECT_FALSE(guess.served);
    EXPECT_EQ(guess.answer, MSG_PASSWORD_INVALID);
    EXPECT_EQ(guess.record, "SERVER MSG: Client " + guess.peer +
                                " connected.\nSERVER MSG: Client sent invalid password, connection refused.\n"
                                "SERVER MSG: Client " +
                                guess.peer +
                                " sent a wrong password, 1 in a row from its address, which is shut out for 1 s.\n");
    Attempt shutOut = attempt("127.0.0.2", "s");
    EXPECT_FALSE(shutOut.served);
    EXPECT_EQ(shutOut.answer, "nothing");
    EXPECT_NE(shutOut.record.find("SERVER MSG: Client " + shutOut.peer +
                                  " closed at once: its address is shut out for 1 s more after 1 refused password.\n"),
              std::string::npos)
        << shutOut.record;
    EXPECT_TRUE(attempt("127.0.0.1", "s").served);
    clock.Advance(1);
    EXPECT_TRUE(attempt("127.0.0.2", "s").served);
    EXPECT_TRUE(clock.Sleeps().empty());
}

// Only a password sent and wrong counts: leaving or falling silent before
// sending one shuts nobody out.
TEST_F(AcceptTest, NoPasswordSentIsNoRefusal)
{
    CServerLimits limits;
    limits.passwordMs = 100;
    Prepare("s", limits);
    sockaddr_storage client{};
    std::string errors;
    WireEnd leaving;
    ASSERT_TRUE(leaving.Connect(port));
    leaving.Close();
    EXPECT_EQ(AcceptQuietly(&client, nullptr, &errors), -1);
    EXPECT_NE(errors.find(" left before sending a password.\n"), std::string::npos) << errors;
    WireEnd silent;
    ASSERT_TRUE(silent.Connect(port));
    ASSERT_TRUE(silent.SendRaw("<s"));
    EXPECT_EQ(AcceptQuietly(&client, nullptr, &errors), -1);
    EXPECT_NE(errors.find(" sent no password within 0.1 s, connection closed.\n"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("invalid password"), std::string::npos) << errors;

    WireEnd good;
    ASSERT_TRUE(good.Connect(port));
    ASSERT_TRUE(good.Send("s"));
    int socket = AcceptQuietly(&client);
    EXPECT_GE(socket, 0);
    EXPECT_EQ(good.Next(), std::string(MSG_PASSWORD_VALID));
    close(socket);
}

TEST_F(AcceptTest, ResetConnectionEndsTheReceiveWithItsLine)
{
    Prepare("");
    sockaddr_storage client{};
    char buffer[VSTRING_BUFFER_SIZE];
    WireEnd resetting;
    ASSERT_TRUE(resetting.Connect(port));
    ASSERT_TRUE(resetting.Send(MSG_EMPTY));
    int socket = AcceptQuietly(&client);
    ASSERT_GE(socket, 0);
    ASSERT_EQ(resetting.Next(), std::string(MSG_PASSWORD_VALID));
    linger drop{1, 0};
    setsockopt(resetting.Socket(), SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
    resetting.Close();  // a reset, not an orderly end
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(server->ReceiveMsg(socket, buffer, sizeof buffer), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "SERVER MSG: Unable to receive data from client.\n");
    close(socket);
}

}  // namespace
