// Runs one of the built programs as a child process with its standard
// streams on pipes, for end-to-end tests. Every wait is bounded; the child
// is killed and reaped when the object goes away.
#ifndef TAPEDIAG_TEST_CHILDPROCESS_H
#define TAPEDIAG_TEST_CHILDPROCESS_H

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class ChildProcess {
public:
    // Starts program with args (argv[0] is the program itself). The child
    // runs in workingDirectory when one is given. Its standard error goes to
    // stderrFd when one is given (a pseudo-terminal, say), else to a pipe.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& workingDirectory = "", int stderrFd = -1)
    {
        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(stderrFd >= 0 ? stderrFd : err[1], 2);
            if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0)
                _exit(127);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(err[1]);
        m_stdin = in[1];
        m_stdout = out[0];
        m_stderr = err[0];
        if (stderrFd >= 0) {
            close(m_stderr);
            m_stderr = -1;
        }
    }

    ~ChildProcess()
    {
        if (m_pid > 0 && !m_exited) {
            kill(m_pid, SIGKILL);
            int status = 0;
            waitpid(m_pid, &status, 0);
        }
        for (int fd : {m_stdin, m_stdout, m_stderr}) {
            if (fd >= 0)
                close(fd);
        }
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }

    void Write(const std::string& text)
    {
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = write(m_stdin, text.data() + done, text.size() - done);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }

    void CloseStdin()
    {
        if (m_stdin >= 0)
            close(m_stdin);
        m_stdin = -1;
    }

    // Reads standard output until it contains `text` or the time is up.
    bool WaitForOutput(const std::string& text, int timeoutMs = 10000)
    {
        return WaitFor(m_stdout, m_out, text, timeoutMs);
    }
    bool WaitForError(const std::string& text, int timeoutMs = 10000)
    {
        return WaitFor(m_stderr, m_err, text, timeoutMs);
    }

    // Closes standard input, collects all output and waits for the exit.
    // Returns the exit status, or -1 when the child did not end in time (it
    // is then killed).
    int Finish(int timeoutMs = 60000)
    {
        CloseStdin();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_stdout >= 0 || m_stderr >= 0) {
            int left = RemainingMs(deadline);
            if (left <= 0)
                break;
            Pump(left);
        }
        return Wait(RemainingMs(deadline));
    }

    // Waits for the exit without touching standard input.
    int Wait(int timeoutMs = 60000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!m_exited) {
            int status = 0;
            pid_t done = waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_exited = true;
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (RemainingMs(deadline) <= 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
                m_exited = true;
                m_status = -1;
                break;
            }
            // Block on the pipes (not a sleep): the child's exit closes them.
            Pump(std::min(RemainingMs(deadline), 50));
        }
        return m_status;
    }

    void Kill(int signal = SIGKILL)
    {
        if (m_pid > 0 && !m_exited)
            kill(m_pid, signal);
    }

    const std::string& Output() const { return m_out; }
    const std::string& Errors() const { return m_err; }

    // The standard output split into lines (without line ends).
    std::vector<std::string> OutputLines() const
    {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < m_out.size()) {
            size_t end = m_out.find('\n', start);
            if (end == std::string::npos) {
                lines.push_back(m_out.substr(start));
                break;
            }
            lines.push_back(m_out.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

private:
    static int RemainingMs(std::chrono::steady_clock::time_point deadline)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }

    bool WaitFor(int& fd, std::string& buffer, const std::string& text, int timeoutMs)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (buffer.find(text) == std::string::npos) {
            int left = RemainingMs(deadline);
            if (left <= 0 || fd < 0)
                return buffer.find(text) != std::string::npos;
            Pump(left);
        }
        return true;
    }

    // Waits up to timeoutMs for data on either output pipe and reads it.
    void Pump(int timeoutMs)
    {
        pollfd fds[2];
        int count = 0;
        if (m_stdout >= 0)
            fds[count++] = {m_stdout, POLLIN, 0};
        if (m_stderr >= 0)
            fds[count++] = {m_stderr, POLLIN, 0};
        if (count == 0)
            return;
        if (poll(fds, count, timeoutMs) <= 0)
            return;
        for (int i = 0; i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            bool isOut = fds[i].fd == m_stdout;
            std::string& buffer = isOut ? m_out : m_err;
            char chunk[65536];
            ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                buffer.append(chunk, static_cast<size_t>(n));
            } else if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                close(fds[i].fd);
                (isOut ? m_stdout : m_stderr) = -1;
            }
        }
    }

    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    int m_stderr = -1;
    bool m_exited = false;
    int m_status = -1;
    std::string m_out;
    std::string m_err;
};

#endif
