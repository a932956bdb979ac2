// Placeholder until the remote service lands.
#include "ServerMode.h"

#include <cstdio>

bool RunServerMode(CApplication&, CUtility&, int, char**, bool& stoppedByRequest)
{
    stoppedByRequest = false;
    std::fputs("server mode is not built yet\n", stderr);
    return false;
}
