#include "SimPassThrough.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>

namespace {

CScsiResult Issue(CSimPassThrough& device, const unsigned char* cdb, ScsiDirection direction, unsigned char* data,
                  int length)
{
    return device.Execute(CScsiRequest{cdb, 6, direction, data, length, 60});
}

TEST(SimPassThrough, AnswersInquiryWithTheModelIdentity)
{
    CVString error;
    std::unique_ptr<CSimPassThrough> device = CSimPassThrough::Open("ultrium", error);
    ASSERT_NE(device, nullptr) << static_cast<const char*>(error);
    const unsigned char inquiry[6] = {0x12, 0, 0, 0, 0x24, 0};
    unsigned char data[36] = {};
    CScsiResult result = Issue(*device, inquiry, SCSI_DIR_IN, data, 36);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(data[0] & 0x1F, 0x01);  // sequential-access device
    EXPECT_NE(std::string(reinterpret_cast<char*>(data) + 8, 28).find("ULTRIUM"), std::string::npos);
}

TEST(SimPassThrough, ARefusedCommandCompletesWithItsSense)
{
    CVString error;
    std::unique_ptr<CSimPassThrough> device = CSimPassThrough::Open("dds3", error);
    ASSERT_NE(device, nullptr) << static_cast<const char*>(error);
    const unsigned char unknown[6] = {0xFF, 0, 0, 0, 0, 0};
    CScsiResult result = Issue(*device, unknown, SCSI_DIR_NONE, nullptr, 0);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.status, 0x02);
    EXPECT_EQ(result.sense[2] & 0x0F, 0x05);  // ILLEGAL REQUEST
    EXPECT_GE(result.senseLength, 14);
}

TEST(SimPassThrough, AnUnknownModelIsRefusedWithAReason)
{
    CVString error;
    EXPECT_EQ(CSimPassThrough::Open("no-such-model", error), nullptr);
    EXPECT_FALSE(error.IsEmpty());
}

}  // namespace
