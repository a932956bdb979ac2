// CNetworkServer: the server's TCP endpoint. It listens on one IPv4 address
// and port, accepts one client at a time with its password exchange, and
// exchanges framed messages (common/MessageQueue.h) with it.
//
// Every line it prints is for the server's own console ("SERVER MSG: "),
// never for the client.
#ifndef TAPEDIAG_NETWORKSERVER_H
#define TAPEDIAG_NETWORKSERVER_H

#include <netinet/in.h>

#include "MessageQueue.h"
#include "MsgDelivery.h"
#include "VString.h"

// Every bound the server holds a client to, in one place. The server serves
// one client at a time, so a client that stalls would lock every other one
// out; and a password guesser must not be able to try thousands a second.
// Tests shorten the waits.
struct CServerLimits {
    // From the connection to the whole password message.
    int passwordMs = 10000;
    // A send the client's socket takes nothing of (a client that stopped reading).
    int sendMs = 60000;
    // A logged-in client that sends no request.
    int idleMs = 600000;
    // After a refused password the server pauses before it accepts again,
    // on the clock seam: this long after the first refusal, doubling with
    // each refusal in a row up to the longest; a good password resets it.
    long firstRefusalPauseSeconds = 1;
    long longestRefusalPauseSeconds = 30;
};

class CNetworkServer : public CMessageChannel {
public:
    // bindAddress is a dotted IPv4 address to listen on; empty (or null)
    // means the address of the host's own name.
    CNetworkServer(const char* password, int port, const char* bindAddress = "",
                   const CServerLimits& limits = CServerLimits());
    ~CNetworkServer();
    CNetworkServer(const CNetworkServer&) = delete;
    CNetworkServer& operator=(const CNetworkServer&) = delete;

    // Initialize, CreateSocket, Bind and Listen, stopping at the first that
    // fails; true when the server is ready for Accept.
    bool PrepareToAcceptClient();
    // Learns the address to listen on and prints "Host IP Address: ". False
    // when the host's own name does not resolve or the bind address is not
    // a dotted IPv4 address.
    bool Initialize();
    bool CreateSocket();
    bool Bind();
    bool Listen();

    // Waits for one client and runs the password exchange; client receives
    // the client's address. The connected socket, or -1 when the accept
    // failed, the password was refused or did not come in time (that socket
    // is closed). A client that leaves before its password, while a
    // password is set, counts as refused. After each refusal the server
    // pauses (see CServerLimits) before returning.
    int Accept(sockaddr_in* client);
    // Answers the received password: true (and MSG_PASSWORD_VALID sent) when
    // it matches, MSG_EMPTY counting as the empty password. The comparison
    // takes the same time wherever the texts differ.
    bool CheckPassword(int socket, const char* received);

    // The next message into buffer (4096 bytes from every caller): 1 when
    // one was delivered, 0 when the connection ended, failed, overflowed the
    // queue, sent nothing within the idle bound, or was given up by a send.
    int ReceiveMsg(int socket, char* buffer, int length);
    // Sends one message (length is not used: the whole text goes). 1 on
    // success. After the first failure on a connection (the client has gone,
    // or took nothing within the send bound) the client is taken for gone:
    // one line is printed, and later sends and receives on it give 0 at once
    // until the next Accept.
    int SendMsg(int socket, const char* text, int length) override;

    bool AddToQueue(const char* data, int count) { return m_queue.AddToQueue(data, count); }
    void GetFirstQueueItem(char* buffer, int length) { m_queue.GetFirstQueueItem(buffer, length); }
    bool CmdQueueHasItems() const { return m_queue.CmdQueueHasItems(); }
    bool CmdQueueOverflow() const { return m_queue.CmdQueueOverflow(); }

    void CloseAcceptanceSocket();
    int GetHostSocket() const { return m_listenSocket; }
    // The host's own name and the address listened on, as Initialize found
    // them (empty before).
    CVString GetHostName() const { return m_hostName; }
    CVString GetHostIP() const { return m_hostIP; }
    // The port actually listened on (the one given, or the one the system
    // chose for port 0); 0 before Bind.
    int GetBoundPort() const;
    // The current local time in the C library's ctime layout, without its
    // line end.
    static CVString TimeStamp();

private:
    // One receive with the given bound; prints the line of a failed receive.
    CMessageQueue::ReceiveResult Receive(int socket, char* buffer, int length, int timeoutMs);
    // Marks the connection as given up; later sends and receives on it give 0.
    void GiveUp(int socket);
    // Closes a connection whose password was refused, says so, and pauses.
    void Refuse(int socket);

    CMessageQueue m_queue;
    CVString m_password;
    CServerLimits m_limits;
    int m_listenSocket;
    bool m_initialized;
    sockaddr_in m_serverAddress;
    CVString m_bindAddress;
    CVString m_hostName;
    CVString m_hostIP;
    // The connection on which a send has failed; -1 for none.
    int m_goneSocket;
    // The current client's address in dotted decimal, for console lines.
    CVString m_clientAddress;
    // Refused passwords since the last good one.
    int m_refusalsInARow;
};

#endif
