// park, unpark, get and set over virtual drives, in process with a fake
// clock: the sense rules of a refused park, every setting written and read
// back, the mode data written back byte for byte, and the retries with
// their one-second pauses.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "FakeDriverInterface.h"
#include "InProcessDiagnostic.h"
#include "LinuxDriveManager.h"
#include "RecordingPassThrough.h"
#include "SimPassThrough.h"

namespace {

using Lines = std::vector<std::string>;

class DriveSettings : public ::testing::Test {
protected:
    DriveSettings() : scope(clock) {}

    // The lines after the drive's description of `command` on a fresh drive.
    CommandRun On(const std::string& device, const std::string& command)
    {
        InProcessDiagnostic diagnostic;
        CommandRun run = diagnostic.Run(command + " -dev:sim:" + device + "; -id:x;");
        run.lines = AfterOpening(run.lines);
        return run;
    }

    CFakeClock clock;
    CFakeClockScope scope;
};

// ---- park and unpark ----

struct ParkRow {
    const char* device;
    bool park;
    bool result;
    Lines after;  // the lines after the drive's description
};

TEST_F(DriveSettings, ParkAndUnparkWithTheirSenseRules)
{
    // clang-format off
    const ParkRow rows[] = {
        {"ultrium", true, true, {"Issued Cmd: Park Drive Arm.", "Drive Arm successfully parked.", " "}},
        {"ultrium", false, true, {"Issued Cmd: Unpark Drive Arm.", "Drive Arm successfully unparked.", " "}},
        // A cartridge still in the drive: the park names it and shows the
        // sense; the unpark names it without the sense line.
        {"ultrium,media-present=02/3A/03", true, false,
         {"Issued Cmd: Park Drive Arm.", "Drive Arm failed to park.",
          "Media must be completely removed before the drive arm can be parked.", "02/3A/03/00/00", " "}},
        {"ultrium,media-present=02/3A/03", false, false,
         {"Issued Cmd: Unpark Drive Arm.", "Drive Arm failed to unpark.",
          "Media must be completely removed before the drive arm can be unparked.", " "}},
        {"ultrium,media-present=06/3F/0E", true, false,
         {"Issued Cmd: Park Drive Arm.", "Drive Arm failed to park.",
          "Media must be completely removed before the drive arm can be parked.", "06/3F/0E/00/00", " "}},
        {"ultrium,media-present=09/80/02", false, false,
         {"Issued Cmd: Unpark Drive Arm.", "Drive Arm failed to unpark.",
          "Media must be completely removed before the drive arm can be unparked.", " "}},
        // Other answers are not a cartridge: byte 2 counts whole, and the
        // qualifier of 3Ah must be 03h.
        {"ultrium,media-present=42/3A/03", true, false,
         {"Issued Cmd: Park Drive Arm.", "Drive Arm failed to park.", "42/3A/03/00/00", " "}},
        {"ultrium,media-present=02/3A/00", false, false,
         {"Issued Cmd: Unpark Drive Arm.", "Drive Arm failed to unpark.", "02/3A/00/00/00", " "}},
        // The unload is tried six times; the park command once.
        {"ultrium,fail=1b@1-6", true, false,
         {"Issued Cmd: Park Drive Arm.", "Drive Arm failed to park.", "04/44/00/00/00", " "}},
        {"ultrium,fail=1b@1-5", true, true, {"Issued Cmd: Park Drive Arm.", "Drive Arm successfully parked.", " "}},
        {"ultrium,fail=06", false, false,
         {"Issued Cmd: Unpark Drive Arm.", "Drive Arm failed to unpark.", "04/44/00/00/00", " "}},
        {"ultrium,unsupported=06", true, false,
         {"Issued Cmd: Park Drive Arm.", "Drive Arm failed to park.", "05/20/00/00/00", " "}},
        {"dds4", true, false,
         {"Issued Cmd: Park Drive Arm.", "This command is only available for use with the Nivra Ultrium drive."}},
        {"crt8000n", false, false,
         {"Issued Cmd: Unpark Drive Arm.", "This command is only available for use with the Nivra Ultrium drive."}},
    };
    // clang-format on
    for (const ParkRow& row : rows) {
        SCOPED_TRACE(std::string(row.park ? "park on " : "unpark on ") + row.device);
        CommandRun run = On(row.device, row.park ? "park;" : "unpark;");
        EXPECT_EQ(run.result, row.result);
        EXPECT_EQ(run.lines, row.after);
    }
    EXPECT_TRUE(clock.Sleeps().empty());
}

// ---- get and set ----

TEST_F(DriveSettings, EverySettingReadsBackWhatWasSet)
{
    struct Row {
        const char* set;
        const char* setLine;
        const char* get;
        const char* getLine;
        // clang-format off
    } const rows[] = {
        {"-speed:0", "Drive speed set to Auto Select (0).", "-speed", "Drive speed currently set to Auto Select (0)."},
        {"-speed:8", "Drive speed set to 8 MB/Sec.", "-speed", "Drive speed currently set to 8 MB/Sec."},
        {"-speed:10", "Drive speed set to 10 MB/Sec.", "-speed", "Drive speed currently set to 10 MB/Sec."},
        {"-speed:12", "Drive speed set to 12 MB/Sec.", "-speed", "Drive speed currently set to 12 MB/Sec."},
        {"-speed:14", "Drive speed set to 14 MB/Sec.", "-speed", "Drive speed currently set to 14 MB/Sec."},
        {"-speed:16", "Drive speed set to 16 MB/Sec.", "-speed", "Drive speed currently set to 16 MB/Sec."},
        {"-compdefault:on", "Auto compression control on with no SCSI Mode control.", "-compdefault",
         "Auto compression control currently on with no SCSI Mode control."},
        {"-compdefault:off", "Compression disabled with no SCSI Mode control.", "-compdefault",
         "Compression currently disabled with no SCSI Mode control."},
        {"-compdefault:scsi", "Full SCSI Mode compression control. Pages 0fh & 10h control compression.",
         "-compdefault",
         "Full SCSI Mode compression control currently on. Pages 0fh & 10h control compression."},
        {"-load:hold", "Drive load parameter set to hold.", "-load", "Drive load parameter currently set to hold."},
        {"-load:off", "Drive load parameter set to off, don't load tape.", "-load",
         "Drive load parameter currently set to off, don't load tape."},
        {"-load:on", "Drive load parameter set to on, load tape.", "-load",
         "Drive load parameter currently set to on, load tape."},
    };
    // clang-format on
    static const char* const issuedSet[] = {"Issued Cmd: Set Drive Speed.", "Issued Cmd: Set Compression Mode.",
                                            "Issued Cmd: Set Load Parameter."};
    static const char* const issuedGet[] = {"Issued Cmd: Get Drive Speed.", "Issued Cmd: Get Compression Mode Setting.",
                                            "Issued Cmd: Get Load Parameter Setting."};
    InProcessDiagnostic diagnostic;
    ASSERT_TRUE(diagnostic.Run("get; -speed; -dev:sim:ultrium; -id:x;").result);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.set);
        const int which = row.get[1] == 's' ? 0 : row.get[1] == 'c' ? 1 : 2;
        CommandRun set = diagnostic.Run(std::string("set; ") + row.set + "; -id:x;");
        EXPECT_TRUE(set.result);
        EXPECT_EQ(AfterOpening(set.lines), (Lines{issuedSet[which], row.setLine, " "}));
        CommandRun get = diagnostic.Run(std::string("get; ") + row.get + "; -id:x;");
        EXPECT_TRUE(get.result);
        EXPECT_EQ(AfterOpening(get.lines), (Lines{issuedGet[which], row.getLine, " "}));
    }
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(DriveSettings, SeveralSettingsAtOnceAndNoneAtAll)
{
    InProcessDiagnostic diagnostic;
    CommandRun run = diagnostic.Run("set; -speed:12; -load:hold; -dev:sim:ultrium; -id:x;");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(AfterOpening(run.lines),
              (Lines{"Issued Cmd: Set Drive Speed.", "Drive speed set to 12 MB/Sec.", " ",
                     "Issued Cmd: Set Load Parameter.", "Drive load parameter set to hold.", " "}));
    run = diagnostic.Run("get; -speed; -compdefault; -load; -id:x;");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(AfterOpening(run.lines),
              (Lines{"Issued Cmd: Get Drive Speed.", "Drive speed currently set to 12 MB/Sec.", " ",
                     "Issued Cmd: Get Compression Mode Setting.",
                     "Full SCSI Mode compression control currently on. Pages 0fh & 10h control compression.", " ",
                     "Issued Cmd: Get Load Parameter Setting.", "Drive load parameter currently set to hold.", " "}));
    run = diagnostic.Run("get; -nr; -id:x;");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(AfterOpening(run.lines), Lines{"No values selected to display."});
    run = diagnostic.Run("set; -nr; -id:x;");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(AfterOpening(run.lines), Lines{"No values selected to change."});
}

TEST_F(DriveSettings, OnlyUltriumDrivesHaveTheseSettings)
{
    for (const char* command : {"set; -speed:8;", "get; -load;"}) {
        for (const char* device : {"dds4", "crt20000n"}) {
            SCOPED_TRACE(std::string(command) + device);
            CommandRun run = On(device, command);
            EXPECT_FALSE(run.result);
            EXPECT_EQ(run.lines, Lines{"This command is only available for use with the Nivra Ultrium drive."});
        }
    }
}

struct RetryRow {
    const char* device;
    const char* command;
    Lines after;
    std::vector<long> sleeps;
};

TEST_F(DriveSettings, ReadsAndWritesRetryWithOneSecondPauses)
{
    const std::vector<long> five(5, 1), ten(10, 1);
    // clang-format off
    const RetryRow rows[] = {
        // A read: eleven attempts, a second before each retry.
        {"ultrium,mode-sense-fail=21:10", "get; -speed;",
         {"Issued Cmd: Get Drive Speed.", "Drive speed currently set to Auto Select (0).", " "}, ten},
        {"ultrium,mode-sense-fail=21:11", "get; -speed;",
         {"Issued Cmd: Get Drive Speed.", "Unable to retrieve drive speed.", " "}, ten},
        {"ultrium,mode-sense-fail=21", "get; -compdefault;",
         {"Issued Cmd: Get Compression Mode Setting.", "Unable to retrieve SCSI mode control for compression", " "},
         ten},
        {"ultrium,mode-sense-fail=0a", "get; -load;",
         {"Issued Cmd: Get Load Parameter Setting.", "Unable to retrieve drive load status.", " "}, ten},
        // A command the drive refuses as invalid is not sent again.
        {"ultrium,unsupported=1a", "get; -speed;",
         {"Issued Cmd: Get Drive Speed.", "Unable to retrieve drive speed.", " "}, {}},
        {"ultrium,unsupported=15", "set; -speed:14;",
         {"Issued Cmd: Set Drive Speed.", "Unable to set drive speed.", " "}, {}},
        // A speed code with no speed of its own.
        {"ultrium,speed-code=1", "get; -speed;",
         {"Issued Cmd: Get Drive Speed.", "Unable to retrieve drive speed.", " "}, {}},
        // A write: six attempts at the read, then six at the select.
        {"ultrium,mode-sense-fail=21:5", "set; -speed:14;",
         {"Issued Cmd: Set Drive Speed.", "Drive speed set to 14 MB/Sec.", " "}, five},
        {"ultrium,mode-sense-fail=21:6", "set; -speed:14;",
         {"Issued Cmd: Set Drive Speed.", "Unable to set drive speed.", " "}, five},
        {"ultrium,mode-select-fail=21:5", "set; -compdefault:on;",
         {"Issued Cmd: Set Compression Mode.", "Auto compression control on with no SCSI Mode control.", " "}, five},
        {"ultrium,mode-select-fail=21:6", "set; -compdefault:on;",
         {"Issued Cmd: Set Compression Mode.", "Unable to set SCSI mode control for compression.", " "}, five},
        {"ultrium,mode-sense-fail=0a:5,mode-select-fail=0a:5", "set; -load:off;",
         {"Issued Cmd: Set Load Parameter.", "Drive load parameter set to off, don't load tape.", " "},
         std::vector<long>(10, 1)},
        {"ultrium,mode-select-fail=0a", "set; -load:off;",
         {"Issued Cmd: Set Load Parameter.", "Unable to set drive load parameter.", " "}, five},
        // A drive that reports a speed with no name still takes a new one.
        {"ultrium,speed-code=1", "set; -speed:8;",
         {"Issued Cmd: Set Drive Speed.", "Drive speed set to 8 MB/Sec.", " "}, {}},
    };
    // clang-format on
    for (const RetryRow& row : rows) {
        SCOPED_TRACE(std::string(row.command) + " on " + row.device);
        CFakeClock rowClock;
        CFakeClockScope rowScope(rowClock);
        CommandRun run = On(row.device, row.command);
        // A setting that could not be read or written fails the command.
        EXPECT_EQ(run.result, row.after[1].rfind("Unable", 0) != 0);
        EXPECT_EQ(run.lines, row.after);
        EXPECT_EQ(rowClock.Sleeps(), row.sleeps);
    }
}

TEST_F(DriveSettings, FailedSettingDoesNotStopTheNext)
{
    CommandRun run = On("ultrium,mode-select-fail=21", "set; -speed:10; -compdefault:off; -load:off;");
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.lines,
              (Lines{"Issued Cmd: Set Drive Speed.", "Unable to set drive speed.", " ",
                     "Issued Cmd: Set Compression Mode.", "Unable to set SCSI mode control for compression.", " ",
                     "Issued Cmd: Set Load Parameter.", "Drive load parameter set to off, don't load tape.", " "}));
}

// ---- the mode data written back ----

CHostPaths NowhereOnThisHost()
{
    CHostPaths paths;
    paths.sysfs = paths.dev = "/nonexistent";
    return paths;
}

TEST_F(DriveSettings, SetWritesBackEveryOtherByteAsRead)
{
    struct Row {
        const char* set;
        unsigned char page;
        size_t field;
        unsigned char keep;   // bits of the field that are not the setting
        unsigned char value;  // the setting's drive code
        // clang-format off
    } const rows[] = {
        {"-speed:16", 0x21, 2, 0xF0, 7},
        {"-speed:0", 0x21, 2, 0xF0, 0},
        {"-compdefault:off", 0x21, 11, 0x00, 2},
        {"-load:hold", 0x0A, 9, 0xF8, 1},
    };
    // clang-format on
    InProcessDiagnostic diagnostic;
    std::vector<CRecordedCommand> log;
    diagnostic.App().AdoptDriveManager(
        new CLinuxDriveManager(diagnostic.App(), {"sim:ultrium,write-protected"}, NowhereOnThisHost(),
                               [&log](const char* device, CVString& error) {
                                   COpenedDevice opened;
                                   std::unique_ptr<CSimPassThrough> sim = CSimPassThrough::Open(device + 4, error);
                                   if (sim)
                                       opened.device.reset(new CTappedPassThrough(std::move(sim), log));
                                   return opened;
                               }));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.set);
        log.clear();
        ASSERT_TRUE(diagnostic.Run(std::string("set; ") + row.set + "; -id:x;").result);
        // The read of the page, then the select of what it read.
        std::vector<unsigned char> read, written;
        int selects = 0;
        for (const CRecordedCommand& exchange : log) {
            if (exchange.cdb == std::vector<unsigned char>{0x1A, 0x08, row.page, 0x00, 0xFF, 0x00})
                read = exchange.dataIn;
            if (exchange.cdb[0] == 0x15) {
                ++selects;
                written = exchange.dataOut;
                EXPECT_EQ(exchange.cdb, (std::vector<unsigned char>{0x15, 0x10, 0x00, 0x00,
                                                                    static_cast<unsigned char>(read.size()), 0x00}));
            }
        }
        ASSERT_EQ(selects, 1);
        ASSERT_GE(read.size(), 16u);
        EXPECT_EQ(read[0] + 1u, read.size());
        std::vector<unsigned char> expected = read;
        expected[0] = 0;
        expected[1] = 0;
        expected[2] &= 0x7F;  // WP is the drive's to say, not a setting
        expected[row.field] = static_cast<unsigned char>((expected[row.field] & row.keep) | row.value);
        EXPECT_EQ(written, expected);
        EXPECT_EQ(read[2] & 0x80, 0x80) << "the cartridge is write-protected";
    }
}

// A drive whose answer stops short of what its mode data length claims.
TEST(SettingsFromAShortAnswer, AreNeitherReportedNorWrittenBack)
{
    CFakeClock clock;
    CFakeClockScope scope(clock);
    CApplication app;
    CUtility utility(&app);
    FakeDriveManager manager(app);
    manager.Add(0, 0, 0, 7);
    // Page 21h cut after 8 of its 20 bytes: byte 2 arrived, byte 11 did not.
    manager.fake.modeData = {0x13, 0x00, 0x05, 0x00, 0x21, 0x0E, 0x05, 0x00};
    manager.fake.transferLength = 8;
    int value = -1;
    EXPECT_TRUE(manager.GetNivraSpeed(value));
    EXPECT_EQ(value, 12);
    EXPECT_FALSE(manager.GetNivraCompression(value)) << "a byte never sent is no setting";
    EXPECT_FALSE(manager.SetNivraSpeed(8)) << "twelve bytes never read would be written back as zeros";
    EXPECT_EQ(manager.fake.calls["ModeSelectPage"], 0);

    manager.fake.modeData.resize(20, 0x5A);
    manager.fake.transferLength = 20;
    EXPECT_TRUE(manager.SetNivraSpeed(8));
    EXPECT_EQ(manager.fake.selectParameterLength, 20);
    EXPECT_EQ(manager.fake.selectData[2], 0x03);
    EXPECT_TRUE(clock.Sleeps().empty());
}

}  // namespace
