// CNetworkServer: the server's TCP endpoint. It listens on every address of
// the name it was given (IPv4, IPv6 or a host name) and one port, accepts one
// client at a time with its password exchange, and exchanges framed
// messages (common/MessageQueue.h) with it.
//
// Every line it prints is for the server's own console ("SERVER MSG: "),
// never for the client. Besides the lines of the protocol's own story on
// standard output, it keeps a record on standard error (which the journal
// keeps under systemd): each connection, each refused password and each
// connection it ends, naming the client by address and port.
#ifndef TAPEDIAG_NETWORKSERVER_H
#define TAPEDIAG_NETWORKSERVER_H

#include <sys/socket.h>

#include <map>
#include <string>
#include <vector>

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
    // The longest the server waits, in all, for the client to take one
    // reply (whatever it sends between two requests): a client that reads a
    // byte now and then uses it up as surely as one that reads nothing.
    long replyMs = 60000;
    // A logged-in client that sends no request.
    int idleMs = 600000;
    // After a refused password the address it came from is shut out, on the
    // clock seam: this long after its first refusal, doubling with each
    // refusal in a row from there up to the longest; a good password from
    // the address forgets its refusals. Other addresses are served as usual.
    long firstRefusalPauseSeconds = 1;
    long longestRefusalPauseSeconds = 30;
};

// Refused passwords per source address, and how long each address is shut
// out. Only the addresses refused lately are kept, at most a fixed number,
// so a stranger with many addresses cannot make the server hold much.
class CRefusals {
public:
    explicit CRefusals(const CServerLimits& limits) : m_limits(limits) {}

    // Counts one refused password from address; the seconds it is now shut
    // out for.
    long Refuse(const std::string& address);
    // A good password from address: its refusals are forgotten.
    void Forgive(const std::string& address) { m_entries.erase(address); }
    // The seconds address is still shut out for; 0 when it is not.
    long ShutOutFor(const std::string& address) const;
    // Refused passwords in a row from address.
    int InARow(const std::string& address) const;
    int Tracked() const { return static_cast<int>(m_entries.size()); }

    // Addresses kept at most.
    static constexpr int CAPACITY = 1024;

private:
    struct Entry {
        int inARow;
        long until;  // shut out before this second of the clock
    };
    // Makes room for one more address.
    void Prune(long now);

    CServerLimits m_limits;
    std::map<std::string, Entry> m_entries;
};

// The address of a peer as the console shows it: dotted decimal for IPv4
// (an IPv4-mapped IPv6 address too), the usual text form for IPv6.
CVString AddressText(const sockaddr_storage& address);
// The address and the port: "192.0.2.1 port 41234", "::1 port 41234".
CVString PeerText(const sockaddr_storage& address);

class CNetworkServer : public CMessageChannel {
public:
    // bindAddress is the address to listen on: an IPv4 or IPv6 address or a
    // host name, whose every address is listened on; empty (or null) means
    // the IPv4 address of the host's own name.
    CNetworkServer(const char* password, int port, const char* bindAddress = "",
                   const CServerLimits& limits = CServerLimits());
    ~CNetworkServer();
    CNetworkServer(const CNetworkServer&) = delete;
    CNetworkServer& operator=(const CNetworkServer&) = delete;

    // Initialize, CreateSocket, Bind and Listen, stopping at the first that
    // fails; true when the server is ready for Accept. Each failure is said
    // in its line and a line with the reason.
    bool PrepareToAcceptClient();
    // Learns the addresses to listen on and prints "Host IP Address: " for
    // each. False when the host's own name or the bind address does not
    // resolve.
    bool Initialize();
    // A listening socket for each address.
    bool CreateSocket();
    bool Bind();
    // With a backlog that lets a crowd of clients wait without retrying.
    bool Listen();

    // Waits for one client and runs the password exchange; client receives
    // the client's address. The connected socket, or -1 when the accept
    // failed, the client's address is shut out after refused passwords, or
    // the password was refused or did not come in time (that socket is
    // closed). Only a password sent and wrong is a refusal: a client that
    // leaves or falls silent before its password is not.
    int Accept(sockaddr_storage* client);
    // Answers the received password: true (and MSG_PASSWORD_VALID sent) when
    // it matches, MSG_EMPTY counting as the empty password. The comparison
    // takes the same time wherever the texts differ.
    bool CheckPassword(int socket, const char* received);

    // The next message into buffer (4096 bytes from every caller): 1 when
    // one was delivered, 0 when the connection ended, failed, overflowed the
    // queue, sent nothing within the idle bound, or was given up by a send.
    // A delivered request starts a new reply (see CServerLimits::replyMs).
    int ReceiveMsg(int socket, char* buffer, int length);
    // Sends one message (length is not used: the whole text goes). 1 on
    // success. After the first failure on a connection (the client has gone,
    // or has not taken its reply within the reply bound) the client is taken
    // for gone: one line is printed, and later sends and receives on it give
    // 0 at once until the next Accept.
    int SendMsg(int socket, const char* text, int length) override;

    bool AddToQueue(const char* data, int count) { return m_queue.AddToQueue(data, count); }
    void GetFirstQueueItem(char* buffer, int length) { m_queue.GetFirstQueueItem(buffer, length); }
    bool CmdQueueHasItems() const { return m_queue.CmdQueueHasItems(); }
    bool CmdQueueOverflow() const { return m_queue.CmdQueueOverflow(); }

    void CloseAcceptanceSocket();
    // The first listening socket; -1 when none is open.
    int GetHostSocket() const { return m_listenSockets.empty() ? -1 : m_listenSockets.front(); }
    // The host's own name, and the addresses listened on as Initialize found
    // them (empty before; GetHostIP gives the first).
    CVString GetHostName() const { return m_hostName; }
    CVString GetHostIP() const { return m_addressTexts.empty() ? CVString() : m_addressTexts.front(); }
    const std::vector<CVString>& GetHostAddresses() const { return m_addressTexts; }
    // The port actually listened on (the one given, or the one the system
    // chose for port 0); 0 before Bind.
    int GetBoundPort() const;
    // The current client as the record names it: "192.0.2.1 port 41234".
    CVString ClientPeer() const { return m_clientPeer; }
    // One line of the record about the current client, on standard error:
    // "SERVER MSG: Client ", its address and port, a blank and `what`.
    void ClientRecord(const std::string& what) const;
    // The current local time in the C library's ctime layout, without its
    // line end.
    static CVString TimeStamp();

private:
    // Waits on every listening socket and accepts the first connection.
    int AcceptConnection(sockaddr_storage& peer);
    // One receive with the given bound; prints the line of a failed receive.
    CMessageQueue::ReceiveResult Receive(int socket, char* buffer, int length, int timeoutMs);
    // Marks the connection as given up; later sends and receives on it give 0.
    void GiveUp(int socket);
    // Closes a connection whose password was refused, says so, and shuts
    // its address out for a while.
    void Refuse(int socket);
    // Binds one listening socket to one address; false with the reason said.
    bool BindOne(int socket, sockaddr_storage address);

    CMessageQueue m_queue;
    CVString m_password;
    CServerLimits m_limits;
    int m_port;
    std::vector<int> m_listenSockets;
    bool m_initialized;
    // The addresses to listen on (port not yet set) and their texts.
    std::vector<sockaddr_storage> m_addresses;
    std::vector<CVString> m_addressTexts;
    CVString m_bindAddress;
    CVString m_hostName;
    // The connection on which a send has failed; -1 for none.
    int m_goneSocket;
    // The current client's address, and its address and port.
    CVString m_clientAddress;
    CVString m_clientPeer;
    // What is left of the current reply's wait (milliseconds).
    long m_replyBudgetMs;
    CRefusals m_refusals;
};

#endif
