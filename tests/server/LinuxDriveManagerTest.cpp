#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Application.h"
#include "LinuxDriveManager.h"
#include "LinuxDriverInterface.h"
#include "SimPassThrough.h"
#include "Utility.h"

namespace {

// A sysfs tree of st devices and the virtual drives behind their nodes.
class FakeHost {
public:
    FakeHost()
    {
        char pattern[] = "/tmp/tapediag-sysfs-XXXXXX";
        root = mkdtemp(pattern);
    }
    ~FakeHost() { EXPECT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0); }

    // Adds node nstN whose device link is `link` (no link when empty), backed by a virtual drive.
    void AddNode(const std::string& node, const std::string& link, const std::string& model)
    {
        std::string directory = root + "/" + node;
        mkdir(directory.c_str(), 0755);
        if (!link.empty()) {
            EXPECT_EQ(symlink(link.c_str(), (directory + "/device").c_str()), 0);
        }
        if (!model.empty())
            models["/dev/" + node] = model;
    }

    // Opens nodes of the tree as the real opener does, with a virtual drive
    // behind each, and "sim:" devices as themselves.
    DeviceOpenFunction Opener()
    {
        return [this](const char* device, CVString& error) {
            opened.push_back(device);
            std::string name(device);
            COpenedDevice result;
            if (name.compare(0, 4, "sim:") == 0) {
                result.device = CSimPassThrough::Open(device + 4, error);
                return result;
            }
            auto found = models.find(name);
            if (found == models.end()) {
                error = "no such device";
                return result;
            }
            result.device = CSimPassThrough::Open(found->second.c_str(), error);
            result.hasAddress = ReadSysfsTapeAddress(root.c_str(), name.substr(name.rfind('/') + 1).c_str(),
                                                     result.address);
            return result;
        };
    }

    std::string root;
    std::map<std::string, std::string> models;
    std::vector<std::string> opened;
};

class Discovery : public ::testing::Test {
protected:
    Discovery() : utility(&app) {}

    CLinuxDriveManager* Discover(const std::vector<CVString>& devices = {})
    {
        manager = new CLinuxDriveManager(app, devices, host.root.c_str(), "/dev", host.Opener());
        app.AdoptDriveManager(manager);
        return manager;
    }

    std::vector<std::string> Descriptions()
    {
        std::vector<std::string> found;
        for (int i = 0; i < manager->GetDriveList()->GetCount(); ++i) {
            CTapeDrive* drive = manager->GetDriveList()->GetAt(i);
            char address[64];
            std::snprintf(address, sizeof address, "%d:%d:%d:%d ", drive->AdapterID(), drive->BusID(),
                          drive->DriveID(), drive->LunID());
            found.push_back(address + std::string(drive->DriveDescription()));
        }
        return found;
    }

    CApplication app;
    CUtility utility;
    FakeHost host;
    CLinuxDriveManager* manager = nullptr;
};

TEST_F(Discovery, ScansStDevicesInNumericOrderWithTheirSysfsAddress)
{
    host.AddNode("nst10", "../../../2:0:5:0", "ultrium");
    host.AddNode("nst2", "../../../1:0:3:0", "dds4");
    host.AddNode("nst4", "../../../0:1:0:0", "crt20000n");
    host.AddNode("nst5", "../../../0:0:6:0", "changer");   // not a tape drive
    host.AddNode("nst3", "", "dat");                        // no device link
    host.AddNode("st0", "../../../0:0:9:0", "dat");         // rewinding node, not used
    host.AddNode("nst7", "../../../0:0:7:0", "");           // node that cannot be opened
    testing::internal::CaptureStderr();
    Discover();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // a scan skips silently
    EXPECT_EQ(Descriptions(), (std::vector<std::string>{"1:0:3:0 CORVANE DAT40 DDS4      ",
                                                        "0:1:0:0 CORVANE CRT20000N       ",
                                                        "2:0:5:0 TESSARA ULTRIUM 2       "}));
    EXPECT_EQ(app.OSType(), PLATFORM_KIND_LINUX);
    // Identification ran: serial numbers and long firmware texts.
    EXPECT_STREQ(manager->GetDriveList()->GetAt(0)->SerialNumber(), "DT12345");
    EXPECT_STREQ(manager->GetDriveList()->GetAt(1)->SerialNumber(), "Unavailable");
    EXPECT_STREQ(manager->GetDriveList()->GetAt(2)->FirmwareDescription(), "117A-5RC4 BOOT 1.2");
    auto* driver = dynamic_cast<CLinuxDriverInterface*>(manager->GetDriverInterface());
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->Driver().Timeout(), 10);
}

TEST_F(Discovery, UnparsableLinkIsReportedAndTheDriveListedAtAddressZero)
{
    host.AddNode("nst0", "../../../host0", "dds3");
    testing::internal::CaptureStderr();
    Discover();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Problems exist parsing the device file. Please contact technical support.\n");
    EXPECT_EQ(Descriptions(), std::vector<std::string>{"0:0:0:0 CORVANE DAT24 DDS3      "});
}

TEST_F(Discovery, NamedDevicesReplaceTheScanAndKeepTheirOrder)
{
    host.AddNode("nst0", "../../../3:0:4:1", "dat");
    host.AddNode("nst1", "../../../3:0:5:0", "dds3");
    testing::internal::CaptureStderr();
    Discover({"sim:ultrium", "/dev/nst0", "sim:bogus", "sim:dds4"});
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Descriptions(), (std::vector<std::string>{"0:0:0:0 TESSARA ULTRIUM 2       ",
                                                        "3:0:4:1 CORVANE DAT 12GB        ",
                                                        "0:0:1:0 CORVANE DAT40 DDS4      "}));
    // A device the user named and that cannot be used is said on standard error.
    EXPECT_NE(errors.find("tapediag: device sim:bogus skipped: unknown drive model 'bogus'"), std::string::npos);
    EXPECT_EQ(host.opened, (std::vector<std::string>{"sim:ultrium", "/dev/nst0", "sim:bogus", "sim:dds4"}));
}

TEST_F(Discovery, LaterCommandsAddOnlyDevicesNotYetListed)
{
    Discover({"sim:ultrium"});
    manager->AddDevices({"sim:ultrium", "sim:dds4"});
    manager->AddDevices({"sim:dds4"});
    EXPECT_EQ(Descriptions(), (std::vector<std::string>{"0:0:0:0 TESSARA ULTRIUM 2       ",
                                                        "0:0:1:0 CORVANE DAT40 DDS4      "}));
}

TEST_F(Discovery, MissingSysfsGivesAnEmptyList)
{
    manager = new CLinuxDriveManager(app, {}, (host.root + "/absent").c_str(), "/dev", host.Opener());
    app.AdoptDriveManager(manager);
    EXPECT_EQ(manager->GetDriveList()->GetCount(), 0);
}

TEST(SysfsLink, ParsesTheTrailingAddress)
{
    CDeviceAddress address;
    EXPECT_TRUE(ParseSysfsLink("../../../12:3:45:6", address));
    EXPECT_EQ(address.adapter, 12);
    EXPECT_EQ(address.bus, 3);
    EXPECT_EQ(address.target, 45);
    EXPECT_EQ(address.lun, 6);
    for (const char* bad : {"../../../1:2:3", "1:2:3:4:5", "a:0:0:0", "1:2:3:4x", "", "1::3:4", "99999999999:0:0:0"}) {
        EXPECT_FALSE(ParseSysfsLink(bad, address)) << bad;
        EXPECT_EQ(address.adapter + address.bus + address.target + address.lun, 0) << bad;
    }
}

}  // namespace
