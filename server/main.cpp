// The diagnostic program: one command from its own arguments, an interactive
// prompt when started without arguments, or a server for remote clients when
// the first argument is "server"; --help, -h and --version print what they
// say. Exit status 1 means success, 0 failure.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "Application.h"
#include "Help.h"
#include "ServerMode.h"
#include "ServerOptionTable.h"
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

void PrintCompleteHelp()
{
    const std::string name = CUtility::GetExecName();
    std::cout << PROGRAM_BANNER << "\n"
              << RIGHTS_NOTICE << "\n\n"
              << "Usage: " << name << " COMMAND [SWITCH...]\n"
              << "       " << name << "\n"
              << "       " << name << " server [OPTION...]\n"
              << "       " << name << " --help | -h | --version\n"
              << "Runs one command; without arguments, one command line after another at\n"
              << "the prompt; with server, the commands tapediag-client sends over TCP.\n\n";
    for (const std::string& line : CUtility::HelpLines())
        std::cout << line << "\n";
    std::cout << "\nServer options:\n";
    size_t count = 0;
    const CServerOptionText* options = ServerOptionTexts(count);
    for (size_t i = 0; i < count; ++i)
        std::cout << HelpLine(std::string(options[i].text) + options[i].value, options[i].help) << "\n";
    std::cout << "\nEnvironment:\n"
              << HelpLine(SERVER_PASSWORD_VARIABLE, "server: the password without -pw: or -pwfile:")
              << "\n\nExit status: 1 for success, 0 for failure (the reverse of the usual\n"
              << "convention).\n"
              << "Manual pages: tapediag(8), tapediag-client(1)." << std::endl;
}

// --help, -h and --version answer without a closing prompt, with the
// success status. False for any other first argument.
bool AnswerHelpOrVersion(const char* argument)
{
    if (std::strcmp(argument, "--version") == 0) {
        std::cout << "tapediag " << PROGRAM_VERSION << std::endl;
        return true;
    }
    if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
        PrintCompleteHelp();
        return true;
    }
    return false;
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
    if (AnswerHelpOrVersion(argv[1]))
        return 1;

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
