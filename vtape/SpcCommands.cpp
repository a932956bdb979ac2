// Commands every SCSI device answers: TEST UNIT READY, REQUEST SENSE,
// INQUIRY with its VPD pages, and SEND DIAGNOSTIC. MODE SENSE/SELECT are in
// ModePages.cpp, LOG SENSE/SELECT in LogPages.cpp.
#include <algorithm>
#include <cstring>

#include "VirtualDriveImpl.h"

namespace {

const size_t STANDARD_INQUIRY_LENGTH = 36;
const size_t VPD_HEADER_LENGTH = 4;
const size_t FIRMWARE_PAGE_LENGTH = 64;
const unsigned char SELF_TEST_BIT = 0x04;  // SEND DIAGNOSTIC byte 1: the default self-test

void CopyPadded(unsigned char* out, const std::string& text, size_t width)
{
    std::memset(out, ' ', width);
    std::memcpy(out, text.data(), text.size() < width ? text.size() : width);
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
    Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_INVALID_OPCODE);
}

void CVirtualDriveImpl::TestUnitReady(const CCommand&, CVirtualReply& reply)
{
    if (!m_loaded) {
        // An unloaded cartridge that is not fully out says so.
        Fail(reply, CartridgeInDrive() ? MediaPresentSense() : MakeSense(SENSE_KEY_NOT_READY, ASC_MEDIUM_NOT_PRESENT));
    } else if (m_notReadyAnswersLeft > 0) {
        --m_notReadyAnswersLeft;
        Fail(reply, SENSE_KEY_NOT_READY, ASC_BECOMING_READY);
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
        BuildFixedSense(MakeSense(SENSE_KEY_NO_SENSE, ASC_NO_ADDITIONAL_SENSE), sense);
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
    CopyPadded(out + 8, m_identity.Vendor(), 8);
    CopyPadded(out + 16, m_identity.Product(), 16);
    CopyPadded(out + 32, m_identity.Revision(), 4);
    return STANDARD_INQUIRY_LENGTH;
}

// ---------------------------------------------------------------- VPD pages

const CVirtualDriveImpl::CVpdPage* CVirtualDriveImpl::FindVpdPage(unsigned char code)
{
    static const CVpdPage kPages[] = {
        {VPD_SUPPORTED_PAGES, &CVirtualDriveImpl::BuildSupportedVpdPages},
        {VPD_SERIAL_NUMBER, &CVirtualDriveImpl::BuildSerialNumberPage},
        {VPD_FIRMWARE, &CVirtualDriveImpl::BuildFirmwarePageC0},
        {VPD_FIRMWARE_EXTRA, &CVirtualDriveImpl::BuildFirmwarePageC1},
    };
    for (const CVpdPage& page : kPages) {
        if (page.code == code) {
            return &page;
        }
    }
    return nullptr;
}

bool CVirtualDriveImpl::BuildVpdPage(unsigned char code, unsigned char* out, size_t& length, CVirtualReply& reply)
{
    if (m_model.vpdPages.Empty() || m_faults.noVpd) {
        Fail(reply, InvalidFieldInCdb(1, 0));
        return false;
    }
    const CVpdPage* page = m_model.vpdPages.Has(code) ? FindVpdPage(code) : nullptr;
    if (page == nullptr) {
        Fail(reply, InvalidFieldInCdb(2));
        return false;
    }
    out[0] = m_model.deviceType;
    out[1] = code;
    out[2] = 0;
    length = (this->*page->build)(out, reply);
    return length != 0;
}

size_t CVirtualDriveImpl::BuildSupportedVpdPages(unsigned char* out, CVirtualReply&)
{
    const size_t count = m_model.vpdPages.CopyTo(out + VPD_HEADER_LENGTH);
    out[3] = static_cast<unsigned char>(count);
    return VPD_HEADER_LENGTH + count;
}

size_t CVirtualDriveImpl::BuildSerialNumberPage(unsigned char* out, CVirtualReply&)
{
    const std::string& serial = m_identity.Serial();
    const size_t length = std::min<size_t>(serial.size(), 255 - VPD_HEADER_LENGTH);
    std::memcpy(out + VPD_HEADER_LENGTH, serial.data(), length);
    out[3] = static_cast<unsigned char>(length);
    return VPD_HEADER_LENGTH + length;
}

size_t CVirtualDriveImpl::BuildFirmwarePageC0(unsigned char* out, CVirtualReply& reply)
{
    return BuildFirmwarePage(VPD_FIRMWARE, out, reply);
}

size_t CVirtualDriveImpl::BuildFirmwarePageC1(unsigned char* out, CVirtualReply& reply)
{
    return BuildFirmwarePage(VPD_FIRMWARE_EXTRA, out, reply);
}

size_t CVirtualDriveImpl::BuildFirmwarePage(unsigned char code, unsigned char* out, CVirtualReply& reply)
{
    if (m_vpdFailuresLeft > 0) {
        --m_vpdFailuresLeft;
        Fail(reply, SENSE_KEY_HARDWARE_ERROR, ASC_INTERNAL_TARGET_FAILURE);
        return 0;
    }
    std::memset(out + VPD_HEADER_LENGTH, ' ', FIRMWARE_PAGE_LENGTH - VPD_HEADER_LENGTH);
    out[3] = FIRMWARE_PAGE_LENGTH - VPD_HEADER_LENGTH;
    // A text that would run past the page is cut at its end.
    for (const CVpdField& field : m_identity.FirmwarePage(code)) {
        if (field.offset >= VPD_HEADER_LENGTH && field.offset < FIRMWARE_PAGE_LENGTH) {
            const size_t room = FIRMWARE_PAGE_LENGTH - field.offset;
            std::memcpy(out + field.offset, field.text.data(), std::min(room, field.text.size()));
        }
    }
    return FIRMWARE_PAGE_LENGTH;
}

// ------------------------------------------------------- SEND DIAGNOSTIC

void CVirtualDriveImpl::SendDiagnostic(const CCommand& command, CVirtualReply& reply)
{
    if (GetBig16(command.cdb + 3) > command.dataOutLength) {
        Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_PARAMETER_LIST_LENGTH_ERROR);
        return;
    }
    if (m_faults.selftestFail) {
        Fail(reply, SENSE_KEY_HARDWARE_ERROR, ASC_DIAGNOSTIC_FAILURE);  // diagnostic failure on component 80h
    }
    if (m_faults.selftestLog && (command.cdb[1] & SELF_TEST_BIT) != 0) {
        RecordSelfTest(!m_faults.selftestFail);
    }
}
