// Opening a device from the text of a -dev: switch or a node the host scan
// found. The kind of device is decided here and nowhere else.
#ifndef TAPEDIAG_DEVICEOPENER_H
#define TAPEDIAG_DEVICEOPENER_H

#include "PassThrough.h"
#include "VString.h"

#include <functional>
#include <memory>
#include <string>

const char* const DEFAULT_SYSFS_ROOT = "/sys";
const char* const DEFAULT_DEVICE_ROOT = "/dev";

// Where the host's device nodes and its sysfs tree are; tests build trees
// of their own.
struct CHostPaths {
    std::string sysfs = DEFAULT_SYSFS_ROOT;  // holds class/scsi_tape and dev/char
    std::string dev = DEFAULT_DEVICE_ROOT;
};

// Adapter (host), bus (channel), target and LUN of a device.
struct CDeviceAddress {
    int adapter = 0;
    int bus = 0;
    int target = 0;
    int lun = 0;
};

// An opened device and where it sits. A device on this host's SCSI bus
// knows its address (from sysfs, by its device number); a virtual or remote
// drive has none, and discovery numbers its target. A remote drive still
// knows its LUN (the URL's), which `address` then carries alone.
struct COpenedDevice {
    std::unique_ptr<CPassThrough> device;
    bool hasAddress = false;
    CDeviceAddress address;
};

// One form of device text: the prefix that selects it and how it is opened.
// A new kind of device is one file with its opener and one row of the table
// in DeviceOpener.cpp.
struct CTransport {
    const char* prefix;  // "" for the host's own device paths, which match any other text
    // Opens the device text (prefix included); null when this build cannot.
    COpenedDevice (*open)(const char* device, const CHostPaths& paths, CVString& error);
    // Why this build cannot open such devices, when `open` is null.
    const char* unavailable;
};

// Opens `device` through the transport its prefix selects: "sim:MODEL[,FAULT...]"
// a virtual drive, "iscsi://..." a drive behind an iSCSI target (refused,
// with the reason, by a build without libiscsi), any other text the path of
// a node of this host (HostDevices.h). No device, with a one-line reason in
// `error`, when it cannot be opened.
COpenedDevice OpenDevice(const char* device, const CHostPaths& paths, CVString& error);

// The text that names `device` in messages: an iSCSI password is left out.
std::string DeviceDisplayName(const char* device);

// How discovery opens devices; tests bring devices of their own.
using DeviceOpenFunction = std::function<COpenedDevice(const char* device, CVString& error)>;

#endif
