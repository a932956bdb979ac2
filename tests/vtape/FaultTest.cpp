// Faults injected through the device text.
#include "FakeClock.h"
#include "VtapeTestSupport.h"

using namespace vtape_test;

namespace {

CVirtualReply InquiryC0(CTestDrive& drive)
{
    CBytes data;
    return drive.Inquiry(true, 0xC0, 255, data);
}

}  // namespace

TEST(VtapeFaults, NoCartridgeMakesEveryMediumCommandNotReady)
{
    CTestDrive drive("ultrium,nocart");
    CBytes data;
    EXPECT_SENSE(drive.TestUnitReady(), 0x02, 0x3A, 0x00);
    EXPECT_SENSE(drive.LoadUnload(0x01), 0x02, 0x3A, 0x00);
    EXPECT_SENSE(drive.Read(10, data), 0x02, 0x3A, 0x00);
    EXPECT_SENSE(drive.Write(Pattern(10, 1)), 0x02, 0x3A, 0x00);
    EXPECT_SENSE(drive.Rewind(), 0x02, 0x3A, 0x00);
    EXPECT_SENSE(drive.Space(0x03, 0), 0x02, 0x3A, 0x00);
    EXPECT_GOOD(drive.Inquiry(false, 0, 36, data));
}

TEST(VtapeFaults, BecomingReadyForTheFirstTestUnitReadies)
{
    CTestDrive drive("dds4,becoming-ready=2");
    CBytes data;
    EXPECT_SENSE(drive.TestUnitReady(), 0x02, 0x04, 0x01);
    EXPECT_SENSE(drive.Read(10, data), 0x02, 0x04, 0x01);
    EXPECT_SENSE(drive.TestUnitReady(), 0x02, 0x04, 0x01);
    EXPECT_GOOD(drive.TestUnitReady());
    EXPECT_GOOD(drive.Write(Pattern(10, 1)));

    CTestDrive never("dds4,becoming-ready");
    for (int i = 0; i < 50; ++i) {
        EXPECT_SENSE(never.TestUnitReady(), 0x02, 0x04, 0x01);
    }
}

TEST(VtapeFaults, AResetIsReportedOnceByTheNextCommandAndLosesThePosition)
{
    CBytes data;
    CTestDrive powerOn("ultrium,reset");
    EXPECT_GOOD(powerOn.Inquiry(false, 0, 36, data));  // never reports it
    EXPECT_SENSE(powerOn.TestUnitReady(), 0x06, 0x29, 0x00);
    EXPECT_GOOD(powerOn.TestUnitReady());

    CTestDrive drive("ultrium,reset=0a@2");
    EXPECT_GOOD(drive.Write(Pattern(10, 1)));
    EXPECT_GOOD(drive.Write(Pattern(10, 2)));
    EXPECT_SENSE(drive.Write(Pattern(10, 3)), 0x06, 0x29, 0x00);
    EXPECT_EQ(0u, drive.Position());
    EXPECT_GOOD(drive.Write(Pattern(10, 4)));
    EXPECT_EQ(1u, drive.Position());
}

TEST(VtapeFaults, ProtectedOrForeignCartridgesRefuseWrites)
{
    CTestDrive protectedDrive("ultrium,write-protected");
    EXPECT_SENSE(protectedDrive.Write(Pattern(10, 1)), 0x07, 0x27, 0x00);
    EXPECT_SENSE(protectedDrive.WriteFilemarks(1), 0x07, 0x27, 0x00);
    EXPECT_EQ(0u, protectedDrive.Position());

    CTestDrive foreign("crt8000n,wrong-cartridge");
    EXPECT_SENSE(foreign.Write(Pattern(10, 1)), 0x07, 0x30, 0x05);
}

TEST(VtapeFaults, MediumErrorsHitTheNamedRecord)
{
    CTestDrive drive("ultrium,fixed=512,write-error=2,read-error=1");
    CVirtualReply reply = drive.WriteFixed(Pattern(4 * 512, 1), 4);
    EXPECT_SENSE(reply, 0x03, 0x0C, 0x00);
    EXPECT_EQ(1024, reply.transferred);
    EXPECT_EQ(2, Information(reply));
    EXPECT_EQ(2u, drive.Position());

    EXPECT_GOOD(drive.Rewind());
    CBytes data;
    EXPECT_GOOD(drive.ReadFixed(1, 512, data));
    reply = drive.ReadFixed(1, 512, data);
    EXPECT_SENSE(reply, 0x03, 0x11, 0x00);
    EXPECT_EQ(0, reply.transferred);
    EXPECT_EQ(2u, drive.Position()) << "the drive moves past the unreadable record";
}

TEST(VtapeFaults, BadDataAltersOneByteSilently)
{
    CTestDrive drive("ultrium,bad-data=1");
    const CBytes block = Pattern(4096, 3);
    ASSERT_GOOD(drive.Write(block));
    ASSERT_GOOD(drive.Write(block));
    ASSERT_GOOD(drive.Rewind());
    CBytes first, second;
    EXPECT_GOOD(drive.Read(4096, first));
    EXPECT_GOOD(drive.Read(4096, second));
    EXPECT_EQ(block, first);
    size_t differences = 0;
    for (size_t i = 0; i < block.size(); ++i) {
        differences += block[i] != second[i];
    }
    EXPECT_EQ(1u, differences);
    EXPECT_EQ(1, drive->StoredBlockContents()) << "the stored content is untouched";
}

TEST(VtapeFaults, InjectedCommandFailuresCountPerOpcode)
{
    CTestDrive drive("ultrium,fail=00@2-3,fail=01,unsupported=4c");
    EXPECT_GOOD(drive.TestUnitReady());
    EXPECT_SENSE(drive.TestUnitReady(), 0x04, 0x44, 0x00);
    EXPECT_SENSE(drive.TestUnitReady(), 0x04, 0x44, 0x00);
    EXPECT_GOOD(drive.TestUnitReady());
    for (int i = 0; i < 3; ++i) {
        EXPECT_SENSE(drive.Rewind(), 0x04, 0x44, 0x00);
    }
    EXPECT_SENSE(drive.ResetLogs(), 0x05, 0x20, 0x00);
    CBytes page;
    EXPECT_GOOD(drive.LogSense(0x00, 255, page));
}

TEST(VtapeFaults, VpdFaults)
{
    CTestDrive retried("dds4,vpd-fail=2");
    CBytes data;
    EXPECT_GOOD(retried.Inquiry(true, 0x80, 255, data));
    EXPECT_SENSE(InquiryC0(retried), 0x04, 0x44, 0x00);
    EXPECT_SENSE(retried.Inquiry(true, 0xC1, 255, data), 0x04, 0x44, 0x00);
    EXPECT_GOOD(InquiryC0(retried));

    CTestDrive none("ultrium,no-vpd");
    EXPECT_SENSE(none.Inquiry(true, 0x80, 255, data), 0x05, 0x24, 0x00);
    EXPECT_GOOD(none.Inquiry(false, 0, 36, data));
}

TEST(VtapeFaults, SelfTest)
{
    const CBytes selfTest = {0x1D, 0x04, 0, 0, 0, 0};
    CTestDrive healthy("ultrium");
    EXPECT_GOOD(healthy.Run(selfTest));
    CTestDrive broken("ultrium,selftest-fail");
    EXPECT_SENSE(broken.Run(selfTest), 0x04, 0x40, 0x80);
}

TEST(VtapeFaults, SlowCommandsTakeVirtualTimeWhateverTheirAnswer)
{
    CFakeClock clock;
    CFakeClockScope scope(clock);
    const long start = clock.Now();
    CTestDrive drive("ultrium,slow=01:30,slow=0A:12,slow=4c:0");
    CTestDrive protectedDrive("ultrium,write-protected,slow=0a:7");

    EXPECT_GOOD(drive.TestUnitReady());
    EXPECT_GOOD(drive.ResetLogs());
    EXPECT_TRUE(clock.Sleeps().empty()) << "only the named operation codes are slow";

    EXPECT_GOOD(drive.Write(Pattern(100, 1)));
    EXPECT_GOOD(drive.Rewind());
    EXPECT_GOOD(drive.Rewind());
    EXPECT_SENSE(protectedDrive.Write(Pattern(100, 1)), 0x07, 0x27, 0x00);
    EXPECT_EQ(std::vector<long>({12, 30, 30, 7}), clock.Sleeps());
    EXPECT_EQ(start + 79, clock.Now());

    CBytes data;
    EXPECT_GOOD(drive.Read(100, data));
    EXPECT_EQ(Pattern(100, 1), data) << "the slow write did its work";
}
