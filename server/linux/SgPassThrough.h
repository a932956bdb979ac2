// CSgPassThrough: a local tape device (the st driver's node, such as
// /dev/nst0) reached through the kernel's SG_IO request. The non-rewinding
// node keeps the tape where it is when the descriptor closes.
#ifndef TAPEDIAG_SGPASSTHROUGH_H
#define TAPEDIAG_SGPASSTHROUGH_H

#include "PassThrough.h"
#include "VString.h"

#include <memory>
#include <scsi/sg.h>

// The driver byte reports DRIVER_SENSE when sense data came back with the
// status; that is an answer of the drive, not a failure of the path to it.
const unsigned short DRIVER_SENSE_CODE = 0x08;

// Fills `header` for one SG_IO request; `sense` must hold SCSI_SENSE_LENGTH
// bytes and receives the sense data.
void FillSgRequest(const CScsiRequest& request, sg_io_hdr_t& header, unsigned char* sense);

// The result of an SG_IO request: not completed when the ioctl failed
// (ioctlResult non-zero), when the host adapter reported an error, or when
// the driver reported anything but DRIVER_SENSE. Status, sense and the bytes
// transferred are taken from the header only when the ioctl succeeded.
CScsiResult ReadSgResult(const sg_io_hdr_t& header, int ioctlResult, const unsigned char* sense);

class CSgPassThrough : public CPassThrough {
public:
    // Opens the node read/write and non-blocking (so an empty drive still
    // opens). Null, with a short reason in `error`, when it cannot be opened
    // or is not a character device.
    static std::unique_ptr<CSgPassThrough> Open(const char* path, CVString& error);

    ~CSgPassThrough() override;

    CSgPassThrough(const CSgPassThrough&) = delete;
    CSgPassThrough& operator=(const CSgPassThrough&) = delete;

    CScsiResult Execute(const CScsiRequest& request) override;
    // The open node's file descriptor.
    int Descriptor() const { return m_fd; }

private:
    explicit CSgPassThrough(int fd);

    int m_fd;
};

#endif
