// CNetworkClient: the client's TCP endpoint. It connects to the server,
// passes the password exchange and exchanges framed messages with it through
// the same receive queue as the server (common/MessageQueue.h).
//
// Its console lines ("CLIENT MSG: ") go to standard error.
#ifndef TAPEDIAG_NETWORKCLIENT_H
#define TAPEDIAG_NETWORKCLIENT_H

#include <sys/socket.h>

#include <vector>

#include "MessageQueue.h"
#include "VString.h"

class CNetworkClient {
public:
    // address: the server's host name, IPv4 or IPv6 address; empty for the
    // client host's own name.
    CNetworkClient(const char* address, const char* password, int port);
    // Says goodbye to the server over a connection that is still up.
    ~CNetworkClient();
    CNetworkClient(const CNetworkClient&) = delete;
    CNetworkClient& operator=(const CNetworkClient&) = delete;

    // Initialize, CreateSocket and Connect: 1 connected and accepted, 0 not
    // connected, -1 password refused.
    int ConnectToServer();
    // Resolves the server's name (the host's own when none was given) into
    // the addresses to try, in the resolver's order. False, with the reason
    // on standard error, when it does not resolve.
    bool Initialize();
    // A TCP socket for the address tried next.
    bool CreateSocket();
    // Connects to the first address that takes the connection, then passes
    // the password exchange; results as ConnectToServer.
    int Connect();
    // Any reply but MSG_PASSWORD_INVALID counts as acceptance.
    static bool PasswordAccepted(const char* reply);
    // Sends MSG_DISCONNECT if the connection is still up, then closes it.
    void DisconnectFromServer();
    void ShutdownServer();
    // The address of the host's own name, once Initialize resolved it.
    CVString GetHostIP() const { return m_hostIP; }

    // The next message into buffer: 1 when one was delivered, 0 when the
    // connection ended or failed, or when timeoutMs (if not NO_TIMEOUT)
    // passed without a whole message (LastReceive tells which).
    int ReceiveMsg(char* buffer, int length, int timeoutMs = NO_TIMEOUT);
    CMessageQueue::ReceiveResult LastReceive() const { return m_lastReceive; }
    // Sends one message (length is not used: the whole text goes). 1 on
    // success; after a failure the connection counts as lost.
    int SendMsg(const char* text, int length);

    bool AddToQueue(const char* data, int count) { return m_queue.AddToQueue(data, count); }
    void GetFirstQueueItem(char* buffer, int length) { m_queue.GetFirstQueueItem(buffer, length); }
    bool CmdQueueHasItems() const { return m_queue.CmdQueueHasItems(); }
    bool CmdQueueOverflow() const { return m_queue.CmdQueueOverflow(); }

    // Takes over a socket that is already connected to a server (and past
    // the password exchange), as a test's socket pair is.
    void AdoptConnectedSocket(int socket);

private:
    struct CServerAddress {
        sockaddr_storage address;
        socklen_t length;
    };

    // The server's answer to the password.
    bool ReceivePasswordReply(char* reply, int length);
    void CloseSocket();

    CMessageQueue m_queue;
    CVString m_password;
    int m_socket;
    bool m_initialized;
    CVString m_address;
    int m_port;
    std::vector<CServerAddress> m_serverAddresses;
    size_t m_nextAddress;  // the one CreateSocket makes a socket for
    CVString m_hostIP;
    // Connected, and neither side has ended the connection yet.
    bool m_connectionUp;
    CMessageQueue::ReceiveResult m_lastReceive;
};

#endif
