#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TapeDrive.h"

namespace {

class RecordingOutput : public CAppOutput {
public:
    explicit RecordingOutput(int kind) : m_kind(kind) {}
    void Msg(const CVString& text, bool newline) override
    {
        EXPECT_TRUE(newline);
        lines.push_back(static_cast<const char*>(text));
    }
    int OSType() const override { return m_kind; }
    std::vector<std::string> lines;

private:
    int m_kind;
};

// vendor (8) + product (16) + revision (4)
const char* const INQUIRY_TEXT = "TESSARA ULTRIUM 2       2A17";

CTapeDrive UltriumDrive()
{
    CTapeDrive drive(1, 5, 0, INQUIRY_TEXT, 7, true, true, true);
    drive.SerialNumber("HU1234567890");
    return drive;
}

TEST(TapeDrive, InquiryTextOf28CharactersOrMoreSetsBothDescriptions)
{
    CTapeDrive drive;
    drive.SetDriveDescAndFirmwareDesc("TESSARA ULTRIUM 2       2A1");
    EXPECT_STREQ(drive.DriveDescription(), "");
    EXPECT_STREQ(drive.FirmwareDescription(), "");
    drive.SetDriveDescAndFirmwareDesc("TESSARA ULTRIUM 2       2A17XYZ");
    EXPECT_STREQ(drive.DriveDescription(), "TESSARA ULTRIUM 2       ");
    EXPECT_STREQ(drive.FirmwareDescription(), "2A17");
}

TEST(TapeDrive, DefaultsAndSharedAdapterId)
{
    CTapeDrive drive;
    EXPECT_TRUE(drive.IsATAPI());
    EXPECT_EQ(drive.Handle(), nullptr);
    drive.PortID(5);
    EXPECT_EQ(drive.AdapterID(), 5);
    CTapeDrive copy;
    copy = UltriumDrive();
    EXPECT_STREQ(copy.SerialNumber(), "HU1234567890");
    EXPECT_EQ(copy.DriveID(), 5);
}

TEST(TapeDrive, NetworkStringRoundTrip)
{
    RecordingOutput linux(5);
    CTapeDrive drive = UltriumDrive();
    CVString text = drive.TapeDriveToNetworkString(&linux);
    EXPECT_STREQ(text, "@1:5:0@7@1@1@1@TESSARA ULTRIUM 2       @2A17@HU1234567890@");

    CTapeDrive back;
    back.NetworkStringToTapeDrive(text);
    EXPECT_EQ(back.AdapterID(), 1);
    EXPECT_EQ(back.BusID(), -1);
    EXPECT_EQ(back.DriveID(), 5);
    EXPECT_EQ(back.LunID(), 0);
    EXPECT_EQ(back.DriveType(), 7);
    EXPECT_TRUE(back.IsSCSI());
    EXPECT_TRUE(back.CompressionAvail());
    EXPECT_STREQ(back.DriveDescription(), "TESSARA ULTRIUM 2       ");
    EXPECT_STREQ(back.SerialNumber(), "HU1234567890");

    RecordingOutput fourPart(2);
    drive.BusID(3);
    EXPECT_STREQ(drive.TapeDriveToNetworkString(&fourPart),
                 "@1:3:5:0@7@1@1@1@TESSARA ULTRIUM 2       @2A17@HU1234567890@");
}

TEST(TapeDrive, AtapiAddressFieldHoldsTwoFlags)
{
    RecordingOutput linux(5);
    CTapeDrive drive(3, 0, 0, "CORVANE CRT8000A        5.02", 1, false, true, false);
    CVString text = drive.TapeDriveToNetworkString(&linux);
    EXPECT_EQ(std::string(text).substr(0, 5), "@1:0@");
}

TEST(TapeDrive, ShortOrEmptyStringsLeaveMissingFieldsEmpty)
{
    CTapeDrive drive(4, 4, 4, INQUIRY_TEXT, 7, true, true, true);
    drive.NetworkStringToTapeDrive("@");
    EXPECT_EQ(drive.AdapterID(), 4);  // no address field: ids unchanged
    EXPECT_EQ(drive.DriveType(), 0);
    EXPECT_FALSE(drive.IsSCSI());
    EXPECT_FALSE(drive.IsRetensionable());
    EXPECT_STREQ(drive.DriveDescription(), "");

    drive.NetworkStringToTapeDrive("@0:1:2:3@5@1@0@1@D@F@@");
    EXPECT_EQ(drive.BusID(), 1);
    EXPECT_EQ(drive.LunID(), 3);
    EXPECT_STREQ(drive.SerialNumber(), "");
    EXPECT_STREQ(drive.FirmwareDescription(), "F");
}

TEST(TapeDrive, SetIdsFromStringByColonCount)
{
    CTapeDrive drive;
    drive.LunID(9);
    drive.SetIDsFromString("2:6");
    EXPECT_EQ(drive.AdapterID(), 2);
    EXPECT_EQ(drive.DriveID(), 6);
    EXPECT_EQ(drive.LunID(), 9);
    drive.SetIDsFromString("1:2:3:4:5");
    EXPECT_EQ(drive.AdapterID(), 2);
    drive.SetIDsFromString("x:y");
    EXPECT_EQ(drive.AdapterID(), 0);
    CVString empty;
    EXPECT_EQ(CTapeDrive::ColonsInString(empty), 0);
}

TEST(TapeDrive, DisplayLinesByAddressFormAndType)
{
    RecordingOutput linux(5);
    UltriumDrive().DisplayDrive(&linux);
    EXPECT_EQ(linux.lines,
              (std::vector<std::string>{"SCSI Adapter: 1, Target: 5, Lun: 0", "TESSARA ULTRIUM 2, Firmware: 2A17",
                                        "Serial# HU1234567890", " "}));

    RecordingOutput fourPart(4);
    CTapeDrive dat(0, 3, 0, "CORVANE DAT 12GB        A120", 3, true, false, true);
    dat.SerialNumber("Unavailable");
    dat.DisplayDrive(&fourPart);
    EXPECT_EQ(fourPart.lines, (std::vector<std::string>{"SCSI Port: 0, Bus: 0, Target: 3, Lun: 0",
                                                        "CORVANE DAT 12GB, Firmware: A120", " "}));

    RecordingOutput atapi(5);
    CTapeDrive travan(0, 2, 7, "CORVANE CRT8000A        5.02", 1, false, true, false);
    travan.DisplayDrive(&atapi);
    EXPECT_EQ(atapi.lines[0], "ATAPI/IDE Logical Drive Id: 2");
    travan.FileDescriptor(ATAPI_LUN_ADDRESSED);
    atapi.lines.clear();
    travan.DisplayDrive(&atapi);
    EXPECT_EQ(atapi.lines[0], "ATAPI/IDE Logical Drive Id: 7");

    RecordingOutput unavailable(5);
    CTapeDrive dds4(0, 1, 0, "CORVANE DAT40 DDS4      9C23", 5, true, false, true);
    dds4.SerialNumber("Unavailable");
    dds4.DisplayDrive(&unavailable);
    EXPECT_EQ(unavailable.lines[2], "Serial# Unavailable");
}

}  // namespace
