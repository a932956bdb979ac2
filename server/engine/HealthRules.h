// The health verdicts: what the drive's own pages say of the drive and of
// its cartridge, judged without touching the cartridge's data. The rules are
// pure: the health check reads the pages (DriveManagerHealth.cpp), these
// functions judge them.
//
// The drive: FAILED on a critical TapeAlert flag about the drive, a failed
// last self-test or a hardware error in the unit-ready check; else NEEDS
// CLEANING when the drive asks for cleaning (TapeAlert flags 20 and 21, or
// page 0Ch); else ATTENTION on a warning flag about the drive, uncorrected
// errors counted in page 02h or 03h, a temperature above the drive's
// reference, a drive that is not ready, or a page it lists that cannot be
// read; else OK. The cartridge: REPLACE on a warning or critical flag about
// the cartridge (such a flag may be about the cartridge last loaded); else
// NONE without a cartridge; else OK. Flags of information, and flags about
// the operation the host last tried, are reported but judge nobody.
#ifndef TAPEDIAG_HEALTHRULES_H
#define TAPEDIAG_HEALTHRULES_H

#include <cstdint>
#include <string>
#include <vector>

#include "LogPageDecoder.h"
#include "SenseText.h"
#include "TapeDrive.h"

// In rising order of gravity.
enum EDriveVerdict { DRIVE_OK, DRIVE_ATTENTION, DRIVE_NEEDS_CLEANING, DRIVE_FAILED };
enum ECartridgeVerdict { CARTRIDGE_OK, CARTRIDGE_NONE, CARTRIDGE_REPLACE };

const char* DriveVerdictName(EDriveVerdict verdict);
const char* CartridgeVerdictName(ECartridgeVerdict verdict);

// Every verdict, for those who list them all (the metrics do).
const EDriveVerdict DRIVE_VERDICTS[] = {DRIVE_OK, DRIVE_NEEDS_CLEANING, DRIVE_ATTENTION, DRIVE_FAILED};
const ECartridgeVerdict CARTRIDGE_VERDICTS[] = {CARTRIDGE_OK, CARTRIDGE_REPLACE, CARTRIDGE_NONE};

// The pages the health check reads where the drive lists them, in the order
// it reads them: the error counters, the sequential-access device page,
// temperature, self-test results, TapeAlert.
const unsigned HEALTH_PAGES[] = {0x02, 0x03, 0x0C, 0x0D, 0x10, 0x2E};

// What the health check found on one drive, and the verdicts.
struct CDriveHealth {
    const CTapeDrive* drive = nullptr;
    std::string device;  // how the drive was named (-dev: text or node)
    bool unitReady = true;
    CSenseReport notReady;  // when the unit-ready check failed
    // Page 00h first; then, once it was read, each page of HEALTH_PAGES.
    std::vector<CLogPageReading> pages;

    EDriveVerdict driveVerdict = DRIVE_OK;
    std::vector<std::string> driveReasons;
    ECartridgeVerdict cartridgeVerdict = CARTRIDGE_OK;
    std::vector<std::string> cartridgeReasons;

    // The page as the check left it; null when it was not read.
    const CLogPageReading* Page(unsigned code) const;
    // The TapeAlert flags raised, in flag order.
    std::vector<unsigned> RaisedTapeAlerts() const;
    // Whether the unit-ready check says there is no cartridge.
    bool NoCartridge() const;
    // The drive is OK and its cartridge needs no replacing.
    bool Healthy() const { return driveVerdict == DRIVE_OK && cartridgeVerdict != CARTRIDGE_REPLACE; }
};

// Sets the verdicts and their reasons from what was found.
void JudgeHealth(CDriveHealth& health);

// A temperature of page 0Dh (TEMPERATURE_CURRENT or TEMPERATURE_REFERENCE)
// in degrees Celsius; false when the page lacks it or the drive cannot tell.
bool TemperatureDegrees(const CLogPageReading& page, uint32_t code, unsigned& degrees);

// The TapeAlert flags a page 2Eh raises, in flag order.
std::vector<unsigned> RaisedTapeAlerts(const CLogPageReading& page);

// The last self-test result of page 10h: its result code (0 passed, 1 and
// 2 aborted, 3 to 7 failed, 15 running) and, for a failure, its sense.
struct CSelfTestResult {
    unsigned result = 0;
    CSenseReport sense;
};
// False when the page holds no result.
bool LastSelfTest(const CLogPageReading& page, CSelfTestResult& last);

#endif
