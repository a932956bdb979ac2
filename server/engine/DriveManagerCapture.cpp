// Capture of the drive's trace buffer, the cartridge memory and the EEPROM
// into the -f: file. Everything is read before the file is written, so a
// failed read leaves no partial file.
#include <cstring>
#include <memory>
#include <new>

#include "DriveManager.h"
#include "Retry.h"
#include "ScsiData.h"

namespace {

const long TRACE_BLOCK = 16384;
const int READ_BUFFER_ATTEMPTS = 10;
const int TRACE_LENGTH_OFFSET = 84;  // least significant byte first
// The blocks a 24-bit buffer offset reaches (16 MiB). A longer trace cannot
// be read whole: its offsets would wrap and read the start again.
const long MAX_TRACE_BLOCKS = 1024;

// Blocks of `blockSize` bytes that hold `total` bytes, the last one partly.
long BlocksFor(long total, long blockSize)
{
    return total / blockSize + (total % blockSize != 0 ? 1 : 0);
}

}  // namespace

// What GetCm and GetEEPROM share: the buffer, its READ BUFFER command and
// their texts.
struct CBufferCapture {
    const char* issued;
    unsigned char bufferId;
    int length;
    const char* unreadable;
    const char* retrieved;
};

const CBufferCapture cartridgeMemory = {"Issued Cmd: Get Cartridge Memory data.", BUFFER_CARTRIDGE_MEMORY, 4096,
                                        "Unable to read cartridge memory.",
                                        "Cartridge Memory data successfully retrieved."};
const CBufferCapture eeprom = {"Issued Cmd: Get EEPROM data.", BUFFER_EEPROM, 8192, "Unable to read eeprom.",
                               "EEPROM data successfully retrieved."};

bool CDriveManager::CaptureTrace()
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    OpenCommand(drive, CAT_ISSUED_RETRIEVE_TRACE);
    bool read = false;
    if (drive->DriveType() == DRIVE_ULTRIUM) {
        if (!IsSegmentTraceCapable())
            return Refuse("Trace information not available with this Firmware Version.");
        read = CDriveManager::PrintTrace();
    } else if (drive->DriveType() == DRIVE_DAT_5) {
        read = PrintTrace();
    } else {
        return Refuse("Trace information not supported with this drive type.");
    }
    if (!read)
        return Refuse("Trace cmd failed to get data.");
    Line("Trace completed, binary file created.");
    Separator();
    return true;
}

bool CDriveManager::IsSegmentTraceCapable()
{
    // Characters 1 to 3 of the firmware text, as far as they are digits.
    const CVString level = CVString(m_application->GetCurrentDriveSelected()->FirmwareDescription()).Mid(1, 3);
    int number = 0;
    for (int i = 0; i < level.GetLength() && level[i] >= '0' && level[i] <= '9'; ++i)
        number = number * 10 + (level[i] - '0');
    return number >= 128;
}

long CDriveManager::TotalTraceBufferReads(long blockSize)
{
    long total = 0;
    if (!ReadTraceLength(total) || blockSize <= 0)
        return 0;
    return BlocksFor(total, blockSize);
}

bool CDriveManager::ReadTraceLength(long& total)
{
    unsigned char cdb[10] = {OP_READ_BUFFER, 0x04, BUFFER_TRACE, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00};
    std::unique_ptr<unsigned char[]> answer(new unsigned char[TRACE_BLOCK]);
    const bool read = ReadDriveBuffer(cdb, answer.get(), TRACE_BLOCK);
    if (read)
        total = static_cast<long>(GetLittle32(answer.get() + TRACE_LENGTH_OFFSET));
    return read;
}

bool CDriveManager::PrintTrace()
{
    // A size query that never succeeded is a failed capture, not an empty
    // trace: no file is written for it.
    long total = 0;
    if (!ReadTraceLength(total))
        return false;
    const long blocks = BlocksFor(total, TRACE_BLOCK);
    if (blocks > MAX_TRACE_BLOCKS)
        return false;
    std::unique_ptr<unsigned char[]> area(new (std::nothrow) unsigned char[(blocks > 0 ? blocks : 1) * TRACE_BLOCK]());
    if (!area)
        return false;
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    unsigned char cdb[10] = {OP_READ_BUFFER, 0x04, BUFFER_TRACE, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00};
    for (long block = 0; block < blocks; ++block) {
        if (!m_driverInterface->ReadBuffer(drive, cdb, area.get() + block * TRACE_BLOCK, TRACE_BLOCK))
            return false;
        IncrementBy16K(cdb[3], cdb[4], cdb[5]);
    }
    return OutputBinary(area.get(), blocks * TRACE_BLOCK);
}

bool CDriveManager::PrintWholeTrace()
{
    const int length = 65536;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[length]);
    unsigned char cdb[10] = {OP_READ_BUFFER, 0x04, BUFFER_TRACE, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
    return ReadDriveBuffer(cdb, buffer.get(), length) && OutputBinary(buffer.get(), length);
}

bool CDriveManager::ReadDriveBuffer(unsigned char* cdb, unsigned char* buffer, int length)
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    // A drive that failed the read may answer the next time; one that let
    // it time out has had its one long try, and one that refused it as
    // invalid will refuse it again.
    return Retry(
        CRetryPolicy{READ_BUFFER_ATTEMPTS, 0, false},
        [&] {
            std::memset(buffer, 0, length);
            return m_driverInterface->ReadBuffer(drive, cdb, buffer, length);
        },
        [&] {
            return m_driverInterface->LastCommandCompleted(drive) &&
                   m_driverInterface->LastCommandWorthRepeating(drive);
        });
}

void CDriveManager::IncrementBy16K(unsigned char& b2, unsigned char& b1, unsigned char& b0)
{
    AddTo24(b2, b1, b0, static_cast<uint32_t>(TRACE_BLOCK));
}

bool CDriveManager::GetCm()
{
    return CaptureBuffer(cartridgeMemory);
}

bool CDriveManager::GetEEPROM()
{
    return CaptureBuffer(eeprom);
}

bool CDriveManager::CaptureBuffer(const CBufferCapture& capture)
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    OpenCommand(drive, capture.issued);
    if (drive->DriveType() != DRIVE_ULTRIUM)
        return OnlyForUltrium();
    m_driverInterface->TestForUnitReady(drive);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[capture.length]);
    unsigned char cdb[10] = {OP_READ_BUFFER, 0x01, capture.bufferId, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00};
    PutBig24(cdb + 6, static_cast<uint32_t>(capture.length));
    if (!ReadDriveBuffer(cdb, buffer.get(), capture.length)) {
        Line(capture.unreadable);
        return false;
    }
    if (!OutputBinary(buffer.get(), capture.length))
        return false;
    Line(capture.retrieved);
    return true;
}
