#include "NetworkServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "Clock.h"

namespace {

const int HOST_NAME_BUFFER = 4096;
// Connections the system completes while the server is busy with one
// client: a crowd of clients then waits its turn instead of retrying its
// connects with growing pauses.
const int LISTEN_BACKLOG = 64;
// A host name may stand for many addresses; a few are what a host has.
const size_t MAX_LISTEN_ADDRESSES = 8;

void ConsoleLine(std::FILE* stream, const char* line)
{
    std::fputs(line, stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

__attribute__((format(printf, 1, 2))) std::string Formatted(const char* format, ...)
{
    char text[VSTRING_BUFFER_SIZE] = {};
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

// The line that follows a failure of the system: where, and why.
void ReasonLine(const CVString& where, int error)
{
    std::fprintf(stderr, "SERVER MSG: %s: %s.\n", static_cast<const char*>(where), std::strerror(error));
    std::fflush(stderr);
}

void SetSocketOptions(int socket)
{
    int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

socklen_t AddressLength(const sockaddr_storage& address)
{
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

int PortOf(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

void SetPort(sockaddr_storage& address, int port)
{
    if (address.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(static_cast<uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in&>(address).sin_port = htons(static_cast<uint16_t>(port));
}

// The addresses `name` stands for, at most MAX_LISTEN_ADDRESSES and each
// once; false with the resolver's reason when it stands for none.
bool Resolve(const char* name, int family, std::vector<sockaddr_storage>& addresses, std::string& reason,
             std::string* canonicalName = nullptr)
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = canonicalName != nullptr ? AI_CANONNAME : 0;
    addrinfo* list = nullptr;
    const int error = getaddrinfo(name, nullptr, &hints, &list);
    if (error != 0) {
        reason = error == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(error);
        return false;
    }
    if (canonicalName != nullptr && list->ai_canonname != nullptr)
        *canonicalName = list->ai_canonname;
    std::vector<std::string> seen;
    for (const addrinfo* entry = list; entry != nullptr && addresses.size() < MAX_LISTEN_ADDRESSES;
         entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) ||
            entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        sockaddr_storage address{};
        std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
        const std::string text(AddressText(address));
        if (std::find(seen.begin(), seen.end(), text) != seen.end())
            continue;
        seen.push_back(text);
        addresses.push_back(address);
    }
    freeaddrinfo(list);
    if (addresses.empty())
        reason = "no IPv4 or IPv6 address";
    return !addresses.empty();
}

// A bound as the console shows it: "10 s", or "0.25 s" for a short one.
CVString Seconds(long milliseconds)
{
    char text[32] = {};
    if (milliseconds % 1000 == 0)
        std::snprintf(text, sizeof text, "%ld s", milliseconds / 1000);
    else
        std::snprintf(text, sizeof text, "%g s", milliseconds / 1000.0);
    return CVString(text);
}

// Equal texts, compared over the longest text there can be whatever they hold, so
// the time taken tells a guesser nothing about how much of a guess was right.
bool SameText(const CVString& a, const CVString& b)
{
    const int leftLength = a.GetLength();
    const int rightLength = b.GetLength();
    volatile unsigned char difference = 0;
    for (int i = 0; i < VSTRING_MAX_LENGTH; ++i) {
        const unsigned char left = i < leftLength ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char right = i < rightLength ? static_cast<unsigned char>(b[i]) : 0;
        difference = difference | static_cast<unsigned char>(left ^ right);
    }
    return difference == 0;
}

}  // namespace

CVString AddressText(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
    } else if (address.ss_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&v6))
            inet_ntop(AF_INET, v6.s6_addr + 12, text, sizeof text);
        else
            inet_ntop(AF_INET6, &v6, text, sizeof text);
    }
    return CVString(text);
}

CVString PeerText(const sockaddr_storage& address)
{
    CVString text = AddressText(address);
    CVString port;
    port.Format(" port %d", PortOf(address));
    text += port;
    return text;
}

long CRefusals::Refuse(const std::string& address)
{
    const long now = CClock::Get().Now();
    auto found = m_entries.find(address);
    if (found == m_entries.end()) {
        Prune(now);
        found = m_entries.emplace(address, Entry{0, now}).first;
    }
    Entry& entry = found->second;
    // A refusal long after the last shut-out ended starts a new row.
    if (entry.until + m_limits.longestRefusalPauseSeconds <= now)
        entry.inARow = 0;
    ++entry.inARow;
    long pause = m_limits.firstRefusalPauseSeconds;
    for (int i = 1; i < entry.inARow && pause < m_limits.longestRefusalPauseSeconds; ++i)
        pause *= 2;
    pause = std::max(0L, std::min(pause, m_limits.longestRefusalPauseSeconds));
    entry.until = now + pause;
    return pause;
}

long CRefusals::ShutOutFor(const std::string& address) const
{
    const auto found = m_entries.find(address);
    if (found == m_entries.end())
        return 0;
    return std::max(0L, found->second.until - CClock::Get().Now());
}

int CRefusals::InARow(const std::string& address) const
{
    const auto found = m_entries.find(address);
    return found == m_entries.end() ? 0 : found->second.inARow;
}

void CRefusals::Prune(long now)
{
    for (auto entry = m_entries.begin(); entry != m_entries.end();) {
        if (entry->second.until + m_limits.longestRefusalPauseSeconds <= now)
            entry = m_entries.erase(entry);
        else
            ++entry;
    }
    if (m_entries.size() < static_cast<size_t>(CAPACITY))
        return;
    // Still full of addresses shut out now: the one whose time ends first goes.
    m_entries.erase(std::min_element(m_entries.begin(), m_entries.end(),
                                     [](const auto& a, const auto& b) { return a.second.until < b.second.until; }));
}

CNetworkServer::CNetworkServer(const char* password, int port, const char* bindAddress, const CServerLimits& limits)
    : m_queue("SERVER MSG: "), m_password(password), m_limits(limits), m_port(port), m_initialized(false),
      m_bindAddress(bindAddress), m_goneSocket(-1), m_replyBudgetMs(limits.replyMs), m_refusals(limits)
{}

CNetworkServer::~CNetworkServer()
{
    CloseAcceptanceSocket();
}

bool CNetworkServer::PrepareToAcceptClient()
{
    return Initialize() && CreateSocket() && Bind() && Listen();
}

bool CNetworkServer::Initialize()
{
    char name[HOST_NAME_BUFFER] = {};
    if (gethostname(name, sizeof name - 1) == 0)
        m_hostName = name;

    m_addresses.clear();
    m_addressTexts.clear();
    std::string reason;
    if (!m_bindAddress.IsEmpty()) {
        if (!Resolve(m_bindAddress, AF_UNSPEC, m_addresses, reason)) {
            std::fprintf(stderr, "SERVER MSG: Unable to resolve the address %s to listen on: %s.\n",
                         static_cast<const char*>(m_bindAddress), reason.c_str());
            std::fflush(stderr);
            return false;
        }
    } else {
        // Without an address of its own the server would listen on 0.0.0.0,
        // which is not what a user who named no address expects.
        std::string canonical;
        if (m_hostName.IsEmpty() || !Resolve(m_hostName, AF_INET, m_addresses, reason, &canonical)) {
            std::fprintf(stderr, "SERVER MSG: Unable to resolve the host's own name %s: %s.\n",
                         static_cast<const char*>(m_hostName), reason.empty() ? "it has none" : reason.c_str());
            std::fflush(stderr);
            return false;
        }
        m_addresses.resize(1);
        if (!canonical.empty())
            m_hostName = canonical.c_str();
    }

    for (const sockaddr_storage& address : m_addresses) {
        m_addressTexts.push_back(AddressText(address));
        std::printf("Host IP Address: %s\n", static_cast<const char*>(m_addressTexts.back()));
    }
    std::fflush(stdout);
    m_initialized = true;
    return true;
}

bool CNetworkServer::CreateSocket()
{
    CloseAcceptanceSocket();
    for (size_t i = 0; i < m_addresses.size(); ++i) {
        // Non-blocking: Accept waits in poll, and a connection that went away
        // between poll and accept must not block it.
        const int socket = ::socket(m_addresses[i].ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (socket < 0) {
            const int error = errno;
            ConsoleLine(stderr, "SERVER MSG: Failed to open communications socket.");
            ReasonLine(m_addressTexts[i], error);
            CloseAcceptanceSocket();
            return false;
        }
        SetSocketOptions(socket);
        // An IPv6 socket takes IPv6 only, so that a name with both kinds of
        // address gets a socket of each, and "::" does not take IPv4 too.
        int on = 1;
        if (m_addresses[i].ss_family == AF_INET6)
            setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        m_listenSockets.push_back(socket);
    }
    return !m_listenSockets.empty();
}

bool CNetworkServer::Bind()
{
    // With port 0 the system chooses one for the first address; every other
    // address takes the same.
    int port = m_port;
    for (size_t i = 0; i < m_listenSockets.size(); ++i) {
        sockaddr_storage address = m_addresses[i];
        SetPort(address, port);
        if (bind(m_listenSockets[i], reinterpret_cast<const sockaddr*>(&address), AddressLength(address)) != 0) {
            const int error = errno;
            ConsoleLine(stderr, "SERVER MSG: Failed to bind communications socket.");
            ReasonLine(PeerText(address), error);
            return false;
        }
        if (port == 0)
            port = GetBoundPort();
    }
    return !m_listenSockets.empty();
}

bool CNetworkServer::Listen()
{
    for (size_t i = 0; i < m_listenSockets.size(); ++i) {
        if (listen(m_listenSockets[i], LISTEN_BACKLOG) != 0) {
            const int error = errno;
            ConsoleLine(stderr, "SERVER MSG: Unable to listen on communications socket.");
            ReasonLine(m_addressTexts[i], error);
            return false;
        }
    }
    return !m_listenSockets.empty();
}

int CNetworkServer::GetBoundPort() const
{
    if (m_listenSockets.empty())
        return 0;
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    if (getsockname(m_listenSockets.front(), reinterpret_cast<sockaddr*>(&bound), &size) != 0)
        return 0;
    return PortOf(bound);
}

int CNetworkServer::AcceptConnection(sockaddr_storage& peer)
{
    std::vector<pollfd> listening;
    for (int socket : m_listenSockets)
        listening.push_back(pollfd{socket, POLLIN, 0});
    if (listening.empty()) {
        errno = EBADF;
        return -1;
    }
    for (;;) {
        if (::poll(listening.data(), listening.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        for (const pollfd& ready : listening) {
            if (ready.revents == 0)
                continue;
            socklen_t size = sizeof peer;
            const int socket = accept4(ready.fd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
            if (socket >= 0)
                return socket;
            // Gone before it was taken, or taken by nobody after all: wait on.
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED && errno != EINTR)
                return -1;
        }
    }
}

int CNetworkServer::Accept(sockaddr_storage* client)
{
    ConsoleLine(stdout, "SERVER MSG: Awaiting client connection");

    sockaddr_storage peer{};
    const int socket = AcceptConnection(peer);
    if (client != nullptr)
        *client = peer;
    if (socket < 0) {
        const int error = errno;
        ConsoleLine(stderr, "SERVER MSG: Unable to accept client connection.");
        std::fprintf(stderr, "SERVER MSG: %s.\n", std::strerror(error));
        std::fflush(stderr);
        return -1;
    }

    // A new connection: whatever the last one left queued or marked as gone
    // belongs to it (the descriptor number may well be the same).
    m_queue.Clear();
    m_goneSocket = -1;

    SetSocketOptions(socket);
    m_clientAddress = AddressText(peer);
    m_clientPeer = PeerText(peer);
    std::printf("SERVER MSG: Client (%s) connected on %s\n", static_cast<const char*>(m_clientAddress),
                static_cast<const char*>(TimeStamp()));
    std::fflush(stdout);
    ClientRecord("connected.");

    // Only the address that guessed waits; everyone else is served.
    const std::string address(m_clientAddress);
    if (const long shutOut = m_refusals.ShutOutFor(address)) {
        close(socket);
        ClientRecord(Formatted("closed at once: its address is shut out for %ld s more after %d refused password%s.",
                               shutOut, m_refusals.InARow(address), m_refusals.InARow(address) == 1 ? "" : "s"));
        return -1;
    }

    char buffer[VSTRING_BUFFER_SIZE] = {};
    switch (Receive(socket, buffer, sizeof buffer, m_limits.passwordMs)) {
    case CMessageQueue::RECEIVED:
        m_replyBudgetMs = m_limits.replyMs;
        if (CheckPassword(socket, buffer)) {
            m_refusals.Forgive(address);
            return socket;
        }
        Refuse(socket);
        return -1;
    case CMessageQueue::TIMED_OUT:
        // Only one client is served at a time: a silent one must not hold the rest out.
        close(socket);
        ClientRecord(Formatted("sent no password within %s, connection closed.",
                               static_cast<const char*>(Seconds(m_limits.passwordMs))));
        return -1;
    case CMessageQueue::CLOSED:
    case CMessageQueue::FAILED:
    case CMessageQueue::OVERFLOWED:
        break;
    }
    // No password was sent, so none was refused: a stranger who connects and
    // leaves must not be able to shut anyone out.
    close(socket);
    ClientRecord("left before sending a password.");
    return -1;
}

void CNetworkServer::Refuse(int socket)
{
    close(socket);
    ConsoleLine(stderr, "SERVER MSG: Client sent invalid password, connection refused.");
    const std::string address(m_clientAddress);
    const long pause = m_refusals.Refuse(address);
    const int inARow = m_refusals.InARow(address);
    ClientRecord(
        Formatted("sent a wrong password, %d in a row from its address, which is shut out for %ld s.", inARow, pause));
}

bool CNetworkServer::CheckPassword(int socket, const char* received)
{
    CVString password(received);
    if (password == MSG_EMPTY)
        password.Empty();
    if (SameText(password, m_password)) {
        SendMsg(socket, MSG_PASSWORD_VALID, 0);
        return true;
    }
    SendMsg(socket, MSG_PASSWORD_INVALID, 0);
    return false;
}

void CNetworkServer::ClientRecord(const std::string& what) const
{
    std::fprintf(stderr, "SERVER MSG: Client %s %s\n", static_cast<const char*>(m_clientPeer), what.c_str());
    std::fflush(stderr);
}

CMessageQueue::ReceiveResult CNetworkServer::Receive(int socket, char* buffer, int length, int timeoutMs)
{
    CMessageQueue::ReceiveResult result = m_queue.ReceiveFrom(socket, buffer, length, timeoutMs);
    if (result == CMessageQueue::FAILED)
        ConsoleLine(stderr, "SERVER MSG: Unable to receive data from client.");
    return result;
}

int CNetworkServer::ReceiveMsg(int socket, char* buffer, int length)
{
    if (socket == m_goneSocket) {
        if (buffer != nullptr && length > 0)
            std::memset(buffer, 0, static_cast<size_t>(length));
        return 0;
    }
    switch (Receive(socket, buffer, length, m_limits.idleMs)) {
    case CMessageQueue::RECEIVED:
        m_replyBudgetMs = m_limits.replyMs;
        return 1;
    case CMessageQueue::TIMED_OUT:
        ClientRecord(Formatted("sent no request for %s, connection closed.",
                               static_cast<const char*>(Seconds(m_limits.idleMs))));
        break;
    case CMessageQueue::CLOSED:
    case CMessageQueue::FAILED:
    case CMessageQueue::OVERFLOWED:
        break;
    }
    return 0;
}

int CNetworkServer::SendMsg(int socket, const char* text, int)
{
    if (socket == m_goneSocket)
        return 0;
    switch (SendFrame(socket, text, &m_replyBudgetMs)) {
    case SEND_DONE:
        return 1;
    case SEND_TIMED_OUT:
        GiveUp(socket);
        ClientRecord(Formatted("did not take its reply within %s, connection closed.",
                               static_cast<const char*>(Seconds(m_limits.replyMs))));
        return 0;
    case SEND_FAILED:
        break;
    }
    // A command still running for a client that has gone keeps producing
    // lines; one report is enough.
    GiveUp(socket);
    ConsoleLine(stderr, "SERVER MSG: Unable to send data to the client.");
    return 0;
}

void CNetworkServer::GiveUp(int socket)
{
    m_goneSocket = socket;
    // The descriptor stays open until the serving loop closes it (the
    // command still running writes to it); what the client did not take is
    // dropped then, with a reset, instead of being offered for ever.
    linger drop{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
    shutdown(socket, SHUT_RDWR);
}

void CNetworkServer::CloseAcceptanceSocket()
{
    for (int socket : m_listenSockets)
        close(socket);
    m_listenSockets.clear();
}

CVString CNetworkServer::TimeStamp()
{
    std::time_t now = std::time(nullptr);
    char text[64] = {};
    if (ctime_r(&now, text) == nullptr)
        return CVString();
    // ctime ends its text with a line end, which CVString cuts off.
    return CVString(text);
}
