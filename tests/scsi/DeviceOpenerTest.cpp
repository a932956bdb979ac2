#include "DeviceOpener.h"

#include "SimPassThrough.h"

#include <gtest/gtest.h>

namespace {

TEST(OpenDevice, ChoosesTheBackendByItsPrefix)
{
    CVString error;
    std::unique_ptr<CPassThrough> sim = OpenDevice("sim:dds4", error);
    ASSERT_NE(sim, nullptr) << static_cast<const char*>(error);
    EXPECT_NE(dynamic_cast<CSimPassThrough*>(sim.get()), nullptr);

    EXPECT_EQ(OpenDevice("iscsi://host/iqn.2001-04.com.example:tape/0", error), nullptr);
    EXPECT_EQ(error, "iSCSI devices are not supported by this build");

    EXPECT_EQ(OpenDevice("/nonexistent/nst0", error), nullptr);
    EXPECT_NE(error.Find("/nonexistent/nst0"), -1);

    EXPECT_EQ(OpenDevice("sim:", error), nullptr);
    EXPECT_FALSE(error.IsEmpty());
}

}  // namespace
