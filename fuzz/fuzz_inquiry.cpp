// What a device answers at discovery: the standard INQUIRY data (64 bytes,
// byte 36 forced to 0 as discovery does), then the serial number page and the
// two firmware pages of the drives that have them.
#include <cstring>
#include <vector>

#include "Application.h"
#include "DriveManager.h"
#include "FakeDriverInterface.h"
#include "FuzzCheck.h"
#include "ScsiCodes.h"

namespace {

const int INQUIRY_LENGTH = 64;
const int SERIAL_PAGE_LENGTH = 36;
const int FIRMWARE_PAGE_LENGTH = 64;

CApplication& SetUp()
{
    static CApplication* app = nullptr;
    if (app == nullptr) {
        app = new CApplication;
        app->ClientServerConnection(true);
        app->SetVerbose(false);  // an unsupported drive is reported: keep it off the console
    }
    return *app;
}

std::vector<unsigned char> Page(FuzzInput& input, int length)
{
    std::vector<unsigned char> page(length, 0);
    input.Take(page.data(), page.size());
    return page;
}

bool HasNoOuterBlanks(const char* text)
{
    size_t length = std::strlen(text);
    return length == 0 || (text[0] != ' ' && text[length - 1] != ' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CApplication& app = SetUp();
    FuzzInput input(data, size);
    unsigned char inquiry[INQUIRY_LENGTH] = {};
    input.Take(inquiry, sizeof inquiry);
    inquiry[36] = 0;

    FakeDriveManager manager(app);
    int type = -1;
    bool isScsi = false, isRetensionable = false, compression = false;
    if (!manager.GetDriveSpecifications(inquiry, type, isScsi, isRetensionable, compression))
        return 0;

    FUZZ_CHECK(inquiry[0] == DEVICE_TYPE_TAPE);
    CVString vendor, product, revision;
    CDriveManager::ParseDriveString(reinterpret_cast<const char*>(inquiry), vendor, product, revision);
    vendor.MakeUpper();
    FUZZ_CHECK(vendor.Find("CORVANE") != -1 || vendor.Find("TESSARA") != -1);
    FUZZ_CHECK(type == DRIVE_TRAVAN_0 || type == DRIVE_TRAVAN_1 || type == DRIVE_TRAVAN_2 || type == DRIVE_DAT_3 ||
               type == DRIVE_DAT_4 || type == DRIVE_DAT_5 || type == DRIVE_ULTRIUM);
    int type2 = -1;
    bool isScsi2 = false, isRetensionable2 = false, compression2 = false;
    FUZZ_CHECK(manager.GetDriveProperties(inquiry, type2, isScsi2, isRetensionable2, compression2));
    FUZZ_CHECK(type2 == type && isScsi2 == isScsi && isRetensionable2 == isRetensionable &&
               compression2 == compression);

    // The record discovery makes, and the pages it reads next.
    CTapeDrive drive(3, reinterpret_cast<const char*>(inquiry + 8), type, isScsi, isRetensionable, compression);
    FUZZ_CHECK(std::strlen(drive.DriveDescription()) <= 24);
    FUZZ_CHECK(std::strlen(drive.FirmwareDescription()) <= 4);
    manager.fake.vpdFailures = input.Byte() % 24;
    manager.fake.vpdPages[0x80] = Page(input, SERIAL_PAGE_LENGTH);
    manager.fake.vpdPages[0xC0] = Page(input, FIRMWARE_PAGE_LENGTH);
    manager.fake.vpdPages[0xC1] = Page(input, FIRMWARE_PAGE_LENGTH);

    manager.SetSerialNumber(&drive);
    FUZZ_CHECK(std::strlen(drive.SerialNumber()) <= 12);
    FUZZ_CHECK(HasNoOuterBlanks(drive.SerialNumber()));
    if (type != DRIVE_DAT_4 && type != DRIVE_DAT_5 && type != DRIVE_ULTRIUM)
        FUZZ_CHECK(std::strcmp(drive.SerialNumber(), "Unavailable") == 0);

    manager.SetExtendedFWVersionInfo(&drive);
    FUZZ_CHECK(std::strlen(drive.FirmwareDescription()) <= 18 + 1 + 18);
    // A page that keeps failing is asked for at most ten times each.
    FUZZ_CHECK(manager.fake.calls["ExtendedDriveInquiry"] <= 1 + 10 + 10);
    return 0;
}
