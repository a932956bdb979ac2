// The trace, cmemory and eeprom commands over virtual drives: the files they
// write against the drive's own buffers, byte for byte, and every way a
// capture fails, which never leaves a file behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DriveManager.h"
#include "FileSizeLimit.h"
#include "InProcessDiagnostic.h"
#include "VirtualDrive.h"
#include "VirtualDriveBuffer.h"

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

const char* const ULTRIUM_TRACEABLE = "ultrium,firmware=R128";

class CaptureCommands : public ::testing::Test {
protected:
    CaptureCommands()
    {
        char pattern[] = "/tmp/tapediag-capture-XXXXXX";
        directory = mkdtemp(pattern);
        file = directory + "/capture.bin";
    }
    ~CaptureCommands() override
    {
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }

    // Runs `command` on a fresh virtual drive `device`, writing to `target`.
    CommandRun Capture(const std::string& command, const std::string& device, const std::string& target)
    {
        InProcessDiagnostic diagnostic;
        return diagnostic.Run(command + "; -dev:sim:" + device + "; -id:x; -f:" + target + ";");
    }
    CommandRun Capture(const std::string& command, const std::string& device) { return Capture(command, device, file); }

    Bytes FileBytes() const
    {
        std::ifstream in(file, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string directory;
    std::string file;
};

// The trace as the segmented read stores it: whole 16384-byte blocks, the
// part of the last block past the trace left zero.
Bytes PaddedTrace(const std::string& device, uint32_t length)
{
    Bytes trace = DriveBuffer(device, 0x04, 0x07, length);
    trace.resize((trace.size() + 16383) / 16384 * 16384, 0);
    return trace;
}

TEST_F(CaptureCommands, SegmentedTraceOfAnUltriumDrive)
{
    CommandRun run = Capture("trace", ULTRIUM_TRACEABLE);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.lines,
              (Lines{TIME_STAMP, "SCSI Adapter: 0, Target: 0, Lun: 0", "TESSARA ULTRIUM 2, Firmware: R128 BOOT 1.2",
                     "Serial# HU1234567890", " ", "Issued Cmd: Retrieve Trace Data from drive.",
                     "Trace completed, binary file created.", " "}));
    const Bytes written = FileBytes();
    EXPECT_EQ(written.size(), 49152u) << "40000 bytes in three blocks";
    EXPECT_EQ(written, PaddedTrace(ULTRIUM_TRACEABLE, 40000));

    // The size query is tried ten times.
    EXPECT_TRUE(Capture("trace", std::string(ULTRIUM_TRACEABLE) + ",buffer-fail=07:9").result);
    EXPECT_EQ(FileBytes(), written);
}

TEST(TraceOffsets, StepBy16KiBInTwentyFourBits)
{
    struct Row {
        unsigned char before[3], after[3];
        // clang-format off
    } const rows[] = {
        {{0x00, 0x00, 0x00}, {0x00, 0x40, 0x00}},
        {{0x00, 0x40, 0x00}, {0x00, 0x80, 0x00}},
        {{0x00, 0xC0, 0x00}, {0x01, 0x00, 0x00}},
        {{0x00, 0xFF, 0xC0}, {0x01, 0x3F, 0xC0}},  // 00FFC0h + 4000h; the step is 16384 whatever the start
        {{0xFF, 0xC0, 0x00}, {0x00, 0x00, 0x00}},
    };
    // clang-format on
    for (const Row& row : rows) {
        unsigned char b2 = row.before[0], b1 = row.before[1], b0 = row.before[2];
        CDriveManager::IncrementBy16K(b2, b1, b0);
        EXPECT_EQ(Bytes({b2, b1, b0}), Bytes(row.after, row.after + 3));
    }
}

TEST_F(CaptureCommands, TraceLengthDecidesTheBlocks)
{
    struct Row {
        const char* length;
        size_t fileSize;
    } const rows[] = {{"16384", 16384}, {"32768", 32768}, {"32769", 49152},
                      {"88", 16384},    {"0", 0},         {"16777216", 16777216}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        const std::string device = std::string(ULTRIUM_TRACEABLE) + ",trace-length=" + row.length;
        CommandRun run = Capture("trace", device);
        EXPECT_TRUE(run.result);
        EXPECT_EQ(AfterOpening(run.lines),
                  (Lines{"Issued Cmd: Retrieve Trace Data from drive.", "Trace completed, binary file created.", " "}));
        const Bytes written = FileBytes();
        ASSERT_EQ(written.size(), row.fileSize);
        if (row.fileSize <= 65536) {
            EXPECT_EQ(written, PaddedTrace(device, static_cast<uint32_t>(std::stoul(row.length))));
        }
    }
}

TEST_F(CaptureCommands, DatTraceIsOneReadOf64KiB)
{
    CommandRun run = Capture("trace", "dds4");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(AfterOpening(run.lines),
              (Lines{"Issued Cmd: Retrieve Trace Data from drive.", "Trace completed, binary file created.", " "}));
    EXPECT_EQ(FileBytes(), DriveBuffer("dds4", 0x04, 0x07, 65536));

    // The single read is tried ten times; a trace longer than 64 KiB is cut there.
    EXPECT_TRUE(Capture("trace", "dds4,buffer-fail=07:9,trace-length=100000").result);
    EXPECT_EQ(FileBytes(), DriveBuffer("dds4,trace-length=100000", 0x04, 0x07, 65536));
}

TEST_F(CaptureCommands, CartridgeMemoryAndEepromAreTheDrivesBuffers)
{
    CommandRun run = Capture("cmemory", "ultrium");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(AfterOpening(run.lines),
              (Lines{"Issued Cmd: Get Cartridge Memory data.", "Cartridge Memory data successfully retrieved."}));
    EXPECT_EQ(FileBytes(), DriveBuffer("ultrium", 0x01, 0x54, 4096));

    // A second capture to the same file replaces the first.
    run = Capture("eeprom", "ultrium,buffer-fail=55:9");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(AfterOpening(run.lines), (Lines{"Issued Cmd: Get EEPROM data.", "EEPROM data successfully retrieved."}));
    EXPECT_EQ(FileBytes(), DriveBuffer("ultrium", 0x01, 0x55, 8192));
    run = Capture("cmemory", "ultrium,buffer-fail=54:9");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(FileBytes(), DriveBuffer("ultrium", 0x01, 0x54, 4096));
}

struct FailureRow {
    const char* command;
    const char* device;
    Lines after;  // the lines after the drive's description
};

TEST_F(CaptureCommands, FailedCapturesWriteNoFile)
{
    // clang-format off
    const FailureRow rows[] = {
        {"trace", "ultrium", {"Issued Cmd: Retrieve Trace Data from drive.",
                              "Trace information not available with this Firmware Version.", " "}},
        {"trace", "ultrium,firmware=R127", {"Issued Cmd: Retrieve Trace Data from drive.",
                                            "Trace information not available with this Firmware Version.", " "}},
        {"trace", "ultrium,firmware=RX28", {"Issued Cmd: Retrieve Trace Data from drive.",
                                            "Trace information not available with this Firmware Version.", " "}},
        {"trace", "dds3", {"Issued Cmd: Retrieve Trace Data from drive.",
                           "Trace information not supported with this drive type.", " "}},
        {"trace", "dat", {"Issued Cmd: Retrieve Trace Data from drive.",
                          "Trace information not supported with this drive type.", " "}},
        {"trace", "crt20000n", {"Issued Cmd: Retrieve Trace Data from drive.",
                                "Trace information not supported with this drive type.", " "}},
        // The size query is tried ten times; then the capture fails.
        {"trace", "ultrium,firmware=R128,buffer-fail=07:10",
         {"Issued Cmd: Retrieve Trace Data from drive.", "Trace cmd failed to get data.", " "}},
        // A block is not tried again.
        {"trace", "ultrium,firmware=R128,trace-block-fail=2",
         {"Issued Cmd: Retrieve Trace Data from drive.", "Trace cmd failed to get data.", " "}},
        // A trace beyond what a 24-bit offset reaches cannot be read whole.
        {"trace", "ultrium,firmware=R128,trace-length=16777217",
         {"Issued Cmd: Retrieve Trace Data from drive.", "Trace cmd failed to get data.", " "}},
        {"trace", "dds4,buffer-fail=07:10",
         {"Issued Cmd: Retrieve Trace Data from drive.", "Trace cmd failed to get data.", " "}},
        {"cmemory", "ultrium,buffer-fail=54:10",
         {"Issued Cmd: Get Cartridge Memory data.", "Unable to read cartridge memory."}},
        {"cmemory", "ultrium,nocart", {"Issued Cmd: Get Cartridge Memory data.", "Unable to read cartridge memory."}},
        {"eeprom", "ultrium,buffer-fail=55", {"Issued Cmd: Get EEPROM data.", "Unable to read eeprom."}},
        {"cmemory", "dds4",
         {"Issued Cmd: Get Cartridge Memory data.", "This command is only available for use with the Nivra Ultrium drive."}},
        {"eeprom", "crt8000n",
         {"Issued Cmd: Get EEPROM data.", "This command is only available for use with the Nivra Ultrium drive."}},
    };
    // clang-format on
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(std::string(row.command) + " on " + row.device);
        CommandRun run = Capture(row.command, row.device);
        EXPECT_FALSE(run.result);
        EXPECT_EQ(AfterOpening(run.lines), row.after);
        EXPECT_FALSE(fs::exists(file));
    }
}

TEST_F(CaptureCommands, FailedCaptureLeavesAnEarlierFileAsItWas)
{
    ASSERT_TRUE(Capture("eeprom", "ultrium").result);
    EXPECT_FALSE(Capture("trace", "ultrium,firmware=R128,trace-block-fail=1").result);
    EXPECT_FALSE(Capture("cmemory", "ultrium,buffer-fail=54").result);
    EXPECT_EQ(FileBytes(), DriveBuffer("ultrium", 0x01, 0x55, 8192));
}

TEST_F(CaptureCommands, FileNameMissing)
{
    InProcessDiagnostic diagnostic;
    CommandRun run = diagnostic.Run("eeprom; -dev:sim:ultrium; -id:x;");
    EXPECT_FALSE(run.result);
    EXPECT_EQ(AfterOpening(run.lines),
              (Lines{"Issued Cmd: Get EEPROM data.", "-f:filename must be used with binary output commands."}));
}

TEST_F(CaptureCommands, FileThatCannotBeWrittenFailsTheCaptureAndKeepsTheEarlierOne)
{
    ASSERT_TRUE(Capture("cmemory", "ultrium").result);
    const Bytes earlier = FileBytes();
    const Lines eepromNotOpened{"Issued Cmd: Get EEPROM data.", "Can't open filename for binary write."};
    const struct {
        const char* command;
        const char* device;
        std::string target;
        rlim_t sizeLimit;
        Lines after;
        std::string reason;
    } rows[] = {
        {"trace",
         "dds4",
         directory + "/missing/trace.bin",
         RLIM_INFINITY,
         {"Issued Cmd: Retrieve Trace Data from drive.", "Can't open filename for binary write.",
          "Trace cmd failed to get data.", " "},
         "No such file or directory"},
        {"eeprom", "ultrium", directory, RLIM_INFINITY, eepromNotOpened, "Is a directory"},
        // The disk fills up halfway through the 8192 bytes.
        {"eeprom",
         "ultrium",
         file,
         6000,
         {"Issued Cmd: Get EEPROM data.", "Can't write filename for binary output."},
         "File too large"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.target);
        testing::internal::CaptureStderr();
        CommandRun run;
        {
            FileSizeLimit limit(row.sizeLimit);
            run = Capture(row.command, row.device, row.target);
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "tapediag: capture file " + row.target + ": " + row.reason + "\n");
        EXPECT_FALSE(run.result);
        EXPECT_EQ(AfterOpening(run.lines), row.after);
    }
    EXPECT_EQ(FileBytes(), earlier);
    // Nothing half-written is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), 1);
}

}  // namespace
