// The firmware upgrade from a remote client: the serving loop runs in a
// thread of this process under a fake clock, so the upgrade's pauses take no
// time, and the real client program connects to it on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "ControllerRun.h"
#include "FakeClock.h"
#include "FirmwareImage.h"
#include "MsgDelivery.h"
#include "NetTestSupport.h"
#include "NetworkServer.h"
#include "ServerMode.h"

namespace {

using Lines = std::vector<std::string>;

std::vector<unsigned char> UltriumImage(const std::string& level)
{
    CFirmwareImage image;
    image.family = "ultrium";
    image.level = level;
    image.size = 32768;
    image.pageC0 = {{30, level + "-5RC4"}};
    image.pageC1 = {{30, "BOOT 1.2"}};
    return MakeFirmwareImage(image);
}

// A server for one virtual Ultrium drive, its files confined to `directory`
// as for remote clients, serving in a thread until a client stops it.
class CServingThread {
public:
    CServingThread(const std::string& directory) : m_port(FreeLoopbackPort()), m_server("", m_port, "127.0.0.1")
    {
        m_app.ClientServerConnection(true);
        m_app.AddDevice("sim:ultrium");
        ::testing::internal::CaptureStdout();
        m_app.CreateDriveManager();
        ::testing::internal::GetCapturedStdout();
        m_app.Files().ConfineTo(directory.c_str());
        m_ready = m_server.PrepareToAcceptClient();
        if (m_ready)
            m_thread = std::thread([this] { ServeClients(&m_utility, m_server); });
    }

    // Stops the serving loop however the test went.
    ~CServingThread()
    {
        if (m_thread.joinable()) {
            WireEnd stopper;
            if (stopper.Connect(m_port) && stopper.Send(MSG_EMPTY))
                stopper.Send(MSG_SHUTDOWN);
            m_thread.join();
        }
        CMsgDelivery::SetNetworkCommunication(nullptr, -1);
    }

    bool Ready() const { return m_ready; }
    int Port() const { return m_port; }

private:
    int m_port;
    CApplication m_app;
    CUtility m_utility{&m_app};
    CNetworkServer m_server;
    bool m_ready = false;
    std::thread m_thread;
};

Lines WithoutTimeStamps(Lines lines)
{
    for (std::string& line : lines) {
        if (IsTimeStamp(line))
            line = TIME_STAMP;
    }
    return lines;
}

TEST(RemoteUpgrade, TheClientShowsWhatALocalRunShowsAndTheServerSendsTheUpgradeToken)
{
    CFakeClock clock;
    CFakeClockScope clockScope(clock);
    CScratchDirectory files;
    const std::string newer = "u120B-fw.bin";
    files.Write(newer, UltriumImage("120B"));
    files.Write("u121C-fw.bin", UltriumImage("121C"));

    // The same upgrade run locally first: while the server serves, every
    // output line of this process goes to its client.
    CApplication local;
    CUtility parser(&local);
    const CCommandOutput expected =
        RunCommandLine(local, parser, "upgrade -dev:sim:ultrium -id:x -f:" + files.path + "/" + newer);
    ASSERT_TRUE(expected.result);
    ASSERT_EQ(expected.lines.back(), "Firmware Version 120B installed.");

    CServingThread serving(files.path);
    ASSERT_TRUE(serving.Ready());
    ChildProcess client(TAPEDIAG_CLIENT_BIN, {"upgrade", "-id:x", "-f:" + newer, "-nr", "-ip:127.0.0.1",
                                              "-cp:" + std::to_string(serving.Port())});
    EXPECT_EQ(client.Finish(60000), 1) << client.Errors();
    EXPECT_EQ(WithoutTimeStamps(client.OutputLines()), expected.lines);
    EXPECT_EQ(client.Errors(), "");

    // The completion tokens on the wire: the upgrade's own after a success.
    WireEnd wire;
    ASSERT_TRUE(wire.Connect(serving.Port()));
    ASSERT_TRUE(wire.Send(MSG_EMPTY));
    ASSERT_EQ(wire.Next(), std::string(MSG_PASSWORD_VALID));
    const std::vector<std::string> tokens = {MSG_SUCCESSFUL_COMPLETION, MSG_UNSUCCESSFUL_COMPLETION,
                                             MSG_SUCCESSFUL_FIRMWARE_UPGRADE, MSG_BAD_PARAMETERS};
    struct Step {
        const char* command;
        const char* token;
        const char* lastLine;
    } steps[] = {
        {"upgrade;-id:x;-f:u121C-fw.bin;", MSG_SUCCESSFUL_FIRMWARE_UPGRADE, "Firmware Version 121C installed."},
        {"upgrade;-id:x;-f:u120B-fw.bin;", MSG_UNSUCCESSFUL_COMPLETION, " "},
        {"show;", MSG_SUCCESSFUL_COMPLETION, " "},
        // A client names images in the server's directory only.
        {nullptr, MSG_BAD_PARAMETERS, nullptr},
    };
    const std::string elsewhere = "upgrade;-id:x;-f:" + files.path + "/u121C-fw.bin;";
    for (const Step& step : steps) {
        const std::string command = step.command != nullptr ? step.command : elsewhere;
        SCOPED_TRACE(command);
        ASSERT_TRUE(wire.Send(command));
        std::vector<std::string> reply = wire.Until(tokens);
        ASSERT_FALSE(reply.empty());
        EXPECT_EQ(reply.back(), step.token);
        reply.pop_back();
        const Lines lines = JoinLines(reply);
        if (step.lastLine == nullptr) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), step.lastLine);
    }
    // An upgrade that fails ends the client with status 0.
    wire.Close();  // one client at a time
    ChildProcess refused(TAPEDIAG_CLIENT_BIN, {"upgrade", "-id:x", "-f:" + newer, "-nr", "-ip:127.0.0.1",
                                               "-cp:" + std::to_string(serving.Port())});
    EXPECT_EQ(refused.Finish(60000), 0);
    const Lines refusal = refused.OutputLines();
    ASSERT_GE(refusal.size(), 2u);
    EXPECT_EQ(refusal[refusal.size() - 2], "Current firmware level is newer or the same as the one to be installed.");

    // Three upgrades paused 15 s each, on the fake clock.
    EXPECT_EQ(clock.Sleeps(), (std::vector<long>{15, 15, 15}));
}

}  // namespace
