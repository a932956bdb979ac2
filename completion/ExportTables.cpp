// Exports the programs' tables at build time, so that what is built from
// them cannot fall behind:
//
//   tapediag_export_tables client-help FILE
//       writes the C++ source of the client's DIAGNOSTIC_HELP_LINES: the
//       diagnostic's command and switch lines of the complete help;
//   tapediag_export_tables completion TEMPLATE FILE
//       writes the bash completion of both programs: TEMPLATE with its word
//       lists (@COMMANDS@ and the like) filled in.
//
// Exit status 0 on success (a build tool, not one of the programs).
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "ClientProgram.h"
#include "CommandTable.h"
#include "ServerOptionTable.h"
#include "Utility.h"
#include "VirtualDrive.h"

namespace {

using Words = std::vector<std::string>;

std::string Joined(const Words& words)
{
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

Words CommandWords()
{
    Words words;
    size_t count = 0;
    const CCommandRow* rows = CommandRows(count);
    for (size_t i = 0; i < count; ++i)
        words.push_back(rows[i].word);
    return words;
}

Words SwitchWords()
{
    Words words;
    for (const CSwitchText& form : CUtility::SwitchTexts())
        words.push_back(form.text);
    return words;
}

Words ServerOptionWords()
{
    Words words;
    size_t count = 0;
    const CServerOptionText* options = ServerOptionTexts(count);
    for (size_t i = 0; i < count; ++i)
        words.push_back(options[i].text);
    return words;
}

Words ClientSwitchWords()
{
    Words words;
    size_t count = 0;
    const CClientSwitchText* switches = ClientSwitchTexts(count);
    for (size_t i = 0; i < count; ++i)
        words.push_back(switches[i].text);
    return words;
}

// The virtual drive's catalogue lists the models under "models:" and the
// faults under "faults ...:", one an indented line each, the name first.
// A fault that takes a value is offered up to its "=" ("capacity="), one
// whose value may be left out bare ("becoming-ready").
void VirtualDriveWords(Words& models, Words& faults)
{
    std::istringstream catalogue(CVirtualDrive::Catalogue());
    Words* section = nullptr;
    std::string line;
    while (std::getline(catalogue, line)) {
        if (line.rfind("models", 0) == 0) {
            section = &models;
        } else if (line.rfind("faults", 0) == 0) {
            section = &faults;
        } else if (section != nullptr && line.rfind("  ", 0) == 0) {
            std::string name;
            std::istringstream(line) >> name;
            const size_t value = name.find_first_of("[=");
            if (value != std::string::npos)
                name.erase(name[value] == '=' ? value + 1 : value);
            section->push_back(name);
        }
    }
}

std::string CString(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

bool WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "tapediag_export_tables: cannot write " << path << "\n";
        return false;
    }
    return true;
}

bool WriteClientHelp(const std::string& path)
{
    std::string text = "// Generated at build time by tapediag_export_tables from the diagnostic's\n"
                       "// command and switch tables; do not edit.\n"
                       "#include \"DiagnosticHelp.h\"\n\n"
                       "const char* const DIAGNOSTIC_HELP_LINES[] = {\n";
    for (const std::string& line : CUtility::HelpLines())
        text += "    " + CString(line) + ",\n";
    text += "    nullptr,\n};\n";
    return WriteFile(path, text);
}

bool WriteCompletion(const std::string& templatePath, const std::string& path)
{
    std::ifstream in(templatePath);
    std::stringstream read;
    read << in.rdbuf();
    std::string text = read.str();
    if (!in || text.empty()) {
        std::cerr << "tapediag_export_tables: cannot read " << templatePath << "\n";
        return false;
    }
    Words models, faults;
    VirtualDriveWords(models, faults);
    const std::pair<const char*, std::string> lists[] = {
        {"@COMMANDS@", Joined(CommandWords())},
        {"@SWITCHES@", Joined(SwitchWords())},
        {"@SERVER_OPTIONS@", Joined(ServerOptionWords())},
        {"@CLIENT_SWITCHES@", Joined(ClientSwitchWords())},
        {"@SIM_MODELS@", Joined(models)},
        {"@SIM_FAULTS@", Joined(faults)},
    };
    for (const auto& list : lists) {
        const std::string key = list.first;
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + list.second.size()))
            text.replace(at, key.size(), list.second);
    }
    return WriteFile(path, text);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "client-help" && argc == 3)
        return WriteClientHelp(argv[2]) ? 0 : 1;
    if (mode == "completion" && argc == 4)
        return WriteCompletion(argv[2], argv[3]) ? 0 : 1;
    std::cerr << "usage: tapediag_export_tables client-help FILE | completion TEMPLATE FILE\n";
    return 2;
}
