// The client showing a command's reply: ReceiveCommandOutput reads an
// arbitrary byte stream from the server's end of a socket pair, with its
// progress line drawn. What it prints must be exactly the reply's text (a
// line end for each NEW_LINE; no token, no progress step, no empty-text
// stand-in), and its outcome the first closing token, or a cut-off reply.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ClientProgram.h"
#include "ClientProgress.h"
#include "FuzzCheck.h"
#include "MessageQueue.h"
#include "NetworkClient.h"

namespace {

// The stream holds more than a socket pair buffers only past this.
const size_t MAX_STREAM = 65536;

int NullDevice()
{
    // The short help of a rejected line waits for a key: standard input
    // gives it none.
    static const int fd = [] {
        const int null = open("/dev/null", O_RDWR);
        FUZZ_CHECK(null >= 0 && dup2(null, STDIN_FILENO) == STDIN_FILENO);
        return null;
    }();
    return fd;
}

// What the reply should show, and how it should end.
CommandOutcome Expected(const std::string& stream, std::string& shown, bool& comparable)
{
    CMessageQueue queue("FUZZ MSG: ");
    queue.AddToQueue(stream.data(), static_cast<int>(stream.size()));
    bool progress = false;
    while (queue.CmdQueueHasItems()) {
        char buffer[VSTRING_BUFFER_SIZE] = {};
        queue.GetFirstQueueItem(buffer, sizeof buffer);
        const std::string message = buffer;
        if (message.size() >= static_cast<size_t>(VSTRING_MAX_LENGTH))
            comparable = false;
        if (message == MSG_SUCCESSFUL_COMPLETION || message == MSG_SUCCESSFUL_FIRMWARE_UPGRADE)
            return COMMAND_SUCCEEDED;
        if (message == MSG_UNSUCCESSFUL_COMPLETION)
            return COMMAND_FAILED;
        if (message == MSG_BAD_PARAMETERS)
            return COMMAND_REJECTED;
        if (message == MSG_MOVE_WRITE_PROGRESS_BAR || message == MSG_MOVE_READ_PROGRESS_BAR) {
            progress = true;
        } else if (message == NEW_LINE) {
            if (!progress)
                shown += '\n';
            progress = false;
        } else if (message != MSG_EMPTY) {
            shown += message;
        }
    }
    return COMMAND_CUT_OFF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int null = NullDevice();
    const std::string stream(reinterpret_cast<const char*>(data), size < MAX_STREAM ? size : MAX_STREAM);
    int ends[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0);
    FUZZ_CHECK(write(ends[1], stream.data(), stream.size()) == static_cast<ssize_t>(stream.size()));
    shutdown(ends[1], SHUT_WR);

    std::FILE* out = std::tmpfile();
    FUZZ_CHECK(out != nullptr);
    CommandOutcome outcome = COMMAND_CUT_OFF;
    Captured(STDOUT_FILENO, [&] {
        Captured(STDERR_FILENO, [&] {
            CNetworkClient client("", "", 1);
            client.AdoptConnectedSocket(ends[0]);
            CClientProgress progress(null, true);
            outcome = ReceiveCommandOutput(client, out, "tapediag-client", &progress);
        });
    });
    close(ends[1]);

    std::string printed;
    std::rewind(out);
    for (int c; (c = std::fgetc(out)) != EOF;)
        printed += static_cast<char>(c);
    std::fclose(out);
    // How the stream is cut into receives decides what a message at the
    // length limit keeps: past one, only the text's own rules are checked.
    std::string shown;
    bool comparable = true;
    const CommandOutcome expected = Expected(stream, shown, comparable);
    if (comparable) {
        FUZZ_CHECK(outcome == expected);
        FUZZ_CHECK(printed == shown);
    }
    for (unsigned char c : printed)
        FUZZ_CHECK(c == '\n' || (c >= 0x20 && c != 0x7F));
    return 0;
}
