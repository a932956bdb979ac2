// A password kept in a file, so that it never shows in the process list:
// the file's first line, without its line end. Both programs read it the
// same way (the server's and the client's -pwfile:).
#ifndef TAPEDIAG_PASSWORDFILE_H
#define TAPEDIAG_PASSWORDFILE_H

#include <string>

// The first line of the file at path, without its line end ("\n" or
// "\r\n"). Reading stops past the longest text a message can carry. False,
// with the system's reason, when the file cannot be read.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& reason);

#endif
