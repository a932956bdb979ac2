// CLinuxTapeDeviceDriver: the SCSI command layer. Turns each tape operation
// of the diagnostics into its CDB and issues it on a device through that
// device's pass-through. It keeps the command time-out and the sense data of
// the last failed command; both are shared by every device, so a caller
// fetches the sense data right after the command that failed.
//
// Every operation takes the device's handle (the one AttachDevice returned:
// the command layer's own small number, not a file descriptor). A command on
// a handle that names no attached device fails as a command that did not
// complete: false, with all-zero sense data.
//
// A command that does not complete (the device is gone, refuses the
// pass-through, or the session to it is lost) is said in one line naming the
// device and the reason, through the notice function (standard error unless
// the program gives another); the same reason is not repeated for a device
// until one of its commands completes again. Nothing here draws on the
// terminal itself.
//
// A drive that was reset reports it once (UNIT ATTENTION 29h): a command
// that moves nothing is then sent again at once, and goes on as if nothing
// happened. When a command is lost under way (it never came back, or the
// drive lost its logical unit, 08h) or a command that may move the tape meets
// the reset, the line says that the tape position is unknown and what to do:
// rewind the tape before the next test, or run a command that moves nothing
// again. That is said once, until a rewind or a load puts the tape at a known
// place again.
#ifndef TAPEDIAG_LINUXTAPEDEVICEDRIVER_H
#define TAPEDIAG_LINUXTAPEDEVICEDRIVER_H

#include "PassThrough.h"
#include "Retry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The time-out of the commands that have none of their own in the table of
// Timeouts.h; a command that has one puts this back as the time-out in force.
const int STANDING_TIMEOUT_SECONDS = 60;

// Takes one line about a device for the local user (no line end).
using DeviceNoticeFunction = std::function<void(const std::string& line)>;

class CLinuxTapeDeviceDriver {
public:
    CLinuxTapeDeviceDriver();
    virtual ~CLinuxTapeDeviceDriver();

    CLinuxTapeDeviceDriver(const CLinuxTapeDeviceDriver&) = delete;
    CLinuxTapeDeviceDriver& operator=(const CLinuxTapeDeviceDriver&) = delete;

    // Takes ownership of an open device; returns its handle, or -1 for a
    // null device. Handles are never reused within the object's life.
    int AttachDevice(std::unique_ptr<CPassThrough> device);
    // Closes and forgets the device; an unknown handle is ignored.
    void DetachDevice(int fd);
    // Puts a device under the handle it was detached from (the drive
    // record keeps its handle); false, the device released, when the handle
    // was never given or holds a device.
    bool ReattachDevice(int fd, std::unique_ptr<CPassThrough> device);
    bool HasDevice(int fd) const;
    // Where the lines about devices that cannot be used go from now on.
    void SetNoticeFunction(DeviceNoticeFunction notice) { m_notice = std::move(notice); }

    // The three primitives. True when the command completed with GOOD status
    // and no sense key, or ended with a current RECOVERED ERROR and no flag
    // (the drive did the command and says it needed to recover); otherwise
    // false, and the sense data the device returned, in fixed format, stays
    // available to GetSense. A negative length, a null buffer
    // with a non-zero length or a missing CDB fail without a command.
    bool OpCmd(int fd, unsigned char* cdb, int cdbLength);
    bool GetDataCmd(int fd, unsigned char* cdb, int cdbLength, unsigned char* buffer, int length);
    bool SendDataCmd(int fd, unsigned char* cdb, int cdbLength, unsigned char* buffer, int length);

    // Copies the first min(length, 32) bytes of the sense data of the last
    // failed command (all zero after a success). The descriptor is not used.
    void GetSense(int fd, unsigned char* buffer, int length);
    // Sets the time-out of every following command on every device that
    // has none of its own (Timeouts.h).
    void SetDeviceTimeout(int fd, int seconds);
    int Timeout() const { return m_timeout; }
    // Bytes the data phase of the last command moved (0 when it moved none
    // or did not complete).
    int LastTransferLength() const { return m_transferred; }
    // Whether the last command reached the device and ended, whatever it
    // answered.
    bool LastCommandCompleted() const { return m_completed; }
    // The SCSI status the last command ended with (GOOD when it did not
    // complete): BUSY, RESERVATION CONFLICT and TASK SET FULL come without
    // sense data, so this is all that tells them apart.
    unsigned char LastStatus() const { return m_status; }
    // Whether sending the last command again may end otherwise: not when
    // the drive refused it as invalid (ILLEGAL REQUEST), which it does the
    // same way every time. Every retry of a command asks this.
    bool LastCommandWorthRepeating() const;

    // Load, with retension when `retension` is non-zero.
    bool LoadTape(int fd, int retension);
    // Always true: callers unload as a courtesy and go on either way.
    bool UnloadTape(int fd);
    // Block length of the first block descriptor; 0 means variable block
    // mode, and is also the answer when the drive refuses MODE SENSE ten
    // times in a row.
    long GetBlockSize(int fd);
    // One filemark, not immediate.
    bool WriteFileMarks(int fd);
    bool Rewind(int fd);
    // Up to three tries, no pause; true at the first success. A drive that
    // still answers that it is becoming ready (02/04/01) is then asked again
    // every second until a minute has passed since it first said so (a
    // later check of a drive that never got ready does not wait again).
    bool TestForUnitReady(int fd);
    // blockSize non-zero: fixed-block mode, length / blockSize whole blocks;
    // 0: variable mode, one block of length bytes. Moves length bytes.
    bool WriteDataToDrive(int fd, long blockSize, unsigned char* buffer, long length);
    bool ReadDataFromDrive(int fd, long blockSize, unsigned char* buffer, long length);
    // READ POSITION; the position itself is discarded, only the result counts.
    bool ReadPosition(int fd);
    // Standard INQUIRY; the allocation length is 36 whatever `length` is.
    bool DriveInquiry(int fd, unsigned char* buffer, int length);
    // INQUIRY of vital product data page `page`.
    bool ExtendedDriveInquiry(int fd, int page, unsigned char* buffer, int length);
    // MODE SENSE (6) without block descriptors. The CDB carries the low byte
    // of `length` (256 gives 00) while the data phase allows `length` bytes.
    bool ModeSensePage(int fd, int page, unsigned char* buffer, int length);
    // MODE SELECT (6), page format, parameter list length `parameterLength`.
    bool ModeSelectPage(int fd, int parameterLength, unsigned char* buffer, int length);
    // LOG SENSE of the current cumulative values of `page`.
    bool LogSense(int fd, unsigned char* buffer, int length, int page);
    // Resets the current cumulative log values.
    bool LogSelectReset(int fd);
    // SPACE to end of data.
    bool FastFwdToEOD(int fd);
    // The drive's own self-test.
    bool SendDiagnostic(int fd);
    bool RequestSense(int fd, unsigned char* buffer, int length);
    // Unloads (up to 6 tries), then parks (park true) or unparks the arm.
    // False when the unload never succeeds; when the drive then reports a
    // cartridge waiting to be loaded (02/3A/03), changed operating
    // conditions (06/3F) or a vendor-specific fault (09/80); or when the
    // park command fails.
    bool ParkDriveArm(int fd, bool park);
    // Sends the 8 KiB blocks of `image` with WRITE BUFFER (download
    // microcode) at buffer offset offset2 offset1 offset0, each of which must
    // arrive whole, then the save command. True when the save succeeded; when
    // it ended with a reset (UNIT ATTENTION 29h) or did not complete (the
    // drive restarting into the new firmware: the caller waits for it and
    // checks its level); or when it failed late at a non-zero offset and the
    // drive answered INQUIRY again before the deadline. An image that is not
    // a whole number of blocks, or that would reach past the 24-bit buffer
    // offset, is refused without a command.
    bool DownloadFirmware(int fd, unsigned char* image, int length, int offset2, int offset1, int offset0);
    // Keeps other hosts off a drive that takes persistent reservations (one
    // behind an iSCSI target) while a command that destroys data or
    // replaces firmware runs: registers this program's key and reserves
    // the drive for exclusive access. True when reserved, when the device
    // takes no reservations, or when its target does not implement them
    // (said through the notice function); false, with the sense data or
    // status of the refusal kept, when the drive refused.
    bool ReserveDrive(int fd);
    // Releases the reservation and removes the key, whatever ReserveDrive
    // achieved; after a lost session the device logs in again for it.
    void ReleaseDrive(int fd);
    // True when the drive reports the element address assignment page (1Dh)
    // of a medium changer, i.e. it sits in an autoloader. False also when the
    // drive refuses MODE SENSE seven times.
    bool IsAutoLoaderConfiguration(int fd);

    // Whether a MODE SENSE (6) response without block descriptors holds the
    // page whose code byte (saveable bit included) equals `page`. Reads no
    // byte at or beyond `length`.
    static bool DoesPageExist(int page, const unsigned char* buffer, int length);
    // Adds 8192 to the 24-bit big-endian number b2 b1 b0, keeping its low
    // 24 bits.
    static void IncrementBy8K(unsigned char& b2, unsigned char& b1, unsigned char& b0);

private:
    // Runs `attempt`, one command, as the policy allows, but not again once
    // the command is not worth repeating.
    template <typename Attempt>
    bool RetryCommand(const CRetryPolicy& policy, Attempt attempt)
    {
        return Retry(policy, attempt, [this] { return LastCommandWorthRepeating(); });
    }

    bool Issue(int fd, const unsigned char* cdb, int cdbLength, ScsiDirection direction, unsigned char* buffer,
               long length);
    // Hands the request to the device; a reset it reports to a command that
    // moves nothing is taken, and the command sent again once.
    CScsiResult Send(CPassThrough& device, const CScsiRequest& request);

    // One block of a firmware download; false, and no further block, unless
    // the drive took all of it.
    bool SendFirmwareBlock(int fd, const unsigned char* cdb, unsigned char* data, int block);

    // PERSISTENT RESERVE OUT of `action` for an exclusive-access reservation
    // of the logical unit.
    bool PersistentReserveOut(int fd, unsigned char action, uint64_t key, uint64_t actionKey);
    CPassThrough* Device(int fd) const;
    // Says what the user must know of the command's outcome: why it did not
    // complete, and whether the tape position is lost.
    void ReportOutcome(int fd, const CScsiRequest& request, const CScsiResult& result);

    struct CAttached {
        std::unique_ptr<CPassThrough> device;
        const char* reportedFailure;  // the last failure said on standard error
        long becomingReadySince;      // clock time of its first "becoming ready", 0 when ready since
        bool positionUnknown;         // said (or known to the caller) since the last rewind or load
    };
    // Says that the request was lost with `what` and the tape position is
    // unknown, unless that was said since the last rewind or load; true
    // when said.
    bool SayPositionUnknown(CAttached& attached, const CScsiRequest& request, const std::string& what);
    std::vector<CAttached> m_devices;  // indexed by handle
    DeviceNoticeFunction m_notice;
    int m_timeout;
    int m_transferred;
    bool m_completed;
    unsigned char m_status;
    uint64_t m_reservationKey;
    unsigned char m_sense[SCSI_SENSE_LENGTH];
};

#endif
