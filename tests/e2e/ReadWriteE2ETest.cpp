// The read/write test on virtual drives, from the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "TapediagRun.h"

namespace {

using Lines = std::vector<std::string>;

const Lines ULTRIUM_DISPLAY = {"SCSI Adapter: 0, Target: 0, Lun: 0", "TESSARA ULTRIUM 2, Firmware: 117A-5RC4 BOOT 1.2",
                               "Serial# HU1234567890", " "};

// Runs rwtest (or another command) on one virtual drive.
TapediagRun RunOn(const std::string& device, const Lines& extra = {}, const std::string& command = "rwtest")
{
    Lines args = {command, "-dev:sim:" + device, "-id:x", "-nr"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTapediag(args);
}

Lines Join(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const Lines& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The lines up to the first failure step: time stamp, display and banner.
Lines Opening(const Lines& display = ULTRIUM_DISPLAY)
{
    return Join({{TIME_STAMP}, display, {"Issued Cmd: Test Read-Write.", "Issued Cmd: Test Unit Ready."}});
}

Lines Tail(const Lines& lines, size_t count)
{
    return Lines(lines.end() - static_cast<long>(std::min(count, lines.size())), lines.end());
}

TEST(ReadWriteTest, PassingDefaultTestOnTheConsole)
{
    TapediagRun run = RunOn("ultrium");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(CommandLines(run),
              Join({Opening(),
                    {"Issued Cmd: Load Tape.", "Issued Cmd: Write 200 MB to tape.", "Write Command Complete.",
                     "Issued Cmd: Write File Marks.", "Issued Cmd: Rewind Tape.",
                     "Issued Cmd: Read and Compare 200 MB of data from tape.", "Test completed successfully.",
                     "Issued Final Cmd: Rewind Tape.", " "}}));
    EXPECT_EQ(run.errors, "");
}

TEST(ReadWriteTest, EveryFamilyAndBlockModePasses)
{
    for (const char* device : {"crt8000n", "crt8000a", "crt20000n", "dat", "dds3", "dds4", "ultrium,fixed=512",
                               "dds3,fixed=1024", "ultrium,saveable-pages"}) {
        TapediagRun run = RunOn(device, {"-ts:5"});
        EXPECT_EQ(run.status, 1) << device;
        EXPECT_EQ(Tail(run.lines, 3), (Lines{"Test completed successfully.", "Issued Final Cmd: Rewind Tape.", " "}))
            << device;
    }
}

TEST(ReadWriteTest, SmallSizesFallBackToTheDefault)
{
    TapediagRun run = RunOn("dds4", {"-ts:4"});
    EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), "Issued Cmd: Write 200 MB to tape."), run.lines.end());
    run = RunOn("dds4", {"-ts:5"});
    EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), "Issued Cmd: Read and Compare 5 MB of data from tape."),
              run.lines.end());
}

struct FailureRow {
    const char* device;
    Lines extra;
    Lines last;  // the lines that end the output
};

TEST(ReadWriteTest, EveryFailureRowReportsItsLinesAndFails)
{
    // clang-format off
    const FailureRow rows[] = {
        {"ultrium,nocart", {}, {"Issued Cmd: Test Unit Ready.", "Check to ensure that the correct tape loaded in the drive!", " "}},
        {"dds4,write-protected", {}, {"Issued Cmd: Test Unit Ready.", "Failure: Check tape write protection.  ", " "}},
        {"crt20000n,wrong-cartridge", {}, {"Error: Tape not compatible with drive for writing.", " "}},
        {"ultrium,fail=1b", {}, {"Issued Cmd: Load Tape.", "Failure on: Load Tape", "04/44/00/00/00", " "}},
        {"dds4,unsupported=4c", {}, {"Failure on: Log Select Reset", "05/20/00", " "}},
        {"ultrium,write-error=100", {"-ts:10"}, {"Issued Cmd: Write 10 MB to tape.", "Failure on: Write Data to Drive.", "03/0C/00/00/00", " "}},
        {"dds4,fail=34@4", {}, {"Write Command Complete.", "Failure on: Read Position", "04/44/00", " "}},
        {"dds4,fail=10", {}, {"Issued Cmd: Write File Marks.", "Failure on: Write File Marks", "04/44/00", " "}},
        {"dds4,fail=34@5", {}, {"Issued Cmd: Write File Marks.", "Failure on: Read Position", "04/44/00", " "}},
        {"dds4,fail=01", {}, {"Issued Cmd: Rewind Tape.", "Failure on: Rewind", "04/44/00", " "}},
        {"dds4,fail=34@6", {}, {"Issued Cmd: Rewind Tape.", "Failure on: Read Position", "04/44/00", " "}},
        {"dds4,read-error=7", {"-ts:5"}, {"Issued Cmd: Read and Compare 5 MB of data from tape.", "Failure on: Read Data From Drive", "03/11/00", " "}},
        {"dds4,bad-data=7", {"-ts:5"}, {"Issued Cmd: Read and Compare 5 MB of data from tape.", "Test failed, Read/Compare error detected - Ensure tape contains data written by this application!", " "}},
        {"dds4,fail=01@2", {"-ts:5"}, {"Issued Final Cmd: Rewind Tape.", "Failure on: Rewind", "04/44/00", " "}},
        {"dds4,fail=34@7", {"-ts:5"}, {"Issued Final Cmd: Rewind Tape.", "Failure on: Read Position", "04/44/00", " "}},
        {"ultrium,capacity=100", {"-ts:200"}, {"Failure on: Write Data to Drive.", "Failure: End of Partition (EOP) marker has been detected. 40/00/02/00/00", " "}},
        // The pattern compresses so well that the test must not run with compression on.
        {"dds4,compression-locked", {}, {"Issued Cmd: Load Tape.", "Failure on: Disable Compression", "05/26/00", " "}},
        // No verdict without the counters it is made of.
        {"ultrium,log-fail=02,log-fail=03,read-uncorrected=50,write-uncorrected=50", {"-ts:10"}, {"Issued Cmd: Read and Compare 10 MB of data from tape.", "Failure: The drive's error counters could not be read.", "04/44/00/00/00", " "}},
        {"crt8000n,log-fail=03", {"-ts:5"}, {"Failure: The drive's error counters could not be read.", "04/44/00", " "}},
        {"dds4,log-short=03:28", {"-ts:5"}, {"Failure: The drive's error counters could not be read.", "00/00/00", " "}},
        {"ultrium,unsupported=4d", {"-ts:5"}, {"Failure: The drive's error counters could not be read.", "05/20/00/00/00", " "}},
        // Turned away, not failed: the status says why.
        {"ultrium,status=1b:18", {}, {"Issued Cmd: Load Tape.", "Failure on: Load Tape", "reservation conflict: the drive is reserved by another host", " "}},
    };
    // clang-format on
    for (const FailureRow& row : rows) {
        TapediagRun run = RunOn(row.device, row.extra);
        EXPECT_EQ(run.status, 0) << row.device;
        EXPECT_EQ(Tail(run.lines, row.last.size()), row.last) << row.device;
    }
}

TEST(ReadWriteTest, ADriveResetIsTakenWhereItMovesNothingAndOtherwiseLosesThePosition)
{
    // The power-on reset goes to the first unit-ready check, which is sent again.
    TapediagRun run = RunOn("ultrium,reset", {"-ts:5"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errors, "");

    run = RunOn("ultrium,reset=0a@20", {"-ts:5"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Tail(run.lines, 3), (Lines{"Failure on: Write Data to Drive.", "06/29/00/00/00", " "}));
    EXPECT_EQ(run.errors, "tapediag: sim:ultrium,reset=0a@20: the drive was reset (06/29/00): the tape position is "
                          "unknown; rewind the tape before the next test\n");
}

TEST(ReadWriteTest, NotReadyWithoutCartridgeIsExplainedRightAfterTheBanner)
{
    TapediagRun run = RunOn("ultrium,nocart");
    EXPECT_EQ(CommandLines(run),
              Join({Opening(), {"Check to ensure that the correct tape loaded in the drive!", " "}}));
}

TEST(ReadWriteTest, ExcessiveErrorsFailTheTestAfterTheFinalRewind)
{
    struct VerdictRow {
        const char* device;
        const char* size;
        bool pass;
        const char* engineering;
        // clang-format off
    } rows[] = {
        {"crt8000n,read-corrected=60,read-delayed=5", "-ts:5", true, "Max allowed errors: 65.  Actual errors: 65"},
        {"crt8000n,read-corrected=60,read-delayed=6", "-ts:5", false, "Max allowed errors: 65.  Actual errors: 66"},
        {"dds4,dat-errors=3800", "-ts:5", true, "Max allowed errors: 3800.  Actual errors: 3800"},
        {"dds4,dat-errors=3801", "-ts:5", false, "Max allowed errors: 3800.  Actual errors: 3801"},
        {"ultrium,read-uncorrected=1,write-uncorrected=1", "-ts:5", false, "Max allowed errors: 0.  Actual errors: 2"},
        {"ultrium,read-corrected=1000", "-ts:5", true, "Max allowed errors: 0.  Actual errors: 0"},
    };
    // clang-format on
    for (const VerdictRow& row : rows) {
        TapediagRun run = RunOn(row.device, {row.size, "-e"});
        EXPECT_EQ(run.status, row.pass ? 1 : 0) << row.device;
        Lines verdict = row.pass ? Lines{row.engineering, "Test completed successfully."}
                                 : Lines{row.engineering, "Test failed due to excessive errors.",
                                         "Retry the test with a different tape and/or clean the drive."};
        EXPECT_EQ(Lines(run.lines.end() - static_cast<long>(verdict.size()) - 2, run.lines.end() - 2), verdict)
            << row.device;
    }
}

TEST(ReadWriteTest, RetensionOnlyWhereTheDriveCanDoIt)
{
    TapediagRun travan = RunOn("crt20000n", {"-ts:5", "-fr"});
    EXPECT_NE(std::find(travan.lines.begin(), travan.lines.end(), "Issued Cmd: Load Tape with Retension."),
              travan.lines.end());
    TapediagRun dat = RunOn("dds4", {"-ts:5", "-fr"});
    EXPECT_NE(std::find(dat.lines.begin(), dat.lines.end(), "Issued Cmd: Load Tape."), dat.lines.end());
    EXPECT_EQ(dat.status, 1);
}

// The compression state reported after an rwtest in the same session.
std::string CompressionAfterTest(const std::string& device)
{
    TapediagRun run = RunTapediag({}, "rwtest -dev:sim:" + device + " -id:x -ts:5\ncompstatus -id:x\ne\n");
    for (const std::string& line : run.lines) {
        size_t found = line.find("Compression currently");
        if (found != std::string::npos)
            return line.substr(found);
    }
    return "";
}

TEST(ReadWriteTest, CompressionIsRestoredAfterAPassAndLeftOffAfterAFailure)
{
    EXPECT_EQ(CompressionAfterTest("ultrium"), "Compression currently enabled.");
    EXPECT_EQ(CompressionAfterTest("ultrium,write-error=3"), "Compression currently disabled.");
    EXPECT_EQ(CompressionAfterTest("ultrium,compression-off"), "Compression currently disabled.");
}

TEST(ReadWriteTest, ReportFileGetsTheTestAndTheConsoleNothingWithNoVerbose)
{
    std::string path = testing::TempDir() + "tapediag-rwtest-report.txt";
    std::remove(path.c_str());
    TapediagRun run = RunOn("dds4", {"-ts:5", "-nov:" + path});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.lines.empty());
    TapediagRun second = RunOn("dds4", {"-ts:5", "-o:" + path});
    std::ifstream file(path);
    std::string line;
    int passes = 0;
    while (std::getline(file, line))
        passes += line == "Test completed successfully." ? 1 : 0;
    EXPECT_EQ(passes, 2);
    std::remove(path.c_str());
}

}  // namespace
