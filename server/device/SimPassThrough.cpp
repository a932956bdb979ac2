#include "SimPassThrough.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

VDataDirection Direction(ScsiDirection direction)
{
    switch (direction) {
    case SCSI_DIR_IN:
        return VDIR_IN;
    case SCSI_DIR_OUT:
        return VDIR_OUT;
    default:
        return VDIR_NONE;
    }
}

}  // namespace

std::unique_ptr<CSimPassThrough> CSimPassThrough::Open(const char* modelAndFaults, CVString& error)
{
    std::string reason;
    std::unique_ptr<CVirtualDrive> drive =
        CVirtualDrive::Create(modelAndFaults != nullptr ? modelAndFaults : "", reason);
    if (!drive) {
        error = reason.c_str();
        return nullptr;
    }
    return std::unique_ptr<CSimPassThrough>(new CSimPassThrough(std::move(drive)));
}

COpenedDevice OpenSimDevice(const char* device, const CHostPaths&, CVString& error)
{
    COpenedDevice opened;
    opened.device = CSimPassThrough::Open(device + std::strlen("sim:"), error);
    return opened;
}

CSimPassThrough::CSimPassThrough(std::unique_ptr<CVirtualDrive> drive) : m_drive(std::move(drive))
{}

CSimPassThrough::~CSimPassThrough()
{}

CScsiResult CSimPassThrough::Send(const CScsiRequest& request)
{
    const bool hasData = request.direction != SCSI_DIR_NONE && request.data != nullptr && request.dataLength > 0;
    CVirtualReply reply =
        m_drive->Execute(request.cdb, request.cdbLength, hasData ? Direction(request.direction) : VDIR_NONE,
                         hasData ? request.data : nullptr, hasData ? request.dataLength : 0);
    CScsiResult result = EmptyScsiResult();
    result.completed = true;
    result.status = reply.status;
    result.senseLength = std::min(std::max(reply.senseLength, 0), SCSI_SENSE_LENGTH);
    std::memcpy(result.sense, reply.sense, static_cast<size_t>(result.senseLength));
    result.transferred = hasData ? std::min(std::max(reply.transferred, 0), request.dataLength) : 0;
    return result;
}
