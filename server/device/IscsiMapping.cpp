#include "IscsiMapping.h"

#include "ScsiData.h"

#include <algorithm>
#include <cstring>

const char* const ISCSI_SESSION_LOST = "session lost";
const char* const ISCSI_TIMED_OUT = "the command timed out (session lost)";

namespace {

const int SCRATCH_MINIMUM = 256;
const int SCRATCH_MAXIMUM = 65536;

bool IsScsiStatus(int status)
{
    return status >= 0 && status <= 0xFF;
}

}  // namespace

CScsiResult ReadIscsiReply(const CIscsiReply& reply, const CScsiRequest& request)
{
    CScsiResult result = EmptyScsiResult();
    if (!IsScsiStatus(reply.taskStatus)) {
        result.failure = reply.taskStatus == ISCSI_TASK_TIMEOUT ? ISCSI_TIMED_OUT : ISCSI_SESSION_LOST;
        result.lost = true;
        return result;
    }
    result.completed = true;
    result.status = static_cast<unsigned char>(reply.taskStatus);
    if (reply.segment != nullptr && reply.segmentSize >= 2) {
        const size_t length = std::min<size_t>(
            {GetBig16(reply.segment), reply.segmentSize - 2, static_cast<size_t>(SCSI_MAX_SENSE_LENGTH)});
        std::memcpy(result.sense, reply.segment + 2, length);
        result.senseLength = static_cast<int>(length);
    }
    const bool hasData = request.direction != SCSI_DIR_NONE && request.data != nullptr && request.dataLength > 0;
    // A command that failed without a residual tells nothing of what moved
    // (a target answers a READ that met a filemark so): claim nothing.
    const bool known = reply.taskStatus == GOOD_STATUS || reply.residualKind != ISCSI_RESIDUAL_NONE;
    if (hasData && known) {
        const size_t length = static_cast<size_t>(request.dataLength);
        const size_t missing = reply.residualKind == ISCSI_RESIDUAL_UNDERFLOW ? std::min(reply.residual, length) : 0;
        result.transferred = static_cast<int>(length - missing);
    }
    return result;
}

int DataInScratchLength(const unsigned char* cdb, int cdbLength)
{
    if (cdb == nullptr || cdbLength < 6)
        return 0;
    uint32_t allocation = 0;
    switch (cdb[0]) {
    case OP_REQUEST_SENSE:
    case OP_MODE_SENSE6:
        allocation = cdb[4];
        break;
    case OP_INQUIRY:
        allocation = GetBig16(cdb + 3);
        break;
    case OP_READ_BLOCK_LIMITS:
    case OP_READ_POSITION:
        break;
    case OP_RECEIVE_DIAGNOSTIC:
        allocation = GetBig16(cdb + 3);
        break;
    case OP_READ_BUFFER:
    case OP_LOG_SENSE:
    case OP_MODE_SENSE10:
        if (cdbLength < 10)
            return 0;
        allocation = cdb[0] == OP_READ_BUFFER ? GetBig24(cdb + 6) : GetBig16(cdb + 7);
        break;
    case OP_REPORT_LUNS:
        if (cdbLength < 12)
            return 0;
        allocation = GetBig32(cdb + 6);
        break;
    default:
        return 0;
    }
    return static_cast<int>(std::min<uint32_t>(std::max<uint32_t>(allocation, SCRATCH_MINIMUM), SCRATCH_MAXIMUM));
}

bool IsInquiryOfType(const unsigned char* inquiry, int length, unsigned char type)
{
    return inquiry != nullptr && length >= 1 && inquiry[0] == type;
}

std::string IscsiUrlWithoutPassword(const std::string& url)
{
    std::string name = url;
    const size_t start = std::strlen(ISCSI_URL_PREFIX);
    const size_t authorityEnd = std::min(name.find('/', start), name.size());
    const size_t at = name.rfind('@', authorityEnd);
    if (at == std::string::npos || at < start)
        return name;
    const size_t percent = name.find('%', start);
    if (percent != std::string::npos && percent < at)
        name.erase(percent, at - percent);
    return name;
}
