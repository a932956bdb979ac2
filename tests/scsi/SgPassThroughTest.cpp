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
    unsigned char sense[SCSI_SENSE_LENGTH];
    struct Row { ScsiDirection direction; int length; int expected; } rows[] = {
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
        EXPECT_EQ(header.mx_sb_len, 32);
        EXPECT_EQ(header.sbp, sense);
    }
}

TEST(FillSgRequest, TimeoutInMillisecondsWithoutOverflow)
{
    unsigned char sense[SCSI_SENSE_LENGTH];
    struct Row { int seconds; unsigned expected; } rows[] = {
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
    unsigned char sense[SCSI_SENSE_LENGTH] = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x01};
    struct Row { const char* name; int ioctlResult; unsigned short host, driver; bool completed; } rows[] = {
        {"good", 0, 0, 0, true},
        {"ioctl error", -1, 0, 0, false},
        {"host error", 0, 0x03, 0, false},
        {"driver timeout", 0, 0, 0x06, false},
        {"driver error", 0, 0, 0x04, false},
        {"driver sense", 0, 0, 0x08, true},
        {"driver sense with suggestion", 0, 0, 0x28, true},
    };
    for (const Row& row : rows) {
        sg_io_hdr_t header;
        std::memset(&header, 0, sizeof(header));
        header.host_status = row.host;
        header.driver_status = row.driver;
        EXPECT_EQ(ReadSgResult(header, row.ioctlResult, sense).completed, row.completed) << row.name;
    }
}

TEST(ReadSgResult, CheckConditionCarriesStatusAndAtMost32SenseBytes)
{
    unsigned char sense[SCSI_SENSE_LENGTH] = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x01};
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

    header.sb_len_wr = 200;
    EXPECT_EQ(ReadSgResult(header, 0, sense).senseLength, 32);
    EXPECT_EQ(ReadSgResult(header, -1, sense).senseLength, 0);
}

TEST(ReadSgResult, TransferredIsTheLengthLessTheResidual)
{
    unsigned char sense[SCSI_SENSE_LENGTH] = {};
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
    EXPECT_EQ(ReadSgResult(header, -1, sense).transferred, 0);
    header.dxfer_direction = SG_DXFER_NONE;
    EXPECT_EQ(ReadSgResult(header, 0, sense).transferred, 0);
}

TEST(SgPassThrough, OpenRefusesMissingPathsAndNonDevices)
{
    CVString error;
    EXPECT_EQ(CSgPassThrough::Open("/nonexistent/nst9", error), nullptr);
    EXPECT_NE(CVString(error).Find(std::strerror(ENOENT)), -1) << static_cast<const char*>(error);

    char path[] = "/tmp/tapediag-sg-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(CSgPassThrough::Open(path, error), nullptr);
    EXPECT_NE(error.Find("not a character device"), -1);
    unlink(path);
}

TEST(SgPassThrough, ADeviceWithoutSgIoNeverCompletesAndClosesItsDescriptor)
{
    CVString error;
    std::unique_ptr<CSgPassThrough> device = CSgPassThrough::Open("/dev/null", error);
    ASSERT_NE(device, nullptr) << static_cast<const char*>(error);
    const int fd = device->Descriptor();
    EXPECT_FALSE(device->Execute(Request(SCSI_DIR_NONE, nullptr, 0)).completed);
    device.reset();
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

}  // namespace
