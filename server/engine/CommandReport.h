// What a command found, as data beside its output lines: the decoded log
// pages of logpages and the verdicts of health. The controller turns it
// into machine-readable output (JSON, metrics); the text lines stay the
// command's own.
#ifndef TAPEDIAG_COMMANDREPORT_H
#define TAPEDIAG_COMMANDREPORT_H

#include <vector>

#include "HealthRules.h"
#include "LogPageDecoder.h"

struct CCommandReport {
    std::vector<CLogPageReading> logPages;  // logpages: each page as read, in the order read
    std::vector<CDriveHealth> health;       // health: each drive checked
};

#endif
