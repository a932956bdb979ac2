#include "CommandTable.h"

#include <cstring>

#include "DriveManager.h"

namespace {

const CCommandRow commandRows[] = {
    {"rwtest", "read/write test; destroys the cartridge's data", CMD_RWTEST, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.ReadWriteTest(); }},
    {"ctest", "compression test; destroys the cartridge's data", CMD_CTEST, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.TestCompression(); }},
    {"upgrade", "install the -f: firmware image (ejects the cartridge)", CMD_UPGRADE, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.FirmwareUpgrade(); }},
    {"trace", "save the drive's trace buffer into the -f: file", CMD_TRACE, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.CaptureTrace(); }},
    {"logpages", "print every log page of the drive in hexadecimal", CMD_LOGPAGES, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.PrintAllLogPages(); }},
    {"retension", "wind the tape to its end and back", CMD_RETENSION, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.RetensionTape(); }},
    {"etest", "run the drive's own self-test", CMD_ETEST, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.DriveDiagnostic(); }},
    {"park", "park the drive arm (Ultrium; no cartridge in the drive)", CMD_PARK, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.Park(true); }},
    {"unpark", "unpark the drive arm (Ultrium)", CMD_UNPARK, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.Park(false); }},
    {"set", "change Ultrium drive settings: the set: switches", CMD_SET, true,
     [](CDriveManager& m, const CCommandSettings& s) {
         return m.SetValue(s.speedValue, s.compressionValue, s.loadValue);
     }},
    {"get", "show Ultrium drive settings: the get: switches", CMD_GET, true,
     [](CDriveManager& m, const CCommandSettings& s) { return m.GetValue(s.getSpeed, s.getCompression, s.getLoad); }},
    {"eeprom", "save the drive's EEPROM into the -f: file (Ultrium)", CMD_EEPROM, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.GetEEPROM(); }},
    {"cmemory", "save the cartridge memory into the -f: file (Ultrium)", CMD_CMEMORY, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.GetCm(); }},
    {"enablecomp", "turn the drive's hardware compression on", CMD_ENABLECOMP, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.AppLevelEnableCompression(true); }},
    {"disablecomp", "turn the drive's hardware compression off", CMD_DISABLECOMP, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.AppLevelEnableCompression(false); }},
    {"compstatus", "show whether the drive's hardware compression is on", CMD_COMPSTATUS, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.AppLevelIsCompressionEnabled(); }},
    {"health", "judge each drive and cartridge without writing to tape", CMD_HEALTH, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.HealthCheck(); }},
    {"show", "list the drives (needs no drive selection)", CMD_SHOW, false, nullptr},
};

}  // namespace

const CCommandRow* CommandRows(size_t& count)
{
    count = sizeof commandRows / sizeof commandRows[0];
    return commandRows;
}

const CCommandRow* FindCommandByWord(const char* word, bool hasSwitches)
{
    for (const CCommandRow& row : commandRows) {
        if (row.needsSwitch && !hasSwitches)
            continue;
        if (std::strcmp(word, row.word) == 0)
            return &row;
    }
    return nullptr;
}

const CCommandRow* FindCommandById(int id)
{
    for (const CCommandRow& row : commandRows) {
        if (row.id == id)
            return &row;
    }
    return nullptr;
}
