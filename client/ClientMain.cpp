// The remote client of the diagnostic: `tapediag-client COMMAND [switches]
// [-ip:ADDRESS] [-cp:PORT] [-pw:PASSWORD]`. Exit status 1 when the server
// reported success, 0 otherwise.
#include "ClientProgram.h"

int main(int argc, char** argv)
{
    return RunClient(argc, argv);
}
