// Checks every answer of the virtual drive must pass, whatever the command.
#ifndef TAPEDIAG_FUZZ_VTAPECHECK_H
#define TAPEDIAG_FUZZ_VTAPECHECK_H

#include "FuzzCheck.h"
#include "VirtualDrive.h"

inline void CheckReply(const CVirtualReply& reply, VDataDirection direction, int dataLength)
{
    FUZZ_CHECK(reply.status == GOOD_STATUS || reply.status == CHECK_CONDITION_STATUS);
    if (reply.status == GOOD_STATUS) {
        FUZZ_CHECK(reply.senseLength == 0);
        for (unsigned char byte : reply.sense)
            FUZZ_CHECK(byte == 0);
    } else {
        // Fixed format, current error, 10 additional bytes.
        FUZZ_CHECK(reply.senseLength == 18);
        FUZZ_CHECK((reply.sense[0] & 0x7F) == 0x70);
        FUZZ_CHECK(reply.sense[7] == 10);
    }
    FUZZ_CHECK(reply.transferred >= 0);
    FUZZ_CHECK(reply.transferred <= (direction == VDIR_NONE ? 0 : dataLength));
}

#endif
