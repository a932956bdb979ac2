// Files named in remote command lines: confined to the directory the server
// was given, as bare names, never through a link; anything else rejects the
// whole line before a file is touched, and without a directory a client
// names no file at all.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CommandFiles.h"
#include "FileSizeLimit.h"
#include "RequestHandlerTest.h"
#include "ServerProcess.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

std::string Read(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

// Two directories: the one the server keeps client files in, holding a
// subdirectory, a pipe, symbolic links that lead out and a second link to a
// file outside, and one outside it holding a file that must stay as it is.
class ServedDirectory {
public:
    ServedDirectory()
    {
        EXPECT_EQ(mkdir((served / "sub").c_str(), 0700), 0);
        EXPECT_EQ(mkfifo((served / "pipe").c_str(), 0600), 0);
        std::ofstream(outside / "existing.txt") << "keep";
        EXPECT_EQ(symlink((outside / "existing.txt").c_str(), (served / "existing-link").c_str()), 0);
        EXPECT_EQ(symlink((outside / "victim.txt").c_str(), (served / "dangling-link").c_str()), 0);
        EXPECT_EQ(link((outside / "existing.txt").c_str(), (served / "hard-link").c_str()), 0);
    }

    // Whether everything is as it was made.
    void ExpectUntouched() const
    {
        EXPECT_EQ(served.Names(), (Names{"dangling-link", "existing-link", "hard-link", "pipe", "sub"}));
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
                {"hard-link", "a second link to a file outside"},
                {std::string(256, 'n'), "longer than a directory entry"}};
    }

    ScratchDirectory served;
    ScratchDirectory outside;
};

TEST(CommandFilesRule, OnlyRegularFilesOrNewNamesInTheDirectory)
{
    ServedDirectory directory;
    CCommandFiles files;
    ASSERT_EQ(files.ConfineTo(directory.served.path), "");
    // The checks before a line runs, and each way of opening or writing a
    // file on its own, for an entry that slipped in after the checks.
    const unsigned char bytes[] = {'x'};
    for (const auto& [name, why] : directory.ForbiddenNames()) {
        EXPECT_FALSE(files.Allowed(name.c_str())) << why;
        for (int flags : {O_RDONLY, O_WRONLY | O_CREAT | O_APPEND})
            EXPECT_EQ(files.Open(name.c_str(), flags, 0666), -1) << why << " " << flags;
        EXPECT_NE(files.Replace(name.c_str(), bytes, sizeof bytes), FILE_WRITTEN) << why;
    }
    directory.ExpectUntouched();

    std::ofstream(directory.served / "plain.txt") << "x";
    EXPECT_TRUE(files.Allowed("plain.txt"));
    EXPECT_TRUE(files.Allowed("new.txt"));
    EXPECT_TRUE(files.Allowed(std::string(255, 'n').c_str()));
    // A regular file opens as asked, without the non-blocking flag the check used.
    int fd = files.Open("plain.txt", O_RDONLY, 0);
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
        ASSERT_EQ(app.Files().ConfineTo(directory.served.path), "");
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
              (Names{"dangling-link", "existing-link", "hard-link", "pipe", "report.txt", "sub", "tapediag.prom"}));
}

TEST_F(RemoteFiles, FileThatCannotBeWrittenFailsTheCommand)
{
    const std::string full = directory.served / "full.txt";
    std::ofstream(full) << std::string(4096, 'x');
    const struct {
        std::string line;
        std::string problem;
    } rows[] = {
        {"show; -o:full.txt;", "tapediag: report file " + full + ": File too large\n"},
        {"show; -nov:full.txt;", "tapediag: report file " + full + ": File too large\n"},
        {"eeprom; -id:x; -f:eeprom.bin;",
         "tapediag: capture file " + (directory.served / "eeprom.bin") + ": File too large\n"},
    };
    for (const auto& row : rows) {
        Messages reply;
        {
            FileSizeLimit limit(4096);
            reply = Run(row.line);
        }
        EXPECT_NE(record.find(row.problem), std::string::npos) << record;
        ASSERT_FALSE(reply.empty()) << row.line;
        EXPECT_EQ(reply.back(), MSG_UNSUCCESSFUL_COMPLETION) << row.line;
    }
    EXPECT_FALSE(directory.served.Holds("eeprom.bin"));
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
          std::string("show; -nov:existing-link;"), std::string("show; -f:sub/x.bin;"),
          std::string("show; -o:hard-link;"), std::string("cmemory; -id:x; -f:hard-link;")}) {
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

// The program installed where its users' programs are, a server started
// without -dir:: no client may write over anything there, itself included.
TEST_F(RemoteFilesProcess, WithoutADirectoryAClientNamesNoFile)
{
    ScratchDirectory bin, workingDirectory;
    const std::string program = bin / "tapediag";
    fs::copy_file(TAPEDIAG_BIN, program);
    struct stat before = {};
    ASSERT_EQ(stat(program.c_str(), &before), 0);
    StartServer({}, workingDirectory.path, "127.0.0.1", program);
    EXPECT_NE(server->Output().find("SERVER MSG: Clients may name no files (no -dir: was given)\n"), std::string::npos)
        << server->Output();

    std::unique_ptr<WireEnd> client = Connect();
    for (const char* line : {"cmemory; -id:x; -f:tapediag;", "show; -o:tapediag;", "show; -nov:tapediag;",
                             "show; -o:report.txt;", "upgrade; -id:x; -f:u120B-fw.bin;"}) {
        ASSERT_TRUE(client->Send(line));
        EXPECT_EQ(client->Until(COMPLETION_TOKENS), Messages{MSG_BAD_PARAMETERS}) << line;
    }
    // An empty -nov: names no file: it only keeps the output from the client.
    ASSERT_TRUE(client->Send("show; -nov:;"));
    EXPECT_EQ(client->Until(COMPLETION_TOKENS), Messages{MSG_SUCCESSFUL_COMPLETION});
    client.reset();
    EXPECT_EQ(StopServer(), 1);

    struct stat after = {};
    ASSERT_EQ(stat(program.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(bin.Names(), Names{"tapediag"});
    EXPECT_TRUE(workingDirectory.Names().empty());
}

// The directory is held from the start: renamed, and a symbolic link put in
// its place, the files still land in it and never where the link leads.
TEST_F(RemoteFilesProcess, DirectorySwappedForALinkAfterTheStartIsNotFollowed)
{
    ScratchDirectory root, outside;
    ASSERT_EQ(mkdir((root / "served").c_str(), 0700), 0);
    StartServer({"-dir:" + (root / "served")});
    ASSERT_EQ(rename((root / "served").c_str(), (root / "moved").c_str()), 0);
    ASSERT_EQ(symlink(outside.path.c_str(), (root / "served").c_str()), 0);

    std::unique_ptr<WireEnd> client = Connect();
    for (const char* line : {"show; -o:report.txt;", "cmemory; -id:x; -f:memory.bin;"}) {
        ASSERT_TRUE(client->Send(line));
        const Messages reply = client->Until(COMPLETION_TOKENS);
        ASSERT_FALSE(reply.empty()) << line;
        EXPECT_EQ(reply.back(), MSG_SUCCESSFUL_COMPLETION) << line;
    }
    client.reset();
    EXPECT_EQ(StopServer(), 1);

    Names moved;
    for (const auto& entry : fs::directory_iterator(root / "moved"))
        moved.push_back(entry.path().filename());
    std::sort(moved.begin(), moved.end());
    EXPECT_EQ(moved, (Names{"memory.bin", "report.txt"}));
    EXPECT_TRUE(outside.Names().empty());
}

// A directory the server cannot write to stops its start, with the reason.
TEST(RemoteFilesStart, UnwritableDirectoryStopsTheStart)
{
    ScratchDirectory scratch;
    const std::string served = scratch / "served";
    ASSERT_EQ(mkdir(served.c_str(), 0555), 0);
    std::vector<std::string> command{TAPEDIAG_BIN, "server", "-ip:127.0.0.1", "-dev:sim:dds4", "-dir:" + served};
    if (geteuid() == 0) {
        // Root writes anywhere: the server runs as nobody, from a copy that
        // nobody may run.
        ASSERT_EQ(chmod(scratch.path.c_str(), 0755), 0);
        fs::copy_file(TAPEDIAG_BIN, scratch / "tapediag");
        command[0] = scratch / "tapediag";
        command.insert(command.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    ChildProcess refused(command[0], std::vector<std::string>(command.begin() + 1, command.end()));
    EXPECT_EQ(refused.Finish(30000), 0);
    EXPECT_EQ(refused.Errors(), "SERVER MSG: Unable to use the directory " + served +
                                    " for files named by clients: it is not writable (Permission denied).\n");
    EXPECT_EQ(refused.Output(), "\nPress Enter to close.\n") << "no drive was looked for";
}

}  // namespace
