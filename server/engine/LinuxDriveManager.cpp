#include "LinuxDriveManager.h"

#include <algorithm>
#include <new>
#include <string>

#include "DeviceOpener.h"
#include "HostDevices.h"
#include "HostDriveManager.h"
#include "LinuxDriverInterface.h"
#include "MessageCatalogue.h"

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
            IdentifyAndAdd(opened, path);
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
    if (!IdentifyAndAdd(opened, static_cast<const char*>(spec), &answered) && answered)
        SaySkipped(name.c_str(), "not a supported tape drive");
}

void CLinuxDriveManager::SaySkipped(const char* device, const char* reason)
{
    Context().DeviceNotice(std::string("tapediag: device ") + device + " skipped: " + reason);
}

bool CLinuxDriveManager::IdentifyAndAdd(COpenedDevice& opened, const std::string& text, bool* answered)
{
    // A server holds no drive of this host between commands: backup
    // software gets EBUSY from a drive whose nodes are open.
    const bool perCommand = Context().ClientServerConnection() && opened.device->HoldsHostNodes();
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
    if (m_sources.size() <= static_cast<size_t>(fd))
        m_sources.resize(static_cast<size_t>(fd) + 1);
    m_sources[static_cast<size_t>(fd)] = CDriveSource{text, perCommand, opened.hasAddress};
    if (perCommand)
        m_interface->Driver().DetachDevice(fd);
    return true;
}

const CLinuxDriveManager::CDriveSource* CLinuxDriveManager::Source(int fd) const
{
    return fd >= 0 && static_cast<size_t>(fd) < m_sources.size() ? &m_sources[static_cast<size_t>(fd)] : nullptr;
}

bool CLinuxDriveManager::OpenedPerCommand(int fd) const
{
    const CDriveSource* source = Source(fd);
    return source != nullptr && source->perCommand;
}

std::string CLinuxDriveManager::DeviceName(const CTapeDrive* drive) const
{
    const CDriveSource* source = Source(drive->FileDescriptor());
    return source != nullptr ? DeviceDisplayName(source->text.c_str()) : std::string();
}

bool CLinuxDriveManager::ReopenLostDrive(CTapeDrive* drive)
{
    const int lost = drive->FileDescriptor();
    const CDriveSource* source = Source(lost);
    const CVString serial = drive->SerialNumber();
    if (m_interface->Driver().LastCommandCompleted() || source == nullptr || !source->hostNode ||
        serial == CatalogueText(CAT_UNAVAILABLE))
        return false;
    const bool perCommand = source->perCommand;
    for (const std::string& path : ListHostTapeDevices(m_paths)) {
        // Other drives' nodes stay untouched: they may be at work.
        const bool held = std::any_of(m_sources.begin(), m_sources.end(), [&](const CDriveSource& other) {
            return &other != source && other.hostNode && other.text == path;
        });
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
        m_sources[static_cast<size_t>(lost)] = CDriveSource{};
        m_sources.resize(std::max(m_sources.size(), static_cast<size_t>(fd) + 1));
        m_sources[static_cast<size_t>(fd)] = CDriveSource{path, perCommand, true};
        drive->FileDescriptor(fd);
        drive->AdapterID(opened.address.adapter);
        drive->BusID(opened.address.bus);
        drive->DriveID(opened.address.target);
        drive->LunID(opened.address.lun);
        return true;
    }
    return false;
}

bool CLinuxDriveManager::OpenForCommand(CTapeDrive* drive)
{
    const int fd = drive->FileDescriptor();
    if (!OpenedPerCommand(fd))
        return true;
    const std::string& text = m_sources[static_cast<size_t>(fd)].text;
    const std::string name = DeviceDisplayName(text.c_str());
    CVString error;
    COpenedDevice opened = m_openDevice(text.c_str(), error);
    if (!opened.device)
        return CannotOpen(name, error);
    m_interface->Driver().ReattachDevice(fd, std::move(opened.device));
    // The node may name another drive now (one was unplugged, the next one
    // took its number): a destructive test must not run on it.
    const char* unlike = Unlike(drive);
    if (unlike == nullptr)
        return true;
    m_interface->Driver().DetachDevice(fd);
    return CannotOpen(name, unlike);
}

void CLinuxDriveManager::CloseAfterCommand(CTapeDrive* drive)
{
    if (OpenedPerCommand(drive->FileDescriptor()))
        m_interface->Driver().DetachDevice(drive->FileDescriptor());
}

const char* CLinuxDriveManager::Unlike(CTapeDrive* drive)
{
    unsigned char inquiry[INQUIRY_BUFFER_LENGTH] = {};
    if (!m_interface->DriveInquiry(drive, inquiry, INQUIRY_BUFFER_LENGTH))
        return "it does not answer";
    inquiry[36] = 0;
    CTapeDrive answering;
    answering.SetDriveDescAndFirmwareDesc(reinterpret_cast<const char*>(inquiry + 8));
    if (CVString(answering.DriveDescription()) != CVString(drive->DriveDescription()))
        return "another drive answers there now";
    if (ReadSerialNumber(drive) != CVString(drive->SerialNumber()))
        return "another drive answers there now (its serial number differs)";
    return nullptr;
}

bool CLinuxDriveManager::CannotOpen(const std::string& device, const char* reason)
{
    Context().DeviceNotice("tapediag: " + device + ": " + reason);
    Context().Msg(CVString(("Unable to use the drive " + device + ": " + reason).c_str()), true);
    Context().Msg(CVString(" "), true);
    return false;
}
