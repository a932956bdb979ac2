// The drive models the virtual drive can be, as constant data: identity,
// family, capabilities and the text of the vendor firmware pages.
#ifndef VTAPE_MODELS_H
#define VTAPE_MODELS_H

#include <cstddef>
#include <string>

enum EDriveFamily { FAMILY_TRAVAN, FAMILY_DAT, FAMILY_ULTRIUM, FAMILY_CHANGER };

// Text placed at a byte offset of a vendor firmware VPD page.
struct CVpdText {
    int offset;              // 0: unused entry
    const char* text;
};

const int VPD_TEXTS_PER_PAGE = 2;

struct CDriveModel {
    const char* name;            // name in the device text, lower case
    const char* vendor;          // INQUIRY bytes 8-15
    const char* product;         // INQUIRY bytes 16-31
    const char* revision;        // INQUIRY bytes 32-35
    unsigned char deviceType;    // INQUIRY byte 0 (01h tape, 08h medium changer)
    unsigned char removable;     // INQUIRY byte 1
    EDriveFamily family;
    const char* description;     // one line for the catalogue
    const char* serial;          // null: the drive has no VPD pages
    bool compression;
    bool retension;
    unsigned char densityCode;   // block descriptor density
    bool firmwarePages;          // VPD C0h and C1h present
    CVpdText pageC0[VPD_TEXTS_PER_PAGE];
    CVpdText pageC1[VPD_TEXTS_PER_PAGE];
};

// The whole model table, in catalogue order.
const CDriveModel* DriveModels(size_t& count);

// The model called `name` (exact, lower case) or null.
const CDriveModel* FindDriveModel(const std::string& name);

#endif
