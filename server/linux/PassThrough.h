// The pass-through: the one host-specific step of the SCSI command layer,
// handing one CDB to one device. One implementation per kind of device (a
// local st device through SG_IO, a virtual drive, ...); everything above it is
// host-independent and is tested against a recording implementation.
#ifndef TAPEDIAG_PASSTHROUGH_H
#define TAPEDIAG_PASSTHROUGH_H

enum ScsiDirection { SCSI_DIR_NONE, SCSI_DIR_IN, SCSI_DIR_OUT };

const int SCSI_SENSE_LENGTH = 32;

struct CScsiRequest {
    const unsigned char* cdb;
    int cdbLength;
    ScsiDirection direction;
    unsigned char* data;   // null with dataLength 0 for commands without data
    int dataLength;
    int timeoutSeconds;
};

struct CScsiResult {
    // The command reached the device and ended: false on a transport,
    // host-adapter or driver failure, whatever the status says.
    bool completed;
    unsigned char status;                      // SCSI status byte
    unsigned char sense[SCSI_SENSE_LENGTH];    // sense data returned, zero-padded
    int senseLength;
    // Bytes the data phase actually moved (the request's length less the
    // residual); 0 for a command without data or one that did not complete.
    int transferred;
};

class CPassThrough {
public:
    virtual ~CPassThrough() {}
    // Issues one command and waits for it (at most the request's time-out).
    virtual CScsiResult Execute(const CScsiRequest& request) = 0;
};

#endif
