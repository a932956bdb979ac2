// Where the program was started from: its directory (no trailing slash) and
// its name without ".exe". Recorded once at start-up. No file a command
// names is looked for there: a bare name is taken from the current directory.
#ifndef TAPEDIAG_PROGRAMLOCATION_H
#define TAPEDIAG_PROGRAMLOCATION_H

// Longest directory or name kept; a longer one is cut.
const int MAX_PROGRAM_LOCATION = 511;

void SaveProgramLocation(const char* startedName);
const char* ProgramDirectory();
const char* ProgramName();

#endif
