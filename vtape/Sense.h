// Fixed-format (70h) sense data: the one place where the drive's sense bytes
// are laid out.
#ifndef VTAPE_SENSE_H
#define VTAPE_SENSE_H

#include <cstdint>

#include "VirtualDrive.h"

const unsigned char SENSE_NO_SENSE = 0x00;
const unsigned char SENSE_NOT_READY = 0x02;
const unsigned char SENSE_MEDIUM_ERROR = 0x03;
const unsigned char SENSE_HARDWARE_ERROR = 0x04;
const unsigned char SENSE_ILLEGAL_REQUEST = 0x05;
const unsigned char SENSE_UNIT_ATTENTION = 0x06;
const unsigned char SENSE_DATA_PROTECT = 0x07;
const unsigned char SENSE_BLANK_CHECK = 0x08;
const unsigned char SENSE_ABORTED_COMMAND = 0x0B;

// Flags of sense byte 2.
const unsigned char SENSE_FLAG_FILEMARK = 0x80;
const unsigned char SENSE_FLAG_EOM = 0x40;
const unsigned char SENSE_FLAG_ILI = 0x20;

const int FIXED_SENSE_LENGTH = 18;

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
