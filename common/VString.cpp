#include "VString.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

bool IsControl(unsigned char c)
{
    return (c >= 0x01 && c <= 0x1F) || c == 0x7F;
}

}  // namespace

CVString::CVString()
{
    ZeroFill();
}

CVString::CVString(const CVString& other)
{
    ZeroFill();
    std::memcpy(m_buffer, other.m_buffer, other.GetLength());
}

CVString::CVString(const char* text)
{
    TakeIn(text);
}

CVString& CVString::operator=(const CVString& other)
{
    if (this != &other) {
        ZeroFill();
        std::memcpy(m_buffer, other.m_buffer, other.GetLength());
    }
    return *this;
}

CVString& CVString::operator=(const char* text)
{
    if (text == m_buffer) {
        CVString copy(*this);
        TakeIn(copy.m_buffer);
    } else {
        TakeIn(text);
    }
    return *this;
}

CVString& CVString::operator=(const char c)
{
    ZeroFill();
    m_buffer[0] = c;
    return *this;
}

void CVString::ZeroFill()
{
    std::memset(m_buffer, 0, sizeof m_buffer);
}

void CVString::TakeIn(const char* text)
{
    ZeroFill();
    if (text == nullptr)
        return;
    size_t length = strnlen(text, VSTRING_MAX_LENGTH + 1);
    if (length > static_cast<size_t>(VSTRING_MAX_LENGTH))
        length = VSTRING_MAX_LENGTH;
    std::memcpy(m_buffer, text, length);
    RemoveCtrlCharacters();
}

CVString CVString::operator+(const CVString& other) const
{
    CVString sum(m_buffer);
    sum += other;
    return sum;
}

CVString& CVString::operator+=(const char c)
{
    int length = GetLength();
    if (length + 1 < VSTRING_MAX_LENGTH + 1) {
        m_buffer[length] = c;
        m_buffer[length + 1] = '\0';
    }
    return *this;
}

CVString& CVString::operator+=(const CVString& other)
{
    int length = GetLength();
    int otherLength = other.GetLength();
    if (length + otherLength < VSTRING_MAX_LENGTH + 1) {
        std::memmove(m_buffer + length, other.m_buffer, otherLength);
        m_buffer[length + otherLength] = '\0';
    }
    return *this;
}

CVString& CVString::operator+=(const char* text)
{
    if (text == nullptr)
        return *this;
    int length = GetLength();
    size_t textLength = strnlen(text, VSTRING_BUFFER_SIZE);
    if (length + textLength < static_cast<size_t>(VSTRING_MAX_LENGTH + 1)) {
        std::memmove(m_buffer + length, text, textLength);
        m_buffer[length + textLength] = '\0';
        RemoveCtrlCharacters();
    }
    return *this;
}

void CVString::Append(const char* text)
{
    *this += text;
}

bool CVString::operator==(const CVString& other) const
{
    return std::strcmp(m_buffer, other.m_buffer) == 0;
}

bool CVString::operator!=(const CVString& other) const
{
    return !(*this == other);
}

bool CVString::operator==(const char* text) const
{
    return CVString(m_buffer) == CVString(text);
}

bool CVString::operator!=(const char* text) const
{
    return !(*this == text);
}

char CVString::operator[](int position) const
{
    if (position < 0 || position > VSTRING_MAX_LENGTH)
        return 'X';
    return m_buffer[position];
}

void CVString::SetAt(int position, const char c)
{
    if (position < 0 || position > VSTRING_MAX_LENGTH)
        return;
    m_buffer[position] = c;
}

int CVString::GetLength() const
{
    return static_cast<int>(strnlen(m_buffer, VSTRING_BUFFER_SIZE - 1));
}

void CVString::Empty()
{
    ZeroFill();
}

template <typename T>
void CVString::FormatValue(const char* format, T value)
{
    ZeroFill();
    if (format == nullptr)
        return;
        // The buffer keeps its last byte as a terminator whatever snprintf does.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(m_buffer, VSTRING_BUFFER_SIZE - 1, format, value);
#pragma GCC diagnostic pop
}

void CVString::Format(const char* format, int value)
{
    FormatValue(format, value);
}
void CVString::Format(const char* format, long value)
{
    FormatValue(format, value);
}
void CVString::Format(const char* format, long long value)
{
    FormatValue(format, value);
}
void CVString::Format(const char* format, unsigned long value)
{
    FormatValue(format, value);
}
void CVString::Format(const char* format, float value)
{
    FormatValue(format, static_cast<double>(value));
}
void CVString::Format(const char* format, double value)
{
    FormatValue(format, value);
}
void CVString::Format(const char* format, unsigned char value)
{
    FormatValue(format, static_cast<int>(value));
}

bool CVString::LdString(int id)
{
    if (id < 0 || id >= MESSAGE_CATALOGUE_SIZE)
        return false;
    const char* text = strrec[id];
    size_t length = std::strlen(text);
    std::memcpy(m_buffer, text, length + 1);
    return length > 0;
}

void CVString::MakeLower()
{
    for (int i = 0; m_buffer[i] != '\0'; ++i) {
        if (m_buffer[i] >= 'A' && m_buffer[i] <= 'Z')
            m_buffer[i] = static_cast<char>(m_buffer[i] - 'A' + 'a');
    }
}

void CVString::MakeUpper()
{
    for (int i = 0; m_buffer[i] != '\0'; ++i) {
        if (m_buffer[i] >= 'a' && m_buffer[i] <= 'z')
            m_buffer[i] = static_cast<char>(m_buffer[i] - 'a' + 'A');
    }
}

CVString CVString::Mid(int start, int count) const
{
    int length = GetLength();
    if (start < 0 || start >= length || count < -1)
        return CVString();
    if (count == -1)
        count = length - start;
    if (start + count > length)
        count = length - start;
    char scratch[VSTRING_BUFFER_SIZE] = {};
    std::memcpy(scratch, m_buffer + start, count);
    return CVString(scratch);
}

CVString CVString::Left(int n) const
{
    return Mid(0, n);
}

CVString CVString::Right(int n) const
{
    int length = GetLength();
    if (n > length || n <= 0)
        return CVString();
    return Mid(length - n, n);
}

void CVString::Trim()
{
    TrimLeft();
    TrimRight();
}

void CVString::TrimLeft()
{
    int skip = 0;
    while (m_buffer[skip] == ' ')
        ++skip;
    if (skip == 0)
        return;
    int length = GetLength();
    std::memmove(m_buffer, m_buffer + skip, length - skip + 1);
}

void CVString::TrimRight()
{
    int length = GetLength();
    while (length > 0 && m_buffer[length - 1] == ' ')
        m_buffer[--length] = '\0';
}

bool CVString::SubFind(const char* sub, int pos, int last) const
{
    if (sub == nullptr || pos < 0 || last < 0)
        return false;
    for (int i = 0; i <= last; ++i) {
        if (pos + i > VSTRING_MAX_LENGTH || m_buffer[pos + i] != sub[i])
            return false;
    }
    return true;
}

int CVString::Find(const char* sub, int start) const
{
    if (sub == nullptr)
        return -1;
    if (start == -1)
        start = 0;
    if (start < 0)
        return -1;
    int length = GetLength();
    int subLength = static_cast<int>(strnlen(sub, VSTRING_BUFFER_SIZE));
    if (start > length - 1)
        return -1;
    if (subLength == 0 || subLength > length || start > length - subLength)
        return -1;
    for (int position = start; position <= length - subLength; ++position) {
        if (SubFind(sub, position, subLength - 1))
            return position;
    }
    return -1;
}

int CVString::Find(char c, int start) const
{
    const char sub[2] = {c, '\0'};
    return Find(sub, start);
}

int CVString::ReverseFind(const char* sub, int start) const
{
    if (sub == nullptr)
        return -1;
    int length = GetLength();
    if (start == -1)
        start = length - 1;
    if (start < 0 || start > length - 1)
        return -1;
    int subLength = static_cast<int>(strnlen(sub, VSTRING_BUFFER_SIZE));
    if (subLength == 0 || subLength > length)
        return -1;
    for (int position = start; position >= 0; --position) {
        if (position + subLength <= length && SubFind(sub, position, subLength - 1))
            return position;
    }
    return -1;
}

int CVString::ReverseFind(char c, int start) const
{
    const char sub[2] = {c, '\0'};
    return ReverseFind(sub, start);
}

void CVString::RemoveCtrlCharacters()
{
    for (int i = GetLength() - 1; i >= 0; --i) {
        if (IsControl(static_cast<unsigned char>(m_buffer[i])))
            m_buffer[i] = '\0';
    }
}

CVString CatalogueText(CatalogueId id)
{
    CVString text;
    text.LdString(id);
    return text;
}
