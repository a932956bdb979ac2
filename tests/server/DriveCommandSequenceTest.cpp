// What retension, self-test, eject and the firmware upgrade send to a drive,
// command by command: a virtual drive behind a tap that records each command
// before the drive answers it.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ControllerRun.h"
#include "DriveManager.h"
#include "FakeClock.h"
#include "FirmwareImage.h"
#include "LinuxDriveManager.h"
#include "RecordingPassThrough.h"
#include "SimPassThrough.h"
#include "Timeouts.h"

namespace {

const int BLOCK = 8192;

class DriveCommands : public ::testing::Test {
protected:
    // Discovers the virtual drive `device` behind the tap, then forgets what
    // discovery sent.
    void Attach(const std::string& device)
    {
        DeviceOpenFunction open = [this](const char* spec, CVString& error) {
            COpenedDevice opened;
            std::unique_ptr<CSimPassThrough> drive = CSimPassThrough::Open(spec + 4, error);
            if (drive)
                opened.device = std::make_unique<CTappedPassThrough>(std::move(drive), sent);
            return opened;
        };
        ::testing::internal::CaptureStdout();
        app.AdoptDriveManager(new CLinuxDriveManager(app, {CVString(device.c_str())}, CHostPaths(), open));
        ::testing::internal::GetCapturedStdout();
        ASSERT_EQ(app.GetDriveManager()->GetDriveList()->GetCount(), 1);
        sent.clear();
    }

    CCommandOutput Run(const std::string& line) { return RunCommandLine(app, utility, line + " -id:x"); }

    std::vector<CCmd> Shapes() const
    {
        std::vector<CCmd> shapes;
        for (const CRecordedCommand& command : sent)
            shapes.push_back(Shape(command));
        return shapes;
    }

    CFakeClock clock;
    CFakeClockScope clockScope{clock};
    CApplication app;
    CUtility utility{&app};
    CScratchDirectory files;
    std::vector<CRecordedCommand> sent;
};

const CCmd UNIT_READY = {{0x00, 0, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, UNIT_READY_TIMEOUT_SECONDS};
const CCmd INQUIRY = {{0x12, 0, 0, 0, 0x24, 0}, SCSI_DIR_IN, 36, 60};
const CCmd READ_POSITION = {{0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SCSI_DIR_IN, 20, DATA_TRANSFER_TIMEOUT_SECONDS};
const CCmd UNLOAD = {{0x1B, 0, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, LONG_OPERATION_TIMEOUT_SECONDS};

TEST_F(DriveCommands, RetensionLoadsWithTheRetensionBitAfterTwoUnitReadyChecks)
{
    Attach("sim:ultrium");
    EXPECT_TRUE(Run("retension").result);
    EXPECT_EQ(Shapes(), (std::vector<CCmd>{UNIT_READY,
                                           UNIT_READY,
                                           {{0x1B, 0, 0, 0, 0x03, 0}, SCSI_DIR_NONE, 0, LONG_OPERATION_TIMEOUT_SECONDS},
                                           READ_POSITION}));
}

TEST_F(DriveCommands, ADriveBecomingReadyIsWaitedForAMinuteInAll)
{
    const std::string notReady = "Please wait: Unit is in the process of becoming ready.";
    struct Row {
        const char* device;
        const char* command;
        std::string said;
        size_t unitReadies;
        size_t pauses;  // of a second each
    } const rows[] = {
        // Three tries at once, then one a second; the second check finds
        // the drive ready.
        {"sim:ultrium,becoming-ready=4", "retension", "Tape retension complete.", 6, 2},
        // The first check waits a minute, the second one does not again.
        {"sim:ultrium,becoming-ready", "retension", notReady, 3 + 60 + 3, 60},
        {"sim:ultrium,becoming-ready", "rwtest", notReady, 3 + 60 + 3, 60},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.command) + " on " + row.device);
        Attach(row.device);
        const size_t pausesBefore = clock.Sleeps().size();
        const CCommandOutput run = Run(row.command);
        ASSERT_GE(run.lines.size(), 2u);
        EXPECT_EQ(run.lines[run.lines.size() - 2], row.said);
        const std::vector<CCmd> shapes = Shapes();
        EXPECT_EQ(static_cast<size_t>(std::count(shapes.begin(), shapes.end(), UNIT_READY)), row.unitReadies);
        EXPECT_EQ(clock.Sleeps().size() - pausesBefore, row.pauses);
    }
}

TEST_F(DriveCommands, RetensionOnADriveThatCannotDoItSendsNothing)
{
    Attach("sim:dds4");
    EXPECT_FALSE(Run("retension").result);
    EXPECT_TRUE(sent.empty());
}

TEST_F(DriveCommands, SelfTestIsSentEvenWhenTheDriveIsNotReady)
{
    Attach("sim:ultrium,nocart");
    const CCommandOutput run = Run("etest");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(Shapes(), (std::vector<CCmd>{UNIT_READY,
                                           UNIT_READY,
                                           UNIT_READY,
                                           {{0x1D, 0x04, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, SELF_TEST_TIMEOUT_SECONDS}}));
}

TEST_F(DriveCommands, EjectUnloadsDownloadDrivesOnly)
{
    Attach("sim:crt20000n");
    CDriveManager* manager = app.GetDriveManager();
    manager->EjectTape(manager->GetDriveList()->GetAt(0));
    EXPECT_TRUE(sent.empty());
    manager->AddDevices({CVString("sim:dds3")});
    sent.clear();
    manager->EjectTape(manager->GetDriveList()->GetAt(1));
    EXPECT_EQ(Shapes(), (std::vector<CCmd>{UNLOAD}));
}

// The drive behind it answers every command but READ BUFFER, which times out.
class CReadBufferTimesOut : public CPassThrough {
public:
    CReadBufferTimesOut(std::unique_ptr<CPassThrough> drive, int& reads) : m_drive(std::move(drive)), m_reads(reads) {}

protected:
    CScsiResult Send(const CScsiRequest& request) override
    {
        if (request.cdb[0] != OP_READ_BUFFER)
            return m_drive->Execute(request);
        ++m_reads;
        CScsiResult result = EmptyScsiResult();
        result.failure = "the command timed out";
        return result;
    }

private:
    std::unique_ptr<CPassThrough> m_drive;
    int& m_reads;
};

TEST_F(DriveCommands, AReadBufferThatTimedOutIsNotSentAgain)
{
    int reads = 0;
    DeviceOpenFunction open = [&reads](const char* spec, CVString& error) {
        COpenedDevice opened;
        std::unique_ptr<CSimPassThrough> drive = CSimPassThrough::Open(spec + 4, error);
        if (drive)
            opened.device = std::make_unique<CReadBufferTimesOut>(std::move(drive), reads);
        return opened;
    };
    ::testing::internal::CaptureStdout();
    app.AdoptDriveManager(new CLinuxDriveManager(app, {CVString("sim:ultrium")}, CHostPaths(), open));
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(Run("eeprom -f:" + files.path + "/eeprom.bin").result);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(reads, 1) << "one long try, not ten";
}

// The whole upgrade as the drive sees it: the initial inquiry, the eject,
// the autoloader question, the download with block 0 twice, the save, and
// the verification.
void ExpectUpgradeSequence(const std::vector<CRecordedCommand>& sent, const std::vector<unsigned char>& file,
                           unsigned char offset2, int blocks, const std::vector<unsigned char>& vpdPages)
{
    std::vector<CCmd> expected = {
        {INQUIRY.cdb, SCSI_DIR_IN, 36, 10},  // under the time-out discovery left
        UNLOAD,
        {{0x1A, 0x08, 0x3F, 0, 0x24, 0}, SCSI_DIR_IN, 36, 60},
        READ_POSITION,
        {{0x3B, 0x04, 0, offset2, 0, 0, 0, 0x20, 0, 0}, SCSI_DIR_OUT, BLOCK, MICROCODE_BLOCK_TIMEOUT_SECONDS},
    };
    for (int block = 0; block < blocks; ++block) {
        const unsigned char middle = static_cast<unsigned char>(block * 0x20);
        expected.push_back(
            {{0x3B, 0x04, 0, offset2, middle, 0, 0, 0x20, 0, 0}, SCSI_DIR_OUT, BLOCK, MICROCODE_BLOCK_TIMEOUT_SECONDS});
    }
    // A buffer offset of 100000h stays where the download ended.
    const unsigned char saveMiddle = offset2 != 0 ? static_cast<unsigned char>(blocks * 0x20) : 0;
    expected.push_back(
        {{0x3B, 0x05, 0, offset2, saveMiddle, 0, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, MICROCODE_SAVE_TIMEOUT_SECONDS});
    // The cartridge is out: the unit-ready check tries three times.
    expected.insert(expected.end(), {UNIT_READY, UNIT_READY, UNIT_READY, INQUIRY});
    for (unsigned char page : vpdPages)
        expected.push_back({{0x12, 0x01, page, 0, 0x40, 0}, SCSI_DIR_IN, 64, 60});

    std::vector<CCmd> shapes;
    for (const CRecordedCommand& command : sent)
        shapes.push_back(Shape(command));
    EXPECT_EQ(shapes, expected);

    ASSERT_EQ(sent.size(), expected.size());
    auto block = [&file](int number) {
        return std::vector<unsigned char>(file.begin() + number * BLOCK, file.begin() + (number + 1) * BLOCK);
    };
    EXPECT_EQ(sent[4].dataOut, block(0));
    for (int number = 0; number < blocks; ++number)
        EXPECT_EQ(sent[5 + static_cast<size_t>(number)].dataOut, block(number)) << number;
}

// An image of three 16 KiB blocks.
std::vector<unsigned char> ImageFile(const std::string& family, const std::string& level)
{
    CFirmwareImage image;
    image.family = family;
    image.level = level;
    image.size = 3 * 16384;
    std::vector<unsigned char> file = MakeFirmwareImage(image);
    for (size_t i = 64; i < file.size(); ++i)
        file[i] = static_cast<unsigned char>(i / BLOCK + 1);  // each block known by its bytes
    return file;
}

TEST_F(DriveCommands, UpgradeOfAType7DriveAtBufferOffsetZero)
{
    Attach("sim:ultrium");
    const std::vector<unsigned char> file = ImageFile("ultrium", "120B");
    const CCommandOutput run = Run("upgrade -f:" + files.Write("u120B-fw.bin", file));
    EXPECT_TRUE(run.result) << run.lines.back();
    ExpectUpgradeSequence(sent, file, 0x00, 6, {0xC0, 0xC1});
}

TEST_F(DriveCommands, UpgradeOfAType4DriveAtBufferOffset100000h)
{
    Attach("sim:dds3");
    const std::vector<unsigned char> file = ImageFile("dds3", "7490");
    const CCommandOutput run = Run("upgrade -f:" + files.Write("d7490xyz.bin", file));
    EXPECT_TRUE(run.result) << run.lines.back();
    ExpectUpgradeSequence(sent, file, 0x10, 6, {0xC0});
}

TEST_F(DriveCommands, AnImageWithATailReachesNoDrive)
{
    Attach("sim:ultrium");
    std::vector<unsigned char> file = ImageFile("ultrium", "120B");
    file.insert(file.end(), 100, 0xEE);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(Run("upgrade -f:" + files.Write("u120B-fw.bin", file)).result);
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(sent.empty());
}

}  // namespace
