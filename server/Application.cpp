#include "Application.h"

#include <ctime>
#include <new>

#include "Clock.h"
#include "DriveManager.h"
#include "LinuxDriveManager.h"
#include "MsgDelivery.h"
#include "Utility.h"

namespace {

const char* const ADDRESS_NOT_FOUND = "Unable to find the associated drive with the address given.";
const char* const SCSI_ADDRESS_NOT_FOUND = "Unable to find the drive associated with the SCSI address given.";

bool HasFourPartAddress(int kind)
{
    return kind == 2 || kind == 4;
}

bool HasThreePartAddress(int kind)
{
    return kind == 1 || kind == 3 || kind == 5;
}

}  // namespace

CApplication::CApplication()
    : m_clientServer(false), m_platformKind(0), m_outputStream(nullptr), m_currentDrive(nullptr),
      m_driveManager(nullptr)
{
    InitializeData();
}

CApplication::~CApplication()
{
    CloseReportFile();
    delete m_driveManager;
}

void CApplication::InitializeData()
{
    m_commandId = CMD_NONE;
    m_port = m_bus = m_target = m_lun = -1;
    m_serialNumber.Empty();
    m_binaryFileName.Empty();
    m_noClosePrompt = false;
    m_ignore = false;
    m_verbose = true;
    m_firstDrive = false;
    m_driveIndex = -1;
    m_outputFileName.Empty();
    m_testSize = 0;
    m_retension = false;
    m_getSpeed = m_getCompression = m_getLoad = false;
    m_speedValue = m_compressionValue = m_loadValue = -1;
    m_engineering = false;
    m_devices.clear();
    CloseReportFile();
    m_currentDrive = nullptr;
}

void CApplication::SetAddress(int port, int bus, int target, int lun)
{
    m_port = port;
    m_bus = bus;
    m_target = target;
    m_lun = lun;
}

bool CApplication::AddDevice(const char* spec)
{
    if (m_devices.size() >= 32)
        return false;
    m_devices.push_back(CVString(spec));
    return true;
}

void CApplication::AdoptDriveManager(CDriveManager* manager)
{
    delete m_driveManager;
    m_driveManager = manager;
}

bool CApplication::CreateDriveManager()
{
    Msg(CVString(" "), true);
    Msg(CVString("Checking System Configuration."), true);
    CDriveManager* manager = new (std::nothrow) CLinuxDriveManager(m_devices);
    if (manager == nullptr) {
        Msg(CVString("Unable to create the Drive Manager."), true);
        return false;
    }
    AdoptDriveManager(manager);
    return true;
}

bool CApplication::RunAppl()
{
    if (m_driveManager == nullptr) {
        if (!CreateDriveManager())
            return false;
    } else if (!m_devices.empty()) {
        m_driveManager->AddDevices(m_devices);
    }

    if (m_commandId == CMD_SHOW) {
        OpenReportFile();
        DisplayDrvInfo();
        CloseReportFile();
        return true;
    }

    if (!SelectDrive())
        return false;
    OpenReportFile();
    bool result = ProcessCmd();
    CloseReportFile();
    return result;
}

bool CApplication::SelectDrive()
{
    CTapeDriveList* list = m_driveManager->GetDriveList();
    m_currentDrive = nullptr;
    if (m_firstDrive) {
        if (list->GetCount() > 0)
            m_currentDrive = list->GetAt(0);
        return m_currentDrive != nullptr;
    }
    if (m_driveIndex != -1) {
        if (m_driveIndex >= 0 && m_driveIndex < list->GetCount())
            m_currentDrive = list->GetAt(m_driveIndex);
        return m_currentDrive != nullptr;
    }
    return FindSelectedDrive();
}

bool CApplication::FailSelection(const char* message)
{
    Msg(CVString(message), true);
    m_currentDrive = nullptr;
    return false;
}

bool CApplication::FindSelectedDrive()
{
    CTapeDriveList* list = m_driveManager->GetDriveList();
    if (!m_serialNumber.IsEmpty()) {
        m_currentDrive = list->FindDrive(static_cast<const char*>(m_serialNumber));
        if (m_currentDrive == nullptr)
            return FailSelection("Unable to find the drive associated with the given serial number.");
        return true;
    }
    // Without a full address the drive is found by its target id alone; a
    // port without a target names nothing.
    if (m_port == -1 || m_lun == -1) {
        if (m_target == -1)
            return FailSelection(ADDRESS_NOT_FOUND);
        m_currentDrive = list->FindDrive(m_target);
        if (m_currentDrive == nullptr)
            return FailSelection(ADDRESS_NOT_FOUND);
        return true;
    }
    if (m_target == -1)
        return FailSelection(ADDRESS_NOT_FOUND);
    if (m_bus == -1) {
        if (HasFourPartAddress(m_platformKind)) {
            Msg(CVString(" "), true);
            return FailSelection("Address requires 4 parameters: -id:Port:Bus:Target:Lun");
        }
        m_currentDrive = list->FindDrive(m_port, m_target, m_lun);
    } else {
        if (HasThreePartAddress(m_platformKind)) {
            Msg(CVString(" "), true);
            return FailSelection("Address requires 3 parameters: -id:Adapter:Target:Lun");
        }
        m_currentDrive = list->FindDrive(m_port, m_bus, m_target, m_lun);
    }
    if (m_currentDrive == nullptr)
        return FailSelection(SCSI_ADDRESS_NOT_FOUND);
    return true;
}

bool CApplication::ProcessCmd()
{
    CDriveManager* manager = m_driveManager;
    switch (m_commandId) {
    case CMD_RWTEST:
        return manager->ReadWriteTest();
    case CMD_CTEST:
        return manager->TestCompression();
    case CMD_ENABLECOMP:
        return manager->AppLevelEnableCompression(true);
    case CMD_DISABLECOMP:
        return manager->AppLevelEnableCompression(false);
    case CMD_COMPSTATUS:
        return manager->AppLevelIsCompressionEnabled();
    case CMD_UPGRADE:
    case CMD_TRACE:
    case CMD_ETEST:
    case CMD_PARK:
    case CMD_UNPARK:
    case CMD_SET:
    case CMD_GET:
    case CMD_EEPROM:
    case CMD_CMEMORY:
    case CMD_LOGPAGES:
    case CMD_RETENSION:
        Msg(CVString("This command is not available in this version of the diagnostic."), true);
        Msg(CVString(" "), true);
        return false;
    default:
        return false;
    }
}

void CApplication::DisplayDrvInfo()
{
    CTapeDriveList* list = m_driveManager->GetDriveList();
    Msg(CVString(" "), true);
    if (list->GetCount() == 0) {
        Msg(CVString("No tape drives recognized."), true);
        Msg(CVString(" "), true);
        return;
    }
    Msg(CVString("Accessible Tape Drives..."), true);
    Msg(CVString(" "), true);
    for (int i = 0; i < list->GetCount(); ++i)
        list->GetAt(i)->DisplayDrive(this);
}

void CApplication::OpenReportFile()
{
    CloseReportFile();
    if (!m_outputFileName.IsEmpty())
        m_outputStream = std::fopen(m_outputFileName, "a+");
}

void CApplication::CloseReportFile()
{
    if (m_outputStream != nullptr) {
        std::fclose(m_outputStream);
        m_outputStream = nullptr;
    }
}

void CApplication::Msg(const CVString& text, bool newline)
{
    if (m_outputStream != nullptr)
        std::fprintf(m_outputStream, newline ? "%s\n" : "%s", static_cast<const char*>(text));
    if (m_verbose) {
        CMsgDelivery delivery;
        delivery.SendMsg(text, newline);
    }
}

void CApplication::Msg(int id, bool newline)
{
    CVString text;
    text.LdString(id);
    Msg(text, newline);
}

void CApplication::TimeStamp()
{
    std::time_t now = static_cast<std::time_t>(GetCurrentTime());
    char stamp[64] = {};
    std::tm local;
    if (localtime_r(&now, &local) != nullptr)
        std::strftime(stamp, sizeof stamp, "%a %b %e %H:%M:%S %Y", &local);
    Msg(CVString(stamp), true);
}

long CApplication::GetCurrentTime()
{
    return CClock::Get().Now();
}

int CApplication::GetNumberOfAvailableTapeDrives() const
{
    return m_driveManager == nullptr ? 0 : m_driveManager->GetDriveList()->GetCount();
}

CVString CApplication::GetTapeDriveData(int index) const
{
    if (index < 0 || index >= GetNumberOfAvailableTapeDrives())
        return CVString();
    return m_driveManager->GetDriveList()->GetAt(index)->TapeDriveToNetworkString(this);
}
