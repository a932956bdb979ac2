// The read/write test, the compression test and the compression commands.
// Both tests write a known pattern, write a file mark, rewind, read it all
// back and compare it, then let the drive's error counters judge the drive.
#include <cstring>
#include <memory>

#include "DriveManager.h"
#include "MessageQueue.h"
#include "ProgressDisplay.h"
#include "Retry.h"
#include "ScsiData.h"
#include "TapeErrorHandler.h"

namespace {

const int LOG_PAGE_LENGTH = 4096;
const int MODE_STATUS_LENGTH = 255;
const int MODE_SELECT_LENGTH = 36;
const int COMPRESSION_READ_ATTEMPTS = 6;
const unsigned char DCE_BIT = 0x80;

// Catalogue text, the size in the given format, catalogue text: one line.
CVString SizeLine(CatalogueId before, const char* format, unsigned long megabytes, CatalogueId after)
{
    CVString line = CatalogueText(before);
    CVString size;
    size.Format(format, megabytes);
    line += size;
    line += CatalogueText(after);
    return line;
}

}  // namespace

// What sets the compression test apart from the read/write test.
struct CDriveManager::TapeTest {
    bool compressionTest;
    unsigned long defaultMegabytes;  // used when the size given is below 5
    int passMessage;
};

bool CDriveManager::ReadWriteTest()
{
    const TapeTest test = {false, 200, 26};
    return RunTapeTest(test);
}

bool CDriveManager::TestCompression()
{
    const TapeTest test = {true, 500, 42};
    return RunTapeTest(test);
}

bool CDriveManager::RunTapeTest(const TapeTest& test)
{
    CCommandContext* app = m_application;
    CDriverInterface* device = m_driverInterface;
    unsigned long megabytes = static_cast<unsigned long>(app->GetMegaBytesSet());
    if (megabytes < 5)
        megabytes = test.defaultMegabytes;
    CTapeDrive* drive = app->GetCurrentDriveSelected();

    device->TestForUnitReady(drive);
    if (test.compressionTest) {
        OpenCommand(drive, CAT_ISSUED_TEST_COMPRESSION);
        app->Msg(CAT_EXAMINING_COMPRESSION, true);
        if (!drive->CompressionAvail())
            return Refuse("Drive compression not available with this drive type.");
        if (!IsCompressionOn(drive))
            return Refuse("Unable to begin the test; drive compression is turned off.");
    } else {
        OpenCommand(drive, CAT_ISSUED_TEST_READ_WRITE);
    }
    // The test overwrites the cartridge: no other host may use the drive
    // meanwhile.
    const CDriveReservation reservation(*this, drive);
    if (!reservation.Held())
        return false;
    app->Msg(CAT_ISSUED_TEST_UNIT_READY, true);

    if (!device->TestForUnitReady(drive))
        return ExplainNotReady(drive);
    if (IsTapeWriteProtected(drive))
        return Refuse(CAT_CHECK_WRITE_PROTECTION);
    if (!IsCorrectTapeType(drive))
        return Refuse(CAT_TAPE_NOT_COMPATIBLE);

    // A retension is asked for with -fr and silently skipped by a drive that cannot do it.
    bool retension = drive->IsRetensionable() && app->IsRetensionChecked();
    app->Msg(retension ? CAT_ISSUED_LOAD_WITH_RETENSION : CAT_ISSUED_LOAD, true);
    if (!device->LoadTape(drive, retension))
        return SenseReport(drive, CAT_FAILURE_LOAD);
    device->TestForUnitReady(drive);
    device->ReadPosition(drive);
    // The counters read after the test start from here.
    if (!device->LogSelectReset(drive))
        return SenseReport(drive, CAT_FAILURE_LOG_SELECT_RESET);

    const unsigned long blocks = megabytes * TAPE_TEST_BLOCKS_PER_MEGABYTE;
    const unsigned long long phaseBytes = static_cast<unsigned long long>(blocks) * TEST_BLOCK_SIZE;
    device->ReadPosition(drive);
    std::unique_ptr<unsigned char[]> block(new unsigned char[TEST_BLOCK_SIZE]);
    long blockSize = 0;
    bool compressionWasOn = false;
    if (test.compressionTest) {
        FillBuffer(block.get(), TEST_BLOCK_SIZE);
        SendMsgWriteBegins(megabytes);
        device->TestForUnitReady(drive);
        blockSize = device->GetBlockSize(drive);
    } else {
        // The read/write test writes with the drive's compression off.
        if (IsCompressionOn(drive)) {
            compressionWasOn = true;
            if (!TurnCompressionOff(drive))
                return false;
        }
        device->ReadPosition(drive);
        blockSize = device->GetBlockSize(drive);
        FillBuffer(block.get(), TEST_BLOCK_SIZE);
        SendMsgWriteBegins(megabytes);
        device->TestForUnitReady(drive);
    }
    const unsigned long progressInterval = blocks / TAPE_TEST_PROGRESS_STEPS;

    for (unsigned long i = 0; i < blocks; ++i) {
        if (!device->WriteDataToDrive(drive, blockSize, block.get(), TEST_BLOCK_SIZE))
            return SenseReport(drive, CAT_FAILURE_WRITE_DATA);
        if (m_clientServer && i % progressInterval == 0)
            app->Msg(CVString(MSG_MOVE_WRITE_PROGRESS_BAR), true);
        app->TestProgress(TEST_PHASE_WRITE, (i + 1ULL) * TEST_BLOCK_SIZE, phaseBytes);
    }
    app->Msg(CAT_WRITE_COMPLETE, true);
    if (!device->ReadPosition(drive))
        return SenseReport(drive, CAT_FAILURE_READ_POSITION);
    app->Msg(CAT_ISSUED_WRITE_FILEMARKS, true);
    if (!device->WriteFileMarks(drive))
        return SenseReport(drive, CAT_FAILURE_WRITE_FILEMARKS);
    if (!device->ReadPosition(drive))
        return SenseReport(drive, CAT_FAILURE_READ_POSITION);
    app->Msg(CAT_ISSUED_REWIND, true);
    if (!device->Rewind(drive))
        return SenseReport(drive, CAT_FAILURE_REWIND);

    ClearBuffer(block.get(), TEST_BLOCK_SIZE);
    if (!device->ReadPosition(drive))
        return SenseReport(drive, CAT_FAILURE_READ_POSITION);
    SendMsgReadBegins(megabytes);
    device->TestForUnitReady(drive);
    for (unsigned long i = 0; i < blocks; ++i) {
        if (!device->ReadDataFromDrive(drive, blockSize, block.get(), TEST_BLOCK_SIZE))
            return SenseReport(drive, CAT_FAILURE_READ_DATA);
        if (m_clientServer && i % progressInterval == 0)
            app->Msg(CVString(MSG_MOVE_READ_PROGRESS_BAR), true);
        if (!CheckBuffer(block.get(), TEST_BLOCK_SIZE)) {
            app->Msg(CAT_READ_COMPARE_FAILED, true);
            Separator();
            return false;
        }
        ClearBuffer(block.get(), TEST_BLOCK_SIZE);
        app->TestProgress(TEST_PHASE_READ, (i + 1ULL) * TEST_BLOCK_SIZE, phaseBytes);
    }

    std::unique_ptr<unsigned char[]> writePage(new unsigned char[LOG_PAGE_LENGTH]());
    std::unique_ptr<unsigned char[]> readPage(new unsigned char[LOG_PAGE_LENGTH]());
    CVString writeSense;
    CVString readSense;
    const CCounterPage writeCounters = ReadCounterPage(drive, LOG_PAGE_WRITE_ERRORS, writePage.get(), writeSense);
    const CCounterPage readCounters = ReadCounterPage(drive, LOG_PAGE_READ_ERRORS, readPage.get(), readSense);
    CTapeErrorHandler errorHandler(this);
    errorHandler.InitErrorHandler(drive->DriveType(), static_cast<long>(megabytes));
    const ECounterVerdict verdict = errorHandler.Judge(drive, writeCounters, readCounters);
    if (verdict == WRITE_COUNTERS_UNREADABLE || verdict == READ_COUNTERS_UNREADABLE) {
        Line("Failure: The drive's error counters could not be read.");
        m_application->Msg(verdict == WRITE_COUNTERS_UNREADABLE ? writeSense : readSense, true);
        Separator();
        return false;
    }
    const bool pass = verdict == COUNTERS_PASS;
    if (pass) {
        app->Msg(test.passMessage, true);
    } else {
        app->Msg(CAT_TEST_FAILED_EXCESSIVE_ERRORS, true);
        app->Msg(CAT_RETRY_OTHER_TAPE_OR_CLEAN, true);
    }

    // A drive with too many errors failed the test: the result says so too,
    // once the tape is rewound.
    app->Msg(CAT_ISSUED_FINAL_REWIND, true);
    if (!device->Rewind(drive))
        return SenseReport(drive, CAT_FAILURE_REWIND);
    if (compressionWasOn)
        EnableCompression(drive, true);
    if (!device->ReadPosition(drive))
        return SenseReport(drive, CAT_FAILURE_READ_POSITION);
    Separator();
    return pass;
}

CCounterPage CDriveManager::ReadCounterPage(CTapeDrive* drive, int page, unsigned char* buffer, CVString& sense)
{
    const bool read = m_driverInterface->LogSense(drive, buffer, LOG_PAGE_LENGTH, page);
    sense = RetrieveAndFormatSenseMsg(drive);
    return CCounterPage{buffer, read ? m_driverInterface->GetTransferLength(drive) : 0};
}

void CDriveManager::FillBuffer(unsigned char* buffer, int length)
{
    for (int i = 0; i < length; ++i)
        buffer[i] = static_cast<unsigned char>(i);
}

void CDriveManager::ClearBuffer(unsigned char* buffer, int length)
{
    if (length > 0)
        std::memset(buffer, 0, length);
}

bool CDriveManager::CheckBuffer(const unsigned char* buffer, int length)
{
    static unsigned char pattern[256];
    static const bool patternReady = (FillBuffer(pattern, sizeof pattern), true);
    (void)patternReady;
    for (int offset = 0; offset < length; offset += sizeof pattern) {
        int chunk = length - offset < static_cast<int>(sizeof pattern) ? length - offset : sizeof pattern;
        if (std::memcmp(buffer + offset, pattern, chunk) != 0)
            return false;
    }
    return true;
}

void CDriveManager::SendMsgWriteBegins(unsigned long megabytes)
{
    m_application->Msg(SizeLine(CAT_ISSUED_WRITE, "%lu ", megabytes, CAT_MB_TO_TAPE), true);
}

void CDriveManager::SendMsgReadBegins(unsigned long megabytes)
{
    m_application->Msg(SizeLine(CAT_ISSUED_READ_AND_COMPARE, " %lu ", megabytes, CAT_MB_FROM_TAPE), true);
}

bool CDriveManager::IsTapeWriteProtected(CTapeDrive* drive)
{
    unsigned char modeData[MODE_STATUS_LENGTH] = {};
    // The bit is read whatever the command reported: a zeroed header reads as not protected.
    m_driverInterface->ModeSensePage(drive, MODE_PAGE_VENDOR, modeData, MODE_STATUS_LENGTH);
    return (modeData[2] & 0x80) != 0;
}

bool CDriveManager::IsCorrectTapeType(CTapeDrive* drive)
{
    if (!IsTravanTypeDrive(drive))
        return true;
    bool writeProtected = IsTapeWriteProtected(drive);
    unsigned char modeData[MODE_STATUS_LENGTH] = {};
    m_driverInterface->ModeSensePage(drive, MODE_PAGE_CAPABILITIES, modeData, MODE_STATUS_LENGTH);
    return writeProtected || (modeData[8] & 0x01) == 0;
}

bool CDriveManager::IsCompressionOn(CTapeDrive* drive)
{
    if (!drive->CompressionAvail())
        return false;
    bool on = false;
    if (ReadCompression(drive, on))
        return on;
    Line("Cmd: \"IsCompressionOn\" failed execution.");
    return false;
}

bool CDriveManager::ReadCompression(CTapeDrive* drive, bool& on)
{
    unsigned char modeData[MODE_STATUS_LENGTH] = {};
    const bool read = RetryCommand(drive, CRetryPolicy{COMPRESSION_READ_ATTEMPTS, 0, false}, [&] {
        std::memset(modeData, 0, sizeof modeData);
        return m_driverInterface->ModeSensePage(drive, MODE_PAGE_COMPRESSION, modeData, MODE_STATUS_LENGTH);
    });
    on = (modeData[6] & DCE_BIT) != 0;
    return read;
}

bool CDriveManager::TurnCompressionOff(CTapeDrive* drive)
{
    const bool selected = EnableCompression(drive, false);
    const CVString refusal = selected ? CVString() : RetrieveAndFormatSenseMsg(drive);
    // The drive's word for it: a drive may take the page and keep
    // compressing.
    bool on = true;
    const bool read = ReadCompression(drive, on);
    if (read && !on)
        return true;
    Line("Failure on: Disable Compression");
    if (!selected)
        m_application->Msg(refusal, true);
    else
        Line(read ? "Drive compression is still on." : "Drive compression status could not be read back.");
    Separator();
    return false;
}

bool CDriveManager::EnableCompression(CTapeDrive* drive, bool enable)
{
    if (!drive->CompressionAvail())
        return true;
    unsigned char modeData[MODE_SELECT_LENGTH] = {};
    if (!m_driverInterface->ModeSensePage(drive, MODE_PAGE_COMPRESSION, modeData, MODE_SELECT_LENGTH))
        return false;
    if (enable)
        modeData[6] |= DCE_BIT;
    else
        modeData[6] &= static_cast<unsigned char>(~DCE_BIT);
    const int listLength = ModeSelectList(modeData, m_driverInterface->GetTransferLength(drive));
    return listLength > 0 && m_driverInterface->ModeSelectPage(drive, listLength, modeData, listLength);
}

bool CDriveManager::AppLevelIsCompressionEnabled()
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    OpenCommand(drive, "Issued Cmd: Get Compression Status.");
    if (!drive->CompressionAvail()) {
        Line("Compression not available with this drive.");
        Separator();
        return true;
    }
    m_driverInterface->TestForUnitReady(drive);
    Line(IsCompressionOn(drive) ? "Compression currently enabled." : "Compression currently disabled.");
    Separator();
    return true;
}

bool CDriveManager::AppLevelEnableCompression(bool enable)
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    OpenCommand(drive);
    if (!drive->CompressionAvail()) {
        Line("Compression not available with this drive.");
        Separator();
        return false;
    }
    m_driverInterface->TestForUnitReady(drive);
    Line(enable ? "Issued cmd: Enable Compression." : "Issued cmd: Disable Compression.");
    bool done = EnableCompression(drive, enable);
    if (done)
        Line(enable ? "Compression enabled." : "Compression disabled.");
    else
        Line(enable ? "Compression enable cmd failed." : "Compression disable cmd failed.");
    Separator();
    return done;
}
