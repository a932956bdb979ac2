#include "LinuxDriveManager.h"

#include <algorithm>
#include <new>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>

#include "DeviceOpener.h"
#include "HostDriveManager.h"
#include "LinuxDriverInterface.h"

namespace {

const int INQUIRY_BUFFER_LENGTH = 64;
const int DISCOVERY_TIMEOUT = 10;

// "nstN" with N all digits; N is stored in number.
bool IsTapeNode(const char* name, long& number)
{
    if (std::strncmp(name, "nst", 3) != 0 || name[3] == '\0')
        return false;
    for (const char* p = name + 3; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
    }
    number = std::strtol(name + 3, nullptr, 10);
    return true;
}

}  // namespace

CDriveManager* CreateHostDriveManager(CCommandContext& context, const std::vector<CVString>& devices)
{
    return new (std::nothrow) CLinuxDriveManager(context, devices);
}

CLinuxDriveManager::CLinuxDriveManager(CCommandContext& context, const std::vector<CVString>& devices,
                                       const char* sysfsRoot, const char* deviceRoot, DeviceOpenFunction openDevice)
    : CDriveManager(context), m_interface(new CLinuxDriverInterface()), m_openDevice(openDevice), m_sysfsRoot(sysfsRoot),
      m_deviceRoot(deviceRoot), m_knownDevices(devices), m_unaddressedDrives(0)
{
    if (!m_openDevice) {
        const CVString root = m_sysfsRoot;
        m_openDevice = [root](const char* device, CVString& error) { return OpenDevice(device, root, error); };
    }
    Context().OSType(PLATFORM_KIND_LINUX);
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
    DIR* directory = opendir(m_sysfsRoot);
    if (directory == nullptr)
        return;
    std::vector<std::pair<long, std::string>> nodes;
    while (dirent* entry = readdir(directory)) {
        long number = 0;
        if (IsTapeNode(entry->d_name, number))
            nodes.emplace_back(number, entry->d_name);
    }
    closedir(directory);
    std::sort(nodes.begin(), nodes.end());

    for (const auto& node : nodes) {
        if (GetDriveList()->GetCount() >= TAPE_DRIVE_LIST_CAPACITY)
            break;
        CVString path(m_deviceRoot);
        path += "/";
        path += node.second.c_str();
        CVString error;
        COpenedDevice opened = m_openDevice(path, error);
        // A node the st driver lists without a device behind it is skipped.
        if (opened.device && opened.hasAddress)
            IdentifyAndAdd(opened);
    }
}

void CLinuxDriveManager::AddNamedDevice(const CVString& spec)
{
    CVString error;
    COpenedDevice opened = m_openDevice(spec, error);
    if (!opened.device) {
        std::fprintf(stderr, "tapediag: device %s skipped: %s\n", static_cast<const char*>(spec),
                     static_cast<const char*>(error));
        return;
    }
    if (!IdentifyAndAdd(opened))
        std::fprintf(stderr, "tapediag: device %s skipped: not a supported tape drive\n",
                     static_cast<const char*>(spec));
}

bool CLinuxDriveManager::IdentifyAndAdd(COpenedDevice& opened)
{
    int fd = m_interface->AttachDevice(std::move(opened.device));
    unsigned char inquiry[INQUIRY_BUFFER_LENGTH] = {};
    int type = 0;
    bool isScsi = false, isRetensionable = false, compressionAvail = false;
    if (!m_interface->DriveInquiry(fd, inquiry, INQUIRY_BUFFER_LENGTH)) {
        m_interface->Driver().DetachDevice(fd);
        return false;
    }
    inquiry[36] = 0;  // the text from byte 8 ends after the revision level
    if (!GetDriveSpecifications(inquiry, type, isScsi, isRetensionable, compressionAvail)) {
        m_interface->Driver().DetachDevice(fd);
        return false;
    }

    CTapeDrive* drive = new CTapeDrive(fd, reinterpret_cast<const char*>(inquiry + 8), type, isScsi,
                                       isRetensionable, compressionAvail);
    CDeviceAddress address = opened.address;
    if (!opened.hasAddress)
        address.target = m_unaddressedDrives;
    drive->AdapterID(address.adapter);
    drive->BusID(address.bus);
    drive->DriveID(address.target);
    drive->LunID(address.lun);
    if (!GetDriveList()->AddHead(drive)) {
        delete drive;
        m_interface->Driver().DetachDevice(fd);
        return false;
    }
    if (!opened.hasAddress)
        ++m_unaddressedDrives;

    CVString serial = ReadSerialNumber(drive);
    drive->SerialNumber(serial);
    SetExtendedFWVersionInfo(drive);
    m_interface->SetDeviceTimeout(fd, DISCOVERY_TIMEOUT);
    return true;
}
