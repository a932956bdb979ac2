// CUtility: turns one command line into the controller's settings. A line
// arrives as an argument vector, a typed line or (from a remote client)
// already in the delimited form, in which every parameter is followed by a
// semicolon. The delimited form is split into at most 32 parameters: the
// command word, then switches matched against a fixed table in a fixed order.
// CUtility also keeps the process-wide pointer to its controller, cleared
// when the parser goes, and the directory and name the program was started
// with.
#ifndef TAPEDIAG_UTILITY_H
#define TAPEDIAG_UTILITY_H

#include <string>
#include <vector>

#include "VString.h"

class CApplication;

// One switch form of the command line, as the parser tests it.
struct CSwitchText {
    const char* text;
    bool takesValue;  // a prefix such as "-ts:" that a value follows
};

const int MAX_PARAMETERS = 32;
// Serial number, file names and device names are held in 512-byte fields.
const int MAX_FIELD_LENGTH = 511;

class CUtility {
public:
    explicit CUtility(CApplication* appl);
    virtual ~CUtility();
    CUtility(const CUtility&) = delete;
    CUtility& operator=(const CUtility&) = delete;

    // The controller of the parser made last; null once that parser is gone.
    static CApplication* GetAppl();
    // The controller this parser fills.
    CApplication& Controller() const { return *m_application; }

    // Records the directory and the name (without ".exe") of the started program.
    static void SavePathAndExeName(const char* startedName);
    static const char* GetPath();
    static const char* GetExecName();

    // True when every character is a digit 0-9; true for the empty text.
    static bool IsNumber(const char* text);

    void InitParameters();
    static CVString CmdLineArgsToDelimitedStr(int argc, char** argv);
    static CVString BasicStrToDelimitedStr(const char* line);
    static CVString DelimitCmd(const char* line);
    static CVString DelimitSwitches(const char* switches);

    // Reset the controller's settings, split and parse the line. True when
    // accepted; a rejected line shows the short help and, on standard
    // error, the reason, unless the program serves a remote client.
    bool SetParameters(int argc, char** argv);
    bool SetParameters(const char* delimited);
    bool ParseParameters();

    // Parses the value of an -id: switch (param is the whole switch). Every
    // output is -1 unless the form names it. False when the value is malformed.
    static bool SetIds(const char* param, int& port, int& bus, int& target, int& lun);
    static bool EqualStrings(const char* a, const char* b);

    // Why the last line was rejected: the argument and what would have been
    // accepted in its place, or that no command was given. Empty after a
    // line that was accepted.
    const std::string& RejectionReason() const { return m_rejection; }

    // The switch forms, in the order they are tested.
    static std::vector<CSwitchText> SwitchTexts();
    // The commands and the switches of the complete help, one line each.
    static std::vector<std::string> HelpLines();

    int GetParameterCount() const { return m_parameterCount; }
    const CVString& GetParameter(int index) const { return m_parameters[index]; }

private:
    bool ParseCommandWord();
    bool ParseSwitch(const CVString& parameter);

    CApplication* m_application;
    int m_parameterCount;
    CVString m_parameters[MAX_PARAMETERS];
    std::string m_rejection;
};

#endif
