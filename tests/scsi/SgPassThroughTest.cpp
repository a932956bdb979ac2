#include "SgPassThrough.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

CScsiRequest Request(ScsiDirection direction, unsigned char* data, int length, int timeout = 60)
{
    static const unsigned char cdb[6] = {0x12, 0, 0, 0, 0x24, 0};
    return CScsiRequest{cdb, 6, direction, data, length, timeout};
}

TEST(FillSgRequest, MapsDirectionAndData)
{
    unsigned char data[36];
    unsigned char sense[SCSI_MAX_SENSE_LENGTH];
    struct Row {
        ScsiDirection direction;
        int length;
        int expected;
    } rows[] = {
        {SCSI_DIR_IN, 36, SG_DXFER_FROM_DEV},
        {SCSI_DIR_OUT, 36, SG_DXFER_TO_DEV},
        {SCSI_DIR_NONE, 0, SG_DXFER_NONE},
        {SCSI_DIR_IN, 0, SG_DXFER_NONE},
    };
    for (const Row& row : rows) {
        sg_io_hdr_t header;
        CScsiRequest request = Request(row.direction, row.length > 0 ? data : nullptr, row.length);
        FillSgRequest(request, header, sense);
        EXPECT_EQ(header.dxfer_direction, row.expected);
        EXPECT_EQ(header.dxfer_len, static_cast<unsigned>(row.length));
        EXPECT_EQ(header.dxferp, row.length > 0 ? data : nullptr);
        EXPECT_EQ(header.interface_id, 'S');
        EXPECT_EQ(header.cmd_len, 6);
        EXPECT_EQ(header.cmdp, request.cdb);
        EXPECT_EQ(header.mx_sb_len, SCSI_MAX_SENSE_LENGTH);  // room for descriptor-format sense
        EXPECT_EQ(header.sbp, sense);
    }
}

TEST(FillSgRequest, TimeoutInMillisecondsWithoutOverflow)
{
    unsigned char sense[SCSI_MAX_SENSE_LENGTH];
    struct Row {
        int seconds;
        unsigned expected;
    } rows[] = {
        {60, 60000u}, {86400, 86400000u}, {INT_MAX, UINT_MAX}, {0, 0u}, {-5, 0u},
    };
    for (const Row& row : rows) {
        sg_io_hdr_t header;
        FillSgRequest(Request(SCSI_DIR_NONE, nullptr, 0, row.seconds), header, sense);
        EXPECT_EQ(header.timeout, row.expected) << row.seconds;
    }
}

TEST(ReadSgResult, CompletionFollowsIoctlHostAndDriverStatus)
{
    unsigned char sense[SCSI_MAX_SENSE_LENGTH] = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x01};
    struct Row {
        const char* name;
        int ioctlError;
        bool throughSt;
        unsigned short host, driver;
        const char* failure;  // null: completed
        bool lost;            // it reached the drive and did not come back
    } rows[] = {
        {"good", 0, false, 0, 0, nullptr, false},
        {"st without CAP_SYS_RAWIO", EPERM, true, 0, 0,
         "not permitted: the st node passes commands only with CAP_SYS_RAWIO (root); the generic node of the sg module "
         "needs none",
         false},
        {"st that lost its position", EIO, true, 0, 0,
         "the st driver refuses commands until the tape is rewound (position lost)", false},
        {"generic node I/O error", EIO, false, 0, 0, "input/output error", true},
        {"device unplugged", ENODEV, false, 0, 0, "no such device", true},
        {"host time-out", 0, false, 0x03, 0, "the command timed out", true},
        {"target gone", 0, false, 0x01, 0, "no such device (it went away)", true},
        {"host error", 0, false, 0x07, 0, "the host adapter reported an error", true},
        {"driver timeout", 0, false, 0, 0x06, "the command timed out", true},
        {"driver error", 0, false, 0, 0x04, "the SCSI driver reported an error", true},
        {"driver sense", 0, false, 0, 0x08, nullptr, false},
        {"driver sense with suggestion", 0, false, 0, 0x28, nullptr, false},
    };
    for (const Row& row : rows) {
        sg_io_hdr_t header;
        std::memset(&header, 0, sizeof(header));
        header.host_status = row.host;
        header.driver_status = row.driver;
        CScsiResult result = ReadSgResult(header, row.ioctlError, sense, row.throughSt);
        EXPECT_EQ(result.completed, row.failure == nullptr) << row.name;
        EXPECT_EQ(result.lost, row.lost) << row.name;
        if (row.failure != nullptr && result.failure != nullptr)
            EXPECT_STREQ(result.failure, row.failure) << row.name;
        else
            EXPECT_EQ(result.failure, row.failure) << row.name;
    }
}

TEST(DeviceErrorReason, NamesWhatTheUserCanDo)
{
    EXPECT_STREQ(DeviceErrorReason(EACCES),
                 "permission denied: needs read and write access to the node (root, or its group, usually tape)");
    EXPECT_STREQ(DeviceErrorReason(EPERM), "not permitted: the st node passes commands only with CAP_SYS_RAWIO (root); "
                                           "the generic node of the sg module needs none");
    EXPECT_STREQ(DeviceErrorReason(EBUSY), "busy: in use by another program");
    EXPECT_STREQ(DeviceErrorReason(ENOENT), "no such device");
    EXPECT_STREQ(DeviceErrorReason(ENXIO), "no such device");
    EXPECT_STREQ(DeviceErrorReason(ENOTTY), std::strerror(ENOTTY));
}

TEST(ReadSgResult, CheckConditionCarriesStatusAndTheSenseReturned)
{
    unsigned char sense[SCSI_MAX_SENSE_LENGTH] = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x01};
    sg_io_hdr_t header;
    std::memset(&header, 0, sizeof(header));
    header.status = 0x02;
    header.driver_status = 0x08;
    header.sb_len_wr = 14;
    CScsiResult result = ReadSgResult(header, 0, sense);
    EXPECT_TRUE(result.completed);
    EXPECT_EQ(result.status, 0x02);
    EXPECT_EQ(result.senseLength, 14);
    EXPECT_EQ(std::memcmp(result.sense, sense, 14), 0);

    header.sb_len_wr = 255;
    EXPECT_EQ(ReadSgResult(header, 0, sense).senseLength, SCSI_MAX_SENSE_LENGTH);
    EXPECT_EQ(ReadSgResult(header, EIO, sense).senseLength, 0);
}

TEST(ReadSgResult, TransferredIsTheLengthLessTheResidual)
{
    unsigned char sense[SCSI_MAX_SENSE_LENGTH] = {};
    sg_io_hdr_t header;
    std::memset(&header, 0, sizeof(header));
    header.dxfer_direction = SG_DXFER_FROM_DEV;
    header.dxfer_len = 1024;
    header.resid = 1000;  // a 24-byte log page
    EXPECT_EQ(ReadSgResult(header, 0, sense).transferred, 24);
    header.resid = -5;  // nonsense from a driver: nothing is claimed
    EXPECT_EQ(ReadSgResult(header, 0, sense).transferred, 0);
    header.resid = 2000;
    EXPECT_EQ(ReadSgResult(header, 0, sense).transferred, 0);
    header.resid = 0;
    EXPECT_EQ(ReadSgResult(header, EIO, sense).transferred, 0);
    header.dxfer_direction = SG_DXFER_NONE;
    EXPECT_EQ(ReadSgResult(header, 0, sense).transferred, 0);
}

TEST(SgPassThrough, ADeviceWithoutSgIoNeverCompletesAndClosesBothDescriptors)
{
    const int fd = open("/dev/null", O_RDWR);
    const int claim = open("/dev/zero", O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_GE(claim, 0);
    {
        CSgPassThrough device(fd, claim, false);
        CScsiResult result = device.Execute(Request(SCSI_DIR_NONE, nullptr, 0));
        EXPECT_FALSE(result.completed);
        EXPECT_STREQ(result.failure, std::strerror(ENOTTY));
    }
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(fcntl(claim, F_GETFD), -1);
}

}  // namespace
