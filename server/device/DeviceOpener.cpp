#include "DeviceOpener.h"

#include "HostDevices.h"
#include "IscsiMapping.h"
#include "SimPassThrough.h"
#ifdef TAPEDIAG_HAVE_LIBISCSI
#include "IscsiPassThrough.h"
#endif

#include <cstring>

namespace {

// The forms of device text, matched in this order.
const CTransport TRANSPORTS[] = {
    {"sim:", OpenSimDevice, nullptr},
#ifdef TAPEDIAG_HAVE_LIBISCSI
    {ISCSI_URL_PREFIX, OpenIscsiDevice, nullptr},
#else
    {ISCSI_URL_PREFIX, nullptr, "iSCSI devices are not supported by this build (it was built without libiscsi)"},
#endif
    {"", OpenHostDevice, nullptr},
};

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

COpenedDevice OpenDevice(const char* device, const CHostPaths& paths, CVString& error)
{
    COpenedDevice opened;
    if (device == nullptr || *device == '\0') {
        error = "no device given";
        return opened;
    }
    for (const CTransport& transport : TRANSPORTS) {
        if (!StartsWith(device, transport.prefix))
            continue;
        if (transport.open == nullptr) {
            error = transport.unavailable;
            return opened;
        }
        opened = transport.open(device, paths, error);
        break;
    }
    if (opened.device)
        opened.device->Name(DeviceDisplayName(device));
    return opened;
}

std::string DeviceDisplayName(const char* device)
{
    std::string name(device != nullptr ? device : "");
    return StartsWith(name.c_str(), ISCSI_URL_PREFIX) ? IscsiUrlWithoutPassword(name) : name;
}
