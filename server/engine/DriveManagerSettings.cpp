// Ultrium drive operations that act on the drive rather than a tape: parking
// the arm, and reading and changing the speed, the compression control mode
// and the load behaviour held in mode pages 21h and 0Ah.
#include <cstring>

#include "DriveManager.h"
#include "Retry.h"
#include "ScsiData.h"

namespace {

const int SENSE_BUFFER_LENGTH = 32;
const int MODE_DATA_LENGTH = 255;
// Where each setting sits in MODE SENSE (6) data without block descriptors.
const int SPEED_BYTE = 2;  // device-specific parameter, bits 0-3
const unsigned char SPEED_MASK = 0x0F;
const int COMPRESSION_BYTE = 11;  // byte 7 of page 21h, whole byte
const int LOAD_BYTE = 9;          // byte 5 of page 0Ah, bits 0-2
const unsigned char LOAD_MASK = 0x07;
const CRetryPolicy READ_SETTING = {11, 1, false};
const CRetryPolicy WRITE_SETTING = {6, 1, false};

// Speeds in MB/s and the drive codes they are set with.
struct CSpeed {
    int megabytesPerSecond;
    int code;
};
const CSpeed speeds[] = {{0, 0}, {8, 3}, {10, 4}, {12, 5}, {14, 6}, {16, 7}};

int SpeedCode(int megabytesPerSecond)
{
    for (const CSpeed& speed : speeds) {
        if (speed.megabytesPerSecond == megabytesPerSecond)
            return speed.code;
    }
    return -1;
}

int SpeedOfCode(int code)
{
    for (const CSpeed& speed : speeds) {
        if (speed.code == code)
            return speed.megabytesPerSecond;
    }
    return -1;
}

CVString SpeedText(int megabytesPerSecond)
{
    if (megabytesPerSecond == 0)
        return CVString("Auto Select (0).");
    CVString text;
    text.Format("%d MB/Sec.", megabytesPerSecond);
    return text;
}

// The line for a mode value 0, 1 or 2 (empty for any other value).
const char* Described(int value, const char* const texts[3])
{
    return value >= 0 && value <= 2 ? texts[value] : "";
}

const char* const compressionSet[3] = {"Full SCSI Mode compression control. Pages 0fh & 10h control compression.",
                                       "Auto compression control on with no SCSI Mode control.",
                                       "Compression disabled with no SCSI Mode control."};
const char* const compressionCurrent[3] = {
    "Full SCSI Mode compression control currently on. Pages 0fh & 10h control compression.",
    "Auto compression control currently on with no SCSI Mode control.",
    "Compression currently disabled with no SCSI Mode control."};
const char* const loadSet[3] = {"Drive load parameter set to on, load tape.", "Drive load parameter set to hold.",
                                "Drive load parameter set to off, don't load tape."};
const char* const loadCurrent[3] = {"Drive load parameter currently set to on, load tape.",
                                    "Drive load parameter currently set to hold.",
                                    "Drive load parameter currently set to off, don't load tape."};

}  // namespace

bool CDriveManager::OnlyForUltrium()
{
    Line("This command is only available for use with the Nivra Ultrium drive.");
    return false;
}

bool CDriveManager::Park(bool park)
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    OpenCommand(drive);
    m_driverInterface->TestForUnitReady(drive);
    Line(park ? "Issued Cmd: Park Drive Arm." : "Issued Cmd: Unpark Drive Arm.");
    if (drive->DriveType() != DRIVE_ULTRIUM)
        return OnlyForUltrium();
    if (m_driverInterface->ParkDriveArm(drive, park)) {
        Line(park ? "Drive Arm successfully parked." : "Drive Arm successfully unparked.");
        Separator();
        return true;
    }
    unsigned char sense[SENSE_BUFFER_LENGTH] = {};
    m_driverInterface->GetSense(drive, sense, SENSE_BUFFER_LENGTH);
    Line(park ? "Drive Arm failed to park." : "Drive Arm failed to unpark.");
    const bool mediaPresent = IsMediaPresentSense(sense);
    if (mediaPresent)
        Line(park ? "Media must be completely removed before the drive arm can be parked."
                  : "Media must be completely removed before the drive arm can be unparked.");
    if (park || !mediaPresent)
        m_application->Msg(RetrieveAndFormatSenseMsg(drive), true);
    Separator();
    return false;
}

bool CDriveManager::SetValue(int speed, int compression, int load)
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    OpenCommand(drive);
    if (drive->DriveType() != DRIVE_ULTRIUM)
        return OnlyForUltrium();
    m_driverInterface->TestForUnitReady(drive);
    // Every setting asked for is tried; the command succeeds when all were set.
    bool allSet = true;
    if (speed != -1) {
        Line("Issued Cmd: Set Drive Speed.");
        const bool set = SetNivraSpeed(speed);
        if (set) {
            CVString line("Drive speed set to ");
            line += SpeedText(speed);
            m_application->Msg(line, true);
        } else {
            Line("Unable to set drive speed.");
        }
        Separator();
        allSet = allSet && set;
    }
    if (compression != -1) {
        Line("Issued Cmd: Set Compression Mode.");
        const bool set = SetNivraCompression(compression);
        Line(set ? Described(compression, compressionSet) : "Unable to set SCSI mode control for compression.");
        Separator();
        allSet = allSet && set;
    }
    if (load != -1) {
        Line("Issued Cmd: Set Load Parameter.");
        const bool set = SetNivraAutoLoad(load);
        Line(set ? Described(load, loadSet) : "Unable to set drive load parameter.");
        Separator();
        allSet = allSet && set;
    }
    if (speed == -1 && compression == -1 && load == -1)
        Line("No values selected to change.");
    return allSet;
}

bool CDriveManager::GetValue(bool speed, bool compression, bool load)
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    OpenCommand(drive);
    if (drive->DriveType() != DRIVE_ULTRIUM)
        return OnlyForUltrium();
    m_driverInterface->TestForUnitReady(drive);
    // Every setting asked for is read; the command succeeds when all were.
    bool allRead = true;
    int value = 0;
    if (speed) {
        Line("Issued Cmd: Get Drive Speed.");
        const bool read = GetNivraSpeed(value);
        if (read) {
            CVString line("Drive speed currently set to ");
            line += SpeedText(value);
            m_application->Msg(line, true);
        } else {
            Line("Unable to retrieve drive speed.");
        }
        Separator();
        allRead = allRead && read;
    }
    if (compression) {
        Line("Issued Cmd: Get Compression Mode Setting.");
        const bool read = GetNivraCompression(value);
        Line(read ? Described(value, compressionCurrent) : "Unable to retrieve SCSI mode control for compression");
        Separator();
        allRead = allRead && read;
    }
    if (load) {
        Line("Issued Cmd: Get Load Parameter Setting.");
        const bool read = GetNivraAutoLoad(value);
        Line(read ? Described(value, loadCurrent) : "Unable to retrieve drive load status.");
        Separator();
        allRead = allRead && read;
    }
    if (!speed && !compression && !load)
        Line("No values selected to display.");
    return allRead;
}

bool CDriveManager::ReadSettingPage(int page, int byte, unsigned char* data, const CRetryPolicy& policy)
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    const bool read = RetryCommand(drive, policy, [&] {
        std::memset(data, 0, MODE_DATA_LENGTH);
        return m_driverInterface->ModeSensePage(drive, page, data, MODE_DATA_LENGTH);
    });
    // A field the drive did not send would read as the zero the buffer was
    // cleared with, and pass for a setting.
    return read && m_driverInterface->GetTransferLength(drive) > byte;
}

bool CDriveManager::WriteSetting(int page, int byte, unsigned char mask, unsigned char value)
{
    unsigned char data[MODE_DATA_LENGTH];
    if (!ReadSettingPage(page, byte, data, WRITE_SETTING))
        return false;
    // Every byte but the field goes back to the drive as it was read.
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    const int listLength = ModeSelectList(data, m_driverInterface->GetTransferLength(drive));
    if (listLength <= byte)
        return false;
    data[byte] = static_cast<unsigned char>((data[byte] & ~mask) | (value & mask));
    return RetryCommand(drive, WRITE_SETTING,
                        [&] { return m_driverInterface->ModeSelectPage(drive, listLength, data, listLength); });
}

bool CDriveManager::GetNivraSpeed(int& speed)
{
    unsigned char data[MODE_DATA_LENGTH];
    if (!ReadSettingPage(MODE_PAGE_VENDOR_SETTINGS, SPEED_BYTE, data, READ_SETTING))
        return false;
    const int megabytesPerSecond = SpeedOfCode(data[SPEED_BYTE] & SPEED_MASK);
    if (megabytesPerSecond < 0)
        return false;
    speed = megabytesPerSecond;
    return true;
}

bool CDriveManager::GetNivraCompression(int& mode)
{
    unsigned char data[MODE_DATA_LENGTH];
    if (!ReadSettingPage(MODE_PAGE_VENDOR_SETTINGS, COMPRESSION_BYTE, data, READ_SETTING))
        return false;
    mode = data[COMPRESSION_BYTE];
    return true;
}

bool CDriveManager::GetNivraAutoLoad(int& load)
{
    unsigned char data[MODE_DATA_LENGTH];
    if (!ReadSettingPage(MODE_PAGE_CONTROL, LOAD_BYTE, data, READ_SETTING))
        return false;
    load = data[LOAD_BYTE] & LOAD_MASK;
    return true;
}

bool CDriveManager::SetNivraSpeed(int speed)
{
    const int code = SpeedCode(speed);
    return code >= 0 &&
           WriteSetting(MODE_PAGE_VENDOR_SETTINGS, SPEED_BYTE, SPEED_MASK, static_cast<unsigned char>(code));
}

bool CDriveManager::SetNivraCompression(int mode)
{
    return WriteSetting(MODE_PAGE_VENDOR_SETTINGS, COMPRESSION_BYTE, 0xFF, static_cast<unsigned char>(mode));
}

bool CDriveManager::SetNivraAutoLoad(int load)
{
    return WriteSetting(MODE_PAGE_CONTROL, LOAD_BYTE, LOAD_MASK, static_cast<unsigned char>(load));
}
