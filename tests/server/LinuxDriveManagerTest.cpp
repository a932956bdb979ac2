#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Application.h"
#include "ControllerRun.h"
#include "FakeClock.h"
#include "FirmwareImage.h"
#include "LinuxDriveManager.h"
#include "LinuxDevices.h"
#include "LinuxDriverInterface.h"
#include "SimPassThrough.h"
#include "Utility.h"

namespace {

// A node of this host held open: the drive behind it lives as long as the
// node is open, and `open` counts the nodes open now.
class CHeldNode : public CPassThrough {
public:
    CHeldNode(std::unique_ptr<CPassThrough> drive, int& open) : m_drive(std::move(drive)), m_open(open) { ++m_open; }
    ~CHeldNode() override { --m_open; }
    bool HoldsHostNodes() const override { return true; }

protected:
    CScsiResult Send(const CScsiRequest& request) override { return m_drive->Execute(request); }

private:
    std::unique_ptr<CPassThrough> m_drive;
    int& m_open;
};

// A sysfs tree of st devices and the virtual drives behind their nodes.
// Node nstN has device number 9:N.
class FakeHost {
public:
    FakeHost()
    {
        char pattern[] = "/tmp/tapediag-sysfs-XXXXXX";
        root = mkdtemp(pattern);
        paths.sysfs = root;
        paths.dev = "/dev";
        EXPECT_EQ(std::system(("mkdir -p '" + root + "/class/scsi_tape' '" + root + "/dev/char'").c_str()), 0);
    }
    ~FakeHost() { EXPECT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0); }

    // Adds st node `node` whose device directory is devices/`device` (no
    // entry under dev/char when empty), backed by a virtual drive.
    void AddNode(const std::string& node, const std::string& device, const std::string& model)
    {
        mkdir((root + "/class/scsi_tape/" + node).c_str(), 0755);
        if (!device.empty()) {
            const std::string number = node.compare(0, 3, "nst") == 0 ? node.substr(3) : "99";
            EXPECT_EQ(symlink(("../../devices/" + device + "/scsi_tape/" + node).c_str(),
                              (root + "/dev/char/9:" + number).c_str()),
                      0);
        }
        if (!model.empty())
            models["/dev/" + node] = model;
    }

    // Opens nodes of the tree with a virtual drive behind each, placing
    // them as the real opener does, and "sim:" devices as themselves.
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
                error = ("cannot open " + name + ": no such device").c_str();
                return result;
            }
            result.device.reset(new CHeldNode(CSimPassThrough::Open(found->second.c_str(), error), open));
            const CSysfsNode node = ReadSysfsNode(paths, 9, static_cast<unsigned>(std::stoul(name.substr(8))));
            result.hasAddress = node.kind == CSysfsNode::TAPE && node.hasAddress;
            result.address = node.address;
            return result;
        };
    }

    std::string root;
    CHostPaths paths;
    std::map<std::string, std::string> models;
    std::vector<std::string> opened;
    int open = 0;  // nodes open now
};

class Discovery : public ::testing::Test {
protected:
    Discovery() : utility(&app) {}

    CLinuxDriveManager* Discover(const std::vector<CVString>& devices = {})
    {
        manager = new CLinuxDriveManager(app, devices, host.paths, host.Opener());
        app.AdoptDriveManager(manager);
        return manager;
    }

    std::vector<std::string> Descriptions()
    {
        std::vector<std::string> found;
        for (int i = 0; i < manager->GetDriveList()->GetCount(); ++i) {
            CTapeDrive* drive = manager->GetDriveList()->GetAt(i);
            char address[64];
            std::snprintf(address, sizeof address, "%d:%d:%d:%d ", drive->AdapterID(), drive->BusID(), drive->DriveID(),
                          drive->LunID());
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
    host.AddNode("nst10", "host2/2:0:5:0", "ultrium");
    host.AddNode("nst2", "host1/1:0:3:0", "dds4");
    host.AddNode("nst4", "host0/0:1:0:0", "crt20000n");
    host.AddNode("nst5", "host0/0:0:6:0", "changer");  // not a tape drive
    host.AddNode("nst3", "", "dat");                   // sysfs cannot place it
    host.AddNode("st0", "host0/0:0:9:0", "dat");       // rewinding node, not used
    host.AddNode("nst7", "host0/0:0:7:0", "");         // node that cannot be opened
    testing::internal::CaptureStderr();
    Discover();
    // A drive that cannot be reached says why; one that is not supported is skipped silently.
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tapediag: device /dev/nst7 skipped: cannot open /dev/nst7: no such device\n");
    EXPECT_EQ(Descriptions(),
              (std::vector<std::string>{"1:0:3:0 CORVANE DAT40 DDS4      ", "0:1:0:0 CORVANE CRT20000N       ",
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
    host.AddNode("nst0", "host0", "dds3");
    testing::internal::CaptureStderr();
    Discover();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Problems exist parsing the device file. Please contact technical support.\n");
    EXPECT_EQ(Descriptions(), std::vector<std::string>{"0:0:0:0 CORVANE DAT24 DDS3      "});
}

TEST_F(Discovery, NamedDevicesReplaceTheScanAndKeepTheirOrder)
{
    host.AddNode("nst0", "host3/target3:0:4/3:0:4:1", "dat");
    host.AddNode("nst1", "host3/target3:0:5/3:0:5:0", "dds3");
    testing::internal::CaptureStderr();
    Discover({"sim:ultrium", "/dev/nst0", "sim:bogus", "sim:dds4"});
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Descriptions(),
              (std::vector<std::string>{"0:0:0:0 TESSARA ULTRIUM 2       ", "3:0:4:1 CORVANE DAT 12GB        ",
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
    EXPECT_EQ(Descriptions(),
              (std::vector<std::string>{"0:0:0:0 TESSARA ULTRIUM 2       ", "0:0:1:0 CORVANE DAT40 DDS4      "}));
}

TEST_F(Discovery, MissingSysfsGivesAnEmptyList)
{
    CHostPaths absent;
    absent.sysfs = host.root + "/absent";
    manager = new CLinuxDriveManager(app, {}, absent, host.Opener());
    app.AdoptDriveManager(manager);
    EXPECT_EQ(manager->GetDriveList()->GetCount(), 0);
}

// One node of a drive that restarts into new firmware after the save of a
// download: the kernel drops the node under the save, and the drive comes
// back on another node, `next`, at another address.
class CRestartingNode : public CPassThrough {
public:
    CRestartingNode(std::shared_ptr<CPassThrough> drive, const std::string& path, std::function<void()> dropped)
        : m_drive(std::move(drive)), m_dropped(std::move(dropped))
    {
        Name(path);
    }

protected:
    CScsiResult Send(const CScsiRequest& request) override
    {
        CScsiResult result = EmptyScsiResult();
        if (m_gone) {
            result.failure = "no such device";
            return result;
        }
        result = m_drive->Execute(request);
        if (m_dropped && request.cdb[0] == OP_WRITE_BUFFER && request.cdb[1] == WRITE_BUFFER_DOWNLOAD_AND_SAVE) {
            m_gone = true;
            m_dropped();
            result = EmptyScsiResult();
            result.failure = "no such device";
        }
        return result;
    }

private:
    std::shared_ptr<CPassThrough> m_drive;
    std::function<void()> m_dropped;
    bool m_gone = false;
};

TEST_F(Discovery, ADriveBackOnNewNodesAfterItsUpgradeIsFoundByItsSerialNumber)
{
    CFakeClock clock;
    CFakeClockScope clockScope(clock);
    host.AddNode("nst0", "host0/0:0:1:0", "");
    host.AddNode("nst2", "host0/0:0:3:0", "dds4");  // another drive, at work meanwhile
    CVString error;
    std::shared_ptr<CPassThrough> ultrium = CSimPassThrough::Open("ultrium", error);
    DeviceOpenFunction open = [&](const char* path, CVString& why) {
        const std::string node(path);
        if (node != "/dev/nst0" && node != "/dev/nst1")
            return host.Opener()(path, why);
        COpenedDevice opened;
        std::function<void()> dropped;
        if (node == "/dev/nst0")
            dropped = [&] {
                EXPECT_EQ(rmdir((host.root + "/class/scsi_tape/nst0").c_str()), 0);
                host.AddNode("nst1", "host5/5:0:1:0", "");
            };
        opened.device = std::make_unique<CRestartingNode>(ultrium, node, dropped);
        opened.hasAddress = true;
        opened.address.adapter = node == "/dev/nst0" ? 0 : 5;
        opened.address.target = 1;
        return opened;
    };
    manager = new CLinuxDriveManager(app, {}, host.paths, open);
    app.AdoptDriveManager(manager);
    host.opened.clear();

    CFirmwareImage image;
    image.family = "ultrium";
    image.level = "120B";
    image.size = 32768;
    CScratchDirectory files;
    const std::string file = files.Write("u120B-fw.bin", MakeFirmwareImage(image));
    testing::internal::CaptureStderr();
    const CCommandOutput run = RunCommandLine(app, utility, "upgrade -sn:HU1234567890 -f:" + file);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tapediag: /dev/nst0: no such device\n");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.lines.back(), "Firmware Version 120B installed.");
    EXPECT_EQ(Descriptions(),
              (std::vector<std::string>{"5:0:1:0 TESSARA ULTRIUM 2       ", "0:0:3:0 CORVANE DAT40 DDS4      "}));
    EXPECT_TRUE(host.opened.empty());  // the other drive's node was left alone
}

// A command of the program, its result and its lines.
struct CRun {
    bool result;
    std::string output;
};

TEST_F(Discovery, AServerOpensAHostDriveForEachCommandOnly)
{
    app.ClientServerConnection(true);
    host.AddNode("nst0", "host2/2:0:5:0", "ultrium");
    Discover();
    EXPECT_EQ(host.open, 0) << "backup software must be able to open the drive between commands";
    auto run = [this](const char* line) {
        EXPECT_TRUE(utility.SetParameters(line));
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool result = app.RunAppl();
        testing::internal::GetCapturedStderr();
        return CRun{result, testing::internal::GetCapturedStdout()};
    };
    CRun status = run("compstatus; -id:x;");
    EXPECT_TRUE(status.result);
    EXPECT_NE(status.output.find("Compression currently enabled."), std::string::npos);
    EXPECT_EQ(host.open, 0);
    EXPECT_EQ(host.opened, (std::vector<std::string>{"/dev/nst0", "/dev/nst0"}));

    // The node now reaches another drive, then none.
    host.models["/dev/nst0"] = "dds4";
    status = run("rwtest; -id:x;");
    EXPECT_FALSE(status.result);
    EXPECT_EQ(status.output, "Unable to use the drive /dev/nst0: another drive answers there now\n \n");
    EXPECT_EQ(host.open, 0);
    host.models.erase("/dev/nst0");
    status = run("rwtest; -id:x;");
    EXPECT_EQ(status.output, "Unable to use the drive /dev/nst0: cannot open /dev/nst0: no such device\n \n");
}

TEST_F(Discovery, OneCommandAndInteractiveModesHoldTheirDrives)
{
    host.AddNode("nst0", "host2/2:0:5:0", "ultrium");
    Discover();
    EXPECT_EQ(host.open, 1);
    ASSERT_TRUE(utility.SetParameters("compstatus; -id:x;"));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(app.RunAppl());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(host.open, 1);
    EXPECT_EQ(host.opened.size(), 1u);
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
