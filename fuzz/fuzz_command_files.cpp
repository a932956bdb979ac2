// The rule for a file a remote client names (-o:, -nov:, -f:): the name as
// the parser hands it over (a CVString, so without control characters),
// against a confined directory that holds a regular file, a symbolic link
// to a file outside it and a directory. Nothing is created.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "CommandFiles.h"
#include "FuzzCheck.h"

namespace {

struct Directory {
    std::string path;
    ino_t file = 0;
    Directory()
    {
        path = ScratchDirectory() + "/served";
        FUZZ_CHECK(mkdir(path.c_str(), 0700) == 0);
        const int fd = open((path + "/file").c_str(), O_CREAT | O_WRONLY, 0600);
        struct stat entry;
        FUZZ_CHECK(fd >= 0 && fstat(fd, &entry) == 0);
        file = entry.st_ino;
        close(fd);
        FUZZ_CHECK(symlink("/etc/passwd", (path + "/link").c_str()) == 0);
        FUZZ_CHECK(mkdir((path + "/dir").c_str(), 0700) == 0);
    }
};

const Directory& Served()
{
    static const Directory* directory = new Directory;
    return *directory;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Directory& served = Served();
    const CVString name(std::string(reinterpret_cast<const char*>(data), size).c_str());
    const char* text = name;
    const size_t length = std::strlen(text);

    const bool bare = CCommandFiles::IsBareName(text);
    FUZZ_CHECK(bare == (length >= 1 && length <= 255 && std::strchr(text, '/') == nullptr &&
                        std::strcmp(text, ".") != 0 && std::strcmp(text, "..") != 0));

    CCommandFiles files;
    files.ConfineTo(served.path.c_str());
    const bool allowed = files.Allowed(text);
    if (length > 0)
        FUZZ_CHECK(!allowed || bare);
    FUZZ_CHECK(!allowed || (std::strcmp(text, "link") != 0 && std::strcmp(text, "dir") != 0));
    if (std::strcmp(text, "file") == 0)
        FUZZ_CHECK(allowed);
    if (bare)
        FUZZ_CHECK(std::string(files.Path(text)) == served.path + "/" + text);

    // Whatever opens is the one regular file of the directory.
    const int fd = files.Open(text, O_RDONLY | O_NONBLOCK, 0);
    if (fd >= 0) {
        struct stat entry;
        FUZZ_CHECK(fstat(fd, &entry) == 0 && entry.st_ino == served.file);
        close(fd);
    }
    return 0;
}
