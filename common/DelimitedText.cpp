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
