// Sense reporting: what the drive said about the command that failed.
#include <cstring>

#include "DriveManager.h"
#include "ScsiData.h"

namespace {

// Byte 2 of NO SENSE with the end-of-medium flag, and with the filemark flag.
const unsigned char SENSE_END_OF_MEDIUM = SENSE_KEY_NO_SENSE | SENSE_FLAG_EOM;
const unsigned char SENSE_FILEMARK = SENSE_KEY_NO_SENSE | SENSE_FLAG_FILEMARK;

CVString Hex(unsigned char value)
{
    CVString text;
    text.Format("%02X", value);
    return text;
}

// The statuses with which a drive turns a command away without sense data:
// the drive did not run the command, and nothing is known of its health.
struct CRefusalStatus {
    unsigned char status;
    const char* text;
};
const CRefusalStatus refusalStatuses[] = {
    {BUSY_STATUS, "busy: the drive cannot take the command now"},
    {RESERVATION_CONFLICT_STATUS, "reservation conflict: the drive is reserved by another host"},
    {TASK_SET_FULL_STATUS, "task set full: the drive has more commands queued than it can take"},
};

}  // namespace

const char* CDriveManager::RefusalText(CTapeDrive* drive)
{
    const unsigned char status = m_driverInterface->GetStatus(drive);
    for (const CRefusalStatus& refusal : refusalStatuses) {
        if (refusal.status == status)
            return refusal.text;
    }
    return nullptr;
}

CVString CDriveManager::RetrieveAndFormatSenseMsg(CTapeDrive* drive)
{
    const char* refusal = RefusalText(drive);
    if (refusal != nullptr)
        return CVString(refusal);
    unsigned char sense[32] = {};
    m_driverInterface->GetSense(drive, sense, sizeof sense);

    CVString line = Hex(sense[2]);
    line += "/";
    line += Hex(sense[12]);
    line += "/";
    line += Hex(sense[13]);
    if (drive->DriveType() == DRIVE_ULTRIUM) {
        line += "/";
        line += Hex(sense[16]);
        line += "/";
        line += Hex(sense[17]);
    }

    // The drive reports the failure of an earlier command (a buffered write
    // that failed on the medium, say); the command that collected the report
    // was not performed and is not what failed.
    if (IsDeferredSense(sense))
        return CVString("Deferred error of an earlier command: ") + line;

    CatalogueId prefix;
    if (sense[2] == SENSE_END_OF_MEDIUM && HasAdditionalSense(sense, ASC_END_OF_PARTITION))
        prefix = CAT_END_OF_PARTITION_DETECTED;
    else if (sense[2] == SENSE_FILEMARK && HasAdditionalSense(sense, ASC_FILEMARK_DETECTED))
        prefix = CAT_READ_BEYOND_END_OF_DATA;
    else
        return line;
    CVString message = CatalogueText(prefix);
    message += " ";
    message += line;
    return message;
}

void CDriveManager::ProduceErrorMsg(unsigned char* sense)
{
    if (sense[2] == SENSE_KEY_NOT_READY && !IsDeferredSense(sense)) {
        if (HasAdditionalSense(sense, ASC_BECOMING_READY)) {
            Line("Please wait: Unit is in the process of becoming ready.");
            return;
        }
        if (sense[SENSE_ASC_BYTE] == ASC_MEDIUM_NOT_PRESENT.asc) {
            m_application->Msg(CAT_CHECK_CORRECT_TAPE, true);
            return;
        }
    }
    m_application->Msg(CAT_FAILURE_TEST_UNIT_READY, true);
    m_application->Msg(RetrieveAndFormatSenseMsg(m_application->GetCurrentDriveSelected()), true);
}
