// CNetworkClient: the client's TCP endpoint. It connects to the server,
// passes the password exchange and exchanges framed messages with it through
// the same receive queue as the server (common/MessageQueue.h).
//
// Its console lines ("CLIENT MSG: ") go to standard error.
#ifndef TAPEDIAG_NETWORKCLIENT_H
#define TAPEDIAG_NETWORKCLIENT_H

#include <netinet/in.h>

#include "MessageQueue.h"
#include "VString.h"

class CNetworkClient {
public:
    // address: the server's dotted IPv4 address; empty for the address of
    // the client host's own name.
    CNetworkClient(const char* address, const char* password, int port);
    // Says goodbye to the server over a connection that is still up.
    ~CNetworkClient();
    CNetworkClient(const CNetworkClient&) = delete;
    CNetworkClient& operator=(const CNetworkClient&) = delete;

    // Initialize, CreateSocket and Connect: 1 connected and accepted, 0 not
    // connected, -1 password refused.
    int ConnectToServer();
    // Settles the server address; the host's own name is resolved only when
    // no address was given. False when it does not resolve.
    bool Initialize();
    bool CreateSocket();
    // Connection and password exchange; results as ConnectToServer.
    int Connect();
    // Any reply but MSG_PASSWORD_INVALID counts as acceptance.
    static bool PasswordAccepted(const char* reply);
    // Sends MSG_DISCONNECT if the connection is still up, then closes it.
    void DisconnectFromServer();
    void ShutdownServer();
    // The address of the host's own name, once Initialize resolved it.
    CVString GetHostIP() const { return m_hostIP; }

    // The next message into buffer: 1 when one was delivered, 0 when the
    // connection ended or failed (LastReceive tells which).
    int ReceiveMsg(char* buffer, int length);
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
    CMessageQueue m_queue;
    CVString m_password;
    int m_socket;
    bool m_initialized;
    sockaddr_in m_serverAddress;
    // False when the address text given was not a dotted IPv4 address.
    bool m_addressValid;
    bool m_addressGiven;
    CVString m_hostIP;
    // Connected, and neither side has ended the connection yet.
    bool m_connectionUp;
    CMessageQueue::ReceiveResult m_lastReceive;
};

#endif
