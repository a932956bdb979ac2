#include "LinuxDriveManager.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>

#include "Application.h"
#include "DeviceOpener.h"
#include "LinuxDriverInterface.h"
#include "Utility.h"

namespace {

const int INQUIRY_BUFFER_LENGTH = 64;
const int DISCOVERY_TIMEOUT = 10;
const char* const SIM_PREFIX = "sim:";

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

bool ReadNonNegative(const char*& p, int& value)
{
    if (*p < '0' || *p > '9')
        return false;
    long number = 0;
    while (*p >= '0' && *p <= '9') {
        number = number * 10 + (*p - '0');
        if (number > 0x7FFFFFFF)
            return false;
        ++p;
    }
    value = static_cast<int>(number);
    return true;
}

}  // namespace

CLinuxDriveManager::CLinuxDriveManager(const std::vector<CVString>& devices, const char* sysfsRoot,
                                       const char* deviceRoot, DeviceOpenFunction openDevice)
    : m_interface(new CLinuxDriverInterface()), m_openDevice(openDevice ? openDevice : OpenDevice),
      m_sysfsRoot(sysfsRoot), m_deviceRoot(deviceRoot), m_knownDevices(devices), m_virtualDrives(0)
{
    App()->OSType(PLATFORM_KIND_LINUX);
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
        DeviceAddress address = {0, 0, 0, 0};
        if (!FindSysfsAddress(node.second.c_str(), address))
            continue;
        CVString path(m_deviceRoot);
        path += "/";
        path += node.second.c_str();
        CVString error;
        std::unique_ptr<CPassThrough> device = m_openDevice(path, error);
        if (device)
            IdentifyAndAdd(std::move(device), address);
    }
}

void CLinuxDriveManager::AddNamedDevice(const CVString& spec)
{
    DeviceAddress address = {0, 0, 0, 0};
    bool isVirtual = spec.Left(static_cast<int>(std::strlen(SIM_PREFIX))) == CVString(SIM_PREFIX);
    if (isVirtual) {
        // Virtual drives sit on adapter 0, one target each, in the order named.
        address.target = m_virtualDrives;
    } else {
        CVString node = spec.Mid(spec.ReverseFind('/') + 1, -1);
        FindSysfsAddress(node, address);
    }
    CVString error;
    std::unique_ptr<CPassThrough> device = m_openDevice(spec, error);
    if (!device) {
        std::fprintf(stderr, "tapediag: device %s skipped: %s\n", static_cast<const char*>(spec),
                     static_cast<const char*>(error));
        return;
    }
    if (!IdentifyAndAdd(std::move(device), address)) {
        std::fprintf(stderr, "tapediag: device %s skipped: not a supported tape drive\n",
                     static_cast<const char*>(spec));
        return;
    }
    if (isVirtual)
        ++m_virtualDrives;
}

bool CLinuxDriveManager::FindSysfsAddress(const char* nodeName, DeviceAddress& address) const
{
    CVString link(m_sysfsRoot);
    link += "/";
    link += nodeName;
    link += "/device";
    char target[1024] = {};
    if (readlink(link, target, sizeof target - 1) == -1)
        return false;
    if (!ParseLink(target, address.adapter, address.bus, address.target, address.lun))
        std::fputs("Problems exist parsing the device file. Please contact technical support.\n", stderr);
    return true;
}

bool CLinuxDriveManager::ParseLink(const char* link, int& adapter, int& bus, int& target, int& lun)
{
    adapter = bus = target = lun = 0;
    const char* name = std::strrchr(link, '/');
    name = name == nullptr ? link : name + 1;
    int numbers[4];
    const char* p = name;
    for (int i = 0; i < 4; ++i) {
        if (!ReadNonNegative(p, numbers[i]))
            return false;
        if (*p != (i < 3 ? ':' : '\0'))
            return false;
        if (i < 3)
            ++p;
    }
    adapter = numbers[0];
    bus = numbers[1];
    target = numbers[2];
    lun = numbers[3];
    return true;
}

bool CLinuxDriveManager::IdentifyAndAdd(std::unique_ptr<CPassThrough> device, const DeviceAddress& address)
{
    int fd = m_interface->AttachDevice(std::move(device));
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
    drive->AdapterID(address.adapter);
    drive->BusID(address.bus);
    drive->DriveID(address.target);
    drive->LunID(address.lun);
    if (!GetDriveList()->AddHead(drive)) {
        delete drive;
        m_interface->Driver().DetachDevice(fd);
        return false;
    }

    CVString serial = ReadSerialNumber(drive);
    drive->SerialNumber(serial);
    SetExtendedFWVersionInfo(drive);
    m_interface->SetDeviceTimeout(fd, DISCOVERY_TIMEOUT);
    return true;
}
