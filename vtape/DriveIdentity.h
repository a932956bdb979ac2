// What the drive says about itself: INQUIRY vendor, product and revision, its
// serial number and the texts of its firmware VPD pages (C0h, C1h). It starts
// as the model's identity and is state of the drive from then on: a firmware
// download changes the revision and the firmware texts, and INQUIRY reports
// the new ones.
#ifndef VTAPE_DRIVEIDENTITY_H
#define VTAPE_DRIVEIDENTITY_H

#include <cstddef>
#include <string>
#include <vector>

#include "Models.h"

// A text at a byte offset of a firmware VPD page.
struct CVpdField {
    size_t offset;
    std::string text;
};
typedef std::vector<CVpdField> CVpdFields;

class CDriveIdentity {
public:
    explicit CDriveIdentity(const CModelIdentity& seed);

    const std::string& Vendor() const { return m_vendor; }
    const std::string& Product() const { return m_product; }
    const std::string& Revision() const { return m_revision; }
    const std::string& Serial() const { return m_serial; }
    // The texts of firmware page C0h or C1h; no texts for any other page.
    const CVpdFields& FirmwarePage(unsigned char page) const;

    // The drive runs other firmware: INQUIRY reports `revision` and the
    // firmware pages carry the given texts from now on.
    void ChangeFirmware(const std::string& revision, const CVpdFields& pageC0, const CVpdFields& pageC1);

    // Writes `field` over what page C0h or C1h reports (an OEM build's mark).
    void OverlayFirmwareText(unsigned char page, const CVpdField& field);

private:
    std::string m_vendor;
    std::string m_product;
    std::string m_revision;
    std::string m_serial;
    CVpdFields m_pageC0;
    CVpdFields m_pageC1;
    CVpdFields m_noFields;
};

#endif
