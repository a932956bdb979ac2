#include "DriveManager.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "Clock.h"
#include "Retry.h"
#include "ScsiData.h"

namespace {

// The Travan drive table, in the order it is searched.
struct TravanDrive {
    const char* name;      // vendor, one space, product
    const char* firmware;  // revision level the row applies to
    bool isScsi;
    bool isRetensionable;
    int driveType;
    bool compressionAvail;
};

// clang-format off
const TravanDrive travanDrives[] = {
    {"MORLEN MTQS  3200", "7", true, true, 0, false},
    {"MORLEN MTQA  4000", "3", false, true, 0, false},
    {"MORLEN MTR8000-S", "1", true, true, 1, false},
    {"MORLEN MTR8000-A", "1", false, true, 1, false},
    {"MORLEN MTR8000-A", "2", false, true, 1, false},
    {"MORLEN MTR8000-A", "2.12", false, true, 1, false},
    {"CORVANE CRT8000-A", "2", false, true, 1, false},
    {"CORVANE CRT8000N", "3", true, true, 1, false},
    {"CORVANE CRT8000N", "4", true, true, 1, true},
    {"CORVANE CRT8000A", "5", false, true, 1, false},
    {"CORVANE CRT20000N", "6", true, true, 2, false},
    {"CORVANE CRT20000N", "7", true, true, 2, true},
    {"CORVANE CRT20000A", "8", false, true, 2, false},
    {"HOLMGARD  HV8 PRO 4/8", "4", true, true, 1, true},
    {"HOLMGARD  HV20 PRO 20", "7", true, true, 2, true},
};
// clang-format on

// Product words of the DAT drives, tested in this order.
const char* const datProductWords[] = {"DAT", "KALDOR", "5710", "QRX5710", "VMK07", "5930", "QRX5930", "5706", "VMK06"};

const char* const acceptedVendors[] = {"CORVANE", "TESSARA"};

const int VPD_BUFFER_LENGTH = 64;
// The whole unit serial number page: a drive may right-align its serial in a
// field longer than the 32 bytes a 36-byte request would bring back.
const int SERIAL_BUFFER_LENGTH = 255;
const int VPD_PAGE_LENGTH_BYTE = 3;
// A vendor page that keeps failing is given up after this many requests.
const int VPD_ATTEMPTS = 10;

CVString InquiryField(const char* inquiry, int first, int last)
{
    CVString text;
    for (int i = first; i <= last; ++i) {
        if (inquiry[i] != '\0')
            text += inquiry[i];
    }
    text.TrimRight();
    return text;
}

// The text made of the page bytes at the given positions, in order; a zero
// byte ends it.
CVString PageText(const unsigned char* page, std::initializer_list<std::pair<int, int>> spans)
{
    char text[VPD_BUFFER_LENGTH + 1] = {};
    int length = 0;
    for (const auto& span : spans) {
        for (int i = span.first; i <= span.second; ++i)
            text[length++] = static_cast<char>(page[i]);
    }
    CVString result(text);
    result.TrimRight();
    return result;
}

}  // namespace

CDriveManager::CDriveManager(CCommandContext& context)
    : m_application(&context), m_driverInterface(nullptr), m_clientServer(context.ClientServerConnection())
{}

CDriveManager::~CDriveManager()
{}

void CDriveManager::ParseDriveString(const char* inquiry, CVString& vendor, CVString& product, CVString& revision)
{
    vendor = InquiryField(inquiry, 8, 15);
    product = InquiryField(inquiry, 16, 27);
    revision = InquiryField(inquiry, 32, 35);
}

bool CDriveManager::GetDriveSpecifications(unsigned char* inquiry, int& driveType, bool& isScsi, bool& isRetensionable,
                                           bool& compressionAvail)
{
    if (inquiry[0] != DEVICE_TYPE_TAPE)
        return false;
    CVString vendor;
    CVString product;
    CVString revision;
    ParseDriveString(reinterpret_cast<const char*>(inquiry), vendor, product, revision);
    vendor.MakeUpper();
    bool accepted = false;
    for (const char* word : acceptedVendors)
        accepted = accepted || vendor.Find(word) != -1;
    if (!accepted)
        return false;
    return IdentifyProduct(inquiry, driveType, isScsi, isRetensionable, compressionAvail, false);
}

bool CDriveManager::GetDriveProperties(unsigned char* inquiry, int& driveType, bool& isScsi, bool& isRetensionable,
                                       bool& compressionAvail)
{
    return IdentifyProduct(inquiry, driveType, isScsi, isRetensionable, compressionAvail, true);
}

bool CDriveManager::IdentifyProduct(unsigned char* inquiry, int& driveType, bool& isScsi, bool& isRetensionable,
                                    bool& compressionAvail, bool reportUnknown)
{
    CVString vendor;
    CVString product;
    CVString revision;
    ParseDriveString(reinterpret_cast<const char*>(inquiry), vendor, product, revision);
    vendor.MakeUpper();
    product.MakeUpper();
    revision.MakeUpper();
    CVString name = vendor;
    name += " ";
    name += product;

    for (const char* word : datProductWords) {
        if (product.Find(word) != -1) {
            driveType = GetDatDriveType(revision);
            isScsi = true;
            isRetensionable = false;
            compressionAvail = true;
            return true;
        }
    }
    if (product.Find("ULTRIUM") != -1) {
        driveType = DRIVE_ULTRIUM;
        isScsi = isRetensionable = compressionAvail = true;
        return true;
    }
    if (Lookup(name, revision, isScsi, isRetensionable, driveType, compressionAvail))
        return true;
    if (reportUnknown) {
        CVString notSupported;
        notSupported.LdString(CAT_NOT_SUPPORTED);
        name += " ";
        name += notSupported;
        m_application->Msg(name, true);
    }
    return false;
}

bool CDriveManager::Lookup(CVString name, CVString revision, bool& isScsi, bool& isRetensionable, int& driveType,
                           bool& compressionAvail)
{
    for (const TravanDrive& row : travanDrives) {
        CVString firmware(row.firmware);
        if (name != CVString(row.name) || revision[0] != firmware[0])
            continue;
        if (firmware.GetLength() > 2 && revision != firmware)
            continue;
        isScsi = row.isScsi;
        isRetensionable = row.isRetensionable;
        driveType = row.driveType;
        compressionAvail = row.compressionAvail;
        return true;
    }
    return false;
}

int CDriveManager::GetDatDriveType(CVString revision)
{
    if (revision[0] == '7')
        return DRIVE_DAT_4;
    if (revision[0] == '8' || revision[0] == '9')
        return DRIVE_DAT_5;
    return DRIVE_DAT_3;
}

bool CDriveManager::IsDatTypeDrive(const CTapeDrive* drive)
{
    int type = drive->DriveType();
    return type == DRIVE_DAT_3 || type == DRIVE_DAT_4 || type == DRIVE_DAT_5;
}

bool CDriveManager::IsTravanTypeDrive(const CTapeDrive* drive)
{
    int type = drive->DriveType();
    return type == DRIVE_TRAVAN_0 || type == DRIVE_TRAVAN_1 || type == DRIVE_TRAVAN_2;
}

void CDriveManager::SSleep(long seconds)
{
    CClock::Get().Sleep(seconds);
}

void CDriveManager::OpenCommand(CTapeDrive* drive)
{
    m_application->TimeStamp();
    drive->DisplayDrive(m_application);
}

void CDriveManager::OpenCommand(CTapeDrive* drive, const char* issued)
{
    OpenCommand(drive);
    Line(issued);
}

void CDriveManager::OpenCommand(CTapeDrive* drive, CatalogueId issued)
{
    OpenCommand(drive);
    m_application->Msg(issued, true);
}

void CDriveManager::Separator()
{
    Line(" ");
}

void CDriveManager::Line(const char* text)
{
    m_application->Msg(CVString(text), true);
}

bool CDriveManager::Refuse(const char* message)
{
    Line(message);
    Separator();
    return false;
}

bool CDriveManager::Refuse(CatalogueId message)
{
    m_application->Msg(message, true);
    Separator();
    return false;
}

bool CDriveManager::ExplainNotReady(CTapeDrive* drive)
{
    unsigned char sense[32] = {};
    m_driverInterface->GetSense(drive, sense, sizeof sense);
    ProduceErrorMsg(sense);
    Separator();
    return false;
}

bool CDriveManager::SenseReport(CTapeDrive* drive, CatalogueId failure)
{
    return SenseReport(drive, CatalogueText(failure));
}

bool CDriveManager::SenseReport(CTapeDrive* drive, const CVString& failure)
{
    m_application->Msg(failure, true);
    m_application->Msg(RetrieveAndFormatSenseMsg(drive), true);
    Separator();
    return false;
}

bool CDriveManager::GetDriveSerialNumber(CTapeDrive* drive, unsigned char* buffer, int length)
{
    return m_driverInterface->ExtendedDriveInquiry(drive, VPD_SERIAL_NUMBER, buffer, length);
}

bool CDriveManager::FWInquiry(CTapeDrive* drive, unsigned char* buffer, int length)
{
    return m_driverInterface->DriveInquiry(drive, buffer, length);
}

CVString CDriveManager::ReadSerialNumber(CTapeDrive* drive)
{
    CVString serial;
    serial.LdString(CAT_UNAVAILABLE);
    if (!IsNewerFamilyDrive(drive->DriveType()))
        return serial;
    unsigned char page[SERIAL_BUFFER_LENGTH + 1] = {};  // one more zero ends the text
    if (GetDriveSerialNumber(drive, page, SERIAL_BUFFER_LENGTH)) {
        page[std::min(4 + page[VPD_PAGE_LENGTH_BYTE], SERIAL_BUFFER_LENGTH)] = 0;
        serial = reinterpret_cast<const char*>(page + 4);
        // Blanks ahead of a right-aligned serial go before the cut; a
        // left-aligned serial is cut as it always was.
        serial.Trim();
        serial = serial.Left(drive->DriveType() == DRIVE_ULTRIUM ? 12 : 7);
        serial.TrimRight();
    }
    return serial;
}

void CDriveManager::SetSerialNumber(CTapeDrive* drive)
{
    CVString serial = ReadSerialNumber(drive);
    serial.Trim();
    drive->SerialNumber(serial);
}

bool CDriveManager::ReadVendorPage(CTapeDrive* drive, int page, unsigned char* buffer)
{
    return RetryCommand(drive, CRetryPolicy{VPD_ATTEMPTS, 0, false}, [&] {
        std::memset(buffer, 0, VPD_BUFFER_LENGTH);
        return m_driverInterface->ExtendedDriveInquiry(drive, page, buffer, VPD_BUFFER_LENGTH);
    });
}

void CDriveManager::SetExtendedFWVersionInfo(CTapeDrive* drive)
{
    const int type = drive->DriveType();
    if (!IsNewerFamilyDrive(type))
        return;
    unsigned char page[VPD_BUFFER_LENGTH];
    if (!ReadVendorPage(drive, VPD_FIRMWARE, page))
        return;  // the 4-character firmware text stays
    CVString text;
    if (type == DRIVE_DAT_4)
        text = PageText(page, {{5, 8}, {17, 20}});
    else if (type == DRIVE_DAT_5)
        text = PageText(page, {{5, 8}, {19, 22}});
    else
        text = PageText(page, {{30, 47}});
    if (type == DRIVE_ULTRIUM) {
        if (!ReadVendorPage(drive, VPD_FIRMWARE_EXTRA, page))
            return;
        text += " ";
        text += PageText(page, {{30, 47}});
        text.TrimRight();
    }
    if (!text.IsEmpty())
        drive->FirmwareDescription(text);
}

// clang-format off
long long CDriveManager::OneByteStrToInt64(const unsigned char* value) { return static_cast<long long>(GetBigN(value, 1)); }
long long CDriveManager::TwoByteStrToInt64(const unsigned char* value) { return static_cast<long long>(GetBigN(value, 2)); }
long long CDriveManager::ThreeByteStrToInt64(const unsigned char* value) { return static_cast<long long>(GetBigN(value, 3)); }
long long CDriveManager::FourByteStrToInt64(const unsigned char* value) { return static_cast<long long>(GetBigN(value, 4)); }
long long CDriveManager::FiveByteStrToInt64(const unsigned char* value) { return static_cast<long long>(GetBigN(value, 5)); }
long long CDriveManager::SixByteStrToInt64(const unsigned char* value) { return static_cast<long long>(GetBigN(value, 6)); }
long long CDriveManager::SevenByteStrToInt64(const unsigned char* value) { return static_cast<long long>(GetBigN(value, 7)); }
long long CDriveManager::EightByteStrToInt64(const unsigned char* value) { return static_cast<long long>(GetBigN(value, 8)); }
// clang-format on
