// Runs the built tapediag once and returns its status and output lines, with
// the time stamp line replaced by a fixed marker so whole outputs compare.
#ifndef TAPEDIAG_TEST_TAPEDIAGRUN_H
#define TAPEDIAG_TEST_TAPEDIAGRUN_H

#include <regex>
#include <string>
#include <vector>

#include "ChildProcess.h"

const char* const TIME_STAMP = "<time stamp>";

struct TapediagRun {
    int status;
    std::vector<std::string> lines;  // standard output, time stamps replaced
    std::string errors;
};

inline bool IsTimeStamp(const std::string& line)
{
    static const std::regex stamp("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
    return std::regex_match(line, stamp);
}

inline TapediagRun RunTapediag(const std::vector<std::string>& args, const std::string& input = "")
{
    ChildProcess tapediag(TAPEDIAG_BIN, args);
    if (!input.empty())
        tapediag.Write(input);
    TapediagRun run;
    run.status = tapediag.Finish();
    run.lines = tapediag.OutputLines();
    for (std::string& line : run.lines) {
        if (IsTimeStamp(line))
            line = TIME_STAMP;
    }
    run.errors = tapediag.Errors();
    return run;
}

// The lines of a one-command run after the start-up lines " " and
// "Checking System Configuration.".
inline std::vector<std::string> CommandLines(const TapediagRun& run)
{
    if (run.lines.size() < 2 || run.lines[1] != "Checking System Configuration.")
        return run.lines;
    return std::vector<std::string>(run.lines.begin() + 2, run.lines.end());
}

#endif
