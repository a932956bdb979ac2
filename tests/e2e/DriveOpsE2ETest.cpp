// retension and etest on virtual drives, from the command line: every line
// and the exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TapediagRun.h"

namespace {

using Lines = std::vector<std::string>;

const Lines ULTRIUM = {TIME_STAMP, "SCSI Adapter: 0, Target: 0, Lun: 0",
                       "TESSARA ULTRIUM 2, Firmware: 117A-5RC4 BOOT 1.2", "Serial# HU1234567890", " "};
const Lines TRAVAN = {TIME_STAMP, "SCSI Adapter: 0, Target: 0, Lun: 0", "CORVANE CRT20000N, Firmware: 7.10", " "};
const Lines DDS3 = {TIME_STAMP, "SCSI Adapter: 0, Target: 0, Lun: 0", "CORVANE DAT24 DDS3, Firmware: 74800110",
                    "Serial# DT12345", " "};
const Lines DDS4 = {TIME_STAMP, "SCSI Adapter: 0, Target: 0, Lun: 0", "CORVANE DAT40 DDS4, Firmware: 9C23A7F1",
                    "Serial# DT12345", " "};

Lines Join(Lines head, const Lines& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

struct Case {
    const char* command;
    const char* device;
    int status;
    Lines lines;
};

void Check(const Case& c)
{
    SCOPED_TRACE(std::string(c.command) + " " + c.device);
    TapediagRun run = RunTapediag({c.command, std::string("-dev:sim:") + c.device, "-id:x", "-nr"});
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(CommandLines(run), c.lines);
    EXPECT_EQ(run.errors, "");
}

const char* const RETENSION = "Issued Cmd:  Retension Tape.";

TEST(Retension, EveryOutcome)
{
    const Case cases[] = {
        {"retension", "crt20000n", 1, Join(TRAVAN, {RETENSION, "Tape retension complete.", " "})},
        {"retension", "ultrium", 1, Join(ULTRIUM, {RETENSION, "Tape retension complete.", " "})},
        // Refused before anything else is said or sent.
        {"retension", "dds4", 0, {"Retension capability not available with this drive.", " "}},
        {"retension", "ultrium,nocart", 0,
         Join(ULTRIUM, {RETENSION, "Check to ensure that the correct tape loaded in the drive!", " "})},
        {"retension", "ultrium,fail=00", 0,
         Join(ULTRIUM, {RETENSION, "Failure on: Test For Unit Ready", "04/44/00/00/00", " "})},
        {"retension", "ultrium,retension-fail", 0,
         Join(ULTRIUM, {RETENSION, "Failure on: Retension Tape", "04/53/00/00/00", " "})},
        {"retension", "crt20000n,retension-fail", 0,
         Join(TRAVAN, {RETENSION, "Failure on: Retension Tape", "04/53/00", " "})},
    };
    for (const Case& c : cases)
        Check(c);
}

const char* const ETEST = "Issued Cmd: Begin resident Drive Diagnostic.";

TEST(SelfTest, EveryOutcome)
{
    const Case cases[] = {
        {"etest", "ultrium", 1, Join(ULTRIUM, {ETEST, "Drive Diagnostic Test complete: Report Pass.", " "})},
        {"etest", "dds4", 1, Join(DDS4, {ETEST, "Drive Diagnostic Test complete: Report Pass.", " "})},
        // A drive that is not ready still runs its self-test.
        {"etest", "ultrium,nocart", 1, Join(ULTRIUM, {ETEST, "Drive Diagnostic Test complete: Report Pass.", " "})},
        {"etest", "ultrium,selftest-fail", 0,
         Join(ULTRIUM, {ETEST, "Drive Diagnostic Test complete: Report Fail.", " "})},
        // Turned away without a verdict: the drive is not called failed.
        {"etest", "ultrium,status=1d:18", 0,
         Join(ULTRIUM, {ETEST, "Drive Diagnostic Test not run.",
                        "reservation conflict: the drive is reserved by another host", " "})},
        {"etest", "dds4,status=1d:08", 0,
         Join(DDS4, {ETEST, "Drive Diagnostic Test not run.", "busy: the drive cannot take the command now", " "})},
        {"etest", "ultrium,status=1d:28", 0,
         Join(ULTRIUM, {ETEST, "Drive Diagnostic Test not run.",
                        "task set full: the drive has more commands queued than it can take", " "})},
        // The refusal comes after the banner.
        {"etest", "dds3", 0, Join(DDS3, {ETEST, "Electronic drive test not supported with this drive type.", " "})},
        {"etest", "crt20000n", 0,
         Join(TRAVAN, {ETEST, "Electronic drive test not supported with this drive type.", " "})},
    };
    for (const Case& c : cases)
        Check(c);
}

}  // namespace
