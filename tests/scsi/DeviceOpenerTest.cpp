#include "DeviceOpener.h"

#include "SimPassThrough.h"

#include <gtest/gtest.h>

namespace {

TEST(OpenDevice, ChoosesTheBackendByItsPrefix)
{
    CVString error;
    COpenedDevice sim = OpenDevice("sim:dds4", "/nonexistent", error);
    ASSERT_NE(sim.device, nullptr) << static_cast<const char*>(error);
    EXPECT_NE(dynamic_cast<CSimPassThrough*>(sim.device.get()), nullptr);
    EXPECT_FALSE(sim.hasAddress);  // discovery numbers virtual drives

    EXPECT_EQ(OpenDevice("iscsi://host/iqn.2001-04.com.example:tape/0", "/nonexistent", error).device, nullptr);
    EXPECT_EQ(error, "iSCSI devices are not supported by this build");

    EXPECT_EQ(OpenDevice("/nonexistent/nst0", "/nonexistent", error).device, nullptr);
    EXPECT_NE(error.Find("/nonexistent/nst0"), -1);

    EXPECT_EQ(OpenDevice("sim:", "/nonexistent", error).device, nullptr);
    EXPECT_FALSE(error.IsEmpty());
}

}  // namespace
