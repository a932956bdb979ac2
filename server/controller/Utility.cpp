#include "Utility.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "Application.h"
#include "CommandTable.h"
#include "DelimitedText.h"
#include "Help.h"
#include "ProgramLocation.h"

namespace {

CApplication* myAppl = nullptr;

// Reads an all-digit text; false when it does not fit an int.
bool ReadNumber(const char* digits, int& value)
{
    errno = 0;
    unsigned long long number = std::strtoull(digits, nullptr, 10);
    if (errno == ERANGE || number > static_cast<unsigned long long>(INT_MAX))
        return false;
    value = static_cast<int>(number);
    return true;
}

bool FitsField(const char* value)
{
    return std::strlen(value) <= static_cast<size_t>(MAX_FIELD_LENGTH);
}

// The switch forms, in the order they are tested. A prefix form takes the
// text after it as its value; an exact form must equal the whole switch.
enum SwitchKind { EXACT, PREFIX };

struct SwitchForm {
    const char* text;
    SwitchKind kind;
    // Applies the switch; false rejects the whole command line.
    bool (*apply)(CApplication& app, const char* value);
};

bool ApplySpeed(CApplication& app, const char* value)
{
    if (!CUtility::IsNumber(value))
        return true;  // not a number: accepted without effect
    int speed = 0;
    if (!ReadNumber(value, speed))
        return false;
    if (speed != 0 && speed != 8 && speed != 10 && speed != 12 && speed != 14 && speed != 16)
        return false;
    app.SetSpeedValue(speed);
    return true;
}

bool ApplyDriveIndex(CApplication& app, const char* value)
{
    // A typo must not select a drive: read loosely, "-getByIndex:l" would
    // name drive 0 and a destructive test would run on a drive nobody named.
    int index = 0;
    if (!CUtility::IsNumber(value) || !ReadNumber(value, index))
        return false;
    app.SetDriveIndex(index);
    return true;
}

bool ApplyAddress(CApplication& app, const char* value)
{
    int port, bus, target, lun;
    bool valid = CUtility::SetIds(value - 4, port, bus, target, lun);  // SetIds reads the whole switch
    app.SetAddress(port, bus, target, lun);
    return valid;
}

bool ApplyTestSize(CApplication& app, const char* value)
{
    int megabytes = 0;
    if (!CUtility::IsNumber(value) || !ReadNumber(value, megabytes))
        return false;
    app.SetTestSize(megabytes);
    return true;
}

// clang-format off
const SwitchForm switchForms[] = {
    {"-nov:", PREFIX,
     [](CApplication& app, const char* value) {
         if (!FitsField(value))
             return false;
         app.SetVerbose(false);
         if (*value != '\0')
             app.SetOutputFileName(value);
         return true;
     }},
    {"-nr", EXACT, [](CApplication& app, const char*) { app.SetNoClosePrompt(true); return true; }},
    {"-speed", EXACT, [](CApplication& app, const char*) { app.SetGetSpeed(true); return true; }},
    {"-compdefault", EXACT, [](CApplication& app, const char*) { app.SetGetCompression(true); return true; }},
    {"-load", EXACT, [](CApplication& app, const char*) { app.SetGetLoad(true); return true; }},
    {"-speed:", PREFIX, ApplySpeed},
    {"-compdefault:scsi", EXACT, [](CApplication& app, const char*) { app.SetCompressionValue(0); return true; }},
    {"-compdefault:on", EXACT, [](CApplication& app, const char*) { app.SetCompressionValue(1); return true; }},
    {"-compdefault:off", EXACT, [](CApplication& app, const char*) { app.SetCompressionValue(2); return true; }},
    {"-load:on", EXACT, [](CApplication& app, const char*) { app.SetLoadValue(0); return true; }},
    {"-load:hold", EXACT, [](CApplication& app, const char*) { app.SetLoadValue(1); return true; }},
    {"-load:off", EXACT, [](CApplication& app, const char*) { app.SetLoadValue(2); return true; }},
    {"-id:x", EXACT, [](CApplication& app, const char*) { app.SetFirstDrive(true); return true; }},
    {"-getByIndex:", PREFIX, ApplyDriveIndex},
    {"-id:", PREFIX, ApplyAddress},
    {"-ts:", PREFIX, ApplyTestSize},
    {"-sn:", PREFIX,
     [](CApplication& app, const char* value) {
         if (!FitsField(value))
             return false;
         app.SetSerialNumber(value);
         return true;
     }},
    {"-f:", PREFIX,
     [](CApplication& app, const char* value) {
         if (!FitsField(value))
             return false;
         app.SetBinaryFileName(value);
         return true;
     }},
    {"-o:", PREFIX,
     [](CApplication& app, const char* value) {
         if (!FitsField(value))
             return false;
         app.SetOutputFileName(value);
         return true;
     }},
    {"-fr", EXACT, [](CApplication& app, const char*) { app.SetRetension(true); return true; }},
    {"-i", EXACT, [](CApplication& app, const char*) { app.SetIgnore(true); return true; }},
    {"-e", EXACT, [](CApplication& app, const char*) { app.SetEngineering(true); return true; }},
    // Names a device to use instead of scanning the host.
    {"-dev:", PREFIX,
     [](CApplication& app, const char* value) { return FitsField(value) && app.AddDevice(value); }},
    // No progress line on the terminal; a remote server accepts it and shows none anyway.
    {"-noprogress", EXACT, [](CApplication& app, const char*) { app.SetNoProgress(true); return true; }},
    {"-json", EXACT, [](CApplication& app, const char*) { app.Settings().json = true; return true; }},
    {"-prom:", PREFIX,
     [](CApplication& app, const char* value) {
         if (!FitsField(value))
             return false;
         app.Settings().metricsFileName = value;
         return true;
     }},
};
// clang-format on

}  // namespace

CUtility::CUtility(CApplication* appl) : m_application(appl), m_parameterCount(0)
{
    myAppl = appl;
}

CUtility::~CUtility()
{
    // Nothing may reach a controller through a parser that is gone.
    if (myAppl == m_application)
        myAppl = nullptr;
}

std::vector<CSwitchText> CUtility::SwitchTexts()
{
    std::vector<CSwitchText> texts;
    for (const SwitchForm& form : switchForms)
        texts.push_back({form.text, form.kind == PREFIX});
    return texts;
}

CApplication* CUtility::GetAppl()
{
    return myAppl;
}

void CUtility::SavePathAndExeName(const char* startedName)
{
    SaveProgramLocation(startedName);
}

const char* CUtility::GetPath()
{
    return ProgramDirectory();
}

const char* CUtility::GetExecName()
{
    return ProgramName();
}

bool CUtility::IsNumber(const char* text)
{
    CVString value(text);
    for (int i = 0; i < value.GetLength(); ++i) {
        if (value[i] < '0' || value[i] > '9')
            return false;
    }
    return true;
}

void CUtility::InitParameters()
{
    m_parameterCount = 0;
    for (CVString& parameter : m_parameters)
        parameter.Empty();
}

CVString CUtility::CmdLineArgsToDelimitedStr(int argc, char** argv)
{
    return ArgumentsToDelimitedText(argc, argv);
}

CVString CUtility::DelimitCmd(const char* line)
{
    CVString text(line);
    text.Trim();
    int blank = text.Find(' ');
    CVString command = blank == -1 ? text : text.Left(blank);
    command += ";";
    return command;
}

CVString CUtility::DelimitSwitches(const char* switches)
{
    CVString s(switches);
    s.Trim();
    CVString output;
    int p = 0;
    while (p < s.GetLength() - 1) {
        int q = s.Find(" -", p + 1);
        if (q == -1) {
            output += s.Mid(p, -1);
            output.TrimRight();
            output += ";";
            break;
        }
        output += s.Mid(p, q - p);
        output.TrimRight();
        output += "; ";
        p = q;
    }
    output.Trim();
    return output;
}

CVString CUtility::BasicStrToDelimitedStr(const char* line)
{
    CVString text(line);
    text.Trim();
    CVString result = DelimitCmd(text);
    int dash = text.Find('-');
    if (dash == -1)
        return result;
    result += " ";
    result += DelimitSwitches(text.Mid(dash, -1));
    return result;
}

bool CUtility::SetParameters(int argc, char** argv)
{
    return SetParameters(CmdLineArgsToDelimitedStr(argc, argv));
}

bool CUtility::SetParameters(const char* delimited)
{
    InitParameters();
    m_application->InitializeData();
    CVString line(delimited);
    for (int i = 0; i < line.GetLength(); ++i) {
        if (line[i] != ';') {
            m_parameters[m_parameterCount] += line[i];
            continue;
        }
        m_parameters[m_parameterCount].Trim();
        if (++m_parameterCount == MAX_PARAMETERS)
            break;
    }
    if (m_parameterCount < MAX_PARAMETERS)
        m_parameters[m_parameterCount].Empty();  // text after the last ';' is no parameter

    if (ParseParameters())
        return true;
    if (!m_application->ClientServerConnection()) {
        CHelp help;
        help.DisplayHelp(GetExecName());
    }
    return false;
}

bool CUtility::ParseParameters()
{
    if (m_parameterCount == 0 || !ParseCommandWord())
        return false;
    for (int i = 1; i < m_parameterCount; ++i) {
        if (!ParseSwitch(m_parameters[i]))
            return false;
    }
    return true;
}

bool CUtility::ParseCommandWord()
{
    const CCommandRow* command = FindCommandByWord(m_parameters[0], m_parameterCount > 1);
    if (command == nullptr)
        return false;
    m_application->SetCommandId(command->id);
    return true;
}

bool CUtility::ParseSwitch(const CVString& parameter)
{
    for (const SwitchForm& form : switchForms) {
        int formLength = static_cast<int>(std::strlen(form.text));
        if (form.kind == EXACT) {
            if (parameter == CVString(form.text))
                return form.apply(*m_application, "");
            continue;
        }
        // "-nov:" alone turns verbose output off; every other prefix needs a value.
        bool valueRequired = std::strcmp(form.text, "-nov:") != 0;
        int minimumLength = valueRequired ? formLength + 1 : formLength;
        if (parameter.GetLength() < minimumLength || parameter.Left(formLength) != CVString(form.text))
            continue;
        return form.apply(*m_application, static_cast<const char*>(parameter) + formLength);
    }
    return false;
}

bool CUtility::SetIds(const char* param, int& port, int& bus, int& target, int& lun)
{
    port = bus = target = lun = -1;
    CVString value = CVString(param).Mid(4, -1);
    int colons = 0;
    for (int i = 0; i < value.GetLength(); ++i) {
        if (value[i] == ':')
            ++colons;
    }
    if (colons > 3)
        return false;

    int numbers[4] = {0, 0, 0, 0};
    int start = 0;
    for (int i = 0; i <= colons; ++i) {
        int end = value.Find(':', start);
        CVString piece = end == -1 ? value.Mid(start, -1) : value.Mid(start, end - start);
        if (piece.IsEmpty() || !IsNumber(piece) || !ReadNumber(piece, numbers[i]))
            return false;
        start = end + 1;
    }
    switch (colons) {
    case 0:
        target = numbers[0];
        break;
    case 1:
        port = numbers[0];
        target = numbers[1];
        break;
    case 2:
        port = numbers[0];
        target = numbers[1];
        lun = numbers[2];
        break;
    default:
        port = numbers[0];
        bus = numbers[1];
        target = numbers[2];
        lun = numbers[3];
        break;
    }
    return true;
}

bool CUtility::EqualStrings(const char* a, const char* b)
{
    return CVString(a) == CVString(b);
}
