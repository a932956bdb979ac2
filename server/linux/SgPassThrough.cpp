#include "SgPassThrough.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The longest CDB the SG_IO request carries.
const int SG_MAX_CDB_LENGTH = 16;
// Only the low nibble of the driver byte names the driver's verdict; the
// high nibble holds the mid-layer's retry suggestion.
const unsigned short SG_DRIVER_CODE_MASK = 0x0F;
const unsigned short SG_DRIVER_TIMEOUT = 0x06;
// Host bytes that mean the device is no longer there, or the command ran
// out of time.
const unsigned short SG_HOST_NO_CONNECT = 0x01;
const unsigned short SG_HOST_TIME_OUT = 0x03;
const unsigned short SG_HOST_BAD_TARGET = 0x04;

unsigned int TimeoutMilliseconds(int seconds)
{
    if (seconds <= 0)
        return 0;
    if (static_cast<unsigned long long>(seconds) * 1000ULL > UINT_MAX)
        return UINT_MAX;
    return static_cast<unsigned int>(seconds) * 1000U;
}

int Direction(const CScsiRequest& request)
{
    if (request.dataLength <= 0 || request.data == nullptr)
        return SG_DXFER_NONE;
    switch (request.direction) {
    case SCSI_DIR_IN:
        return SG_DXFER_FROM_DEV;
    case SCSI_DIR_OUT:
        return SG_DXFER_TO_DEV;
    default:
        return SG_DXFER_NONE;
    }
}

const char* HostFailure(unsigned short hostStatus)
{
    switch (hostStatus) {
    case SG_HOST_NO_CONNECT:
    case SG_HOST_BAD_TARGET:
        return "no such device (it went away)";
    case SG_HOST_TIME_OUT:
        return "the command timed out";
    default:
        return "the host adapter reported an error";
    }
}

}  // namespace

const char* DeviceErrorReason(int error)
{
    switch (error) {
    case EACCES:
        return "permission denied: needs read and write access to the node (root, or its group, usually tape)";
    case EPERM:
        return "not permitted: the st node passes commands only with CAP_SYS_RAWIO (root); the generic node of the sg "
               "module needs none";
    case EBUSY:
        return "busy: in use by another program";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "no such device";
    case EIO:
        return "input/output error";
    default:
        return std::strerror(error);
    }
}

void FillSgRequest(const CScsiRequest& request, sg_io_hdr_t& header, unsigned char* sense)
{
    std::memset(&header, 0, sizeof(header));
    std::memset(sense, 0, SCSI_MAX_SENSE_LENGTH);
    header.interface_id = 'S';
    header.dxfer_direction = Direction(request);
    header.cmd_len = static_cast<unsigned char>(request.cdbLength);
    header.mx_sb_len = SCSI_MAX_SENSE_LENGTH;
    if (header.dxfer_direction != SG_DXFER_NONE) {
        header.dxfer_len = static_cast<unsigned int>(request.dataLength);
        header.dxferp = request.data;
    }
    // The kernel only reads the CDB.
    header.cmdp = const_cast<unsigned char*>(request.cdb);
    header.sbp = sense;
    header.timeout = TimeoutMilliseconds(request.timeoutSeconds);
}

CScsiResult ReadSgResult(const sg_io_hdr_t& header, int ioctlError, const unsigned char* sense, bool throughSt)
{
    CScsiResult result = EmptyScsiResult();
    if (ioctlError != 0) {
        // The st driver answers EIO to every pass-through once it has lost
        // the tape's position, until the tape is rewound: that says it all.
        const bool positionLostBySt = throughSt && ioctlError == EIO;
        result.failure = positionLostBySt ? "the st driver refuses commands until the tape is rewound (position lost)"
                                          : DeviceErrorReason(ioctlError);
        // A node whose device went away, or that fails the transfer,
        // leaves the drive in a state nobody knows.
        result.lost = !positionLostBySt && (ioctlError == ENODEV || ioctlError == ENXIO || ioctlError == EIO);
        return result;
    }
    const unsigned short driverCode = header.driver_status & SG_DRIVER_CODE_MASK;
    result.completed = header.host_status == 0 && (driverCode == 0 || driverCode == DRIVER_SENSE_CODE);
    if (!result.completed) {
        result.failure = header.host_status != 0           ? HostFailure(header.host_status)
                         : driverCode == SG_DRIVER_TIMEOUT ? "the command timed out"
                                                           : "the SCSI driver reported an error";
        result.lost = true;
    }
    result.status = header.status;
    if (header.dxfer_direction != SG_DXFER_NONE && header.resid >= 0 &&
        static_cast<unsigned int>(header.resid) <= header.dxfer_len)
        result.transferred = static_cast<int>(header.dxfer_len - static_cast<unsigned int>(header.resid));
    int length = header.sb_len_wr;
    if (length > SCSI_MAX_SENSE_LENGTH)
        length = SCSI_MAX_SENSE_LENGTH;
    if (length > 0 && sense != nullptr) {
        std::memcpy(result.sense, sense, static_cast<size_t>(length));
        result.senseLength = length;
    }
    return result;
}

CSgPassThrough::CSgPassThrough(int commandFd, int claimFd, bool throughSt)
    : m_fd(commandFd), m_claimFd(claimFd), m_throughSt(throughSt)
{}

CSgPassThrough::~CSgPassThrough()
{
    ::close(m_fd);
    if (m_claimFd >= 0 && m_claimFd != m_fd)
        ::close(m_claimFd);
}

CScsiResult CSgPassThrough::Send(const CScsiRequest& request)
{
    if (request.cdb == nullptr || request.cdbLength <= 0 || request.cdbLength > SG_MAX_CDB_LENGTH ||
        request.dataLength < 0)
        return EmptyScsiResult();
    sg_io_hdr_t header;
    unsigned char sense[SCSI_MAX_SENSE_LENGTH];
    FillSgRequest(request, header, sense);
    const int ioctlResult = ::ioctl(m_fd, SG_IO, &header);
    const CScsiResult result = ReadSgResult(header, ioctlResult == 0 ? 0 : errno, sense, m_throughSt);
    // The kernel may copy its whole buffer back, the residual the drive did
    // not fill included, with whatever an earlier command left there: the
    // caller gets zeros past what the drive sent, as from any other device.
    if (ioctlResult == 0 && request.direction == SCSI_DIR_IN && request.data != nullptr && header.resid > 0 &&
        header.resid <= request.dataLength)
        std::memset(request.data + request.dataLength - header.resid, 0, static_cast<size_t>(header.resid));
    return result;
}
