#include "ServerMode.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Application.h"
#include "Help.h"
#include "MessageQueue.h"
#include "MsgDelivery.h"
#include "NetworkServer.h"
#include "PasswordFile.h"
#include "Utility.h"

namespace {

// Options that count toward the limit: -pw:, -cp: and anything unknown.
const int MAX_COUNTED_ARGUMENTS = 4;
// Where the drive index starts in a drive-description request: after the
// token and one separator character.
const int FIRMWARE_INDEX_POSITION = 25;

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The started name as the help shows it: the file name without ".exe".
CVString ProgramName(const char* startedName)
{
    CVString name(startedName == nullptr ? "" : startedName);
    int slash = name.ReverseFind('/');
    if (slash != -1) {
        name = name.Mid(slash + 1, name.GetLength());
    } else {
        int colon = name.ReverseFind(':');
        if (colon != -1)
            name = name.Mid(colon + 1, name.GetLength());
    }
    int exe = name.ReverseFind(".exe");
    if (exe != -1)
        name = name.Left(exe);
    return name;
}

// A decimal index as C atoi reads it, without its undefined overflow.
int ReadIndex(const char* text)
{
    long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

CVString DottedAddress(const sockaddr_in* client)
{
    char dotted[INET_ADDRSTRLEN] = {};
    if (client != nullptr)
        inet_ntop(AF_INET, &client->sin_addr, dotted, sizeof dotted);
    return CVString(dotted);
}

// One reason why the server does not start; false for the caller to return.
bool RefuseToStart(const std::string& reason)
{
    std::fprintf(stderr, "SERVER MSG: %s\n", reason.c_str());
    std::fflush(stderr);
    return false;
}

// Why a client could never send this password; empty when it can.
std::string PasswordProblem(const std::string& password)
{
    for (unsigned char c : password) {
        // A ">" travels as "?", and a control character ends a text.
        if (c == '<' || c == '>' || c < 0x20 || c == 0x7F)
            return "The password cannot hold \"<\", \">\" or control characters: a client could never send it.";
    }
    if (password.size() > static_cast<size_t>(VSTRING_MAX_LENGTH))
        return "The password is longer than 4094 characters: a client could never send it.";
    if (password == MSG_EMPTY)
        return std::string("The password cannot be ") + MSG_EMPTY + ": a client sending it is taken to send none.";
    return "";
}

// The start-up lines that tell where the server listens and what it serves.
void AnnounceServer(const CNetworkServer& server, const CServerOptions& options)
{
    std::printf("SERVER MSG: Listening on %s port %d\n", static_cast<const char*>(server.GetHostIP()),
                server.GetBoundPort());
    if (options.directory.empty())
        std::printf("SERVER MSG: Clients may name no files (no -dir: was given)\n");
    else
        std::printf("SERVER MSG: Files named by clients are kept in %s\n", options.directory.c_str());
    std::fflush(stdout);
    if (options.password.empty() && !IsLoopbackAddress(server.GetHostIP())) {
        std::fprintf(stderr,
                     "SERVER MSG: Warning: no password is set and the server listens on %s: anyone who can reach "
                     "port %d can run destructive tests on the drives.\n",
                     static_cast<const char*>(server.GetHostIP()), server.GetBoundPort());
        std::fflush(stderr);
    }
}

void SendDriveList(CApplication& app, CNetworkServer& server, int socket)
{
    int drives = app.GetNumberOfAvailableTapeDrives();
    for (int i = 0; i < drives; ++i)
        server.SendMsg(socket, app.GetTapeDriveData(i), 0);
    server.SendMsg(socket, MSG_ALL_AVAILABLE_DRIVES_SENT, 0);
}

// The switches whose value names a file on the server host.
const char* const fileSwitches[] = {"-nov:", "-o:", "-f:", "-prom:"};

// Whether a line the parser accepted may come from a remote client. -dev:
// would let a client make the server open any path or reach any host; only
// the server's own command line may name devices. Every file name must keep
// to the server's directory (CCommandFiles), each one as written, not only
// the one that wins, so that a line holding a forbidden name never runs.
bool RemoteLineAllowed(const CUtility& utility, const CApplication& app)
{
    if (!app.GetDevices().empty())
        return false;
    for (int i = 1; i < utility.GetParameterCount(); ++i) {
        const char* parameter = utility.GetParameter(i);
        for (const char* prefix : fileSwitches) {
            if (StartsWith(parameter, prefix) && !app.Files().Allowed(parameter + std::strlen(prefix)))
                return false;
        }
    }
    return true;
}

void RunRemoteCommand(CUtility* utility, CApplication& app, CNetworkServer& server, int socket, const CVString& line)
{
    bool accepted = utility->SetParameters(line);
    if (accepted && !RemoteLineAllowed(*utility, app)) {
        app.InitializeData();
        accepted = false;
    }
    if (!accepted) {
        server.SendMsg(socket, MSG_BAD_PARAMETERS, 0);
        return;
    }
    bool result = app.RunAppl();
    const char* token = MSG_SUCCESSFUL_COMPLETION;
    if (!result)
        token = MSG_UNSUCCESSFUL_COMPLETION;
    else if (app.GetLatestCmd() == CMD_UPGRADE && app.ClientServerConnection())
        token = MSG_SUCCESSFUL_FIRMWARE_UPGRADE;
    server.SendMsg(socket, token, 0);
}

}  // namespace

CServerOptions::CServerOptions() : port(DEFAULT_PORT_TEXT)
{}

bool ParseServerArgs(int argc, char** argv, CServerOptions& options)
{
    std::vector<const char*> counted;
    for (int i = 0; i < argc; ++i) {
        const char* argument = argv[i];
        if (i < 2) {
            counted.push_back(argument);
        } else if (StartsWith(argument, "-ip:")) {
            if (argument[4] == '\0')
                return false;
            options.bindAddress = argument + 4;
        } else if (StartsWith(argument, "-dev:")) {
            const char* device = argument + 5;
            if (*device == '\0' || std::strlen(device) > static_cast<size_t>(MAX_FIELD_LENGTH))
                return false;
            options.devices.push_back(CVString(device));
        } else if (StartsWith(argument, "-dir:")) {
            if (argument[5] == '\0')
                return false;
            options.directory = argument + 5;
        } else if (StartsWith(argument, "-pwfile:")) {
            // -pw: and -pwfile: are one setting: the later one given wins.
            if (argument[8] == '\0')
                return false;
            options.passwordFile = argument + 8;
            options.passwordSource = PASSWORD_FILE;
        } else {
            if (StartsWith(argument, "-pw:")) {
                options.password = argument + 4;
                options.passwordSource = PASSWORD_OPTION;
            }
            counted.push_back(argument);
        }
    }
    if (counted.size() > static_cast<size_t>(MAX_COUNTED_ARGUMENTS))
        return false;
    bool allRecognised = true;
    for (size_t i = 2; i < counted.size(); ++i) {
        if (StartsWith(counted[i], "-cp:"))
            options.port = counted[i] + 4;
        else if (!StartsWith(counted[i], "-pw:"))
            allRecognised = false;
    }
    return allRecognised;
}

bool SettleServerOptions(CServerOptions& options, int& port)
{
    if (!ParsePort(options.port, port))
        return RefuseToStart("The port must be a number from 1 to 65535: \"" + std::string(options.port) + "\".");
    if (options.passwordSource == PASSWORD_FILE) {
        std::string reason;
        if (!ReadPasswordFile(options.passwordFile, options.password, reason))
            return RefuseToStart("Unable to read the password file " + options.passwordFile + ": " + reason + ".");
        if (options.password.empty())
            return RefuseToStart("The password file " + options.passwordFile + " holds no password on its first line.");
    } else if (options.passwordSource == PASSWORD_NONE) {
        const char* fromEnvironment = std::getenv(SERVER_PASSWORD_VARIABLE);
        options.password = fromEnvironment != nullptr ? fromEnvironment : "";
    }
    std::string problem = PasswordProblem(options.password);
    if (!problem.empty())
        return RefuseToStart(problem);
    return true;
}

bool SettleDirectory(std::string& directory, CCommandFiles& files)
{
    if (directory.empty()) {
        files.ConfineTo("");
        return true;
    }
    char resolved[PATH_MAX] = {};
    const std::string reason =
        ::realpath(directory.c_str(), resolved) == nullptr ? std::strerror(errno) : files.ConfineTo(resolved);
    if (!reason.empty())
        return RefuseToStart("Unable to use the directory " + directory + " for files named by clients: " + reason +
                             ".");
    directory = resolved;
    return true;
}

bool IsLoopbackAddress(const char* dotted)
{
    in_addr address{};
    return dotted != nullptr && inet_pton(AF_INET, dotted, &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

void DisplayServerHelp(const char* startedName)
{
    CVString name = ProgramName(startedName);
    std::printf("Server Configuration Help. %s\n", PROGRAM_BANNER);
    std::printf("%s\n\n", RIGHTS_NOTICE);
    std::printf("%s server <-pw:password | -cp:port> both optional\n\n", static_cast<const char*>(name));
    std::printf("  -pw:password, sets the password for clients (default is none)\n\n");
    std::printf("  -cp:port, changes the well known port\n");
    std::printf("            (if set, clients must change their attachment port)\n\n");
    std::printf("  -ip:address, listens on this IPv4 address (default is the host's own address)\n\n");
    std::printf("  -dev:device, serves this drive instead of the host's (may be repeated)\n\n");
    std::printf("  -dir:directory, keeps the files clients name here (without it, clients may name no file)\n\n");
    std::printf("  -pwfile:file, reads the password from the file's first line (or set %s)\n\n",
                SERVER_PASSWORD_VARIABLE);
    std::fflush(stdout);
}

int HandleRemoteRequest(CUtility* utility, CNetworkServer& server, int socket, sockaddr_in* client, char* message, int)
{
    CVString text(message);
    CVString upper(text);
    upper.MakeUpper();
    CApplication& app = utility->Controller();

    if (upper.Find("SHUTDOWN") != -1) {
        std::printf("SERVER MSG: Client request received to shutdown the server\n\n");
        std::fflush(stdout);
        return REQUEST_STOP_SERVER;
    }
    if (upper.Find(MSG_DISCONNECT) != -1) {
        std::printf("SERVER MSG: Client (%s) disconnected on %s\n\n", static_cast<const char*>(DottedAddress(client)),
                    static_cast<const char*>(CNetworkServer::TimeStamp()));
        std::fflush(stdout);
        return REQUEST_END_CONNECTION;
    }
    if (upper.Find(MSG_GET_AVAILABLE_DRIVES) != -1) {
        SendDriveList(app, server, socket);
        return REQUEST_SERVED;
    }
    if (upper.Find(MSG_GET_FIRMWARE_VERSION) == 0) {
        // Past the end of the text the CVString buffer holds zeros, which
        // read as index 0, as a bare token always has.
        int index = ReadIndex(static_cast<const char*>(text) + FIRMWARE_INDEX_POSITION);
        server.SendMsg(socket, app.GetTapeDriveData(index), 0);
        return REQUEST_SERVED;
    }
    RunRemoteCommand(utility, app, server, socket, text);
    return REQUEST_SERVED;
}

void ServeClients(CUtility* utility, CNetworkServer& server)
{
    for (;;) {
        sockaddr_in client{};
        int socket = server.Accept(&client);
        if (socket == -1)
            continue;
        CMsgDelivery::SetNetworkCommunication(&server, socket);
        int result = REQUEST_SERVED;
        char buffer[SERVER_RECEIVE_BUFFER];
        while (result == REQUEST_SERVED) {
            std::memset(buffer, 0, sizeof buffer);
            if (server.ReceiveMsg(socket, buffer, sizeof buffer) == 0)
                break;
            result = HandleRemoteRequest(utility, server, socket, &client, buffer, sizeof buffer);
        }
        close(socket);
        // Nothing should produce output between clients; if something does,
        // the console is a better place for it than a closed descriptor.
        CMsgDelivery::SetNetworkCommunication(nullptr, -1);
        if (result == REQUEST_STOP_SERVER)
            return;
    }
}

bool RunServerMode(CApplication& app, CUtility& utility, int argc, char** argv, bool& stoppedByRequest)
{
    stoppedByRequest = false;
    app.ClientServerConnection(true);

    CServerOptions options;
    bool accepted = ParseServerArgs(argc, argv, options);
    for (size_t i = 0; accepted && i < options.devices.size(); ++i)
        accepted = app.AddDevice(options.devices[i]);
    if (!accepted) {
        DisplayServerHelp(argc > 0 ? argv[0] : nullptr);
        return false;
    }
    int port = 0;
    // Every command of this mode comes from a remote client.
    if (!SettleServerOptions(options, port) || !SettleDirectory(options.directory, app.Files()))
        return false;

    // A client that goes away must fail a send, not end the server.
    std::signal(SIGPIPE, SIG_IGN);

    CMsgDelivery delivery;
    if (!app.CreateDriveManager()) {
        std::fputs("SERVER MSG: Unable to create Drive Manager\n\n", stderr);
        std::fflush(stderr);
        return false;
    }

    CNetworkServer server(options.password.c_str(), port, options.bindAddress);
    if (!server.PrepareToAcceptClient())
        return false;
    AnnounceServer(server, options);
    ServeClients(&utility, server);
    CMsgDelivery::SetNetworkCommunication(nullptr, -1);
    stoppedByRequest = true;
    return true;
}
