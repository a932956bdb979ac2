#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "CommandFiles.h"
#include "FakeClock.h"
#include "ProgramLocation.h"
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

int Create(const CCommandFiles& files, const char* name, ECommandFile kind)
{
    int fd = files.Open(name, kind, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd >= 0)
        close(fd);
    return fd;
}

TEST(CommandFiles, ARemoteCommandReachesOnlyBareNamesInTheServersDirectory)
{
    ScratchDirectory served;
    ScratchDirectory outside;
    ASSERT_EQ(symlink((outside.path + "/victim").c_str(), (served.path + "/link").c_str()), 0);
    CCommandFiles files;
    files.ConfineTo(served.path.c_str());

    EXPECT_GE(Create(files, "report.txt", COMMAND_FILE_REPORT), 0);
    EXPECT_TRUE(served.Exists("report.txt"));
    EXPECT_GE(Create(files, "trace.bin", COMMAND_FILE_BINARY), 0);
    EXPECT_TRUE(served.Exists("trace.bin"));

    const std::string absolute = outside.path + "/abs";
    for (const char* name : {absolute.c_str(), "../escape", "sub/dir", ".", "..", "link"}) {
        EXPECT_EQ(Create(files, name, COMMAND_FILE_BINARY), -1) << name;
        EXPECT_EQ(Create(files, name, COMMAND_FILE_REPORT), -1) << name;
    }
    EXPECT_FALSE(outside.Exists("abs"));
    EXPECT_FALSE(outside.Exists("victim"));  // the symbolic link was not followed

    EXPECT_TRUE(files.Allowed(""));
    EXPECT_TRUE(files.Allowed("x.bin"));
    EXPECT_FALSE(files.Allowed("/tmp/x.bin"));
    EXPECT_FALSE(files.Allowed(".."));
}

TEST(CommandFiles, ALocalUserKeepsEveryPathAndBareBinaryNamesGoBesideTheProgram)
{
    CCommandFiles files;
    EXPECT_TRUE(files.Allowed("/anywhere/at/all"));
    SaveProgramLocation("/opt/tools/bin/tapediag");
    EXPECT_EQ(CCommandFiles::LocalPath("dump.bin", COMMAND_FILE_BINARY), "/opt/tools/bin/dump.bin");
    EXPECT_EQ(CCommandFiles::LocalPath("out/dump.bin", COMMAND_FILE_BINARY), "out/dump.bin");
    EXPECT_EQ(CCommandFiles::LocalPath("report.txt", COMMAND_FILE_REPORT), "report.txt");
    // Started through a PATH search there is no directory: the name is
    // taken where the user is, never at the root of the file system.
    SaveProgramLocation("tapediag");
    EXPECT_EQ(CCommandFiles::LocalPath("dump.bin", COMMAND_FILE_BINARY), "dump.bin");
    errno = 0;
    EXPECT_EQ(files.Open("", COMMAND_FILE_BINARY, O_RDONLY, 0), -1);
    EXPECT_EQ(errno, ENOENT);
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
