// The client program: runs one diagnostic command line on a remote server
// and shows its output as if the diagnostic had run here.
#ifndef TAPEDIAG_CLIENTPROGRAM_H
#define TAPEDIAG_CLIENTPROGRAM_H

#include <cstdio>

#include "VString.h"

class CClientProgress;
class CNetworkClient;

// Takes the connection switches (-ip:, -cp:, -pw:, matched anywhere in an
// argument) out of argv: each one found sets its value and is replaced by
// the text "null". A later switch of a kind overrides an earlier one.
void GetCmdLineCommunicationsParams(int argc, char** argv, CVString& address, CVString& password, CVString& port);

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
// success (or took a shutdown), 0 for every failure, a rejected command line
// and a connection that ended before the command's end.
int RunClient(int argc, char** argv);

#endif
