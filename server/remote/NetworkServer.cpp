#include "NetworkServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "Clock.h"

namespace {

const int HOST_NAME_BUFFER = 4096;

void ConsoleLine(std::FILE* stream, const char* line)
{
    std::fputs(line, stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void SetSocketOptions(int socket)
{
    int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

// A bound as the console shows it: "10 s", or "0.25 s" for a short one.
CVString Seconds(int milliseconds)
{
    char text[32] = {};
    if (milliseconds % 1000 == 0)
        std::snprintf(text, sizeof text, "%d s", milliseconds / 1000);
    else
        std::snprintf(text, sizeof text, "%g s", milliseconds / 1000.0);
    return CVString(text);
}

// Equal texts, compared over the longest text there can be whatever they hold, so
// the time taken tells a guesser nothing about how much of a guess was right.
bool SameText(const CVString& a, const CVString& b)
{
    const int leftLength = a.GetLength();
    const int rightLength = b.GetLength();
    volatile unsigned char difference = 0;
    for (int i = 0; i < VSTRING_MAX_LENGTH; ++i) {
        const unsigned char left = i < leftLength ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char right = i < rightLength ? static_cast<unsigned char>(b[i]) : 0;
        difference = difference | static_cast<unsigned char>(left ^ right);
    }
    return difference == 0;
}

}  // namespace

CNetworkServer::CNetworkServer(const char* password, int port, const char* bindAddress, const CServerLimits& limits)
    : m_queue("SERVER MSG: "), m_password(password), m_limits(limits), m_listenSocket(-1), m_initialized(false),
      m_bindAddress(bindAddress), m_goneSocket(-1), m_refusalsInARow(0)
{
    std::memset(&m_serverAddress, 0, sizeof m_serverAddress);
    m_serverAddress.sin_family = AF_INET;
    m_serverAddress.sin_port = htons(static_cast<uint16_t>(port));
}

CNetworkServer::~CNetworkServer()
{
    CloseAcceptanceSocket();
}

bool CNetworkServer::PrepareToAcceptClient()
{
    return Initialize() && CreateSocket() && Bind() && Listen();
}

bool CNetworkServer::Initialize()
{
    char name[HOST_NAME_BUFFER] = {};
    if (gethostname(name, sizeof name - 1) == 0)
        m_hostName = name;

    in_addr address{};
    if (!m_bindAddress.IsEmpty()) {
        if (inet_pton(AF_INET, m_bindAddress, &address) != 1) {
            std::fprintf(stderr, "SERVER MSG: Invalid IP address %s.\n", static_cast<const char*>(m_bindAddress));
            std::fflush(stderr);
            return false;
        }
    } else {
        // Without an address of its own the server would listen on 0.0.0.0,
        // which is not what a user who named no address expects.
        hostent* entry = m_hostName.IsEmpty() ? nullptr : gethostbyname(m_hostName);
        if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr) {
            std::fprintf(stderr, "SERVER MSG: Unable to resolve the host's own name %s.\n",
                         static_cast<const char*>(m_hostName));
            std::fflush(stderr);
            return false;
        }
        std::memcpy(&address, entry->h_addr_list[0], sizeof address);
        if (entry->h_name != nullptr)
            m_hostName = entry->h_name;
    }

    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, dotted, sizeof dotted);
    m_hostIP = dotted;
    std::printf("Host IP Address: %s\n", dotted);
    std::fflush(stdout);
    m_serverAddress.sin_addr = address;
    m_initialized = true;
    return true;
}

bool CNetworkServer::CreateSocket()
{
    m_listenSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenSocket < 0) {
        m_listenSocket = -1;
        ConsoleLine(stderr, "SERVER MSG: Failed to open communications socket.");
        return false;
    }
    SetSocketOptions(m_listenSocket);
    return true;
}

bool CNetworkServer::Bind()
{
    if (bind(m_listenSocket, reinterpret_cast<const sockaddr*>(&m_serverAddress), sizeof m_serverAddress) != 0) {
        ConsoleLine(stderr, "SERVER MSG: Failed to bind communications socket.");
        return false;
    }
    return true;
}

bool CNetworkServer::Listen()
{
    if (listen(m_listenSocket, 1) != 0) {
        ConsoleLine(stderr, "SERVER MSG: Unable to listen on communications socket.");
        return false;
    }
    return true;
}

int CNetworkServer::GetBoundPort() const
{
    if (m_listenSocket < 0)
        return 0;
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (getsockname(m_listenSocket, reinterpret_cast<sockaddr*>(&bound), &size) != 0)
        return 0;
    return ntohs(bound.sin_port);
}

int CNetworkServer::Accept(sockaddr_in* client)
{
    ConsoleLine(stdout, "SERVER MSG: Awaiting client connection");

    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    int socket;
    do {
        socket = accept4(m_listenSocket, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    } while (socket < 0 && errno == EINTR);
    if (client != nullptr)
        *client = peer;
    if (socket < 0) {
        ConsoleLine(stderr, "SERVER MSG: Unable to accept client connection.");
        return -1;
    }

    // A new connection: whatever the last one left queued or marked as gone
    // belongs to it (the descriptor number may well be the same).
    m_queue.Clear();
    m_goneSocket = -1;

    SetSocketOptions(socket);
    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, dotted, sizeof dotted);
    m_clientAddress = dotted;
    std::printf("SERVER MSG: Client (%s) connected on %s\n", dotted, static_cast<const char*>(TimeStamp()));
    std::fflush(stdout);

    char buffer[VSTRING_BUFFER_SIZE] = {};
    switch (Receive(socket, buffer, sizeof buffer, m_limits.passwordMs)) {
    case CMessageQueue::RECEIVED:
        if (CheckPassword(socket, buffer)) {
            m_refusalsInARow = 0;
            return socket;
        }
        Refuse(socket);
        return -1;
    case CMessageQueue::TIMED_OUT:
        // Only one client is served at a time: a silent one must not hold the rest out.
        close(socket);
        std::fprintf(stderr, "SERVER MSG: Client (%s) sent no password within %s, connection closed.\n", dotted,
                     static_cast<const char*>(Seconds(m_limits.passwordMs)));
        std::fflush(stderr);
        return -1;
    case CMessageQueue::CLOSED:
    case CMessageQueue::FAILED:
    case CMessageQueue::OVERFLOWED:
        break;
    }
    // Gone before it sent a password. With a password set that is a guess
    // like any other, or leaving would be a way round the pause.
    if (m_password.IsEmpty())
        close(socket);
    else
        Refuse(socket);
    return -1;
}

void CNetworkServer::Refuse(int socket)
{
    close(socket);
    ConsoleLine(stderr, "SERVER MSG: Client sent invalid password, connection refused.");
    ++m_refusalsInARow;
    long pause = m_limits.firstRefusalPauseSeconds;
    for (int i = 1; i < m_refusalsInARow && pause < m_limits.longestRefusalPauseSeconds; ++i)
        pause *= 2;
    if (pause > m_limits.longestRefusalPauseSeconds)
        pause = m_limits.longestRefusalPauseSeconds;
    if (pause <= 0)
        return;
    std::fprintf(stderr, "SERVER MSG: %d refused password%s in a row, next client accepted in %ld s.\n",
                 m_refusalsInARow, m_refusalsInARow == 1 ? "" : "s", pause);
    std::fflush(stderr);
    CClock::Get().Sleep(pause);
}

bool CNetworkServer::CheckPassword(int socket, const char* received)
{
    CVString password(received);
    if (password == MSG_EMPTY)
        password.Empty();
    if (SameText(password, m_password)) {
        SendMsg(socket, MSG_PASSWORD_VALID, 0);
        return true;
    }
    SendMsg(socket, MSG_PASSWORD_INVALID, 0);
    return false;
}

CMessageQueue::ReceiveResult CNetworkServer::Receive(int socket, char* buffer, int length, int timeoutMs)
{
    CMessageQueue::ReceiveResult result = m_queue.ReceiveFrom(socket, buffer, length, timeoutMs);
    if (result == CMessageQueue::FAILED)
        ConsoleLine(stderr, "SERVER MSG: Unable to receive data from client.");
    return result;
}

int CNetworkServer::ReceiveMsg(int socket, char* buffer, int length)
{
    if (socket == m_goneSocket) {
        if (buffer != nullptr && length > 0)
            std::memset(buffer, 0, static_cast<size_t>(length));
        return 0;
    }
    switch (Receive(socket, buffer, length, m_limits.idleMs)) {
    case CMessageQueue::RECEIVED:
        return 1;
    case CMessageQueue::TIMED_OUT:
        std::fprintf(stderr, "SERVER MSG: Client (%s) sent no request for %s, connection closed.\n",
                     static_cast<const char*>(m_clientAddress), static_cast<const char*>(Seconds(m_limits.idleMs)));
        std::fflush(stderr);
        break;
    case CMessageQueue::CLOSED:
    case CMessageQueue::FAILED:
    case CMessageQueue::OVERFLOWED:
        break;
    }
    return 0;
}

int CNetworkServer::SendMsg(int socket, const char* text, int)
{
    if (socket == m_goneSocket)
        return 0;
    switch (SendFrame(socket, text, m_limits.sendMs)) {
    case SEND_DONE:
        return 1;
    case SEND_TIMED_OUT:
        GiveUp(socket);
        std::fprintf(stderr, "SERVER MSG: Client (%s) took no data for %s, connection closed.\n",
                     static_cast<const char*>(m_clientAddress), static_cast<const char*>(Seconds(m_limits.sendMs)));
        std::fflush(stderr);
        return 0;
    case SEND_FAILED:
        break;
    }
    // A command still running for a client that has gone keeps producing
    // lines; one report is enough.
    GiveUp(socket);
    ConsoleLine(stderr, "SERVER MSG: Unable to send data to the client.");
    return 0;
}

void CNetworkServer::GiveUp(int socket)
{
    m_goneSocket = socket;
    // The descriptor stays open until the serving loop closes it (the
    // command still running writes to it); what the client did not take is
    // dropped then, with a reset, instead of being offered for ever.
    linger drop{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
    shutdown(socket, SHUT_RDWR);
}

void CNetworkServer::CloseAcceptanceSocket()
{
    if (m_listenSocket >= 0) {
        close(m_listenSocket);
        m_listenSocket = -1;
    }
}

CVString CNetworkServer::TimeStamp()
{
    std::time_t now = std::time(nullptr);
    char text[64] = {};
    if (ctime_r(&now, text) == nullptr)
        return CVString();
    // ctime ends its text with a line end, which CVString cuts off.
    return CVString(text);
}
