// The progress of a long test on a terminal: one line, rewritten in place,
// that tells the phase, how far it has got, the current rate and the time
// left, for example
//
//   Write  42 %   84 of 200 MB   152.3 MB/s  0:00:01 left
//
// Both programs show it on standard error, and only when that is a
// terminal: the diagnostic from its own test, the client from the progress
// tokens it receives. The last state of each phase stays on the screen: the
// line ends when the phase completes or before anything else is written to
// the terminal.
#ifndef TAPEDIAG_PROGRESSDISPLAY_H
#define TAPEDIAG_PROGRESSDISPLAY_H

#include <string>

// How the read/write and compression tests move their data, which both ends
// of a remote test agree on: blocks of 64 KiB, 16 to the megabyte; a phase
// sends a progress token after block 0 and after every (blocks / 50)th block.
const int TAPE_TEST_BLOCKS_PER_MEGABYTE = 16;
const int TAPE_TEST_PROGRESS_STEPS = 50;

class CProgressDisplay {
public:
    // Draws on the file descriptor fd.
    explicit CProgressDisplay(int fd);
    ~CProgressDisplay();
    CProgressDisplay(const CProgressDisplay&) = delete;
    CProgressDisplay& operator=(const CProgressDisplay&) = delete;

    // `done` of the `total` bytes of `phase` are through at `now` (seconds
    // since the epoch). Another phase name, or less done than before, starts
    // a new phase on a line of its own. The line is redrawn when the whole
    // percentage or the second has changed; when done reaches total the
    // final state is drawn and the line ends.
    void Show(const char* phase, unsigned long long done, unsigned long long total, long now);
    // Ends the line, its last state kept on the screen; nothing when no line
    // is open.
    void EndLine();
    bool LineOpen() const { return m_lineOpen; }

    // One state of the line. rate is in MB/s, negative while unknown; time
    // is the seconds left (the seconds the phase took once it is complete),
    // negative while unknown.
    static std::string Format(const char* phase, unsigned long long done, unsigned long long total, double rate,
                              long time);

private:
    void Draw(const std::string& text);
    void Write(const std::string& bytes);

    int m_fd;
    bool m_lineOpen = false;
    size_t m_drawnLength = 0;
    std::string m_phase;
    unsigned long long m_total = 0;
    unsigned long long m_lastDone = 0;
    int m_lastPercent = -1;
    long m_lastDrawn = 0;
    long m_phaseStart = 0;
    // The rate is measured over a window of a few seconds that moves on.
    long m_windowStart = 0;
    unsigned long long m_windowDone = 0;
    double m_rate = -1;
};

#endif
