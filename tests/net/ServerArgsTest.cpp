// The server command line and its help.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    EXPECT_STREQ(parsed.options.password, "");
    EXPECT_STREQ(parsed.options.port, "8800");
    EXPECT_STREQ(parsed.options.bindAddress, "");
    EXPECT_TRUE(parsed.options.devices.empty());

    parsed = Parse({"tapediag", "server", "-cp:9000", "-pw:"});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_STREQ(parsed.options.port, "9000");
    EXPECT_STREQ(parsed.options.password, "");

    // -ip: and -dev: do not count toward the limit; a later -pw: wins.
    parsed = Parse({"tapediag", "server", "-dev:sim:ultrium", "-pw:a", "-ip:127.0.0.1", "-pw:Secret",
                    "-dev:sim:dds4", "-dev:/dev/nst0"});
    ASSERT_TRUE(parsed.accepted);
    EXPECT_STREQ(parsed.options.password, "Secret");
    EXPECT_STREQ(parsed.options.bindAddress, "127.0.0.1");
    ASSERT_EQ(parsed.options.devices.size(), 3u);
    EXPECT_STREQ(parsed.options.devices[0], "sim:ultrium");
    EXPECT_STREQ(parsed.options.devices[2], "/dev/nst0");
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
    };
    for (const std::vector<std::string>& args : rejected)
        EXPECT_FALSE(Parse(args).accepted) << args.back();
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

    EXPECT_EQ(HelpLines("C:diag.exe")[3], "diag server <-pw:password | -cp:port> both optional");
    EXPECT_EQ(HelpLines("tapediag")[3], "tapediag server <-pw:password | -cp:port> both optional");
}

}  // namespace
