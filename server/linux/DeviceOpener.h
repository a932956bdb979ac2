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
// drive has none, and discovery numbers it.
struct COpenedDevice {
    std::unique_ptr<CPassThrough> device;
    bool hasAddress = false;
    CDeviceAddress address;
};

// Opens `device`: "sim:MODEL[,FAULT...]" a virtual drive, "iscsi://..." a
// drive behind an iSCSI target (refused, with the reason, by a build
// without libiscsi), any other text the path of a local node: an st node
// (/dev/nstN), the drive's SCSI generic node (/dev/sgM) or a link to either.
// A local drive takes its commands through its generic node while its st
// node is held open; without a generic node they go to the st node, and one
// line on standard error says so. No device, with a one-line reason in
// `error`, when it cannot be opened.
COpenedDevice OpenDevice(const char* device, const CHostPaths& paths, CVString& error);

// The text that names `device` in messages: an iSCSI password is left out.
std::string DeviceDisplayName(const char* device);

// What sysfs says about the character device MAJ:MIN.
struct CSysfsNode {
    enum Kind { ABSENT, TAPE, GENERIC, OTHER };
    Kind kind = ABSENT;
    bool hasAddress = false;
    CDeviceAddress address;
    // For a tape: its generic node's name ("sg3") and device number ("21:3");
    // for a generic node: the drive's non-rewinding st node ("nst0"). Empty
    // when the other driver has no node for the device.
    std::string partnerNode;
    std::string partnerNumber;
};

// Reads SYSFS/dev/char/MAJ:MIN, a link whose text ends in
// ".../H:C:T:L/scsi_tape/NODE" or ".../H:C:T:L/scsi_generic/NODE", and the
// device's directory beside it. A tape or generic node whose device part is
// not H:C:T:L is said on standard error and gets address 0:0:0:0.
CSysfsNode ReadSysfsNode(const CHostPaths& paths, unsigned major, unsigned minor);

// Reads "H:C:T:L" from the end of a sysfs path; false, with every id 0,
// when it does not end in four numbers.
bool ParseSysfsLink(const char* link, CDeviceAddress& address);

// How discovery opens devices; tests bring devices of their own.
using DeviceOpenFunction = std::function<COpenedDevice(const char* device, CVString& error)>;

#endif
