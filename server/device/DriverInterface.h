// CDriverInterface: the face of the SCSI device layer that the diagnostics
// use. Every drive operation takes the drive record; the host's
// implementation reaches the device through the record's descriptor. Results
// and sense data pass through unchanged; nothing here prints.
#ifndef TAPEDIAG_DRIVERINTERFACE_H
#define TAPEDIAG_DRIVERINTERFACE_H

#include "ScsiCodes.h"
#include "TapeDrive.h"

class CDriverInterface {
public:
    virtual ~CDriverInterface() {}

    // Copies up to min(length, 32) bytes of the sense data of the last failed command.
    virtual void GetSense(CTapeDrive* drive, unsigned char* buffer, int length) = 0;
    // Bytes the data phase of the last command moved: a drive may return less
    // than a page's own length field claims.
    virtual int GetTransferLength(CTapeDrive* drive) = 0;
    // Whether the last command reached the drive and ended, whatever it
    // answered: a command that timed out or lost its device did not.
    virtual bool LastCommandCompleted(CTapeDrive*) { return true; }
    // Whether sending the last command again may end otherwise: not when
    // the drive refused it as invalid (ILLEGAL REQUEST), as it will again.
    virtual bool LastCommandWorthRepeating(CTapeDrive*) { return true; }
    // The SCSI status the last command ended with; GOOD when it did not
    // complete. BUSY, RESERVATION CONFLICT and TASK SET FULL come without
    // sense data: the status is all that names them.
    virtual unsigned char GetStatus(CTapeDrive*) { return GOOD_STATUS; }
    virtual bool LoadTape(CTapeDrive* drive, bool retension) = 0;
    // Always true: an unload that fails is not a failure of the caller.
    virtual bool UnloadTape(CTapeDrive* drive) = 0;
    virtual bool WriteFileMarks(CTapeDrive* drive) = 0;
    virtual bool Rewind(CTapeDrive* drive) = 0;
    // The block length of the first block descriptor; 0 means variable block mode.
    virtual long GetBlockSize(CTapeDrive* drive) = 0;
    // Up to three tries; true at the first success.
    virtual bool TestForUnitReady(CTapeDrive* drive) = 0;
    virtual bool WriteDataToDrive(CTapeDrive* drive, long blockSize, unsigned char* buffer, long length) = 0;
    virtual bool ReadDataFromDrive(CTapeDrive* drive, long blockSize, unsigned char* buffer, long length) = 0;
    virtual bool ReadPosition(CTapeDrive* drive) = 0;
    virtual bool DriveInquiry(CTapeDrive* drive, unsigned char* buffer, int length) = 0;
    // Used by discovery before a drive record exists.
    virtual bool DriveInquiry(int fd, unsigned char* buffer, int length) = 0;
    virtual bool ExtendedDriveInquiry(CTapeDrive* drive, int page, unsigned char* buffer, int length) = 0;
    virtual bool ModeSensePage(CTapeDrive* drive, int page, unsigned char* buffer, int length) = 0;
    virtual bool ModeSelectPage(CTapeDrive* drive, int parameterLength, unsigned char* buffer, int length) = 0;
    virtual bool LogSense(CTapeDrive* drive, unsigned char* buffer, int length, int page) = 0;
    virtual bool LogSelectReset(CTapeDrive* drive) = 0;
    virtual bool FastFwdToEOD(CTapeDrive* drive) = 0;
    virtual bool SendDiagnostic(CTapeDrive* drive) = 0;
    virtual bool RequestSense(CTapeDrive* drive, unsigned char* buffer, int length) = 0;
    virtual bool DownloadFirmware(CTapeDrive* drive, unsigned char* image, int length, int offset2, int offset1,
                                  int offset0) = 0;
    virtual bool ParkDriveArm(CTapeDrive* drive, bool park) = 0;
    // Keeps other hosts off a shared drive while a command that destroys
    // data runs; true when they are kept off or the drive cannot be
    // reserved, false (sense data or status kept) when it refused.
    virtual bool ReserveDrive(CTapeDrive*) { return true; }
    // Lets them back, whatever ReserveDrive achieved.
    virtual void ReleaseDrive(CTapeDrive*) {}
    // Whether the drive sits in an autoloader: it reports a medium changer's
    // element address assignment page (1Dh) among all its mode pages.
    virtual bool IsAutoLoaderConfiguration(CTapeDrive* drive) = 0;
    // READ BUFFER with the caller's 10-byte CDB.
    virtual bool ReadBuffer(CTapeDrive* drive, unsigned char* cdb, unsigned char* buffer, int length) = 0;
    virtual bool GetDeviceAddressInfo(CTapeDrive*, unsigned char*, int) { return false; }
    virtual int GetNumberOfAdapters() { return 0; }
    virtual bool GetHostAdapterName(int, unsigned char*, int, int&) { return false; }
    virtual bool OpCmd(CTapeDrive* drive, unsigned char* cdb, int cdbLength) = 0;
    virtual bool GetDataCmd(CTapeDrive* drive, unsigned char* cdb, int cdbLength, unsigned char* buffer,
                            int length) = 0;
    virtual bool SendDataCmd(CTapeDrive* drive, unsigned char* cdb, int cdbLength, unsigned char* buffer,
                             int length) = 0;
    virtual bool CheckForTapeDrive(char*, int&, int&, int&, int&) { return false; }
    // Sets the time-out of every following command on every drive.
    virtual void SetDeviceTimeout(int fd, int seconds) = 0;
};

#endif
