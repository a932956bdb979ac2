// CClientApplication: the client's small controller. The drive record's text
// operations, compiled into the client too, write their lines through it; in
// the client every line goes to standard output.
//
// Not named CApplication: the test programs link the client's library next
// to the diagnostic program's, whose controller has that name.
#ifndef TAPEDIAG_CLIENTAPPLICATION_H
#define TAPEDIAG_CLIENTAPPLICATION_H

#include "AppOutput.h"
#include "DriveTypes.h"
#include "VString.h"

class CClientApplication : public CAppOutput {
public:
    CClientApplication() {}
    virtual ~CClientApplication() {}

    // The text, then a line end and a flush when newline is true.
    void Msg(const CVString& text, bool newline) override;
    // Catalogue text id, written as Msg(CVString, bool) writes it.
    void Msg(int id, bool newline);
    // The client knows of no platform kind.
    int OSType() const override { return PLATFORM_KIND_NONE; }
};

#endif
