// The files a command names: the text report file (-o:, -nov:) and the
// binary file (-f:), which the capture commands write and the firmware
// upgrade reads. Every such file is opened here, so the rule for where it
// lands is kept in one place.
//
// A local user may name any path; a relative one, a bare name included, is
// taken from the current directory. In server mode every command comes from
// a remote client, which must never make the server reach a file of its
// choosing. There every name must be a bare file name, opened relative to
// the directory the administrator named, which is held open from the start
// (so that renaming it, or a symbolic link put in its place, leads nowhere
// else); only a regular file with no other link, or none yet, may be named
// there, and never through a symbolic link. Without such a directory a client
// may name no file at all.
#ifndef TAPEDIAG_COMMANDFILES_H
#define TAPEDIAG_COMMANDFILES_H

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "VString.h"

// How far writing a whole file got.
enum EFileWrite { FILE_WRITTEN, FILE_NOT_OPENED, FILE_NOT_WRITTEN };

class CCommandFiles {
public:
    CCommandFiles() = default;
    ~CCommandFiles();
    CCommandFiles(const CCommandFiles&) = delete;
    CCommandFiles& operator=(const CCommandFiles&) = delete;

    // From now on every name is confined to `directory`, opened here once
    // and for good; an empty one lets no name through. Empty when confined,
    // else why the directory cannot serve (it cannot be opened, or this
    // program cannot create files in it).
    std::string ConfineTo(const std::string& directory);

    // A name with no directory part: not empty, no "/", not "." or "..",
    // and short enough to be one entry of a directory.
    static bool IsBareName(const char* name);
    // Whether a command may name `name`; an empty name (none given) always
    // may. When confined: a bare name whose entry in the directory, if there
    // is one, is a regular file with no other link (not a symbolic link,
    // directory, pipe or device). Looks at the directory but touches nothing.
    bool Allowed(const char* name) const;

    // Opens the file with open(2) flags and creation mode; the descriptor,
    // or -1 with errno set (EACCES for a name a confined command may not
    // use, EMLINK for a confined file with another link).
    int Open(const char* name, int flags, mode_t mode) const;

    // Replaces the file with `length` bytes: they are written to a new file
    // in the same directory, flushed to the disk and renamed into place, so
    // a write that fails leaves an earlier file as it was. A file replaced
    // keeps its permissions (and its owner, where this program may give it
    // away); a local name of a device or a pipe is written in place. errno
    // tells why when the result is not FILE_WRITTEN.
    EFileWrite Replace(const char* name, const unsigned char* data, size_t length) const;

    // Where Open opens `name`, for the user to read: the name as given, or
    // in the server's directory.
    CVString Path(const char* name) const;

private:
    // The directory the new file goes in, and its name there.
    struct CTarget;
    bool Locate(const char* name, CTarget& target) const;
    bool m_confined = false;
    std::string m_directoryPath;
    int m_directory = -1;
};

#endif
