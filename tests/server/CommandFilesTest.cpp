#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "CommandFiles.h"
#include "FakeClock.h"
#include "Retry.h"

namespace {

class ScratchDirectory {
public:
    ScratchDirectory()
    {
        char pattern[] = "/tmp/tapediag-files-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~ScratchDirectory() { EXPECT_EQ(std::system(("rm -rf '" + path + "'").c_str()), 0); }
    bool Exists(const std::string& name) const { return access((path + "/" + name).c_str(), F_OK) == 0; }
    std::string path;
};

std::string Read(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

mode_t ModeOf(const std::string& path)
{
    struct stat entry = {};
    stat(path.c_str(), &entry);
    return entry.st_mode & 07777;
}

const unsigned char BYTES[] = {'n', 'e', 'w'};

TEST(CommandFiles, ALocalFileIsReplacedWholeWhereTheNameLeads)
{
    ScratchDirectory scratch;
    const std::string at = scratch.path + "/";
    std::ofstream(at + "private") << "old";
    ASSERT_EQ(chmod((at + "private").c_str(), 0600), 0);
    std::ofstream(at + "target") << "old";
    ASSERT_EQ(symlink((at + "target").c_str(), (at + "link").c_str()), 0);
    ASSERT_EQ(mkdir((at + "sub").c_str(), 0700), 0);
    const mode_t mask = umask(0);
    umask(mask);

    const struct {
        const char* what;
        std::string name;
        EFileWrite outcome;
        int error;
        std::string holder;  // the file that holds the bytes afterwards
        mode_t mode;         // its permissions, when they matter
    } rows[] = {
        {"a new file", at + "new.bin", FILE_WRITTEN, 0, at + "new.bin", static_cast<mode_t>(0666 & ~mask)},
        {"a file keeps its permissions", at + "private", FILE_WRITTEN, 0, at + "private", 0600},
        {"a link leads to its file", at + "link", FILE_WRITTEN, 0, at + "target", 0},
        {"a directory", at + "sub", FILE_NOT_OPENED, EISDIR, "", 0},
        {"a missing directory", at + "none/x.bin", FILE_NOT_OPENED, ENOENT, "", 0},
    };
    CCommandFiles files;
    for (const auto& row : rows) {
        EXPECT_EQ(files.Replace(row.name.c_str(), BYTES, sizeof BYTES), row.outcome) << row.what;
        if (row.outcome != FILE_WRITTEN) {
            EXPECT_EQ(errno, row.error) << row.what;
        } else {
            EXPECT_EQ(Read(row.holder), "new") << row.what;
        }
        if (row.mode != 0) {
            EXPECT_EQ(ModeOf(row.holder), row.mode) << row.what;
        }
    }
    struct stat link = {};
    ASSERT_EQ(lstat((at + "link").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_FALSE(scratch.Exists("none"));

    // A pipe (or a device) has nothing to keep: it is written as it is.
    ASSERT_EQ(mkfifo((at + "pipe").c_str(), 0600), 0);
    const int reader = open((at + "pipe").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(files.Replace((at + "pipe").c_str(), BYTES, sizeof BYTES), FILE_WRITTEN);
    char got[8] = {};
    EXPECT_EQ(read(reader, got, sizeof got), 3);
    close(reader);
    struct stat pipe = {};
    ASSERT_EQ(lstat((at + "pipe").c_str(), &pipe), 0);
    EXPECT_TRUE(S_ISFIFO(pipe.st_mode));
}

TEST(Retry, AttemptsAndPausesGoThroughTheClock)
{
    CFakeClock clock;
    CFakeClockScope scope(clock);
    int calls = 0;
    EXPECT_FALSE(Retry(CRetryPolicy{11, 1, false}, [&] { return ++calls < 0; }));
    EXPECT_EQ(calls, 11);
    EXPECT_EQ(clock.Sleeps(), std::vector<long>(10, 1));  // before each retry

    CFakeClock after;
    CFakeClockScope afterScope(after);
    calls = 0;
    EXPECT_FALSE(Retry(CRetryPolicy{3, 2, true}, [&] { return ++calls < 0; }));
    EXPECT_EQ(after.Sleeps(), std::vector<long>(3, 2));  // after each failure, the last too

    calls = 0;
    EXPECT_TRUE(Retry(CRetryPolicy{6, 0, false}, [&] { return ++calls == 3; }));
    EXPECT_EQ(calls, 3);
}

}  // namespace
