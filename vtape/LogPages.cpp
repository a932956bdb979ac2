// LOG SENSE and LOG SELECT, the log pages the drive can build, and the error
// counters behind them. Which pages a drive has is its model's list; each
// page is built by its code from the table in FindLogPage.
#include <vector>

#include "VirtualDriveImpl.h"

namespace {

const uint32_t VENDOR_ERROR_PARAMETER = 0x8008;
const unsigned char LOG_PARAMETER_CONTROL = 0x60;
const int NARROW_COUNTER_BYTES = 4;
const int WIDE_COUNTER_BYTES = 8;
const size_t HEADER_LENGTH = LOG_HEADER_LENGTH;

void AppendParameter(std::vector<unsigned char>& page, uint32_t code, uint64_t value, int width)
{
    const size_t at = page.size();
    page.resize(at + LOG_PARAMETER_HEADER_LENGTH + static_cast<size_t>(width));
    AppendLogParameter(page.data() + at, code, LOG_PARAMETER_CONTROL, value, width);
}

}  // namespace

const CVirtualDriveImpl::CLogPage* CVirtualDriveImpl::FindLogPage(unsigned char code)
{
    static const CLogPage kPages[] = {
        {LOG_PAGE_SUPPORTED, &CVirtualDriveImpl::BuildSupportedLogPages},
        {LOG_PAGE_WRITE_ERRORS, &CVirtualDriveImpl::BuildWriteErrorPage},
        {LOG_PAGE_READ_ERRORS, &CVirtualDriveImpl::BuildReadErrorPage},
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
        Fail(reply, SENSE_ILLEGAL_REQUEST, 0x1A, 0x00);
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
    const CLogPage* page = m_model.logPages.Has(code) ? FindLogPage(code) : nullptr;
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
    SendData(command, reply, data.data(), data.size(), GetBig16(cdb + 7));
}

bool CVirtualDriveImpl::BuildSupportedLogPages(uint32_t, std::vector<unsigned char>& page) const
{
    unsigned char codes[256];
    const size_t count = m_model.logPages.CopyTo(codes);
    page.insert(page.end(), codes, codes + count);
    return true;
}

bool CVirtualDriveImpl::BuildWriteErrorPage(uint32_t parameterPointer,
                                            std::vector<unsigned char>& page) const
{
    return BuildCounterPage(m_writeCounters, parameterPointer, page);
}

bool CVirtualDriveImpl::BuildReadErrorPage(uint32_t parameterPointer,
                                           std::vector<unsigned char>& page) const
{
    return BuildCounterPage(m_readCounters, parameterPointer, page);
}

bool CVirtualDriveImpl::BuildCounterPage(const CErrorCounters& counters, uint32_t parameterPointer,
                                         std::vector<unsigned char>& page) const
{
    const CCounterLayout& layout = m_model.counters;
    for (uint32_t parameter = parameterPointer; parameter < ERROR_COUNTERS; ++parameter) {
        const int width =
            layout.wideParameters.Has(parameter) ? WIDE_COUNTER_BYTES : NARROW_COUNTER_BYTES;
        AppendParameter(page, parameter, counters.values[parameter], width);
    }
    if (layout.vendorParameter && parameterPointer <= VENDOR_ERROR_PARAMETER) {
        AppendParameter(page, VENDOR_ERROR_PARAMETER, counters.vendor, NARROW_COUNTER_BYTES);
    }
    return page.size() > HEADER_LENGTH;
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
