// The server command line and its help.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "CommandFiles.h"
#include "NetTestSupport.h"
#include "ServerMode.h"

namespace {

struct Parsed {
    bool accepted;
    CServerOptions options;
};

Parsed Parse(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    Parsed parsed;
    parsed.accepted = ParseServerArgs(static_cast<int>(argv.size()), argv.data(), parsed.options);
    return parsed;
}

TEST(ParseServerArgsTest, AcceptedFormsAndTheirValues)
{
    Parsed parsed = Parse({"tapediag", "server"});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(parsed.options.password, "");
    EXPECT_STREQ(parsed.options.port, "8800");
    EXPECT_STREQ(parsed.options.bindAddress, "");
    EXPECT_TRUE(parsed.options.devices.empty());

    parsed = Parse({"tapediag", "server", "-cp:9000", "-pw:"});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_STREQ(parsed.options.port, "9000");
    EXPECT_EQ(parsed.options.password, "");

    // -ip: and -dev: do not count toward the limit; a later -pw: wins.
    parsed = Parse({"tapediag", "server", "-dev:sim:ultrium", "-pw:a", "-ip:127.0.0.1", "-pw:Secret", "-dev:sim:dds4",
                    "-dev:/dev/nst0"});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(parsed.options.password, "Secret");
    EXPECT_STREQ(parsed.options.bindAddress, "127.0.0.1");
    ASSERT_EQ(parsed.options.devices.size(), 3u);
    EXPECT_STREQ(parsed.options.devices[0], "sim:ultrium");
    EXPECT_STREQ(parsed.options.devices[2], "/dev/nst0");
}

TEST(ParseServerArgsTest, DirectoryAndPasswordFileDoNotCountAndTheLaterPasswordWins)
{
    Parsed parsed = Parse({"tapediag", "server", "-pw:a", "-cp:9000", "-dir:/srv/tapediag", "-pwfile:/etc/pw",
                           "-ip:127.0.0.1", "-dev:sim:dds4"});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(parsed.options.directory, "/srv/tapediag");
    EXPECT_EQ(parsed.options.passwordFile, "/etc/pw");
    EXPECT_EQ(parsed.options.passwordSource, PASSWORD_FILE);

    parsed = Parse({"tapediag", "server", "-pwfile:/etc/pw", "-pw:b"});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(parsed.options.passwordSource, PASSWORD_OPTION);
    EXPECT_EQ(parsed.options.password, "b");

    parsed = Parse({"tapediag", "server"});
    EXPECT_EQ(parsed.options.passwordSource, PASSWORD_NONE);
    EXPECT_EQ(parsed.options.directory, "");
}

TEST(ParseServerArgsTest, RejectedForms)
{
    const std::vector<std::vector<std::string>> rejected{
        {"tapediag", "server", "-x"},
        {"tapediag", "server", "-PW:a"},
        {"tapediag", "server", "-pw:a", "-cp:1", "-cp:2"},
        {"tapediag", "server", "-ip:127.0.0.1", "-pw:p", "-cp:1", "-x"},
        {"tapediag", "server", "-ip:"},
        {"tapediag", "server", "-dev:"},
        {"tapediag", "server", "-dev:" + std::string(512, 'x')},
        // A control character would cut the value to another device or address.
        {"tapediag", "server", "-dev:\x04sim:ultrium"},
        {"tapediag", "server", "-ip:127.0.0.1\t"},
        {"tapediag", "server", "-dir:"},
        {"tapediag", "server", "-pwfile:"},
        {"tapediag", "server", "-dir:/a", "-pwfile:/b", "-pw:p", "-cp:1", "-x"},
    };
    for (const std::vector<std::string>& args : rejected)
        EXPECT_FALSE(Parse(args).accepted) << args.back();
}

// Settling the options: every refusal says why, on standard error.
class SettleTest : public ::testing::Test {
protected:
    void SetUp() override { unsetenv(SERVER_PASSWORD_VARIABLE); }
    void TearDown() override { unsetenv(SERVER_PASSWORD_VARIABLE); }

    // Settles the options; errors receives what was printed.
    bool Settle(CServerOptions& options)
    {
        ::testing::internal::CaptureStderr();
        bool settled = SettleServerOptions(options, port);
        errors = ::testing::internal::GetCapturedStderr();
        return settled;
    }

    std::string WriteFile(const std::string& name, const std::string& content)
    {
        std::ofstream(scratch / name, std::ios::binary) << content;
        return scratch / name;
    }

    ScratchDirectory scratch;
    int port = 0;
    std::string errors;
};

TEST_F(SettleTest, PortMustBeANumberFromOneTo65535)
{
    for (const char* text : {"abc", "0", "65536", "99999999999", "-1", "", " 80", "80x", "+80"}) {
        CServerOptions options;
        options.port = text;
        EXPECT_FALSE(Settle(options)) << text;
        EXPECT_EQ(errors, "SERVER MSG: The port must be a number from 1 to 65535: \"" + std::string(text) + "\".\n");
    }
    for (const char* text : {"1", "8800", "65535", "09000"}) {
        CServerOptions options;
        options.port = text;
        EXPECT_TRUE(Settle(options)) << text;
        EXPECT_EQ(port, std::stoi(text));
        EXPECT_EQ(errors, "");
    }
}

TEST_F(SettleTest, PasswordComesFromTheOptionTheFileOrTheEnvironment)
{
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* environment;
        const char* fileContent;
        std::string password;
    } cases[] = {
        {"none", {}, nullptr, nullptr, ""},
        {"environment", {}, "from-env", nullptr, "from-env"},
        {"option beats the environment", {"-pw:opt"}, "from-env", nullptr, "opt"},
        {"file beats the environment", {"-pwfile:FILE"}, "from-env", "from-file\n", "from-file"},
        {"first line only, CR LF removed", {"-pwfile:FILE"}, nullptr, "first\r\nsecond\n", "first"},
        {"no line end", {"-pwfile:FILE"}, nullptr, "bare", "bare"},
        {"blanks are kept", {"-pwfile:FILE"}, nullptr, " a b \n", " a b "},
    };
    const std::string file = WriteFile("password", "");
    for (const Case& c : cases) {
        if (c.fileContent != nullptr)
            WriteFile("password", c.fileContent);
        if (c.environment != nullptr)
            setenv(SERVER_PASSWORD_VARIABLE, c.environment, 1);
        else
            unsetenv(SERVER_PASSWORD_VARIABLE);
        std::vector<std::string> args{"tapediag", "server"};
        for (const std::string& arg : c.args)
            args.push_back(arg == "-pwfile:FILE" ? "-pwfile:" + file : arg);
        Parsed parsed = Parse(args);
        ASSERT_TRUE(parsed.accepted) << c.what;
        EXPECT_TRUE(Settle(parsed.options)) << c.what << errors;
        EXPECT_EQ(parsed.options.password, c.password) << c.what;
    }
}

TEST_F(SettleTest, PasswordThatCannotBeUsedStopsTheStart)
{
    const std::string cannotTravel =
        "SERVER MSG: The password cannot hold \"<\", \">\" or control characters: a client could never send it.\n";
    struct Case {
        std::string password;
        std::string error;
    } cases[] = {
        {"a>b", cannotTravel},
        {"<a", cannotTravel},
        {"tab\there", cannotTravel},
        {std::string(VSTRING_MAX_LENGTH + 1, 'p'),
         "SERVER MSG: The password is longer than 4094 characters: a client could never send it.\n"},
        {MSG_EMPTY, "SERVER MSG: The password cannot be MSG_EMPTY: a client sending it is taken to send none.\n"},
    };
    for (const Case& c : cases) {
        CServerOptions options;
        options.password = c.password;
        options.passwordSource = PASSWORD_OPTION;
        EXPECT_FALSE(Settle(options)) << c.password;
        EXPECT_EQ(errors, c.error);
    }
    // From the environment the same rule holds.
    setenv(SERVER_PASSWORD_VARIABLE, "x>y", 1);
    CServerOptions fromEnvironment;
    EXPECT_FALSE(Settle(fromEnvironment));
    EXPECT_EQ(errors, cannotTravel);
}

TEST_F(SettleTest, PasswordFileThatGivesNoPasswordStopsTheStart)
{
    const std::string missing = scratch / "missing";
    const std::string empty = WriteFile("empty", "\nsecond line\n");
    struct Case {
        std::string file;
        std::string error;
    } cases[] = {
        {missing, "SERVER MSG: Unable to read the password file " + missing + ": No such file or directory.\n"},
        {scratch.path, "SERVER MSG: Unable to read the password file " + scratch.path + ": Is a directory.\n"},
        {empty, "SERVER MSG: The password file " + empty + " holds no password on its first line.\n"},
    };
    for (const Case& c : cases) {
        CServerOptions options;
        options.passwordFile = c.file;
        options.passwordSource = PASSWORD_FILE;
        EXPECT_FALSE(Settle(options)) << c.file;
        EXPECT_EQ(errors, c.error);
    }
}

TEST_F(SettleTest, DirectoryForClientFilesMustBeAWritableDirectoryAndIsMadeAbsolute)
{
    ASSERT_EQ(mkdir((scratch / "served").c_str(), 0700), 0);
    std::string directory = scratch.path + "/./served/../served";
    CCommandFiles files;
    EXPECT_TRUE(SettleDirectory(directory, files));
    EXPECT_EQ(directory, scratch / "served");
    EXPECT_TRUE(files.Allowed("report.txt"));

    std::string none;
    EXPECT_TRUE(SettleDirectory(none, files));
    EXPECT_FALSE(files.Allowed("report.txt")) << "without -dir: a client names no file";
    EXPECT_TRUE(files.Allowed(""));

    const struct {
        std::string directory;
        const char* reason;
    } refused[] = {{scratch / "missing", "No such file or directory."}, {WriteFile("plain", ""), "Not a directory."}};
    for (const auto& c : refused) {
        std::string given = c.directory;
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(SettleDirectory(given, files));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "SERVER MSG: Unable to use the directory " + c.directory +
                                                                " for files named by clients: " + c.reason + "\n");
    }
}

TEST(IsLoopbackAddressTest, OnlyTheLoopbackNetwork)
{
    for (const char* address : {"127.0.0.1", "127.0.1.1", "127.255.255.254", "::1", "::ffff:127.0.0.1"})
        EXPECT_TRUE(IsLoopbackAddress(address)) << address;
    for (const char* address :
         {"0.0.0.0", "128.0.0.1", "10.0.0.1", "126.255.255.255", "", "localhost", "::", "fe80::1", "::ffff:10.0.0.1"})
        EXPECT_FALSE(IsLoopbackAddress(address)) << address;
}

std::vector<std::string> HelpLines(const char* startedName)
{
    ::testing::internal::CaptureStdout();
    DisplayServerHelp(startedName);
    std::string text = ::testing::internal::GetCapturedStdout();
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(DisplayServerHelpTest, ShowsTheProgramsFileNameInTheUsageLine)
{
    std::vector<std::string> lines = HelpLines("/usr/local/bin/tapediag");
    ASSERT_GE(lines.size(), 11u);
    EXPECT_EQ(lines[0], "Server Configuration Help. Corvane Tape Diagnostic, Version 2.0");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "tapediag server <-pw:password | -cp:port> both optional");
    EXPECT_EQ(lines[5], "  -pw:password, sets the password for clients (default is none)");
    EXPECT_EQ(lines[7], "  -cp:port, changes the well known port");
    EXPECT_EQ(lines[8], "            (if set, clients must change their attachment port)");
    EXPECT_EQ(lines[9], "");
    EXPECT_EQ(lines[10].rfind("  -ip:address, ", 0), 0u);
    ASSERT_GE(lines.size(), 17u);
    EXPECT_EQ(lines[14], "  -dir:directory, keeps the files clients name here (without it, clients may name no file)");
    EXPECT_EQ(lines[16],
              "  -pwfile:file, reads the password from the file's first line (or set TAPEDIAG_SERVER_PASSWORD)");

    EXPECT_EQ(HelpLines("C:diag.exe")[3], "diag server <-pw:password | -cp:port> both optional");
    EXPECT_EQ(HelpLines("tapediag")[3], "tapediag server <-pw:password | -cp:port> both optional");
}

}  // namespace
