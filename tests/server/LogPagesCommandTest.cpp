// The logpages command over virtual drives: the dump's lines, the pages each
// family lists, and every way a page or the directory fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "InProcessDiagnostic.h"

namespace {

using Lines = std::vector<std::string>;

CommandRun LogPages(const std::string& device)
{
    InProcessDiagnostic diagnostic;
    return diagnostic.Run("logpages; -dev:sim:" + device + "; -id:x;");
}

// The dump lines printed under `heading`, up to the blank line after them.
Lines Dump(const Lines& lines, const std::string& heading)
{
    Lines dump;
    size_t at = 0;
    while (at < lines.size() && lines[at] != heading)
        ++at;
    for (++at; at < lines.size() && lines[at] != " "; ++at)
        dump.push_back(lines[at]);
    return dump;
}

// The bytes of a dump, read back from its "%02x " fields.
std::vector<unsigned> Bytes(const Lines& dump)
{
    std::vector<unsigned> bytes;
    for (const std::string& line : dump) {
        for (size_t at = 0; at + 3 <= line.size(); at += 3)
            bytes.push_back(static_cast<unsigned>(std::stoul(line.substr(at, 2), nullptr, 16)));
    }
    return bytes;
}

// The value of log parameter `code` in a page's bytes, or -1.
long long Parameter(const std::vector<unsigned>& page, unsigned code)
{
    for (size_t at = 4; at + 4 <= page.size(); at += 4 + page[at + 3]) {
        if (((page[at] << 8) | page[at + 1]) == code && at + 4 + page[at + 3] <= page.size()) {
            long long value = 0;
            for (size_t i = 0; i < page[at + 3]; ++i)
                value = (value << 8) | page[at + 4 + i];
            return value;
        }
    }
    return -1;
}

std::vector<size_t> LineLengths(const Lines& dump)
{
    std::vector<size_t> lengths;
    for (const std::string& line : dump)
        lengths.push_back(line.size() / 3);
    return lengths;
}

TEST(LogPagesCommand, TravanDriveDumpsItsThreePagesSixteenBytesToALine)
{
    CommandRun run = LogPages("crt8000n");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.lines, (Lines{
                             TIME_STAMP,
                             "SCSI Adapter: 0, Target: 0, Lun: 0",
                             "CORVANE CRT8000N, Firmware: 4.01",
                             " ",
                             "Issued Cmd: Print Available Log Pages.",
                             " ",
                             "Log Page 00h",
                             "00 00 00 03 00 02 03 ",
                             " ",
                             "Log Page 02h",
                             "02 00 00 38 00 00 60 04 00 00 00 00 00 01 60 04 ",
                             "00 00 00 00 00 02 60 04 00 00 00 00 00 03 60 04 ",
                             "00 00 00 00 00 04 60 04 00 00 00 00 00 05 60 04 ",
                             "00 00 00 00 00 06 60 04 00 00 00 00 ",
                             " ",
                             "Log Page 03h",
                             "03 00 00 38 00 00 60 04 00 00 00 00 00 01 60 04 ",
                             "00 00 00 00 00 02 60 04 00 00 00 00 00 03 60 04 ",
                             "00 00 00 00 00 04 60 04 00 00 00 00 00 05 60 04 ",
                             "00 00 00 00 00 06 60 04 00 00 00 00 ",
                             " ",
                         }));
}

TEST(LogPagesCommand, UltriumListsMorePagesWithLowerCaseHeadings)
{
    CommandRun run = LogPages("ultrium");
    EXPECT_TRUE(run.result);
    Lines headings;
    for (const std::string& line : run.lines) {
        if (line.compare(0, 9, "Log Page ") == 0)
            headings.push_back(line);
    }
    EXPECT_EQ(headings, (Lines{"Log Page 00h", "Log Page 02h", "Log Page 03h", "Log Page 0ch", "Log Page 0dh",
                               "Log Page 2eh", "Log Page 31h"}));
    EXPECT_EQ(Dump(run.lines, "Log Page 00h"), Lines{"00 00 00 07 00 02 03 0c 0d 2e 31 "});
    EXPECT_EQ(Dump(run.lines, "Log Page 0dh"), Lines{"0d 00 00 0c 00 00 03 02 00 23 00 01 03 02 00 3c "})
        << "a page of exactly 16 bytes is one line";
    EXPECT_EQ(LineLengths(Dump(run.lines, "Log Page 02h")), (std::vector<size_t>{16, 16, 16, 16}));
    std::vector<size_t> tapeAlert(20, 16);  // 324 bytes
    tapeAlert.push_back(4);
    EXPECT_EQ(LineLengths(Dump(run.lines, "Log Page 2eh")), tapeAlert);
}

TEST(LogPagesCommand, ByteCountersShowWhatTheTestWroteAndRead)
{
    InProcessDiagnostic diagnostic;
    ASSERT_TRUE(diagnostic.Run("rwtest; -dev:sim:ultrium; -id:x; -ts:5;").result);
    CommandRun run = diagnostic.Run("logpages; -id:x;");
    ASSERT_TRUE(run.result);
    const std::vector<unsigned> sequential = Bytes(Dump(run.lines, "Log Page 0ch"));
    const std::vector<unsigned> writeErrors = Bytes(Dump(run.lines, "Log Page 02h"));
    const std::vector<unsigned> readErrors = Bytes(Dump(run.lines, "Log Page 03h"));
    EXPECT_EQ(Parameter(sequential, 0x0000), 5 * 1048576);
    EXPECT_EQ(Parameter(sequential, 0x0000), Parameter(writeErrors, 0x0005));
    EXPECT_EQ(Parameter(sequential, 0x0003), 5 * 1048576);
    EXPECT_EQ(Parameter(sequential, 0x0003), Parameter(readErrors, 0x0005));
    const std::vector<unsigned> capacity = Bytes(Dump(run.lines, "Log Page 31h"));
    EXPECT_EQ(Parameter(capacity, 0x0003) - Parameter(capacity, 0x0001), 5) << "5 MB recorded";
}

struct FailureRow {
    const char* device;
    bool result;
    Lines after;  // the lines after "Issued Cmd: Print Available Log Pages." and its blank
};

TEST(LogPagesCommand, FailuresOfTheDirectoryAndOfOnePage)
{
    // clang-format off
    const FailureRow rows[] = {
        // Six attempts at the directory, then the command fails.
        {"crt8000n,log-fail=00:6", false, {"Unable to Access Page 0, Log Page Directory."}},
        {"crt8000n,unsupported=4d", false, {"Unable to Access Page 0, Log Page Directory."}},
        {"crt8000n,log-fail=00:5,log-short=02:0,log-short=03:0", true,
         {"Log Page 00h", "00 00 00 03 00 02 03 ", " ", "Log Page 02h", " ", "Log Page 03h", " "}},
        // A page that cannot be read does not stop the others.
        {"crt8000n,log-fail=02", true,
         {"Log Page 00h", "00 00 00 03 00 02 03 ", " ", "Log Page 02h", "Log Page Unavailable.", " ",
          "Log Page 03h", "03 00 00 38 00 00 60 04 00 00 00 00 00 01 60 04 ",
          "00 00 00 00 00 02 60 04 00 00 00 00 00 03 60 04 ", "00 00 00 00 00 04 60 04 00 00 00 00 00 05 60 04 ",
          "00 00 00 00 00 06 60 04 00 00 00 00 ", " "}},
        // A length field that claims more than the drive sent: the dump ends
        // with what was sent (here 28 bytes, a line of 16 and one of 12).
        {"crt8000n,log-short=02:28,log-short=03:0", true,
         {"Log Page 00h", "00 00 00 03 00 02 03 ", " ", "Log Page 02h",
          "02 00 00 38 00 00 60 04 00 00 00 00 00 01 60 04 ", "00 00 00 00 00 02 60 04 00 00 00 00 ", " ",
          "Log Page 03h", " "}},
        // A directory that claims more codes than it sent lists only those sent.
        {"crt8000n,log-short=00:6,log-short=02:4", true,
         {"Log Page 00h", "00 00 00 03 00 02 ", " ", "Log Page 02h", "02 00 00 38 ", " "}},
        // No code sent: nothing after the banner.
        {"crt8000n,log-short=00:3", true, {}},
        // Every page listed and none shown: the command failed.
        {"crt8000n,fail=4d@2-4", false,
         {"Log Page 00h", "Log Page Unavailable.", " ", "Log Page 02h", "Log Page Unavailable.", " ",
          "Log Page 03h", "Log Page Unavailable.", " "}},
    };
    // clang-format on
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(row.device);
        CommandRun run = LogPages(row.device);
        EXPECT_EQ(run.result, row.result);
        Lines expected{"Issued Cmd: Print Available Log Pages.", " "};
        expected.insert(expected.end(), row.after.begin(), row.after.end());
        EXPECT_EQ(AfterOpening(run.lines), expected);
    }
}

}  // namespace
