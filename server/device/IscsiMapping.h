// How a SCSI command maps onto an iSCSI task and back: pure rules of the
// iSCSI backend, kept apart from libiscsi so that they are tested without a
// target (and built where libiscsi is not installed).
#ifndef TAPEDIAG_ISCSIMAPPING_H
#define TAPEDIAG_ISCSIMAPPING_H

#include "PassThrough.h"

#include <cstddef>
#include <string>

// How an iSCSI device text begins: iscsi://[user[%password]@]host[:port]/target-iqn/lun.
const char* const ISCSI_URL_PREFIX = "iscsi://";

// The URL without its password, for messages.
std::string IscsiUrlWithoutPassword(const std::string& url);

// libiscsi's verdicts for a task that did not end with a SCSI status.
const int ISCSI_TASK_CANCELLED = 0x0f000000;
const int ISCSI_TASK_ERROR = 0x0f000001;
const int ISCSI_TASK_TIMEOUT = 0x0f000002;

// What a lost session leaves behind: the command may or may not have run on
// the target, so where the tape stands is not known (a lost command).
extern const char* const ISCSI_SESSION_LOST;
extern const char* const ISCSI_TIMED_OUT;

enum IscsiResidual { ISCSI_RESIDUAL_NONE, ISCSI_RESIDUAL_UNDERFLOW, ISCSI_RESIDUAL_OVERFLOW };

// What libiscsi handed back for one task.
struct CIscsiReply {
    int taskStatus;                // SCSI status, or one of ISCSI_TASK_*
    const unsigned char* segment;  // data segment of a CHECK CONDITION: 2-byte length, then sense
    size_t segmentSize;
    IscsiResidual residualKind;
    size_t residual;
};

// The result of one command: completed with the SCSI status, the sense data
// (as the target sent it) and the bytes moved; or, for a cancelled, failed or
// timed-out task, not completed with the reason.
CScsiResult ReadIscsiReply(const CIscsiReply& reply, const CScsiRequest& request);

// How many bytes to receive for a command that returns data when the caller
// gave no buffer: at least the allocation length (and never 0), since some
// targets fail on a data-in command that comes without room for its data.
// 0 for commands that return no data.
int DataInScratchLength(const unsigned char* cdb, int cdbLength);

// Whether standard INQUIRY data describes a present device of `type`
// (peripheral qualifier 0): a tape drive, for every device of the program.
bool IsInquiryOfType(const unsigned char* inquiry, int length, unsigned char type);

#endif
