#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "Application.h"
#include "FakeDriverInterface.h"
#include "Utility.h"

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
        lines.push_back(line);
    return lines;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

// A controller over a drive manager with two SCSI drives and an ATAPI one.
class Controller : public ::testing::Test {
protected:
    Controller() : utility(&app)
    {
        app.ClientServerConnection(true);  // rejected lines show no help
        manager = new FakeDriveManager(app);
        manager->Add(0, 3, 0, 7, true, "SERIAL7");
        manager->Add(1, 3, 0, 5, true, "SERIAL5");
        manager->Add(0, 6, 0, 1, false);
        app.AdoptDriveManager(manager);
        app.OSType(PLATFORM_KIND_LINUX);
    }

    // Runs a command line; returns its result and keeps the console output.
    bool Run(const char* delimited)
    {
        testing::internal::CaptureStdout();
        bool result = utility.SetParameters(delimited) && app.RunAppl();
        output = Lines(testing::internal::GetCapturedStdout());
        return result;
    }

    CTapeDrive* Selected() const { return app.GetCurrentDriveSelected(); }

    CApplication app;
    CUtility utility;
    FakeDriveManager* manager;
    std::vector<std::string> output;
};

const char* const NOT_FOUND = "Unable to find the associated drive with the address given.";

TEST_F(Controller, SelectionPrecedence)
{
    // First drive before index before address.
    EXPECT_TRUE(Run("compstatus; -id:x; -getByIndex:1; -id:6;"));
    EXPECT_EQ(Selected(), manager->GetDriveList()->GetAt(0));
    EXPECT_TRUE(Run("compstatus; -getByIndex:1; -id:6;"));
    EXPECT_EQ(Selected(), manager->GetDriveList()->GetAt(1));
    EXPECT_TRUE(Run("compstatus; -sn:serial5; -id:6;"));
    EXPECT_EQ(Selected(), manager->GetDriveList()->GetAt(1));
    // The ATAPI drive wins a target id search.
    EXPECT_TRUE(Run("compstatus; -id:6;"));
    EXPECT_EQ(Selected(), manager->GetDriveList()->GetAt(2));
}

TEST_F(Controller, SelectionFailuresAndTheirMessages)
{
    EXPECT_FALSE(Run("compstatus;"));
    EXPECT_EQ(output, std::vector<std::string>{NOT_FOUND});
    EXPECT_FALSE(Run("compstatus; -id:9;"));
    EXPECT_EQ(output, std::vector<std::string>{NOT_FOUND});
    EXPECT_FALSE(Run("compstatus; -sn:nothing;"));
    EXPECT_EQ(output, std::vector<std::string>{"Unable to find the drive associated with the given serial number."});
    EXPECT_FALSE(Run("compstatus; -getByIndex:5;"));
    EXPECT_TRUE(output.empty());
    EXPECT_FALSE(Run("compstatus; -getByIndex:-2;"));
    EXPECT_TRUE(output.empty());
    EXPECT_FALSE(Run("compstatus; -id:1:3:4;"));
    EXPECT_EQ(output, std::vector<std::string>{"Unable to find the drive associated with the SCSI address given."});
}

TEST_F(Controller, AddressFormsOnThisPlatform)
{
    EXPECT_TRUE(Run("compstatus; -id:1:3:0;"));
    EXPECT_EQ(Selected(), manager->GetDriveList()->GetAt(1));
    // Adapter and target without a lun select by the target alone.
    EXPECT_TRUE(Run("compstatus; -id:1:3;"));
    EXPECT_EQ(Selected(), manager->GetDriveList()->GetAt(0));
    EXPECT_FALSE(Run("compstatus; -id:0:0:3:0;"));
    EXPECT_EQ(output, (std::vector<std::string>{" ", "Address requires 3 parameters: -id:Adapter:Target:Lun"}));

    app.OSType(2);
    EXPECT_FALSE(Run("compstatus; -id:0:3:0;"));
    EXPECT_EQ(output, (std::vector<std::string>{" ", "Address requires 4 parameters: -id:Port:Bus:Target:Lun"}));
    EXPECT_TRUE(Run("compstatus; -id:1:0:3:0;"));
    EXPECT_EQ(Selected(), manager->GetDriveList()->GetAt(1));
}

TEST_F(Controller, FirstDriveOfAnEmptyListFailsSilently)
{
    manager->GetDriveList()->DeleteAll();
    EXPECT_FALSE(Run("compstatus; -id:x;"));
    EXPECT_TRUE(output.empty());
    EXPECT_TRUE(Run("show;"));
    EXPECT_EQ(output, (std::vector<std::string>{" ", "No tape drives recognized.", " "}));
}

TEST_F(Controller, ShowListsEveryDrive)
{
    EXPECT_TRUE(Run("show;"));
    ASSERT_GE(output.size(), 3u);
    EXPECT_EQ(output[1], "Accessible Tape Drives...");
    EXPECT_EQ(output[3], "SCSI Adapter: 0, Target: 3, Lun: 0");
    EXPECT_EQ(output.back(), " ");
}

class ReportFile : public Controller {
protected:
    ReportFile()
    {
        char pattern[] = "/tmp/tapediag-report-XXXXXX";
        int fd = mkstemp(pattern);
        close(fd);
        path = pattern;
    }
    ~ReportFile() override { std::remove(path.c_str()); }
    std::string path;
};

TEST_F(ReportFile, OutputFileGetsEveryLineAndIsAppended)
{
    EXPECT_TRUE(Run(("compstatus; -id:x; -o:" + path + ";").c_str()));
    std::vector<std::string> fileLines = Lines(ReadFile(path));
    EXPECT_EQ(fileLines, output);
    EXPECT_EQ(output.back(), " ");

    EXPECT_TRUE(Run(("show; -o:" + path + ";").c_str()));
    EXPECT_EQ(Lines(ReadFile(path)).size(), fileLines.size() + output.size());
}

TEST_F(ReportFile, NoVerboseWritesTheFileOnly)
{
    EXPECT_TRUE(Run(("compstatus; -id:x; -nov:" + path + ";").c_str()));
    EXPECT_TRUE(output.empty());
    std::vector<std::string> fileLines = Lines(ReadFile(path));
    ASSERT_GE(fileLines.size(), 3u);
    EXPECT_EQ(fileLines[1], "SCSI Adapter: 0, Target: 3, Lun: 0");
}

TEST_F(ReportFile, SelectionMessagesNeverReachTheFile)
{
    EXPECT_FALSE(Run(("compstatus; -id:9; -o:" + path + ";").c_str()));
    EXPECT_EQ(output, std::vector<std::string>{NOT_FOUND});
    EXPECT_EQ(ReadFile(path), "");
}

TEST_F(ReportFile, ReportFileThatCannotBeOpenedStopsTheCommandBeforeItRuns)
{
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Run("compstatus; -id:x; -o:/nonexistent-dir/report.txt;"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tapediag: report file /nonexistent-dir/report.txt: No such file or directory\n");
    EXPECT_TRUE(output.empty());
}

TEST(ControllerSettings, DefaultsAfterInitialize)
{
    CApplication app;
    EXPECT_EQ(app.GetLatestCmd(), 0);
    EXPECT_EQ(app.GetPort(), -1);
    EXPECT_EQ(app.GetDriveIndex(), -1);
    EXPECT_TRUE(app.Verbose());
    EXPECT_EQ(app.GetSpeedValue(), -1);
    EXPECT_FALSE(app.ClientServerConnection());
    EXPECT_EQ(app.OSType(), 0);
    EXPECT_EQ(app.GetByteType(), 1);
    EXPECT_FALSE(app.ReadOnlyTest());
    EXPECT_EQ(app.GetNumberOfAvailableTapeDrives(), 0);
    EXPECT_STREQ(app.GetTapeDriveData(0), "");
}

TEST_F(Controller, DriveDataForTheRemoteService)
{
    EXPECT_EQ(app.GetNumberOfAvailableTapeDrives(), 3);
    EXPECT_STREQ(app.GetTapeDriveData(1), "@1:3:0@5@1@0@1@CORVANE TEST DRIVE      @1234@SERIAL5@");
    EXPECT_STREQ(app.GetTapeDriveData(3), "");
    EXPECT_STREQ(app.GetTapeDriveData(-1), "");
}

TEST(ControllerLifetime, TheEngineUsesTheControllerItWasMadeWith)
{
    CApplication first;
    FakeDriveManager* manager = nullptr;
    {
        CUtility parser(&first);
        EXPECT_EQ(CUtility::GetAppl(), &first);
        manager = new FakeDriveManager(first);
        first.AdoptDriveManager(manager);
    }
    // The parser is gone: nothing can reach a controller through it.
    EXPECT_EQ(CUtility::GetAppl(), nullptr);

    CApplication second;
    CUtility other(&second);
    second.SetVerbose(false);  // a line sent through the second would not show
    EXPECT_EQ(&manager->Context(), &first);
    testing::internal::CaptureStdout();
    manager->Context().Msg(CVString("to the first"), true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "to the first\n");
}

}  // namespace
