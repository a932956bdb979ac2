// CLinuxDriveManager: the drive manager the controller makes on this host. It
// supplies the driver interface and discovery: every tape drive the host
// lists (HostDevices.h), or exactly the devices named with -dev: when any
// were named, each opened through the device layer and identified by the
// engine. Nothing in it needs Linux itself; that is in server/linux/.
#ifndef TAPEDIAG_LINUXDRIVEMANAGER_H
#define TAPEDIAG_LINUXDRIVEMANAGER_H

#include <map>
#include <string>
#include <vector>

#include "DeviceOpener.h"
#include "DriveManager.h"
#include "VString.h"

class CLinuxDriverInterface;

class CLinuxDriveManager : public CDriveManager {
public:
    // Discovers the drives at once. `paths` says where the st driver's
    // devices are looked for, and openDevice opens each one (tests bring a
    // tree and devices of their own).
    CLinuxDriveManager(CCommandContext& context, const std::vector<CVString>& devices,
                       const CHostPaths& paths = CHostPaths(), DeviceOpenFunction openDevice = nullptr);
    ~CLinuxDriveManager() override;

    bool BuildDriveList() override;
    // The trace of a DAT type 5 drive, read whole.
    bool PrintTrace() override;
    void AddDevices(const std::vector<CVString>& devices) override;
    // Looks for the drive among the host's tape nodes that no other listed
    // drive holds; a virtual or iSCSI drive has no node to lose.
    bool ReopenLostDrive(CTapeDrive* drive) override;

private:
    void ScanHost();
    void AddNamedDevice(const CVString& spec);
    // Identifies the device opened from `path` and lists it; false (device
    // released) when it does not answer or is not a supported drive.
    // `answered` tells whether its INQUIRY completed.
    bool IdentifyAndAdd(const std::string& path, COpenedDevice& opened, bool* answered = nullptr);
    void SaySkipped(const char* device, const char* reason);

    CLinuxDriverInterface* m_interface;
    DeviceOpenFunction m_openDevice;
    CHostPaths m_paths;
    std::vector<CVString> m_knownDevices;
    // Drives without an address of their own sit on adapter 0, one target
    // each, in the order they are listed.
    int m_unaddressedDrives;
    // The node each drive on the host's bus was opened from, by handle.
    std::map<int, std::string> m_hostNodes;
};

#endif
