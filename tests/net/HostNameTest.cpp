// A server started without -ip: listens on the address of the host's own
// name; when that name does not resolve, it must not start.
#include <gtest/gtest.h>

#include <string>

#include "ChildProcess.h"

namespace {

const char* const UNSHARE = "/usr/bin/unshare";

TEST(ServerHostName, UnresolvableHostNameStopsTheServerWithAReason)
{
    // A private host name needs a UTS namespace of its own (root, as in CI).
    ChildProcess probe(UNSHARE, {"--uts", "true"});
    if (probe.Finish() != 0)
        GTEST_SKIP() << "cannot make a UTS namespace here";

    std::string script = "hostname tapediag-unresolvable.invalid && exec " + std::string(TAPEDIAG_BIN) +
                         " server -cp:18777 -dev:sim:dds4";
    ChildProcess server(UNSHARE, {"--uts", "sh", "-c", script});
    EXPECT_EQ(server.Finish(), 0);
    EXPECT_EQ(server.Errors(), "SERVER MSG: Unable to resolve the host's own name tapediag-unresolvable.invalid.\n");
    EXPECT_EQ(server.Output().find("Awaiting client connection"), std::string::npos);
}

}  // namespace
