// What the device layer asks of the host's own room (server/linux/ in this
// build): opening a device node of the host, and listing the host's tape
// drives. A port to another system supplies these functions and nothing
// else of the device layer changes.
#ifndef TAPEDIAG_HOSTDEVICES_H
#define TAPEDIAG_HOSTDEVICES_H

#include <string>
#include <vector>

#include "DeviceOpener.h"
#include "VString.h"

// Opens `path`, a device node of this host (or a link to one): the drive's
// tape node or its SCSI generic node. No device, with a one-line reason in
// `error`, when it cannot be opened or is not a tape drive's node.
COpenedDevice OpenHostDevice(const char* path, const CHostPaths& paths, CVString& error);

// Every tape drive node of this host, in the order discovery lists them.
std::vector<std::string> ListHostTapeDevices(const CHostPaths& paths);

#endif
