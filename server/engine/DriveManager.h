// CDriveManager: the diagnostics engine. One object, created by the
// controller as the host's drive manager, identifies the drives at discovery
// and carries out every diagnostic command on the controller's selected drive.
// Output goes through the controller it was made with; SCSI commands through
// the driver interface, which the host's drive manager supplies and owns.
//
// One source file per group of commands: DriveManager.cpp (identification),
// DriveManagerSense.cpp, DriveManagerReadWrite.cpp (read/write and
// compression tests), DriveManagerDriveOps.cpp (retension, self-test, eject),
// DriveManagerFirmware.cpp (with the pure file-name and level rules of
// FirmwareRules.h), DriveManagerLogPages.cpp (log pages and the binary
// file), DriveManagerCapture.cpp (trace, cartridge memory, EEPROM),
// DriveManagerSettings.cpp (drive arm and drive settings) and
// DriveManagerHealth.cpp (the health check).
#ifndef TAPEDIAG_DRIVEMANAGER_H
#define TAPEDIAG_DRIVEMANAGER_H

#include <string>
#include <vector>

#include "CommandContext.h"
#include "DriverInterface.h"
#include "Retry.h"
#include "TapeDriveList.h"
#include "VString.h"

const int TEST_BLOCK_SIZE = 65536;

struct CBufferCapture;
struct CFirmwareFileImage;
struct CCounterPage;

class CDriveManager {
public:
    // The engine of `context`, the controller that owns it.
    explicit CDriveManager(CCommandContext& context);
    virtual ~CDriveManager();
    CDriveManager(const CDriveManager&) = delete;
    CDriveManager& operator=(const CDriveManager&) = delete;

    virtual bool BuildDriveList() = 0;
    virtual void UpdateRegistry(CVString) {}
    // The segmented trace read of an Ultrium drive (DriveManagerCapture.cpp);
    // a host may read the trace of other drives its own way.
    virtual bool PrintTrace();
    virtual bool FileExists(const char*) { return true; }
    // The sense line of the last failed command on the drive.
    virtual CVString RetrieveAndFormatSenseMsg(CTapeDrive* drive);
    // Adds the named devices that are not listed yet (a later command of an
    // interactive session may name more); nothing on a host without them.
    virtual void AddDevices(const std::vector<CVString>&) {}
    // After a command on the drive did not complete because the drive's node
    // went away (a drive restarting after a firmware upgrade may come back
    // on new nodes): finds the drive again among the host's drives by its
    // serial number and points the record at it. True when it was found.
    virtual bool ReopenLostDrive(CTapeDrive*) { return false; }
    // The device text that names the drive in messages (its -dev: text
    // without a password, or its node); empty when the host has none.
    virtual std::string DeviceName(const CTapeDrive*) const { return std::string(); }
    // Makes the drive ready for one command: a server holds no drive of the
    // host between commands (backup software must be able to open it), so
    // its nodes are opened again here and must still reach the same drive.
    // False, with a line saying why, when they cannot be.
    virtual bool OpenForCommand(CTapeDrive*) { return true; }
    // Closes again what OpenForCommand opened.
    virtual void CloseAfterCommand(CTapeDrive*) {}

    CTapeDriveList* GetDriveList() { return &m_driveList; }
    CDriverInterface* GetDriverInterface() { return m_driverInterface; }

    // Identification.
    static void ParseDriveString(const char* inquiry, CVString& vendor, CVString& product, CVString& revision);
    // True for a supported drive, with its type and abilities.
    bool GetDriveSpecifications(unsigned char* inquiry, int& driveType, bool& isScsi, bool& isRetensionable,
                                bool& compressionAvail);
    bool GetDriveProperties(unsigned char* inquiry, int& driveType, bool& isScsi, bool& isRetensionable,
                            bool& compressionAvail);
    static bool Lookup(CVString name, CVString revision, bool& isScsi, bool& isRetensionable, int& driveType,
                       bool& compressionAvail);
    static int GetDatDriveType(CVString revision);
    static bool IsDatTypeDrive(const CTapeDrive* drive);
    static bool IsTravanTypeDrive(const CTapeDrive* drive);
    bool GetDriveSerialNumber(CTapeDrive* drive, unsigned char* buffer, int length);
    bool FWInquiry(CTapeDrive* drive, unsigned char* buffer, int length);
    // Replaces the 4-character firmware text of DAT types 4 and 5 and of
    // Ultrium drives with the longer version from vendor pages C0h and C1h.
    void SetExtendedFWVersionInfo(CTapeDrive* drive);
    // The serial number step of discovery for one drive, trimmed at both ends.
    void SetSerialNumber(CTapeDrive* drive);

    // Sense reporting.
    // Explains a failed unit-ready check from the sense data fetched after it.
    void ProduceErrorMsg(unsigned char* sense);
    // What the last command's status says when the drive turned the command
    // away without sense data (busy, reserved by another host, task set
    // full); null for any other outcome.
    const char* RefusalText(CTapeDrive* drive);

    // Read/write and compression tests.
    bool ReadWriteTest();
    bool TestCompression();
    bool AppLevelIsCompressionEnabled();
    bool AppLevelEnableCompression(bool enable);
    static void FillBuffer(unsigned char* buffer, int length);
    static void ClearBuffer(unsigned char* buffer, int length);
    static bool CheckBuffer(const unsigned char* buffer, int length);
    void SendMsgWriteBegins(unsigned long megabytes);
    void SendMsgReadBegins(unsigned long megabytes);
    bool IsTapeWriteProtected(CTapeDrive* drive);
    bool IsCorrectTapeType(CTapeDrive* drive);
    bool IsCompressionOn(CTapeDrive* drive);
    bool EnableCompression(CTapeDrive* drive, bool enable);

    // Retension, self-test and eject (DriveManagerDriveOps.cpp).
    bool RetensionTape();
    // True when the drive reported its self-test passed.
    bool DriveDiagnostic();
    bool SendDiagnostic();
    // Unloads the cartridge of a DAT type 4 or 5 or Ultrium drive; nothing
    // for other drives.
    void EjectTape(CTapeDrive* drive);
    // Keeps other hosts off a shared drive (CDriveReservation below); when
    // the drive refuses: the failure line, the sense line, the separator,
    // and false.
    bool ReserveDrive(CTapeDrive* drive);

    // Firmware upgrade (DriveManagerFirmware.cpp; the pure rules in
    // FirmwareRules.h). True only when the new level was verified.
    bool FirmwareUpgrade();
    bool ValidateFirmwareFile(CVString& name);
    bool IsFWFileOEMSpecific(CVString& name);
    bool IsCurrentFWOEMSpecific();
    CVString GetFwVersionFromFileName(CVString name);
    bool CheckFwLevel(CVString name);
    bool FirmwareMatches(CVString name, CVString revision);
    bool CheckFileLength(long length);
    bool DownloadFirmware(CTapeDrive* drive, unsigned char* image, long length);
    // Whether the drive sits in an autoloader: mode page 1Dh in a 36-byte
    // all-pages answer.
    bool IsAutoLoaderConfiguration(CTapeDrive* drive);
    static bool DoesPageExist(int page, unsigned char* data, int length);

    // Log pages and the binary output file (DriveManagerLogPages.cpp).
    bool PrintAllLogPages();
    bool PrintLogPage(int page);
    // Writes the -f: file, replacing what it held; false with a message.
    bool OutputBinary(unsigned char* data, long length);

    // The health check (DriveManagerHealth.cpp, with the pure rules of
    // HealthRules.h): true when the drive is OK and its cartridge needs no
    // replacing. Nothing is written to the cartridge.
    bool HealthCheck();

    // Trace, cartridge memory and EEPROM capture (DriveManagerCapture.cpp).
    bool CaptureTrace();
    bool IsSegmentTraceCapable();
    long TotalTraceBufferReads(long blockSize);
    static void IncrementBy16K(unsigned char& b2, unsigned char& b1, unsigned char& b0);
    bool GetCm();
    bool GetEEPROM();

    // Drive arm and drive settings (DriveManagerSettings.cpp). -1 in a
    // SetValue argument leaves that setting unchanged.
    bool Park(bool park);
    bool SetValue(int speed, int compression, int load);
    bool GetValue(bool speed, bool compression, bool load);
    bool GetNivraSpeed(int& speed);
    bool GetNivraCompression(int& mode);
    bool GetNivraAutoLoad(int& load);
    bool SetNivraSpeed(int speed);
    bool SetNivraCompression(int mode);
    bool SetNivraAutoLoad(int load);

    // Big-endian log parameter values of 1 to 8 bytes.
    static long long OneByteStrToInt64(const unsigned char* value);
    static long long TwoByteStrToInt64(const unsigned char* value);
    static long long ThreeByteStrToInt64(const unsigned char* value);
    static long long FourByteStrToInt64(const unsigned char* value);
    static long long FiveByteStrToInt64(const unsigned char* value);
    static long long SixByteStrToInt64(const unsigned char* value);
    static long long SevenByteStrToInt64(const unsigned char* value);
    static long long EightByteStrToInt64(const unsigned char* value);

    CCommandContext& Context() const { return *m_application; }
    // Waits that many seconds on the clock seam.
    static void SSleep(long seconds);

protected:
    void SetDriverInterface(CDriverInterface* driverInterface) { m_driverInterface = driverInterface; }
    // The trace of a DAT drive in one 64 KiB READ BUFFER, written to the -f:
    // file; what this host's PrintTrace does.
    bool PrintWholeTrace();

    // The serial number of a DAT type 4 or 5 or Ultrium drive (cut to 7 or 12
    // characters, trailing blanks removed), else "Unavailable".
    CVString ReadSerialNumber(CTapeDrive* drive);

private:
    struct TapeTest;
    bool IdentifyProduct(unsigned char* inquiry, int& driveType, bool& isScsi, bool& isRetensionable,
                         bool& compressionAvail, bool reportUnknown);
    bool ReadVendorPage(CTapeDrive* drive, int page, unsigned char* buffer);
    bool RunTapeTest(const TapeTest& test);
    // LOG SENSE of an error counter page into the zeroed buffer of
    // 4096 bytes, with the sense line of the command.
    CCounterPage ReadCounterPage(CTapeDrive* drive, int page, unsigned char* buffer, CVString& sense);
    // DCE of the compression page, with up to six reads; false when none
    // succeeded.
    bool ReadCompression(CTapeDrive* drive, bool& on);
    // Switches compression off and reads it back: the test pattern
    // compresses so well that a test with compression on would hardly use
    // the tape. When it stays on: the failure lines, the separator; false.
    bool TurnCompressionOff(CTapeDrive* drive);
    // The opening lines of a drive command: the time stamp, the drive's
    // description and, when given, the issued-command line.
    void OpenCommand(CTapeDrive* drive);
    void OpenCommand(CTapeDrive* drive, const char* issued);
    void OpenCommand(CTapeDrive* drive, CatalogueId issued);
    // A failed step: its catalogue message, the sense line, the separator;
    // always false.
    bool SenseReport(CTapeDrive* drive, CatalogueId failure);
    bool SenseReport(CTapeDrive* drive, const CVString& failure);
    // A line holding a single blank, which ends every command's output.
    void Separator();
    // A line of literal text.
    void Line(const char* text);
    // A refusal: the message (literal or from the catalogue), the
    // separator; always false.
    bool Refuse(const char* message);
    bool Refuse(CatalogueId message);
    // A unit-ready check that failed: fetches its sense data and explains
    // it, then the separator; always false.
    bool ExplainNotReady(CTapeDrive* drive);

    // The refusal of an Ultrium-only command on another drive; false.
    bool OnlyForUltrium();

    // Runs `attempt`, one command to the drive, as the policy allows, but
    // not again once the drive refused it as invalid.
    template <typename Attempt>
    bool RetryCommand(CTapeDrive* drive, const CRetryPolicy& policy, Attempt attempt)
    {
        return Retry(policy, attempt, [this, drive] { return m_driverInterface->LastCommandWorthRepeating(drive); });
    }

    // Firmware upgrade steps (DriveManagerFirmware.cpp). LoadFirmwareImage
    // reads the -f: file whole, or refuses it (false after the message).
    // ConfirmNewFirmware waits for the restarting drive until `deadline`.
    bool LoadFirmwareImage(const CVString& name, int driveType, CFirmwareFileImage& image);
    void ReportFailedDownload(CTapeDrive* drive, long deadline);
    bool ConfirmNewFirmware(CTapeDrive* drive, const CVString& name, const CVString& identity, long deadline);
    // A refusal over the file at `path`: the message, the reason for the
    // local user on standard error, the separator; always false.
    bool RefuseFile(const CVString& message, const CVString& name, const std::string& reason);

    // Health steps (DriveManagerHealth.cpp).
    CLogPageReading ReadLogPage(CTapeDrive* drive, unsigned page);
    // A page LOG SENSE could not read, with the sense that says why.
    CLogPageReading FailedReading(CTapeDrive* drive, unsigned page);
    // The sense data of the last failed command, in words.
    CSenseReport LastSense(CTapeDrive* drive);
    void ReadHealthPages(CTapeDrive* drive, CDriveHealth& health);
    void ReportHealth(const CDriveHealth& health);

    // Capture steps (DriveManagerCapture.cpp).
    bool CaptureBuffer(const CBufferCapture& capture);
    // READ BUFFER of the selected drive with `cdb` into the zeroed buffer,
    // tried again while the drive refuses, up to ten times in all.
    bool ReadDriveBuffer(unsigned char* cdb, unsigned char* buffer, int length);
    // The trace size query, retried as TotalTraceBufferReads does: the
    // total length in bytes, or false when the drive never answered.
    bool ReadTraceLength(long& total);

    // Settings steps (DriveManagerSettings.cpp): the 255-byte mode data of
    // `page`, false unless it holds byte `byte`; and the read-modify-write
    // of one field of it.
    bool ReadSettingPage(int page, int byte, unsigned char* data, const CRetryPolicy& policy);
    bool WriteSetting(int page, int byte, unsigned char mask, unsigned char value);

    CCommandContext* m_application;
    CDriverInterface* m_driverInterface;
    CTapeDriveList m_driveList;
    bool m_clientServer;
};

// Holds a shared drive for this host while a command that destroys data or
// replaces firmware runs, and lets other hosts back however the command
// ends.
class CDriveReservation {
public:
    CDriveReservation(CDriveManager& manager, CTapeDrive* drive)
        : m_manager(manager), m_drive(drive), m_held(manager.ReserveDrive(drive))
    {}
    ~CDriveReservation() { m_manager.GetDriverInterface()->ReleaseDrive(m_drive); }
    CDriveReservation(const CDriveReservation&) = delete;
    CDriveReservation& operator=(const CDriveReservation&) = delete;

    // False when the drive refused; the refusal has been reported.
    bool Held() const { return m_held; }

private:
    CDriveManager& m_manager;
    CTapeDrive* m_drive;
    bool m_held;
};

#endif
