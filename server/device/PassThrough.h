// The pass-through: the one host-specific step of the SCSI command layer,
// handing one CDB to one device. One backend per kind of device (a local
// tape drive through SG_IO, a virtual drive, a drive behind an iSCSI
// target); everything above it is host-independent and is tested against a
// recording backend.
#ifndef TAPEDIAG_PASSTHROUGH_H
#define TAPEDIAG_PASSTHROUGH_H

#include <string>

#include "ScsiCodes.h"

enum ScsiDirection { SCSI_DIR_NONE, SCSI_DIR_IN, SCSI_DIR_OUT };

// The sense data the command layer keeps of a failed command.
const int SCSI_SENSE_LENGTH = 32;
// The most sense data a device may return (descriptor format can be long).
const int SCSI_MAX_SENSE_LENGTH = 252;

struct CScsiRequest {
    const unsigned char* cdb;
    int cdbLength;
    ScsiDirection direction;
    unsigned char* data;  // null with dataLength 0 for commands without data
    int dataLength;
    int timeoutSeconds;
};

struct CScsiResult {
    // The command reached the device and ended: false on a transport,
    // host-adapter or driver failure, whatever the status says.
    bool completed;
    unsigned char status;                        // SCSI status byte
    unsigned char sense[SCSI_MAX_SENSE_LENGTH];  // sense data returned, zero-padded
    int senseLength;
    // Bytes the data phase actually moved (the request's length less the
    // residual); 0 for a command without data or one that did not complete.
    int transferred;
    // Why a command did not complete, in words for the user (a text that
    // lives as long as the program); null when it completed.
    const char* failure;
    // For a command that did not complete: it went to the device and never
    // came back (the device went away, the command timed out, the session
    // was lost), so it may have run in part and the device may have been
    // reset: where the tape stands is not known. False when the command was
    // refused before it left this host.
    bool lost;
};

// A result with nothing in it: not completed, no status, no sense, no data.
CScsiResult EmptyScsiResult();

class CPassThrough {
public:
    virtual ~CPassThrough() {}

    // Issues one command and waits for it (at most the request's time-out,
    // plus what the backend needs to notice a lost device). The sense data
    // comes back in fixed format whatever format the device used, and a
    // command that did not complete always carries a failure text.
    CScsiResult Execute(const CScsiRequest& request);

    // Whether the device is shared with other hosts and takes persistent
    // reservations, which keep them off it during a destructive command (a
    // drive behind an iSCSI target). A drive of this host is kept for this
    // program by its open nodes instead.
    virtual bool TakesReservations() const { return false; }
    // Whether the device holds nodes of this host open, which no other
    // program can open meanwhile (a tape drive of this host).
    virtual bool HoldsHostNodes() const { return false; }

    // How messages to the user name the device (its -dev: text, or the node
    // the host scan found; never a password).
    const std::string& Name() const { return m_name; }
    void Name(const std::string& name) { m_name = name; }

protected:
    // The backend's part: hands the command to the device and reports what
    // came back, sense data as the device sent it.
    virtual CScsiResult Send(const CScsiRequest& request) = 0;

private:
    std::string m_name;
};

#endif
