#include "PassThrough.h"

#include "ScsiData.h"

#include <algorithm>
#include <cstring>

CScsiResult EmptyScsiResult()
{
    CScsiResult result;
    std::memset(&result, 0, sizeof(result));
    result.completed = false;
    result.failure = nullptr;
    result.lost = false;
    return result;
}

CScsiResult CPassThrough::Execute(const CScsiRequest& request)
{
    CScsiResult result = Send(request);
    // Every reader of sense data above this point reads fixed format.
    unsigned char fixed[SCSI_MAX_SENSE_LENGTH];
    const int rawLength = result.senseLength < 0 ? 0 : std::min(result.senseLength, SCSI_MAX_SENSE_LENGTH);
    result.senseLength = NormaliseSense(result.sense, rawLength, fixed, sizeof fixed);
    std::memcpy(result.sense, fixed, sizeof fixed);
    if (result.completed) {
        result.failure = nullptr;
        result.lost = false;
    } else if (result.failure == nullptr)
        result.failure = "the command did not complete";
    return result;
}
