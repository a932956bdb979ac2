// The diagnostic's command and switch lines of the complete help, for the
// client's --help. They are generated at build time from the diagnostic's
// command and switch tables (completion/ExportTables.cpp), so that the
// client lists every command the server takes.
#ifndef TAPEDIAG_DIAGNOSTICHELP_H
#define TAPEDIAG_DIAGNOSTICHELP_H

// The lines, up to a null.
extern const char* const DIAGNOSTIC_HELP_LINES[];

#endif
