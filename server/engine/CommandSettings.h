// The settings of one command, as the parser fills them from the command
// line. Every field starts at its default; the controller resets them all
// before each command by assigning a fresh value.
#ifndef TAPEDIAG_COMMANDSETTINGS_H
#define TAPEDIAG_COMMANDSETTINGS_H

#include <vector>

#include "VString.h"

struct CCommandSettings {
    int commandId = 0;  // 0: none; the ids of the command table
    // Address numbers from -id:; -1 means not given.
    int port = -1;
    int bus = -1;
    int target = -1;
    int lun = -1;
    CVString serialNumber;       // -sn:
    CVString binaryFileName;     // -f:
    bool noClosePrompt = false;  // -nr
    bool ignore = false;         // -i
    bool verbose = true;         // cleared by -nov:
    bool firstDrive = false;     // -id:x
    int driveIndex = -1;         // -getByIndex:; -1 means not given
    CVString outputFileName;     // -o:, -nov:
    int testSize = 0;            // -ts:, megabytes; 0 means not given
    bool retension = false;      // -fr
    // get: which settings to report.
    bool getSpeed = false;
    bool getCompression = false;
    bool getLoad = false;
    // set: the new values; -1 means unchanged.
    int speedValue = -1;
    int compressionValue = -1;
    int loadValue = -1;
    bool engineering = false;       // -e
    bool noProgress = false;        // -noprogress
    bool json = false;              // -json: one JSON document instead of the lines
    CVString metricsFileName;       // -prom: (health)
    std::vector<CVString> devices;  // -dev:, in the order given
};

#endif
