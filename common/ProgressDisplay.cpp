#include "ProgressDisplay.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

const unsigned long long MEGABYTE = 1048576;
// The rate is measured over at least this many seconds (the clock counts
// whole seconds), and its window moves on once it spans the longer one.
const long RATE_SHORTEST_SPAN = 2;
const long RATE_WINDOW = 5;

// value, right-aligned to the width of `widest`.
std::string Aligned(unsigned long long value, unsigned long long widest)
{
    std::string text = std::to_string(value);
    std::string width = std::to_string(widest);
    if (text.size() < width.size())
        text.insert(0, width.size() - text.size(), ' ');
    return text;
}

std::string Duration(long seconds)
{
    if (seconds < 0)
        return "-:--:--";
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

}  // namespace

CProgressDisplay::CProgressDisplay(int fd) : m_fd(fd)
{}

CProgressDisplay::~CProgressDisplay()
{}

std::string CProgressDisplay::Format(const char* phase, unsigned long long done, unsigned long long total, double rate,
                                     long time)
{
    const unsigned long long totalMb = total / MEGABYTE;
    const int percent = total == 0 ? 0 : static_cast<int>(done * 100 / total);
    char rateText[32] = "--";
    if (rate >= 0)
        std::snprintf(rateText, sizeof rateText, "%.1f", rate);
    const bool complete = done >= total;
    std::string timeText = complete ? "done in " + Duration(time) : Duration(time) + " left";
    char head[32];
    std::snprintf(head, sizeof head, "%-5.5s %3d %%  ", phase, percent);
    char rateField[48];
    std::snprintf(rateField, sizeof rateField, "  %7s MB/s  ", rateText);
    return head + Aligned(done / MEGABYTE, totalMb) + " of " + std::to_string(totalMb) + " MB" + rateField + timeText;
}

void CProgressDisplay::Show(const char* phase, unsigned long long done, unsigned long long total, long now)
{
    if (total == 0)
        return;
    if (done > total)
        done = total;
    const bool samePhase = !m_phase.empty() && m_phase == phase && m_total == total && done >= m_lastDone;
    if (!samePhase) {
        EndLine();
        m_phase = phase;
        m_total = total;
        m_phaseStart = m_windowStart = now;
        m_windowDone = 0;
        m_rate = -1;
        m_lastPercent = -1;
    } else if (m_lastDone == total) {
        return;  // complete and shown
    }
    m_lastDone = done;
    const int percent = static_cast<int>(done * 100 / total);
    const bool complete = done == total;
    // Called after every block: most calls change nothing on the screen.
    if (m_lineOpen && !complete && percent == m_lastPercent && now == m_lastDrawn)
        return;
    m_lastPercent = percent;
    m_lastDrawn = now;

    const long span = now - m_windowStart;
    if (span >= RATE_SHORTEST_SPAN) {
        m_rate = static_cast<double>(done - m_windowDone) / MEGABYTE / span;
        if (span >= RATE_WINDOW) {
            m_windowStart = now;
            m_windowDone = done;
        }
    }
    long time = -1;
    double rate = m_rate;
    if (complete) {
        time = now - m_phaseStart;
        if (time > 0)
            rate = static_cast<double>(total) / MEGABYTE / time;
    } else if (m_rate > 0) {
        time = static_cast<long>(static_cast<double>(total - done) / MEGABYTE / m_rate + 0.5);
    }
    Draw(Format(phase, done, total, rate, time));
    if (complete)
        EndLine();
}

void CProgressDisplay::EndLine()
{
    if (!m_lineOpen)
        return;
    Write("\n");
    m_lineOpen = false;
    m_drawnLength = 0;
}

void CProgressDisplay::Draw(const std::string& text)
{
    // A shorter state overwrites the rest of the longer one with blanks.
    std::string bytes = "\r" + text;
    if (text.size() < m_drawnLength)
        bytes.append(m_drawnLength - text.size(), ' ');
    Write(bytes);
    m_drawnLength = text.size();
    m_lineOpen = true;
}

void CProgressDisplay::Write(const std::string& bytes)
{
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(m_fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // a terminal that has gone takes no progress
        written += static_cast<size_t>(n);
    }
}
