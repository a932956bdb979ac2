// The health command: reads what the drive keeps about its own health
// (TapeAlert, the error counters, the cleaning state, temperature, the last
// self-test) and judges the drive and its cartridge. It moves no tape and
// writes nothing to the cartridge; with no cartridge it judges the drive.
#include <algorithm>
#include <cstdio>
#include <string>

#include "DriveManager.h"
#include "ScsiData.h"
#include "TapeAlert.h"

namespace {

// Room for the largest page the check reads; LOG SENSE takes 16 bits.
const int HEALTH_PAGE_BUFFER = 8192;
const int SENSE_LENGTH = 32;

struct CPageSummary {
    unsigned page;
    const char* label;
    std::string (*describe)(const CLogPageReading& page);
};

std::string Figure(const CLogPageReading& page, uint32_t code)
{
    uint64_t value = 0;
    return page.Value(code, value) ? std::to_string(value) : std::string("not reported");
}

std::string DescribeCounters(const CLogPageReading& page)
{
    return Figure(page, ERROR_COUNTER_TOTAL_CORRECTED) + " corrected, " +
           Figure(page, ERROR_COUNTER_TOTAL_UNCORRECTED) + " uncorrected";
}

std::string DescribeCleaning(const CLogPageReading& page)
{
    uint64_t required = 0;
    if (!page.Value(SEQUENTIAL_ACCESS_CLEANING_REQUIRED, required))
        return "not reported";
    return required != 0 ? "required" : "not required";
}

std::string Degrees(const CLogPageReading& page, uint32_t code)
{
    unsigned degrees = 0;
    return TemperatureDegrees(page, code, degrees) ? std::to_string(degrees) + " C" : std::string("unknown");
}

std::string DescribeTemperature(const CLogPageReading& page)
{
    return Degrees(page, TEMPERATURE_CURRENT) + ", reference " + Degrees(page, TEMPERATURE_REFERENCE);
}

std::string DescribeSelfTest(const CLogPageReading& page)
{
    CSelfTestResult last;
    if (!LastSelfTest(page, last))
        return "none run";
    if (last.result == SELF_TEST_PASSED)
        return "passed";
    if (last.result == SELF_TEST_IN_PROGRESS)
        return "running";
    return "result " + std::to_string(last.result) + ", " + SenseSummary(last.sense);
}

std::string DescribeTapeAlert(const CLogPageReading& page)
{
    std::string text;
    for (unsigned number : RaisedTapeAlerts(page)) {
        const CTapeAlertFlag& flag = *FindTapeAlertFlag(number);
        text += (text.empty() ? "" : ", ") + std::to_string(number) + " " + flag.name + " (" +
                SeverityName(flag.severity) + ")";
    }
    return text.empty() ? "no flag raised" : text;
}

// One line for each page the check reads, in the order of HEALTH_PAGES.
const CPageSummary pageSummaries[] = {
    {LOG_PAGE_WRITE_ERRORS, "Write errors", DescribeCounters},
    {LOG_PAGE_READ_ERRORS, "Read errors", DescribeCounters},
    {LOG_PAGE_SEQUENTIAL_ACCESS, "Cleaning", DescribeCleaning},
    {LOG_PAGE_TEMPERATURE, "Temperature", DescribeTemperature},
    {LOG_PAGE_SELF_TEST_RESULTS, "Last self-test", DescribeSelfTest},
    {LOG_PAGE_TAPE_ALERT, "TapeAlert", DescribeTapeAlert},
};

std::string SummaryLine(const char* label, const CLogPageReading& page, std::string (*describe)(const CLogPageReading&))
{
    char head[64];
    std::snprintf(head, sizeof head, "%s (log page %02Xh): ", label, page.page);
    switch (page.status) {
    case LOG_PAGE_NOT_SUPPORTED:
        return head + std::string("not kept by this drive");
    case LOG_PAGE_FAILED:
        return head + std::string("could not be read: ") + SenseSummary(page.sense);
    default:
        return head + describe(page);
    }
}

}  // namespace

bool CDriveManager::HealthCheck()
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    OpenCommand(drive, "Issued Cmd: Health Check.");
    Separator();
    CDriveHealth health;
    health.drive = drive;
    health.device = DeviceName(drive);
    ReadHealthPages(drive, health);
    JudgeHealth(health);
    ReportHealth(health);
    const bool healthy = health.Healthy();
    m_application->Report().health.push_back(std::move(health));
    return healthy;
}

CLogPageReading CDriveManager::ReadLogPage(CTapeDrive* drive, unsigned page)
{
    std::vector<unsigned char> buffer(HEALTH_PAGE_BUFFER, 0);
    if (!m_driverInterface->LogSense(drive, buffer.data(), HEALTH_PAGE_BUFFER, static_cast<int>(page)))
        return FailedReading(drive, page);
    CLogPageReading reading = DecodeLogPage(buffer.data(), m_driverInterface->GetTransferLength(drive));
    reading.page = page;
    return reading;
}

CLogPageReading CDriveManager::FailedReading(CTapeDrive* drive, unsigned page)
{
    CLogPageReading failed;
    failed.page = page;
    failed.status = LOG_PAGE_FAILED;
    failed.sense = LastSense(drive);
    return failed;
}

CSenseReport CDriveManager::LastSense(CTapeDrive* drive)
{
    unsigned char sense[SENSE_LENGTH] = {};
    m_driverInterface->GetSense(drive, sense, SENSE_LENGTH);
    return DescribeSense(sense);
}

void CDriveManager::ReadHealthPages(CTapeDrive* drive, CDriveHealth& health)
{
    health.unitReady = m_driverInterface->TestForUnitReady(drive);
    if (!health.unitReady)
        health.notReady = LastSense(drive);
    health.pages.push_back(ReadLogPage(drive, LOG_PAGE_SUPPORTED));
    if (health.pages.front().status != LOG_PAGE_READ)
        return;
    const std::vector<unsigned> listed = health.pages.front().listedPages;
    for (unsigned page : HEALTH_PAGES) {
        if (std::find(listed.begin(), listed.end(), page) != listed.end()) {
            health.pages.push_back(ReadLogPage(drive, page));
        } else {
            CLogPageReading missing;
            missing.page = page;
            missing.status = LOG_PAGE_NOT_SUPPORTED;
            health.pages.push_back(missing);
        }
    }
}

void CDriveManager::ReportHealth(const CDriveHealth& health)
{
    Line((std::string("Drive: ") + DriveVerdictName(health.driveVerdict)).c_str());
    for (const std::string& reason : health.driveReasons)
        Line(("  - " + reason).c_str());
    Line((std::string("Cartridge: ") + CartridgeVerdictName(health.cartridgeVerdict)).c_str());
    for (const std::string& reason : health.cartridgeReasons)
        Line(("  - " + reason).c_str());
    Separator();
    for (const CLogPageReading& page : health.pages) {
        if (page.page == LOG_PAGE_SUPPORTED) {
            if (page.status == LOG_PAGE_FAILED)
                Line(SummaryLine("Log page directory", page, nullptr).c_str());
            continue;
        }
        for (const CPageSummary& summary : pageSummaries) {
            if (summary.page == page.page)
                Line(SummaryLine(summary.label, page, summary.describe).c_str());
        }
    }
    Separator();
}
