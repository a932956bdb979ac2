// How long each command may take before the host gives up on it: one table
// for every command the program sends. When an SG_IO time-out fires, the
// kernel aborts the command and escalates to a device, bus or host reset,
// which can knock another drive's backup off its position; so a time-out is
// what the slowest drive may really need (at least the st driver's own),
// never what a drive usually takes. An LTO drive's first load of a new
// cartridge calibrates for up to two hours; a full rewind or space takes
// minutes.
//
// Commands the table does not list (INQUIRY, MODE SENSE/SELECT, LOG
// SENSE/SELECT, REQUEST SENSE, PERSISTENT RESERVE OUT, ...) answer at once
// and take the command layer's standing time-out (LinuxTapeDeviceDriver.h).
#ifndef TAPEDIAG_TIMEOUTS_H
#define TAPEDIAG_TIMEOUTS_H

#include <cstddef>

// The st driver's long time-out: operations that may move the tape end to
// end (load, unload, rewind, space).
const int LONG_OPERATION_TIMEOUT_SECONDS = 14000;
// The st driver's time-out for reads and writes; also what bounds a read of
// the position or of a drive buffer, so that a stuck drive does not hold
// the program for hours.
const int DATA_TRANSFER_TIMEOUT_SECONDS = 900;
// A drive still loading a cartridge may be slow to answer even this; a
// quick time-out would reset it.
const int UNIT_READY_TIMEOUT_SECONDS = 60;
// The drive's own self-test runs for minutes at most.
const int SELF_TEST_TIMEOUT_SECONDS = 900;
// One block of a firmware download (WRITE BUFFER, download microcode).
const int MICROCODE_BLOCK_TIMEOUT_SECONDS = 900;
// Saving downloaded firmware (WRITE BUFFER, download microcode and save):
// the drive writes its flash before it answers.
const int MICROCODE_SAVE_TIMEOUT_SECONDS = 3600;

// A row that applies whatever the WRITE BUFFER mode.
const int ANY_BUFFER_MODE = -1;

struct CCommandTimeout {
    const char* command;  // its name, for tests and messages
    unsigned char opcode;
    // For WRITE BUFFER, the mode (CDB byte 1, bits 0-4) the row is for;
    // ANY_BUFFER_MODE for every other command.
    int bufferMode;
    int seconds;
};

// Every row, in operation code order.
const CCommandTimeout* CommandTimeouts(size_t& count);

// The row that holds the time-out of this CDB; null when the command takes
// the standing time-out.
const CCommandTimeout* FindCommandTimeout(const unsigned char* cdb, int cdbLength);

#endif
