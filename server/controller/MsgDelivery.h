// CMsgDelivery: where the controller's output lines go: standard output, or,
// while the server serves a client, that client as protocol messages.
#ifndef TAPEDIAG_MSGDELIVERY_H
#define TAPEDIAG_MSGDELIVERY_H

// What the remote service gives the controller to reach a client: the
// controller sends lines and knows nothing of sockets or framing.
class CMessageChannel {
public:
    virtual ~CMessageChannel() {}
    // Sends one message on the connection `socket`; 1 on success.
    virtual int SendMsg(int socket, const char* text, int length) = 0;
};

class CMsgDelivery {
public:
    CMsgDelivery() {}
    virtual ~CMsgDelivery() {}

    // Points every later message at this client (server mode); a null
    // channel points them back at standard output.
    static void SetNetworkCommunication(CMessageChannel* server, int socket);
    // Delivers one piece of output, with a line end when newline is true.
    void SendMsg(const char* text, bool newline);

private:
    static CMessageChannel* m_server;
    static int m_clientSocket;
};

#endif
