// The vendor park command (06h): the arm moves only with the cartridge out,
// a parked arm refuses loads, and the answers of a cartridge still inside.
#include "VtapeTestSupport.h"

using namespace vtape_test;

TEST(VtapeArm, ParksOnlyWithTheCartridgeOutAndRefusesLoadsUntilUnparked)
{
    CTestDrive drive("ultrium");
    EXPECT_SENSE(drive.Park(0x01), 0x02, 0x3A, 0x03);
    ASSERT_GOOD(drive.LoadUnload(0x00));
    EXPECT_GOOD(drive.Park(0x01));
    EXPECT_GOOD(drive.Park(0x01));
    EXPECT_SENSE(drive.LoadUnload(0x01), 0x02, 0x04, 0x03);
    EXPECT_GOOD(drive.LoadUnload(0x00));
    EXPECT_SENSE(drive.TestUnitReady(), 0x02, 0x3A, 0x00);
    EXPECT_GOOD(drive.Park(0x00));
    EXPECT_GOOD(drive.LoadUnload(0x01));
    EXPECT_GOOD(drive.TestUnitReady());
}

TEST(VtapeArm, ByteFourIsParkOrUnparkOnly)
{
    CTestDrive drive("ultrium,nocart");
    EXPECT_SENSE(drive.Park(0x02), 0x05, 0x24, 0x00);
    EXPECT_SENSE(drive.Park(0xFF), 0x05, 0x24, 0x00);
    EXPECT_GOOD(drive.Park(0x01));
}

TEST(VtapeArm, OnlyModelsListingTheCodeAnswerIt)
{
    for (const char* model : {"dds4", "dat", "crt8000n"}) {
        CTestDrive drive(std::string(model) + ",nocart");
        EXPECT_SENSE(drive.Park(0x01), 0x05, 0x20, 0x00) << model;
    }
}

TEST(VtapeArm, CartridgeLeftInTheDriveAnswersWithTheFaultsSense)
{
    struct Row {
        const char* fault;
        int byte2, asc, ascq;
    } const rows[] = {
        {"media-present=02/3A/03", 0x02, 0x3A, 0x03},
        {"media-present=06/3F/01", 0x06, 0x3F, 0x01},
        {"media-present=09/80/00", 0x09, 0x80, 0x00},
        {"media-present=42/3a/03", 0x42, 0x3A, 0x03},  // byte 2 with the end-of-medium flag
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        CTestDrive drive(std::string("ultrium,") + row.fault);
        EXPECT_GOOD(drive.TestUnitReady());
        ASSERT_GOOD(drive.LoadUnload(0x00));
        EXPECT_CONDITION(drive.TestUnitReady(), row.byte2, row.asc, row.ascq);
        EXPECT_CONDITION(drive.Park(0x01), row.byte2, row.asc, row.ascq);
        EXPECT_CONDITION(drive.Park(0x00), row.byte2, row.asc, row.ascq);
    }
    CTestDrive never("ultrium,nocart,media-present=02/3A/03");
    EXPECT_SENSE(never.TestUnitReady(), 0x02, 0x3A, 0x00) << "no cartridge was ever in it";
    EXPECT_GOOD(never.Park(0x01));
}
