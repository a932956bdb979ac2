// The server options the help and the completion show are the ones the
// server's parser takes.
#include <gtest/gtest.h>

#include <string>

#include "ServerMode.h"
#include "ServerOptionTable.h"

namespace {

bool ServerTakes(std::string option)
{
    char program[] = "tapediag", server[] = "server";
    char* argv[] = {program, server, option.data()};
    CServerOptions options;
    return ParseServerArgs(3, argv, options);
}

TEST(ServerOptionTable, EveryOptionShownIsOneTheServerTakes)
{
    size_t count = 0;
    const CServerOptionText* options = ServerOptionTexts(count);
    ASSERT_GT(count, 0u);
    for (size_t i = 0; i < count; ++i)
        EXPECT_TRUE(ServerTakes(std::string(options[i].text) + "x")) << options[i].text;
    EXPECT_FALSE(ServerTakes("-unknown:x"));
}

}  // namespace
