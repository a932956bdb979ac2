// A pseudo-terminal that a test owns: a child's standard error goes to its
// terminal end (which the child takes for a terminal) and the test collects
// every byte written there. The line discipline passes the bytes unchanged
// (raw mode). A thread keeps reading while the child runs, so that the child
// never blocks on a full terminal.
#ifndef TAPEDIAG_TEST_PSEUDOTERMINAL_H
#define TAPEDIAG_TEST_PSEUDOTERMINAL_H

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

class PseudoTerminal {
public:
    PseudoTerminal()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        const char* name = ptsname(m_master);
        if (name == nullptr)
            return;
        m_terminal = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios mode;
        if (m_terminal >= 0 && tcgetattr(m_terminal, &mode) == 0) {
            cfmakeraw(&mode);
            tcsetattr(m_terminal, TCSANOW, &mode);
        }
        m_reader = std::thread([this] { ReadUntilClosed(); });
    }

    ~PseudoTerminal()
    {
        CloseTerminal();
        m_stop = true;
        if (m_reader.joinable())
            m_reader.join();
        if (m_master >= 0)
            close(m_master);
    }

    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool Ready() const { return m_terminal >= 0; }
    // The end to hand to a child as its standard error.
    int Terminal() const { return m_terminal; }
    // The test's own copy of the terminal end, to close once the child has it.
    void CloseTerminal()
    {
        if (m_terminal >= 0)
            close(m_terminal);
        m_terminal = -1;
    }

    // Everything written, once every holder of the terminal end has closed
    // it (after the child has ended and CloseTerminal()).
    const std::string& Collected()
    {
        CloseTerminal();
        if (m_reader.joinable())
            m_reader.join();
        return m_bytes;
    }

private:
    void ReadUntilClosed()
    {
        while (!m_stop) {
            pollfd fd = {m_master, POLLIN, 0};
            if (poll(&fd, 1, 100) <= 0)
                continue;
            char chunk[4096];
            ssize_t n = read(m_master, chunk, sizeof chunk);
            if (n <= 0)
                return;  // EIO: no holder of the terminal end is left
            m_bytes.append(chunk, static_cast<size_t>(n));
        }
    }

    int m_master = -1;
    int m_terminal = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
    std::string m_bytes;
};

#endif
