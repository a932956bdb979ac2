// The texts both programs print about their own use: the short usage text of
// the diagnostic command line, shown when a command line is rejected, the
// lines of the complete help (--help) and the line that says why a command
// line was rejected. The short help goes straight to standard output, never
// to a report file or a remote client.
#ifndef TAPEDIAG_HELP_H
#define TAPEDIAG_HELP_H

#include <string>
#include <vector>

class CHelp {
public:
    CHelp() {}
    virtual ~CHelp() {}

    // Prints the whole short help with execName in the usage line ("exec"
    // for null), then waits for one character from standard input.
    void DisplayHelp(const char* execName);
    // DisplayHelp without the wait.
    void PrintShortHelp(const char* execName);
    // The command and switch lines.
    void PrintDetailedHelp();
    // The wait that ends DisplayHelp: returns when the user presses Enter.
    static void WaitForKey();
};

// The banner and rights notice shared by every help text of the programs.
extern const char* const PROGRAM_BANNER;
extern const char* const RIGHTS_NOTICE;
// The version --version reports ("2.0.0").
extern const char* const PROGRAM_VERSION;

// One line of a complete help: the term, and from a fixed column on what it
// does (a term too long for its column is followed by two blanks).
std::string HelpLine(const std::string& term, const std::string& description);

// "a", "a or b", "a, b or c".
std::string Alternatives(const std::vector<std::string>& items);

// Why an argument was rejected: the argument as given, and what would have
// been accepted in its place.
std::string RejectedArgument(const std::string& argument, const std::string& accepted);

// Prints "program: reason" as one line on standard error.
void PrintRejection(const char* program, const std::string& reason);

#endif
