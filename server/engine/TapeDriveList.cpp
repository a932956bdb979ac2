#include "TapeDriveList.h"

#include <cstring>

CTapeDriveList::CTapeDriveList() : m_count(0)
{
    std::memset(m_slots, 0, sizeof m_slots);
}

CTapeDriveList::~CTapeDriveList()
{
    DeleteAll();
}

bool CTapeDriveList::AddHead(CTapeDrive* drive)
{
    if (m_count >= TAPE_DRIVE_LIST_CAPACITY)
        return false;
    m_slots[m_count++] = drive;
    return true;
}

CTapeDrive* CTapeDriveList::FindDrive(int id) const
{
    CTapeDrive* atapi = FindAtapiDrive(id);
    if (atapi != nullptr)
        return atapi;
    for (int i = 0; i < m_count; ++i) {
        if (m_slots[i]->IsSCSI() && m_slots[i]->DriveID() == id)
            return m_slots[i];
    }
    return nullptr;
}

CTapeDrive* CTapeDriveList::FindAtapiDrive(int id) const
{
    for (int i = 0; i < m_count; ++i) {
        const CTapeDrive* drive = m_slots[i];
        if (drive->IsSCSI())
            continue;
        int driveId = drive->FileDescriptor() == ATAPI_LUN_ADDRESSED ? drive->LunID() : drive->DriveID();
        if (driveId == id)
            return m_slots[i];
    }
    return nullptr;
}

CTapeDrive* CTapeDriveList::FindDrive(int adapter, int target, int lun) const
{
    for (int i = 0; i < m_count; ++i) {
        const CTapeDrive* drive = m_slots[i];
        if (drive->IsSCSI() && drive->AdapterID() == adapter && drive->DriveID() == target && drive->LunID() == lun)
            return m_slots[i];
    }
    return nullptr;
}

CTapeDrive* CTapeDriveList::FindDrive(int adapter, int bus, int target, int lun) const
{
    for (int i = 0; i < m_count; ++i) {
        const CTapeDrive* drive = m_slots[i];
        if (drive->IsSCSI() && drive->AdapterID() == adapter && drive->BusID() == bus && drive->DriveID() == target &&
            drive->LunID() == lun)
            return m_slots[i];
    }
    return nullptr;
}

CTapeDrive* CTapeDriveList::FindDrive(const char* serial) const
{
    CVString wanted(serial);
    wanted.MakeUpper();
    for (int i = 0; i < m_count; ++i) {
        if (CVString(m_slots[i]->SerialNumber()) == wanted)
            return m_slots[i];
    }
    return nullptr;
}

void CTapeDriveList::DeleteAll()
{
    for (int i = 0; i < m_count; ++i)
        delete m_slots[i];
    m_count = 0;
}
