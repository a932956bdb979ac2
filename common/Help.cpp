#include "Help.h"

#include <cstdio>
#include <iostream>

#include "VString.h"

const char* const PROGRAM_BANNER = "Corvane Tape Diagnostic, Version 2.0";
const char* const RIGHTS_NOTICE = "Copyright (c) 2026 tapediag developers. All rights reserved.";
const char* const PROGRAM_VERSION = TAPEDIAG_VERSION;

namespace {

// Where the descriptions of a complete help start.
const size_t HELP_COLUMN = 24;
const size_t HELP_INDENT = 2;

}  // namespace

void CHelp::DisplayHelp(const char* execName)
{
    PrintShortHelp(execName);
    WaitForKey();
}

void CHelp::PrintShortHelp(const char* execName)
{
    CVString usage(execName == nullptr ? "exec" : execName);
    usage += " cmd <switch><value>";

    std::cout << PROGRAM_BANNER << std::endl;
    std::cout << RIGHTS_NOTICE << std::endl;
    std::cout << std::endl;
    std::cout << static_cast<const char*>(usage) << std::endl;
    std::cout << std::endl;
    std::cout << "where \"cmd\" is one of the following:" << std::endl;
    PrintDetailedHelp();
    std::cout << std::endl;
    std::cout << "See READ-ME for additional commands." << std::endl;
}

void CHelp::WaitForKey()
{
    std::getchar();
}

void CHelp::PrintDetailedHelp()
{
    static const char* const lines[] = {
        "   rwtest     tape read-write test, (Caution: Use Scratch Tape.)",
        "   ctest      hardware compression test, (Caution: Use Scratch Tape.)",
        "   upgrade    upgrade firmware (supported drives only)",
        "   logpages   output drive log pages (text)",
        "   show       show all drives recognized by this diagnostic",
        "",
        "Switches:",
        "   -o:<text file name>",
        "   -f:<binary file name>",
        "   -id:x (use the first drive seen by the diagnostic)",
        "   -id:<TargetId> (for use where duplicate TargetId's do not exist)",
        "   (See READ-ME for additional options)",
        "   -ts:<test size in megabytes> (default 200 MB)",
        "   -fr (force retension before read/write tests, default No-Retension)",
        "   -nr (don't display: \"Press Enter to close\" at the end of execution)",
        "   -nov:<output file name> (no verbose, output goes to the file only)",
    };
    for (const char* line : lines)
        std::cout << line << std::endl;
}

std::string HelpLine(const std::string& term, const std::string& description)
{
    std::string line(HELP_INDENT, ' ');
    line += term;
    line.append(line.size() + 2 <= HELP_COLUMN ? HELP_COLUMN - line.size() : 2, ' ');
    return line + description;
}

std::string Alternatives(const std::vector<std::string>& items)
{
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            text += i + 1 == items.size() ? " or " : ", ";
        text += items[i];
    }
    return text;
}

std::string RejectedArgument(const std::string& argument, const std::string& accepted)
{
    return "\"" + argument + "\" rejected: " + accepted;
}

void PrintRejection(const char* program, const std::string& reason)
{
    std::cout << std::flush;
    std::fprintf(stderr, "%s: %s\n", program, reason.c_str());
    std::fflush(stderr);
}
