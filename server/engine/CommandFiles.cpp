#include "CommandFiles.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ProgramLocation.h"

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
