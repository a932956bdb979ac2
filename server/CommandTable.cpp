#include "CommandTable.h"

#include <cstring>

#include "DriveManager.h"

namespace {

const CCommandRow commandRows[] = {
    {"rwtest", CMD_RWTEST, false, [](CDriveManager& m, const CCommandSettings&) { return m.ReadWriteTest(); }},
    {"ctest", CMD_CTEST, false, [](CDriveManager& m, const CCommandSettings&) { return m.TestCompression(); }},
    {"upgrade", CMD_UPGRADE, false, [](CDriveManager& m, const CCommandSettings&) { return m.FirmwareUpgrade(); }},
    {"trace", CMD_TRACE, false, nullptr},
    {"logpages", CMD_LOGPAGES, false, nullptr},
    {"retension", CMD_RETENSION, false, [](CDriveManager& m, const CCommandSettings&) { return m.RetensionTape(); }},
    {"etest", CMD_ETEST, false, [](CDriveManager& m, const CCommandSettings&) { return m.DriveDiagnostic(); }},
    {"park", CMD_PARK, false, nullptr},
    {"unpark", CMD_UNPARK, false, nullptr},
    {"set", CMD_SET, true, nullptr},
    {"get", CMD_GET, true, nullptr},
    {"eeprom", CMD_EEPROM, false, nullptr},
    {"cmemory", CMD_CMEMORY, false, nullptr},
    {"enablecomp", CMD_ENABLECOMP, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.AppLevelEnableCompression(true); }},
    {"disablecomp", CMD_DISABLECOMP, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.AppLevelEnableCompression(false); }},
    {"compstatus", CMD_COMPSTATUS, false,
     [](CDriveManager& m, const CCommandSettings&) { return m.AppLevelIsCompressionEnabled(); }},
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
