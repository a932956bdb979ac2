// The short usage text of the diagnostic command line, shown when a command
// line is rejected. It goes straight to standard output, never to a report
// file or a remote client.
#ifndef TAPEDIAG_HELP_H
#define TAPEDIAG_HELP_H

class CHelp {
public:
    CHelp() {}
    virtual ~CHelp() {}

    // Prints the whole help with execName in the usage line ("exec" for
    // null), then waits for one character from standard input.
    void DisplayHelp(const char* execName);
    // The command and switch lines.
    void PrintDetailedHelp();
};

// The banner and rights notice shared by every help text of the programs.
extern const char* const PROGRAM_BANNER;
extern const char* const RIGHTS_NOTICE;

#endif
