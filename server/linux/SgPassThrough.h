// CSgPassThrough: a local tape drive reached through the kernel's SG_IO
// request. Commands go to the drive's SCSI generic node (/dev/sgM), while
// its st node (/dev/nstN) stays open as the claim that keeps other programs
// off the drive; without a generic node, SG_IO goes to the st node itself.
// The non-rewinding st node keeps the tape where it is when it closes.
#ifndef TAPEDIAG_SGPASSTHROUGH_H
#define TAPEDIAG_SGPASSTHROUGH_H

#include "PassThrough.h"

#include <memory>
#include <scsi/sg.h>

// The driver byte reports DRIVER_SENSE when sense data came back with the
// status; that is an answer of the drive, not a failure of the path to it.
const unsigned short DRIVER_SENSE_CODE = 0x08;

// Fills `header` for one SG_IO request; `sense` must hold
// SCSI_MAX_SENSE_LENGTH bytes and receives the sense data.
void FillSgRequest(const CScsiRequest& request, sg_io_hdr_t& header, unsigned char* sense);

// The result of an SG_IO request: not completed when the ioctl failed
// (`ioctlError` is its errno, 0 when it succeeded), when the host adapter
// reported an error, or when the driver reported anything but DRIVER_SENSE;
// the failure text then says why. Status, sense and the bytes transferred
// are taken from the header only when the ioctl succeeded. `throughSt` says
// that the request went to an st node, whose EIO means it has lost its
// position. A failure after the request reached the device (it went away,
// timed out, or the adapter failed it) is a lost command.
CScsiResult ReadSgResult(const sg_io_hdr_t& header, int ioctlError, const unsigned char* sense, bool throughSt = false);

// Words for the user for an errno met while opening a device node or
// sending a command to it.
const char* DeviceErrorReason(int error);

class CSgPassThrough : public CPassThrough {
public:
    // Takes two open descriptors: `commandFd` receives SG_IO, `claimFd` is
    // only held (-1 for none, or the same descriptor as commandFd when
    // commands go to the st node). Both are closed with the object.
    CSgPassThrough(int commandFd, int claimFd, bool throughSt);
    ~CSgPassThrough() override;

    CSgPassThrough(const CSgPassThrough&) = delete;
    CSgPassThrough& operator=(const CSgPassThrough&) = delete;

    int Descriptor() const { return m_fd; }
    int ClaimDescriptor() const { return m_claimFd; }
    bool ThroughSt() const { return m_throughSt; }
    bool HoldsHostNodes() const override { return true; }

protected:
    CScsiResult Send(const CScsiRequest& request) override;

private:
    int m_fd;
    int m_claimFd;
    bool m_throughSt;
};

#endif
