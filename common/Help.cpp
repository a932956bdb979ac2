#include "Help.h"

#include <cstdio>
#include <iostream>

#include "VString.h"

const char* const PROGRAM_BANNER = "Corvane Tape Diagnostic, Version 2.0";
const char* const RIGHTS_NOTICE = "Copyright (c) 2026 tapediag developers. All rights reserved.";

void CHelp::DisplayHelp(const char* execName)
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
