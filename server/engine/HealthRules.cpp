#include "HealthRules.h"

#include <algorithm>
#include <cstdio>

#include "ScsiCodes.h"
#include "TapeAlert.h"

namespace {

// Self-test results 3 to 7: the test ran into an error or a failed segment.
const unsigned SELF_TEST_FIRST_FAILURE = 3;
const unsigned SELF_TEST_LAST_FAILURE = 7;
const size_t SELF_TEST_SENSE_BYTE = 12;  // sense key, then ASC and ASCQ

std::string PageLabel(unsigned page)
{
    char text[64];
    const char* name = LogPageName(page);
    std::snprintf(text, sizeof text, "log page %02Xh (%s)", page, name != nullptr ? name : "unnamed");
    return text;
}

class CJudgement {
public:
    explicit CJudgement(CDriveHealth& health) : m_health(health)
    {
        health.driveVerdict = DRIVE_OK;
        health.driveReasons.clear();
        health.cartridgeVerdict = health.NoCartridge() ? CARTRIDGE_NONE : CARTRIDGE_OK;
        health.cartridgeReasons.clear();
    }

    void Drive(EDriveVerdict verdict, const std::string& reason)
    {
        m_health.driveVerdict = std::max(m_health.driveVerdict, verdict);
        m_health.driveReasons.push_back(reason);
    }
    void ReplaceCartridge(const std::string& reason)
    {
        m_health.cartridgeVerdict = CARTRIDGE_REPLACE;
        m_health.cartridgeReasons.push_back(reason);
    }

private:
    CDriveHealth& m_health;
};

void JudgeUnitReady(const CDriveHealth& health, CJudgement& judgement)
{
    if (health.unitReady || health.NoCartridge())
        return;
    if (health.notReady.key == SENSE_KEY_HARDWARE_ERROR)
        judgement.Drive(DRIVE_FAILED, "the unit-ready check failed: " + SenseSummary(health.notReady));
    else
        judgement.Drive(DRIVE_ATTENTION, "the drive is not ready: " + SenseSummary(health.notReady));
}

void JudgeUnreadablePages(const CDriveHealth& health, CJudgement& judgement)
{
    for (const CLogPageReading& page : health.pages) {
        if (page.status == LOG_PAGE_FAILED)
            judgement.Drive(DRIVE_ATTENTION, PageLabel(page.page) + " could not be read: " + SenseSummary(page.sense));
    }
}

void JudgeTapeAlerts(const CDriveHealth& health, CJudgement& judgement)
{
    for (unsigned number : health.RaisedTapeAlerts()) {
        const CTapeAlertFlag& flag = *FindTapeAlertFlag(number);
        if (flag.severity == TAPE_ALERT_INFORMATION)
            continue;
        char reason[128];
        std::snprintf(reason, sizeof reason, "TapeAlert flag %u: %s (%s)", flag.number, flag.name,
                      SeverityName(flag.severity));
        switch (flag.subject) {
        case ALERT_ON_DRIVE:
            judgement.Drive(flag.severity == TAPE_ALERT_CRITICAL ? DRIVE_FAILED : DRIVE_ATTENTION, reason);
            break;
        case ALERT_ON_CLEANING:
            judgement.Drive(DRIVE_NEEDS_CLEANING, reason);
            break;
        case ALERT_ON_CARTRIDGE:
            judgement.ReplaceCartridge(reason);
            break;
        case ALERT_ON_OPERATION:
            break;
        }
    }
}

void JudgeUncorrected(const CDriveHealth& health, unsigned code, const char* direction, CJudgement& judgement)
{
    const CLogPageReading* page = health.Page(code);
    uint64_t errors = 0;
    if (page == nullptr || !page->Value(ERROR_COUNTER_TOTAL_UNCORRECTED, errors) || errors == 0)
        return;
    char reason[96];
    std::snprintf(reason, sizeof reason, "%llu uncorrected %s errors counted (log page %02Xh)",
                  static_cast<unsigned long long>(errors), direction, code);
    judgement.Drive(DRIVE_ATTENTION, reason);
}

void JudgeCleaning(const CDriveHealth& health, CJudgement& judgement)
{
    const CLogPageReading* page = health.Page(LOG_PAGE_SEQUENTIAL_ACCESS);
    uint64_t required = 0;
    if (page != nullptr && page->Value(SEQUENTIAL_ACCESS_CLEANING_REQUIRED, required) && required != 0)
        judgement.Drive(DRIVE_NEEDS_CLEANING, "the drive asks to be cleaned (log page 0Ch)");
}

void JudgeTemperature(const CDriveHealth& health, CJudgement& judgement)
{
    const CLogPageReading* page = health.Page(LOG_PAGE_TEMPERATURE);
    unsigned degrees = 0, reference = 0;
    if (page == nullptr || !TemperatureDegrees(*page, TEMPERATURE_CURRENT, degrees) ||
        !TemperatureDegrees(*page, TEMPERATURE_REFERENCE, reference) || degrees <= reference)
        return;
    char reason[96];
    std::snprintf(reason, sizeof reason, "temperature %u C is above the drive's reference of %u C (log page 0Dh)",
                  degrees, reference);
    judgement.Drive(DRIVE_ATTENTION, reason);
}

void JudgeSelfTest(const CDriveHealth& health, CJudgement& judgement)
{
    const CLogPageReading* page = health.Page(LOG_PAGE_SELF_TEST_RESULTS);
    CSelfTestResult last;
    if (page == nullptr || !LastSelfTest(*page, last) || last.result < SELF_TEST_FIRST_FAILURE ||
        last.result > SELF_TEST_LAST_FAILURE)
        return;
    char reason[64];
    std::snprintf(reason, sizeof reason, "the last self-test failed (result %u): ", last.result);
    judgement.Drive(DRIVE_FAILED, reason + SenseSummary(last.sense));
}

}  // namespace

const char* DriveVerdictName(EDriveVerdict verdict)
{
    switch (verdict) {
    case DRIVE_NEEDS_CLEANING:
        return "NEEDS CLEANING";
    case DRIVE_ATTENTION:
        return "ATTENTION";
    case DRIVE_FAILED:
        return "FAILED";
    default:
        return "OK";
    }
}

const char* CartridgeVerdictName(ECartridgeVerdict verdict)
{
    switch (verdict) {
    case CARTRIDGE_REPLACE:
        return "REPLACE";
    case CARTRIDGE_NONE:
        return "NONE";
    default:
        return "OK";
    }
}

const CLogPageReading* CDriveHealth::Page(unsigned code) const
{
    for (const CLogPageReading& page : pages) {
        if (page.page == code && page.status == LOG_PAGE_READ)
            return &page;
    }
    return nullptr;
}

std::vector<unsigned> CDriveHealth::RaisedTapeAlerts() const
{
    const CLogPageReading* page = Page(LOG_PAGE_TAPE_ALERT);
    return page != nullptr ? ::RaisedTapeAlerts(*page) : std::vector<unsigned>();
}

std::vector<unsigned> RaisedTapeAlerts(const CLogPageReading& page)
{
    std::vector<unsigned> raised;
    for (const CLogParameterValue& parameter : page.parameters) {
        if (parameter.numeric && parameter.value != 0 && FindTapeAlertFlag(parameter.code) != nullptr)
            raised.push_back(parameter.code);
    }
    std::sort(raised.begin(), raised.end());
    raised.erase(std::unique(raised.begin(), raised.end()), raised.end());
    return raised;
}

bool CDriveHealth::NoCartridge() const
{
    return !unitReady && notReady.key == SENSE_KEY_NOT_READY && notReady.asc == ASC_MEDIUM_NOT_PRESENT.asc;
}

// Bits 0-7 of the 2-byte parameter.
bool TemperatureDegrees(const CLogPageReading& page, uint32_t code, unsigned& degrees)
{
    uint64_t value = 0;
    if (!page.Value(code, value) || (value & 0xFF) == TEMPERATURE_UNKNOWN)
        return false;
    degrees = static_cast<unsigned>(value & 0xFF);
    return true;
}

bool LastSelfTest(const CLogPageReading& page, CSelfTestResult& last)
{
    for (const CLogParameterValue& parameter : page.parameters) {
        if (parameter.code != 1)
            continue;
        const std::vector<unsigned char>& entry = parameter.bytes;
        if (entry.size() < SELF_TEST_RESULT_LENGTH ||
            std::all_of(entry.begin(), entry.end(), [](unsigned char byte) { return byte == 0; }))
            return false;
        last.result = entry[0] & 0x0F;
        last.sense = DescribeSense(entry[SELF_TEST_SENSE_BYTE], entry[SELF_TEST_SENSE_BYTE + 1],
                                   entry[SELF_TEST_SENSE_BYTE + 2]);
        return true;
    }
    return false;
}

void JudgeHealth(CDriveHealth& health)
{
    CJudgement judgement(health);
    JudgeUnitReady(health, judgement);
    JudgeUnreadablePages(health, judgement);
    JudgeSelfTest(health, judgement);
    JudgeTapeAlerts(health, judgement);
    JudgeCleaning(health, judgement);
    JudgeUncorrected(health, LOG_PAGE_WRITE_ERRORS, "write", judgement);
    JudgeUncorrected(health, LOG_PAGE_READ_ERRORS, "read", judgement);
    JudgeTemperature(health, judgement);
    if (health.NoCartridge()) {
        health.cartridgeReasons.push_back(health.cartridgeVerdict == CARTRIDGE_NONE
                                              ? "no cartridge in the drive"
                                              : "no cartridge in the drive: the flags are about the one last loaded");
    }
}
