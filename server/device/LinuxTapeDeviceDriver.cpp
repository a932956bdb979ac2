#include "LinuxTapeDeviceDriver.h"

#include "Clock.h"
#include "ScsiData.h"
#include "Timeouts.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

const int UNIT_READY_TRIES = 3;
const long BECOMING_READY_WAIT_SECONDS = 60;
const long BECOMING_READY_PAUSE_SECONDS = 1;
const int PARK_UNLOAD_TRIES = 6;
const int BLOCK_SIZE_TRIES = 10;
const int AUTOLOADER_TRIES = 7;

const int FIRMWARE_BLOCK = 8192;
// A save that fails sooner than this was refused by the drive; one that fails
// later most likely timed out because the drive reset into its new firmware.
const long SAVE_REFUSAL_WINDOW_SECONDS = 10;
const long RESET_WAIT_SECONDS = 180;
const long AUTOLOADER_RESET_WAIT_SECONDS = 600;
const long INQUIRY_POLL_PAUSE_SECONDS = 3;

const int INQUIRY_LENGTH = 36;
const int READ_POSITION_DATA = 20;
const int READ_POSITION_SCRATCH = 255;
const int MODE_SENSE_BLOCK_SIZE_LENGTH = 12;

// The key of this program's reservations: "td" and 48 bits of its own, so
// that taking over a reservation by its key never takes another program's.
const uint64_t RESERVATION_KEY_PREFIX = 0x7464000000000000ULL;
const uint64_t RESERVATION_KEY_OWN_BITS = 0x0000FFFFFFFFFFFFULL;

// A drive's answer that it was reset since the last command.
bool IsResetAnswer(const CScsiResult& result)
{
    return result.completed && result.status == CHECK_CONDITION_STATUS && IsResetSense(result.sense);
}

// A target's answer that the drive behind it went away under the command.
bool IsLostUnitAnswer(const CScsiResult& result)
{
    return result.completed && result.status == CHECK_CONDITION_STATUS && IsLostUnitSense(result.sense);
}

// Sense key, ASC and ASCQ as KK/AA/QQ.
std::string SenseCodeText(const unsigned char* sense)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X/%02X/%02X", sense[SENSE_KEY_BYTE] & 0x0F, sense[SENSE_ASC_BYTE],
                  sense[SENSE_ASCQ_BYTE]);
    return text;
}

unsigned char LowByte(long value)
{
    return static_cast<unsigned char>(value & 0xFF);
}

uint64_t NewReservationKey()
{
    std::random_device random;
    const uint64_t bits = (static_cast<uint64_t>(random()) << 32) | random();
    return RESERVATION_KEY_PREFIX | (bits & RESERVATION_KEY_OWN_BITS);
}

}  // namespace

CLinuxTapeDeviceDriver::CLinuxTapeDeviceDriver()
    : m_notice([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }),
      m_timeout(STANDING_TIMEOUT_SECONDS), m_transferred(0), m_completed(false), m_status(GOOD_STATUS),
      m_reservationKey(NewReservationKey())
{
    std::memset(m_sense, 0, sizeof(m_sense));
}

CLinuxTapeDeviceDriver::~CLinuxTapeDeviceDriver()
{}

int CLinuxTapeDeviceDriver::AttachDevice(std::unique_ptr<CPassThrough> device)
{
    if (!device)
        return -1;
    m_devices.push_back(CAttached{std::move(device), nullptr, 0, false});
    return static_cast<int>(m_devices.size() - 1);
}

void CLinuxTapeDeviceDriver::DetachDevice(int fd)
{
    if (Device(fd) != nullptr)
        m_devices[static_cast<size_t>(fd)].device.reset();
}

bool CLinuxTapeDeviceDriver::ReattachDevice(int fd, std::unique_ptr<CPassThrough> device)
{
    if (!device || fd < 0 || static_cast<size_t>(fd) >= m_devices.size() || Device(fd) != nullptr)
        return false;
    m_devices[static_cast<size_t>(fd)] = CAttached{std::move(device), nullptr, 0, false};
    return true;
}

bool CLinuxTapeDeviceDriver::HasDevice(int fd) const
{
    return Device(fd) != nullptr;
}

CPassThrough* CLinuxTapeDeviceDriver::Device(int fd) const
{
    if (fd < 0 || static_cast<size_t>(fd) >= m_devices.size())
        return nullptr;
    return m_devices[static_cast<size_t>(fd)].device.get();
}

CScsiResult CLinuxTapeDeviceDriver::Send(CPassThrough& device, const CScsiRequest& request)
{
    const CScsiResult result = device.Execute(request);
    if (IsResetAnswer(result) && IsRepeatableCommand(request.cdb, request.cdbLength))
        return device.Execute(request);
    return result;
}

void CLinuxTapeDeviceDriver::ReportOutcome(int fd, const CScsiRequest& request, const CScsiResult& result)
{
    CAttached& attached = m_devices[static_cast<size_t>(fd)];
    if (result.completed) {
        attached.reportedFailure = nullptr;
        if (result.status == GOOD_STATUS && (request.cdb[0] == OP_REWIND || request.cdb[0] == OP_LOAD_UNLOAD))
            attached.positionUnknown = false;
        else if (IsResetAnswer(result))
            SayPositionUnknown(attached, request, "the drive was reset (" + SenseCodeText(result.sense) + ")");
        else if (IsLostUnitAnswer(result))
            SayPositionUnknown(attached, request,
                               "the drive lost its logical unit (" + SenseCodeText(result.sense) + ")");
        return;
    }
    // The same reason once, until a command completes again.
    if (attached.reportedFailure != nullptr && std::strcmp(attached.reportedFailure, result.failure) == 0)
        return;
    attached.reportedFailure = result.failure;
    if (!result.lost || !SayPositionUnknown(attached, request, result.failure))
        m_notice("tapediag: " + attached.device->Name() + ": " + result.failure);
}

bool CLinuxTapeDeviceDriver::SayPositionUnknown(CAttached& attached, const CScsiRequest& request,
                                                const std::string& what)
{
    if (attached.positionUnknown)
        return false;
    attached.positionUnknown = true;
    const char* advice = IsRepeatableCommand(request.cdb, request.cdbLength) ? "run the command again"
                                                                             : "rewind the tape before the next test";
    m_notice("tapediag: " + attached.device->Name() + ": " + what + ": the tape position is unknown; " + advice);
    return true;
}

bool CLinuxTapeDeviceDriver::Issue(int fd, const unsigned char* cdb, int cdbLength, ScsiDirection direction,
                                   unsigned char* buffer, long length)
{
    std::memset(m_sense, 0, sizeof(m_sense));
    m_transferred = 0;
    m_completed = false;
    m_status = GOOD_STATUS;
    // A command with a time-out of its own leaves the standing one behind,
    // whatever was in force before it, on every path.
    const CCommandTimeout* own = FindCommandTimeout(cdb, cdbLength);
    const int timeout = own != nullptr ? own->seconds : m_timeout;
    if (own != nullptr)
        m_timeout = STANDING_TIMEOUT_SECONDS;
    CPassThrough* device = Device(fd);
    if (device == nullptr || cdb == nullptr || cdbLength <= 0)
        return false;
    if (length < 0 || length > INT_MAX || (length > 0 && buffer == nullptr))
        return false;
    if (direction == SCSI_DIR_NONE)
        length = 0;

    CScsiRequest request;
    request.cdb = cdb;
    request.cdbLength = cdbLength;
    request.direction = direction;
    request.data = length > 0 ? buffer : nullptr;
    request.dataLength = static_cast<int>(length);
    request.timeoutSeconds = timeout;
    const CScsiResult result = Send(*device, request);
    ReportOutcome(fd, request, result);
    m_completed = result.completed;
    m_status = result.completed ? result.status : GOOD_STATUS;
    m_transferred = result.completed ? std::min(std::max(result.transferred, 0), request.dataLength) : 0;

    int senseLength = std::min(std::max(result.senseLength, 0), SCSI_SENSE_LENGTH);
    std::memcpy(m_sense, result.sense, static_cast<size_t>(senseLength));
    if (!result.completed)
        return false;
    // The st driver and sg3_utils count a recovered error as done: the data
    // went where it should, and failing the test for it would blame a drive
    // for working.
    const bool good = result.status == GOOD_STATUS && m_sense[SENSE_KEY_BYTE] == 0;
    const bool recovered =
        (result.status == GOOD_STATUS || result.status == CHECK_CONDITION_STATUS) && IsRecoveredSense(m_sense);
    if (!good && !recovered)
        return false;
    std::memset(m_sense, 0, sizeof(m_sense));
    return true;
}

bool CLinuxTapeDeviceDriver::LastCommandWorthRepeating() const
{
    return !(m_completed && IsIllegalRequestSense(m_sense));
}

bool CLinuxTapeDeviceDriver::OpCmd(int fd, unsigned char* cdb, int cdbLength)
{
    return Issue(fd, cdb, cdbLength, SCSI_DIR_NONE, nullptr, 0);
}

bool CLinuxTapeDeviceDriver::GetDataCmd(int fd, unsigned char* cdb, int cdbLength, unsigned char* buffer, int length)
{
    return Issue(fd, cdb, cdbLength, SCSI_DIR_IN, buffer, length);
}

bool CLinuxTapeDeviceDriver::SendDataCmd(int fd, unsigned char* cdb, int cdbLength, unsigned char* buffer, int length)
{
    return Issue(fd, cdb, cdbLength, SCSI_DIR_OUT, buffer, length);
}

void CLinuxTapeDeviceDriver::GetSense(int, unsigned char* buffer, int length)
{
    if (buffer == nullptr || length <= 0)
        return;
    std::memcpy(buffer, m_sense, static_cast<size_t>(std::min(length, SCSI_SENSE_LENGTH)));
}

void CLinuxTapeDeviceDriver::SetDeviceTimeout(int, int seconds)
{
    m_timeout = seconds;
}

bool CLinuxTapeDeviceDriver::LoadTape(int fd, int retension)
{
    const unsigned char cdb[6] = {
        OP_LOAD_UNLOAD, 0x00, 0x00, 0x00, static_cast<unsigned char>(retension ? 0x03 : 0x01), 0x00};
    return Issue(fd, cdb, 6, SCSI_DIR_NONE, nullptr, 0);
}

bool CLinuxTapeDeviceDriver::UnloadTape(int fd)
{
    const unsigned char cdb[6] = {OP_LOAD_UNLOAD, 0x00, 0x00, 0x00, 0x00, 0x00};
    Issue(fd, cdb, 6, SCSI_DIR_NONE, nullptr, 0);
    return true;
}

long CLinuxTapeDeviceDriver::GetBlockSize(int fd)
{
    const unsigned char cdb[6] = {OP_MODE_SENSE6, 0x00, 0x00, 0x00, MODE_SENSE_BLOCK_SIZE_LENGTH, 0x00};
    unsigned char data[MODE_SENSE_BLOCK_SIZE_LENGTH];
    // A drive that is still settling after a load may refuse MODE SENSE for a
    // moment; ten tries ride that out without hanging on a drive that never
    // answers, and variable mode is what every drive can fall back to.
    const bool answered = RetryCommand(CRetryPolicy{BLOCK_SIZE_TRIES, 0, false}, [&] {
        std::memset(data, 0, sizeof(data));
        return Issue(fd, cdb, 6, SCSI_DIR_IN, data, sizeof(data));
    });
    return answered ? static_cast<long>(GetBig24(data + 9)) : 0;
}

bool CLinuxTapeDeviceDriver::WriteFileMarks(int fd)
{
    const unsigned char cdb[6] = {OP_WRITE_FILEMARKS6, 0x00, 0x00, 0x00, 0x01, 0x00};
    return Issue(fd, cdb, 6, SCSI_DIR_NONE, nullptr, 0);
}

bool CLinuxTapeDeviceDriver::Rewind(int fd)
{
    const unsigned char cdb[6] = {OP_REWIND, 0x00, 0x00, 0x00, 0x00, 0x00};
    return Issue(fd, cdb, 6, SCSI_DIR_NONE, nullptr, 0);
}

bool CLinuxTapeDeviceDriver::TestForUnitReady(int fd)
{
    const unsigned char cdb[6] = {OP_TEST_UNIT_READY, 0x00, 0x00, 0x00, 0x00, 0x00};
    const auto ready = [&] { return Issue(fd, cdb, 6, SCSI_DIR_NONE, nullptr, 0); };
    const auto becomingReady = [&] { return m_completed && IsBecomingReadySense(m_sense); };
    CClock& clock = CClock::Get();
    const long asked = clock.Now();
    bool isReady = RetryCommand(CRetryPolicy{UNIT_READY_TRIES, 0, false}, ready);
    if (Device(fd) == nullptr)
        return isReady;
    // A drive loading a cartridge or starting up is ready within its own
    // time: failing it for that would blame a drive for working. The minute
    // runs from its first such answer, whichever check got it.
    long& since = m_devices[static_cast<size_t>(fd)].becomingReadySince;
    if (!isReady && becomingReady()) {
        since = since != 0 ? since : asked;
        const CRetryPolicy untilMinuteIsUp{0, BECOMING_READY_PAUSE_SECONDS, false, since + BECOMING_READY_WAIT_SECONDS};
        if (clock.Now() < untilMinuteIsUp.until) {
            clock.Sleep(BECOMING_READY_PAUSE_SECONDS);
            isReady = Retry(untilMinuteIsUp, ready, becomingReady);
        }
    }
    if (!becomingReady())
        since = 0;
    return isReady;
}

bool CLinuxTapeDeviceDriver::WriteDataToDrive(int fd, long blockSize, unsigned char* buffer, long length)
{
    unsigned char cdb[6] = {OP_WRITE6, static_cast<unsigned char>(blockSize != 0 ? 0x01 : 0x00), 0x00, 0x00, 0x00,
                            0x00};
    PutBig24(cdb + 2, static_cast<uint32_t>(blockSize != 0 ? length / blockSize : length));
    return Issue(fd, cdb, 6, SCSI_DIR_OUT, buffer, length);
}

bool CLinuxTapeDeviceDriver::ReadDataFromDrive(int fd, long blockSize, unsigned char* buffer, long length)
{
    unsigned char cdb[6] = {OP_READ6, static_cast<unsigned char>(blockSize != 0 ? 0x01 : 0x00), 0x00, 0x00, 0x00, 0x00};
    PutBig24(cdb + 2, static_cast<uint32_t>(blockSize != 0 ? length / blockSize : length));
    return Issue(fd, cdb, 6, SCSI_DIR_IN, buffer, length);
}

bool CLinuxTapeDeviceDriver::ReadPosition(int fd)
{
    // Short form: 20 bytes of position data.
    const unsigned char cdb[10] = {OP_READ_POSITION, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    unsigned char scratch[READ_POSITION_SCRATCH] = {};
    return Issue(fd, cdb, 10, SCSI_DIR_IN, scratch, READ_POSITION_DATA);
}

bool CLinuxTapeDeviceDriver::DriveInquiry(int fd, unsigned char* buffer, int length)
{
    const unsigned char cdb[6] = {OP_INQUIRY, 0x00, 0x00, 0x00, INQUIRY_LENGTH, 0x00};
    return Issue(fd, cdb, 6, SCSI_DIR_IN, buffer, length);
}

bool CLinuxTapeDeviceDriver::ExtendedDriveInquiry(int fd, int page, unsigned char* buffer, int length)
{
    const unsigned char cdb[6] = {OP_INQUIRY, 0x01, LowByte(page), 0x00, LowByte(length), 0x00};
    return Issue(fd, cdb, 6, SCSI_DIR_IN, buffer, length);
}

bool CLinuxTapeDeviceDriver::ModeSensePage(int fd, int page, unsigned char* buffer, int length)
{
    const unsigned char cdb[6] = {OP_MODE_SENSE6, 0x08, LowByte(page), 0x00, LowByte(length), 0x00};
    return Issue(fd, cdb, 6, SCSI_DIR_IN, buffer, length);
}

bool CLinuxTapeDeviceDriver::ModeSelectPage(int fd, int parameterLength, unsigned char* buffer, int length)
{
    const unsigned char cdb[6] = {OP_MODE_SELECT6, 0x10, 0x00, 0x00, LowByte(parameterLength), 0x00};
    return Issue(fd, cdb, 6, SCSI_DIR_OUT, buffer, length);
}

bool CLinuxTapeDeviceDriver::LogSense(int fd, unsigned char* buffer, int length, int page)
{
    const unsigned char cdb[10] = {
        OP_LOG_SENSE, 0x00, LowByte(0x40 | page), 0x00, 0x00, 0x00, 0x00, LowByte(length >> 8), LowByte(length), 0x00};
    return Issue(fd, cdb, 10, SCSI_DIR_IN, buffer, length);
}

bool CLinuxTapeDeviceDriver::LogSelectReset(int fd)
{
    const unsigned char cdb[10] = {OP_LOG_SELECT, 0x02, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    return Issue(fd, cdb, 10, SCSI_DIR_NONE, nullptr, 0);
}

bool CLinuxTapeDeviceDriver::FastFwdToEOD(int fd)
{
    const unsigned char cdb[6] = {OP_SPACE6, 0x03, 0x00, 0x00, 0x00, 0x00};
    return Issue(fd, cdb, 6, SCSI_DIR_NONE, nullptr, 0);
}

bool CLinuxTapeDeviceDriver::SendDiagnostic(int fd)
{
    const unsigned char cdb[6] = {OP_SEND_DIAGNOSTIC, 0x04, 0x00, 0x00, 0x00, 0x00};
    return Issue(fd, cdb, 6, SCSI_DIR_NONE, nullptr, 0);
}

bool CLinuxTapeDeviceDriver::RequestSense(int fd, unsigned char* buffer, int length)
{
    const unsigned char cdb[6] = {OP_REQUEST_SENSE, 0x00, 0x00, 0x00, 0x24, 0x00};
    return Issue(fd, cdb, 6, SCSI_DIR_IN, buffer, length);
}

bool CLinuxTapeDeviceDriver::ParkDriveArm(int fd, bool park)
{
    const unsigned char unload[6] = {OP_LOAD_UNLOAD, 0x00, 0x00, 0x00, 0x00, 0x00};
    const bool unloaded = RetryCommand(CRetryPolicy{PARK_UNLOAD_TRIES, 0, false},
                                       [&] { return Issue(fd, unload, 6, SCSI_DIR_NONE, nullptr, 0); });
    if (!unloaded)
        return false;

    // The unit-ready test is asked only for its sense data: it names the
    // states in which the arm must not be moved.
    TestForUnitReady(fd);
    if (IsMediaPresentSense(m_sense))
        return false;

    const unsigned char parkCdb[6] = {OP_PARK_ARM, 0x00, 0x00, 0x00, static_cast<unsigned char>(park ? 0x01 : 0x00),
                                      0x00};
    return Issue(fd, parkCdb, 6, SCSI_DIR_NONE, nullptr, 0);
}

bool CLinuxTapeDeviceDriver::DownloadFirmware(int fd, unsigned char* image, int length, int offset2, int offset1,
                                              int offset0)
{
    // Only whole blocks that end within the 24-bit buffer offset can arrive
    // whole: a tail left behind, or blocks wrapped over the image's start,
    // would have the drive save a cut image.
    const uint32_t base = (uint32_t(LowByte(offset2)) << 16) | (uint32_t(LowByte(offset1)) << 8) | LowByte(offset0);
    if (image == nullptr || length < FIRMWARE_BLOCK || length % FIRMWARE_BLOCK != 0 ||
        !FitsBufferOffset(base, static_cast<uint64_t>(length))) {
        std::memset(m_sense, 0, sizeof(m_sense));
        return false;
    }

    // Issued for its effect on the drive ahead of the download; whether it
    // succeeds does not matter.
    ReadPosition(fd);

    // clang-format off
    unsigned char cdb[10] = {OP_WRITE_BUFFER, WRITE_BUFFER_DOWNLOAD_MICROCODE, 0x00,
                             LowByte(offset2), LowByte(offset1), LowByte(offset0), 0x00, 0x20, 0x00, 0x00};
    // clang-format on
    // Block 0 goes out once ahead of the loop and again as the loop's first
    // block: that is the sequence the drives are known to accept. The loop
    // sends it again at the same offset, so the first answer does not matter.
    Issue(fd, cdb, 10, SCSI_DIR_OUT, image, FIRMWARE_BLOCK);
    const int blocks = length / FIRMWARE_BLOCK;
    for (int block = 0; block < blocks; ++block) {
        if (!SendFirmwareBlock(fd, cdb, image + static_cast<long>(block) * FIRMWARE_BLOCK, block))
            return false;
        IncrementBy8K(cdb[3], cdb[4], cdb[5]);
    }

    cdb[1] = WRITE_BUFFER_DOWNLOAD_AND_SAVE;
    cdb[6] = cdb[7] = cdb[8] = 0x00;
    if (offset2 == 0)
        cdb[3] = cdb[4] = cdb[5] = 0x00;

    // The drive restarts into the new firmware: its reset is what the
    // caller waits for, with no cartridge left to lose a position on.
    if (Device(fd) != nullptr)
        m_devices[static_cast<size_t>(fd)].positionUnknown = true;
    CClock& clock = CClock::Get();
    long deadline = clock.Now() + SAVE_REFUSAL_WINDOW_SECONDS;
    if (Issue(fd, cdb, 10, SCSI_DIR_NONE, nullptr, 0))
        return true;
    // A drive that restarts into its new firmware may end the save with a
    // reset, or drop its node or its session under it: the caller waits for
    // it to come back and checks the level it then reports.
    if (!m_completed || IsResetSense(m_sense))
        return true;
    if (offset2 == 0 || clock.Now() <= deadline)
        return false;

    // The drive went away while saving: it is restarting with the new
    // firmware. It counts as a success once it answers INQUIRY again.
    clock.Sleep(INQUIRY_POLL_PAUSE_SECONDS);
    deadline += IsAutoLoaderConfiguration(fd) ? AUTOLOADER_RESET_WAIT_SECONDS : RESET_WAIT_SECONDS;
    unsigned char inquiry[INQUIRY_LENGTH];
    while (true) {
        std::memset(inquiry, 0, sizeof(inquiry));
        if (DriveInquiry(fd, inquiry, INQUIRY_LENGTH))
            return true;
        if (clock.Now() > deadline)
            return false;
        clock.Sleep(INQUIRY_POLL_PAUSE_SECONDS);
    }
}

bool CLinuxTapeDeviceDriver::SendFirmwareBlock(int fd, const unsigned char* cdb, unsigned char* data, int block)
{
    if (!Issue(fd, cdb, 10, SCSI_DIR_OUT, data, FIRMWARE_BLOCK))
        return false;
    if (m_transferred == FIRMWARE_BLOCK)
        return true;
    // The drive answered GOOD but took less than the block: what it saves
    // would not be the image.
    m_notice("tapediag: " + Device(fd)->Name() + ": firmware block " + std::to_string(block) + " arrived short (" +
             std::to_string(m_transferred) + " of " + std::to_string(FIRMWARE_BLOCK) + " bytes)");
    return false;
}

bool CLinuxTapeDeviceDriver::ReserveDrive(int fd)
{
    CPassThrough* device = Device(fd);
    if (device == nullptr || !device->TakesReservations())
        return true;
    if (!PersistentReserveOut(fd, PR_OUT_REGISTER_AND_IGNORE_EXISTING_KEY, 0, m_reservationKey)) {
        const bool unknown = m_completed && m_status == CHECK_CONDITION_STATUS && IsIllegalRequestSense(m_sense) &&
                             (m_sense[SENSE_ASC_BYTE] == ASC_INVALID_OPCODE.asc ||
                              m_sense[SENSE_ASC_BYTE] == ASC_INVALID_FIELD_IN_CDB.asc);
        if (!unknown)
            return false;
        m_notice("tapediag: " + device->Name() +
                 ": the target takes no persistent reservations: other hosts are not kept off the drive");
        return true;
    }
    return PersistentReserveOut(fd, PR_OUT_RESERVE, m_reservationKey, 0);
}

void CLinuxTapeDeviceDriver::ReleaseDrive(int fd)
{
    CPassThrough* device = Device(fd);
    if (device == nullptr || !device->TakesReservations())
        return;
    if (!PersistentReserveOut(fd, PR_OUT_RELEASE, m_reservationKey, 0)) {
        // A target that cannot be reached keeps nothing to release.
        if (!m_completed)
            return;
        // A target that counts a new session as another initiator keeps the
        // reservation of the lost one: this program's key takes it over.
        if (m_status == RESERVATION_CONFLICT_STATUS &&
            PersistentReserveOut(fd, PR_OUT_REGISTER_AND_IGNORE_EXISTING_KEY, 0, m_reservationKey))
            PersistentReserveOut(fd, PR_OUT_PREEMPT, m_reservationKey, m_reservationKey);
    }
    // Removing the key releases a reservation still held with it.
    PersistentReserveOut(fd, PR_OUT_REGISTER_AND_IGNORE_EXISTING_KEY, 0, 0);
}

bool CLinuxTapeDeviceDriver::PersistentReserveOut(int fd, unsigned char action, uint64_t key, uint64_t actionKey)
{
    unsigned char cdb[10] = {OP_PERSISTENT_RESERVE_OUT, action, PR_TYPE_EXCLUSIVE_ACCESS, 0, 0, 0, 0, 0, 0, 0};
    PutBig32(cdb + 5, PR_OUT_PARAMETER_LIST_LENGTH);
    unsigned char list[PR_OUT_PARAMETER_LIST_LENGTH] = {};
    PutBig64(list, key);
    PutBig64(list + 8, actionKey);
    return Issue(fd, cdb, 10, SCSI_DIR_OUT, list, sizeof list);
}

bool CLinuxTapeDeviceDriver::IsAutoLoaderConfiguration(int fd)
{
    unsigned char data[INQUIRY_LENGTH] = {};
    const bool answered = RetryCommand(CRetryPolicy{AUTOLOADER_TRIES, 0, false},
                                       [&] { return ModeSensePage(fd, MODE_PAGE_ALL, data, sizeof(data)); });
    return answered && DoesPageExist(MODE_PAGE_ELEMENT_ADDRESS, data, sizeof(data));
}

bool CLinuxTapeDeviceDriver::DoesPageExist(int page, const unsigned char* buffer, int length)
{
    return ::DoesPageExist(page, buffer, length);
}

void CLinuxTapeDeviceDriver::IncrementBy8K(unsigned char& b2, unsigned char& b1, unsigned char& b0)
{
    AddTo24(b2, b1, b0, FIRMWARE_BLOCK);
}
