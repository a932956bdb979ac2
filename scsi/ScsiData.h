// SCSI data as drives lay it out: byte order, fixed-format sense fields, mode
// parameter data and log pages. Pure functions over byte buffers, shared by
// the command layer, the diagnostics and the virtual drive, so that each rule
// is known in one place. None of them reads outside the bytes it is given.
#ifndef TAPEDIAG_SCSIDATA_H
#define TAPEDIAG_SCSIDATA_H

#include <cstdint>

#include "ScsiCodes.h"

// ------------------------------------------------------------ byte order

inline uint32_t GetBig16(const unsigned char* p)
{
    return (uint32_t(p[0]) << 8) | p[1];
}
inline uint32_t GetBig24(const unsigned char* p)
{
    return (uint32_t(p[0]) << 16) | GetBig16(p + 1);
}
inline uint32_t GetBig32(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | GetBig24(p + 1);
}
// The `count` bytes (0 to 8) as one big-endian number; 0 for any other count.
uint64_t GetBigN(const unsigned char* p, int count);
// Least significant byte first, as a few vendor buffers hold their lengths.
inline uint32_t GetLittle32(const unsigned char* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void PutBig16(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}
inline void PutBig24(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 16);
    PutBig16(p + 1, v);
}
inline void PutBig32(unsigned char* p, uint32_t v)
{
    PutBig16(p, v >> 16);
    PutBig16(p + 2, v);
}
inline void PutBig64(unsigned char* p, uint64_t v)
{
    PutBig32(p, static_cast<uint32_t>(v >> 32));
    PutBig32(p + 4, static_cast<uint32_t>(v));
}
inline void PutLittle32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Adds `step` to the 24-bit big-endian number b2 b1 b0 (a buffer offset of
// a CDB), keeping its low 24 bits.
void AddTo24(unsigned char& b2, unsigned char& b1, unsigned char& b0, uint32_t step);

// The buffer offset of WRITE BUFFER is 24 bits: data sent past this offset
// would wrap to offset 0 and overwrite what was sent there first.
const uint32_t BUFFER_OFFSET_LIMIT = 0x1000000;
// Whether `length` bytes sent from buffer offset `base` end within the limit.
inline bool FitsBufferOffset(uint32_t base, uint64_t length)
{
    return base <= BUFFER_OFFSET_LIMIT && length <= BUFFER_OFFSET_LIMIT - base;
}

// ------------------------------------------------------ fixed-format sense

const int SENSE_KEY_BYTE = 2;  // the sense key with the filemark, EOM and ILI flags
const int SENSE_ASC_BYTE = 12;
const int SENSE_ASCQ_BYTE = 13;
// Length of fixed-format sense with the standard fields and no more.
const int FIXED_SENSE_LENGTH = 18;

// Flags of byte 2.
const unsigned char SENSE_FLAG_FILEMARK = 0x80;
const unsigned char SENSE_FLAG_EOM = 0x40;
const unsigned char SENSE_FLAG_ILI = 0x20;

// Byte 2, 12 and 13 of fixed-format sense data. Byte 2 is kept whole: the
// diagnostics compare it with its flags.
struct CSenseCode {
    unsigned char keyByte;
    unsigned char asc;
    unsigned char ascq;
};
CSenseCode ReadSenseCode(const unsigned char* sense);
// Whether bytes 12 and 13 of fixed-format sense are that ASC and ASCQ.
inline bool HasAdditionalSense(const unsigned char* sense, CAdditionalSense additional)
{
    return sense[SENSE_ASC_BYTE] == additional.asc && sense[SENSE_ASCQ_BYTE] == additional.ascq;
}

// What a drive answers a unit-ready test with while a cartridge is still in
// it, so that its arm must not be moved: 02/3A/03 (medium not present, but
// loadable), 06/3F (operating conditions changed) or 09/80 (vendor state).
// Byte 2 is compared whole.
bool IsMediaPresentSense(const unsigned char* sense);

// Whether the sense reports that the drive was reset: UNIT ATTENTION (no
// flag) with ASC 29h (power on, reset or bus device reset), any ASCQ.
bool IsResetSense(const unsigned char* sense);

// Whether the sense reports that the drive lost its logical unit under the
// command: ASC 08h (logical unit communication failure, time-out or parity
// error), any key and ASCQ. A target whose device went away answers so.
bool IsLostUnitSense(const unsigned char* sense);

// Whether the drive refused the command as invalid (ILLEGAL REQUEST, any
// flag): it refuses the same command the same way every time.
bool IsIllegalRequestSense(const unsigned char* sense);

// Whether the drive is on its way to ready (02/04/01, as while it loads a
// cartridge or starts), and will be ready in its own time.
bool IsBecomingReadySense(const unsigned char* sense);

// ------------------------------------------------------------ commands

// CDB length of the operation code's group: 6 bytes for group 0, 10 for
// groups 1 and 2, 16 for group 4, 12 for group 5; 0 for the reserved and
// vendor-specific groups, whose length the code does not tell.
int CdbLengthOfGroup(unsigned char opcode);

// Whether the command leaves the medium and the position as they were, so
// that it may be sent again when its first answer is lost or is a reset. A
// write, filemark, space, rewind, load or unload may already have run:
// sending it again could overwrite data.
bool IsRepeatableCommand(const unsigned char* cdb, int cdbLength);

// ------------------------------------------------------ sense normalisation

// Response codes of byte 0 (bit 7, VALID, masked off): current or deferred
// error, in fixed or descriptor format.
const unsigned char SENSE_FIXED_CURRENT = 0x70;
const unsigned char SENSE_FIXED_DEFERRED = 0x71;
const unsigned char SENSE_DESCRIPTOR_CURRENT = 0x72;
const unsigned char SENSE_DESCRIPTOR_DEFERRED = 0x73;

// Turns sense data as a device returned it into fixed format in `fixed`
// (`fixedLength` bytes, zero-filled first), so that every reader finds the
// key with the filemark, EOM and ILI flags in byte 2, ASC and ASCQ in bytes
// 12 and 13. Descriptor format (72h/73h) becomes 70h/71h: key, ASC, ASCQ, the
// information field (VALID only when it fits 32 bits), command-specific
// information, field replaceable unit, sense-key-specific bytes and the
// stream-commands flags. Anything else is copied as it came. Returns the
// count of bytes written that carry meaning (0 when there was no sense).
int NormaliseSense(const unsigned char* raw, int rawLength, unsigned char* fixed, int fixedLength);

// Whether fixed-format sense reports a deferred error: an earlier command,
// already reported as completed, failed, and the command that collected the
// report was not performed.
bool IsDeferredSense(const unsigned char* fixed);

// Whether fixed-format sense reports a current RECOVERED ERROR with no
// filemark, EOM or ILI flag: the command completed, the drive recovered.
bool IsRecoveredSense(const unsigned char* fixed);

// ------------------------------------------------------ mode parameter data

// MODE SENSE (6) data without block descriptors: a 4-byte header, then the
// pages from byte 4.
const int MODE_HEADER_LENGTH = 4;

// Bits of the mode data that MODE SELECT (6) takes otherwise than MODE SENSE
// (6) gives them: WP in the header's device-specific byte (byte 2), and PS
// in each page's code byte.
const unsigned char MODE_WRITE_PROTECT = 0x80;
const unsigned char MODE_PAGE_SAVEABLE = 0x80;

// Turns MODE SENSE (6) data, of which `received` bytes arrived, into the
// parameter list of a MODE SELECT (6) that sends it back, in place: the
// header's mode data length (reserved) and medium type set to 0, WP cleared
// (buffered mode and speed stay as read), and PS cleared in every page. The
// list is everything the drive sent: the header, the block descriptors and
// the pages, mode data length + 1 bytes. Returns its length; 0 when the data
// claims more than was received (a cut answer is never sent back) or its
// block descriptors or pages overrun it.
int ModeSelectList(unsigned char* data, int received);

// Whether the mode data holds the page whose code byte (saveable bit
// included) equals `page`. Walks from byte 4 within the smaller of `length`
// and the mode data length of byte 0; false for a length below 5.
bool DoesPageExist(int page, const unsigned char* data, int length);

// ----------------------------------------------------------------- log pages

// A log page: page code, subpage, 16-bit page length, then parameters, each
// a 2-byte code, a control byte, a length byte and that many value bytes.
const int LOG_HEADER_LENGTH = 4;
const int LOG_PARAMETER_HEADER_LENGTH = 4;

// Bytes 2 and 3 of a log page: the length of what follows the header.
inline uint32_t LogPageLength(const unsigned char* page)
{
    return GetBig16(page + 2);
}
inline uint32_t LogParameterCode(const unsigned char* parameter)
{
    return GetBig16(parameter);
}
// Where the parameter after the one at `offset` starts.
inline int NextLogParameter(const unsigned char* page, int offset)
{
    return offset + LOG_PARAMETER_HEADER_LENGTH + page[offset + 3];
}
// The value of a parameter of 1 to 8 bytes; 0 for any other length.
inline uint64_t LogParameterValue(const unsigned char* parameter)
{
    return GetBigN(parameter + LOG_PARAMETER_HEADER_LENGTH, parameter[3]);
}
// Appends one parameter with a `width`-byte value (4 or 8; a 4-byte value
// saturates at FFFFFFFFh, as counters do) and returns where the next one goes.
unsigned char* AppendLogParameter(unsigned char* out, uint32_t code, unsigned char control, uint64_t value, int width);

#endif
