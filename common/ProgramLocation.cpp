#include "ProgramLocation.h"

#include <cstring>

#include "VString.h"

namespace {

char pathName[MAX_PROGRAM_LOCATION + 1] = {};
char execName[MAX_PROGRAM_LOCATION + 1] = {};

void CopyField(char* field, const char* text)
{
    size_t length = strnlen(text, MAX_PROGRAM_LOCATION);
    std::memcpy(field, text, length);
    field[length] = '\0';
}

}  // namespace

void SaveProgramLocation(const char* startedName)
{
    CVString started(startedName);
    CVString path(started);
    CVString name(started);
    int slash = started.ReverseFind('/');
    if (slash != -1) {
        path = started.Left(slash);
        name = started.Mid(slash + 1, -1);
    } else {
        // A drive letter ("C:diag.exe") is kept as the directory; any other
        // colon only separates the name.
        int colon = started.ReverseFind(':');
        if (colon == 1) {
            path = started.Left(1);
            path += ":";
            name = started.Mid(2, -1);
        } else if (colon != -1) {
            path.Empty();
            name = started.Mid(colon + 1, -1);
        } else {
            path.Empty();
        }
    }
    int exe = name.ReverseFind(".exe");
    if (exe != -1)
        name = name.Left(exe);
    CopyField(pathName, path);
    CopyField(execName, name);
}

const char* ProgramDirectory()
{
    return pathName;
}

const char* ProgramName()
{
    return execName;
}
