#include "Utility.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

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
    // For the complete help: the value of a prefix form as the help names
    // it ("FILE"), and what the switch does.
    const char* value;
    const char* help;
    // The command the switch belongs to, when it is only one.
    const char* command;
    // What a prefix form takes, for the line that says why a value was
    // rejected; null for forms that accept whatever fits them.
    const char* accepts;
    // Applies the switch; false rejects the whole command line.
    bool (*apply)(CApplication& app, const char* value);
};

bool ApplySpeed(CApplication& app, const char* value)
{
    // Anything but one of the speeds is refused: taken without effect, a
    // mistyped speed would end in "No values selected to change." as if the
    // command had done its work.
    int speed = 0;
    if (!CUtility::IsNumber(value) || !ReadNumber(value, speed))
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

const char* const FILE_NAME = "a file name of at most 511 characters";

// clang-format off
const SwitchForm switchForms[] = {
    {"-nov:", PREFIX, "FILE", "the report to FILE only; -nov: alone: no output at all", nullptr,
     "a file name of at most 511 characters, or nothing",
     [](CApplication& app, const char* value) {
         if (!FitsField(value))
             return false;
         app.SetVerbose(false);
         if (*value != '\0')
             app.SetOutputFileName(value);
         return true;
     }},
    {"-nr", EXACT, nullptr, "no \"Press Enter to close.\" at the end", nullptr, nullptr,
     [](CApplication& app, const char*) { app.SetNoClosePrompt(true); return true; }},
    {"-speed", EXACT, nullptr, "the drive speed", "get", nullptr,
     [](CApplication& app, const char*) { app.SetGetSpeed(true); return true; }},
    {"-compdefault", EXACT, nullptr, "the compression control mode", "get", nullptr,
     [](CApplication& app, const char*) { app.SetGetCompression(true); return true; }},
    {"-load", EXACT, nullptr, "the load behaviour", "get", nullptr,
     [](CApplication& app, const char*) { app.SetGetLoad(true); return true; }},
    {"-speed:", PREFIX, "N", "speed in MB/s: 0 (automatic), 8, 10, 12, 14 or 16", "set",
     "0, 8, 10, 12, 14 or 16", ApplySpeed},
    {"-compdefault:scsi", EXACT, nullptr, "compression under SCSI mode page control", "set", nullptr,
     [](CApplication& app, const char*) { app.SetCompressionValue(0); return true; }},
    {"-compdefault:on", EXACT, nullptr, "automatic compression, no SCSI mode control", "set", nullptr,
     [](CApplication& app, const char*) { app.SetCompressionValue(1); return true; }},
    {"-compdefault:off", EXACT, nullptr, "compression disabled, no SCSI mode control", "set", nullptr,
     [](CApplication& app, const char*) { app.SetCompressionValue(2); return true; }},
    {"-load:on", EXACT, nullptr, "an inserted cartridge is loaded", "set", nullptr,
     [](CApplication& app, const char*) { app.SetLoadValue(0); return true; }},
    {"-load:hold", EXACT, nullptr, "an inserted cartridge is held", "set", nullptr,
     [](CApplication& app, const char*) { app.SetLoadValue(1); return true; }},
    {"-load:off", EXACT, nullptr, "an inserted cartridge is not loaded", "set", nullptr,
     [](CApplication& app, const char*) { app.SetLoadValue(2); return true; }},
    {"-id:x", EXACT, nullptr, "the first drive", nullptr, nullptr,
     [](CApplication& app, const char*) { app.SetFirstDrive(true); return true; }},
    {"-getByIndex:", PREFIX, "N", "the drive at position N (from 0) of show's list", nullptr,
     "a list position, a whole number from 0", ApplyDriveIndex},
    {"-id:", PREFIX, "ADDRESS", "the drive at TARGET, ADAPTER:TARGET, ADAPTER:TARGET:LUN", nullptr,
     "TARGET, ADAPTER:TARGET or ADAPTER:TARGET:LUN in whole numbers", ApplyAddress},
    {"-ts:", PREFIX, "MB", "test size in megabytes (default 200; 500 for ctest)", nullptr,
     "a whole number of megabytes", ApplyTestSize},
    {"-sn:", PREFIX, "SERIAL", "the drive with this serial number", nullptr,
     "a serial number of at most 511 characters",
     [](CApplication& app, const char* value) {
         if (!FitsField(value))
             return false;
         app.SetSerialNumber(value);
         return true;
     }},
    {"-f:", PREFIX, "FILE", "the file upgrade reads or a capture writes", nullptr, FILE_NAME,
     [](CApplication& app, const char* value) {
         if (!FitsField(value))
             return false;
         app.SetBinaryFileName(value);
         return true;
     }},
    {"-o:", PREFIX, "FILE", "also append the report to FILE", nullptr, FILE_NAME,
     [](CApplication& app, const char* value) {
         if (!FitsField(value))
             return false;
         app.SetOutputFileName(value);
         return true;
     }},
    {"-fr", EXACT, nullptr, "retension the tape before a read/write test", nullptr, nullptr,
     [](CApplication& app, const char*) { app.SetRetension(true); return true; }},
    {"-i", EXACT, nullptr, "skip the level and OEM checks", "upgrade", nullptr,
     [](CApplication& app, const char*) { app.SetIgnore(true); return true; }},
    {"-e", EXACT, nullptr, "print the error limit and count a test judged", nullptr, nullptr,
     [](CApplication& app, const char*) { app.SetEngineering(true); return true; }},
    // Names a device to use instead of scanning the host.
    {"-dev:", PREFIX, "SPEC", "a device to use instead of the host's (local only)",
     nullptr, "a device of at most 511 characters, at most 32 times",
     [](CApplication& app, const char* value) { return FitsField(value) && app.AddDevice(value); }},
    // No progress line on the terminal; a remote server accepts it and shows none anyway.
    {"-noprogress", EXACT, nullptr, "no progress line on standard error", nullptr, nullptr,
     [](CApplication& app, const char*) { app.SetNoProgress(true); return true; }},
    {"-json", EXACT, nullptr, "one JSON document on standard output instead of the text", nullptr, nullptr,
     [](CApplication& app, const char*) { app.Settings().json = true; return true; }},
    {"-prom:", PREFIX, "FILE", "write the verdicts as Prometheus metrics to FILE", "health", FILE_NAME,
     [](CApplication& app, const char* value) {
         if (!FitsField(value))
             return false;
         app.Settings().metricsFileName = value;
         return true;
     }},
};
// clang-format on

// A form as the help and the reasons show it: "-ts:MB", "-nr".
std::string Usage(const SwitchForm& form)
{
    return std::string(form.text) + (form.value != nullptr ? form.value : "");
}

// The forms of the switches that belong to this command alone.
std::vector<std::string> FormUsages(const char* command)
{
    std::vector<std::string> usages;
    for (const SwitchForm& form : switchForms) {
        if (form.command != nullptr && std::strcmp(form.command, command) == 0)
            usages.push_back(Usage(form));
    }
    return usages;
}

// What a command word must be, for the reasons.
std::string CommandChoice()
{
    std::vector<std::string> words;
    size_t count = 0;
    const CCommandRow* rows = CommandRows(count);
    for (size_t i = 0; i < count; ++i)
        words.push_back(rows[i].word);
    return "the command is one of " + Alternatives(words) + " (case-sensitive)";
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Why a switch fits no form. The forms it was likely meant as are those
// that begin like it, in any letter case, up to its first colon: "-nov"
// and "-nov:" both point to -nov:FILE, "-load:ON" to the three -load: forms.
std::string UnknownSwitchReason(const std::string& parameter)
{
    const size_t colon = parameter.find(':');
    const std::string key = Lower(colon == std::string::npos ? parameter : parameter.substr(0, colon + 1));
    std::vector<const SwitchForm*> near;
    for (const SwitchForm& form : switchForms) {
        if (key.size() >= 2 && Lower(form.text).compare(0, key.size(), key) == 0)
            near.push_back(&form);
    }
    if (near.empty())
        return RejectedArgument(parameter, "no such switch (--help lists them all)");
    // A prefix form given without its value.
    if (near.size() == 1 && near[0]->kind == PREFIX && parameter == near[0]->text)
        return RejectedArgument(parameter, std::string(near[0]->text) + " takes " + near[0]->accepts);
    std::vector<std::string> usages;
    for (const SwitchForm* form : near)
        usages.push_back(Usage(*form));
    return RejectedArgument(parameter, "expected " + Alternatives(usages));
}

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

std::vector<std::string> CUtility::HelpLines()
{
    std::vector<std::string> lines{"Commands:"};
    size_t count = 0;
    const CCommandRow* rows = CommandRows(count);
    for (size_t i = 0; i < count; ++i)
        lines.push_back(HelpLine(rows[i].word, rows[i].description));
    lines.push_back("");
    lines.push_back("Switches:");
    for (const SwitchForm& form : switchForms) {
        std::string help = form.command != nullptr ? std::string(form.command) + ": " + form.help : form.help;
        lines.push_back(HelpLine(Usage(form), help));
    }
    return lines;
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
        // The reason comes last, where the eye lands before the help waits.
        CHelp help;
        help.PrintShortHelp(GetExecName());
        PrintRejection(GetExecName(), m_rejection);
        CHelp::WaitForKey();
    }
    return false;
}

bool CUtility::ParseParameters()
{
    m_rejection.clear();
    if (m_parameterCount == 0 || *m_parameters[0] == '\0') {
        m_rejection = "no command given: " + CommandChoice();
        return false;
    }
    if (!ParseCommandWord())
        return false;
    for (int i = 1; i < m_parameterCount; ++i) {
        if (!ParseSwitch(m_parameters[i]))
            return false;
    }
    return true;
}

bool CUtility::ParseCommandWord()
{
    const char* word = m_parameters[0];
    const CCommandRow* command = FindCommandByWord(word, m_parameterCount > 1);
    if (command != nullptr) {
        m_application->SetCommandId(command->id);
        return true;
    }
    if (FindCommandByWord(word, true) == nullptr) {
        m_rejection = RejectedArgument(word, CommandChoice());
        return false;
    }
    // A command that needs a switch, given alone.
    m_rejection = RejectedArgument(word, std::string(word) + " needs one of " + Alternatives(FormUsages(word)));
    return false;
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
        if (form.apply(*m_application, static_cast<const char*>(parameter) + formLength))
            return true;
        m_rejection =
            RejectedArgument(static_cast<const char*>(parameter), std::string(form.text) + " takes " + form.accepts);
        return false;
    }
    m_rejection = UnknownSwitchReason(static_cast<const char*>(parameter));
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
