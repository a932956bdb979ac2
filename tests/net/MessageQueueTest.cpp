// The framing and the receive queue shared by both ends of a connection.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "MessageQueue.h"

namespace {

class MessageQueueTest : public ::testing::Test {
protected:
    bool Add(const std::string& bytes) { return queue.AddToQueue(bytes.data(), static_cast<int>(bytes.size())); }

    // Every complete message, in order.
    std::vector<std::string> Drain()
    {
        std::vector<std::string> messages;
        while (queue.CmdQueueHasItems()) {
            char buffer[VSTRING_BUFFER_SIZE] = {};
            queue.GetFirstQueueItem(buffer, sizeof buffer);
            messages.push_back(buffer);
        }
        return messages;
    }

    std::string OpenText() const { return queue.OpenMessage() ? std::string(*queue.OpenMessage()) : "<none>"; }

    CMessageQueue queue{"SERVER MSG: "};
};

using Messages = std::vector<std::string>;

TEST(FrameMessageTest, FramesTextAndStandsInForEmptyText)
{
    EXPECT_EQ(FrameMessage("abc"), "<abc>");
    EXPECT_EQ(FrameMessage(""), "<MSG_EMPTY>");
    EXPECT_EQ(FrameMessage("").size(), 11u);
    // A line end would end the receiver's parse, so the text stops there.
    EXPECT_EQ(FrameMessage("ab\ncd"), "<ab>");
    EXPECT_EQ(FrameMessage("\r\n"), "<MSG_EMPTY>");
    // Nothing is escaped: a ">" in the text would end the message early.
    EXPECT_EQ(FrameMessage("a>b>"), "<a?b?>");
    EXPECT_EQ(FrameMessage("<x>"), "<<x?>");
    std::string longest(VSTRING_MAX_LENGTH, 'x');
    EXPECT_EQ(FrameMessage(longest.c_str()), "<" + longest + ">");
}

// Each case: the receives in order, and the complete messages they yield.
TEST_F(MessageQueueTest, ReceivesSplitIntoMessages)
{
    const std::string longText(4000, 'a');
    const struct {
        const char* what;
        std::vector<std::string> receives;
        Messages messages;
        // clang-format off
    } cases[] = {
        {"split across receives", {"<abc><NEW_LINE><de", "f>"}, {"abc", "NEW_LINE", "def"}},
        {"bracket alone opens", {"<", "xyz>"}, {"xyz"}},
        {"empty message", {"<", ">"}, {""}},
        {"joined", {"<a><b>"}, {"a", "b"}},
        {"line end between messages is a stray byte", {"<ab>\r\n<cd>"}, {"ab", "cd"}},
        {"NUL between messages is a stray byte", {std::string("<ef>\0<gh>", 9)}, {"ef", "gh"}},
        // A control byte spoils its own message only, however the bytes arrive.
        {"line end inside a message", {"<ij\r\nkl><mn>"}, {"", "mn"}},
        {"control byte in a later piece", {"<ij", std::string("k\0l", 3), "m>", "<n>"}, {"", "n"}},
        {"control byte in a piece past the limit", {"<" + longText, std::string(95, '\x01') + "><o>"}, {"", "o"}},
        {"bracket inside a message is text wherever a receive begins", {"<one", "<two>"}, {"one<two"}},
        {"stray bytes before a message", {"x<a>", "yz", "<b>"}, {"a", "b"}},
        {"bracket inside text", {"<a<b>", "<c", "d<e>"}, {"a<b", "cd<e"}},
        {"data outside a message", {"junk", ">", "tail of a lost message>", "junk><ok>>"}, {"ok"}},
        {"piece past the limit dropped", {"<" + longText, std::string(95, 'b'), std::string(94, 'c') + ">"},
         {longText + std::string(94, 'c')}},
    };
    // clang-format on
    for (const auto& c : cases) {
        for (const std::string& receive : c.receives)
            EXPECT_TRUE(Add(receive)) << c.what;
        EXPECT_FALSE(queue.IsOpen()) << c.what;
        EXPECT_EQ(Drain(), c.messages) << c.what;
    }
}

// Only a request's command word decides what it asks for, in any letter
// case; the text of an argument never does.
TEST(ClassifyRequestTest, TheCommandWordAloneDecides)
{
    const struct {
        const char* message;
        ClientRequest kind;
    } cases[] = {
        {"shutdown", REQUEST_SHUTDOWN},
        {" ShutDown ; -nr;", REQUEST_SHUTDOWN},
        {"msg_shutdown", REQUEST_SHUTDOWN},
        {"shutdowns;", REQUEST_COMMAND_LINE},
        {"logpages; -id:x; -o:shutdown-report.txt;", REQUEST_COMMAND_LINE},
        {"compstatus; -sn:ShutDown;", REQUEST_COMMAND_LINE},
        {"MSG_DISCONNECT sHuTdOwN", REQUEST_COMMAND_LINE},
        {"msg_disconnect", REQUEST_DISCONNECT},
        {"show; -o:MSG_DISCONNECT.txt;", REQUEST_COMMAND_LINE},
        {"Msg_Get_Available_Drives", REQUEST_DRIVE_LIST},
        {"show; -sn:MSG_GET_AVAILABLE_DRIVES;", REQUEST_COMMAND_LINE},
        {"msg_get_firmware_version:1", REQUEST_DRIVE_DESCRIPTION},
        {"show; MSG_GET_FIRMWARE_VERSION 0", REQUEST_COMMAND_LINE},
        {"", REQUEST_COMMAND_LINE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClassifyRequest(c.message), c.kind) << c.message;
}

TEST_F(MessageQueueTest, FullQueueRefusesFurtherDataWithTheOverflowLine)
{
    std::string hundred;
    for (int i = 0; i < 100; ++i)
        hundred += "<m>";
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(Add(hundred));
    for (int i = 0; i < 95; ++i)
        ASSERT_TRUE(Add("<m>"));
    ASSERT_EQ(queue.Count(), 4095);

    ::testing::internal::CaptureStderr();
    // The last slot takes one message; the rest of that receive is dropped.
    EXPECT_FALSE(Add("<last><dropped>"));
    EXPECT_FALSE(Add("<more>"));
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors, "SERVER MSG: Cmd Queue overflow, incoming message dropped.\n"
                      "SERVER MSG: Cmd Queue overflow, incoming message dropped.\n");
    EXPECT_EQ(queue.Count(), 4096);
    Messages messages = Drain();
    ASSERT_EQ(messages.size(), 4096u);
    EXPECT_EQ(messages.back(), "last");
}

TEST_F(MessageQueueTest, TakingAMessageCutsToTheBufferAndMovesTheOpenOneDown)
{
    char untouched[8] = "keep";
    queue.GetFirstQueueItem(untouched, sizeof untouched);
    EXPECT_STREQ(untouched, "keep");

    ASSERT_TRUE(Add("<abcdef><gh"));
    char small[4] = {};
    queue.GetFirstQueueItem(small, sizeof small);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(OpenText(), "gh");
    ASSERT_TRUE(Add("i>"));
    EXPECT_EQ(Drain(), (Messages{"ghi"}));
}

// Receiving from a socket: queued messages first, then as many receives as
// a message needs.
class ReceiveFromTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        // A wrong implementation that receives when it should not fails the
        // test instead of hanging it.
        timeval limit{5, 0};
        setsockopt(ends[0], SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    void TearDown() override
    {
        for (int end : ends) {
            if (end >= 0)
                close(end);
        }
    }
    void Write(const std::string& bytes)
    {
        ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), (ssize_t)bytes.size());
    }

    int ends[2] = {-1, -1};
    CMessageQueue queue{"SERVER MSG: "};
    char buffer[VSTRING_BUFFER_SIZE];
};

TEST_F(ReceiveFromTest, DeliversQueuedMessagesBeforeReceivingAgain)
{
    Write("<abc><NEW_LINE><de");
    ASSERT_EQ(queue.ReceiveFrom(ends[0], buffer, sizeof buffer), CMessageQueue::RECEIVED);
    EXPECT_STREQ(buffer, "abc");
    ASSERT_EQ(queue.ReceiveFrom(ends[0], buffer, sizeof buffer), CMessageQueue::RECEIVED);
    EXPECT_STREQ(buffer, "NEW_LINE");
    Write("f>");
    ASSERT_EQ(queue.ReceiveFrom(ends[0], buffer, sizeof buffer), CMessageQueue::RECEIVED);
    EXPECT_STREQ(buffer, "def");
}

TEST_F(ReceiveFromTest, PeerClosingEndsTheReceiveWithAnEmptyBuffer)
{
    Write("<unfinished");
    close(ends[1]);
    ends[1] = -1;
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(queue.ReceiveFrom(ends[0], buffer, sizeof buffer), CMessageQueue::CLOSED);
    EXPECT_EQ(buffer[0], '\0');
}

}  // namespace
