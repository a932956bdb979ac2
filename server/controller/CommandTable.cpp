#include "CommandTable.h"

#include <cstring>

#include "DriveManager.h"

namespace {

const CCommandRow commandRows[] = {
    {"rwtest", CMD_RWTEST, false, [](CDriveManager& m, const CCommandSettings&) { return m.ReadWriteTest(); }},
    {"ctest", CMD_CTEST, false, [](CDriveManager& m, const CCommandSettings&) { return m.TestCompression(); }},
    {"upgrade", CMD_UPGRADE, false, [](CDriveManager& m, const CCommandSettings&) { return m.FirmwareUpgrade(); }},
    {"trace", CMD_TRACE, false, [](CDriveManager& m, const CCommandSettings&) { return m.CaptureTrace(); }},
    {"logpages", CMD_LOGPAGES, false, [](CDriveManager& m, const CCommandSettings&) { return m.PrintAllLogPages(); }},
    {"retension", CMD_RETENSION, false, [](CDriveManager& m, const CCommandSettings&) { return m.RetensionTape(); }},
    {"etest", CMD_ETEST, false, [](CDriveManager& m, const CCommandSettings&) { return m.DriveDiagnostic(); }},
    {"park", CMD_PARK, false, [](CDriveManager& m, const CCommandSettings&) { return m.Park(true); }},
    {"unpark", CMD_UNPARK, false, [](CDriveManager& m, const CCommandSettings&) { return m.Park(false); }},
    {"set", CMD_SET, true,
     [](CDriveManager& m, const CCommandSettings& s) {
         return m.SetValue(s.speedValue, s.compressionValue, s.loadValue);
     }},
    {"get", CMD_GET, true,
     [](CDriveManager& m, const CCommandSettings& s) { return m.GetValue(s.getSpeed, s.getCompression, s.getLoad); }},
    {"eeprom", CMD_EEPROM, false, [](CDriveManager& m, const CCommandSettings&) { return m.GetEEPROM(); }},
    {"cmemory", CMD_CMEMORY, false, [](CDriveManager& m, const CCommandSettings&) { return m.GetCm(); }},
    {"enablecomp", CMD_ENABLECOMP, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.AppLevelEnableCompression(true); }},
    {"disablecomp", CMD_DISABLECOMP, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.AppLevelEnableCompression(false); }},
    {"compstatus", CMD_COMPSTATUS, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.AppLevelIsCompressionEnabled(); }},
    {"health", CMD_HEALTH, false, [](CDriveManager& m, const CCommandSettings&) { return m.HealthCheck(); }},
    {"show", CMD_SHOW, false, nullptr},
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
