// READ BUFFER: the buffers each model lists, their fixed contents, the
// trace's own length, and the faults that fail them.
#include "VtapeTestSupport.h"

using namespace vtape_test;

namespace {

const unsigned char TRACE = 0x07, CARTRIDGE_MEMORY = 0x54, EEPROM = 0x55;
const unsigned char VENDOR_MODE = 0x01, TRACE_MODE = 0x04;
const uint32_t WHOLE = 0xFFFFFF;

CBytes Part(const CBytes& bytes, size_t from, size_t count)
{
    return CBytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(from + count));
}

}  // namespace

TEST(VtapeReadBuffer, EachModelAnswersTheBuffersItLists)
{
    struct Row {
        const char* model;
        unsigned char mode, id;
        int length;  // -1: refused
        // clang-format off
    } const rows[] = {
        {"ultrium", TRACE_MODE, TRACE, 40000},        {"ultrium", VENDOR_MODE, CARTRIDGE_MEMORY, 4096},
        {"ultrium", VENDOR_MODE, EEPROM, 8192},       {"dds4", TRACE_MODE, TRACE, 65536},
        {"dds4", VENDOR_MODE, CARTRIDGE_MEMORY, -1},  {"dds3", TRACE_MODE, TRACE, -1},
        {"crt8000n", TRACE_MODE, TRACE, -1},          {"ultrium", VENDOR_MODE, 0x56, -1},
        {"ultrium", VENDOR_MODE, TRACE, -1},          {"ultrium", TRACE_MODE, EEPROM, -1},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.model) + " buffer " + std::to_string(row.id));
        CTestDrive drive(row.model);
        CBytes data;
        const CVirtualReply reply = drive.ReadBuffer(row.mode, row.id, 0, 100000, data);
        if (row.length < 0) {
            EXPECT_SENSE(reply, 0x05, 0x24, 0x00);
        } else {
            EXPECT_GOOD(reply);
            EXPECT_EQ(row.length, reply.transferred);
        }
    }
}

TEST(VtapeReadBuffer, ContentDependsOnlyOnTheBufferAndTheOffset)
{
    CTestDrive one("ultrium"), other("ultrium,nocart,trace-length=40000");
    CBytes whole, again, piece;
    ASSERT_GOOD(one.ReadBuffer(TRACE_MODE, TRACE, 0, 40000, whole));
    ASSERT_GOOD(other.ReadBuffer(TRACE_MODE, TRACE, 0, 40000, again));
    EXPECT_EQ(whole, again);
    const CVirtualReply reply = one.ReadBuffer(TRACE_MODE, TRACE, 16384, 16384, piece);
    ASSERT_GOOD(reply);
    EXPECT_EQ(16384, reply.transferred);
    EXPECT_EQ(Part(whole, 16384, 16384), piece);

    CBytes memory, eeprom;
    ASSERT_GOOD(one.ReadBuffer(VENDOR_MODE, CARTRIDGE_MEMORY, WHOLE, 4096, memory));
    ASSERT_GOOD(one.ReadBuffer(VENDOR_MODE, EEPROM, WHOLE, 8192, eeprom));
    EXPECT_NE(memory, Part(eeprom, 0, 4096));
    EXPECT_NE(memory, Part(whole, 0, 4096));
    CBytes start;
    ASSERT_GOOD(one.ReadBuffer(VENDOR_MODE, EEPROM, 0, 100, start));
    EXPECT_EQ(Part(eeprom, 0, 100), start) << "offset FFFFFFh reads from the start";
}

TEST(VtapeReadBuffer, TraceHoldsItsLengthLeastSignificantByteFirst)
{
    CBytes data;
    CTestDrive standard("ultrium");
    ASSERT_GOOD(standard.ReadBuffer(TRACE_MODE, TRACE, 0, 16384, data));
    EXPECT_EQ(CBytes({0x40, 0x9C, 0x00, 0x00}), Part(data, 84, 4));  // 40000

    CTestDrive odd("ultrium,trace-length=32769");
    ASSERT_GOOD(odd.ReadBuffer(TRACE_MODE, TRACE, 0, 16384, data));
    EXPECT_EQ(CBytes({0x01, 0x80, 0x00, 0x00}), Part(data, 84, 4));
    CVirtualReply reply = odd.ReadBuffer(TRACE_MODE, TRACE, 32768, 16384, data);
    EXPECT_GOOD(reply);
    EXPECT_EQ(1, reply.transferred) << "the last block holds one byte";
    reply = odd.ReadBuffer(TRACE_MODE, TRACE, 32769, 16384, data);
    EXPECT_GOOD(reply);
    EXPECT_EQ(0, reply.transferred);
    EXPECT_SENSE(odd.ReadBuffer(TRACE_MODE, TRACE, 32770, 16384, data), 0x05, 0x24, 0x00);

    CTestDrive empty("ultrium,trace-length=0");
    reply = empty.ReadBuffer(TRACE_MODE, TRACE, 0, 16384, data);
    EXPECT_GOOD(reply);
    EXPECT_EQ(0, reply.transferred);
}

TEST(VtapeReadBuffer, CartridgeMemoryNeedsALoadedCartridge)
{
    CBytes data;
    CTestDrive drive("ultrium");
    ASSERT_GOOD(drive.LoadUnload(0x00));
    EXPECT_SENSE(drive.ReadBuffer(VENDOR_MODE, CARTRIDGE_MEMORY, WHOLE, 4096, data), 0x02, 0x3A, 0x00);
    EXPECT_GOOD(drive.ReadBuffer(VENDOR_MODE, EEPROM, WHOLE, 8192, data));
    ASSERT_GOOD(drive.LoadUnload(0x01));
    EXPECT_GOOD(drive.ReadBuffer(VENDOR_MODE, CARTRIDGE_MEMORY, WHOLE, 4096, data));

    CTestDrive empty("ultrium,nocart");
    EXPECT_SENSE(empty.ReadBuffer(VENDOR_MODE, CARTRIDGE_MEMORY, WHOLE, 4096, data), 0x02, 0x3A, 0x00);
}

TEST(VtapeReadBuffer, TraceBlockFaultFailsOneOffsetEveryTime)
{
    CBytes data;
    CTestDrive drive("ultrium,trace-block-fail=1");
    EXPECT_GOOD(drive.ReadBuffer(TRACE_MODE, TRACE, 0, 16384, data));
    EXPECT_SENSE(drive.ReadBuffer(TRACE_MODE, TRACE, 16384, 16384, data), 0x04, 0x44, 0x00);
    EXPECT_SENSE(drive.ReadBuffer(TRACE_MODE, TRACE, 16384, 16384, data), 0x04, 0x44, 0x00);
    EXPECT_GOOD(drive.ReadBuffer(TRACE_MODE, TRACE, 16385, 100, data));
    EXPECT_GOOD(drive.ReadBuffer(TRACE_MODE, TRACE, 32768, 16384, data));
}
