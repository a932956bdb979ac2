// The firmware upgrade: checks the image file against the drive, reads it
// whole, sends it with WRITE BUFFER, waits for the drive to come back and
// confirms the new level with a fresh INQUIRY.
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <unistd.h>

#include "DriveManager.h"

#include "Clock.h"
#include "FirmwareRules.h"
#include "Retry.h"
#include "ScsiData.h"

namespace {

const int INQUIRY_LENGTH = 36;
const int INQUIRY_ATTEMPTS = 11;
const long POST_UPGRADE_PAUSE_SECONDS = 15;
const long POST_UPGRADE_INQUIRY_PAUSE_SECONDS = 2;
const long STANDALONE_DEADLINE_SECONDS = 180;
const long AUTOLOADER_DEADLINE_SECONDS = 600;
// A file named by mistake (a disk image, say) must not be read whole into
// memory: no drive of these families takes an image anywhere near this size.
const long MAX_FIRMWARE_IMAGE = 64L * 1024 * 1024;

const char* const NOT_SUPPORTED = "Firmware Upgrade not supported with this drive type.";
const char* const CANNOT_OPEN = "Unable to open firmware file.";

class CFileCloser {
public:
    explicit CFileCloser(std::FILE* file) : m_file(file) {}
    ~CFileCloser()
    {
        if (m_file != nullptr)
            std::fclose(m_file);
    }
    CFileCloser(const CFileCloser&) = delete;
    CFileCloser& operator=(const CFileCloser&) = delete;
    std::FILE* Get() const { return m_file; }

private:
    std::FILE* m_file;
};

// The whole blocks of the file, counted up to the first read that comes
// back short; `tooLarge` when there are more than the bound allows.
long WholeBlockBytes(std::FILE* file, bool& tooLarge)
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[FIRMWARE_FILE_BLOCK]);
    long bytes = 0;
    tooLarge = false;
    while (std::fread(block.get(), 1, FIRMWARE_FILE_BLOCK, file) == static_cast<size_t>(FIRMWARE_FILE_BLOCK)) {
        bytes += FIRMWARE_FILE_BLOCK;
        if (bytes > MAX_FIRMWARE_IMAGE) {
            tooLarge = true;
            break;
        }
    }
    return bytes;
}

}  // namespace

std::FILE* CDriveManager::OpenFirmwareFile(const CVString& name)
{
    const int fd = m_application->Files().Open(name, COMMAND_FILE_BINARY, O_RDONLY, 0);
    if (fd < 0)
        return nullptr;
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr)
        ::close(fd);
    return file;
}

bool CDriveManager::FirmwareUpgrade()
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    OpenCommand(drive, "Issued Cmd: Upgrade firmware.");
    if (!IsNewerFamilyDrive(drive->DriveType()))
        return Refuse(NOT_SUPPORTED);
    const CDriveReservation reservation(*this, drive);
    if (!reservation.Held())
        return false;

    CVString name;
    m_application->GetFileSelected(name);
    if (!ValidateFirmwareFile(name))
        return Refuse("The firmware file name appears invalid.");
    const bool ignore = m_application->IgnoreSwitchSet();
    if (!ignore && IsCurrentFWOEMSpecific() && !IsFWFileOEMSpecific(name))
        return Refuse("Unable to continue. OEM specific firmware required.");
    const CVString path = m_application->Files().Path(name, COMMAND_FILE_BINARY);
    if (!FileExists(path))
        return Refuse(CANNOT_OPEN);

    long imageSize = 0;
    bool tooLarge = false;
    {
        CFileCloser file(OpenFirmwareFile(name));
        if (file.Get() == nullptr)
            return Refuse(CANNOT_OPEN);
        EjectTape(drive);
        imageSize = WholeBlockBytes(file.Get(), tooLarge);
    }
    if (tooLarge)
        return Refuse(CAT_FIRMWARE_FILE_CORRUPTED);
    std::unique_ptr<unsigned char[]> image(new (std::nothrow) unsigned char[imageSize > 0 ? imageSize : 1]());
    if (!image)
        return Refuse(CAT_FIRMWARE_FILE_CORRUPTED);
    long obtained = 0;
    {
        CFileCloser file(OpenFirmwareFile(name));
        if (file.Get() == nullptr)
            return Refuse(CANNOT_OPEN);
        obtained = static_cast<long>(std::fread(image.get(), 1, static_cast<size_t>(imageSize), file.Get()));
    }
    // A file shorter than one block gives no image at all: nothing a drive
    // could take, so it is refused like any other bad length.
    if (!CheckFileLength(obtained) || obtained != imageSize || imageSize == 0)
        return Refuse(CAT_FIRMWARE_FILE_CORRUPTED);

    unsigned char inquiry[INQUIRY_LENGTH] = {};
    const bool answered = Retry(CRetryPolicy{INQUIRY_ATTEMPTS, 0, false}, [&] {
        std::memset(inquiry, 0, sizeof inquiry);
        return FWInquiry(drive, inquiry, INQUIRY_LENGTH);
    });
    if (!answered)
        return Refuse("Initial drive inquiry failed.");
    char identityBytes[INQUIRY_LENGTH - 8 + 1] = {};  // vendor, product and revision
    std::memcpy(identityBytes, inquiry + 8, INQUIRY_LENGTH - 8);
    const CVString identity(identityBytes);
    if (!CheckFwLevel(name) && !ignore)
        return Refuse("Current firmware level is newer or the same as the one to be installed.");

    const long start = CClock::Get().Now();
    const long deadline =
        start + (IsAutoLoaderConfiguration(drive) ? AUTOLOADER_DEADLINE_SECONDS : STANDALONE_DEADLINE_SECONDS);
    const bool downloaded = DownloadFirmware(drive, image.get(), imageSize);
    image.reset();
    if (!downloaded) {
        ReportFailedDownload(drive, deadline);
        return false;
    }
    return ConfirmNewFirmware(drive, name, identity);
}

void CDriveManager::ReportFailedDownload(CTapeDrive* drive, long deadline)
{
    if (CClock::Get().Now() <= deadline) {
        Line("The operation failed during the actual upgrade of firmware.");
        m_application->Msg(RetrieveAndFormatSenseMsg(drive), true);
        return;
    }
    Line("The firmware upgrade operation timed-out before completing.");
    if (drive->DriveType() == DRIVE_DAT_4) {
        Line("DDS3 drives that share a bus with a CDROM or Disk");
        Line("typically exhibit time-outs during firmware upgrade.");
        Line("The time-out is forced by one of the other devices.");
        Line("In most cases, the firmware upgrade is successful;");
        Line("however, the system usually requires a power-cycle.");
    }
}

bool CDriveManager::ConfirmNewFirmware(CTapeDrive* drive, const CVString& name, const CVString& identity)
{
    SSleep(POST_UPGRADE_PAUSE_SECONDS);
    m_driverInterface->TestForUnitReady(drive);
    unsigned char inquiry[INQUIRY_LENGTH] = {};
    const bool answered = Retry(CRetryPolicy{INQUIRY_ATTEMPTS, POST_UPGRADE_INQUIRY_PAUSE_SECONDS, true}, [&] {
        std::memset(inquiry, 0, sizeof inquiry);
        return FWInquiry(drive, inquiry, INQUIRY_LENGTH);
    });
    if (!answered) {
        m_application->Msg(CAT_POST_UPGRADE_INQUIRY_FAILED, true);
        return false;
    }
    char revisionBytes[5] = {};
    std::memcpy(revisionBytes, inquiry + 32, 4);
    const CVString revision(revisionBytes);
    if (!FirmwareMatches(name, revision)) {
        Line("Firmware upgrade failed installation.");
        return false;
    }
    // The new level, even should the vendor pages not answer now: the old
    // text would tell the user the upgrade did not happen.
    drive->FirmwareDescription(revision);
    SetExtendedFWVersionInfo(drive);
    if (m_application->OSType() == PLATFORM_KIND_REGISTRY)
        UpdateRegistry(identity);
    CVString installed;
    installed.LdString(CAT_FIRMWARE_VERSION);
    installed += " ";
    installed += revision;
    installed += " ";
    CVString suffix;
    suffix.LdString(CAT_INSTALLED);
    installed += suffix;
    m_application->Msg(installed, true);
    if (m_application->OSType() == PLATFORM_KIND_REBOOTS_AFTER_UPGRADE)
        Line("Windows 98 systems should be rebooted to ensure proper installation.");
    return true;
}

bool CDriveManager::ValidateFirmwareFile(CVString& name)
{
    const CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    return IsValidFirmwareFileName(name, drive->DriveType(), drive->FirmwareDescription());
}

bool CDriveManager::IsFWFileOEMSpecific(CVString& name)
{
    return IsOemFirmwareFileName(name);
}

bool CDriveManager::IsCurrentFWOEMSpecific()
{
    return IsOemFirmwareDescription(m_application->GetCurrentDriveSelected()->FirmwareDescription());
}

CVString CDriveManager::GetFwVersionFromFileName(CVString name)
{
    return FirmwareVersionFromFileName(name, m_application->GetCurrentDriveSelected()->DriveType());
}

bool CDriveManager::CheckFwLevel(CVString name)
{
    const CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    return MayInstallFirmwareLevel(name, drive->DriveType(), drive->FirmwareDescription(),
                                   m_application->IgnoreSwitchSet());
}

bool CDriveManager::FirmwareMatches(CVString name, CVString revision)
{
    return FirmwareRevisionMatches(name, m_application->GetCurrentDriveSelected()->DriveType(), revision);
}

bool CDriveManager::CheckFileLength(long length)
{
    return IsWholeFirmwareLength(length);
}

bool CDriveManager::DownloadFirmware(CTapeDrive* drive, unsigned char* image, long length)
{
    switch (drive->DriveType()) {
    case DRIVE_DAT_4:
        // This family takes its image at buffer offset 100000h.
        return m_driverInterface->DownloadFirmware(drive, image, static_cast<int>(length), 16, 0, 0);
    case DRIVE_DAT_5:
    case DRIVE_ULTRIUM:
        return m_driverInterface->DownloadFirmware(drive, image, static_cast<int>(length), 0, 0, 0);
    default:
        Line(NOT_SUPPORTED);
        return false;
    }
}

bool CDriveManager::IsAutoLoaderConfiguration(CTapeDrive* drive)
{
    return m_driverInterface->IsAutoLoaderConfiguration(drive);
}

bool CDriveManager::DoesPageExist(int page, unsigned char* data, int length)
{
    return ::DoesPageExist(page, data, length);
}
