// The client's progress line: the progress tokens of a remote read/write or
// compression test turned into the line a local run of the test shows (see
// CProgressDisplay). The line that announces a phase ("Issued Cmd: Write 200
// MB to tape.") gives its size; each token of the phase then stands for one
// step of TAPE_TEST_PROGRESS_STEPS. The next line of output ends the phase:
// complete, unless that line tells that the phase stopped short.
#ifndef TAPEDIAG_CLIENTPROGRESS_H
#define TAPEDIAG_CLIENTPROGRESS_H

#include "ProgressDisplay.h"
#include "VString.h"

class CClientProgress {
public:
    // Draws on fd when `enabled` (standard error is a terminal and
    // -noprogress was not given); otherwise does nothing at all.
    CClientProgress(int fd, bool enabled);

    // A line of output is about to be shown; now is in seconds.
    void BeforeText(const CVString& text, long now);
    // A progress token (MSG_MOVE_WRITE_PROGRESS_BAR when write is true,
    // MSG_MOVE_READ_PROGRESS_BAR otherwise) arrived.
    void Token(bool write, long now);
    // The output has ended: an open line ends as it stands.
    void Finish();

private:
    enum Phase { NONE, WRITE, READ };

    void Draw(unsigned long long blocksDone, long now);

    bool m_enabled;
    CProgressDisplay m_display;
    Phase m_phase = NONE;
    unsigned long long m_blocks = 0;  // of the announced phase; 0 when unknown
    unsigned long long m_tokens = 0;  // received in this phase
};

#endif
