// What a drive record needs of the program it lives in: the platform kind
// (it selects the address form) and the path that carries output lines.
// The diagnostic program's controller and the client's small controller both
// provide it.
#ifndef TAPEDIAG_APPOUTPUT_H
#define TAPEDIAG_APPOUTPUT_H

#include "VString.h"

class CAppOutput {
public:
    virtual ~CAppOutput() {}
    virtual void Msg(const CVString& text, bool newline) = 0;
    virtual int OSType() const = 0;
};

#endif
