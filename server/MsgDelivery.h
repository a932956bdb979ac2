// CMsgDelivery: where the controller's output lines go: standard output, or,
// while the server serves a client, that client as protocol messages.
#ifndef TAPEDIAG_MSGDELIVERY_H
#define TAPEDIAG_MSGDELIVERY_H

class CNetworkServer;

class CMsgDelivery {
public:
    CMsgDelivery() {}
    virtual ~CMsgDelivery() {}

    // Points every later message at this client (server mode).
    static void SetNetworkCommunication(CNetworkServer* server, int socket);
    // Delivers one piece of output, with a line end when newline is true.
    void SendMsg(const char* text, bool newline);

private:
    static CNetworkServer* m_server;
    static int m_clientSocket;
};

#endif
