// The client program: runs one diagnostic command line on a remote server
// and shows its output as if the diagnostic had run here.
#ifndef TAPEDIAG_CLIENTPROGRAM_H
#define TAPEDIAG_CLIENTPROGRAM_H

#include <cstdio>

#include "VString.h"

class CNetworkClient;

// Takes the connection switches (-ip:, -cp:, -pw:, matched anywhere in an
// argument) out of argv: each one found sets its value and is replaced by
// the text "null". A later switch of a kind overrides an earlier one.
void GetCmdLineCommunicationsParams(int argc, char** argv, CVString& address, CVString& password, CVString& port);

// The command message from argv[1] on in the delimited form
// ("rwtest; -id:x;"), leaving out arguments that are exactly "null". The
// text stays valid until the next call.
const char* CmdLineArgsToString(int argc, char** argv);

// Shows the reply to a command on out until its completion token or the end
// of the connection. execName is shown in the short help when the server
// rejects the command line.
void ReceiveCommandOutput(CNetworkClient& client, std::FILE* out, const char* execName);

// The whole program; returns its exit status (1 once a command was sent,
// 0 when no connection or no send came about).
int RunClient(int argc, char** argv);

#endif
