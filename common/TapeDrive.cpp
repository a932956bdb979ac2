#include "TapeDrive.h"

#include <cstdlib>

namespace {

const int INQUIRY_TEXT_LENGTH = 28;
const int DESCRIPTION_LENGTH = 24;
const int FIRMWARE_LENGTH = 4;

CVString Number(const char* format, int value)
{
    CVString text;
    text.Format(format, value);
    return text;
}

}  // namespace

CTapeDrive::CTapeDrive()
{
    InitialazeDataMembers();
}

CTapeDrive::CTapeDrive(int adapterId, int driveId, int lunId, const char* inquiryText, int driveType, bool isScsi,
                       bool isRetensionable, bool compressionAvail)
{
    InitialazeDataMembers();
    m_adapterId = adapterId;
    m_driveId = driveId;
    m_lunId = lunId;
    SetDriveDescAndFirmwareDesc(inquiryText);
    m_driveType = driveType;
    m_isScsi = isScsi;
    m_isRetensionable = isRetensionable;
    m_compressionAvail = compressionAvail;
}

CTapeDrive::CTapeDrive(int fileDescriptor, const char* inquiryText, int driveType, bool isScsi, bool isRetensionable,
                       bool compressionAvail)
{
    InitialazeDataMembers();
    m_fileDescriptor = fileDescriptor;
    SetDriveDescAndFirmwareDesc(inquiryText);
    m_driveType = driveType;
    m_isScsi = isScsi;
    m_isRetensionable = isRetensionable;
    m_compressionAvail = compressionAvail;
}

void CTapeDrive::InitialazeDataMembers()
{
    m_handle = nullptr;
    m_fileDescriptor = 0;
    m_adapterId = 0;
    m_busId = 0;
    m_driveId = 0;
    m_lunId = 0;
    m_driveType = 0;
    m_isScsi = false;
    m_isRetensionable = false;
    m_compressionAvail = false;
}

void CTapeDrive::SetDriveDescAndFirmwareDesc(const char* inquiryText)
{
    CVString text(inquiryText);
    if (text.GetLength() < INQUIRY_TEXT_LENGTH)
        return;
    m_driveDescription = text.Left(DESCRIPTION_LENGTH);
    m_firmwareDescription = text.Mid(DESCRIPTION_LENGTH, FIRMWARE_LENGTH);
}

void CTapeDrive::DisplayDrive(CAppOutput* app) const
{
    CVString address;
    if (m_isScsi && HasFourPartAddress(app->OSType())) {
        address = Number("SCSI Port: %d, ", m_adapterId);
        address += Number("Bus: %d, ", m_busId);
        address += Number("Target: %d, ", m_driveId);
        address += Number("Lun: %d", m_lunId);
    } else if (m_isScsi) {
        address = Number("SCSI Adapter: %d, ", m_adapterId);
        address += Number("Target: %d, ", m_driveId);
        address += Number("Lun: %d", m_lunId);
    } else {
        int id = m_fileDescriptor == ATAPI_LUN_ADDRESSED ? m_lunId : m_driveId;
        address = Number("ATAPI/IDE Logical Drive Id: %d", id);
    }
    app->Msg(address, true);

    CVString description(m_driveDescription);
    description.TrimRight();
    description += ", Firmware: ";
    description += m_firmwareDescription;
    description.TrimRight();
    app->Msg(description, true);

    if (IsNewerFamilyDrive(m_driveType)) {
        CVString serial("Serial# ");
        serial += m_serialNumber;
        app->Msg(serial, true);
    }
    app->Msg(CVString(" "), true);
}

CVString CTapeDrive::TapeDriveToNetworkString(const CAppOutput* app) const
{
    CVString text("@");
    if (m_isScsi && HasFourPartAddress(app->OSType())) {
        text += Number("%d:", m_adapterId);
        text += Number("%d:", m_busId);
        text += Number("%d:", m_driveId);
        text += Number("%d", m_lunId);
    } else if (m_isScsi) {
        text += Number("%d:", m_adapterId);
        text += Number("%d:", m_driveId);
        text += Number("%d", m_lunId);
    } else {
        text += m_adapterId != 0 ? "1:" : "0:";
        text += m_driveId != 0 ? "1" : "0";
    }
    text += "@";
    text += Number("%d", m_driveType);
    text += m_isScsi ? "@1" : "@0";
    text += m_isRetensionable ? "@1" : "@0";
    text += m_compressionAvail ? "@1" : "@0";
    text += "@";
    text += m_driveDescription;
    text += "@";
    text += m_firmwareDescription;
    text += "@";
    text += m_serialNumber;
    text += "@";
    return text;
}

CVString CTapeDrive::NextParameter(CVString& rest)
{
    int end = rest.Find('@', 1);
    if (end == -1)
        return CVString();
    CVString field = rest.Mid(1, end - 1);
    rest = rest.Mid(end, -1);
    return field;
}

void CTapeDrive::NetworkStringToTapeDrive(const char* text)
{
    CVString rest(text);
    CVString address = NextParameter(rest);
    if (!address.IsEmpty())
        SetIDsFromString(address);
    m_driveType = std::atoi(NextParameter(rest));
    m_isScsi = std::atoi(NextParameter(rest)) != 0;
    m_isRetensionable = std::atoi(NextParameter(rest)) != 0;
    m_compressionAvail = std::atoi(NextParameter(rest)) != 0;
    m_driveDescription = NextParameter(rest);
    m_firmwareDescription = NextParameter(rest);
    m_serialNumber = NextParameter(rest);
}

int CTapeDrive::ColonsInString(const CVString& text)
{
    int count = 0;
    for (int i = 0; i < text.GetLength(); ++i) {
        if (text[i] == ':')
            ++count;
    }
    return count;
}

void CTapeDrive::SetIDsFromString(const char* address)
{
    CVString text(address);
    int colons = ColonsInString(text);
    if (colons < 1 || colons > 3)
        return;
    int pieces[4] = {0, 0, 0, 0};
    int start = 0;
    for (int i = 0; i <= colons; ++i) {
        int end = text.Find(':', start);
        CVString piece = end == -1 ? text.Mid(start, -1) : text.Mid(start, end - start);
        pieces[i] = std::atoi(piece);
        start = end + 1;
    }
    if (colons == 1) {
        m_adapterId = pieces[0];
        m_driveId = pieces[1];
    } else if (colons == 2) {
        m_adapterId = pieces[0];
        m_busId = -1;
        m_driveId = pieces[1];
        m_lunId = pieces[2];
    } else {
        m_adapterId = pieces[0];
        m_busId = pieces[1];
        m_driveId = pieces[2];
        m_lunId = pieces[3];
    }
}
