// The diagnostic program: one command from its own arguments, an interactive
// prompt when started without arguments, or a server for remote clients when
// the first argument is "server". Exit status 1 means success, 0 failure.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "Application.h"
#include "ServerMode.h"
#include "Utility.h"

namespace {

const size_t MAX_TYPED_LINE = 511;

bool RunInteractive(CApplication& app, CUtility& utility)
{
    bool status = true;
    std::string line;
    for (int counter = 1;; ++counter) {
        std::cout << "diag(" << counter << ") " << std::flush;
        if (!std::getline(std::cin, line))
            break;
        if (line.size() > MAX_TYPED_LINE) {
            std::cout << "Line longer than " << MAX_TYPED_LINE << " characters ignored." << std::endl;
            continue;
        }
        if (line == "exit" || line == "e")
            break;
        if (utility.SetParameters(CUtility::BasicStrToDelimitedStr(line.c_str())))
            status = app.RunAppl();
    }
    return status;
}

void ClosingPrompt()
{
    std::cout << std::endl << "Press Enter to close." << std::endl;
    std::getchar();
}

}  // namespace

int main(int argc, char** argv)
{
    CApplication app;
    CUtility utility(&app);
    CUtility::SavePathAndExeName(argv[0] != nullptr ? argv[0] : "");

    if (argc < 2)
        return RunInteractive(app, utility) ? 1 : 0;

    bool status = false;
    bool stoppedByRequest = false;
    if (std::strcmp(argv[1], "server") == 0)
        status = RunServerMode(app, utility, argc, argv, stoppedByRequest);
    else if (utility.SetParameters(argc, argv))
        status = app.RunAppl();

    if (app.Verbose() && !app.NRSwitch() && !stoppedByRequest)
        ClosingPrompt();
    return status ? 1 : 0;
}
