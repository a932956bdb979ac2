#include "Application.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "Clock.h"
#include "DriveManager.h"
#include "HostDriveManager.h"
#include "JsonOutput.h"
#include "MsgDelivery.h"
#include "PrometheusOutput.h"

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
    m_report = CCommandReport();
    m_keptLines.clear();
    m_openLine.clear();
    const bool result = RunCommand();
    if (m_settings.json)
        DeliverJson(result);
    return result;
}

bool CApplication::RunCommand()
{
    if (m_driveManager == nullptr) {
        if (!CreateDriveManager())
            return false;
    } else if (!m_settings.devices.empty()) {
        m_driveManager->AddDevices(m_settings.devices);
    }

    if (!m_settings.metricsFileName.IsEmpty() && m_settings.commandId != CMD_HEALTH) {
        Msg(CVString("-prom:FILE belongs to the health command."), true);
        return false;
    }
    if (m_settings.commandId == CMD_SHOW) {
        if (!OpenReportFile())
            return false;
        DisplayDrvInfo();
        return CloseReportFile();
    }
    if (m_settings.commandId == CMD_HEALTH)
        return RunHealth();

    if (!SelectDrive())
        return false;
    // A report asked for and not kept would leave the user with nothing to
    // show for the command (with -nov: not even the console lines): the
    // command does not run without its file.
    if (!OpenReportFile())
        return false;
    bool result = ProcessCmdOnDrive();
    result = CloseReportFile() && result;
    m_progress.EndLine();
    return result;
}

bool CApplication::HasDriveSelection() const
{
    const CCommandSettings& s = m_settings;
    return s.firstDrive || s.driveIndex != -1 || !s.serialNumber.IsEmpty() || s.port != -1 || s.bus != -1 ||
           s.target != -1 || s.lun != -1;
}

bool CApplication::RunHealth()
{
    std::vector<CTapeDrive*> drives;
    if (HasDriveSelection()) {
        if (!SelectDrive())
            return false;
        drives.push_back(m_currentDrive);
    } else {
        CTapeDriveList* list = m_driveManager->GetDriveList();
        for (int i = 0; i < list->GetCount(); ++i)
            drives.push_back(list->GetAt(i));
    }
    if (!OpenReportFile())
        return false;
    // No drive is no drive known to be healthy.
    bool healthy = !drives.empty();
    if (drives.empty())
        DisplayDrvInfo();
    for (CTapeDrive* drive : drives) {
        m_currentDrive = drive;
        healthy = ProcessCmdOnDrive() && healthy;
    }
    if (drives.size() != 1)
        m_currentDrive = nullptr;
    if (!m_settings.metricsFileName.IsEmpty())
        healthy = WriteMetrics() && healthy;
    return CloseReportFile() && healthy;
}

bool CApplication::ProcessCmdOnDrive()
{
    const bool result = m_driveManager->OpenForCommand(m_currentDrive) && ProcessCmd();
    m_driveManager->CloseAfterCommand(m_currentDrive);
    return result;
}

bool CApplication::WriteMetrics()
{
    const std::string metrics = PrometheusText(m_report.health, GetCurrentTime());
    const char* name = m_settings.metricsFileName;
    if (m_files.Replace(name, reinterpret_cast<const unsigned char*>(metrics.data()), metrics.size()) != FILE_WRITTEN) {
        FileProblem("metrics file", name, std::strerror(errno));
        Msg(CVString((std::string("Unable to write the metrics file ") + name + ".").c_str()), true);
        return false;
    }
    Msg(CVString((std::string("Metrics written to ") + name + ".").c_str()), true);
    return true;
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

bool CApplication::OpenReportFile()
{
    CloseReportFile();
    if (m_settings.outputFileName.IsEmpty())
        return true;
    m_reportError = 0;
    const int fd = m_files.Open(m_settings.outputFileName, O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (fd >= 0) {
        m_outputStream = fdopen(fd, "a");
        if (m_outputStream == nullptr) {
            const int error = errno;
            ::close(fd);
            errno = error;
        }
    }
    if (m_outputStream == nullptr)
        FileProblem("report file", m_settings.outputFileName, std::strerror(errno));
    return m_outputStream != nullptr;
}

bool CApplication::CloseReportFile()
{
    if (m_outputStream == nullptr)
        return true;
    int error = m_reportError;
    if (std::fclose(m_outputStream) != 0 && error == 0)
        error = errno;
    m_outputStream = nullptr;
    if (error != 0)
        FileProblem("report file", m_settings.outputFileName, std::strerror(error));
    return error == 0;
}

void CApplication::Msg(const CVString& text, bool newline)
{
    // The first failed write is the one whose reason the user is told.
    if (m_outputStream != nullptr &&
        std::fprintf(m_outputStream, newline ? "%s\n" : "%s", static_cast<const char*>(text)) < 0 && m_reportError == 0)
        m_reportError = errno;
    if (m_settings.json) {
        KeepLine(text, newline);
        return;
    }
    if (m_settings.verbose) {
        // A progress line still open is a phase that stopped short: its last
        // state stays above the line that tells why.
        m_progress.EndLine();
        CMsgDelivery delivery;
        delivery.SendMsg(text, newline);
    }
}

void CApplication::KeepLine(const char* text, bool newline)
{
    m_openLine += text;
    if (newline) {
        m_keptLines.push_back(m_openLine);
        m_openLine.clear();
    }
}

void CApplication::DeliverJson(bool result)
{
    if (!m_openLine.empty())
        m_keptLines.push_back(m_openLine);
    if (!m_settings.verbose)
        return;
    const CCommandRow* command = FindCommandById(m_settings.commandId);
    CJsonCommand run{
        command != nullptr ? command->word : "", result, m_currentDrive, m_keptLines, m_report, m_driveManager};
    m_progress.EndLine();
    CMsgDelivery delivery;
    for (const COutputPiece& piece : OutputPieces(JsonDocument(run)))
        delivery.SendMsg(piece.text.c_str(), piece.newline);
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
    ErrorLine(line);
}

void CApplication::FileProblem(const char* what, const char* name, const std::string& reason)
{
    ErrorLine(std::string("tapediag: ") + what + " " + static_cast<const char*>(m_files.Path(name)) + ": " + reason);
}

void CApplication::ErrorLine(const std::string& line)
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
