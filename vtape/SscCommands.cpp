// Sequential-access commands: LOAD/UNLOAD, REWIND, READ(6), WRITE(6),
// WRITE FILEMARKS(6), SPACE(6), READ POSITION and READ BLOCK LIMITS.
#include <algorithm>
#include <cstring>

#include "VirtualDriveImpl.h"

namespace {

const size_t SHORT_POSITION_LENGTH = 20;
const size_t BLOCK_LIMITS_LENGTH = 6;
// A variable record may be as long as the 24-bit length of READ(6) and
// WRITE(6) allows.
const uint32_t MAXIMUM_BLOCK_LENGTH = 0xFFFFFF;

// A NO SENSE condition (filemark, end of medium, incorrect length) with
// its residue.
CSenseData Condition(unsigned char flags, unsigned char asc, unsigned char ascq, int64_t residue)
{
    CSenseData sense = MakeSense(SENSE_KEY_NO_SENSE, asc, ascq);
    sense.flags = flags;
    return WithInformation(sense, residue);
}

CSenseData FilemarkDetected(int64_t residue)
{
    return Condition(SENSE_FLAG_FILEMARK, 0x00, 0x01, residue);
}

CSenseData EndOfData(int64_t residue)
{
    return WithInformation(MakeSense(SENSE_KEY_BLANK_CHECK, ASC_END_OF_DATA), residue);
}

CSenseData BeginningOfMedium(int64_t residue)
{
    return Condition(SENSE_FLAG_EOM, 0x00, 0x04, residue);
}

int32_t SignExtend24(uint32_t value)
{
    return (value & 0x800000) ? static_cast<int32_t>(value) - 0x1000000 : static_cast<int32_t>(value);
}

}  // namespace

void CVirtualDriveImpl::RegisterSscHandlers()
{
    m_handlers[OP_REWIND] = &CVirtualDriveImpl::Rewind;
    m_handlers[OP_READ6] = &CVirtualDriveImpl::Read6;
    m_handlers[OP_WRITE6] = &CVirtualDriveImpl::Write6;
    m_handlers[OP_WRITE_FILEMARKS6] = &CVirtualDriveImpl::WriteFilemarks6;
    m_handlers[OP_SPACE6] = &CVirtualDriveImpl::Space6;
    m_handlers[OP_LOAD_UNLOAD] = &CVirtualDriveImpl::LoadUnload;
    m_handlers[OP_READ_POSITION] = &CVirtualDriveImpl::ReadPosition;
    m_handlers[OP_READ_BLOCK_LIMITS] = &CVirtualDriveImpl::ReadBlockLimits;
}

bool CVirtualDriveImpl::Listed(const std::vector<uint32_t>& records, uint64_t record)
{
    return !records.empty() && std::find(records.begin(), records.end(), record) != records.end();
}

bool CVirtualDriveImpl::CartridgeWritable(CVirtualReply& reply)
{
    if (m_faults.writeProtected) {
        Fail(reply, SENSE_KEY_DATA_PROTECT, ASC_WRITE_PROTECTED);  // write protected
        return false;
    }
    if (m_faults.wrongCartridge) {
        Fail(reply, SENSE_KEY_DATA_PROTECT,
             ASC_CANNOT_WRITE_INCOMPATIBLE_FORMAT);  // cannot write medium, incompatible format
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- motion

void CVirtualDriveImpl::LoadUnload(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char flags = command.cdb[4];
    if ((flags & 0x02) && !m_model.retension) {
        Fail(reply, InvalidFieldInCdb(4, 1));
        return;
    }
    if ((flags & 0x01) && m_armParked) {
        Fail(reply, SENSE_KEY_NOT_READY,
             ASC_MANUAL_INTERVENTION_REQUIRED);  // manual intervention required: unpark first
        return;
    }
    if (m_faults.noCartridge) {
        Fail(reply, SENSE_KEY_NOT_READY, ASC_MEDIUM_NOT_PRESENT);
        return;
    }
    if ((flags & 0x02) && m_faults.retensionFail) {
        Fail(reply, SENSE_KEY_HARDWARE_ERROR, ASC_MEDIA_LOAD_OR_EJECT_FAILED);  // media load or eject failed
        return;
    }
    // A retension runs the tape to its end and back. Unloading ejects; loading takes the same cartridge back in. Either
    // way the tape is at its beginning.
    m_medium.Rewind();
    m_loaded = (flags & 0x01) != 0;
}

void CVirtualDriveImpl::Rewind(const CCommand&, CVirtualReply& reply)
{
    if (MediumReady(reply)) {
        m_medium.Rewind();
    }
}

void CVirtualDriveImpl::ReadPosition(const CCommand& command, CVirtualReply& reply)
{
    if ((command.cdb[1] & 0x1F) > 1) {  // only the short form
        Fail(reply, InvalidFieldInCdb(1, 4));
        return;
    }
    if (!MediumReady(reply)) {
        return;
    }
    unsigned char data[SHORT_POSITION_LENGTH] = {};
    if (m_medium.AtBeginning()) {
        data[0] |= 0x80;  // BOP
    }
    if (m_medium.BytesBeforePosition() >= m_medium.CapacityBytes()) {
        data[0] |= 0x40;  // EOP
    }
    const uint32_t position = static_cast<uint32_t>(m_medium.Position());
    PutBig32(data + 4, position);  // first block location
    PutBig32(data + 8, position);  // last block location: nothing is buffered
    SendData(command, reply, data, sizeof(data), sizeof(data));
}

void CVirtualDriveImpl::ReadBlockLimits(const CCommand& command, CVirtualReply& reply)
{
    // Granularity 0, the longest record, the shortest record (1 byte).
    unsigned char data[BLOCK_LIMITS_LENGTH] = {};
    PutBig24(data + 1, MAXIMUM_BLOCK_LENGTH);
    PutBig16(data + 4, 1);
    SendData(command, reply, data, sizeof(data), sizeof(data));
}

void CVirtualDriveImpl::Space6(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char code = command.cdb[1] & 0x0F;
    if (code != 0x00 && code != 0x01 && code != 0x03) {
        Fail(reply, InvalidFieldInCdb(1, 3));
        return;
    }
    if (!MediumReady(reply)) {
        return;
    }
    const int32_t count = SignExtend24(GetBig24(command.cdb + 2));
    if (code == 0x03) {
        m_medium.SeekEndOfData();
    } else if (code == 0x00) {
        SpaceBlocks(count, reply);
    } else {
        SpaceFilemarks(count, reply);
    }
}

void CVirtualDriveImpl::SpaceBlocks(int32_t count, CVirtualReply& reply)
{
    const unsigned char* bytes;
    uint32_t length;
    if (count >= 0) {
        for (int32_t done = 0; done < count; ++done) {
            const CTapeMedium::EObject object = m_medium.ObjectAtPosition(bytes, length);
            if (object == CTapeMedium::OBJECT_END_OF_DATA) {
                Fail(reply, EndOfData(count - done));
                return;
            }
            m_medium.StepForward();
            if (object == CTapeMedium::OBJECT_FILEMARK) {
                Fail(reply, FilemarkDetected(count - done));
                return;
            }
        }
        return;
    }
    const int64_t wanted = -static_cast<int64_t>(count);
    for (int64_t done = 0; done < wanted; ++done) {
        const CTapeMedium::EObject object = m_medium.StepBackward();
        if (object == CTapeMedium::OBJECT_BEGINNING) {
            Fail(reply, BeginningOfMedium(wanted - done));
            return;
        }
        if (object == CTapeMedium::OBJECT_FILEMARK) {
            Fail(reply, FilemarkDetected(wanted - done));
            return;
        }
    }
}

void CVirtualDriveImpl::SpaceFilemarks(int32_t count, CVirtualReply& reply)
{
    const unsigned char* bytes;
    uint32_t length;
    if (count >= 0) {
        int32_t done = 0;
        while (done < count) {
            const CTapeMedium::EObject object = m_medium.ObjectAtPosition(bytes, length);
            if (object == CTapeMedium::OBJECT_END_OF_DATA) {
                Fail(reply, EndOfData(count - done));
                return;
            }
            m_medium.StepForward();
            done += object == CTapeMedium::OBJECT_FILEMARK;
        }
        return;
    }
    const int64_t wanted = -static_cast<int64_t>(count);
    int64_t done = 0;
    while (done < wanted) {
        const CTapeMedium::EObject object = m_medium.StepBackward();
        if (object == CTapeMedium::OBJECT_BEGINNING) {
            Fail(reply, BeginningOfMedium(wanted - done));
            return;
        }
        done += object == CTapeMedium::OBJECT_FILEMARK;
    }
}

// ------------------------------------------------------------------ data

CVirtualDriveImpl::EReadOutcome CVirtualDriveImpl::ReadObject(unsigned char* out, size_t room, uint32_t& recordLength)
{
    const uint64_t record = m_medium.Position();
    const unsigned char* bytes;
    uint32_t length;
    const CTapeMedium::EObject object = m_medium.ObjectAtPosition(bytes, length);
    if (object == CTapeMedium::OBJECT_END_OF_DATA) {
        return READ_END_OF_DATA;
    }
    m_medium.StepForward();
    if (object == CTapeMedium::OBJECT_FILEMARK) {
        return READ_FILEMARK;
    }
    if (Listed(m_faults.readErrorRecords, record)) {
        return READ_MEDIUM_ERROR;
    }
    const size_t copied = std::min<size_t>(length, room);
    std::memcpy(out, bytes, copied);
    if (copied > 0 && Listed(m_faults.badDataRecords, record)) {
        out[copied / 2] ^= 0xFF;
    }
    m_readCounters.values[COUNTER_BYTES_PROCESSED] += copied;
    recordLength = length;
    return READ_RECORD;
}

bool CVirtualDriveImpl::ReadFailed(EReadOutcome outcome, int64_t residue, CVirtualReply& reply)
{
    switch (outcome) {
    case READ_END_OF_DATA:
        Fail(reply, EndOfData(residue));
        return true;
    case READ_FILEMARK:
        Fail(reply, FilemarkDetected(residue));
        return true;
    case READ_MEDIUM_ERROR:
        Fail(reply, WithInformation(MakeSense(SENSE_KEY_MEDIUM_ERROR, ASC_UNRECOVERED_READ_ERROR), residue));
        return true;
    case READ_RECORD:
        break;
    }
    return false;
}

void CVirtualDriveImpl::Read6(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char* cdb = command.cdb;
    const bool fixed = (cdb[1] & 0x01) != 0;
    const bool suppressIncorrectLength = (cdb[1] & 0x02) != 0;
    const uint32_t count = GetBig24(cdb + 2);
    if (fixed && suppressIncorrectLength) {
        Fail(reply, InvalidFieldInCdb(1, 1));
        return;
    }
    if (fixed && m_mode.blockSize == 0) {
        Fail(reply, InvalidFieldInCdb(1, 0));
        return;
    }
    if (!MediumReady(reply)) {
        return;
    }
    const uint64_t needed = fixed ? uint64_t(count) * m_mode.blockSize : count;
    if (needed > command.dataInLength) {
        Fail(reply, InvalidFieldInCdb(2));
        return;
    }
    ChargeReadCounters();
    if (count == 0) {
        return;
    }

    if (!fixed) {
        uint32_t recordLength = 0;
        if (ReadFailed(ReadObject(command.dataIn, count, recordLength), count, reply))
            return;
        reply.transferred = static_cast<int>(std::min(recordLength, count));
        // The information field is the requested length minus the record
        // length: negative when the record was longer than asked for.
        const bool underlength = recordLength < count;
        if (recordLength != count && !(underlength && suppressIncorrectLength)) {
            Fail(reply, Condition(SENSE_FLAG_ILI, 0x00, 0x00, int64_t(count) - recordLength));
        }
        return;
    }

    const size_t blockSize = m_mode.blockSize;
    for (uint32_t done = 0; done < count; ++done) {
        const int64_t residue = count - done;
        uint32_t recordLength = 0;
        reply.transferred = static_cast<int>(done * blockSize);
        if (ReadFailed(ReadObject(command.dataIn + done * blockSize, blockSize, recordLength), residue, reply))
            return;
        if (recordLength != blockSize) {
            reply.transferred += static_cast<int>(std::min<size_t>(recordLength, blockSize));
            Fail(reply, Condition(SENSE_FLAG_ILI, 0x00, 0x00, residue));
            return;
        }
    }
    reply.transferred = static_cast<int>(needed);
}

void CVirtualDriveImpl::Write6(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char* cdb = command.cdb;
    const bool fixed = (cdb[1] & 0x01) != 0;
    const uint32_t count = GetBig24(cdb + 2);
    if (fixed && m_mode.blockSize == 0) {
        Fail(reply, InvalidFieldInCdb(1, 0));
        return;
    }
    if (!MediumReady(reply) || !CartridgeWritable(reply)) {
        return;
    }
    const uint64_t needed = fixed ? uint64_t(count) * m_mode.blockSize : count;
    if (needed > command.dataOutLength) {
        Fail(reply, InvalidFieldInCdb(2));
        return;
    }
    ChargeWriteCounters();
    if (count == 0) {
        return;
    }

    const uint32_t recordLength = fixed ? m_mode.blockSize : count;
    const uint32_t records = fixed ? count : 1;
    for (uint32_t done = 0; done < records; ++done) {
        // Residue: blocks not written in fixed mode, bytes in variable mode.
        const int64_t residue = fixed ? records - done : count;
        reply.transferred = static_cast<int>(size_t(done) * recordLength);
        if (Listed(m_faults.writeErrorRecords, m_medium.Position())) {
            m_medium.Truncate();
            Fail(reply, WithInformation(MakeSense(SENSE_KEY_MEDIUM_ERROR, ASC_WRITE_ERROR), residue));
            return;
        }
        if (!m_medium.WriteRecord(command.dataOut + size_t(done) * recordLength, recordLength)) {
            Fail(reply, Condition(SENSE_FLAG_EOM, 0x00, 0x02, residue));
            return;
        }
        m_writeCounters.values[COUNTER_BYTES_PROCESSED] += recordLength;
    }
    reply.transferred = static_cast<int>(needed);
}

void CVirtualDriveImpl::WriteFilemarks6(const CCommand& command, CVirtualReply& reply)
{
    if (command.cdb[1] & 0x02) {  // setmarks are not supported
        Fail(reply, InvalidFieldInCdb(1, 1));
        return;
    }
    if (!MediumReady(reply) || !CartridgeWritable(reply)) {
        return;
    }
    const uint32_t count = GetBig24(command.cdb + 2);
    for (uint32_t i = 0; i < count; ++i) {
        m_medium.WriteFilemark();
    }
}
