// WRITE BUFFER: download microcode (mode 04h) fills the microcode buffer at
// the model's buffer offset; download and save (mode 05h) checks the image
// and makes the drive run it. The image format is FirmwareImage.h's.
#include <cstring>
#include <string>
#include <vector>

#include "FirmwareImage.h"
#include "VirtualDriveImpl.h"

namespace {

// A save that resets the drive ends after this long: later than the 10
// seconds within which a host takes a failed save for the drive's refusal.
const long RESET_SECONDS = 15;

}  // namespace

void CVirtualDriveImpl::RegisterFirmwareHandlers()
{
    m_handlers[OP_WRITE_BUFFER] = &CVirtualDriveImpl::WriteBuffer;
}

void CVirtualDriveImpl::WriteBuffer(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char* cdb = command.cdb;
    const unsigned char mode = cdb[1] & 0x1F;
    if ((mode != WRITE_BUFFER_DOWNLOAD_MICROCODE && mode != WRITE_BUFFER_DOWNLOAD_AND_SAVE) ||
        m_model.microcode.family == nullptr) {
        Fail(reply, InvalidFieldInCdb(1));
        return;
    }
    if (cdb[2] != 0) {  // the microcode buffer is buffer 0
        Fail(reply, InvalidFieldInCdb(2));
        return;
    }
    const size_t length = GetBig24(cdb + 6);
    if (length > command.dataOutLength) {
        Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_PARAMETER_LIST_LENGTH_ERROR);  // parameter list length error
        return;
    }
    if (mode == WRITE_BUFFER_DOWNLOAD_MICROCODE) {
        if (++m_downloadBlocks == m_faults.downloadFailBlock) {
            Fail(reply, SENSE_KEY_ABORTED_COMMAND, ASC_SCSI_PARITY_ERROR);  // the block was lost in transfer
            return;
        }
        // A block the drive takes only in part still answers GOOD: only the
        // bytes transferred tell.
        StoreMicrocode(command, m_downloadBlocks == m_faults.downloadShortBlock ? length / 2 : length, reply);
        return;
    }
    if (length == 0 || StoreMicrocode(command, length, reply)) {
        SaveMicrocode(reply);
    }
}

bool CVirtualDriveImpl::StoreMicrocode(const CCommand& command, size_t length, CVirtualReply& reply)
{
    const CMicrocodeData& microcode = m_model.microcode;
    const uint32_t offset = GetBig24(command.cdb + 3);
    if (offset < microcode.bufferOffset || offset - microcode.bufferOffset + length > microcode.capacity) {
        Fail(reply, InvalidFieldInCdb(3));
        return false;
    }
    const size_t at = offset - microcode.bufferOffset;
    if (m_microcode.size() < at + length) {
        m_microcode.resize(at + length);
    }
    if (length > 0) {
        std::memcpy(m_microcode.data() + at, command.dataOut, length);
    }
    reply.transferred = static_cast<int>(length);
    return true;
}

void CVirtualDriveImpl::SaveMicrocode(CVirtualReply& reply)
{
    // A save ends the download, whatever comes of it.
    std::vector<unsigned char> downloaded;
    downloaded.swap(m_microcode);
    if (downloaded.empty()) {
        Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_COMMAND_SEQUENCE_ERROR);  // command sequence error: nothing to save
        return;
    }
    CFirmwareImage image;
    std::string reason;
    if (!ParseFirmwareImage(downloaded.data(), downloaded.size(), image, reason)) {
        Fail(reply, InvalidFieldInParameterList(0));
        return;
    }
    if (image.family != m_model.microcode.family) {
        Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_PARAMETER_VALUE_INVALID);  // parameter value invalid
        return;
    }
    if (m_faults.save == SAVE_FAILS) {
        TakeSeconds(m_faults.saveSeconds);
        Fail(reply, SENSE_KEY_HARDWARE_ERROR, ASC_INTERNAL_TARGET_FAILURE);
        return;
    }
    if (!m_faults.keepsOldLevel) {
        m_identity.ChangeFirmware(image.level, image.pageC0, image.pageC1);
    }
    m_restartInquiriesLeft = m_faults.restartInquiries;
    m_resetAttentionsLeft = m_faults.resetAttentions;
    if (m_faults.save == SAVE_RESETS) {
        // The drive restarts into the new firmware under the command.
        TakeSeconds(RESET_SECONDS);
        Fail(reply, SENSE_KEY_UNIT_ATTENTION, ASC_POWER_ON_OR_RESET);  // power on, reset or bus device reset
    }
}

bool CVirtualDriveImpl::Restarting(unsigned char opcode, CVirtualReply& reply)
{
    // The reset is reported first, as long as the drive keeps reporting it.
    if (m_resetAttentionsLeft > 0) {
        --m_resetAttentionsLeft;
        Fail(reply, SENSE_KEY_UNIT_ATTENTION, ASC_POWER_ON_OR_RESET);
        return true;
    }
    if (m_restartInquiriesLeft == 0) {
        return false;
    }
    if (opcode == OP_INQUIRY) {
        --m_restartInquiriesLeft;
    }
    Fail(reply, SENSE_KEY_NOT_READY, ASC_BECOMING_READY);
    return true;
}
