#include "TapeErrorHandler.h"

#include <cstdint>

#include "DriveManager.h"
#include "ScsiData.h"

namespace {

const int FIRST_PARAMETER = LOG_HEADER_LENGTH;

int PageEnd(const unsigned char* page)
{
    // Only the low byte of the page length is read: at most 255 bytes of parameters.
    return FIRST_PARAMETER + page[3];
}

// The limit is formed in 32 bits and widened with its sign.
long long Limit(int perMegabyte, long megabytes)
{
    uint32_t product = static_cast<uint32_t>(perMegabyte) * static_cast<uint32_t>(megabytes);
    return static_cast<long long>(static_cast<int32_t>(product));
}

}  // namespace

CTapeErrorHandler::CTapeErrorHandler(CDriveManager* manager) : m_application(&manager->Context()), m_maxAllowedErrors(0)
{}

void CTapeErrorHandler::InitErrorHandler(int driveType, long megabytes)
{
    switch (driveType) {
    case DRIVE_TRAVAN_0:
    case DRIVE_TRAVAN_1:
    case DRIVE_TRAVAN_2:
        m_maxAllowedErrors = Limit(13, megabytes);
        break;
    case DRIVE_DAT_3:
    case DRIVE_DAT_4:
    case DRIVE_DAT_5:
        m_maxAllowedErrors = Limit(760, megabytes);
        break;
    case DRIVE_ULTRIUM:
        m_maxAllowedErrors = 0;
        break;
    default:
        break;
    }
}

bool CTapeErrorHandler::CheckDriveErrors(CTapeDrive* drive, unsigned char* page)
{
    long long errors = 0;
    if (CDriveManager::IsTravanTypeDrive(drive))
        errors = TR4Errors(page);
    else if (CDriveManager::IsDatTypeDrive(drive))
        errors = DATErrors(page);
    else
        return false;
    return Verdict(errors);
}

bool CTapeErrorHandler::CheckDriveErrors(CTapeDrive*, unsigned char* writePage, unsigned char* readPage)
{
    return Verdict(NivraErrors(writePage, readPage));
}

ECounterVerdict CTapeErrorHandler::Judge(CTapeDrive* drive, const CCounterPage& writePage, const CCounterPage& readPage)
{
    if (drive->DriveType() == DRIVE_ULTRIUM) {
        if (!HoldsParameters(writePage, {ERROR_COUNTER_TOTAL_UNCORRECTED}))
            return WRITE_COUNTERS_UNREADABLE;
        if (!HoldsParameters(readPage, {ERROR_COUNTER_TOTAL_UNCORRECTED}))
            return READ_COUNTERS_UNREADABLE;
        return CheckDriveErrors(drive, writePage.data, readPage.data) ? COUNTERS_PASS : COUNTERS_FAIL;
    }
    const bool held =
        CDriveManager::IsTravanTypeDrive(drive)
            ? HoldsParameters(readPage, {ERROR_COUNTER_CORRECTED_WITHOUT_DELAY, ERROR_COUNTER_CORRECTED_WITH_DELAY})
        : CDriveManager::IsDatTypeDrive(drive) ? HoldsParameters(readPage, {ERROR_COUNTER_VENDOR_DAT})
                                               : true;
    if (!held)
        return READ_COUNTERS_UNREADABLE;
    return CheckDriveErrors(drive, readPage.data) ? COUNTERS_PASS : COUNTERS_FAIL;
}

bool CTapeErrorHandler::HoldsParameters(const CCounterPage& page, std::initializer_list<int> codes)
{
    const int end = page.received < PageEnd(page.data) ? page.received : PageEnd(page.data);
    for (int code : codes) {
        int position = FIRST_PARAMETER;
        while (position + LOG_PARAMETER_HEADER_LENGTH <= end &&
               static_cast<int>(LogParameterCode(page.data + position)) != code)
            position = NextLogParameter(page.data, position);
        if (position + LOG_PARAMETER_HEADER_LENGTH > end || NextLogParameter(page.data, position) > end)
            return false;
    }
    return true;
}

bool CTapeErrorHandler::Verdict(long long errors)
{
    bool pass = errors <= m_maxAllowedErrors;
    if (m_application->EngineeringMode()) {
        CVString line;
        CVString number;
        number.Format("Max allowed errors: %lld", m_maxAllowedErrors);
        line = number;
        number.Format(".  Actual errors: %lld", errors);
        line += number;
        m_application->Msg(line, true);
    }
    return pass;
}

long long CTapeErrorHandler::TR4Errors(unsigned char* page)
{
    uint64_t sum = 0;
    for (int position = FIRST_PARAMETER; position < PageEnd(page); position = NextLogParameter(page, position)) {
        int code = static_cast<int>(LogParameterCode(page + position));
        if (code == ERROR_COUNTER_CORRECTED_WITHOUT_DELAY || code == ERROR_COUNTER_CORRECTED_WITH_DELAY)
            sum += static_cast<uint64_t>(GetIndividualParamValue(reinterpret_cast<logparameter*>(page + position)));
    }
    return static_cast<long long>(sum);
}

long long CTapeErrorHandler::FindParameter(unsigned char* page, int code, bool& found)
{
    // What starts at the page's end is not the page's.
    for (int position = FIRST_PARAMETER; position < PageEnd(page); position = NextLogParameter(page, position)) {
        if (static_cast<int>(LogParameterCode(page + position)) == code) {
            found = true;
            return GetIndividualParamValue(reinterpret_cast<logparameter*>(page + position));
        }
    }
    found = false;
    return 0;
}

long long CTapeErrorHandler::DATErrors(unsigned char* page)
{
    bool found = false;
    return FindParameter(page, ERROR_COUNTER_VENDOR_DAT, found);
}

long long CTapeErrorHandler::NivraErrors(unsigned char* writePage, unsigned char* readPage)
{
    bool writeFound = false;
    bool readFound = false;
    long long writeErrors = FindParameter(writePage, ERROR_COUNTER_TOTAL_UNCORRECTED, writeFound);
    long long readErrors = FindParameter(readPage, ERROR_COUNTER_TOTAL_UNCORRECTED, readFound);
    if (!writeFound || !readFound)
        return 0;
    return static_cast<long long>(static_cast<uint64_t>(writeErrors) + static_cast<uint64_t>(readErrors));
}

long long CTapeErrorHandler::GetIndividualParamValue(logparameter* parameter)
{
    const unsigned char* value = parameter->value;
    switch (parameter->length) {
    case 1:
        return CDriveManager::OneByteStrToInt64(value);
    case 2:
        return CDriveManager::TwoByteStrToInt64(value);
    case 3:
        return CDriveManager::ThreeByteStrToInt64(value);
    case 4:
        return CDriveManager::FourByteStrToInt64(value);
    case 5:
        return CDriveManager::FiveByteStrToInt64(value);
    case 6:
        return CDriveManager::SixByteStrToInt64(value);
    case 7:
        return CDriveManager::SevenByteStrToInt64(value);
    case 8:
        return CDriveManager::EightByteStrToInt64(value);
    default:
        return 0;
    }
}
