// CLinuxDriveManager: the drive manager of this host. It supplies the driver
// interface and discovery: every tape device of the st driver, or exactly the
// devices named with -dev: when any were named.
#ifndef TAPEDIAG_LINUXDRIVEMANAGER_H
#define TAPEDIAG_LINUXDRIVEMANAGER_H

#include <functional>
#include <memory>
#include <vector>

#include "DriveManager.h"
#include "VString.h"

class CLinuxDriverInterface;
class CPassThrough;

const char* const DEFAULT_SYSFS_TAPE_ROOT = "/sys/class/scsi_tape";
const char* const DEFAULT_DEVICE_ROOT = "/dev";

// Opens a device by path or -dev: text; null with a reason when it cannot.
using DeviceOpenFunction = std::function<std::unique_ptr<CPassThrough>(const char* device, CVString& error)>;

class CLinuxDriveManager : public CDriveManager {
public:
    // Discovers the drives at once. sysfsRoot and deviceRoot are where the
    // st driver's devices are looked for, and openDevice opens each one
    // (tests bring a tree and devices of their own).
    explicit CLinuxDriveManager(const std::vector<CVString>& devices,
                                const char* sysfsRoot = DEFAULT_SYSFS_TAPE_ROOT,
                                const char* deviceRoot = DEFAULT_DEVICE_ROOT,
                                DeviceOpenFunction openDevice = nullptr);
    ~CLinuxDriveManager() override;

    bool BuildDriveList() override;
    void AddDevices(const std::vector<CVString>& devices) override;

    // Reads "H:C:T:L" from the end of a sysfs device link; false, with every
    // id 0, when the link does not end in four numbers.
    static bool ParseLink(const char* link, int& adapter, int& bus, int& target, int& lun);

private:
    struct DeviceAddress {
        int adapter, bus, target, lun;
    };
    void ScanHost();
    void AddNamedDevice(const CVString& spec);
    bool FindSysfsAddress(const char* nodeName, DeviceAddress& address) const;
    // Identifies the device and lists it; false (device released) when it
    // does not answer or is not a supported drive.
    bool IdentifyAndAdd(std::unique_ptr<CPassThrough> device, const DeviceAddress& address);

    CLinuxDriverInterface* m_interface;
    DeviceOpenFunction m_openDevice;
    CVString m_sysfsRoot;
    CVString m_deviceRoot;
    std::vector<CVString> m_knownDevices;
    int m_virtualDrives;
};

#endif
