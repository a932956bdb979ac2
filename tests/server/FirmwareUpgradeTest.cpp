// The firmware upgrade through the controller, against virtual drives that
// take a download, with the clock faked: each row of the failure table is a
// fault of the virtual drive or a property of the image file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "ControllerRun.h"
#include "DriveManager.h"
#include "FakeClock.h"
#include "FirmwareImage.h"

namespace {

using Lines = std::vector<std::string>;
using Sleeps = std::vector<long>;

const size_t IMAGE_SIZE = 65536;

const Lines ULTRIUM_BANNER = {TIME_STAMP,
                              "SCSI Adapter: 0, Target: 0, Lun: 0",
                              "TESSARA ULTRIUM 2, Firmware: 117A-5RC4 BOOT 1.2",
                              "Serial# HU1234567890",
                              " ",
                              "Issued Cmd: Upgrade firmware."};

std::vector<unsigned char> Image(const std::string& family, const std::string& level, size_t size = IMAGE_SIZE)
{
    CFirmwareImage image;
    image.family = family;
    image.level = level;
    image.size = size;
    if (family == "ultrium") {
        image.pageC0 = {{30, level + "-5RC4"}};
        image.pageC1 = {{30, "BOOT 1.2"}};
    } else if (family == "dds3") {
        image.pageC0 = {{5, level}, {17, "0110"}};
    } else if (family == "dds4") {
        image.pageC0 = {{5, level}, {19, "A7F1"}};
    }
    return MakeFirmwareImage(image);
}

Lines Joined(Lines head, const Lines& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class Upgrade : public ::testing::Test {
protected:
    // "upgrade -dev:DEVICE -id:x" and the rest, on a drive of its own.
    CCommandOutput Run(const std::string& device, const std::string& rest)
    {
        return RunCommandLine(app, utility, "upgrade -dev:sim:" + device + " -id:x " + rest);
    }

    CTapeDrive* Drive() { return app.GetDriveManager()->GetDriveList()->GetAt(0); }

    // Asks the drive whether it still holds its cartridge.
    bool CartridgeLoaded() { return app.GetDriveManager()->GetDriverInterface()->TestForUnitReady(Drive()); }

    CFakeClock clock;
    CFakeClockScope clockScope{clock};
    CApplication app;
    CUtility utility{&app};
    CScratchDirectory files;
    const std::string ultrium120B = files.Write("u120B-fw.bin", Image("ultrium", "120B"));
};

TEST_F(Upgrade, AnUltriumDriveRunsTheNewLevelAndShowsIt)
{
    const CCommandOutput run = Run("ultrium", "-f:" + ultrium120B);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.lines, Joined(ULTRIUM_BANNER, {"Firmware Version 120B installed."}));
    EXPECT_STREQ(Drive()->FirmwareDescription(), "120B-5RC4 BOOT 1.2");
    EXPECT_EQ(clock.Sleeps(), Sleeps{15});
    EXPECT_FALSE(CartridgeLoaded());  // the upgrade ejected it

    const CCommandOutput show = RunCommandLine(app, utility, "show");
    EXPECT_EQ(show.lines[4], "TESSARA ULTRIUM 2, Firmware: 120B-5RC4 BOOT 1.2");
}

TEST_F(Upgrade, AnEjectThatFailsGoesUnmentioned)
{
    const CCommandOutput run = Run("ultrium,fail=1b", "-f:" + ultrium120B);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.lines, Joined(ULTRIUM_BANNER, {"Firmware Version 120B installed."}));
    EXPECT_TRUE(CartridgeLoaded());
}

TEST_F(Upgrade, EveryFamilyThatTakesADownload)
{
    struct Case {
        const char* device;
        const char* file;
        std::vector<unsigned char> image;
        const char* installed;
        const char* description;
        // clang-format off
    } cases[] = {
        {"dds3", "d7490xyz.bin", Image("dds3", "7490"), "Firmware Version 7490 installed.", "74900110"},
        {"dds4", "x9C24abc.img", Image("dds4", "9C24"), "Firmware Version 9C24 installed.", "9C24A7F1"},
        // Without a "-" the name leaves out the level's leading 1.
        {"ultrium", "x21Cabc.bin", Image("ultrium", "121C"), "Firmware Version 121C installed.",
         "121C-5RC4 BOOT 1.2"},
    };
    // clang-format on
    for (const Case& c : cases) {
        CApplication fresh;
        CUtility parser(&fresh);
        const CCommandOutput run = RunCommandLine(
            fresh, parser, std::string("upgrade -id:x -dev:sim:") + c.device + " -f:" + files.Write(c.file, c.image));
        EXPECT_TRUE(run.result) << c.device;
        ASSERT_FALSE(run.lines.empty());
        EXPECT_EQ(run.lines.back(), c.installed);
        EXPECT_STREQ(fresh.GetDriveManager()->GetDriveList()->GetAt(0)->FirmwareDescription(), c.description);
    }
}

TEST_F(Upgrade, EveryRefusalLeavesTheCartridgeLoadedAndSaysWhyOnStandardError)
{
    const std::string small = files.Write("u120B-sm.bin", std::vector<unsigned char>(16383));
    std::vector<unsigned char> withTail = Image("ultrium", "120B");
    withTail.resize(IMAGE_SIZE + 100);
    const std::string tail = files.Write("u120B-tl.bin", withTail);
    const std::string empty = files.Write("u120B-em.bin", {});
    const std::string same = files.Write("u117A-fw.bin", Image("ultrium", "117A"));
    const std::string missing = files.path + "/u120B-no.bin";
    const std::string folder = files.path + "/u120B-dr.bin";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    // One block past what the 24-bit buffer offset reaches from 0 and from
    // 100000h; sparse, so they cost no disk.
    const std::string wraps = files.Write("u120B-wr.bin", {});
    ASSERT_EQ(truncate(wraps.c_str(), 16L * 1024 * 1024 + 16384), 0);
    const std::string dds3Wraps = files.Write("d7490-wr.bin", {});
    ASSERT_EQ(truncate(dds3Wraps.c_str(), 15L * 1024 * 1024 + 16384), 0);
    const char* corrupted = "The selected firmware file appears corrupted.";
    const std::string notBlocks = " bytes, not a whole number of 16384-byte blocks";
    struct Case {
        std::string device;
        std::string rest;
        const char* message;
        std::string reason;  // the line on standard error, if any
        // clang-format off
    } cases[] = {
        {"dat", "-f:" + ultrium120B, "Firmware Upgrade not supported with this drive type.", ""},
        {"crt20000n", "-f:" + ultrium120B, "Firmware Upgrade not supported with this drive type.", ""},
        {"ultrium", "", "The firmware file name appears invalid.", ""},
        {"ultrium", "-f:" + files.path + "/u2bcd-fw.bin", "The firmware file name appears invalid.", ""},
        {"ultrium,oem", "-f:" + ultrium120B, "Unable to continue. OEM specific firmware required.", ""},
        {"ultrium", "-f:" + missing, "Unable to open firmware file.", missing + ": No such file or directory"},
        {"ultrium", "-f:" + small, corrupted, small + ": 16383" + notBlocks},
        {"ultrium", "-f:" + tail, corrupted, tail + ": 65636" + notBlocks},
        {"ultrium", "-f:" + empty, corrupted, empty + ": 0" + notBlocks},
        {"ultrium", "-f:" + folder, corrupted, folder + ": not a regular file"},
        {"ultrium", "-f:" + wraps, corrupted,
         wraps + ": 16793600 bytes, more than the 16777216 this drive can take in one download"},
        {"dds3", "-f:" + dds3Wraps, corrupted,
         dds3Wraps + ": 15745024 bytes, more than the 15728640 this drive can take in one download"},
        // Discovery asks four times (standard data, serial, two firmware pages).
        {"ultrium,fail=12@5-15", "-f:" + ultrium120B, "Initial drive inquiry failed.", ""},
        {"ultrium", "-f:" + same, "Current firmware level is newer or the same as the one to be installed.", ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device + " " + c.rest);
        CApplication fresh;
        CUtility parser(&fresh);
        ::testing::internal::CaptureStderr();
        const CCommandOutput run = RunCommandLine(fresh, parser, "upgrade -id:x -dev:sim:" + c.device + " " + c.rest);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  c.reason.empty() ? "" : "tapediag: firmware file " + c.reason + "\n");
        EXPECT_FALSE(run.result);
        ASSERT_GE(run.lines.size(), 2u);
        EXPECT_EQ(Lines(run.lines.end() - 2, run.lines.end()), (Lines{c.message, " "}));
        CDriveManager* manager = fresh.GetDriveManager();
        EXPECT_TRUE(manager->GetDriverInterface()->TestForUnitReady(manager->GetDriveList()->GetAt(0)));
    }
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(Upgrade, AnImageThatFillsTheWholeBufferOffsetIsTaken)
{
    const std::string whole = files.Write("u120B-16.bin", Image("ultrium", "120B", 16L * 1024 * 1024));
    EXPECT_TRUE(Run("ultrium", "-f:" + whole).result);
}

TEST_F(Upgrade, TheBannerComesFirstEvenForARefusal)
{
    const CCommandOutput run = Run("ultrium", "");
    EXPECT_EQ(run.lines, Joined(ULTRIUM_BANNER, {"The firmware file name appears invalid.", " "}));
}

TEST_F(Upgrade, TheIgnoreSwitchPassesTheOemAndLevelChecks)
{
    EXPECT_TRUE(Run("ultrium,oem", "-i -f:" + ultrium120B).result);
    CApplication other;
    CUtility parser(&other);
    const std::string same = files.Write("u117A-fw.bin", Image("ultrium", "117A"));
    const CCommandOutput run = RunCommandLine(other, parser, "upgrade -id:x -dev:sim:ultrium -i -f:" + same);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.lines.back(), "Firmware Version 117A installed.");
}

TEST_F(Upgrade, AnOemDriveTakesAnOemImage)
{
    const std::string oem = files.Write("u120B-52.bin", Image("ultrium", "120B"));
    const CCommandOutput run = Run("ultrium,oem", "-f:" + oem);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.lines.back(), "Firmware Version 120B installed.");
}

TEST_F(Upgrade, TheEleventhInitialInquiryIsStillInTime)
{
    EXPECT_TRUE(Run("ultrium,fail=12@5-14", "-f:" + ultrium120B).result);
}

TEST_F(Upgrade, AFailedDownloadReportsTheFailureOrTheTimeOut)
{
    const std::string foreign = files.Write("u120B-ds.bin", Image("dds4", "120B"));
    const std::string headless = files.Write("u120B-nh.bin", std::vector<unsigned char>(IMAGE_SIZE, 0x5A));
    const char* failed = "The operation failed during the actual upgrade of firmware.";
    const char* timedOut = "The firmware upgrade operation timed-out before completing.";
    const Lines dds3TimeOut = {timedOut,
                               "DDS3 drives that share a bus with a CDROM or Disk",
                               "typically exhibit time-outs during firmware upgrade.",
                               "The time-out is forced by one of the other devices.",
                               "In most cases, the firmware upgrade is successful;",
                               "however, the system usually requires a power-cycle."};
    const std::string dds3 = files.Write("d7490xyz.bin", Image("dds3", "7490"));
    struct Case {
        std::string device;
        std::string file;
        Lines tail;
        // clang-format off
    } cases[] = {
        {"ultrium,download-fail=2", ultrium120B, {failed, "0B/47/00/00/00"}},
        // The drive answered GOOD but took half the block: no save follows.
        {"ultrium,download-short=3", ultrium120B, {failed, "00/00/00/00/00"}},
        {"ultrium,save-fail", ultrium120B, {failed, "04/44/00/00/00"}},
        {"ultrium", foreign, {failed, "05/26/02/00/00"}},
        {"ultrium", headless, {failed, "05/26/00/00/00"}},
        // A stand-alone drive has 180 s, an autoloader 600 s.
        {"ultrium,save-fail=180", ultrium120B, {failed, "04/44/00/00/00"}},
        {"ultrium,save-fail=181", ultrium120B, {timedOut}},
        {"ultrium,autoloader,save-fail=300", ultrium120B, {failed, "04/44/00/00/00"}},
        {"ultrium,autoloader,save-fail=601", ultrium120B, {timedOut}},
        // A DDS3 drive whose save fails late is waited for as one that
        // resets; one that never answers again has run out of time. (The
        // fourth INQUIRY is the upgrade's own first one.)
        {"dds3,save-fail=30,fail=12@5-1000", dds3, dds3TimeOut},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        CApplication fresh;
        CUtility parser(&fresh);
        ::testing::internal::CaptureStderr();
        const CCommandOutput run =
            RunCommandLine(fresh, parser, "upgrade -id:x -dev:sim:" + c.device + " -f:" + c.file);
        ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(run.result);
        ASSERT_GE(run.lines.size(), c.tail.size() + 1);
        EXPECT_EQ(run.lines[run.lines.size() - c.tail.size() - 1], "Issued Cmd: Upgrade firmware.");
        EXPECT_EQ(Lines(run.lines.end() - static_cast<long>(c.tail.size()), run.lines.end()), c.tail);
    }
}

TEST_F(Upgrade, ADds3DriveWhoseSaveFailsLateIsTakenForAResetAndFoundUnchanged)
{
    const std::string dds3 = files.Write("d7490xyz.bin", Image("dds3", "7490"));
    const CCommandOutput run = Run("dds3,save-fail=30", "-f:" + dds3);
    EXPECT_FALSE(run.result);
    EXPECT_EQ(run.lines.back(), "Firmware upgrade failed installation.");
}

TEST_F(Upgrade, ARestartingDriveIsAskedUntilItsTimeIsUpAndMustReportTheNewLevel)
{
    const char* installed = "Firmware Version 120B installed.";
    const char* notBack = "Post-Upgrade Drive Inquiry Failed.";
    const char* notInstalled = "Firmware upgrade failed installation.";
    const std::string dds3 = files.Write("d7490xyz.bin", Image("dds3", "7490"));
    struct Case {
        std::string device;
        std::string file;
        const char* last;
        // clang-format off
    } cases[] = {
        {"ultrium,restart=10", ultrium120B, installed},
        // A drive that resets under the save, or reports its reset for a while.
        {"ultrium,save-reset", ultrium120B, installed},
        {"ultrium,reset-attention=30", ultrium120B, installed},
        {"ultrium,save-reset,reset-attention=30", ultrium120B, installed},
        {"dds3,save-reset=3", dds3, "Firmware Version 7490 installed."},
        // A slow drive is waited for 15 s, then for a minute while it says
        // it is becoming ready, then asked every 2 s until 180 s have passed
        // since its restart (600 s in an autoloader).
        {"ultrium,restart=53", ultrium120B, installed},
        {"ultrium,restart=54", ultrium120B, notBack},
        {"ultrium,autoloader,restart=200", ultrium120B, installed},
        {"dds3,save-reset=1000", dds3, notBack},
        {"ultrium,keeps-old-level", ultrium120B, notInstalled},
        // The image holds another level than its name says.
        {"ultrium", files.Write("u120B-xx.bin", Image("ultrium", "121C")), notInstalled},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device + " " + c.file);
        CApplication fresh;
        CUtility parser(&fresh);
        const CCommandOutput run =
            RunCommandLine(fresh, parser, "upgrade -id:x -dev:sim:" + c.device + " -f:" + c.file);
        EXPECT_EQ(run.lines.back(), c.last);
        EXPECT_EQ(run.result, run.lines.back() != notBack && run.lines.back() != notInstalled);
    }
}

TEST_F(Upgrade, TheNewLevelShowsEvenWhenTheVendorPagesDoNotAnswer)
{
    // Discovery and the refresh after the upgrade each give up after ten
    // failed requests for page C0h.
    const std::string dds3 = files.Write("d7490xyz.bin", Image("dds3", "7490"));
    const CCommandOutput run = Run("dds3,vpd-fail=20", "-f:" + dds3);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.lines[2], "CORVANE DAT24 DDS3, Firmware: 7480");
    EXPECT_STREQ(Drive()->FirmwareDescription(), "7490");
}

TEST_F(Upgrade, ABareFileNameIsLookedForInTheCurrentDirectory)
{
    char* previous = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(files.path.c_str()), 0);
    const CCommandOutput run = Run("ultrium", "-f:u120B-fw.bin");
    EXPECT_EQ(chdir(previous), 0);
    free(previous);
    EXPECT_TRUE(run.result);
}

// The image script of the README, run as a user runs it.
int MakeImage(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {TAPEDIAG_SOURCE_DIR "/scripts/make-firmware-image.sh"};
    all.insert(all.end(), args.begin(), args.end());
    ChildProcess script("/bin/sh", all);
    return script.Finish(60000);
}

TEST_F(Upgrade, TheScriptsImageUpgradesAVirtualDriveAsTheReadmeShows)
{
    const std::string ultrium = files.path + "/u120B-sc.bin";
    ASSERT_EQ(MakeImage({"ultrium", "120B", "1048576", ultrium}), 0);
    CCommandOutput run = Run("ultrium", "-f:" + ultrium);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.lines.back(), "Firmware Version 120B installed.");
    run = RunCommandLine(app, utility, "show");
    EXPECT_EQ(run.lines[4], "TESSARA ULTRIUM 2, Firmware: 120B-5RC4 BOOT 1.2");

    struct Case {
        const char* family;
        const char* device;
        const char* file;
        const char* level;
        const char* description;
        // clang-format off
    } cases[] = {
        {"dds3", "dds3", "d7490xyz.bin", "7490", "74900110"},
        {"dds4", "dds4", "x9C24abc.img", "9C24", "9C24A7F1"},
    };
    // clang-format on
    for (const Case& c : cases) {
        const std::string path = files.path + "/" + c.file;
        ASSERT_EQ(MakeImage({c.family, c.level, "32768", path}), 0);
        CApplication fresh;
        CUtility parser(&fresh);
        run = RunCommandLine(fresh, parser, std::string("upgrade -id:x -dev:sim:") + c.device + " -f:" + path);
        EXPECT_TRUE(run.result) << c.family;
        EXPECT_STREQ(fresh.GetDriveManager()->GetDriveList()->GetAt(0)->FirmwareDescription(), c.description);
    }

    // Page texts of one's own; bad arguments are refused.
    const std::string custom = files.path + "/u121C-cu.bin";
    ASSERT_EQ(MakeImage({"-c0", "30:121C-OWN", "ultrium", "121C", "16384", custom}), 0);
    CApplication fresh;
    CUtility parser(&fresh);
    EXPECT_TRUE(RunCommandLine(fresh, parser, "upgrade -id:x -dev:sim:ultrium -f:" + custom).result);
    EXPECT_STREQ(fresh.GetDriveManager()->GetDriveList()->GetAt(0)->FirmwareDescription(), "121C-OWN");
    EXPECT_EQ(MakeImage({"ultrium", "12B", "16384", custom}), 2);
    EXPECT_EQ(MakeImage({"ultrium", "120B", "64", custom}), 2);
    EXPECT_EQ(MakeImage({"ultrium", "120B", "16384"}), 2);
}

}  // namespace
