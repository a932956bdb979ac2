#include "ServerMode.h"

#include <arpa/inet.h>
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

void SendDriveList(CApplication& app, CNetworkServer& server, int socket)
{
    int drives = app.GetNumberOfAvailableTapeDrives();
    for (int i = 0; i < drives; ++i)
        server.SendMsg(socket, app.GetTapeDriveData(i), 0);
    server.SendMsg(socket, MSG_ALL_AVAILABLE_DRIVES_SENT, 0);
}

void RunRemoteCommand(CUtility* utility, CApplication& app, CNetworkServer& server, int socket, const CVString& line)
{
    bool accepted = utility->SetParameters(line);
    // -dev: would let a client make the server open any path or reach any
    // host; only the server's own command line may name devices.
    if (accepted && !app.GetDevices().empty()) {
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

CServerOptions::CServerOptions() : port(DEFAULT_PORT_TEXT) {}

bool ParseServerArgs(int argc, char** argv, CServerOptions& options)
{
    std::vector<const char*> counted;
    for (int i = 0; i < argc; ++i) {
        const char* argument = argv[i];
        if (i >= 2 && StartsWith(argument, "-ip:")) {
            if (argument[4] == '\0')
                return false;
            options.bindAddress = argument + 4;
        } else if (i >= 2 && StartsWith(argument, "-dev:")) {
            const char* device = argument + 5;
            if (*device == '\0' || std::strlen(device) > static_cast<size_t>(MAX_FIELD_LENGTH))
                return false;
            options.devices.push_back(CVString(device));
        } else {
            counted.push_back(argument);
        }
    }
    if (counted.size() > static_cast<size_t>(MAX_COUNTED_ARGUMENTS))
        return false;
    bool allRecognised = true;
    for (size_t i = 2; i < counted.size(); ++i) {
        if (StartsWith(counted[i], "-pw:"))
            options.password = counted[i] + 4;
        else if (StartsWith(counted[i], "-cp:"))
            options.port = counted[i] + 4;
        else
            allRecognised = false;
    }
    return allRecognised;
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
    std::fflush(stdout);
}

int HandleRemoteRequest(CUtility* utility, CNetworkServer& server, int socket, sockaddr_in* client, char* message,
                        int)
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

    // A client that goes away must fail a send, not end the server.
    std::signal(SIGPIPE, SIG_IGN);

    CMsgDelivery delivery;
    if (!app.CreateDriveManager()) {
        std::fputs("SERVER MSG: Unable to create Drive Manager\n\n", stderr);
        std::fflush(stderr);
        return false;
    }

    CNetworkServer server(options.password, ReadIndex(options.port), options.bindAddress);
    if (!server.PrepareToAcceptClient())
        return false;
    ServeClients(&utility, server);
    CMsgDelivery::SetNetworkCommunication(nullptr, -1);
    stoppedByRequest = true;
    return true;
}
