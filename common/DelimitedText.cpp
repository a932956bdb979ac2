#include "DelimitedText.h"

#include <cstring>

CVString ArgumentsToDelimitedText(int argc, char** argv)
{
    CVString text;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "null") == 0)
            continue;
        text += argv[i];
        text.Trim();
        text += "; ";
    }
    text.Trim();
    return text;
}

CVString CommandWordOf(const char* delimited)
{
    CVString word(delimited);
    const int semicolon = word.Find(';');
    if (semicolon != -1)
        word = word.Left(semicolon);
    word.Trim();
    return word;
}
