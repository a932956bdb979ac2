// CTapeDrive: one tape drive: how it is reached (descriptor, adapter, bus,
// target, LUN), what it is (INQUIRY description and firmware, serial number,
// drive type code) and what it can do (SCSI or ATAPI, retension, hardware
// compression). Also its two text forms: the display lines and the
// "@"-separated drive description string that the server sends to clients.
#ifndef TAPEDIAG_TAPEDRIVE_H
#define TAPEDIAG_TAPEDRIVE_H

#include "AppOutput.h"
#include "DriveTypes.h"
#include "VString.h"

// A descriptor value that marks an ATAPI drive addressed by its LUN id.
const int ATAPI_LUN_ADDRESSED = -4096;

class CTapeDrive {
public:
    CTapeDrive();
    CTapeDrive(int adapterId, int driveId, int lunId, const char* inquiryText, int driveType, bool isScsi,
               bool isRetensionable, bool compressionAvail);
    CTapeDrive(int fileDescriptor, const char* inquiryText, int driveType, bool isScsi, bool isRetensionable,
               bool compressionAvail);

    void InitialazeDataMembers();
    // inquiryText points at byte 8 of a standard INQUIRY response: 24
    // characters of vendor and product, then 4 of revision. A text shorter
    // than 28 characters changes nothing.
    void SetDriveDescAndFirmwareDesc(const char* inquiryText);

    int FileDescriptor() const { return m_fileDescriptor; }
    void FileDescriptor(int fd) { m_fileDescriptor = fd; }
    int AdapterID() const { return m_adapterId; }
    void AdapterID(int id) { m_adapterId = id; }
    int PortID() const { return m_adapterId; }
    void PortID(int id) { m_adapterId = id; }
    int BusID() const { return m_busId; }
    void BusID(int id) { m_busId = id; }
    int DriveID() const { return m_driveId; }
    void DriveID(int id) { m_driveId = id; }
    int LunID() const { return m_lunId; }
    void LunID(int id) { m_lunId = id; }
    int DriveType() const { return m_driveType; }
    void DriveType(int type) { m_driveType = type; }
    bool IsSCSI() const { return m_isScsi; }
    void IsSCSI(bool value) { m_isScsi = value; }
    bool IsATAPI() const { return !m_isScsi; }
    bool IsRetensionable() const { return m_isRetensionable; }
    void IsRetensionable(bool value) { m_isRetensionable = value; }
    bool CompressionAvail() const { return m_compressionAvail; }
    void CompressionAvail(bool value) { m_compressionAvail = value; }
    void* Handle() const { return m_handle; }
    // Drives are opened by descriptor on this host: nothing to create.
    bool CreateNTDriveHandle(const char*) { return true; }

    const char* NTTapeDriveName() const { return m_ntTapeDriveName; }
    void NTTapeDriveName(const char* name) { m_ntTapeDriveName = name; }
    const char* DriveDescription() const { return m_driveDescription; }
    void DriveDescription(const char* text) { m_driveDescription = text; }
    const char* FirmwareDescription() const { return m_firmwareDescription; }
    void FirmwareDescription(const char* text) { m_firmwareDescription = text; }
    const char* SerialNumber() const { return m_serialNumber; }
    void SerialNumber(const char* text) { m_serialNumber = text; }

    // Writes the address line, the description line, the serial number line
    // (drive types 4, 5 and 7) and a blank line through app->Msg.
    void DisplayDrive(CAppOutput* app) const;
    // "@address@type@scsi@retension@compression@description@firmware@serial@"
    CVString TapeDriveToNetworkString(const CAppOutput* app) const;
    // Reads a drive description string into the record; missing fields read
    // as empty texts, 0 and false; a missing address changes no id.
    void NetworkStringToTapeDrive(const char* text);
    // Sets the ids from an address field of 1, 2 or 3 colons.
    void SetIDsFromString(const char* address);
    // Takes the next field off `rest`, which starts with the "@" before it.
    static CVString NextParameter(CVString& rest);
    static int ColonsInString(const CVString& text);

private:
    int m_fileDescriptor;
    int m_adapterId;
    int m_busId;
    int m_driveId;
    int m_lunId;
    int m_driveType;
    bool m_isScsi;
    bool m_isRetensionable;
    bool m_compressionAvail;
    void* m_handle;
    CVString m_ntTapeDriveName;
    CVString m_driveDescription;
    CVString m_firmwareDescription;
    CVString m_serialNumber;
};

#endif
