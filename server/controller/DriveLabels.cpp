#include "DriveLabels.h"

namespace {

std::string Trimmed(const char* text)
{
    std::string value = text != nullptr ? text : "";
    const size_t first = value.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

}  // namespace

CDriveLabels DriveLabels(const CTapeDrive& drive, const std::string& device)
{
    CDriveLabels labels;
    labels.device = device;
    labels.address =
        std::to_string(drive.AdapterID()) + ":" + std::to_string(drive.DriveID()) + ":" + std::to_string(drive.LunID());
    labels.model = Trimmed(drive.DriveDescription());
    labels.firmware = Trimmed(drive.FirmwareDescription());
    labels.serial = Trimmed(drive.SerialNumber());
    return labels;
}
