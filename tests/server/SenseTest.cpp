#include <gtest/gtest.h>

#include <string>

#include "Application.h"
#include "FakeDriverInterface.h"
#include "Utility.h"

namespace {

class Sense : public ::testing::Test {
protected:
    Sense() : utility(&app)
    {
        manager = new FakeDriveManager(app);
        dat = manager->Add(0, 1, 0, 5);
        ultrium = manager->Add(0, 2, 0, 7);
        app.AdoptDriveManager(manager);
    }

    void SetSense(unsigned char key, unsigned char asc, unsigned char ascq)
    {
        manager->fake.sense[2] = key;
        manager->fake.sense[12] = asc;
        manager->fake.sense[13] = ascq;
    }

    std::string Line(CTapeDrive* drive) { return static_cast<const char*>(manager->RetrieveAndFormatSenseMsg(drive)); }

    std::string UnitReadyExplanation(unsigned char key, unsigned char asc, unsigned char ascq)
    {
        SetSense(key, asc, ascq);
        testing::internal::CaptureStdout();
        manager->ProduceErrorMsg(manager->fake.sense);
        return testing::internal::GetCapturedStdout();
    }

    CApplication app;
    CUtility utility;
    FakeDriveManager* manager;
    CTapeDrive* dat;
    CTapeDrive* ultrium;
};

TEST_F(Sense, HexadecimalLineAndItsTwoPlainLanguagePrefixes)
{
    SetSense(0x03, 0x11, 0x00);
    EXPECT_EQ(Line(dat), "03/11/00");
    manager->fake.sense[16] = 0xAB;
    manager->fake.sense[17] = 0x0C;
    EXPECT_EQ(Line(ultrium), "03/11/00/AB/0C");

    SetSense(0x40, 0x00, 0x02);
    EXPECT_EQ(Line(dat), "Failure: End of Partition (EOP) marker has been detected. 40/00/02");
    SetSense(0x80, 0x00, 0x01);
    EXPECT_EQ(Line(dat), "Possible read beyond the end of valid data: 80/00/01");
    // Without the end-of-medium flag the same code is a bare line.
    SetSense(0x00, 0x00, 0x02);
    EXPECT_EQ(Line(dat), "00/00/02");
    SetSense(0x00, 0x00, 0x00);
    manager->fake.sense[16] = manager->fake.sense[17] = 0;
    EXPECT_EQ(Line(ultrium), "00/00/00/00/00");
}

TEST_F(Sense, UnitReadyExplanations)
{
    // The explanation speaks of the selected drive: select the DAT drive.
    testing::internal::CaptureStdout();
    ASSERT_TRUE(utility.SetParameters("compstatus; -id:x;") && app.RunAppl());
    testing::internal::GetCapturedStdout();

    EXPECT_EQ(UnitReadyExplanation(0x02, 0x04, 0x01), "Please wait: Unit is in the process of becoming ready.\n");
    EXPECT_EQ(UnitReadyExplanation(0x02, 0x3A, 0x07), "Check to ensure that the correct tape loaded in the drive!\n");
    EXPECT_EQ(UnitReadyExplanation(0x02, 0x04, 0x02), "Failure on: Test For Unit Ready\n02/04/02\n");
    EXPECT_EQ(UnitReadyExplanation(0x42, 0x3A, 0x00), "Failure on: Test For Unit Ready\n42/3A/00\n");
    // A deferred NOT READY speaks of an earlier command, not of the drive's state now.
    manager->fake.sense[0] = 0x71;
    EXPECT_EQ(UnitReadyExplanation(0x02, 0x3A, 0x00),
              "Failure on: Test For Unit Ready\nDeferred error of an earlier command: 02/3A/00\n");
}

TEST_F(Sense, DeferredErrorsAreToldAsSuch)
{
    manager->fake.sense[0] = 0x71;
    SetSense(0x03, 0x0C, 0x00);
    EXPECT_EQ(Line(dat), "Deferred error of an earlier command: 03/0C/00");
    EXPECT_EQ(Line(ultrium), "Deferred error of an earlier command: 03/0C/00/00/00");
    // The end-of-data explanations belong to the current command only.
    SetSense(0x40, 0x00, 0x02);
    EXPECT_EQ(Line(dat), "Deferred error of an earlier command: 40/00/02");
    manager->fake.sense[0] = 0x70;
    EXPECT_EQ(Line(dat), "Failure: End of Partition (EOP) marker has been detected. 40/00/02");
}

}  // namespace
