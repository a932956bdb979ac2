// The diagnostic's commands: one row each, holding the command word, what
// the command does (for the complete help), the command id the controller
// reports, whether the word needs a switch after it, and the drive manager
// operation that runs it. The parser matches the words in the order of the
// rows; the controller dispatches by id.
#ifndef TAPEDIAG_COMMANDTABLE_H
#define TAPEDIAG_COMMANDTABLE_H

#include <cstddef>

#include "CommandSettings.h"

class CDriveManager;

// Command ids, as the controller reports them to the remote service.
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
    CMD_RETENSION = 17,
    CMD_HEALTH = 18
};

struct CCommandRow {
    const char* word;
    const char* description;  // one line of the complete help
    int id;
    bool needsSwitch;  // the word alone is no command
    // Runs the command on the selected drive; null for a command the
    // controller runs itself (show).
    bool (*run)(CDriveManager& manager, const CCommandSettings& settings);
};

// The rows, in the order their words are matched.
const CCommandRow* CommandRows(size_t& count);

// The row whose word equals `word` exactly (case-sensitive), skipping rows
// that need a switch when the line has none; null when no row fits.
const CCommandRow* FindCommandByWord(const char* word, bool hasSwitches);
const CCommandRow* FindCommandById(int id);

#endif
