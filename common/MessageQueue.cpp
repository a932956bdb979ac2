#include "MessageQueue.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "DelimitedText.h"

namespace {

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

// NUL counts: a text on the wire never holds one.
bool HoldsControl(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return IsControl(static_cast<unsigned char>(c)); });
}

std::chrono::steady_clock::time_point DeadlineIn(long timeoutMs)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
}

// Waits until the socket is ready for `events` or the deadline has passed;
// false only when the time ran out.
bool WaitFor(int socket, short events, std::chrono::steady_clock::time_point deadline)
{
    pollfd ready{socket, events, 0};
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int result = ::poll(&ready, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (result > 0)
            return true;  // readable, writable, or an error the next call reports
        if (result == 0)
            return false;
        if (errno != EINTR)
            return true;
    }
}

}  // namespace

std::string FrameMessage(const char* text)
{
    CVString body(text);
    if (body.IsEmpty())
        body = MSG_EMPTY;
    std::string frame("<");
    frame += static_cast<const char*>(body);
    // Nothing on the wire is escaped: a ">" inside the text would end the
    // message early and turn its tail into stray bytes. It goes out as "?",
    // the usual stand-in for a character that cannot be shown.
    std::replace(frame.begin() + 1, frame.end(), '>', '?');
    frame += '>';
    return frame;
}

ClientRequest ClassifyRequest(const char* message)
{
    CVString word = CommandWordOf(message);
    word.MakeUpper();
    if (word == "SHUTDOWN" || word == MSG_SHUTDOWN)
        return REQUEST_SHUTDOWN;
    if (word == MSG_DISCONNECT)
        return REQUEST_DISCONNECT;
    if (word == MSG_GET_AVAILABLE_DRIVES)
        return REQUEST_DRIVE_LIST;
    CVString upper(message);
    upper.MakeUpper();
    if (upper.Find(MSG_GET_FIRMWARE_VERSION) == 0)
        return REQUEST_DRIVE_DESCRIPTION;
    return REQUEST_COMMAND_LINE;
}

bool ParsePort(const char* text, int& port)
{
    const size_t length = text == nullptr ? 0 : std::strlen(text);
    if (length == 0 || length > 5 || std::strspn(text, "0123456789") != length)
        return false;
    const long value = std::strtol(text, nullptr, 10);
    if (value < 1 || value > 65535)
        return false;
    port = static_cast<int>(value);
    return true;
}

SendResult SendFrame(int socket, const char* text, long* waitBudgetMs)
{
    const std::string frame = FrameMessage(text);
    const bool bounded = waitBudgetMs != nullptr;
    const char* next = frame.data();
    size_t left = frame.size();
    while (left > 0) {
        // MSG_NOSIGNAL: a peer that has gone must fail the send, not end the
        // process. A short send is continued: losing the tail of one message
        // would also corrupt the framing of the next. A bounded send never
        // blocks in the call itself; it waits in poll, where time is kept.
        ssize_t sent = ::send(socket, next, left, MSG_NOSIGNAL | (bounded ? MSG_DONTWAIT : 0));
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (bounded && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (*waitBudgetMs <= 0)
                    return SEND_TIMED_OUT;
                const auto start = std::chrono::steady_clock::now();
                const bool ready = WaitFor(socket, POLLOUT, DeadlineIn(*waitBudgetMs));
                // Every wait costs at least a millisecond, so that many short
                // waits cannot go on for ever.
                const auto waited =
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
                *waitBudgetMs = ready ? *waitBudgetMs - std::max<long>(1, static_cast<long>(waited.count())) : 0;
                continue;
            }
            return SEND_FAILED;
        }
        if (sent == 0)
            return SEND_FAILED;
        next += sent;
        left -= static_cast<size_t>(sent);
    }
    return SEND_DONE;
}

bool SendFramedMessage(int socket, const char* text)
{
    return SendFrame(socket, text, nullptr) == SEND_DONE;
}

CMessageQueue::CMessageQueue(const char* consolePrefix) : m_prefix(consolePrefix)
{}

CMessageQueue::~CMessageQueue() = default;

void CMessageQueue::Clear()
{
    m_complete.clear();
    m_open.reset();
    m_openGarbled = false;
}

const CVString* CMessageQueue::OpenMessage() const
{
    return m_open.get();
}

bool CMessageQueue::CmdQueueHasItems() const
{
    return !m_complete.empty();
}

bool CMessageQueue::CmdQueueOverflow() const
{
    if (Count() < CAPACITY)
        return false;
    std::fprintf(stderr, "%sCmd Queue overflow, incoming message dropped.\n", static_cast<const char*>(m_prefix));
    std::fflush(stderr);
    return true;
}

void CMessageQueue::StartMessage(const std::string& firstPiece)
{
    // A new message takes its first piece in whole (cut to 4094 characters).
    m_open.reset(new CVString(firstPiece.c_str()));
    m_openGarbled = HoldsControl(firstPiece);
}

void CMessageQueue::ContinueMessage(const std::string& piece)
{
    // A piece that would make the message pass 4094 characters is dropped
    // whole; a control byte in it spoils the message all the same, so that
    // how the stream was cut never decides.
    if (HoldsControl(piece))
        m_openGarbled = true;
    else
        *m_open += piece.c_str();
}

void CMessageQueue::CompleteOpenMessage()
{
    if (m_openGarbled)
        m_open->Empty();
    m_openGarbled = false;
    m_complete.push_back(std::move(m_open));
}

bool CMessageQueue::AddToQueue(const char* data, int count)
{
    if (data == nullptr || count <= 0)
        return true;
    const std::string text(data, static_cast<size_t>(count));

    // How the stream is cut into receives must not change the messages, so
    // each delimiter means the same wherever a receive begins: inside a
    // message only ">" ends it ("<" is ordinary text); outside one, "<"
    // starts a message and anything else up to it is a stray byte.
    size_t position = 0;
    while (position < text.size()) {
        if (CmdQueueOverflow())
            return false;
        if (!m_open) {
            const size_t start = text.find_first_of("<>", position);
            if (start == std::string::npos)
                return true;  // stray bytes
            position = start + 1;
            if (text[start] == '>')
                continue;
        }
        const size_t close = text.find('>', position);
        const std::string piece = text.substr(position, close - position);
        if (m_open)
            ContinueMessage(piece);
        else
            StartMessage(piece);
        if (close == std::string::npos)
            return true;
        CompleteOpenMessage();
        position = close + 1;
    }
    return true;
}

void CMessageQueue::GetFirstQueueItem(char* buffer, int length)
{
    if (m_complete.empty())
        return;
    if (buffer != nullptr && length > 0) {
        const char* text = *m_complete.front();
        size_t copied = std::min(std::strlen(text), static_cast<size_t>(length - 1));
        std::memcpy(buffer, text, copied);
        buffer[copied] = '\0';
    }
    m_complete.pop_front();
}

CMessageQueue::ReceiveResult CMessageQueue::ReceiveFrom(int socket, char* buffer, int length, int timeoutMs)
{
    if (buffer != nullptr && length > 0)
        std::memset(buffer, 0, static_cast<size_t>(length));
    if (CmdQueueHasItems()) {
        GetFirstQueueItem(buffer, length);
        return RECEIVED;
    }
    const bool bounded = timeoutMs >= 0;
    const auto deadline = DeadlineIn(timeoutMs);
    std::vector<char> data(static_cast<size_t>(std::max(length, 1)));
    for (;;) {
        if (bounded && !WaitFor(socket, POLLIN, deadline))
            return TIMED_OUT;
        ssize_t received = ::recv(socket, data.data(), data.size(), 0);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            return FAILED;
        }
        if (received == 0)
            return CLOSED;
        if (!AddToQueue(data.data(), static_cast<int>(received)))
            return OVERFLOWED;
        if (CmdQueueHasItems()) {
            GetFirstQueueItem(buffer, length);
            return RECEIVED;
        }
    }
}
