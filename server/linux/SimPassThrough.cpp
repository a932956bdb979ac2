#include "SimPassThrough.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

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
    int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open /dev/null: ";
        error += std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<CSimPassThrough>(new CSimPassThrough(std::move(drive), fd));
}

CSimPassThrough::CSimPassThrough(std::unique_ptr<CVirtualDrive> drive, int fd) : m_drive(std::move(drive)), m_fd(fd)
{
}

CSimPassThrough::~CSimPassThrough()
{
    ::close(m_fd);
}

CScsiResult CSimPassThrough::Execute(const CScsiRequest& request)
{
    const bool hasData = request.direction != SCSI_DIR_NONE && request.data != nullptr && request.dataLength > 0;
    CVirtualReply reply = m_drive->Execute(request.cdb, request.cdbLength,
                                           hasData ? Direction(request.direction) : VDIR_NONE,
                                           hasData ? request.data : nullptr, hasData ? request.dataLength : 0);
    CScsiResult result;
    std::memset(&result, 0, sizeof(result));
    result.completed = true;
    result.status = reply.status;
    result.senseLength = std::min(std::max(reply.senseLength, 0), SCSI_SENSE_LENGTH);
    std::memcpy(result.sense, reply.sense, static_cast<size_t>(result.senseLength));
    return result;
}
