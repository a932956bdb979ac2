#include "IscsiMapping.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

CScsiRequest Request(ScsiDirection direction, unsigned char* data, int length)
{
    static const unsigned char cdb[6] = {0x08, 0x00, 0x01, 0x00, 0x00, 0x00};
    return CScsiRequest{cdb, 6, direction, data, length, 60};
}

CIscsiReply Reply(int status)
{
    return CIscsiReply{status, nullptr, 0, ISCSI_RESIDUAL_NONE, 0};
}

TEST(IscsiReply, TasksThatEndWithoutAStatusLoseTheSession)
{
    unsigned char data[16];
    struct Row {
        int status;
        const char* failure;
    } rows[] = {
        {ISCSI_TASK_CANCELLED, "session lost"},
        {ISCSI_TASK_ERROR, "session lost"},
        {ISCSI_TASK_TIMEOUT, "the command timed out (session lost)"},
        {0x101, "session lost"},  // a redirect is no answer of the drive
    };
    for (const Row& row : rows) {
        CScsiResult result = ReadIscsiReply(Reply(row.status), Request(SCSI_DIR_IN, data, 16));
        EXPECT_FALSE(result.completed) << row.status;
        EXPECT_TRUE(result.lost) << row.status;
        EXPECT_STREQ(result.failure, row.failure);
        EXPECT_EQ(result.transferred, 0);
    }
}

TEST(IscsiReply, CheckConditionCarriesTheSenseOfTheDataSegment)
{
    // Segment: 2-byte sense length, then descriptor-format sense; a trailing
    // byte beyond the stated length is not sense.
    const std::vector<unsigned char> segment = {0x00, 0x08, 0x72, 0x08, 0x00, 0x05, 0, 0, 0, 0x00, 0xAA};
    CIscsiReply reply = Reply(0x02);
    reply.segment = segment.data();
    reply.segmentSize = segment.size();
    CScsiResult result = ReadIscsiReply(reply, Request(SCSI_DIR_NONE, nullptr, 0));
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.failure, nullptr);
    EXPECT_EQ(result.status, 0x02);
    ASSERT_EQ(result.senseLength, 8);
    EXPECT_EQ(std::vector<unsigned char>(result.sense, result.sense + 8),
              std::vector<unsigned char>(segment.begin() + 2, segment.begin() + 10));

    // A length that claims more than the segment holds is cut to what came.
    const std::vector<unsigned char> shortSegment = {0x01, 0x00, 0x70, 0x00, 0x03};
    reply.segment = shortSegment.data();
    reply.segmentSize = shortSegment.size();
    EXPECT_EQ(ReadIscsiReply(reply, Request(SCSI_DIR_NONE, nullptr, 0)).senseLength, 3);
    reply.segmentSize = 1;
    EXPECT_EQ(ReadIscsiReply(reply, Request(SCSI_DIR_NONE, nullptr, 0)).senseLength, 0);
}

TEST(IscsiReply, TransferredIsTheLengthLessAnUnderflow)
{
    unsigned char data[65536];
    CIscsiReply reply = Reply(0x00);
    EXPECT_EQ(ReadIscsiReply(reply, Request(SCSI_DIR_IN, data, 65536)).transferred, 65536);
    reply.residualKind = ISCSI_RESIDUAL_UNDERFLOW;
    reply.residual = 65536 - 512;  // a short block
    EXPECT_EQ(ReadIscsiReply(reply, Request(SCSI_DIR_IN, data, 65536)).transferred, 512);
    reply.residual = 1u << 20;  // nonsense from a target claims nothing
    EXPECT_EQ(ReadIscsiReply(reply, Request(SCSI_DIR_IN, data, 65536)).transferred, 0);
    reply.residualKind = ISCSI_RESIDUAL_OVERFLOW;  // a longer block: the buffer is full
    reply.residual = 100;
    EXPECT_EQ(ReadIscsiReply(reply, Request(SCSI_DIR_IN, data, 65536)).transferred, 65536);
    EXPECT_EQ(ReadIscsiReply(Reply(0x00), Request(SCSI_DIR_NONE, nullptr, 0)).transferred, 0);
    // A read that met a filemark, answered without a residual: nothing is claimed.
    EXPECT_EQ(ReadIscsiReply(Reply(0x02), Request(SCSI_DIR_IN, data, 512)).transferred, 0);
    reply = Reply(0x02);  // a short block: the target says how much is missing
    reply.residualKind = ISCSI_RESIDUAL_UNDERFLOW;
    reply.residual = 65536 - 512;
    EXPECT_EQ(ReadIscsiReply(reply, Request(SCSI_DIR_IN, data, 65536)).transferred, 512);
}

TEST(IscsiCommands, ADataInCommandWithoutABufferGetsRoomForItsData)
{
    struct Row {
        std::vector<unsigned char> cdb;
        int length;
    } rows[] = {
        {{0x05, 0, 0, 0, 0, 0}, 256},                            // READ BLOCK LIMITS: no allocation field
        {{0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 256},                // READ POSITION, short form
        {{0x1A, 0x08, 0x3F, 0x00, 0x00, 0x00}, 256},             // MODE SENSE, allocation 0
        {{0x12, 0x00, 0x00, 0x04, 0x00, 0x00}, 1024},            // INQUIRY, allocation 400h
        {{0x4D, 0, 0x6E, 0, 0, 0, 0, 0xFF, 0xFF, 0}, 65535},     // LOG SENSE, 64 KiB less one
        {{0x3C, 0x02, 0, 0, 0, 0, 0x10, 0x00, 0x00, 0}, 65536},  // READ BUFFER of 1 MiB: capped
        {{0x00, 0, 0, 0, 0, 0}, 0},                              // TEST UNIT READY returns nothing
        {{0x0A, 0, 0, 0x01, 0, 0}, 0},                           // WRITE is data out
        {{0x4D, 0, 0x6E, 0, 0, 0}, 0},                           // too short for its own fields
    };
    for (const Row& row : rows)
        EXPECT_EQ(DataInScratchLength(row.cdb.data(), static_cast<int>(row.cdb.size())), row.length)
            << std::hex << int(row.cdb[0]);
}

TEST(IscsiCommands, OnlyAPresentTapeDriveIsATapeDrive)
{
    const unsigned char tape[] = {0x01}, disk[] = {0x00}, absentTape[] = {0x21}, changer[] = {0x08};
    EXPECT_TRUE(IsInquiryOfType(tape, 36, DEVICE_TYPE_TAPE));
    EXPECT_FALSE(IsInquiryOfType(disk, 36, DEVICE_TYPE_TAPE));
    EXPECT_FALSE(IsInquiryOfType(absentTape, 36, DEVICE_TYPE_TAPE));
    EXPECT_FALSE(IsInquiryOfType(changer, 36, DEVICE_TYPE_TAPE));
    EXPECT_FALSE(IsInquiryOfType(tape, 0, DEVICE_TYPE_TAPE));
}

}  // namespace
