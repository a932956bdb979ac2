#include "Application.h"

#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "Clock.h"
#include "DriveManager.h"
#include "HostDriveManager.h"
#include "MsgDelivery.h"

namespace {

const char* const ADDRESS_NOT_FOUND = "Unable to find the associated drive with the address given.";
const char* const SCSI_ADDRESS_NOT_FOUND = "Unable to find the drive associated with the SCSI address given.";

}  // namespace

CApplication::CApplication()
    : m_clientServer(false), m_platformKind(PLATFORM_KIND_NONE), m_outputStream(nullptr), m_currentDrive(nullptr),
      m_driveManager(nullptr), m_progressTerminal(isatty(STDERR_FILENO) == 1), m_progress(STDERR_FILENO)
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
    m_settings = CCommandSettings();
    CloseReportFile();
    m_currentDrive = nullptr;
}

void CApplication::SetAddress(int port, int bus, int target, int lun)
{
    m_settings.port = port;
    m_settings.bus = bus;
    m_settings.target = target;
    m_settings.lun = lun;
}

bool CApplication::AddDevice(const char* spec)
{
    if (m_settings.devices.size() >= 32)
        return false;
    m_settings.devices.push_back(CVString(spec));
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
    CDriveManager* manager = CreateHostDriveManager(*this, m_settings.devices);
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
    } else if (!m_settings.devices.empty()) {
        m_driveManager->AddDevices(m_settings.devices);
    }

    if (m_settings.commandId == CMD_SHOW) {
        OpenReportFile();
        DisplayDrvInfo();
        CloseReportFile();
        return true;
    }

    if (!SelectDrive())
        return false;
    OpenReportFile();
    const bool result = m_driveManager->OpenForCommand(m_currentDrive) && ProcessCmd();
    m_driveManager->CloseAfterCommand(m_currentDrive);
    CloseReportFile();
    m_progress.EndLine();
    return result;
}

bool CApplication::SelectDrive()
{
    CTapeDriveList* list = m_driveManager->GetDriveList();
    m_currentDrive = nullptr;
    if (m_settings.firstDrive) {
        if (list->GetCount() > 0)
            m_currentDrive = list->GetAt(0);
        return m_currentDrive != nullptr;
    }
    const int index = m_settings.driveIndex;
    if (index != -1) {
        if (index >= 0 && index < list->GetCount())
            m_currentDrive = list->GetAt(index);
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
    const CCommandSettings& s = m_settings;
    if (!s.serialNumber.IsEmpty()) {
        m_currentDrive = list->FindDrive(static_cast<const char*>(s.serialNumber));
        if (m_currentDrive == nullptr)
            return FailSelection("Unable to find the drive associated with the given serial number.");
        return true;
    }
    // Without a full address the drive is found by its target id alone; a
    // port without a target names nothing.
    if (s.port == -1 || s.lun == -1) {
        if (s.target == -1)
            return FailSelection(ADDRESS_NOT_FOUND);
        m_currentDrive = list->FindDrive(s.target);
        if (m_currentDrive == nullptr)
            return FailSelection(ADDRESS_NOT_FOUND);
        return true;
    }
    if (s.target == -1)
        return FailSelection(ADDRESS_NOT_FOUND);
    if (s.bus == -1) {
        if (HasFourPartAddress(m_platformKind)) {
            Msg(CVString(" "), true);
            return FailSelection("Address requires 4 parameters: -id:Port:Bus:Target:Lun");
        }
        m_currentDrive = list->FindDrive(s.port, s.target, s.lun);
    } else {
        if (HasThreePartAddress(m_platformKind)) {
            Msg(CVString(" "), true);
            return FailSelection("Address requires 3 parameters: -id:Adapter:Target:Lun");
        }
        m_currentDrive = list->FindDrive(s.port, s.bus, s.target, s.lun);
    }
    if (m_currentDrive == nullptr)
        return FailSelection(SCSI_ADDRESS_NOT_FOUND);
    return true;
}

bool CApplication::ProcessCmd()
{
    // show has no operation of its own: RunAppl lists the drives.
    const CCommandRow* command = FindCommandById(m_settings.commandId);
    if (command == nullptr || command->run == nullptr)
        return false;
    return command->run(*m_driveManager, m_settings);
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
    if (m_settings.outputFileName.IsEmpty())
        return;
    // A report file that cannot be opened is skipped: the output still
    // reaches the console or the client.
    const int fd = m_files.Open(m_settings.outputFileName, COMMAND_FILE_REPORT, O_RDWR | O_CREAT | O_APPEND, 0666);
    if (fd < 0)
        return;
    m_outputStream = fdopen(fd, "a+");
    if (m_outputStream == nullptr)
        ::close(fd);
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
    if (m_settings.verbose) {
        // A progress line still open is a phase that stopped short: its last
        // state stays above the line that tells why.
        m_progress.EndLine();
        CMsgDelivery delivery;
        delivery.SendMsg(text, newline);
    }
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

void CApplication::TestProgress(ETestPhase phase, unsigned long long done, unsigned long long total)
{
    if (m_clientServer || m_settings.noProgress || !m_progressTerminal)
        return;
    // Standard output and standard error may share the terminal: what the
    // command wrote comes first.
    if (!m_progress.LineOpen())
        std::fflush(stdout);
    m_progress.Show(phase == TEST_PHASE_WRITE ? "Write" : "Read", done, total, GetCurrentTime());
}

void CApplication::DeviceNotice(const std::string& line)
{
    m_progress.EndLine();
    std::fprintf(stderr, "%s\n", line.c_str());
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
