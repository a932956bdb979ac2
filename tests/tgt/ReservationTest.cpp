// The persistent reservation that keeps other hosts off an iSCSI drive while
// a destructive command runs, against tgt with a second initiator: refused
// while the drive is reserved, served again after, also when the session
// was lost in between.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "LinuxDriverInterface.h"
#include "TgtTarget.h"
#ifdef TAPEDIAG_HAVE_LIBISCSI
#include "IscsiPassThrough.h"
#endif

namespace {

#ifdef TAPEDIAG_HAVE_LIBISCSI

// A command every initiator may send unless another holds the drive for
// exclusive access.
unsigned char SecondInitiatorStatus(CPassThrough& second)
{
    const unsigned char modeSense[6] = {OP_MODE_SENSE6, 0x08, MODE_PAGE_ALL, 0, 0xFF, 0};
    unsigned char data[255];
    const CScsiRequest request = {modeSense, 6, SCSI_DIR_IN, data, sizeof data, 10};
    const CScsiResult result = second.Execute(request);
    EXPECT_TRUE(result.completed) << (result.failure != nullptr ? result.failure : "");
    return result.status;
}

// tgt takes persistent reservations on its disk LUNs only; its tape LUN
// answers them as an unknown command.
const int DISK_LUN = 2;

std::unique_ptr<CIscsiPassThrough> OpenInitiator(const std::string& url)
{
    CVString error;
    std::unique_ptr<CIscsiPassThrough> device = CIscsiPassThrough::Open(url.c_str(), error, DEVICE_TYPE_DISK);
    EXPECT_NE(device, nullptr) << static_cast<const char*>(error);
    return device;
}

// One host's view of the disk LUN through the command layer.
struct CHost {
    explicit CHost(const std::string& url) { drive.FileDescriptor(face.AttachDevice(OpenInitiator(url))); }
    CLinuxDriverInterface face;
    CTapeDrive drive;
};

TEST(TgtReservation, ASecondInitiatorIsRefusedWhileTheDriveIsReservedAndServedAfter)
{
    TgtTarget target;
    REQUIRE_TGT(target);
    CHost host(target.Url(DISK_LUN));
    std::unique_ptr<CIscsiPassThrough> second = OpenInitiator(target.Url(DISK_LUN));
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(SecondInitiatorStatus(*second), GOOD_STATUS);

    ASSERT_TRUE(host.face.ReserveDrive(&host.drive));
    EXPECT_EQ(SecondInitiatorStatus(*second), RESERVATION_CONFLICT_STATUS);
    host.face.ReleaseDrive(&host.drive);
    EXPECT_EQ(SecondInitiatorStatus(*second), GOOD_STATUS);
}

TEST(TgtReservation, ADriveAnotherHostReservedRefusesTheReservation)
{
    TgtTarget target;
    REQUIRE_TGT(target);
    CHost other(target.Url(DISK_LUN));
    CHost host(target.Url(DISK_LUN));
    ASSERT_TRUE(other.face.ReserveDrive(&other.drive));
    EXPECT_FALSE(host.face.ReserveDrive(&host.drive));
    EXPECT_EQ(host.face.GetStatus(&host.drive), RESERVATION_CONFLICT_STATUS);
    host.face.ReleaseDrive(&host.drive);  // leaves the other host's reservation alone
    other.face.ReleaseDrive(&other.drive);
    EXPECT_TRUE(host.face.ReserveDrive(&host.drive));
    host.face.ReleaseDrive(&host.drive);
}

TEST(TgtReservation, ASessionLostWhileReservedStillReleasesTheDrive)
{
    TgtTarget target;
    REQUIRE_TGT(target);
    CHost host(target.Url(DISK_LUN));
    ASSERT_TRUE(host.face.ReserveDrive(&host.drive));
    target.DropConnections();
    ::testing::internal::CaptureStderr();
    host.face.ReleaseDrive(&host.drive);
    ::testing::internal::GetCapturedStderr();

    std::unique_ptr<CIscsiPassThrough> second = OpenInitiator(target.Url(DISK_LUN));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(SecondInitiatorStatus(*second), GOOD_STATUS);
}

#endif

}  // namespace
