// The dispatch of one received message, with a socket pair standing in for
// the client and two virtual drives behind the controller.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "RequestHandlerTest.h"

namespace {

using RemoteRequestTest = RequestHandlerTest;

TEST_F(RemoteRequestTest, DriveListIsAnsweredForTheTokenInAnyCase)
{
    EXPECT_EQ(Handle("Msg_Get_Available_Drives"), REQUEST_SERVED);
    Messages expected{std::string(app.GetTapeDriveData(0)), std::string(app.GetTapeDriveData(1)),
                      MSG_ALL_AVAILABLE_DRIVES_SENT};
    EXPECT_EQ(peer->Until({MSG_ALL_AVAILABLE_DRIVES_SENT}), expected);
    EXPECT_NE(expected[0], expected[1]);
    EXPECT_NE(expected[0].find("ULTRIUM"), std::string::npos);
}

TEST_F(RemoteRequestTest, DriveDescriptionByIndexInAndOutOfRange)
{
    const std::string first(app.GetTapeDriveData(0));
    const std::string second(app.GetTapeDriveData(1));
    struct Case {
        const char* message;
        std::string reply;
        // clang-format off
    } cases[] = {
        {"MSG_GET_FIRMWARE_VERSION 1", second},
        {"msg_get_firmware_version:0", first},
        {"MSG_GET_FIRMWARE_VERSION", first},
        {"MSG_GET_FIRMWARE_VERSION 7", MSG_EMPTY},
        {"MSG_GET_FIRMWARE_VERSION -1", MSG_EMPTY},
        {"MSG_GET_FIRMWARE_VERSION 99999999999999999999", MSG_EMPTY},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(Handle(c.message), REQUEST_SERVED) << c.message;
        EXPECT_EQ(peer->Next(), c.reply) << c.message;
        EXPECT_TRUE(peer->NothingPending()) << c.message;
    }
    // Not at the start: an ordinary command line, which the parser takes.
    EXPECT_EQ(Handle("show; MSG_GET_FIRMWARE_VERSION 0"), REQUEST_SERVED);
    Messages reply = Reply();
    EXPECT_GT(reply.size(), 2u);
    EXPECT_EQ(reply.back(), MSG_SUCCESSFUL_COMPLETION);
}

TEST_F(RemoteRequestTest, DisconnectInLowerCaseEndsTheConnectionWithoutReply)
{
    EXPECT_EQ(Handle("msg_disconnect"), REQUEST_END_CONNECTION);
    EXPECT_EQ(console.rfind("SERVER MSG: Client (127.0.0.1) disconnected on ", 0), 0u) << console;
    EXPECT_EQ(console.size(), std::strlen("SERVER MSG: Client (127.0.0.1) disconnected on ") + 24 + 2);
    EXPECT_TRUE(peer->NothingPending());
}

TEST_F(RemoteRequestTest, ShutdownStopsTheServerWithoutReply)
{
    EXPECT_EQ(Handle("Shutdown; -nr;"), REQUEST_STOP_SERVER);
    EXPECT_EQ(console, "SERVER MSG: Client request received to shutdown the server\n\n");
    EXPECT_TRUE(peer->NothingPending());
}

TEST_F(RemoteRequestTest, RejectedLineGetsBadParametersAndNothingElse)
{
    for (const char* message : {"bogus;", "MSG_EMPTY", "rwtest; -id:x; -nosuchswitch;"}) {
        EXPECT_EQ(Handle(message), REQUEST_SERVED) << message;
        EXPECT_EQ(Reply(), Messages{MSG_BAD_PARAMETERS}) << message;
        // No help on the server's console either: it would wait for a key.
        EXPECT_EQ(console, "") << message;
    }
}

TEST_F(RemoteRequestTest, ClientMayNotNameDevices)
{
    for (const char* message : {"show; -dev:/dev/nst0;", "rwtest; -id:x; -dev:sim:dat;"}) {
        EXPECT_EQ(Handle(message), REQUEST_SERVED) << message;
        EXPECT_EQ(Reply(), Messages{MSG_BAD_PARAMETERS}) << message;
        EXPECT_TRUE(app.GetDevices().empty());
    }
    EXPECT_EQ(app.GetNumberOfAvailableTapeDrives(), 2);
    EXPECT_EQ(Handle("MSG_GET_FIRMWARE_VERSION 2"), REQUEST_SERVED);
    EXPECT_EQ(peer->Next(), std::string(MSG_EMPTY));
}

TEST_F(RemoteRequestTest, DeliveryMakesALineTwoMessages)
{
    CMsgDelivery delivery;
    delivery.SendMsg("abc", true);
    delivery.SendMsg("def", false);
    delivery.SendMsg("", false);
    EXPECT_EQ(peer->Next(), std::string("abc"));
    EXPECT_EQ(peer->Next(), std::string(NEW_LINE));
    EXPECT_EQ(peer->Next(), std::string("def"));
    EXPECT_EQ(peer->Next(), std::string(MSG_EMPTY));
    EXPECT_TRUE(peer->NothingPending());
}

}  // namespace
