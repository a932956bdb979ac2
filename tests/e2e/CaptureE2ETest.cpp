// logpages, trace, cmemory, eeprom, park, unpark, get and set from the
// command line: the exit status of each, where a -f: file lands, and a
// file that cannot be written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TapediagRun.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class ScratchDirectory {
public:
    ScratchDirectory()
    {
        char pattern[] = "/tmp/tapediag-e2e-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~ScratchDirectory()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string path;
};

TEST(CaptureAndSettingsE2E, ExitStatusIsOneForSuccessAndZeroForFailure)
{
    ScratchDirectory scratch;
    const std::string file = "-f:" + scratch.path + "/out.bin";
    struct Row {
        Lines args;
        int status;
    } const rows[] = {
        {{"logpages", "-dev:sim:dds4"}, 1},
        {{"logpages", "-dev:sim:dds4,log-fail=00"}, 0},
        {{"trace", "-dev:sim:ultrium,firmware=R128", file}, 1},
        {{"trace", "-dev:sim:ultrium", file}, 0},
        {{"cmemory", "-dev:sim:ultrium", file}, 1},
        {{"cmemory", "-dev:sim:ultrium"}, 0},
        {{"eeprom", "-dev:sim:ultrium", file}, 1},
        {{"eeprom", "-dev:sim:ultrium,buffer-fail=55", file}, 0},
        {{"park", "-dev:sim:ultrium"}, 1},
        {{"park", "-dev:sim:ultrium,media-present=09/80/00"}, 0},
        {{"unpark", "-dev:sim:ultrium"}, 1},
        {{"unpark", "-dev:sim:dds4"}, 0},
        {{"get", "-speed", "-dev:sim:ultrium"}, 1},
        {{"get", "-speed", "-dev:sim:dds4"}, 0},
        {{"set", "-load:off", "-dev:sim:ultrium"}, 1},
        {{"set", "-load:off", "-dev:sim:crt8000n"}, 0},
    };
    for (const Row& row : rows) {
        Lines args = row.args;
        args.insert(args.end(), {"-id:x", "-nr"});
        TapediagRun run = RunTapediag(args);
        EXPECT_EQ(run.status, row.status) << row.args[0] << " " << row.args[1];
        for (const std::string& line : run.lines)
            EXPECT_EQ(line.find("not available in this version"), std::string::npos) << line;
    }
}

TEST(CaptureAndSettingsE2E, BareFileNameLandsInTheCurrentDirectoryNeverBesideTheProgram)
{
    // A copy of the program in a directory of its own, run by its path from another.
    ScratchDirectory programDirectory, workingDirectory;
    const std::string program = programDirectory.path + "/tapediag";
    fs::copy_file(TAPEDIAG_BIN, program);

    ChildProcess bare(program, {"eeprom", "-dev:sim:ultrium", "-id:x", "-f:eeprom.bin", "-nr"}, workingDirectory.path);
    EXPECT_EQ(bare.Finish(60000), 1) << bare.Output();
    EXPECT_EQ(fs::file_size(workingDirectory.path + "/eeprom.bin"), 8192u);
    EXPECT_FALSE(fs::exists(programDirectory.path + "/eeprom.bin"));
}

TEST(CaptureAndSettingsE2E, FileThatCannotBeWrittenFailsTheCommandAndSaysWhy)
{
    const struct {
        Lines args;
        std::string problem;
    } rows[] = {
        {{"show", "-nov:/nonexistent/r.txt"}, "tapediag: report file /nonexistent/r.txt: No such file or directory\n"},
        {{"show", "-o:/dev/full"}, "tapediag: report file /dev/full: No space left on device\n"},
        {{"cmemory", "-f:/nonexistent/m.bin"},
         "tapediag: capture file /nonexistent/m.bin: No such file or directory\n"},
        {{"eeprom", "-f:/dev/full"}, "tapediag: capture file /dev/full: No space left on device\n"},
    };
    for (const auto& row : rows) {
        Lines args = row.args;
        args.insert(args.end(), {"-dev:sim:ultrium", "-id:x", "-nr"});
        TapediagRun run = RunTapediag(args);
        EXPECT_EQ(run.status, 0) << row.args[1];
        EXPECT_EQ(run.errors, row.problem);
    }
}

}  // namespace
