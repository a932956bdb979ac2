// The virtual drive's state and command handlers. Execute() looks the
// operation code up in a 256-entry table. SPC handlers live in
// SpcCommands.cpp (with the VPD pages), ModePages.cpp and LogPages.cpp; SSC
// handlers in SscCommands.cpp; the firmware download (WRITE BUFFER) in
// Firmware.cpp. Every page is built by its code from a table
// in its file; which pages a drive has is the model's data (Models.cpp).
#ifndef VTAPE_VIRTUALDRIVEIMPL_H
#define VTAPE_VIRTUALDRIVEIMPL_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "CodeFailures.h"
#include "DriveIdentity.h"
#include "DriveSetup.h"
#include "Medium.h"
#include "ScsiData.h"
#include "Sense.h"
#include "VirtualDrive.h"

// Room a mode page builder may fill: a page is at most 2 + 255 bytes.
const size_t MAX_MODE_PAGE_LENGTH = 2 + 255;
const size_t DEVICE_CONFIGURATION_PAGE_LENGTH = 16;

// Parameters 0000h-0006h of the error counter log pages.
const int ERROR_COUNTERS = 7;
const int COUNTER_CORRECTED = 0;  // corrected without substantial delay
const int COUNTER_DELAYED = 1;    // corrected with possible delay
const int COUNTER_TOTAL_CORRECTED = 3;
const int COUNTER_BYTES_PROCESSED = 5;
const int COUNTER_UNCORRECTED = 6;

// What MODE SELECT can change. MODE SELECT works on a copy and keeps it only
// when the whole list was accepted.
struct CModeParameters {
    uint32_t blockSize;  // 0: variable block mode
    bool compressionEnabled;
    bool decompressionEnabled;
    unsigned char configurationPage[DEVICE_CONFIGURATION_PAGE_LENGTH];
    unsigned char speedCode;           // mode header byte 2, bits 0-3
    unsigned char autoloadMode;        // page 0Ah byte 5, bits 0-2
    unsigned char compressionControl;  // page 21h byte 7
};

// One error counter log page: parameters 0000h-0006h and the vendor
// parameter 8008h (on the models that have it).
struct CErrorCounters {
    uint64_t values[ERROR_COUNTERS] = {};
    uint64_t vendor = 0;
    bool chargePending = true;  // the injected counts are added at the next I/O
};

// One command as the handlers see it. Only the buffer matching the data
// direction is set; the other is null with length 0.
struct CCommand {
    const unsigned char* cdb;
    unsigned char* dataIn;
    size_t dataInLength;
    const unsigned char* dataOut;
    size_t dataOutLength;
};

class CVirtualDriveImpl {
public:
    explicit CVirtualDriveImpl(const CDriveSetup& setup);
    CVirtualDriveImpl(const CVirtualDriveImpl&) = delete;
    CVirtualDriveImpl& operator=(const CVirtualDriveImpl&) = delete;

    CVirtualReply Execute(const unsigned char* cdb, int cdbLength, VDataDirection direction, unsigned char* data,
                          int dataLength);
    long StoredBlockContents() const { return m_medium.StoredContents(); }

    // What INQUIRY and the VPD pages report; a firmware download changes it.
    CDriveIdentity& Identity() { return m_identity; }

private:
    typedef void (CVirtualDriveImpl::*CHandler)(const CCommand&, CVirtualReply&);

    // A mode page the drive can build. `build` lays the page out for page
    // control 0 (current), 1 (changeable) or 2 (default) in `out` (room for
    // MAX_MODE_PAGE_LENGTH bytes) and returns its length. `select` takes the
    // page from a MODE SELECT list (at byte `offset`) into `next`, or fails
    // the reply and returns false; a page without it is accepted as it is
    // and changes nothing.
    struct CModePage {
        unsigned char code;
        size_t (CVirtualDriveImpl::*build)(int pageControl, unsigned char* out) const;
        bool (CVirtualDriveImpl::*select)(const unsigned char* page, size_t offset, CModeParameters& next,
                                          CVirtualReply& reply) const;
    };
    // A log page the drive can build: `build` appends the parameters from
    // `parameterPointer` on to `page` (its 4-byte header is already there)
    // and returns false when no parameter is left to report.
    struct CLogPage {
        unsigned char code;
        bool (CVirtualDriveImpl::*build)(uint32_t parameterPointer, std::vector<unsigned char>& page) const;
    };
    // A VPD page the drive can build in `out` (room for 256 bytes); returns
    // its length, or 0 after failing the reply.
    struct CVpdPage {
        unsigned char code;
        size_t (CVirtualDriveImpl::*build)(unsigned char* out, CVirtualReply& reply);
    };

    // Dispatch (VirtualDriveImpl.cpp).
    bool InjectedFailure(unsigned char opcode);
    // Answers a command that a `status=` fault turns away; false for any other.
    bool InjectedStatus(unsigned char opcode, CVirtualReply& reply) const;
    // Reports a reset the drive went through since its last command, once,
    // to any command but those that never report one.
    bool ReportsReset(unsigned char opcode, CVirtualReply& reply);
    // The reset of the `reset=` fault, once its command has been answered.
    void ResetAfter(unsigned char opcode);
    // The drive runs `firmware` (a firmware fault): INQUIRY reports its
    // first four characters, page C0h its whole text.
    void RunFirmware(const std::string& firmware);
    void RegisterSpcHandlers();
    void RegisterSscHandlers();
    // READ BUFFER, and the model's vendor operation codes (VendorCommands.cpp).
    void RegisterBufferHandlers();
    void RegisterVendorHandlers();
    // The command being answered takes `seconds` more of the drive's time
    // (a slow fault, a long save). Execute pauses for the sum through the
    // clock seam before it answers, so a fake clock makes it instant.
    void TakeSeconds(long seconds) { m_commandSeconds += seconds; }

    // Helpers shared by the handlers.
    static void Fail(CVirtualReply& reply, const CSenseData& sense) { SetCheckCondition(reply, sense); }
    static void Fail(CVirtualReply& reply, unsigned char key, CAdditionalSense additional)
    {
        SetCheckCondition(reply, MakeSense(key, additional));
    }
    static void Fail(CVirtualReply& reply, unsigned char key, unsigned char asc, unsigned char ascq)
    {
        SetCheckCondition(reply, MakeSense(key, asc, ascq));
    }
    // The mode pages the drive has: the model's, and 1Dh in an autoloader.
    bool HasModePage(unsigned char code) const { return m_modePages.Has(code); }
    // Copies min(available, allocation, buffer) bytes to the caller.
    static void SendData(const CCommand& command, CVirtualReply& reply, const unsigned char* source, size_t available,
                         size_t allocation);
    // Fails the command unless a cartridge is loaded and ready.
    bool MediumReady(CVirtualReply& reply);
    bool IsTapeDrive() const { return m_model.deviceType == DEVICE_TYPE_TAPE; }

    // SPC handlers (SpcCommands.cpp).
    void IllegalOpcode(const CCommand& command, CVirtualReply& reply);
    void TestUnitReady(const CCommand& command, CVirtualReply& reply);
    void RequestSense(const CCommand& command, CVirtualReply& reply);
    void Inquiry(const CCommand& command, CVirtualReply& reply);
    void SendDiagnostic(const CCommand& command, CVirtualReply& reply);

    size_t BuildStandardInquiry(unsigned char* out) const;
    bool BuildVpdPage(unsigned char code, unsigned char* out, size_t& length, CVirtualReply& reply);
    static const CVpdPage* FindVpdPage(unsigned char code);
    size_t BuildSupportedVpdPages(unsigned char* out, CVirtualReply& reply);
    size_t BuildSerialNumberPage(unsigned char* out, CVirtualReply& reply);
    size_t BuildFirmwarePageC0(unsigned char* out, CVirtualReply& reply);
    size_t BuildFirmwarePageC1(unsigned char* out, CVirtualReply& reply);
    size_t BuildFirmwarePage(unsigned char code, unsigned char* out, CVirtualReply& reply);

    // Mode pages (ModePages.cpp).
    void ModeSense6(const CCommand& command, CVirtualReply& reply);
    void ModeSelect6(const CCommand& command, CVirtualReply& reply);
    static const CModePage* FindModePage(unsigned char code);
    // The model's page `code`, or null when the drive does not have it.
    const CModePage* ModelModePage(unsigned char code) const;
    void InitialModeParameters();
    size_t BuildCompressionPage(int pageControl, unsigned char* out) const;
    size_t BuildConfigurationPage(int pageControl, unsigned char* out) const;
    size_t BuildElementAddressPage(int pageControl, unsigned char* out) const;
    size_t BuildCapabilitiesPage(int pageControl, unsigned char* out) const;
    bool SelectCompressionPage(const unsigned char* page, size_t offset, CModeParameters& next,
                               CVirtualReply& reply) const;
    bool SelectConfigurationPage(const unsigned char* page, size_t offset, CModeParameters& next,
                                 CVirtualReply& reply) const;
    size_t BuildControlPage(int pageControl, unsigned char* out) const;
    size_t BuildVendorSettingsPage(int pageControl, unsigned char* out) const;
    bool SelectControlPage(const unsigned char* page, size_t offset, CModeParameters& next, CVirtualReply& reply) const;
    bool SelectVendorSettingsPage(const unsigned char* page, size_t offset, CModeParameters& next,
                                  CVirtualReply& reply) const;
    // Fails the reply unless `page` differs from the current page only in
    // the bits its changeable values allow.
    bool ChangesOnlyChangeable(size_t (CVirtualDriveImpl::*build)(int, unsigned char*) const, const unsigned char* page,
                               size_t offset, CVirtualReply& reply) const;
    // Takes the speed code of a MODE SELECT header, or fails the reply.
    bool SelectSpeed(unsigned char deviceSpecific, CModeParameters& next, CVirtualReply& reply) const;

    // Log pages (LogPages.cpp).
    void LogSelect(const CCommand& command, CVirtualReply& reply);
    void LogSense(const CCommand& command, CVirtualReply& reply);
    static const CLogPage* FindLogPage(unsigned char code);
    bool BuildSupportedLogPages(uint32_t parameterPointer, std::vector<unsigned char>& page) const;
    bool BuildWriteErrorPage(uint32_t parameterPointer, std::vector<unsigned char>& page) const;
    bool BuildReadErrorPage(uint32_t parameterPointer, std::vector<unsigned char>& page) const;
    bool BuildCounterPage(const CErrorCounters& counters, uint32_t parameterPointer,
                          std::vector<unsigned char>& page) const;
    bool BuildSequentialAccessPage(uint32_t parameterPointer, std::vector<unsigned char>& page) const;
    bool BuildTemperaturePage(uint32_t parameterPointer, std::vector<unsigned char>& page) const;
    bool BuildTapeAlertPage(uint32_t parameterPointer, std::vector<unsigned char>& page) const;
    bool BuildTapeCapacityPage(uint32_t parameterPointer, std::vector<unsigned char>& page) const;
    bool BuildSelfTestPage(uint32_t parameterPointer, std::vector<unsigned char>& page) const;
    // The log pages the drive has: its model's, less those a fault takes
    // away, with the self-test results page when it keeps one.
    void InitialLogPages();
    // Keeps the result of a self-test, when the drive keeps them.
    void RecordSelfTest(bool passed);
    void ResetCounters();
    void ChargeWriteCounters();
    void ChargeReadCounters();

    // Firmware download (Firmware.cpp).
    void RegisterFirmwareHandlers();
    void WriteBuffer(const CCommand& command, CVirtualReply& reply);
    // Puts the data of a download command into the microcode buffer.
    bool StoreMicrocode(const CCommand& command, size_t length, CVirtualReply& reply);
    void SaveMicrocode(CVirtualReply& reply);
    // The drive is starting new firmware: every command is refused, first
    // with the reset for as long as the drive reports it, then as becoming
    // ready, and INQUIRY counts towards the end of the restart.
    bool Restarting(unsigned char opcode, CVirtualReply& reply);

    // SSC handlers (SscCommands.cpp).
    void Rewind(const CCommand& command, CVirtualReply& reply);
    void Read6(const CCommand& command, CVirtualReply& reply);
    void Write6(const CCommand& command, CVirtualReply& reply);
    void WriteFilemarks6(const CCommand& command, CVirtualReply& reply);
    void Space6(const CCommand& command, CVirtualReply& reply);
    void LoadUnload(const CCommand& command, CVirtualReply& reply);
    void ReadPosition(const CCommand& command, CVirtualReply& reply);
    void ReadBlockLimits(const CCommand& command, CVirtualReply& reply);

    enum EReadOutcome { READ_RECORD, READ_FILEMARK, READ_END_OF_DATA, READ_MEDIUM_ERROR };
    // Reads the object at the position and moves past it (not past end of
    // data). A record is copied to `out` (at most `room` bytes, bad-data
    // applied) and its full length returned in `recordLength`.
    EReadOutcome ReadObject(unsigned char* out, size_t room, uint32_t& recordLength);
    // Answers a read that met no record (with the residue); false for a record.
    bool ReadFailed(EReadOutcome outcome, int64_t residue, CVirtualReply& reply);
    // Fails the command when the cartridge cannot be written.
    bool CartridgeWritable(CVirtualReply& reply);
    void SpaceBlocks(int32_t count, CVirtualReply& reply);
    void SpaceFilemarks(int32_t count, CVirtualReply& reply);
    static bool Listed(const std::vector<uint32_t>& records, uint64_t record);

    // READ BUFFER (ReadBuffer.cpp).
    void ReadBuffer(const CCommand& command, CVirtualReply& reply);
    const CDriveBuffer* ModelBuffer(unsigned char id) const;
    uint32_t BufferLength(const CDriveBuffer& buffer) const;

    // Vendor commands and the arm (VendorCommands.cpp).
    void ParkArm(const CCommand& command, CVirtualReply& reply);
    // Whether a cartridge is in the drive, loaded or not fully removed.
    bool CartridgeInDrive() const;
    // What the drive answers while a cartridge it has unloaded is still in it.
    CSenseData MediaPresentSense() const;

    const CDriveModel& m_model;
    const CDriveFaults m_faults;
    CHandler m_handlers[256];
    std::array<uint64_t, 256> m_commandCounts{};  // per operation code, for fail=
    uint64_t m_resetCommands = 0;                 // commands of the reset= operation code so far
    bool m_resetPending;                          // a reset not reported yet
    std::bitset<256> m_failOpcodes;
    long m_commandSeconds = 0;  // time the command being answered takes

    CDriveIdentity m_identity;
    CCodeSet m_modePages;
    CTapeMedium m_medium;
    bool m_loaded;
    uint32_t m_notReadyAnswersLeft;
    uint32_t m_vpdFailuresLeft;

    unsigned char m_pendingSense[FIXED_SENSE_LENGTH] = {};
    bool m_hasPendingSense = false;

    CModeParameters m_mode;
    CModeParameters m_defaultMode;

    CErrorCounters m_writeCounters;
    CErrorCounters m_readCounters;
    CCodeSet m_logPages;
    uint64_t m_tapeAlerts = 0;  // raised flags, bit N-1 for flag N; cleared once read
    // Results of self-tests, most recent first: the 16 bytes of each entry
    // of page 10h from its self-test code and result on.
    std::vector<std::array<unsigned char, SELF_TEST_RESULT_LENGTH>> m_selfTests;

    bool m_armParked = false;  // loads are refused until it is unparked
    CCodeFailures m_logFailures;
    CCodeFailures m_bufferFailures;
    CCodeFailures m_modeSenseFailures;
    CCodeFailures m_modeSelectFailures;

    std::vector<unsigned char> m_microcode;  // downloaded, not saved yet
    uint32_t m_downloadBlocks = 0;           // download commands so far, for download-fail=
    uint32_t m_restartInquiriesLeft = 0;
    uint32_t m_resetAttentionsLeft = 0;
};

#endif
