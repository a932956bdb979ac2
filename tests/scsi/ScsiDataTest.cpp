#include <gtest/gtest.h>

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

TEST(Sense, MediaPresentAnswersCompareTheWholeKeyByte)
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
    const CSenseCode code = ReadSenseCode(sense(0x42, 0x3A, 0x01).data());
    EXPECT_EQ(code.keyByte, 0x42);
    EXPECT_EQ(code.asc, 0x3A);
    EXPECT_EQ(code.ascq, 0x01);
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

}  // namespace
