// Opening a device from the text of a -dev: switch or a node the host scan
// found. The kind of device is decided here and nowhere else.
#ifndef TAPEDIAG_DEVICEOPENER_H
#define TAPEDIAG_DEVICEOPENER_H

#include "PassThrough.h"
#include "VString.h"

#include <functional>
#include <memory>

const char* const DEFAULT_SYSFS_TAPE_ROOT = "/sys/class/scsi_tape";
const char* const DEFAULT_DEVICE_ROOT = "/dev";

// Adapter (host), bus (channel), target and LUN of a device.
struct CDeviceAddress {
    int adapter = 0;
    int bus = 0;
    int target = 0;
    int lun = 0;
};

// An opened device and where it sits. A device on this host's SCSI bus
// knows its address (from the st driver's sysfs entry); a virtual or remote
// drive, or a node the st driver does not list, has none, and discovery
// numbers it.
struct COpenedDevice {
    std::unique_ptr<CPassThrough> device;
    bool hasAddress = false;
    CDeviceAddress address;
};

// Opens `device`: "sim:MODEL[,FAULT...]" a virtual drive, "iscsi://..." is
// refused by this build, any other text is the path of a local tape node,
// whose address is read from the st driver's entry under `sysfsTapeRoot`.
// No device, with a short reason in `error`, when it cannot be opened.
COpenedDevice OpenDevice(const char* device, const char* sysfsTapeRoot, CVString& error);

// Reads the address of st node `nodeName` from the link
// SYSFS/nodeName/device, whose last part is "H:C:T:L". False when the link
// cannot be read; a link of another form is said on standard error and
// gives address 0:0:0:0 (true).
bool ReadSysfsTapeAddress(const char* sysfsTapeRoot, const char* nodeName, CDeviceAddress& address);

// Reads "H:C:T:L" from the end of a sysfs device link; false, with every id
// 0, when the link does not end in four numbers.
bool ParseSysfsLink(const char* link, CDeviceAddress& address);

// How discovery opens devices; tests bring devices of their own.
using DeviceOpenFunction = std::function<COpenedDevice(const char* device, CVString& error)>;

#endif
