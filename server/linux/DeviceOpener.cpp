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

std::unique_ptr<CPassThrough> OpenDevice(const char* spec, CVString& error)
{
    if (spec == nullptr || *spec == '\0') {
        error = "no device given";
        return nullptr;
    }
    if (StartsWith(spec, SIM_PREFIX))
        return CSimPassThrough::Open(spec + std::strlen(SIM_PREFIX), error);
    if (StartsWith(spec, ISCSI_PREFIX)) {
        error = "iSCSI devices are not supported by this build";
        return nullptr;
    }
    return CSgPassThrough::Open(spec, error);
}
