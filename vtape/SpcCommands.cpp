// Commands every SCSI device answers: TEST UNIT READY, REQUEST SENSE,
// INQUIRY, MODE SENSE/SELECT(6), LOG SENSE/SELECT and SEND DIAGNOSTIC.
#include <cstring>

#include "VirtualDriveImpl.h"

namespace {

const size_t STANDARD_INQUIRY_LENGTH = 36;
const size_t FIRMWARE_PAGE_LENGTH = 64;
const uint32_t COMPRESSION_ALGORITHM = 0x10;
const uint32_t DAT_VENDOR_PARAMETER = 0x8008;
const unsigned char LOG_PARAMETER_CONTROL = 0x60;
const unsigned char LOG_PAGE_SUPPORTED = 0x00;
const unsigned char LOG_PAGE_WRITE_ERRORS = 0x02;
const unsigned char LOG_PAGE_READ_ERRORS = 0x03;

void CopyPadded(unsigned char* out, const char* text, size_t width)
{
    std::memset(out, ' ', width);
    const size_t length = std::strlen(text);
    std::memcpy(out, text, length < width ? length : width);
}

}  // namespace

void CVirtualDriveImpl::RegisterSpcHandlers()
{
    m_handlers[OP_TEST_UNIT_READY] = &CVirtualDriveImpl::TestUnitReady;
    m_handlers[OP_REQUEST_SENSE] = &CVirtualDriveImpl::RequestSense;
    m_handlers[OP_INQUIRY] = &CVirtualDriveImpl::Inquiry;
    m_handlers[OP_MODE_SELECT6] = &CVirtualDriveImpl::ModeSelect6;
    m_handlers[OP_MODE_SENSE6] = &CVirtualDriveImpl::ModeSense6;
    m_handlers[OP_SEND_DIAGNOSTIC] = &CVirtualDriveImpl::SendDiagnostic;
    m_handlers[OP_LOG_SELECT] = &CVirtualDriveImpl::LogSelect;
    m_handlers[OP_LOG_SENSE] = &CVirtualDriveImpl::LogSense;
}

void CVirtualDriveImpl::IllegalOpcode(const CCommand&, CVirtualReply& reply)
{
    Fail(reply, SENSE_ILLEGAL_REQUEST, 0x20, 0x00);
}

void CVirtualDriveImpl::TestUnitReady(const CCommand&, CVirtualReply& reply)
{
    if (!m_loaded) {
        Fail(reply, SENSE_NOT_READY, 0x3A, 0x00);
    } else if (m_notReadyAnswersLeft > 0) {
        --m_notReadyAnswersLeft;
        Fail(reply, SENSE_NOT_READY, 0x04, 0x01);
    }
}

void CVirtualDriveImpl::RequestSense(const CCommand& command, CVirtualReply& reply)
{
    if (command.cdb[1] & 0x01) {  // descriptor format sense is not offered
        Fail(reply, InvalidFieldInCdb(1, 0));
        return;
    }
    unsigned char sense[FIXED_SENSE_LENGTH];
    if (m_hasPendingSense) {
        std::memcpy(sense, m_pendingSense, sizeof(sense));
    } else {
        BuildFixedSense(MakeSense(SENSE_NO_SENSE, 0x00, 0x00), sense);
    }
    m_hasPendingSense = false;
    SendData(command, reply, sense, sizeof(sense), command.cdb[4]);
}

// ---------------------------------------------------------------- INQUIRY

void CVirtualDriveImpl::Inquiry(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char* cdb = command.cdb;
    if (cdb[1] & 0x02) {  // CMDDT
        Fail(reply, InvalidFieldInCdb(1, 1));
        return;
    }
    unsigned char buffer[256];
    size_t length = 0;
    if ((cdb[1] & 0x01) == 0) {
        if (cdb[2] != 0) {
            Fail(reply, InvalidFieldInCdb(2));
            return;
        }
        length = BuildStandardInquiry(buffer);
    } else if (!BuildVpdPage(cdb[2], buffer, length, reply)) {
        return;
    }
    SendData(command, reply, buffer, length, GetBig16(cdb + 3));
}

size_t CVirtualDriveImpl::BuildStandardInquiry(unsigned char* out) const
{
    std::memset(out, 0, STANDARD_INQUIRY_LENGTH);
    out[0] = m_model.deviceType;
    out[1] = m_model.removable;
    out[2] = 0x05;
    out[3] = 0x02;
    out[4] = STANDARD_INQUIRY_LENGTH - 5;
    CopyPadded(out + 8, m_model.vendor, 8);
    CopyPadded(out + 16, m_model.product, 16);
    CopyPadded(out + 32, m_model.revision, 4);
    return STANDARD_INQUIRY_LENGTH;
}

bool CVirtualDriveImpl::BuildVpdPage(unsigned char page, unsigned char* out, size_t& length,
                                     CVirtualReply& reply)
{
    if (m_model.serial == nullptr || m_faults.noVpd) {
        Fail(reply, InvalidFieldInCdb(1, 0));
        return false;
    }
    out[0] = m_model.deviceType;
    out[1] = page;
    out[2] = 0;
    switch (page) {
    case 0x00: {
        size_t count = 0;
        out[4 + count++] = 0x00;
        out[4 + count++] = 0x80;
        if (m_model.firmwarePages) {
            out[4 + count++] = 0xC0;
            out[4 + count++] = 0xC1;
        }
        out[3] = static_cast<unsigned char>(count);
        length = 4 + count;
        return true;
    }
    case 0x80: {
        const size_t serialLength = std::strlen(m_model.serial);
        std::memcpy(out + 4, m_model.serial, serialLength);
        out[3] = static_cast<unsigned char>(serialLength);
        length = 4 + serialLength;
        return true;
    }
    case 0xC0:
    case 0xC1:
        if (!m_model.firmwarePages) {
            break;
        }
        if (m_vpdFailuresLeft > 0) {
            --m_vpdFailuresLeft;
            Fail(reply, SENSE_HARDWARE_ERROR, 0x44, 0x00);
            return false;
        }
        std::memset(out + 4, ' ', FIRMWARE_PAGE_LENGTH - 4);
        out[3] = FIRMWARE_PAGE_LENGTH - 4;
        for (const CVpdText& text : page == 0xC0 ? m_model.pageC0 : m_model.pageC1) {
            if (text.text != nullptr) {
                std::memcpy(out + text.offset, text.text, std::strlen(text.text));
            }
        }
        length = FIRMWARE_PAGE_LENGTH;
        return true;
    default:
        break;
    }
    Fail(reply, InvalidFieldInCdb(2));
    return false;
}

// ------------------------------------------------------------ MODE SENSE

void CVirtualDriveImpl::ModeSense6(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char* cdb = command.cdb;
    const bool disableBlockDescriptors = (cdb[1] & 0x08) != 0;
    const int pageControl = cdb[2] >> 6;  // current, changeable, default, saved
    const unsigned char page = cdb[2] & 0x3F;
    if (pageControl == 3) {
        Fail(reply, SENSE_ILLEGAL_REQUEST, 0x39, 0x00);  // saving parameters not supported
        return;
    }
    if (cdb[3] != 0) {
        Fail(reply, InvalidFieldInCdb(3));  // no subpages
        return;
    }
    if (page != PAGE_VENDOR && page != PAGE_ALL && !HasModePage(page)) {
        Fail(reply, InvalidFieldInCdb(2, 5));
        return;
    }

    unsigned char buffer[128] = {};
    size_t length = 4;
    const bool changeable = pageControl == 1;
    if (!changeable && m_faults.writeProtected && m_loaded) {
        buffer[2] = 0x80;  // WP
    }
    if (!disableBlockDescriptors && m_model.family != FAMILY_CHANGER) {
        unsigned char* descriptor = buffer + 4;
        buffer[3] = 8;
        if (changeable) {
            descriptor[5] = descriptor[6] = descriptor[7] = 0xFF;
        } else {
            const uint32_t blockSize = pageControl == 2 ? m_faults.fixedBlockSize : m_blockSize;
            descriptor[0] = m_model.densityCode;
            descriptor[5] = static_cast<unsigned char>(blockSize >> 16);
            PutBig16(descriptor + 6, blockSize);
        }
        length += 8;
    }
    if (page == PAGE_ALL) {
        for (unsigned char code = 0x01; code < PAGE_ALL; ++code) {
            if (HasModePage(code)) {
                length += BuildModePage(code, pageControl, buffer + length);
            }
        }
    } else if (page != PAGE_VENDOR) {
        length += BuildModePage(page, pageControl, buffer + length);
    }
    buffer[0] = static_cast<unsigned char>(length - 1);
    SendData(command, reply, buffer, length, cdb[4]);
}

void CVirtualDriveImpl::BuildDefaultConfigurationPage(const CDriveModel& model, unsigned char* out)
{
    std::memset(out, 0, DEVICE_CONFIGURATION_PAGE_LENGTH);
    out[0] = PAGE_DEVICE_CONFIGURATION;
    out[1] = DEVICE_CONFIGURATION_PAGE_LENGTH - 2;
    out[4] = 0x80;                       // write buffer full ratio
    out[5] = 0x80;                       // read buffer empty ratio
    PutBig16(out + 6, 100);              // write delay, 100 ms units
    out[8] = 0x40;                       // BIS: block identifiers supported
    out[10] = 0x18;                      // EEG, SEW
    out[14] = model.compression ? 1 : 0; // select data compression algorithm
}

size_t CVirtualDriveImpl::BuildModePage(unsigned char code, int pageControl,
                                        unsigned char* out) const
{
    const bool changeable = pageControl == 1;
    const bool defaults = pageControl == 2;
    switch (code) {
    case PAGE_COMPRESSION: {
        std::memset(out, 0, COMPRESSION_PAGE_LENGTH);
        out[0] = PAGE_COMPRESSION;
        out[1] = COMPRESSION_PAGE_LENGTH - 2;
        if (changeable) {
            if (m_model.compression && !m_faults.compressionLocked) {
                out[2] = 0x80;
                out[3] = 0x80;
            }
            return COMPRESSION_PAGE_LENGTH;
        }
        const bool enabled =
            defaults ? m_model.compression && !m_faults.compressionOff : m_compressionEnabled;
        const bool decompress = defaults ? m_model.compression : m_decompressionEnabled;
        out[2] = static_cast<unsigned char>((enabled ? 0x80 : 0) | (m_model.compression ? 0x40 : 0));
        out[3] = decompress ? 0x80 : 0;
        if (m_model.compression) {
            PutBig32(out + 4, COMPRESSION_ALGORITHM);
            PutBig32(out + 8, COMPRESSION_ALGORITHM);
        }
        return COMPRESSION_PAGE_LENGTH;
    }
    case PAGE_DEVICE_CONFIGURATION:
        if (changeable) {
            std::memset(out, 0xFF, DEVICE_CONFIGURATION_PAGE_LENGTH);
            out[0] = PAGE_DEVICE_CONFIGURATION;
            out[1] = DEVICE_CONFIGURATION_PAGE_LENGTH - 2;
        } else {
            std::memcpy(out, defaults ? m_defaultConfigurationPage : m_configurationPage,
                        DEVICE_CONFIGURATION_PAGE_LENGTH);
        }
        return DEVICE_CONFIGURATION_PAGE_LENGTH;
    case PAGE_CAPABILITIES:
        std::memset(out, 0, CAPABILITIES_PAGE_LENGTH);
        out[0] = PAGE_CAPABILITIES;
        out[1] = CAPABILITIES_PAGE_LENGTH - 2;
        if (!changeable) {
            out[4] = (m_faults.wrongCartridge && m_loaded) ? 0x01 : 0x00;  // RO
            out[6] = 0x08;                 // EJECT supported
            PutBig16(out + 8, 1000);       // maximum speed, kB/s
            PutBig16(out + 14, 1000);      // current speed, kB/s
            PutBig16(out + 16, 1024);      // buffer size, 512-byte units
        }
        return CAPABILITIES_PAGE_LENGTH;
    case PAGE_ELEMENT_ADDRESS:
        std::memset(out, 0, ELEMENT_ADDRESS_PAGE_LENGTH);
        out[0] = PAGE_ELEMENT_ADDRESS;
        out[1] = ELEMENT_ADDRESS_PAGE_LENGTH - 2;
        if (!changeable) {
            PutBig16(out + 2, 0x0000);     // medium transport: first address, count
            PutBig16(out + 4, 1);
            PutBig16(out + 6, 0x1000);     // storage elements
            PutBig16(out + 8, 8);
            PutBig16(out + 10, 0x0010);    // import/export elements
            PutBig16(out + 12, 0);
            PutBig16(out + 14, 0x0100);    // data transfer elements (the drive)
            PutBig16(out + 16, 1);
        }
        return ELEMENT_ADDRESS_PAGE_LENGTH;
    default:
        return 0;
    }
}

// ----------------------------------------------------------- MODE SELECT

void CVirtualDriveImpl::ModeSelect6(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char* cdb = command.cdb;
    if (cdb[1] & 0x01) {  // SP: pages cannot be saved
        Fail(reply, InvalidFieldInCdb(1, 0));
        return;
    }
    const size_t listLength = cdb[4];
    if (listLength > command.dataOutLength) {
        Fail(reply, SENSE_ILLEGAL_REQUEST, 0x1A, 0x00);  // parameter list length error
        return;
    }
    if (listLength == 0) {
        return;
    }
    const unsigned char* list = command.dataOut;
    if (listLength < 4) {
        Fail(reply, SENSE_ILLEGAL_REQUEST, 0x1A, 0x00);
        return;
    }

    // Check everything first, then apply: a rejected list changes nothing.
    uint32_t blockSize = m_blockSize;
    bool compression = m_compressionEnabled;
    bool decompression = m_decompressionEnabled;
    unsigned char configuration[DEVICE_CONFIGURATION_PAGE_LENGTH];
    std::memcpy(configuration, m_configurationPage, sizeof(configuration));

    const size_t descriptorLength = list[3];
    if ((descriptorLength != 0 && descriptorLength != 8) ||
        (descriptorLength != 0 && m_model.family == FAMILY_CHANGER)) {
        Fail(reply, InvalidFieldInParameterList(3));
        return;
    }
    if (4 + descriptorLength > listLength) {
        Fail(reply, SENSE_ILLEGAL_REQUEST, 0x1A, 0x00);
        return;
    }
    if (descriptorLength == 8) {
        blockSize = GetBig24(list + 4 + 5);
    }

    size_t offset = 4 + descriptorLength;
    while (offset < listLength) {
        if (listLength - offset < 2 || offset + 2 + list[offset + 1] > listLength) {
            Fail(reply, SENSE_ILLEGAL_REQUEST, 0x1A, 0x00);
            return;
        }
        const unsigned char code = list[offset] & 0x3F;
        const unsigned char* page = list + offset;
        const size_t pageLength = 2 + static_cast<size_t>(page[1]);
        unsigned char reference[128];
        if (!HasModePage(code)) {
            Fail(reply, InvalidFieldInParameterList(static_cast<int>(offset)));
            return;
        }
        if (pageLength != BuildModePage(code, 0, reference)) {
            Fail(reply, InvalidFieldInParameterList(static_cast<int>(offset + 1)));
            return;
        }
        switch (code) {
        case PAGE_COMPRESSION:
            compression = (page[2] & 0x80) != 0;
            decompression = (page[3] & 0x80) != 0;
            if (m_faults.compressionLocked) {
                Fail(reply, InvalidFieldInParameterList(static_cast<int>(offset + 2), 7));
                return;
            }
            if (!m_model.compression && (compression || decompression)) {
                Fail(reply, InvalidFieldInParameterList(static_cast<int>(offset + 2), 7));
                return;
            }
            break;
        case PAGE_DEVICE_CONFIGURATION:
            std::memcpy(configuration + 2, page + 2, DEVICE_CONFIGURATION_PAGE_LENGTH - 2);
            break;
        default:
            break;  // reporting pages: accepted, nothing in them can be changed
        }
        offset += pageLength;
    }

    m_blockSize = blockSize;
    m_compressionEnabled = compression;
    m_decompressionEnabled = decompression;
    std::memcpy(m_configurationPage, configuration, sizeof(configuration));
}

// ------------------------------------------------------------- LOG PAGES

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
    const unsigned char page = cdb[2] & 0x3F;
    const uint32_t parameterPointer = GetBig16(cdb + 5);
    const bool counterPages = m_model.family != FAMILY_CHANGER;

    unsigned char buffer[128] = {};
    size_t length = 0;
    if (page == LOG_PAGE_SUPPORTED) {
        size_t count = 0;
        buffer[4 + count++] = LOG_PAGE_SUPPORTED;
        if (counterPages) {
            buffer[4 + count++] = LOG_PAGE_WRITE_ERRORS;
            buffer[4 + count++] = LOG_PAGE_READ_ERRORS;
        }
        PutBig16(buffer + 2, static_cast<uint32_t>(count));
        length = 4 + count;
    } else if (counterPages && (page == LOG_PAGE_WRITE_ERRORS || page == LOG_PAGE_READ_ERRORS)) {
        length = BuildCounterPage(page, parameterPointer, buffer);
        if (length == 0) {
            Fail(reply, InvalidFieldInCdb(5));  // parameter pointer past the last parameter
            return;
        }
    } else {
        Fail(reply, InvalidFieldInCdb(2, 5));
        return;
    }
    SendData(command, reply, buffer, length, GetBig16(cdb + 7));
}

size_t CVirtualDriveImpl::BuildCounterPage(unsigned char code, uint32_t parameterPointer,
                                           unsigned char* out) const
{
    const uint64_t* counters = code == LOG_PAGE_WRITE_ERRORS ? m_writeCounters : m_readCounters;
    out[0] = code;
    out[1] = 0;
    unsigned char* next = out + 4;
    for (int parameter = 0; parameter < ERROR_COUNTERS; ++parameter) {
        if (static_cast<uint32_t>(parameter) < parameterPointer) {
            continue;
        }
        const bool wide = parameter == COUNTER_UNCORRECTED && m_model.family == FAMILY_ULTRIUM;
        next = AppendLogParameter(next, static_cast<uint32_t>(parameter), LOG_PARAMETER_CONTROL, counters[parameter],
                                  wide ? 8 : 4);
    }
    if (m_model.family == FAMILY_DAT && parameterPointer <= DAT_VENDOR_PARAMETER) {
        const uint64_t vendor =
            code == LOG_PAGE_WRITE_ERRORS ? m_writeVendorCounter : m_readVendorCounter;
        next = AppendLogParameter(next, DAT_VENDOR_PARAMETER, LOG_PARAMETER_CONTROL, vendor, 4);
    }
    const size_t length = static_cast<size_t>(next - out);
    if (length == 4) {
        return 0;
    }
    PutBig16(out + 2, static_cast<uint32_t>(length - 4));
    return length;
}

void CVirtualDriveImpl::ResetCounters()
{
    std::memset(m_writeCounters, 0, sizeof(m_writeCounters));
    std::memset(m_readCounters, 0, sizeof(m_readCounters));
    m_writeVendorCounter = 0;
    m_readVendorCounter = 0;
    m_writeChargePending = true;
    m_readChargePending = true;
}

void CVirtualDriveImpl::ChargeWriteCounters()
{
    if (m_writeChargePending) {
        m_writeChargePending = false;
        m_writeCounters[COUNTER_UNCORRECTED] += m_faults.writeUncorrected;
    }
}

void CVirtualDriveImpl::ChargeReadCounters()
{
    if (m_readChargePending) {
        m_readChargePending = false;
        m_readCounters[COUNTER_CORRECTED] += m_faults.readCorrected;
        m_readCounters[COUNTER_DELAYED] += m_faults.readDelayed;
        m_readCounters[COUNTER_TOTAL_CORRECTED] +=
            uint64_t(m_faults.readCorrected) + m_faults.readDelayed;
        m_readCounters[COUNTER_UNCORRECTED] += m_faults.readUncorrected;
        m_readVendorCounter += m_faults.datErrors;
    }
}

// ------------------------------------------------------- SEND DIAGNOSTIC

void CVirtualDriveImpl::SendDiagnostic(const CCommand& command, CVirtualReply& reply)
{
    if (GetBig16(command.cdb + 3) > command.dataOutLength) {
        Fail(reply, SENSE_ILLEGAL_REQUEST, 0x1A, 0x00);
        return;
    }
    if (m_faults.selftestFail) {
        Fail(reply, SENSE_HARDWARE_ERROR, 0x40, 0x80);  // diagnostic failure on component 80h
    }
}
