// The server's command line: ParseServerArgs on arguments separated by NUL
// bytes (after "tapediag server"), then SettleServerOptions on what it
// accepted (the port and the password), and SettleDirectory on its -dir:
// directory. A -pwfile:
// names a fixed file here, so that no path of the input is ever opened.
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "CommandFiles.h"
#include "MessageQueue.h"
#include "ServerMode.h"
#include "Utility.h"

namespace {

const char* const COUNTED[] = {"-pw:", "-cp:"};
const char* const UNCOUNTED[] = {"-ip:", "-dev:", "-dir:", "-pwfile:"};

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

const std::string& PasswordFile()
{
    static const std::string path = [] {
        const std::string file = ScratchDirectory() + "/password";
        std::ofstream(file) << "s3cret\n";
        return file;
    }();
    return path;
}

// The value of the last argument with the prefix; `fallback` when none.
std::string Last(const std::vector<std::string>& arguments, const char* prefix, const std::string& fallback)
{
    std::string value = fallback;
    for (size_t i = 2; i < arguments.size(); ++i) {
        if (StartsWith(arguments[i], prefix))
            value = arguments[i].substr(std::strlen(prefix));
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> arguments = NulSeparatedArguments({"tapediag", "server"}, data, size, 40);
    if (size == 0)
        arguments.pop_back();
    for (std::string& argument : arguments) {
        if (StartsWith(argument, "-pwfile:"))
            argument = "-pwfile:" + PasswordFile();
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);

    CServerOptions options;
    const bool accepted = ParseServerArgs(static_cast<int>(argv.size()), argv.data(), options);
    if (!accepted)
        return 0;
    // Accepted: every option is one the server knows, at most two of -pw: and
    // -cp:, and the later of a kind wins.
    int counted = 0;
    for (size_t i = 2; i < arguments.size(); ++i) {
        bool known = false;
        for (const char* prefix : COUNTED) {
            if (StartsWith(arguments[i], prefix)) {
                known = true;
                ++counted;
            }
        }
        for (const char* prefix : UNCOUNTED) {
            if (StartsWith(arguments[i], prefix)) {
                known = true;
                FUZZ_CHECK(arguments[i].size() > std::strlen(prefix));
            }
        }
        FUZZ_CHECK(known);
    }
    FUZZ_CHECK(counted <= 2);
    // The port is a text of the program's own kind (cut at a control
    // character); an address or a device is taken whole or refused.
    FUZZ_CHECK(options.port == CVString(Last(arguments, "-cp:", DEFAULT_PORT_TEXT).c_str()));
    FUZZ_CHECK(std::string(options.bindAddress) == Last(arguments, "-ip:", ""));
    FUZZ_CHECK(options.directory == Last(arguments, "-dir:", ""));
    size_t device = 0;
    for (size_t i = 2; i < arguments.size(); ++i) {
        if (StartsWith(arguments[i], "-dev:"))
            FUZZ_CHECK(std::string(options.devices.at(device++)) == arguments[i].substr(5));
    }
    FUZZ_CHECK(device == options.devices.size());

    int port = 0;
    bool settled = false;
    Captured(STDERR_FILENO, [&] { settled = SettleServerOptions(options, port); });
    if (!settled)
        return 0;
    // Settled: a port a client can reach, a password a client can send, a
    // directory that is there.
    FUZZ_CHECK(port >= 1 && port <= 65535 && std::strtol(options.port, nullptr, 10) == port);
    FUZZ_CHECK(options.password.size() <= static_cast<size_t>(VSTRING_MAX_LENGTH) && options.password != MSG_EMPTY);
    for (unsigned char c : options.password)
        FUZZ_CHECK(c >= 0x20 && c != 0x7F && c != '<' && c != '>');
    // Without -dir: clients may name no file; with one, it is an absolute
    // directory that is there.
    const bool named = !options.directory.empty();
    CCommandFiles files;
    Captured(STDERR_FILENO, [&] { settled = SettleDirectory(options.directory, files); });
    if (!settled)
        return 0;
    FUZZ_CHECK(options.directory.empty() == !named);
    if (!named)
        return 0;
    struct stat entry;
    FUZZ_CHECK(options.directory[0] == '/');
    FUZZ_CHECK(stat(options.directory.c_str(), &entry) == 0 && S_ISDIR(entry.st_mode));
    return 0;
}
