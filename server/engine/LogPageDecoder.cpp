#include "LogPageDecoder.h"

#include <algorithm>

#include "ScsiData.h"
#include "TapeAlert.h"

namespace {

const int MAX_NUMERIC_LENGTH = 8;

struct CNamedCode {
    uint32_t code;
    const char* name;
};

// The names T10 gives the parameters of each page this program reads.
const CNamedCode errorCounterNames[] = {
    {ERROR_COUNTER_CORRECTED_WITHOUT_DELAY, "Errors corrected without substantial delay"},
    {ERROR_COUNTER_CORRECTED_WITH_DELAY, "Errors corrected with possible delays"},
    {ERROR_COUNTER_TOTAL_REPROCESSED, "Total rewrites or rereads"},
    {ERROR_COUNTER_TOTAL_CORRECTED, "Total errors corrected"},
    {ERROR_COUNTER_ALGORITHM_PROCESSED, "Total times correction algorithm processed"},
    {ERROR_COUNTER_BYTES_PROCESSED, "Total bytes processed"},
    {ERROR_COUNTER_TOTAL_UNCORRECTED, "Total uncorrected errors"},
};
const CNamedCode sequentialAccessNames[] = {
    {SEQUENTIAL_ACCESS_BYTES_FROM_HOST, "Data bytes received with WRITE commands"},
    {SEQUENTIAL_ACCESS_BYTES_TO_MEDIUM, "Data bytes written to media by WRITE commands"},
    {SEQUENTIAL_ACCESS_BYTES_FROM_MEDIUM, "Data bytes read from media by READ commands"},
    {SEQUENTIAL_ACCESS_BYTES_TO_HOST, "Data bytes transferred by READ commands"},
    {SEQUENTIAL_ACCESS_CLEANING_REQUIRED, "Cleaning required"},
};
const CNamedCode temperatureNames[] = {
    {TEMPERATURE_CURRENT, "Temperature"},
    {TEMPERATURE_REFERENCE, "Reference temperature"},
};
const CNamedCode tapeCapacityNames[] = {
    {0x0001, "Remaining capacity, partition 0"},
    {0x0002, "Remaining capacity, partition 1"},
    {0x0003, "Maximum capacity, partition 0"},
    {0x0004, "Maximum capacity, partition 1"},
};

struct CPageNames {
    unsigned page;
    const char* name;
    const CNamedCode* parameters;
    size_t count;
};

template <size_t N>
constexpr CPageNames Page(unsigned page, const char* name, const CNamedCode (&parameters)[N])
{
    return {page, name, parameters, N};
}

const CPageNames pageNames[] = {
    {LOG_PAGE_SUPPORTED, "Supported log pages", nullptr, 0},
    Page(LOG_PAGE_WRITE_ERRORS, "Write error counters", errorCounterNames),
    Page(LOG_PAGE_READ_ERRORS, "Read error counters", errorCounterNames),
    Page(LOG_PAGE_SEQUENTIAL_ACCESS, "Sequential-access device", sequentialAccessNames),
    Page(LOG_PAGE_TEMPERATURE, "Temperature", temperatureNames),
    {LOG_PAGE_SELF_TEST_RESULTS, "Self-test results", nullptr, 0},
    {LOG_PAGE_TAPE_ALERT, "TapeAlert", nullptr, 0},
    Page(LOG_PAGE_TAPE_CAPACITY, "Tape capacity", tapeCapacityNames),
};

const CPageNames* FindPage(unsigned page)
{
    for (const CPageNames& names : pageNames) {
        if (names.page == page)
            return &names;
    }
    return nullptr;
}

const char* ParameterName(unsigned page, uint32_t code)
{
    if (page == LOG_PAGE_TAPE_ALERT) {
        const CTapeAlertFlag* flag = FindTapeAlertFlag(code);
        return flag != nullptr ? flag->name : nullptr;
    }
    if (page == LOG_PAGE_SELF_TEST_RESULTS && code >= 1 && code <= SELF_TEST_RESULT_ENTRIES)
        return "Self-test result";
    const CPageNames* names = FindPage(page);
    for (size_t i = 0; names != nullptr && i < names->count; ++i) {
        if (names->parameters[i].code == code)
            return names->parameters[i].name;
    }
    return nullptr;
}

}  // namespace

bool CLogPageReading::Value(uint32_t code, uint64_t& value) const
{
    for (const CLogParameterValue& parameter : parameters) {
        if (parameter.code == code && parameter.numeric) {
            value = parameter.value;
            return true;
        }
    }
    return false;
}

CLogPageReading DecodeLogPage(const unsigned char* page, int length)
{
    CLogPageReading reading;
    if (length < LOG_HEADER_LENGTH)
        return reading;
    reading.page = page[0] & 0x3F;
    const int end = std::min<int>(length, LOG_HEADER_LENGTH + static_cast<int>(LogPageLength(page)));
    if (reading.page == LOG_PAGE_SUPPORTED) {
        reading.listedPages.assign(page + LOG_HEADER_LENGTH, page + std::max(end, LOG_HEADER_LENGTH));
        return reading;
    }
    for (int at = LOG_HEADER_LENGTH; at + LOG_PARAMETER_HEADER_LENGTH <= end; at = NextLogParameter(page, at)) {
        const unsigned char* parameter = page + at;
        const unsigned char* bytes = parameter + LOG_PARAMETER_HEADER_LENGTH;
        const int valueLength = parameter[3];
        if (at + LOG_PARAMETER_HEADER_LENGTH + valueLength > end)
            break;
        CLogParameterValue value;
        value.code = LogParameterCode(parameter);
        value.name = ParameterName(reading.page, value.code);
        value.numeric = valueLength >= 1 && valueLength <= MAX_NUMERIC_LENGTH;
        if (value.numeric)
            value.value = LogParameterValue(parameter);
        else
            value.bytes.assign(bytes, bytes + valueLength);
        reading.parameters.push_back(value);
    }
    return reading;
}

const char* LogPageName(unsigned page)
{
    const CPageNames* names = FindPage(page);
    return names != nullptr ? names->name : nullptr;
}
