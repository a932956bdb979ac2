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

}  // namespace

CNetworkServer::CNetworkServer(const char* password, int port, const char* bindAddress)
    : m_queue("SERVER MSG: "), m_password(password), m_listenSocket(-1), m_initialized(false),
      m_bindAddress(bindAddress), m_goneSocket(-1)
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
    std::printf("SERVER MSG: Client (%s) connected on %s\n", dotted, static_cast<const char*>(TimeStamp()));
    std::fflush(stdout);

    char buffer[VSTRING_BUFFER_SIZE] = {};
    if (ReceiveMsg(socket, buffer, sizeof buffer) == 0) {
        // Gone before it sent a password: there is nobody to answer.
        close(socket);
        return -1;
    }
    if (CheckPassword(socket, buffer))
        return socket;
    close(socket);
    ConsoleLine(stderr, "SERVER MSG: Client sent invalid password, connection refused.");
    return -1;
}

bool CNetworkServer::CheckPassword(int socket, const char* received)
{
    CVString password(received);
    if (password == MSG_EMPTY)
        password.Empty();
    if (password == m_password) {
        SendMsg(socket, MSG_PASSWORD_VALID, 0);
        return true;
    }
    SendMsg(socket, MSG_PASSWORD_INVALID, 0);
    return false;
}

int CNetworkServer::ReceiveMsg(int socket, char* buffer, int length)
{
    switch (m_queue.ReceiveFrom(socket, buffer, length)) {
    case CMessageQueue::RECEIVED:
        return 1;
    case CMessageQueue::FAILED:
        ConsoleLine(stderr, "SERVER MSG: Unable to receive data from client.");
        return 0;
    case CMessageQueue::CLOSED:
    case CMessageQueue::OVERFLOWED:
        break;
    }
    return 0;
}

int CNetworkServer::SendMsg(int socket, const char* text, int)
{
    if (socket == m_goneSocket)
        return 0;
    if (SendFramedMessage(socket, text))
        return 1;
    // A command still running for a client that has gone keeps producing
    // lines; one report is enough.
    m_goneSocket = socket;
    ConsoleLine(stderr, "SERVER MSG: Unable to send data to the client.");
    return 0;
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
