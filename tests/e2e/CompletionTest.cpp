// The bash completion of both programs, run in bash as the shell runs it:
// the candidates offered for what has been typed so far.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "ChildProcess.h"
#include "CommandTable.h"

namespace {

using Words = std::vector<std::string>;

// What bash offers for the typed line, sorted; files are looked for in
// directory.
Words Candidates(const std::string& typed, const std::string& directory)
{
    const std::string script = "source \"$0\" || exit 2; COMP_LINE=$1; COMP_POINT=${#COMP_LINE}; "
                               "_tapediag_complete; printf '%s\\n' \"${COMPREPLY[@]}\"";
    ChildProcess bash("/bin/bash", {"--norc", "--noprofile", "-c", script, TAPEDIAG_COMPLETION, typed}, directory);
    EXPECT_EQ(bash.Finish(), 0) << typed << ": " << bash.Errors();
    Words words;
    for (const std::string& line : bash.OutputLines()) {
        if (!line.empty())
            words.push_back(line);
    }
    std::sort(words.begin(), words.end());
    return words;
}

TEST(Completion, OffersWhatTheTablesHoldForEachPrefix)
{
    char pattern[] = "/tmp/tapediag-completion-XXXXXX";
    const std::string directory = mkdtemp(pattern);
    std::ofstream(directory + "/report.txt") << "";
    mkdir((directory + "/results").c_str(), 0700);

    Words commands{"server"};
    size_t count = 0;
    const CCommandRow* rows = CommandRows(count);
    for (size_t i = 0; i < count; ++i)
        commands.push_back(rows[i].word);
    std::sort(commands.begin(), commands.end());

    // Bash replaces only what follows the last ":" or "=" of a word, so
    // that is what a candidate holds there.
    const struct {
        const char* typed;
        Words offered;
    } cases[] = {
        {"tapediag ", commands},
        {"tapediag rw", {"rwtest"}},
        {"tapediag rwtest -t", {"-ts:"}},
        {"tapediag rwtest -id:x -f", {"-f:", "-fr"}},
        {"tapediag set -load:h", {"hold"}},
        {"tapediag show -dev:sim:ult", {"ultrium"}},
        {"tapediag rwtest -dev:sim:ultrium,nocart,read-e", {"ultrium,nocart,read-error="}},
        {"tapediag rwtest -o:re", {"report.txt", "results/"}},
        {"tapediag server -pw", {"-pw:", "-pwfile:"}},
        {"tapediag server -dir:r", {"results/"}},
        {"tapediag-client -ip:127.0.0.1 logp", {"logpages"}},
        {"tapediag-client show -pw", {"-pw:", "-pwfile:"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Candidates(c.typed, directory), c.offered) << c.typed;

    std::remove((directory + "/report.txt").c_str());
    rmdir((directory + "/results").c_str());
    rmdir(directory.c_str());
}

TEST(Completion, CoversBothPrograms)
{
    ChildProcess bash("/bin/bash",
                      {"--norc", "--noprofile", "-c", "source \"$0\" && complete -p", TAPEDIAG_COMPLETION});
    EXPECT_EQ(bash.Finish(), 0);
    EXPECT_EQ(bash.Output(), "complete -F _tapediag_complete tapediag\n"
                             "complete -F _tapediag_complete tapediag-client\n");
}

}  // namespace
