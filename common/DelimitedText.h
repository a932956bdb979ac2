// The delimited form of a command line, shared by the diagnostic and the
// client: every parameter followed by a semicolon ("rwtest; -id:x; -ts:200;").
#ifndef TAPEDIAG_DELIMITEDTEXT_H
#define TAPEDIAG_DELIMITEDTEXT_H

#include "VString.h"

// The arguments after the program name, each trimmed and followed by "; ",
// the whole trimmed. An argument "null" (a switch taken out) is left out; an
// argument that would make the text reach 4095 characters is dropped whole.
CVString ArgumentsToDelimitedText(int argc, char** argv);

// The command word of a line in the delimited form: its first parameter,
// the text before the first semicolon (all of it when there is none),
// without the blanks around it.
CVString CommandWordOf(const char* delimited);

#endif
