#include <gtest/gtest.h>

#include <string>

#include "Application.h"
#include "Utility.h"

namespace {

// A controller whose rejected lines show no help (as in server mode), so
// parsing runs without waiting for a key.
class Parser : public ::testing::Test {
protected:
    Parser() : utility(&app) { app.ClientServerConnection(true); }
    bool Parse(const char* delimited) { return utility.SetParameters(delimited); }
    bool ParseTyped(const char* line) { return utility.SetParameters(CUtility::BasicStrToDelimitedStr(line)); }

    CApplication app;
    CUtility utility;
};

TEST_F(Parser, CommandWordsMatchExactlyAndSetGetNeedASwitch)
{
    EXPECT_TRUE(Parse("show;"));
    EXPECT_EQ(app.GetLatestCmd(), CMD_SHOW);
    EXPECT_FALSE(Parse("Show;"));
    EXPECT_FALSE(Parse("set;"));
    EXPECT_FALSE(Parse("get;"));
    EXPECT_TRUE(Parse("set; -speed:8;"));
    EXPECT_EQ(app.GetLatestCmd(), CMD_SET);
    EXPECT_EQ(app.GetSpeedValue(), 8);
    EXPECT_TRUE(Parse("get; -speed;"));
    EXPECT_TRUE(app.GetSpeedFlag());
    EXPECT_FALSE(Parse(""));
    EXPECT_FALSE(Parse(";"));

    const char* words[] = {"rwtest", "ctest",  "upgrade", "trace",      "logpages",    "retension",  "etest", "park",
                           "unpark", "eeprom", "cmemory", "enablecomp", "disablecomp", "compstatus", "show"};
    const int ids[] = {2, 3, 4, 5, 16, 17, 6, 7, 8, 11, 12, 13, 14, 15, 1};
    for (size_t i = 0; i < sizeof ids / sizeof ids[0]; ++i) {
        std::string line = std::string(words[i]) + ";";
        EXPECT_TRUE(Parse(line.c_str())) << line;
        EXPECT_EQ(app.GetLatestCmd(), ids[i]) << line;
    }
}

TEST_F(Parser, SpeedValues)
{
    EXPECT_FALSE(Parse("set; -speed:9;"));
    EXPECT_FALSE(Parse("set; -speed:18;"));
    EXPECT_FALSE(Parse("set; -speed:;"));
    EXPECT_FALSE(Parse("set; -speed:99999999999999999999;"));
    EXPECT_TRUE(Parse("set; -speed:16;"));
    EXPECT_EQ(app.GetSpeedValue(), 16);
    EXPECT_TRUE(Parse("set; -speed:0;"));
    EXPECT_EQ(app.GetSpeedValue(), 0);
    // Not a number is no speed either: taken without effect, "set" would
    // end in "No values selected to change." as if it had done its work.
    EXPECT_FALSE(Parse("set; -speed:fast;"));
    EXPECT_FALSE(Parse("set; -speed:-8;"));
}

// Every rejected line says which argument it was and what would have been
// accepted; an accepted line leaves no reason behind.
TEST_F(Parser, RejectionReasonNamesTheArgumentAndWhatIsAccepted)
{
    const std::string commands =
        "rwtest, ctest, upgrade, trace, logpages, retension, etest, park, unpark, set, "
        "get, eeprom, cmemory, enablecomp, disablecomp, compstatus, health or show (case-sensitive)";
    const struct {
        const char* line;
        std::string reason;
    } cases[] = {
        {"", "no command given: the command is one of " + commands},
        {";", "no command given: the command is one of " + commands},
        {"SHOW;", "\"SHOW\" rejected: the command is one of " + commands},
        {"get;", "\"get\" rejected: get needs one of -speed, -compdefault or -load"},
        {"set;", "\"set\" rejected: set needs one of -speed:N, -compdefault:scsi, -compdefault:on, "
                 "-compdefault:off, -load:on, -load:hold or -load:off"},
        {"rwtest; -ts:abc;", "\"-ts:abc\" rejected: -ts: takes a whole number of megabytes"},
        {"rwtest; -ts:;", "\"-ts:\" rejected: -ts: takes a whole number of megabytes"},
        {"set; -speed:fast;", "\"-speed:fast\" rejected: -speed: takes 0, 8, 10, 12, 14 or 16"},
        {"set; -compdefault:ON;",
         "\"-compdefault:ON\" rejected: expected -compdefault:scsi, -compdefault:on or -compdefault:off"},
        {"rwtest; -id:1::3;",
         "\"-id:1::3\" rejected: -id: takes TARGET, ADAPTER:TARGET or ADAPTER:TARGET:LUN in whole numbers"},
        {"rwtest; -getByIndex:l;", "\"-getByIndex:l\" rejected: -getByIndex: takes a list position, a whole number "
                                   "from 0"},
        {"rwtest; -nov;", "\"-nov\" rejected: expected -nov:FILE"},
        {"rwtest; -TS:5;", "\"-TS:5\" rejected: expected -ts:MB"},
        {"rwtest; -f;", "\"-f\" rejected: expected -f:FILE or -fr"},
        {"rwtest; -x;", "\"-x\" rejected: no such switch (--help lists them all)"},
        {"rwtest; -nr; junk;", "\"junk\" rejected: no such switch (--help lists them all)"},
        {"show;", ""},
    };
    for (const auto& c : cases) {
        Parse(c.line);
        EXPECT_EQ(utility.RejectionReason(), c.reason) << c.line;
    }
    std::string tooLong = "rwtest; -o:" + std::string(512, 'n') + ";";
    EXPECT_FALSE(Parse(tooLong.c_str()));
    EXPECT_NE(utility.RejectionReason().find(" rejected: -o: takes a file name of at most 511 characters"),
              std::string::npos);
}

TEST_F(Parser, SettingsTablesAndOrder)
{
    EXPECT_TRUE(Parse("set; -compdefault:scsi; -load:hold;"));
    EXPECT_EQ(app.GetCompressionValue(), 0);
    EXPECT_EQ(app.GetLoadValue(), 1);
    EXPECT_TRUE(Parse("set; -compdefault:off; -load:off;"));
    EXPECT_EQ(app.GetCompressionValue(), 2);
    EXPECT_EQ(app.GetLoadValue(), 2);
    EXPECT_TRUE(Parse("get; -compdefault; -load;"));
    EXPECT_TRUE(app.GetCompressionFlag());
    EXPECT_TRUE(app.GetLoadFlag());
    EXPECT_FALSE(Parse("set; -compdefault:maybe;"));

    EXPECT_TRUE(Parse("rwtest; -fr; -i; -e; -nr; -ts:0;"));
    EXPECT_TRUE(app.IsRetensionChecked());
    EXPECT_TRUE(app.IgnoreSwitchSet());
    EXPECT_TRUE(app.EngineeringMode());
    EXPECT_TRUE(app.NRSwitch());
    EXPECT_EQ(app.GetMegaBytesSet(), 0);

    // Nothing carries over to the next line.
    EXPECT_TRUE(Parse("rwtest;"));
    EXPECT_FALSE(app.IsRetensionChecked());
    EXPECT_FALSE(app.NRSwitch());
    EXPECT_TRUE(app.Verbose());
}

TEST_F(Parser, AddressForms)
{
    EXPECT_TRUE(Parse("rwtest; -id:3;"));
    EXPECT_EQ(app.GetPort(), -1);
    EXPECT_EQ(app.GetTarget(), 3);
    EXPECT_EQ(app.GetLun(), -1);
    EXPECT_TRUE(Parse("rwtest; -id:1:3;"));
    EXPECT_EQ(app.GetPort(), 1);
    EXPECT_EQ(app.GetTarget(), 3);
    EXPECT_TRUE(Parse("rwtest; -id:0:3:0;"));
    EXPECT_EQ(app.GetPort(), 0);
    EXPECT_EQ(app.GetBus(), -1);
    EXPECT_EQ(app.GetLun(), 0);
    EXPECT_TRUE(Parse("rwtest; -id:0:1:3:0;"));
    EXPECT_EQ(app.GetBus(), 1);
    EXPECT_EQ(app.GetTarget(), 3);
    EXPECT_FALSE(Parse("rwtest; -id:1::3;"));
    EXPECT_FALSE(Parse("rwtest; -id:a:3;"));
    EXPECT_FALSE(Parse("rwtest; -id:1:2:3:4:5;"));
    EXPECT_FALSE(Parse("rwtest; -id:3:;"));
    EXPECT_TRUE(Parse("rwtest; -id:x;"));
    EXPECT_TRUE(app.FirstDriveSelected());
    EXPECT_EQ(app.GetTarget(), -1);

    EXPECT_TRUE(Parse("rwtest; -getByIndex:2;"));
    EXPECT_EQ(app.GetDriveIndex(), 2);
    EXPECT_TRUE(Parse("rwtest; -getByIndex:0;"));
    EXPECT_EQ(app.GetDriveIndex(), 0);
}

// A drive index that is not a whole number must not fall back to drive 0,
// where a destructive test would run on a drive nobody named.
TEST_F(Parser, DriveIndexTyposRejectTheLine)
{
    for (const char* line : {"rwtest; -getByIndex:l;", "rwtest; -getByIndex:x;", "rwtest; -getByIndex:1x;",
                             "rwtest; -getByIndex:-1;", "rwtest; -getByIndex: 1;", "rwtest; -getByIndex:+1;",
                             "rwtest; -getByIndex:99999999999;", "rwtest; -getByIndex:;"}) {
        EXPECT_FALSE(Parse(line)) << line;
        EXPECT_EQ(app.GetDriveIndex(), -1) << line;
    }
    EXPECT_FALSE(ParseTyped("rwtest -getByIndex:l -ts:100"));
}

TEST_F(Parser, PrefixSwitchesNeedAValue)
{
    EXPECT_FALSE(Parse("rwtest; -o:;"));
    EXPECT_FALSE(Parse("rwtest; -f:;"));
    EXPECT_FALSE(Parse("rwtest; -sn:;"));
    EXPECT_FALSE(Parse("rwtest; -ts:;"));
    EXPECT_FALSE(Parse("rwtest; -dev:;"));
    EXPECT_FALSE(Parse("rwtest; -nov;"));
    EXPECT_FALSE(Parse("rwtest; -ts:abc;"));
    EXPECT_FALSE(Parse("rwtest; -ts:-5;"));
    EXPECT_TRUE(Parse("rwtest; -ts:300; -sn:abc; -f:x.bin;"));
    EXPECT_EQ(app.GetMegaBytesSet(), 300);
    EXPECT_STREQ(app.GetSerialNumber(), "abc");
    CVString file;
    app.GetFileSelected(file);
    EXPECT_STREQ(file, "x.bin");
}

TEST_F(Parser, NoVerboseAndOutputFileShareTheName)
{
    EXPECT_TRUE(Parse("rwtest; -nov:;"));
    EXPECT_FALSE(app.Verbose());
    EXPECT_STREQ(app.GetOutputFileName(), "");
    EXPECT_TRUE(Parse("rwtest; -nov:out.txt; -o:b.txt;"));
    EXPECT_FALSE(app.Verbose());
    EXPECT_STREQ(app.GetOutputFileName(), "b.txt");
    EXPECT_TRUE(Parse("rwtest; -o:b.txt; -nov:out.txt;"));
    EXPECT_STREQ(app.GetOutputFileName(), "out.txt");
}

TEST_F(Parser, ValuesLongerThanTheirFieldRejectTheLine)
{
    std::string name(511, 'n');
    EXPECT_TRUE(Parse(("rwtest; -o:" + name + ";").c_str()));
    EXPECT_EQ(std::string(app.GetOutputFileName()), name);
    std::string tooLong(512, 'n');
    for (const char* prefix : {"-o:", "-nov:", "-f:", "-sn:", "-dev:"}) {
        std::string line = "rwtest; " + std::string(prefix) + tooLong + ";";
        EXPECT_FALSE(Parse(line.c_str())) << prefix;
    }
}

TEST_F(Parser, DevicesAreKeptInOrder)
{
    EXPECT_TRUE(Parse("show; -dev:sim:ultrium; -dev:/dev/nst0; -dev:sim:dds4,nocart;"));
    ASSERT_EQ(app.GetDevices().size(), 3u);
    EXPECT_STREQ(app.GetDevices()[0], "sim:ultrium");
    EXPECT_STREQ(app.GetDevices()[2], "sim:dds4,nocart");
    EXPECT_TRUE(Parse("show;"));
    EXPECT_TRUE(app.GetDevices().empty());
}

TEST_F(Parser, AtMost32ParametersAndTheLastNeedsItsSemicolon)
{
    std::string line = "show;";
    for (int i = 0; i < 40; ++i)
        line += " -nr;";
    EXPECT_TRUE(Parse(line.c_str()));
    EXPECT_EQ(utility.GetParameterCount(), 32);

    EXPECT_TRUE(Parse("rwtest; -nr"));
    EXPECT_EQ(utility.GetParameterCount(), 1);
    EXPECT_FALSE(app.NRSwitch());
}

TEST(DelimitedForm, ArgumentVectorAndTypedLine)
{
    char program[] = "tapediag", rw[] = "rwtest", id[] = "-id:x", ts[] = "-ts:100", null[] = "null";
    char* argv[] = {program, rw, null, id, ts};
    EXPECT_STREQ(CUtility::CmdLineArgsToDelimitedStr(5, argv), "rwtest; -id:x; -ts:100;");
    EXPECT_STREQ(CUtility::CmdLineArgsToDelimitedStr(1, argv), "");

    EXPECT_STREQ(CUtility::BasicStrToDelimitedStr("rwtest -id:x -ts:100"), "rwtest; -id:x;  -ts:100;");
    EXPECT_STREQ(CUtility::BasicStrToDelimitedStr("  show  "), "show;");
    EXPECT_STREQ(CUtility::BasicStrToDelimitedStr(""), ";");
    EXPECT_STREQ(CUtility::BasicStrToDelimitedStr("upgrade abc -id:x"), "upgrade; -id:x;");
    EXPECT_STREQ(CUtility::BasicStrToDelimitedStr("rw-x"), "rw-x; -x;");
    EXPECT_STREQ(CUtility::BasicStrToDelimitedStr("rwtest -o:my file -nr"), "rwtest; -o:my file;  -nr;");
}

TEST_F(Parser, TypedLinesParseLikeArgumentVectors)
{
    EXPECT_TRUE(ParseTyped("rwtest -id:x -ts:100"));
    EXPECT_EQ(app.GetMegaBytesSet(), 100);
    EXPECT_TRUE(app.FirstDriveSelected());
    EXPECT_TRUE(ParseTyped("rwtest -o:my file -nr"));
    EXPECT_STREQ(app.GetOutputFileName(), "my file");
    EXPECT_TRUE(ParseTyped("rwtest junk"));  // words before the switches are dropped
    EXPECT_EQ(app.GetLatestCmd(), CMD_RWTEST);
}

TEST(ProgramLocation, PathAndNameForms)
{
    struct Case {
        const char* started;
        const char* path;
        const char* name;
    } cases[] = {
        {"/opt/tools/bin/diag", "/opt/tools/bin", "diag"},
        {"C:diag.exe", "C:", "diag"},
        {"diag", "", "diag"},
        {"x:y:diag", "", "diag"},
        {"./tapediag", ".", "tapediag"},
        {"a.exe.exe", "", "a.exe"},
    };
    for (const Case& c : cases) {
        CUtility::SavePathAndExeName(c.started);
        EXPECT_STREQ(CUtility::GetPath(), c.path) << c.started;
        EXPECT_STREQ(CUtility::GetExecName(), c.name) << c.started;
    }
    std::string longPath(600, 'p');
    CUtility::SavePathAndExeName((longPath + "/x").c_str());
    EXPECT_EQ(std::string(CUtility::GetPath()).size(), 511u);
}

TEST(Numbers, IsNumberAndEqualStrings)
{
    EXPECT_TRUE(CUtility::IsNumber(""));
    EXPECT_TRUE(CUtility::IsNumber("0123"));
    EXPECT_FALSE(CUtility::IsNumber("-1"));
    EXPECT_FALSE(CUtility::IsNumber(" 1"));
    EXPECT_TRUE(CUtility::EqualStrings("ab\n", "ab"));
    EXPECT_FALSE(CUtility::EqualStrings("ab", "AB"));
}

}  // namespace
