#include "TapeAlert.h"

#include "ScsiCodes.h"

namespace {

const ETapeAlertSeverity I = TAPE_ALERT_INFORMATION;
const ETapeAlertSeverity W = TAPE_ALERT_WARNING;
const ETapeAlertSeverity C = TAPE_ALERT_CRITICAL;
const ETapeAlertSubject DRIVE = ALERT_ON_DRIVE;
const ETapeAlertSubject CARTRIDGE = ALERT_ON_CARTRIDGE;
const ETapeAlertSubject CLEANING = ALERT_ON_CLEANING;
const ETapeAlertSubject OPERATION = ALERT_ON_OPERATION;

// In flag order: row N-1 is flag N.
// clang-format off
const CTapeAlertFlag flags[TAPE_ALERT_FLAG_COUNT] = {
    {1, "Read warning", W, DRIVE},
    {2, "Write warning", W, DRIVE},
    {3, "Hard error", W, DRIVE},
    {4, "Media", C, CARTRIDGE},
    {5, "Read failure", C, DRIVE},
    {6, "Write failure", C, DRIVE},
    {7, "Media life", W, CARTRIDGE},
    {8, "Not data grade", W, CARTRIDGE},
    {9, "Write protect", C, OPERATION},
    {10, "No removal", I, OPERATION},
    {11, "Cleaning media", I, CARTRIDGE},
    {12, "Unsupported format", I, CARTRIDGE},
    {13, "Recoverable mechanical cartridge failure", C, CARTRIDGE},
    {14, "Unrecoverable mechanical cartridge failure", C, CARTRIDGE},
    {15, "Memory chip in cartridge failure", W, CARTRIDGE},
    {16, "Forced eject", C, OPERATION},
    {17, "Read only format", W, OPERATION},
    {18, "Tape directory corrupted on load", W, CARTRIDGE},
    {19, "Nearing media life", I, CARTRIDGE},
    {20, "Cleaning required", C, CLEANING},
    {21, "Cleaning requested", W, CLEANING},
    {22, "Expired cleaning media", C, CARTRIDGE},
    {23, "Invalid cleaning tape", C, CARTRIDGE},
    {24, "Retension requested", W, DRIVE},
    {25, "Multi-port interface error on a primary port", W, DRIVE},
    {26, "Cooling fan failure", W, DRIVE},
    {27, "Power supply failure", W, DRIVE},
    {28, "Power consumption", W, DRIVE},
    {29, "Drive preventive maintenance required", W, DRIVE},
    {30, "Hardware A", C, DRIVE},
    {31, "Hardware B", C, DRIVE},
    {32, "Primary interface", W, DRIVE},
    {33, "Eject media", C, DRIVE},
    {34, "Microcode update fail", W, DRIVE},
    {35, "Drive humidity", W, DRIVE},
    {36, "Drive temperature", W, DRIVE},
    {37, "Drive voltage", W, DRIVE},
    {38, "Predictive failure", C, DRIVE},
    {39, "Diagnostics required", W, DRIVE},
    {40, "Obsolete", I, OPERATION},
    {41, "Obsolete", I, OPERATION},
    {42, "Obsolete", I, OPERATION},
    {43, "Obsolete", I, OPERATION},
    {44, "Obsolete", I, OPERATION},
    {45, "Obsolete", I, OPERATION},
    {46, "Obsolete", I, OPERATION},
    {47, "Reserved", I, OPERATION},
    {48, "Reserved", I, OPERATION},
    {49, "Reserved", I, OPERATION},
    {50, "Lost statistics", W, CARTRIDGE},
    {51, "Tape directory invalid at unload", W, CARTRIDGE},
    {52, "Tape system area write failure", C, CARTRIDGE},
    {53, "Tape system area read failure", C, CARTRIDGE},
    {54, "No start of data", C, CARTRIDGE},
    {55, "Loading or threading failure", C, CARTRIDGE},
    {56, "Unrecoverable unload failure", C, DRIVE},
    {57, "Automation interface failure", C, DRIVE},
    {58, "Microcode failure", W, DRIVE},
    {59, "WORM medium - integrity check failed", W, CARTRIDGE},
    {60, "WORM medium - overwrite attempted", W, OPERATION},
    {61, "Reserved", I, OPERATION},
    {62, "Reserved", I, OPERATION},
    {63, "Reserved", I, OPERATION},
    {64, "Reserved", I, OPERATION},
};
// clang-format on

}  // namespace

const CTapeAlertFlag* FindTapeAlertFlag(unsigned number)
{
    if (number < 1 || number > TAPE_ALERT_FLAG_COUNT)
        return nullptr;
    return &flags[number - 1];
}

const char* SeverityName(ETapeAlertSeverity severity)
{
    switch (severity) {
    case TAPE_ALERT_WARNING:
        return "warning";
    case TAPE_ALERT_CRITICAL:
        return "critical";
    default:
        return "information";
    }
}
