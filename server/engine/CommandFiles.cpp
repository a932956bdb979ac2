#include "CommandFiles.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ProgramLocation.h"

namespace {

const int TEMPORARY_ATTEMPTS = 100;

bool WriteAll(int fd, const std::string& content)
{
    for (size_t done = 0; done < content.size();) {
        const ssize_t count = ::write(fd, content.data() + done, content.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<size_t>(count);
    }
    return true;
}

// Writes `content` to a new file in the directory and renames it to `name`.
bool ReplaceIn(int directory, const std::string& name, const std::string& content)
{
    std::string temporary;
    int fd = -1;
    // A hidden name that does not end like the file's own: a collector
    // that reads "*.prom" never sees it half written.
    for (int attempt = 0; fd < 0 && attempt < TEMPORARY_ATTEMPTS; ++attempt) {
        temporary = "." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = ::openat(directory, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (written && ::renameat(directory, temporary.c_str(), directory, name.c_str()) == 0)
        return true;
    const int saved = errno;
    ::unlinkat(directory, temporary.c_str(), 0);
    errno = saved;
    return false;
}

}  // namespace

void CCommandFiles::ConfineTo(const char* directory)
{
    m_confined = true;
    m_directory = directory;
}

bool CCommandFiles::IsBareName(const char* name)
{
    return name != nullptr && *name != '\0' && std::strlen(name) <= NAME_MAX && std::strchr(name, '/') == nullptr &&
           std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

int CCommandFiles::OpenDirectory() const
{
    return ::open(m_directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool CCommandFiles::Allowed(const char* name) const
{
    if (!m_confined || name == nullptr || *name == '\0')
        return true;
    if (!IsBareName(name))
        return false;
    const int directory = OpenDirectory();
    if (directory < 0)
        return false;
    struct stat entry;
    const bool exists = ::fstatat(directory, name, &entry, AT_SYMLINK_NOFOLLOW) == 0;
    const bool absent = !exists && errno == ENOENT;
    ::close(directory);
    return absent || (exists && S_ISREG(entry.st_mode));
}

CVString CCommandFiles::LocalPath(const char* name, ECommandFile kind)
{
    CVString path;
    if (kind == COMMAND_FILE_BINARY && std::strchr(name, '/') == nullptr && *ProgramDirectory() != '\0') {
        path = ProgramDirectory();
        path += "/";
    }
    path += name;
    return path;
}

CVString CCommandFiles::Path(const char* name, ECommandFile kind) const
{
    if (!m_confined)
        return LocalPath(name, kind);
    CVString path = m_directory;
    path += "/";
    path += name;
    return path;
}

int CCommandFiles::Open(const char* name, ECommandFile kind, int flags, mode_t mode) const
{
    if (name == nullptr || *name == '\0') {
        errno = ENOENT;
        return -1;
    }
    if (!m_confined)
        return ::open(LocalPath(name, kind), flags | O_CLOEXEC, mode);
    if (!IsBareName(name)) {
        errno = EACCES;
        return -1;
    }
    const int directory = OpenDirectory();
    if (directory < 0)
        return -1;
    // Non-blocking only for the open itself: a pipe put in the directory
    // must not hang the server, and it is refused below like any other
    // entry that is not a regular file.
    const int fd = ::openat(directory, name, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    const int saved = errno;
    ::close(directory);
    if (fd < 0) {
        errno = saved;
        return -1;
    }
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    if ((flags & O_NONBLOCK) == 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool CCommandFiles::ReplaceWhole(const char* name, ECommandFile kind, const std::string& content) const
{
    if (name == nullptr || *name == '\0' || (m_confined && !Allowed(name))) {
        errno = name == nullptr || *name == '\0' ? ENOENT : EACCES;
        return false;
    }
    std::string path = m_confined ? std::string(m_directory) + "/" + name : std::string(Path(name, kind));
    const size_t slash = path.rfind('/');
    const std::string directoryPath = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int directory = ::open(directoryPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return false;
    const bool replaced = ReplaceIn(directory, path.substr(slash + 1), content);
    const int saved = errno;
    ::close(directory);
    errno = saved;
    return replaced;
}
