#include "NetworkClient.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const int HOST_NAME_BUFFER = 4096;
const int PASSWORD_REPLY_BUFFER = 1024;
// A server answers a password at once unless it is serving another client.
const int BUSY_NOTICE_MS = 2000;

void ConsoleLine(const char* line)
{
    std::fputs(line, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

CNetworkClient::CNetworkClient(const char* address, const char* password, int port)
    : m_queue("CLIENT MSG: "), m_password(password), m_socket(-1), m_initialized(false), m_address(address),
      m_port(port), m_nextAddress(0), m_connectionUp(false), m_lastReceive(CMessageQueue::RECEIVED)
{}

CNetworkClient::~CNetworkClient()
{
    DisconnectFromServer();
}

int CNetworkClient::ConnectToServer()
{
    if (!Initialize() || !CreateSocket())
        return 0;
    return Connect();
}

bool CNetworkClient::Initialize()
{
    const bool ownName = m_address.IsEmpty();
    std::string name(m_address);
    if (ownName) {
        char host[HOST_NAME_BUFFER] = {};
        if (gethostname(host, sizeof host - 1) == 0)
            name = host;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    const std::string service = std::to_string(m_port);
    addrinfo* found = nullptr;
    const int result = name.empty() ? EAI_NONAME : getaddrinfo(name.c_str(), service.c_str(), &hints, &found);
    if (result != 0) {
        if (ownName)
            std::fprintf(stderr, "CLIENT MSG: Unable to resolve the host's own name %s.\n", name.c_str());
        else
            std::fprintf(stderr, "CLIENT MSG: Unable to find the server %s: %s.\n", name.c_str(), gai_strerror(result));
        std::fflush(stderr);
        return false;
    }
    m_serverAddresses.clear();
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        CServerAddress server{};
        std::memcpy(&server.address, entry->ai_addr, entry->ai_addrlen);
        server.length = entry->ai_addrlen;
        m_serverAddresses.push_back(server);
    }
    freeaddrinfo(found);
    m_nextAddress = 0;
    if (ownName) {
        char numeric[NI_MAXHOST] = {};
        const CServerAddress& first = m_serverAddresses.front();
        getnameinfo(reinterpret_cast<const sockaddr*>(&first.address), first.length, numeric, sizeof numeric, nullptr,
                    0, NI_NUMERICHOST);
        m_hostIP = numeric;
    }
    m_initialized = true;
    return true;
}

bool CNetworkClient::CreateSocket()
{
    const int family =
        m_nextAddress < m_serverAddresses.size() ? m_serverAddresses[m_nextAddress].address.ss_family : AF_INET;
    m_socket = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        m_socket = -1;
        ConsoleLine("CLIENT MSG: Failed to open communication socket.");
        return false;
    }
    return true;
}

int CNetworkClient::Connect()
{
    for (;;) {
        int on = 1;
        setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const bool known = m_nextAddress < m_serverAddresses.size();
        if (known) {
            const CServerAddress& server = m_serverAddresses[m_nextAddress];
            if (connect(m_socket, reinterpret_cast<const sockaddr*>(&server.address), server.length) == 0)
                break;
        }
        // A name may stand for several addresses (IPv6 and IPv4 for
        // "localhost"): the next one may take the connection.
        if (known && ++m_nextAddress < m_serverAddresses.size()) {
            CloseSocket();
            if (!CreateSocket())
                return 0;
            continue;
        }
        ConsoleLine("CLIENT MSG: Unable to connect to the server.");
        ConsoleLine("CLIENT MSG: Check the IP address and port number.");
        return 0;
    }
    m_connectionUp = true;

    if (m_password.IsEmpty())
        m_password = MSG_EMPTY;
    if (SendMsg(m_password, m_password.GetLength()) == 0) {
        ConsoleLine("CLIENT MSG: Password verification message to server failed.");
        return 0;
    }
    char reply[PASSWORD_REPLY_BUFFER] = {};
    if (!ReceivePasswordReply(reply, sizeof reply)) {
        // No answer at all is no acceptance: the server refused the
        // connection without a word, or went away.
        ConsoleLine("CLIENT MSG: Unable to connect to the server application.");
        if (m_lastReceive == CMessageQueue::CLOSED)
            ConsoleLine("CLIENT MSG: The server closed the connection without answering the password.");
        return 0;
    }
    if (PasswordAccepted(reply))
        return 1;
    // The server closes a refused connection; there is nobody to say
    // goodbye to.
    m_connectionUp = false;
    ConsoleLine("CLIENT MSG: Unable to connect to the server application.");
    ConsoleLine("CLIENT MSG: Password authentication failed.");
    return -1;
}

bool CNetworkClient::ReceivePasswordReply(char* reply, int length)
{
    // A server serving another client reads the password only once that
    // client has left, which may take as long as a test runs. Say so once,
    // so that a silent wait is not taken for a hang.
    if (ReceiveMsg(reply, length, BUSY_NOTICE_MS) == 1)
        return true;
    if (m_lastReceive != CMessageQueue::TIMED_OUT)
        return false;
    ConsoleLine("CLIENT MSG: The server is busy with another client; waiting until it is done.");
    return ReceiveMsg(reply, length) == 1;
}

bool CNetworkClient::PasswordAccepted(const char* reply)
{
    return CVString(reply) != MSG_PASSWORD_INVALID;
}

void CNetworkClient::DisconnectFromServer()
{
    if (m_socket < 0)
        return;
    if (m_connectionUp)
        SendMsg(MSG_DISCONNECT, 0);
    CloseSocket();
}

void CNetworkClient::CloseSocket()
{
    if (m_socket >= 0)
        close(m_socket);
    m_socket = -1;
    m_connectionUp = false;
}

void CNetworkClient::ShutdownServer()
{
    SendMsg(MSG_SHUTDOWN, 0);
}

int CNetworkClient::ReceiveMsg(char* buffer, int length, int timeoutMs)
{
    m_lastReceive = m_queue.ReceiveFrom(m_socket, buffer, length, timeoutMs);
    switch (m_lastReceive) {
    case CMessageQueue::RECEIVED:
        return 1;
    case CMessageQueue::TIMED_OUT:
        return 0;  // the connection stays up: the caller decides
    case CMessageQueue::FAILED:
        ConsoleLine("CLIENT MSG: Unable to receive data from server.");
        break;
    case CMessageQueue::CLOSED:
    case CMessageQueue::OVERFLOWED:
        break;
    }
    m_connectionUp = false;
    return 0;
}

int CNetworkClient::SendMsg(const char* text, int)
{
    if (SendFramedMessage(m_socket, text))
        return 1;
    ConsoleLine("CLIENT MSG: Unable to send data to the server.");
    m_connectionUp = false;
    return 0;
}

void CNetworkClient::AdoptConnectedSocket(int socket)
{
    DisconnectFromServer();
    m_socket = socket;
    m_initialized = true;
    m_connectionUp = true;
}
