// Listing and selecting virtual drives from the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TapediagRun.h"

namespace {

using Lines = std::vector<std::string>;

TEST(Show, OneDriveOfEveryFamily)
{
    TapediagRun run = RunTapediag({"show", "-dev:sim:crt8000n", "-dev:sim:crt8000a", "-dev:sim:crt20000n",
                                   "-dev:sim:dat", "-dev:sim:dds3", "-dev:sim:dds4", "-dev:sim:ultrium", "-nr"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(CommandLines(run), (Lines{
                                     " ",
                                     "Accessible Tape Drives...",
                                     " ",
                                     "SCSI Adapter: 0, Target: 0, Lun: 0",
                                     "CORVANE CRT8000N, Firmware: 4.01",
                                     " ",
                                     "ATAPI/IDE Logical Drive Id: 1",
                                     "CORVANE CRT8000A, Firmware: 5.02",
                                     " ",
                                     "SCSI Adapter: 0, Target: 2, Lun: 0",
                                     "CORVANE CRT20000N, Firmware: 7.10",
                                     " ",
                                     "SCSI Adapter: 0, Target: 3, Lun: 0",
                                     "CORVANE DAT 12GB, Firmware: A120",
                                     " ",
                                     "SCSI Adapter: 0, Target: 4, Lun: 0",
                                     "CORVANE DAT24 DDS3, Firmware: 74800110",
                                     "Serial# DT12345",
                                     " ",
                                     "SCSI Adapter: 0, Target: 5, Lun: 0",
                                     "CORVANE DAT40 DDS4, Firmware: 9C23A7F1",
                                     "Serial# DT12345",
                                     " ",
                                     "SCSI Adapter: 0, Target: 6, Lun: 0",
                                     "TESSARA ULTRIUM 2, Firmware: 117A-5RC4 BOOT 1.2",
                                     "Serial# HU1234567890",
                                     " ",
                                 }));
}

TEST(Show, DrivesWithoutVendorPagesKeepTheShortFirmwareAndNoSerial)
{
    TapediagRun run = RunTapediag({"show", "-dev:sim:ultrium,no-vpd", "-dev:sim:dds3,vpd-fail=9", "-nr"});
    EXPECT_EQ(CommandLines(run), (Lines{" ", "Accessible Tape Drives...", " ", "SCSI Adapter: 0, Target: 0, Lun: 0",
                                        "TESSARA ULTRIUM 2, Firmware: 117A", "Serial# Unavailable", " ",
                                        "SCSI Adapter: 0, Target: 1, Lun: 0", "CORVANE DAT24 DDS3, Firmware: 74800110",
                                        "Serial# DT12345", " "}));
}

TEST(Show, UnsupportedDevicesAreSkippedWithAReason)
{
    TapediagRun run = RunTapediag({"show", "-dev:sim:travan3200", "-dev:sim:changer", "-dev:sim:nosuch", "-nr"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(CommandLines(run), (Lines{" ", "No tape drives recognized.", " "}));
    EXPECT_NE(run.errors.find("sim:travan3200 skipped: not a supported tape drive"), std::string::npos);
    EXPECT_NE(run.errors.find("sim:nosuch skipped"), std::string::npos);
}

// The display line naming the drive a compstatus run selected.
std::string Selected(const Lines& selection)
{
    Lines args = {"compstatus", "-dev:sim:dds4", "-dev:sim:ultrium", "-dev:sim:dat", "-nr"};
    args.insert(args.end(), selection.begin(), selection.end());
    TapediagRun run = RunTapediag(args);
    Lines lines = CommandLines(run);
    return run.status == 1 && lines.size() > 2 ? lines[2] : "failed: " + (lines.empty() ? "" : lines[0]);
}

TEST(Select, ByFirstDriveIndexSerialAndAddress)
{
    EXPECT_EQ(Selected({"-id:x"}), "CORVANE DAT40 DDS4, Firmware: 9C23A7F1");
    EXPECT_EQ(Selected({"-getByIndex:1"}), "TESSARA ULTRIUM 2, Firmware: 117A-5RC4 BOOT 1.2");
    EXPECT_EQ(Selected({"-sn:hu1234567890"}), "TESSARA ULTRIUM 2, Firmware: 117A-5RC4 BOOT 1.2");
    EXPECT_EQ(Selected({"-id:2"}), "CORVANE DAT 12GB, Firmware: A120");
    EXPECT_EQ(Selected({"-id:0:1:0"}), "TESSARA ULTRIUM 2, Firmware: 117A-5RC4 BOOT 1.2");
    EXPECT_EQ(Selected({"-getByIndex:3"}), "failed: ");
    EXPECT_EQ(Selected({"-sn:nothing"}), "failed: Unable to find the drive associated with the given serial number.");
    EXPECT_EQ(Selected({"-id:0:0:1:0"}), "failed:  ");
}

}  // namespace
