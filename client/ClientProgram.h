// The client program: runs one diagnostic command line on a remote server
// and shows its output as if the diagnostic had run here.
#ifndef TAPEDIAG_CLIENTPROGRAM_H
#define TAPEDIAG_CLIENTPROGRAM_H

#include <cstddef>
#include <cstdio>

#include "MessageQueue.h"
#include "VString.h"

class CClientProgress;
class CNetworkClient;

// The environment variable that holds the client's password when neither
// -pw: nor -pwfile: is given, so that it need not appear in the process list.
const char* const CLIENT_PASSWORD_VARIABLE = "TAPEDIAG_PASSWORD";

// Where the password comes from: -pw: and -pwfile: are one setting, the
// later one given wins; without either, the environment.
enum PasswordSource { PASSWORD_FROM_ENVIRONMENT, PASSWORD_FROM_SWITCH, PASSWORD_FROM_FILE };

// The connection switches of a command line.
struct CConnectionSwitches {
    CVString address;  // empty: the client host's own name
    CVString port{DEFAULT_PORT_TEXT};
    CVString password;
    PasswordSource passwordSource = PASSWORD_FROM_ENVIRONMENT;
    CVString passwordFile;
};

// The connection switches as the help and the shell completion show them.
struct CClientSwitchText {
    const char* text;   // "-cp:"
    const char* value;  // what follows it, as the help names it: "PORT"
    const char* help;
};
const CClientSwitchText* ClientSwitchTexts(size_t& count);

// Takes the connection switches (-ip:, -cp:, -pw:, -pwfile:, matched
// anywhere in an argument) out of argv: each one found sets its value and
// is replaced by the text "null". A later switch of a kind overrides an
// earlier one.
void GetCmdLineCommunicationsParams(int argc, char** argv, CConnectionSwitches& switches);

// The password from -pwfile:'s file (its first line) or from the
// environment, as the switches say. False, with the reason on standard
// error, when the file cannot be read or holds no password.
bool SettlePassword(CConnectionSwitches& switches);

// The command message from argv[1] on in the delimited form
// ("rwtest; -id:x;"), leaving out arguments that are exactly "null". The
// text stays valid until the next call.
const char* CmdLineArgsToString(int argc, char** argv);

// How a command's reply ended.
enum CommandOutcome {
    COMMAND_SUCCEEDED,  // MSG_SUCCESSFUL_COMPLETION or MSG_SUCCESSFUL_FIRMWARE_UPGRADE
    COMMAND_FAILED,     // MSG_UNSUCCESSFUL_COMPLETION
    COMMAND_REJECTED,   // MSG_BAD_PARAMETERS: nothing was run
    COMMAND_CUT_OFF     // the connection ended before a closing token
};

// Shows the reply to a command on out until its completion token or the end
// of the connection. execName is shown in the short help when the server
// rejects the command line. A connection that ends first is reported with
// one line on standard error. progressLine, when given, shows the progress
// tokens of a test.
CommandOutcome ReceiveCommandOutput(CNetworkClient& client, std::FILE* out, const char* execName,
                                    CClientProgress* progressLine = nullptr);

// The whole program; returns its exit status: 1 when the server reported
// success (or took a shutdown) and for --help, -h and --version, 0 for every
// failure, a rejected command line and a connection that ended before the
// command's end. diagnosticHelp holds the diagnostic's command and switch
// lines of the complete help, up to a null.
int RunClient(int argc, char** argv, const char* const* diagnosticHelp);

#endif
