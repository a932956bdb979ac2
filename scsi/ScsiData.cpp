#include "ScsiData.h"

#include <algorithm>
#include <cstring>

uint64_t GetBigN(const unsigned char* p, int count)
{
    if (count < 0 || count > 8)
        return 0;
    uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | p[i];
    return value;
}

void AddTo24(unsigned char& b2, unsigned char& b1, unsigned char& b0, uint32_t step)
{
    unsigned char bytes[3] = {b2, b1, b0};
    PutBig24(bytes, (GetBig24(bytes) + step) & 0xFFFFFF);
    b2 = bytes[0];
    b1 = bytes[1];
    b0 = bytes[2];
}

CSenseCode ReadSenseCode(const unsigned char* sense)
{
    return CSenseCode{sense[SENSE_KEY_BYTE], sense[SENSE_ASC_BYTE], sense[SENSE_ASCQ_BYTE]};
}

bool IsMediaPresentSense(const unsigned char* sense)
{
    const CSenseCode code = ReadSenseCode(sense);
    return (code.keyByte == SENSE_KEY_NOT_READY && HasAdditionalSense(sense, ASC_MEDIUM_NOT_PRESENT_LOADABLE)) ||
           (code.keyByte == SENSE_KEY_UNIT_ATTENTION && code.asc == ASC_OPERATING_CONDITIONS_CHANGED.asc) ||
           (code.keyByte == SENSE_KEY_VENDOR_SPECIFIC && code.asc == ASC_VENDOR_STATE.asc);
}

bool IsResetSense(const unsigned char* sense)
{
    const CSenseCode code = ReadSenseCode(sense);
    return code.keyByte == SENSE_KEY_UNIT_ATTENTION && code.asc == ASC_POWER_ON_OR_RESET.asc;
}

bool IsLostUnitSense(const unsigned char* sense)
{
    return sense[SENSE_ASC_BYTE] == ASC_LOGICAL_UNIT_COMMUNICATION_FAILURE.asc;
}

int CdbLengthOfGroup(unsigned char opcode)
{
    switch (opcode >> 5) {
    case 0:
        return 6;
    case 1:
    case 2:
        return 10;
    case 4:
        return 16;
    case 5:
        return 12;
    default:
        return 0;
    }
}

bool IsRepeatableCommand(const unsigned char* cdb, int cdbLength)
{
    if (cdb == nullptr || cdbLength <= 0)
        return false;
    switch (cdb[0]) {
    case OP_TEST_UNIT_READY:
    case OP_REQUEST_SENSE:
    case OP_READ_BLOCK_LIMITS:
    case OP_INQUIRY:
    case OP_MODE_SENSE6:
    case OP_RECEIVE_DIAGNOSTIC:
    case OP_READ_POSITION:
    case OP_READ_BUFFER:
    case OP_LOG_SENSE:
    case OP_MODE_SENSE10:
    case OP_REPORT_LUNS:
    // Registering, reserving and releasing again change nothing once done:
    // a reservation left by a lost session is released on a new one.
    case OP_PERSISTENT_RESERVE_OUT:
        return true;
    default:
        return false;
    }
}

bool IsIllegalRequestSense(const unsigned char* sense)
{
    return (sense[SENSE_KEY_BYTE] & 0x0F) == SENSE_KEY_ILLEGAL_REQUEST;
}

bool IsBecomingReadySense(const unsigned char* sense)
{
    return sense[SENSE_KEY_BYTE] == SENSE_KEY_NOT_READY && HasAdditionalSense(sense, ASC_BECOMING_READY);
}

namespace {

const unsigned char SENSE_RESPONSE_CODE_MASK = 0x7F;
const unsigned char SENSE_VALID = 0x80;
const unsigned char STREAM_FLAGS = 0xE0;  // filemark, EOM, ILI
const unsigned char BLOCK_ILI = 0x20;

// Descriptor types of descriptor-format sense.
const unsigned char DESCRIPTOR_INFORMATION = 0x00;
const unsigned char DESCRIPTOR_COMMAND_SPECIFIC = 0x01;
const unsigned char DESCRIPTOR_SENSE_KEY_SPECIFIC = 0x02;
const unsigned char DESCRIPTOR_FIELD_REPLACEABLE_UNIT = 0x03;
const unsigned char DESCRIPTOR_STREAM_COMMANDS = 0x04;
const unsigned char DESCRIPTOR_BLOCK_COMMANDS = 0x05;

// Fixed-format fields.
const int FIXED_INFORMATION = 3;
const int FIXED_ADDITIONAL_LENGTH = 7;
const int FIXED_COMMAND_SPECIFIC = 8;
const int FIXED_FIELD_REPLACEABLE_UNIT = 14;
const int FIXED_SENSE_KEY_SPECIFIC = 15;

// A 64-bit field that fits the 4 bytes of fixed format when read as a
// signed number (a residue may be negative).
bool FitsSigned32(uint64_t value)
{
    const uint64_t top = value >> 31;
    return top == 0 || top == (uint64_t(1) << 33) - 1;
}

void ConvertDescriptor(const unsigned char* d, int length, unsigned char* out)
{
    switch (d[0]) {
    case DESCRIPTOR_INFORMATION:
        if (length >= 12 && (d[2] & SENSE_VALID) != 0 && FitsSigned32(GetBigN(d + 4, 8))) {
            out[0] |= SENSE_VALID;
            PutBig32(out + FIXED_INFORMATION, static_cast<uint32_t>(GetBigN(d + 4, 8)));
        }
        break;
    case DESCRIPTOR_COMMAND_SPECIFIC:
        if (length >= 12)
            PutBig32(out + FIXED_COMMAND_SPECIFIC, static_cast<uint32_t>(GetBigN(d + 4, 8)));
        break;
    case DESCRIPTOR_SENSE_KEY_SPECIFIC:
        if (length >= 7)
            std::memcpy(out + FIXED_SENSE_KEY_SPECIFIC, d + 4, 3);
        break;
    case DESCRIPTOR_FIELD_REPLACEABLE_UNIT:
        if (length >= 4)
            out[FIXED_FIELD_REPLACEABLE_UNIT] = d[3];
        break;
    case DESCRIPTOR_STREAM_COMMANDS:
        if (length >= 4)
            out[SENSE_KEY_BYTE] |= d[3] & STREAM_FLAGS;
        break;
    case DESCRIPTOR_BLOCK_COMMANDS:
        if (length >= 4)
            out[SENSE_KEY_BYTE] |= d[3] & BLOCK_ILI;
        break;
    default:
        break;
    }
}

}  // namespace

int NormaliseSense(const unsigned char* raw, int rawLength, unsigned char* fixed, int fixedLength)
{
    if (fixed == nullptr || fixedLength <= 0)
        return 0;
    std::memset(fixed, 0, static_cast<size_t>(fixedLength));
    if (raw == nullptr || rawLength <= 0)
        return 0;
    const unsigned char code = raw[0] & SENSE_RESPONSE_CODE_MASK;
    if (code != SENSE_DESCRIPTOR_CURRENT && code != SENSE_DESCRIPTOR_DEFERRED) {
        const int length = std::min(rawLength, fixedLength);
        std::memcpy(fixed, raw, static_cast<size_t>(length));
        return length;
    }

    unsigned char out[FIXED_SENSE_LENGTH] = {};
    out[0] = code == SENSE_DESCRIPTOR_DEFERRED ? SENSE_FIXED_DEFERRED : SENSE_FIXED_CURRENT;
    out[FIXED_ADDITIONAL_LENGTH] = FIXED_SENSE_LENGTH - 8;
    if (rawLength > 1)
        out[SENSE_KEY_BYTE] = raw[1] & 0x0F;
    if (rawLength > 2)
        out[SENSE_ASC_BYTE] = raw[2];
    if (rawLength > 3)
        out[SENSE_ASCQ_BYTE] = raw[3];
    // Descriptors start at byte 8 and end where the additional length says,
    // or where the bytes received end, whichever comes first.
    const int end = rawLength > FIXED_ADDITIONAL_LENGTH ? std::min(rawLength, 8 + raw[FIXED_ADDITIONAL_LENGTH]) : 0;
    for (int at = 8; at + 2 <= end;) {
        const int length = 2 + raw[at + 1];
        ConvertDescriptor(raw + at, std::min(length, end - at), out);
        at += length;
    }
    const int length = std::min(FIXED_SENSE_LENGTH, fixedLength);
    std::memcpy(fixed, out, static_cast<size_t>(length));
    return length;
}

bool IsDeferredSense(const unsigned char* fixed)
{
    return (fixed[0] & SENSE_RESPONSE_CODE_MASK) == SENSE_FIXED_DEFERRED;
}

bool IsRecoveredSense(const unsigned char* fixed)
{
    return !IsDeferredSense(fixed) && fixed[SENSE_KEY_BYTE] == SENSE_KEY_RECOVERED_ERROR;
}

bool DoesPageExist(int page, const unsigned char* data, int length)
{
    if (data == nullptr || length <= MODE_HEADER_LENGTH)
        return false;
    const int limit = std::min(length, static_cast<int>(data[0]));
    if (limit <= MODE_HEADER_LENGTH)
        return false;
    int position = MODE_HEADER_LENGTH;
    while (true) {
        if (data[position] == page)
            return true;
        if (position + 1 >= length)
            return false;
        const int next = position + 2 + data[position + 1];
        if (next >= limit)
            return false;
        position = next;
    }
}

int ModeSelectList(unsigned char* data, int received)
{
    if (data == nullptr || received < MODE_HEADER_LENGTH)
        return 0;
    const int length = data[0] + 1;
    const int firstPage = MODE_HEADER_LENGTH + data[3];
    if (length > received || firstPage > length)
        return 0;
    for (int position = firstPage; position < length; position += 2 + data[position + 1]) {
        if (position + 2 > length || position + 2 + data[position + 1] > length)
            return 0;
    }
    for (int position = firstPage; position < length; position += 2 + data[position + 1])
        data[position] &= static_cast<unsigned char>(~MODE_PAGE_SAVEABLE);
    data[0] = 0;
    data[1] = 0;
    data[2] &= static_cast<unsigned char>(~MODE_WRITE_PROTECT);
    return length;
}

unsigned char* AppendLogParameter(unsigned char* out, uint32_t code, unsigned char control, uint64_t value, int width)
{
    PutBig16(out, code);
    out[2] = control;
    out[3] = static_cast<unsigned char>(width);
    if (width == 8)
        PutBig64(out + LOG_PARAMETER_HEADER_LENGTH, value);
    else
        PutBig32(out + LOG_PARAMETER_HEADER_LENGTH, static_cast<uint32_t>(std::min<uint64_t>(value, 0xFFFFFFFFu)));
    return out + LOG_PARAMETER_HEADER_LENGTH + width;
}
