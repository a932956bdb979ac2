#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Application.h"
#include "FakeDriverInterface.h"
#include "Utility.h"

namespace {

// A 64-byte INQUIRY response with the given identity, as discovery reads it.
std::vector<unsigned char> Inquiry(const char* vendor, const char* product, const char* revision,
                                   unsigned char deviceType = 0x01)
{
    std::vector<unsigned char> data(64, 0);
    data[0] = deviceType;
    std::memset(data.data() + 8, ' ', 28);
    std::memcpy(data.data() + 8, vendor, std::strlen(vendor));
    std::memcpy(data.data() + 16, product, std::strlen(product));
    std::memcpy(data.data() + 32, revision, std::strlen(revision));
    return data;
}

struct Identity {
    bool supported;
    int type;
    bool isScsi;
    bool isRetensionable;
    bool compression;
};

class Identification : public ::testing::Test {
protected:
    Identification() : utility(&app), manager(app) {}

    Identity Identify(std::vector<unsigned char> inquiry)
    {
        Identity identity = {false, -1, false, false, false};
        identity.supported = manager.GetDriveSpecifications(inquiry.data(), identity.type, identity.isScsi,
                                                            identity.isRetensionable, identity.compression);
        return identity;
    }

    CApplication app;
    CUtility utility;
    FakeDriveManager manager;
};

TEST_F(Identification, DeviceTypeAndVendorTests)
{
    EXPECT_FALSE(Identify(Inquiry("CORVANE", "ULTRIUM 2", "2A17", 0x81)).supported);
    EXPECT_FALSE(Identify(Inquiry("CORVANE", "ULTRIUM 2", "2A17", 0x08)).supported);
    EXPECT_FALSE(Identify(Inquiry("OTHER", "ULTRIUM 2", "2A17")).supported);
    EXPECT_TRUE(Identify(Inquiry("corvane", "ULTRIUM 2", "2A17")).supported);
    EXPECT_TRUE(Identify(Inquiry("XTESSARA", "ULTRIUM 2", "2A17")).supported);
    // Drives of other vendors in the Travan table never pass the vendor test.
    EXPECT_FALSE(Identify(Inquiry("MORLEN", "MTQS  3200", "7.00")).supported);
    EXPECT_FALSE(Identify(Inquiry("HOLMGARD", "HV8 PRO 4/8", "4")).supported);
}

TEST_F(Identification, DatAndUltriumFamilies)
{
    Identity dds4 = Identify(Inquiry("CORVANE", "DAT40 DDS4", "9C23"));
    EXPECT_TRUE(dds4.supported);
    EXPECT_EQ(dds4.type, 5);
    EXPECT_TRUE(dds4.isScsi);
    EXPECT_FALSE(dds4.isRetensionable);
    EXPECT_TRUE(dds4.compression);
    EXPECT_EQ(Identify(Inquiry("CORVANE", "DAT24", "7480")).type, 4);
    EXPECT_EQ(Identify(Inquiry("CORVANE", "DAT24", "8000")).type, 5);
    EXPECT_EQ(Identify(Inquiry("CORVANE", "DAT 12GB", "A120")).type, 3);
    EXPECT_EQ(Identify(Inquiry("CORVANE", "QRX5930", "1")).type, 3);
    EXPECT_EQ(Identify(Inquiry("CORVANE", "VMK06", "7")).type, 4);
    // DAT is tested before Ultrium.
    EXPECT_EQ(Identify(Inquiry("CORVANE", "DAT ULTRIUM", "7")).type, 4);

    Identity ultrium = Identify(Inquiry("TESSARA", "ULTRIUM 2", "2A17"));
    EXPECT_EQ(ultrium.type, 7);
    EXPECT_TRUE(ultrium.isRetensionable);
    // Bytes 28 to 31 of the product are not part of the product text.
    EXPECT_FALSE(Identify(Inquiry("TESSARA", "XXXXXXXXXXXXULTR", "2A17")).supported);
}

TEST_F(Identification, TravanTableRows)
{
    struct Row {
        const char* product;
        const char* revision;
        bool supported;
        int type;
        bool isScsi;
        bool compression;
        // clang-format off
    } rows[] = {
        {"CRT8000N", "3.10", true, 1, true, false},   // row 7
        {"CRT8000N", "4.01", true, 1, true, true},    // row 8
        {"CRT8000N", "9.00", false, -1, false, false},
        {"CRT8000-A", "2.00", true, 1, false, false}, // row 6
        {"CRT8000A", "5", true, 1, false, false},     // row 9
        {"CRT20000N", "6", true, 2, true, false},
        {"CRT20000N", "7.10", true, 2, true, true},
        {"CRT20000A", "8", true, 2, false, false},
        {"CRT20000a", "8", true, 2, false, false},    // compared in upper case
    };
    // clang-format on
    for (const Row& row : rows) {
        Identity identity = Identify(Inquiry("CORVANE", row.product, row.revision));
        EXPECT_EQ(identity.supported, row.supported) << row.product << " " << row.revision;
        if (!row.supported)
            continue;
        EXPECT_EQ(identity.type, row.type) << row.product;
        EXPECT_EQ(identity.isScsi, row.isScsi) << row.product;
        EXPECT_TRUE(identity.isRetensionable) << row.product;
        EXPECT_EQ(identity.compression, row.compression) << row.product;
    }
}

TEST(TravanLookup, LongFirmwareTextsMustMatchWhole)
{
    bool isScsi = false, isRetensionable = false, compression = false;
    int type = -1;
    // Row 4 ("2") takes every revision starting with 2, so row 5 is never reached.
    EXPECT_TRUE(CDriveManager::Lookup("MORLEN MTR8000-A", "2.12", isScsi, isRetensionable, type, compression));
    EXPECT_EQ(type, 1);
    EXPECT_FALSE(CDriveManager::Lookup("MORLEN MTR8000-A", "3", isScsi, isRetensionable, type, compression));
    EXPECT_TRUE(CDriveManager::Lookup("MORLEN MTQS  3200", "7", isScsi, isRetensionable, type, compression));
    EXPECT_EQ(type, 0);
    EXPECT_FALSE(CDriveManager::Lookup("MORLEN MTQS 3200", "7", isScsi, isRetensionable, type, compression));
}

TEST_F(Identification, DriveStringParsingSkipsZeroBytes)
{
    std::vector<unsigned char> inquiry = Inquiry("AB", "PROD", "12");
    inquiry[9] = 0;  // "A\0" reads as "A"
    CVString vendor, product, revision;
    CDriveManager::ParseDriveString(reinterpret_cast<const char*>(inquiry.data()), vendor, product, revision);
    EXPECT_STREQ(vendor, "A");
    EXPECT_STREQ(product, "PROD");
    EXPECT_STREQ(revision, "12");
}

TEST_F(Identification, PropertiesWithoutVendorTestNameAnUnknownDrive)
{
    std::vector<unsigned char> inquiry = Inquiry("MORLEN", "MTQS  3200", "7.00");
    int type = -1;
    bool isScsi = false, isRetensionable = false, compression = false;
    EXPECT_TRUE(manager.GetDriveProperties(inquiry.data(), type, isScsi, isRetensionable, compression));
    EXPECT_EQ(type, 0);

    std::vector<unsigned char> unknown = Inquiry("ACME", "BOX", "1");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(manager.GetDriveProperties(unknown.data(), type, isScsi, isRetensionable, compression));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ACME BOX not supported.\n");
}

std::vector<unsigned char> VendorPage(int offset, const char* text)
{
    std::vector<unsigned char> page(64, ' ');
    std::memcpy(page.data() + offset, text, std::strlen(text));
    return page;
}

TEST_F(Identification, ExtendedFirmwareVersions)
{
    CTapeDrive* ultrium = manager.Add(0, 1, 0, 7);
    manager.fake.vpdPages[0xC0] = VendorPage(30, "2A17");
    manager.fake.vpdPages[0xC1] = VendorPage(30, "B1");
    manager.SetExtendedFWVersionInfo(ultrium);
    EXPECT_STREQ(ultrium->FirmwareDescription(), "2A17 B1");

    CTapeDrive* dds3 = manager.Add(0, 2, 0, 4);
    std::vector<unsigned char> page = VendorPage(5, "7480");
    std::memcpy(page.data() + 17, "0110", 4);
    manager.fake.vpdPages[0xC0] = page;
    manager.SetExtendedFWVersionInfo(dds3);
    EXPECT_STREQ(dds3->FirmwareDescription(), "74800110");

    CTapeDrive* dds4 = manager.Add(0, 3, 0, 5);
    page = VendorPage(5, "9C23");
    std::memcpy(page.data() + 19, "A7F1", 4);
    page[7] = 0;  // a zero byte ends the text
    manager.fake.vpdPages[0xC0] = page;
    manager.SetExtendedFWVersionInfo(dds4);
    EXPECT_STREQ(dds4->FirmwareDescription(), "9C");

    CTapeDrive* dat = manager.Add(0, 4, 0, 3);
    manager.SetExtendedFWVersionInfo(dat);
    EXPECT_STREQ(dat->FirmwareDescription(), "1234");
}

TEST_F(Identification, FailingVendorPagesAreGivenUpAndKeepTheShortFirmware)
{
    CTapeDrive* ultrium = manager.Add(0, 1, 0, 7);
    manager.fake.vpdPages[0xC0] = VendorPage(30, "2A17");
    manager.fake.vpdPages[0xC1] = VendorPage(30, "B1");
    manager.fake.vpdFailures = 9;
    manager.SetExtendedFWVersionInfo(ultrium);
    EXPECT_STREQ(ultrium->FirmwareDescription(), "2A17 B1");

    CTapeDrive* other = manager.Add(0, 2, 0, 7);
    manager.fake.calls.clear();
    manager.fake.vpdFailures = 1000;
    manager.SetExtendedFWVersionInfo(other);
    EXPECT_STREQ(other->FirmwareDescription(), "1234");
    EXPECT_EQ(manager.fake.calls["ExtendedDriveInquiry"], 10);
}

TEST_F(Identification, SerialNumbersByType)
{
    manager.fake.vpdPages[0x80] = VendorPage(4, "HU1234567890ABC");
    CTapeDrive* ultrium = manager.Add(0, 1, 0, 7);
    manager.SetSerialNumber(ultrium);
    EXPECT_STREQ(ultrium->SerialNumber(), "HU1234567890");
    CTapeDrive* dds3 = manager.Add(0, 2, 0, 4);
    manager.SetSerialNumber(dds3);
    EXPECT_STREQ(dds3->SerialNumber(), "HU12345");
    CTapeDrive* dat = manager.Add(0, 3, 0, 3);
    manager.SetSerialNumber(dat);
    EXPECT_STREQ(dat->SerialNumber(), "Unavailable");

    manager.fake.vpdPages[0x80] = VendorPage(4, "  AB");
    manager.SetSerialNumber(dds3);
    EXPECT_STREQ(dds3->SerialNumber(), "AB");
    // Right-aligned in a 36-character field, as some targets send it; the
    // page length bounds the text.
    std::vector<unsigned char> rightAligned = VendorPage(4 + 26, "HU12345678");
    rightAligned[3] = 36;
    rightAligned[40] = 'X';
    manager.fake.vpdPages[0x80] = rightAligned;
    manager.SetSerialNumber(ultrium);
    EXPECT_STREQ(ultrium->SerialNumber(), "HU12345678");
    manager.SetSerialNumber(dds3);
    EXPECT_STREQ(dds3->SerialNumber(), "HU12345");
    manager.fake.vpdPages.clear();
    manager.SetSerialNumber(ultrium);
    EXPECT_STREQ(ultrium->SerialNumber(), "Unavailable");
}

}  // namespace
