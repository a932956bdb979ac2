// The firmware upgrade: checks the image file against the drive, reads it
// whole, sends it with WRITE BUFFER, waits for the drive to come back and
// confirms the new level with a fresh INQUIRY.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
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
// The time the drive has for the download (a failure later than this is
// a time-out), and again to come back from its restart after the save.
const long STANDALONE_DEADLINE_SECONDS = 180;
const long AUTOLOADER_DEADLINE_SECONDS = 600;

const char* const NOT_SUPPORTED = "Firmware Upgrade not supported with this drive type.";
const char* const CANNOT_OPEN = "Unable to open firmware file.";

class CDescriptorCloser {
public:
    explicit CDescriptorCloser(int fd) : m_fd(fd) {}
    ~CDescriptorCloser() { ::close(m_fd); }
    CDescriptorCloser(const CDescriptorCloser&) = delete;
    CDescriptorCloser& operator=(const CDescriptorCloser&) = delete;

private:
    int m_fd;
};

// Reads `length` bytes into `data` and then finds the end of the file: a
// file that grew or shrank meanwhile (one still being copied) is no image.
// The reason when it is not exactly `length` bytes, empty when it is.
std::string ReadExactly(int fd, unsigned char* data, long length)
{
    long done = 0;
    unsigned char beyond;
    for (;;) {
        const bool within = done < length;
        const ssize_t count =
            ::read(fd, within ? data + done : &beyond, within ? static_cast<size_t>(length - done) : 1);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::strerror(errno);
        if (count == 0)
            return done == length ? "" : "the file changed while it was read";
        if (!within)
            return "the file changed while it was read";
        done += count;
    }
}

// Why `length` bytes cannot be an image for this drive type; empty when they can.
std::string LengthProblem(long length, int driveType)
{
    const std::string bytes = std::to_string(length) + " bytes";
    if (length == 0 || !IsWholeFirmwareLength(length))
        return bytes + ", not a whole number of " + std::to_string(FIRMWARE_FILE_BLOCK) + "-byte blocks";
    if (length > MaxFirmwareImageLength(driveType))
        return bytes + ", more than the " + std::to_string(MaxFirmwareImageLength(driveType)) +
               " this drive can take in one download";
    return "";
}

}  // namespace

// An image read whole from its file.
struct CFirmwareFileImage {
    std::unique_ptr<unsigned char[]> data;
    long length = 0;
};

bool CDriveManager::RefuseFile(const CVString& message, const CVString& name, const std::string& reason)
{
    m_application->Msg(message, true);
    m_application->FileProblem("firmware file", name, reason);
    Separator();
    return false;
}

bool CDriveManager::LoadFirmwareImage(const CVString& name, int driveType, CFirmwareFileImage& image)
{
    if (!FileExists(m_application->Files().Path(name)))
        return Refuse(CANNOT_OPEN);
    // Not blocking: a pipe named by mistake must not hang the command.
    const int fd = m_application->Files().Open(name, O_RDONLY | O_NONBLOCK, 0);
    if (fd < 0)
        return RefuseFile(CANNOT_OPEN, name, std::strerror(errno));
    CDescriptorCloser closer(fd);
    struct stat status;
    std::string problem;
    if (::fstat(fd, &status) != 0)
        problem = std::strerror(errno);
    else if (!S_ISREG(status.st_mode))
        problem = "not a regular file";
    else
        problem = LengthProblem(static_cast<long>(status.st_size), driveType);
    if (problem.empty()) {
        image.length = static_cast<long>(status.st_size);
        image.data.reset(new (std::nothrow) unsigned char[static_cast<size_t>(image.length)]);
        problem = image.data ? ReadExactly(fd, image.data.get(), image.length) : "not enough memory to hold it";
    }
    return problem.empty() || RefuseFile(CatalogueText(CAT_FIRMWARE_FILE_CORRUPTED), name, problem);
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

    // Every refusal comes before the cartridge is ejected: an upgrade that
    // cannot go ahead leaves the drive as it found it.
    CVString name;
    m_application->GetFileSelected(name);
    if (!ValidateFirmwareFile(name))
        return Refuse("The firmware file name appears invalid.");
    const bool ignore = m_application->IgnoreSwitchSet();
    if (!ignore && IsCurrentFWOEMSpecific() && !IsFWFileOEMSpecific(name))
        return Refuse("Unable to continue. OEM specific firmware required.");
    CFirmwareFileImage image;
    if (!LoadFirmwareImage(name, drive->DriveType(), image))
        return false;

    unsigned char inquiry[INQUIRY_LENGTH] = {};
    const bool answered = RetryCommand(drive, CRetryPolicy{INQUIRY_ATTEMPTS, 0, false}, [&] {
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

    EjectTape(drive);
    const long start = CClock::Get().Now();
    const long restartSeconds =
        IsAutoLoaderConfiguration(drive) ? AUTOLOADER_DEADLINE_SECONDS : STANDALONE_DEADLINE_SECONDS;
    const bool downloaded = DownloadFirmware(drive, image.data.get(), image.length);
    image.data.reset();
    if (!downloaded) {
        ReportFailedDownload(drive, start + restartSeconds);
        return false;
    }
    // The drive's time to come back counts from its restart, not from the
    // start of a download that may itself have taken minutes.
    return ConfirmNewFirmware(drive, name, identity, CClock::Get().Now() + restartSeconds);
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

bool CDriveManager::ConfirmNewFirmware(CTapeDrive* drive, const CVString& name, const CVString& identity, long deadline)
{
    SSleep(POST_UPGRADE_PAUSE_SECONDS);
    m_driverInterface->TestForUnitReady(drive);
    // A restarting drive may answer with a reset or not at all, or come
    // back on new nodes; a slow one needs more than the eleven tries.
    unsigned char inquiry[INQUIRY_LENGTH] = {};
    const CRetryPolicy untilBack{INQUIRY_ATTEMPTS, POST_UPGRADE_INQUIRY_PAUSE_SECONDS, true, deadline};
    const bool answered = Retry(untilBack, [&] {
        std::memset(inquiry, 0, sizeof inquiry);
        if (FWInquiry(drive, inquiry, INQUIRY_LENGTH))
            return true;
        ReopenLostDrive(drive);
        return false;
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
    if (!IsNewerFamilyDrive(drive->DriveType())) {
        Line(NOT_SUPPORTED);
        return false;
    }
    unsigned char offset[3];
    PutBig24(offset, FirmwareBufferOffset(drive->DriveType()));
    return m_driverInterface->DownloadFirmware(drive, image, static_cast<int>(length), offset[0], offset[1], offset[2]);
}

bool CDriveManager::IsAutoLoaderConfiguration(CTapeDrive* drive)
{
    return m_driverInterface->IsAutoLoaderConfiguration(drive);
}

bool CDriveManager::DoesPageExist(int page, unsigned char* data, int length)
{
    return ::DoesPageExist(page, data, length);
}
