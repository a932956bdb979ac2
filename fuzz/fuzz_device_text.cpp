// The text of a -dev: switch as the device opener handles it, without ever
// opening a device of this host or reaching a network: the name messages
// give a device (an iSCSI URL without its password), and the opening of a
// virtual drive ("sim:"), the one form that touches nothing outside.
#include <string>

#include "DeviceOpener.h"
#include "FuzzCheck.h"
#include "IscsiMapping.h"

namespace {

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::string(prefix).size(), prefix) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string device = text.c_str();  // as a switch's value: up to the first NUL
    const std::string shown = DeviceDisplayName(device.c_str());
    FUZZ_CHECK(DeviceDisplayName(shown.c_str()) == shown);
    if (!StartsWith(device, ISCSI_URL_PREFIX)) {
        FUZZ_CHECK(shown == device);
    } else {
        // The password between "%" and "@" goes; everything from the "@"
        // that ends the user part on stays.
        FUZZ_CHECK(shown == IscsiUrlWithoutPassword(device));
        const size_t start = std::string(ISCSI_URL_PREFIX).size();
        const size_t authorityEnd = std::min(device.find('/', start), device.size());
        const size_t at = device.rfind('@', authorityEnd);
        if (at != std::string::npos && at >= start) {
            const std::string tail = device.substr(at);
            FUZZ_CHECK(shown.size() >= tail.size() &&
                       shown.compare(shown.size() - tail.size(), tail.size(), tail) == 0);
            FUZZ_CHECK(shown.substr(start, shown.size() - tail.size() - start).find('%') == std::string::npos);
        }
    }

    if (StartsWith(device, "sim:")) {
        CVString error;
        COpenedDevice opened = OpenDevice(device.c_str(), CHostPaths(), error);
        FUZZ_CHECK((opened.device != nullptr) == error.IsEmpty());
        FUZZ_CHECK(!opened.hasAddress);
        if (opened.device)
            FUZZ_CHECK(opened.device->Name() == shown);
    }
    return 0;
}
