// Firmware download (WRITE BUFFER modes 04h and 05h), the image format, the
// faults of an upgrade, retension and the autoloader configuration.
#include <cstring>
#include <string>

#include "FakeClock.h"
#include "FirmwareImage.h"
#include "ScsiData.h"
#include "VtapeTestSupport.h"

using namespace vtape_test;

namespace {

const uint32_t BLOCK = 8192;

CFirmwareImage Image(const std::string& family, const std::string& level, size_t size)
{
    CFirmwareImage image;
    image.family = family;
    image.level = level;
    image.size = size;
    return image;
}

CFirmwareImage UltriumImage(const std::string& level = "120B", size_t size = 2 * BLOCK)
{
    CFirmwareImage image = Image("ultrium", level, size);
    image.pageC0 = {{30, level + "-5RC4"}};
    image.pageC1 = {{30, "BOOT 1.3"}};
    return image;
}

CBytes WriteBufferCdb(unsigned char mode, uint32_t offset, uint32_t length)
{
    CBytes cdb = {0x3B, mode, 0, 0, 0, 0, 0, 0, 0, 0};
    PutBig24(cdb.data() + 3, offset);
    PutBig24(cdb.data() + 6, length);
    return cdb;
}

// Sends the image in 8 KiB blocks from `offset` on, as tapediag does (block
// 0 twice), stopping at the first refusal, which is returned.
CVirtualReply Download(CTestDrive& drive, const CBytes& image, uint32_t offset)
{
    CVirtualReply reply = drive.Out(WriteBufferCdb(0x04, offset, BLOCK), CBytes(image.begin(), image.begin() + BLOCK));
    for (size_t at = 0; at + BLOCK <= image.size(); at += BLOCK) {
        reply = drive.Out(WriteBufferCdb(0x04, offset + static_cast<uint32_t>(at), BLOCK),
                          CBytes(image.begin() + at, image.begin() + at + BLOCK));
        if (reply.status != GOOD_STATUS) {
            return reply;
        }
    }
    return reply;
}

// The first `size` bytes of an image whose header names its whole size.
CBytes Truncated(CBytes image, size_t size)
{
    image.resize(size);
    return image;
}

CVirtualReply Save(CTestDrive& drive)
{
    return drive.Run(WriteBufferCdb(0x05, 0, 0));
}

std::string Revision(CTestDrive& drive)
{
    CBytes data;
    EXPECT_GOOD(drive.Inquiry(false, 0, 36, data));
    return std::string(data.begin() + 32, data.begin() + 36);
}

std::string PageText(CTestDrive& drive, unsigned char page, size_t offset, size_t length)
{
    CBytes data;
    EXPECT_GOOD(drive.Inquiry(true, page, 255, data));
    return std::string(data.begin() + offset, data.begin() + offset + length);
}

}  // namespace

TEST(VtapeFirmwareImage, HeaderRules)
{
    const CBytes good = MakeFirmwareImage(UltriumImage());
    CFirmwareImage parsed;
    std::string reason;
    ASSERT_TRUE(ParseFirmwareImage(good.data(), good.size(), parsed, reason)) << reason;
    EXPECT_EQ(parsed.family, "ultrium");
    EXPECT_EQ(parsed.level, "120B");
    EXPECT_EQ(parsed.size, good.size());
    ASSERT_EQ(parsed.pageC0.size(), 1u);
    EXPECT_EQ(parsed.pageC0[0].offset, 30u);
    EXPECT_EQ(parsed.pageC0[0].text, "120B-5RC4");
    EXPECT_EQ(parsed.pageC1[0].text, "BOOT 1.3");

    // Each header against the image of 16384 bytes it starts.
    struct Case {
        const char* header;
        bool valid;
        // clang-format off
    } cases[] = {
        {"VTAPE FIRMWARE 1\nfamily=dds4\nlevel=9C24\nsize=16384\n", true},
        {"VTAPE FIRMWARE 1\nsize=16384\nlevel=9C24\nfamily=dds4", true},      // any order, last line end optional
        {"VTAPE FIRMWARE 1\nfamily=dds4\nlevel=9C24\nsize=16383\n", false},   // not the bytes received
        {"VTAPE FIRMWARE 1\nfamily=dds4\nlevel=9C2\nsize=16384\n", false},    // level of 3 characters
        {"VTAPE FIRMWARE 1\nfamily=dds4\nlevel=9C 4\nsize=16384\n", false},
        {"VTAPE FIRMWARE 1\nfamily=DDS4\nlevel=9C24\nsize=16384\n", false},
        {"VTAPE FIRMWARE 1\nlevel=9C24\nsize=16384\n", false},                 // no family
        {"VTAPE FIRMWARE 1\nfamily=dds4\nfamily=dds4\nlevel=9C24\nsize=16384\n", false},
        {"VTAPE FIRMWARE 2\nfamily=dds4\nlevel=9C24\nsize=16384\n", false},
        {"family=dds4\nlevel=9C24\nsize=16384\n", false},
        {"VTAPE FIRMWARE 1\nfamily=dds4\nlevel=9C24\nsize=16384\nsum=7\n", false},
        {"VTAPE FIRMWARE 1\r\nfamily=dds4\nlevel=9C24\nsize=16384\n", false},
        {"VTAPE FIRMWARE 1\nfamily=dds4\nlevel=9C24\nsize=16384\nc0=5:9C24\nc0=19:A7F1\n", true},
        {"VTAPE FIRMWARE 1\nfamily=dds4\nlevel=9C24\nsize=16384\nc0=3:9C24\n", false},  // over the page header
        {"VTAPE FIRMWARE 1\nfamily=dds4\nlevel=9C24\nsize=16384\nc1=60:ABCDE\n", false}, // past byte 63
        {"VTAPE FIRMWARE 1\nfamily=dds4\nlevel=9C24\nsize=16384\nc1=60\n", false},
        {"", false},
    };
    // clang-format on
    for (const Case& c : cases) {
        CBytes image(16384, 0);
        std::memcpy(image.data(), c.header, std::strlen(c.header));
        EXPECT_EQ(ParseFirmwareImage(image.data(), image.size(), parsed, reason), c.valid) << c.header;
    }
    // The header must end within the first 1024 bytes.
    CBytes endless(16384, 'x');
    EXPECT_FALSE(ParseFirmwareImage(endless.data(), endless.size(), parsed, reason));
    EXPECT_FALSE(ParseFirmwareImage(nullptr, 0, parsed, reason));
}

TEST(VtapeFirmware, DownloadAndSaveChangeWhatTheDriveReports)
{
    CTestDrive drive("ultrium");
    EXPECT_EQ(Revision(drive), "117A");
    const CBytes image = MakeFirmwareImage(UltriumImage("120B", 3 * BLOCK));
    EXPECT_GOOD(Download(drive, image, 0));
    EXPECT_EQ(Revision(drive), "117A");  // nothing changes before the save
    EXPECT_GOOD(Save(drive));
    EXPECT_EQ(Revision(drive), "120B");
    EXPECT_EQ(PageText(drive, 0xC0, 30, 18), "120B-5RC4         ");
    EXPECT_EQ(PageText(drive, 0xC1, 30, 18), "BOOT 1.3          ");
    // The save took the download: a second save has nothing to save.
    EXPECT_SENSE(Save(drive), 0x05, 0x2C, 0x00);
}

TEST(VtapeFirmware, TheImageMustStartAtTheModelsBufferOffset)
{
    const CBytes image = MakeFirmwareImage(Image("dds3", "7490", 2 * BLOCK));
    CTestDrive dds3("dds3");
    EXPECT_SENSE(Download(dds3, image, 0), 0x05, 0x24, 0x00);
    EXPECT_GOOD(Download(dds3, image, 0x100000));
    EXPECT_GOOD(Save(dds3));
    EXPECT_EQ(Revision(dds3), "7490");
    // An image with no text for a page leaves that page blank.
    EXPECT_EQ(PageText(dds3, 0xC0, 5, 4), "    ");

    CTestDrive dds4("dds4");  // a block reaching past its 16 MiB buffer
    EXPECT_SENSE(dds4.Out(WriteBufferCdb(0x04, 16 * 1024 * 1024 - BLOCK + 1, BLOCK), CBytes(BLOCK)), 0x05, 0x24, 0x00);
}

TEST(VtapeFirmware, ForeignOrMalformedImagesAreRefusedAtTheSave)
{
    struct Case {
        CBytes image;
        int asc;
        int ascq;
        // clang-format off
    } cases[] = {
        {MakeFirmwareImage(Image("dds4", "120B", 2 * BLOCK)), 0x26, 0x02},  // another family
        {Truncated(MakeFirmwareImage(Image("ultrium", "120B", 4 * BLOCK)), 2 * BLOCK), 0x26, 0x00},
        {CBytes(2 * BLOCK, 0x5A), 0x26, 0x00},                               // no header at all
    };
    // clang-format on
    for (const Case& c : cases) {
        CTestDrive drive("ultrium");
        EXPECT_GOOD(Download(drive, c.image, 0));
        EXPECT_SENSE(Save(drive), 0x05, c.asc, c.ascq);
        EXPECT_EQ(Revision(drive), "117A");
        EXPECT_SENSE(Save(drive), 0x05, 0x2C, 0x00);  // the refused image is gone
    }
}

TEST(VtapeFirmware, DrivesWithoutADownloadRefuseIt)
{
    const CBytes image = MakeFirmwareImage(UltriumImage());
    for (const char* model : {"crt20000n", "dat"}) {
        CTestDrive drive(model);
        EXPECT_SENSE(Download(drive, image, 0), 0x05, 0x24, 0x00) << model;
        EXPECT_SENSE(Save(drive), 0x05, 0x24, 0x00) << model;
    }
    CTestDrive drive("ultrium");
    EXPECT_SENSE(drive.Out(WriteBufferCdb(0x02, 0, BLOCK), image), 0x05, 0x24, 0x00);  // data mode
    CBytes otherBuffer = WriteBufferCdb(0x04, 0, BLOCK);
    otherBuffer[2] = 1;
    EXPECT_SENSE(drive.Out(otherBuffer, image), 0x05, 0x24, 0x00);
    EXPECT_SENSE(drive.Out(WriteBufferCdb(0x04, 0, BLOCK), CBytes(100)), 0x05, 0x1A, 0x00);
}

TEST(VtapeFirmwareFaults, ASaveThatResetsTheDriveStartsTheNewFirmwareAfterAWhile)
{
    CFakeClock clock;
    CFakeClockScope scope(clock);
    const CBytes image = MakeFirmwareImage(Image("dds3", "7490", 2 * BLOCK));
    CTestDrive drive("dds3,save-reset=2");
    EXPECT_GOOD(Download(drive, image, 0x100000));
    EXPECT_SENSE(drive.Run(WriteBufferCdb(0x05, 0x104000, 0)), 0x06, 0x29, 0x00);
    EXPECT_EQ(clock.Sleeps(), std::vector<long>{15});

    // Restarting: nothing is answered, and only INQUIRY counts.
    CBytes data;
    EXPECT_SENSE(drive.TestUnitReady(), 0x02, 0x04, 0x01);
    EXPECT_SENSE(drive.ModeSense(0x3F, 36, data, true), 0x02, 0x04, 0x01);
    EXPECT_SENSE(drive.Inquiry(false, 0, 36, data), 0x02, 0x04, 0x01);
    EXPECT_SENSE(drive.RequestSense(18, data), 0x02, 0x04, 0x01);
    EXPECT_SENSE(drive.Inquiry(false, 0, 36, data), 0x02, 0x04, 0x01);
    EXPECT_EQ(Revision(drive), "7490");
    EXPECT_GOOD(drive.TestUnitReady());

    CTestDrive restart("ultrium,restart=1");
    EXPECT_GOOD(Download(restart, MakeFirmwareImage(UltriumImage()), 0));
    EXPECT_GOOD(Save(restart));
    EXPECT_SENSE(restart.Inquiry(false, 0, 36, data), 0x02, 0x04, 0x01);
    EXPECT_EQ(Revision(restart), "120B");

    // The reset is reported first, to every command, as often as asked.
    CTestDrive attention("ultrium,restart=1,reset-attention=2");
    EXPECT_GOOD(Download(attention, MakeFirmwareImage(UltriumImage()), 0));
    EXPECT_GOOD(Save(attention));
    EXPECT_SENSE(attention.TestUnitReady(), 0x06, 0x29, 0x00);
    EXPECT_SENSE(attention.Inquiry(false, 0, 36, data), 0x06, 0x29, 0x00);
    EXPECT_SENSE(attention.Inquiry(false, 0, 36, data), 0x02, 0x04, 0x01);
    EXPECT_EQ(Revision(attention), "120B");
}

TEST(VtapeFirmwareFaults, AShortBlockIsTakenInPartWithGoodStatus)
{
    CTestDrive drive("ultrium,download-short=2");
    const CBytes block(BLOCK, 0x11);
    EXPECT_EQ(drive.Out(WriteBufferCdb(0x04, 0, BLOCK), block).transferred, int(BLOCK));
    const CVirtualReply part = drive.Out(WriteBufferCdb(0x04, BLOCK, BLOCK), block);
    EXPECT_GOOD(part);
    EXPECT_EQ(part.transferred, int(BLOCK / 2));
}

TEST(VtapeFirmwareFaults, OemDrivesCarryTheMarkOnPageC0)
{
    CTestDrive ultrium("ultrium,oem");
    EXPECT_EQ(PageText(ultrium, 0xC0, 30, 18), "117A-52           ");
    EXPECT_EQ(PageText(ultrium, 0xC1, 30, 8), "BOOT 1.2");
    CTestDrive dds3("dds3,oem");
    EXPECT_EQ(PageText(dds3, 0xC0, 5, 16), "7480        -052");
    CTestDrive dds4("dds4,oem");
    EXPECT_EQ(PageText(dds4, 0xC0, 19, 4), "-052");
}

TEST(VtapeFirmwareFaults, AnAutoloaderNamesPage1DWithinTheFirst36Bytes)
{
    CTestDrive loader("ultrium,autoloader");
    CBytes data;
    ASSERT_GOOD(loader.ModeSense(0x3F, 36, data, true));
    EXPECT_EQ(data[4], 0x1D);
    EXPECT_TRUE(DoesPageExist(0x1D, data.data(), 36));
    ASSERT_GOOD(loader.ModeSense(0x3F, 255, data, true));
    CBytes codes;  // the drive's own pages follow in code order
    for (size_t offset = 4; offset + 2 <= size_t(data[0]) + 1; offset += 2 + data[offset + 1]) {
        codes.push_back(data[offset]);
    }
    EXPECT_EQ(codes, (CBytes{0x1D, 0x0A, 0x0F, 0x10, 0x21}));
    EXPECT_GOOD(loader.ModeSense(0x1D, 255, data, true));

    CTestDrive standalone("ultrium");
    ASSERT_GOOD(standalone.ModeSense(0x3F, 36, data, true));
    EXPECT_FALSE(DoesPageExist(0x1D, data.data(), 36));
    EXPECT_SENSE(standalone.ModeSense(0x1D, 255, data, true), 0x05, 0x24, 0x00);
}

TEST(VtapeRetension, LoadWithRetensionEndsAtTheBeginningOrFails)
{
    CTestDrive drive("ultrium");
    EXPECT_GOOD(drive.Write(Pattern(100, 1)));
    EXPECT_GOOD(drive.LoadUnload(0x03));
    EXPECT_EQ(0u, drive.Position());

    CTestDrive failing("crt20000n,retension-fail");
    EXPECT_GOOD(failing.LoadUnload(0x01));
    EXPECT_SENSE(failing.LoadUnload(0x03), 0x04, 0x53, 0x00);
}

TEST(VtapeFirmwareFaults, FaultsThatDoNotFitTheModelAreRefused)
{
    const char* refused[] = {
        "crt20000n,download-fail=1",
        "dat,save-fail",
        "crt8000n,oem",
        "dds4,retension-fail",
        "changer,autoloader",
        "ultrium,download-fail=0",
        "ultrium,download-short=0",
        "crt20000n,reset-attention=1",
        "ultrium,save-fail,save-reset",
        "ultrium,restart=2,save-fail=1",
        "ultrium,save-fail=86401",
    };
    for (const char* text : refused) {
        std::string error;
        EXPECT_EQ(CVirtualDrive::Create(text, error), nullptr) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    std::string error;
    EXPECT_NE(
        CVirtualDrive::Create(
            "dds3,save-reset,autoloader,oem,keeps-old-level,download-fail=9,download-short=3,reset-attention=2", error),
        nullptr)
        << error;
}
