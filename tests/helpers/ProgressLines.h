// Reads back what a progress display wrote to a terminal: lines ended by a
// line end, each made of the states ("frames") that a carriage return
// started, without the blanks that padded a shorter state.
#ifndef TAPEDIAG_TEST_PROGRESSLINES_H
#define TAPEDIAG_TEST_PROGRESSLINES_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

struct ProgressLine {
    std::vector<std::string> frames;
    bool ended = false;  // by a line end
};

inline std::vector<ProgressLine> ProgressLines(const std::string& bytes)
{
    std::vector<ProgressLine> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        ProgressLine line;
        line.ended = end != std::string::npos;
        std::string text = bytes.substr(start, line.ended ? end - start : std::string::npos);
        size_t at = 0;
        while (at < text.size()) {
            size_t next = text.find('\r', at + 1);
            std::string frame = text.substr(at, next == std::string::npos ? std::string::npos : next - at);
            if (!frame.empty() && frame[0] == '\r')
                frame.erase(0, 1);
            frame.erase(frame.find_last_not_of(' ') + 1);
            line.frames.push_back(frame);
            at = next == std::string::npos ? text.size() : next;
        }
        lines.push_back(line);
        start = line.ended ? end + 1 : bytes.size();
    }
    return lines;
}

// The percentage a frame shows ("Write  42 %  ..."), or -1.
inline int Percent(const std::string& frame)
{
    size_t sign = frame.find(" %");
    if (sign == std::string::npos || sign < 3)
        return -1;
    return std::atoi(frame.substr(sign - 3, 3).c_str());
}

// A test whose progress display draws into a pipe it reads back.
class ProgressPipeTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK), 0); }
    void TearDown() override
    {
        close(m_pipe[0]);
        close(m_pipe[1]);
    }

    // Everything drawn since the last call.
    std::string Drawn()
    {
        std::string bytes;
        char chunk[4096];
        ssize_t n;
        while ((n = read(m_pipe[0], chunk, sizeof chunk)) > 0)
            bytes.append(chunk, static_cast<size_t>(n));
        return bytes;
    }

    int m_pipe[2] = {-1, -1};
};

#endif
