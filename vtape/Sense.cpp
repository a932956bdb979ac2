#include "Sense.h"

#include <cstring>

namespace {

CSenseData IllegalField(CAdditionalSense additional, bool inCdb, int byteIndex, int bit)
{
    CSenseData sense = MakeSense(SENSE_KEY_ILLEGAL_REQUEST, additional);
    unsigned char flags = 0x80;  // SKSV
    if (inCdb) {
        flags |= 0x40;  // C/D: the error is in the CDB
    }
    if (bit >= 0 && bit <= 7) {
        flags |= 0x08 | static_cast<unsigned char>(bit);  // BPV + bit pointer
    }
    sense.keySpecific[0] = flags;
    sense.keySpecific[1] = static_cast<unsigned char>((byteIndex >> 8) & 0xFF);
    sense.keySpecific[2] = static_cast<unsigned char>(byteIndex & 0xFF);
    return sense;
}

}  // namespace

CSenseData MakeSense(unsigned char key, unsigned char asc, unsigned char ascq)
{
    CSenseData sense;
    sense.key = key;
    sense.asc = asc;
    sense.ascq = ascq;
    return sense;
}

CSenseData WithInformation(CSenseData sense, int64_t information)
{
    if (information > INT32_MAX) {
        information = INT32_MAX;
    } else if (information < INT32_MIN) {
        information = INT32_MIN;
    }
    sense.informationValid = true;
    sense.information = static_cast<int32_t>(information);
    return sense;
}

CSenseData InvalidFieldInCdb(int byteIndex, int bit)
{
    return IllegalField(ASC_INVALID_FIELD_IN_CDB, true, byteIndex, bit);
}

CSenseData InvalidFieldInParameterList(int byteIndex, int bit)
{
    return IllegalField(ASC_INVALID_FIELD_IN_PARAMETER_LIST, false, byteIndex, bit);
}

void BuildFixedSense(const CSenseData& sense, unsigned char* out)
{
    std::memset(out, 0, FIXED_SENSE_LENGTH);
    out[0] = static_cast<unsigned char>(0x70 | (sense.informationValid ? 0x80 : 0x00));
    out[2] = static_cast<unsigned char>((sense.key & 0x0F) | (sense.flags & 0xE0));
    const uint32_t information = static_cast<uint32_t>(sense.information);
    out[3] = static_cast<unsigned char>(information >> 24);
    out[4] = static_cast<unsigned char>(information >> 16);
    out[5] = static_cast<unsigned char>(information >> 8);
    out[6] = static_cast<unsigned char>(information);
    out[7] = FIXED_SENSE_LENGTH - 8;
    out[12] = sense.asc;
    out[13] = sense.ascq;
    out[15] = sense.keySpecific[0];
    out[16] = sense.keySpecific[1];
    out[17] = sense.keySpecific[2];
}

void SetCheckCondition(CVirtualReply& reply, const CSenseData& sense)
{
    reply.status = CHECK_CONDITION_STATUS;
    std::memset(reply.sense, 0, sizeof(reply.sense));
    BuildFixedSense(sense, reply.sense);
    reply.senseLength = FIXED_SENSE_LENGTH;
}
