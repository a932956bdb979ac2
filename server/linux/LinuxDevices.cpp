#include "LinuxDevices.h"

#include "SgPassThrough.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

bool ReadNonNegative(const char*& p, int& value)
{
    if (*p < '0' || *p > '9')
        return false;
    long number = 0;
    while (*p >= '0' && *p <= '9') {
        number = number * 10 + (*p - '0');
        if (number > 0x7FFFFFFF)
            return false;
        ++p;
    }
    value = static_cast<int>(number);
    return true;
}

// "PREFIX" followed by digits only, such as nst0 or sg12.
bool IsNumberedNode(const std::string& name, const char* prefix)
{
    const size_t length = std::strlen(prefix);
    if (name.compare(0, length, prefix) != 0 || name.size() == length)
        return false;
    return name.find_first_not_of("0123456789", length) == std::string::npos;
}

// The first entry of `directory` that is PREFIX followed by digits.
std::string FindNumberedEntry(const std::string& directory, const char* prefix)
{
    std::string found;
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr)
        return found;
    while (dirent* entry = readdir(listing)) {
        if (IsNumberedNode(entry->d_name, prefix)) {
            found = entry->d_name;
            break;
        }
    }
    closedir(listing);
    return found;
}

std::string ReadFirstLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::string DeviceNumber(dev_t device)
{
    return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

CVString Reason(const char* what, const std::string& path, const char* why)
{
    CVString text(what);
    text += path.c_str();
    text += ": ";
    text += why;
    return text;
}

// How a node is opened: a drive's generic node exclusively. The sg driver
// then refuses it to any other program while this one holds it (and to
// this one while another holds it, EBUSY), as programs that must be alone
// with a drive do. The st driver lets one program at a time open a tape
// node whatever the flags, and ignores O_EXCL.
enum ENodeUse { NODE_SHARED, NODE_EXCLUSIVE };

// Opens a device node read/write and non-blocking (so an empty drive still
// opens); -1, with the reason in `error` and errno kept, when it cannot.
int OpenNode(const std::string& path, CVString& error, ENodeUse use = NODE_SHARED)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | (use == NODE_EXCLUSIVE ? O_EXCL : 0));
    if (fd < 0) {
        const int saved = errno;
        error = Reason("cannot open ", path, DeviceErrorReason(saved));
        errno = saved;
    }
    return fd;
}

// The st driver names its nodes st%d and nst%d, with l, m or a after the
// number for modes 1 to 3; only an nst node leaves the tape where it is
// when it is closed.
bool IsRewindingTapeNode(const std::string& name)
{
    return name.compare(0, 2, "st") == 0;
}

// The st driver's bit of the minor number that makes a node non-rewinding.
const unsigned ST_NO_REWIND_MINOR_BIT = 0x80;

// The non-rewinding node of the same drive and mode as the rewinding node
// MAJ:MIN named `name`, as sysfs names it.
std::string NonRewindingTwin(const CHostPaths& paths, unsigned major, unsigned minor, const std::string& name)
{
    const CSysfsNode twin = ReadSysfsNode(paths, major, minor | ST_NO_REWIND_MINOR_BIT);
    return paths.dev + "/" + (twin.kind == CSysfsNode::TAPE ? twin.name : "n" + name);
}

void SayCommandsGoThroughSt(const char* path)
{
    std::fprintf(stderr,
                 "tapediag: %s: no SCSI generic node (is the sg module loaded?); commands go through the st "
                 "node, which passes none without CAP_SYS_RAWIO (root)\n",
                 path);
}

// A tape's st node was named: hold it, send commands to its generic node.
std::unique_ptr<CPassThrough> OpenTape(const char* path, const CSysfsNode& node, const CHostPaths& paths,
                                       CVString& error)
{
    const int claimFd = OpenNode(path, error);
    if (claimFd < 0)
        return nullptr;
    if (node.partnerNode.empty()) {
        SayCommandsGoThroughSt(path);
        return std::unique_ptr<CPassThrough>(new CSgPassThrough(claimFd, claimFd, true));
    }
    const std::string genericPath = paths.dev + "/" + node.partnerNode;
    const int fd = OpenNode(genericPath, error, NODE_EXCLUSIVE);
    if (fd < 0 && errno == ENOENT) {
        SayCommandsGoThroughSt(path);
        return std::unique_ptr<CPassThrough>(new CSgPassThrough(claimFd, claimFd, true));
    }
    if (fd < 0) {
        ::close(claimFd);
        return nullptr;
    }
    // Commands for a destructive test must reach this drive and no other:
    // the node must be the one sysfs names.
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode) || DeviceNumber(status.st_rdev) != node.partnerNumber) {
        ::close(fd);
        ::close(claimFd);
        error = Reason("cannot use ", genericPath, "it is not the generic node of this drive");
        return nullptr;
    }
    return std::unique_ptr<CPassThrough>(new CSgPassThrough(fd, claimFd, false));
}

// A drive's generic node was named: send commands there, hold its st node.
std::unique_ptr<CPassThrough> OpenGeneric(const char* path, const CSysfsNode& node, const CHostPaths& paths,
                                          CVString& error)
{
    int claimFd = -1;
    if (!node.partnerNode.empty()) {
        claimFd = OpenNode(paths.dev + "/" + node.partnerNode, error);
        // Without an st node in /dev nothing else can claim the drive either.
        if (claimFd < 0 && errno != ENOENT)
            return nullptr;
    }
    const int fd = OpenNode(path, error, NODE_EXCLUSIVE);
    if (fd < 0) {
        if (claimFd >= 0)
            ::close(claimFd);
        return nullptr;
    }
    return std::unique_ptr<CPassThrough>(new CSgPassThrough(fd, claimFd, false));
}

}  // namespace

COpenedDevice OpenHostDevice(const char* path, const CHostPaths& paths, CVString& error)
{
    COpenedDevice opened;
    struct stat status;
    if (::stat(path, &status) != 0) {
        error = Reason("cannot open ", path, DeviceErrorReason(errno));
        return opened;
    }
    // A regular file would open and then fail every command with a puzzling
    // error; refuse it here with a plain reason.
    if (!S_ISCHR(status.st_mode)) {
        error = Reason("cannot use ", path, "not a character device");
        return opened;
    }
    // The device number, not the path text, says which drive this is: a
    // udev link names nothing useful.
    const CSysfsNode node = ReadSysfsNode(paths, major(status.st_rdev), minor(status.st_rdev));
    switch (node.kind) {
    case CSysfsNode::TAPE:
        // Not even opened: closing it would rewind the tape behind the
        // diagnostic's back (and behind the backup software's that follows).
        if (IsRewindingTapeNode(node.name)) {
            const std::string twin = NonRewindingTwin(paths, major(status.st_rdev), minor(status.st_rdev), node.name);
            error = Reason("cannot use ", path,
                           ("a rewinding node rewinds the tape when it is closed; use " + twin).c_str());
            return opened;
        }
        opened.device = OpenTape(path, node, paths, error);
        break;
    case CSysfsNode::GENERIC:
        opened.device = OpenGeneric(path, node, paths, error);
        break;
    case CSysfsNode::OTHER:
        error = Reason("cannot use ", path, "not a SCSI tape or SCSI generic node");
        return opened;
    case CSysfsNode::ABSENT: {
        // No sysfs to learn the drive's nodes from: the node named is all
        // there is, and discovery numbers it.
        const int fd = OpenNode(path, error);
        if (fd >= 0) {
            std::fprintf(stderr, "tapediag: %s: not found in sysfs; commands go straight to this node\n", path);
            opened.device.reset(new CSgPassThrough(fd, fd, true));
        }
        return opened;
    }
    }
    opened.hasAddress = opened.device != nullptr && node.hasAddress;
    opened.address = node.address;
    return opened;
}

std::vector<std::string> ListHostTapeDevices(const CHostPaths& paths)
{
    std::vector<std::pair<long, std::string>> nodes;
    DIR* directory = opendir((paths.sysfs + "/class/scsi_tape").c_str());
    if (directory == nullptr)
        return {};
    while (dirent* entry = readdir(directory)) {
        if (IsNumberedNode(entry->d_name, "nst"))
            nodes.emplace_back(std::strtol(entry->d_name + 3, nullptr, 10), entry->d_name);
    }
    closedir(directory);
    std::sort(nodes.begin(), nodes.end());
    std::vector<std::string> devices;
    for (const auto& node : nodes)
        devices.push_back(paths.dev + "/" + node.second);
    return devices;
}

CSysfsNode ReadSysfsNode(const CHostPaths& paths, unsigned major, unsigned minor)
{
    CSysfsNode node;
    const std::string entryDirectory = paths.sysfs + "/dev/char";
    const std::string entry = entryDirectory + "/" + std::to_string(major) + ":" + std::to_string(minor);
    char target[4096];
    const ssize_t length = ::readlink(entry.c_str(), target, sizeof target - 1);
    if (length < 0)
        return node;
    const std::string link(target, static_cast<size_t>(length));

    // ".../H:C:T:L/CLASS/NODE": the device's directory, its class, its node.
    node.kind = CSysfsNode::OTHER;
    const size_t nodeSlash = link.rfind('/');
    if (nodeSlash == std::string::npos || nodeSlash == 0)
        return node;
    const size_t classSlash = link.rfind('/', nodeSlash - 1);
    const size_t classStart = classSlash == std::string::npos ? 0 : classSlash + 1;
    const std::string className = link.substr(classStart, nodeSlash - classStart);
    node.name = link.substr(nodeSlash + 1);
    if (className == "scsi_tape")
        node.kind = CSysfsNode::TAPE;
    else if (className == "scsi_generic")
        node.kind = CSysfsNode::GENERIC;
    else
        return node;

    const std::string devicePart = classSlash == std::string::npos ? "" : link.substr(0, classSlash);
    node.hasAddress = true;
    if (!ParseSysfsLink(devicePart.c_str(), node.address))
        std::fputs("Problems exist parsing the device file. Please contact technical support.\n", stderr);

    const std::string deviceDirectory = link[0] == '/' ? devicePart : entryDirectory + "/" + devicePart;
    if (node.kind == CSysfsNode::TAPE) {
        node.partnerNode = FindNumberedEntry(deviceDirectory + "/scsi_generic", "sg");
        if (!node.partnerNode.empty())
            node.partnerNumber = ReadFirstLine(deviceDirectory + "/scsi_generic/" + node.partnerNode + "/dev");
    } else {
        node.partnerNode = FindNumberedEntry(deviceDirectory + "/scsi_tape", "nst");
    }
    return node;
}

bool ParseSysfsLink(const char* link, CDeviceAddress& address)
{
    address = CDeviceAddress();
    const char* name = std::strrchr(link, '/');
    name = name == nullptr ? link : name + 1;
    int numbers[4];
    const char* p = name;
    for (int i = 0; i < 4; ++i) {
        if (!ReadNonNegative(p, numbers[i]))
            return false;
        if (*p != (i < 3 ? ':' : '\0'))
            return false;
        if (i < 3)
            ++p;
    }
    address.adapter = numbers[0];
    address.bus = numbers[1];
    address.target = numbers[2];
    address.lun = numbers[3];
    return true;
}
