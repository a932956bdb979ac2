// The health command over virtual drives: each verdict and its reasons from
// the fault that should cause it, on Ultrium and DAT models, drives that
// lack pages, no cartridge; every drive when none is named; the alerts
// gone once read; sense in the library's words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeClock.h"
#include "InProcessDiagnostic.h"
#include "SenseText.h"
#include "TapeAlert.h"

namespace {

using Lines = std::vector<std::string>;

// The verdict lines: from "Drive:" up to the blank line after them.
Lines Verdicts(const Lines& lines)
{
    Lines verdicts;
    size_t at = 0;
    while (at < lines.size() && lines[at].compare(0, 7, "Drive: ") != 0)
        ++at;
    for (; at < lines.size() && lines[at] != " "; ++at)
        verdicts.push_back(lines[at]);
    return verdicts;
}

// The line of the page summary that begins with `label`.
std::string Summary(const Lines& lines, const std::string& label)
{
    for (const std::string& line : lines) {
        if (line.compare(0, label.size(), label) == 0)
            return line;
    }
    return "";
}

struct VerdictCase {
    const char* device;
    bool healthy;
    Lines verdicts;
};

TEST(Health, EachFaultGivesItsVerdictAndReason)
{
    // clang-format off
    const VerdictCase cases[] = {
        {"ultrium", true, {"Drive: OK", "Cartridge: OK"}},
        {"dds4", true, {"Drive: OK", "Cartridge: OK"}},
        {"ultrium,cleaning-required", false,
         {"Drive: NEEDS CLEANING", "  - TapeAlert flag 20: Cleaning required (critical)",
          "  - the drive asks to be cleaned (log page 0Ch)", "Cartridge: OK"}},
        {"dds3,cleaning-required", false,
         {"Drive: NEEDS CLEANING", "  - TapeAlert flag 20: Cleaning required (critical)",
          "  - the drive asks to be cleaned (log page 0Ch)", "Cartridge: OK"}},
        {"dds4,tapealert=21", false,
         {"Drive: NEEDS CLEANING", "  - TapeAlert flag 21: Cleaning requested (warning)", "Cartridge: OK"}},
        {"ultrium,tapealert=30", false,
         {"Drive: FAILED", "  - TapeAlert flag 30: Hardware A (critical)", "Cartridge: OK"}},
        {"ultrium,tapealert=26:21", false,
         {"Drive: NEEDS CLEANING", "  - TapeAlert flag 21: Cleaning requested (warning)",
          "  - TapeAlert flag 26: Cooling fan failure (warning)", "Cartridge: OK"}},
        {"dds4,tapealert=26", false,
         {"Drive: ATTENTION", "  - TapeAlert flag 26: Cooling fan failure (warning)", "Cartridge: OK"}},
        {"ultrium,tapealert=7", false,
         {"Drive: OK", "Cartridge: REPLACE", "  - TapeAlert flag 7: Media life (warning)"}},
        {"dds4,tapealert=4", false, {"Drive: OK", "Cartridge: REPLACE", "  - TapeAlert flag 4: Media (critical)"}},
        // Information, and flags about what the host just tried, judge nobody.
        {"ultrium,tapealert=19:9", true, {"Drive: OK", "Cartridge: OK"}},
        {"ultrium,counter=02:0006:3", false,
         {"Drive: ATTENTION", "  - 3 uncorrected write errors counted (log page 02h)", "Cartridge: OK"}},
        {"dds4,counter=03:0006:1", false,
         {"Drive: ATTENTION", "  - 1 uncorrected read errors counted (log page 03h)", "Cartridge: OK"}},
        {"ultrium,counter=03:0003:900", true, {"Drive: OK", "Cartridge: OK"}},
        {"ultrium,temperature=61", false,
         {"Drive: ATTENTION", "  - temperature 61 C is above the drive's reference of 60 C (log page 0Dh)",
          "Cartridge: OK"}},
        {"ultrium,temperature=255", true, {"Drive: OK", "Cartridge: OK"}},
        {"ultrium,log-fail=2e", false,
         {"Drive: ATTENTION",
          "  - log page 2Eh (TapeAlert) could not be read: Hardware Error, Internal target failure (04/44/00)",
          "Cartridge: OK"}},
        {"ultrium,log-fail=00", false,
         {"Drive: ATTENTION",
          "  - log page 00h (Supported log pages) could not be read: Hardware Error, Internal target failure "
          "(04/44/00)",
          "Cartridge: OK"}},
        {"ultrium,nocart", true, {"Drive: OK", "Cartridge: NONE", "  - no cartridge in the drive"}},
        {"dds4,nocart,tapealert=52", false,
         {"Drive: OK", "Cartridge: REPLACE", "  - TapeAlert flag 52: Tape system area write failure (critical)",
          "  - no cartridge in the drive: the flags are about the one last loaded"}},
        {"ultrium,becoming-ready", false,
         {"Drive: ATTENTION",
          "  - the drive is not ready: Not Ready, Logical unit is in process of becoming ready (02/04/01)",
          "Cartridge: OK"}},
        {"ultrium,fail=00", false,
         {"Drive: FAILED", "  - the unit-ready check failed: Hardware Error, Internal target failure (04/44/00)",
          "Cartridge: OK"}},
        // No 0Ch, 0Dh or 2Eh: judged by what the drive has.
        {"crt8000n", true, {"Drive: OK", "Cartridge: OK"}},
        {"ultrium,no-log-page=0c,no-log-page=0d,counter=03:0006:2", false,
         {"Drive: ATTENTION", "  - 2 uncorrected read errors counted (log page 03h)", "Cartridge: OK"}},
    };
    // clang-format on
    // A drive becoming ready is waited for a minute.
    CFakeClock clock;
    CFakeClockScope clockScope(clock);
    for (const VerdictCase& c : cases) {
        SCOPED_TRACE(c.device);
        InProcessDiagnostic diagnostic;
        CommandRun run = diagnostic.Run(std::string("health; -dev:sim:") + c.device + "; -id:x;");
        EXPECT_EQ(run.result, c.healthy);
        EXPECT_EQ(Verdicts(run.lines), c.verdicts);
    }
}

TEST(Health, APageTheDriveLacksIsSaidNotGuessed)
{
    InProcessDiagnostic diagnostic;
    CommandRun run = diagnostic.Run("health; -dev:sim:ultrium,no-log-page=0c,no-log-page=0d; -id:x;");
    EXPECT_EQ(AfterOpening(run.lines), (Lines{
                                           "Issued Cmd: Health Check.",
                                           " ",
                                           "Drive: OK",
                                           "Cartridge: OK",
                                           " ",
                                           "Write errors (log page 02h): 0 corrected, 0 uncorrected",
                                           "Read errors (log page 03h): 0 corrected, 0 uncorrected",
                                           "Cleaning (log page 0Ch): not kept by this drive",
                                           "Temperature (log page 0Dh): not kept by this drive",
                                           "Last self-test (log page 10h): not kept by this drive",
                                           "TapeAlert (log page 2Eh): no flag raised",
                                           " ",
                                       }));
}

TEST(Health, WithoutASelectionEveryDriveIsChecked)
{
    InProcessDiagnostic diagnostic;
    CommandRun run = diagnostic.Run("health; -dev:sim:ultrium; -dev:sim:dds4,tapealert=26; -dev:sim:crt8000n;");
    EXPECT_FALSE(run.result) << "one drive needs attention";
    Lines drives;
    for (const std::string& line : run.lines) {
        if (line.compare(0, 7, "Drive: ") == 0)
            drives.push_back(line);
    }
    EXPECT_EQ(drives, (Lines{"Drive: OK", "Drive: ATTENTION", "Drive: OK"}));

    EXPECT_TRUE(diagnostic.Run("health; -getByIndex:0;").result);
    EXPECT_TRUE(diagnostic.Run("health; -getByIndex:1;").result) << "the alert was reported once, then cleared";
}

TEST(Health, NoDriveIsNoHealthyDrive)
{
    InProcessDiagnostic diagnostic;
    CommandRun run = diagnostic.Run("health; -dev:sim:changer;");
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.lines, (Lines{" ", "No tape drives recognized.", " "}));
}

TEST(Health, TheLastSelfTestIsJudgedWhereTheDriveKeepsIt)
{
    InProcessDiagnostic diagnostic;
    CommandRun run = diagnostic.Run("health; -dev:sim:ultrium,selftest-log,selftest-fail; -id:x;");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(Summary(run.lines, "Last self-test"), "Last self-test (log page 10h): none run");
    EXPECT_FALSE(diagnostic.Run("etest; -id:x;").result);
    run = diagnostic.Run("health; -id:x;");
    EXPECT_FALSE(run.result);
    EXPECT_EQ(Verdicts(run.lines),
              (Lines{"Drive: FAILED",
                     "  - the last self-test failed (result 4): Hardware Error, Diagnostic failure on component "
                     "[0x80] (04/40/80)",
                     "Cartridge: OK"}));

    InProcessDiagnostic passing;
    ASSERT_TRUE(passing.Run("etest; -dev:sim:ultrium,selftest-log; -id:x;").result);
    EXPECT_EQ(Summary(passing.Run("health; -id:x;").lines, "Last self-test"), "Last self-test (log page 10h): passed");
}

TEST(Health, LogpagesWarnsThatReadingTapeAlertClearsIt)
{
    InProcessDiagnostic diagnostic;
    testing::internal::CaptureStderr();
    CommandRun run = diagnostic.Run("logpages; -dev:sim:ultrium,tapealert=4; -id:x;");
    const std::string warnings = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(run.result);
    EXPECT_EQ(warnings, "tapediag: reading log page 2Eh clears the TapeAlert flags the drive has pending; "
                        "`tapediag health` judges them before they are gone\n");
    EXPECT_TRUE(diagnostic.Run("health; -id:x;").result) << "logpages took the alert";

    testing::internal::CaptureStderr();
    diagnostic.Run("logpages; -dev:sim:crt8000n; -getByIndex:1;");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a drive without page 2Eh loses nothing";
}

TEST(Health, MetricsFileThatCannotBeWrittenFailsTheCheck)
{
    InProcessDiagnostic diagnostic;
    CommandRun run = diagnostic.Run("health; -dev:sim:ultrium; -prom:/nonexistent-directory/tapediag.prom;");
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.lines.back(), "Unable to write the metrics file /nonexistent-directory/tapediag.prom.");
    run = diagnostic.Run("show; -prom:tapediag.prom;");
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.lines, Lines{"-prom:FILE belongs to the health command."});
}

TEST(Health, TapeAlertTableHoldsEveryFlagAtItsNumber)
{
    for (unsigned number = 1; number <= 64; ++number) {
        const CTapeAlertFlag* flag = FindTapeAlertFlag(number);
        ASSERT_NE(flag, nullptr) << number;
        EXPECT_EQ(flag->number, number);
    }
    EXPECT_EQ(FindTapeAlertFlag(0), nullptr);
    EXPECT_EQ(FindTapeAlertFlag(65), nullptr);
}

TEST(Health, SenseIsNamedByTheLibrary)
{
    const struct {
        unsigned key, asc, ascq;
        const char* summary;
    } cases[] = {
        {0x03, 0x11, 0x00, "Medium Error, Unrecovered read error (03/11/00)"},
        {0x02, 0x3A, 0x00, "Not Ready, Medium not present (02/3A/00)"},
        {0x06, 0x29, 0x00, "Unit Attention, Power on, reset, or bus device reset occurred (06/29/00)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SenseSummary(DescribeSense(c.key, c.asc, c.ascq)), c.summary);
}

}  // namespace
