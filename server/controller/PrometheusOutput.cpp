#include "PrometheusOutput.h"

#include <algorithm>
#include <utility>

#include "DriveLabels.h"
#include "ScsiCodes.h"
#include "TapeAlert.h"

namespace {

using CLabels = std::vector<std::pair<std::string, std::string>>;

// Label values escape the backslash, the double quote and the line end.
std::string Escaped(const std::string& value)
{
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

// The series of one metric family, written together under its HELP and TYPE.
class CFamily {
public:
    CFamily(const char* name, const char* type, const char* help) : m_name(name), m_type(type), m_help(help) {}

    void Add(const CLabels& labels, uint64_t value)
    {
        std::string series = m_name;
        for (size_t i = 0; i < labels.size(); ++i)
            series += (i == 0 ? "{" : ",") + labels[i].first + "=\"" + Escaped(labels[i].second) + "\"";
        if (!labels.empty())
            series += "}";
        m_samples += series + " " + std::to_string(value) + "\n";
    }

    std::string Text() const
    {
        if (m_samples.empty())
            return "";
        return "# HELP " + m_name + " " + m_help + "\n# TYPE " + m_name + " " + m_type + "\n" + m_samples;
    }

private:
    std::string m_name;
    std::string m_type;
    std::string m_help;
    std::string m_samples;
};

CLabels DriveLabelSet(const CDriveHealth& health)
{
    const CDriveLabels drive = DriveLabels(*health.drive, health.device);
    return {{"device", drive.device}, {"address", drive.address}, {"model", drive.model}, {"serial", drive.serial}};
}

CLabels With(CLabels labels, const char* name, const std::string& value)
{
    labels.emplace_back(name, value);
    return labels;
}

struct CMetrics {
    CFamily driveStatus{"tapediag_drive_status", "gauge",
                        "Health verdict of the drive: 1 for the verdict it has, 0 for the others."};
    CFamily cartridgeStatus{"tapediag_cartridge_status", "gauge",
                            "Health verdict of the loaded cartridge: 1 for the verdict it has, 0 for the others."};
    CFamily tapeAlert{"tapediag_tapealert_flag", "gauge",
                      "TapeAlert flag raised by the drive since it was last read (log page 2Eh)."};
    CFamily corrected{"tapediag_errors_corrected_total", "counter",
                      "Errors the drive corrected (log page 02h write, 03h read)."};
    CFamily uncorrected{"tapediag_errors_uncorrected_total", "counter",
                        "Errors the drive could not correct (log page 02h write, 03h read)."};
    CFamily processed{"tapediag_processed_bytes_total", "counter",
                      "Bytes the drive processed (log page 02h write, 03h read)."};
    CFamily cleaning{"tapediag_cleaning_required", "gauge", "1 when the drive asks to be cleaned (log page 0Ch)."};
    CFamily temperature{"tapediag_temperature_celsius", "gauge", "Temperature of the drive (log page 0Dh)."};
    CFamily reference{"tapediag_temperature_reference_celsius", "gauge",
                      "Highest temperature the drive is made to run at (log page 0Dh)."};
    CFamily timestamp{"tapediag_health_timestamp_seconds", "gauge", "When tapediag last checked the drives."};
};

void AddVerdicts(const CDriveHealth& health, const CLabels& labels, CMetrics& metrics)
{
    for (EDriveVerdict verdict : DRIVE_VERDICTS)
        metrics.driveStatus.Add(With(labels, "status", DriveVerdictName(verdict)), health.driveVerdict == verdict);
    for (ECartridgeVerdict verdict : CARTRIDGE_VERDICTS) {
        metrics.cartridgeStatus.Add(With(labels, "status", CartridgeVerdictName(verdict)),
                                    health.cartridgeVerdict == verdict);
    }
}

void AddTapeAlerts(const CDriveHealth& health, const CLabels& labels, CMetrics& metrics)
{
    if (health.Page(LOG_PAGE_TAPE_ALERT) == nullptr)
        return;
    const std::vector<unsigned> raised = health.RaisedTapeAlerts();
    for (unsigned number = 1; number <= TAPE_ALERT_FLAG_COUNT; ++number) {
        const CTapeAlertFlag& flag = *FindTapeAlertFlag(number);
        const CLabels series = With(With(With(labels, "flag", std::to_string(number)), "name", flag.name), "severity",
                                    SeverityName(flag.severity));
        metrics.tapeAlert.Add(series, std::find(raised.begin(), raised.end(), number) != raised.end());
    }
}

void AddValue(const CLogPageReading* page, uint32_t code, const CLabels& labels, CFamily& family)
{
    uint64_t value = 0;
    if (page != nullptr && page->Value(code, value))
        family.Add(labels, value);
}

void AddCounters(const CDriveHealth& health, const CLabels& labels, CMetrics& metrics)
{
    const std::pair<unsigned, const char*> pages[] = {{LOG_PAGE_WRITE_ERRORS, "write"}, {LOG_PAGE_READ_ERRORS, "read"}};
    for (const auto& direction : pages) {
        const CLogPageReading* page = health.Page(direction.first);
        const CLabels series = With(labels, "direction", direction.second);
        AddValue(page, ERROR_COUNTER_TOTAL_CORRECTED, series, metrics.corrected);
        AddValue(page, ERROR_COUNTER_TOTAL_UNCORRECTED, series, metrics.uncorrected);
        AddValue(page, ERROR_COUNTER_BYTES_PROCESSED, series, metrics.processed);
    }
}

void AddCleaningAndTemperature(const CDriveHealth& health, const CLabels& labels, CMetrics& metrics)
{
    uint64_t required = 0;
    const CLogPageReading* sequential = health.Page(LOG_PAGE_SEQUENTIAL_ACCESS);
    if (sequential != nullptr && sequential->Value(SEQUENTIAL_ACCESS_CLEANING_REQUIRED, required))
        metrics.cleaning.Add(labels, required != 0);
    const CLogPageReading* temperature = health.Page(LOG_PAGE_TEMPERATURE);
    const std::pair<uint32_t, CFamily*> readings[] = {{TEMPERATURE_CURRENT, &metrics.temperature},
                                                      {TEMPERATURE_REFERENCE, &metrics.reference}};
    for (const auto& reading : readings) {
        unsigned degrees = 0;
        if (temperature != nullptr && TemperatureDegrees(*temperature, reading.first, degrees))
            reading.second->Add(labels, degrees);
    }
}

}  // namespace

std::string PrometheusText(const std::vector<CDriveHealth>& health, long checkedAt)
{
    CMetrics metrics;
    for (const CDriveHealth& drive : health) {
        const CLabels labels = DriveLabelSet(drive);
        AddVerdicts(drive, labels, metrics);
        AddTapeAlerts(drive, labels, metrics);
        AddCounters(drive, labels, metrics);
        AddCleaningAndTemperature(drive, labels, metrics);
    }
    metrics.timestamp.Add({}, checkedAt < 0 ? 0 : static_cast<uint64_t>(checkedAt));
    const CFamily* families[] = {
        &metrics.driveStatus, &metrics.cartridgeStatus, &metrics.tapeAlert,   &metrics.corrected, &metrics.uncorrected,
        &metrics.processed,   &metrics.cleaning,        &metrics.temperature, &metrics.reference, &metrics.timestamp};
    std::string text;
    for (const CFamily* family : families)
        text += family->Text();
    return text;
}
