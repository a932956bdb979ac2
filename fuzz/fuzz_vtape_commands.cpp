// The virtual drive at the CDB level: a sequence of arbitrary 6- and 10-byte
// CDBs with arbitrary directions and data lengths, on a model (and faults)
// chosen by the first two input bytes. Any answer is fine, as long as it is
// well formed and moves no byte outside what it reports, and as long as only
// the commands a slow fault names take (virtual) time.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "VtapeCheck.h"

namespace {

const char* const MODELS[] = {"ultrium", "travan3200", "crt8000n", "crt8000a", "crt20000n",
                              "dat",     "dds3",       "dds4",     "changer"};
const char* const FLAG_FAULTS[] = {",write-protected", ",nocart", ",compression-locked", ",no-vpd"};
const char* const VALUE_FAULTS[] = {
    ",fixed=512",  ",write-error=3",    ",read-error=2",           ",bad-data=1",
    ",capacity=1", ",becoming-ready=2", ",fail=08@2-3,slow=08:20", ",vpd-fail=1,read-corrected=5,write-uncorrected=2"};

const int MAX_DATA_LENGTH = 300000;
const int SMALL_DATA_LENGTH = 4096;
// Per input, so that one run stays fast.
const int MAX_COMMANDS = 64;
const long MAX_TOTAL_DATA = 2000000;
const uint32_t MAX_FILEMARKS = 1023;
const unsigned char SENTINEL = 0xA5;
const unsigned char SLOW_OPCODE = OP_READ6;
const long SLOW_SECONDS = 20;
const uint8_t SLOW_FAULT_BIT = 0x40;  // the VALUE_FAULTS entry with slow=08:20

std::string DeviceText(uint8_t model, uint8_t faults)
{
    std::string text = MODELS[(model & 0x0F) % (sizeof MODELS / sizeof MODELS[0])];
    for (int i = 0; i < 4; ++i) {
        if (model & (0x10 << i))
            text += FLAG_FAULTS[i];
    }
    for (int i = 0; i < 8; ++i) {
        if (faults & (1 << i))
            text += VALUE_FAULTS[i];
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t model = input.Byte();
    const uint8_t faults = input.Byte();
    std::string error;
    std::unique_ptr<CVirtualDrive> drive = CVirtualDrive::Create(DeviceText(model, faults), error);
    FUZZ_CHECK(drive != nullptr);
    CFakeClock clock;
    CFakeClockScope scope(clock);

    long totalData = 0;
    bool lastFailed = false;
    unsigned char lastSense[32] = {};
    for (int command = 0; command < MAX_COMMANDS && input.Left() > 0; ++command) {
        const uint8_t header = input.Byte();
        const int cdbLength = (header & 0x01) ? 10 : 6;
        const VDataDirection direction = (header & 0x06) == 0x02   ? VDIR_IN
                                         : (header & 0x06) == 0x04 ? VDIR_OUT
                                         : (header & 0x06) == 0x06 ? VDIR_IN
                                                                   : VDIR_NONE;
        unsigned char cdb[10] = {};
        input.Take(cdb, static_cast<size_t>(cdbLength));
        // Mostly the lengths of ordinary commands, sometimes large transfers.
        const bool large = (header & 0x08) != 0;
        int length = 0;
        for (int i = large ? 3 : 2; i > 0; --i)
            length = (length << 8) | input.Byte();
        length %= (large ? MAX_DATA_LENGTH : SMALL_DATA_LENGTH) + 1;
        if (totalData + length > MAX_TOTAL_DATA)
            break;
        totalData += length;
        // Each filemark is a step of its own: keep the count small.
        const uint32_t count = static_cast<uint32_t>((cdb[2] << 16) | (cdb[3] << 8) | cdb[4]);
        if (cdb[0] == OP_WRITE_FILEMARKS6 && count > MAX_FILEMARKS) {
            cdb[2] = 0;
            cdb[3] &= 0x03;
        }

        // The target owns the data buffer and holds exactly `length` bytes.
        std::vector<unsigned char> buffer(static_cast<size_t>(length), SENTINEL);
        if (direction == VDIR_OUT)
            input.Take(buffer.data(), buffer.size());
        const std::vector<unsigned char> sent = buffer;
        const long before = clock.Now();
        const CVirtualReply reply =
            drive->Execute(cdb, cdbLength, direction, buffer.empty() ? nullptr : buffer.data(), length);
        CheckReply(reply, direction, length);
        const bool slow = (faults & SLOW_FAULT_BIT) != 0 && cdb[0] == SLOW_OPCODE;
        FUZZ_CHECK(clock.Now() - before == (slow ? SLOW_SECONDS : 0));

        if (direction == VDIR_OUT || direction == VDIR_NONE) {
            FUZZ_CHECK(buffer == sent);  // data out is only read
        } else {
            static const std::vector<unsigned char> untouched(MAX_DATA_LENGTH, SENTINEL);
            const size_t moved = static_cast<size_t>(reply.transferred);
            if (moved < buffer.size())
                FUZZ_CHECK(std::memcmp(buffer.data() + moved, untouched.data(), buffer.size() - moved) == 0);
        }
        // REQUEST SENSE right after a failed command returns that command's sense.
        const bool requestSense = cdb[0] == OP_REQUEST_SENSE && cdbLength == 6 && direction == VDIR_IN;
        if (requestSense && lastFailed && reply.status == GOOD_STATUS && reply.transferred > 0)
            FUZZ_CHECK(std::memcmp(buffer.data(), lastSense, std::min<size_t>(reply.transferred, 18)) == 0);

        lastFailed = reply.status == CHECK_CONDITION_STATUS;
        std::memcpy(lastSense, reply.sense, sizeof lastSense);
    }
    return 0;
}
