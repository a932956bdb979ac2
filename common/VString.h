// CVString: the one string type of tapediag. A fixed-capacity value: the text
// lives in a 4096-byte buffer inside the object (at most 4094 characters), so
// nothing is allocated and copies are full copies.
//
// Two rules shape the rest of the program:
//  - text taken in from a `const char*` is cut at its first control character
//    (0x01-0x1F, 0x7F), so a line read with its line end loses it;
//  - an append that would reach 4095 characters is refused whole, never cut.
#ifndef TAPEDIAG_VSTRING_H
#define TAPEDIAG_VSTRING_H

#include "MessageCatalogue.h"

const int VSTRING_BUFFER_SIZE = 4096;
const int VSTRING_MAX_LENGTH = 4094;

class CVString {
public:
    CVString();
    CVString(const CVString& other);
    CVString(const char* text);

    CVString& operator=(const CVString& other);
    CVString& operator=(const char* text);
    CVString& operator=(const char c);

    CVString operator+(const CVString& other) const;
    CVString& operator+=(const char c);
    CVString& operator+=(const CVString& other);
    CVString& operator+=(const char* text);
    void Append(const char* text);

    bool operator==(const CVString& other) const;
    bool operator!=(const CVString& other) const;
    bool operator==(const char* text) const;
    bool operator!=(const char* text) const;

    // Positions 0 to 4094 read the buffer; any other position reads 'X'.
    char operator[](int position) const;
    // Positions outside 0 to 4094 are ignored.
    void SetAt(int position, const char c);

    operator const char*() const { return m_buffer; }

    int GetLength() const;
    bool IsEmpty() const { return m_buffer[0] == '\0'; }
    void Empty();

    // printf-style formatting of one value; the result is not cleaned.
    void Format(const char* format, int value);
    void Format(const char* format, long value);
    void Format(const char* format, long long value);
    void Format(const char* format, unsigned long value);
    void Format(const char* format, float value);
    void Format(const char* format, double value);
    void Format(const char* format, unsigned char value);

    // Copies catalogue text `id` over the text; true when it is not empty.
    // An id outside the catalogue loads nothing and gives false.
    bool LdString(int id);

    void MakeLower();
    void MakeUpper();

    CVString Mid(int start, int count) const;
    CVString Left(int n) const;
    CVString Right(int n) const;

    void Trim();
    void TrimLeft();
    void TrimRight();

    // Searches return a position, or -1. A start of -1 means "from the
    // beginning" (Find) or "from the end" (ReverseFind).
    int Find(const char* sub, int start = -1) const;
    int Find(char c, int start = -1) const;
    int ReverseFind(const char* sub, int start = -1) const;
    int ReverseFind(char c, int start = -1) const;
    // True when the last + 1 characters from pos equal the start of sub.
    bool SubFind(const char* sub, int pos, int last) const;

    // Ends the text at its first control character.
    void RemoveCtrlCharacters();

private:
    void ZeroFill();
    void TakeIn(const char* text);
    template <typename T>
    void FormatValue(const char* format, T value);

    char m_buffer[VSTRING_BUFFER_SIZE];
};

// The catalogue text `id` as a string.
CVString CatalogueText(CatalogueId id);

#endif
