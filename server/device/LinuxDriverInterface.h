// CLinuxDriverInterface: the driver interface of this host. It reads the
// device handle from the drive record and forwards to the one command layer it
// owns; results and sense data pass through unchanged. A null drive record
// reads as handle -1, which no device has, so its commands fail.
#ifndef TAPEDIAG_LINUXDRIVERINTERFACE_H
#define TAPEDIAG_LINUXDRIVERINTERFACE_H

#include "DriverInterface.h"
#include "LinuxTapeDeviceDriver.h"

#include <memory>

class CLinuxDriverInterface : public CDriverInterface {
public:
    CLinuxDriverInterface();
    ~CLinuxDriverInterface() override;

    CLinuxDriverInterface(const CLinuxDriverInterface&) = delete;
    CLinuxDriverInterface& operator=(const CLinuxDriverInterface&) = delete;

    // Hands an open device to the command layer; returns the handle to put
    // into the drive record, or -1 for a null device.
    int AttachDevice(std::unique_ptr<CPassThrough> device);
    CLinuxTapeDeviceDriver& Driver() { return *m_driver; }

    void GetSense(CTapeDrive* drive, unsigned char* buffer, int length) override;
    int GetTransferLength(CTapeDrive* drive) override;
    bool LastCommandCompleted(CTapeDrive* drive) override;
    bool LastCommandWorthRepeating(CTapeDrive* drive) override;
    unsigned char GetStatus(CTapeDrive* drive) override;
    bool LoadTape(CTapeDrive* drive, bool retension) override;
    bool UnloadTape(CTapeDrive* drive) override;
    bool WriteFileMarks(CTapeDrive* drive) override;
    bool Rewind(CTapeDrive* drive) override;
    long GetBlockSize(CTapeDrive* drive) override;
    bool TestForUnitReady(CTapeDrive* drive) override;
    bool WriteDataToDrive(CTapeDrive* drive, long blockSize, unsigned char* buffer, long length) override;
    bool ReadDataFromDrive(CTapeDrive* drive, long blockSize, unsigned char* buffer, long length) override;
    bool ReadPosition(CTapeDrive* drive) override;
    bool DriveInquiry(CTapeDrive* drive, unsigned char* buffer, int length) override;
    bool DriveInquiry(int fd, unsigned char* buffer, int length) override;
    bool ExtendedDriveInquiry(CTapeDrive* drive, int page, unsigned char* buffer, int length) override;
    bool ModeSensePage(CTapeDrive* drive, int page, unsigned char* buffer, int length) override;
    bool ModeSelectPage(CTapeDrive* drive, int parameterLength, unsigned char* buffer, int length) override;
    bool LogSense(CTapeDrive* drive, unsigned char* buffer, int length, int page) override;
    bool LogSelectReset(CTapeDrive* drive) override;
    bool FastFwdToEOD(CTapeDrive* drive) override;
    bool SendDiagnostic(CTapeDrive* drive) override;
    bool RequestSense(CTapeDrive* drive, unsigned char* buffer, int length) override;
    bool DownloadFirmware(CTapeDrive* drive, unsigned char* image, int length, int offset2, int offset1,
                          int offset0) override;
    bool ParkDriveArm(CTapeDrive* drive, bool park) override;
    bool ReserveDrive(CTapeDrive* drive) override;
    void ReleaseDrive(CTapeDrive* drive) override;
    bool IsAutoLoaderConfiguration(CTapeDrive* drive) override;
    bool ReadBuffer(CTapeDrive* drive, unsigned char* cdb, unsigned char* buffer, int length) override;
    bool OpCmd(CTapeDrive* drive, unsigned char* cdb, int cdbLength) override;
    bool GetDataCmd(CTapeDrive* drive, unsigned char* cdb, int cdbLength, unsigned char* buffer, int length) override;
    bool SendDataCmd(CTapeDrive* drive, unsigned char* cdb, int cdbLength, unsigned char* buffer, int length) override;
    void SetDeviceTimeout(int fd, int seconds) override;

private:
    std::unique_ptr<CLinuxTapeDeviceDriver> m_driver;
};

#endif
