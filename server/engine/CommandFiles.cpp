#include "CommandFiles.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Tries at a name for the new file before giving up: each try fails only
// when some other file already has the name.
const int NEW_FILE_ATTEMPTS = 16;
// What a replaced file passes on to its successor: its permissions, never
// set-user or set-group bits.
const mode_t KEPT_MODE = 0777;

// A descriptor closed when it goes out of scope.
class CDescriptor {
public:
    explicit CDescriptor(int fd = -1) : m_fd(fd) {}
    ~CDescriptor() { Close(); }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    void Reset(int fd)
    {
        Close();
        m_fd = fd;
    }
    int Release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // The result of close(2): a write the kernel kept back may fail here.
    int Close()
    {
        const int result = m_fd >= 0 ? ::close(m_fd) : 0;
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

// Why a confined command may not use this entry of the server's directory:
// 0 when it may, else the errno value that says why.
int EntryProblem(const struct stat& entry)
{
    if (S_ISLNK(entry.st_mode))
        return ELOOP;
    if (S_ISDIR(entry.st_mode))
        return EISDIR;
    if (!S_ISREG(entry.st_mode))
        return EACCES;
    // Another link may lead outside the directory.
    return entry.st_nlink > 1 ? EMLINK : 0;
}

// A hidden name, unlikely to be taken, for a file being written.
std::string NewFileName()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device source;
    std::string name = ".tapediag-";
    for (int i = 0; i < 8; ++i)
        name += letters[source() % (sizeof letters - 1)];
    return name;
}

// A new file in `directory`; its name goes to `name`.
int CreateNewFile(int directory, std::string& name)
{
    for (int attempt = 0; attempt < NEW_FILE_ATTEMPTS; ++attempt) {
        name = NewFileName();
        const int fd = ::openat(directory, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool WriteAll(int fd, const unsigned char* data, size_t length)
{
    for (size_t done = 0; done < length;) {
        const ssize_t count = ::write(fd, data + done, length - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(count);
    }
    return true;
}

// A capture that replaces a file must not widen who may read it.
void KeepOwnerAndMode(int fd, const struct stat& replaced)
{
    if (::fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
        // Only a privileged program may give a file away; the new one then
        // stays this program's, with the permissions below.
    }
    ::fchmod(fd, replaced.st_mode & KEPT_MODE);
}

// A device or a pipe has no earlier content to keep: it is written as is.
EFileWrite WriteInPlace(const char* path, const unsigned char* data, size_t length)
{
    CDescriptor fd(::open(path, O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!fd.Valid())
        return FILE_NOT_OPENED;
    return WriteAll(fd.Get(), data, length) && fd.Close() == 0 ? FILE_WRITTEN : FILE_NOT_WRITTEN;
}

}  // namespace

struct CCommandFiles::CTarget {
    int directory = -1;
    // The directory of a local file, opened for this one write.
    CDescriptor localDirectory;
    std::string name;
    bool exists = false;
    struct stat replaced = {};
    bool inPlace = false;
};

CCommandFiles::~CCommandFiles()
{
    if (m_directory >= 0)
        ::close(m_directory);
}

std::string CCommandFiles::ConfineTo(const std::string& directory)
{
    if (m_directory >= 0)
        ::close(m_directory);
    m_directory = -1;
    m_confined = true;
    m_directoryPath = directory;
    if (directory.empty())
        return "";
    CDescriptor opened(::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!opened.Valid())
        return std::strerror(errno);
    // Every file written there is first made as a new file beside the one
    // it replaces.
    if (::faccessat(opened.Get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        return std::string("it is not writable (") + std::strerror(errno) + ")";
    m_directory = opened.Release();
    return "";
}

bool CCommandFiles::IsBareName(const char* name)
{
    return name != nullptr && *name != '\0' && std::strlen(name) <= NAME_MAX && std::strchr(name, '/') == nullptr &&
           std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

bool CCommandFiles::Allowed(const char* name) const
{
    if (!m_confined || name == nullptr || *name == '\0')
        return true;
    if (!IsBareName(name) || m_directory < 0)
        return false;
    struct stat entry;
    if (::fstatat(m_directory, name, &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    return EntryProblem(entry) == 0;
}

CVString CCommandFiles::Path(const char* name) const
{
    if (!m_confined)
        return CVString(name);
    CVString path(m_directoryPath.c_str());
    path += "/";
    path += name;
    return path;
}

int CCommandFiles::Open(const char* name, int flags, mode_t mode) const
{
    if (name == nullptr || *name == '\0') {
        errno = ENOENT;
        return -1;
    }
    if (!m_confined)
        return ::open(name, flags | O_CLOEXEC, mode);
    if (!IsBareName(name) || m_directory < 0) {
        errno = EACCES;
        return -1;
    }
    // Non-blocking only for the open itself: a pipe put in the directory
    // must not hang the server, and it is refused below like any other
    // entry that is not a regular file.
    CDescriptor fd(::openat(m_directory, name, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
    if (!fd.Valid())
        return -1;
    struct stat opened;
    if (::fstat(fd.Get(), &opened) != 0)
        return -1;
    const int problem = EntryProblem(opened);
    if (problem != 0) {
        errno = problem;
        return -1;
    }
    if ((flags & O_NONBLOCK) == 0)
        ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    return fd.Release();
}

bool CCommandFiles::Locate(const char* name, CTarget& target) const
{
    if (m_confined) {
        if (!IsBareName(name) || m_directory < 0) {
            errno = EACCES;
            return false;
        }
        target.directory = m_directory;
        target.name = name;
        if (::fstatat(m_directory, name, &target.replaced, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT;
        target.exists = true;
        errno = EntryProblem(target.replaced);
        return errno == 0;
    }
    std::string path = name;
    if (::stat(name, &target.replaced) == 0) {
        if (S_ISDIR(target.replaced.st_mode)) {
            errno = EISDIR;
            return false;
        }
        target.inPlace = !S_ISREG(target.replaced.st_mode);
        if (target.inPlace)
            return true;
        // A name that leads through symbolic links replaces the file they
        // lead to; the links stay.
        char resolved[PATH_MAX];
        if (::realpath(name, resolved) == nullptr)
            return false;
        path = resolved;
        target.exists = true;
    } else if (errno != ENOENT) {
        return false;
    }
    const size_t slash = path.rfind('/');
    target.name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (target.name.empty()) {
        errno = EISDIR;
        return false;
    }
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    target.localDirectory.Reset(::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    target.directory = target.localDirectory.Get();
    return target.localDirectory.Valid();
}

EFileWrite CCommandFiles::Replace(const char* name, const unsigned char* data, size_t length) const
{
    if (name == nullptr || *name == '\0') {
        errno = ENOENT;
        return FILE_NOT_OPENED;
    }
    CTarget target;
    if (!Locate(name, target))
        return FILE_NOT_OPENED;
    if (target.inPlace)
        return WriteInPlace(name, data, length);
    std::string newName;
    CDescriptor file(CreateNewFile(target.directory, newName));
    if (!file.Valid())
        return FILE_NOT_OPENED;
    if (target.exists)
        KeepOwnerAndMode(file.Get(), target.replaced);
    // Only a file that reached the disk whole may take the old one's place.
    const bool written = WriteAll(file.Get(), data, length) && ::fsync(file.Get()) == 0 && file.Close() == 0 &&
                         ::renameat(target.directory, newName.c_str(), target.directory, target.name.c_str()) == 0;
    if (!written) {
        const int error = errno;
        ::unlinkat(target.directory, newName.c_str(), 0);
        errno = error;
        return FILE_NOT_WRITTEN;
    }
    return FILE_WRITTEN;
}
