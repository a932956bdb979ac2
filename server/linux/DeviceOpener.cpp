#include "DeviceOpener.h"

#include "SgPassThrough.h"
#include "SimPassThrough.h"

#include <cstring>

namespace {

const char SIM_PREFIX[] = "sim:";
const char ISCSI_PREFIX[] = "iscsi://";

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

std::unique_ptr<CPassThrough> OpenDevice(const char* device, CVString& error)
{
    if (device == nullptr || *device == '\0') {
        error = "no device given";
        return nullptr;
    }
    if (StartsWith(device, SIM_PREFIX))
        return CSimPassThrough::Open(device + std::strlen(SIM_PREFIX), error);
    if (StartsWith(device, ISCSI_PREFIX)) {
        error = "iSCSI devices are not supported by this build";
        return nullptr;
    }
    return CSgPassThrough::Open(device, error);
}
