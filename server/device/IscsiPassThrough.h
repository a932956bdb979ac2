// CIscsiPassThrough: a tape drive behind an iSCSI target, reached from user
// space through libiscsi (no kernel initiator, no root).
//
// libiscsi's automatic reconnection is off: it would spin forever on a target
// that is gone, and after a restart it re-sends the command that was in
// flight, a WRITE at the beginning of tape included. Every command runs
// under the backend's own poll loop with a hard deadline (its time-out plus a
// margin); a cancelled, failed or timed-out command ends the session, and the
// command fails as lost ("session lost"). Only commands that
// move nothing (INQUIRY, MODE SENSE, READ POSITION, ...) are sent again on a
// new session; the next such command logs in again.
#ifndef TAPEDIAG_ISCSIPASSTHROUGH_H
#define TAPEDIAG_ISCSIPASSTHROUGH_H

#include "DeviceOpener.h"
#include "PassThrough.h"
#include "VString.h"

#include <cstdint>
#include <memory>
#include <string>

struct iscsi_context;

class CIscsiPassThrough : public CPassThrough {
public:
    // `url` is iscsi://[user%password@]host[:port]/target-iqn/lun. Logs in
    // (CHAP when a user is given), checks that the LUN is a tape drive before
    // any other command, and takes the unit attention a new session gets.
    // Null, with the reason in `error`, when any of that fails. (Tests reach
    // tgt's disk LUNs, the only ones of tgt that take persistent
    // reservations, with another `deviceType`.)
    static std::unique_ptr<CIscsiPassThrough> Open(const char* url, CVString& error,
                                                   unsigned char deviceType = DEVICE_TYPE_TAPE);

    ~CIscsiPassThrough() override;

    CIscsiPassThrough(const CIscsiPassThrough&) = delete;
    CIscsiPassThrough& operator=(const CIscsiPassThrough&) = delete;

    bool LoggedIn() const { return m_context != nullptr; }
    // The URL's LUN.
    int Lun() const { return m_lun; }
    // A target serves other hosts too.
    bool TakesReservations() const override { return true; }

protected:
    CScsiResult Send(const CScsiRequest& request) override;

private:
    CIscsiPassThrough() {}

    // Connects, logs in and checks the LUN; false with the reason in `why`.
    bool Login(std::string& why);
    // One command on the session there is; a lost session is dropped.
    CScsiResult Run(const CScsiRequest& request);
    // Serves the session until `done` is set; false when the deadline
    // passes or the session fails first.
    bool WaitFor(const bool& done, long deadline);
    void DropSession();

    iscsi_context* m_context = nullptr;
    std::string m_portal;
    std::string m_target;
    std::string m_user;
    std::string m_password;
    int m_lun = 0;
    // The session identifier, the same at every login: a reservation
    // belongs to the initiator name and this, so a new session after a lost
    // one can still release it.
    uint32_t m_isid = 0;
    unsigned char m_deviceType = DEVICE_TYPE_TAPE;
    // Written by libiscsi's connect callback, which may run again when the
    // connection closes; it must outlive every session.
    struct CPending {
        bool done = false;
        int status = 0;
    } m_connect;
};

// The transport of "iscsi://" device texts.
COpenedDevice OpenIscsiDevice(const char* device, const CHostPaths& paths, CVString& error);

#endif
