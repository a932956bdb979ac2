#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "ScsiData.h"

namespace {

TEST(ByteOrder, ReadsAndWritesEveryWidth)
{
    const unsigned char bytes[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
    EXPECT_EQ(GetBig16(bytes), 0x0102u);
    EXPECT_EQ(GetBig24(bytes), 0x010203u);
    EXPECT_EQ(GetBig32(bytes), 0x01020304u);
    EXPECT_EQ(GetBigN(bytes, 8), 0x0102030405060788ull);  // the top bit of the last byte is no sign
    EXPECT_EQ(GetBigN(bytes, 0), 0u);
    EXPECT_EQ(GetBigN(bytes, 9), 0u);  // no log value is wider than 8 bytes
    EXPECT_EQ(GetLittle32(bytes), 0x04030201u);

    unsigned char out[8] = {};
    PutBig64(out, 0x1122334455667788ull);
    EXPECT_EQ(GetBigN(out, 8), 0x1122334455667788ull);
    PutBig24(out, 0xABCDEF);
    EXPECT_EQ(GetBig24(out), 0xABCDEFu);
    PutLittle32(out, 0x00004000);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x40);
    EXPECT_EQ(GetLittle32(out), 0x4000u);
}

TEST(ByteOrder, TwentyFourBitStepsWrapWithinThreeBytes)
{
    unsigned char b[3] = {0x00, 0xFF, 0xC0};
    AddTo24(b[0], b[1], b[2], 16384);
    EXPECT_EQ(GetBig24(b), 0x013FC0u);
    unsigned char top[3] = {0xFF, 0xE0, 0x00};
    AddTo24(top[0], top[1], top[2], 8192);
    EXPECT_EQ(GetBig24(top), 0u);
}

TEST(Sense, MediaPresentAndResetAnswersCompareTheWholeKeyByte)
{
    auto sense = [](unsigned char key, unsigned char asc, unsigned char ascq) {
        std::vector<unsigned char> s(32, 0);
        s[2] = key;
        s[12] = asc;
        s[13] = ascq;
        return s;
    };
    EXPECT_TRUE(IsMediaPresentSense(sense(0x02, 0x3A, 0x03).data()));
    EXPECT_FALSE(IsMediaPresentSense(sense(0x02, 0x3A, 0x00).data()));  // no cartridge at all
    EXPECT_TRUE(IsMediaPresentSense(sense(0x06, 0x3F, 0x01).data()));
    EXPECT_TRUE(IsMediaPresentSense(sense(0x09, 0x80, 0x42).data()));
    EXPECT_FALSE(IsMediaPresentSense(sense(0x46, 0x3F, 0x00).data()));  // a flag in byte 2
    EXPECT_FALSE(IsMediaPresentSense(sense(0x00, 0x00, 0x00).data()));
    EXPECT_TRUE(IsResetSense(sense(0x06, 0x29, 0x03).data()));
    EXPECT_FALSE(IsResetSense(sense(0x06, 0x2A, 0x01).data()));  // a unit attention that is no reset
    EXPECT_FALSE(IsResetSense(sense(0x02, 0x29, 0x00).data()));
    const CSenseCode code = ReadSenseCode(sense(0x42, 0x3A, 0x01).data());
    EXPECT_EQ(code.keyByte, 0x42);
    EXPECT_EQ(code.asc, 0x3A);
    EXPECT_EQ(code.ascq, 0x01);
}

TEST(Commands, OnlyCommandsThatMoveNothingAreRepeatable)
{
    for (unsigned char opcode : {0x00, 0x03, 0x05, 0x12, 0x1A, 0x34, 0x3C, 0x4D, 0x5A}) {
        const unsigned char cdb[10] = {opcode};
        EXPECT_TRUE(IsRepeatableCommand(cdb, 10)) << std::hex << int(opcode);
    }
    // WRITE, WRITE FILEMARKS, SPACE, REWIND, LOAD/UNLOAD, READ (moves the
    // tape), MODE SELECT, LOG SELECT, WRITE BUFFER, SEND DIAGNOSTIC, ERASE.
    for (unsigned char opcode : {0x0A, 0x10, 0x11, 0x01, 0x1B, 0x08, 0x15, 0x4C, 0x3B, 0x1D, 0x19, 0x06}) {
        const unsigned char cdb[10] = {opcode};
        EXPECT_FALSE(IsRepeatableCommand(cdb, 10)) << std::hex << int(opcode);
    }
    EXPECT_FALSE(IsRepeatableCommand(nullptr, 6));
}

TEST(LogPage, ParametersAreBuiltAndWalkedTheSameWay)
{
    unsigned char page[64] = {0x03, 0x00};
    unsigned char* next = page + LOG_HEADER_LENGTH;
    next = AppendLogParameter(next, 0x0000, 0x60, 25, 4);
    next = AppendLogParameter(next, 0x0006, 0x60, 0x1122334455ull, 8);
    next = AppendLogParameter(next, 0x8008, 0x60, 0x1FFFFFFFFull, 4);  // saturates
    PutBig16(page + 2, static_cast<uint32_t>(next - page - LOG_HEADER_LENGTH));
    EXPECT_EQ(LogPageLength(page), 8u + 12u + 8u);

    std::vector<uint32_t> codes;
    std::vector<uint64_t> values;
    for (int at = LOG_HEADER_LENGTH; at < static_cast<int>(LOG_HEADER_LENGTH + LogPageLength(page));
         at = NextLogParameter(page, at)) {
        codes.push_back(LogParameterCode(page + at));
        values.push_back(LogParameterValue(page + at));
    }
    EXPECT_EQ(codes, (std::vector<uint32_t>{0x0000, 0x0006, 0x8008}));
    EXPECT_EQ(values, (std::vector<uint64_t>{25, 0x1122334455ull, 0xFFFFFFFFull}));
}

// ---- sense data in the shapes drives send it ----

typedef std::vector<unsigned char> Bytes;

Bytes Normalised(const Bytes& raw, int length = 32)
{
    Bytes fixed(static_cast<size_t>(length), 0xEE);
    NormaliseSense(raw.data(), static_cast<int>(raw.size()), fixed.data(), length);
    return fixed;
}

// Fixed-format sense: byte 0 (response code with VALID), byte 2 (key and
// flags), information bytes 3-6, ASC, ASCQ and sense-key-specific 15-17.
Bytes Fixed(unsigned char code, unsigned char keyByte, uint32_t information, unsigned char asc, unsigned char ascq,
            Bytes keySpecific = Bytes(3, 0))
{
    Bytes fixed(32, 0);
    fixed[0] = code;
    fixed[2] = keyByte;
    PutBig32(fixed.data() + 3, information);
    fixed[7] = 10;
    fixed[12] = asc;
    fixed[13] = ascq;
    std::copy(keySpecific.begin(), keySpecific.end(), fixed.begin() + 15);
    return fixed;
}

TEST(ModeSelectList, SendsBackWhatTheDriveSentWithoutTheBitsMeantForMODESENSE)
{
    // Header (WP, buffered mode 1, speed 5), a block descriptor, two pages
    // with PS set.
    std::vector<unsigned char> data = {0x1B, 0x44, 0x95, 0x08, 0x13, 0,    0,    0,   0, 0,
                                       0x02, 0,    0x8F, 0x06, 0xC0, 0x80, 0,    0,   0, 0x10,
                                       0x90, 0x06, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    EXPECT_EQ(ModeSelectList(data.data(), static_cast<int>(data.size())), 28);
    EXPECT_EQ(data, (std::vector<unsigned char>{0x00, 0x00, 0x15, 0x08, 0x13, 0,    0,    0,   0, 0,
                                                0x02, 0,    0x0F, 0x06, 0xC0, 0x80, 0,    0,   0, 0x10,
                                                0x10, 0x06, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}));
}

TEST(ModeSelectList, RefusesDataThatIsCutOrOverrunsItself)
{
    const std::vector<unsigned char> page = {0x13, 0, 0, 0, 0x8F, 0x0E, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    struct Row {
        const char* name;
        std::vector<unsigned char> data;
        int received;
    } const rows[] = {
        {"answer cut short", page, 19},
        {"page longer than the mode data", {0x07, 0, 0, 0, 0x8F, 0x0E, 0x80, 0}, 8},
        {"page header cut", {0x04, 0, 0, 0, 0x8F}, 5},
        {"descriptors longer than the mode data", {0x05, 0, 0, 0x08, 0, 0}, 6},
        {"no header", {0x03, 0, 0}, 3},
    };
    for (const Row& row : rows) {
        std::vector<unsigned char> data = row.data;
        EXPECT_EQ(ModeSelectList(data.data(), row.received), 0) << row.name;
        EXPECT_EQ(data, row.data) << row.name << ": left as it was";
    }
}

TEST(SenseNormalisation, DescriptorFormatBecomesFixedFormat)
{
    struct Row {
        const char* shape;
        Bytes raw;
        Bytes expected;
        // clang-format off
    } rows[] = {
        {"filemark met while reading: information descriptor with the residue, stream flags",
         {0x72, 0x00, 0x00, 0x01, 0, 0, 0, 0x10,
          0x00, 0x0A, 0x80, 0x00, 0, 0, 0, 0, 0, 0, 0x00, 0x01,
          0x04, 0x02, 0x00, 0x80},
         Fixed(0xF0, 0x80, 1, 0x00, 0x01)},
        {"short block: a negative residue fits the four bytes of fixed format",
         {0x72, 0x00, 0x00, 0x00, 0, 0, 0, 0x10,
          0x04, 0x02, 0x00, 0x20,
          0x00, 0x0A, 0x80, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x00},
         Fixed(0xF0, 0x20, 0xFFFFFE00, 0x00, 0x00)},
        {"end of partition while writing",
         {0x72, 0x0D, 0x00, 0x02, 0, 0, 0, 0x04, 0x04, 0x02, 0x00, 0x40},
         Fixed(0x70, 0x4D, 0, 0x00, 0x02)},
        {"medium error with sense-key-specific progress bytes (shown for Ultrium drives)",
         {0x72, 0x03, 0x11, 0x00, 0, 0, 0, 0x08, 0x02, 0x06, 0x00, 0x00, 0x80, 0x12, 0x34, 0x00},
         Fixed(0x70, 0x03, 0, 0x11, 0x00, {0x80, 0x12, 0x34})},
        {"deferred write error",
         {0x73, 0x03, 0x0C, 0x00, 0, 0, 0, 0x00},
         Fixed(0x71, 0x03, 0, 0x0C, 0x00)},
        {"information wider than 32 bits is not claimed valid",
         {0x72, 0x03, 0x11, 0x00, 0, 0, 0, 0x0C, 0x00, 0x0A, 0x80, 0x00, 0, 0, 0, 0x01, 0, 0, 0, 0},
         Fixed(0x70, 0x03, 0, 0x11, 0x00)},
        {"only the header came back",
         {0x72, 0x05, 0x24, 0x00},
         Fixed(0x70, 0x05, 0, 0x24, 0x00)},
        {"additional length beyond the bytes received: descriptors are read only as far as they came",
         {0x72, 0x06, 0x29, 0x00, 0, 0, 0, 0xF0, 0x04, 0x02, 0x00},
         Fixed(0x70, 0x06, 0, 0x29, 0x00)},
    };
    // clang-format on
    for (const Row& row : rows) {
        Bytes expected = row.expected;
        expected.resize(32, 0);
        Bytes fixed = Normalised(row.raw);
        std::fill(fixed.begin() + FIXED_SENSE_LENGTH, fixed.end(), 0);
        EXPECT_EQ(fixed, expected) << row.shape;
    }
}

TEST(SenseNormalisation, FixedFormatAndNoSenseAreLeftAlone)
{
    // An Ultrium drive's medium error: longer than the standard 18 bytes.
    Bytes ultrium = Fixed(0x70, 0x03, 0, 0x11, 0x00, {0x00, 0x0A, 0x0B});
    ultrium[7] = 0x1C;
    ultrium[25] = 0x42;
    EXPECT_EQ(Normalised(ultrium), ultrium);
    EXPECT_EQ(Normalised(Fixed(0x71, 0x04, 0, 0x44, 0x00)), Fixed(0x71, 0x04, 0, 0x44, 0x00));

    Bytes fixed(8, 0xEE);
    EXPECT_EQ(NormaliseSense(nullptr, 0, fixed.data(), 8), 0);
    EXPECT_EQ(fixed, Bytes(8, 0));
    // A short target buffer is never written past its end.
    Bytes small = Normalised({0x72, 0x03, 0x11, 0x00, 0, 0, 0, 0}, 4);
    EXPECT_EQ(small, (Bytes{0x70, 0x00, 0x03, 0x00}));
}

TEST(SenseNormalisation, DeferredAndRecoveredErrorsAreToldApart)
{
    // clang-format off
    struct Row { Bytes sense; bool deferred; bool recovered; } rows[] = {
        {Fixed(0x70, 0x01, 0, 0x17, 0x01), false, true},   // recovered with retries
        {Fixed(0xF0, 0x01, 7, 0x18, 0x00), false, true},   // recovered with correction, VALID set
        {Fixed(0x71, 0x01, 0, 0x17, 0x01), true, false},   // deferred: this command was not performed
        {Fixed(0x70, 0x41, 0, 0x00, 0x02), false, false},  // recovered, but at end of partition
        {Fixed(0x70, 0x21, 0, 0x00, 0x00), false, false},  // recovered, but the block length was wrong
        {Fixed(0x71, 0x03, 0, 0x0C, 0x00), true, false},
        {Fixed(0xF1, 0x03, 0, 0x0C, 0x00), true, false},
        {Fixed(0x70, 0x03, 0, 0x11, 0x00), false, false},
    };
    // clang-format on
    for (const Row& row : rows) {
        EXPECT_EQ(IsDeferredSense(row.sense.data()), row.deferred) << std::hex << int(row.sense[0]);
        EXPECT_EQ(IsRecoveredSense(row.sense.data()), row.recovered) << std::hex << int(row.sense[2]);
    }
}

}  // namespace
