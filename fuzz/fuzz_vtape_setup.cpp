// The device text of a virtual drive ("MODEL[,FAULT...]", from -dev:sim:):
// CVirtualDrive::Create on arbitrary text; a drive it accepts then answers
// a short session of ordinary commands. The session runs on a fake clock,
// so a slow fault costs no real time.
#include <cstring>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "VtapeCheck.h"

namespace {

struct Step {
    unsigned char cdb[10];
    int cdbLength;
    VDataDirection direction;
    int dataLength;
};

// INQUIRY, serial page, TEST UNIT READY, MODE SENSE all pages, a 4 KiB
// variable block written and read back, a filemark, LOG SENSE of both
// counter pages, READ POSITION, REQUEST SENSE, SEND DIAGNOSTIC.
const Step SESSION[] = {
    {{0x12, 0, 0, 0, 36, 0}, 6, VDIR_IN, 36},
    {{0x12, 1, 0x80, 0, 36, 0}, 6, VDIR_IN, 36},
    {{0x00, 0, 0, 0, 0, 0}, 6, VDIR_NONE, 0},
    {{0x1A, 0, 0x3F, 0, 255, 0}, 6, VDIR_IN, 255},
    {{0x4C, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}, 10, VDIR_NONE, 0},
    {{0x0A, 0, 0, 0x10, 0, 0}, 6, VDIR_OUT, 4096},
    {{0x10, 0, 0, 0, 1, 0}, 6, VDIR_NONE, 0},
    {{0x01, 0, 0, 0, 0, 0}, 6, VDIR_NONE, 0},
    {{0x08, 0, 0, 0x10, 0, 0}, 6, VDIR_IN, 4096},
    {{0x08, 0, 0, 0x10, 0, 0}, 6, VDIR_IN, 4096},
    {{0x4D, 0, 0x42, 0, 0, 0, 0, 0x01, 0, 0}, 10, VDIR_IN, 256},
    {{0x4D, 0, 0x43, 0, 0, 0, 0, 0x01, 0, 0}, 10, VDIR_IN, 256},
    {{0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 10, VDIR_IN, 20},
    {{0x03, 0, 0, 0, 18, 0}, 6, VDIR_IN, 18},
    {{0x1D, 0x04, 0, 0, 0, 0}, 6, VDIR_NONE, 0},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error = "not set";
    std::unique_ptr<CVirtualDrive> drive = CVirtualDrive::Create(text, error);
    if (drive == nullptr) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(error.empty());

    CFakeClock clock;
    CFakeClockScope scope(clock);
    std::vector<unsigned char> block(4096);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned char>(i * 7);
    for (const Step& step : SESSION) {
        std::vector<unsigned char> buffer(static_cast<size_t>(step.dataLength));
        if (step.direction == VDIR_OUT)
            buffer = block;
        const CVirtualReply reply = drive->Execute(step.cdb, step.cdbLength, step.direction,
                                                   buffer.empty() ? nullptr : buffer.data(), step.dataLength);
        CheckReply(reply, step.direction, step.dataLength);
    }
    return 0;
}
