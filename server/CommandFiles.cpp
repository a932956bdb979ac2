#include "CommandFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "ProgramLocation.h"

void CCommandFiles::ConfineTo(const char* directory)
{
    m_confined = true;
    m_directory = directory;
}

bool CCommandFiles::IsBareName(const char* name)
{
    return name != nullptr && *name != '\0' && std::strchr(name, '/') == nullptr && std::strcmp(name, ".") != 0 &&
           std::strcmp(name, "..") != 0;
}

bool CCommandFiles::Allowed(const char* name) const
{
    return !m_confined || name == nullptr || *name == '\0' || IsBareName(name);
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
    const int directory = ::open(m_directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return -1;
    const int fd = ::openat(directory, name, flags | O_NOFOLLOW | O_CLOEXEC, mode);
    const int saved = errno;
    ::close(directory);
    errno = saved;
    return fd;
}
