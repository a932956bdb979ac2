#include "MsgDelivery.h"

#include <cstdio>

#include "VString.h"

CNetworkServer* CMsgDelivery::m_server = nullptr;
int CMsgDelivery::m_clientSocket = -1;

void CMsgDelivery::SetNetworkCommunication(CNetworkServer* server, int socket)
{
    m_server = server;
    m_clientSocket = socket;
}

void CMsgDelivery::SendMsg(const char* text, bool newline)
{
    CVString line(text);
    std::fputs(line, stdout);
    if (newline) {
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}
