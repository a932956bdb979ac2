// Server mode: the diagnostic program serves remote clients over TCP, one at
// a time, running the command lines they send and streaming the output back.
#ifndef TAPEDIAG_SERVERMODE_H
#define TAPEDIAG_SERVERMODE_H

#include <netinet/in.h>

#include <vector>

#include "VString.h"

class CApplication;
class CNetworkServer;
class CUtility;

// The size of every receive buffer of the serving loop.
const int SERVER_RECEIVE_BUFFER = 4096;

// What HandleRemoteRequest asks of the serving loop.
enum RemoteRequestResult {
    REQUEST_STOP_SERVER = -1,
    REQUEST_END_CONNECTION = 0,
    REQUEST_SERVED = 1
};

// The options of the server command line. Defaults: no password, port
// "8800", the host's own address, host discovery.
struct CServerOptions {
    CVString password;
    CVString port;
    // Dotted IPv4 address from -ip:; empty for the host's own address.
    CVString bindAddress;
    // -dev: values in the order given.
    std::vector<CVString> devices;
    CServerOptions();
};

// Reads `tapediag server [-pw:PASSWORD] [-cp:PORT] [-ip:ADDRESS] [-dev:DEVICE]...`.
// At most two options besides -ip: and -dev: (-pw:, -cp: or an unknown word
// all count); false rejects the command line.
bool ParseServerArgs(int argc, char** argv, CServerOptions& options);

// Prints the server help for the program's started name.
void DisplayServerHelp(const char* startedName);

// Serves one received message from the client on socket: a stop request, a
// disconnect, the drive list, one drive's description or a command line.
// size is the receive buffer's size and is not otherwise used.
int HandleRemoteRequest(CUtility* utility, CNetworkServer& server, int socket, sockaddr_in* client, char* message,
                        int size);

// Accepts one client after another and serves each until it leaves; returns
// when a client asks the server to stop.
void ServeClients(CUtility* utility, CNetworkServer& server);

// Runs server mode for `tapediag server [options]`. Returns the program's
// status (true for success); stoppedByRequest tells that a client asked the
// server to stop, which suppresses the closing prompt.
bool RunServerMode(CApplication& app, CUtility& utility, int argc, char** argv, bool& stoppedByRequest);

#endif
