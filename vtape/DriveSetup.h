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

// Every command with `opcode` takes `seconds` of the drive's time before it
// is answered.
struct CSlowRule {
    unsigned char opcode;
    uint32_t seconds;
};

struct CDriveFaults {
    bool noCartridge = false;
    uint32_t becomingReady = 0;          // TEST UNIT READY answers "becoming ready" this often
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
    uint32_t fixedBlockSize = 0;         // 0: variable block mode
    bool compressionOff = false;
    bool compressionLocked = false;
    std::bitset<256> unsupported;
    std::vector<CFailRule> failRules;
    std::vector<CSlowRule> slowRules;    // at most one per operation code
    bool noVpd = false;
    uint32_t vpdFailures = 0;
    bool selftestFail = false;
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
