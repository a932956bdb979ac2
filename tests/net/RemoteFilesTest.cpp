// Files named in remote command lines: confined to the server's directory,
// as bare names, never through a symbolic link; anything else rejects the
// whole line before a file is touched.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CommandFiles.h"
#include "RequestHandlerTest.h"
#include "ServerProcess.h"

namespace {

using Names = std::vector<std::string>;

std::string Read(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

// Two directories: the one the server keeps client files in, holding a
// subdirectory, a pipe and symbolic links that lead out, and one outside it
// holding a file that must stay as it is.
class ServedDirectory {
public:
    ServedDirectory()
    {
        EXPECT_EQ(mkdir((served / "sub").c_str(), 0700), 0);
        EXPECT_EQ(mkfifo((served / "pipe").c_str(), 0600), 0);
        std::ofstream(outside / "existing.txt") << "keep";
        EXPECT_EQ(symlink((outside / "existing.txt").c_str(), (served / "existing-link").c_str()), 0);
        EXPECT_EQ(symlink((outside / "victim.txt").c_str(), (served / "dangling-link").c_str()), 0);
    }

    // Whether everything is as it was made.
    void ExpectUntouched() const
    {
        EXPECT_EQ(served.Names(), (Names{"dangling-link", "existing-link", "pipe", "sub"}));
        EXPECT_EQ(outside.Names(), Names{"existing.txt"});
        EXPECT_EQ(Read(outside / "existing.txt"), "keep");
    }

    // Names a client must not use, each with why.
    std::vector<std::pair<std::string, const char*>> ForbiddenNames() const
    {
        return {{outside / "abs.txt", "absolute"},
                {"../escape.txt", "parent"},
                {"sub/inner.txt", "a directory part"},
                {".", "this directory"},
                {"..", "the parent"},
                {"sub", "a directory"},
                {"pipe", "a pipe"},
                {"existing-link", "a link to a file outside"},
                {"dangling-link", "a link to no file yet"},
                {std::string(256, 'n'), "longer than a directory entry"}};
    }

    ScratchDirectory served;
    ScratchDirectory outside;
};

TEST(CommandFilesRule, OnlyRegularFilesOrNewNamesInTheDirectory)
{
    ServedDirectory directory;
    std::ofstream(directory.served / "plain.txt") << "x";
    CCommandFiles files;
    files.ConfineTo(directory.served.path.c_str());
    for (const auto& [name, why] : directory.ForbiddenNames())
        EXPECT_FALSE(files.Allowed(name.c_str())) << why;
    EXPECT_TRUE(files.Allowed("plain.txt"));
    EXPECT_TRUE(files.Allowed("new.txt"));
    EXPECT_TRUE(files.Allowed(std::string(255, 'n').c_str()));

    // Opening a pipe that slipped in after the check must neither hang nor succeed.
    for (int flags : {O_RDONLY, O_WRONLY}) {
        errno = 0;
        EXPECT_EQ(files.Open("pipe", COMMAND_FILE_BINARY, flags, 0), -1) << flags;
        EXPECT_NE(errno, 0);
    }
    // A regular file opens as asked, without the non-blocking flag the check used.
    int fd = files.Open("plain.txt", COMMAND_FILE_BINARY, O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    close(fd);
}

// The request handler of a server whose client files are kept in a
// directory of the test.
class RemoteFiles : public RequestHandlerTest {
protected:
    void SetUp() override
    {
        RequestHandlerTest::SetUp();
        app.Files().ConfineTo(directory.served.path.c_str());
    }

    ServedDirectory directory;
};

TEST_F(RemoteFiles, ForbiddenNameRejectsTheLineAndTouchesNothing)
{
    for (const auto& [name, why] : directory.ForbiddenNames()) {
        for (const char* fileSwitch : {"-o:", "-nov:", "-f:", "-prom:"}) {
            EXPECT_EQ(Run("show; " + std::string(fileSwitch) + name + ";"), Messages{MSG_BAD_PARAMETERS})
                << fileSwitch << " " << why;
            EXPECT_EQ(Run("rwtest; -id:x; -ts:1; " + std::string(fileSwitch) + name + ";"),
                      Messages{MSG_BAD_PARAMETERS})
                << fileSwitch << " " << why;
        }
    }
    // A forbidden name rejects the line even when a later switch would win.
    EXPECT_EQ(Run("show; -o:" + (directory.outside / "abs.txt") + "; -o:fine.txt;"), Messages{MSG_BAD_PARAMETERS});
    EXPECT_EQ(Run("show; -nov:../up.txt; -o:fine.txt;"), Messages{MSG_BAD_PARAMETERS});
    directory.ExpectUntouched();
    // The controller holds nothing of a rejected line.
    EXPECT_STREQ(app.GetOutputFileName(), "");
}

TEST_F(RemoteFiles, BareNameLandsInTheServersDirectory)
{
    Messages reply = Run("show; -o:report.txt;");
    ASSERT_FALSE(reply.empty());
    EXPECT_EQ(reply.back(), MSG_SUCCESSFUL_COMPLETION);
    EXPECT_EQ(Run("show; -nov:report.txt;"), Messages{MSG_SUCCESSFUL_COMPLETION});
    EXPECT_EQ(Run("show; -f:" + std::string(255, 'b') + ";").back(), MSG_SUCCESSFUL_COMPLETION);
    Run("health; -prom:tapediag.prom;");
    const std::string report = Read(directory.served / "report.txt");
    size_t first = report.find("Accessible Tape Drives...");
    ASSERT_NE(first, std::string::npos) << report;
    EXPECT_NE(report.find("Accessible Tape Drives...", first + 1), std::string::npos);  // appended
    EXPECT_EQ(directory.served.Names(),
              (Names{"dangling-link", "existing-link", "pipe", "report.txt", "sub", "tapediag.prom"}));
}

// The program as a server, started in a working directory of its own: a
// relative name must not land there, nor anywhere but the served directory.
class RemoteFilesProcess : public ServerProcessTest {};

TEST_F(RemoteFilesProcess, OnlyBareNamesReachTheServedDirectory)
{
    ServedDirectory directory;
    ScratchDirectory workingDirectory;
    StartServer({"-dir:" + directory.served.path}, workingDirectory.path);
    EXPECT_NE(server->Output().find("SERVER MSG: Files named by clients are kept in " + directory.served.path + "\n"),
              std::string::npos)
        << server->Output();
    std::unique_ptr<WireEnd> client = Connect();
    for (const std::string& line :
         {"show; -o:" + (directory.outside / "abs.txt") + ";", std::string("show; -o:../up.txt;"),
          std::string("show; -nov:existing-link;"), std::string("show; -f:sub/x.bin;")}) {
        ASSERT_TRUE(client->Send(line));
        EXPECT_EQ(client->Until(COMPLETION_TOKENS), Messages{MSG_BAD_PARAMETERS}) << line;
    }
    ASSERT_TRUE(client->Send("show; -nov:report.txt;"));
    EXPECT_EQ(client->Until(COMPLETION_TOKENS), Messages{MSG_SUCCESSFUL_COMPLETION});
    client.reset();
    EXPECT_EQ(StopServer(), 1);

    EXPECT_NE(Read(directory.served / "report.txt").find("Accessible Tape Drives..."), std::string::npos);
    EXPECT_TRUE(workingDirectory.Names().empty());
    EXPECT_EQ(directory.outside.Names(), Names{"existing.txt"});
    EXPECT_EQ(Read(directory.outside / "existing.txt"), "keep");
}

TEST_F(RemoteFilesProcess, DefaultDirectoryIsTheProgramsOwn)
{
    StartServer();
    std::string program = TAPEDIAG_BIN;
    char resolved[PATH_MAX] = {};
    ASSERT_NE(realpath(program.substr(0, program.rfind('/')).c_str(), resolved), nullptr);
    EXPECT_NE(server->Output().find("SERVER MSG: Files named by clients are kept in " + std::string(resolved) + "\n"),
              std::string::npos)
        << server->Output();
    EXPECT_EQ(StopServer(), 1);
}

}  // namespace
