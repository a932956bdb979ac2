// LOG SENSE and LOG SELECT: page layout and when fault counters are charged.
#include "VtapeTestSupport.h"

using namespace vtape_test;

namespace {

void WriteAndReadOneRecord(CTestDrive& drive)
{
    CBytes data;
    ASSERT_GOOD(drive.Write(Pattern(100, 1)));
    ASSERT_GOOD(drive.Rewind());
    ASSERT_GOOD(drive.Read(100, data));
}

}  // namespace

TEST(VtapeLogPages, SupportedPagesList)
{
    CTestDrive drive("dds4");
    CBytes page;
    const CVirtualReply reply = drive.LogSense(0x00, 512, page);
    EXPECT_GOOD(reply);
    EXPECT_EQ(10, reply.transferred);
    EXPECT_EQ(CBytes({0x00, 0x00, 0x00, 0x06, 0x00, 0x02, 0x03, 0x0C, 0x2E, 0x31}),
              CBytes(page.begin(), page.begin() + 10));
}

TEST(VtapeLogPages, CounterPagesCarryTheModelsParameters)
{
    CBytes page;
    CTestDrive ultrium("ultrium");
    CVirtualReply reply = ultrium.LogSense(0x03, 512, page);
    EXPECT_GOOD(reply);
    EXPECT_EQ(0x03, page[0]);
    EXPECT_EQ(4 + 6 * 8 + 12, reply.transferred);
    EXPECT_EQ(reply.transferred - 4, (page[2] << 8) | page[3]);
    for (unsigned code = 0; code <= 6; ++code) {
        EXPECT_EQ(0, LogParameter(page, code)) << "parameter " << code;
    }
    EXPECT_EQ(8, page[4 + 6 * 8 + 3]) << "parameter 0006h is 8 bytes on this model";
    EXPECT_EQ(0x60, page[4 + 2]);
    EXPECT_EQ(-1, LogParameter(page, 0x8008));

    CTestDrive dat("dat");
    reply = dat.LogSense(0x02, 512, page);
    EXPECT_GOOD(reply);
    EXPECT_EQ(4 + 8 * 8, reply.transferred);
    EXPECT_EQ(0, LogParameter(page, 0x8008));

    reply = dat.LogSense(0x02, 10, page);
    EXPECT_GOOD(reply);
    EXPECT_EQ(10, reply.transferred);
    EXPECT_EQ(0xEE, page[10]);

    EXPECT_SENSE(dat.LogSense(0x2E, 512, page), 0x05, 0x24, 0x00);
}

TEST(VtapeLogPages, FaultCountersAreChargedByTheFirstIoAfterPowerOn)
{
    CTestDrive drive("dds4,read-corrected=5,read-delayed=2,read-uncorrected=1,"
                     "write-uncorrected=3,dat-errors=9");
    CBytes page;
    EXPECT_GOOD(drive.LogSense(0x03, 512, page));
    EXPECT_EQ(0, LogParameter(page, 0x0000)) << "nothing read yet";

    WriteAndReadOneRecord(drive);
    CBytes data;
    EXPECT_GOOD(drive.Rewind());
    EXPECT_GOOD(drive.Read(100, data));  // a second read charges nothing more

    EXPECT_GOOD(drive.LogSense(0x03, 512, page));
    EXPECT_EQ(5, LogParameter(page, 0x0000));
    EXPECT_EQ(2, LogParameter(page, 0x0001));
    EXPECT_EQ(7, LogParameter(page, 0x0003));
    EXPECT_EQ(1, LogParameter(page, 0x0006));
    EXPECT_EQ(9, LogParameter(page, 0x8008));
    EXPECT_EQ(200, LogParameter(page, 0x0005));
    EXPECT_GOOD(drive.LogSense(0x02, 512, page));
    EXPECT_EQ(3, LogParameter(page, 0x0006));
    EXPECT_EQ(0, LogParameter(page, 0x0000));
}

TEST(VtapeLogPages, ResetClearsCountersAndRearmsTheCharge)
{
    CTestDrive drive("ultrium,read-uncorrected=4,write-uncorrected=6");
    CBytes page;
    WriteAndReadOneRecord(drive);
    EXPECT_GOOD(drive.ResetLogs());
    EXPECT_GOOD(drive.LogSense(0x03, 512, page));
    EXPECT_EQ(0, LogParameter(page, 0x0006)) << "reset after the I/O reads zero";
    EXPECT_EQ(0, LogParameter(page, 0x0005));
    EXPECT_GOOD(drive.LogSense(0x02, 512, page));
    EXPECT_EQ(0, LogParameter(page, 0x0006));

    WriteAndReadOneRecord(drive);
    EXPECT_GOOD(drive.LogSense(0x03, 512, page));
    EXPECT_EQ(4, LogParameter(page, 0x0006));
    EXPECT_GOOD(drive.LogSense(0x02, 512, page));
    EXPECT_EQ(6, LogParameter(page, 0x0006));

    const unsigned char resetWithList[10] = {0x4C, 0x02, 0, 0, 0, 0, 0, 0, 4, 0};
    unsigned char list[4] = {};
    EXPECT_SENSE(drive->Execute(resetWithList, 10, VDIR_OUT, list, 4), 0x05, 0x24, 0x00);
}

namespace {

// LOG SENSE of `page` from parameter `pointer` on.
CVirtualReply LogSenseFrom(CTestDrive& drive, unsigned char page, uint32_t pointer, CBytes& out)
{
    out.assign(1024, 0xEE);
    return drive.In({0x4D, 0, static_cast<unsigned char>(0x40 | page), 0, 0, static_cast<unsigned char>(pointer >> 8),
                     static_cast<unsigned char>(pointer), 0x04, 0x00, 0},
                    out);
}

}  // namespace

TEST(VtapeLogPages, ByteCountsAgreeWithWhatWasWrittenAndRead)
{
    CTestDrive drive("ultrium");
    CBytes data, page;
    for (unsigned i = 0; i < 3; ++i) {
        ASSERT_GOOD(drive.Write(Pattern(1000, i)));
    }
    ASSERT_GOOD(drive.Rewind());
    ASSERT_GOOD(drive.Read(1000, data));
    ASSERT_GOOD(drive.Read(1000, data));

    const CVirtualReply reply = drive.LogSense(0x0C, 512, page);
    ASSERT_GOOD(reply);
    EXPECT_EQ(4 + 4 * 12 + 5, reply.transferred);
    EXPECT_EQ(3000, LogParameter(page, 0x0000));
    EXPECT_EQ(3000, LogParameter(page, 0x0001));
    EXPECT_EQ(2000, LogParameter(page, 0x0002));
    EXPECT_EQ(2000, LogParameter(page, 0x0003));
    EXPECT_EQ(0, LogParameter(page, 0x0100));
    CBytes counters;
    ASSERT_GOOD(drive.LogSense(0x02, 512, counters));
    EXPECT_EQ(3000, LogParameter(counters, 0x0005));
    ASSERT_GOOD(drive.LogSense(0x03, 512, counters));
    EXPECT_EQ(2000, LogParameter(counters, 0x0005));

    ASSERT_GOOD(LogSenseFrom(drive, 0x0C, 2, page));
    EXPECT_EQ(-1, LogParameter(page, 0x0001));
    EXPECT_EQ(2000, LogParameter(page, 0x0002));
    EXPECT_EQ(0, LogParameter(page, 0x0100));
    EXPECT_SENSE(LogSenseFrom(drive, 0x0C, 0x0101, page), 0x05, 0x24, 0x00);

    ASSERT_GOOD(drive.ResetLogs());
    ASSERT_GOOD(drive.LogSense(0x0C, 512, page));
    EXPECT_EQ(0, LogParameter(page, 0x0000));
    EXPECT_EQ(0, LogParameter(page, 0x0003));
}

TEST(VtapeLogPages, TapeCapacityFollowsTheCartridge)
{
    CTestDrive drive("ultrium,capacity=64");
    CBytes page;
    ASSERT_GOOD(drive.LogSense(0x31, 512, page));
    EXPECT_EQ(64, LogParameter(page, 0x0001));
    EXPECT_EQ(0, LogParameter(page, 0x0002));
    EXPECT_EQ(64, LogParameter(page, 0x0003));
    EXPECT_EQ(0, LogParameter(page, 0x0004));
    for (unsigned i = 0; i < 40; ++i) {
        ASSERT_GOOD(drive.Write(Pattern(65536, i)));  // 2.5 MB
    }
    ASSERT_GOOD(drive.LogSense(0x31, 512, page));
    EXPECT_EQ(61, LogParameter(page, 0x0001));
    EXPECT_EQ(64, LogParameter(page, 0x0003));
    ASSERT_GOOD(drive.LoadUnload(0x00));
    ASSERT_GOOD(drive.LogSense(0x31, 512, page));
    EXPECT_EQ(0, LogParameter(page, 0x0001));
    EXPECT_EQ(0, LogParameter(page, 0x0003));
}

// What a drive says of its own health: raised TapeAlert flags (cleared once
// read), the cleaning state (kept until cleaned), temperature, counters it
// had before anyone asked, pages it lacks, and its self-test results.
TEST(VtapeLogPages, HealthFaultsShowInThePagesTheyBelongTo)
{
    CTestDrive drive("ultrium,tapealert=3:64,cleaning-required,temperature=71,counter=02:0006:4,no-log-page=0d,"
                     "selftest-log,selftest-fail");
    CBytes page;
    EXPECT_GOOD(drive.LogSense(0x2E, 512, page));
    EXPECT_EQ((std::vector<int64_t>{1, 1, 1, 0}),
              (std::vector<int64_t>{LogParameter(page, 3), LogParameter(page, 20), LogParameter(page, 64),
                                    LogParameter(page, 1)}));
    EXPECT_GOOD(drive.LogSense(0x2E, 512, page));
    EXPECT_EQ(0, LogParameter(page, 3) + LogParameter(page, 20) + LogParameter(page, 64)) << "read once, cleared";
    EXPECT_GOOD(drive.LogSense(0x0C, 512, page));
    EXPECT_EQ(1, LogParameter(page, 0x0100)) << "cleaning stays required";
    EXPECT_GOOD(drive.LogSense(0x02, 512, page));
    EXPECT_EQ(4, LogParameter(page, 0x0006));
    EXPECT_SENSE(drive.LogSense(0x0D, 512, page), 0x05, 0x24, 0x00);
    EXPECT_GOOD(drive.LogSense(0x00, 512, page));
    EXPECT_EQ(CBytes({0x00, 0x02, 0x03, 0x0C, 0x10, 0x2E, 0x31}), CBytes(page.begin() + 4, page.begin() + 11));

    EXPECT_GOOD(drive.LogSense(0x10, 512, page));
    EXPECT_EQ(0, page[8]) << "no self-test run yet";
    EXPECT_SENSE(drive.Run({0x1D, 0x04, 0, 0, 0, 0}), 0x04, 0x40, 0x80);
    EXPECT_GOOD(drive.LogSense(0x10, 512, page));
    EXPECT_EQ(4 + 20 * 20, (page[2] << 8 | page[3]) + 4);
    EXPECT_EQ((CBytes{0x00, 0x01, 0x03, 0x10, 0x04}), CBytes(page.begin() + 4, page.begin() + 9));
    EXPECT_EQ((CBytes{0x04, 0x40, 0x80}), CBytes(page.begin() + 20, page.begin() + 23)) << "the failure's sense";

    CTestDrive cool("ultrium,temperature=20");
    EXPECT_GOOD(cool.LogSense(0x0D, 512, page));
    EXPECT_EQ(20, LogParameter(page, 0x0000));
}
