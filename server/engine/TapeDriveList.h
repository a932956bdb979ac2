// CTapeDriveList: the drives discovery found, in the order found. A fixed
// capacity of 1000; the list owns the records it holds.
#ifndef TAPEDIAG_TAPEDRIVELIST_H
#define TAPEDIAG_TAPEDRIVELIST_H

#include "TapeDrive.h"

const int TAPE_DRIVE_LIST_CAPACITY = 1000;

class CTapeDriveList {
public:
    CTapeDriveList();
    virtual ~CTapeDriveList();
    CTapeDriveList(const CTapeDriveList&) = delete;
    CTapeDriveList& operator=(const CTapeDriveList&) = delete;

    // Appends the drive (despite the name) and takes ownership. False, with
    // the drive left to the caller, when the list is full.
    bool AddHead(CTapeDrive* drive);
    int GetCount() const { return m_count; }
    // No range check: the caller keeps 0 <= index < GetCount().
    CTapeDrive* GetAt(int index) const { return m_slots[index]; }

    // Searches return the first match in list order, or null.
    CTapeDrive* FindDrive(int id) const;
    CTapeDrive* FindAtapiDrive(int id) const;
    CTapeDrive* FindDrive(int adapter, int target, int lun) const;
    CTapeDrive* FindDrive(int adapter, int bus, int target, int lun) const;
    // The serial is compared in upper case against the stored text as is.
    CTapeDrive* FindDrive(const char* serial) const;
    void DeleteAll();

private:
    int m_count;
    CTapeDrive* m_slots[TAPE_DRIVE_LIST_CAPACITY];
};

#endif
