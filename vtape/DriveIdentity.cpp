#include "DriveIdentity.h"

namespace {

CVpdFields FieldsOf(const CVpdText (&texts)[VPD_TEXTS_PER_PAGE])
{
    CVpdFields fields;
    for (const CVpdText& text : texts) {
        if (text.text != nullptr) {
            fields.push_back({static_cast<size_t>(text.offset), text.text});
        }
    }
    return fields;
}

}  // namespace

CDriveIdentity::CDriveIdentity(const CModelIdentity& seed)
    : m_vendor(seed.vendor), m_product(seed.product), m_revision(seed.revision), m_serial(seed.serial),
      m_pageC0(FieldsOf(seed.pageC0)), m_pageC1(FieldsOf(seed.pageC1))
{}

const CVpdFields& CDriveIdentity::FirmwarePage(unsigned char page) const
{
    switch (page) {
    case 0xC0:
        return m_pageC0;
    case 0xC1:
        return m_pageC1;
    default:
        return m_noFields;
    }
}

void CDriveIdentity::ChangeFirmware(const std::string& revision, const CVpdFields& pageC0, const CVpdFields& pageC1)
{
    m_revision = revision;
    m_pageC0 = pageC0;
    m_pageC1 = pageC1;
}

void CDriveIdentity::OverlayFirmwareText(unsigned char page, const CVpdField& field)
{
    // Texts are laid out in order, so the last one written wins.
    if (page == 0xC0) {
        m_pageC0.push_back(field);
    } else if (page == 0xC1) {
        m_pageC1.push_back(field);
    }
}
