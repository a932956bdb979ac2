// The drive models the virtual drive can be, as constant data: the identity a
// drive starts with, its capabilities, and which VPD, mode and log pages it
// answers. The code that serves a page looks its code up in the model's list
// and builds the page by code; it never asks which family a model belongs to.
#ifndef VTAPE_MODELS_H
#define VTAPE_MODELS_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "ScsiCodes.h"

// INQUIRY byte 0: the peripheral device type.

// A set of one-byte codes (page codes, parameter codes), written in the model
// table as a list. Drives report pages in ascending order of code, so a set
// says all a model needs to say.
class CCodeSet {
public:
    constexpr CCodeSet() = default;
    constexpr CCodeSet(std::initializer_list<unsigned char> codes)
    {
        for (unsigned char code : codes) {
            m_bits[code / 64] |= uint64_t(1) << (code % 64);
        }
    }

    constexpr bool Has(unsigned code) const { return code < 256 && ((m_bits[code / 64] >> (code % 64)) & 1) != 0; }
    constexpr bool Empty() const { return (m_bits[0] | m_bits[1] | m_bits[2] | m_bits[3]) == 0; }
    void Add(unsigned char code) { m_bits[code / 64] |= uint64_t(1) << (code % 64); }

    // Writes the codes to `out` (room for 256) in ascending order; returns
    // how many there are.
    size_t CopyTo(unsigned char* out) const
    {
        size_t count = 0;
        for (unsigned code = 0; code < 256; ++code) {
            if (Has(code)) {
                out[count++] = static_cast<unsigned char>(code);
            }
        }
        return count;
    }

private:
    uint64_t m_bits[4] = {};
};

// Text placed at a byte offset of a vendor firmware VPD page.
struct CVpdText {
    int offset;  // 0: unused entry
    const char* text;
};

const int VPD_TEXTS_PER_PAGE = 2;

// The identity a drive of the model has at power-on. The drive copies it
// into its own state (CDriveIdentity), where a firmware download can change
// the revision and the firmware page texts.
struct CModelIdentity {
    const char* vendor;    // INQUIRY bytes 8-15
    const char* product;   // INQUIRY bytes 16-31
    const char* revision;  // INQUIRY bytes 32-35
    const char* serial;    // VPD page 80h
    CVpdText pageC0[VPD_TEXTS_PER_PAGE];
    CVpdText pageC1[VPD_TEXTS_PER_PAGE];
};

// How a model lays out its error counter log pages (02h and 03h):
// parameters 0000h-0006h, each with a 4-byte value unless it is listed as
// wide (8 bytes), then on some models a vendor error count, parameter 8008h.
struct CCounterLayout {
    CCodeSet wideParameters;
    bool vendorParameter;
};

// A buffer that READ BUFFER (3Ch) reads: its id (CDB byte 2), the mode it
// is read in (CDB byte 1) and its length. Its bytes are made by the drive
// from the id and the offset alone (ReadBuffer.cpp), so a capture can be
// checked byte for byte.
struct CDriveBuffer {
    unsigned char id;  // length 0: unused entry
    unsigned char mode;
    uint32_t length;
    bool needsCartridge;  // cartridge memory: read from the loaded cartridge
};

const int DRIVE_BUFFERS = 3;

// How a model takes new firmware: WRITE BUFFER download microcode (mode
// 04h) into its microcode buffer, then download and save (mode 05h). The
// image format is in vtape/README.md ("Firmware images").
struct CMicrocodeData {
    const char* family;     // the family an image must name; null: no download
    uint32_t bufferOffset;  // buffer offset at which an image starts
    uint32_t capacity;      // the largest image the buffer holds, bytes
    CVpdText oemMark;       // written over page C0h by the `oem` fault
};

struct CDriveModel {
    const char* name;         // name in the device text, lower case
    const char* description;  // one line for the catalogue
    CModelIdentity identity;
    unsigned char deviceType;  // INQUIRY byte 0: DEVICE_TYPE_*
    unsigned char removable;   // INQUIRY byte 1
    bool compression;
    bool retension;
    unsigned char densityCode;  // block descriptor density

    // The pages the model answers. A listed code needs a builder: VPD pages
    // in SpcCommands.cpp, mode pages in ModePages.cpp, log pages in
    // LogPages.cpp. MODE SENSE pages 00h (header and block descriptor only)
    // and 3Fh (all pages) need no entry.
    CCodeSet vpdPages;  // empty: INQUIRY with EVPD=1 is refused
    CCodeSet modePages;
    CCodeSet logPages;
    CCounterLayout counters;

    // Whatever else one model has and another lacks is added here as data
    // the same way, and served by a handler that looks it up.

    // Buffers READ BUFFER reads (trace 07h, cartridge memory 54h, EEPROM
    // 55h); none on most models.
    CDriveBuffer buffers[DRIVE_BUFFERS] = {};
    // Vendor operation codes the model answers, each served by the handler
    // of VendorCommands.cpp for that code (06h: park or unpark the arm).
    CCodeSet vendorCommands = {};
    // Speed codes MODE SELECT may set in the mode header (device-specific
    // byte, bits 0-3); code 0 (the drive chooses) is always taken.
    CCodeSet speedCodes = {};
    // How the model takes new firmware with WRITE BUFFER; none when left out.
    CMicrocodeData microcode = {nullptr, 0, 0, {}};
};

// The whole model table, in catalogue order.
const CDriveModel* DriveModels(size_t& count);

// The model called `name` (exact, lower case) or null.
const CDriveModel* FindDriveModel(const std::string& name);

#endif
