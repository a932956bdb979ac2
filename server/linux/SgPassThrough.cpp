#include "SgPassThrough.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The longest CDB the SG_IO request carries.
const int SG_MAX_CDB_LENGTH = 16;
// Only the low nibble of the driver byte names the driver's verdict; the
// high nibble holds the mid-layer's retry suggestion.
const unsigned short SG_DRIVER_CODE_MASK = 0x0F;

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

CScsiResult NotCompleted()
{
    CScsiResult result;
    std::memset(&result, 0, sizeof(result));
    result.completed = false;
    return result;
}

CVString Reason(const char* what, const char* path, const char* why)
{
    CVString text(what);
    text += path;
    text += ": ";
    text += why;
    return text;
}

}  // namespace

void FillSgRequest(const CScsiRequest& request, sg_io_hdr_t& header, unsigned char* sense)
{
    std::memset(&header, 0, sizeof(header));
    std::memset(sense, 0, SCSI_SENSE_LENGTH);
    header.interface_id = 'S';
    header.dxfer_direction = Direction(request);
    header.cmd_len = static_cast<unsigned char>(request.cdbLength);
    header.mx_sb_len = SCSI_SENSE_LENGTH;
    if (header.dxfer_direction != SG_DXFER_NONE) {
        header.dxfer_len = static_cast<unsigned int>(request.dataLength);
        header.dxferp = request.data;
    }
    // The kernel only reads the CDB.
    header.cmdp = const_cast<unsigned char*>(request.cdb);
    header.sbp = sense;
    header.timeout = TimeoutMilliseconds(request.timeoutSeconds);
}

CScsiResult ReadSgResult(const sg_io_hdr_t& header, int ioctlResult, const unsigned char* sense)
{
    CScsiResult result = NotCompleted();
    if (ioctlResult != 0)
        return result;
    const unsigned short driverCode = header.driver_status & SG_DRIVER_CODE_MASK;
    result.completed = header.host_status == 0 && (driverCode == 0 || driverCode == DRIVER_SENSE_CODE);
    result.status = header.status;
    if (header.dxfer_direction != SG_DXFER_NONE && header.resid >= 0 &&
        static_cast<unsigned int>(header.resid) <= header.dxfer_len)
        result.transferred = static_cast<int>(header.dxfer_len - static_cast<unsigned int>(header.resid));
    int length = header.sb_len_wr;
    if (length > SCSI_SENSE_LENGTH)
        length = SCSI_SENSE_LENGTH;
    if (length > 0 && sense != nullptr) {
        std::memcpy(result.sense, sense, static_cast<size_t>(length));
        result.senseLength = length;
    }
    return result;
}

std::unique_ptr<CSgPassThrough> CSgPassThrough::Open(const char* path, CVString& error)
{
    if (path == nullptr || *path == '\0') {
        error = "no device path given";
        return nullptr;
    }
    int fd = ::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = Reason("cannot open ", path, std::strerror(errno));
        return nullptr;
    }
    // A regular file would open and then fail every command with a puzzling
    // error; refuse it here with a plain reason.
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
        ::close(fd);
        error = Reason("cannot use ", path, "not a character device");
        return nullptr;
    }
    return std::unique_ptr<CSgPassThrough>(new CSgPassThrough(fd));
}

CSgPassThrough::CSgPassThrough(int fd) : m_fd(fd) {}

CSgPassThrough::~CSgPassThrough()
{
    ::close(m_fd);
}

CScsiResult CSgPassThrough::Execute(const CScsiRequest& request)
{
    if (request.cdb == nullptr || request.cdbLength <= 0 || request.cdbLength > SG_MAX_CDB_LENGTH ||
        request.dataLength < 0)
        return NotCompleted();
    sg_io_hdr_t header;
    unsigned char sense[SCSI_SENSE_LENGTH];
    FillSgRequest(request, header, sense);
    const int ioctlResult = ::ioctl(m_fd, SG_IO, &header);
    return ReadSgResult(header, ioctlResult, sense);
}
