// Server mode: the diagnostic program serves remote clients over TCP.
#ifndef TAPEDIAG_SERVERMODE_H
#define TAPEDIAG_SERVERMODE_H

class CApplication;
class CUtility;

// Runs server mode for `tapediag server [options]`. Returns the program's
// status (true for success); stoppedByRequest tells that a client asked the
// server to stop, which suppresses the closing prompt.
bool RunServerMode(CApplication& app, CUtility& utility, int argc, char** argv, bool& stoppedByRequest);

#endif
