// The model table against what the drive serves: every page a model lists
// is answered, every page it does not list is refused, and the error counter
// pages are laid out as the model says. A page listed without a builder, or
// served without being listed, fails here.
#include "Models.h"
#include "VtapeTestSupport.h"

using namespace vtape_test;

namespace {

std::vector<const CDriveModel*> AllModels()
{
    size_t count;
    const CDriveModel* models = DriveModels(count);
    std::vector<const CDriveModel*> all;
    for (size_t i = 0; i < count; ++i) {
        all.push_back(&models[i]);
    }
    return all;
}

CBytes Listed(const CCodeSet& codes)
{
    CBytes list(256);
    list.resize(codes.CopyTo(list.data()));
    return list;
}

// Page codes of a MODE SENSE reply without block descriptor, in order.
CBytes ModePageCodes(const CBytes& data)
{
    CBytes codes;
    const size_t end = size_t(data[0]) + 1;
    for (size_t offset = 4 + data[3]; offset + 2 <= end; offset += 2 + data[offset + 1]) {
        codes.push_back(data[offset] & 0x3F);
    }
    return codes;
}

}  // namespace

TEST(VtapeModelData, ModePagesAreExactlyTheListedOnes)
{
    for (const CDriveModel* model : AllModels()) {
        SCOPED_TRACE(model->name);
        CTestDrive drive(model->name);
        CBytes data;
        for (unsigned code = 0x01; code < 0x3F; ++code) {
            const CVirtualReply reply = drive.ModeSense(static_cast<unsigned char>(code), 255, data, true);
            if (model->modePages.Has(code)) {
                EXPECT_GOOD(reply) << "page " << code;
                EXPECT_EQ(code, data[4] & 0x3Fu);
                EXPECT_EQ(reply.transferred, 4 + 2 + data[5]) << "page " << code;
            } else {
                EXPECT_SENSE(reply, 0x05, 0x24, 0x00) << "page " << code;
            }
        }
        EXPECT_GOOD(drive.ModeSense(0x3F, 255, data, true));
        EXPECT_EQ(Listed(model->modePages), ModePageCodes(data));
    }
}

TEST(VtapeModelData, EveryListedModePageCanBeSelectedBackUnchanged)
{
    for (const CDriveModel* model : AllModels()) {
        SCOPED_TRACE(model->name);
        CTestDrive drive(model->name);
        CBytes before, after;
        ASSERT_GOOD(drive.ModeSense(0x3F, 255, before, true));
        CBytes list(before.begin(), before.begin() + before[0] + 1);
        list[0] = 0;  // mode data length is reserved in MODE SELECT
        EXPECT_GOOD(drive.ModeSelect(list));
        ASSERT_GOOD(drive.ModeSense(0x3F, 255, after, true));
        EXPECT_EQ(CBytes(before.begin(), before.begin() + 255), CBytes(after.begin(), after.begin() + 255));
    }
}

TEST(VtapeModelData, LogPagesAreExactlyTheListedOnes)
{
    for (const CDriveModel* model : AllModels()) {
        SCOPED_TRACE(model->name);
        CTestDrive drive(model->name);
        CBytes page;
        ASSERT_GOOD(drive.LogSense(0x00, 512, page));
        const CBytes listed = Listed(model->logPages);
        EXPECT_EQ(listed, CBytes(page.begin() + 4, page.begin() + 4 + page[3]));
        for (unsigned code = 0x01; code < 0x40; ++code) {
            const CVirtualReply reply = drive.LogSense(static_cast<unsigned char>(code), 512, page);
            if (model->logPages.Has(code)) {
                EXPECT_GOOD(reply) << "page " << code;
                EXPECT_EQ(code, page[0]);
            } else {
                EXPECT_SENSE(reply, 0x05, 0x24, 0x00) << "page " << code;
            }
        }
    }
}

TEST(VtapeModelData, CounterPagesFollowTheModelsLayout)
{
    for (const CDriveModel* model : AllModels()) {
        if (!model->logPages.Has(0x02)) {
            continue;
        }
        SCOPED_TRACE(model->name);
        CTestDrive drive(model->name);
        CBytes page;
        const CVirtualReply reply = drive.LogSense(0x02, 512, page);
        ASSERT_GOOD(reply);
        size_t offset = 4;
        for (unsigned parameter = 0; parameter <= 6; ++parameter) {
            EXPECT_EQ(parameter, (unsigned(page[offset]) << 8) | page[offset + 1]);
            EXPECT_EQ(model->counters.wideParameters.Has(parameter) ? 8 : 4, page[offset + 3])
                << "parameter " << parameter;
            offset += 4 + page[offset + 3];
        }
        EXPECT_EQ(model->counters.vendorParameter, LogParameter(page, 0x8008) == 0);
        EXPECT_EQ(offset + (model->counters.vendorParameter ? 8 : 0), size_t(reply.transferred));
    }
}

TEST(VtapeModelData, VpdPagesAreExactlyTheListedOnes)
{
    for (const CDriveModel* model : AllModels()) {
        SCOPED_TRACE(model->name);
        CTestDrive drive(model->name);
        CBytes data;
        const CVirtualReply supported = drive.Inquiry(true, 0x00, 255, data);
        if (model->vpdPages.Empty()) {
            EXPECT_SENSE(supported, 0x05, 0x24, 0x00);
            continue;
        }
        ASSERT_GOOD(supported);
        EXPECT_EQ(Listed(model->vpdPages), CBytes(data.begin() + 4, data.begin() + 4 + data[3]));
        for (unsigned code = 0x01; code < 0x100; ++code) {
            const CVirtualReply reply = drive.Inquiry(true, static_cast<unsigned char>(code), 255, data);
            if (model->vpdPages.Has(code)) {
                EXPECT_GOOD(reply) << "page " << code;
                EXPECT_EQ(code, data[1]);
            } else {
                EXPECT_SENSE(reply, 0x05, 0x24, 0x00) << "page " << code;
            }
        }
    }
}
