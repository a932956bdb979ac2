// The built tapediag as a process: run modes, closing prompt, exit status.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

#include "ChildProcess.h"
#include "CommandTable.h"
#include "Help.h"
#include "ServerOptionTable.h"
#include "Utility.h"

namespace {

const char* const HELP_USAGE = " cmd <switch><value>";

bool HostHasTapeDevices()
{
    struct stat info;
    return stat("/sys/class/scsi_tape", &info) == 0;
}

TEST(Program, RejectedLineShowsHelpThenClosingPromptAndFails)
{
    ChildProcess tapediag(TAPEDIAG_BIN, {"Show"});
    tapediag.Write("\n\n");
    EXPECT_EQ(tapediag.Finish(), 0);
    std::vector<std::string> lines = tapediag.OutputLines();
    ASSERT_GE(lines.size(), 24u);
    EXPECT_EQ(lines[0], "Corvane Tape Diagnostic, Version 2.0");
    EXPECT_EQ(lines[3], std::string("tapediag") + HELP_USAGE);
    EXPECT_EQ(lines[5], "where \"cmd\" is one of the following:");
    EXPECT_EQ(lines[6], "   rwtest     tape read-write test, (Caution: Use Scratch Tape.)");
    EXPECT_EQ(lines[20], "   -nr (don't display: \"Press Enter to close\" at the end of execution)");
    EXPECT_EQ(lines[23], "See READ-ME for additional commands.");
    EXPECT_EQ(lines[24], "");
    EXPECT_EQ(lines[25], "Press Enter to close.");
    // The reason goes to standard error, leaving the help as it was.
    EXPECT_EQ(tapediag.Errors().rfind("tapediag: \"Show\" rejected: the command is one of rwtest, ", 0), 0u)
        << tapediag.Errors();
}

// --help lists every command, switch and server option of the tables, one
// line each; like --version it ends at once with the success status.
TEST(Program, HelpAndVersionAnswerWithoutPromptAndSucceed)
{
    std::vector<std::string> entries;
    size_t count = 0;
    const CCommandRow* rows = CommandRows(count);
    for (size_t i = 0; i < count; ++i)
        entries.push_back(std::string("  ") + rows[i].word + " ");
    for (const CSwitchText& form : CUtility::SwitchTexts())
        entries.push_back(std::string("  ") + form.text + (form.takesValue ? "" : " "));
    const CServerOptionText* options = ServerOptionTexts(count);
    for (size_t i = 0; i < count; ++i)
        entries.push_back(std::string("  ") + options[i].text + options[i].value + " ");

    for (const char* option : {"--help", "-h"}) {
        ChildProcess tapediag(TAPEDIAG_BIN, {option});
        EXPECT_EQ(tapediag.Finish(), 1) << option;
        EXPECT_EQ(tapediag.Errors(), "") << option;
        const std::string& help = tapediag.Output();
        EXPECT_EQ(help.find("\nPress Enter to close.\n"), std::string::npos) << option;
        for (const std::string& entry : entries)
            EXPECT_NE(help.find("\n" + entry), std::string::npos) << option << ": " << entry;
    }
    ChildProcess version(TAPEDIAG_BIN, {"--version"});
    EXPECT_EQ(version.Finish(), 1);
    EXPECT_EQ(version.Output(), std::string("tapediag ") + PROGRAM_VERSION + "\n");
}

TEST(Program, ShowWithoutDrives)
{
    if (HostHasTapeDevices())
        GTEST_SKIP() << "this host has tape devices";
    ChildProcess tapediag(TAPEDIAG_BIN, {"show", "-nr"});
    EXPECT_EQ(tapediag.Finish(), 1);
    EXPECT_EQ(tapediag.Output(), " \nChecking System Configuration.\n \nNo tape drives recognized.\n \n");
}

TEST(Program, ClosingPromptUnlessNrOrNoVerbose)
{
    ChildProcess prompted(TAPEDIAG_BIN, {"show", "-dev:sim:changer"});
    EXPECT_EQ(prompted.Finish(), 1);
    EXPECT_NE(prompted.Output().find(" \n\nPress Enter to close.\n"), std::string::npos);

    ChildProcess quiet(TAPEDIAG_BIN, {"show", "-dev:sim:changer", "-nov:"});
    EXPECT_EQ(quiet.Finish(), 1);
    EXPECT_EQ(quiet.Output(), "");
}

TEST(Program, FailedCommandExitsZero)
{
    ChildProcess tapediag(TAPEDIAG_BIN, {"rwtest", "-dev:sim:changer", "-nr"});
    EXPECT_EQ(tapediag.Finish(), 0);
    EXPECT_NE(tapediag.Output().find("Unable to find the associated drive with the address given."), std::string::npos);
    EXPECT_NE(tapediag.Errors().find("sim:changer"), std::string::npos);
}

TEST(Interactive, PromptsCountUpAndEEndsWithoutClosingPrompt)
{
    ChildProcess tapediag(TAPEDIAG_BIN, {});
    tapediag.Write("show -dev:sim:changer\nshow\ne\n");
    EXPECT_EQ(tapediag.Finish(), 1);
    const std::string& out = tapediag.Output();
    EXPECT_EQ(out.find("diag(1) "), 0u);
    EXPECT_NE(out.find("diag(2) "), std::string::npos);
    EXPECT_NE(out.find("diag(3) "), std::string::npos);
    EXPECT_EQ(out.find("diag(4) "), std::string::npos);
    // Discovery runs once: only the first command checks the configuration.
    size_t first = out.find("Checking System Configuration.");
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(out.find("Checking System Configuration.", first + 1), std::string::npos);
    EXPECT_EQ(out.find("Press Enter to close."), std::string::npos);
}

TEST(Interactive, EndOfInputEndsTheSession)
{
    ChildProcess tapediag(TAPEDIAG_BIN, {});
    tapediag.Write("show -dev:sim:changer");
    EXPECT_EQ(tapediag.Finish(), 1);
    EXPECT_NE(tapediag.Output().find("No tape drives recognized."), std::string::npos);
}

TEST(Interactive, OverlongLineIsSkippedWhole)
{
    ChildProcess tapediag(TAPEDIAG_BIN, {});
    tapediag.Write("show -dev:sim:changer -o:" + std::string(600, 'x') + "\nexit\n");
    EXPECT_EQ(tapediag.Finish(), 1);
    EXPECT_NE(tapediag.Output().find("ignored"), std::string::npos);
    EXPECT_EQ(tapediag.Output().find("Checking System Configuration."), std::string::npos);
    EXPECT_NE(tapediag.Output().find("diag(2) "), std::string::npos);
}

TEST(Interactive, FailedCommandMakesTheStatusZero)
{
    ChildProcess tapediag(TAPEDIAG_BIN, {});
    tapediag.Write("rwtest -dev:sim:changer\ne\n");
    EXPECT_EQ(tapediag.Finish(), 0);
}

}  // namespace
