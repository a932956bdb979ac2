#include "ClientProgram.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include <string>

#include "ClientProgress.h"
#include "DelimitedText.h"
#include "Help.h"
#include "NetworkClient.h"
#include "PasswordFile.h"
#include "ProgramLocation.h"

namespace {

char nullArgument[] = "null";

const int RECEIVE_BUFFER = 4096;

const CClientSwitchText clientSwitches[] = {
    {"-ip:", "SERVER", "the server's host name or address (default: this host)"},
    {"-cp:", "PORT", "the server's TCP port, 1 to 65535 (default 8800)"},
    {"-pw:", "PASSWORD", "the server's password (shows in the process list)"},
    {"-pwfile:", "FILE", "the password is the first line of FILE"},
};

// The value of a connection switch: the argument past as many characters as
// the switch has, wherever in the argument the switch was found.
void TakeSwitch(char*& argument, const char* switchText, CVString& value)
{
    value = argument + std::strlen(switchText);
    argument = nullArgument;
}

bool Holds(const char* argument, const char* switchText)
{
    return std::strstr(argument, switchText) != nullptr;
}

bool HasArgument(int argc, char** argv, const char* wanted)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], wanted) == 0)
            return true;
    }
    return false;
}

void ClosingPrompt()
{
    std::fputs("\nPress Enter to close.\n", stdout);
    std::fflush(stdout);
    std::getchar();
}

void PrintLine(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
}

void PrintCompleteHelp(const char* const* diagnosticHelp)
{
    const std::string name = ProgramName();
    PrintLine(PROGRAM_BANNER);
    PrintLine(RIGHTS_NOTICE);
    PrintLine("\nUsage: " + name + " COMMAND [SWITCH...] [-ip:SERVER] [-cp:PORT]");
    PrintLine("       " + std::string(name.size(), ' ') + " [-pw:PASSWORD | -pwfile:FILE]");
    PrintLine("       " + name + " --help | -h | --version");
    PrintLine("Runs one command line of tapediag on a tapediag server and shows its output.\n");
    for (const char* const* line = diagnosticHelp; *line != nullptr; ++line)
        PrintLine(*line);
    PrintLine("\nConnection switches (anywhere in an argument; not sent to the server):");
    for (const CClientSwitchText& option : clientSwitches)
        PrintLine(HelpLine(std::string(option.text) + option.value, option.help));
    PrintLine("\nEnvironment:");
    PrintLine(HelpLine(CLIENT_PASSWORD_VARIABLE, "the password without -pw: or -pwfile:"));
    PrintLine("\nExit status: 1 when the server reported success, 0 otherwise (the reverse of");
    PrintLine("the usual convention).");
    PrintLine("Manual pages: tapediag-client(1), tapediag(8).");
    std::fflush(stdout);
}

// --help, -h and --version answer at once, with the success status. False
// for any other first argument.
bool AnswerHelpOrVersion(const char* argument, const char* const* diagnosticHelp)
{
    if (std::strcmp(argument, "--version") == 0) {
        std::printf("tapediag-client %s\n", PROGRAM_VERSION);
        std::fflush(stdout);
        return true;
    }
    if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
        PrintCompleteHelp(diagnosticHelp);
        return true;
    }
    return false;
}

// Why the client cannot go ahead with its command line; empty when it can.
// port receives the port number.
std::string CommandLineProblem(int argc, char** argv, const CConnectionSwitches& switches, int& port)
{
    // Nothing on the wire is escaped: a ">" would cut the command short and
    // the server would run what is left of it.
    for (int i = 1; i < argc; ++i) {
        if (std::strchr(argv[i], '>') != nullptr)
            return RejectedArgument(argv[i], "no argument may hold the character '>'; nothing was sent");
    }
    if (!ParsePort(switches.port, port))
        return RejectedArgument(std::string("-cp:") + static_cast<const char*>(switches.port),
                                "-cp: takes a port number from 1 to 65535");
    if (switches.passwordSource == PASSWORD_FROM_FILE && switches.passwordFile.IsEmpty())
        return RejectedArgument("-pwfile:", "-pwfile: takes the name of a file that holds the password");
    return "";
}

}  // namespace

const CClientSwitchText* ClientSwitchTexts(size_t& count)
{
    count = sizeof clientSwitches / sizeof clientSwitches[0];
    return clientSwitches;
}

void GetCmdLineCommunicationsParams(int argc, char** argv, CConnectionSwitches& switches)
{
    for (int i = 1; i < argc; ++i) {
        if (Holds(argv[i], "-ip:")) {
            TakeSwitch(argv[i], "-ip:", switches.address);
        } else if (Holds(argv[i], "-cp:")) {
            TakeSwitch(argv[i], "-cp:", switches.port);
        } else if (Holds(argv[i], "-pw:")) {
            TakeSwitch(argv[i], "-pw:", switches.password);
            switches.passwordSource = PASSWORD_FROM_SWITCH;
        } else if (Holds(argv[i], "-pwfile:")) {
            TakeSwitch(argv[i], "-pwfile:", switches.passwordFile);
            switches.passwordSource = PASSWORD_FROM_FILE;
        }
    }
}

bool SettlePassword(CConnectionSwitches& switches)
{
    if (switches.passwordSource == PASSWORD_FROM_ENVIRONMENT) {
        const char* fromEnvironment = std::getenv(CLIENT_PASSWORD_VARIABLE);
        switches.password = fromEnvironment != nullptr ? fromEnvironment : "";
    }
    if (switches.passwordSource != PASSWORD_FROM_FILE)
        return true;
    std::string password, reason;
    const char* file = switches.passwordFile;
    if (!ReadPasswordFile(file, password, reason)) {
        std::fprintf(stderr, "CLIENT MSG: Unable to read the password file %s: %s.\n", file, reason.c_str());
    } else if (password.empty()) {
        std::fprintf(stderr, "CLIENT MSG: The password file %s holds no password on its first line.\n", file);
    } else {
        switches.password = password.c_str();
        return true;
    }
    std::fflush(stderr);
    return false;
}

const char* CmdLineArgsToString(int argc, char** argv)
{
    static CVString command;
    command = ArgumentsToDelimitedText(argc, argv);
    return command;
}

CommandOutcome ReceiveCommandOutput(CNetworkClient& client, std::FILE* out, const char* execName,
                                    CClientProgress* progressLine)
{
    bool progress = false;
    char buffer[RECEIVE_BUFFER];
    for (;;) {
        std::memset(buffer, 0, sizeof buffer);
        if (client.ReceiveMsg(buffer, sizeof buffer) == 0) {
            std::fflush(out);
            if (progressLine != nullptr)
                progressLine->Finish();
            // A failed receive has said so already; a closed connection has not.
            if (client.LastReceive() == CMessageQueue::CLOSED) {
                std::fputs("CLIENT MSG: The connection to the server ended before the command finished.\n", stderr);
                std::fflush(stderr);
            }
            return COMMAND_CUT_OFF;
        }
        CVString message(buffer);
        if (message == MSG_SUCCESSFUL_COMPLETION || message == MSG_SUCCESSFUL_FIRMWARE_UPGRADE)
            return COMMAND_SUCCEEDED;
        if (message == MSG_MOVE_WRITE_PROGRESS_BAR || message == MSG_MOVE_READ_PROGRESS_BAR) {
            if (progressLine != nullptr)
                progressLine->Token(message == MSG_MOVE_WRITE_PROGRESS_BAR, std::time(nullptr));
            progress = true;
            continue;
        }
        if (message == MSG_UNSUCCESSFUL_COMPLETION)
            return COMMAND_FAILED;
        if (message == MSG_BAD_PARAMETERS) {
            std::fflush(out);
            CHelp help;
            help.PrintShortHelp(execName);
            // The protocol carries no reason; these are the rules a line can break.
            std::fputs("CLIENT MSG: The server rejected the command line: a command or switch it does not take, a "
                       "value out of range, -dev:, or a file name that is not a bare name.\n",
                       stderr);
            std::fflush(stderr);
            CHelp::WaitForKey();
            return COMMAND_REJECTED;
        }
        if (message == NEW_LINE && progress) {
            // This line end belongs to the progress step, which shows nothing.
            progress = false;
            continue;
        }
        if (message == MSG_EMPTY)
            continue;
        if (message == NEW_LINE) {
            std::fputc('\n', out);
        } else {
            if (progressLine != nullptr)
                progressLine->BeforeText(message, std::time(nullptr));
            std::fputs(message, out);
        }
        std::fflush(out);
    }
}

int RunClient(int argc, char** argv, const char* const* diagnosticHelp)
{
    // A server that vanishes must fail a send, not end the client.
    std::signal(SIGPIPE, SIG_IGN);
    SaveProgramLocation(argc > 0 ? argv[0] : "");
    if (argc > 1 && AnswerHelpOrVersion(argv[1], diagnosticHelp))
        return 1;

    CConnectionSwitches switches;
    GetCmdLineCommunicationsParams(argc, argv, switches);
    CVString command(CmdLineArgsToString(argc, argv));
    bool noPrompt = command.Find("-nr") != -1;

    int portNumber = 0;
    const std::string problem = CommandLineProblem(argc, argv, switches, portNumber);
    if (!problem.empty()) {
        PrintRejection(ProgramName(), problem);
        ClosingPrompt();
        return 0;
    }
    if (!SettlePassword(switches)) {
        ClosingPrompt();
        return 0;
    }

    CNetworkClient client(switches.address, switches.password, portNumber);
    // After a failed connection or send the prompt is shown even with -nr:
    // the user must get to read why nothing happened.
    if (client.ConnectToServer() < 1) {
        ClosingPrompt();
        return 0;
    }
    if (client.SendMsg(command, command.GetLength()) == 0) {
        ClosingPrompt();
        return 0;
    }
    // The server answers no shutdown: having sent it is success. Both ends
    // take the same rule for what a shutdown is.
    bool succeeded = true;
    if (ClassifyRequest(command) == REQUEST_SHUTDOWN) {
        std::fputs("\nIssued Cmd: Shutdown Server\n", stdout);
        std::fflush(stdout);
    } else {
        // Progress goes to the terminal only, never into the output.
        bool showProgress = isatty(STDERR_FILENO) == 1 && !HasArgument(argc, argv, "-noprogress");
        CClientProgress progressLine(STDERR_FILENO, showProgress);
        // The short help names the client as it was started, path and all.
        succeeded =
            ReceiveCommandOutput(client, stdout, argc > 0 ? argv[0] : nullptr, &progressLine) == COMMAND_SUCCEEDED;
        progressLine.Finish();
    }
    if (!noPrompt)
        ClosingPrompt();
    return succeeded ? 1 : 0;
}
