// What the diagnostics engine sees of the controller that runs it: the drive
// the command works on, the command's settings, the one path for output
// lines, and the rule for the files the command names. (Time comes from the
// one clock, Clock.h, as everywhere.) The
// controller is handed to the engine when the engine is made; the engine
// never reaches it any other way.
#ifndef TAPEDIAG_COMMANDCONTEXT_H
#define TAPEDIAG_COMMANDCONTEXT_H

#include <string>

#include "AppOutput.h"
#include "CommandFiles.h"
#include "CommandReport.h"
#include "CommandSettings.h"
#include "TapeDrive.h"
#include "VString.h"

// The two passes of the read/write and compression tests.
enum ETestPhase { TEST_PHASE_WRITE, TEST_PHASE_READ };

class CCommandContext : public CAppOutput {
public:
    using CAppOutput::OSType;
    // The platform kind: the host's drive manager sets it when it is made.
    virtual void OSType(int kind) = 0;
    // True when the program serves a remote client.
    virtual bool ClientServerConnection() const = 0;

    virtual CTapeDrive* GetCurrentDriveSelected() const = 0;
    virtual const CCommandSettings& Settings() const = 0;
    virtual const CCommandFiles& Files() const = 0;

    // What the command found, as data; emptied before each command.
    virtual CCommandReport& Report() = 0;

    // One line holding the current local date and time, ctime layout.
    virtual void TimeStamp() = 0;

    // A test has moved `done` of the `total` bytes of a phase; called after
    // every block. A controller that shows progress to a local user draws
    // it; nothing of it is output of the command.
    virtual void TestProgress(ETestPhase, unsigned long long /*done*/, unsigned long long /*total*/) {}

    // A line for the local user's standard error, never output of the
    // command: a device that cannot be used, or the path its commands take.
    virtual void DeviceNotice(const std::string& line) = 0;

    // A file the command names (`what`: "report file", "capture file",
    // "firmware file") could not be used for `reason`: one line
    // naming the file and the reason for the local user's standard error
    // (the server's console in server mode), never output of the command.
    virtual void FileProblem(const char* what, const char* name, const std::string& reason) = 0;

    // Catalogue text `id` as one piece of output.
    void Msg(int id, bool newline)
    {
        CVString text;
        text.LdString(id);
        Msg(text, newline);
    }
    using CAppOutput::Msg;

    // The command's settings under the names the diagnostics read them by.
    int GetMegaBytesSet() const { return Settings().testSize; }
    bool IsRetensionChecked() const { return Settings().retension; }
    bool ReadOnlyTest() const { return false; }
    int GetByteType() const { return 1; }
    bool EngineeringMode() const { return Settings().engineering; }
    void GetFileSelected(CVString& name) const { name = Settings().binaryFileName; }
    bool IgnoreSwitchSet() const { return Settings().ignore; }
    bool Verbose() const { return Settings().verbose; }
    bool NRSwitch() const { return Settings().noClosePrompt; }
};

#endif
