// Fixed-format (70h) sense data: the one place where the drive's sense bytes
// are laid out.
#ifndef VTAPE_SENSE_H
#define VTAPE_SENSE_H

#include <cstdint>

#include "ScsiData.h"
#include "VirtualDrive.h"

struct CSenseData {
    unsigned char key = 0;
    unsigned char asc = 0;
    unsigned char ascq = 0;
    unsigned char flags = 0;            // SENSE_FLAG_*
    bool informationValid = false;      // sets the VALID bit of byte 0
    int32_t information = 0;            // bytes 3-6
    unsigned char keySpecific[3] = {};  // bytes 15-17
};

CSenseData MakeSense(unsigned char key, unsigned char asc, unsigned char ascq);
inline CSenseData MakeSense(unsigned char key, CAdditionalSense additional)
{
    return MakeSense(key, additional.asc, additional.ascq);
}

// The same condition with the information field (residue) filled in.
CSenseData WithInformation(CSenseData sense, int64_t information);

// 05/24/00 pointing at a CDB byte (and bit, or -1 for the whole byte).
CSenseData InvalidFieldInCdb(int byteIndex, int bit = -1);

// 05/26/00 pointing at a byte of the parameter list.
CSenseData InvalidFieldInParameterList(int byteIndex, int bit = -1);

// Lays out 18 bytes of fixed-format sense data.
void BuildFixedSense(const CSenseData& sense, unsigned char* out);

// Turns `reply` into CHECK CONDITION carrying `sense`; the transferred count
// is left as it is.
void SetCheckCondition(CVirtualReply& reply, const CSenseData& sense);

#endif
