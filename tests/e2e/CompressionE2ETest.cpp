// The compression test and the compression commands on virtual drives.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TapediagRun.h"

namespace {

using Lines = std::vector<std::string>;

const Lines DDS4_DISPLAY = {"SCSI Adapter: 0, Target: 0, Lun: 0", "CORVANE DAT40 DDS4, Firmware: 9C23A7F1",
                            "Serial# DT12345", " "};
const Lines TRAVAN_DISPLAY = {"ATAPI/IDE Logical Drive Id: 0", "CORVANE CRT8000A, Firmware: 5.02", " "};

TapediagRun RunOn(const std::string& command, const std::string& device, const Lines& extra = {})
{
    Lines args = {command, "-dev:sim:" + device, "-id:x", "-nr"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTapediag(args);
}

Lines With(Lines head, const Lines& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST(CompressionTest, DefaultRunsFiveHundredMegabytesWithItsOwnVerdict)
{
    TapediagRun run = RunOn("ctest", "dds4");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(CommandLines(run),
              With(With({TIME_STAMP}, DDS4_DISPLAY),
                   {"Issued Cmd: Test Compression.", "Examining compression attributes.",
                    "Issued Cmd: Test Unit Ready.", "Issued Cmd: Load Tape.", "Issued Cmd: Write 500 MB to tape.",
                    "Write Command Complete.", "Issued Cmd: Write File Marks.", "Issued Cmd: Rewind Tape.",
                    "Issued Cmd: Read and Compare 500 MB of data from tape.",
                    "Tape drive compression is operating normally.", "Issued Final Cmd: Rewind Tape.", " "}));
    TapediagRun small = RunOn("ctest", "dds4", {"-ts:4"});
    EXPECT_NE(std::find(small.lines.begin(), small.lines.end(), "Issued Cmd: Write 500 MB to tape."),
              small.lines.end());
}

TEST(CompressionTest, RefusedWithoutCompressionBeforeAnyTapeMotion)
{
    TapediagRun off = RunOn("ctest", "dds4,compression-off");
    EXPECT_EQ(off.status, 0);
    EXPECT_EQ(CommandLines(off), With(With({TIME_STAMP}, DDS4_DISPLAY),
                                      {"Issued Cmd: Test Compression.", "Examining compression attributes.",
                                       "Unable to begin the test; drive compression is turned off.", " "}));
    TapediagRun absent = RunOn("ctest", "crt8000a");
    EXPECT_EQ(absent.status, 0);
    EXPECT_EQ(CommandLines(absent), With(With({TIME_STAMP}, TRAVAN_DISPLAY),
                                         {"Issued Cmd: Test Compression.", "Examining compression attributes.",
                                          "Drive compression not available with this drive type.", " "}));
}

TEST(CompressionTest, FailuresAreReportedAsInTheReadWriteTest)
{
    TapediagRun run = RunOn("ctest", "dds4,read-error=3", {"-ts:5"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Lines(run.lines.end() - 3, run.lines.end()),
              (Lines{"Failure on: Read Data From Drive", "03/11/00", " "}));
    TapediagRun verdict = RunOn("ctest", "dds4,dat-errors=3801", {"-ts:5"});
    EXPECT_EQ(verdict.status, 0);
    EXPECT_NE(std::find(verdict.lines.begin(), verdict.lines.end(), "Test failed due to excessive errors."),
              verdict.lines.end());
}

TEST(CompressionTest, EnableThenTestInOneSession)
{
    TapediagRun run = RunTapediag({}, "ctest -dev:sim:ultrium,compression-off -id:x -ts:5\n"
                                      "enablecomp -id:x\n"
                                      "ctest -id:x\ne\n");
    EXPECT_EQ(run.status, 1);
    std::string all;
    for (const std::string& line : run.lines)
        all += line + "\n";
    size_t refused = all.find("Unable to begin the test; drive compression is turned off.");
    size_t enabled = all.find("Issued cmd: Enable Compression.\nCompression enabled.\n \n");
    size_t passed = all.find("Issued Cmd: Read and Compare 500 MB of data from tape.\n"
                             "Tape drive compression is operating normally.");
    EXPECT_NE(refused, std::string::npos);
    EXPECT_NE(enabled, std::string::npos);
    EXPECT_NE(passed, std::string::npos);
    EXPECT_LT(refused, enabled);
    EXPECT_LT(enabled, passed);
}

TEST(CompressionCommands, StatusEnableAndDisable)
{
    EXPECT_EQ(CommandLines(RunOn("compstatus", "dds4")),
              With(With({TIME_STAMP}, DDS4_DISPLAY),
                   {"Issued Cmd: Get Compression Status.", "Compression currently enabled.", " "}));
    TapediagRun disable = RunOn("disablecomp", "dds4");
    EXPECT_EQ(disable.status, 1);
    EXPECT_EQ(CommandLines(disable), With(With({TIME_STAMP}, DDS4_DISPLAY),
                                          {"Issued cmd: Disable Compression.", "Compression disabled.", " "}));
    // A drive that can save its pages reports PS, which MODE SELECT must not send back.
    TapediagRun saveable = RunOn("enablecomp", "dds4,compression-off,saveable-pages");
    EXPECT_EQ(saveable.status, 1);
    EXPECT_EQ(saveable.lines.end()[-2], "Compression enabled.");
    TapediagRun locked = RunOn("enablecomp", "dds4,compression-locked");
    EXPECT_EQ(locked.status, 0);
    EXPECT_EQ(Lines(locked.lines.end() - 3, locked.lines.end()),
              (Lines{"Issued cmd: Enable Compression.", "Compression enable cmd failed.", " "}));
}

TEST(CompressionCommands, DriveWithoutCompression)
{
    TapediagRun status = RunOn("compstatus", "crt8000a");
    EXPECT_EQ(status.status, 1);
    EXPECT_EQ(CommandLines(status),
              With(With({TIME_STAMP}, TRAVAN_DISPLAY),
                   {"Issued Cmd: Get Compression Status.", "Compression not available with this drive.", " "}));
    TapediagRun enable = RunOn("enablecomp", "crt8000a");
    EXPECT_EQ(enable.status, 0);
    EXPECT_EQ(CommandLines(enable),
              With(With({TIME_STAMP}, TRAVAN_DISPLAY), {"Compression not available with this drive.", " "}));
}

TEST(CompressionCommands, StatusReadThatKeepsFailingReadsAsOff)
{
    TapediagRun run = RunOn("compstatus", "dds4,fail=1a");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Lines(run.lines.end() - 3, run.lines.end()),
              (Lines{"Cmd: \"IsCompressionOn\" failed execution.", "Compression currently disabled.", " "}));
    TapediagRun third = RunOn("compstatus", "dds4,fail=1a@1-2");
    EXPECT_EQ(Lines(third.lines.end() - 2, third.lines.end()), (Lines{"Compression currently enabled.", " "}));
}

}  // namespace
