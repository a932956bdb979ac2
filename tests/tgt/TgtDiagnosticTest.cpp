// The real tapediag against tgt: every result line of the commands a tgt
// tape LUN can serve, and how the diagnostic reports the commands it lacks
// (LOG SELECT and LOG SENSE, and MODE SELECT of the compression page).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TapediagRun.h"
#include "TgtTarget.h"

namespace {

typedef std::vector<std::string> Lines;

const Lines DRIVE = {TIME_STAMP, "SCSI Adapter: 0, Target: 0, Lun: 1", "TESSARA ULTRIUM 2, Firmware: 117A",
                     "Serial# HU12345678", " "};

Lines Then(Lines lines, const Lines& more)
{
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

TEST(TgtDiagnostic, EveryCommandALunOfTgtCanServe)
{
    TgtTarget target;
    REQUIRE_TGT(target);
    const std::string device = "-dev:" + target.Url();
    // tgt's tape LUN takes no persistent reservations: a destructive test
    // says so and goes on.
    const std::string noReservation = "tapediag: " + target.Url() +
                                      ": the target takes no persistent reservations: other hosts are not kept off "
                                      "the drive\n";
    struct Row {
        std::vector<std::string> args;
        int status;
        Lines lines;
        std::string errors = "";
        // clang-format off
    } rows[] = {
        {{"show"}, 1, {" ", "Accessible Tape Drives...", " ", "SCSI Adapter: 0, Target: 0, Lun: 1",
                       "TESSARA ULTRIUM 2, Firmware: 117A", "Serial# HU12345678", " "}},
        {{"compstatus"}, 1, Then(DRIVE, {"Issued Cmd: Get Compression Status.", "Compression currently disabled.", " "})},
        // tgt takes MODE SELECT of the block descriptor only: the compression
        // page is refused (05/26/00).
        {{"enablecomp"}, 0, Then(DRIVE, {"Issued cmd: Enable Compression.", "Compression enable cmd failed.", " "})},
        {{"disablecomp"}, 0, Then(DRIVE, {"Issued cmd: Disable Compression.", "Compression disable cmd failed.", " "})},
        {{"ctest"}, 0, Then(DRIVE, {"Issued Cmd: Test Compression.", "Examining compression attributes.",
                                    "Unable to begin the test; drive compression is turned off.", " "})},
        // SEND DIAGNOSTIC self-test.
        {{"etest"}, 1, Then(DRIVE, {"Issued Cmd: Begin resident Drive Diagnostic.",
                                    "Drive Diagnostic Test complete: Report Pass.", " "})},
        {{"retension"}, 1, Then(DRIVE, {"Issued Cmd:  Retension Tape.", "Tape retension complete.", " "})},
        // tgt has no LOG SENSE, so not even the page directory.
        {{"logpages"}, 0, Then(DRIVE, {"Issued Cmd: Print Available Log Pages.", " ",
                                       "Unable to Access Page 0, Log Page Directory."})},
        // tgt has no LOG SELECT: the test cannot reset the drive's counters
        // and stops before it writes anything.
        {{"rwtest", "-ts:5"}, 0, Then(DRIVE, {"Issued Cmd: Test Read-Write.", "Issued Cmd: Test Unit Ready.",
                                             "Issued Cmd: Load Tape.", "Failure on: Log Select Reset",
                                             "05/20/00/00/00", " "}), noReservation},
    };
    // clang-format on
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {device, "-id:x", "-nr"});
        SCOPED_TRACE(args[0]);
        TapediagRun run = RunTapediag(args);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(CommandLines(run), row.lines);
        EXPECT_EQ(run.errors, row.errors);
    }
}

TEST(TgtDiagnostic, DevicesThatCannotBeUsedSayWhyOnStandardError)
{
    TgtTarget target("tapeuser", "tapesecret12");
    REQUIRE_TGT(target);
    const std::string controller = target.UrlWithPassword("tapesecret12");
    TapediagRun run = RunTapediag({"show", "-dev:" + target.UrlWithPassword("wrongsecret12"),
                                   "-dev:" + controller.substr(0, controller.rfind('/') + 1) + "0", "-nr"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(CommandLines(run), (Lines{" ", "No tape drives recognized.", " "}));
    // The password is never shown.
    EXPECT_EQ(run.errors, "tapediag: device " + target.Url() +
                              " skipped: the target refused the login to iqn.2026-12.test.tapediag:tape (check the "
                              "user and password)\n"
                              "tapediag: device " +
                              target.Url(0) +
                              " skipped: LUN 0 of iqn.2026-12.test.tapediag:tape is not a tape drive (peripheral "
                              "type 0Ch)\n");

    run = RunTapediag({"show", "-dev:" + controller, "-nr"});
    EXPECT_EQ(CommandLines(run)[3], "SCSI Adapter: 0, Target: 0, Lun: 1");
}

TEST(TgtDiagnostic, ATargetThatGoesAwayFailsTheNextCommandWithAReason)
{
    TgtTarget target;
    REQUIRE_TGT(target);
    ChildProcess tapediag(TAPEDIAG_BIN, {});
    tapediag.Write("compstatus -dev:" + target.Url() + " -id:x\n");
    ASSERT_TRUE(tapediag.WaitForOutput("Compression currently disabled."));
    target.Kill();
    tapediag.Write("compstatus -id:x\nexit\n");
    tapediag.Finish();
    EXPECT_NE(
        tapediag.Output().find("Issued Cmd: Get Compression Status.\nCmd: \"IsCompressionOn\" failed execution.\n"),
        std::string::npos)
        << tapediag.Output();
    EXPECT_NE(tapediag.Errors().find("tapediag: " + target.Url() +
                                     ": session lost: the tape position is unknown; run the command again\n"),
              std::string::npos)
        << tapediag.Errors();
}

}  // namespace
