#include "ServerOptionTable.h"

namespace {

const CServerOptionText serverOptions[] = {
    {"-pw:", "PASSWORD", "clients' password (shows in the process list)"},
    {"-pwfile:", "FILE", "the password is the first line of FILE"},
    {"-cp:", "PORT", "the TCP port, 1 to 65535 (default 8800)"},
    {"-ip:", "ADDRESS", "listen on this address only (default: the host's)"},
    {"-dir:", "DIRECTORY", "the only directory for the files clients name"},
    {"-dev:", "SPEC", "a device to serve, any number of times"},
};

}  // namespace

const CServerOptionText* ServerOptionTexts(size_t& count)
{
    count = sizeof serverOptions / sizeof serverOptions[0];
    return serverOptions;
}
