// The remote client of the diagnostic: `tapediag-client COMMAND [switches]
// [-ip:SERVER] [-cp:PORT] [-pw:PASSWORD | -pwfile:FILE]`. Exit status 1 when
// the server reported success, 0 otherwise.
#include "ClientProgram.h"
#include "DiagnosticHelp.h"

int main(int argc, char** argv)
{
    return RunClient(argc, argv, DIAGNOSTIC_HELP_LINES);
}
