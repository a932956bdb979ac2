// The options of `tapediag server`, as the complete help and the shell
// completion show them. The server's parser (ParseServerArgs) must take
// each of them; a test holds the two together.
#ifndef TAPEDIAG_SERVEROPTIONTABLE_H
#define TAPEDIAG_SERVEROPTIONTABLE_H

#include <cstddef>

struct CServerOptionText {
    const char* text;   // "-cp:"
    const char* value;  // what follows it, as the help names it: "PORT"
    const char* help;
};

const CServerOptionText* ServerOptionTexts(size_t& count);

#endif
