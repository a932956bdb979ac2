// The 64 TapeAlert flags of page 2Eh: SSC's name and severity of each, and
// what the flag tells about: the drive, the cartridge, the drive's need for
// cleaning, or only the operation the host just tried (a write to a
// write-protected cartridge, say), which says nothing of anyone's health.
#ifndef TAPEDIAG_TAPEALERT_H
#define TAPEDIAG_TAPEALERT_H

enum ETapeAlertSeverity { TAPE_ALERT_INFORMATION, TAPE_ALERT_WARNING, TAPE_ALERT_CRITICAL };

enum ETapeAlertSubject { ALERT_ON_DRIVE, ALERT_ON_CARTRIDGE, ALERT_ON_CLEANING, ALERT_ON_OPERATION };

struct CTapeAlertFlag {
    unsigned number;  // 1 to 64, the flag's parameter code
    const char* name;
    ETapeAlertSeverity severity;
    ETapeAlertSubject subject;
};

// Flag `number` (1 to 64); null for any other number.
const CTapeAlertFlag* FindTapeAlertFlag(unsigned number);

// "information", "warning" or "critical".
const char* SeverityName(ETapeAlertSeverity severity);

#endif
