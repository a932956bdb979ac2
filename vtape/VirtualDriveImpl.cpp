#include "VirtualDriveImpl.h"

#include <algorithm>
#include <cstring>

#include "Clock.h"

namespace {

const uint64_t BYTES_PER_MEGABYTE = 1048576;

}  // namespace

CVirtualDriveImpl::CVirtualDriveImpl(const CDriveSetup& setup)
    : m_model(*setup.model), m_faults(setup.faults), m_identity(setup.model->identity),
      m_modePages(setup.model->modePages), m_medium(setup.faults.capacityMegabytes * BYTES_PER_MEGABYTE),
      m_loaded(!setup.faults.noCartridge), m_notReadyAnswersLeft(setup.faults.becomingReady),
      m_vpdFailuresLeft(setup.faults.vpdFailures), m_logFailures(setup.faults.logFailures),
      m_bufferFailures(setup.faults.bufferFailures), m_modeSenseFailures(setup.faults.modeSenseFailures),
      m_modeSelectFailures(setup.faults.modeSelectFailures)
{
    m_resetPending = m_faults.resets && m_faults.reset.count == 0;
    for (CHandler& handler : m_handlers) {
        handler = &CVirtualDriveImpl::IllegalOpcode;
    }
    RegisterSpcHandlers();
    if (IsTapeDrive()) {
        RegisterSscHandlers();
        RegisterBufferHandlers();
        RegisterVendorHandlers();
        RegisterFirmwareHandlers();
    }
    if (m_faults.autoloader) {
        m_modePages.Add(MODE_PAGE_ELEMENT_ADDRESS);
    }
    if (m_faults.oem) {
        const CVpdText& mark = m_model.microcode.oemMark;
        m_identity.OverlayFirmwareText(0xC0, {static_cast<size_t>(mark.offset), mark.text});
    }
    for (const CFailRule& rule : m_faults.failRules) {
        m_failOpcodes.set(rule.opcode);
    }
    InitialModeParameters();
    InitialLogPages();
    if (!m_faults.firmware.empty()) {
        RunFirmware(m_faults.firmware);
    }
}

void CVirtualDriveImpl::RunFirmware(const std::string& firmware)
{
    CVpdFields pageC0 = m_identity.FirmwarePage(0xC0);
    if (!pageC0.empty()) {
        pageC0[0].text = firmware;
    }
    m_identity.ChangeFirmware(firmware.substr(0, 4), pageC0, m_identity.FirmwarePage(0xC1));
}

CVirtualReply CVirtualDriveImpl::Execute(const unsigned char* cdb, int cdbLength, VDataDirection direction,
                                         unsigned char* data, int dataLength)
{
    CVirtualReply reply;
    std::memset(&reply, 0, sizeof(reply));
    reply.status = GOOD_STATUS;

    const size_t length = (data != nullptr && dataLength > 0) ? static_cast<size_t>(dataLength) : 0;
    CCommand command = {cdb, nullptr, 0, nullptr, 0};
    if (direction == VDIR_IN) {
        command.dataIn = data;
        command.dataInLength = length;
    } else if (direction == VDIR_OUT) {
        command.dataOut = data;
        command.dataOutLength = length;
    }

    m_commandSeconds = 0;
    if (cdb == nullptr || cdbLength < 1) {
        Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_INVALID_FIELD_IN_CDB);
    } else {
        const unsigned char opcode = cdb[0];
        for (const CSlowRule& rule : m_faults.slowRules) {
            if (rule.opcode == opcode) {
                TakeSeconds(rule.seconds);
            }
        }
        const CHandler handler =
            m_faults.unsupported.test(opcode) ? &CVirtualDriveImpl::IllegalOpcode : m_handlers[opcode];
        if (ReportsReset(opcode, reply)) {
            // the command is not looked at
        } else if (Restarting(opcode, reply)) {
            // no answer but "becoming ready" until the new firmware runs
        } else if (InjectedStatus(opcode, reply)) {
            // turned away before the command is looked at
        } else if (handler == &CVirtualDriveImpl::IllegalOpcode) {
            IllegalOpcode(command, reply);
        } else if (cdbLength != CdbLengthOfGroup(opcode)) {
            Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_INVALID_FIELD_IN_CDB);
        } else if (InjectedFailure(opcode)) {
            Fail(reply, SENSE_KEY_HARDWARE_ERROR, ASC_INTERNAL_TARGET_FAILURE);
        } else {
            try {
                (this->*handler)(command, reply);
            } catch (...) {
                // Out of memory while storing a record: report an internal
                // target failure rather than letting it escape.
                std::memset(&reply, 0, sizeof(reply));
                Fail(reply, SENSE_KEY_HARDWARE_ERROR, ASC_INTERNAL_TARGET_FAILURE);
            }
        }
    }

    if (cdb != nullptr && cdbLength >= 1) {
        ResetAfter(cdb[0]);
    }

    // The drive answers once the time the command took has passed.
    if (m_commandSeconds > 0) {
        CClock::Get().Sleep(m_commandSeconds);
    }
    if (reply.status == CHECK_CONDITION_STATUS) {
        std::memcpy(m_pendingSense, reply.sense, FIXED_SENSE_LENGTH);
        m_hasPendingSense = true;
    }
    return reply;
}

bool CVirtualDriveImpl::InjectedFailure(unsigned char opcode)
{
    if (!m_failOpcodes.test(opcode)) {
        return false;
    }
    const uint64_t number = ++m_commandCounts[opcode];
    for (const CFailRule& rule : m_faults.failRules) {
        if (rule.opcode == opcode && number >= rule.first && number <= rule.last) {
            return true;
        }
    }
    return false;
}

bool CVirtualDriveImpl::ReportsReset(unsigned char opcode, CVirtualReply& reply)
{
    // SPC: INQUIRY, REPORT LUNS and REQUEST SENSE never report a unit
    // attention; they leave it for the next command.
    if (!m_resetPending || opcode == OP_INQUIRY || opcode == OP_REPORT_LUNS || opcode == OP_REQUEST_SENSE) {
        return false;
    }
    m_resetPending = false;
    Fail(reply, SENSE_KEY_UNIT_ATTENTION, ASC_POWER_ON_OR_RESET);  // power on, reset or bus device reset
    return true;
}

void CVirtualDriveImpl::ResetAfter(unsigned char opcode)
{
    if (!m_faults.resets || m_faults.reset.count == 0 || opcode != m_faults.reset.opcode ||
        ++m_resetCommands != m_faults.reset.count) {
        return;
    }
    // A reset loses the position: the drive comes up at the beginning of
    // the tape.
    m_medium.Rewind();
    m_resetPending = true;
}

bool CVirtualDriveImpl::InjectedStatus(unsigned char opcode, CVirtualReply& reply) const
{
    for (const CStatusRule& rule : m_faults.statusRules) {
        if (rule.opcode == opcode) {
            reply.status = rule.status;
            return true;
        }
    }
    return false;
}

void CVirtualDriveImpl::SendData(const CCommand& command, CVirtualReply& reply, const unsigned char* source,
                                 size_t available, size_t allocation)
{
    const size_t count = std::min(available, std::min(allocation, command.dataInLength));
    if (count > 0) {
        std::memcpy(command.dataIn, source, count);
    }
    reply.transferred = static_cast<int>(count);
}

bool CVirtualDriveImpl::MediumReady(CVirtualReply& reply)
{
    if (!m_loaded) {
        Fail(reply, SENSE_KEY_NOT_READY, ASC_MEDIUM_NOT_PRESENT);  // medium not present
        return false;
    }
    if (m_notReadyAnswersLeft > 0) {
        Fail(reply, SENSE_KEY_NOT_READY, ASC_BECOMING_READY);  // becoming ready
        return false;
    }
    return true;
}
