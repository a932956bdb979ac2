#include "PasswordFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "VString.h"

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& reason)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    password.clear();
    char chunk[512];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            reason = std::strerror(errno);
            ::close(fd);
            return false;
        }
        const char* end = got == 0 ? nullptr : static_cast<const char*>(std::memchr(chunk, '\n', got));
        password.append(chunk, end != nullptr ? static_cast<size_t>(end - chunk) : static_cast<size_t>(got));
        // Past the longest password there is no need to read on.
        if (got == 0 || end != nullptr || password.size() > static_cast<size_t>(VSTRING_MAX_LENGTH) + 1)
            break;
    }
    ::close(fd);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return true;
}
