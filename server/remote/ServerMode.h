// Server mode: the diagnostic program serves remote clients over TCP, one at
// a time, running the command lines they send and streaming the output back.
#ifndef TAPEDIAG_SERVERMODE_H
#define TAPEDIAG_SERVERMODE_H

#include <sys/socket.h>

#include <string>
#include <vector>

#include "VString.h"

class CApplication;
class CCommandFiles;
class CNetworkServer;
class CUtility;

// The size of every receive buffer of the serving loop.
const int SERVER_RECEIVE_BUFFER = 4096;

// What HandleRemoteRequest asks of the serving loop.
enum RemoteRequestResult { REQUEST_STOP_SERVER = -1, REQUEST_END_CONNECTION = 0, REQUEST_SERVED = 1 };

// The environment variable that holds the server's password when neither
// -pw: nor -pwfile: is given, so that it need not appear in the process list.
const char* const SERVER_PASSWORD_VARIABLE = "TAPEDIAG_SERVER_PASSWORD";

// Where the password comes from; a later -pw: or -pwfile: overrides an
// earlier one.
enum PasswordSource { PASSWORD_NONE, PASSWORD_OPTION, PASSWORD_FILE };

// The options of the server command line. Defaults: no password, port
// "8800", the host's own address, host discovery, no directory for files.
struct CServerOptions {
    // The password as given (-pw:), or once settled, from wherever it came.
    std::string password;
    PasswordSource passwordSource = PASSWORD_NONE;
    std::string passwordFile;
    CVString port;
    // -ip: an IPv4 or IPv6 address or a host name; empty for the host's own
    // address.
    CVString bindAddress;
    // -dir:; empty when clients may name no file. Once settled: absolute.
    std::string directory;
    // -dev: values in the order given.
    std::vector<CVString> devices;
    CServerOptions();
};

// Reads `tapediag server [-pw:PASSWORD] [-cp:PORT] [-ip:ADDRESS] [-dev:DEVICE]...
// [-dir:DIRECTORY] [-pwfile:FILE]`. At most two options besides -ip:, -dev:,
// -dir: and -pwfile: (-pw:, -cp: or an unknown word all count); false
// rejects the command line.
bool ParseServerArgs(int argc, char** argv, CServerOptions& options);

// Settles what the command line left open and refuses what cannot work,
// each with one reason line on standard error: a port that is not 1 to
// 65535 (port receives the number); the password, read from the first line
// of -pwfile:'s file or from the environment, which must be one a client can
// send. False when the server must not start.
bool SettleServerOptions(CServerOptions& options, int& port);

// Confines the files that clients name to `directory` (-dir:), made
// absolute, opened once here and writable by the server; without one,
// clients may name no file. False, with one reason line on standard error,
// when the server must not start.
bool SettleDirectory(std::string& directory, CCommandFiles& files);

// True for a loopback address: 127.0.0.0/8 (also IPv4-mapped) or ::1.
bool IsLoopbackAddress(const char* address);

// Prints the server help for the program's started name.
void DisplayServerHelp(const char* startedName);

// The drive index of a drive-description request: the decimal number after
// the token and one separator character, as atoi reads it (0 when there is
// none), held to the range of an int.
int DriveIndexOfRequest(const char* message);

// The command line as the server's record shows it: a password it holds (a
// -pw: switch, the user%password of an iSCSI device) is left out.
std::string PasswordFreeLine(const char* line);

// Serves one received message from the client on socket, as
// ClassifyRequest tells it: a stop request, a disconnect, the drive list,
// one drive's description or a command line. size is the receive buffer's
// size and is not otherwise used.
int HandleRemoteRequest(CUtility* utility, CNetworkServer& server, int socket, const sockaddr_storage* client,
                        char* message, int size);

// Accepts one client after another and serves each until it leaves; returns
// when a client asks the server to stop.
void ServeClients(CUtility* utility, CNetworkServer& server);

// Runs server mode for `tapediag server [options]`. Returns the program's
// status (true for success); stoppedByRequest tells that a client asked the
// server to stop, which suppresses the closing prompt.
bool RunServerMode(CApplication& app, CUtility& utility, int argc, char** argv, bool& stoppedByRequest);

#endif
