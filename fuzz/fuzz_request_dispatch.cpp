// What the server makes of a client's request: ClassifyRequest (the command
// word decides), the drive index of a description request, and the
// password-free form of a command line for the server's record. The text up
// to the first NUL is a request; four bytes after it an index; the rest an
// argument.
#include <algorithm>
#include <string>

#include "FuzzCheck.h"
#include "MessageQueue.h"
#include "ServerMode.h"

namespace {

CVString Cased(const char* text, bool upper)
{
    CVString copy(text);
    if (upper)
        copy.MakeUpper();
    else
        copy.MakeLower();
    return copy;
}

std::vector<std::string> Parameters(const std::string& line)
{
    std::vector<std::string> parameters;
    size_t start = 0;
    for (size_t end; (end = line.find(';', start)) != std::string::npos; start = end + 1)
        parameters.push_back(line.substr(start, end - start));
    parameters.push_back(line.substr(start));
    return parameters;
}

// A -pw: value never reaches the record; the line keeps its shape.
void CheckPasswordFree(const std::string& line)
{
    const std::string shown = PasswordFreeLine(line.c_str());
    FUZZ_CHECK(PasswordFreeLine(shown.c_str()) == shown);
    const std::vector<std::string> before = Parameters(line), after = Parameters(shown);
    FUZZ_CHECK(before.size() == after.size());
    for (size_t i = 0; i < before.size(); ++i) {
        const size_t first = before[i].find_first_not_of(' ');
        if (first == std::string::npos || before[i].size() - first < 4)
            continue;
        std::string prefix = before[i].substr(first, 4);
        std::transform(prefix.begin(), prefix.end(), prefix.begin(), ::tolower);
        if (prefix == "-pw:")
            FUZZ_CHECK(after[i] == before[i].substr(0, first) + "-pw:(password left out)");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    const CVString message(input.substr(0, nul).c_str());
    std::string argument;
    int index = 0;
    if (nul != std::string::npos && input.size() >= nul + 5) {
        for (size_t i = 1; i <= 4; ++i)
            index = static_cast<int>((static_cast<unsigned>(index) << 8) | static_cast<unsigned char>(input[nul + i]));
        argument = CVString(input.substr(nul + 5).c_str());
    }

    // Letter case never matters.
    const ClientRequest kind = ClassifyRequest(message);
    FUZZ_CHECK(ClassifyRequest(Cased(message, true)) == kind);
    FUZZ_CHECK(ClassifyRequest(Cased(message, false)) == kind);
    // An argument never decides: not behind a command word, nor behind a request.
    const std::string line = std::string("show; ") + argument + ";";
    if (line.size() <= static_cast<size_t>(VSTRING_MAX_LENGTH))
        FUZZ_CHECK(ClassifyRequest(line.c_str()) == REQUEST_COMMAND_LINE);
    const std::string longer = std::string(message) + "; " + argument + ";";
    if (longer.size() <= static_cast<size_t>(VSTRING_MAX_LENGTH))
        FUZZ_CHECK(ClassifyRequest(longer.c_str()) == kind);

    // Any index reads back as written.
    const std::string request = std::string(MSG_GET_FIRMWARE_VERSION) + " " + std::to_string(index);
    FUZZ_CHECK(ClassifyRequest(request.c_str()) == REQUEST_DRIVE_DESCRIPTION);
    FUZZ_CHECK(DriveIndexOfRequest(request.c_str()) == index);
    DriveIndexOfRequest(message);

    CheckPasswordFree(std::string(message));
    return 0;
}
