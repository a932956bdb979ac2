// A server started without -ip: listens on the address of the host's own
// name; when that name does not resolve, it must not start. A server open to
// the network without a password says so. Both run in namespaces of their
// own, so that nothing reaches the host's names or interfaces.
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

    // A network namespace of its own too: the name is looked up nowhere.
    std::string script = "hostname tapediag-unresolvable.invalid && exec " + std::string(TAPEDIAG_BIN) +
                         " server -cp:18777 -dev:sim:dds4";
    ChildProcess server(UNSHARE, {"--uts", "--net", "sh", "-c", script});
    EXPECT_EQ(server.Finish(), 0);
    EXPECT_EQ(
        server.Errors().rfind("SERVER MSG: Unable to resolve the host's own name tapediag-unresolvable.invalid: ", 0),
        0u)
        << server.Errors();
    EXPECT_EQ(server.Output().find("Awaiting client connection"), std::string::npos);
}

TEST(ServerHostName, UnresolvableListeningAddressStopsTheServerWithAReason)
{
    ChildProcess probe(UNSHARE, {"--net", "true"});
    if (probe.Finish() != 0)
        GTEST_SKIP() << "cannot make a network namespace here";
    const std::string server = std::string(TAPEDIAG_BIN) + " server -ip:no-such-host.invalid -cp:18778 -dev:sim:dds4";
    ChildProcess refused(UNSHARE, {"--net", "sh", "-c", "exec " + server});
    EXPECT_EQ(refused.Finish(), 0);
    EXPECT_EQ(
        refused.Errors().rfind("SERVER MSG: Unable to resolve the address no-such-host.invalid to listen on: ", 0), 0u)
        << refused.Errors();
    EXPECT_EQ(refused.Output().find("Awaiting client connection"), std::string::npos);
}

TEST(ServerOpenToTheNetwork, NoPasswordOffLoopbackIsWarnedAbout)
{
    // A private network namespace has no interface but its own loopback:
    // listening on every address there reaches nobody.
    ChildProcess probe(UNSHARE, {"--net", "true"});
    if (probe.Finish() != 0)
        GTEST_SKIP() << "cannot make a network namespace here";

    const std::string warning = "SERVER MSG: Warning: no password is set and the server listens on 0.0.0.0: anyone "
                                "who can reach port 18779 can run destructive tests on the drives.\n";
    const std::string server = std::string(TAPEDIAG_BIN) + " server -ip:0.0.0.0 -cp:18779 -dev:sim:dds4";
    ChildProcess open(UNSHARE, {"--net", "sh", "-c", "exec " + server});
    EXPECT_TRUE(open.WaitForOutput("SERVER MSG: Awaiting client connection", 30000));
    EXPECT_TRUE(open.WaitForError(warning, 1000));
    EXPECT_EQ(open.Errors(), warning);
    open.Kill();
    open.Wait();

    ChildProcess guarded(UNSHARE, {"--net", "sh", "-c", "exec " + server + " -pw:secret"});
    EXPECT_TRUE(guarded.WaitForOutput("SERVER MSG: Awaiting client connection", 30000));
    guarded.Kill();
    guarded.Wait();
    EXPECT_EQ(guarded.Errors(), "");
}

}  // namespace
