// CApplication: the controller of the diagnostic program. It holds the
// settings of the current command (filled by CUtility), owns the drive
// manager, selects the drive the command names, dispatches the command, and
// is the one path through which every output line leaves the program: to the
// console or the remote client, and to the optional text report file.
#ifndef TAPEDIAG_APPLICATION_H
#define TAPEDIAG_APPLICATION_H

#include <cstdio>
#include <string>
#include <vector>

#include "CommandContext.h"
#include "CommandTable.h"
#include "ProgressDisplay.h"
#include "TapeDrive.h"
#include "VString.h"

class CDriveManager;

class CApplication : public CCommandContext {
public:
    CApplication();
    virtual ~CApplication();
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    // Every per-command setting back to its default.
    void InitializeData();

    bool ClientServerConnection() const override { return m_clientServer; }
    void ClientServerConnection(bool value) { m_clientServer = value; }
    int OSType() const override { return m_platformKind; }
    void OSType(int kind) override { m_platformKind = kind; }
    int GetLatestCmd() const { return m_settings.commandId; }

    // Runs the parsed command: true when it succeeded. With -json its output
    // lines are kept and leave as one JSON document when it ends.
    bool RunAppl();
    bool ProcessCmd();
    // ProcessCmd on the current drive, its nodes opened for the command
    // where the drive manager holds none between commands.
    bool ProcessCmdOnDrive();
    bool FindSelectedDrive();
    bool CreateDriveManager();
    void DisplayDrvInfo();

    void Msg(const CVString& text, bool newline) override;
    using CCommandContext::Msg;
    void TimeStamp() override;
    // Seconds since the epoch, from the clock.
    long GetCurrentTime();
    // Drawn on standard error when that is a terminal, except in server mode
    // and with -noprogress.
    void TestProgress(ETestPhase phase, unsigned long long done, unsigned long long total) override;

    // Ends an open progress line first, so the notice starts a line of its own.
    void DeviceNotice(const std::string& line) override;
    void FileProblem(const char* what, const char* name, const std::string& reason) override;

    const CCommandSettings& Settings() const override { return m_settings; }
    CCommandSettings& Settings() { return m_settings; }
    const CCommandFiles& Files() const override { return m_files; }
    CCommandFiles& Files() { return m_files; }
    CCommandReport& Report() override { return m_report; }

    // Settings, as the parser sets them.
    void SetCommandId(int id) { m_settings.commandId = id; }
    void SetAddress(int port, int bus, int target, int lun);
    void SetSerialNumber(const char* serial) { m_settings.serialNumber = serial; }
    void SetBinaryFileName(const char* name) { m_settings.binaryFileName = name; }
    void SetOutputFileName(const char* name) { m_settings.outputFileName = name; }
    void SetNoClosePrompt(bool value) { m_settings.noClosePrompt = value; }
    void SetIgnore(bool value) { m_settings.ignore = value; }
    void SetVerbose(bool value) { m_settings.verbose = value; }
    void SetFirstDrive(bool value) { m_settings.firstDrive = value; }
    void SetDriveIndex(int index) { m_settings.driveIndex = index; }
    void SetTestSize(int megabytes) { m_settings.testSize = megabytes; }
    void SetRetension(bool value) { m_settings.retension = value; }
    void SetGetSpeed(bool value) { m_settings.getSpeed = value; }
    void SetGetCompression(bool value) { m_settings.getCompression = value; }
    void SetGetLoad(bool value) { m_settings.getLoad = value; }
    void SetSpeedValue(int value) { m_settings.speedValue = value; }
    void SetCompressionValue(int value) { m_settings.compressionValue = value; }
    void SetLoadValue(int value) { m_settings.loadValue = value; }
    void SetEngineering(bool value) { m_settings.engineering = value; }
    void SetNoProgress(bool value) { m_settings.noProgress = value; }
    // Adds a device named with -dev:; false when 32 are already named.
    bool AddDevice(const char* spec);

    // Accessors of the remote service.
    CTapeDrive* GetCurrentDriveSelected() const override { return m_currentDrive; }
    int GetNumberOfAvailableTapeDrives() const;
    // The drive description string of the drive at index, or the empty text.
    CVString GetTapeDriveData(int index) const;

    // Read back by tests and by the run modes.
    int GetPort() const { return m_settings.port; }
    int GetBus() const { return m_settings.bus; }
    int GetTarget() const { return m_settings.target; }
    int GetLun() const { return m_settings.lun; }
    const char* GetSerialNumber() const { return m_settings.serialNumber; }
    const char* GetOutputFileName() const { return m_settings.outputFileName; }
    bool FirstDriveSelected() const { return m_settings.firstDrive; }
    int GetDriveIndex() const { return m_settings.driveIndex; }
    bool GetSpeedFlag() const { return m_settings.getSpeed; }
    bool GetCompressionFlag() const { return m_settings.getCompression; }
    bool GetLoadFlag() const { return m_settings.getLoad; }
    int GetSpeedValue() const { return m_settings.speedValue; }
    int GetCompressionValue() const { return m_settings.compressionValue; }
    int GetLoadValue() const { return m_settings.loadValue; }
    const std::vector<CVString>& GetDevices() const { return m_settings.devices; }
    CDriveManager* GetDriveManager() const { return m_driveManager; }
    // Hands the controller a drive manager (owned from then on); used by
    // CreateDriveManager and by tests that bring drives of their own.
    void AdoptDriveManager(CDriveManager* manager);

private:
    bool RunCommand();
    // health: the selected drive, or without a selection every drive; then
    // the -prom: file.
    bool RunHealth();
    bool HasDriveSelection() const;
    bool WriteMetrics();
    // Output lines while -json keeps them; a piece without a line end waits
    // for the rest of its line.
    void KeepLine(const char* text, bool newline);
    void DeliverJson(bool result);
    bool SelectDrive();
    // Each false when the report file could not be opened or written, the
    // reason told on standard error.
    bool OpenReportFile();
    bool CloseReportFile();
    // One line on standard error, after the progress line if one is open.
    void ErrorLine(const std::string& line);
    bool FailSelection(const char* message);

    CCommandSettings m_settings;
    CCommandFiles m_files;
    CCommandReport m_report;
    std::vector<std::string> m_keptLines;
    std::string m_openLine;
    bool m_clientServer;
    int m_platformKind;
    FILE* m_outputStream;
    // errno of the first failed write to the report file; 0 while none.
    int m_reportError = 0;
    CTapeDrive* m_currentDrive;
    CDriveManager* m_driveManager;
    // Whether standard error was a terminal when the program started.
    bool m_progressTerminal;
    CProgressDisplay m_progress;
};

#endif
