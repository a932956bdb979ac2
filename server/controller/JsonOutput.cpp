#include "JsonOutput.h"

#include <nlohmann/json.hpp>

#include "DriveLabels.h"
#include "ScsiCodes.h"
#include "TapeAlert.h"

using json = nlohmann::ordered_json;

namespace {

const int INDENT = 2;

json Text(const char* text)
{
    return text != nullptr ? json(text) : json(nullptr);
}

json DriveJson(const CTapeDrive* drive, const std::string& device)
{
    if (drive == nullptr)
        return nullptr;
    const CDriveLabels labels = DriveLabels(*drive, device);
    return {{"device", labels.device},     {"address", labels.address}, {"model", labels.model},
            {"firmware", labels.firmware}, {"serial", labels.serial},   {"type", drive->DriveType()}};
}

json SenseJson(const CSenseReport& sense)
{
    return {{"key", sense.key},          {"asc", sense.asc},          {"ascq", sense.ascq},
            {"key_text", sense.keyText}, {"asc_text", sense.ascText}, {"deferred", sense.deferred}};
}

std::string Hex(const std::vector<unsigned char>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

const char* StatusName(ELogPageStatus status)
{
    switch (status) {
    case LOG_PAGE_NOT_SUPPORTED:
        return "not supported";
    case LOG_PAGE_FAILED:
        return "failed";
    default:
        return "read";
    }
}

json PageJson(const CLogPageReading& page)
{
    json out = {{"page", page.page}, {"name", Text(LogPageName(page.page))}, {"status", StatusName(page.status)}};
    if (page.status == LOG_PAGE_FAILED) {
        out["sense"] = SenseJson(page.sense);
        return out;
    }
    if (page.status != LOG_PAGE_READ)
        return out;
    if (page.page == LOG_PAGE_SUPPORTED) {
        out["supported_pages"] = page.listedPages;
        return out;
    }
    json parameters = json::array();
    for (const CLogParameterValue& parameter : page.parameters) {
        parameters.push_back({{"code", parameter.code},
                              {"name", Text(parameter.name)},
                              {"value", parameter.numeric ? json(parameter.value) : json(Hex(parameter.bytes))}});
    }
    out["parameters"] = parameters;
    return out;
}

json PagesJson(const std::vector<CLogPageReading>& pages)
{
    json out = json::array();
    for (const CLogPageReading& page : pages)
        out.push_back(PageJson(page));
    return out;
}

json HealthJson(const CDriveHealth& health)
{
    json flags = json::array();
    for (unsigned number : health.RaisedTapeAlerts()) {
        const CTapeAlertFlag& flag = *FindTapeAlertFlag(number);
        flags.push_back({{"flag", number}, {"name", flag.name}, {"severity", SeverityName(flag.severity)}});
    }
    json out = {
        {"drive", DriveJson(health.drive, health.device)},
        {"drive_verdict", {{"status", DriveVerdictName(health.driveVerdict)}, {"reasons", health.driveReasons}}},
        {"cartridge_verdict",
         {{"status", CartridgeVerdictName(health.cartridgeVerdict)}, {"reasons", health.cartridgeReasons}}},
        {"unit_ready", health.unitReady},
        {"tapealert", flags},
        {"pages", PagesJson(health.pages)},
    };
    if (!health.unitReady)
        out["not_ready_sense"] = SenseJson(health.notReady);
    return out;
}

json DriveListJson(CDriveManager* manager)
{
    json out = json::array();
    CTapeDriveList* drives = manager != nullptr ? manager->GetDriveList() : nullptr;
    for (int i = 0; drives != nullptr && i < drives->GetCount(); ++i)
        out.push_back(DriveJson(drives->GetAt(i), manager->DeviceName(drives->GetAt(i))));
    return out;
}

// Nothing on the wire is escaped: written as \u escapes, "<" and ">" cannot
// be taken for the ends of a message.
std::string WireSafe(const std::string& document)
{
    std::string out;
    out.reserve(document.size());
    for (char c : document) {
        if (c == '<')
            out += "\\u003c";
        else if (c == '>')
            out += "\\u003e";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string JsonDocument(const CJsonCommand& command)
{
    json document = {
        {"command", command.word},
        {"status", command.succeeded ? "success" : "failure"},
        {"drive", DriveJson(command.drive, command.drive != nullptr && command.manager != nullptr
                                               ? command.manager->DeviceName(command.drive)
                                               : std::string())},
        {"output", command.lines},
    };
    const std::string word = command.word;
    if (word == "show")
        document["drives"] = DriveListJson(command.manager);
    if (word == "logpages")
        document["log_pages"] = PagesJson(command.report.logPages);
    if (word == "health") {
        json health = json::array();
        for (const CDriveHealth& drive : command.report.health)
            health.push_back(HealthJson(drive));
        document["health"] = health;
    }
    // Text from a drive need not be UTF-8: what is not becomes U+FFFD.
    return WireSafe(document.dump(INDENT, ' ', true, json::error_handler_t::replace));
}

std::vector<COutputPiece> OutputPieces(const std::string& text)
{
    std::vector<COutputPiece> pieces;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        size_t at = start;
        do {
            const size_t length = std::min(MAX_PIECE_LENGTH, end - at);
            pieces.push_back({text.substr(at, length), at + length == end});
            at += length;
        } while (at < end);
        start = end + 1;
    }
    return pieces;
}
