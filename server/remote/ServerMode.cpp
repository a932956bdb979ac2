#include "ServerMode.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Application.h"
#include "DeviceOpener.h"
#include "Help.h"
#include "MessageQueue.h"
#include "MsgDelivery.h"
#include "NetworkServer.h"
#include "PasswordFile.h"
#include "Utility.h"

namespace {

// Options that count toward the limit: -pw:, -cp: and anything unknown.
const int MAX_COUNTED_ARGUMENTS = 4;

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

// Whether a value is not empty and would be taken in whole as a text of the
// program: no control character, which would cut it, and at most `longest`
// characters. A value cut short would name another address or device.
bool WholeText(const char* value, int longest)
{
    const size_t length = std::strlen(value);
    return length > 0 && length <= static_cast<size_t>(longest) && std::none_of(value, value + length, [](char c) {
               return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
           });
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
    for (const CVString& address : server.GetHostAddresses())
        std::printf("SERVER MSG: Listening on %s port %d\n", static_cast<const char*>(address), server.GetBoundPort());
    if (options.directory.empty())
        std::printf("SERVER MSG: Clients may name no files (no -dir: was given)\n");
    else
        std::printf("SERVER MSG: Files named by clients are kept in %s\n", options.directory.c_str());
    std::fflush(stdout);
    if (!options.password.empty())
        return;
    for (const CVString& address : server.GetHostAddresses()) {
        if (IsLoopbackAddress(address))
            continue;
        std::fprintf(stderr,
                     "SERVER MSG: Warning: no password is set and the server listens on %s: anyone who can reach "
                     "port %d can run destructive tests on the drives.\n",
                     static_cast<const char*>(address), server.GetBoundPort());
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

// Runs one command line; the token that ends its reply.
const char* RunCommandLine(CUtility* utility, CApplication& app, const CVString& line)
{
    bool accepted = utility->SetParameters(line);
    if (accepted && !RemoteLineAllowed(*utility, app)) {
        app.InitializeData();
        accepted = false;
    }
    if (!accepted)
        return MSG_BAD_PARAMETERS;
    if (!app.RunAppl())
        return MSG_UNSUCCESSFUL_COMPLETION;
    if (app.GetLatestCmd() == CMD_UPGRADE && app.ClientServerConnection())
        return MSG_SUCCESSFUL_FIRMWARE_UPGRADE;
    return MSG_SUCCESSFUL_COMPLETION;
}

void RunRemoteCommand(CUtility* utility, CApplication& app, CNetworkServer& server, int socket, const CVString& line)
{
    // An empty request is what the wire makes of one that held a control byte.
    server.ClientRecord(line.IsEmpty() ? std::string("command: (empty, or it held a control character)")
                                       : "command: " + PasswordFreeLine(line));
    const char* token = RunCommandLine(utility, app, line);
    server.SendMsg(socket, token, 0);
    server.ClientRecord(std::string("outcome: ") + token);
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
            if (!WholeText(argument + 4, VSTRING_MAX_LENGTH))
                return false;
            options.bindAddress = argument + 4;
        } else if (StartsWith(argument, "-dev:")) {
            if (!WholeText(argument + 5, MAX_FIELD_LENGTH))
                return false;
            options.devices.push_back(CVString(argument + 5));
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

bool IsLoopbackAddress(const char* address)
{
    if (address == nullptr)
        return false;
    in_addr v4{};
    if (inet_pton(AF_INET, address, &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address, &v6) != 1)
        return false;
    return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
}

int DriveIndexOfRequest(const char* message)
{
    // After the token and one separator character; past the end of a
    // shorter message there is nothing, which reads as index 0.
    const size_t start = std::strlen(MSG_GET_FIRMWARE_VERSION) + 1;
    if (message == nullptr || std::strlen(message) < start)
        return 0;
    const long value = std::strtol(message + start, nullptr, 10);
    return static_cast<int>(std::max<long>(INT_MIN, std::min<long>(INT_MAX, value)));
}

std::string PasswordFreeLine(const char* line)
{
    std::string text(line != nullptr ? line : "");
    std::string shown;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        std::string parameter = text.substr(start, end - start);
        const size_t first = parameter.find_first_not_of(' ');
        const std::string word = first == std::string::npos ? "" : parameter.substr(first);
        if (strncasecmp(word.c_str(), "-pw:", 4) == 0)
            parameter = parameter.substr(0, first) + "-pw:(password left out)";
        else if (StartsWith(word.c_str(), "-dev:"))
            parameter = parameter.substr(0, first) + "-dev:" + DeviceDisplayName(word.c_str() + 5);
        shown += parameter;
        if (end < text.size())
            shown += ';';
        start = end + 1;
    }
    return shown;
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
    std::printf(
        "  -ip:address, listens on this IPv4 or IPv6 address or host name (default is the host's own address)\n\n");
    std::printf("  -dev:device, serves this drive instead of the host's (may be repeated)\n\n");
    std::printf("  -dir:directory, keeps the files clients name here (without it, clients may name no file)\n\n");
    std::printf("  -pwfile:file, reads the password from the file's first line (or set %s)\n\n",
                SERVER_PASSWORD_VARIABLE);
    std::fflush(stdout);
}

int HandleRemoteRequest(CUtility* utility, CNetworkServer& server, int socket, const sockaddr_storage* client,
                        char* message, int)
{
    CApplication& app = utility->Controller();
    switch (ClassifyRequest(message)) {
    case REQUEST_SHUTDOWN:
        std::printf("SERVER MSG: Client request received to shutdown the server\n\n");
        std::fflush(stdout);
        server.ClientRecord("stops the server.");
        return REQUEST_STOP_SERVER;
    case REQUEST_DISCONNECT:
        std::printf("SERVER MSG: Client (%s) disconnected on %s\n\n",
                    static_cast<const char*>(client != nullptr ? AddressText(*client) : CVString()),
                    static_cast<const char*>(CNetworkServer::TimeStamp()));
        std::fflush(stdout);
        return REQUEST_END_CONNECTION;
    case REQUEST_DRIVE_LIST:
        SendDriveList(app, server, socket);
        return REQUEST_SERVED;
    case REQUEST_DRIVE_DESCRIPTION:
        server.SendMsg(socket, app.GetTapeDriveData(DriveIndexOfRequest(message)), 0);
        return REQUEST_SERVED;
    case REQUEST_COMMAND_LINE:
        break;
    }
    RunRemoteCommand(utility, app, server, socket, CVString(message));
    return REQUEST_SERVED;
}

void ServeClients(CUtility* utility, CNetworkServer& server)
{
    for (;;) {
        sockaddr_storage client{};
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
