// This host's tape drives as the st and sg drivers show them in sysfs, and
// how their nodes are opened. Implements HostDevices.h for Linux.
#ifndef TAPEDIAG_LINUXDEVICES_H
#define TAPEDIAG_LINUXDEVICES_H

#include <string>

#include "HostDevices.h"

// What sysfs says about the character device MAJ:MIN.
struct CSysfsNode {
    enum Kind { ABSENT, TAPE, GENERIC, OTHER };
    Kind kind = ABSENT;
    // The node's own name in its class ("nst0", "st0l", "sg3").
    std::string name;
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

#endif
