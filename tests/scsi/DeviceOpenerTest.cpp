#include "DeviceOpener.h"
#include "LinuxDevices.h"

#include "SgPassThrough.h"
#include "SimPassThrough.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

std::string Number(int fd)
{
    struct stat status;
    if (fstat(fd, &status) != 0)
        return "closed";
    return std::to_string(major(status.st_rdev)) + ":" + std::to_string(minor(status.st_rdev));
}

// A host tree as Linux lays it out for one tape drive at 2:0:5:0, whose
// st node is /dev/null (1:3) and whose generic node is /dev/zero (1:5):
// real character devices that every machine has, under fake names.
class FakeHostTree : public ::testing::Test {
protected:
    FakeHostTree()
    {
        char pattern[] = "/tmp/tapediag-host-XXXXXX";
        root = mkdtemp(pattern);
        paths.sysfs = root + "/sys";
        paths.dev = root + "/dev";
        Directory(paths.sysfs + "/" + deviceDirectory + "/scsi_tape/nst0");
        Directory(paths.sysfs + "/" + deviceDirectory + "/scsi_tape/st0");
        Directory(paths.sysfs + "/" + deviceDirectory + "/scsi_generic/sg4");
        Directory(paths.sysfs + "/dev/char");
        Directory(paths.dev + "/tape/by-id");
        std::ofstream(paths.sysfs + "/" + deviceDirectory + "/scsi_generic/sg4/dev") << "1:5\n";
        Link("../../" + deviceDirectory + "/scsi_tape/nst0", paths.sysfs + "/dev/char/1:3");
        Link("../../" + deviceDirectory + "/scsi_generic/sg4", paths.sysfs + "/dev/char/1:5");
        Link("/dev/null", paths.dev + "/nst0");
        Link("/dev/zero", paths.dev + "/sg4");
        Link("../../nst0", paths.dev + "/tape/by-id/scsi-HU1234-nst");
        generic = paths.sysfs + "/" + deviceDirectory + "/scsi_generic";
    }
    ~FakeHostTree() override { EXPECT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0); }

    static void Directory(const std::string& path) { EXPECT_EQ(std::system(("mkdir -p '" + path + "'").c_str()), 0); }
    static void Link(const std::string& target, const std::string& path)
    {
        unlink(path.c_str());
        EXPECT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
    }

    // Opens `device`; what went to standard error lands in `said`.
    COpenedDevice Open(const std::string& device)
    {
        testing::internal::CaptureStderr();
        COpenedDevice opened = OpenDevice(device.c_str(), paths, error);
        said = testing::internal::GetCapturedStderr();
        return opened;
    }
    static CSgPassThrough* Sg(const COpenedDevice& opened)
    {
        return dynamic_cast<CSgPassThrough*>(opened.device.get());
    }

    const std::string deviceDirectory = "devices/pci0000:00/host2/target2:0:5/2:0:5:0";
    std::string root;
    std::string generic;
    CHostPaths paths;
    CVString error;
    std::string said;
};

TEST_F(FakeHostTree, EveryNameOfTheDriveSendsCommandsToItsGenericNodeAndHoldsItsStNode)
{
    for (const std::string name : {"/nst0", "/sg4", "/tape/by-id/scsi-HU1234-nst"}) {
        SCOPED_TRACE(name);
        COpenedDevice opened = Open(paths.dev + name);
        CSgPassThrough* sg = Sg(opened);
        ASSERT_NE(sg, nullptr) << static_cast<const char*>(error);
        EXPECT_EQ(Number(sg->Descriptor()), "1:5");
        EXPECT_EQ(Number(sg->ClaimDescriptor()), "1:3");
        EXPECT_FALSE(sg->ThroughSt());
        // The address comes from the device number, whatever the path says.
        EXPECT_TRUE(opened.hasAddress);
        EXPECT_EQ(opened.address.adapter, 2);
        EXPECT_EQ(opened.address.bus, 0);
        EXPECT_EQ(opened.address.target, 5);
        EXPECT_EQ(opened.address.lun, 0);
        EXPECT_EQ(opened.device->Name(), paths.dev + name);
        EXPECT_EQ(said, "");
    }
}

TEST_F(FakeHostTree, WithoutAGenericNodeCommandsGoToTheStNodeAndThatIsSaidOnce)
{
    // The sg module is not loaded (no sysfs entry), or udev made no node.
    for (const std::string& missing : {paths.dev + "/sg4", generic}) {
        SCOPED_TRACE(missing);
        ASSERT_EQ(std::system(("rm -rf '" + missing + "'").c_str()), 0);
        COpenedDevice opened = Open(paths.dev + "/nst0");
        CSgPassThrough* sg = Sg(opened);
        ASSERT_NE(sg, nullptr) << static_cast<const char*>(error);
        EXPECT_EQ(sg->Descriptor(), sg->ClaimDescriptor());
        EXPECT_EQ(Number(sg->Descriptor()), "1:3");
        EXPECT_TRUE(sg->ThroughSt());
        EXPECT_TRUE(opened.hasAddress);
        EXPECT_EQ(said, "tapediag: " + paths.dev +
                            "/nst0: no SCSI generic node (is the sg module loaded?); commands go through the st "
                            "node, which passes none without CAP_SYS_RAWIO (root)\n");
    }
}

TEST_F(FakeHostTree, AGenericNodeWithoutAnStNodeIsUsedWithoutAClaim)
{
    unlink((paths.dev + "/nst0").c_str());
    COpenedDevice opened = Open(paths.dev + "/sg4");
    ASSERT_NE(Sg(opened), nullptr) << static_cast<const char*>(error);
    EXPECT_EQ(Sg(opened)->ClaimDescriptor(), -1);
    EXPECT_EQ(opened.address.target, 5);
}

TEST_F(FakeHostTree, EachOpenErrorSaysWhy)
{
    std::ofstream(paths.dev + "/plain") << "not a device";
    Link("/dev/full", paths.dev + "/sg4");  // 1:7, where sysfs says 1:5
    struct Row {
        std::string device;
        std::string error;
    } rows[] = {
        {paths.dev + "/nst9", "cannot open " + paths.dev + "/nst9: no such device"},
        {paths.dev + "/plain", "cannot use " + paths.dev + "/plain: not a character device"},
        {paths.dev + "/nst0", "cannot use " + paths.dev + "/sg4: it is not the generic node of this drive"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Open(row.device).device, nullptr) << row.device;
        EXPECT_EQ(std::string(error), row.error);
    }
    // A character device that is neither a tape nor a generic node.
    Link("../../devices/virtual/mem/null", paths.sysfs + "/dev/char/1:3");
    EXPECT_EQ(Open(paths.dev + "/nst0").device, nullptr);
    EXPECT_EQ(std::string(error), "cannot use " + paths.dev + "/nst0: not a SCSI tape or SCSI generic node");
}

TEST_F(FakeHostTree, ARewindingNodeIsRefusedAndItsNonRewindingTwinNamed)
{
    // Every mode of the st driver: /dev/full (1:7) as the rewinding node,
    // reached through a link; its twin is the minor number with bit 7 set.
    Link("/dev/full", paths.dev + "/tape-link");
    for (const std::string mode : {"", "l", "m", "a"}) {
        SCOPED_TRACE(mode);
        Link("../../" + deviceDirectory + "/scsi_tape/st0" + mode, paths.sysfs + "/dev/char/1:7");
        Link("../../" + deviceDirectory + "/scsi_tape/nst0" + mode, paths.sysfs + "/dev/char/1:135");
        EXPECT_EQ(Open(paths.dev + "/tape-link").device, nullptr);
        EXPECT_EQ(std::string(error), "cannot use " + paths.dev +
                                          "/tape-link: a rewinding node rewinds the tape when it is closed; use " +
                                          paths.dev + "/nst0" + mode);
    }
}

TEST_F(FakeHostTree, ANodeSysfsDoesNotKnowIsUsedAsItIsWithoutAnAddress)
{
    unlink((paths.sysfs + "/dev/char/1:3").c_str());
    COpenedDevice opened = Open(paths.dev + "/nst0");
    ASSERT_NE(Sg(opened), nullptr) << static_cast<const char*>(error);
    EXPECT_FALSE(opened.hasAddress);
    EXPECT_EQ(said, "tapediag: " + paths.dev + "/nst0: not found in sysfs; commands go straight to this node\n");
}

TEST_F(FakeHostTree, ADeviceDirectoryThatIsNoScsiAddressIsSaidAndGivesAddressZero)
{
    Directory(paths.sysfs + "/devices/host0/scsi_tape/nst1");
    Link("../../devices/host0/scsi_tape/nst1", paths.sysfs + "/dev/char/9:1");
    testing::internal::CaptureStderr();
    CSysfsNode node = ReadSysfsNode(paths, 9, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Problems exist parsing the device file. Please contact technical support.\n");
    EXPECT_EQ(node.kind, CSysfsNode::TAPE);
    EXPECT_EQ(node.address.adapter + node.address.target, 0);
    EXPECT_EQ(ReadSysfsNode(paths, 9, 2).kind, CSysfsNode::ABSENT);
}

TEST(OpenDevice, ChoosesTheBackendByItsPrefix)
{
    CHostPaths nowhere;
    nowhere.sysfs = nowhere.dev = "/nonexistent";
    CVString error;
    COpenedDevice sim = OpenDevice("sim:dds4", nowhere, error);
    ASSERT_NE(sim.device, nullptr) << static_cast<const char*>(error);
    EXPECT_NE(dynamic_cast<CSimPassThrough*>(sim.device.get()), nullptr);
    EXPECT_FALSE(sim.hasAddress);  // discovery numbers virtual drives
    EXPECT_EQ(sim.device->Name(), "sim:dds4");

#ifndef TAPEDIAG_HAVE_LIBISCSI
    EXPECT_EQ(OpenDevice("iscsi://host/iqn.2001-04.com.example:tape/0", nowhere, error).device, nullptr);
    EXPECT_EQ(error, "iSCSI devices are not supported by this build (it was built without libiscsi)");
#endif

    EXPECT_EQ(OpenDevice("sim:", nowhere, error).device, nullptr);
    EXPECT_FALSE(error.IsEmpty());
}

TEST(DeviceDisplayName, LeavesOutAnIscsiPassword)
{
    EXPECT_EQ(DeviceDisplayName("iscsi://admin%s3cret@127.0.0.1:3261/iqn.2001-04.com.example:tape/1"),
              "iscsi://admin@127.0.0.1:3261/iqn.2001-04.com.example:tape/1");
    EXPECT_EQ(DeviceDisplayName("iscsi://127.0.0.1/iqn.2001-04.com.example:t%1/0"),
              "iscsi://127.0.0.1/iqn.2001-04.com.example:t%1/0");
    EXPECT_EQ(DeviceDisplayName("/dev/nst0"), "/dev/nst0");
}

}  // namespace
