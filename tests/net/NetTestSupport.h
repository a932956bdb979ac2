// Helpers of the net suite: the far end of a connection, reading framed
// messages with a bounded wait, and a port nobody listens on (LoopbackPort.h).
#ifndef TAPEDIAG_TEST_NETTESTSUPPORT_H
#define TAPEDIAG_TEST_NETTESTSUPPORT_H

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "LoopbackPort.h"
#include "MessageQueue.h"

// A numeric IPv4 or IPv6 address and a port as a socket address.
inline bool SocketAddress(const char* text, int port, sockaddr_storage& address, socklen_t& size)
{
    address = sockaddr_storage{};
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    if (inet_pton(AF_INET, text, &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(port));
        size = sizeof v4;
        return true;
    }
    if (inet_pton(AF_INET6, text, &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(port));
        size = sizeof v6;
        return true;
    }
    return false;
}

// Whether this host has the IPv6 loopback address (a test that needs it
// is skipped without it).
inline bool HasIPv6Loopback()
{
    const int probe = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_storage loopback{};
    socklen_t size = 0;
    const bool usable = probe >= 0 && SocketAddress("::1", 0, loopback, size) &&
                        bind(probe, reinterpret_cast<sockaddr*>(&loopback), size) == 0;
    if (probe >= 0)
        close(probe);
    return usable;
}

// One end of a connection as a peer sees it: frames what it sends, splits
// what it receives into messages, and never waits without a bound.
class WireEnd {
public:
    explicit WireEnd(int socket = -1) : m_socket(socket), m_queue("TEST: ") {}
    ~WireEnd() { Close(); }
    WireEnd(const WireEnd&) = delete;
    WireEnd& operator=(const WireEnd&) = delete;

    // Connects to address:port; from the address `from` of this host when
    // one is given (127.0.0.2, say: another source on loopback).
    bool Connect(int port, const char* address = "127.0.0.1", const char* from = nullptr)
    {
        Close();
        sockaddr_storage to{}, source{};
        socklen_t toSize = 0, sourceSize = 0;
        if (!SocketAddress(address, port, to, toSize) ||
            (from != nullptr && !SocketAddress(from, 0, source, sourceSize)))
            return false;
        m_socket = socket(to.ss_family, SOCK_STREAM, 0);
        if (from != nullptr && bind(m_socket, reinterpret_cast<sockaddr*>(&source), sourceSize) != 0)
            return false;
        return connect(m_socket, reinterpret_cast<sockaddr*>(&to), toSize) == 0;
    }

    int Socket() const { return m_socket; }
    // The port this end has on its host, as the server's record names it.
    int LocalPort() const
    {
        sockaddr_storage local{};
        socklen_t size = sizeof local;
        if (getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &size) != 0)
            return 0;
        return ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(local).sin6_port
                                                 : reinterpret_cast<sockaddr_in&>(local).sin_port);
    }

    // Reads at most this many bytes at a time: a slow reader keeps the
    // sender blocked on a full socket buffer.
    void SetReadChunk(size_t bytes) { m_chunk = bytes; }

    void Close()
    {
        if (m_socket >= 0)
            close(m_socket);
        m_socket = -1;
    }

    bool Send(const std::string& text) { return SendRaw(FrameMessage(text.c_str())); }

    bool SendRaw(const std::string& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t sent = send(m_socket, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            done += static_cast<size_t>(sent);
        }
        return true;
    }

    // The next message, or nothing when the peer closed or the time ran out
    // (Closed() tells which).
    std::optional<std::string> Next(int timeoutMs = 10000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!m_queue.CmdQueueHasItems()) {
            if (m_closed)
                return std::nullopt;
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd ready{m_socket, POLLIN, 0};
            if (poll(&ready, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char data[8192];
            ssize_t received = recv(m_socket, data, std::min(sizeof data, m_chunk), 0);
            if (received <= 0) {
                m_closed = true;
                continue;
            }
            m_queue.AddToQueue(data, static_cast<int>(received));
        }
        char buffer[VSTRING_BUFFER_SIZE] = {};
        m_queue.GetFirstQueueItem(buffer, sizeof buffer);
        return std::string(buffer);
    }

    // Messages up to and including the first that equals one of the ends.
    std::vector<std::string> Until(const std::vector<std::string>& ends, int timeoutMs = 30000)
    {
        std::vector<std::string> messages;
        for (;;) {
            std::optional<std::string> message = Next(timeoutMs);
            if (!message)
                return messages;
            messages.push_back(*message);
            for (const std::string& end : ends) {
                if (*message == end)
                    return messages;
            }
        }
    }

    // True once the peer has closed the connection (waiting at most
    // timeoutMs for it); messages still queued are dropped.
    bool WaitClosed(int timeoutMs = 10000)
    {
        while (Next(timeoutMs)) {
        }
        return m_closed;
    }

    bool Closed() const { return m_closed; }

    // True when nothing at all is waiting to be read right now.
    bool NothingPending()
    {
        if (m_queue.CmdQueueHasItems())
            return false;
        char byte;
        ssize_t received = recv(m_socket, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
        return received < 0;
    }

private:
    int m_socket;
    CMessageQueue m_queue;
    bool m_closed = false;
    size_t m_chunk = 8192;
};

// A listening socket on 127.0.0.1 (or ::1 for AF_INET6) with a port the
// system chose, for tests that play the server themselves. Port() is 0 when
// the host has no such loopback address.
class LoopbackListener {
public:
    explicit LoopbackListener(int family = AF_INET)
    {
        m_socket = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        if (family == AF_INET6) {
            auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&address);
            ipv6->sin6_family = AF_INET6;
            ipv6->sin6_addr = in6addr_loopback;
        } else {
            auto* ipv4 = reinterpret_cast<sockaddr_in*>(&address);
            ipv4->sin_family = AF_INET;
            ipv4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        }
        auto* any = reinterpret_cast<sockaddr*>(&address);
        if (bind(m_socket, any, size) == 0 && listen(m_socket, 4) == 0 && getsockname(m_socket, any, &size) == 0)
            m_port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    ~LoopbackListener() { close(m_socket); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int Port() const { return m_port; }

    // The next connection, or -1 when none came within timeoutMs.
    int Accept(int timeoutMs = 30000)
    {
        pollfd ready{m_socket, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) <= 0)
            return -1;
        return accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int m_socket = -1;
    int m_port = 0;
};

// A directory of its own under /tmp, removed with everything in it.
class ScratchDirectory {
public:
    ScratchDirectory()
    {
        char pattern[] = "/tmp/tapediag-net-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made != nullptr ? made : "";
    }
    ~ScratchDirectory()
    {
        if (!path.empty() && std::system(("rm -rf '" + path + "'").c_str()) != 0)
            path.clear();
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::string operator/(const std::string& name) const { return path + "/" + name; }
    bool Holds(const std::string& name) const { return access((path + "/" + name).c_str(), F_OK) == 0; }
    // The names in the directory, sorted.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        if (DIR* directory = opendir(path.c_str())) {
            while (dirent* entry = readdir(directory)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..")
                    names.push_back(name);
            }
            closedir(directory);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string path;
};

// Output messages joined into lines: text pieces up to each NEW_LINE.
inline std::vector<std::string> JoinLines(const std::vector<std::string>& messages)
{
    std::vector<std::string> lines;
    std::string current;
    for (const std::string& message : messages) {
        if (message == NEW_LINE) {
            lines.push_back(current);
            current.clear();
        } else {
            current += message;
        }
    }
    return lines;
}

#endif
