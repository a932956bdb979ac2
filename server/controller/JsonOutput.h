// The -json output: one JSON document for a command in place of its lines,
// laid out as tapediag-output.schema.json describes. Every command has its
// word, its result, the drive it worked on and its output lines; show adds
// the drives, logpages the decoded pages, health the verdicts.
#ifndef TAPEDIAG_JSONOUTPUT_H
#define TAPEDIAG_JSONOUTPUT_H

#include <string>
#include <vector>

#include "CommandReport.h"
#include "DriveManager.h"

struct CJsonCommand {
    const char* word;  // "" when no command was recognised
    bool succeeded;
    const CTapeDrive* drive;  // null when the command worked on none, or on several
    const std::vector<std::string>& lines;
    const CCommandReport& report;
    CDriveManager* manager;  // null before discovery
};

// The document, indented, ASCII only. "<" and ">" are written as \u003c and
// \u003e, so the document crosses the wire to a client unchanged.
std::string JsonDocument(const CJsonCommand& command);

// A piece of output as the message path carries it: at most
// MAX_PIECE_LENGTH characters, and a line end after the last piece of a line.
struct COutputPiece {
    std::string text;
    bool newline;
};
const size_t MAX_PIECE_LENGTH = 4000;
std::vector<COutputPiece> OutputPieces(const std::string& text);

#endif
