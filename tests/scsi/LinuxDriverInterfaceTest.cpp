#include "LinuxDriverInterface.h"

#include "RecordingPassThrough.h"
#include "Timeouts.h"

#include <gtest/gtest.h>

namespace {

class DriverInterfaceTest : public ::testing::Test {
protected:
    DriverInterfaceTest()
    {
        std::unique_ptr<CRecordingPassThrough> a(new CRecordingPassThrough);
        std::unique_ptr<CRecordingPassThrough> b(new CRecordingPassThrough);
        first = a.get();
        second = b.get();
        firstDrive.FileDescriptor(face.AttachDevice(std::move(a)));
        secondDrive.FileDescriptor(face.AttachDevice(std::move(b)));
    }

    CLinuxDriverInterface face;
    CRecordingPassThrough* first;
    CRecordingPassThrough* second;
    CTapeDrive firstDrive;
    CTapeDrive secondDrive;
};

TEST_F(DriverInterfaceTest, CommandsGoToTheDeviceOfTheDrivesDescriptor)
{
    EXPECT_EQ(firstDrive.FileDescriptor(), 0);  // the command layer's own handles
    EXPECT_EQ(secondDrive.FileDescriptor(), 1);
    EXPECT_TRUE(face.Driver().HasDevice(1));
    EXPECT_TRUE(face.Rewind(&secondDrive));
    EXPECT_TRUE(face.LoadTape(&firstDrive, true));
    EXPECT_EQ(Shape(second->Last()), (CCmd{{0x01, 0, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, LONG_OPERATION_TIMEOUT_SECONDS}));
    EXPECT_EQ(Shape(first->Last()), (CCmd{{0x1B, 0, 0, 0, 0x03, 0}, SCSI_DIR_NONE, 0, LONG_OPERATION_TIMEOUT_SECONDS}));
    EXPECT_EQ(first->Commands().size(), 1u);
    EXPECT_EQ(second->Commands().size(), 1u);

    unsigned char inquiry[64] = {};
    second->Queue(Good(CBytes(36, 0x20)));
    EXPECT_TRUE(face.DriveInquiry(1, inquiry, 64));
    EXPECT_EQ(Shape(second->Last()), (CCmd{{0x12, 0, 0, 0, 0x24, 0}, SCSI_DIR_IN, 64, 60}));
    EXPECT_EQ(face.GetTransferLength(&secondDrive), 36);  // what the drive sent, not what was allowed
    first->Queue(NotCompleted());
    EXPECT_FALSE(face.Rewind(&firstDrive));
    EXPECT_EQ(face.GetTransferLength(&firstDrive), 0);
}

TEST_F(DriverInterfaceTest, ResultsAndSensePassThroughUnchanged)
{
    first->Queue(CheckCondition(0x03, 0x11, 0x01));
    unsigned char cdb[6] = {0x08, 0, 0, 0x10, 0, 0};
    unsigned char data[16] = {};
    EXPECT_FALSE(face.GetDataCmd(&firstDrive, cdb, 6, data, 16));
    unsigned char sense[32] = {};
    face.GetSense(&firstDrive, sense, 32);
    EXPECT_EQ(sense[2], 0x03);
    EXPECT_EQ(sense[12], 0x11);
    EXPECT_EQ(sense[13], 0x01);
    EXPECT_TRUE(face.UnloadTape(&firstDrive));  // also after a failed unload
}

TEST_F(DriverInterfaceTest, ReadBufferIsOneLongCommandThatLeavesTheStandingTimeout)
{
    unsigned char cdb[10] = {0x3C, 0x02, 0x01, 0, 0, 0, 0, 0x10, 0, 0};
    unsigned char data[4096] = {};
    for (bool fails : {false, true}) {
        first->Queue(fails ? CheckCondition(0x05, 0x24) : Good());
        face.SetDeviceTimeout(0, 10);
        EXPECT_EQ(face.ReadBuffer(&firstDrive, cdb, data, 4096), !fails);
        EXPECT_EQ(Shape(first->Last()),
                  (CCmd{{0x3C, 0x02, 0x01, 0, 0, 0, 0, 0x10, 0, 0}, SCSI_DIR_IN, 4096, DATA_TRANSFER_TIMEOUT_SECONDS}));
        EXPECT_EQ(face.Driver().Timeout(), 60);
    }
}

TEST_F(DriverInterfaceTest, HostQueriesKeepTheirDefaultsAndNoDriveMeansNoCommand)
{
    int a = 0, b = 0, c = 0, d = 0;
    char name[] = "nst0";
    EXPECT_EQ(face.GetNumberOfAdapters(), 0);
    EXPECT_FALSE(face.CheckForTapeDrive(name, a, b, c, d));
    EXPECT_FALSE(face.TestForUnitReady(nullptr));
    EXPECT_TRUE(first->Commands().empty());
    EXPECT_EQ(face.AttachDevice(nullptr), -1);
}

}  // namespace
