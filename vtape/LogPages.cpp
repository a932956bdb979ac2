// LOG SENSE and LOG SELECT, the log pages the drive can build, and the error
// counters behind them. Which pages a drive has is its model's list; each
// page is built by its code from the table in FindLogPage.
#include <algorithm>
#include <vector>

#include "VirtualDriveImpl.h"

namespace {

const unsigned char LOG_PARAMETER_CONTROL = 0x60;
const int NARROW_COUNTER_BYTES = 4;
const int WIDE_COUNTER_BYTES = 8;
const size_t HEADER_LENGTH = LOG_HEADER_LENGTH;
const uint64_t BYTES_PER_MEGABYTE = 1048576;

// Temperature page (0Dh), degrees Celsius, unless a fault says otherwise.
const unsigned char DRIVE_TEMPERATURE = 35;
const unsigned char REFERENCE_TEMPERATURE = 60;
// Tape capacity page (31h), in megabytes of 1048576 bytes: remaining and
// maximum capacity of partitions 0 and 1.
const uint32_t REMAINING_PARTITION0 = 0x0001;
const uint32_t MAXIMUM_PARTITION1 = 0x0004;
// Control byte of parameters that are values rather than counters.
const unsigned char LOG_VALUE_CONTROL = 0x03;

void AppendParameter(std::vector<unsigned char>& page, uint32_t code, uint64_t value, int width)
{
    const size_t at = page.size();
    page.resize(at + LOG_PARAMETER_HEADER_LENGTH + static_cast<size_t>(width));
    AppendLogParameter(page.data() + at, code, LOG_PARAMETER_CONTROL, value, width);
}

// Appends one parameter whose value is `width` (1 to 8) bytes.
void AppendValue(std::vector<unsigned char>& page, uint32_t code, unsigned char control, uint64_t value, int width)
{
    const size_t at = page.size();
    page.resize(at + LOG_PARAMETER_HEADER_LENGTH + static_cast<size_t>(width));
    unsigned char* parameter = page.data() + at;
    PutBig16(parameter, code);
    parameter[2] = control;
    parameter[3] = static_cast<unsigned char>(width);
    for (int i = width - 1; i >= 0; --i, value >>= 8) {
        parameter[LOG_PARAMETER_HEADER_LENGTH + i] = static_cast<unsigned char>(value);
    }
}

}  // namespace

const CVirtualDriveImpl::CLogPage* CVirtualDriveImpl::FindLogPage(unsigned char code)
{
    static const CLogPage kPages[] = {
        {LOG_PAGE_SUPPORTED, &CVirtualDriveImpl::BuildSupportedLogPages},
        {LOG_PAGE_WRITE_ERRORS, &CVirtualDriveImpl::BuildWriteErrorPage},
        {LOG_PAGE_READ_ERRORS, &CVirtualDriveImpl::BuildReadErrorPage},
        {LOG_PAGE_SEQUENTIAL_ACCESS, &CVirtualDriveImpl::BuildSequentialAccessPage},
        {LOG_PAGE_TEMPERATURE, &CVirtualDriveImpl::BuildTemperaturePage},
        {LOG_PAGE_SELF_TEST_RESULTS, &CVirtualDriveImpl::BuildSelfTestPage},
        {LOG_PAGE_TAPE_ALERT, &CVirtualDriveImpl::BuildTapeAlertPage},
        {LOG_PAGE_TAPE_CAPACITY, &CVirtualDriveImpl::BuildTapeCapacityPage},
    };
    for (const CLogPage& page : kPages) {
        if (page.code == code) {
            return &page;
        }
    }
    return nullptr;
}

void CVirtualDriveImpl::LogSelect(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char* cdb = command.cdb;
    const bool parameterCodeReset = (cdb[1] & 0x02) != 0;
    const size_t listLength = GetBig16(cdb + 7);
    if (cdb[1] & 0x01) {
        Fail(reply, InvalidFieldInCdb(1, 0));
        return;
    }
    if (listLength > command.dataOutLength) {
        Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_PARAMETER_LIST_LENGTH_ERROR);
        return;
    }
    if (parameterCodeReset) {
        if (listLength != 0) {
            Fail(reply, InvalidFieldInCdb(7));
            return;
        }
        ResetCounters();
        return;
    }
    if (listLength != 0) {
        Fail(reply, InvalidFieldInParameterList(0));  // counters cannot be preset
    }
}

void CVirtualDriveImpl::LogSense(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char* cdb = command.cdb;
    if (cdb[1] & 0x02) {  // PPC
        Fail(reply, InvalidFieldInCdb(1, 1));
        return;
    }
    if (cdb[1] & 0x01) {  // SP
        Fail(reply, InvalidFieldInCdb(1, 0));
        return;
    }
    const unsigned char code = cdb[2] & 0x3F;
    if (m_logFailures.Fails(code)) {
        Fail(reply, SENSE_KEY_HARDWARE_ERROR, ASC_INTERNAL_TARGET_FAILURE);
        return;
    }
    const CLogPage* page = m_logPages.Has(code) ? FindLogPage(code) : nullptr;
    if (page == nullptr) {
        Fail(reply, InvalidFieldInCdb(2, 5));
        return;
    }
    std::vector<unsigned char> data = {code, 0, 0, 0};
    if (!(this->*page->build)(GetBig16(cdb + 5), data)) {
        Fail(reply, InvalidFieldInCdb(5));  // parameter pointer past the last parameter
        return;
    }
    PutBig16(data.data() + 2, static_cast<uint32_t>(data.size() - HEADER_LENGTH));
    size_t available = data.size();
    const CCodeFailRule* shortPage = FindCodeRule(m_faults.logShortPages, code);
    if (shortPage != nullptr) {
        available = std::min<size_t>(available, shortPage->times);  // the length field still claims all
    }
    SendData(command, reply, data.data(), available, GetBig16(cdb + 7));
    if (code == LOG_PAGE_TAPE_ALERT) {
        m_tapeAlerts = 0;  // a flag is reported once, as real drives do
    }
}

bool CVirtualDriveImpl::BuildSupportedLogPages(uint32_t, std::vector<unsigned char>& page) const
{
    unsigned char codes[256];
    const size_t count = m_logPages.CopyTo(codes);
    page.insert(page.end(), codes, codes + count);
    return true;
}

bool CVirtualDriveImpl::BuildWriteErrorPage(uint32_t parameterPointer, std::vector<unsigned char>& page) const
{
    return BuildCounterPage(m_writeCounters, parameterPointer, page);
}

bool CVirtualDriveImpl::BuildReadErrorPage(uint32_t parameterPointer, std::vector<unsigned char>& page) const
{
    return BuildCounterPage(m_readCounters, parameterPointer, page);
}

bool CVirtualDriveImpl::BuildCounterPage(const CErrorCounters& counters, uint32_t parameterPointer,
                                         std::vector<unsigned char>& page) const
{
    const CCounterLayout& layout = m_model.counters;
    for (uint32_t parameter = parameterPointer; parameter < ERROR_COUNTERS; ++parameter) {
        const int width = layout.wideParameters.Has(parameter) ? WIDE_COUNTER_BYTES : NARROW_COUNTER_BYTES;
        AppendParameter(page, parameter, counters.values[parameter], width);
    }
    if (layout.vendorParameter && parameterPointer <= ERROR_COUNTER_VENDOR_DAT) {
        AppendParameter(page, ERROR_COUNTER_VENDOR_DAT, counters.vendor, NARROW_COUNTER_BYTES);
    }
    return page.size() > HEADER_LENGTH;
}

// The byte counts are those of the error counter pages (parameter 0005h),
// so both kinds of page agree and a reset clears both. The drive records
// what the host sent as it is, so medium and host counts are equal.
bool CVirtualDriveImpl::BuildSequentialAccessPage(uint32_t parameterPointer, std::vector<unsigned char>& page) const
{
    const uint64_t written = m_writeCounters.values[COUNTER_BYTES_PROCESSED];
    const uint64_t read = m_readCounters.values[COUNTER_BYTES_PROCESSED];
    const struct {
        uint32_t code;
        uint64_t value;
    } counts[] = {{SEQUENTIAL_ACCESS_BYTES_FROM_HOST, written},
                  {SEQUENTIAL_ACCESS_BYTES_TO_MEDIUM, written},
                  {SEQUENTIAL_ACCESS_BYTES_FROM_MEDIUM, read},
                  {SEQUENTIAL_ACCESS_BYTES_TO_HOST, read}};
    for (const auto& count : counts) {
        if (count.code >= parameterPointer) {
            AppendValue(page, count.code, LOG_PARAMETER_CONTROL, count.value, WIDE_COUNTER_BYTES);
        }
    }
    if (SEQUENTIAL_ACCESS_CLEANING_REQUIRED >= parameterPointer) {
        AppendValue(page, SEQUENTIAL_ACCESS_CLEANING_REQUIRED, LOG_VALUE_CONTROL, m_faults.cleaningRequired ? 1 : 0, 1);
    }
    return page.size() > HEADER_LENGTH;
}

bool CVirtualDriveImpl::BuildTemperaturePage(uint32_t parameterPointer, std::vector<unsigned char>& page) const
{
    const unsigned char temperature = m_faults.hasTemperature ? m_faults.temperature : DRIVE_TEMPERATURE;
    if (parameterPointer <= TEMPERATURE_CURRENT) {
        AppendValue(page, TEMPERATURE_CURRENT, LOG_VALUE_CONTROL, temperature, 2);
    }
    if (parameterPointer <= TEMPERATURE_REFERENCE) {
        AppendValue(page, TEMPERATURE_REFERENCE, LOG_VALUE_CONTROL, REFERENCE_TEMPERATURE, 2);
    }
    return page.size() > HEADER_LENGTH;
}

bool CVirtualDriveImpl::BuildTapeAlertPage(uint32_t parameterPointer, std::vector<unsigned char>& page) const
{
    for (uint32_t flag = std::max<uint32_t>(parameterPointer, 1); flag <= TAPE_ALERT_FLAG_COUNT; ++flag) {
        AppendValue(page, flag, LOG_VALUE_CONTROL, (m_tapeAlerts >> (flag - 1)) & 1, 1);
    }
    return page.size() > HEADER_LENGTH;
}

// What the cartridge holds and can still take; nothing without a cartridge.
bool CVirtualDriveImpl::BuildTapeCapacityPage(uint32_t parameterPointer, std::vector<unsigned char>& page) const
{
    const uint64_t capacity = m_loaded ? m_medium.CapacityBytes() : 0;
    const uint64_t used = m_loaded ? std::min(m_medium.UsedBytes(), capacity) : 0;
    const uint64_t values[] = {(capacity - used) / BYTES_PER_MEGABYTE, 0, capacity / BYTES_PER_MEGABYTE, 0};
    for (uint32_t code = std::max(parameterPointer, REMAINING_PARTITION0); code <= MAXIMUM_PARTITION1; ++code) {
        AppendValue(page, code, LOG_VALUE_CONTROL, values[code - REMAINING_PARTITION0], NARROW_COUNTER_BYTES);
    }
    return page.size() > HEADER_LENGTH;
}

// Twenty entries, the most recent first; those without a result are zeros.
bool CVirtualDriveImpl::BuildSelfTestPage(uint32_t parameterPointer, std::vector<unsigned char>& page) const
{
    for (uint32_t entry = std::max<uint32_t>(parameterPointer, 1); entry <= SELF_TEST_RESULT_ENTRIES; ++entry) {
        const size_t at = page.size();
        page.resize(at + LOG_PARAMETER_HEADER_LENGTH + SELF_TEST_RESULT_LENGTH);
        PutBig16(page.data() + at, entry);
        page[at + 2] = LOG_VALUE_CONTROL;
        page[at + 3] = SELF_TEST_RESULT_LENGTH;
        if (entry <= m_selfTests.size()) {
            const auto& result = m_selfTests[entry - 1];
            std::copy(result.begin(), result.end(), page.begin() + static_cast<long>(at + LOG_PARAMETER_HEADER_LENGTH));
        }
    }
    return page.size() > HEADER_LENGTH;
}

void CVirtualDriveImpl::InitialLogPages()
{
    for (unsigned code = 0; code < 256; ++code) {
        if (m_model.logPages.Has(code) && !m_faults.missingLogPages.Has(code)) {
            m_logPages.Add(static_cast<unsigned char>(code));
        }
    }
    if (m_faults.selftestLog) {
        m_logPages.Add(LOG_PAGE_SELF_TEST_RESULTS);
    }
    m_tapeAlerts = m_faults.tapeAlerts;
    if (m_faults.cleaningRequired && m_logPages.Has(LOG_PAGE_TAPE_ALERT)) {
        m_tapeAlerts |= uint64_t(1) << (TAPE_ALERT_CLEANING_REQUIRED - 1);
    }
    // A drive in service has counted errors before anyone asks.
    for (const CCounterPreset& preset : m_faults.counterPresets) {
        CErrorCounters& counters = preset.page == LOG_PAGE_WRITE_ERRORS ? m_writeCounters : m_readCounters;
        if (preset.parameter == ERROR_COUNTER_VENDOR_DAT) {
            counters.vendor = preset.value;
        } else {
            counters.values[preset.parameter] = preset.value;
        }
    }
}

void CVirtualDriveImpl::RecordSelfTest(bool passed)
{
    std::array<unsigned char, SELF_TEST_RESULT_LENGTH> result{};
    // Accumulated power-on hours: the drive is in its first hour. It also
    // tells a passed entry from an unused one, which is all zeros.
    PutBig16(result.data() + 2, 1);
    if (!passed) {
        result[0] = SELF_TEST_FAILED_SEGMENT_UNKNOWN;
        result[12] = SENSE_KEY_HARDWARE_ERROR;
        result[13] = ASC_DIAGNOSTIC_FAILURE.asc;
        result[14] = ASC_DIAGNOSTIC_FAILURE.ascq;
    }
    m_selfTests.insert(m_selfTests.begin(), result);
    if (m_selfTests.size() > SELF_TEST_RESULT_ENTRIES) {
        m_selfTests.pop_back();
    }
}

void CVirtualDriveImpl::ResetCounters()
{
    m_writeCounters = CErrorCounters();
    m_readCounters = CErrorCounters();
}

void CVirtualDriveImpl::ChargeWriteCounters()
{
    if (m_writeCounters.chargePending) {
        m_writeCounters.chargePending = false;
        m_writeCounters.values[COUNTER_UNCORRECTED] += m_faults.writeUncorrected;
    }
}

void CVirtualDriveImpl::ChargeReadCounters()
{
    if (m_readCounters.chargePending) {
        m_readCounters.chargePending = false;
        uint64_t* values = m_readCounters.values;
        values[COUNTER_CORRECTED] += m_faults.readCorrected;
        values[COUNTER_DELAYED] += m_faults.readDelayed;
        values[COUNTER_TOTAL_CORRECTED] += uint64_t(m_faults.readCorrected) + m_faults.readDelayed;
        values[COUNTER_UNCORRECTED] += m_faults.readUncorrected;
        m_readCounters.vendor += m_faults.datErrors;
    }
}
