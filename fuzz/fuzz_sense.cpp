// Sense data as a device sends it, in any format and of any length, turned
// into the fixed format every reader of sense data relies on.
#include <cstring>
#include <vector>

#include "FuzzCheck.h"
#include "ScsiData.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const int fixedLength = 1 + input.Byte() % 64;
    // The raw sense on a heap block of its own size, so a read past it is caught.
    std::vector<unsigned char> raw(input.Rest(), input.Rest() + input.Left());
    std::vector<unsigned char> fixed(static_cast<size_t>(fixedLength));
    const int length =
        NormaliseSense(raw.empty() ? nullptr : raw.data(), static_cast<int>(raw.size()), fixed.data(), fixedLength);
    FUZZ_CHECK(length >= 0 && length <= fixedLength);
    FUZZ_CHECK(raw.empty() == (length == 0));

    const bool descriptor = !raw.empty() && ((raw[0] & 0x7F) == 0x72 || (raw[0] & 0x7F) == 0x73);
    if (!descriptor) {
        FUZZ_CHECK(length == 0 || std::memcmp(fixed.data(), raw.data(), static_cast<size_t>(length)) == 0);
        return 0;
    }
    FUZZ_CHECK(length == std::min(FIXED_SENSE_LENGTH, fixedLength));
    FUZZ_CHECK((fixed[0] & 0x7F) == ((raw[0] & 0x7F) == 0x73 ? 0x71 : 0x70));
    FUZZ_CHECK(IsDeferredSense(fixed.data()) == ((raw[0] & 0x7F) == 0x73));
    if (fixedLength > SENSE_ASCQ_BYTE) {
        FUZZ_CHECK((fixed[SENSE_KEY_BYTE] & 0x0F) == (raw.size() > 1 ? (raw[1] & 0x0F) : 0));
        FUZZ_CHECK((fixed[SENSE_KEY_BYTE] & 0x10) == 0);
        FUZZ_CHECK(fixed[SENSE_ASC_BYTE] == (raw.size() > 2 ? raw[2] : 0));
        FUZZ_CHECK(fixed[SENSE_ASCQ_BYTE] == (raw.size() > 3 ? raw[3] : 0));
    }
    // Fixed format is left as it is: normalising twice changes nothing.
    std::vector<unsigned char> again(static_cast<size_t>(fixedLength));
    NormaliseSense(fixed.data(), length, again.data(), fixedLength);
    FUZZ_CHECK(again == fixed);
    return 0;
}
