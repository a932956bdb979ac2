#include "MsgDelivery.h"

#include <cstdio>

#include "MessageQueue.h"
#include "VString.h"

CMessageChannel* CMsgDelivery::m_server = nullptr;
int CMsgDelivery::m_clientSocket = -1;

void CMsgDelivery::SetNetworkCommunication(CMessageChannel* server, int socket)
{
    m_server = server;
    m_clientSocket = socket;
}

void CMsgDelivery::SendMsg(const char* text, bool newline)
{
    CVString line(text);
    if (m_server != nullptr) {
        // Send failures are the server's to report; the command goes on.
        m_server->SendMsg(m_clientSocket, line, line.GetLength());
        if (newline)
            m_server->SendMsg(m_clientSocket, NEW_LINE, 0);
        return;
    }
    std::fputs(line, stdout);
    if (newline) {
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}
