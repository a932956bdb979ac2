// How machine-readable output names a drive: the device it was opened by,
// its address, the vendor and product text, firmware and serial number,
// each as one trimmed text.
#ifndef TAPEDIAG_DRIVELABELS_H
#define TAPEDIAG_DRIVELABELS_H

#include <string>

#include "TapeDrive.h"

struct CDriveLabels {
    std::string device;   // as named with -dev: or found by the host scan
    std::string address;  // "adapter:target:lun"
    std::string model;    // vendor and product
    std::string firmware;
    std::string serial;
};

// `device`: how the drive was named (CDriveManager::DeviceName).
CDriveLabels DriveLabels(const CTapeDrive& drive, const std::string& device);

#endif
