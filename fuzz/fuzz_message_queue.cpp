// The receive side of the wire protocol: CMessageQueue fed an arbitrary byte
// stream split into arbitrary receives. The first input byte says how the
// stream is cut (and drained, and how often it is sent); the next bytes give
// the receive sizes, the rest is the stream. The start of the stream is also
// read as a port, by the rule both programs apply to -cp:.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "MessageQueue.h"

namespace {

const int BUFFER_LENGTH = 4096;

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

void CheckText(const char* text)
{
    const size_t length = std::strlen(text);
    FUZZ_CHECK(length <= static_cast<size_t>(VSTRING_MAX_LENGTH));
    for (size_t i = 0; i < length; ++i)
        FUZZ_CHECK(text[i] != '>' && !IsControl(static_cast<unsigned char>(text[i])));
}

void Drain(CMessageQueue& queue, std::vector<std::string>& delivered)
{
    while (queue.CmdQueueHasItems()) {
        const int before = queue.Count();
        char buffer[BUFFER_LENGTH];
        std::memset(buffer, 'Z', sizeof buffer);
        queue.GetFirstQueueItem(buffer, BUFFER_LENGTH);
        FUZZ_CHECK(queue.Count() == before - 1);
        FUZZ_CHECK(std::memchr(buffer, '\0', sizeof buffer) != nullptr);
        CheckText(buffer);
        delivered.push_back(buffer);
    }
}

void CheckState(const CMessageQueue& queue)
{
    FUZZ_CHECK(queue.Count() >= 0 && queue.Count() <= CMessageQueue::CAPACITY);
    FUZZ_CHECK((queue.OpenMessage() != nullptr) == queue.IsOpen());
    if (queue.IsOpen())
        CheckText(*queue.OpenMessage());
}

// Received whole. Without messages at the length limit (where an append is
// refused whole but a new text is cut), the cuts must not change any
// message: a control byte spoils its own message wherever it arrives.
void CompareWithWhole(const char* stream, size_t length, int sends, const std::vector<std::string>& delivered)
{
    CMessageQueue whole("FUZZ MSG: ");
    std::vector<std::string> expected;
    for (int send = 0; send < sends; ++send) {
        if (!whole.AddToQueue(stream, static_cast<int>(length)))
            return;
        Drain(whole, expected);
    }
    for (const std::string& message : expected) {
        if (message.size() >= static_cast<size_t>(VSTRING_MAX_LENGTH))
            return;
    }
    FUZZ_CHECK(delivered == expected);
}

// What one end frames, the other end must receive as it was sent.
void CheckFraming(const char* stream, size_t length)
{
    const std::string text(stream, length);  // up to the first NUL
    const CVString sent(text.c_str());
    const std::string frame = FrameMessage(text.c_str());
    CMessageQueue peer("FUZZ MSG: ");
    FUZZ_CHECK(peer.AddToQueue(frame.data(), static_cast<int>(frame.size())));
    std::vector<std::string> received;
    Drain(peer, received);
    FUZZ_CHECK(received.size() == 1);
    // The text arrives whole, but for a ">", which travels as "?".
    std::string expected = sent.IsEmpty() ? MSG_EMPTY : static_cast<const char*>(sent);
    std::replace(expected.begin(), expected.end(), '>', '?');
    FUZZ_CHECK(received[0] == expected);
}

// A message holding a control byte (NUL included) arrives as the empty
// text; the message after it arrives as it was sent.
void CheckSpoiledMessage(const char* stream, size_t length)
{
    std::string body(stream, length);
    body.erase(std::remove(body.begin(), body.end(), '>'), body.end());
    const std::string bytes = "<" + body + "><after>";
    CMessageQueue peer("FUZZ MSG: ");
    FUZZ_CHECK(peer.AddToQueue(bytes.data(), static_cast<int>(bytes.size())));
    std::vector<std::string> received;
    Drain(peer, received);
    FUZZ_CHECK(received.size() == 2 && received[1] == "after");
    const bool spoiled = std::any_of(body.begin(), body.end(), [](char c) { return c == '\0' || IsControl(c); });
    FUZZ_CHECK(received[0] == (spoiled ? std::string() : std::string(CVString(body.c_str()))));
}

// The port rule of both programs: what it takes is a number from 1 to
// 65535 written in digits only, and it reads back as written.
void CheckPort(const char* stream, size_t length)
{
    const std::string text(stream, std::min<size_t>(length, 16));
    int port = -1;
    if (!ParsePort(text.c_str(), port))
        return;
    FUZZ_CHECK(port >= 1 && port <= 65535);
    FUZZ_CHECK(text.c_str()[std::strspn(text.c_str(), "0123456789")] == '\0');
    FUZZ_CHECK(std::stoi(text.c_str()) == port);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t mode = input.Byte();
    const bool drainEachReceive = (mode & 0x10) != 0;
    const int sends = 1 + (mode >> 5);  // the stream arrives 1 to 8 times
    std::vector<size_t> cuts(mode & 0x0F);
    for (size_t& cut : cuts)
        cut = 1 + input.Byte();
    const char* stream = reinterpret_cast<const char*>(input.Rest());
    const size_t length = input.Left();

    // Received in pieces.
    CMessageQueue queue("FUZZ MSG: ");
    std::vector<std::string> delivered;
    bool overflowed = false;
    size_t next = 0;
    for (int send = 0; send < sends; ++send) {
        for (size_t position = 0; position < length;) {
            const size_t piece = cuts.empty() ? length : std::min(cuts[next++ % cuts.size()], length - position);
            const bool added = queue.AddToQueue(stream + position, static_cast<int>(piece));
            if (!added) {
                FUZZ_CHECK(queue.Count() == CMessageQueue::CAPACITY);
                overflowed = true;
            }
            CheckState(queue);
            if (drainEachReceive)
                Drain(queue, delivered);
            position += piece;
        }
    }
    Drain(queue, delivered);
    queue.Clear();
    FUZZ_CHECK(queue.Count() == 0 && !queue.IsOpen() && queue.OpenMessage() == nullptr);

    if (!overflowed)
        CompareWithWhole(stream, length, sends, delivered);
    CheckFraming(stream, length);
    CheckSpoiledMessage(stream, length);
    CheckPort(stream, length);
    return 0;
}
