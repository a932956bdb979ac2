// logpages, get and the capture commands from the client program: what a
// remote user sees is what a local run shows, a capture lands in the
// server's directory as the drive holds it, and a capture named outside
// that directory is refused with nothing written.
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ServerProcess.h"
#include "VirtualDrive.h"
#include "VirtualDriveBuffer.h"

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;

class RemoteCapture : public ServerProcessTest {
protected:
    std::unique_ptr<ChildProcess> RunClient(std::vector<std::string> args)
    {
        args.insert(args.end(), {"-nr", "-ip:127.0.0.1", "-cp:" + std::to_string(port)});
        return std::make_unique<ChildProcess>(TAPEDIAG_CLIENT_BIN, args);
    }
};

// A local run's lines after the start-up lines, for comparison with a
// remote run of the same command on the same kind of drive.
Lines LocalLines(std::vector<std::string> args)
{
    args.push_back("-nr");
    ChildProcess local(TAPEDIAG_BIN, args);
    EXPECT_EQ(local.Finish(60000), 1);
    Lines lines = local.OutputLines();
    EXPECT_GE(lines.size(), 2u);
    if (lines.size() >= 2)
        lines.erase(lines.begin(), lines.begin() + 2);
    return lines;
}

Bytes FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(RemoteCapture, LogPagesAndSettingsShowWhatALocalRunShows)
{
    StartServer();
    for (const Lines& command :
         {Lines{"logpages", "-id:x"}, Lines{"get", "-speed", "-compdefault", "-load", "-id:x"}}) {
        SCOPED_TRACE(command[0]);
        Lines localArgs = command;
        localArgs.push_back("-dev:sim:ultrium");
        const Lines expected = LocalLines(localArgs);
        std::unique_ptr<ChildProcess> client = RunClient(command);
        EXPECT_EQ(client->Finish(60000), 1) << client->Errors();
        const Lines shown = client->OutputLines();
        ASSERT_EQ(shown.size(), expected.size()) << client->Output();
        ASSERT_GT(shown.size(), 8u);
        EXPECT_EQ(shown[0].size(), 24u) << "the time stamp of each run";
        for (size_t i = 1; i < expected.size(); ++i)
            EXPECT_EQ(shown[i], expected[i]) << i;
    }
    EXPECT_EQ(StopServer(), 1);
}

TEST_F(RemoteCapture, CaptureLandsInTheServersDirectoryAsTheDriveHoldsIt)
{
    ScratchDirectory served;
    StartServer({"-dir:" + served.path, "-dev:sim:ultrium,firmware=R128"});
    std::unique_ptr<ChildProcess> client = RunClient({"eeprom", "-id:x", "-f:eeprom.bin"});
    EXPECT_EQ(client->Finish(60000), 1) << client->Output();
    EXPECT_NE(client->Output().find("EEPROM data successfully retrieved."), std::string::npos);
    EXPECT_EQ(FileBytes(served / "eeprom.bin"), DriveBuffer("ultrium", 0x01, 0x55, 8192));

    client = RunClient({"trace", "-getByIndex:2", "-f:trace.bin"});
    EXPECT_EQ(client->Finish(60000), 1) << client->Output();
    Bytes trace = DriveBuffer("ultrium", 0x04, 0x07, 40000);
    trace.resize(49152, 0);
    EXPECT_EQ(FileBytes(served / "trace.bin"), trace);

    // A failed capture is a failure for the client too, and writes nothing.
    client = RunClient({"cmemory", "-getByIndex:1", "-f:memory.bin"});
    EXPECT_EQ(client->Finish(60000), 0);
    EXPECT_NE(client->Output().find("This command is only available for use with the Nivra Ultrium drive."),
              std::string::npos);
    EXPECT_EQ(served.Names(), (Lines{"eeprom.bin", "trace.bin"}));
    EXPECT_EQ(StopServer(), 1);
}

TEST_F(RemoteCapture, CaptureNamedOutsideTheServersDirectoryIsRefused)
{
    ScratchDirectory served, outside;
    StartServer({"-dir:" + served.path});
    for (const std::string& name :
         {outside / "eeprom.bin", std::string("../eeprom.bin"), std::string("sub/eeprom.bin")}) {
        SCOPED_TRACE(name);
        std::unique_ptr<ChildProcess> client = RunClient({"eeprom", "-id:x", "-f:" + name});
        EXPECT_EQ(client->Finish(60000), 0);
        EXPECT_EQ(client->Output().find("EEPROM data"), std::string::npos) << "the command never ran";
    }
    EXPECT_TRUE(served.Names().empty());
    EXPECT_TRUE(outside.Names().empty());
    EXPECT_EQ(StopServer(), 1);
}

}  // namespace
