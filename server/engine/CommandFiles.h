// The files a command names: the text report file (-o:, -nov:) and the
// binary file (-f:), which the capture commands write and the firmware
// upgrade reads. Every such file is opened here, so the rule for where it
// lands is kept in one place.
//
// A local user may name any path. A bare binary file name lands in the
// program's directory (in the current directory when the program was started
// without one, as through a PATH search); a report file name is used as
// given. In server mode every command comes from a remote client, which must
// never make the server reach a file of its choosing: there every name must
// be a bare file name, and it is opened in the server's directory without
// following a symbolic link; only a regular file, or none yet, may be named
// there.
#ifndef TAPEDIAG_COMMANDFILES_H
#define TAPEDIAG_COMMANDFILES_H

#include <sys/types.h>

#include <string>

#include "VString.h"

enum ECommandFile {
    COMMAND_FILE_REPORT,  // -o:, -nov:
    COMMAND_FILE_BINARY   // -f:
};

class CCommandFiles {
public:
    // From now on every name is confined to `directory`.
    void ConfineTo(const char* directory);
    bool Confined() const { return m_confined; }
    const char* Directory() const { return m_directory; }

    // A name with no directory part: not empty, no "/", not "." or "..",
    // and short enough to be one entry of a directory.
    static bool IsBareName(const char* name);
    // Whether a command may name `name`; an empty name (none given) always
    // may. When confined: a bare name whose entry in the directory, if there
    // is one, is a regular file (not a symbolic link, directory, pipe or
    // device). Looks at the directory but touches nothing in it.
    bool Allowed(const char* name) const;

    // Opens the file with open(2) flags and creation mode; the descriptor,
    // or -1 with errno set (EACCES for a name a confined command may not use).
    int Open(const char* name, ECommandFile kind, int flags, mode_t mode) const;

    // Replaces the file with `content` in one step: a reader finds the old
    // file or the whole new one, never a part (the content goes to a new
    // file beside it, which is then renamed over it). False with errno set.
    bool ReplaceWhole(const char* name, ECommandFile kind, const std::string& content) const;

    // Where a local command's file is opened: the name as given, or for a
    // bare binary name the program's directory, "/" and the name.
    static CVString LocalPath(const char* name, ECommandFile kind);
    // Where Open opens `name`, confined or not.
    CVString Path(const char* name, ECommandFile kind) const;

private:
    int OpenDirectory() const;

    bool m_confined = false;
    CVString m_directory;
};

#endif
