#include "MessageQueue.h"

#include <sys/socket.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

}  // namespace

std::string FrameMessage(const char* text)
{
    CVString body(text);
    if (body.IsEmpty())
        body = MSG_EMPTY;
    std::string frame("<");
    frame += static_cast<const char*>(body);
    frame += '>';
    return frame;
}

bool SendFramedMessage(int socket, const char* text)
{
    const std::string frame = FrameMessage(text);
    const char* next = frame.data();
    size_t left = frame.size();
    while (left > 0) {
        // MSG_NOSIGNAL: a peer that has gone must fail the send, not end the
        // process. A short send is continued: losing the tail of one message
        // would also corrupt the framing of the next.
        ssize_t sent = ::send(socket, next, left, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (sent == 0)
            return false;
        next += sent;
        left -= static_cast<size_t>(sent);
    }
    return true;
}

CMessageQueue::CMessageQueue(const char* consolePrefix)
    : m_prefix(consolePrefix), m_slots(CAPACITY), m_count(0), m_open(false)
{
}

CMessageQueue::~CMessageQueue() = default;

void CMessageQueue::Clear()
{
    for (std::unique_ptr<CVString>& slot : m_slots)
        slot.reset();
    m_count = 0;
    m_open = false;
}

const CVString* CMessageQueue::OpenMessage() const
{
    return m_open ? m_slots[m_count].get() : nullptr;
}

bool CMessageQueue::CmdQueueHasItems() const
{
    return m_count > 0;
}

bool CMessageQueue::CmdQueueOverflow() const
{
    if (m_count < CAPACITY)
        return false;
    std::fprintf(stderr, "%sCmd Queue overflow, incoming message dropped.\n", static_cast<const char*>(m_prefix));
    std::fflush(stderr);
    return true;
}

void CMessageQueue::CompleteOpenMessage()
{
    ++m_count;
    m_open = false;
}

bool CMessageQueue::AddToQueue(const char* data, int count)
{
    if (data == nullptr || count <= 0)
        return true;
    size_t end = 0;
    while (end < static_cast<size_t>(count) && data[end] != '\0' && !IsControl(static_cast<unsigned char>(data[end])))
        ++end;
    const std::string text(data, end);

    size_t position = 0;
    while (position < text.size()) {
        if (CmdQueueOverflow())
            return false;
        const size_t close = text.find('>', position);
        if (text[position] == '<') {
            // Also while a message is open: its sender started over, so the
            // unfinished text in this slot is replaced.
            if (close == std::string::npos) {
                m_slots[m_count].reset(new CVString(text.substr(position + 1).c_str()));
                m_open = true;
                return true;
            }
            m_slots[m_count].reset(new CVString(text.substr(position + 1, close - position - 1).c_str()));
            CompleteOpenMessage();
            position = close + 1;
        } else if (!m_open) {
            // The tail of a message whose "<" never arrived (the peers of this
            // system do not send one): dropped up to and including its ">".
            if (close == std::string::npos)
                return true;
            position = close + 1;
        } else {
            CVString& open = *m_slots[m_count];
            if (close == std::string::npos) {
                open += text.substr(position).c_str();
                return true;
            }
            open += text.substr(position, close - position).c_str();
            CompleteOpenMessage();
            position = close + 1;
        }
    }
    return true;
}

void CMessageQueue::GetFirstQueueItem(char* buffer, int length)
{
    if (m_count < 1)
        return;
    if (buffer != nullptr && length > 0) {
        const char* text = *m_slots[0];
        size_t copied = std::min(std::strlen(text), static_cast<size_t>(length - 1));
        std::memcpy(buffer, text, copied);
        buffer[copied] = '\0';
    }
    // The open message, if any, moves down with the others.
    std::move(m_slots.begin() + 1, m_slots.end(), m_slots.begin());
    m_slots.back().reset();
    --m_count;
}

CMessageQueue::ReceiveResult CMessageQueue::ReceiveFrom(int socket, char* buffer, int length)
{
    if (buffer != nullptr && length > 0)
        std::memset(buffer, 0, static_cast<size_t>(length));
    if (CmdQueueHasItems()) {
        GetFirstQueueItem(buffer, length);
        return RECEIVED;
    }
    std::vector<char> data(static_cast<size_t>(std::max(length, 1)));
    for (;;) {
        ssize_t received = ::recv(socket, data.data(), data.size(), 0);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            // A reset is a peer that has gone, not a fault of this end.
            if (errno == ECONNRESET)
                return CLOSED;
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
