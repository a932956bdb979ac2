// The iSCSI backend against a real target: what a lost session, a wrong
// password, a LUN that is no tape drive and tgt's own faults do to it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DeviceOpener.h"
#include "TgtTarget.h"
#ifdef TAPEDIAG_HAVE_LIBISCSI
#include "IscsiPassThrough.h"
#endif

namespace {

#ifdef TAPEDIAG_HAVE_LIBISCSI

typedef std::vector<unsigned char> Bytes;

class IscsiBackend : public ::testing::Test {
protected:
    std::unique_ptr<CIscsiPassThrough> Open(const std::string& url)
    {
        error = "";
        return CIscsiPassThrough::Open(url.c_str(), error);
    }
    static CScsiResult Command(CPassThrough& device, Bytes cdb, ScsiDirection direction = SCSI_DIR_NONE,
                               Bytes* data = nullptr)
    {
        CScsiRequest request = {cdb.data(),
                                static_cast<int>(cdb.size()),
                                direction,
                                data != nullptr ? data->data() : nullptr,
                                data != nullptr ? static_cast<int>(data->size()) : 0,
                                10};
        return device.Execute(request);
    }
    static bool Good(const CScsiResult& result) { return result.completed && result.status == 0; }
    static std::string Error(const CVString& text) { return static_cast<const char*>(text); }

    CVString error;
};

TEST_F(IscsiBackend, OpensTheTapeLunWithItsUnitAttentionTakenAndSurvivesDataInWithoutBuffer)
{
    TgtTarget target;
    REQUIRE_TGT(target);
    std::unique_ptr<CIscsiPassThrough> device = Open(target.Url());
    ASSERT_NE(device, nullptr) << Error(error);
    // The first command of a test finds no unit attention left.
    EXPECT_TRUE(Good(Command(*device, {0x00, 0, 0, 0, 0, 0})));
    // Commands that return data, sent without a buffer: the target must not
    // lose the session over them.
    for (const Bytes& cdb :
         {Bytes{0x05, 0, 0, 0, 0, 0}, Bytes{0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Bytes{0x1A, 0x08, 0x3F, 0, 0, 0}}) {
        EXPECT_TRUE(Good(Command(*device, cdb))) << std::hex << int(cdb[0]);
    }
    EXPECT_TRUE(Good(Command(*device, {0x00, 0, 0, 0, 0, 0})));
    EXPECT_TRUE(device->LoggedIn());
}

TEST_F(IscsiBackend, ALunThatIsNoTapeDriveIsRefusedBeforeAnyOtherCommand)
{
    TgtTarget target;
    REQUIRE_TGT(target);
    EXPECT_EQ(Open(target.Url(0)), nullptr);
    EXPECT_EQ(Error(error), "LUN 0 of iqn.2026-12.test.tapediag:tape is not a tape drive (peripheral type 0Ch)");
    EXPECT_EQ(Open(target.Url(7)), nullptr);
    EXPECT_EQ(Error(error), "LUN 7 of iqn.2026-12.test.tapediag:tape is not a tape drive (peripheral type 7Fh)");
}

TEST_F(IscsiBackend, ChapLogsInWithTheRightPasswordOnly)
{
    TgtTarget target("tapeuser", "tapesecret12");
    REQUIRE_TGT(target);
    EXPECT_EQ(Open(target.UrlWithPassword("wrongsecret12")), nullptr);
    EXPECT_EQ(Error(error),
              "the target refused the login to iqn.2026-12.test.tapediag:tape (check the user and password)");
    EXPECT_EQ(Open(target.Url()), nullptr);  // no password at all
    std::unique_ptr<CIscsiPassThrough> device = Open(target.UrlWithPassword("tapesecret12"));
    ASSERT_NE(device, nullptr) << Error(error);
    EXPECT_TRUE(Good(Command(*device, {0x00, 0, 0, 0, 0, 0})));
}

TEST_F(IscsiBackend, ALostConnectionFailsTheWriteWithoutSendingItAgain)
{
    TgtTarget target;
    REQUIRE_TGT(target);
    std::unique_ptr<CIscsiPassThrough> device = Open(target.Url());
    ASSERT_NE(device, nullptr) << Error(error);
    Bytes first(512, 0xA1), second(512, 0xB2);
    ASSERT_TRUE(Good(Command(*device, {0x01, 0, 0, 0, 0, 0})));
    ASSERT_TRUE(Good(Command(*device, {0x0A, 0, 0, 0x02, 0x00, 0}, SCSI_DIR_OUT, &first)));

    target.DropConnections();
    CScsiResult lost = Command(*device, {0x0A, 0, 0, 0x02, 0x00, 0}, SCSI_DIR_OUT, &second);
    EXPECT_FALSE(lost.completed);
    EXPECT_STREQ(lost.failure, "session lost");
    EXPECT_FALSE(device->LoggedIn());
    // A write, a rewind: not on a new session of their own accord.
    lost = Command(*device, {0x01, 0, 0, 0, 0, 0});
    EXPECT_STREQ(lost.failure, "session lost");
    EXPECT_FALSE(device->LoggedIn());

    // A command that moves nothing logs in again.
    EXPECT_TRUE(Good(Command(*device, {0x00, 0, 0, 0, 0, 0})));
    EXPECT_TRUE(device->LoggedIn());
    // On tape: the first block, then end of data; the write that met the
    // lost connection was never replayed.
    ASSERT_TRUE(Good(Command(*device, {0x01, 0, 0, 0, 0, 0})));
    Bytes block(512, 0);
    EXPECT_TRUE(Good(Command(*device, {0x08, 0, 0, 0x02, 0x00, 0}, SCSI_DIR_IN, &block)));
    EXPECT_EQ(block, first);
    CScsiResult end = Command(*device, {0x08, 0, 0, 0x02, 0x00, 0}, SCSI_DIR_IN, &block);
    EXPECT_TRUE(end.completed);
    EXPECT_EQ(end.status, 0x02);
    EXPECT_EQ(end.sense[2] & 0x0F, 0x08);  // BLANK CHECK
}

TEST_F(IscsiBackend, AKilledTargetFailsEveryCommandWithAReasonAndNeverHangs)
{
    TgtTarget target;
    REQUIRE_TGT(target);
    std::unique_ptr<CIscsiPassThrough> device = Open(target.Url());
    ASSERT_NE(device, nullptr) << Error(error);
    target.Kill();
    Bytes block(65536, 0x5A);
    CScsiResult result = Command(*device, {0x0A, 0, 0x01, 0x00, 0x00, 0}, SCSI_DIR_OUT, &block);
    EXPECT_FALSE(result.completed);
    EXPECT_STREQ(result.failure, "session lost");
    // A command that may log in again finds nobody there.
    result = Command(*device, {0x12, 0, 0, 0, 36, 0}, SCSI_DIR_IN, &block);
    EXPECT_FALSE(result.completed);
    EXPECT_STREQ(result.failure, "session lost");
}

#endif

}  // namespace
