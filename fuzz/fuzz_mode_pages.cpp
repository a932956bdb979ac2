// MODE SENSE data as a drive returns it: DoesPageExist
// on an arbitrary response. The buffer holds exactly `length` bytes, so a
// read at or beyond the length the caller gives is caught.
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "ScsiData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t selector = input.Byte();
    // Mostly real page codes (with the saveable bit), sometimes any int.
    int page = input.Byte();
    if (selector & 0x80)
        page = -page;
    if (selector & 0x40)
        page += 256;
    const bool negativeLength = (selector & 0x20) != 0;

    std::vector<unsigned char> response(input.Rest(), input.Rest() + input.Left());
    const int length = negativeLength ? -static_cast<int>(response.size()) : static_cast<int>(response.size());
    const unsigned char* buffer = response.empty() ? nullptr : response.data();
    const bool found = DoesPageExist(page, buffer, length);

    if (length < 5 || page < 0 || page > 255) {
        FUZZ_CHECK(!found);
        return 0;
    }
    if (found) {
        // The page's code byte sits after the 4-byte header, within the data.
        FUZZ_CHECK(std::memchr(response.data() + 4, page, response.size() - 4) != nullptr);
    }
    // The answer must not depend on anything past the length the drive reports.
    const size_t reported = static_cast<size_t>(response[0]) + 1;
    if (reported < response.size()) {
        std::vector<unsigned char> shorter(response.begin(), response.begin() + reported);
        if (shorter.size() >= 5)
            FUZZ_CHECK(DoesPageExist(page, shorter.data(), static_cast<int>(shorter.size())) == found);
    }
    return 0;
}
