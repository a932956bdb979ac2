// Every command's time-out, as the device sees it, comes from the one table
// of Timeouts.h: each row is used by some operation and given exactly, and
// every command the table does not list gets the standing time-out.
#include "LinuxDriverInterface.h"

#include "FakeClock.h"
#include "RecordingPassThrough.h"
#include "Timeouts.h"

#include <gtest/gtest.h>

namespace {

bool RowIsFor(const CCommandTimeout& row, const CRecordedCommand& command)
{
    return command.cdb[0] == row.opcode &&
           (row.bufferMode == ANY_BUFFER_MODE || (command.cdb[1] & 0x1F) == row.bufferMode);
}

// Every operation of the driver interface, once, on a drive that answers
// GOOD to everything.
std::vector<CRecordedCommand> EveryOperation()
{
    CFakeClock clock;
    CFakeClockScope installed(clock);
    CLinuxDriverInterface face;
    std::unique_ptr<CRecordingPassThrough> recording(new CRecordingPassThrough);
    CRecordingPassThrough* device = recording.get();
    CTapeDrive drive;
    drive.FileDescriptor(face.AttachDevice(std::move(recording)));

    CBytes buffer(65536, 0);
    unsigned char* b = buffer.data();
    unsigned char readBuffer[10] = {0x3C, 0x02, 0x01, 0, 0, 0, 0, 0x10, 0, 0};
    face.LoadTape(&drive, false);
    face.LoadTape(&drive, true);
    face.UnloadTape(&drive);
    face.WriteFileMarks(&drive);
    face.Rewind(&drive);
    face.GetBlockSize(&drive);
    face.TestForUnitReady(&drive);
    face.WriteDataToDrive(&drive, 0, b, 65536);
    face.ReadDataFromDrive(&drive, 0, b, 65536);
    face.ReadPosition(&drive);
    face.DriveInquiry(&drive, b, 36);
    face.ExtendedDriveInquiry(&drive, 0x80, b, 64);
    face.ModeSensePage(&drive, 0x0F, b, 36);
    face.ModeSelectPage(&drive, 20, b, 20);
    face.LogSense(&drive, b, 4096, 0x02);
    face.LogSelectReset(&drive);
    face.FastFwdToEOD(&drive);
    face.SendDiagnostic(&drive);
    face.RequestSense(&drive, b, 36);
    face.DownloadFirmware(&drive, b, 16384, 0, 0, 0);
    face.ParkDriveArm(&drive, true);
    face.IsAutoLoaderConfiguration(&drive);
    face.ReadBuffer(&drive, readBuffer, b, 4096);
    return device->Commands();
}

TEST(TimeoutTable, EveryCommandTakesTheTimeoutOfItsRow)
{
    const std::vector<CRecordedCommand> sent = EveryOperation();
    size_t count = 0;
    const CCommandTimeout* rows = CommandTimeouts(count);
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(rows[i].command);
        int uses = 0;
        for (const CRecordedCommand& command : sent) {
            if (!RowIsFor(rows[i], command))
                continue;
            ++uses;
            EXPECT_EQ(command.timeoutSeconds, rows[i].seconds);
        }
        EXPECT_GT(uses, 0) << "a row no operation uses";
    }
    for (const CRecordedCommand& command : sent) {
        bool listed = false;
        for (size_t i = 0; i < count; ++i)
            listed = listed || RowIsFor(rows[i], command);
        if (!listed) {
            EXPECT_EQ(command.timeoutSeconds, STANDING_TIMEOUT_SECONDS) << Shape(command);
        }
    }
}

}  // namespace
