#include "ScsiData.h"

#include <algorithm>

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
    return (code.keyByte == SENSE_KEY_NOT_READY && code.asc == 0x3A && code.ascq == 0x03) ||
           (code.keyByte == SENSE_KEY_UNIT_ATTENTION && code.asc == 0x3F) ||
           (code.keyByte == SENSE_KEY_VENDOR_SPECIFIC && code.asc == 0x80);
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

unsigned char* AppendLogParameter(unsigned char* out, uint32_t code, unsigned char control, uint64_t value,
                                  int width)
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
