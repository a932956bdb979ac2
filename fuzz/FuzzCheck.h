// What every fuzz target shares: a check that stops the run with a message
// (libFuzzer then keeps the input as a crash reproducer), a small reader
// that takes fields off the front of the input, and a way to keep what a
// parser prints off the console.
#ifndef TAPEDIAG_FUZZCHECK_H
#define TAPEDIAG_FUZZCHECK_H

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                         \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    size_t Left() const { return m_size; }
    const uint8_t* Rest() const { return m_data; }
    // The next byte, or 0 once the input is used up.
    uint8_t Byte()
    {
        if (m_size == 0)
            return 0;
        --m_size;
        return *m_data++;
    }
    // Up to count bytes; how many were taken.
    size_t Take(uint8_t* out, size_t count)
    {
        size_t taken = count < m_size ? count : m_size;
        for (size_t i = 0; i < taken; ++i)
            out[i] = m_data[i];
        m_data += taken;
        m_size -= taken;
        return taken;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
};

// The input as an argument vector after `leading`: NUL separates the
// arguments, and at most `most` arguments are made in all.
inline std::vector<std::string> NulSeparatedArguments(std::vector<std::string> leading, const uint8_t* data,
                                                      size_t size, size_t most)
{
    size_t start = 0;
    for (size_t end = 0; end <= size && leading.size() < most; ++end) {
        if (end == size || data[end] == '\0') {
            leading.emplace_back(reinterpret_cast<const char*>(data) + start, end - start);
            start = end + 1;
        }
    }
    return leading;
}

// A directory of the target's own under /tmp for the files it needs,
// removed when the target ends.
inline const std::string& ScratchDirectory()
{
    static const struct Scratch {
        std::string path;
        Scratch()
        {
            char pattern[] = "/tmp/tapediag-fuzz-XXXXXX";
            FUZZ_CHECK(mkdtemp(pattern) != nullptr);
            path = pattern;
        }
        ~Scratch()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } scratch;
    return scratch.path;
}

// What `work` writes on the descriptor `fd` (standard output or error),
// kept off the console.
template <typename Work>
std::string Captured(int fd, Work work)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::FILE* capture = std::tmpfile();
    FUZZ_CHECK(capture != nullptr);
    const int saved = dup(fd);
    dup2(fileno(capture), fd);
    work();
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved, fd);
    close(saved);
    std::string text;
    std::rewind(capture);
    for (int c; (c = std::fgetc(capture)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(capture);
    return text;
}

#endif
