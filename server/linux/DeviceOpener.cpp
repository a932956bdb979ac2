#include "DeviceOpener.h"

#include "SgPassThrough.h"
#include "SimPassThrough.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const char SIM_PREFIX[] = "sim:";
const char ISCSI_PREFIX[] = "iscsi://";

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

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

}  // namespace

COpenedDevice OpenDevice(const char* device, const char* sysfsTapeRoot, CVString& error)
{
    COpenedDevice opened;
    if (device == nullptr || *device == '\0') {
        error = "no device given";
        return opened;
    }
    if (StartsWith(device, SIM_PREFIX)) {
        opened.device = CSimPassThrough::Open(device + std::strlen(SIM_PREFIX), error);
        return opened;
    }
    if (StartsWith(device, ISCSI_PREFIX)) {
        error = "iSCSI devices are not supported by this build";
        return opened;
    }
    opened.device = CSgPassThrough::Open(device, error);
    if (opened.device) {
        const char* slash = std::strrchr(device, '/');
        opened.hasAddress = ReadSysfsTapeAddress(sysfsTapeRoot, slash != nullptr ? slash + 1 : device, opened.address);
    }
    return opened;
}

bool ReadSysfsTapeAddress(const char* sysfsTapeRoot, const char* nodeName, CDeviceAddress& address)
{
    CVString link(sysfsTapeRoot);
    link += "/";
    link += nodeName;
    link += "/device";
    char target[1024] = {};
    if (readlink(link, target, sizeof target - 1) == -1)
        return false;
    if (!ParseSysfsLink(target, address))
        std::fputs("Problems exist parsing the device file. Please contact technical support.\n", stderr);
    return true;
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
