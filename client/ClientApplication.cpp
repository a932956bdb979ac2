#include "ClientApplication.h"

#include <cstdio>

void CClientApplication::Msg(const CVString& text, bool newline)
{
    std::fputs(text, stdout);
    if (newline) {
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}

void CClientApplication::Msg(int id, bool newline)
{
    CVString text;
    text.LdString(id);
    Msg(text, newline);
}
