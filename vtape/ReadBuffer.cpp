// READ BUFFER (3Ch): the buffers a model lists (trace, cartridge memory,
// EEPROM). Their bytes are a function of the buffer id and the offset, so
// the same drive always hands out the same buffer and a capture file can be
// checked byte for byte; the trace carries its own length in bytes 84 to 87,
// least significant byte first, where the size query looks for it.
#include <algorithm>

#include "VirtualDriveImpl.h"

namespace {

const uint32_t WHOLE_BUFFER = 0xFFFFFF;  // offset: from the start
const uint32_t TRACE_LENGTH_OFFSET = 84;
const uint32_t TRACE_BLOCK = 16384;

unsigned char BufferByte(unsigned char id, uint32_t offset, uint32_t length)
{
    if (id == BUFFER_TRACE && offset >= TRACE_LENGTH_OFFSET && offset < TRACE_LENGTH_OFFSET + 4) {
        return static_cast<unsigned char>(length >> (8 * (offset - TRACE_LENGTH_OFFSET)));
    }
    uint32_t x = offset * 2654435761u ^ (uint32_t(id) * 0x9E3779B9u);
    x ^= x >> 15;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    return static_cast<unsigned char>(x);
}

}  // namespace

void CVirtualDriveImpl::RegisterBufferHandlers()
{
    m_handlers[OP_READ_BUFFER] = &CVirtualDriveImpl::ReadBuffer;
}

const CDriveBuffer* CVirtualDriveImpl::ModelBuffer(unsigned char id) const
{
    for (const CDriveBuffer& buffer : m_model.buffers) {
        if (buffer.length != 0 && buffer.id == id) {
            return &buffer;
        }
    }
    return nullptr;
}

uint32_t CVirtualDriveImpl::BufferLength(const CDriveBuffer& buffer) const
{
    return buffer.id == BUFFER_TRACE && m_faults.hasTraceLength ? m_faults.traceLength : buffer.length;
}

void CVirtualDriveImpl::ReadBuffer(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char* cdb = command.cdb;
    const unsigned char id = cdb[2];
    const CDriveBuffer* buffer = ModelBuffer(id);
    if (buffer == nullptr) {
        Fail(reply, InvalidFieldInCdb(2));
        return;
    }
    if ((cdb[1] & 0x1F) != buffer->mode) {
        Fail(reply, InvalidFieldInCdb(1));
        return;
    }
    if (m_bufferFailures.Fails(id)) {
        Fail(reply, SENSE_KEY_HARDWARE_ERROR, ASC_INTERNAL_TARGET_FAILURE);
        return;
    }
    if (buffer->needsCartridge && !MediumReady(reply)) {
        return;
    }
    const uint32_t length = BufferLength(*buffer);
    const uint32_t given = GetBig24(cdb + 3);
    const uint32_t offset = given == WHOLE_BUFFER ? 0 : given;
    if (offset > length) {
        Fail(reply, InvalidFieldInCdb(3));
        return;
    }
    if (id == BUFFER_TRACE && offset % TRACE_BLOCK == 0 && Listed(m_faults.traceBlockFailures, offset / TRACE_BLOCK)) {
        Fail(reply, SENSE_KEY_HARDWARE_ERROR, ASC_INTERNAL_TARGET_FAILURE);
        return;
    }
    const size_t count = std::min<size_t>({length - offset, GetBig24(cdb + 6), command.dataInLength});
    for (size_t i = 0; i < count; ++i) {
        command.dataIn[i] = BufferByte(id, offset + static_cast<uint32_t>(i), length);
    }
    reply.transferred = static_cast<int>(count);
}
