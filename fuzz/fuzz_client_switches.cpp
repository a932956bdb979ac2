// The client's command line: its connection switches taken out, the rest
// turned into the command it sends. The arguments are separated by NUL
// bytes.
#include <cstring>
#include <string>
#include <vector>

#include "ClientProgram.h"
#include "FuzzCheck.h"
#include "MessageQueue.h"

namespace {

const char* const CONNECTION_SWITCHES[] = {"-ip:", "-cp:", "-pw:", "-pwfile:"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> arguments = NulSeparatedArguments({"tapediag-client"}, data, size, 64);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);
    const int argc = static_cast<int>(argv.size());

    CConnectionSwitches switches;
    GetCmdLineCommunicationsParams(argc, argv.data(), switches);
    // Every argument that holds a connection switch is taken out whole...
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "null") == 0)
            continue;
        for (const char* connection : CONNECTION_SWITCHES)
            FUZZ_CHECK(std::strstr(argv[i], connection) == nullptr);
    }
    // ...so the command sent never carries the password or where it goes.
    const std::string command = CmdLineArgsToString(argc, argv.data());
    FUZZ_CHECK(command.size() <= static_cast<size_t>(VSTRING_MAX_LENGTH));
    for (const char* connection : CONNECTION_SWITCHES)
        FUZZ_CHECK(command.find(connection) == std::string::npos);
    for (unsigned char c : command)
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
    FUZZ_CHECK(command.empty() || (command.front() != ' ' && command.back() != ' '));
    return 0;
}
