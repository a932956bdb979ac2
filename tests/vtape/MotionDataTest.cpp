// READ, WRITE, WRITE FILEMARKS, REWIND, SPACE, READ POSITION, LOAD/UNLOAD,
// REQUEST SENSE and the dispatch of unknown or malformed CDBs.
#include "VtapeTestSupport.h"

using namespace vtape_test;

namespace {

const int FM = 0x80;
const int EOM = 0x40;
const int ILI = 0x20;

// Records A (100 bytes), B (200 bytes), a filemark, C (300 bytes).
void WriteSampleTape(CTestDrive& drive)
{
    ASSERT_GOOD(drive.Write(Pattern(100, 1)));
    ASSERT_GOOD(drive.Write(Pattern(200, 2)));
    ASSERT_GOOD(drive.WriteFilemarks(1));
    ASSERT_GOOD(drive.Write(Pattern(300, 3)));
    ASSERT_GOOD(drive.Rewind());
}

}  // namespace

TEST(VtapeData, VariableRecordsReadBackAcrossAFilemark)
{
    CTestDrive drive("ultrium");
    WriteSampleTape(drive);
    CBytes data;
    CVirtualReply reply = drive.Read(100, data);
    EXPECT_GOOD(reply);
    EXPECT_EQ(100, reply.transferred);
    EXPECT_EQ(Pattern(100, 1), data);
    EXPECT_GOOD(drive.Read(200, data));
    EXPECT_EQ(Pattern(200, 2), data);

    reply = drive.Read(500, data);
    EXPECT_CONDITION(reply, FM, 0x00, 0x01);
    EXPECT_EQ(0, reply.transferred);
    EXPECT_EQ(500, Information(reply));
    EXPECT_EQ(0x80, reply.sense[0] & 0x80) << "information is valid";
    EXPECT_EQ(3u, drive.Position()) << "the drive moves past the filemark";

    EXPECT_GOOD(drive.Read(300, data));
    EXPECT_EQ(Pattern(300, 3), data);
    reply = drive.Read(300, data);
    EXPECT_SENSE(reply, 0x08, 0x00, 0x05);
    EXPECT_EQ(0, reply.transferred);
}

TEST(VtapeData, IncorrectLengthReportsTheSignedDifference)
{
    CTestDrive drive("ultrium");
    WriteSampleTape(drive);
    CBytes data;
    CVirtualReply reply = drive.Read(60, data);  // record A is 100 bytes
    EXPECT_CONDITION(reply, ILI, 0x00, 0x00);
    EXPECT_EQ(60, reply.transferred);
    EXPECT_EQ(-40, Information(reply));
    const CBytes recordA = Pattern(100, 1);
    EXPECT_EQ(CBytes(recordA.begin(), recordA.begin() + 60), data);
    EXPECT_EQ(1u, drive.Position());

    reply = drive.Read(250, data);  // record B is 200 bytes
    EXPECT_CONDITION(reply, ILI, 0x00, 0x00);
    EXPECT_EQ(200, reply.transferred);
    EXPECT_EQ(50, Information(reply));
}

TEST(VtapeData, FixedBlocksAndShortBuffers)
{
    CTestDrive drive("dds4,fixed=512");
    CBytes blocks = Pattern(4 * 512, 7);
    CVirtualReply reply = drive.WriteFixed(blocks, 4);
    EXPECT_GOOD(reply);
    EXPECT_EQ(2048, reply.transferred);
    EXPECT_GOOD(drive.WriteFilemarks(1));
    EXPECT_GOOD(drive.Rewind());

    CBytes data;
    EXPECT_GOOD(drive.ReadFixed(4, 512, data));
    EXPECT_EQ(blocks, data);

    EXPECT_GOOD(drive.Rewind());
    reply = drive.ReadFixed(6, 512, data);
    EXPECT_CONDITION(reply, FM, 0x00, 0x01);
    EXPECT_EQ(2048, reply.transferred);
    EXPECT_EQ(2, Information(reply)) << "residue counts blocks in fixed mode";

    EXPECT_SENSE(drive.Out(CTestDrive::Cdb6(0x0A, 1, 4), Pattern(1000, 1)), 0x05, 0x24, 0x00);
    CBytes tooSmall(100);
    EXPECT_SENSE(drive.In(CTestDrive::Cdb6(0x08, 0, 200), tooSmall), 0x05, 0x24, 0x00);

    CTestDrive variable("dds4");
    EXPECT_SENSE(variable.WriteFixed(blocks, 4), 0x05, 0x24, 0x00);
}

TEST(VtapeData, WritingTruncatesEverythingAfterIt)
{
    CTestDrive drive("ultrium");
    WriteSampleTape(drive);
    CBytes data;
    EXPECT_GOOD(drive.Read(100, data));
    EXPECT_GOOD(drive.Write(Pattern(50, 9)));
    EXPECT_SENSE(drive.Read(200, data), 0x08, 0x00, 0x05);
    EXPECT_GOOD(drive.Rewind());
    EXPECT_GOOD(drive.Write(Pattern(10, 10)));
    EXPECT_SENSE(drive.Read(100, data), 0x08, 0x00, 0x05);
    EXPECT_EQ(1u, drive.Position());
}

TEST(VtapeData, EndOfMediumAtCapacity)
{
    CTestDrive drive("ultrium,capacity=1");
    const CBytes block = Pattern(65536, 1);
    for (int i = 0; i < 16; ++i) {
        ASSERT_GOOD(drive.Write(block)) << "block " << i;
    }
    CVirtualReply reply = drive.Write(block);
    EXPECT_CONDITION(reply, EOM, 0x00, 0x02);
    EXPECT_EQ(0, reply.transferred);
    EXPECT_EQ(16u, drive.Position()) << "nothing written beyond capacity";

    CBytes position(20);
    EXPECT_GOOD(drive.In({0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, position));
    EXPECT_EQ(0x40, position[0] & 0xC0) << "EOP set, BOP clear";

    EXPECT_GOOD(drive.Rewind());
    EXPECT_GOOD(drive.Write(block)) << "rewriting from the beginning frees the space";
}

TEST(VtapeData, IdenticalBlocksAreStoredOnce)
{
    CTestDrive drive("ultrium");
    const CBytes block = Pattern(65536, 5);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_GOOD(drive.Write(block));
    }
    EXPECT_EQ(1, drive->StoredBlockContents());
    EXPECT_GOOD(drive.Write(Pattern(65536, 6)));
    EXPECT_EQ(2, drive->StoredBlockContents());
    EXPECT_GOOD(drive.Write(block));
    EXPECT_EQ(2, drive->StoredBlockContents()) << "a content seen before is found again";

    EXPECT_GOOD(drive.Rewind());
    EXPECT_GOOD(drive.Write(Pattern(10, 1)));
    EXPECT_EQ(1, drive->StoredBlockContents()) << "overwritten contents are released";
}

TEST(VtapeMotion, SpaceStopsAtFilemarksAndEndOfData)
{
    CTestDrive drive("ultrium");
    WriteSampleTape(drive);
    CVirtualReply reply = drive.Space(0x00, 5);
    EXPECT_CONDITION(reply, FM, 0x00, 0x01);
    EXPECT_EQ(3, Information(reply));
    EXPECT_EQ(3u, drive.Position());

    reply = drive.Space(0x00, -2);
    EXPECT_CONDITION(reply, FM, 0x00, 0x01);
    EXPECT_EQ(2, Information(reply)) << "the filemark came first: no block spaced";
    EXPECT_EQ(2u, drive.Position()) << "reverse spacing stops before the filemark";

    EXPECT_GOOD(drive.Space(0x00, -2));
    reply = drive.Space(0x00, -1);
    EXPECT_CONDITION(reply, EOM, 0x00, 0x04);
    EXPECT_EQ(0u, drive.Position());

    EXPECT_GOOD(drive.Space(0x01, 1));
    EXPECT_EQ(3u, drive.Position());
    EXPECT_GOOD(drive.Space(0x01, -1));
    EXPECT_EQ(2u, drive.Position());
    reply = drive.Space(0x01, 2);
    EXPECT_SENSE(reply, 0x08, 0x00, 0x05);
    EXPECT_EQ(1, Information(reply));
    EXPECT_EQ(4u, drive.Position());

    EXPECT_GOOD(drive.Rewind());
    EXPECT_GOOD(drive.Space(0x03, 0));
    EXPECT_EQ(4u, drive.Position());
    EXPECT_SENSE(drive.Space(0x04, 1), 0x05, 0x24, 0x00);
}

TEST(VtapeMotion, UnloadEjectsAndLoadReinsertsTheSameCartridge)
{
    CTestDrive drive("crt8000n");
    EXPECT_GOOD(drive.TestUnitReady());
    EXPECT_GOOD(drive.Write(Pattern(100, 1)));
    EXPECT_GOOD(drive.LoadUnload(0x00));
    EXPECT_SENSE(drive.TestUnitReady(), 0x02, 0x3A, 0x00);
    CBytes data;
    EXPECT_SENSE(drive.Read(100, data), 0x02, 0x3A, 0x00);
    EXPECT_GOOD(drive.LoadUnload(0x03));  // load with retension
    EXPECT_GOOD(drive.TestUnitReady());
    EXPECT_EQ(0u, drive.Position());
    EXPECT_GOOD(drive.Read(100, data));
    EXPECT_EQ(Pattern(100, 1), data);

    CTestDrive dat("dds4");  // DAT drives cannot retension
    EXPECT_SENSE(dat.LoadUnload(0x03), 0x05, 0x24, 0x00);
}

TEST(VtapeMotion, RequestSenseReturnsTheLastFailureOnce)
{
    CTestDrive drive("ultrium");
    CBytes sense;
    EXPECT_SENSE(drive.Read(10, sense), 0x08, 0x00, 0x05);
    EXPECT_GOOD(drive.TestUnitReady());
    CVirtualReply reply = drive.RequestSense(255, sense);
    EXPECT_GOOD(reply);
    EXPECT_EQ(18, reply.transferred);
    EXPECT_EQ(0x08, sense[2] & 0x0F);
    EXPECT_EQ(0x05, sense[13]);

    reply = drive.RequestSense(8, sense);
    EXPECT_EQ(8, reply.transferred);
    EXPECT_EQ(0x70, sense[0]);
    EXPECT_EQ(0x00, sense[2]);
    EXPECT_EQ(0xEE, sense[8]);
}

TEST(VtapeMotion, ReadBlockLimitsTellsTheRecordLengthsAccepted)
{
    CTestDrive drive("ultrium");
    CBytes limits(6, 0xEE);
    EXPECT_GOOD(drive.In({0x05, 0, 0, 0, 0, 0}, limits));
    EXPECT_EQ(limits, (CBytes{0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x01}));
}

TEST(VtapeMotion, UnknownOpcodesAndWrongCdbLengths)
{
    CTestDrive drive("ultrium");
    EXPECT_SENSE(drive.Run({0x02, 0, 0, 0, 0, 0}), 0x05, 0x20, 0x00);
    EXPECT_SENSE(drive.Run({0xA5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0x05, 0x20, 0x00);
    EXPECT_SENSE(drive.Run({0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0x05, 0x24, 0x00);
    EXPECT_SENSE(drive.Run({0x34, 0, 0, 0, 0, 0}), 0x05, 0x24, 0x00);
    EXPECT_SENSE(drive->Execute(nullptr, 0, VDIR_NONE, nullptr, 0), 0x05, 0x24, 0x00);

    CTestDrive changer("changer");
    EXPECT_SENSE(changer.Run(CTestDrive::Cdb6(0x08, 0, 10)), 0x05, 0x20, 0x00);
}

TEST(VtapeMotion, TwoDrivesShareNothing)
{
    CTestDrive first("ultrium,capacity=1");
    CTestDrive second("ultrium,capacity=1");
    ASSERT_GOOD(first.Write(Pattern(1000, 1)));
    ASSERT_GOOD(first.WriteFilemarks(1));
    EXPECT_EQ(0u, second.Position());
    EXPECT_EQ(0, second->StoredBlockContents());
    EXPECT_GOOD(first.LoadUnload(0x00));
    EXPECT_GOOD(second.TestUnitReady());

    CBytes data;
    EXPECT_SENSE(second.Read(10, data), 0x08, 0x00, 0x05);
    EXPECT_GOOD(first.RequestSense(255, data));
    EXPECT_EQ(0x00, data[2] & 0x0F) << "the other drive's failure is not ours";
}
