// MODE SENSE(6) and MODE SELECT(6).
#include <algorithm>

#include "VtapeTestSupport.h"

using namespace vtape_test;

namespace {

// Page codes of a MODE SENSE reply, in order.
CBytes PageCodes(const CBytes& data)
{
    CBytes codes;
    const size_t end = size_t(data[0]) + 1;
    for (size_t offset = 4 + data[3]; offset + 2 <= end; offset += 2 + data[offset + 1]) {
        codes.push_back(data[offset] & 0x3F);
    }
    return codes;
}

uint32_t BlockLength(const CBytes& data)
{
    return (uint32_t(data[9]) << 16) | (uint32_t(data[10]) << 8) | data[11];
}

// Header without block descriptor, then one page.
CBytes SelectList(const CBytes& page)
{
    // Sized once and copied into: GCC 12 at -O3 takes an insert behind a
    // four-byte initializer list for a write past its end (-Warray-bounds).
    CBytes list(4 + page.size(), 0);
    std::copy(page.begin(), page.end(), list.begin() + 4);
    return list;
}

CBytes CompressionPage(bool dce)
{
    CBytes page(16, 0);
    page[0] = 0x0F;
    page[1] = 0x0E;
    page[2] = dce ? 0x80 : 0x00;
    page[3] = 0x80;
    return page;
}

}  // namespace

TEST(VtapeModePages, HeaderAndBlockDescriptorReportBlockMode)
{
    CBytes data;
    CTestDrive variable("ultrium");
    CVirtualReply reply = variable.ModeSense(0x00, 255, data);
    EXPECT_GOOD(reply);
    EXPECT_EQ(12, reply.transferred);
    EXPECT_EQ(11, data[0]);
    EXPECT_EQ(8, data[3]);
    EXPECT_EQ(0x42, data[4]);
    EXPECT_EQ(0u, BlockLength(data));
    EXPECT_EQ(0, data[2] & 0x80);

    CTestDrive fixed("dds4,fixed=512,write-protected");
    EXPECT_GOOD(fixed.ModeSense(0x00, 255, data));
    EXPECT_EQ(512u, BlockLength(data));
    EXPECT_EQ(0x80, data[2] & 0x80);

    reply = fixed.ModeSense(0x00, 255, data, true);
    EXPECT_GOOD(reply);
    EXPECT_EQ(4, reply.transferred);
    EXPECT_EQ(0, data[3]);
}

TEST(VtapeModePages, AllPagesListsTheModelsPagesInOrder)
{
    CBytes data;
    CTestDrive ultrium("ultrium");
    EXPECT_GOOD(ultrium.ModeSense(0x3F, 255, data));
    EXPECT_EQ(CBytes({0x0A, 0x0F, 0x10, 0x21}), PageCodes(data));

    CTestDrive travan("travan3200");
    EXPECT_GOOD(travan.ModeSense(0x3F, 255, data));
    EXPECT_EQ(CBytes({0x0F, 0x10, 0x2A}), PageCodes(data));
    EXPECT_EQ(4 + 8 + 16 + 16 + 20, data[0] + 1);

    CTestDrive changer("changer");
    EXPECT_GOOD(changer.ModeSense(0x3F, 255, data));
    EXPECT_EQ(CBytes({0x1D}), PageCodes(data));
    EXPECT_SENSE(changer.ModeSense(0x0F, 255, data), 0x05, 0x24, 0x00);

    EXPECT_SENSE(ultrium.ModeSense(0x2A, 255, data), 0x05, 0x24, 0x00);
    EXPECT_SENSE(ultrium.ModeSense(0x1D, 255, data), 0x05, 0x24, 0x00);
    EXPECT_SENSE(ultrium.ModeSense(0x01, 255, data), 0x05, 0x24, 0x00);
}

TEST(VtapeModePages, AllocationLengthLimitsTheTransfer)
{
    CBytes data;
    CTestDrive drive("ultrium");
    CVirtualReply reply = drive.ModeSense(0x3F, 0, data);
    EXPECT_GOOD(reply);
    EXPECT_EQ(0, reply.transferred);
    EXPECT_EQ(0xEE, data[0]);

    reply = drive.ModeSense(0x3F, 20, data);
    EXPECT_GOOD(reply);
    EXPECT_EQ(20, reply.transferred);
    EXPECT_EQ(4 + 8 + 12 + 16 + 16 + 16 - 1, data[0]) << "mode data length is the full length";
    EXPECT_EQ(0xEE, data[20]);
}

TEST(VtapeModePages, CompressionPageFollowsModelAndFaults)
{
    CBytes data;
    CTestDrive compressing("dds3");
    EXPECT_GOOD(compressing.ModeSense(0x0F, 255, data, true));
    EXPECT_EQ(0x0F, data[4]);
    EXPECT_EQ(0x0E, data[5]);
    EXPECT_EQ(0xC0, data[6] & 0xC0);  // DCE, DCC

    CTestDrive off("dds3,compression-off");
    EXPECT_GOOD(off.ModeSense(0x0F, 255, data, true));
    EXPECT_EQ(0x40, data[6] & 0xC0);

    CTestDrive plain("crt8000a");
    EXPECT_GOOD(plain.ModeSense(0x0F, 255, data, true));
    EXPECT_EQ(0x00, data[6] & 0xC0);
}

TEST(VtapeModePages, CapabilitiesPageFlagsACartridgeTheDriveCannotWrite)
{
    CBytes data;
    CTestDrive good("crt20000n");
    EXPECT_GOOD(good.ModeSense(0x2A, 255, data, true));
    EXPECT_EQ(0x2A, data[4]);
    EXPECT_EQ(0x12, data[5]);
    EXPECT_EQ(0, data[8] & 0x01);

    CTestDrive wrong("crt20000n,wrong-cartridge");
    EXPECT_GOOD(wrong.ModeSense(0x2A, 255, data, true));
    EXPECT_EQ(1, data[8] & 0x01);
}

TEST(VtapeModePages, ModeSelectChangesCompressionAndBlockSize)
{
    CBytes data;
    CTestDrive drive("ultrium");
    EXPECT_GOOD(drive.ModeSelect(SelectList(CompressionPage(false))));
    EXPECT_GOOD(drive.ModeSense(0x0F, 255, data, true));
    EXPECT_EQ(0x40, data[6] & 0xC0);

    CBytes withDescriptor = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0x00, 0x04, 0x00};
    EXPECT_GOOD(drive.ModeSelect(withDescriptor));
    EXPECT_GOOD(drive.ModeSense(0x00, 255, data));
    EXPECT_EQ(1024u, BlockLength(data));
    EXPECT_GOOD(drive.WriteFixed(Pattern(2048, 1), 2));
    EXPECT_EQ(2u, drive.Position());
}

TEST(VtapeModePages, ModeSelectRejectsBadListsAndChangesNothing)
{
    CBytes data;
    CTestDrive drive("ultrium");
    CBytes capabilities(20, 0);
    capabilities[0] = 0x2A;
    capabilities[1] = 0x12;
    EXPECT_SENSE(drive.ModeSelect(SelectList(capabilities)), 0x05, 0x26, 0x00);

    // The block descriptor is valid but the page after it is not: no change.
    CBytes list = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0x00, 0x02, 0x00};
    list.insert(list.end(), capabilities.begin(), capabilities.end());
    EXPECT_SENSE(drive.ModeSelect(list), 0x05, 0x26, 0x00);
    EXPECT_GOOD(drive.ModeSense(0x00, 255, data));
    EXPECT_EQ(0u, BlockLength(data));

    const unsigned char cdb[6] = {0x15, 0x10, 0, 0, 20, 0};
    unsigned char shortList[4] = {0, 0, 0, 0};
    EXPECT_SENSE(drive->Execute(cdb, 6, VDIR_OUT, shortList, 4), 0x05, 0x1A, 0x00);

    CTestDrive locked("ultrium,compression-locked");
    EXPECT_SENSE(locked.ModeSelect(SelectList(CompressionPage(false))), 0x05, 0x26, 0x00);
    EXPECT_GOOD(locked.ModeSense(0x0F, 255, data, true));
    EXPECT_EQ(0x80, data[6] & 0x80);

    CTestDrive plain("crt8000a");
    EXPECT_SENSE(plain.ModeSelect(SelectList(CompressionPage(true))), 0x05, 0x26, 0x00);
}

TEST(VtapeModePages, ModeSelectRefusesWhatOnlyModeSenseMaySet)
{
    CBytes data;
    CTestDrive drive("ultrium,compression-off,saveable-pages");
    EXPECT_GOOD(drive.ModeSense(0x0F, 255, data, true));
    EXPECT_EQ(0x8F, data[4]) << "PS: the page can be saved";
    data.resize(size_t(data[0]) + 1);
    data[6] |= 0x80;
    // Sent back as read: the mode data length and PS are reserved.
    EXPECT_SENSE(drive.ModeSelect(data), 0x05, 0x26, 0x00);
    data[0] = 0;
    EXPECT_SENSE(drive.ModeSelect(data), 0x05, 0x26, 0x00);
    data[4] = 0x0F;
    data[2] |= 0x80;  // WP is ignored
    EXPECT_GOOD(drive.ModeSelect(data));
    EXPECT_GOOD(drive.ModeSense(0x0F, 255, data, true));
    EXPECT_EQ(0x80, data[6] & 0x80);
}

namespace {

// MODE SENSE of one page without block descriptors, trimmed to the mode data.
CBytes SettingsData(CTestDrive& drive, unsigned char page)
{
    CBytes data;
    const CVirtualReply reply = drive.ModeSense(page, 255, data, true);
    EXPECT_GOOD(reply);
    data.resize(static_cast<size_t>(reply.transferred));
    return data;
}

// The mode data as MODE SELECT takes it back: mode data length and medium
// type zeroed, every other byte as read, then one byte changed.
CBytes Changed(CBytes data, size_t at, unsigned char value)
{
    data[0] = 0;
    data[1] = 0;
    data[at] = value;
    return data;
}

}  // namespace

TEST(VtapeModePages, SettingsPagesRefuseChangesTheyDoNotAllow)
{
    CTestDrive drive("ultrium");
    const CBytes vendor = SettingsData(drive, 0x21);
    const CBytes control = SettingsData(drive, 0x0A);
    struct Row {
        const char* what;
        CBytes list;
    } const rows[] = {
        {"a fixed byte of page 21h", Changed(vendor, 13, static_cast<unsigned char>(vendor[13] ^ 1))},
        {"compression control 3", Changed(vendor, 11, 3)},
        {"autoload mode 3", Changed(control, 9, 3)},
        {"a fixed bit of page 0Ah byte 5", Changed(control, 9, 0x40)},
        {"speed code 1", Changed(vendor, 2, 1)},
        {"speed code 8", Changed(vendor, 2, 8)},
    };
    for (const Row& row : rows) {
        EXPECT_SENSE(drive.ModeSelect(row.list), 0x05, 0x26, 0x00) << row.what;
    }
    EXPECT_EQ(vendor, SettingsData(drive, 0x21)) << "a refused list changes nothing";
    EXPECT_EQ(control, SettingsData(drive, 0x0A));

    CTestDrive dat("dds4");
    CBytes compression = SettingsData(dat, 0x0F);
    EXPECT_SENSE(dat.ModeSelect(Changed(compression, 2, 3)), 0x05, 0x26, 0x00) << "no speeds on this model";
    EXPECT_GOOD(dat.ModeSelect(Changed(compression, 2, 0)));
}

TEST(VtapeModePages, ReportedSpeedCodeIsTakenBackButNotChosenAgain)
{
    CTestDrive drive("ultrium,speed-code=1");
    const CBytes vendor = SettingsData(drive, 0x21);
    EXPECT_EQ(1, vendor[2] & 0x0F);
    EXPECT_GOOD(drive.ModeSelect(Changed(vendor, 11, 1))) << "the header goes back as read";
    EXPECT_GOOD(drive.ModeSelect(Changed(vendor, 2, 7)));
    EXPECT_SENSE(drive.ModeSelect(Changed(vendor, 2, 1)), 0x05, 0x26, 0x00);
}
