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
    std::string longest(VSTRING_MAX_LENGTH, 'x');
    EXPECT_EQ(FrameMessage(longest.c_str()), "<" + longest + ">");
}

TEST_F(MessageQueueTest, MessageSplitAcrossReceivesIsCompletedByTheNext)
{
    ASSERT_TRUE(Add("<abc><NEW_LINE><de"));
    EXPECT_EQ(queue.Count(), 2);
    EXPECT_TRUE(queue.IsOpen());
    EXPECT_EQ(OpenText(), "de");
    ASSERT_TRUE(Add("f>"));
    EXPECT_FALSE(queue.IsOpen());
    EXPECT_EQ(Drain(), (Messages{"abc", "NEW_LINE", "def"}));
}

TEST_F(MessageQueueTest, OpeningBracketAloneStartsAnEmptyMessage)
{
    ASSERT_TRUE(Add("<"));
    EXPECT_TRUE(queue.IsOpen());
    EXPECT_FALSE(queue.CmdQueueHasItems());
    ASSERT_TRUE(Add("xyz>"));
    EXPECT_EQ(Drain(), (Messages{"xyz"}));

    ASSERT_TRUE(Add("<"));
    ASSERT_TRUE(Add(">"));
    EXPECT_EQ(Drain(), (Messages{""}));
}

TEST_F(MessageQueueTest, JoinedMessagesAreDeliveredOneByOne)
{
    ASSERT_TRUE(Add("<a><b>"));
    char buffer[16] = {};
    queue.GetFirstQueueItem(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "a");
    EXPECT_TRUE(queue.CmdQueueHasItems());
    queue.GetFirstQueueItem(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "b");
    EXPECT_FALSE(queue.CmdQueueHasItems());
}

TEST_F(MessageQueueTest, LineEndOrNulEndsTheParseOfThatReceive)
{
    ASSERT_TRUE(Add("<ab>\n<cd>"));
    EXPECT_EQ(Drain(), (Messages{"ab"}));
    ASSERT_TRUE(Add(std::string("<ef>\0<gh>", 9)));
    EXPECT_EQ(Drain(), (Messages{"ef"}));
    // Cut inside a message: it stays open for the next receive.
    ASSERT_TRUE(Add("<ij\r\nkl>"));
    EXPECT_EQ(OpenText(), "ij");
    ASSERT_TRUE(Add("m>"));
    EXPECT_EQ(Drain(), (Messages{"ijm"}));
}

TEST_F(MessageQueueTest, OpeningBracketWhileOpenRestartsTheMessage)
{
    ASSERT_TRUE(Add("<lost"));
    ASSERT_TRUE(Add("<kept>"));
    EXPECT_EQ(Drain(), (Messages{"kept"}));
    // Inside a text it is an ordinary character.
    ASSERT_TRUE(Add("<a<b>"));
    ASSERT_TRUE(Add("<c"));
    ASSERT_TRUE(Add("d<e>"));
    EXPECT_EQ(Drain(), (Messages{"a<b", "cd<e"}));
}

TEST_F(MessageQueueTest, DataOutsideAMessageIsDiscarded)
{
    EXPECT_TRUE(Add("junk"));
    EXPECT_TRUE(Add(">"));
    EXPECT_TRUE(Add("tail of a lost message>"));
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_FALSE(queue.IsOpen());
    EXPECT_TRUE(Add("junk><ok>>"));
    EXPECT_EQ(Drain(), (Messages{"ok"}));
    EXPECT_FALSE(queue.IsOpen());
}

TEST_F(MessageQueueTest, OpenMessageKeepsItsTextWhenAPieceWouldPassTheLimit)
{
    const std::string start(4000, 'a');
    ASSERT_TRUE(Add("<" + start));
    ASSERT_TRUE(Add(std::string(95, 'b')));
    EXPECT_EQ(OpenText(), start);
    // Up to exactly the limit still fits.
    ASSERT_TRUE(Add(std::string(94, 'c') + ">"));
    EXPECT_EQ(Drain(), (Messages{start + std::string(94, 'c')}));
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

TEST(MessageQueueOverflowTest, LineCarriesTheOwnersPrefix)
{
    CMessageQueue queue("CLIENT MSG: ");
    std::string many;
    for (int i = 0; i < CMessageQueue::CAPACITY; ++i)
        many += "<x>";
    ::testing::internal::CaptureStderr();
    for (size_t at = 0; at < many.size(); at += 3000)
        queue.AddToQueue(many.data() + at, static_cast<int>(std::min<size_t>(3000, many.size() - at)));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(queue.CmdQueueOverflow());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "CLIENT MSG: Cmd Queue overflow, incoming message dropped.\n");
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

TEST_F(MessageQueueTest, ClearForgetsCompleteAndOpenMessages)
{
    ASSERT_TRUE(Add("<a><b"));
    queue.Clear();
    EXPECT_FALSE(queue.CmdQueueHasItems());
    EXPECT_FALSE(queue.IsOpen());
    ASSERT_TRUE(Add("c>"));
    EXPECT_EQ(queue.Count(), 0);
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
    void Write(const std::string& bytes) { ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), (ssize_t)bytes.size()); }

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

TEST_F(ReceiveFromTest, KeepsReceivingUntilAMessageIsComplete)
{
    Write("<par");
    Write("tial");
    Write(" text>");
    ASSERT_EQ(queue.ReceiveFrom(ends[0], buffer, sizeof buffer), CMessageQueue::RECEIVED);
    EXPECT_STREQ(buffer, "partial text");
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

TEST_F(ReceiveFromTest, ReceiveErrorIsReportedAsFailure)
{
    EXPECT_EQ(queue.ReceiveFrom(-1, buffer, sizeof buffer), CMessageQueue::FAILED);
}

}  // namespace
