// INQUIRY: standard data of every model and the VPD pages.
#include <string>

#include "VirtualDriveImpl.h"
#include "VtapeTestSupport.h"

using namespace vtape_test;

namespace {

std::string Text(const CBytes& data, size_t from, size_t length)
{
    return std::string(data.begin() + from, data.begin() + from + length);
}

struct CIdentity {
    const char* model;
    unsigned char deviceType;
    const char* vendor;    // bytes 8-15
    const char* product;   // bytes 16-27, as the program reads it
    const char* revision;  // bytes 32-35
};

// clang-format off
const CIdentity kIdentities[] = {
    {"travan3200", 0x01, "MORLEN  ", "MTQS  3200  ", "7.00"},
    {"crt8000n", 0x01, "CORVANE ", "CRT8000N    ", "4.01"},
    {"crt8000a", 0x01, "CORVANE ", "CRT8000A    ", "5.02"},
    {"crt20000n", 0x01, "CORVANE ", "CRT20000N   ", "7.10"},
    {"dat", 0x01, "CORVANE ", "DAT 12GB    ", "A120"},
    {"dds3", 0x01, "CORVANE ", "DAT24 DDS3  ", "7480"},
    {"dds4", 0x01, "CORVANE ", "DAT40 DDS4  ", "9C23"},
    {"ultrium", 0x01, "TESSARA ", "ULTRIUM 2   ", "117A"},
    {"changer", 0x08, "CORVANE ", "AUTOLOADER  ", "1.00"},
};
// clang-format on

}  // namespace

TEST(VtapeIdentity, StandardInquiryOfEveryModel)
{
    for (const CIdentity& identity : kIdentities) {
        SCOPED_TRACE(identity.model);
        CTestDrive drive(identity.model);
        CBytes data;
        const CVirtualReply reply = drive.Inquiry(false, 0, 96, data);
        EXPECT_GOOD(reply);
        EXPECT_EQ(36, reply.transferred);
        EXPECT_EQ(identity.deviceType, data[0]);
        EXPECT_EQ(0x05, data[2]);
        EXPECT_EQ(0x02, data[3]);
        EXPECT_EQ(31, data[4]);
        EXPECT_EQ(identity.vendor, Text(data, 8, 8));
        EXPECT_EQ(identity.product, Text(data, 16, 12));
        EXPECT_EQ("    ", Text(data, 28, 4));
        EXPECT_EQ(identity.revision, Text(data, 32, 4));
        EXPECT_EQ(0xEE, data[36]) << "wrote past the 36 bytes of standard data";
        if (identity.deviceType == 0x01) {
            EXPECT_EQ(0x80, data[1]);
        }
    }
}

TEST(VtapeIdentity, InquiryHonoursAllocationAndBufferLength)
{
    CTestDrive drive("dds4");
    CBytes data;
    CVirtualReply reply = drive.Inquiry(false, 0, 5, data);
    EXPECT_GOOD(reply);
    EXPECT_EQ(5, reply.transferred);
    EXPECT_EQ(0xEE, data[5]);

    unsigned char small[10];
    const unsigned char cdb[6] = {0x12, 0, 0, 0, 255, 0};
    reply = drive->Execute(cdb, 6, VDIR_IN, small, sizeof(small));
    EXPECT_GOOD(reply);
    EXPECT_EQ(10, reply.transferred);

    reply = drive.Inquiry(false, 0, 0, data);
    EXPECT_GOOD(reply);
    EXPECT_EQ(0, reply.transferred);
}

TEST(VtapeIdentity, SupportedVpdPagesAndSerialNumbers)
{
    CTestDrive ultrium("ultrium");
    CBytes data;
    EXPECT_GOOD(ultrium.Inquiry(true, 0x00, 255, data));
    EXPECT_EQ(0x00, data[1]);
    EXPECT_EQ(CBytes({0x00, 0x80, 0xC0, 0xC1}), CBytes(data.begin() + 4, data.begin() + 4 + data[3]));

    CVirtualReply reply = ultrium.Inquiry(true, 0x80, 255, data);
    EXPECT_GOOD(reply);
    EXPECT_EQ(0x80, data[1]);
    EXPECT_EQ(15, data[3]);
    EXPECT_EQ("HU1234567890ABC", Text(data, 4, 15));
    EXPECT_EQ(19, reply.transferred);

    CTestDrive dat("dds3");
    EXPECT_GOOD(dat.Inquiry(true, 0x80, 255, data));
    EXPECT_EQ("DT12345678", Text(data, 4, data[3]));

    reply = dat.Inquiry(true, 0x80, 6, data);
    EXPECT_GOOD(reply);
    EXPECT_EQ(6, reply.transferred);
}

TEST(VtapeIdentity, FirmwarePagesCarryRevisionsAtFixedOffsets)
{
    CBytes data;
    CTestDrive dds3("dds3");
    CVirtualReply reply = dds3.Inquiry(true, 0xC0, 255, data);
    EXPECT_GOOD(reply);
    EXPECT_GE(reply.transferred, 64);
    EXPECT_EQ(0xC0, data[1]);
    EXPECT_EQ("7480", Text(data, 5, 4));
    EXPECT_EQ("0110", Text(data, 17, 4));
    EXPECT_EQ(' ', data[60]);

    CTestDrive dds4("dds4");
    EXPECT_GOOD(dds4.Inquiry(true, 0xC1, 255, data));
    EXPECT_EQ("9C23", Text(data, 5, 4));
    EXPECT_EQ("A7F1", Text(data, 19, 4));

    CTestDrive ultrium("ultrium");
    EXPECT_GOOD(ultrium.Inquiry(true, 0xC0, 255, data));
    EXPECT_EQ("117A-5RC4         ", Text(data, 30, 18));
    EXPECT_GOOD(ultrium.Inquiry(true, 0xC1, 255, data));
    EXPECT_EQ("BOOT 1.2          ", Text(data, 30, 18));
}

TEST(VtapeIdentity, InvalidInquiriesAreIllegalRequests)
{
    CBytes data;
    CTestDrive travan("crt20000n");
    EXPECT_SENSE(travan.Inquiry(true, 0x80, 255, data), 0x05, 0x24, 0x00);
    EXPECT_SENSE(travan.Inquiry(true, 0x00, 255, data), 0x05, 0x24, 0x00);

    CTestDrive ultrium("ultrium");
    CVirtualReply reply = ultrium.Inquiry(true, 0x83, 255, data);
    EXPECT_SENSE(reply, 0x05, 0x24, 0x00);
    EXPECT_EQ(0xC0, reply.sense[15]) << "field pointer should name the CDB";
    EXPECT_EQ(2, reply.sense[17]);
    EXPECT_EQ(0, reply.transferred);

    EXPECT_SENSE(ultrium.Inquiry(false, 0x80, 255, data), 0x05, 0x24, 0x00);

    CTestDrive dat("dat");
    EXPECT_SENSE(dat.Inquiry(true, 0xC2, 255, data), 0x05, 0x24, 0x00);
}

namespace {

CVirtualReply RunInquiry(CVirtualDriveImpl& drive, bool evpd, unsigned char page, CBytes& out)
{
    out.assign(255, 0xEE);
    const unsigned char cdb[6] = {0x12, static_cast<unsigned char>(evpd ? 1 : 0), page, 0, 255, 0};
    return drive.Execute(cdb, 6, VDIR_IN, out.data(), static_cast<int>(out.size()));
}

CDriveSetup ParsedSetup(const std::string& text)
{
    CDriveSetup setup;
    std::string error;
    EXPECT_TRUE(ParseDriveSetup(text, setup, error)) << error;
    return setup;
}

}  // namespace

TEST(VtapeIdentity, NewFirmwareChangesRevisionAndFirmwarePagesOnly)
{
    const CDriveSetup setup = ParsedSetup("ultrium");
    CVirtualDriveImpl drive(setup);
    CVirtualDriveImpl other(setup);
    drive.Identity().ChangeFirmware("3B01", {{30, "3B01-7QX2"}, {5, "NEW"}}, {{30, "BOOT 2.0"}});

    CBytes data;
    EXPECT_GOOD(RunInquiry(drive, false, 0, data));
    EXPECT_EQ("TESSARA ULTRIUM 2       3B01", Text(data, 8, 28));
    EXPECT_GOOD(RunInquiry(drive, true, 0xC0, data));
    EXPECT_EQ("NEW", Text(data, 5, 3));
    EXPECT_EQ("3B01-7QX2         ", Text(data, 30, 18));
    EXPECT_GOOD(RunInquiry(drive, true, 0xC1, data));
    EXPECT_EQ("BOOT 2.0          ", Text(data, 30, 18));
    EXPECT_EQ("    ", Text(data, 5, 4));
    EXPECT_GOOD(RunInquiry(drive, true, 0x80, data));
    EXPECT_EQ("HU1234567890ABC", Text(data, 4, data[3]));

    // Another drive of the same model keeps the model's identity.
    EXPECT_GOOD(RunInquiry(other, false, 0, data));
    EXPECT_EQ("117A", Text(data, 32, 4));
    EXPECT_GOOD(RunInquiry(other, true, 0xC0, data));
    EXPECT_EQ("117A-5RC4         ", Text(data, 30, 18));
}

TEST(VtapeIdentity, FirmwareTextsThatDoNotFitThePageAreCutAtItsEnd)
{
    CVirtualDriveImpl drive(ParsedSetup("dds4"));
    drive.Identity().ChangeFirmware("9C24", {{58, "0123456789"}, {2, "HEAD"}, {900, "FAR"}}, {});
    CBytes data;
    const CVirtualReply reply = RunInquiry(drive, true, 0xC0, data);
    EXPECT_GOOD(reply);
    EXPECT_EQ(64, reply.transferred);
    EXPECT_EQ("012345", Text(data, 58, 6));
    EXPECT_EQ(0xEE, data[64]);
    EXPECT_EQ(CBytes({0x01, 0xC0, 0x00, 60}), CBytes(data.begin(), data.begin() + 4));
}
