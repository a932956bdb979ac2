// The diagnostic's controller and parser in this process, over virtual
// drives: one command line after another on the same drives, as in an
// interactive session, with each command's result and output lines (time
// stamps replaced). Tests that install a fake clock run the engine's pauses
// at once.
#ifndef TAPEDIAG_TEST_INPROCESSDIAGNOSTIC_H
#define TAPEDIAG_TEST_INPROCESSDIAGNOSTIC_H

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "Application.h"
#include "TapediagRun.h"
#include "Utility.h"

struct CommandRun {
    bool result = false;
    std::vector<std::string> lines;
};

class InProcessDiagnostic {
public:
    InProcessDiagnostic() : m_utility(&m_app) {}

    // Runs `line`, in the delimited form ("get; -speed; -id:x;"). The first
    // command's lines begin with " " and "Checking System Configuration.",
    // which are dropped.
    CommandRun Run(const std::string& line)
    {
        CommandRun run;
        if (!m_utility.SetParameters(line.c_str())) {
            ADD_FAILURE() << "rejected: " << line;
            return run;
        }
        testing::internal::CaptureStdout();
        run.result = m_app.RunAppl();
        std::istringstream output(testing::internal::GetCapturedStdout());
        for (std::string text; std::getline(output, text);)
            run.lines.push_back(IsTimeStamp(text) ? TIME_STAMP : text);
        if (run.lines.size() >= 2 && run.lines[0] == " " && run.lines[1] == "Checking System Configuration.")
            run.lines.erase(run.lines.begin(), run.lines.begin() + 2);
        return run;
    }

    CApplication& App() { return m_app; }

private:
    CApplication m_app;
    CUtility m_utility;
};

// The lines a command prints after its opening: the time stamp and the
// drive's description, which ends with a line holding a blank.
inline std::vector<std::string> AfterOpening(const std::vector<std::string>& lines)
{
    size_t at = 0;
    while (at < lines.size() && lines[at] != TIME_STAMP)
        ++at;
    while (at < lines.size() && lines[at] != " ")
        ++at;
    return at < lines.size() ? std::vector<std::string>(lines.begin() + static_cast<long>(at) + 1, lines.end())
                             : std::vector<std::string>();
}

#endif
