// CLinuxDriveManager: the drive manager the controller makes on this host. It
// supplies the driver interface and discovery: every tape drive the host
// lists (HostDevices.h), or exactly the devices named with -dev: when any
// were named, each opened through the device layer and identified by the
// engine. Nothing in it needs Linux itself; that is in server/linux/.
#ifndef TAPEDIAG_LINUXDRIVEMANAGER_H
#define TAPEDIAG_LINUXDRIVEMANAGER_H

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
    bool OpenForCommand(CTapeDrive* drive) override;
    void CloseAfterCommand(CTapeDrive* drive) override;
    // Looks for the drive among the host's tape nodes that no other listed
    // drive holds; a virtual or iSCSI drive has no node to lose.
    bool ReopenLostDrive(CTapeDrive* drive) override;
    std::string DeviceName(const CTapeDrive* drive) const override;

private:
    void ScanHost();
    void AddNamedDevice(const CVString& spec);
    // Identifies the device found as `text` and lists it; false (device
    // released) when it does not answer or is not a supported drive.
    // `answered` tells whether its INQUIRY completed.
    bool IdentifyAndAdd(COpenedDevice& opened, const std::string& text, bool* answered = nullptr);
    void SaySkipped(const char* device, const char* reason);
    // Whether the drive's nodes are opened for each command only: in server
    // mode, for a drive of this host.
    bool OpenedPerCommand(int fd) const;
    // Why the device now under the drive's handle is not that drive any
    // more (another vendor, product or serial number answers, or nothing
    // does); null when it is.
    const char* Unlike(CTapeDrive* drive);
    // Says why the drive cannot be used, to the command's output and to the
    // local console; false.
    bool CannotOpen(const std::string& device, const char* reason);

    CLinuxDriverInterface* m_interface;
    DeviceOpenFunction m_openDevice;
    CHostPaths m_paths;
    std::vector<CVString> m_knownDevices;
    // How a listed drive is opened again, by handle.
    struct CDriveSource {
        std::string text;  // its -dev: text, or the node the host scan found
        bool perCommand;   // opened for each command only
        bool hostNode;     // a node on this host's bus, which may come back as another
    };
    // The source of a listed drive's handle; null for a handle of none.
    const CDriveSource* Source(int fd) const;
    std::vector<CDriveSource> m_sources;
    // Drives without an address of their own sit on adapter 0, one target
    // each, in the order they are listed; an iSCSI drive keeps its URL's LUN.
    int m_unaddressedDrives;
};

#endif
