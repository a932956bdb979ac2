#include "LinuxDriveManager.h"

#include <algorithm>
#include <new>
#include <string>

#include "DeviceOpener.h"
#include "HostDevices.h"
#include "HostDriveManager.h"
#include "LinuxDriverInterface.h"

namespace {

const int INQUIRY_BUFFER_LENGTH = 64;
const int DISCOVERY_TIMEOUT = 10;

}  // namespace

CDriveManager* CreateHostDriveManager(CCommandContext& context, const std::vector<CVString>& devices)
{
    return new (std::nothrow) CLinuxDriveManager(context, devices);
}

CLinuxDriveManager::CLinuxDriveManager(CCommandContext& context, const std::vector<CVString>& devices,
                                       const CHostPaths& paths, DeviceOpenFunction openDevice)
    : CDriveManager(context), m_interface(new CLinuxDriverInterface()), m_openDevice(openDevice), m_paths(paths),
      m_knownDevices(devices), m_unaddressedDrives(0)
{
    if (!m_openDevice) {
        m_openDevice = [paths](const char* device, CVString& error) { return OpenDevice(device, paths, error); };
    }
    Context().OSType(PLATFORM_KIND_LINUX);
    m_interface->Driver().SetNoticeFunction([&context](const std::string& line) { context.DeviceNotice(line); });
    SetDriverInterface(m_interface);
    BuildDriveList();
}

CLinuxDriveManager::~CLinuxDriveManager()
{
    GetDriveList()->DeleteAll();
    delete m_interface;
}

bool CLinuxDriveManager::BuildDriveList()
{
    if (m_knownDevices.empty()) {
        ScanHost();
        return true;
    }
    for (const CVString& spec : m_knownDevices)
        AddNamedDevice(spec);
    return true;
}

bool CLinuxDriveManager::PrintTrace()
{
    return PrintWholeTrace();
}

void CLinuxDriveManager::AddDevices(const std::vector<CVString>& devices)
{
    for (const CVString& spec : devices) {
        if (std::find(m_knownDevices.begin(), m_knownDevices.end(), spec) != m_knownDevices.end())
            continue;
        m_knownDevices.push_back(spec);
        AddNamedDevice(spec);
    }
}

void CLinuxDriveManager::ScanHost()
{
    for (const std::string& path : ListHostTapeDevices(m_paths)) {
        if (GetDriveList()->GetCount() >= TAPE_DRIVE_LIST_CAPACITY)
            break;
        CVString error;
        COpenedDevice opened = m_openDevice(path.c_str(), error);
        if (!opened.device) {
            SaySkipped(path.c_str(), error);
            continue;
        }
        // A node whose device sysfs cannot place is not a drive of this bus.
        if (opened.hasAddress)
            IdentifyAndAdd(path, opened);
    }
}

void CLinuxDriveManager::AddNamedDevice(const CVString& spec)
{
    CVString error;
    COpenedDevice opened = m_openDevice(spec, error);
    if (!opened.device) {
        SaySkipped(DeviceDisplayName(spec).c_str(), error);
        return;
    }
    const std::string name = opened.device->Name().empty() ? DeviceDisplayName(spec) : opened.device->Name();
    bool answered = false;
    if (!IdentifyAndAdd(std::string(spec), opened, &answered) && answered)
        SaySkipped(name.c_str(), "not a supported tape drive");
}

void CLinuxDriveManager::SaySkipped(const char* device, const char* reason)
{
    Context().DeviceNotice(std::string("tapediag: device ") + device + " skipped: " + reason);
}

bool CLinuxDriveManager::IdentifyAndAdd(const std::string& path, COpenedDevice& opened, bool* answered)
{
    const std::string deviceName = opened.device->Name();
    int fd = m_interface->AttachDevice(std::move(opened.device));
    unsigned char inquiry[INQUIRY_BUFFER_LENGTH] = {};
    int type = 0;
    bool isScsi = false, isRetensionable = false, compressionAvail = false;
    if (!m_interface->DriveInquiry(fd, inquiry, INQUIRY_BUFFER_LENGTH)) {
        // A command that did not complete has been said on standard error
        // by the command layer; a drive that answered with an error has not.
        if (answered != nullptr)
            *answered = m_interface->Driver().LastCommandCompleted();
        m_interface->Driver().DetachDevice(fd);
        return false;
    }
    if (answered != nullptr)
        *answered = true;
    inquiry[36] = 0;  // the text from byte 8 ends after the revision level
    if (!GetDriveSpecifications(inquiry, type, isScsi, isRetensionable, compressionAvail)) {
        m_interface->Driver().DetachDevice(fd);
        return false;
    }

    CTapeDrive* drive =
        new CTapeDrive(fd, reinterpret_cast<const char*>(inquiry + 8), type, isScsi, isRetensionable, compressionAvail);
    CDeviceAddress address = opened.address;
    if (!opened.hasAddress)
        address.target = m_unaddressedDrives;
    drive->AdapterID(address.adapter);
    drive->BusID(address.bus);
    drive->DriveID(address.target);
    drive->LunID(address.lun);
    drive->NTTapeDriveName(deviceName.c_str());
    if (!GetDriveList()->AddHead(drive)) {
        delete drive;
        m_interface->Driver().DetachDevice(fd);
        return false;
    }
    if (opened.hasAddress)
        m_hostNodes[fd] = path;
    else
        ++m_unaddressedDrives;

    CVString serial = ReadSerialNumber(drive);
    drive->SerialNumber(serial);
    SetExtendedFWVersionInfo(drive);
    m_interface->SetDeviceTimeout(fd, DISCOVERY_TIMEOUT);
    return true;
}

bool CLinuxDriveManager::ReopenLostDrive(CTapeDrive* drive)
{
    const int lost = drive->FileDescriptor();
    const CVString serial = drive->SerialNumber();
    if (m_interface->Driver().LastCommandCompleted() || m_hostNodes.count(lost) == 0 ||
        serial == CatalogueText(CAT_UNAVAILABLE))
        return false;
    for (const std::string& path : ListHostTapeDevices(m_paths)) {
        // Other drives' nodes stay untouched: they may be at work.
        const bool held = std::any_of(m_hostNodes.begin(), m_hostNodes.end(),
                                      [&](const auto& node) { return node.first != lost && node.second == path; });
        CVString error;
        COpenedDevice opened = held ? COpenedDevice() : m_openDevice(path.c_str(), error);
        if (!opened.device || !opened.hasAddress)
            continue;
        const int fd = m_interface->AttachDevice(std::move(opened.device));
        CTapeDrive found;
        found.FileDescriptor(fd);
        found.DriveType(drive->DriveType());
        if (ReadSerialNumber(&found) != serial) {
            m_interface->Driver().DetachDevice(fd);
            continue;
        }
        m_interface->Driver().DetachDevice(lost);
        m_hostNodes.erase(lost);
        m_hostNodes[fd] = path;
        drive->FileDescriptor(fd);
        drive->AdapterID(opened.address.adapter);
        drive->BusID(opened.address.bus);
        drive->DriveID(opened.address.target);
        drive->LunID(opened.address.lun);
        return true;
    }
    return false;
}
