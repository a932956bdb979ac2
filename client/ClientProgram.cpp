#include "ClientProgram.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "ClientProgress.h"
#include "DelimitedText.h"
#include "Help.h"
#include "MessageQueue.h"
#include "NetworkClient.h"

namespace {

char nullArgument[] = "null";

const int RECEIVE_BUFFER = 4096;

// The value of a connection switch: the argument past its first four
// characters, wherever in the argument the switch was found.
void TakeSwitch(char*& argument, CVString& value)
{
    value = argument + 4;
    argument = nullArgument;
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

}  // namespace

void GetCmdLineCommunicationsParams(int argc, char** argv, CVString& address, CVString& password, CVString& port)
{
    if (argc < 2)
        return;
    for (int i = 1; i < argc; ++i) {
        if (std::strstr(argv[i], "-ip:") != nullptr)
            TakeSwitch(argv[i], address);
        else if (std::strstr(argv[i], "-cp:") != nullptr)
            TakeSwitch(argv[i], port);
        else if (std::strstr(argv[i], "-pw:") != nullptr)
            TakeSwitch(argv[i], password);
    }
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
            help.DisplayHelp(execName);
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

int RunClient(int argc, char** argv)
{
    // A server that vanishes must fail a send, not end the client.
    std::signal(SIGPIPE, SIG_IGN);

    CVString address;
    CVString password;
    CVString port(DEFAULT_PORT_TEXT);
    GetCmdLineCommunicationsParams(argc, argv, address, password, port);
    CVString command(CmdLineArgsToString(argc, argv));
    bool noPrompt = command.Find("-nr") != -1;

    // Nothing on the wire is escaped: a ">" would cut the command short and
    // the server would run what is left of it.
    if (command.Find('>') != -1) {
        std::fputs("CLIENT MSG: A command cannot contain the character '>'; nothing was sent.\n", stderr);
        std::fflush(stderr);
        ClosingPrompt();
        return 0;
    }

    int portNumber = 0;
    if (!ParsePort(port, portNumber)) {
        std::fprintf(stderr, "CLIENT MSG: The port must be a number from 1 to 65535: \"%s\".\n",
                     static_cast<const char*>(port));
        std::fflush(stderr);
        ClosingPrompt();
        return 0;
    }

    CNetworkClient client(address, password, portNumber);
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
