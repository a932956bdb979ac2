#include "NetworkClient.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

const int HOST_NAME_BUFFER = 4096;
const int PASSWORD_REPLY_BUFFER = 1024;

void ConsoleLine(const char* line)
{
    std::fputs(line, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace

CNetworkClient::CNetworkClient(const char* address, const char* password, int port)
    : m_queue("CLIENT MSG: "), m_password(password), m_socket(-1), m_initialized(false), m_addressValid(true),
      m_addressGiven(false), m_connectionUp(false), m_lastReceive(CMessageQueue::RECEIVED)
{
    std::memset(&m_serverAddress, 0, sizeof m_serverAddress);
    m_serverAddress.sin_family = AF_INET;
    m_serverAddress.sin_port = htons(static_cast<uint16_t>(port));
    CVString text(address);
    if (!text.IsEmpty()) {
        m_addressGiven = true;
        m_addressValid = inet_aton(text, &m_serverAddress.sin_addr) != 0;
    }
}

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
    if (!m_addressGiven) {
        char name[HOST_NAME_BUFFER] = {};
        hostent* entry = nullptr;
        if (gethostname(name, sizeof name - 1) == 0)
            entry = gethostbyname(name);
        if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr) {
            std::fprintf(stderr, "CLIENT MSG: Unable to resolve the host's own name %s.\n", name);
            std::fflush(stderr);
            return false;
        }
        std::memcpy(&m_serverAddress.sin_addr, entry->h_addr_list[0], sizeof m_serverAddress.sin_addr);
        char dotted[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &m_serverAddress.sin_addr, dotted, sizeof dotted);
        m_hostIP = dotted;
    }
    m_initialized = true;
    return true;
}

bool CNetworkClient::CreateSocket()
{
    m_socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        m_socket = -1;
        ConsoleLine("CLIENT MSG: Failed to open communication socket.");
        return false;
    }
    return true;
}

int CNetworkClient::Connect()
{
    int on = 1;
    setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

    if (!m_addressValid ||
        connect(m_socket, reinterpret_cast<const sockaddr*>(&m_serverAddress), sizeof m_serverAddress) != 0) {
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
    if (ReceiveMsg(reply, sizeof reply) == 0) {
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
    close(m_socket);
    m_socket = -1;
    m_connectionUp = false;
}

void CNetworkClient::ShutdownServer()
{
    SendMsg(MSG_SHUTDOWN, 0);
}

int CNetworkClient::ReceiveMsg(char* buffer, int length)
{
    m_lastReceive = m_queue.ReceiveFrom(m_socket, buffer, length);
    switch (m_lastReceive) {
    case CMessageQueue::RECEIVED:
        return 1;
    case CMessageQueue::FAILED:
        ConsoleLine("CLIENT MSG: Unable to receive data from server.");
        break;
    case CMessageQueue::CLOSED:
    case CMessageQueue::OVERFLOWED:
    case CMessageQueue::TIMED_OUT:  // the client waits without a bound
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
