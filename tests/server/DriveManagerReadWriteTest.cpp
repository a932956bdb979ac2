#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Application.h"
#include "FakeDriverInterface.h"
#include "Utility.h"

namespace {

TEST(TestPattern, FillCheckAndClear)
{
    std::vector<unsigned char> block(65536);
    CDriveManager::FillBuffer(block.data(), 65536);
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[255], 0xFF);
    EXPECT_EQ(block[256], 0x00);
    EXPECT_EQ(block[65535], 0xFF);
    EXPECT_TRUE(CDriveManager::CheckBuffer(block.data(), 65536));
    block[40000] ^= 1;
    EXPECT_FALSE(CDriveManager::CheckBuffer(block.data(), 65536));
    EXPECT_TRUE(CDriveManager::CheckBuffer(block.data(), 40000));
    EXPECT_TRUE(CDriveManager::CheckBuffer(block.data(), 0));
    CDriveManager::ClearBuffer(block.data(), 65536);
    EXPECT_FALSE(CDriveManager::CheckBuffer(block.data(), 2));
    EXPECT_TRUE(CDriveManager::CheckBuffer(block.data(), 1));  // byte 0 of the pattern is zero
}

class Compression : public ::testing::Test {
protected:
    Compression() : utility(&app), manager(app)
    {
        drive = manager.Add(0, 0, 0, 7);
        // Header (mode data length 19), then the 16 bytes of page 0Fh with DCE clear.
        manager.fake.modeData = {19, 0x00, 0x10, 0x00, 0x0F, 0x0E, 0x40, 0x80, 0, 0,
                                 0,  0x20, 0,    0,    0,    0x20, 0,    0,    0, 0};
    }

    CApplication app;
    CUtility utility;
    FakeDriveManager manager;
    CTapeDrive* drive;
};

TEST_F(Compression, SwitchingWritesBackThePageWithOnlyDceChanged)
{
    // As a drive that can save the page and holds a write-protected
    // cartridge reports it: PS and WP set.
    manager.fake.modeData[1] = 0x44;
    manager.fake.modeData[2] = 0x90;
    manager.fake.modeData[4] = 0x8F;
    EXPECT_FALSE(manager.IsCompressionOn(drive));
    EXPECT_TRUE(manager.EnableCompression(drive, true));
    // Exactly the mode data sent, as the parameter list and as the data.
    EXPECT_EQ(manager.fake.selectParameterLength, 20);
    ASSERT_EQ(manager.fake.selectData.size(), 20u);
    EXPECT_EQ(manager.fake.selectData[0], 0);     // mode data length, reserved in MODE SELECT
    EXPECT_EQ(manager.fake.selectData[1], 0);     // medium type
    EXPECT_EQ(manager.fake.selectData[2], 0x10);  // WP cleared, buffered mode kept
    EXPECT_EQ(manager.fake.selectData[4], 0x0F);  // PS cleared
    EXPECT_EQ(manager.fake.selectData[6], 0xC0);
    EXPECT_EQ(manager.fake.selectData[7], 0x80);

    manager.fake.modeData[6] = 0xC0;
    EXPECT_TRUE(manager.IsCompressionOn(drive));
    EXPECT_TRUE(manager.EnableCompression(drive, false));
    EXPECT_EQ(manager.fake.selectData[6], 0x40);
}

TEST_F(Compression, StatusReadRetriesSixTimesSilently)
{
    manager.fake.modeData[6] = 0x80;
    manager.fake.modeSenseFailures = 5;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(manager.IsCompressionOn(drive));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    manager.fake.modeSenseFailures = 6;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(manager.IsCompressionOn(drive));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cmd: \"IsCompressionOn\" failed execution.\n");
}

TEST_F(Compression, DriveWithoutCompressionIsNeverAsked)
{
    drive->CompressionAvail(false);
    EXPECT_TRUE(manager.EnableCompression(drive, true));
    EXPECT_FALSE(manager.IsCompressionOn(drive));
    EXPECT_EQ(manager.fake.calls["ModeSensePage"], 0);
    EXPECT_EQ(manager.fake.calls["ModeSelectPage"], 0);
}

TEST_F(Compression, WriteProtectAndTravanCartridgeFromModeData)
{
    manager.fake.modeData = {3, 0, 0x80, 0};
    EXPECT_TRUE(manager.IsTapeWriteProtected(drive));
    EXPECT_TRUE(manager.IsCorrectTapeType(drive));  // not a Travan drive
    CTapeDrive* travan = manager.Add(0, 1, 0, 2);
    manager.fake.modeData = {11, 0, 0, 0, 0x2A, 0x12, 0, 0, 0x01};
    EXPECT_FALSE(manager.IsCorrectTapeType(travan));
    manager.fake.modeData[2] = 0x80;  // a protected cartridge is never refused for its type
    EXPECT_TRUE(manager.IsCorrectTapeType(travan));
    manager.fake.answer = false;  // nothing transferred: not protected
    manager.fake.modeData.clear();
    EXPECT_FALSE(manager.IsTapeWriteProtected(drive));
}

TEST(ReadWriteVerdict, ADriveThatTakesTheSelectButKeepsCompressingFailsTheTest)
{
    CApplication app;
    CUtility utility(&app);
    FakeDriveManager* manager = new FakeDriveManager(app);
    manager->Add(0, 0, 0, 7);
    manager->fake.modeData = {19, 0x00, 0x10, 0x00, 0x0F, 0x0E, 0xC0, 0x80, 0, 0, 0, 0x20, 0, 0, 0, 0x20, 0, 0, 0, 0};
    app.AdoptDriveManager(manager);
    ASSERT_TRUE(utility.SetParameters("rwtest; -id:x; -ts:5; -nr;"));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(app.RunAppl());
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(
        output.find("Issued Cmd: Load Tape.\nFailure on: Disable Compression\nDrive compression is still on.\n \n"),
        std::string::npos)
        << output;
    EXPECT_EQ(manager->fake.calls["WriteDataToDrive"], 0);
}

TEST(ReadWriteVerdict, TheDriveIsHeldForTheWholeTestAndLetGoHoweverItEnds)
{
    for (bool reserved : {true, false}) {
        SCOPED_TRACE(reserved);
        CApplication app;
        CUtility utility(&app);
        FakeDriveManager* manager = new FakeDriveManager(app);
        manager->Add(0, 0, 0, 7);
        manager->fake.answer = reserved;  // refused, every command fails too
        app.AdoptDriveManager(manager);
        ASSERT_TRUE(utility.SetParameters("rwtest; -id:x; -ts:5; -nr;"));
        testing::internal::CaptureStdout();
        EXPECT_FALSE(app.RunAppl());
        const std::string output = testing::internal::GetCapturedStdout();
        EXPECT_EQ(manager->fake.calls["ReserveDrive"], 1);
        EXPECT_EQ(manager->fake.calls["ReleaseDrive"], 1);
        if (!reserved) {
            EXPECT_NE(output.find("Issued Cmd: Test Read-Write.\nFailure on: Reserve Drive\n00/00/00/00/00\n \n"),
                      std::string::npos)
                << output;
            EXPECT_EQ(manager->fake.calls["LoadTape"], 0);
        }
    }
}

// Counts the progress tokens of a test run as the server's drive manager.
int Tokens(const char* line, const char* token)
{
    CApplication app;
    CUtility utility(&app);
    app.ClientServerConnection(true);
    EXPECT_TRUE(utility.SetParameters(line));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(app.RunAppl());
    std::string output = testing::internal::GetCapturedStdout();
    int count = 0;
    for (size_t at = output.find(token); at != std::string::npos; at = output.find(token, at + 1))
        ++count;
    return count;
}

TEST(ProgressTokens, FiftyPerPhaseRoundedUp)
{
    EXPECT_EQ(Tokens("rwtest; -dev:sim:dds4; -id:x;", "MSG_MOVE_WRITE_PROGRESS_BAR\n"), 50);
    EXPECT_EQ(Tokens("rwtest; -dev:sim:dds4; -id:x; -ts:201;", "MSG_MOVE_READ_PROGRESS_BAR\n"), 51);
    EXPECT_EQ(Tokens("rwtest; -dev:sim:dds4; -id:x; -ts:5;", "MSG_MOVE_WRITE_PROGRESS_BAR\n"), 80);
    EXPECT_EQ(Tokens("ctest; -dev:sim:dds4; -id:x;", "MSG_MOVE_READ_PROGRESS_BAR\n"), 50);
}

TEST(ProgressTokens, NoneOnTheLocalConsole)
{
    CApplication app;
    CUtility utility(&app);
    ASSERT_TRUE(utility.SetParameters("rwtest; -dev:sim:dds4; -id:x; -ts:5; -nr;"));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(app.RunAppl());
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("PROGRESS"), std::string::npos);
}

}  // namespace
