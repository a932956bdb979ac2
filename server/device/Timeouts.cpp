#include "Timeouts.h"

#include "ScsiCodes.h"

namespace {

const unsigned char BUFFER_MODE_MASK = 0x1F;

// clang-format off
const CCommandTimeout timeouts[] = {
    {"TEST UNIT READY", OP_TEST_UNIT_READY, ANY_BUFFER_MODE, UNIT_READY_TIMEOUT_SECONDS},
    {"REWIND", OP_REWIND, ANY_BUFFER_MODE, LONG_OPERATION_TIMEOUT_SECONDS},
    {"READ(6)", OP_READ6, ANY_BUFFER_MODE, DATA_TRANSFER_TIMEOUT_SECONDS},
    {"WRITE(6)", OP_WRITE6, ANY_BUFFER_MODE, DATA_TRANSFER_TIMEOUT_SECONDS},
    {"WRITE FILEMARKS(6)", OP_WRITE_FILEMARKS6, ANY_BUFFER_MODE, DATA_TRANSFER_TIMEOUT_SECONDS},
    {"SPACE(6)", OP_SPACE6, ANY_BUFFER_MODE, LONG_OPERATION_TIMEOUT_SECONDS},
    // Load (with or without retension) and unload alike.
    {"LOAD UNLOAD", OP_LOAD_UNLOAD, ANY_BUFFER_MODE, LONG_OPERATION_TIMEOUT_SECONDS},
    {"SEND DIAGNOSTIC", OP_SEND_DIAGNOSTIC, ANY_BUFFER_MODE, SELF_TEST_TIMEOUT_SECONDS},
    {"READ POSITION", OP_READ_POSITION, ANY_BUFFER_MODE, DATA_TRANSFER_TIMEOUT_SECONDS},
    {"WRITE BUFFER download", OP_WRITE_BUFFER, WRITE_BUFFER_DOWNLOAD_MICROCODE, MICROCODE_BLOCK_TIMEOUT_SECONDS},
    {"WRITE BUFFER save", OP_WRITE_BUFFER, WRITE_BUFFER_DOWNLOAD_AND_SAVE, MICROCODE_SAVE_TIMEOUT_SECONDS},
    // One long try: a read that timed out is not sent again.
    {"READ BUFFER", OP_READ_BUFFER, ANY_BUFFER_MODE, DATA_TRANSFER_TIMEOUT_SECONDS},
};
// clang-format on

}  // namespace

const CCommandTimeout* CommandTimeouts(size_t& count)
{
    count = sizeof timeouts / sizeof timeouts[0];
    return timeouts;
}

const CCommandTimeout* FindCommandTimeout(const unsigned char* cdb, int cdbLength)
{
    if (cdb == nullptr || cdbLength < 2)
        return nullptr;
    for (const CCommandTimeout& row : timeouts) {
        if (row.opcode == cdb[0] &&
            (row.bufferMode == ANY_BUFFER_MODE || row.bufferMode == (cdb[1] & BUFFER_MODE_MASK)))
            return &row;
    }
    return nullptr;
}
