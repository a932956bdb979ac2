// The server's password file (-pwfile:): its bytes come from the input, and
// SettleServerOptions reads the password from its first line.
#include <algorithm>
#include <string>

#include "FuzzCheck.h"
#include "MessageQueue.h"
#include "ServerMode.h"

namespace {

const std::string& File()
{
    static const std::string path = ScratchDirectory() + "/password";
    return path;
}

// What a client could send: the first line (without "\n" and one "\r"
// before it), not empty, no "<", ">" or control byte, not the empty-password
// token, and no longer than a message.
bool Sendable(const std::string& line)
{
    return !line.empty() && line.size() <= static_cast<size_t>(VSTRING_MAX_LENGTH) && line != MSG_EMPTY &&
           std::none_of(line.begin(), line.end(), [](char c) {
               const unsigned char byte = static_cast<unsigned char>(c);
               return byte < 0x20 || byte == 0x7F || c == '<' || c == '>';
           });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string content(reinterpret_cast<const char*>(data), size);
    std::FILE* file = std::fopen(File().c_str(), "wb");
    FUZZ_CHECK(file != nullptr && std::fwrite(data, 1, size, file) == size);
    std::fclose(file);

    std::string line = content.substr(0, content.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();

    CServerOptions options;
    options.passwordSource = PASSWORD_FILE;
    options.passwordFile = File();
    options.directory = "/tmp";
    int port = 0;
    bool settled = false;
    Captured(STDERR_FILENO, [&] { settled = SettleServerOptions(options, port); });
    FUZZ_CHECK(settled == Sendable(line));
    if (settled)
        FUZZ_CHECK(options.password == line);
    return 0;
}
