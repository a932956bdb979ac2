// CApplication: the controller of the diagnostic program. It holds the
// settings of the current command (filled by CUtility), owns the drive
// manager, selects the drive the command names, dispatches the command, and
// is the one path through which every output line leaves the program: to the
// console or the remote client, and to the optional text report file.
#ifndef TAPEDIAG_APPLICATION_H
#define TAPEDIAG_APPLICATION_H

#include <cstdio>
#include <vector>

#include "AppOutput.h"
#include "TapeDrive.h"
#include "VString.h"

class CDriveManager;

// Command ids; the order of the command table is CUtility's.
enum CommandId {
    CMD_NONE = 0,
    CMD_SHOW = 1,
    CMD_RWTEST = 2,
    CMD_CTEST = 3,
    CMD_UPGRADE = 4,
    CMD_TRACE = 5,
    CMD_ETEST = 6,
    CMD_PARK = 7,
    CMD_UNPARK = 8,
    CMD_SET = 9,
    CMD_GET = 10,
    CMD_EEPROM = 11,
    CMD_CMEMORY = 12,
    CMD_ENABLECOMP = 13,
    CMD_DISABLECOMP = 14,
    CMD_COMPSTATUS = 15,
    CMD_LOGPAGES = 16,
    CMD_RETENSION = 17
};

// The platform kind this host's drive manager sets: three-number addresses.
const int PLATFORM_KIND_LINUX = 5;

class CApplication : public CAppOutput {
public:
    CApplication();
    virtual ~CApplication();
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    // Every per-command setting back to its default.
    void InitializeData();

    bool ClientServerConnection() const { return m_clientServer; }
    void ClientServerConnection(bool value) { m_clientServer = value; }
    int OSType() const override { return m_platformKind; }
    void OSType(int kind) { m_platformKind = kind; }
    int GetLatestCmd() const { return m_commandId; }

    // Runs the parsed command: true when it succeeded.
    bool RunAppl();
    bool ProcessCmd();
    bool FindSelectedDrive();
    bool CreateDriveManager();
    void DisplayDrvInfo();

    void Msg(const CVString& text, bool newline) override;
    void Msg(int id, bool newline);
    void TimeStamp();
    long GetCurrentTime();

    // Settings, as the parser sets them.
    void SetCommandId(int id) { m_commandId = id; }
    void SetAddress(int port, int bus, int target, int lun);
    void SetSerialNumber(const char* serial) { m_serialNumber = serial; }
    void SetBinaryFileName(const char* name) { m_binaryFileName = name; }
    void SetOutputFileName(const char* name) { m_outputFileName = name; }
    void SetNoClosePrompt(bool value) { m_noClosePrompt = value; }
    void SetIgnore(bool value) { m_ignore = value; }
    void SetVerbose(bool value) { m_verbose = value; }
    void SetFirstDrive(bool value) { m_firstDrive = value; }
    void SetDriveIndex(int index) { m_driveIndex = index; }
    void SetTestSize(int megabytes) { m_testSize = megabytes; }
    void SetRetension(bool value) { m_retension = value; }
    void SetGetSpeed(bool value) { m_getSpeed = value; }
    void SetGetCompression(bool value) { m_getCompression = value; }
    void SetGetLoad(bool value) { m_getLoad = value; }
    void SetSpeedValue(int value) { m_speedValue = value; }
    void SetCompressionValue(int value) { m_compressionValue = value; }
    void SetLoadValue(int value) { m_loadValue = value; }
    void SetEngineering(bool value) { m_engineering = value; }
    // Adds a device named with -dev:; false when 32 are already named.
    bool AddDevice(const char* spec);

    // Accessors of the diagnostics engine and the remote service.
    CTapeDrive* GetCurrentDriveSelected() const { return m_currentDrive; }
    int GetMegaBytesSet() const { return m_testSize; }
    bool IsRetensionChecked() const { return m_retension; }
    bool ReadOnlyTest() const { return false; }
    int GetByteType() const { return 1; }
    bool EngineeringMode() const { return m_engineering; }
    void GetFileSelected(CVString& name) const { name = m_binaryFileName; }
    bool IgnoreSwitchSet() const { return m_ignore; }
    bool Verbose() const { return m_verbose; }
    bool NRSwitch() const { return m_noClosePrompt; }
    int GetNumberOfAvailableTapeDrives() const;
    // The drive description string of the drive at index, or the empty text.
    CVString GetTapeDriveData(int index) const;

    // Read back by tests and by the run modes.
    int GetPort() const { return m_port; }
    int GetBus() const { return m_bus; }
    int GetTarget() const { return m_target; }
    int GetLun() const { return m_lun; }
    const char* GetSerialNumber() const { return m_serialNumber; }
    const char* GetOutputFileName() const { return m_outputFileName; }
    bool FirstDriveSelected() const { return m_firstDrive; }
    int GetDriveIndex() const { return m_driveIndex; }
    bool GetSpeedFlag() const { return m_getSpeed; }
    bool GetCompressionFlag() const { return m_getCompression; }
    bool GetLoadFlag() const { return m_getLoad; }
    int GetSpeedValue() const { return m_speedValue; }
    int GetCompressionValue() const { return m_compressionValue; }
    int GetLoadValue() const { return m_loadValue; }
    const std::vector<CVString>& GetDevices() const { return m_devices; }
    CDriveManager* GetDriveManager() const { return m_driveManager; }
    // Hands the controller a drive manager (owned from then on); used by
    // CreateDriveManager and by tests that bring drives of their own.
    void AdoptDriveManager(CDriveManager* manager);

private:
    bool SelectDrive();
    void OpenReportFile();
    void CloseReportFile();
    bool FailSelection(const char* message);

    int m_commandId;
    int m_port;
    int m_bus;
    int m_target;
    int m_lun;
    CVString m_serialNumber;
    CVString m_binaryFileName;
    bool m_noClosePrompt;
    bool m_ignore;
    bool m_verbose;
    bool m_firstDrive;
    int m_driveIndex;
    CVString m_outputFileName;
    int m_testSize;
    bool m_retension;
    bool m_getSpeed;
    bool m_getCompression;
    bool m_getLoad;
    bool m_clientServer;
    int m_speedValue;
    int m_compressionValue;
    int m_loadValue;
    int m_platformKind;
    bool m_engineering;
    std::vector<CVString> m_devices;
    FILE* m_outputStream;
    CTapeDrive* m_currentDrive;
    CDriveManager* m_driveManager;
};

#endif
