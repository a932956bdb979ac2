// Runs a command line through the controller inside the test process, as the
// program's one-command and interactive modes do, so that a test can install
// a fake clock: a command that waits (the firmware upgrade) runs at once.
// The output comes back as lines, with the time stamp and the start-up lines
// handled as for a run of the program.
#ifndef TAPEDIAG_TEST_CONTROLLERRUN_H
#define TAPEDIAG_TEST_CONTROLLERRUN_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Application.h"
#include "TapediagRun.h"
#include "Utility.h"

struct CCommandOutput {
    bool result;                     // what the program turns into exit status 1 or 0
    std::vector<std::string> lines;  // time stamps replaced, start-up lines dropped
};

// `line` as typed at the prompt, e.g. "upgrade -dev:sim:ultrium -id:x -f:/tmp/f.bin".
inline CCommandOutput RunCommandLine(CApplication& app, CUtility& utility, const std::string& line)
{
    ::testing::internal::CaptureStdout();
    const bool accepted = utility.SetParameters(CUtility::BasicStrToDelimitedStr(line.c_str()));
    const bool result = accepted && app.RunAppl();
    std::istringstream output(::testing::internal::GetCapturedStdout());
    TapediagRun run{result ? 1 : 0, {}, ""};
    for (std::string text; std::getline(output, text);)
        run.lines.push_back(IsTimeStamp(text) ? TIME_STAMP : text);
    return CCommandOutput{result, CommandLines(run)};
}

// A directory of its own under /tmp, removed with what it holds.
class CScratchDirectory {
public:
    CScratchDirectory()
    {
        char pattern[] = "/tmp/tapediag-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made != nullptr ? made : "";
    }
    ~CScratchDirectory()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    CScratchDirectory(const CScratchDirectory&) = delete;
    CScratchDirectory& operator=(const CScratchDirectory&) = delete;

    // Writes `bytes` to the file `name` and returns its path.
    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) const
    {
        const std::string file = path + "/" + name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

    std::string path;
};

#endif
