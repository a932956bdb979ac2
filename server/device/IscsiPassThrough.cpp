#include "IscsiPassThrough.h"

#include "Clock.h"
#include "Retry.h"
#include "IscsiMapping.h"
#include "ScsiData.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <random>
#include <vector>

extern "C" {
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
}

static_assert(ISCSI_TASK_CANCELLED == SCSI_STATUS_CANCELLED, "libiscsi task status");
static_assert(ISCSI_TASK_ERROR == SCSI_STATUS_ERROR, "libiscsi task status");
static_assert(ISCSI_TASK_TIMEOUT == SCSI_STATUS_TIMEOUT, "libiscsi task status");

namespace {

const char INITIATOR_NAME[] = "iqn.2024-01.invalid.tapediag:initiator";
const int LOGIN_TIMEOUT_SECONDS = 10;
const int LOGOUT_TIMEOUT_SECONDS = 3;
// A command's deadline is its time-out plus this: time for the target's own
// answer to a time-out to arrive before the session is given up.
const int DEADLINE_MARGIN_SECONDS = 5;
// Longest single wait of the poll loop, so that libiscsi's time-outs (which
// it checks only when served) are noticed.
const int POLL_SLICE_MILLISECONDS = 250;
const int INQUIRY_LENGTH = 36;
const int OPEN_TRIES = 5;  // unit attentions a new session may have queued
// The random part of a session identifier of the random type is 24 bits.
const uint32_t ISID_RANDOM_MASK = 0xFFFFFF;

struct CTaskPending {
    bool done = false;
    int status = 0;
};

void OnTask(iscsi_context*, int status, void*, void* privateData)
{
    CTaskPending* pending = static_cast<CTaskPending*>(privateData);
    pending->status = status;
    pending->done = true;
}

template <typename Pending>
void OnStep(iscsi_context*, int status, void*, void* privateData)
{
    Pending* pending = static_cast<Pending*>(privateData);
    pending->status = status;
    pending->done = true;
}

int TransferDirection(const CScsiRequest& request)
{
    if (request.data == nullptr || request.dataLength <= 0)
        return SCSI_XFER_NONE;
    return request.direction == SCSI_DIR_IN    ? SCSI_XFER_READ
           : request.direction == SCSI_DIR_OUT ? SCSI_XFER_WRITE
                                               : SCSI_XFER_NONE;
}

bool IsUnitAttention(const CScsiResult& result)
{
    return result.completed && result.status == CHECK_CONDITION_STATUS && result.senseLength > SENSE_KEY_BYTE &&
           (result.sense[SENSE_KEY_BYTE] & 0x0F) == SENSE_KEY_UNIT_ATTENTION;
}

}  // namespace

COpenedDevice OpenIscsiDevice(const char* device, const CHostPaths&, CVString& error)
{
    COpenedDevice opened;
    std::unique_ptr<CIscsiPassThrough> drive = CIscsiPassThrough::Open(device, error);
    // The URL names the LUN as the target numbers it; the kernel's
    // initiator shows the same LUN with the same number.
    if (drive)
        opened.address.lun = drive->Lun();
    opened.device = std::move(drive);
    return opened;
}

std::unique_ptr<CIscsiPassThrough> CIscsiPassThrough::Open(const char* url, CVString& error, unsigned char deviceType)
{
    std::unique_ptr<CIscsiPassThrough> device(new CIscsiPassThrough);
    device->m_deviceType = deviceType;
    iscsi_context* parser = iscsi_create_context(INITIATOR_NAME);
    if (parser == nullptr) {
        error = "cannot start an iSCSI session (out of memory)";
        return nullptr;
    }
    iscsi_url* parsed = iscsi_parse_full_url(parser, url);
    if (parsed == nullptr) {
        iscsi_destroy_context(parser);
        error = "not an iSCSI device: expected iscsi://[user%password@]host[:port]/target-iqn/lun";
        return nullptr;
    }
    device->m_portal = parsed->portal;
    device->m_target = parsed->target;
    device->m_lun = parsed->lun;
    // Credentials come from the URL alone (libiscsi would also take them
    // from its environment variables).
    const char* authority = url + std::strlen("iscsi://");
    const char* at = std::strchr(authority, '@');
    const char* slash = std::strchr(authority, '/');
    if (at != nullptr && (slash == nullptr || at < slash)) {
        device->m_user = parsed->user;
        device->m_password = parsed->passwd;
    }
    iscsi_destroy_url(parsed);
    iscsi_destroy_context(parser);
    device->m_isid = std::random_device()() & ISID_RANDOM_MASK;

    std::string why;
    if (!device->Login(why)) {
        error = why.c_str();
        return nullptr;
    }
    return device;
}

CIscsiPassThrough::~CIscsiPassThrough()
{
    // A polite logout, but never a wait on a target that does not answer.
    if (m_context != nullptr) {
        iscsi_set_timeout(m_context, LOGOUT_TIMEOUT_SECONDS);
        CTaskPending logout;
        if (iscsi_logout_async(m_context, OnStep<CTaskPending>, &logout) == 0)
            WaitFor(logout.done, CClock::Get().Now() + LOGOUT_TIMEOUT_SECONDS);
    }
    DropSession();
}

void CIscsiPassThrough::DropSession()
{
    if (m_context == nullptr)
        return;
    // Destroying the context first means libiscsi holds no task of ours
    // when the caller frees it.
    iscsi_destroy_context(m_context);
    m_context = nullptr;
}

bool CIscsiPassThrough::WaitFor(const bool& done, long deadline)
{
    while (!done) {
        if (CClock::Get().Now() > deadline)
            return false;
        const int events = iscsi_which_events(m_context);
        // No events to wait for: the connection is down and, with automatic
        // reconnection off, stays down.
        if (events == 0)
            return false;
        pollfd descriptor = {iscsi_get_fd(m_context), static_cast<short>(events), 0};
        const int ready = ::poll(&descriptor, 1, POLL_SLICE_MILLISECONDS);
        if (ready < 0 && errno != EINTR)
            return false;
        if (iscsi_service(m_context, ready > 0 ? descriptor.revents : 0) < 0)
            return false;
    }
    return true;
}

bool CIscsiPassThrough::Login(std::string& why)
{
    DropSession();
    m_context = iscsi_create_context(INITIATOR_NAME);
    if (m_context == nullptr) {
        why = "cannot start an iSCSI session (out of memory)";
        return false;
    }
    iscsi_set_isid_random(m_context, m_isid, 0);
    iscsi_set_noautoreconnect(m_context, 1);
    iscsi_set_reconnect_max_retries(m_context, 0);
    iscsi_set_targetname(m_context, m_target.c_str());
    iscsi_set_session_type(m_context, ISCSI_SESSION_NORMAL);
    iscsi_set_header_digest(m_context, ISCSI_HEADER_DIGEST_NONE_CRC32C);
    iscsi_set_timeout(m_context, LOGIN_TIMEOUT_SECONDS);
    if (!m_user.empty())
        iscsi_set_initiator_username_pwd(m_context, m_user.c_str(), m_password.c_str());

    const long deadline = CClock::Get().Now() + LOGIN_TIMEOUT_SECONDS + DEADLINE_MARGIN_SECONDS;
    m_connect = CPending();
    if (iscsi_connect_async(m_context, m_portal.c_str(), OnStep<CPending>, &m_connect) != 0 ||
        !WaitFor(m_connect.done, deadline) || m_connect.status != SCSI_STATUS_GOOD) {
        why = "cannot connect to the iSCSI target at " + m_portal;
        DropSession();
        return false;
    }
    CTaskPending login;
    if (iscsi_login_async(m_context, OnStep<CTaskPending>, &login) != 0 || !WaitFor(login.done, deadline) ||
        login.status != SCSI_STATUS_GOOD) {
        why = m_user.empty() ? "the target refused the login to " + m_target
                             : "the target refused the login to " + m_target + " (check the user and password)";
        DropSession();
        return false;
    }

    // INQUIRY before any other command: a tape command sent to a disk LUN
    // would write into the disk.
    const unsigned char inquiryCdb[6] = {OP_INQUIRY, 0x00, 0x00, 0x00, INQUIRY_LENGTH, 0x00};
    unsigned char inquiry[INQUIRY_LENGTH];
    CScsiRequest request = {inquiryCdb, 6, SCSI_DIR_IN, inquiry, INQUIRY_LENGTH, LOGIN_TIMEOUT_SECONDS};
    CScsiResult result = EmptyScsiResult();
    Retry(CRetryPolicy{OPEN_TRIES, 0, false}, [&] {
        std::memset(inquiry, 0, sizeof inquiry);
        result = Run(request);
        return m_context == nullptr || !IsUnitAttention(result);
    });
    if (!result.completed || result.status != GOOD_STATUS || result.transferred < 1) {
        why = "LUN " + std::to_string(m_lun) + " of " + m_target + " does not answer INQUIRY";
        DropSession();
        return false;
    }
    if (!IsInquiryOfType(inquiry, result.transferred, m_deviceType)) {
        char type[8];
        std::snprintf(type, sizeof type, "%02Xh", inquiry[0]);
        why =
            "LUN " + std::to_string(m_lun) + " of " + m_target + " is not a tape drive (peripheral type " + type + ")";
        DropSession();
        return false;
    }
    // A new session starts with a unit attention (power on or reset) that
    // would otherwise fail the first command of a test.
    const unsigned char unitReadyCdb[6] = {OP_TEST_UNIT_READY, 0x00, 0x00, 0x00, 0x00, 0x00};
    request = CScsiRequest{unitReadyCdb, 6, SCSI_DIR_NONE, nullptr, 0, LOGIN_TIMEOUT_SECONDS};
    Retry(CRetryPolicy{OPEN_TRIES, 0, false}, [&] { return m_context == nullptr || !IsUnitAttention(Run(request)); });
    if (m_context == nullptr) {
        why = std::string("the target at ") + m_portal + " closed the session";
        return false;
    }
    return true;
}

CScsiResult CIscsiPassThrough::Run(const CScsiRequest& request)
{
    if (m_context == nullptr)
        return EmptyScsiResult();
    // A command that returns data goes out with room for it even when the
    // caller wants none of it.
    CScsiRequest sent = request;
    std::vector<unsigned char> scratch;
    if (sent.data == nullptr || sent.dataLength <= 0) {
        const int length = DataInScratchLength(sent.cdb, sent.cdbLength);
        if (length > 0) {
            scratch.resize(static_cast<size_t>(length));
            sent.direction = SCSI_DIR_IN;
            sent.data = scratch.data();
            sent.dataLength = length;
        }
    }

    const int direction = TransferDirection(sent);
    scsi_task* task = scsi_create_task(sent.cdbLength, const_cast<unsigned char*>(sent.cdb), direction,
                                       direction == SCSI_XFER_NONE ? 0 : sent.dataLength);
    if (task == nullptr) {
        CScsiResult failed = EmptyScsiResult();
        failed.failure = "cannot build the iSCSI task (out of memory)";
        return failed;
    }
    if (direction == SCSI_XFER_READ)
        scsi_task_add_data_in_buffer(task, sent.dataLength, sent.data);
    iscsi_data out = {static_cast<size_t>(sent.dataLength), sent.data};

    const int timeout = sent.timeoutSeconds > 0 ? sent.timeoutSeconds : LOGIN_TIMEOUT_SECONDS;
    iscsi_set_timeout(m_context, timeout);
    const long deadline = CClock::Get().Now() + timeout + DEADLINE_MARGIN_SECONDS;
    CTaskPending pending;
    const bool queued = iscsi_scsi_command_async(m_context, m_lun, task, OnTask,
                                                 direction == SCSI_XFER_WRITE ? &out : nullptr, &pending) == 0;
    const bool answered = queued && WaitFor(pending.done, deadline);

    CIscsiReply reply = {ISCSI_TASK_ERROR, nullptr, 0, ISCSI_RESIDUAL_NONE, 0};
    if (answered) {
        reply.taskStatus = pending.status;
        if (pending.status == SCSI_STATUS_CHECK_CONDITION && task->datain.data != nullptr && task->datain.size > 0) {
            reply.segment = task->datain.data;
            reply.segmentSize = static_cast<size_t>(task->datain.size);
        }
        reply.residualKind = task->residual_status == SCSI_RESIDUAL_UNDERFLOW  ? ISCSI_RESIDUAL_UNDERFLOW
                             : task->residual_status == SCSI_RESIDUAL_OVERFLOW ? ISCSI_RESIDUAL_OVERFLOW
                                                                               : ISCSI_RESIDUAL_NONE;
        reply.residual = task->residual;
    } else if (queued && pending.done) {
        reply.taskStatus = pending.status;
    } else if (queued && CClock::Get().Now() > deadline) {
        reply.taskStatus = ISCSI_TASK_TIMEOUT;
    }
    CScsiResult result = ReadIscsiReply(reply, sent);
    if (!result.completed)
        DropSession();
    scsi_free_scsi_task(task);
    if (!scratch.empty())
        result.transferred = 0;
    return result;
}

CScsiResult CIscsiPassThrough::Send(const CScsiRequest& request)
{
    const bool repeatable = IsRepeatableCommand(request.cdb, request.cdbLength);
    std::string why;
    if (m_context == nullptr && (!repeatable || !Login(why))) {
        CScsiResult lost = EmptyScsiResult();
        lost.failure = ISCSI_SESSION_LOST;
        lost.lost = true;
        return lost;
    }
    CScsiResult result = Run(request);
    if (!result.completed && m_context == nullptr && repeatable && Login(why))
        result = Run(request);
    return result;
}
