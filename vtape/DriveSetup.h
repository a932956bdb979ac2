// "MODEL[,FAULT...]": which model the virtual drive is and which faults it
// carries. Every fault the drive knows is in one table in DriveSetup.cpp.
#ifndef VTAPE_DRIVESETUP_H
#define VTAPE_DRIVESETUP_H

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "Models.h"

// Commands with `opcode` number `first` to `last` (1-based, counted per
// operation code) fail with HARDWARE ERROR.
struct CFailRule {
    unsigned char opcode;
    uint64_t first;
    uint64_t last;
};

// The drive resets once it has answered command number `count` (from 1) with
// `opcode`; count 0: at power-on.
struct CResetRule {
    unsigned char opcode;
    uint64_t count;
};

// Every command with `opcode` takes `seconds` of the drive's time before it
// is answered.
struct CSlowRule {
    unsigned char opcode;
    uint32_t seconds;
};

// Every command with `opcode` is turned away with `status` (BUSY,
// RESERVATION CONFLICT or TASK SET FULL) and no sense data.
struct CStatusRule {
    unsigned char opcode;
    unsigned char status;
};

// Commands about one page or buffer (`code`) that answer 04/44/00: every
// one, or only the first `times` of them.
struct CCodeFailRule {
    unsigned char code;
    uint32_t times;  // 0: every one
};

// A counter of an error counter log page (02h or 03h) that holds `value`
// at power-on, as a drive that has been in service does.
struct CCounterPreset {
    unsigned char page;
    uint32_t parameter;
    uint64_t value;
};

// A sense answer written KK/AA/QQ in the device text.
struct CSenseTriple {
    unsigned char key;
    unsigned char asc;
    unsigned char ascq;
};

// What saving downloaded microcode does (WRITE BUFFER mode 05h).
enum ESaveOutcome {
    SAVE_INSTALLS,  // the drive runs the new firmware
    SAVE_FAILS,     // refused with HARDWARE ERROR, nothing installed
    SAVE_RESETS     // installs, but the drive resets under the command
};

struct CDriveFaults {
    bool noCartridge = false;
    uint32_t becomingReady = 0;  // TEST UNIT READY answers "becoming ready" this often
    bool writeProtected = false;
    bool wrongCartridge = false;
    uint64_t capacityMegabytes = 100000;
    std::vector<uint32_t> writeErrorRecords;
    std::vector<uint32_t> readErrorRecords;
    std::vector<uint32_t> badDataRecords;
    uint32_t readCorrected = 0;
    uint32_t readDelayed = 0;
    uint32_t readUncorrected = 0;
    uint32_t writeUncorrected = 0;
    uint32_t datErrors = 0;
    uint32_t fixedBlockSize = 0;  // 0: variable block mode
    bool compressionOff = false;
    bool compressionLocked = false;
    bool saveablePages = false;  // MODE SENSE reports PS on every page
    std::bitset<256> unsupported;
    std::vector<CFailRule> failRules;
    std::vector<CSlowRule> slowRules;      // at most one per operation code
    std::vector<CStatusRule> statusRules;  // at most one per operation code
    bool resets = false;
    CResetRule reset = {};  // when `resets`
    bool noVpd = false;
    uint32_t vpdFailures = 0;
    bool selftestFail = false;

    // Log pages, READ BUFFER, the arm and the drive settings.
    std::vector<CCodeFailRule> logFailures;     // LOG SENSE of the page
    std::vector<CCodeFailRule> logShortPages;   // `times`: bytes LOG SENSE transfers at most
    std::vector<CCodeFailRule> bufferFailures;  // READ BUFFER of the buffer
    std::vector<uint32_t> traceBlockFailures;   // READ BUFFER of the trace at block N (16384 bytes each)
    bool hasTraceLength = false;
    uint32_t traceLength = 0;  // replaces the model's trace length
    std::string firmware;      // the firmware the drive runs, when not the model's
    bool hasMediaPresent = false;
    CSenseTriple mediaPresent = {};                 // an unloaded cartridge still in the drive
    std::vector<CCodeFailRule> modeSenseFailures;   // MODE SENSE of the page
    std::vector<CCodeFailRule> modeSelectFailures;  // MODE SELECT holding the page
    unsigned char speedCode = 0;                    // at power-on

    // What the drive reports about its own health.
    uint64_t tapeAlerts = 0;  // TapeAlert flag N is bit N-1, raised at power-on
    bool cleaningRequired = false;
    bool hasTemperature = false;
    unsigned char temperature = 0;  // degrees Celsius, page 0Dh
    std::vector<CCounterPreset> counterPresets;
    CCodeSet missingLogPages;  // pages of the model this drive lacks
    bool selftestLog = false;  // keeps the self-test results page (10h)

    // Retension and the firmware download.
    bool retensionFail = false;
    uint32_t downloadFailBlock = 0;   // 0: none; else this download block (from 1) fails
    uint32_t downloadShortBlock = 0;  // 0: none; else this download block takes half its data
    ESaveOutcome save = SAVE_INSTALLS;
    uint32_t saveSeconds = 0;         // time the failing save takes
    const char* saveFault = nullptr;  // the one fault that set `save` or restartInquiries
    uint32_t restartInquiries = 0;    // INQUIRY refused while new firmware starts up
    uint32_t resetAttentions = 0;     // commands answered with a reset once new firmware starts
    bool keepsOldLevel = false;
    bool autoloader = false;
    bool oem = false;
};

struct CDriveSetup {
    const CDriveModel* model = nullptr;
    CDriveFaults faults;
};

// Parses `text`; on failure returns false with a one-line reason in `error`.
bool ParseDriveSetup(const std::string& text, CDriveSetup& setup, std::string& error);

// Every model and fault, one per line.
std::string DriveCatalogue();

#endif
